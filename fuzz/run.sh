#!/usr/bin/env bash
# Builds the fuzz targets with clang in build/fuzz and runs each: the PNG decoder, text and fonts,
# the sound loader, the session file reader and the tile map loaders (XML and JSON).
#   fuzz/run.sh smoke   FUZZ_RUNS PNG and session inputs (default 20000), FUZZ_TEXT_RUNS text
#                       inputs (default 3000) and FUZZ_AUDIO_RUNS sound inputs (default 20000)
#                       from fresh corpora, fixed seed, and FUZZ_MAP_RUNS maps of each form
#                       (default 20000): make test
#   fuzz/run.sh long    FUZZ_SECONDS seconds (default 60) each, corpora kept in build/fuzz/corpus*:
#                       make fuzz
# The PNG conformance suite, read in place, seeds the PNG corpus when present, beside pictures made
# by png_fuzz_seeds (every colour type and depth with every filter); PNG inputs run to
# FUZZ_MAX_LEN bytes (default 65536), well past the largest seed. fuzz/seeds seeds the session
# corpus, fuzz/seeds-tmx and fuzz/seeds-tmj the map corpora (maps the editor exported); the
# sound corpus starts from a short WAV file the target writes (and the same as OGG
# Vorbis and FLAC when oggenc and flac are installed). Exits non-zero when an input crashes,
# hangs or trips a sanitizer; the input is saved under build/fuzz/artifacts/.
set -euo pipefail

mode=${1:-smoke}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
testdata=${KASTREL_TESTDATA_DIR:-$root/../shared/testdata}

# FUZZ_MIXER=1: the sound target links an instrumented SDL_mixer (fuzz/build-mixer.sh builds it).
mixer_dir=
if [[ ${FUZZ_MIXER:-0} == 1 ]]; then
  "$root/fuzz/build-mixer.sh"
  mixer_dir=$root/build/fuzz-mixer/install
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKASTREL_BUILD_FUZZ=ON \
  -DKASTREL_FUZZ_MIXER_DIR="$mixer_dir" \
  -DKASTREL_BUILD_TESTS=OFF -DKASTREL_BUILD_DEMO=OFF -DKASTREL_WERROR=ON >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
cmake --build "$build" --target png_fuzz png_fuzz_seeds text_fuzz audio_fuzz session_fuzz tmx_fuzz tmj_fuzz -j 2 \
  >"$build.build.log" 2>&1 || { cat "$build.build.log"; exit 1; }

rm -rf "$build/seeds-png" && mkdir -p "$build/seeds-png"
"$build/fuzz/png_fuzz_seeds" "$build/seeds-png" >/dev/null
png_seeds=("$build/seeds-png")
if [[ -d $testdata/pngsuite ]]; then
  png_seeds+=("$testdata/pngsuite")
else
  echo "fuzz: no PNG conformance suite at $testdata/pngsuite; running on the made seeds only"
fi
mkdir -p "$build/artifacts"
png_max_len=-max_len="${FUZZ_MAX_LEN:-65536}"

# The sound target writes its seed WAV file itself, then the encoders make the same in theirs.
sound_seeds=$build/seeds-audio
rm -rf "$sound_seeds" && mkdir -p "$sound_seeds"
KASTREL_FUZZ_SEED_DIR=$sound_seeds "$build/fuzz/audio_fuzz" -runs=0 >/dev/null 2>&1 || true
if command -v oggenc >/dev/null; then oggenc -Q -o "$sound_seeds/ramp.ogg" "$sound_seeds/ramp.wav" || true; fi
if command -v flac >/dev/null; then flac -s -f -o "$sound_seeds/ramp.flac" "$sound_seeds/ramp.wav" || true; fi
# Leaks inside the sound libraries are suppressed by name, which needs full stacks through them
# (they are built without frame pointers).
sound_env=(env LSAN_OPTIONS=suppressions=$root/fuzz/audio-lsan.supp ASAN_OPTIONS=fast_unwind_on_malloc=0)

# run [env] NAME CORPUS OPTIONS... SEEDS...: one target, the sound one under its leak rules. The
# corpus comes first: libFuzzer writes new inputs into the first folder, never into the seeds.
run() {
  local launcher=()
  if [[ $1 == env ]]; then launcher=("${sound_env[@]}"); shift; fi
  local name=$1 corpus=$2
  shift 2
  mkdir -p "$corpus"
  "${launcher[@]}" "$build/fuzz/${name}_fuzz" -artifact_prefix="$build/artifacts/" -timeout=25 \
    "$corpus" "$@"
}

# smoke [env] NAME RUNS OPTIONS... SEEDS...: a short run from a fresh corpus.
smoke() {
  local launcher=()
  if [[ $1 == env ]]; then launcher=(env); shift; fi
  local name=$1 runs=$2
  shift 2
  local corpus=$build/corpus-smoke-$name log=$build/smoke-$name.log
  rm -rf "$corpus"
  if run "${launcher[@]}" "$name" "$corpus" -seed=1 -runs="$runs" "$@" >"$log" 2>&1; then
    echo "fuzz smoke ($name): $(grep -Eo 'Done [0-9]+ runs.*' "$log" || echo 'done'), no failure"
  else
    status=$?
    tail -n 60 "$log"
    echo "fuzz smoke ($name): FAILED (status $status); the input is in $build/artifacts/" >&2
    exit "$status"
  fi
}

# long [env] NAME OPTIONS... SEEDS...: a timed run, its corpus kept.
long() {
  local launcher=()
  if [[ $1 == env ]]; then launcher=(env); shift; fi
  local name=$1
  shift
  run "${launcher[@]}" "$name" "$build/corpus-$name" -max_total_time="${FUZZ_SECONDS:-60}" \
    -print_final_stats=1 "$@"
}

case $mode in
  smoke)
    smoke png "${FUZZ_RUNS:-20000}" -dict="$root/fuzz/png.dict" "$png_max_len" "${png_seeds[@]}"
    smoke text "${FUZZ_TEXT_RUNS:-3000}" -max_len=256
    smoke env audio "${FUZZ_AUDIO_RUNS:-20000}" -dict="$root/fuzz/audio.dict" "$sound_seeds"
    smoke session "${FUZZ_RUNS:-20000}" "$root/fuzz/seeds"
    smoke tmx "${FUZZ_MAP_RUNS:-20000}" -dict="$root/fuzz/tilemap.dict" "$root/fuzz/seeds-tmx"
    smoke tmj "${FUZZ_MAP_RUNS:-20000}" -dict="$root/fuzz/tilemap.dict" "$root/fuzz/seeds-tmj"
    ;;
  long)
    long png -dict="$root/fuzz/png.dict" "$png_max_len" "${png_seeds[@]}"
    long text -max_len=256
    long env audio -dict="$root/fuzz/audio.dict" "$sound_seeds"
    long session "$root/fuzz/seeds"
    long tmx -dict="$root/fuzz/tilemap.dict" "$root/fuzz/seeds-tmx"
    long tmj -dict="$root/fuzz/tilemap.dict" "$root/fuzz/seeds-tmj"
    ;;
  *)
    echo "usage: fuzz/run.sh smoke|long" >&2
    exit 2
    ;;
esac
