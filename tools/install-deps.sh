#!/usr/bin/env bash
# Installs the Debian packages a Kastrel build needs, and only those missing.
# Usage: tools/install-deps.sh GROUP...   (groups: build test demo bench windows web kit)
# As root it runs apt-get itself; otherwise it prints the one line to run and fails.
set -euo pipefail

declare -A groups=(
  [build]="g++ cmake ninja-build pkg-config make zlib1g-dev libdeflate-dev libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core libsdl2-mixer-dev libpugixml-dev nlohmann-json3-dev libzstd-dev"
  [test]="googletest libgtest-dev libgmock-dev libpng-dev clang libclang-rt-14-dev xvfb xdotool x11-utils x11-apps libx11-dev libxext-dev libxfixes-dev libncurses-dev vorbis-tools flac weston libweston-10-dev python3 fonts-wqy-microhei tiled"
  [demo]="xvfb xdotool libx11-dev"
  # Cross-building for Windows from Debian's source packages, and running the result under Wine.
  [windows]="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 dpkg-dev fonts-dejavu-core xvfb xdotool"
  # Building for the Web with Emscripten from Debian's source packages, and testing in Chromium.
  [web]="emscripten chromium dpkg-dev fonts-dejavu-core python3 fonttools vorbis-tools"
  # A game's packages: Linux's libraries given run paths beside the program.
  [kit]="patchelf file binutils-mingw-w64-x86-64"
  [bench]="libbenchmark-dev libpixman-1-dev libpng-dev libspng-dev libstb-dev libsfml-dev liballegro5-dev libgl-dev xvfb python3-pygame valgrind"
)

wanted=()
for group in "$@"; do
  [[ -n "${groups[$group]+set}" ]] || { echo "install-deps: unknown group '$group'" >&2; exit 2; }
  read -ra pkgs <<<"${groups[$group]}"
  wanted+=("${pkgs[@]}")
done

missing=()
for pkg in $(printf '%s\n' "${wanted[@]}" | sort -u); do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "Kastrel needs these Debian packages. Run this, then try again:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq </dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
