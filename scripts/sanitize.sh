#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a folder of its own
# (SANITIZE_BUILD_DIR, default build-sanitize) and runs the whole test suite there. Any report
# ends the program that made it with a failure, so a green run means no report.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${SANITIZE_BUILD_DIR:-build-sanitize}
jobs=${SANITIZE_JOBS:-2}
start=$(date +%s)
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DHIX_SANITIZE=address,undefined >/dev/null
nice -n 10 cmake --build "$build_dir" -j "$jobs"
built=$(date +%s)
# Leaks are checked too; the suppressions name only what the Qt and font libraries keep for the
# life of the process.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build_dir"
nice -n 10 ctest --output-on-failure -j "$jobs" --timeout 300
echo "sanitize.sh: build $((built - start)) s, tests $(($(date +%s) - built)) s"
