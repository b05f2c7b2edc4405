#!/usr/bin/env bash
# Installs a built engine into a temporary prefix and fails when a header lands in
# include/kastrel/ as if it were public: a game's headers are kastrel/kastrel.h,
# kastrel/boolean.h and those kastrel.h includes; the engine's own headers are either not
# installed or kept under a detail/ folder. Each offender is named.
# Usage: tools/check-installed-headers.sh BUILD_DIR
set -euo pipefail
if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
  echo "usage: $0 BUILD_DIR (a CMake build of the engine, its library built)" >&2
  exit 2
fi
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
# The top folder's install rules only (headers, library, CMake package): the games and tools in
# sub-folders need not be built. It copies files; a stuck install fails rather than hangs.
if ! timeout 120 cmake -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LOCAL_ONLY=ON \
       -P "$build/cmake_install.cmake" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "check-installed-headers: installing $build failed (is the engine library built?)" >&2
  exit 1
fi
include=$prefix/include
if [ ! -f "$include/kastrel/kastrel.h" ]; then
  echo "check-installed-headers: the install put no kastrel/kastrel.h under $include" >&2
  exit 1
fi
public=$(printf '%s\n' kastrel/kastrel.h kastrel/boolean.h
         sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\(kastrel/[^>"]*\)[>"].*|\1|p' \
           "$include/kastrel/kastrel.h")
installed=$(cd "$include" && find kastrel -type f -name '*.h' | LC_ALL=C sort)
bad=0 total=0
for header in $installed; do
  total=$((total + 1))
  if grep -qxF "$header" <<<"$public"; then continue; fi
  case "/$header" in */detail/*) continue ;; esac
  echo "installed as public but not included by kastrel.h: include/$header" >&2
  bad=$((bad + 1))
done
for header in $public; do
  if [ ! -f "$include/$header" ]; then
    echo "kastrel.h includes $header, which is not installed" >&2
    bad=$((bad + 1))
  fi
done
if [ "$bad" -ne 0 ]; then
  echo "check-installed-headers: $bad of $total installed headers are wrong (move internal ones under a detail/ folder or stop installing them)" >&2
  exit 1
fi
echo "check-installed-headers: $total installed headers, each public or under detail/"
