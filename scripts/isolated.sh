#!/usr/bin/env bash
# Runs a command in process and network namespaces of its own, so that test suites, demos and
# harnesses can run side by side on one machine: the launcher and the updater close older
# instances of themselves by name and the updater serves the fixed result port; inside, they see
# only the processes of this command and a loopback of its own.
#   scripts/isolated.sh COMMAND [ARG...]      (as root)
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: scripts/isolated.sh COMMAND [ARG...]" >&2; exit 2; }
exec unshare --pid --fork --mount-proc --net sh -c 'ip link set lo up && exec "$@"' isolated "$@"
