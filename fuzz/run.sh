#!/usr/bin/env bash
# Builds the fuzz targets (PNG decoder, session file reader) with clang in build/fuzz and runs each.
#   fuzz/run.sh smoke   FUZZ_RUNS inputs (default 20000) from a fresh corpus, fixed seed: make test
#   fuzz/run.sh long    FUZZ_SECONDS seconds each (default 60), corpora kept in build/fuzz: make fuzz
# The PNG conformance suite, read in place, seeds the PNG corpus when present; fuzz/seeds seeds
# the session corpus. Exits non-zero when an input crashes, hangs or trips a sanitizer; the input
# is saved under build/fuzz/artifacts/.
set -euo pipefail

mode=${1:-smoke}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
testdata=${KASTREL_TESTDATA_DIR:-$root/../shared/testdata}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKASTREL_BUILD_FUZZ=ON \
  -DKASTREL_BUILD_TESTS=OFF -DKASTREL_BUILD_DEMO=OFF -DKASTREL_WERROR=ON >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
cmake --build "$build" --target png_fuzz session_fuzz -j 2 >"$build.build.log" 2>&1 || { cat "$build.build.log"; exit 1; }

png_seeds=()
if [[ -d $testdata/pngsuite ]]; then
  png_seeds=("$testdata/pngsuite")
else
  echo "fuzz: no PNG conformance suite at $testdata/pngsuite; running without seeds"
fi
mkdir -p "$build/artifacts"

# run_target NAME DICT_OPTION SEEDS...
run_target() {
  local name=$1 dict=$2
  shift 2
  local options=(-artifact_prefix="$build/artifacts/$name-" -timeout=25 $dict)
  case $mode in
    smoke)
      local corpus=$build/corpus-smoke-$name log=$build/smoke-$name.log
      rm -rf "$corpus" && mkdir -p "$corpus"
      if "$build/fuzz/$name" "${options[@]}" -seed=1 -runs="${FUZZ_RUNS:-20000}" \
           "$corpus" "$@" >"$log" 2>&1; then
        echo "fuzz smoke $name: $(grep -Eo 'Done [0-9]+ runs.*' "$log" || echo 'done'), no failure"
      else
        local status=$?
        tail -n 60 "$log"
        echo "fuzz smoke $name: FAILED (status $status); the input is in $build/artifacts/" >&2
        exit "$status"
      fi
      ;;
    long)
      mkdir -p "$build/corpus-$name"
      "$build/fuzz/$name" "${options[@]}" -max_total_time="${FUZZ_SECONDS:-60}" \
        -print_final_stats=1 "$build/corpus-$name" "$@"
      ;;
    *)
      echo "usage: fuzz/run.sh smoke|long" >&2
      exit 2
      ;;
  esac
}

run_target png_fuzz -dict="$root/fuzz/png.dict" "${png_seeds[@]}"
run_target session_fuzz "" "$root/fuzz/seeds"
