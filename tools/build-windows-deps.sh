#!/usr/bin/env bash
# Builds the libraries the engine links for Windows from Debian's own source packages (the versions
# the Linux build uses), as static libraries, once: the result lives in
#   ~/.cache/kastrel/windows-deps/<versions>/   (KASTREL_WINDOWS_DEPS_CACHE moves the cache)
# and later runs only print that folder. SDL2_mixer plays WAV, OGG, FLAC and MP3 through the
# decoders in its own source, so no codec library is needed. apt-get source needs Debian's source
# lists, which it adds when missing (as root; otherwise it prints the line to run).
#   tools/build-windows-deps.sh benchmark   builds Google Benchmark (for `make bench-windows`)
# into a folder of its own beside them, the same way.
set -Eeuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/debian-source.sh"
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${JOBS:-2}
packages=(libsdl2 libsdl2-mixer freetype libsdl2-ttf zlib libdeflate)
[[ ${1:-} == benchmark ]] && packages=(benchmark)
declare -A dev=([libsdl2]=libsdl2-dev [libsdl2-mixer]=libsdl2-mixer-dev [freetype]=libfreetype-dev
  [libsdl2-ttf]=libsdl2-ttf-dev [zlib]=zlib1g-dev [libdeflate]=libdeflate-dev
  [benchmark]=libbenchmark-dev)
declare -A version
debian_source_versions "${packages[@]}"
# The folder's name changes with a version or with the recipe, so either rebuilds: raise the
# recipe's number whenever the steps below change what they build.
recipe=1
tag="$tag-r$recipe"
cache=${KASTREL_WINDOWS_DEPS_CACHE:-$HOME/.cache/kastrel/windows-deps}
prefix=$cache/$tag
if [[ -f $prefix/.complete ]]; then
  "$root/tools/build-world-deps.sh" windows "$prefix"
  echo "$prefix"
  exit 0
fi

debian_source_lists windows-deps || exit 1

work=$cache/work-$tag
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
log=$work/build.log
echo "windows-deps: building into $prefix (log: $log)" >&2

fetch() { # package -> prints the unpacked source folder
  debian_source_fetch "$1" "${version[$1]}" "$work/src-$1" "$log"
}
configure() { # name source-folder cmake-arguments...
  local name=$1 src=$2
  shift 2
  echo "windows-deps: $name" >&2
  cmake -S "$src" -B "$work/build-$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKASTREL_WINDOWS_DEPS="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >>"$log" 2>&1
}
build() { # name source-folder cmake-arguments...
  configure "$@"
  cmake --build "$work/build-$1" -j "$jobs" >>"$log" 2>&1
  cmake --install "$work/build-$1" >>"$log" 2>&1
}
trap 'echo "windows-deps: failed; the end of $log:" >&2; tail -20 "$log" >&2' ERR

if [[ ${packages[0]} == benchmark ]]; then
  src=$(fetch benchmark)
  # Debian's source reads its version from git no longer; its rules pass it in.
  v=${version[benchmark]#*:}
  build benchmark "$src" -DGIT_VERSION="${v%%-*}" -DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_GTEST_TESTS=OFF \
    -DBENCHMARK_ENABLE_WERROR=OFF -DBENCHMARK_ENABLE_LIBPFM=OFF
  packages=()
fi

if ((${#packages[@]})); then
  # zlib: only its static library (Debian's source leaves out the DLL's resource file).
  src=$(fetch zlib)
  configure zlib "$src"
  cmake --build "$work/build-zlib" -j "$jobs" --target zlibstatic >>"$log" 2>&1
  mkdir -p "$prefix/include" "$prefix/lib"
  cp "$src/zlib.h" "$work/build-zlib/zconf.h" "$prefix/include/"
  cp "$work/build-zlib/libzlibstatic.a" "$prefix/lib/libz.a"

  # libdeflate 1.14 has only a Makefile: its library is a handful of C files, built here.
  src=$(fetch libdeflate)
  echo "windows-deps: libdeflate" >&2
  mkdir -p "$work/build-libdeflate"
  for c in "$src"/lib/*.c "$src"/lib/x86/*.c; do
    x86_64-w64-mingw32-gcc-posix -O2 -I"$src" -c "$c" -o "$work/build-libdeflate/$(basename "$c" .c).o"
  done
  x86_64-w64-mingw32-ar rcs "$prefix/lib/libdeflate.a" "$work"/build-libdeflate/*.o
  cp "$src/libdeflate.h" "$prefix/include/"
  mkdir -p "$prefix/lib/pkgconfig"
  printf 'prefix=%s\nName: libdeflate\nDescription: DEFLATE compression\nVersion: %s\nLibs: -L${prefix}/lib -ldeflate\nCflags: -I${prefix}/include\n' \
    "$prefix" "${version[libdeflate]%%-*}" >"$prefix/lib/pkgconfig/libdeflate.pc"

  src=$(fetch freetype)
  build freetype "$src" -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON \
    -DFT_DISABLE_BROTLI=ON -DFT_REQUIRE_ZLIB=ON

  src=$(fetch libsdl2)
  build sdl2 "$src" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL2_DISABLE_SDL2MAIN=OFF

  src=$(fetch libsdl2-mixer)
  build mixer "$src" -DSDL2MIXER_VENDORED=OFF -DSDL2MIXER_SAMPLES=OFF -DSDL2MIXER_CMD=OFF \
    -DSDL2MIXER_MIDI=OFF -DSDL2MIXER_MOD=OFF -DSDL2MIXER_OPUS=OFF \
    -DSDL2MIXER_VORBIS=STB -DSDL2MIXER_FLAC=ON -DSDL2MIXER_FLAC_DRFLAC=ON -DSDL2MIXER_FLAC_LIBFLAC=OFF \
    -DSDL2MIXER_MP3=ON -DSDL2MIXER_MP3_DRMP3=ON -DSDL2MIXER_MP3_MPG123=OFF -DSDL2MIXER_WAVE=ON

  src=$(fetch libsdl2-ttf)
  build ttf "$src" -DSDL2TTF_VENDORED=OFF -DSDL2TTF_SAMPLES=OFF -DSDL2TTF_HARFBUZZ=OFF
fi

trap - ERR
rm -rf "$work"
touch "$prefix/.complete"
"$root/tools/build-world-deps.sh" windows "$prefix"
echo "$prefix"
