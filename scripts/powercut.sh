#!/usr/bin/env bash
# Power-cut harness (not part of ctest): cuts a full update with SIGKILL at many points, restarts
# it as the technician would and compares the panel with an uncut run. Bounded in time.
#   scripts/powercut.sh [--cuts N] [--max-minutes M] [--report FILE]   (BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
[ -x "$build_dir/bin/upgrunner.bin" ] && [ -x "$build_dir/bin/hixpack" ] \
    || { echo "powercut.sh: build first (scripts/build.sh)" >&2; exit 1; }
# Namespaces of its own: the updater signals older updaters by name and serves the fixed result
# port, so here it sees only the processes of this harness and a loopback of its own, and never
# disturbs (nor is disturbed by) other runs of the updater on this machine.
exec unshare --pid --fork --mount-proc --net sh -c \
    'ip link set lo up && exec nice -n 10 python3 scripts/powercut.py "$@"' powercut \
    --build "$build_dir" "$@"
