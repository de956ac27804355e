#!/usr/bin/env python3
"""Power-cut harness: cuts a full invisible update with SIGKILL at many points, restarts it as the
technician would until the run ends, and compares the panel with the panel of an uncut run.

Usage (through scripts/powercut.sh, which gives it a process namespace of its own):
  scripts/powercut.py [--cuts N] [--build DIR] [--work DIR] [--max-minutes M] [--seed S]

The package: a package-wide copy list in all three modes (one file, the files of a folder, a
folder tree), a delete list (a file and a folder), an execute grant, a command, and two programs
whose before-backups protect files that the programs change while they run. Every start, the
first one and each one after a cut, is the launcher on the stick as the technician starts it; the
launcher starts the updater detached and ends. Each cut kills the launcher, the updater and every
program they started (a power cut ends them all). The panel has an access password set: an
invisible update must pass the launcher without anybody at a dialog.
"""
import argparse
import hashlib
import json
import os
import random
import shutil
import signal
import stat
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The launcher starts the updater by this fixed name, and both close every older process of their
# own name. Under these names the harness may run only where it sees no process but its own: in
# the process namespace that powercut.sh gives it.
LAUNCHER = 'upgentry.bin'
UPDATER = 'upgrunner.bin'
# The access password the panel has set ("hix-powercut"), as the HMI runtime stores it.
PASSWORD_MD5 = hashlib.md5(b'hix-powercut').hexdigest()
# The head line of the run log after a run that ended well (language table 0000).
SUCCESS_HEAD = '[成功]'
# A launcher still there after this long without an updater waits for somebody at a dialog.
LAUNCHER_PATIENCE = 30
# The process namespace of the machine itself has this fixed number.
INITIAL_PID_NAMESPACE = 0xEFFFFFFC


def own_pid_namespace():
    """True only when this process is the first process of a process namespace other than the
    machine's own, /proc shows that namespace, and no other process is in it: then every process
    it finds or kills is one it started."""
    try:
        return (os.getpid() == 1 and os.readlink('/proc/self') == '1'
                and os.stat('/proc/self/ns/pid').st_ino != INITIAL_PID_NAMESPACE
                and all(int(e) == 1 for e in os.listdir('/proc') if e.isdigit()))
    except OSError:
        return False


def write(path, data, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    if mode is not None:
        os.chmod(path, mode)


def crc_hex(path):
    import zlib
    with open(path, 'rb') as f:
        return '%X' % (zlib.crc32(f.read()) & 0xFFFFFFFF)


def write_reliability_package(runtime, pkg, app, package, password=True, show_page=False):
    """Writes the installed runtime into the folder runtime and the package (its files and
    programs) into pkg, and returns the plain description. app and package are the absolute
    paths under which the panel sees the runtime and the package: the description and the
    programs name them. password: the panel has an access password set. show_page: the package
    shows the updater's window (SHOW_UPDATE_PAGE=1); it never shows the launcher's page nor a
    dialog after its check, so the launcher starts the updater at once."""
    rnd = random.Random(7)

    def blob(n):
        return bytes(rnd.getrandbits(8) for _ in range(n))

    # The installed runtime.
    write(f'{runtime}/bin/app.bin', b'old app ' + blob(300000), 0o755)
    for i in range(6):
        write(f'{runtime}/lib/libpart{i}.so', b'old lib %d ' % i + blob(40000))
    write(f'{runtime}/lib/keep.so', b'not in the package')
    for d in ('', 'icons/', 'icons/small/'):
        for i in range(4):
            write(f'{runtime}/res/{d}r{i}.dat', b'old res ' + blob(20000))
    write(f'{runtime}/old.cfg', 'obsolete=1\n')
    for i in range(3):
        write(f'{runtime}/obsolete/sub/o{i}.txt', 'old\n')
    write(f'{runtime}/tools/helper', '#!/bin/sh\necho helper\n', 0o644)
    # Data that the programs change and their backups protect.
    write(f'{runtime}/config/user.db', b'user data ' + blob(200000))
    for i in range(5):
        write(f'{runtime}/recipes/r{i}.rcp', b'recipe %d ' % i + blob(30000))
        write(f'{runtime}/recipes/line/l{i}.rcp', b'line recipe %d ' % i + blob(10000))
    write(f'{runtime}/config/net.cfg', 'ip=10.0.0.5\n')
    for i in range(4):
        write(f'{runtime}/history/h{i}.log', b'history %d ' % i + blob(25000))
    write(f'{runtime}/config/vexo_app_conf.ini', '[GENERAL]\nname=powercut\n'
          + (f'[SECURITY]\nlicense={PASSWORD_MD5}\n' if password else ''))

    # The package.
    write(f'{pkg}/files/app.bin', b'new app ' + blob(400000))
    for i in range(6):
        write(f'{pkg}/files/lib/libpart{i}.so', b'new lib %d ' % i + blob(50000))
    write(f'{pkg}/files/lib/libnew.so', b'new library ' + blob(30000))
    for d in ('', 'icons/', 'icons/small/'):
        for i in range(5):
            write(f'{pkg}/files/res/{d}r{i}.dat', b'new res ' + blob(25000))
    write(f'{pkg}/files/extra1.txt', 'after program 1\n')
    write(f'{pkg}/files/extra2.txt', 'after program 2\n')

    # Each program scribbles over the files its backup protects, slowly, then leaves a mark
    # of its own; the restore after it must bring the protected files back.
    prog1 = ('#!/bin/sh\n'
             f'A={app}\n'
             'for f in "$A"/config/user.db "$A"/recipes/r*.rcp "$A"/recipes/line/l*.rcp; do\n'
             '  head -c 5000 /dev/urandom > "$f"; sleep 0.02\n'
             'done\n'
             'echo scratch > "$A/recipes/scratch.tmpfile"\n'
             'echo done1 > "$A/bin/prog1.out"\n')
    prog2 = ('#!/bin/sh\n'
             f'A={app}\n'
             'echo ip=0.0.0.0 > "$A/config/net.cfg"; sleep 0.05\n'
             'for f in "$A"/history/h*.log; do\n'
             '  head -c 3000 /dev/urandom > "$f"; sleep 0.03\n'
             'done\n'
             'echo done2 > "$A/bin/prog2.out"\n')
    write(f'{pkg}/prog1.sh', prog1, 0o755)
    write(f'{pkg}/prog2.sh', prog2, 0o755)

    a = app  # absolute panel paths as the description names them
    p = package
    ini = f"""[UPDATE_CONFIG]
PROGRAM_NUM=2
EXEC_CONDITION=2
SHOW_UPDATE_PAGE={int(show_page)}
[UPDATE_CHECK]
CHECK_SUCCESS_ISSHOWDLG=0
[COPYFILE]
COPYFILENUM=3
SRCPATH1=files/app.bin
DESTPATH1={a}/bin/app.bin
CRCVALUE1={crc_hex(f'{pkg}/files/app.bin')}
MODE1=0
SRCPATH2=files/lib/
DESTPATH2={a}/lib/
MODE2=1
SRCPATH3=files/res/
DESTPATH3={a}/res/
MODE3=2
[DELFILE]
DELFILENUM=2
SRCPATH1={a}/old.cfg
MODE1=0
SRCPATH2={a}/obsolete
MODE2=2
[EXEFILE]
EXEFILENUM=1
SRCPATH1={a}/tools/helper
[COMMOND]
COMMONDNUM=1
COMMONDINFO1=/bin/cp {a}/res/r0.dat {a}/res_copy.dat
EXECRESULT1=0
[PROGRAM1_CONFIG]
PATH={p}/prog1.sh
[PROGRAM1_BEFORE_BACKUPFILE]
BACKUPFILENUM=2
SRCPATH1={a}/config/user.db
DSTPATH1=p1/user.db
MODE1=0
EXIST_CHECK1=1
SRCPATH2={a}/recipes/
DSTPATH2=p1/recipes/
MODE2=2
[PROGRAM1_AFTER_COPYFILE]
COPYFILENUM=1
SRCPATH1=files/extra1.txt
DESTPATH1={a}/extra1.txt
MODE1=0
[PROGRAM2_CONFIG]
PATH={p}/prog2.sh
[PROGRAM2_BEFORE_BACKUPFILE]
BACKUPFILENUM=2
SRCPATH1={a}/config/net.cfg
DSTPATH1=p2/net.cfg
MODE1=0
EXIST_CHECK1=1
SRCPATH2={a}/history/
DSTPATH2=p2/history/
MODE2=1
[PROGRAM2_AFTER_COPYFILE]
COPYFILENUM=1
SRCPATH1=files/extra2.txt
DESTPATH1={a}/extra2.txt
MODE1=0
[UPDATE_FINISH_CONFIG]
BEEPNUM=0
REBOOT=1
"""
    return ini


def write_manifest(pkg):
    """The package's manifest, as hixpack build writes it: size and SHA-256 of every file the
    run reads from the stick, so every staged copy and every program start is checked."""
    entries = []
    for dirpath, _, files in os.walk(f'{pkg}/files'):
        entries += [os.path.join(dirpath, name) for name in files]
    entries += [f'{pkg}/prog1.sh', f'{pkg}/prog2.sh']
    lines = []
    for path in entries:
        with open(path, 'rb') as f:
            data = f.read()
        rel = os.path.relpath(path, os.path.dirname(pkg)).encode()
        lines.append((rel, b'%s %d %s\n' % (hashlib.sha256(data).hexdigest().encode(),
                                             len(data), rel)))
    write(f'{pkg}/update.manifest',
          b'hix-manifest 1\n' + b''.join(line for _, line in sorted(lines)))


class Panel:
    """One emulated panel with its stick under a fixed folder (paths in the description are
    absolute, so every trial uses the same folder)."""

    def __init__(self, work, build):
        self.work = work
        self.build = build
        self.root = os.path.join(work, 'panel')
        self.app = os.path.join(self.root, 'usr/vexo_app')
        self.stick = os.path.join(self.root, 'media/usb0')
        self.package = os.path.join(self.stick, 'hixupdateu')
        self.template = os.path.join(work, 'template')

    def make_template(self):
        """Builds the panel and the package once; every trial starts from a copy."""
        shutil.rmtree(self.template, ignore_errors=True)
        t = self.template
        pkg = os.path.join(t, 'media/usb0/hixupdateu')
        ini = write_reliability_package(os.path.join(t, 'usr/vexo_app'), pkg, self.app,
                                        self.package, password=True, show_page=False)
        write(os.path.join(t, 'run/vexo-hal/.keep'), '')
        write_manifest(pkg)
        plain = os.path.join(self.work, 'update.plain.ini')
        write(plain, b'\xef\xbb\xbf# power-cut package\n' + ini.encode())
        subprocess.run([os.path.join(self.build, 'bin/hixpack'), 'scramble', plain,
                        f'{pkg}/update.ini'], check=True)
        # The stick as the technician gets it: the launcher at its root, the updater in the
        # package folder under the name the launcher starts.
        shutil.copy2(os.path.join(self.build, 'bin', UPDATER), f'{pkg}/{UPDATER}')
        shutil.copy2(os.path.join(self.build, 'bin', LAUNCHER),
                     os.path.join(t, 'media/usb0', LAUNCHER))
        write(os.path.join(t, 'media/usb0/upgradeProcess.log'), '[失败]\n------------------------\n')

    def reset(self):
        shutil.rmtree(self.root, ignore_errors=True)
        shutil.copytree(self.template, self.root, symlinks=True)

    # What the run leaves.
    def state_file(self):
        hb = os.path.join(self.stick, 'hixbackup')
        if os.path.isdir(hb):
            for d in os.listdir(hb):
                if d.endswith('_proctrl'):
                    f = os.path.join(hb, d, 'toolProcessCtrl.ini')
                    if os.path.exists(f):
                        return f
        return None

    def restart_requested(self):
        return os.path.exists(os.path.join(self.root, 'var/log/restart.log'))

    def log(self):
        try:
            with open(os.path.join(self.stick, 'upgradeProcess.log'), encoding='utf-8',
                      errors='replace') as f:
                return f.read()
        except OSError:
            return ''

    def tree(self):
        """Path -> (sha256, executable) of every file under the runtime folder."""
        out = {}
        for dirpath, _, files in os.walk(self.app):
            for name in files:
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, self.app)
                try:
                    with open(path, 'rb') as f:
                        digest = hashlib.sha256(f.read()).hexdigest()
                    out[rel] = (digest, bool(os.stat(path).st_mode & stat.S_IXUSR))
                except OSError:
                    out[rel] = ('unreadable', False)
        return out


class Runner:
    def __init__(self, panel):
        self.panel = panel
        self.env = dict(os.environ)
        self.env['HIX_SYSROOT'] = panel.root
        self.env['QT_QPA_PLATFORM'] = 'offscreen'
        self.env.pop('VEXO_PROJECT_DIR', None)
        self.env.pop('VEXO_EXPORT_DIR', None)
        self.proc = None  # the launcher of the latest start
        self.output = os.path.join(panel.work, 'launcher.out')
        # What the launcher met at each start and what it did: situation -> counts.
        self.launches = {}

    def situation(self):
        """What the launcher finds on the stick: the progress state of a run, a run that has
        already ended (its restart request is there), or neither."""
        if self.panel.state_file() is not None:
            return 'state file'
        if self.panel.restart_requested():
            return 'run ended'
        return 'no state file'

    def start(self, cut_on_its_way=False):
        """Starts the launcher from the stick as the technician does. A start that the harness
        will cut on its way is counted apart from the situations that the restarts meet."""
        situation = 'cut on its way' if cut_on_its_way else self.situation()
        self.launch = self.launches.setdefault(
            situation, dict(starts=0, started_updater=0, cut_while_it_ran=0, waited_for_a_human=0))
        self.launch['starts'] += 1
        with open(self.output, 'wb') as out:
            # The updater inherits this output: the file holds what both said.
            self.proc = subprocess.Popen([os.path.join(self.panel.stick, LAUNCHER)],
                                         cwd=self.panel.stick, env=self.env, stdout=out,
                                         stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        return self.proc

    def reap(self):
        """The updater and the programs it starts are orphans of this namespace's first
        process, this one: their ends are collected here, the launcher's among them."""
        while True:
            try:
                pid, status = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return
            if self.proc and pid == self.proc.pid and self.proc.returncode is None:
                self.proc.returncode = os.waitstatus_to_exitcode(status)

    def launcher_running(self):
        self.reap()
        return self.proc is not None and self.proc.returncode is None

    def launcher_started_updater(self):
        try:
            with open(self.output, 'rb') as f:
                return '启动完成'.encode() in f.read()
        except OSError:
            return False

    def updater_running(self):
        updater = os.path.join(self.panel.package, UPDATER).encode() + b'\0'
        for pid in self.our_processes():
            try:
                with open(f'/proc/{pid}/cmdline', 'rb') as f:
                    if f.read().startswith(updater):
                        return True
            except OSError:
                pass
        return False

    def our_processes(self):
        """Ids of every process that runs a program of this panel (the launcher, the updater and
        what it started), found through their command lines; never anything else."""
        self.reap()
        pids = []
        marker = self.panel.root.encode()
        for entry in os.listdir('/proc'):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open(f'/proc/{entry}/cmdline', 'rb') as f:
                    cmd = f.read()
                with open(f'/proc/{entry}/environ', 'rb') as f:
                    envb = f.read()
            except OSError:
                continue
            if marker in cmd or (b'HIX_SYSROOT=' + marker + b'\0') in envb:
                pids.append(int(entry))
        return pids

    def cut(self):
        """SIGKILL to the launcher, the updater and every process they started, as a power cut
        ends them."""
        if self.launcher_running():
            self.launch['cut_while_it_ran'] += 1
        updater_seen = self.updater_running()
        for _ in range(3):
            pids = self.our_processes()
            if self.launcher_running():
                pids.append(self.proc.pid)
            for pid in set(pids):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            until = time.monotonic() + 5
            while self.launcher_running() and time.monotonic() < until:
                time.sleep(0.01)
            time.sleep(0.02)
        self.reap()
        if updater_seen or self.launcher_started_updater():
            self.launch['started_updater'] += 1
        os.sync()

    def failed(self):
        state = self.panel.state_file()
        if state is None:
            return False
        try:
            with open(state, encoding='utf-8', errors='replace') as f:
                return 'failed' in f.read()
        except OSError:
            return False

    def run_to_end(self, timeout):
        """Starts the launcher and waits until it and everything it started have ended by
        themselves. 'done' when the run ended with the restart request and no state file;
        'failed' when it stopped on a failure (its window stays open: a human is needed);
        'asked' when the launcher waits at a dialog without starting the updater (a human is
        needed); 'timeout' otherwise."""
        started = time.monotonic()
        self.start()
        while time.monotonic() - started < timeout:
            launcher = self.launcher_running()
            others = [p for p in self.our_processes() if p != self.proc.pid]
            if not launcher and not others:
                break
            if launcher and not others and time.monotonic() - started > LAUNCHER_PATIENCE:
                self.cut()
                self.launch['waited_for_a_human'] += 1
                return 'asked', time.monotonic() - started
            if self.failed():
                # A phase failed: the window stays open with the restart button for the operator.
                time.sleep(0.3)
                if self.launcher_running() or self.our_processes():
                    self.cut()
                    return 'failed', time.monotonic() - started
            time.sleep(0.02)
        else:
            self.cut()
            return 'timeout', time.monotonic() - started
        if self.launcher_started_updater():
            self.launch['started_updater'] += 1
        if self.panel.restart_requested() and self.panel.state_file() is None:
            return 'done', time.monotonic() - started
        return 'ended', time.monotonic() - started


def compare(reference, tree):
    lost = sorted(p for p in reference if p not in tree)
    corrupted = sorted(p for p in reference if p in tree and tree[p][0] != reference[p][0])
    wrong_mode = sorted(p for p in reference if p in tree and tree[p][0] == reference[p][0]
                        and tree[p][1] != reference[p][1])
    extra = sorted(p for p in tree if p not in reference)
    return lost, corrupted, wrong_mode, extra


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--cuts', type=int, default=200)
    ap.add_argument('--build', default=os.path.join(ROOT, 'build'))
    ap.add_argument('--work', default=None)
    ap.add_argument('--max-minutes', type=float, default=40)
    ap.add_argument('--max-restarts', type=int, default=4)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--report', default=None)
    args = ap.parse_args()
    if not own_pid_namespace():
        print('powercut: refused: run it through scripts/powercut.sh, in a process namespace of '
              'its own (it starts the launcher and the updater under their own names and kills them)',
              file=sys.stderr)
        return 2
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.work or os.path.join(build, 'powercut'))
    os.makedirs(work, exist_ok=True)
    deadline = time.monotonic() + args.max_minutes * 60

    panel = Panel(work, build)
    panel.make_template()
    runner = Runner(panel)

    # The uncut run, twice: its time spreads the cuts, and the two trees must agree.
    panel.reset()
    result, duration = runner.run_to_end(120)
    if result != 'done' or not panel.log().startswith(SUCCESS_HEAD + '\n'):
        print(f'powercut: the uncut run did not end well ({result}); log:\n{panel.log()}')
        return 2
    reference = panel.tree()
    panel.reset()
    result2, duration2 = runner.run_to_end(120)
    if result2 != 'done' or compare(reference, panel.tree()) != ([], [], [], []):
        print('powercut: two uncut runs disagree; the comparison would mean nothing')
        return 2
    span = max(duration, duration2)
    print(f'powercut: uncut run {duration:.2f} s, {len(reference)} files in the runtime folder')

    rnd = random.Random(args.seed)
    totals = dict(cuts=0, completed=0, needed_human=0, files_lost=0, files_corrupted=0,
                  wrong_mode=0, extra_files=0, restarts=0, log_without_success=0)
    bad = []
    for n in range(args.cuts):
        if time.monotonic() > deadline:
            break
        # Spread the cut points evenly over the uncut run, each jittered inside its slot.
        at = span * (n + rnd.random()) / args.cuts
        panel.reset()
        runner.start(cut_on_its_way=True)
        time.sleep(at)
        runner.cut()
        totals['cuts'] += 1
        outcome = None
        restarts = 0
        while restarts < args.max_restarts:
            restarts += 1
            outcome, _ = runner.run_to_end(60)
            if outcome in ('done', 'failed', 'asked'):
                break
        totals['restarts'] += restarts
        lost, corrupted, wrong_mode, extra = compare(reference, panel.tree())
        # The run log on the stick is what the technician reads: a run that ended well must say
        # so in its head line, whatever start before it opened the log anew.
        head = panel.log().split('\n', 1)[0]
        log_wrong = outcome == 'done' and head != SUCCESS_HEAD
        totals['log_without_success'] += log_wrong
        if outcome == 'done':
            totals['completed'] += 1
        else:
            totals['needed_human'] += 1
        totals['files_lost'] += len(lost)
        totals['files_corrupted'] += len(corrupted)
        totals['wrong_mode'] += len(wrong_mode)
        totals['extra_files'] += len(extra)
        if outcome != 'done' or lost or corrupted or wrong_mode or extra or log_wrong:
            bad.append(dict(cut=n, at=round(at, 3), outcome=outcome, lost=lost,
                            corrupted=corrupted, wrong_mode=wrong_mode, extra=extra,
                            log_head=head))
            print(f'cut {n} at {at:.3f} s: {outcome}, lost {lost}, corrupted {corrupted}, '
                  f'mode {wrong_mode}, extra {extra}, log head {head!r}', flush=True)
    totals['uncut_seconds'] = round(span, 2)
    print('powercut: ' + json.dumps(totals))
    print('powercut: launcher ' + json.dumps(runner.launches, ensure_ascii=False))
    if args.report:
        with open(args.report, 'w') as f:
            json.dump(dict(totals=totals, launcher=runner.launches, bad=bad), f, indent=1,
                      ensure_ascii=False)
    return 0 if totals['needed_human'] == 0 and totals['files_lost'] == 0 \
        and totals['log_without_success'] == 0 \
        and totals['files_corrupted'] == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
