# Shared by the soak scripts (sourced): a private Xvfb, the game's window, random input from
# xdotool and the figures of the samples. The caller sets build, bin and tmp first and keeps
# the game's process id in game_pid.
# shellcheck source=tools/deadlines.sh
source "$(dirname "${BASH_SOURCE[0]}")/deadlines.sh"
game_pid= helpers=()
soak_cleanup() {
  [[ -z $game_pid ]] || { kill -KILL "$game_pid" 2>/dev/null; wait_for "$game_pid" 5 || true; }
  local pid
  for pid in "${helpers[@]}"; do stop_process "$pid"; done
  rm -rf "$tmp"
}
trap soak_cleanup EXIT

# start_xvfb: a private X server in DISPLAY.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
  helpers+=($!)
  for _ in $(seq 200); do grep -q '^[0-9]' "$tmp/display" && break; sleep 0.1; done
  export DISPLAY=:$(tr -dc 0-9 <"$tmp/display")
  [[ $DISPLAY != : ]] || { say "Xvfb did not start"; cat "$tmp/xvfb.log" >&2; exit 2; }
}

# find_window TITLE: the first visible window of that title, waited for up to 30 s.
find_window() {
  local id=
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
    [[ -n $id ]] && { echo "$id"; return; }
    sleep 0.1
  done
}

# random_input WINDOW KEY...: one random pointer move, button change, click or key; a held
# button is kept in `held`, the key pressed (if any) in `key`.
held=0
random_input() {
  local window=$1 roll=$((RANDOM % 100))
  shift
  key=
  if ((roll < 55)); then
    xdotool mousemove --window "$window" $((RANDOM % 900 - 50)) $((RANDOM % 700 - 50))
  elif ((roll < 70)); then
    if ((held)); then xdotool mouseup 1; held=0; else xdotool mousedown 1; held=1; fi
  elif ((roll < 80)); then
    xdotool click $((RANDOM % 5 + 1))
  else
    key=${*:RANDOM % $# + 1:1}
    xdotool key --clearmodifiers "$key"
  fi >/dev/null 2>&1 || true
  ((RANDOM % 4)) || sleep 0.0$((RANDOM % 10))
}

# end_game: lets go of a held button and presses Escape, then waits for the game; its exit
# status goes in `status`.
end_game() {
  status=0
  if kill -0 "$game_pid" 2>/dev/null; then
    ((held)) && xdotool mouseup 1
    xdotool key Escape
  fi
  # A game that does not end within 20 s is killed: status 124.
  wait_for "$game_pid" 20 || status=$?
  game_pid=
}

# rss_figures FILE: from "seconds:kB..." lines, the RSS at the end of the first minute, its
# lowest and highest after it, the last, and how many samples that was.
rss_figures() {
  awk -F: '$1 >= 60 && $2 != "" {
      if (!n++) { base = low = high = $2 } if ($2 < low) low = $2; if ($2 > high) high = $2; last = $2 }
    END { print base + 0, low + 0, high + 0, last + 0, n + 0 }' "$1"
}
