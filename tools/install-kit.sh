#!/usr/bin/env bash
# The parts of the kit beside its three platform folders (make install-sdk): kastrel-new and its
# template, whose recorded session is made here by playing the template's round on Linux.
# Usage: tools/install-kit.sh KIT   (KIT/x86_64-linux must be installed already)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kit=$1
share=$kit/share/kastrel
version=$(sed -nE 's/^project\(kastrel VERSION ([0-9]+)\.([0-9]+)\..*/\1.\2/p' "$root/CMakeLists.txt")
[[ -n $version ]] || { echo "install-kit: no version in CMakeLists.txt" >&2; exit 1; }
rm -rf "$share/template"
mkdir -p "$kit/bin" "$share"
cp -R "$root/kit/template" "$share/template"
mkdir -p "$share/template/tests"  # the recorded round goes here (git keeps no empty folder)
install -m 755 "$root/kit/kastrel-new" "$kit/bin/kastrel-new"
echo "$version" >"$share/VERSION"
cp "$root/kit/README.txt" "$kit/README.txt"

# The template's first session: one round (it ends by itself after ten seconds) played in a
# private Xvfb, paced at 60 passes a second as a player's would be (a page replays one pass an
# animation frame), recorded by the kit's own Linux build.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$kit/bin/kastrel-new" "$work/round" >/dev/null
: >"$work/round/tests/first-round.kst"  # named by the CMakeLists; written below
cmake -S "$work/round" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  --toolchain "$kit/x86_64-linux/share/kastrel/toolchain.cmake" >"$work/log" 2>&1 &&
  cmake --build "$work/build" >>"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
status=0
(cd "$work" && KASTREL_RECORD="$work/session.kst" SDL_AUDIODRIVER=dummy \
  XDG_DATA_HOME="$work/saves" timeout 120 xvfb-run -a "$work/build/round") >>"$work/log" 2>&1 || status=$?
if [[ $status -ne 0 || $(stat -c %s "$work/session.kst" 2>/dev/null || echo 0) -le 16 ]]; then
  cat "$work/log" >&2
  echo "install-kit: the template's round could not be recorded (status $status)" >&2
  exit 1
fi
cp "$work/session.kst" "$share/template/tests/first-round.kst"
echo "install-kit: $kit (Kastrel $version: x86_64-linux, x86_64-windows, wasm32-web, bin/kastrel-new)"
