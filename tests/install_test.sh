#!/usr/bin/env bash
# End to end, as a new user would: `make install` into a temporary prefix, which is then moved
# elsewhere; every C++ block of docs/guide compiled alone against it; the game of the README
# built with CMake and with pkg-config against the moved tree, and each run on the null driver.
# Usage: tests/install_test.sh SOURCE_DIR BUILD_DIR   (BUILD_DIR is kept for faster reruns)
set -euo pipefail
src=$(cd "$1" && pwd)
build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

args=""
if command -v ccache >/dev/null; then
  args="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi
make -C "$src" --no-print-directory install BUILD="$build" PREFIX="$tmp/installed" \
  CMAKE_ARGS="$args" JOBS=2 >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log"; exit 1; }
mv "$tmp/installed" "$tmp/moved"
prefix=$tmp/moved

# Every ```cpp block of the guide is a whole translation unit: each compiles alone against the
# installed headers, so a renamed call fails here and not in a reader's hands.
chapters=("$src"/docs/guide/*.md)
[[ -f ${chapters[0]} ]] || { echo "no guide in $src/docs/guide" >&2; exit 1; }
mkdir "$tmp/blocks"
awk -v dir="$tmp/blocks" '
  FNR == 1 { name = FILENAME; sub(".*/", "", name) }
  /^```cpp[[:space:]]*$/ && !out {  # #line: the compiler names the chapter and its line
    out = sprintf("%s/%s-%d.cpp", dir, name, FNR + 1)
    printf "#line %d \"docs/guide/%s\"\n", FNR + 1, name > out
    next
  }
  /^```/ && out { close(out); out = ""; next }
  out { print > out }' "${chapters[@]}"
blocks=0 broken=0
for block in "$tmp/blocks"/*.cpp; do
  [[ -f $block ]] || continue
  blocks=$((blocks + 1))
  if ! timeout 120 c++ -std=c++20 -fsyntax-only -Wall -Werror -I"$prefix/include" "$block" >"$tmp/block.log" 2>&1; then
    head -20 "$tmp/block.log" >&2
    broken=$((broken + 1))
  fi
done
((blocks > 0)) || { echo "the guide has no \`\`\`cpp block" >&2; exit 1; }
((broken == 0)) || { echo "$broken of $blocks guide blocks do not compile" >&2; exit 1; }

# The README's files, each the fenced block after its "<!-- file: NAME -->" line.
mkdir "$tmp/game"
awk -v dir="$tmp/game" '
  /^<!-- file: .* -->$/ { name = $3; next }
  /^```/ { if (out) { close(out); out = ""; name = "" } else if (name) out = dir "/" name; next }
  out { print > out }' "$src/README.md"
for file in game.cpp CMakeLists.txt; do
  [[ -s "$tmp/game/$file" ]] || { echo "README has no $file block" >&2; exit 1; }
done

# The installed games are the programs themselves, and find their data from any folder.
for game in kastrel-demo kastrel-breakout kastrel-platformer; do
  [[ "$(head -c 4 "$prefix/bin/$game")" == $'\x7fELF' ]] || { echo "bin/$game is no program" >&2; exit 1; }
done
for game in breakout platformer; do
  status=0
  said=$(cd / && VOXGFX=null SDL_AUDIODRIVER=dummy XDG_DATA_HOME=$tmp/saves timeout 5 \
    "$prefix/bin/kastrel-$game" 2>&1) || status=$?
  [[ $status -eq 124 && "$said" != *$game:* ]] ||
    { echo "installed $game ended with $status, saying: $said" >&2; exit 1; }
done

# Runs the game on the null driver: it must end by itself with status 0, say whether it found
# its picture ($2: yes or no) and count its runs ($3) in its settings file.
export XDG_DATA_HOME=$tmp/saves
run_game() {
  local output status=0 said_no=no
  output=$(cd "$tmp/game" && VOXGFX=null timeout 60 "$1" 2>&1) || status=$?
  [[ "$output" == *"no picture ("?*")"* ]] && said_no=yes
  if [[ $status -ne 0 || $said_no == "$2" || "$output" != *"played for"*", run $3"* ]] ||
     ! grep -qx "runs=$3" "$XDG_DATA_HOME/kastrel-example/mygame/settings.txt"; then
    echo "$1 ended with status $status, printing: $output" >&2
    exit 1
  fi
}

cmake -S "$tmp/game" -B "$tmp/game/build" -DCMAKE_PREFIX_PATH="$prefix" >"$tmp/cmake.log" 2>&1 &&
  cmake --build "$tmp/game/build" >>"$tmp/cmake.log" 2>&1 || { cat "$tmp/cmake.log"; exit 1; }
run_game "$tmp/game/build/mygame" no 1

pcdir=$(dirname "$(find "$prefix" -name kastrel.pc)")
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs kastrel)
[[ "$flags" == *-std=c++20* && "$flags" == *"-I$prefix/"* ]] ||
  { echo "pkg-config flags miss C++20 or the moved prefix: $flags" >&2; exit 1; }
(cd "$tmp/game" && g++ game.cpp -o mygame $flags)
cp "$src/demo/images/ball.png" "$tmp/game/picture.png"
run_game "$tmp/game/mygame" yes 2
echo "install_test: installed, moved, $blocks guide blocks compiled, the game built with CMake and pkg-config, and run"
