#!/usr/bin/env bash
# Soak run of the Breakout example in a private Xvfb, its sound on SDL's disk driver: random
# pointer, button and key input (Alt+Enter among it) from xdotool, the focus moved to another X
# window and back, and virtual pads plugged in and out at random and played while connected (by
# tools/testing/soak_pads.cpp, preloaded into the game). Resident memory, threads and descriptors
# are sampled every 10 s; at the end the pads are unplugged and Escape must end the game with its
# normal status 0. Not part of `make test`.
#
# Usage: tools/soak-breakout.sh [BUILD_DIR] [SECONDS]   (defaults: build/release, 600)
# Fails (status 1) when the game dies early or ends with another status, its sound is silent
# while focused or sounds while not, its RSS after the first minute grows by more than
# SOAK_RSS_GROWTH_KB (default 4096), or its threads or descriptors grow.
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$source_dir/build/release}" && pwd)
duration=${2:-600}
allowed_growth=${SOAK_RSS_GROWTH_KB:-4096}
bin=$build/examples/breakout/breakout
say() { echo "soak-breakout: $*" >&2; }
[[ -x $bin ]] || { say "$bin is not built (make play, or cmake --build $build --target breakout)"; exit 2; }

tmp=$(mktemp -d)
source "$source_dir/tools/soak-common.sh"
# The pad thread, built for the run against the system's SDL, as the game links it.
c++ -std=c++20 -O1 -shared -fPIC -I"$source_dir" $(pkg-config --cflags sdl2) \
  "$source_dir/tools/testing/soak_pads.cpp" $(pkg-config --libs sdl2) -o "$tmp/soak_pads.so"
start_xvfb

xmessage -geometry +600+500 -name soak-other -title soak-other 'the focus goes here' 2>/dev/null &
helpers+=($!)
other=$(find_window soak-other)
[[ -n $other ]] || { say "the second X window did not open"; exit 2; }

sound=$tmp/sound.raw
touch "$tmp/pads"
(cd "$source_dir/examples/breakout" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$sound \
  KASTREL_SOAK_PADS=$tmp/pads LD_PRELOAD=$tmp/soak_pads.so exec "$bin") >"$tmp/game.log" 2>&1 &
game_pid=$!
window=$(find_window breakout)
[[ -n $window ]] || { say "the game shows no window"; cat "$tmp/game.log" >&2; exit 1; }
timeout -k 2 10 xdotool windowfocus --sync "$window"

# sounding: whether the last 0.1 s the disk driver wrote has a sample other than zero.
sounding() { [[ $(tail -c 19200 "$sound" | tr -d '\0' | head -c 1 | wc -c) -eq 1 ]]; }
failed=0
# The music plays while focused and pauses while not: the focus and the sound both reach the game.
sleep 2
sounding || { say "FAIL: no sound in $sound while focused"; failed=1; }
timeout -k 2 10 xdotool windowfocus --sync "$other"; sleep 1
! sounding || { say "FAIL: the sound goes on without the focus"; failed=1; }
timeout -k 2 10 xdotool windowfocus --sync "$window"; sleep 1
sounding || { say "FAIL: no sound after the focus came back"; failed=1; }

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$game_pid/status" 2>/dev/null; }
count() { find "/proc/$game_pid/$1" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
sample() { echo "$((SECONDS - start)):$(rss):$(count task):$(count fd)" >>"$tmp/samples"; }
keys=(Left Right Left Right space Return Up Down Tab a p shift+Left ctrl+Right alt+Return BackSpace 1 F1)
start=$SECONDS next_sample=0 actions=0 away=0 switches=0
while ((SECONDS - start < duration)); do
  kill -0 "$game_pid" 2>/dev/null || { say "the game died after $((SECONDS - start)) s"; break; }
  if ((SECONDS - start >= next_sample)); then
    sample
    next_sample=$((next_sample + 10))
  fi
  key=
  if ((RANDOM % 100 < 2)); then
    # Away for a moment: the game pauses, the pads play on unseen.
    xdotool windowfocus "$other" >/dev/null 2>&1 || true
    sleep 0.$((RANDOM % 5))
    xdotool windowfocus "$window" >/dev/null 2>&1 || true
    away=$((away + 1))
  else
    random_input "$window" "${keys[@]}"
  fi
  if [[ $key == alt+Return ]]; then
    # The switch opens a new window; without a window manager it gets the focus from us.
    switches=$((switches + 1))
    sleep 0.3
    window=$(find_window breakout)
    xdotool windowfocus "$window" >/dev/null 2>&1 || true
  fi
  actions=$((actions + 1))
done
sample

# The pads go first, then Escape.
rm -f "$tmp/pads"
for _ in $(seq 50); do grep -q '^soak-pads:' "$tmp/game.log" && break; sleep 0.1; done
if kill -0 "$game_pid" 2>/dev/null; then
  window=$(find_window breakout)
  timeout -k 2 10 xdotool windowfocus --sync "$window"
  sleep 1
  sounding || { say "FAIL: no sound at the end"; failed=1; }
fi
end_game

# Figures: RSS as tools/soak-demo.sh gives them; threads and descriptors at the first and last
# samples and their highest.
read -r base low high last n < <(rss_figures "$tmp/samples")
IFS=: read -r _ rss0 threads0 fds0 <"$tmp/samples"
IFS=: read -r _ _ threads1 fds1 < <(tail -n 1 "$tmp/samples")
threadsmax=$(cut -d: -f3 "$tmp/samples" | sort -n | tail -n 1)
fdsmax=$(cut -d: -f4 "$tmp/samples" | sort -n | tail -n 1)
say "$actions inputs in $((SECONDS - start)) s: $away focus changes away and back," \
  "$switches Alt+Enter switches, the rest random pointer, button and key input"
grep -h '^soak-pads:' "$tmp/game.log" >&2 || { say "FAIL: the pad thread did not report"; failed=1; }
say "sound: $(($(stat -c %s "$sound") / 1048576)) MB written by the disk driver"
say "RSS at start $rss0 kB; after the first minute $base kB, then lowest $low, highest $high," \
  "last $last kB ($n samples)"
say "RSS every 10 s, MB: $(awk -F: '{ printf "%.1f ", $2 / 1024 }' "$tmp/samples")"
say "threads $threads0 at start, $threads1 at the end (highest $threadsmax); descriptors $fds0" \
  "at start, $fds1 at the end (highest $fdsmax)"
say "exit status after Escape: $status (normal end 0)"
[[ $status -eq 0 ]] || { say "FAIL: exit status $status"; cat "$tmp/game.log" >&2; failed=1; }
((high - base <= allowed_growth)) ||
  { say "FAIL: RSS grew by $((high - base)) kB after the first minute"; failed=1; }
((threadsmax <= threads0 && fdsmax <= fds0)) ||
  { say "FAIL: threads or descriptors grew"; failed=1; }
exit $failed
