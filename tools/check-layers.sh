#!/usr/bin/env bash
# Fails when kastrel/ breaks its layering:
#  - a folder includes a header of a layer above it (dependencies point down only: engine ->
#    graphics/png/math -> device -> base, and math and png use nothing above base);
#  - a header of a driver's folder (kastrel/device/desktop, web, template) is included from
#    outside that driver, the device layer's list of drivers aside;
#  - the SDL core (kastrel/device/sdl) is included from outside the drivers, sound and text;
#  - a test for the operating system, or a system header, outside the platform layer and the
#    drivers' and the core's folders;
#  - a file opened, the environment read or set, or a program run outside the platform layer
#    (kastrel/base/platform*): everything else goes through kastrel/base/detail/platform.h.
# Tests and testing/ helpers of a folder keep to its layer and to the drivers' privacy too, but
# may use the system directly.
# Usage: tools/check-layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The folders each folder may include besides its own. kastrel/boolean.h counts as base;
# kastrel/kastrel.h is for games only. A new folder must be added here.
declare -A allowed=(
  [base]=""
  [math]="base"
  [png]="base"
  [device]="base"
  [graphics]="base device math png"
  [engine]="base device math png graphics"
  # Worlds: tile maps, the camera and tile collision, drawn through graphics. Their tests run a
  # real frame loop (a map in clipped paints), so, like sound, they sit beside the engine.
  [world]="base device math png graphics engine"
  # Sound plays through the SDL core and reports through base; its tests run a real frame loop,
  # so it sits beside the engine and may include all below it.
  [audio]="base device math png graphics engine"
)
# The drivers' folders: each is private to itself.
drivers="desktop web template"
# Who may include the SDL core besides itself: the drivers, sound and text.
core_users='^kastrel/(device/(desktop|web|template)/|audio/|graphics/font[^/]*$)'
# The device layer's list of drivers names every driver.
driver_list='kastrel/device/driver_list.cpp'
# The core's one header for games: the pad their tests plug in (kastrel.h includes it).
core_public='kastrel/device/sdl/virtual_pad.h'

status=0
fail() {
  echo "check-layers: $*" >&2
  status=1
}

for dir in kastrel/*/; do
  folder=$(basename "$dir")
  if [[ -z "${allowed[$folder]+set}" ]]; then
    fail "kastrel/$folder has no place in the layer table of $0"
    continue
  fi
  while IFS=: read -r file line target; do
    used=${target#kastrel/}
    used=${used%%/*}
    case "$used" in
      boolean.h) ;;
      "$folder") ;;
      *) [[ " ${allowed[$folder]} " == *" $used "* ]] ||
           fail "$file:$line: kastrel/$folder includes $target, which is above it" ;;
    esac
    if [[ $target =~ ^kastrel/device/([a-z_]+)/ && " $drivers " == *" ${BASH_REMATCH[1]} "* ]]; then
      owner=kastrel/device/${BASH_REMATCH[1]}/
      [[ $file == "$owner"* || $file == "$driver_list" ]] ||
        fail "$file:$line: includes $target, inside the driver $owner, from outside it"
    elif [[ $target == kastrel/device/sdl/* && $file != kastrel/device/sdl/* &&
            $target != "$core_public" && $file != "$driver_list" ]]; then
      [[ $file =~ $core_users ]] ||
        fail "$file:$line: includes $target of the SDL core, which only the drivers, sound and text use"
    fi
  done < <(grep -rnoE '^\s*#\s*include\s*["<]kastrel/[^">]+' "$dir" |
           sed -E 's/^([^:]+):([0-9]+):.*["<](kastrel\/.*)$/\1:\2:\3/')
done

# Only the platform layer knows the operating system, and the drivers and the SDL core guard
# their desktop code in their own folders: nowhere else tests for a system or includes a
# system's own headers.
os_test='^\s*#\s*(if|elif|ifdef|ifndef)\b.*\b(_WIN32|_WIN64|__WIN32__|__MINGW32__|__MINGW64__|_MSC_VER|__CYGWIN__|__linux__|__linux|__gnu_linux__|__unix__|__unix|__APPLE__|__MACH__|__FreeBSD__|__ANDROID__|__EMSCRIPTEN__)\b'
os_header='^\s*#\s*include\s*<(unistd|fcntl|pwd|dlfcn|dirent|poll|windows|winbase|shlobj|io|direct|emscripten|sys/[a-z_]+)\.h>'
while IFS=: read -r file line _; do
  case "$file" in
    kastrel/base/platform*.cpp | kastrel/base/detail/platform*.h) continue ;;
    kastrel/device/sdl/* | kastrel/device/desktop/* | kastrel/device/web/* | kastrel/device/template/*) continue ;;
  esac
  fail "$file:$line: tests for or includes the operating system outside the platform layer (kastrel/base/platform*)"
done < <(grep -rnE "$os_test|$os_header" kastrel --include='*.cpp' --include='*.h' |
         grep -vE '(_test\.cpp|/testing/)')

# Files, the environment and other programs are the platform layer's: it refuses FIFOs and
# devices, reads UTF-8 paths and names on every system and keeps saves whole.
system_call='(^|[^A-Za-z0-9_.>])(std::|::)?(fopen|freopen|_wfopen|getenv|secure_getenv|_wgetenv|SDL_getenv|setenv|unsetenv|putenv|SDL_setenv|popen|system|SDL_RWFromFile|TTF_OpenFont|TTF_OpenFontIndex|Mix_LoadWAV|Mix_LoadMUS|IMG_Load)[[:space:]]*\(|std::(i|o|)fstream\b'
while IFS=: read -r file line text; do
  case "$file" in
    kastrel/base/platform* | kastrel/base/detail/platform*) continue ;;
  esac
  # Comments may name the calls.
  [[ $text =~ ^[[:space:]]*// ]] && continue
  fail "$file:$line: opens a file, reads or sets the environment or runs a program outside the platform layer (use kastrel/base/detail/platform.h)"
done < <(grep -rnE "$system_call" kastrel --include='*.cpp' --include='*.h' |
         grep -vE '^[^:]*(_test\.cpp|/testing/)')

[[ $status -eq 0 ]] &&
  echo "check-layers: every include points down, drivers keep to themselves; only the platform layer knows the system"
exit $status
