#!/usr/bin/env bash
# Power cuts and pulled sticks on the emulated ARM panel during a full update (not part of
# ctest): builds what it needs, then runs scripts/armhf_powercut.py niced, in process and network
# namespaces of its own, and writes the table by phase to out/armhf-powercut/table.md.
#   scripts/armhf_powercut.sh [--cuts N] [--pulls N] [--jobs J] [--max-minutes M] [--seed S]
#                             [--lose drop|subset|mixed] [--work DIR] [--resume]
# --max-minutes bounds the start of trials; a trial that has begun runs to its end. --resume, with
# the same counts, seed and jobs, runs the trials a time bound left out.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cross_dir=${CROSS_BUILD_DIR:-build-armhf}
# The host's hixpack builds the stick; the panel runs the cross-built programs.
[ -x "$build_dir/bin/hixpack" ] || scripts/build.sh
CROSS_BUILD_DIR=$cross_dir scripts/cross-armhf.sh --programs
# The emulated panel's kernel and busybox are fetched here: the campaign's namespace has no network.
python3 -c 'import sys; sys.path.insert(0, "scripts"); import armhf_panel; armhf_panel.kernel_and_busybox(sys.argv[1])' \
    "$cross_dir/vm"
# The updater and the launcher close older instances of their own names machine-wide; inside
# the namespaces they, the emulators and the disk servers see only this campaign.
exec unshare --pid --fork --mount-proc --net sh -c \
    'ip link set lo up && exec nice -n 10 python3 scripts/armhf_powercut.py "$@"' armhf_powercut \
    --build "$build_dir" --cross "$cross_dir" "$@"
