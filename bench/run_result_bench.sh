#!/usr/bin/env bash
# Builds and runs the check-result service benchmark. Usage: bench/run_result_bench.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DHIX_BUILD_BENCH=ON >/dev/null
cmake --build "$build_dir" --target result_bench -j2 >/dev/null
cmake --build "$build_dir" --target hixresult -j2 >/dev/null
"$build_dir/bench/result_bench" "${1:-20000}" "$build_dir/bin"
