#!/usr/bin/env bash
# Builds the benchmarks (Release, TABRIX_BUILD_BENCH=ON) into build-bench and runs
# them, ending with a table: workload, time, floor, ratio, peak memory.
# Usage: scripts/bench.sh [--w2-rows N] [--workdir DIR] [Google Benchmark options]
# The workloads are generated on the first run (W2 takes a while) and reused.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DTABRIX_BUILD_BENCH=ON \
  -DTABRIX_BUILD_TESTS=OFF -DTABRIX_BUILD_FUZZ=OFF -DTABRIX_BUILD_APP=OFF >/dev/null
cmake --build "$root/build-bench" --target tabrix_bench -j"$jobs"
exec "$root/build-bench/bench/tabrix_bench" "$@"
