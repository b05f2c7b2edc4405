#!/usr/bin/env bash
# shellcheck disable=SC2317  # the cleanup runs from a trap, the play_ functions by name
# Records the gallery's sessions (examples/gallery/sessions/<name>.kst, to commit): builds the
# Linux release gallery, then runs each example on a private X server with KASTREL_RECORD set,
# plays it with xdotool (each example's input below) and ends it with Escape.
#   tools/record-gallery.sh [BUILD] [NAME...]      BUILD: build/release; no NAME: every example
# Every wait has a deadline: a window that never shows, or a game that does not end on Escape,
# is ended by its id and the example reported as not recorded.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
shift || true
# shellcheck source=tools/deadlines.sh
source "$source_dir/tools/deadlines.sh"
say() { echo "record-gallery: $*" >&2; }
for tool in Xvfb xdotool cmake; do
  command -v "$tool" >/dev/null || { say "$tool is missing (apt-get install xvfb xdotool cmake)"; exit 2; }
done
names=("$@")
if ((${#names[@]} == 0)); then
  # The list kept in the gallery's CMakeLists.txt.
  read -ra names < <(sed -n '/^set(KASTREL_GALLERY$/,/)/p' "$source_dir/examples/gallery/CMakeLists.txt" |
    sed '1d;s/)//' | tr '\n' ' ') || true
fi
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target "${names[@]/#/gallery_}" >/dev/null

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kastrel-gallery.XXXXXX")
xvfb_pid='' game_pid=''
cleanup() {
  [[ -z $game_pid ]] || stop_process "$game_pid" 1
  [[ -z $xvfb_pid ]] || stop_process "$xvfb_pid"
  rm -rf "$tmp"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 200); do grep -q '^[0-9][0-9]*$' "$tmp/display" && break; sleep 0.1; done
number=$(tr -dc 0-9 <"$tmp/display")
[[ -n $number ]] || { say "Xvfb did not start"; cat "$tmp/xvfb.log" >&2; exit 2; }
export DISPLAY=:$number
unset WAYLAND_DISPLAY

window=
xdo() { kill -0 "$game_pid" 2>/dev/null || return 0; timeout -k 2 10 xdotool "$@" >/dev/null 2>&1 || true; }
keys() { xdo windowfocus --sync "$window"; xdo key --delay 120 "$@"; }
hold() { xdo keydown "$1"; sleep "$2"; xdo keyup "$1"; }
point() { xdo mousemove --window "$window" "$1" "$2"; }
glide() {  # glide X0 Y0 X1 Y1: the pointer across in 20 steps
  for i in $(seq 0 20); do point $(($1 + ($3 - $1) * i / 20)) $(($2 + ($4 - $2) * i / 20)); sleep 0.03; done
}

# Each example's input (called by name below); those not named here just run for a moment.
play_text() { sleep 2; }
play_keys() { keys a b c; hold Right 0.6; hold Down 0.4; hold Left 0.3; keys space; }
play_pointer() { glide 60 60 400 260; xdo click 1; glide 400 260 120 200; xdo click 3; sleep 0.3; xdo click 4; sleep 0.3; xdo click 4; sleep 0.5; }
play_pads() { hold Right 0.5; hold Up 0.3; }
play_typing() { keys H e l l o Return; xdo type --delay 80 "Kastrel"; keys BackSpace; sleep 0.3; }
play_sound() { keys 1; sleep 0.3; keys 2; sleep 0.3; point 400 160; keys space; sleep 0.5; }
play_music() { sleep 1; keys p; sleep 0.5; keys p; sleep 0.5; keys Down Down; keys s; sleep 1; }
play_transitions() { for _ in 1 2 3 4; do keys space; sleep 0.7; done; }
play_camera() { hold Right 1.2; hold Down 0.5; keys z; hold Left 0.6; keys x; }
play_tilemap() { hold Right 1.5; sleep 0.5; }
play_collision() { hold Right 0.8; keys space; hold Right 0.8; sleep 0.5; }
play_settings() { keys c c; keys Up Up; sleep 0.3; }
play_fountain() { glide 240 300 100 250; sleep 0.5; glide 100 250 380 280; }
play_checked() { hold Left 0.8; hold Right 1.2; sleep 1; hold Left 0.5; sleep 1.5; }
play_animation() { sleep 1; keys space; sleep 1; }
play_dirty() { sleep 2; }

failed=0
for name in "${names[@]}"; do
  folder=$build/examples/gallery/$name
  session=$source_dir/examples/gallery/sessions/$name.kst
  mkdir -p "$tmp/saves-$name"
  rm -f "$tmp/session.kst"
  (cd "$folder" && KASTREL_RECORD=$tmp/session.kst SDL_AUDIODRIVER=dummy \
    XDG_DATA_HOME=$tmp/saves-$name exec "./gallery_$name") >"$tmp/$name.log" 2>&1 &
  game_pid=$!
  window=
  for _ in $(seq 300); do
    kill -0 "$game_pid" 2>/dev/null || break
    window=$(xdotool search --onlyvisible --name "^gallery_$name\$" 2>/dev/null | head -n 1) || true
    [[ -n $window ]] && break
    sleep 0.1
  done
  status=0
  if [[ -n $window ]]; then
    sleep 0.5
    if declare -F "play_$name" >/dev/null; then "play_$name"; else sleep 1.5; fi
    keys Escape
    wait_for "$game_pid" 15 || status=$?
  else
    say "$name showed no window"
    stop_process "$game_pid" 5 || true
    status=1
  fi
  game_pid=
  if ((status != 0)) || [[ ! -s $tmp/session.kst ]]; then
    say "$name: not recorded (status $status)"
    cat "$tmp/$name.log" >&2
    failed=1
    continue
  fi
  cp "$tmp/session.kst" "$session"
  say "$name: $(stat -c %s "$session") bytes"
done
exit "$failed"
