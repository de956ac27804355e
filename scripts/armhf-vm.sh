#!/usr/bin/env bash
# Runs the cross-built (armhf) test suite on an emulated 32-bit ARM machine: Debian's armmp
# kernel under qemu-system-arm, a root file system in memory assembled from this machine's armhf
# libraries, and an ext4 disk for the tests' temporary folders. Unlike the user-mode emulator it
# starts ARM programs, shows their own names in /proc and speaks generic netlink.
#   scripts/armhf-vm.sh [BUILD_DIR] [--filter TEXT]     (BUILD_DIR default build-armhf)
# Exit status 0 only when every test passed or was skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=build-armhf
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build_dir=$1
    shift
fi
build_dir=$(realpath "$build_dir")
vm_dir=$build_dir/vm
mkdir -p "$vm_dir"

for tool in qemu-system-arm cpio mkfs.ext4 arm-linux-gnueabihf-readelf; do
    command -v "$tool" >/dev/null || { echo "armhf-vm.sh: $tool missing (scripts/cross-armhf.sh installs it)" >&2; exit 1; }
done

# The kernel and busybox are only unpacked here, never installed on this machine.
kernel_pkg=$(apt-cache depends linux-image-armmp-lpae:armhf \
    | grep -o 'linux-image-[0-9][^ :]*-armmp-lpae' | head -1)
[ -n "$kernel_pkg" ] || { echo "armhf-vm.sh: no armmp-lpae kernel package known to apt" >&2; exit 1; }
fetch() {
    local pkg=$1 dir=$2
    if [ ! -f "$dir/.unpacked" ]; then
        rm -rf "$dir" && mkdir -p "$dir"
        (cd "$vm_dir" && rm -f ./*.deb && apt-get download -q "$pkg" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
        dpkg-deb -x "$vm_dir"/*.deb "$dir"
        rm -f "$vm_dir"/*.deb
        touch "$dir/.unpacked"
    fi
}
fetch "$kernel_pkg:armhf" "$vm_dir/kernel-$kernel_pkg"
fetch busybox-static:armhf "$vm_dir/busybox"
kernel_root=$vm_dir/kernel-$kernel_pkg
vmlinuz=$(ls "$kernel_root"/boot/vmlinuz-*)
modules=$(ls -d "$kernel_root"/lib/modules/*)

python3 scripts/armhf_vm.py --build "$build_dir" --busybox "$vm_dir/busybox/bin/busybox" \
    --modules "$modules" --out "$vm_dir/rootfs" "$@"
(cd "$vm_dir/rootfs" && find . | cpio -o -H newc 2>/dev/null | gzip -1 >"$vm_dir/rootfs.cpio.gz")
rm -f "$vm_dir/disk.img"
truncate -s 8G "$vm_dir/disk.img"
mkfs.ext4 -q -F "$vm_dir/disk.img"

log=$vm_dir/console.log
start=$(date +%s)
echo "armhf-vm.sh: booting $kernel_pkg; console in $log"
timeout "${ARMHF_VM_MINUTES:-90}m" qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -smp 2 -m 3G \
    -kernel "$vmlinuz" -initrd "$vm_dir/rootfs.cpio.gz" \
    -append "console=ttyAMA0 rdinit=/init panic=1 quiet" \
    -drive "file=$vm_dir/disk.img,if=none,format=raw,id=disk" -device virtio-blk-device,drive=disk \
    -nographic -no-reboot -nic none >"$log" 2>&1 || true
rm -f "$vm_dir/disk.img"

# What failed, with the test's own output, then the counts.
awk '/^@@OUTPUT-BEGIN/ { show = 1 } show { print } /^@@OUTPUT-END/ { show = 0 }' "$log"
grep -a '^@@RESULT SKIP' "$log" || true
grep -a '^@@BOOTED\|^@@DISK' "$log" || true
summary=$(grep -a '^@@SUMMARY' "$log" || true)
echo "armhf-vm.sh: ${summary:-no summary: the machine stopped before the end (see $log)}" \
    "in $(($(date +%s) - start)) s"
[[ "$summary" == *" fail=0 "* ]]
