#!/usr/bin/env bash
# Soak run of the demonstration game: random pointer, button, wheel and key input from xdotool
# for a while in a private Xvfb, the game's resident memory sampled all along; then Escape,
# which must end the game with its normal status 1. Not part of `make test`.
#
# Usage: tools/soak-demo.sh [BUILD_DIR] [SECONDS]   (defaults: build/release, 600)
# Prints the RSS samples' figures; fails (status 1) when the game dies early, ends with another
# status than 1, or its RSS after the first minute grows by more than SOAK_RSS_GROWTH_KB
# (default 4096).
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$source_dir/build/release}" && pwd)
duration=${2:-600}
allowed_growth=${SOAK_RSS_GROWTH_KB:-4096}
bin=$build/demo/kastrel-demo
say() { echo "soak-demo: $*" >&2; }
[[ -x $bin ]] || { say "$bin is not built (make demo, or cmake --build $build)"; exit 2; }

tmp=$(mktemp -d)
xvfb_pid= game_pid=
cleanup() {
  [[ -n $game_pid ]] && kill -KILL "$game_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill -TERM "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 200); do grep -q '^[0-9]' "$tmp/display" && break; sleep 0.1; done
export DISPLAY=:$(tr -dc 0-9 <"$tmp/display")
[[ $DISPLAY != : ]] || { say "Xvfb did not start"; cat "$tmp/xvfb.log" >&2; exit 2; }

(cd "$source_dir/demo" && exec "$bin") >"$tmp/game.log" 2>&1 &
game_pid=$!
window=
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name '^kastrel-demo$' 2>/dev/null | head -n 1) || true
  [[ -n $window ]] && break
  sleep 0.1
done
[[ -n $window ]] || { say "the game shows no window"; cat "$tmp/game.log" >&2; exit 1; }

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$game_pid/status" 2>/dev/null; }
keys=(a s d space Return Left Right Up Down Tab F1 shift+x ctrl+c alt+Return BackSpace 1 2)
start=$SECONDS next_sample=0 actions=0 held=0
samples=()
while ((SECONDS - start < duration)); do
  kill -0 "$game_pid" 2>/dev/null || { say "the game died after $((SECONDS - start)) s"; break; }
  if ((SECONDS - start >= next_sample)); then
    samples+=("$((SECONDS - start)):$(rss)")
    next_sample=$((next_sample + 10))
  fi
  roll=$((RANDOM % 100))
  if ((roll < 55)); then
    xdotool mousemove --window "$window" $((RANDOM % 700 - 30)) $((RANDOM % 540 - 30))
  elif ((roll < 70)); then
    if ((held)); then xdotool mouseup 1; held=0; else xdotool mousedown 1; held=1; fi
  elif ((roll < 80)); then
    xdotool click $((RANDOM % 5 + 1))
  else
    xdotool key --clearmodifiers "${keys[RANDOM % ${#keys[@]}]}"
  fi >/dev/null 2>&1 || true
  actions=$((actions + 1))
  ((RANDOM % 4)) || sleep 0.0$((RANDOM % 10))
done
samples+=("$((SECONDS - start)):$(rss)")

status=0
if kill -0 "$game_pid" 2>/dev/null; then
  ((held)) && xdotool mouseup 1
  xdotool key Escape
  for _ in $(seq 200); do kill -0 "$game_pid" 2>/dev/null || break; sleep 0.1; done
  wait "$game_pid" || status=$?
else
  wait "$game_pid" || status=$?
fi
game_pid=

# Figures: RSS at the end of the first minute, its lowest and highest after it, and the last.
printf '%s\n' "${samples[@]}" >"$tmp/rss"
read -r base low high last count < <(awk -F: '$1 >= 60 && $2 != "" {
    if (!n++) { base = low = high = $2 } if ($2 < low) low = $2; if ($2 > high) high = $2; last = $2 }
  END { print base + 0, low + 0, high + 0, last + 0, n + 0 }' "$tmp/rss")
first=$(head -n 1 "$tmp/rss" | cut -d: -f2)
say "$actions random inputs in $((SECONDS - start)) s; RSS at start ${first:-?} kB; after the first" \
  "minute $base kB, then lowest $low, highest $high, last $last kB ($count samples)"
say "exit status after Escape: $status (normal end 1)"
failed=0
[[ $status -eq 1 ]] || { say "FAIL: exit status $status"; cat "$tmp/game.log" >&2; failed=1; }
((high - base <= allowed_growth)) ||
  { say "FAIL: RSS grew by $((high - base)) kB after the first minute"; failed=1; }
exit $failed
