#!/usr/bin/env python3
"""The emulated HIX panel: a 32-bit ARM machine (qemu-system-arm -M virt, Debian's armmp-lpae
kernel) with only what a panel has on its own disk, a touch screen, and a USB stick.

    panel disk   ext4 image, the panel's root: a static busybox, the C library in /lib, the HMI
                 runtime folder /usr/vexo_app of examples/panel, the stand-ins of the runtime
                 (/emu/vexo_app_standin.sh, the supervisor's file protocol) and of the HAL driver
                 (/etc/vexo-hal, copied to /run/vexo-hal at boot; HIX_SYSROOT=/ switches the
                 programs to them). No Qt: the programs bring theirs on the stick.
    stick        FAT32 image with one partition (MBR), made with dosfstools and mtools without
                 mounting anything; a USB mass-storage device on an xHCI controller, mounted by
                 the panel's hot-plug script at /media/usb0 (vfat, iocharset=utf8).
    screen       virtio-gpu (/dev/fb0 through the kernel's fbdev emulation) at 800 x 480.
    touch        virtio-tablet (absolute pointer, /dev/input/event*).
    console      the serial console, written to DIR/console.log.
    monitor      QMP on the unix socket DIR/qmp.sock (screendump, input-send-event, device_del).
    commands     a virtio serial port "hix.agent" on DIR/agent.sock, served in the guest by
                 /emu/agent.sh: each command runs with "sh" in the panel's environment and its
                 exit status and output come back.

Usage (the same as a module: Panel, make_panel_disk, make_stick_image):

    armhf_panel.py panel-disk IMAGE [--size-mib N]            the panel's disk
    armhf_panel.py stick IMAGE FOLDER [--size-mib N]          a FAT32 stick with FOLDER's files
    armhf_panel.py boot DIR PANEL_IMAGE [STICK_IMAGE]         boot; returns once the panel
                                                              answers (boot time printed); the
                                                              emulator keeps running (DIR/qemu.pid)
    armhf_panel.py run DIR COMMAND...                         run a command on the panel
    armhf_panel.py screenshot DIR FILE.png                    the screen
    armhf_panel.py tap DIR X Y                                a tap on the touch screen
    armhf_panel.py unplug-stick DIR | plug-stick DIR IMAGE    pull or insert the stick
    armhf_panel.py stop DIR                                   power off (kill after 20 s)

Common options: --cache DIR (kernel and busybox, default build-armhf/vm), --build DIR (the
cross build whose runtime stand-in tools are used, default build-armhf). The machine runs
without a window; the emulator is niced, its pid is in DIR/qemu.pid and only that process is
ever signalled. Disk images are raw files: "cache" (default writeback) picks the emulator's
cache mode for both disks.
"""
import argparse
import base64
import hashlib
import json
import os
import random
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import armhf_vm  # noqa: E402

TRIPLET = 'arm-linux-gnueabihf'
SCREEN = (800, 480)
ABS_MAX = 0x7FFF
# The C library of the panel (the files every panel has); the programs bring everything else.
C_LIBRARY = ['ld-linux-armhf.so.3', 'libc.so.6', 'libm.so.6', 'libpthread.so.0', 'libdl.so.2',
             'librt.so.1', 'libresolv.so.2', 'libutil.so.1', 'libanl.so.1', 'libnss_files.so.2']
# Drivers loaded before the panel's root is mounted: its disk, the screen, the touch screen,
# the command port, USB sticks and their file system.
MODULES = armhf_vm.DISK_MODULES + [
    'virtio_gpu', 'virtio_input', 'evdev', 'virtio_console', 'xhci_pci', 'usb_storage',
    'sd_mod', 'vfat', 'nls_cp437', 'nls_utf8', 'nls_iso8859_1']
STICK_MOUNT_OPTIONS = 'rw,noatime,iocharset=utf8,shortname=mixed,flush'

STAGE1_INIT = r'''#!/bin/busybox sh
# Loads the drivers and hands over to the panel's own root on its disk.
/bin/busybox mkdir -p /proc /sys /dev /newroot
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t sysfs sysfs /sys
/bin/busybox mount -t devtmpfs devtmpfs /dev
for m in /modules/*.ko; do /bin/busybox insmod "$m"; done
n=0
while ! disk=$(/bin/busybox findfs LABEL=panel 2>/dev/null) && [ $n -lt 50 ]; do
    /bin/busybox usleep 100000; n=$((n + 1))
done
/bin/busybox mount -t ext4 -o rw,noatime "$disk" /newroot || { echo "@@NO-PANEL-DISK"; /bin/busybox poweroff -f; }
/bin/busybox umount /proc /sys
/bin/busybox mount --move /dev /newroot/dev
exec /bin/busybox switch_root /newroot /sbin/init
'''

INITTAB = '''::sysinit:/etc/init.d/rcS
::respawn:/emu/agent.sh
::ctrlaltdel:/sbin/reboot
::shutdown:/bin/umount -a -r
'''

RCS = r'''#!/bin/sh
umask 022
/bin/busybox mount -t proc proc /proc
/bin/busybox --install -s 2>/dev/null
mount -t sysfs sysfs /sys
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs tmpfs /run
hostname panel
ip link set lo up
# USB sticks are mounted when they come and go (mdev, listening to the kernel's events).
mdev -s
mdev -d
mkdir -p /run/vexo-hal /var/log
cp /etc/vexo-hal/* /run/vexo-hal/
# The emulator's own tools, when it brings a disk of them (no part of a panel).
tools=$(findfs LABEL=emutools 2>/dev/null) && mkdir -p /run/emu-tools && mount -o ro "$tools" /run/emu-tools
# The emulator host's trace port (no part of a panel): what is written into /run/trace reaches
# DIR/trace.log on the host at once, so it outlives a power cut.
for p in /sys/class/virtio-ports/*; do
    [ "$(cat "$p/name" 2>/dev/null)" = hix.trace ] || continue
    mkfifo /run/trace
    (while :; do cat /run/trace; done >"/dev/${p##*/}" 2>/dev/null &)
done
. /etc/profile
/emu/vexo_app_standin.sh >/run/vexo_app_standin.log 2>&1 &
read -r up _ </proc/uptime
echo "@@BOOTED $(uname -m) $(uname -r) uptime=$up" >/dev/console
'''

PROFILE = '''export PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8
# The emulated panel's stand-ins for the HAL driver and the process supervisor.
export HIX_SYSROOT=/
'''

MDEV_CONF = '''sd[a-z][0-9]* 0:0 0660 */etc/hotplug/usb-stick.sh
'''

USB_STICK = r'''#!/bin/sh
# A USB stick's first partition is mounted at /media/usb0 when it comes, and let go when the
# stick is pulled. (mdev runs this with no umask.)
umask 022
case "${ACTION:-add}" in
add)
    grep -q " /media/usb0 " /proc/mounts && exit 0
    mkdir -p /media/usb0
    mount -t vfat -o @OPTIONS@ "/dev/$MDEV" /media/usb0 \
        && echo "@@STICK mounted /dev/$MDEV" >/dev/console
    ;;
remove)
    umount -l /media/usb0 && echo "@@STICK removed /dev/$MDEV" >/dev/console
    ;;
esac
'''.replace('@OPTIONS@', STICK_MOUNT_OPTIONS)

AGENT = r'''#!/bin/sh
# The emulator host's command channel (no part of a panel): each line from the virtio serial
# port "hix.agent" is "<id> <command in base64>"; the command runs with sh in the panel's
# environment, and "@@BEGIN <id>", its output in base64 and "@@END <id> <exit status>" go back.
# Commands that leave a program running redirect its output themselves.
. /etc/profile
port=""
for p in /sys/class/virtio-ports/*; do
    [ "$(cat "$p/name" 2>/dev/null)" = hix.agent ] && port=/dev/${p##*/}
done
[ -n "$port" ] || { sleep 5; exit 1; }
exec 3<>"$port"
cd /
while read -r id code <&3; do
    echo "$code" | base64 -d >/run/agent.cmd
    sh /run/agent.cmd >/run/agent.out 2>&1 </dev/null 3>&-
    rc=$?
    { echo "@@BEGIN $id"; base64 /run/agent.out; echo "@@END $id $rc"; } >&3
done
'''

RUNTIME_STANDIN = r'''#!/bin/sh
# The emulated panel's HMI runtime (no part of a panel): registers in the process supervisor's
# folder and answers the updater's requests as the runtime does (the file protocol of
# platform/process_supervisor.h, the defaults of platform/fake_runtime): "exit" and "stop" are
# accepted at once; "stop" leaves the runtime in its setup state.
dir=/run/vexo_app
mkdir -p "$dir"
put() { printf '%s\n' "$2" >"$dir/.$1.new" && mv "$dir/.$1.new" "$dir/$1"; }
event() { echo "$(date +%s)000 $*" >>"$dir/events.log"; }
leave() { put state exited; event "state exited"; rm -f "$dir/pid"; exit 0; }
rm -f "$dir/request" "$dir/reply" "$dir/protect"
put state running
event "state running"
read -r stat </proc/$$/stat
set -- ${stat##*) }
put pid "$$ ${20}"
event started
trap leave TERM INT
while :; do
    if [ -f "$dir/request" ]; then
        read -r token verb <"$dir/request"
        rm -f "$dir/request"
        case "$verb" in
        exit | stop)
            put reply "$token accepted"
            event "request $verb accepted"
            ;;
        *)
            put reply "$token refused"
            event "request $verb refused"
            continue
            ;;
        esac
        [ "$verb" = exit ] && leave
        put state setup
        event "state setup"
    fi
    usleep 5000
done
'''


def write(path, text, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w') as f:
        f.write(text)
    os.chmod(path, mode)


def fetch(package, cache):
    """Unpacks a Debian package into cache/<name> (downloaded, never installed)."""
    target = os.path.join(cache, package.split(':')[0])
    if not os.path.exists(os.path.join(target, '.unpacked')):
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(target)
        with tempfile.TemporaryDirectory(dir=cache) as tmp:
            subprocess.run(['apt-get', 'download', '-q', package], cwd=tmp, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deb = [f for f in os.listdir(tmp) if f.endswith('.deb')][0]
            subprocess.run(['dpkg-deb', '-x', os.path.join(tmp, deb), target], check=True)
        open(os.path.join(target, '.unpacked'), 'w').close()
    return target


def kernel_and_busybox(cache):
    os.makedirs(cache, exist_ok=True)
    out = subprocess.run(['apt-cache', 'depends', 'linux-image-armmp-lpae:armhf'],
                         capture_output=True, text=True, check=True).stdout
    names = [w.split(':')[0] for w in out.split() if w.startswith('linux-image-')
             and w.split(':')[0].endswith('-armmp-lpae') and w[12:13].isdigit()]
    if not names:
        sys.exit('armhf_panel.py: no armmp-lpae kernel package known to apt')
    kernel_root = fetch(names[0] + ':armhf', cache)
    busybox = os.path.join(fetch('busybox-static:armhf', cache), 'bin/busybox')
    boot = os.path.join(kernel_root, 'boot')
    vmlinuz = os.path.join(boot, [f for f in os.listdir(boot) if f.startswith('vmlinuz-')][0])
    modules_root = os.path.join(kernel_root, 'lib/modules')
    modules = os.path.join(modules_root, os.listdir(modules_root)[0])
    return vmlinuz, modules, busybox


def make_initramfs(cache):
    """The first stage: busybox and the drivers, packed once per cache folder."""
    vmlinuz, modules, busybox = kernel_and_busybox(cache)
    # Named after what goes in, so a changed script or driver list makes a new one.
    key = hashlib.sha256((STAGE1_INIT + ' '.join(MODULES) + vmlinuz).encode()).hexdigest()[:12]
    image = os.path.join(cache, f'panel-stage1-{key}.cpio.gz')
    if not os.path.exists(image):
        with tempfile.TemporaryDirectory(dir=cache) as root:
            armhf_vm.copy_file(busybox, root, dest='/bin/busybox')
            armhf_vm.copy_modules(modules, root, MODULES)
            write(os.path.join(root, 'init'), STAGE1_INIT, 0o755)
            files = subprocess.run(['find', '.'], cwd=root, capture_output=True,
                                   check=True).stdout
            cpio = subprocess.run(['cpio', '-o', '-H', 'newc'], cwd=root, input=files,
                                  capture_output=True, check=True).stdout
            subprocess.run(['gzip', '-1'], input=cpio, stdout=open(image + '.new', 'wb'),
                           check=True)
            os.rename(image + '.new', image)
    return vmlinuz, image


def make_panel_disk(image, cache, size_mib=256, platform_info='HIX-IMG-3.2\n\nrk\n2026\n',
                    runtime=None, trusted_keys=()):
    """The panel's disk: its root with only what a panel has, as an ext4 image. runtime: the
    folder that becomes /usr/vexo_app (default: that of examples/panel); trusted_keys are public
    key files put into the panel's key folder, so it runs only sticks they signed."""
    _, _, busybox = kernel_and_busybox(cache)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(image))) as root:
        armhf_vm.copy_file(busybox, root, dest='/bin/busybox')
        for link in ('/bin/sh', '/sbin/init'):
            os.makedirs(os.path.dirname(root + link), exist_ok=True)
            os.symlink('/bin/busybox', root + link)
        for name in C_LIBRARY:
            src = f'/lib/{TRIPLET}/{name}'
            if not os.path.exists(src):
                sys.exit(f'armhf_panel.py: {src} missing (scripts/cross-armhf.sh installs it)')
            armhf_vm.copy_file(src, root, dest=f'/lib/{name}')
        if runtime:
            shutil.copytree(runtime, os.path.join(root, 'usr/vexo_app'), symlinks=True)
        else:
            shutil.copytree(os.path.join(ROOT, 'examples/panel'), root, symlinks=True,
                            dirs_exist_ok=True)
        for d in ('proc', 'sys', 'dev', 'tmp', 'run', 'root', 'media/usb0', 'var/log', 'mnt'):
            os.makedirs(os.path.join(root, d), exist_ok=True)
        write(os.path.join(root, 'etc/passwd'), 'root:x:0:0:root:/root:/bin/sh\n')
        write(os.path.join(root, 'etc/group'), 'root:x:0:\n')
        write(os.path.join(root, 'etc/inittab'), INITTAB)
        write(os.path.join(root, 'etc/init.d/rcS'), RCS, 0o755)
        write(os.path.join(root, 'etc/profile'), PROFILE)
        write(os.path.join(root, 'etc/mdev.conf'), MDEV_CONF)
        write(os.path.join(root, 'etc/hotplug/usb-stick.sh'), USB_STICK, 0o755)
        write(os.path.join(root, 'etc/vexo-hal/platform_info'), platform_info)
        # One identity for the panel's whole life, so its backups on a stick keep their folder.
        write(os.path.join(root, 'etc/vexo-hal/panel_id'), '%032x\n' % random.getrandbits(128))
        for key in trusted_keys:
            armhf_vm.copy_file(key, root, dest='/etc/iot_cfg/hixkeys/' + os.path.basename(key))
        write(os.path.join(root, 'emu/agent.sh'), AGENT, 0o755)
        write(os.path.join(root, 'emu/vexo_app_standin.sh'), RUNTIME_STANDIN, 0o755)
        return ext4_image(image, root, size_mib, 'panel')


def ext4_image(image, folder, size_mib, label):
    """An ext4 disk image of size_mib holding folder's files, made without mounting anything."""
    if os.path.exists(image):
        os.remove(image)
    with open(image, 'wb') as f:
        f.truncate(size_mib << 20)
    subprocess.run(['mkfs.ext4', '-q', '-F', '-L', label, '-E', 'root_owner=0:0', '-d', folder,
                    image], check=True)
    return image


def make_tools_image(image, folder, size_mib=64):
    """A read-only disk of the emulator's own tools, mounted at /run/emu-tools on the panel."""
    return ext4_image(image, folder, size_mib, 'emutools')


def make_stick_image(image, folder, size_mib=256, label='HIXSTICK'):
    """A FAT32 stick as sticks come: one partition from 1 MiB on, filled with folder's files."""
    offset = 1 << 20
    if os.path.exists(image):
        os.remove(image)
    with open(image, 'wb') as f:
        f.truncate(size_mib << 20)
        sectors = ((size_mib << 20) - offset) // 512
        entry = struct.pack('<B3sB3sII', 0, b'\x00\x02\x00', 0x0C, b'\xfe\xff\xff',
                            offset // 512, sectors)
        f.seek(446)
        f.write(entry + bytes(48) + b'\x55\xaa')
    subprocess.run(['mkfs.vfat', '-F', '32', '-n', label, '--offset', str(offset // 512), image,
                    str(sectors // 2)], check=True, stdout=subprocess.DEVNULL)
    entries = [os.path.join(folder, e) for e in sorted(os.listdir(folder))]
    if entries:
        env = dict(os.environ, MTOOLS_SKIP_CHECK='1', LC_ALL='C.UTF-8')
        subprocess.run(['mcopy', '-s', '-m', '-Q', '-i', f'{image}@@{offset}'] + entries + ['::/'],
                       check=True, env=env)
    return image


# A disk served over NBD on a unix socket (scripts/volatile_disk.py) instead of an image file.
NBD = 'nbd:'
# The NBD disk offers writes and flushes only: the guest must send every change as data.
NBD_DEVICE_OPTIONS = ',write-cache=on,discard=off,write-zeroes=off'


def disk_source(source):
    """An image file's absolute path, or "nbd:" and the absolute path of its socket."""
    if source.startswith(NBD):
        return NBD + os.path.abspath(source[len(NBD):])
    return os.path.abspath(source)


class Panel:
    """One emulated panel in its own folder (sockets, console log, pid file)."""

    def __init__(self, folder, panel_image, stick_image=None, cache=None, cache_mode='writeback',
                 memory_mib=1024, tools_image=None):
        self.dir = os.path.abspath(folder)
        os.makedirs(self.dir, exist_ok=True)
        self.panel_image = disk_source(panel_image)
        self.stick_image = disk_source(stick_image) if stick_image else None
        self.tools_image = os.path.abspath(tools_image) if tools_image else None
        self.cache = cache or os.path.join(ROOT, 'build-armhf/vm')
        self.cache_mode = cache_mode
        self.memory_mib = memory_mib
        self.qmp_path = os.path.join(self.dir, 'qmp.sock')
        self.agent_path = os.path.join(self.dir, 'agent.sock')
        self.console = os.path.join(self.dir, 'console.log')
        self.pid_file = os.path.join(self.dir, 'qemu.pid')
        self.trace = os.path.join(self.dir, 'trace.log')
        self._qmp = None
        self._agent = None
        self._agent_buffer = b''
        self._next_id = random.randrange(1, 1 << 30)
        self.boot_seconds = None

    # -- the emulator -------------------------------------------------------------------
    def command_line(self):
        vmlinuz, initrd = make_initramfs(self.cache)
        # The emulator runs at niceness 10, also when started by a harness that is niced
        # already (nice adds up).
        cmd = ['nice', '-n', str(max(0, 10 - os.nice(0))), 'qemu-system-arm', '-M', 'virt,highmem=off',
               '-cpu', 'cortex-a15', '-smp', '2', '-m', str(self.memory_mib),
               '-kernel', vmlinuz, '-initrd', initrd,
               '-append', 'console=ttyAMA0 rdinit=/init panic=1 quiet',
               *self._disk_options('panel', self.panel_image),
               '-device', 'virtio-blk-device,drive=panel'
                          + (NBD_DEVICE_OPTIONS if self.panel_image.startswith(NBD) else ''),
               # The screen and the touch screen are modern virtio devices only.
               '-global', 'virtio-mmio.force-legacy=false',
               '-device', f'virtio-gpu-device,xres={SCREEN[0]},yres={SCREEN[1]}',
               '-device', 'virtio-tablet-device',
               '-device', 'virtio-serial-device',
               '-chardev', f'socket,id=agent,path={self.agent_path},server=on,wait=off',
               '-device', 'virtserialport,chardev=agent,name=hix.agent',
               '-device', 'qemu-xhci,id=xhci',
               '-chardev', f'file,id=console,path={self.console}',
               '-serial', 'chardev:console',
               '-qmp', f'unix:{self.qmp_path},server=on,wait=off',
               '-display', 'none', '-nic', 'none', '-no-reboot',
               '-pidfile', self.pid_file,
               '-chardev', f'file,id=trace,path={self.trace}',
               '-device', 'virtserialport,chardev=trace,name=hix.trace']
        if self.stick_image:
            cmd += self._stick_options(self.stick_image)
        if self.tools_image:
            cmd += ['-drive', f'file={self.tools_image},if=none,format=raw,readonly=on,id=tools',
                    '-device', 'virtio-blk-device,drive=tools']
        return cmd

    def _disk_options(self, node, source):
        """A raw image file, or a disk served over NBD on a unix socket ("nbd:SOCKET")."""
        if source.startswith(NBD):
            return ['-blockdev', f'driver=nbd,node-name={node},server.type=unix,'
                                 f'server.path={source[len(NBD):]},export={node}']
        direct = 'on' if self.cache_mode == 'none' else 'off'
        return ['-blockdev', f'driver=file,filename={source},node-name={node}file,'
                             f'cache.direct={direct}',
                '-blockdev', f'driver=raw,file={node}file,node-name={node}']

    def _stick_options(self, image):
        return self._disk_options('stick', image) + [
            '-device', 'usb-storage,bus=xhci.0,drive=stick,id=usbstick,removable=on']

    def start(self, timeout=300):
        """Boots the panel and returns once its command channel answers; the boot time (from
        the emulator's start to the first answer) is kept in boot_seconds."""
        if self.running():
            raise RuntimeError(f'a panel already runs in {self.dir}')
        for path in (self.qmp_path, self.agent_path, self.console, self.pid_file):
            if os.path.exists(path):
                os.remove(path)
        started = time.monotonic()
        subprocess.Popen(self.command_line(), stdin=subprocess.DEVNULL,
                         stdout=open(os.path.join(self.dir, 'qemu.out'), 'wb'),
                         stderr=subprocess.STDOUT, start_new_session=True)
        deadline = started + timeout
        while not (os.path.exists(self.qmp_path) and os.path.exists(self.agent_path)):
            if time.monotonic() > deadline:
                raise RuntimeError('the emulator did not start: see ' + self.dir + '/qemu.out')
            time.sleep(0.1)
        try:
            self.run('true', timeout=max(1, deadline - time.monotonic()))
        except Exception:
            self.kill()
            raise
        self.boot_seconds = time.monotonic() - started
        return self.boot_seconds

    def pid(self):
        try:
            with open(self.pid_file) as f:
                return int(f.read().strip())
        except (OSError, ValueError):
            return None

    def running(self):
        pid = self.pid()
        if not pid:
            return False
        try:
            with open(f'/proc/{pid}/cmdline', 'rb') as f:
                return b'qemu-system-arm' in f.read()
        except OSError:
            return False

    def stop(self, timeout=20):
        """Powers the panel off from inside; kills the emulator (by its pid) when that fails."""
        if not self.running():
            return
        try:
            self.run('sync; poweroff -f &', timeout=5)
        except Exception:
            pass
        deadline = time.monotonic() + timeout
        while self.running() and time.monotonic() < deadline:
            time.sleep(0.2)
        self.kill()

    def kill(self):
        """Cuts the power: the emulator process ends at once."""
        pid = self.pid()
        if pid and self.running():
            os.kill(pid, 9)
            while self.running():
                time.sleep(0.05)
        for s in (self._qmp, self._agent):
            if s:
                s.close()
        self._qmp = self._agent = None

    # -- the monitor --------------------------------------------------------------------
    def qmp(self, command, **arguments):
        if self._qmp is None:
            self._qmp = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self._qmp.connect(self.qmp_path)
            self._qmp_file = self._qmp.makefile('rb')
            json.loads(self._qmp_file.readline())
            self._qmp_send({'execute': 'qmp_capabilities'})
        return self._qmp_send({'execute': command, 'arguments': arguments})

    def _qmp_send(self, message):
        self._qmp.sendall(json.dumps(message).encode() + b'\n')
        while True:
            reply = json.loads(self._qmp_file.readline())
            if 'return' in reply:
                return reply['return']
            if 'error' in reply:
                raise RuntimeError(f'monitor: {message["execute"]}: {reply["error"]}')

    def screenshot(self, png):
        self.qmp('screendump', filename=os.path.abspath(png), format='png')

    def _pointer(self, x, y, down=None):
        events = [{'type': 'abs', 'data': {'axis': 'x',
                                           'value': round(x * ABS_MAX / (SCREEN[0] - 1))}},
                  {'type': 'abs', 'data': {'axis': 'y',
                                           'value': round(y * ABS_MAX / (SCREEN[1] - 1))}}]
        if down is not None:
            events.append({'type': 'btn', 'data': {'down': down, 'button': 'left'}})
        self.qmp('input-send-event', events=events)

    def tap(self, x, y, hold=0.1):
        """A finger on the touch screen at (x, y) of the screen, and off again."""
        self._pointer(x, y)
        time.sleep(0.05)
        self._pointer(x, y, True)
        time.sleep(hold)
        self._pointer(x, y, False)

    def unplug_stick(self):
        self.qmp('device_del', id='usbstick')

    def release_stick(self):
        """Lets the emulator close the pulled stick's disk (it flushes and closes its image)."""
        for node in ('stick', 'stickfile'):
            try:
                self.qmp('blockdev-del', **{'node-name': node})
            except RuntimeError:
                pass

    def plug_stick(self, image=None):
        if image:
            self.stick_image = disk_source(image)
        self.release_stick()
        if self.stick_image.startswith(NBD):
            self.qmp('blockdev-add', driver='nbd', export='stick',
                     server={'type': 'unix', 'path': self.stick_image[len(NBD):]},
                     **{'node-name': 'stick'})
        else:
            self.qmp('blockdev-add', driver='file', filename=self.stick_image,
                     **{'node-name': 'stickfile'})
            self.qmp('blockdev-add', driver='raw', file='stickfile', **{'node-name': 'stick'})
        self.qmp('device_add', driver='usb-storage', bus='xhci.0', drive='stick',
                 id='usbstick', removable=True)

    # -- commands on the panel ----------------------------------------------------------
    def run(self, command, timeout=60, check=False):
        """Runs command with sh on the panel; returns (exit status, output)."""
        if self._agent is None:
            self._agent = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self._agent.connect(self.agent_path)
        ident = self._next_id
        self._next_id += 1
        self._agent.sendall(b'%d %s\n' % (ident, base64.b64encode(command.encode())))
        deadline = time.monotonic() + timeout
        end = b'@@END %d ' % ident
        while end not in self._agent_buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError(f'the panel did not finish "{command}" in {timeout} s')
            self._agent.settimeout(left)
            try:
                data = self._agent.recv(65536)
            except socket.timeout:
                continue
            if not data:
                raise RuntimeError('the panel closed its command channel')
            self._agent_buffer += data
        begin = self._agent_buffer.index(b'@@BEGIN %d\n' % ident)
        stop = self._agent_buffer.index(end)
        line_end = self._agent_buffer.index(b'\n', stop)
        status = int(self._agent_buffer[stop + len(end):line_end])
        body = self._agent_buffer[begin + len(b'@@BEGIN %d\n' % ident):stop]
        self._agent_buffer = self._agent_buffer[line_end + 1:]
        output = base64.b64decode(b''.join(body.split())).decode('utf-8', 'replace')
        if check and status != 0:
            raise RuntimeError(f'"{command}" failed ({status}) on the panel:\n{output}')
        return status, output


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--cache', default=os.path.join(ROOT, 'build-armhf/vm'))
    sub = ap.add_subparsers(dest='what', required=True)
    p = sub.add_parser('panel-disk')
    p.add_argument('image')
    p.add_argument('--size-mib', type=int, default=256)
    p = sub.add_parser('stick')
    p.add_argument('image')
    p.add_argument('folder')
    p.add_argument('--size-mib', type=int, default=256)
    p = sub.add_parser('boot')
    p.add_argument('dir')
    p.add_argument('panel')
    p.add_argument('stick', nargs='?')
    p.add_argument('--cache-mode', default='writeback', choices=['writeback', 'none'])
    p = sub.add_parser('run')
    p.add_argument('dir')
    p.add_argument('command', nargs='+')
    p.add_argument('--timeout', type=float, default=600)
    p = sub.add_parser('screenshot')
    p.add_argument('dir')
    p.add_argument('file')
    p = sub.add_parser('tap')
    p.add_argument('dir')
    p.add_argument('x', type=int)
    p.add_argument('y', type=int)
    p = sub.add_parser('unplug-stick')
    p.add_argument('dir')
    p = sub.add_parser('plug-stick')
    p.add_argument('dir')
    p.add_argument('image')
    p = sub.add_parser('stop')
    p.add_argument('dir')
    args = ap.parse_args()

    if args.what == 'panel-disk':
        make_panel_disk(args.image, args.cache, args.size_mib)
        return 0
    if args.what == 'stick':
        make_stick_image(args.image, args.folder, args.size_mib)
        return 0
    if args.what == 'boot':
        panel = Panel(args.dir, args.panel, args.stick, args.cache, args.cache_mode)
        seconds = panel.start()
        print(f'armhf_panel.py: the panel answers after {seconds:.1f} s; monitor {panel.qmp_path},'
              f' commands {panel.agent_path}, console {panel.console}, pid {panel.pid()}')
        return 0
    # The other commands reach a running panel through its folder's sockets.
    panel = Panel(args.dir, '/dev/null', cache=args.cache)
    if not panel.running():
        sys.exit(f'armhf_panel.py: no panel runs in {args.dir}')
    if args.what == 'run':
        status, output = panel.run(' '.join(args.command), timeout=args.timeout)
        sys.stdout.write(output)
        return status
    if args.what == 'screenshot':
        panel.screenshot(args.file)
    elif args.what == 'tap':
        panel.tap(args.x, args.y)
    elif args.what == 'unplug-stick':
        panel.unplug_stick()
    elif args.what == 'plug-stick':
        panel.plug_stick(args.image)
    elif args.what == 'stop':
        panel.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
