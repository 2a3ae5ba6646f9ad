"""The harness every Wine suite (and bench_wine.py, tests/tools/wine/try_wine.py) imports: build
paths, Xvfb and a Wine prefix with one wineserver for all runs, launch.exe and the full exit code,
images and run logs, the exe's resources, and the runner of the tests a suite registers with @test.

wineboot --init runs once, for the base prefix build/wine-prefix-base (NORVANE_WINE_BASE_PREFIX
names another folder), in which nothing ever runs; every suite's prefix is a copy of it with the
suite's own settings. A prefix holds no absolute path of its own folder (its drive C: is the
relative link dosdevices/c: -> ../drive_c), so a copy works as a prefix made in its place.
"""

import argparse
import contextlib
import ctypes
import datetime
import fcntl
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
BUILD = EXE = LAUNCH = PROBE = FWIMAGE = PREFIX = BASE_PREFIX = WINDOW_DRIVER = ''

sys.path.insert(0, os.path.join(ROOT, 'release'))
import make_docs  # noqa: E402

VERSION = make_docs.version()  # "3.0.0.7", from its four numbers in ui/resource_ids.h


def set_build_dir(build):
    global BUILD, EXE, LAUNCH, PROBE, FWIMAGE, PREFIX, BASE_PREFIX, WINDOW_DRIVER
    BUILD = os.path.abspath(build)
    EXE = os.path.join(BUILD, 'windows', 'NorvaneFwUpdater.exe')
    LAUNCH = os.path.join(BUILD, 'windows', 'tools', 'launch.exe')
    PROBE = os.path.join(BUILD, 'windows', 'tools', 'hid_probe.exe')
    WINDOW_DRIVER = os.path.join(BUILD, 'windows', 'tools', 'window_driver.exe')
    FWIMAGE = os.path.join(BUILD, 'host', 'fwimage')
    PREFIX = os.path.abspath(os.environ.get('NORVANE_WINE_PREFIX') or
                             os.path.join(BUILD, 'wine-prefix'))
    BASE_PREFIX = os.path.abspath(os.environ.get('NORVANE_WINE_BASE_PREFIX') or
                                  os.path.join(BUILD, 'wine-prefix-base'))


OBJDUMP = 'x86_64-w64-mingw32-objdump'

IMAGE_SIZE = 68620
PR_SET_CHILD_SUBREAPER = 36
RUN_TIMEOUT = 90  # seconds for one run of the exe under Wine
HOLD_MS = 300000  # at most, how long another program holds a file or collection open
GENERIC_READ = 0x80000000
GENERIC_WRITE = 0x40000000
FILE_SHARE_READ = 1
FILE_SHARE_WRITE = 2
SILENT_ARGS = ['/s', '/v', 'LOGFILE=fw.log']
SCREEN_SIZE = '1024x768'
LAUNCH_EXIT = re.compile(r'^exit (\d+)\r?$', re.M)
BASE_MARK = '.norvane-base'  # in the base prefix once wineboot has made it
# Debian's wineserver names, in this file of the prefix, the folder under /tmp that holds its
# socket; a copy makes one of its own on its first start, as a new prefix does.
SERVER_FOLDER_FILE = 'wineserver'

# ---------------------------------------------------------------------------------------------
# Wine and Xvfb


class Wine:
    """Xvfb, a Wine prefix (PREFIX unless another is named) and one wineserver for all runs.

    A harness with a prefix of its own set-up overrides _prefix_ready, _configure_prefix and
    _mark_prefix_ready."""

    def __init__(self, prefix=None):
        self.prefix = prefix or PREFIX
        self.env = dict(os.environ)
        self.env.update({
            'WINEPREFIX': self.prefix,
            'WINEARCH': 'win64',
            'WINEDEBUG': '-all',
            'WINEDLLOVERRIDES': 'mscoree,mshtml=',
        })
        self.xvfb = None

    def start(self):
        # Wine's processes detach from the process that started them. As their subreaper we
        # get them back when they end and can reap them, instead of leaving zombies behind.
        try:
            libc = ctypes.CDLL(None, use_errno=True)
            libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
        except (OSError, AttributeError):
            pass
        self._start_xvfb()
        self._ensure_prefix()
        # One wineserver (and with it Wine's own services) for all runs instead of one per run.
        # It outlives the suite's own output, which it must not hold open.
        subprocess.run(['wineserver', '-p'], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        subprocess.run(['wine', 'cmd', '/c', 'exit'], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=False)

    def _start_xvfb(self):
        # Xvfb picks a free display itself and writes its number to the pipe we hand it.
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', SCREEN_SIZE + 'x24',
             '-nolisten', 'tcp'],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b''
        deadline = time.monotonic() + 30
        while not number.endswith(b'\n'):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([read_end], [], [], remaining)[0]:
                break
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            raise RuntimeError('Xvfb did not start')
        self.env['DISPLAY'] = ':' + number.strip().decode()

    def wine_quiet(self, args, timeout=120):
        subprocess.run(['wine'] + args, env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout, check=False)

    def _has_system_registry(self):
        return os.path.exists(os.path.join(self.prefix, 'system.reg'))

    def _prefix_ready(self):
        return self._has_system_registry()

    def _configure_prefix(self):
        pass

    def _mark_prefix_ready(self):
        pass

    def _ensure_prefix(self):
        if self._prefix_ready():
            return
        started = time.monotonic()
        if not self._has_system_registry():
            self._copy_base_prefix()
        self._configure_prefix()
        subprocess.run(['wineserver', '-w'], env=self.env, timeout=300, check=False)
        self._mark_prefix_ready()
        print('made the Wine prefix %s in %.1f s' % (self.prefix, time.monotonic() - started))

    def _copy_base_prefix(self):
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        os.makedirs(os.path.dirname(BASE_PREFIX), exist_ok=True)
        with open(BASE_PREFIX + '.lock', 'w') as lock:
            # Suites that start at once make the base prefix once and copy it one at a time.
            fcntl.flock(lock, fcntl.LOCK_EX)
            if self._has_system_registry():
                return
            if not os.path.exists(os.path.join(BASE_PREFIX, BASE_MARK)):
                started = time.monotonic()
                make_prefix(dict(self.env, WINEPREFIX=BASE_PREFIX))
                open(os.path.join(BASE_PREFIX, BASE_MARK), 'w').close()
                print('made the Wine prefix %s in %.1f s' % (BASE_PREFIX,
                                                              time.monotonic() - started))
            if os.path.isdir(self.prefix) and os.listdir(self.prefix):
                make_prefix(self.env)  # a prefix an earlier wineboot --init left unfinished
                return
            # Copied beside its place, then renamed into it: the prefix is whole or not there.
            partial = self.prefix + '.partial'
            shutil.rmtree(partial, ignore_errors=True)
            shutil.copytree(BASE_PREFIX, partial, symlinks=True, ignore=_not_copied)
            if os.path.isdir(self.prefix):
                os.rmdir(self.prefix)
            os.rename(partial, self.prefix)

    def end_wineserver(self):
        """Ends the prefix's wineserver, with whatever still runs in it."""
        subprocess.run(['wineserver', '-k'], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        try:
            subprocess.run(['wineserver', '-w'], env=self.env, timeout=30, check=False)
        except subprocess.TimeoutExpired:
            pass

    def stop(self):
        # Ends the persistent wineserver of our prefix, with whatever still runs in it (a hung
        # test run), then our Xvfb. The prefix belongs to these tests while they run.
        self.end_wineserver()
        if self.xvfb is not None:
            self.xvfb.send_signal(signal.SIGTERM)
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                pid, _status = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                break
            if pid == 0:
                time.sleep(0.1)

    def run(self, folder, program_args, launch_options=()):
        """Runs launch.exe with the exe and its arguments in folder. Returns (code, output)."""
        command = launch_command(EXE, program_args, launch_options)
        try:
            done = subprocess.run(command, cwd=folder, env=self.env, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise AssertionError('the exe did not end within %d s' % RUN_TIMEOUT)
        out = done.stdout.decode('utf-8', 'replace')
        code = launch_exit_code(out)
        if code is None:
            raise AssertionError('launch.exe printed no exit code (status %d): %r %r' %
                                 (done.returncode, out, done.stderr.decode('utf-8', 'replace')))
        if done.returncode != code & 0xFF:
            raise AssertionError('wine status %d is not the low byte of %d' %
                                 (done.returncode, code))
        return code, out


def _not_copied(folder, _names):
    return (BASE_MARK, SERVER_FOLDER_FILE) if folder == BASE_PREFIX else ()


def make_prefix(env):
    """A new prefix in env's WINEPREFIX by wineboot --init, once its wineserver has ended."""
    subprocess.run(['wineboot', '--init'], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300, check=False)
    subprocess.run(['wineserver', '-w'], env=env, timeout=300, check=False)
    if not os.path.exists(os.path.join(env['WINEPREFIX'], 'system.reg')):
        raise RuntimeError('wineboot could not create the prefix ' + env['WINEPREFIX'])


@contextlib.contextmanager
def held_open(wine, folder, path, access, share):
    """PATH (a Windows path) held open by another program, hid_probe.exe, with the desired access
    and share mode given, while the block runs."""
    holder = subprocess.Popen(['wine', PROBE, path, 'hold', '%x' % access, '%x' % share, 'sleep',
                               str(HOLD_MS)], cwd=folder, env=wine.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    try:
        answer = holder.stdout.readline().decode('ascii', 'replace').strip()
        if answer != 'ok':
            raise AssertionError('hid_probe.exe could not hold %s open: %r' % (path, answer))
        yield
    finally:
        holder.kill()
        holder.wait()


def windows_path(path):
    # Wine's drive Z: is the Unix root.
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def launch_command(exe, program_args, launch_options=()):
    """The command that runs exe through launch.exe, which prints its full exit code."""
    # Wine passes the program path on unchanged; the exe must be named by its Windows path.
    return ['wine', LAUNCH] + list(launch_options) + [windows_path(exe)] + program_args


def launch_exit_code(output):
    """The exit code in launch.exe's "exit CODE" line, or None when there is none."""
    match = LAUNCH_EXIT.search(output)
    return int(match.group(1)) if match else None


RECORD_KEY = r'HKLM\SOFTWARE\Norvane\FW Updater'
RECORD_LINE = re.compile(r'^\s+(\w+)\s+(REG_\w+)\s+(.*?)\s*$')


def detection_record(wine):
    """The values under the detection record's key, as Wine's reg.exe shows them: {name: data}."""
    done = subprocess.run(['wine', 'reg', 'query', RECORD_KEY, '/reg:64'], env=wine.env,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    values = {}
    for line in done.stdout.decode('utf-8', 'replace').splitlines():
        match = RECORD_LINE.match(line)
        if match:
            values[match.group(1)] = match.group(3)
    return values


def post_end_session(wine, title):
    """WM_ENDSESSION(TRUE) posted by another program (window_driver.exe) to every top-level window
    with the title, hidden ones too, as any program can post it: no session ends."""
    done = subprocess.run(['wine', WINDOW_DRIVER, 'end-session', title], env=wine.env,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    answer = done.stdout.decode('utf-8', 'replace').strip()
    if not answer.startswith('ok'):
        raise AssertionError('window_driver.exe end-session %r: %r' % (title, answer))


# ---------------------------------------------------------------------------------------------
# Test folders and images


def make_image(path):
    """Writes a complete 68,620-byte image: with the host fwimage tool when it is built."""
    if os.path.exists(FWIMAGE):
        subprocess.run([FWIMAGE, 'make', path], check=True, stdout=subprocess.DEVNULL)
    else:
        header = bytes([0x12, 0x34, 0x03, 0x08, 0, 0, 0, 0, 0, 0, 0x01, 0])
        body = bytes((i * 7 + 3) & 0xFF for i in range(IMAGE_SIZE - len(header)))
        with open(path, 'wb') as f:
            f.write(header + body)
    if os.path.getsize(path) != IMAGE_SIZE:
        raise AssertionError('%s is %d bytes, not %d' % (path, os.path.getsize(path), IMAGE_SIZE))


def read_log(folder, name='fw.log'):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        raise AssertionError('no log file %s' % name)
    with open(path, 'rb') as f:
        return f.read()


def check_time_in_run(match, started, ended, label):
    """The log time in the six groups of match lies within the run, give or take 2 s."""
    stamp = datetime.datetime(*[int(g) for g in match.groups()])
    low = started.replace(microsecond=0) - datetime.timedelta(seconds=2)
    high = ended + datetime.timedelta(seconds=2)
    if not low <= stamp <= high:
        raise AssertionError('%s %s lies outside the run (%s .. %s)' % (label, stamp, low, high))


EXECUTED = re.compile(rb'Executed:(\d{4})/(\d{2})/(\d{2}) (\d{2}):(\d{2}):(\d{2})')


def check_run_log(data, lines, started, ended, args=SILENT_ARGS):
    """Compares the log bytes with a run of the given lines after "Command:" and "Executed:"."""
    expected_head = ('Command:' + ' '.join(args) + '\r\n').encode('ascii')
    if not data.startswith(expected_head):
        raise AssertionError('log does not start with %r: %r' % (expected_head, data))
    rest = data[len(expected_head):]
    match = EXECUTED.match(rest)
    if not match or rest[match.end():match.end() + 2] != b'\r\n':
        raise AssertionError('no "Executed:YYYY/MM/DD HH:MM:SS" line with CR LF: %r' % data)
    check_time_in_run(match, started, ended, 'Executed: time')
    tail = rest[match.end() + 2:]
    expected_tail = b''.join(line.encode('ascii') + b'\r\n' for line in lines)
    if tail != expected_tail:
        raise AssertionError('log lines after "Executed:" differ:\n  expected %r\n  got      %r' %
                             (expected_tail, tail))


# ---------------------------------------------------------------------------------------------
# The exe's resources


def resource_bytes(kind, name):
    done = subprocess.run(['wrestool', '-x', '--raw', '--type=%d' % kind, '--name=%s' % name, EXE],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
    return done.stdout


def icon_images(group):
    """Each image of an icon group: its entry's (width, height, bits per pixel), 0 meaning 256;
    the same from the image's own header, a PNG's IHDR or a bitmap's (whose height counts the
    mask too), with 'png' or 'bmp'; and the image's bytes."""
    data = resource_bytes(14, group)
    images = []
    for i in range(struct.unpack_from('<H', data, 4)[0]):
        w, h, _c, _r, _p, bpp, _s, image_id = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i)
        image = resource_bytes(3, str(image_id))
        if image.startswith(b'\x89PNG\r\n\x1a\n'):
            width, height, depth, colour_type = struct.unpack_from('>IIBB', image, 16)
            own = (width, height, depth * (4 if colour_type == 6 else 1), 'png')
        else:
            _size, width, height, _planes, bits = struct.unpack_from('<IiiHH', image, 0)
            own = (width, height // 2, bits, 'bmp')
        images.append(((w or 256, h or 256, bpp), own, image))
    return images


# ---------------------------------------------------------------------------------------------
# Tests and their runner

TESTS = {}  # the registered tests of each suite, by module name


def test(function):
    """Registers a test of the suite that defines it."""
    TESTS.setdefault(function.__module__, []).append(function)
    return function


def selected_tests(options):
    """The tests of the suite that runs (its script is __main__) whose name holds -k's text.
    Suites it imports for their helpers keep their own tests to themselves."""
    return [t for t in TESTS.get('__main__', []) if options.pattern in t.__name__]


class Context:
    def __init__(self, wine, base):
        self.wine = wine
        self.base = base

    def folder(self, name):
        path = os.path.join(self.base, name)
        os.makedirs(path)
        return path

    def finish(self, failed_name=None):
        """Called after each test, with its name when it failed."""


def parse_options(description, set_paths=None):
    """The command line of a Wine suite; sets the build paths from --build-dir."""
    parser = argparse.ArgumentParser(description=description.split('\n')[0])
    parser.add_argument('-k', dest='pattern', default='', help='run only tests with this in name')
    parser.add_argument('--keep', action='store_true', help='keep the case folders')
    parser.add_argument('--build-dir', default=os.path.join(ROOT, 'build'),
                        help='the build folder (default: build/ of the work tree)')
    options = parser.parse_args()
    (set_paths or set_build_dir)(options.build_dir)
    return options


def run_tests(options, wine, make_context, folder_prefix, title, notes=()):
    """Runs the registered tests that options select, each with a context from make_context(wine,
    base folder), between wine.start() and wine.stop(). Prints a line a test, the notes and the
    summary; returns the exit status."""
    selected = selected_tests(options)
    base = tempfile.mkdtemp(prefix=folder_prefix)
    passed = failed = 0
    started_all = time.monotonic()
    try:
        try:
            wine.start()
        except (RuntimeError, OSError, subprocess.SubprocessError) as error:
            print('FAIL setting up Wine and Xvfb: %s' % error)
            failed += 1
            selected = []
        ctx = make_context(wine, base)
        for function in selected:
            started = time.monotonic()
            try:
                function(ctx)
            except Exception as error:  # noqa: BLE001 - any error fails this test only
                failed += 1
                ctx.finish(function.__name__)
                print('FAIL %s (%.1f s): %s' % (function.__name__, time.monotonic() - started,
                                                error))
            else:
                ctx.finish()
                passed += 1
                print('ok   %s (%.1f s)' % (function.__name__, time.monotonic() - started))
            sys.stdout.flush()
    finally:
        wine.stop()
        if failed or options.keep:
            print('case folders kept in %s' % base)
        else:
            shutil.rmtree(base, ignore_errors=True)
    for note in notes:
        print(note)
    print('%s took %.1f s' % (title, time.monotonic() - started_all))
    print('%d passed, %d failed' % (passed, failed))
    return 1 if failed else 0


def report_missing(paths, what):
    """Prints the missing inputs as a failed run; True when any is missing."""
    missing = [p for p in paths if not os.path.exists(p)]
    if missing:
        print('missing %s: %s' % (', '.join(missing), what))
        print('0 passed, 1 failed')
    return bool(missing)
