#!/usr/bin/env bash
# Cross-builds everything for the panel's 32-bit ARM (armhf) and runs the test suite on an
# emulated ARM machine. Build dir: CROSS_BUILD_DIR (default build-armhf).
#   scripts/cross-armhf.sh            install what is missing (refusing if apt would remove any
#                                     installed package), build, run every test on an emulated
#                                     ARM machine (scripts/armhf-vm.sh)
#   scripts/cross-armhf.sh --user     the same, but ctest under the user-mode emulator: quicker
#                                     to start, but tests that start ARM programs, look processes
#                                     up by name or use generic netlink cannot pass there
#   scripts/cross-armhf.sh --no-test  build only
#   scripts/cross-armhf.sh --programs only the programs that go on a stick, and the widget map of
#                                     the demo on the emulated panel (scripts/demo.sh --armhf)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${CROSS_BUILD_DIR:-build-armhf}
mode=${1:---vm}
case "$mode" in
--vm | --user | --no-test | --programs) ;;
*) echo "usage: scripts/cross-armhf.sh [--user | --no-test | --programs]" >&2; exit 2 ;;
esac

packages=(
    g++-arm-linux-gnueabihf qemu-user-static qemu-system-arm cpio e2fsprogs
    qtbase5-dev:armhf libqt5test5:armhf libnl-3-dev:armhf libnl-genl-3-dev:armhf
    libssl-dev:armhf zlib1g-dev:armhf libgtest-dev:armhf
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx armhf; then
        $SUDO dpkg --add-architecture armhf
    fi
    $SUDO apt-get update -q
    # The armhf libraries must fit beside the installed ones: never let apt remove a package
    # (for example the build machine's own Qt development files) to make room.
    if apt-get -s install --no-install-recommends "${missing[@]}" | grep -q '^Remv '; then
        echo "cross-armhf.sh: installing ${missing[*]} would remove installed packages:" >&2
        apt-get -s install --no-install-recommends "${missing[@]}" | grep '^Remv ' >&2
        exit 1
    fi
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

start=$(date +%s)
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-armhf.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
if [ "$mode" = --programs ]; then
    targets=(--target upgentry upgrunner vncsetup hixresult hix_widget_map)
fi
nice -n 10 cmake --build "$build_dir" -j "${CROSS_JOBS:-2}" "${targets[@]}"
file "$build_dir/bin/upgrunner.bin" | grep -q 'ARM, EABI5' \
    || { echo "cross-armhf.sh: $build_dir/bin/upgrunner.bin is not an armhf program" >&2; exit 1; }
built=$(date +%s)
echo "cross-armhf.sh: built in $((built - start)) s"
case "$mode" in
--no-test | --programs) exit 0 ;;
--vm) exec scripts/armhf-vm.sh "$build_dir" ;;
esac

# Programs that the tests start are armhf programs too: the kernel hands them to the emulator
# when it is registered for ARM binaries; the emulator finds the armhf loader and libraries in
# this machine's multiarch folders.
export QEMU_LD_PREFIX=/
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-arm ]; then
    echo "cross-armhf.sh: qemu-arm is not registered with binfmt_misc;" \
        "tests that start programs will fail" >&2
fi
cd "$build_dir"
nice -n 10 ctest --output-on-failure -j "${CROSS_JOBS:-2}" --timeout 600
echo "cross-armhf.sh: tests in $(($(date +%s) - built)) s"
