#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# bounded time from the checked-in seed corpus in fuzz/corpus/<target>.
# New inputs go to build/fuzz/corpus, never into the checked-in seeds; a crash
# leaves its input in build/fuzz/ and fails the run.
#   FUZZ_SECONDS  time per target (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
seconds=${FUZZ_SECONDS:-30}

CXX=$(command -v clang++-14 || command -v clang++ || true)
CC=$(command -v clang-14 || command -v clang || true)
if [ -z "$CXX" ] || [ -z "$CC" ]; then
  echo "fuzz: no clang on this machine, fuzz targets skipped"
  exit 0
fi

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$CC" \
  -DCMAKE_CXX_COMPILER="$CXX" -DTOLVANE_TESTS=OFF -DTOLVANE_FUZZ=ON >/dev/null
cmake --build build/fuzz

status=0
for seeds in fuzz/corpus/*/; do
  target=$(basename "$seeds")
  work="build/fuzz/corpus/$target"
  mkdir -p "$work"
  echo "== fuzz $target (${seconds} s)"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "build/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=0 \
      -artifact_prefix="$ROOT/build/fuzz/$target-" "$work" "$seeds" >"build/fuzz/$target.log" 2>&1; then
    grep -E "^Done [0-9]+ runs" "build/fuzz/$target.log" | tail -1 || true
  else
    tail -40 "build/fuzz/$target.log"
    echo "fuzz: $target failed"
    status=1
  fi
done
exit $status
