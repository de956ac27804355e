#!/usr/bin/env python3
"""Power cuts and pulled sticks on the emulated ARM panel, during a full update.

    armhf_powercut.py [--cuts N] [--pulls N] [--jobs J] [--max-minutes M] [--seed S]
                      [--lose MODEL] [--report FILE] [--work DIR] [--build DIR] [--cross DIR]
                      [--resume]

Start it through scripts/armhf_powercut.sh, which builds what it needs and gives it namespaces
of its own.

The update is the reliability package of scripts/powercut.py (copy lists in all three modes,
deletes, a grant, a command, two programs whose before-backups protect files the programs
overwrite, after-copies, the finish), with the updater's window shown. The panel
(scripts/armhf_panel.py: ext4 panel disk, FAT32 stick) has both disks behind
scripts/volatile_disk.py: the guest sees disks with a volatile write cache, and what it wrote
reaches the image only when it flushes. Every start is the technician's: upgentry.bin from the
stick.

A cut ends the emulator at once: the guest's page cache is gone, and so are the writes the guest
had sent but not flushed (all of them, or a random subset of 4 KiB pieces: --lose drop, subset, or
mixed, alternating). The panel boots again and the launcher is started until the run ends by
itself (the restart request recorded, no process left), stops (a human is needed), or four starts
have not ended it. A pull removes the stick through the emulator's monitor (what the stick had not
flushed is lost), leaves it out for a while, puts it back and starts the launcher again; meanwhile
the updater's words, its screen and its processes are recorded.

Each cut or pull targets a phase of the update (launcher, staging, rename pass, deletes, grant,
command, backup, program, restore, after-copies, finish), in turn: it waits for the phase's first
line on the trace port and a random part of that phase's length in the uncut run. The phase it
really landed in is read from what the updater had said before the cut. Afterwards the panel's
/usr/vexo_app is compared file by file (content and execute bit) with an uncut run; the stick must
hold the run log with "[成功]" at its head, no state file, no backup and nothing else the run made;
the panel disk must hold nothing under the stick's mount point; both file systems are checked
(e2fsck, fsck.fat).

The JSON report (--report, default WORK/report.json) is written after every trial, with a
Markdown table by phase (WORK/table.md). --resume goes on with a campaign that a time bound
ended: with the same counts, seed and jobs in the same WORK it runs the trials not yet recorded,
against the package, images and uncut run of the first start, and reports them all. Exit status 0 when every trial completed with nothing
lost, corrupted or left over, and every pull was said in plain words.
"""
import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import armhf_panel  # noqa: E402
import powercut  # noqa: E402

STICK = '/media/usb0'
APP = '/usr/vexo_app'
PACKAGE = STICK + '/hixupdateu'
LOG = STICK + '/upgradeProcess.log'
SUCCESS_HEAD = '[成功]'
START = f'cd {STICK} && (./upgentry.bin >/run/trace 2>&1 &)'
# Nothing said for this long while the updater runs and no program of the package runs: it waits
# for somebody (its window shows a failure, or a dialog waits).
STALL_SECONDS = 90
# How long a pulled stick stays out at most while the updater has said nothing of it.
WORDS_PATIENCE = 90
LAUNCHER_PATIENCE = 60
RUN_TIMEOUT = 480
MAX_STARTS = 4

# The phases of the run, in order, each with the line that opens it (the updater's own words on
# the trace port, as its window and log show them, and two of its diagnostics).
PHASES = ['launcher', 'staging', 'rename pass', 'deletes', 'grant', 'command', 'backup',
          'program', 'restore', 'after-copies', 'finish']
MARKERS = [
    ('launcher', '开始升级...'),
    ('staging', '开始拷贝指定文件...'),
    ('rename pass', 'copy file success.'),
    ('deletes', '开始删除指定文件...'),
    ('grant', '给指定文件赋予可执行权限...'),
    ('command', '执行指定命令...'),
    ('backup', '即将启动执行程序...'),
    ('backup', ':开始备份指定文件...'),
    ('program', ':启动成功...'),
    ('restore', ':即将恢复文件...'),
    ('after-copies', ':开始拷贝指定文件...'),
    ('finish', '程序全部执行完成...'),
]
# What the updater says when the stick has gone (language table 0000, text 2260).
STICK_GONE = 'U盘已被拔出'
UPDATE_DONE = '升级成功'


MESSAGE = 'Clog write message: "'


def events(trace):
    """The phases the trace opened, in order: the updater's lines as its window and log show them
    (its run-log diagnostics, 'Clog write message: "TEXT\\n"'), and its plain diagnostics."""
    found = []
    for line in trace.splitlines():
        line = line.strip()
        if line.startswith(MESSAGE):
            line = line[len(MESSAGE):]
            if line.endswith('"'):
                line = line[:-1]
            if line.endswith('\\n'):
                line = line[:-2]
        for phase, marker in MARKERS:
            # The end of staging opens the rename pass of the package's copy list; the copy
            # lists after the programs have their own.
            if phase == 'rename pass' and found and found[-1] != 'staging':
                continue
            if line == marker or (marker.startswith(':') and line.endswith(marker)
                                  and len(line) > len(marker)):
                if not found or found[-1] != phase:
                    found.append(phase)
                break
    return found


def phase_at(trace):
    """The phase the run was in at the end of trace (the launcher before any line)."""
    found = events(trace)
    return found[-1] if found else 'launcher'


def openings(trace, phase):
    """How often the run has entered phase so far."""
    return events(trace).count(phase)


def phase_spans(timeline, phase):
    """(start, length) of each time the uncut run was in phase."""
    return [(t, max(timeline[i + 1][0] - t, 0.05) if i + 1 < len(timeline) else 1.0)
            for i, (t, p) in enumerate(timeline) if p == phase]


class VolatileDisks:
    """The two NBD servers of one boot; started before the emulator, ended after it."""

    def __init__(self, folder, panel_image, stick_image, lose, seed):
        self.folder = folder
        self.images = dict(panel=panel_image, stick=stick_image)
        self.lose = lose
        self.seed = seed
        self.servers = {}
        self.summaries = {}

    def socket(self, disk):
        return os.path.join(self.folder, f'{disk}.nbd')

    def summary_path(self, disk):
        return os.path.join(self.folder, f'{disk}.summary.json')

    def start(self, disk):
        path = self.socket(disk)
        for old in (path, self.summary_path(disk)):
            if os.path.exists(old):
                os.remove(old)
        self.servers[disk] = subprocess.Popen(
            [sys.executable, os.path.join(HERE, 'volatile_disk.py'), self.images[disk], path,
             '--lose', self.lose, '--seed', str(self.seed), '--summary', self.summary_path(disk)],
            stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(path):
            if self.servers[disk].poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f'the volatile disk server of the {disk} did not start')
            time.sleep(0.02)

    def sources(self):
        return armhf_panel.NBD + self.socket('panel'), armhf_panel.NBD + self.socket('stick')

    def read_summary(self, disk):
        try:
            with open(self.summary_path(disk)) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def power_loss(self, disk, timeout=10):
        """The device lost its power while the emulator goes on (the stick was pulled)."""
        before = len(self.read_summary(disk).get('power_losses', []))
        self.servers[disk].send_signal(signal.SIGUSR1)
        deadline = time.monotonic() + timeout
        while len(self.read_summary(disk).get('power_losses', [])) <= before:
            if time.monotonic() > deadline:
                raise RuntimeError(f'the {disk} server did not take the power loss')
            time.sleep(0.02)

    def finish(self, disk, timeout=30):
        """Waits for the server to end (its emulator is gone or closed the disk); keeps its
        summary."""
        server = self.servers.pop(disk, None)
        if server is None:
            return
        try:
            server.wait(timeout)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        summary = self.read_summary(disk)
        self.summaries.setdefault(disk, []).append(summary)

    def finish_all(self):
        for disk in list(self.servers):
            self.finish(disk)

    def kill_all(self):
        for server in self.servers.values():
            if server.poll() is None:
                server.kill()
                server.wait()
        self.servers.clear()


class Campaign:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.cross = os.path.abspath(args.cross)
        self.work = os.path.abspath(args.work)
        self.cache = os.path.join(self.cross, 'vm')
        self.pristine = os.path.join(self.work, 'pristine')
        self.trial_dir = os.path.join(self.work, 'trial')
        self.report_path = os.path.abspath(args.report or os.path.join(self.work, 'report.json'))
        self.panel = None
        self.disks = None
        self.trials = []
        self.reference = None
        self.stick_files = None
        self.timeline = []
        self.started = time.monotonic()
        self.workers = []

    def say(self, text):
        print(f'[{(time.monotonic() - self.started) / 60:6.1f} min] {text}', flush=True)

    # -- the images -----------------------------------------------------------------------
    def prepare(self):
        shutil.rmtree(self.pristine, ignore_errors=True)
        os.makedirs(self.pristine)
        package = os.path.join(self.pristine, 'package')
        runtime = os.path.join(self.pristine, 'runtime')
        ini = powercut.write_reliability_package(runtime, package, APP, PACKAGE,
                                                 password=False, show_page=True)
        with open(os.path.join(package, 'update.ini'), 'w', encoding='utf-8') as f:
            f.write(ini)
        stick = os.path.join(self.pristine, 'stick')
        subprocess.run([os.path.join(self.build, 'bin/hixpack'), 'build', '--bin',
                        os.path.join(self.cross, 'bin'), package, stick], check=True,
                       stdout=subprocess.DEVNULL)
        armhf_panel.make_panel_disk(os.path.join(self.pristine, 'panel.img'), self.cache,
                                    runtime=runtime)
        armhf_panel.make_stick_image(os.path.join(self.pristine, 'stick.img'), stick)
        self.stick_files = sorted(
            os.path.relpath(os.path.join(d, f), stick) for d, _, fs in os.walk(stick) for f in fs)

    def fresh_images(self):
        shutil.rmtree(self.trial_dir, ignore_errors=True)
        os.makedirs(self.trial_dir)
        for name in ('panel.img', 'stick.img'):
            subprocess.run(['cp', '--sparse=always', os.path.join(self.pristine, name),
                            os.path.join(self.trial_dir, name)], check=True)

    # -- one boot -------------------------------------------------------------------------
    def boot(self, lose, seed):
        self.disks = VolatileDisks(self.trial_dir, os.path.join(self.trial_dir, 'panel.img'),
                                   os.path.join(self.trial_dir, 'stick.img'), lose, seed)
        self.disks.start('panel')
        self.disks.start('stick')
        panel_source, stick_source = self.disks.sources()
        self.panel = armhf_panel.Panel(os.path.join(self.trial_dir, 'vm'), panel_source,
                                       stick_source, self.cache)
        try:
            self.panel.start(timeout=180)
        except Exception:
            self.power_off(cut=True)
            raise
        self.say(f'booted in {self.panel.boot_seconds:.1f} s')
        # The stick is mounted by the hot-plug script shortly after the boot.
        self.wait_guest(f'grep -q " {STICK} " /proc/mounts', 60, 'the stick mounted')

    def power_off(self, cut):
        """Ends this boot: a cut (the emulator is killed) or a clean power-off from inside."""
        if self.panel is not None:
            if cut:
                self.panel.kill()
            else:
                self.panel.stop(timeout=60)
        summaries = {}
        if self.disks is not None:
            self.disks.finish_all()
            summaries = {d: s[-1] for d, s in self.disks.summaries.items()}
        self.panel = None
        return summaries

    def guest(self, command, timeout=60):
        return self.panel.run(command, timeout=timeout)

    def wait_guest(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.guest(condition, timeout=30)[0] == 0:
                return
            time.sleep(0.3)
        raise RuntimeError(f'no {what} within {timeout} s')

    def trace(self):
        try:
            with open(self.panel.trace, 'rb') as f:
                return f.read().decode('utf-8', 'replace')
        except OSError:
            return ''

    def console_count(self, word):
        try:
            with open(self.panel.console, 'rb') as f:
                return f.read().count(word.encode())
        except OSError:
            return 0

    def processes(self):
        """Which of the launcher, the updater and the package's programs run."""
        _, out = self.guest('for p in upgentry.bin upgrunner.bin prog1.sh prog2.sh; do '
                            'pidof $p >/dev/null && echo $p; done; true')
        return set(out.split())

    def restarts(self):
        _, out = self.guest('cat /var/log/restart.log 2>/dev/null | wc -l')
        return int(out.strip() or 0)

    # -- one start of the launcher ----------------------------------------------------------
    def launch(self):
        self.guest(START)

    def run_to_end(self):
        """Starts the launcher and waits for the run to end: 'done' (restart requested, nothing
        runs), 'stopped' (the updater waits with nothing said for a while: a failure or a
        question on its window), 'asked' (the launcher waits without an updater), 'ended'
        (everything ended without the restart request) or 'timeout'."""
        restarts = self.restarts()
        started = time.monotonic()
        self.launch()
        last_size, last_change = -1, time.monotonic()
        while time.monotonic() - started < RUN_TIMEOUT:
            time.sleep(1)
            size = len(self.trace())
            if size != last_size:
                last_size, last_change = size, time.monotonic()
            running = self.processes()
            if not running & {'upgentry.bin', 'upgrunner.bin'}:
                return 'done' if self.restarts() > restarts else 'ended'
            quiet = time.monotonic() - last_change
            if 'upgrunner.bin' in running and not running & {'prog1.sh', 'prog2.sh'} \
                    and quiet > STALL_SECONDS:
                return 'stopped'
            if running == {'upgentry.bin'} and quiet > LAUNCHER_PATIENCE:
                return 'asked'
        return 'timeout'

    def run_reference(self):
        """An uncut run: the timeline of its phases (host time of each opening line) and the
        panel it leaves."""
        self.fresh_images()
        self.boot('drop', 0)
        started = time.monotonic()
        restarts = self.restarts()
        self.launch()
        timeline, seen = [(0.0, 'launcher')], 0
        while time.monotonic() - started < RUN_TIMEOUT:
            text = self.trace()
            if len(text) != seen:
                seen = len(text)
                phase = phase_at(text)
                if phase != timeline[-1][1]:
                    timeline.append((time.monotonic() - started, phase))
            if self.restarts() > restarts and not self.processes() & {'upgrunner.bin'}:
                break
            time.sleep(0.05)
        else:
            raise RuntimeError('the uncut run did not end')
        timeline.append((time.monotonic() - started, 'after the run'))
        tree = self.panel_tree()
        stick = self.stick_state()
        self.power_off(cut=False)
        if stick['log_head'] != SUCCESS_HEAD or stick['left_over']:
            raise RuntimeError(f'the uncut run did not end well: {stick}')
        return timeline, tree

    # -- what the run left ------------------------------------------------------------------
    def panel_tree(self):
        """Path -> (sha256, executable) of every file under the runtime folder."""
        _, sums = self.guest(f'cd {APP} && find . -type f -exec sha256sum {{}} +', 120)
        _, executables = self.guest(f'cd {APP} && find . -type f -perm -100', 60)
        executable = {line.strip()[2:] for line in executables.splitlines()}
        tree = {}
        for line in sums.splitlines():
            digest, name = line.split(None, 1)
            tree[name[2:]] = (digest, name[2:] in executable)
        return tree

    def stick_state(self):
        """The run log's head line, and every file on the stick that the pristine stick did
        not have, but the run log; and what lies on the panel disk under the stick's mount
        point."""
        _, head = self.guest(f'head -n 1 {LOG} 2>/dev/null')
        _, files = self.guest(f'cd {STICK} && find . -type f', 60)
        # The run log and the launcher's settings of the run are the launcher's own files.
        known = set(self.stick_files) | {'upgradeProcess.log', 'config/baseUpdateTmp.ini'}
        left = sorted(f[2:] for f in files.split('\n') if f.startswith('./')
                      and f[2:] not in known)
        _, under = self.guest(f'mkdir -p /run/rootfs && mount --bind / /run/rootfs && '
                              f'(cd /run/rootfs{STICK} && find . ! -name .); '
                              f'umount /run/rootfs')
        hidden = sorted('panel:' + f[2:] for f in under.split('\n') if f.startswith('./'))
        return dict(log_head=head.strip(), left_over=left + hidden)

    def check_file_systems(self):
        """e2fsck and fsck.fat on the images after the clean power-off (no change made)."""
        problems = []
        panel = os.path.join(self.trial_dir, 'panel.img')
        result = subprocess.run(['e2fsck', '-fn', panel], capture_output=True, text=True)
        if result.returncode != 0:
            problems.append('panel: ' + ' / '.join(result.stdout.strip().splitlines()[-20:]))
        part = os.path.join(self.trial_dir, 'stick.part')
        subprocess.run(['dd', f'if={os.path.join(self.trial_dir, "stick.img")}', f'of={part}',
                        'bs=1M', 'skip=1', 'status=none'], check=True)
        result = subprocess.run(['fsck.fat', '-n', part], capture_output=True, text=True)
        if result.returncode != 0 and not self.only_dirty_bit(result.stdout + result.stderr):
            lines = [line.strip() for line in (result.stdout + result.stderr).splitlines()]
            problems.append('stick: ' + ' / '.join(line for line in lines[1:40] if line))
        os.remove(part)
        return problems

    @staticmethod
    def only_dirty_bit(report):
        """fsck.fat's only complaint is the flag a mounted FAT carries until it is unmounted
        (the boot sector differs from its backup at offset 65): a panel restarts without
        unmounting the stick."""
        differences = re.findall(r'^\s+(\d+):\w+/\w+\s*$', report, re.M)
        others = [line for line in report.splitlines()
                  if line.strip() and not re.match(
                      r'(fsck\.fat \d|There are differences|This is mostly harmless|'
                      r'Differences: \(offset|\s+\d+:\w+/\w+\s*$|\s*Not automatically fixing|'
                      r'Leaving filesystem unchanged|Dirty bit is set|\s*Automatically '
                      r'removing dirty bit|/|\S+: \d+ files, )', line)]
        return differences == ['65'] and not others

    # -- the trials -------------------------------------------------------------------------
    def plan(self, rnd, kind, n):
        targets = self.args.phases.split(',') if self.args.phases else PHASES
        phase = targets[n % len(targets)]
        spans = phase_spans(self.timeline, phase) or [(0.0, 1.0)]
        occurrence = rnd.randrange(len(spans))
        lose = self.args.lose if self.args.lose != 'mixed' else ('drop', 'subset')[n % 2]
        return dict(kind=kind, n=n, target=phase, occurrence=occurrence + 1,
                    delay=round(rnd.random() * spans[occurrence][1], 3), lose=lose)

    def wait_for_phase(self, trial, started):
        """Waits until the run enters the target phase for the planned time (by the trace),
        then for the planned delay. A phase that never comes is noted; the cut then comes when
        the run has waited RUN_TIMEOUT."""
        phase = trial['target']
        if phase != 'launcher':
            while openings(self.trace(), phase) < trial['occurrence']:
                if time.monotonic() - started > RUN_TIMEOUT:
                    trial['note'] = 'the target phase never came'
                    return
                time.sleep(0.01)
        time.sleep(trial['delay'])

    def restart_until_end(self, trial, rnd):
        outcomes = []
        for start_number in range(MAX_STARTS):
            try:
                self.boot(trial['lose'], rnd.randrange(1 << 30))
            except Exception as e:  # the panel does not come up: a human is needed
                outcomes.append(f'no boot: {e}')
                self.power_off(cut=True)
                break
            outcome = self.run_to_end()
            outcomes.append(outcome)
            if outcome == 'done':
                break
            if outcome in ('stopped', 'asked', 'ended', 'timeout'):
                # The technician sees the window (or nothing) and starts again from the stick:
                # the next start closes what still runs.
                trial.setdefault('traces', []).append(self.trace()[-1500:])
                self.keep_console(trial, start_number)
                if start_number + 1 < MAX_STARTS:
                    self.power_off(cut=False)
                    continue
            break
        trial['starts'] = outcomes
        return outcomes[-1] if outcomes else 'none'

    def keep_console(self, trial, start_number):
        """Keeps the kernel's words of a start that did not end the run (the next boot
        overwrites them): file-system errors show there."""
        folder = os.path.join(self.work, 'consoles')
        os.makedirs(folder, exist_ok=True)
        kept = os.path.join(folder, f'{trial["kind"]}-{trial["n"]:03d}-start{start_number}.log')
        try:
            shutil.copyfile(self.panel.console, kept)
            trial.setdefault('consoles', []).append(os.path.relpath(kept, self.work))
        except OSError:
            pass

    def judge(self, trial, outcome):
        """Compares the panel with the uncut run and checks the stick; then the clean power-off
        and the file-system checks."""
        if self.panel is not None and self.panel.running():
            tree = self.panel_tree()
            stick = self.stick_state()
            self.power_off(cut=False)
            trial['fsck'] = self.check_file_systems()
        else:
            tree, stick = {}, dict(log_head='', left_over=['(no panel)'])
            trial['fsck'] = []
        ref = self.reference
        trial['lost'] = sorted(p for p in ref if p not in tree)
        trial['corrupted'] = sorted(p for p in ref if p in tree and tree[p][0] != ref[p][0])
        trial['wrong_mode'] = sorted(p for p in ref if p in tree and tree[p][0] == ref[p][0]
                                     and tree[p][1] != ref[p][1])
        trial['extra'] = sorted(p for p in tree if p not in ref)
        trial['log_head'] = stick['log_head']
        trial['stick_left_over'] = stick['left_over']
        trial['outcome'] = outcome
        # The technician's one start after the fault must end the run by itself.
        trial['completed'] = trial.get('starts', [outcome])[0] == 'done'
        trial['needed_human'] = not trial['completed']
        trial['files_lost'] = bool(trial['lost'])
        trial['files_corrupted'] = bool(trial['corrupted'])
        trial['left_over'] = bool(trial['extra'] or trial['stick_left_over']
                                  or (outcome == 'done' and stick['log_head'] != SUCCESS_HEAD))
        # What the file-system checks found (a FAT cut off in an allocation leaves clusters
        # that no file holds): kept apart from the run's own left-overs.
        trial['fs_damage'] = bool(trial['fsck'])
        trial['clean'] = trial['completed'] and not (trial['files_lost']
                                                     or trial['files_corrupted']
                                                     or trial['wrong_mode']
                                                     or trial['left_over']
                                                     or trial['fs_damage'])

    def run_to_target(self, trial, rnd):
        """A fresh panel, the technician's start, and the wait for the trial's moment."""
        self.fresh_images()
        self.boot(trial['lose'], rnd.randrange(1 << 30))
        started = time.monotonic()
        self.launch()
        self.wait_for_phase(trial, started)
        trial['at'] = round(time.monotonic() - started, 3)

    def cut(self, trial, rnd):
        self.run_to_target(trial, rnd)
        text = self.trace()
        losses = self.power_off(cut=True)
        trial['phase'] = phase_at(text)
        trial['last_words'] = text.strip().splitlines()[-1:] if text.strip() else []
        trial['unflushed_lost'] = {d: s.get('power_losses', [])[-1:] for d, s in losses.items()}
        self.judge(trial, self.restart_until_end(trial, rnd))

    def stick_device_gone(self, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            names = [p['name'] for p in self.panel.qmp('qom-list', path='/machine/peripheral')]
            if 'usbstick' not in names:
                return
            time.sleep(0.05)
        raise RuntimeError('the stick did not leave')

    def pull(self, trial, rnd):
        self.run_to_target(trial, rnd)
        before = self.trace()
        self.panel.unplug_stick()
        self.stick_device_gone()
        # What the stick had not flushed is gone with its power; the emulator's flush when it
        # closes the disk afterwards reaches nothing.
        self.disks.power_loss('stick')
        self.panel.release_stick()
        self.disks.finish('stick')
        trial['phase'] = phase_at(before)
        trial['unflushed_lost'] = {
            'stick': self.disks.summaries['stick'][-1].get('power_losses', [])[-1:]}
        # The stick stays out for a while: the window has that long to say what happened.
        pulled_at = time.monotonic()
        time.sleep(6 + rnd.random() * 8)
        # On a loaded machine the updater may need longer to come to its next word: the stick
        # stays out until it has said one, or until the updater has ended, within a bound.
        words_deadline = time.monotonic() + WORDS_PATIENCE
        while time.monotonic() < words_deadline:
            said = self.trace()[len(before):]
            if STICK_GONE in said or UPDATE_DONE in said \
                    or 'upgrunner.bin' not in self.processes():
                break
            time.sleep(1)
        said = self.trace()[len(before):]
        trial['trace_after_pull'] = said[-1200:]
        trial['out_seconds'] = round(time.monotonic() - pulled_at, 1)
        trial['words_after_pull'] = [line[len(MESSAGE):] for line in said.splitlines()
                                     if line.startswith(MESSAGE)][-6:]
        running = self.processes()
        trial['after_pull'] = sorted(running)
        shot = os.path.join(self.work, 'screens', f'pull-{trial["n"]:03d}.png')
        os.makedirs(os.path.dirname(shot), exist_ok=True)
        self.panel.screenshot(shot)
        trial['screen'] = os.path.relpath(shot, self.work)
        # What the window said: the pull in plain words; or the run had already said it was
        # done; or a success claimed afterwards, true only when the panel is complete.
        if STICK_GONE in said:
            trial['window'] = 'said the stick was removed'
        elif not events(before) and not events(said):
            # Pulled before the updater's window had come: nothing has been changed yet.
            trial['window'] = 'no window yet'
        elif UPDATE_DONE in before:
            trial['window'] = 'the update had already ended'
        elif UPDATE_DONE in said:
            trial['window'] = ('claimed success, truly' if self.panel_tree() == self.reference
                               else 'claimed success FALSELY')
        elif 'upgrunner.bin' in running:
            trial['window'] = 'silent, still running'
        else:
            trial['window'] = 'gone without a word'
        trial['said_stick_gone'] = trial['window'] == 'said the stick was removed'
        trial['hung'] = trial['window'] == 'silent, still running'
        # Back in, and the technician starts again from the launcher.
        self.disks.start('stick')
        mounted = self.console_count('@@STICK mounted')
        self.panel.plug_stick(self.disks.sources()[1])
        deadline = time.monotonic() + 60
        while self.console_count('@@STICK mounted') <= mounted:
            if time.monotonic() > deadline:
                raise RuntimeError('the stick was not mounted again')
            time.sleep(0.2)
        outcome = self.run_to_end()
        starts = [outcome]
        if outcome != 'done':
            trial.setdefault('traces', []).append(self.trace()[-1500:])
            self.keep_console(trial, 'after-pull')
            self.power_off(cut=False)
            outcome = self.restart_until_end(trial, rnd)
            starts += trial['starts']
        trial['starts'] = starts
        self.judge(trial, outcome)
        window_ok = trial['window'] in ('said the stick was removed', 'no window yet',
                                        'the update had already ended', 'claimed success, truly')
        trial['window_ok'] = window_ok
        trial['clean'] = trial['clean'] and window_ok

    # -- the campaign -----------------------------------------------------------------------
    def write_report(self):
        commit = subprocess.run(['git', '-C', ROOT, 'describe', '--always', '--dirty'],
                                capture_output=True, text=True).stdout.strip()
        report = dict(commit=commit, seed=self.args.seed, lose=self.args.lose,
                      jobs=self.args.jobs, timeline=self.timeline,
                      minutes=round((time.monotonic() - self.started) / 60, 1),
                      totals=self.totals(), trials=self.trials)
        with open(self.report_path + '.new', 'w') as f:
            json.dump(report, f, indent=1, ensure_ascii=False)
        os.replace(self.report_path + '.new', self.report_path)
        with open(os.path.join(self.work, 'table.md'), 'w') as f:
            f.write(self.table())

    def totals(self):
        totals = {}
        for trial in self.trials:
            if 'clean' not in trial:
                continue
            row = totals.setdefault(f'{trial["kind"]}:{trial["phase"]}', dict(
                trials=0, completed=0, needed_human=0, files_lost=0, files_corrupted=0,
                wrong_mode=0, left_over=0, fs_damage=0, clean=0, said_stick_gone=0, hung=0))
            row['trials'] += 1
            row['wrong_mode'] += bool(trial.get('wrong_mode'))
            for key in ('completed', 'needed_human', 'files_lost', 'files_corrupted',
                        'left_over', 'fs_damage', 'clean', 'said_stick_gone', 'hung'):
                row[key] += bool(trial.get(key))
        return totals

    def table(self):
        totals = self.totals()
        lines = ['| Fault | Phase | Trials | Completed | Needed a human | Files lost | '
                 'Files corrupted | Wrong exec bit | Left over | File system check | '
                 'Said "stick removed" |',
                 '|---|---|---|---|---|---|---|---|---|---|---|']
        for kind, name in (('cut', 'power cut'), ('pull', 'stick pulled')):
            for phase in PHASES:
                row = totals.get(f'{kind}:{phase}')
                if not row:
                    continue
                said = row['said_stick_gone'] if kind == 'pull' else ''
                lines.append(f'| {name} | {phase} | {row["trials"]} | {row["completed"]} | '
                             f'{row["needed_human"]} | {row["files_lost"]} | '
                             f'{row["files_corrupted"]} | {row["wrong_mode"]} | '
                             f'{row["left_over"]} | {row["fs_damage"]} | {said} |')
        return '\n'.join(lines) + '\n'

    def order(self):
        """Every trial of the campaign, in the order they run: the pulls spread among the cuts,
        so that a time bound leaves some of each."""
        order = [('cut', n) for n in range(self.args.cuts)]
        pulls = [('pull', n) for n in range(self.args.pulls)]
        for i, item in enumerate(pulls):
            order.insert(min(len(order), (i + 1) * (len(order) + 1) // (len(pulls) + 1) + i),
                         item)
        return order

    def shared_path(self, folder):
        return os.path.join(folder, 'reference.json')

    def save_shared(self):
        with open(self.shared_path(self.work), 'w') as f:
            json.dump(dict(timeline=self.timeline, reference=self.reference,
                           stick_files=self.stick_files), f, ensure_ascii=False)

    def load_shared(self, folder):
        with open(self.shared_path(folder)) as f:
            shared = json.load(f)
        self.timeline = [tuple(t) for t in shared['timeline']]
        self.reference = {p: tuple(v) for p, v in shared['reference'].items()}
        self.stick_files = shared['stick_files']
        self.pristine = os.path.join(folder, 'pristine')

    def run_trials(self, trials, deadline, rnd):
        for kind, n in trials:
            if time.time() > deadline:
                self.say('time is up')
                break
            trial = self.plan(random.Random(f'{self.args.seed}-{kind}-{n}'), kind, n)
            self.trials.append(trial)
            trial_started = time.monotonic()
            try:
                (self.cut if kind == 'cut' else self.pull)(trial, rnd)
            except Exception as e:  # noqa: BLE001 — the trial is recorded, the campaign goes on
                trial['error'] = f'{type(e).__name__}: {e}'
                trial['clean'] = False
                trial.setdefault('phase', trial['target'])
                self.power_off(cut=True)
            trial['seconds'] = round(time.monotonic() - trial_started, 1)
            self.say(f'{kind} {n}: target {trial["target"]}, landed in {trial.get("phase")}, '
                     f'{trial.get("outcome", trial.get("error"))}'
                     + ('' if trial.get('clean') else ' — NOT CLEAN: ' + json.dumps(
                         {k: trial.get(k) for k in ('lost', 'corrupted', 'wrong_mode', 'extra',
                                                    'stick_left_over', 'log_head', 'fsck',
                                                    'said_stick_gone', 'hung', 'starts',
                                                    'error')}, ensure_ascii=False)))
            self.write_report()

    def pending(self, trials):
        """With --resume: takes over the trials an earlier start recorded in this report and
        returns those of `trials` it did not run."""
        if not self.args.resume:
            return trials
        try:
            with open(self.report_path) as f:
                self.trials = [t for t in json.load(f)['trials'] if 'seconds' in t]
        except (OSError, ValueError, KeyError):
            self.trials = []
        done = {(t['kind'], t['n']) for t in self.trials}
        return [item for item in trials if item not in done]

    def run_worker(self):
        """One of --jobs panels side by side: every --jobs-th trial, against the uncut run and
        the images the campaign made."""
        os.makedirs(self.work, exist_ok=True)
        self.load_shared(self.args.shared)
        mine = self.pending(self.order()[self.args.worker::self.args.jobs])
        self.run_trials(mine, self.args.deadline, random.Random(f'{self.args.seed}-{self.args.worker}'))
        self.write_report()
        return 0

    def merge_workers(self, folders):
        trials = []
        for folder in folders:
            try:
                with open(os.path.join(folder, 'report.json')) as f:
                    trials += json.load(f)['trials']
            except (OSError, ValueError):
                pass
        place = {item: i for i, item in enumerate(self.order())}
        self.trials = sorted(trials, key=lambda t: place.get((t['kind'], t['n']), 0))
        self.write_report()

    def run(self):
        if self.args.worker is not None:
            return self.run_worker()
        os.makedirs(self.work, exist_ok=True)
        deadline = time.time() + self.args.max_minutes * 60
        if self.args.resume:
            self.load_shared(self.work)
            self.say('going on with the campaign in ' + self.work)
        else:
            self.say('preparing the package, the stick and the panel disk')
            self.prepare()
            self.say('two uncut runs')
            self.timeline, self.reference = self.run_reference()
            _, second = self.run_reference()
            if second != self.reference:
                raise RuntimeError('two uncut runs disagree; the comparison would mean nothing')
            self.save_shared()
        self.say('uncut run: ' + ', '.join(f'{p} {t:.1f} s' for t, p in self.timeline))
        if self.args.jobs <= 1:
            self.run_trials(self.pending(self.order()), deadline, random.Random(self.args.seed))
        else:
            folders = [os.path.join(self.work, f'worker-{i}') for i in range(self.args.jobs)]
            for i, folder in enumerate(folders):
                os.makedirs(folder, exist_ok=True)
                self.workers.append(subprocess.Popen(
                    [sys.executable, os.path.abspath(__file__), '--worker', str(i),
                     '--jobs', str(self.args.jobs), '--shared', self.work, '--work', folder,
                     '--deadline', str(deadline), '--cuts', str(self.args.cuts),
                     '--pulls', str(self.args.pulls), '--seed', str(self.args.seed),
                     '--lose', self.args.lose, '--build', self.build, '--cross', self.cross]
                    + (['--phases', self.args.phases] if self.args.phases else [])
                    + (['--resume'] if self.args.resume else []),
                    stdin=subprocess.DEVNULL, stdout=open(os.path.join(folder, 'log.txt'), 'w'),
                    stderr=subprocess.STDOUT))
            while any(w.poll() is None for w in self.workers):
                time.sleep(20)
                self.merge_workers(folders)
            self.merge_workers(folders)
            self.say(f'{len(self.trials)} trials by {self.args.jobs} panels')
        self.write_report()
        print(self.table())
        return 0 if all(t.get('clean') for t in self.trials) else 1

    def close(self):
        for worker in self.workers:
            if worker.poll() is None:
                worker.terminate()
        for worker in self.workers:
            try:
                worker.wait(60)
            except subprocess.TimeoutExpired:
                worker.kill()
        if self.panel is not None:
            self.panel.kill()
        if self.disks is not None:
            self.disks.kill_all()


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--cuts', type=int, default=100)
    ap.add_argument('--pulls', type=int, default=30)
    ap.add_argument('--max-minutes', type=float, default=240)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--lose', choices=['drop', 'subset', 'mixed'], default='mixed')
    ap.add_argument('--report', default=None)
    ap.add_argument('--work', default=os.path.join(ROOT, 'out/armhf-powercut'))
    ap.add_argument('--phases', default=None,
                    help='comma-separated phases to aim at (default: all, in turn)')
    ap.add_argument('--jobs', type=int, default=2,
                    help='panels side by side, each with its share of the trials')
    ap.add_argument('--build', default=os.path.join(ROOT, 'build'))
    ap.add_argument('--cross', default=os.path.join(ROOT, 'build-armhf'))
    # A panel of --jobs: its number, the campaign's folder and its time bound (seconds since
    # the epoch).
    ap.add_argument('--worker', type=int, default=None, help=argparse.SUPPRESS)
    ap.add_argument('--shared', default=None, help=argparse.SUPPRESS)
    ap.add_argument('--deadline', type=float, default=None, help=argparse.SUPPRESS)
    ap.add_argument('--resume', action='store_true',
                    help='run the trials an earlier start in the same --work did not record')
    args = ap.parse_args()
    campaign = Campaign(args)
    # A stop from outside ends the emulator and the disk servers this campaign started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
    try:
        return campaign.run()
    finally:
        campaign.close()


if __name__ == '__main__':
    sys.exit(main())
