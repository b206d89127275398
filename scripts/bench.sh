#!/usr/bin/env bash
# The performance figures in one go: the unit and FFT benchmarks (Release
# build in build-bench/), then brimwell-render against sox's reverb
# (scripts/compare-sox.sh, on the native build in build/).
#   scripts/bench.sh [RUNS]   RUNS: alternating runs of the sox comparison (default 7)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIMWELL_BENCH=ON -DBRIMWELL_TESTS=OFF \
  -DBRIMWELL_TOOLS=OFF >/dev/null
cmake --build build-bench -j "$jobs"
build-bench/bench/brimwell_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
scripts/compare-sox.sh "${1:-7}"
