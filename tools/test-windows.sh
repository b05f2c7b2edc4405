#!/usr/bin/env bash
# The Windows build against the real thing, under Wine with a private Xvfb:
#   tools/test-windows.sh WINDOWS_BUILD LINUX_BUILD ZIP
#  1. the demonstration from the unpacked zip, end to end: scripted pointer input, screenshots,
#     status 1 on Escape (tools/run-demo.sh, with the game run through Wine);
#  2. Breakout recorded by the Linux build replays under Wine with kastrel-replay --verify
#     (status 0: every frame hash matches), and one recorded under Wine replays on Linux, both
#     kept in a folder named with ö, ë and an emoji (given in the arguments and environment);
#  3. settings saved under Wine survive kills in the middle of saves and two processes saving at
#     once, a link planted where a save writes is left alone, and paths Windows refuses
#     (a folder, CON, NUL, reserved characters) fail with a reason, while a folder named in
#     UTF-8 (made by the program: Windows hands a program its arguments in its code page) works;
#  4. a stop request (Ctrl+C: Wine hands its programs a SIGINT as the console's Ctrl+C event) ends
#     a recording Breakout with the close box's events: status 0, a whole session that replays;
#  5. text: every character of the zip's font in the page font's ranges, at 8 to 96 pixels, draws
#     the same pixels under Wine as on Linux (tools/testing/font_hashes.cpp, a hash per size).
# The Wine prefix lives in ~/.cache/kastrel/wine (KASTREL_WINEPREFIX), made on first use. Every
# wait has a deadline, and a program still running at its deadline is ended by its id.
set -euo pipefail
me=test-windows
say() { echo "$me: $*" >&2; }
[[ $# -eq 3 ]] || { echo "usage: tools/test-windows.sh WINDOWS_BUILD LINUX_BUILD ZIP" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/deadlines.sh
source "$root/tools/deadlines.sh"
win=$(cd "$1" && pwd) linux=$(cd "$2" && pwd) zip=$(realpath "$3")
for tool in wine Xvfb xvfb-run xdotool unzip; do
  command -v "$tool" >/dev/null || { say "$tool is missing (make test-windows installs it)"; exit 2; }
done
export WINEPREFIX=${KASTREL_WINEPREFIX:-$HOME/.cache/kastrel/wine} WINEDEBUG=-all
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kastrel-windows.XXXXXX")
trap 'timeout 30 wineserver -k 2>/dev/null || true; rm -rf "$tmp"' EXIT
failures=0
check() { # what status expected [log]
  if [[ $2 -eq $3 ]]; then
    say "ok: $1"
  else
    say "FAILED: $1 (status $2, expected $3)"
    [[ -n ${4:-} ]] && tail -n 15 "$4" >&2
    failures=$((failures + 1))
  fi
}

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  say "making the Wine prefix $WINEPREFIX (once)"
  mkdir -p "$WINEPREFIX"
  timeout -k 10 600 xvfb-run -a wineboot -i >/dev/null 2>&1
fi
(cd "$tmp" && unzip -q "$zip")
pkg=$tmp/kastrel
# Programs named as the games, so run-demo.sh finds their windows by title.
mkdir -p "$tmp/bin"
for game in kastrel-demo kastrel-breakout; do
  printf '#!/bin/sh\nexec wine "%s/%s.exe" "$@"\n' "$pkg" "$game" >"$tmp/bin/$game"
  chmod +x "$tmp/bin/$game"
done
winpath() { timeout -k 5 60 winepath -w "$1" 2>/dev/null; }
# The summary line kastrel-replay --verify ends on (its frames compared and equal, and whether the
# recording was whole), without the tool's name.
summary() { sed -n 's/^kastrel-replay: //p' "$1" | tail -n 1; }
# Wine's desktop process stays tied to the X server (or the lack of one) it first met: each game
# on a new private server starts from a stopped wineserver.
fresh_wine() {
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 60 wineserver -w 2>/dev/null || true
}

# 1. The demonstration.
status=0
fresh_wine
KASTREL_DEMO_HEADLESS=1 KASTREL_DEMO_BIN=$tmp/bin/kastrel-demo \
  KASTREL_SCREENSHOT_DIR=$win/screenshots "$root/tools/run-demo.sh" "$linux" demo || status=$?
check "the demonstration under Wine ends on Escape" "$status" 1

# 2. Sessions across systems, in a folder whose name the system's code page cannot hold.
sessions="$tmp/Zoë 😀"
mkdir -p "$sessions"
status=0
KASTREL_DEMO_HEADLESS=1 KASTREL_RECORD=$sessions/linux.kst KASTREL_SCREENSHOT_DIR=$tmp/shots \
  "$root/tools/run-demo.sh" "$linux" breakout >"$tmp/record-linux.log" 2>&1 || status=$?
check "Breakout recorded on Linux" "$status" 0 "$tmp/record-linux.log"
status=0
(cd "$pkg" && timeout -k 5 300 wine kastrel-replay.exe --verify "$(winpath "$sessions/linux.kst")" kastrel-breakout.exe) \
  >"$tmp/replay-wine.txt" 2>&1 || status=$?
check "the Linux recording replays under Wine, every frame equal ($(summary "$tmp/replay-wine.txt"))" "$status" 0 "$tmp/replay-wine.txt"
status=0
session=$(winpath "$sessions/wine.kst")
fresh_wine
KASTREL_DEMO_HEADLESS=1 KASTREL_DEMO_BIN=$tmp/bin/kastrel-breakout \
  KASTREL_RECORD="$session" KASTREL_SCREENSHOT_DIR=$tmp/shots \
  "$root/tools/run-demo.sh" "$linux" breakout >"$tmp/record-wine.log" 2>&1 || status=$?
check "Breakout recorded under Wine" "$status" 0 "$tmp/record-wine.log"
status=0
timeout -k 5 300 "$linux/tools/kastrel-replay" --verify -C "$root/examples/breakout" "$sessions/wine.kst" \
  "$linux/examples/breakout/breakout" >"$tmp/replay-linux.txt" 2>&1 || status=$?
check "the Wine recording replays on Linux, every frame equal ($(summary "$tmp/replay-linux.txt"))" "$status" 0 "$tmp/replay-linux.txt"
# The platformer played to its flag on Linux (its goal's large text faded in) replays under Wine.
status=0
KASTREL_DEMO_HEADLESS=1 KASTREL_RECORD=$sessions/platformer.kst KASTREL_SCREENSHOT_DIR=$tmp/shots \
  timeout -k 5 300 "$root/tools/run-demo.sh" "$linux" platformer >"$tmp/record-platformer.log" 2>&1 || status=$?
check "the platformer played to its flag on Linux" "$status" 0 "$tmp/record-platformer.log"
status=0
(cd "$pkg/platformer" && timeout -k 5 300 wine ../kastrel-replay.exe --verify --whole \
  "$(winpath "$sessions/platformer.kst")" kastrel-platformer.exe) >"$tmp/replay-platformer.txt" 2>&1 || status=$?
check "the platformer's Linux recording replays under Wine, whole ($(summary "$tmp/replay-platformer.txt"))" \
  "$status" 0 "$tmp/replay-platformer.txt"

# 3. Settings on Windows' file system. Every program here has a deadline: its own bound, and one
# in the script that kills it by its id.
check_exe=$win/tools/kastrel_settings_check.exe
settings() { timeout -k 5 120 wine "$check_exe" "$@"; }
file=$tmp/settings.txt
wfile=$(winpath "$file")
settings write A "$wfile" && settings write B "$wfile"
kills=0 bad=0
for round in 1 2 3 4 5 6 7 8 9 10; do
  # Wine runs the Windows process as the very process started here: $! is its id.
  wine "$check_exe" loop 60 "$wfile" >"$tmp/loop.txt" 2>&1 &
  saver=$!
  # Killed at a random moment once it saves (a loaded machine may take a while to start Wine),
  # as a crash or a power cut would.
  for _ in $(seq 600); do
    grep -q saving "$tmp/loop.txt" && break
    kill -0 "$saver" 2>/dev/null || break
    sleep 0.1
  done
  sleep "0.$((RANDOM % 9 + 1))"
  kill -KILL "$saver" 2>/dev/null && kills=$((kills + 1))
  wait_for "$saver" 10 || true
  which=$(settings which "$wfile" | tr -d '\r') || true
  # Wine now and then fails to launch a program just after one was killed ("Invalid name"); a
  # torn file would read the same twice, so a second read hides nothing.
  [[ $which == A || $which == B ]] || { sleep 1; which=$(settings which "$wfile" | tr -d '\r') || true; }
  [[ $which == A || $which == B ]] || { bad=$((bad + 1)); say "round $round: $which"; }
done
check "settings killed mid-save under Wine ($kills kills) read as the old or the new file" "$bad" 0
# Two processes saving one file at once, 1,500 times each, while a third reads it: every save
# answers TRUE, every read is one save whole, and the last save to land is the file.
race=$tmp/race.txt wrace=$(winpath "$tmp/race.txt")
wine "$check_exe" watch 240 1500 "$wrace" >"$tmp/watch.txt" 2>&1 &
watcher=$!
wine "$check_exe" race 0 1500 "$wrace" >"$tmp/racer0.txt" 2>&1 &
racer0=$!
wine "$check_exe" race 1 1500 "$wrace" >"$tmp/racer1.txt" 2>&1 &
racer1=$!
status=0
wait_for "$racer0" 200 || status=$?
wait_for "$racer1" 20 || status=$((status == 0 ? $? : status))
touch "$race.stop"
wait_for "$watcher" 20 || status=$((status == 0 ? $? : status))
cat "$tmp/racer0.txt" "$tmp/racer1.txt" "$tmp/watch.txt" | tr -d '\r' >"$tmp/race.log"
check "two processes saving one settings file under Wine, each save whole and TRUE ($(grep -h \
  'saves in\|reads whole' "$tmp/race.log" | paste -sd '|' | sed 's/|/; /g'))" "$status" 0 "$tmp/race.log"
# A link planted where a save may write is never written through: what it leads to stays.
mkdir "$tmp/planted"
printf 'precious\n' >"$tmp/planted/target"
ln -s "$tmp/planted/target" "$tmp/planted/settings.txt.saving"
status=0
settings write A "$(winpath "$tmp/planted/settings.txt")" >"$tmp/planted.txt" 2>&1 || status=$?
[[ $(cat "$tmp/planted/target" 2>/dev/null) == precious ]] || { status=1; echo "the link's target changed" >>"$tmp/planted.txt"; }
check "a settings save under Wine leaves a link planted at its temporary name alone" "$status" 0 "$tmp/planted.txt"
status=0
settings roundtrip "$(winpath "$tmp")" >"$tmp/roundtrip.txt" 2>&1 || status=$?
check "settings in a folder with a UTF-8 name" "$status" 0 "$tmp/roundtrip.txt"
for path in "$(winpath "$tmp")" CON NUL 'C:\bad<name>.txt' 'C:\bad|name?.txt'; do
  status=0
  settings refuse "$path" >"$tmp/refuse.txt" 2>&1 || status=$?
  check "settings refuse $path: $(tr -d '\r' <"$tmp/refuse.txt" | head -1)" "$status" 0
done

# 4. A stop request while recording. Breakout untouched waits for its start for ever: only the
# close request ends it, with status 0 and the session's end.
status=0
session=$tmp/stopped.kst
record=$(winpath "$session")  # before the fresh start: winepath meets no X server
fresh_wine
(cd "$pkg" && KASTREL_RECORD=$record exec timeout -k 5 120 xvfb-run -a wine kastrel-breakout.exe) \
  >"$tmp/stop.log" 2>&1 &
launcher=$!
# The Windows process itself (its command line is the program's Windows name), not xvfb-run's,
# once it records (a loaded machine may take a while to start Wine).
game='^([A-Za-z]:\\.*\\)?kastrel-breakout\.exe'
pids=
for _ in $(seq 300); do
  pids=$(pgrep -f "$game" || true)
  [[ -n $pids && -s $session ]] && break
  sleep 0.2
done
sleep 2
if [[ -z $pids ]]; then
  say "FAILED: Breakout under Wine did not start for the stop request"
  stop_process "$launcher"
  tail -n 15 "$tmp/stop.log" >&2
  failures=$((failures + 1))
else
  kill -INT $pids 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$launcher" 2>/dev/null || break; sleep 0.2; done
  # Still running: the game found above and then its launcher, each by its id.
  kill -0 "$launcher" 2>/dev/null && { kill -KILL $pids 2>/dev/null || true; }
  wait_for "$launcher" 10 || status=$?
  check "Ctrl+C under Wine closes a recording Breakout" "$status" 0 "$tmp/stop.log"
  status=0
  timeout -k 5 300 "$linux/tools/kastrel-replay" --verify --whole -C "$root/examples/breakout" "$session" \
    "$linux/examples/breakout/breakout" >"$tmp/replay-stop.txt" 2>&1 || status=$?
  check "the session it closed replays on Linux, whole, every frame equal ($(summary "$tmp/replay-stop.txt"))" "$status" 0 "$tmp/replay-stop.txt"
fi

# 5. Text from the same font file, pixel for pixel as on Linux.
font=$pkg/data/fonts/DejaVuSans.ttf
if [[ ! -x $linux/tools/kastrel_font_hashes || ! -f $win/tools/kastrel_font_hashes.exe ]]; then
  say "skipped: text against Linux (kastrel_font_hashes is not built in $linux and $win)"
else
  status=0
  timeout 120 "$linux/tools/kastrel_font_hashes" "$font" >"$tmp/text-linux.txt" || status=$?
  timeout 120 wine "$win/tools/kastrel_font_hashes.exe" "$(winpath "$font")" 2>"$tmp/text-wine.log" |
    tr -d '\r' >"$tmp/text-wine.txt" || status=$?
  if ((status == 0)) && ! diff "$tmp/text-linux.txt" "$tmp/text-wine.txt" >"$tmp/text.diff"; then
    say "text differs (size, hash, glyphs: < Linux, > Wine):"
    head -n 4 "$tmp/text.diff" >&2
    status=1
  fi
  check "text under Wine as on Linux ($(wc -l <"$tmp/text-linux.txt") sizes of $(awk 'NR == 1 { print $3 }' "$tmp/text-linux.txt") glyphs)" "$status" 0 "$tmp/text-wine.log"
fi

((failures == 0)) && say "every check passed" || say "$failures checks failed"
exit $((failures == 0 ? 0 : 1))
