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
source "$source_dir/tools/soak-common.sh"
start_xvfb

(cd "$source_dir/demo" && exec "$bin") >"$tmp/game.log" 2>&1 &
game_pid=$!
window=$(find_window kastrel-demo)
[[ -n $window ]] || { say "the game shows no window"; cat "$tmp/game.log" >&2; exit 1; }

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$game_pid/status" 2>/dev/null; }
keys=(a s d space Return Left Right Up Down Tab F1 shift+x ctrl+c alt+Return BackSpace 1 2)
start=$SECONDS next_sample=0 actions=0
samples=()
while ((SECONDS - start < duration)); do
  kill -0 "$game_pid" 2>/dev/null || { say "the game died after $((SECONDS - start)) s"; break; }
  if ((SECONDS - start >= next_sample)); then
    samples+=("$((SECONDS - start)):$(rss)")
    next_sample=$((next_sample + 10))
  fi
  random_input "$window" "${keys[@]}"
  actions=$((actions + 1))
done
samples+=("$((SECONDS - start)):$(rss)")

end_game

printf '%s\n' "${samples[@]}" >"$tmp/rss"
read -r base low high last count < <(rss_figures "$tmp/rss")
first=$(head -n 1 "$tmp/rss" | cut -d: -f2)
say "$actions random inputs in $((SECONDS - start)) s; RSS at start ${first:-?} kB; after the first" \
  "minute $base kB, then lowest $low, highest $high, last $last kB ($count samples)"
say "exit status after Escape: $status (normal end 1)"
failed=0
[[ $status -eq 1 ]] || { say "FAIL: exit status $status"; cat "$tmp/game.log" >&2; failed=1; }
((high - base <= allowed_growth)) ||
  { say "FAIL: RSS grew by $((high - base)) kB after the first minute"; failed=1; }
exit $failed
