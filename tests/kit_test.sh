#!/usr/bin/env bash
# A new user's way with the kit, end to end: `make install-sdk` into a fresh folder; then, with
# the engine's source tree and its library caches out of reach (an empty folder mounted over each,
# in a mount namespace of this test's own), kastrel-new's game built, tested and packaged by the
# linux, windows and web workflows, and the platformer built from its own folder against the kit
# for the three platforms with a session recorded on Linux as its test. The packages are then run
# as a player gets them: the Linux one unpacked elsewhere under Xvfb with `ldd` naming nothing
# outside its folder but the C library's own, the Windows one under Wine with no Z: drive (nothing
# of this machine reachable) and checked to be a GUI program importing system DLLs only, the page
# folder served by a plain static server in headless Chromium. Bad input gets a clear refusal.
# Usage: tests/kit_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$(cd "$1" && pwd)
build=$(cd "$2" 2>/dev/null && pwd || realpath -m "$2")
me=kit_test
say() { echo "$me: $*"; }
failures=0 passed=0
check() { # what status [log]
  if [[ $2 -eq 0 ]]; then
    say "ok: $1"
    passed=$((passed + 1))
  else
    say "FAILED: $1 (status $2)"
    [[ -n ${3:-} && -f $3 ]] && tail -40 "$3"
    failures=$((failures + 1))
  fi
}
seconds() { echo $(($(date +%s) - $1)); }

if [[ ${KIT_TEST_PHASE:-1} == 1 ]]; then
  work=$(mktemp -d /tmp/kastrel-kit-test.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  # The README's commands, word for word but for the kit's folder (~/kastrel there).
  readme_block() {
    awk -v tag="<!-- kit: $1 -->" '$0 == tag { f = 1; next } f && /^```/ { if (inside) exit; inside = 1; next }
      f && inside { print }' "$src/README.md" | sed "s|~/kastrel|$work/kit|g"
  }
  readme_block install >"$work/install.sh"
  readme_block game >"$work/game.sh"
  [[ -s $work/install.sh && -s $work/game.sh ]]
  check "the README holds the kit's commands" $?
  # 1. The kit, by its one command, from the engine's folder (reusing the build folders of CI).
  start=$(date +%s)
  # Cold, it builds the Windows and Web libraries (about 30 minutes on 2 cores); warm, seconds.
  (cd "$src" && export BUILD="$build" && eval "timeout 3600 $(cat "$work/install.sh")") >"$work/install.log" 2>&1
  check "$(head -1 "$work/install.sh") into a fresh folder ($(seconds "$start") s)" $? "$work/install.log"
  ((failures == 0)) || exit 1
  # A session of the platformer played to its flag on Linux (the engine's own release build,
  # which `make install-sdk` has just built, in a private Xvfb), and the platformer's own folder.
  cmake --build "$build/release" --target kastrel_x11_screenshot >>"$work/install.log" 2>&1
  cp -R "$src/examples/platformer" "$work/platformer"
  rm -f "$work/platformer/"*_test.cpp
  KASTREL_DEMO_HEADLESS=1 KASTREL_RECORD="$work/platformer.kst" KASTREL_SCREENSHOT_DIR="$work/shots" \
    timeout 300 "$src/tools/run-demo.sh" "$build/release" platformer >"$work/record.log" 2>&1
  check "a platformer session recorded on Linux" $? "$work/record.log"
  # 2. The rest with the source tree and the library caches out of reach.
  hide=("$src")
  for cache in "$HOME/.cache/kastrel/windows-deps" "$HOME/.cache/kastrel/web-deps"; do
    [[ -d $cache ]] && hide+=("$cache")
  done
  cp "$0" "$work/kit_test.sh"
  wineprefix=${KASTREL_WINEPREFIX:-$HOME/.cache/kastrel/wine}
  if [[ $(id -u) -eq 0 ]] && unshare --mount --propagation private true 2>/dev/null; then
    mounts=""
    for dir in "${hide[@]}"; do mounts+="mount -t tmpfs -o ro,size=1m none '$dir' && "; done
    KIT_TEST_PHASE=2 KIT_TEST_WORK=$work KIT_TEST_HIDDEN="${hide[*]}" KIT_TEST_WINEPREFIX=$wineprefix \
      unshare --mount --propagation private bash -c "$mounts bash '$work/kit_test.sh' '$src' '$build'"
  else
    say "not root or no mount namespace: the source tree stays reachable, and only the build's files are searched for paths into it"
    KIT_TEST_PHASE=2 KIT_TEST_WORK=$work KIT_TEST_HIDDEN="${hide[*]}" KIT_TEST_WINEPREFIX=$wineprefix \
      bash "$work/kit_test.sh" "$src" "$build"
  fi
  exit $?
fi

# Phase 2, as a new user with only the kit.
work=$KIT_TEST_WORK
export KASTREL_SDK=$work/kit
export WINEPREFIX=$KIT_TEST_WINEPREFIX WINEDEBUG=-all SDL_AUDIODRIVER=dummy XDG_DATA_HOME=$work/saves
[[ -d $src && -z $(ls -A "$src" 2>/dev/null) ]] && say "the engine's source tree is out of reach: $src is empty here"
if [[ ! -f $WINEPREFIX/system.reg ]] && command -v wine >/dev/null; then
  mkdir -p "$WINEPREFIX" && timeout 300 xvfb-run -a wineboot -i >/dev/null 2>&1
fi
# Every file of a build that names the source tree or a library cache is a path the kit should
# not have needed.
no_paths_into_hidden() { # folder
  local dir found=""
  for dir in $KIT_TEST_HIDDEN; do
    found+=$(grep -rlF --include=CMakeCache.txt --include='*.ninja' --include='*.cmake' \
             --include='*.rsp' "$dir/" "$1" 2>/dev/null)
  done
  [[ -z $found ]] || { say "these name the source tree or a cache: $found"; return 1; }
}

# 3. The README's commands for a game of one's own, from an empty folder, line by line.
mkdir -p "$work/new-user" && cd "$work/new-user"
start=$(date +%s)
n=0
while IFS= read -r line; do
  n=$((n + 1))
  case $line in
    export\ * | cd\ *) eval "$line"; check "$line" $?; continue ;;
  esac
  t=$(date +%s)
  eval "timeout 1500 $line" >"$work/step-$n.log" 2>&1
  status=$?
  summary=$(grep -h "frames compared" "$work/step-$n.log" | tail -1)
  check "$line ($(seconds "$t") s) ${summary:+[$summary]}" $status "$work/step-$n.log"
  grep -q "kastrel-session-test: skipped" "$work/step-$n.log" &&
    say "note: a session test was skipped: $(grep -h 'skipped' "$work/step-$n.log" | head -1)"
done <"$work/game.sh"
cd "$work"
game=$work/new-user/mygame
[[ -d $game/build ]] || { say "the README's commands made no mygame/build"; exit 1; }
for preset in linux windows web; do
  no_paths_into_hidden "$game/build/$preset"
  check "the $preset build names no path into the source tree or a cache" $?
done
say "from an empty folder to three packages: $(seconds "$start") s"
for package in "$game"/build/linux/packages/mygame-linux-x86_64.tar.gz "$game"/build/windows/packages/mygame-windows-x86_64.zip \
               "$game"/build/web/packages/mygame-web.zip; do
  [[ -f $package ]] && say "package $(basename "$package"): $(du -k "$package" | cut -f1) KiB"
done

# 4. The platformer from its own folder, for the three platforms, its session as its test.
declare -A folder=([linux]=x86_64-linux [windows]=x86_64-windows [web]=wasm32-web)
for platform in linux windows web; do
  t=$(date +%s)
  out=$work/platformer-build/$platform
  timeout 1500 bash -c '
    cmake -S "$1/platformer" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release --toolchain "$3" \
      -DKASTREL_PLATFORMER_SESSIONS="$1/platformer.kst" &&
      cmake --build "$2" && (cd "$2" && ctest --output-on-failure --timeout 600) &&
      cmake --build "$2" --target platformer_package' _ "$work" "$out" \
    "$KASTREL_SDK/${folder[$platform]}/share/kastrel/toolchain.cmake" >"$work/platformer-$platform.log" 2>&1
  status=$?
  summary=$(grep -h "frames compared" "$work/platformer-$platform.log" | tail -1)
  check "the platformer for $platform from its own folder: built, its session verified, packaged ($(seconds "$t") s) ${summary:+[$summary]}" \
    $status "$work/platformer-$platform.log"
  no_paths_into_hidden "$out"
  check "the platformer's $platform build names no path into the source tree or a cache" $?
  for package in "$out"/packages/*.{gz,zip}; do
    [[ -f $package ]] && say "package $(basename "$package"): $(du -k "$package" | cut -f1) KiB"
  done
done

# 5. The packages as a player gets them.
cd "$work"
mkdir -p linux-player && tar -xzf "$game"/build/linux/packages/mygame-linux-x86_64.tar.gz -C linux-player
outside=""
for file in linux-player/mygame/mygame linux-player/mygame/lib/*; do
  outside+=$(ldd "$file" 2>&1 | grep -v -E "$work/linux-player/mygame/|linux-vdso|ld-linux-x86-64|lib(c|m|dl|pthread|rt|resolv|util)\.so|statically linked|^$file:" || true)
done
[[ -z $outside ]]
check "ldd: the Linux package's program and libraries need nothing outside the folder but the C library's own" $?
[[ -n $outside ]] && echo "$outside" | head -10
said=$(cd / && timeout 60 xvfb-run -a "$work/linux-player/mygame/mygame" 2>&1)
check "the Linux package, unpacked elsewhere, plays its round in a window under Xvfb (said: ${said//$'\n'/ })" \
  $([[ $said == *caught* ]] && echo 0 || echo 1)

if command -v wine >/dev/null && command -v x86_64-w64-mingw32-objdump >/dev/null; then
  mkdir -p windows-player && (cd windows-player && cmake -E tar xf "$game"/build/windows/packages/mygame-windows-x86_64.zip)
  exe=windows-player/mygame/mygame.exe
  x86_64-w64-mingw32-objdump -p "$exe" >pe.txt
  grep -q "^Subsystem.*(Windows GUI)" pe.txt
  check "the Windows program is a GUI program (no console window)" $?
  dlls=$(sed -nE 's/^\s*DLL Name: (.*)$/\1/p' pe.txt | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
  strange=$(for dll in $dlls; do
    [[ $dll =~ ^(kernel32|user32|gdi32|winmm|imm32|ole32|oleaut32|version|setupapi|shell32|advapi32|msvcrt|cfgmgr32|hid|dinput8|dxgi|api-ms-win-.*)\.dll$ ]] || echo "$dll"
  done)
  [[ -z $strange ]]
  check "the Windows program imports system DLLs only ($dlls)" $?
  ls windows-player/mygame/data/fonts/DejaVuSans.ttf windows-player/mygame/LICENSES/libsdl2.txt >/dev/null
  check "the Windows package carries data\\, the default font and the licences" $?
  # A prefix of its own with no Z: drive: the player's machine, where nothing of this one is.
  cp -a "$WINEPREFIX" player-wine && rm -f player-wine/dosdevices/z: &&
    ln -sfn "$work/windows-player" player-wine/dosdevices/d:
  t=$(date +%s)
  (cd windows-player/mygame && WINEPREFIX=$work/player-wine timeout 120 xvfb-run -a wine 'D:\mygame\mygame.exe') \
    >wine-run.log 2>&1
  check "the Windows package plays its round under Wine with no Z: drive ($(seconds "$t") s)" $? wine-run.log
else
  say "skipped: the Windows package's checks (Wine or MinGW's objdump is missing)"
fi

# grep -c reads the whole listing: grep -q would stop early and unzip die of a closed pipe.
unzip -l "$game"/build/web/packages/mygame-web.zip | grep -c " index.html$" >/dev/null
check "the page's zip has index.html at its root" $?
timeout 600 python3 "$KASTREL_SDK/wasm32-web/lib/cmake/kastrel/kastrel_page_replay.py" "$game"/build/web/packages/mygame-web \
  "$game"/tests/first-round.kst >page.log 2>&1
status=$?
[[ $status -eq 77 ]] && say "skipped: the page in Chromium (Chromium is missing)" ||
  check "the page folder, served as plain files, plays the template's session in headless Chromium" $status page.log

# 6. Bad input: a clear refusal at configure time, and no package.
bad() { # what expected-words sed-expression
  rm -rf "$work/bad" && cp -R "$game" "$work/bad" && rm -rf "$work/bad/build"
  sed -i -E "$3" "$work/bad/CMakeLists.txt"
  local said status=0
  said=$(cd "$work/bad" && timeout 300 cmake --preset linux 2>&1) || status=$?
  said=$(echo "$said" | tr '\n' ' ' | tr -s ' ')  # CMake wraps its messages
  [[ $status -ne 0 && $said == *"$2"* && ! -e $work/bad/build/linux/packages ]]
  check "refused: $1" $? 
  [[ $status -ne 0 && $said == *"$2"* ]] || echo "$said" | tail -8
}
mkdir -p "$work/elsewhere"
bad "a DATA path that is missing" "does not exist" 's/DATA data/DATA data nothere/'
bad "a DATA path outside the game's folder" "is not inside the game's folder" 's|DATA data|DATA data ../elsewhere|'
bad "a name a file system refuses" "is not a file name every system takes" 's/kastrel_add_game\(mygame /kastrel_add_game(mygame NAME "my:game" /'
bad "a missing icon" "is not a file" 's/DATA data/DATA data ICON icon.png/'
bad "a kit of another version" "compatible with requested version" 's/find_package\(kastrel [0-9.]+ /find_package(kastrel 0.2 /'
bad "the kit's package of another platform" "is Kastrel for windows, and this build is for linux" \
  "s|find_package\\(kastrel ([0-9.]+) CONFIG REQUIRED\\)|find_package(kastrel \\1 CONFIG REQUIRED PATHS $KASTREL_SDK/x86_64-windows NO_DEFAULT_PATH)|"

# 7. A game's own pad test compiles from the kit alone on every platform.
mkdir -p "$work/padcheck"
cat >"$work/padcheck/CMakeLists.txt" <<'TEXT'
cmake_minimum_required(VERSION 3.25)
project(padcheck CXX)
find_package(kastrel CONFIG REQUIRED)
add_library(padcheck OBJECT pad.cpp)
target_link_libraries(padcheck PRIVATE kastrel::kastrel)
TEXT
printf '%s\n' '#include <kastrel/kastrel.h>' '#include <kastrel/device/sdl/virtual_pad.h>' \
  'int pressed() { KASTREL::TESTING::VIRTUALPAD PAD; PAD.PRESS(KASTREL::PAD::START); return PAD.PLUGGED(); }' \
  >"$work/padcheck/pad.cpp"
for platform in linux windows web; do
  timeout 600 bash -c 'cmake -S "$1" -B "$1/build-$2" -G Ninja --toolchain "$3" && cmake --build "$1/build-$2"' \
    _ "$work/padcheck" "$platform" "$KASTREL_SDK/${folder[$platform]}/share/kastrel/toolchain.cmake" \
    >"$work/pad-$platform.log" 2>&1
  check "a pad test including kastrel/device/sdl/virtual_pad.h compiles from the $platform kit" $? "$work/pad-$platform.log"
done

say "$passed passed, $failures failed"
echo "$passed passed, $failures failed"
((failures == 0))
