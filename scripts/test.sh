#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build_dir=${BUILD_DIR:-build}
(cd "$build_dir" && ctest --output-on-failure -j "$(nproc)")
# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer, in its own build folder.
scripts/sanitize.sh
# Every fuzz target once over its committed corpus: inputs that once crashed stay fixed.
fuzz/run.sh --check
