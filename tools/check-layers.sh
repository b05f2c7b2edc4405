#!/usr/bin/env bash
# Fails when a folder of kastrel/ includes a header of a layer above it.
# Dependencies point down only: engine -> graphics/png/math -> device -> base, and math and png
# use nothing above base. Tests and testing/ helpers of a folder keep to its layer too.
# It also fails on a test for the operating system, or a system header, outside the platform
# layer and the drivers' folders (tests and testing/ helpers may use the system directly).
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
  # Sound uses base only; its tests run a real frame loop, so it sits beside the engine.
  [audio]="base device math png graphics engine"
)

status=0
for dir in kastrel/*/; do
  folder=$(basename "$dir")
  if [[ -z "${allowed[$folder]+set}" ]]; then
    echo "check-layers: kastrel/$folder has no place in the layer table of $0" >&2
    status=1
    continue
  fi
  while IFS=: read -r file line target; do
    used=${target#kastrel/}
    used=${used%%/*}
    case "$used" in
      boolean.h) continue ;;
      "$folder") continue ;;
    esac
    if [[ " ${allowed[$folder]} " != *" $used "* ]]; then
      echo "check-layers: $file:$line: kastrel/$folder includes $target, which is above it" >&2
      status=1
    fi
  done < <(grep -rnoE '^\s*#\s*include\s*["<]kastrel/[^">]+' "$dir" |
           sed -E 's/^([^:]+):([0-9]+):.*["<](kastrel\/.*)$/\1:\2:\3/')
done

# Only the platform layer knows the operating system, and a driver's desktop guards in its own
# folder: nowhere else tests for a system or includes a system's own headers.
os_test='^\s*#\s*(if|elif|ifdef|ifndef)\b.*\b(_WIN32|_WIN64|__WIN32__|__MINGW32__|__MINGW64__|_MSC_VER|__CYGWIN__|__linux__|__linux|__gnu_linux__|__unix__|__unix|__APPLE__|__MACH__|__FreeBSD__|__ANDROID__|__EMSCRIPTEN__)\b'
os_header='^\s*#\s*include\s*<(unistd|fcntl|pwd|dlfcn|dirent|poll|windows|winbase|shlobj|io|direct|emscripten|sys/[a-z_]+)\.h>'
while IFS=: read -r file line _; do
  case "$file" in
    kastrel/base/platform*.cpp | kastrel/base/platform.h | kastrel/device/*/*) continue ;;
  esac
  echo "check-layers: $file:$line: tests for or includes the operating system outside the platform layer (kastrel/base/platform*)" >&2
  status=1
done < <(grep -rnE "$os_test|$os_header" kastrel --include='*.cpp' --include='*.h' |
         grep -vE '(_test\.cpp|/testing/)')
[[ $status -eq 0 ]] && echo "check-layers: every include points down; only the platform layer knows the system"
exit $status
