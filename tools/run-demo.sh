#!/usr/bin/env bash
# Runs a game: tools/run-demo.sh BUILD_DIR [demo|breakout|platformer] (what `make demo` and
# `make play` call; the demonstration by default).
#
# Each game reads its files under its working directory, so it runs from its source folder
# (demo/, examples/breakout/ or examples/platformer/). With a desktop (DISPLAY or
# WAYLAND_DISPLAY set) it simply runs there. Without one it runs in a private Xvfb, plays a
# short scripted session with xdotool (the demonstration: hover the ball, pick it up, drag it,
# throw it; Breakout: start, steer the paddle with the pointer and the keys; the platformer:
# start, run right and hop to the flag), presses Escape, saves screenshots as PNG files, prints
# their paths, and exits with the game's exit status.
#
# The normal end (Escape or the close box) is exit status 1 for the demonstration and 0 for
# the examples; the script says which it saw. Its own failures (no build, no game, no Xvfb) end with
# status 2, so they never pass for a normal run.
#
# Environment:
#   KASTREL_DEMO_BIN           the program to run (default the game in BUILD_DIR)
#   KASTREL_SCREENSHOT_DIR     where the screenshots go (default BUILD_DIR/../screenshots)
#   KASTREL_DEMO_HEADLESS=1    use a private Xvfb even when a desktop is there
#   KASTREL_DEMO_EXIT_TIMEOUT  seconds to wait for the game to end after Escape (default 20);
#                              then it is asked to stop (SIGTERM) and killed 5 s later: status 124
set -euo pipefail

me=run-demo
say() { echo "$me: $*" >&2; }

game=${2:-demo}
if [[ $# -lt 1 || $# -gt 2 || ( $game != demo && $game != breakout && $game != platformer ) ]]; then
  echo "usage: tools/run-demo.sh BUILD_DIR [demo|breakout|platformer]" >&2
  exit 2
fi
[[ -d $1 ]] || { say "no build directory '$1'"; exit 2; }
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=tools/deadlines.sh
source "$source_dir/tools/deadlines.sh"
if [[ $game == demo ]]; then
  workdir=$source_dir/demo bin=$build/demo/kastrel-demo normal=1
else
  workdir=$source_dir/examples/$game bin=$build/examples/$game/$game normal=0
fi
bin=${KASTREL_DEMO_BIN:-$bin}
shooter=$build/tools/kastrel_x11_screenshot

if [[ ! -x $bin ]]; then
  say "$bin is not built (the demonstration game is not part of this build)"
  exit 2
fi
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")

# How the game ended, in words.
report() {
  if [[ $1 -eq $normal ]]; then
    say "the game ended normally (exit status $normal)"
  else
    say "the game failed: exit status $1 (a normal end is $normal)"
  fi
}

if [[ -z ${KASTREL_DEMO_HEADLESS:-} && ( -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ) ]]; then
  cd "$workdir"
  status=0
  "$bin" || status=$?
  report "$status"
  exit "$status"
fi

# ---- No desktop: a private X server and a scripted session. ----
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { say "$tool is missing (make demo installs it)"; exit 2; }
done
shots=${KASTREL_SCREENSHOT_DIR:-$(dirname "$build")/screenshots}
mkdir -p "$shots"
shots=$(cd "$shots" && pwd)
exit_timeout=${KASTREL_DEMO_EXIT_TIMEOUT:-20}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kastrel-demo.XXXXXX")
xvfb_pid=
game_pid=
# shellcheck disable=SC2317  # runs from the EXIT trap
cleanup() {
  [[ -z $game_pid ]] || stop_process "$game_pid" 1
  [[ -z $xvfb_pid ]] || stop_process "$xvfb_pid"
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# 640 x 480 leaves no room for a window frame: the screen is larger. Xvfb picks a free display
# number itself and writes it to descriptor 3 once it accepts connections.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$tmp/display" \
  >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
deadline=$((SECONDS + 20))
while ((SECONDS < deadline)); do
  grep -q '^[0-9][0-9]*$' "$tmp/display" && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
number=$(tr -dc 0-9 <"$tmp/display")
if [[ -z $number ]]; then
  say "Xvfb did not start:"
  cat "$tmp/xvfb.log" >&2
  exit 2
fi
export DISPLAY=:$number
unset WAYLAND_DISPLAY
say "running $bin on a private X server ($DISPLAY)"

# A scripted session keeps what the game saves (the platformer's best time) in a folder of its
# own, so it neither reads nor changes the player's.
mkdir -p "$tmp/saves"
(cd "$workdir" && XDG_DATA_HOME=$tmp/saves exec "$bin") &
game_pid=$!

alive() { kill -0 "$game_pid" 2>/dev/null; }

# The window's title is the executable's file name without its extension.
title=$(basename "$bin")
title=${title%.*}
pattern="^$(printf '%s' "$title" | sed 's/[][\.^$*+?(){}|/]/\\&/g')\$"
window=
deadline=$((SECONDS + 30))
while ((SECONDS < deadline)); do
  alive || break
  window=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1) || true
  [[ -n $window ]] && break
  sleep 0.1
done

taken=()
shot() {
  alive || return 0
  [[ -x $shooter ]] || return 0
  local file=$shots/$game-$1.png
  if "$shooter" --window "$window" "$file"; then
    taken+=("$file")
  else
    say "no screenshot $file"
  fi
}

# Everything below steps aside as soon as the game has ended by itself.
if [[ -z $window ]]; then
  alive && say "the game shows no window titled '$title'"
else
  [[ -x $shooter ]] || say "$shooter is not built: no screenshots"
  # Input and pauses only while the game still runs; a failed xdotool call is not fatal.
  xdo() {
    alive || return 0
    # Bounded: a --sync wait for a window that never takes the focus would not end.
    timeout -k 2 10 xdotool "$@" >/dev/null 2>&1 || true
  }
  pointer() { xdo mousemove --window "$window" "$1" "$2"; }
  pause() {
    alive || return 0
    sleep "$1"
  }

  # The demonstration: hover the ball, pick it up, drag it and throw it.
  demo_session() {
    # Where the ball comes to rest: centred (half pixels to even), its collision box (the picture
    # less 7 by 9 pixels) on the bottom edge. The pointer's hot spot is 5 pixels up and left of
    # the cursor picture's corner, which is the point the game tests.
    ball_w=64 ball_h=66
    if [[ -r $workdir/images/ball.png ]]; then
      read -r ball_w ball_h < <(od -An -tu1 -j16 -N8 "$workdir/images/ball.png" |
        awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
    fi
    room=$((640 - ball_w))
    start_x=$((room / 2))
    if ((room % 2 != 0 && start_x % 2 != 0)); then start_x=$((start_x + 1)); fi
    rest_y=$((480 - (ball_h - 9)))
    hover_x=$((start_x + (ball_w - 7) / 2 - 5))
    hover_y=$((rest_y + (ball_h - 9) / 2 - 5))

    pointer 470 140
    pause 0.6
    shot 1-falling
    pause 3 # the ball bounces and comes to rest
    pointer 420 300
    pause 0.3
    shot 2-resting

    # Hover: approach the ball in a few steps.
    for step in 3 2 1 0; do
      pointer $((hover_x + step * 30)) $((hover_y - step * 20))
      pause 0.1
    done
    pause 0.5
    shot 3-hover

    # Pick it up and drag it up and to the left.
    xdo mousedown 1
    pause 0.2
    for step in 1 2 3 4 5 6 7 8 9 10; do
      pointer $((hover_x - step * 14)) $((hover_y - step * 26))
      pause 0.05
    done
    pause 0.4
    shot 4-drag

    # Throw: release while still moving up and to the right; the ball keeps the speed of the
    # last move, twice its pixels per second. A pass moves it by whole pixels, so at several
    # hundred passes a second the last move must be long for the throw to carry it sideways.
    x=$((hover_x - 140)) y=$((hover_y - 260))
    for dx in 40 80 120 370; do
      pointer $((x + dx)) $((y - dx / 4))
      pause 0.02
    done
    xdo mouseup 1
    pause 0.25
    shot 5-thrown
    pause 3
    shot 6-rest-again
  }

  # Breakout: the title, Space fading into play, the paddle after the pointer and the keys.
  breakout_session() {
    xdo windowfocus --sync "$window"
    pointer 320 300
    pause 1
    shot 1-title
    xdo key space
    pause 0.2
    shot 2-fading
    pause 1.5
    shot 3-playing
    for x in 260 200 140 80; do
      pointer "$x" 300
      pause 0.1
    done
    pause 0.5
    shot 4-paddle-left
    xdo keydown Right
    pause 0.8
    xdo keyup Right
    pause 2
    shot 5-paddle-right
  }

  # The platformer: the title, then Right and Up held: the runner hops through the level (up
  # a plank onto the tower, over the pits) to the flag.
  platformer_session() {
    xdo windowfocus --sync "$window"
    pause 1
    shot 1-title
    xdo key Return
    pause 1
    shot 2-start
    xdo keydown Right keydown Up
    for n in 3 4 5 6; do
      pause 2
      shot "$n-running"
    done
    pause 2
    xdo keyup Up keyup Right
    pause 1
    shot 7-goal
  }

  "${game}_session"

  xdo windowfocus "$window"
  xdo key Escape
fi

# The game's own end, bounded so a game that ignores Escape cannot hang `make demo`.
status=0
deadline=$((SECONDS + exit_timeout))
while alive && ((SECONDS < deadline)); do
  sleep 0.1
done
if alive; then
  say "the game did not end within ${exit_timeout} s; stopping it"
  stop_process "$game_pid"
  game_pid=
  status=124
else
  wait "$game_pid" || status=$?
  game_pid=
fi

if ((${#taken[@]} > 0)); then
  say "screenshots:"
  printf '%s\n' "${taken[@]}"
fi
report "$status"
exit "$status"
