#!/usr/bin/env bash
# The layer check against a copy of kastrel/: clean it passes; with one violation of each kind
# planted at a time it fails and names it.
# Usage: tools/check_layers_test.sh [SOURCE_DIR]
set -euo pipefail
source_dir=$(cd "${1:-$(dirname "$0")/..}" && pwd)
checker=$source_dir/tools/check-layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -a "$source_dir/kastrel" "$work/kastrel"

failures=0
# check EXPECTED: runs the checker on the copy (a minute at most); EXPECTED is "pass" or a
# piece of the message it must fail with.
check() {
  local status=0 out
  out=$(timeout 60 "$checker" "$work" 2>&1) || status=$?
  if [[ $1 == pass ]]; then
    [[ $status -eq 0 ]] || { echo "FAIL: the clean copy fails: $out"; failures=$((failures + 1)); }
  elif [[ $status -ne 1 || $out != *"$1"* ]]; then
    echo "FAIL: status $status, no '$1' for $planted: $out"
    failures=$((failures + 1))
  fi
}
# plant FILE TEXT EXPECTED: the file with TEXT added to the copy, checked, then taken out.
plant() {
  planted=$1
  local folder
  folder=$(dirname "$work/$1")
  made=
  [[ -d $folder ]] || { mkdir -p "$folder" && made=$folder; }
  printf '%s\n' "$2" >"$work/$1"
  check "$3"
  rm -f "$work/$1"
  [[ -z $made ]] || rm -rf "$made"
}

planted=clean
check pass
plant kastrel/base/up.cpp '#include "kastrel/engine/engine.h"' 'which is above it'
plant kastrel/png/up.h '  #  include <kastrel/graphics/bitmap.h>' 'which is above it'
plant kastrel/sound/new.cpp 'int x;' 'has no place in the layer table'
plant kastrel/engine/driver.cpp '#include "kastrel/device/web/web_driver.h"' 'inside the driver'
plant kastrel/device/desktop/own.cpp '#include "kastrel/device/web/web_driver.h"' 'inside the driver'
plant kastrel/device/testing/drv.h '#include "kastrel/device/template/template_driver.h"' 'inside the driver'
plant kastrel/engine/core.cpp '#include "kastrel/device/sdl/sdl_input.h"' 'of the SDL core'
plant kastrel/graphics/core.cpp '#include "kastrel/device/sdl/scaling.h"' 'of the SDL core'
plant kastrel/world/os.cpp '#if defined(_WIN32)' 'tests for or includes the operating system'
plant kastrel/engine/os.h '#ifdef __EMSCRIPTEN__' 'tests for or includes the operating system'
plant kastrel/graphics/os.cpp '#include <unistd.h>' 'tests for or includes the operating system'
plant kastrel/device/detail/os.h '#if defined(__linux__)' 'tests for or includes the operating system'
for call in 'FILE* f = fopen("x", "r");' 'const char* v = std::getenv("HOME");' \
            'setenv("A", "b", 1);' 'FILE* p = popen("ls", "r");' 'int r = system("ls");' \
            'std::ifstream in("x");' 'std::ofstream out{"x"};' 'SDL_RWops* f = SDL_RWFromFile("x", "rb");' \
            'auto v = SDL_getenv("X");' 'TTF_Font* f = TTF_OpenFont("x", 9);'; do
  plant kastrel/world/call.cpp "$call" 'outside the platform layer (use kastrel/base/detail/platform.h)'
done
plant kastrel/device/sdl/call.cpp 'const char* v = getenv("HOME");' 'outside the platform layer'
# What is allowed stays allowed: the platform layer's own calls, a driver's own headers and the
# system in its folder, the core from sound and text, the driver list, a comment naming a call.
plant kastrel/base/platform_extra.cpp $'#include <unistd.h>\nFILE* f = fopen("x", "r");' pass
plant kastrel/device/web/own.cpp $'#include "kastrel/device/web/web_driver.h"\n#include <emscripten.h>' pass
plant kastrel/audio/core.cpp '#include "kastrel/device/sdl/file_stream.h"' pass
plant kastrel/engine/comment.cpp '  // never getenv("X") here' pass
plant kastrel/world/call_test.cpp 'FILE* f = fopen("x", "r");' pass
[[ $failures -eq 0 ]] && echo "check_layers_test: every kind of violation found, the clean tree passes"
exit $((failures > 0))
