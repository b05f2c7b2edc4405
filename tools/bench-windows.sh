#!/usr/bin/env bash
# The blit rows of the benchmarks on one machine, built for Linux and for Windows (run under
# Wine), side by side: each row's processor time in each build and how far the Windows time is
# from the Linux one. Wine adds nothing to pure computation, so a gap over 10 % means the Windows
# build lost something (its vector loops, say). Processor time, not the clock's: on a shared
# machine the clock also counts other programs' turns on the cores (Wine's own helpers among
# them when they start), which made the two builds' clock times differ by up to 2x in rows whose
# loops are the same vector instructions in both. Each build's ratio to its own memcpy is shown
# too, but not judged: the two C libraries' memcpy differ, MinGW's being slower on short rows.
# KASTREL_BENCH_ROUNDS sets the number of rounds (3).
#   tools/bench-windows.sh LINUX_BLIT_ROWS WINDOWS_BLIT_ROWS_EXE
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: tools/bench-windows.sh LINUX_PROGRAM WINDOWS_PROGRAM" >&2; exit 2; }
export WINEPREFIX=${KASTREL_WINEPREFIX:-$HOME/.cache/kastrel/wine} WINEDEBUG=-all
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kastrel-bench-windows.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
args=(--benchmark_min_time=0.2 --benchmark_repetitions=3 --benchmark_color=false)
rounds=${KASTREL_BENCH_ROUNDS:-3}
# Wine's prefix and helper processes started and settled before anything is timed.
# Each run bounded (a hung Wine must not hang the run), ended by timeout by its id.
timeout -k 5 300 wine "$2" --benchmark_filter='^memcpy 640x480$' --benchmark_min_time=0.01 >/dev/null 2>&1
# Taken in turns, round after round, so a change in the machine's load falls on both builds alike.
files=()
for ((r = 1; r <= rounds; r++)); do
  timeout -k 5 600 "$1" "${args[@]}" >"$tmp/linux.$r.txt" 2>/dev/null
  timeout -k 5 600 wine "$2" "${args[@]}" 2>/dev/null | tr -d '\r' >"$tmp/windows.$r.txt"
  files+=("$tmp/linux.$r.txt" "$tmp/windows.$r.txt")
done
# Judged on each row's least processor time over every repetition of every round: other programs
# and the machine's own state only ever add time to a computation, so the least is the reading
# nearest its own cost (medians of single runs moved by up to 30 % between runs on a shared VM).
# The medians' gap is shown beside it.
awk -v rounds="$rounds" '
  FNR == 1 { file++; b = (file - 1) % 2 + 1 }
  function name() { row = $2; for (i = 3; i < NF; i++) row = row " " $i; return row }
  $1 == "ratio" { ratio[b, name()] = $NF }
  $1 == "cpu" { row = name(); median[b, row] += $NF / rounds; if (file == 1) order[++rows] = row }
  $1 == "best" { row = name(); if (!((b, row) in best) || $NF < best[b, row]) best[b, row] = $NF }
  # The memcpy rows are what the others are measured against: they have no ratio of their own.
  function shown(f, row) { return (f, row) in ratio ? sprintf("%9.3f", ratio[f, row]) : sprintf("%9s", "-") }
  END {
    printf "%-28s %11s %11s %8s %8s %9s %9s\n", "row", "Linux cpu", "Windows cpu", "gap",
           "medians", "L/memcpy", "W/memcpy"
    over = 0
    for (i = 1; i <= rows; i++) {
      row = order[i]
      if (!((2, row) in best)) { printf "%-28s %11s %11s\n", row, best[1, row], "missing"; over++; continue }
      gap = (best[2, row] / best[1, row] - 1) * 100
      mgap = (median[2, row] / median[1, row] - 1) * 100
      flag = (gap > 10 || gap < -10) ? "  over 10 %" : ""
      if (flag != "") over++
      printf "%-28s %11.0f %11.0f %+7.1f%% %+7.1f%% %s %s%s\n", row, best[1, row],
             best[2, row], gap, mgap, shown(1, row), shown(2, row), flag
    }
    printf "%d of %d rows more than 10 %% apart in processor time (%d rounds)\n", over, rows, rounds
  }' "${files[@]}"
