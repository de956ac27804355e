#!/usr/bin/env python3
"""Builds the root file system of an emulated 32-bit ARM panel that runs the armhf test suite.

The user-mode emulator cannot run the whole suite: programs that the tests start are ARM programs
(the kernel hands them to no emulator unless one is registered for them), the emulator's own name
stands in /proc for the program's, and it does not translate generic netlink sockets. A whole ARM
machine (qemu-system-arm, Debian's armmp kernel) has none of these limits. Its root file system is
an initramfs assembled here from the machine's own armhf multiarch libraries, a static busybox, the
cross-built programs and tests, and the parts of the source tree that tests read.

Usage: scripts/armhf_vm.py --build DIR --busybox FILE --out ROOTFS_DIR [--modules DIR]
                           [--timeout-scale N] [--filter TEXT]
Writes ROOTFS_DIR (a folder; the caller packs it with cpio) with /init and /run-tests.sh.
"""
import argparse
import json
import os
import shlex
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TRIPLET = 'arm-linux-gnueabihf'
LIB_DIRS = [f'/lib/{TRIPLET}', f'/usr/lib/{TRIPLET}']
QT_PLUGINS = f'/usr/lib/{TRIPLET}/qt5/plugins'
# Files that tests read from the build machine's cross tool chains (the ELF attribute reader's
# real C libraries), and data every Qt program wants.
EXTRA_FILES = [f'/usr/{TRIPLET}/lib/libc.so.6', '/usr/arm-linux-gnueabi/lib/libc.so.6']
EXTRA_TREES = ['/etc/fonts', '/usr/share/fonts']
SOURCE_TREES = ['examples', 'resources', 'tests', 'docs', 'scripts']


def is_elf(path):
    try:
        with open(path, 'rb') as f:
            return f.read(4) == b'\x7fELF'
    except OSError:
        return False


def needed(path):
    out = subprocess.run([f'{TRIPLET}-readelf', '-d', path], capture_output=True, text=True,
                         check=True).stdout
    names = []
    for line in out.splitlines():
        if '(NEEDED)' in line and '[' in line:
            names.append(line.split('[', 1)[1].split(']', 1)[0])
    return names


def find_library(name):
    for d in LIB_DIRS:
        candidate = os.path.join(d, name)
        if os.path.exists(candidate):
            return candidate
    return None


def copy_file(src, rootfs, strip=False, dest=None):
    dest = os.path.join(rootfs, (dest or src).lstrip('/'))
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    if os.path.exists(dest):
        return dest
    shutil.copy2(os.path.realpath(src), dest)
    if strip and is_elf(dest):
        subprocess.run([f'{TRIPLET}-strip', '--strip-debug', dest], check=True)
    return dest


def copy_closure(elves, rootfs):
    """Copies the shared libraries the given ARM programs need, transitively, to the paths the
    loader searches by default (the soname, dereferenced)."""
    seen = set()
    todo = list(elves)
    missing = set()
    while todo:
        path = todo.pop()
        for name in needed(path):
            if name in seen:
                continue
            seen.add(name)
            lib = find_library(name)
            if lib is None:
                missing.add(name)
                continue
            copy_file(lib, rootfs, strip=True)
            todo.append(lib)
    if missing:
        sys.exit(f'armhf_vm.py: armhf libraries not installed: {", ".join(sorted(missing))}')
    return seen


# Drivers for the disk the tests' temporary folders live on (a real file system, as on the panel,
# so that page-cache behaviour is the panel's and not that of a memory file system).
DISK_MODULES = ['virtio_mmio', 'virtio_blk', 'crc32c_generic', 'ext4']


def module_depends(path):
    # Some modules carry non-UTF-8 text (an author's name) in their information.
    out = subprocess.run([f'{TRIPLET}-readelf', '-p', '.modinfo', path], capture_output=True,
                         check=True).stdout.decode('utf-8', 'replace')
    for line in out.splitlines():
        if 'depends=' in line:
            value = line.split('depends=', 1)[1].strip()
            return [d for d in value.split(',') if d]
    return []


def copy_modules(modules_dir, rootfs, names=DISK_MODULES):
    """Copies the named drivers (default: the disk's) and what they depend on, numbered in
    loading order."""
    files = {}
    for dirpath, _, entries in os.walk(modules_dir):
        for n in entries:
            if n.endswith('.ko'):
                files[n[:-3].replace('-', '_')] = os.path.join(dirpath, n)
    order = []

    def visit(name):
        name = name.replace('-', '_')
        if name in order:
            return
        if name not in files:
            sys.exit(f'armhf_vm.py: kernel module {name} not found in {modules_dir}')
        for dep in module_depends(files[name]):
            visit(dep)
        order.append(name)

    for m in names:
        visit(m)
    target = os.path.join(rootfs, 'modules')
    os.makedirs(target, exist_ok=True)
    for i, name in enumerate(order):
        shutil.copy2(files[name], os.path.join(target, f'{i:02d}-{name}.ko'))


def test_list(build):
    out = subprocess.run(['ctest', '--show-only=json-v1'], cwd=build, capture_output=True,
                         text=True, check=True).stdout
    tests = []
    for t in json.loads(out)['tests']:
        if 'command' not in t:
            sys.exit(f'armhf_vm.py: test {t["name"]} is not built (build {build} first)')
        command = t['command']
        # Under the user-mode emulator ctest puts the emulator first; on the ARM machine the
        # program runs by itself.
        while command and 'qemu-' in os.path.basename(command[0]):
            command = command[1:]
        props = {p['name']: p['value'] for p in t.get('properties', [])}
        tests.append({
            'name': t['name'],
            'command': command,
            'env': props.get('ENVIRONMENT', []),
            'cwd': props.get('WORKING_DIRECTORY', build),
            'timeout': int(props.get('TIMEOUT', 1500)),
            'skip': props.get('SKIP_REGULAR_EXPRESSION', []),
        })
    return tests


def write_runner(tests, rootfs, scale):
    lines = ['#!/bin/sh', '# Runs every test the way ctest would, one at a time.',
             'pass=0; fail=0; skip=0; failed=""',
             'now() { read -r up _ < /proc/uptime; echo "$up"; }']
    for t in tests:
        env = ' '.join(shlex.quote(e) for e in t['env'])
        cmd = ' '.join(shlex.quote(c) for c in t['command'])
        name = shlex.quote(t['name'])
        skip_test = ''
        if t['skip']:
            skip_test = ' || '.join(f'grep -qE {shlex.quote(r)} /tmp/test.out' for r in t['skip'])
        lines += [
            f'cd {shlex.quote(t["cwd"])}',
            't0=$(now)',
            f'env {env} timeout {t["timeout"] * scale} {cmd} > /tmp/test.out 2>&1; rc=$?',
            't1=$(now)',
            'if [ $rc -eq 0 ]; then',
            f'  if {skip_test or "false"}; then r=SKIP; skip=$((skip+1)); '
            'else r=PASS; pass=$((pass+1)); fi',
            'else',
            f'  r=FAIL; fail=$((fail+1)); failed="$failed {t["name"]}"',
            f'  echo "@@OUTPUT-BEGIN {t["name"]} rc=$rc"; tail -c 20000 /tmp/test.out; '
            'echo "@@OUTPUT-END"',
            'fi',
            f'echo "@@RESULT $r {t["name"]} $t0 $t1"',
        ]
    lines += ['echo "@@SUMMARY pass=$pass fail=$fail skip=$skip total=%d"' % len(tests),
              'echo "@@FAILED$failed"']
    path = os.path.join(rootfs, 'run-tests.sh')
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')
    os.chmod(path, 0o755)


INIT = r'''#!/bin/busybox sh
/bin/busybox mount -t proc proc /proc
/bin/busybox mkdir -p /usr/bin /usr/sbin /sbin
/bin/busybox --install -s
# Debian keeps most commands in /usr/bin; packages name them there.
for f in /bin/* /sbin/*; do [ -e "/usr${f}" ] || ln -s "$f" "/usr${f}"; done
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm /tmp /scratch /run /root /var/tmp
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
for m in /modules/*.ko; do insmod "$m"; done
mdev -s 2>/dev/null
# The tests' temporary folders go to the disk through TMPDIR. Nothing is mounted over /tmp: a
# checkout under /tmp holds the programs and tests at their build paths in this root.
if [ -b /dev/vda ] && mount -t ext4 /dev/vda /scratch; then
    echo "@@DISK ext4 on /dev/vda for the temporary folders (/scratch)"
else
    mount -t tmpfs -o size=4g tmpfs /scratch
fi
chmod 1777 /tmp /scratch
export TMPDIR=/scratch
mount -t tmpfs tmpfs /run
hostname panel
ip link set lo up
export PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8
echo "@@BOOTED $(uname -m) $(uname -r) cpus=$(nproc)"
sh /run-tests.sh
sync
poweroff -f
'''


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build', required=True)
    ap.add_argument('--busybox', required=True)
    ap.add_argument('--out', required=True)
    ap.add_argument('--modules', help="the kernel's module folder (lib/modules/<version>)")
    ap.add_argument('--timeout-scale', type=int, default=3)
    ap.add_argument('--filter', default='', help='only tests whose name contains this text')
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    rootfs = os.path.abspath(args.out)
    if os.path.exists(rootfs):
        shutil.rmtree(rootfs)
    os.makedirs(rootfs)

    copy_file(args.busybox, rootfs, dest='/bin/busybox')
    loader = '/lib/ld-linux-armhf.so.3'
    copy_file(loader, rootfs)
    copy_file(os.path.realpath(loader), rootfs)

    elves = []
    for sub in ('bin', 'tests'):
        for dirpath, _, files in os.walk(os.path.join(build, sub)):
            if 'CMakeFiles' in dirpath or '_autogen' in dirpath:
                continue
            for f in files:
                p = os.path.join(dirpath, f)
                if is_elf(p) and os.access(p, os.X_OK):
                    elves.append(copy_file(p, rootfs, strip=True))
    plugins = []
    # The framebuffer plug-in is what "hixpack build" puts on every stick.
    for plugin in ('platforms/libqoffscreen.so', 'platforms/libqminimal.so',
                   'platforms/libqlinuxfb.so'):
        plugins.append(copy_file(os.path.join(QT_PLUGINS, plugin), rootfs, strip=True))
    copy_closure(elves + plugins, rootfs)

    for f in EXTRA_FILES:
        copy_file(f, rootfs)
    for tree in EXTRA_TREES:
        shutil.copytree(tree, os.path.join(rootfs, tree.lstrip('/')), symlinks=True,
                        dirs_exist_ok=True)
    for tree in SOURCE_TREES:
        shutil.copytree(os.path.join(ROOT, tree), os.path.join(rootfs, ROOT.lstrip('/'), tree),
                        symlinks=True, dirs_exist_ok=True)

    if args.modules:
        copy_modules(args.modules, rootfs)
    tests = [t for t in test_list(build) if args.filter in t['name']]
    for t in tests:
        os.makedirs(os.path.join(rootfs, t['cwd'].lstrip('/')), exist_ok=True)
    write_runner(tests, rootfs, args.timeout_scale)

    for mount_point in ('proc', 'sys', 'dev', 'tmp', 'run', 'root'):
        os.makedirs(os.path.join(rootfs, mount_point), exist_ok=True)
    etc = os.path.join(rootfs, 'etc')
    os.makedirs(etc, exist_ok=True)
    with open(os.path.join(etc, 'passwd'), 'w') as f:
        f.write('root:x:0:0:root:/root:/bin/sh\n')
    with open(os.path.join(etc, 'group'), 'w') as f:
        f.write('root:x:0:\n')
    with open(os.path.join(rootfs, 'init'), 'w') as f:
        f.write(INIT)
    os.chmod(os.path.join(rootfs, 'init'), 0o755)
    print(f'armhf_vm.py: {len(tests)} tests, {len(elves)} programs')


if __name__ == '__main__':
    main()
