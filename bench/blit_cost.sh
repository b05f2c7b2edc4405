#!/bin/sh
# Instructions per blit of a 32 x 32 sprite, counted by callgrind: the whole call through DRAWTO
# and through vox_GfxPut, the row loop alone, and the difference, the work around the loop. One
# line per loop set and mode. Usage: bench/blit_cost.sh [path to kastrel_blit_cost]
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
  BEGIN { split("plain SSE2 AVX AVX2 AVX-512", names, " ") }
  { split($1, w, " "); n[w[1] " " w[2]] = 1; count[w[1] " " w[2] " " w[3]] = $2 / calls }
  END {
    printf "A 32x32 sprite onto a bitmap, instructions per call (callgrind, %d calls):\n", calls
    printf "%-14s %8s %8s %8s %14s %14s\n", "set, mode", "DRAWTO", "GfxPut", "rows",
      "around, DRAWTO", "around, GfxPut"
    for (i = 1; i <= 5; ++i) for (m = 1; m <= 2; ++m) {
      k = names[i] " " (m == 1 ? "ALPHA" : "TRANS")
      if (!(k in n)) continue
      d = count[k " drawto"]; p = count[k " put"]; r = count[k " rows"]
      printf "%-14s %8.0f %8.0f %8.0f %14.0f %14.0f\n", k, d, p, r, d - r, p - r
    }
  }'
