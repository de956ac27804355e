#!/usr/bin/env bash
# Builds and runs the benchmarks. Usage: bench/run.sh [calls]   (BUILD_DIR defaults to build)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DHIX_BUILD_BENCH=ON >/dev/null
cmake --build "$build_dir" --target backup_path_bench -j2 >/dev/null
"$build_dir/bench/backup_path_bench" "${1:-2000}"
