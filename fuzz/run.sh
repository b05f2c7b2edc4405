#!/usr/bin/env bash
# Builds the fuzz targets (the PNG decoder, the sound loader) with clang in build/fuzz and runs them.
#   fuzz/run.sh smoke   FUZZ_RUNS inputs each (default 20000) from a fresh corpus, fixed seed: make test
#   fuzz/run.sh long    FUZZ_SECONDS seconds each (default 60), corpora kept in build/fuzz/corpus*: make fuzz
# FUZZ_TARGETS picks some of them (default "png audio"). The PNG conformance suite, read in
# place, seeds the PNG corpus when present; the sound corpus starts from a short WAV file the
# target writes (and the same encoded as OGG Vorbis and FLAC when oggenc and flac are installed). Exits
# non-zero when an input crashes, hangs or trips a sanitizer; the input is saved under
# build/fuzz/artifacts/.
set -euo pipefail

mode=${1:-smoke}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
testdata=${KASTREL_TESTDATA_DIR:-$root/../shared/testdata}
targets=${FUZZ_TARGETS:-png audio}

case $mode in
  smoke | long) ;;
  *)
    echo "usage: fuzz/run.sh smoke|long" >&2
    exit 2
    ;;
esac

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKASTREL_BUILD_FUZZ=ON \
  -DKASTREL_BUILD_TESTS=OFF -DKASTREL_BUILD_DEMO=OFF -DKASTREL_WERROR=ON >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
for target in $targets; do
  cmake --build "$build" --target "${target}_fuzz" -j 2 >"$build.build.log" 2>&1 ||
    { cat "$build.build.log"; exit 1; }
done
mkdir -p "$build/artifacts"

# The sound target writes its seed WAV file itself (KASTREL_FUZZ_SEED_DIR), then the encoders
# make the same in their formats.
write_sound_seeds() {
  local dir=$1
  KASTREL_FUZZ_SEED_DIR=$dir "$build/fuzz/audio_fuzz" -runs=0 >/dev/null 2>&1 || true
  if command -v oggenc >/dev/null; then oggenc -Q -o "$dir/ramp.ogg" "$dir/ramp.wav" || true; fi
  if command -v flac >/dev/null; then flac -s -f -o "$dir/ramp.flac" "$dir/ramp.wav" || true; fi
}

for target in $targets; do
  seeds=()
  options=(-artifact_prefix="$build/artifacts/" -dict="$root/fuzz/$target.dict" -timeout=25)
  if [[ -f $root/fuzz/$target-lsan.supp ]]; then
    # Full stacks through the libraries, built without frame pointers, for the suppressions.
    export LSAN_OPTIONS=suppressions=$root/fuzz/$target-lsan.supp
    export ASAN_OPTIONS=fast_unwind_on_malloc=0
  else
    unset LSAN_OPTIONS ASAN_OPTIONS
  fi
  if [[ $target == png ]]; then
    if [[ -d $testdata/pngsuite ]]; then
      seeds=("$testdata/pngsuite")
    else
      echo "fuzz: no PNG conformance suite at $testdata/pngsuite; running without seeds"
    fi
    corpus_name=corpus
  else
    rm -rf "$build/seeds-$target" && mkdir -p "$build/seeds-$target"
    write_sound_seeds "$build/seeds-$target"
    seeds=("$build/seeds-$target")
    corpus_name=corpus-$target
  fi

  if [[ $mode == smoke ]]; then
    corpus=$build/$corpus_name-smoke
    rm -rf "$corpus" && mkdir -p "$corpus"
    log=$build/smoke-$target.log
    if "$build/fuzz/${target}_fuzz" "${options[@]}" -seed=1 -runs="${FUZZ_RUNS:-20000}" \
         "$corpus" "${seeds[@]}" >"$log" 2>&1; then
      echo "fuzz smoke ($target): $(grep -Eo 'Done [0-9]+ runs.*' "$log" || echo 'done'), no failure"
    else
      status=$?
      tail -n 60 "$log"
      echo "fuzz smoke ($target): FAILED (status $status); the input is in $build/artifacts/" >&2
      exit "$status"
    fi
  else
    mkdir -p "$build/$corpus_name"
    "$build/fuzz/${target}_fuzz" "${options[@]}" -max_total_time="${FUZZ_SECONDS:-60}" \
      -print_final_stats=1 "$build/$corpus_name" "${seeds[@]}"
  fi
done
