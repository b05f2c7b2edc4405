#!/usr/bin/env bash
# Builds the PNG fuzz target with clang in build/fuzz and runs it.
#   fuzz/run.sh smoke   FUZZ_RUNS inputs (default 20000) from a fresh corpus, fixed seed: make test
#   fuzz/run.sh long    FUZZ_SECONDS seconds (default 60), corpus kept in build/fuzz/corpus: make fuzz
# The PNG conformance suite, read in place, seeds the corpus when present, beside pictures made by
# png_fuzz_seeds (every colour type and depth with every filter). Inputs run to FUZZ_MAX_LEN
# bytes (default 65536), well past the largest seed. Exits non-zero when an
# input crashes, hangs or trips a sanitizer; the input is saved under build/fuzz/artifacts/.
set -euo pipefail

mode=${1:-smoke}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
testdata=${KASTREL_TESTDATA_DIR:-$root/../shared/testdata}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKASTREL_BUILD_FUZZ=ON \
  -DKASTREL_BUILD_TESTS=OFF -DKASTREL_BUILD_DEMO=OFF -DKASTREL_WERROR=ON >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
cmake --build "$build" --target png_fuzz png_fuzz_seeds -j 2 >"$build.build.log" 2>&1 || { cat "$build.build.log"; exit 1; }

rm -rf "$build/seeds" && mkdir -p "$build/seeds"
"$build/fuzz/png_fuzz_seeds" "$build/seeds" >/dev/null
seeds=("$build/seeds")
if [[ -d $testdata/pngsuite ]]; then
  seeds+=("$testdata/pngsuite")
else
  echo "fuzz: no PNG conformance suite at $testdata/pngsuite; running without seeds"
fi
mkdir -p "$build/artifacts"
options=(-artifact_prefix="$build/artifacts/" -dict="$root/fuzz/png.dict" -timeout=25
  -max_len="${FUZZ_MAX_LEN:-65536}")

case $mode in
  smoke)
    corpus=$build/corpus-smoke
    rm -rf "$corpus" && mkdir -p "$corpus"
    log=$build/smoke.log
    if "$build/fuzz/png_fuzz" "${options[@]}" -seed=1 -runs="${FUZZ_RUNS:-20000}" \
         "$corpus" "${seeds[@]}" >"$log" 2>&1; then
      echo "fuzz smoke: $(grep -Eo 'Done [0-9]+ runs.*' "$log" || echo 'done'), no failure"
    else
      status=$?
      tail -n 60 "$log"
      echo "fuzz smoke: FAILED (status $status); the input is in $build/artifacts/" >&2
      exit "$status"
    fi
    ;;
  long)
    mkdir -p "$build/corpus"
    exec "$build/fuzz/png_fuzz" "${options[@]}" -max_total_time="${FUZZ_SECONDS:-60}" \
      -print_final_stats=1 "$build/corpus" "${seeds[@]}"
    ;;
  *)
    echo "usage: fuzz/run.sh smoke|long" >&2
    exit 2
    ;;
esac
