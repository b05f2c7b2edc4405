#!/usr/bin/env bash
# The X server that the window tests share: a virtual frame buffer on a free display.
# Usage: xvfb-fixture.sh start|stop STATE_DIR
# start leaves the display number in STATE_DIR/display and the server's pid in STATE_DIR/pid.
set -euo pipefail
dir=${2:?usage: $0 start|stop STATE_DIR}

stop_server() {
  local pid
  pid=$(cat "$dir/pid" 2>/dev/null) || pid=
  if [[ -n $pid ]] && kill "$pid" 2>/dev/null; then
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/pid" "$dir/display"
}

case $1 in
  start)
    mkdir -p "$dir"
    stop_server
    command -v Xvfb >/dev/null || { echo "Xvfb is not installed (make test installs it)" >&2; exit 1; }
    # -displayfd: the server takes the first free display and writes its number once it listens.
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
      3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/pid"
    for _ in $(seq 300); do
      if [[ -s $dir/display ]]; then echo "Xvfb on :$(cat "$dir/display")"; exit 0; fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    echo "Xvfb did not come up:" >&2
    cat "$dir/xvfb.log" >&2 || true
    stop_server
    exit 1
    ;;
  stop) stop_server ;;
  *) echo "usage: $0 start|stop STATE_DIR" >&2; exit 2 ;;
esac
