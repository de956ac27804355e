#!/usr/bin/env python3
"""The main job on the emulated 32-bit ARM panel (scripts/armhf_panel.py), end to end.

    armhf_demo.py [--unattended] [--keep-running]

Makes the stick with "hixpack build --target armhf" from examples/package, puts it on a FAT32
stick image, makes a fresh panel disk (examples/panel, access password "2468"), boots the panel
and then, as the technician does, starts upgentry.bin from the stick and answers every window
with taps on the touch screen: the first page, the confirmation, the password on the on-screen
keys, the finish box and the restart button. Screenshots of every window go to
out/demo-armhf/screenshots (and, with --docs, to docs/armhf_*.png). Afterwards it prints the run
log, the beeps, the recorded restart, the update's time against cp of the same files on the
panel, and compares every file of the panel's /usr/vexo_app with examples/panel-expected.

--unattended: no windows: the updater is started as the launcher starts it, with
"-showUpdatePage 0", and the panel is compared when the run log says it ended. The package then
also carries a folder and a file with Chinese names (runtime/说明/版本说明.txt), which must arrive
on the panel through the FAT stick.
Exit status 0 only when the update ended well and the panel is as expected.
"""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import armhf_panel  # noqa: E402

PASSWORD = '2468'
STICK = '/media/usb0'
LIBS = STICK + '/hixlib'
LOG = STICK + '/upgradeProcess.log'
# The finish text's id in the example package, and the updater's last line before its box.
FINISH_TEXT_ID = 2161
UPDATE_DONE = '升级成功'
CHINESE_NAME = 'runtime/说明/版本说明.txt'
SELF_PLACED = {'UDiskUpWin', 'PwdEntryDialog'}


def png_rows(png):
    """The width and the filtered rows (each a filter byte and RGB bytes) of an 8-bit RGB PNG."""
    at, data, width = 8, b'', 0
    while at < len(png):
        length, kind = struct.unpack('>I4s', png[at:at + 8])
        if kind == b'IHDR':
            width = struct.unpack('>I', png[at + 8:at + 12])[0]
        elif kind == b'IDAT':
            data += png[at + 8:at + 8 + length]
        at += 12 + length
    return width, zlib.decompress(data)


def blank(png):
    """True when a screendump (8-bit RGB PNG) is black all over."""
    width, pixels = png_rows(png)
    row = 1 + 3 * width
    return all(not any(pixels[i + 1:i + row]) for i in range(0, len(pixels), row))


def lit_pixels(png):
    """How many pixels of a screendump (8-bit RGB PNG) are not black."""
    width, raw = png_rows(png)
    stride, lit = 3 * width, 0
    previous = bytearray(stride)
    for start in range(0, len(raw), stride + 1):
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):  # the PNG row filters, undone
            a = line[i - 3] if i >= 3 else 0
            b, c = previous[i], previous[i - 3] if i >= 3 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        lit += sum(1 for x in range(0, stride, 3) if line[x] or line[x + 1] or line[x + 2])
        previous = line
    return lit


class Demo:
    def __init__(self, args):
        self.args = args
        self.out = os.path.join(ROOT, 'out/demo-armhf')
        self.shots = os.path.join(self.out, 'screenshots')
        self.build = os.path.join(ROOT, args.build)
        self.cross = os.path.join(ROOT, args.cross)
        self.panel = None
        self.shot_number = 0
        self.maps = {}

    def say(self, text):
        print(text, flush=True)

    # -- making the machine -----------------------------------------------------------
    def prepare(self):
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.shots)
        stick = os.path.join(self.out, 'stick')
        package = os.path.join(ROOT, 'examples/package')
        self.extra = {}
        if self.args.unattended:
            package = os.path.join(self.out, 'package')
            shutil.copytree(os.path.join(ROOT, 'examples/package'), package)
            self.extra[CHINESE_NAME] = '版本 2.0 的说明\n'.encode()
            os.makedirs(os.path.dirname(os.path.join(package, CHINESE_NAME)))
            with open(os.path.join(package, CHINESE_NAME), 'wb') as f:
                f.write(self.extra[CHINESE_NAME])
        # A throw-away key made for this run: the panel's disk trusts its public half only.
        hixpack = os.path.join(self.build, 'bin/hixpack')
        key = os.path.join(self.out, 'keys/demo')
        os.makedirs(os.path.dirname(key))
        subprocess.run([hixpack, 'keygen', key], check=True)
        self.say(f'== the stick: hixpack build --target armhf --sign {os.path.relpath(key, ROOT)}.key '
                 f'{os.path.relpath(package, ROOT)} {os.path.relpath(stick, ROOT)}')
        subprocess.run([hixpack, 'build', '--target', 'armhf', '--sign', key + '.key', package,
                        stick], check=True)
        subprocess.run([hixpack, 'verify', '--key', key + '.pub', stick], check=True)
        cache = os.path.join(self.cross, 'vm')
        self.say('== images: the panel disk (ext4), the stick (FAT32), the demo tools')
        panel_image = armhf_panel.make_panel_disk(os.path.join(self.out, 'panel.img'), cache,
                                                  trusted_keys=[key + '.pub'])
        stick_image = armhf_panel.make_stick_image(os.path.join(self.out, 'stick.img'), stick)
        tools = os.path.join(self.out, 'tools')
        os.makedirs(tools)
        # The widget map lays out the programs' own windows on the panel's screen and fonts.
        shutil.copy(os.path.join(self.cross, 'bin/hix_widget_map'), tools)
        subprocess.run(['arm-linux-gnueabihf-strip', os.path.join(tools, 'hix_widget_map')],
                       check=True)
        tools_image = armhf_panel.make_tools_image(os.path.join(self.out, 'tools.img'), tools)
        self.panel = armhf_panel.Panel(os.path.join(self.out, 'vm'), panel_image, stick_image,
                                       cache, tools_image=tools_image)

    def boot(self):
        self.say('== booting the emulated ARM panel')
        seconds = self.panel.start()
        self.say(f'   it answers after {seconds:.1f} s (emulator start to the first command)')
        return seconds

    def guest(self, command, timeout=120):
        status, output = self.panel.run(command, timeout=timeout)
        if status != 0:
            raise RuntimeError(f'on the panel: "{command}" failed ({status}):\n{output}')
        return output

    def read_maps(self):
        env = (f'LD_LIBRARY_PATH={LIBS} QT_PLUGIN_PATH={LIBS}/plugins '
               f'FONTCONFIG_FILE={LIBS}/fonts/fonts.conf QT_QPA_PLATFORM=linuxfb '
               'QT_QPA_FB_DISABLE_INPUT=1 HIX_SYSROOT=')
        for what in ('launcher', 'password', 'updater',
                     f'message {STICK}/language/0000.lan {FINISH_TEXT_ID}'):
            text = self.guest(f'{env} /run/emu-tools/hix_widget_map {what} 2>/dev/null')
            window = None
            for line in text.splitlines():
                fields = line.split(' ')
                if fields[0] == '@window':
                    window = (fields[1], int(fields[2]), int(fields[3]))
                elif len(fields) >= 3 and window:
                    self.maps.setdefault(fields[0], (window, int(fields[1]), int(fields[2])))
        if 'okBtn' not in self.maps or 'keyBtn2' not in self.maps:
            raise RuntimeError('the widget map found no buttons')

    # -- the screen -------------------------------------------------------------------
    def screen(self):
        path = os.path.join(self.out, 'screen.png')
        self.panel.screenshot(path)
        with open(path, 'rb') as f:
            return f.read()

    def wait_screen(self, before, timeout=60, window=None):
        """Waits until the screen shows something other than before (and not only black) and
        has held still for a second; with window (a name of the widget map), until at least
        half as many pixels are lit as that window covers."""
        deadline = time.monotonic() + timeout
        last = None
        least = 0
        for (name, width, height), _, _ in self.maps.values():
            if name == window:
                least = width * height // 2
        while time.monotonic() < deadline:
            now = self.screen()
            if now != before and now == last and not blank(now) and (
                    not least or lit_pixels(now) >= least):
                return now
            last = now
            time.sleep(0.5)
        raise RuntimeError('the panel\'s screen did not change')

    def shot(self, name):
        self.shot_number += 1
        path = os.path.join(self.shots, f'{self.shot_number:02d}-{name}.png')
        self.panel.screenshot(path)
        self.say(f'   screenshot {path}')
        if self.args.docs:
            shutil.copy(path, os.path.join(ROOT, 'docs', f'armhf_{name.replace("-", "_")}.png'))
        return path

    def tap(self, button):
        """Taps a button where the window stands on the screen. The updater window and the
        password dialog centre themselves; Qt places every other dialog by the centre of the
        screen (or of its parent, itself centred) less 10 x 41 pixels that it allows for a
        window frame, which the framebuffer does not draw."""
        (name, width, height), x, y = self.maps[button]
        screen_w, screen_h = armhf_panel.SCREEN
        if name in SELF_PLACED:
            left, top = (screen_w - width) // 2, (screen_h - height) // 2
        else:
            left, top = screen_w // 2 - width // 2 - 10, screen_h // 2 - height // 2 - 41
        self.panel.tap(left + x, top + y)
        time.sleep(0.3)

    def wait_guest(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            status, _ = self.panel.run(condition, timeout=30)
            if status == 0:
                return
            time.sleep(0.3)
        raise RuntimeError(f'no {what} within {timeout} s')

    # -- the run ----------------------------------------------------------------------
    def attended(self):
        self.read_maps()
        blank = self.screen()
        self.say('== the technician starts upgentry.bin from the stick')
        started = time.monotonic()
        self.guest(f'cd {STICK} && (./upgentry.bin >/run/upgentry.out 2>&1 &)')
        # The panel holds the key: the launcher first reads the whole stick, with a small
        # progress window when that takes a while.
        page = self.wait_screen(blank, 300, window='TipMainDlg')
        self.say(f'   first page after {time.monotonic() - started:.1f} s (the stick checked '
                 'against the panel\'s key first)')
        self.shot('first-page')
        self.tap('okBtn')
        confirmation = self.wait_screen(page)
        self.shot('confirmation')
        self.tap('upBtnOk')
        password = self.wait_screen(confirmation)
        for digit in PASSWORD[:-1]:
            self.tap('keyBtn' + digit)
        self.wait_screen(password, 10)
        self.shot('password')
        start = time.monotonic()
        self.tap('keyBtn' + PASSWORD[-1])
        self.wait_guest(f'grep -q "{UPDATE_DONE}" {LOG}', 300, 'end of the update')
        end = time.monotonic()
        time.sleep(1.5)  # the finish box paints
        self.shot('finish-text')
        self.tap('okButton')
        self.wait_guest(f'head -1 {LOG} | grep -q "成功"', 30, 'report line "[成功]"')
        self.wait_guest('[ $(grep -c "^beep 500" /run/buzzer.log) -ge 3 ]', 15, 'three beeps')
        time.sleep(1)
        self.shot('updater-finished')
        self.tap('btnRestart')
        self.wait_guest('[ -s /var/log/restart.log ]', 30, 'recorded restart')
        return end - start

    def unattended(self):
        self.say('== the updater started as the launcher starts it, with no windows')
        start = time.monotonic()
        self.guest(f'cd {STICK} && printf "[失败]\\n------------------------\\n" >{LOG} && '
                   f'cd hixupdateu && (LD_LIBRARY_PATH="\\$PATH:{STICK}/hixupdateu:/usr/vexo_app" '
                   f'./upgrunner.bin "-execond 0" "-lanID 0000" "-title 基础升级包" '
                   f'"-showUpdatePage 0" >/run/upgrunner.out 2>&1 &)')
        self.wait_guest(f'head -1 {LOG} | grep -q "成功"', 300, 'report line "[成功]"')
        return time.monotonic() - start

    def report(self, update_seconds):
        self.say(f'\n== run log {LOG}')
        self.say(self.guest(f'cat {LOG}'))
        self.say('== beeps (/run/buzzer.log)')
        self.say(self.panel.run('cat /run/buzzer.log')[1] or '(none)')
        self.say('== recorded restart (/var/log/restart.log)')
        self.say(self.panel.run('cat /var/log/restart.log')[1] or '(none)')
        # The same files with cp on the panel: what the copy list moves, stick to panel disk.
        cp_seconds = float(self.guest(
            'rm -rf /root/cp-target && mkdir -p /root/cp-target/fonts && sync && '
            'read a _ </proc/uptime && '
            f'cp {STICK}/hixupdateu/version.txt /root/cp-target/ && '
            f'cp -r {STICK}/hixupdateu/runtime /root/cp-target/ && '
            f'cp {STICK}/hixupdateu/fonts/*.ttf /root/cp-target/fonts/ && sync && '
            'read b _ </proc/uptime && echo "$b - $a" | bc 2>/dev/null || '
            'awk -v a=$a -v b=$b "BEGIN { print b - a }"').split()[-1])
        measured = ('from the updater\'s start to the report line' if self.args.unattended else
                    'from the last password key to the updater\'s last line')
        self.say(f'== the update took {update_seconds:.2f} s ({measured}); cp of the same files '
                 f'on the panel {cp_seconds:.2f} s')
        return self.compare()

    def compare(self):
        self.say('== panel /usr/vexo_app against examples/panel-expected')
        listing = self.guest('cd /usr/vexo_app && find . -type f | sort | xargs md5sum')
        actual = {}
        for line in listing.splitlines():
            digest, name = line.split(None, 1)
            actual[name[2:]] = digest
        expected_root = os.path.join(ROOT, 'examples/panel-expected/usr/vexo_app')
        expected = {}
        for folder, _, files in os.walk(expected_root):
            for f in files:
                path = os.path.join(folder, f)
                with open(path, 'rb') as fh:
                    expected[os.path.relpath(path, expected_root)] = hashlib.md5(
                        fh.read()).hexdigest()
        for name, content in self.extra.items():
            expected[name] = hashlib.md5(content).hexdigest()
        differences = 0
        for name in sorted(set(expected) | set(actual)):
            if name not in actual:
                self.say(f'   missing: {name}')
            elif name not in expected:
                self.say(f'   not expected: {name}')
            elif actual[name] != expected[name]:
                self.say(f'   differs: {name}')
            else:
                continue
            differences += 1
        if differences == 0:
            self.say(f'   every file as expected ({len(expected)} files)')
        return differences == 0


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--unattended', action='store_true')
    ap.add_argument('--docs', action='store_true', help='copy the screenshots to docs/')
    ap.add_argument('--keep-running', action='store_true',
                    help='leave the panel running (stop it with armhf_panel.py stop DIR)')
    ap.add_argument('--build', default='build')
    ap.add_argument('--cross', default='build-armhf')
    args = ap.parse_args()
    demo = Demo(args)
    started = time.monotonic()
    demo.prepare()
    ok = False
    try:
        demo.boot()
        seconds = demo.unattended() if args.unattended else demo.attended()
        ok = demo.report(seconds)
        if not args.unattended:
            demo.say(f'== screenshots of every window: {demo.shots}')
    finally:
        if not args.keep_running:
            demo.panel.stop()
        else:
            demo.say(f'== the panel keeps running: scripts/armhf_panel.py stop {demo.panel.dir}')
    demo.say(f'== the whole run took {time.monotonic() - started:.0f} s')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
