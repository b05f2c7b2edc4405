#!/usr/bin/env bash
# Adds the libraries the tile maps need (pugixml, zstd, nlohmann-json) to a folder of cross-built
# libraries, from Debian's own source packages, as static libraries:
#   tools/build-world-deps.sh windows|web <prefix>
# tools/build-windows-deps.sh calls it with its folder (the Web build takes them into its own). Each library
# leaves a stamp naming its version and recipe in <prefix>, so the libraries already there are
# never rebuilt and a new version or recipe rebuilds only that library. Messages go to stderr.
set -Eeuo pipefail
platform=$1 prefix=$2
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
# Raise a library's recipe number whenever its steps below change what they build.
packages=(pugixml libzstd nlohmann-json3)
declare -A dev=([pugixml]=libpugixml-dev [libzstd]=libzstd-dev [nlohmann-json3]=nlohmann-json3-dev)
declare -A recipe=([pugixml]=1 [libzstd]=1 [nlohmann-json3]=1)
declare -A version stamp
missing=()
for p in "${packages[@]}"; do
  version[$p]=$(dpkg-query -W -f '${source:Version}' "${dev[$p]}")
  stamp[$p]="$prefix/.built-$p-${version[$p]//[:~]/_}-r${recipe[$p]}"
  [[ -f ${stamp[$p]} ]] || missing+=("$p")
done
((${#missing[@]})) || exit 0

work=$prefix/../work-world-$(basename "$prefix")
rm -rf "$work"
mkdir -p "$work"
log=$work/build.log
trap 'echo "$platform-deps: failed; the end of $log:" >&2; tail -20 "$log" >&2' ERR

fetch() { # package -> prints the unpacked source folder
  local dir=$work/src-$1
  mkdir -p "$dir"
  # A security update's source may be missing from the source lists: then the release's, whose
  # upstream version is the same.
  (cd "$dir" && { apt-get source -qq --only-source "$1=${version[$1]}" ||
    apt-get source -qq --only-source "$1"; } >>"$log" 2>&1) || return 1
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -1
}
build() { # name source-folder cmake-arguments...
  local name=$1 src=$2
  shift 2
  echo "$platform-deps: $name" >&2
  local cmake=(cmake -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
    -DKASTREL_WINDOWS_DEPS="$prefix")
  [[ $platform == web ]] && cmake=(emcmake cmake -DCMAKE_FIND_ROOT_PATH="$prefix")
  "${cmake[@]}" -S "$src" -B "$work/build-$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF \
    "$@" >>"$log" 2>&1
  cmake --build "$work/build-$name" -j "$jobs" >>"$log" 2>&1
  cmake --install "$work/build-$name" >>"$log" 2>&1
}

for p in "${missing[@]}"; do
  src=$(fetch "$p")
  case $p in
    pugixml) build pugixml "$src" -DPUGIXML_BUILD_TESTS=OFF ;;
    # Only the library, single-threaded: the engine decompresses small map layers.
    libzstd) build zstd "$src/build/cmake" -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON \
      -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF \
      -DZSTD_LEGACY_SUPPORT=OFF ;;
    # Header-only: its headers and CMake package.
    nlohmann-json3) build json "$src" -DJSON_BuildTests=OFF -DJSON_Install=ON ;;
  esac
  touch "${stamp[$p]}"
done
trap - ERR
rm -rf "$work"
