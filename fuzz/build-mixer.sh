#!/usr/bin/env bash
# Builds SDL_mixer from Debian's source with the fuzzing instrumentation, as a static library in
# build/fuzz-mixer/install, configured as Debian ships it (WAV and AIFF, FLAC through libFLAC, Ogg
# Vorbis through vorbisfile, Opus, MP3 through mpg123; no MIDI or MOD, which the engine refuses).
# The codec libraries stay the system's, uninstrumented. apt-get source needs Debian's source
# list, which it adds when missing (as root; otherwise it prints the line to run).
# FUZZ_MIXER=1 fuzz/run.sh builds it once and links the sound target against it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/fuzz-mixer
mkdir -p "$work"
if [[ ! -d $work/src ]]; then
  . "$root/tools/debian-source.sh"
  debian_source_lists fuzz || exit 1
  rm -rf "$work/get"
  src=$(debian_source_fetch libsdl2-mixer "$(dpkg-query -W -f '${source:Version}' libsdl2-mixer-dev)" \
    "$work/get" /dev/null)
  mv "$src" "$work/src" && rm -rf "$work/get"
fi
flags="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined"
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_C_FLAGS="$flags" -DBUILD_SHARED_LIBS=OFF \
  -DCMAKE_INSTALL_PREFIX="$work/install" -DSDL2MIXER_SAMPLES=OFF -DSDL2MIXER_VENDORED=OFF \
  -DSDL2MIXER_DEPS_SHARED=OFF -DSDL2MIXER_CMD=OFF -DSDL2MIXER_MIDI=OFF -DSDL2MIXER_MOD=OFF \
  -DSDL2MIXER_FLAC_LIBFLAC=ON -DSDL2MIXER_FLAC_DRFLAC=OFF -DSDL2MIXER_VORBIS=VORBISFILE \
  -DSDL2MIXER_OPUS=ON -DSDL2MIXER_OPUS_SHARED=OFF -DSDL2MIXER_VORBIS_VORBISFILE_SHARED=OFF -DSDL2MIXER_MP3_MPG123=ON -DSDL2MIXER_MP3_DRMP3=OFF >"$work/configure.log"
cmake --build "$work/build" -j 2 >"$work/build.log"
cmake --install "$work/build" >/dev/null
echo "fuzz: instrumented SDL_mixer in $work/install"
