#!/usr/bin/env bash
# Power-cut harness (not part of ctest): cuts a full update with SIGKILL at many points, restarts
# it through the launcher as the technician would and compares the panel with an uncut run.
# Bounded in time.
#   scripts/powercut.sh [--cuts N] [--max-minutes M] [--report FILE]   (BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
[ -x "$build_dir/bin/upgentry.bin" ] && [ -x "$build_dir/bin/upgrunner.bin" ] \
    && [ -x "$build_dir/bin/hixpack" ] \
    || { echo "powercut.sh: build first (scripts/build.sh)" >&2; exit 1; }
# Namespaces of its own: the launcher and the updater signal older instances by name, every cut
# kills whatever runs a program of the emulated panel, and the updater serves the fixed result
# port, so here they see only the processes of this harness and a loopback of its own, and never
# disturb (nor are disturbed by) other runs on this machine. powercut.py refuses to run elsewhere.
exec unshare --pid --fork --mount-proc --net sh -c \
    'ip link set lo up && exec nice -n 10 python3 scripts/powercut.py "$@"' powercut \
    --build "$build_dir" "$@"
