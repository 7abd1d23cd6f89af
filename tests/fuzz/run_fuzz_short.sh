#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in a build folder of their own and runs
# each for a few seconds. Usage: run_fuzz_short.sh <source dir> <build dir> [seconds]
# Exit 77 (skipped) when clang is missing.
set -euo pipefail
src=$1
out=$2
seconds=${3:-8}
targets=(fuzz_group fuzz_settings fuzz_records fuzz_stamp)

if ! command -v clang++ >/dev/null; then
  echo "clang++ is not installed: fuzz targets skipped"
  exit 77
fi
CC=clang CXX=clang++ cmake -S "$src" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORLA_FUZZ=ON -DQUORLA_TESTS=OFF -DQUORLA_BENCH=OFF >/dev/null
cmake --build "$out" -j2 --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
for t in "${targets[@]}"; do
  corpus="$out/corpus/$t"
  mkdir -p "$corpus"
  "$out/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 "$corpus" >"$out/$t.log" 2>&1 || {
    tail -40 "$out/$t.log"
    echo "$t: failed"
    exit 1
  }
  echo "$t: $(grep -m1 'stat::number_of_executed_units' "$out/$t.log" | awk '{print $2}') executions"
done
