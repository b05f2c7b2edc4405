#!/usr/bin/env bash
# Builds the libraries the engine links for the Web from Debian's own source packages (the
# versions the Linux build uses), as static WebAssembly libraries with Emscripten, once: the result
# lives in
#   ~/.cache/kastrel/web-deps/<versions>/   (KASTREL_WEB_DEPS_CACHE moves the cache)
# and later runs only print that folder. Emscripten's own ports download their sources and are
# not used. SDL2_mixer plays WAV, OGG, FLAC and MP3 through the decoders in its own source.
set -Eeuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/debian-source.sh"
jobs=${JOBS:-2}
packages=(libsdl2 libsdl2-mixer freetype libsdl2-ttf zlib libdeflate pugixml libzstd nlohmann-json3)
declare -A dev=([libsdl2]=libsdl2-dev [libsdl2-mixer]=libsdl2-mixer-dev [freetype]=libfreetype-dev
  [libsdl2-ttf]=libsdl2-ttf-dev [zlib]=zlib1g-dev [libdeflate]=libdeflate-dev
  [pugixml]=libpugixml-dev [libzstd]=libzstd-dev [nlohmann-json3]=nlohmann-json3-dev)
declare -A version
debian_source_versions "${packages[@]}"
# The folder's name changes with a version or with the recipe, so either rebuilds: raise the
# recipe's number whenever the steps below change what they build.
recipe=3
tag="$tag-r$recipe"
cache=${KASTREL_WEB_DEPS_CACHE:-$HOME/.cache/kastrel/web-deps}
# `tools/build-web-deps.sh sdl-gl`: SDL alone with its OpenGL ES renderer (WebGL), for the
# benchmark's rival page only; the games' SDL leaves GL out.
variant=${1:-}
[[ -z $variant || $variant == sdl-gl ]] || { echo "web-deps: unknown variant '$variant'" >&2; exit 2; }
prefix=$cache/$tag${variant:+-$variant}
if [[ -f $prefix/.complete ]]; then
  echo "$prefix"
  exit 0
fi

debian_source_lists web-deps || exit 1

work=$cache/work-$tag${variant:+-$variant}
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
log=$work/build.log
echo "web-deps: building into $prefix (log: $log)" >&2

fetch() { # package -> prints the unpacked source folder
  debian_source_fetch "$1" "${version[$1]}" "$work/src-$1" "$log"
}
configure() { # name source-folder cmake-arguments...
  local name=$1 src=$2
  shift 2
  echo "web-deps: $name" >&2
  emcmake cmake -S "$src" -B "$work/build-$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >>"$log" 2>&1
}
build() { # name source-folder cmake-arguments...
  configure "$@"
  cmake --build "$work/build-$1" -j "$jobs" >>"$log" 2>&1
  cmake --install "$work/build-$1" >>"$log" 2>&1
}
trap 'echo "web-deps: failed; the end of $log:" >&2; tail -20 "$log" >&2' ERR

if [[ $variant == sdl-gl ]]; then
  src=$(fetch libsdl2)
  build sdl2 "$src" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_PTHREADS=OFF
  trap - ERR
  rm -rf "$work"
  touch "$prefix/.complete"
  echo "$prefix"
  exit 0
fi

# zlib: its C files, built here (its CMake file asks for a Windows resource file Debian's source
# leaves out).
src=$(fetch zlib)
echo "web-deps: zlib" >&2
mkdir -p "$work/build-zlib" "$prefix/include" "$prefix/lib"
for c in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
  inftrees trees uncompr zutil; do
  emcc -O2 -DHAVE_UNISTD_H -c "$src/$c.c" -o "$work/build-zlib/$c.o"
done
emar rcs "$prefix/lib/libz.a" "$work"/build-zlib/*.o
cp "$src/zlib.h" "$src/zconf.h" "$prefix/include/"

# libdeflate 1.14 has only a Makefile: its library is a handful of C files, built here.
src=$(fetch libdeflate)
echo "web-deps: libdeflate" >&2
mkdir -p "$work/build-libdeflate"
for c in "$src"/lib/*.c; do
  emcc -O2 -I"$src" -c "$c" -o "$work/build-libdeflate/$(basename "$c" .c).o"
done
emar rcs "$prefix/lib/libdeflate.a" "$work"/build-libdeflate/*.o
cp "$src/libdeflate.h" "$prefix/include/"
mkdir -p "$prefix/lib/pkgconfig"
printf 'prefix=%s\nName: libdeflate\nDescription: DEFLATE compression\nVersion: %s\nLibs: -L${prefix}/lib -ldeflate\nCflags: -I${prefix}/include\n' \
  "$prefix" "${version[libdeflate]%%-*}" >"$prefix/lib/pkgconfig/libdeflate.pc"

# FreeType with the font drivers a game's TrueType and OpenType fonts need (and both renderers, the
# hinters and glyph names): the bitmap, Type 1 and SDF modules only weigh down the page.
# Its smooth rasteriser follows a curve in fixed steps where the processor has SSE2 (every x86-64,
# so Linux and Windows) and by adaptive halving elsewhere, and the two give a few pixels of a
# curved glyph different coverage. With SSE2 on WebAssembly's SIMD, as the engine itself is built,
# the page takes the x86-64 way and draws text pixel for pixel as Linux and Windows do.
src=$(fetch freetype)
sed -i -E '/(t1|t1cid|pfr|t42|winfnt|pcf|bdf)_driver_class|sdf_renderer_class/d' \
  "$src/include/freetype/config/ftmodule.h"
build freetype "$src" -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON \
  -DFT_DISABLE_BROTLI=ON -DFT_REQUIRE_ZLIB=ON "-DCMAKE_C_FLAGS=-msimd128 -msse2"

# SDL without OpenGL: the engine presents through the canvas's 2D surface, and the GL renderer
# and WebGL glue would only weigh down the page.
src=$(fetch libsdl2)
build sdl2 "$src" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_PTHREADS=OFF \
  -DSDL_OPENGL=OFF -DSDL_OPENGLES=OFF

src=$(fetch libsdl2-mixer)
build mixer "$src" -DSDL2MIXER_VENDORED=OFF -DSDL2MIXER_SAMPLES=OFF -DSDL2MIXER_CMD=OFF \
  -DSDL2MIXER_MIDI=OFF -DSDL2MIXER_MOD=OFF -DSDL2MIXER_OPUS=OFF \
  -DSDL2MIXER_VORBIS=STB -DSDL2MIXER_FLAC=ON -DSDL2MIXER_FLAC_DRFLAC=ON -DSDL2MIXER_FLAC_LIBFLAC=OFF \
  -DSDL2MIXER_MP3=ON -DSDL2MIXER_MP3_DRMP3=ON -DSDL2MIXER_MP3_MPG123=OFF -DSDL2MIXER_WAVE=ON

src=$(fetch libsdl2-ttf)
build ttf "$src" -DSDL2TTF_VENDORED=OFF -DSDL2TTF_SAMPLES=OFF -DSDL2TTF_HARFBUZZ=OFF

src=$(fetch pugixml)
build pugixml "$src" -DPUGIXML_BUILD_TESTS=OFF

src=$(fetch libzstd)
build zstd "$src/build/cmake" -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_PROGRAMS=OFF \
  -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF

# Headers only: its CMake package is what the engine's build looks for.
src=$(fetch nlohmann-json3)
build json "$src" -DJSON_BuildTests=OFF -DJSON_Install=ON

trap - ERR
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
