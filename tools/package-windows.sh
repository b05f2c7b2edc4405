#!/usr/bin/env bash
# Packs a Windows build into a zip a player unpacks anywhere: the programs (linked statically,
# so no DLL goes with them), their pictures and sounds under data/ (where PATHS::DATA() looks
# beside a program), the default font with its licence, and a README.txt.
# Usage: tools/package-windows.sh BUILD_DIR OUT.zip
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
out=$(realpath -m "$2")
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
licence=/usr/share/doc/fonts-dejavu-core/copyright
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
top=$stage/kastrel
mkdir -p "$top/data/fonts"
cp "$build/demo/kastrel-demo.exe" "$top/kastrel-demo.exe"
cp "$build/examples/breakout/breakout.exe" "$top/kastrel-breakout.exe"
cp "$build/tools/kastrel-replay.exe" "$top/kastrel-replay.exe"
x86_64-w64-mingw32-strip "$top"/*.exe
cp -r "$root/demo/images" "$root/examples/breakout/sounds" "$top/data/"
cp "$font" "$top/data/fonts/DejaVuSans.ttf"
cp "$licence" "$top/data/fonts/DejaVuSans-LICENSE.txt"
# The platformer in a folder of its own: its sounds share names with Breakout's.
if [[ -f $build/examples/platformer/platformer.exe ]]; then
  mkdir -p "$top/platformer/data"
  cp "$build/examples/platformer/platformer.exe" "$top/platformer/kastrel-platformer.exe"
  x86_64-w64-mingw32-strip "$top/platformer/kastrel-platformer.exe"
  cp -r "$root"/examples/platformer/{maps,images,sounds} "$top/data/fonts" "$top/platformer/data/"
fi
sed 's/$/\r/' >"$top/README.txt" <<'TEXT'
Kastrel for Windows (64-bit)

kastrel-breakout.exe   Breakout: the mouse or the arrow keys move the bat, Escape ends.
kastrel-demo.exe       The engine's demonstration game: Escape ends.
platformer\kastrel-platformer.exe
                       A platformer: the arrow keys run, Space jumps, Escape ends.
kastrel-replay.exe     Replays a recorded session of a game and checks its frames:
                         kastrel-replay --verify SESSION kastrel-breakout.exe
                       Record one by starting a game with KASTREL_RECORD=FILE set.

The programs need no installation and no DLLs: unpack the folder anywhere and double-click.
They find their pictures, sounds and font in data\ beside them; settings and saves go to
%APPDATA%\<maker>\<game>\.

The font in data\fonts is DejaVu Sans; its licence is data\fonts\DejaVuSans-LICENSE.txt.
TEXT
rm -f "$out"
mkdir -p "$(dirname "$out")"
(cd "$stage" && cmake -E tar cf "$out" --format=zip kastrel)
echo "package-windows: $out ($(du -k "$out" | cut -f1) KiB)"
