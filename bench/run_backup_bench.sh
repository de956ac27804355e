#!/bin/sh
# Builds and runs the backup benchmark; scratch data lives in the build folder and is removed.
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
cmake -S "$here" -B "$build" -DHIX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target backup_bench
"$build/bench/backup_bench" "$build/bench-data"
