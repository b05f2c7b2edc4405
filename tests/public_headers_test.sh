#!/usr/bin/env bash
# Every header installed for games compiles alone, with only the other installed headers beside
# it, and includes no SDL header: a game needs no SDL of its own to include the engine.
# Usage: tests/public_headers_test.sh COMPILER SOURCE_DIR HEADER...
set -euo pipefail
compiler=$1 source_dir=$2
shift 2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for header in "$@"; do
  mkdir -p "$stage/$(dirname "$header")"
  cp "$source_dir/$header" "$stage/$header"
done
failures=0
for header in "$@"; do
  printf '#include <%s>\n' "$header" >"$stage/alone.cpp"
  status=0
  out=$(timeout 120 "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -H -I"$stage" \
        "$stage/alone.cpp" 2>&1) || status=$?
  if [[ $status -ne 0 ]]; then
    echo "FAIL: $header does not compile alone:"
    grep -v '^\.' <<<"$out" | head -5
    failures=$((failures + 1))
  elif grep -qE '^\.+ .*/SDL2?/' <<<"$out"; then
    echo "FAIL: $header includes SDL: $(grep -E '^\.+ .*/SDL2?/' <<<"$out" | head -1)"
    failures=$((failures + 1))
  fi
done
[[ $failures -eq 0 ]] && echo "public_headers_test: $# headers, each compiles alone, none includes SDL"
exit $((failures > 0))
