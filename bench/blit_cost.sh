#!/bin/sh
# Instructions per DRAWTO call of a 32 x 32 sprite, counted by callgrind: the whole call, the
# row loop alone, and the difference, the work before (and after) the loop. One line per loop
# set and mode. Usage: bench/blit_cost.sh [path to kastrel_blit_cost]
set -eu
program=${1:-build/bench/bench/kastrel_blit_cost}
if ! command -v valgrind >/dev/null 2>&1; then
  echo "blit cost: valgrind is not installed; skipped"
  exit 0
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out/c.%p" "$program" \
  >"$out/log" 2>&1 || { cat "$out/log"; exit 1; }
calls=$(sed -n 's/^\([0-9]*\) calls per batch$/\1/p' "$out/log")
# Each dump names its batch ("SSE2 ALPHA drawto") and gives its total instructions.
for f in "$out"/c.*.*; do
  printf '%s\t%s\n' "$(sed -n 's/^desc: Trigger: Client Request: //p' "$f")" \
    "$(sed -n 's/^totals: //p' "$f")"
done | awk -F'\t' -v calls="$calls" '
  { split($1, w, " "); key = w[1] " " w[2]; n[key] = 1; order[key] = w[1] " " w[2]
    if (w[3] == "drawto") drawto[key] = $2 / calls; else rows[key] = $2 / calls }
  END {
    printf "DRAWTO of a 32x32 sprite, instructions per call (callgrind, %d calls):\n", calls
    printf "%-14s %8s %8s %12s\n", "set, mode", "call", "rows", "around rows"
    for (k in n) printf "%-14s %8.0f %8.0f %12.0f\n", k, drawto[k], rows[k], drawto[k] - rows[k]
  }' | { IFS= read -r h1; IFS= read -r h2; echo "$h1"; echo "$h2"; sort -t' ' -k1,1 -s; }
