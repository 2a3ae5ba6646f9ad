#!/usr/bin/env python3
"""Window tests of the Windows build: the real boxes and update dialog under Wine.

    python3 tests/wine/window_tests.py [-k SUBSTRING] [--keep] [--build-dir DIR]

The program is the release NorvaneFwUpdater.exe, unmodified; its controller is a virtual one in
Wine's own HID stack (tests/tools/wine/vdev: the driver build/windows/tools/vdev/norvane_vdev.sys with
our controller model, under Wine's setupapi, hid.dll and hidclass). Each test brings up the
controller of its scenario, runs the exe interactively ("/v LOGFILE=fw.log") through launch.exe,
which reports the full exit code, and drives its windows with window_driver.exe
(tests/tools/wine/window_driver.c) as a user would: answers the question, presses Start Update,
reads the boxes, the button and the progress bar, closes the dialog. The first test checks that the release exe holds nothing of the
controller model.

The tests use a Wine prefix of their own, build/wine-prefix-gui (made once; the environment
variable NORVANE_WINE_GUI_PREFIX names another folder), set to Wine's virtual desktop so that
windows get their title bars, and start their own Xvfb on a free display. Screenshots of the
windows land in build/screenshots/. At the end they end the prefix's wineserver, with anything
still running in it, and Xvfb. Case folders are removed unless a test failed or --keep is given.
The Wine harness is wine_harness.py (Xvfb, prefix, launch.exe, the runner).

The last line of output is "N passed, N failed"; the exit status is 1 when any test failed.
"""

import datetime
import fcntl
import glob
import json
import os
import re
import select
import subprocess
import sys
import time

import wine_harness as harness

test = harness.test

VDEV = os.path.join(harness.ROOT, 'tests', 'tools', 'wine', 'vdev')
VDEV_DRIVER = WINDOW_DRIVER = PREFIX = SCREENSHOTS = ''


def set_build_dir(build):
    global VDEV_DRIVER, WINDOW_DRIVER, PREFIX, SCREENSHOTS
    harness.set_build_dir(build)
    VDEV_DRIVER = os.path.join(harness.BUILD, 'windows', 'tools', 'vdev', 'norvane_vdev.sys')
    WINDOW_DRIVER = os.path.join(harness.BUILD, 'windows', 'tools', 'window_driver.exe')
    PREFIX = os.path.abspath(os.environ.get('NORVANE_WINE_GUI_PREFIX') or
                             os.path.join(harness.BUILD, 'wine-prefix-gui'))
    SCREENSHOTS = os.path.join(harness.BUILD, 'screenshots')


DESKTOP_MARK = '.norvane-virtual-desktop'  # in the prefix once its virtual desktop is set

RUN_TIMEOUT = 120         # s: one run of the program, from start to exit
VDEV_TIMEOUT = 180        # s: bringing up a scenario's controllers
WINDOW_TIMEOUT_MS = 20000  # a window that the program opens next
UPDATE_TIMEOUT_MS = 60000  # the whole flash sequence
DRIVER_MARGIN = 10         # s on top of a window driver command's own timeout
SETTLE = 0.7               # s for a posted message to be handled
# A pause after every register write (Setting.ini WAIT) that stretches the update to a few
# seconds, long enough to photograph the progress bar half-way.
SLOW_WAIT_MS = 8
MIDWAY = 3.0               # s after Start Update for that photograph

DIALOG_TITLE = 'Norvane FW Updater ' + harness.VERSION
DIALOG_NOTICE = "Please don't turn off this computer while updating."
QUESTION_TEXT = 'Current FW version is 3.07\nWould you like to update FW to 3.08 ?'
START_UPDATE = 1000
IDOK, IDYES, IDNO = 1, 6, 7
PROGRESS_MAX = 19  # 18 steps with 128-byte chunks, then the full bar of a successful update
# The responsiveness test: a pause after each write long enough that the update lasts several
# seconds and every progress step stays up longer than a sampling round.
RESPONSIVE_WAIT_MS = 12
SAMPLE_INTERVAL = 0.05  # s between two rounds of ping and progress samples
MIN_PINGS = 20
RUN_ARGS = ['/v', 'LOGFILE=fw.log']
FAULT_AT_UNLOCK = {'devices': [{'controller': {'faults': [
    {'on': 'write', 'address': '0xFF800C', 'fail_set': True}]}}]}

# ---------------------------------------------------------------------------------------------
# Wine, Xvfb and the window driver


class WindowWine(harness.Wine):
    """The harness's Wine on a prefix of its own set to a virtual desktop, and one
    window_driver.exe."""

    def __init__(self):
        super().__init__(PREFIX)
        self.env['NORVANE_BUILD_DIR'] = harness.BUILD
        self.driver = None
        self.lock = None

    def start(self):
        self._lock_prefix()
        super().start()
        self.driver = subprocess.Popen(['wine', WINDOW_DRIVER, 'serve'], env=self.env,
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)

    def _lock_prefix(self):
        # Two runs on one prefix would end each other's wineserver: the second one waits.
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        self.lock = open(self.prefix + '.lock', 'w')
        try:
            fcntl.flock(self.lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print('waiting for another window test run on %s' % self.prefix)
            sys.stdout.flush()
            fcntl.flock(self.lock, fcntl.LOCK_EX)

    def _prefix_ready(self):
        return os.path.exists(os.path.join(self.prefix, DESKTOP_MARK))

    def _configure_prefix(self):
        # Every program of the prefix opens on one virtual desktop, whose windows Wine draws
        # with their frames and title bars: Xvfb has no window manager.
        self.wine_quiet(['reg', 'add', r'HKCU\Software\Wine\Explorer', '/v', 'Desktop', '/d',
                         'Default', '/f'])
        self.wine_quiet(['reg', 'add', r'HKCU\Software\Wine\Explorer\Desktops', '/v',
                         'Default', '/d', harness.SCREEN_SIZE, '/f'])

    def _mark_prefix_ready(self):
        with open(os.path.join(self.prefix, DESKTOP_MARK), 'w') as mark:
            mark.write(harness.SCREEN_SIZE + '\n')

    def drive(self, *words, timeout_ms=None):
        """One window driver command; returns what follows "ok", raises AssertionError otherwise."""
        words = [str(w) for w in words]
        if timeout_ms is not None:
            words.append(str(timeout_ms))
        line = ' '.join('"%s"' % w if ' ' in w or not w else w for w in words)
        self.driver.stdin.write((line + '\n').encode('utf-8'))
        self.driver.stdin.flush()
        limit = (timeout_ms or 10000) / 1000.0 + DRIVER_MARGIN
        answer = self._read_line(limit)
        if answer is None:
            raise AssertionError('window_driver.exe gave no answer to %r within %.0f s' %
                                 (line, limit))
        if answer != 'ok' and not answer.startswith('ok '):
            raise AssertionError('window_driver.exe: %s -> %s' % (line, answer))
        return unescape(answer[3:])

    def _read_line(self, limit):
        out = self.driver.stdout
        data = b''
        deadline = time.monotonic() + limit
        while not data.endswith(b'\n'):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([out], [], [], remaining)[0]:
                return None
            chunk = os.read(out.fileno(), 1)
            if not chunk:
                return None
            data += chunk
        return data.decode('utf-8', 'replace').rstrip('\r\n')

    def screenshot(self, name):
        os.makedirs(SCREENSHOTS, exist_ok=True)
        path = os.path.join(SCREENSHOTS, name)
        subprocess.run(['import', '-display', self.env['DISPLAY'], '-window', 'root', path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30,
                       check=False)
        return path

    def end_program(self):
        """Ends a program run that is still going (a failed test), by its image name."""
        self.wine_quiet(['taskkill', '/f', '/im', os.path.basename(harness.EXE)], timeout=30)

    def vdev(self, folder, *words):
        """A tests/tools/wine/vdev command in folder (whose image gives the scenario's defaults)."""
        self.vdev_output(folder, *words)

    def vdev_output(self, folder, *words):
        """What a vdev command printed."""
        done = subprocess.run([VDEV] + list(words), cwd=folder, env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=VDEV_TIMEOUT, check=False)
        if done.returncode != 0:
            raise AssertionError('vdev %s failed: %s' % (' '.join(words),
                                                         done.stderr.decode('utf-8', 'replace')))
        return done.stdout.decode('ascii')

    def stop(self):
        if self.driver is not None:
            try:
                self.driver.stdin.close()
                self.driver.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.driver.kill()
                self.driver.wait()
        subprocess.run([VDEV, 'down'], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=VDEV_TIMEOUT, check=False)
        super().stop()
        if self.lock is not None:
            self.lock.close()


def unescape(text):
    return re.sub(r'\\(.)', lambda m: {'n': '\n', 'r': '\r'}.get(m.group(1), m.group(1)), text)


class ProgramRun:
    """NorvaneFwUpdater.exe started through launch.exe in a folder, in the background."""

    def __init__(self, wine, folder):
        self.wine = wine
        self.started = datetime.datetime.now()
        self.process = subprocess.Popen(harness.launch_command(harness.EXE, RUN_ARGS),
                                        cwd=folder, env=wine.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        self.ended = None

    def exit_code(self):
        try:
            out, err = self.process.communicate(timeout=RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise AssertionError('the program did not end within %d s' % RUN_TIMEOUT)
        self.ended = datetime.datetime.now()
        text = out.decode('utf-8', 'replace')
        code = harness.launch_exit_code(text)
        if code is None:
            raise AssertionError('launch.exe printed no exit code: %r %r' %
                                 (text, err.decode('utf-8', 'replace')))
        return code

    def end(self):
        if self.process.poll() is None:
            self.wine.end_program()
            try:
                self.process.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.communicate()


# ---------------------------------------------------------------------------------------------
# Folders and logs


def prepare_folder(folder, wait_ms=None):
    harness.make_image(os.path.join(folder, 'FW.bin'))
    if wait_ms is not None:
        with open(os.path.join(folder, 'Setting.ini'), 'wb') as f:
            f.write(b'[Setting]\r\nWAIT=%d\r\n' % wait_ms)


STAMP = r'(\d{4})/(\d{2})/(\d{2}) (\d{2}):(\d{2}):(\d{2})'


def check_log(folder, run, lines):
    """The run log: "Command:", "Executed:" and then exactly these lines, each ending in CR LF.
    A line "Completed:*" stands for a completion time within the run."""
    with open(os.path.join(folder, 'fw.log'), 'rb') as f:
        data = f.read().decode('ascii', 'replace')
    got = data.split('\r\n')
    if got[-1] != '':
        raise AssertionError('the log does not end with CR LF: %r' % data)
    got = got[:-1]
    expected = ['Command:' + ' '.join(RUN_ARGS), 'Executed:*'] + lines
    if len(got) != len(expected):
        raise AssertionError('log lines %r, expected %r' % (got, expected))
    for have, want in zip(got, expected):
        if want.endswith(':*'):
            match = re.fullmatch(re.escape(want[:-1]) + STAMP, have)
            if not match:
                raise AssertionError('log line %r is not %s<time>' % (have, want[:-1]))
            harness.check_time_in_run(match, run.started, run.ended, 'log time')
        elif have != want:
            raise AssertionError('log line %r, expected %r (log %r)' % (have, want, got))


VERSION_LINES = ['Current FW version:3.07', 'New FW version:3.08']

# ---------------------------------------------------------------------------------------------
# Tests

# Texts and symbols of the controller model: each must be in the virtual controller's driver (or
# the check could never fail) and none in the release exe.
MODEL_MARKERS = [
    ('a controller scenario key', 'erase_busy_polls'),
    ('a fault rule key', 'fail_set'),
    ('a controller model symbol', '_ZN3sim'),
    ('the model seam', 'vdev_model_set_feature'),
    ('the virtual controller folder', 'norvane-vdev'),
]


def holds_text(data, text):
    return text.encode('ascii') in data or text.encode('utf-16-le') in data


@test
def release_exe_holds_no_controller_model(ctx):
    with open(harness.EXE, 'rb') as f:
        release = f.read()
    with open(VDEV_DRIVER, 'rb') as f:
        driver = f.read()
    missing = [label for label, text in MODEL_MARKERS if not holds_text(driver, text)]
    if missing:
        raise AssertionError('not even the driver holds %s' % ', '.join(missing))
    found = ['%s (%r)' % (label, text) for label, text in MODEL_MARKERS
             if holds_text(release, text)]
    if found:
        raise AssertionError('the release exe holds %s' % ', '.join(found))


def answer_question(ctx, answer, screenshot=None, question=None):
    ctx.wine.drive('wait-window', 'Question', timeout_ms=WINDOW_TIMEOUT_MS)
    text = ctx.wine.drive('text', 'Question')
    if text != (question or QUESTION_TEXT):
        raise AssertionError('question %r, expected %r' % (text, question or QUESTION_TEXT))
    if screenshot:
        ctx.wine.screenshot(screenshot)
    ctx.wine.drive('click', 'Question', answer)
    ctx.wine.drive('wait-gone', 'Question', timeout_ms=WINDOW_TIMEOUT_MS)


def expect(label, got, want):
    if got != want:
        raise AssertionError('%s: %r, expected %r' % (label, got, want))


def open_dialog(ctx):
    ctx.wine.drive('wait-window', DIALOG_TITLE, timeout_ms=WINDOW_TIMEOUT_MS)
    expect('dialog notice', ctx.wine.drive('text', DIALOG_TITLE), DIALOG_NOTICE)
    expect('Start Update enabled', ctx.wine.drive('enabled', DIALOG_TITLE, START_UPDATE), '1')
    expect('progress', ctx.wine.drive('progress', DIALOG_TITLE), '0/%d' % PROGRESS_MAX)


def dialog_of_a_run(ctx, name, wait_ms=None, scenario=None, screenshot=None):
    """Starts a run in a fresh folder, answers its question with Yes and checks the dialog it
    opens; returns the folder and the run."""
    folder = ctx.folder(name)
    prepare_folder(folder, wait_ms)
    run = ctx.start(folder, scenario)
    answer_question(ctx, IDYES, screenshot)
    open_dialog(ctx)
    return folder, run


TITLE_BAR_AREA = 32  # px square at the window's top left corner, where its icon is drawn


def expect_title_bar_icon(ctx, shot):
    """The program's 16 px icon, its opaque pixels as they are, in the dialog's title bar. (Wine
    answers WM_GETICON from another process with no icon.)"""
    image = harness.icon_images('107')[0][2]  # 32-bit: BGRA, bottom row first, after 40 bytes
    opaque = [(i % 16, 15 - i // 16, image[42 + 4 * i:39 + 4 * i:-1]) for i in range(256)
              if image[43 + 4 * i] == 255]
    left, top = ctx.wine.drive('rect', DIALOG_TITLE).split()[:2]
    size = TITLE_BAR_AREA
    area = subprocess.run(['convert', shot, '-crop', '%dx%d+%s+%s' % (size, size, left, top),
                           '+repage', '-depth', '8', 'rgb:-'], stdout=subprocess.PIPE,
                          check=True).stdout
    at = [(ox, oy) for oy in range(size - 15) for ox in range(size - 15)
          if all(area[3 * ((oy + y) * size + ox + x):][:3] == rgb for x, y, rgb in opaque)]
    if not at:
        raise AssertionError('the title bar in %s does not show the program\'s icon' % shot)


def escape_is_ignored(ctx):
    ctx.wine.drive('key', DIALOG_TITLE, 'escape')
    time.sleep(SETTLE)
    ctx.wine.drive('wait-window', DIALOG_TITLE, timeout_ms=0)


def wait_box(ctx, text, timeout_ms=WINDOW_TIMEOUT_MS):
    ctx.wine.drive('wait-text', 'Result', text, timeout_ms=timeout_ms)


@test
def update_runs_to_success(ctx):
    folder, run = dialog_of_a_run(ctx, 'success', SLOW_WAIT_MS, screenshot='01-question.png')
    escape_is_ignored(ctx)
    expect_title_bar_icon(ctx, ctx.wine.screenshot('02-dialog-before-update.png'))
    ctx.wine.drive('click', DIALOG_TITLE, START_UPDATE)
    time.sleep(MIDWAY)
    ctx.wine.screenshot('03-dialog-during-update.png')
    wait_box(ctx, 'Update success!!!', UPDATE_TIMEOUT_MS)
    # The box's modal loop runs on the dialog's thread, so the dialog answers again: the bar is
    # full under the result.
    expect('progress at the end', ctx.wine.drive('progress', DIALOG_TITLE),
           '%d/%d' % (PROGRESS_MAX, PROGRESS_MAX))
    expect('Start Update enabled', ctx.wine.drive('enabled', DIALOG_TITLE, START_UPDATE), '0')
    expect_title_bar_icon(ctx, ctx.wine.screenshot('04-result-success.png'))
    ctx.wine.drive('click', 'Result', IDOK)
    wait_box(ctx, 'Please restart this computer.')
    ctx.wine.screenshot('05-result-restart.png')
    # Escape answers a box with an OK button only; the dialog ignores it (above).
    ctx.wine.drive('key', 'Result', 'escape')
    ctx.wine.drive('wait-gone', 'Result', timeout_ms=WINDOW_TIMEOUT_MS)
    ctx.wine.drive('wait-gone', DIALOG_TITLE, timeout_ms=WINDOW_TIMEOUT_MS)
    expect('exit code', run.exit_code(), 3010)
    check_log(folder, run, VERSION_LINES + ['Firmware was successfully updated.',
                                            'Exit code = 3010', 'Completed:*', ''])


def result_box_shown(ctx):
    listed = ctx.wine.drive('list')
    return '"Result"' in listed


@test
def dialog_answers_while_it_flashes(ctx):
    """The update runs in real time for seconds; the dialog keeps answering WM_NULL within 100 ms
    all through it (Windows would otherwise mark it "Not Responding"), ignores the close box,
    Alt+F4, the system menu's Close and a second Start Update, and its bar passes every step.
    (That the close box is greyed meanwhile is checked on the host: Wine reports a window's title
    bar buttons to other processes as enabled whatever the system menu says.)"""
    folder, run = dialog_of_a_run(ctx, 'responsive', RESPONSIVE_WAIT_MS)
    ctx.wine.drive('click', DIALOG_TITLE, START_UPDATE)
    attempts = [('close', DIALOG_TITLE), ('key', DIALOG_TITLE, 'alt-f4'),
                ('sysclose', DIALOG_TITLE), ('click', DIALOG_TITLE, START_UPDATE),
                ('key', DIALOG_TITLE, 'escape')]
    pings = 0
    positions = set()
    deadline = time.monotonic() + UPDATE_TIMEOUT_MS / 1000.0
    while not result_box_shown(ctx):
        if time.monotonic() > deadline:
            raise AssertionError('no result box within %d ms' % UPDATE_TIMEOUT_MS)
        ctx.wine.drive('ping', DIALOG_TITLE)  # raises on "busy"
        pings += 1
        position = ctx.wine.drive('progress', DIALOG_TITLE)
        positions.add(int(position.split('/')[0]))
        if attempts and pings % 4 == 0:
            ctx.wine.drive(*attempts.pop(0))
        time.sleep(SAMPLE_INTERVAL)
    # The full bar comes right before the first result box, whose loop answers for the dialog.
    positions.add(int(ctx.wine.drive('progress', DIALOG_TITLE).split('/')[0]))
    if attempts:
        raise AssertionError('the update ended before every close attempt was made')
    if pings < MIN_PINGS:
        raise AssertionError('only %d pings during the update' % pings)
    # Step 18, the last, is followed at once by the full bar: no message is handled between.
    missing = sorted((set(range(1, PROGRESS_MAX - 1)) | {PROGRESS_MAX}) - positions)
    if missing:
        raise AssertionError('progress steps never seen: %r (seen %r)' % (missing, sorted(positions)))
    wait_box(ctx, 'Update success!!!')
    ctx.wine.drive('click', 'Result', IDOK)
    wait_box(ctx, 'Please restart this computer.')
    ctx.wine.drive('click', 'Result', IDOK)
    ctx.wine.drive('wait-gone', DIALOG_TITLE, timeout_ms=WINDOW_TIMEOUT_MS)
    expect('exit code', run.exit_code(), 3010)
    # One update: the log holds its lines once.
    check_log(folder, run, VERSION_LINES + ['Firmware was successfully updated.',
                                            'Exit code = 3010', 'Completed:*', ''])


@test
def answer_no_ends_the_run(ctx):
    folder = ctx.folder('answer_no')
    prepare_folder(folder)
    run = ctx.start(folder)
    answer_question(ctx, IDNO)
    expect('exit code', run.exit_code(), 0)
    check_log(folder, run, ['Exit code = 0'])


@test
def declining_to_finish_an_interrupted_update_is_a_failure(ctx):
    """A controller an interrupted update left in update mode: the question says that the
    touchpad does not work until it is updated, and No ends with 1603."""
    folder = ctx.folder('interrupted_no')
    prepare_folder(folder)
    run = ctx.start(folder, {'devices': [{'controller': {'mode_status': '0x10',
                                                         'programmed_chunks': 1}}]})
    answer_question(ctx, IDNO, question='The touchpad was left in update mode by an interrupted '
                    'update and does not work until it is updated.\nWould you like to update '
                    'FW to 3.08 ?')
    expect('exit code', run.exit_code(), 1603)
    check_log(folder, run, ['Controller was left in update mode; updating again.',
                            'The update was declined; the touchpad does not work until it is '
                            'updated.', 'Exit code = 1603'])


@test
def closing_the_dialog_without_starting(ctx):
    folder, run = dialog_of_a_run(ctx, 'close')
    escape_is_ignored(ctx)
    ctx.wine.drive('close', DIALOG_TITLE)
    ctx.wine.drive('wait-gone', DIALOG_TITLE, timeout_ms=WINDOW_TIMEOUT_MS)
    expect('exit code', run.exit_code(), 3010)
    check_log(folder, run, VERSION_LINES)


@test
def failed_update_keeps_the_dialog(ctx):
    folder, run = dialog_of_a_run(ctx, 'failure', scenario=FAULT_AT_UNLOCK)
    ctx.wine.drive('click', DIALOG_TITLE, START_UPDATE)
    wait_box(ctx, 'Update fail !!!', UPDATE_TIMEOUT_MS)
    ctx.wine.screenshot('06-result-fail.png')
    ctx.wine.drive('click', 'Result', IDOK)
    ctx.wine.drive('wait-gone', 'Result', timeout_ms=WINDOW_TIMEOUT_MS)
    time.sleep(SETTLE)
    ctx.wine.drive('wait-window', DIALOG_TITLE, timeout_ms=0)
    expect('Start Update enabled', ctx.wine.drive('enabled', DIALOG_TITLE, START_UPDATE), '0')
    expect('notice', ctx.wine.drive('text', DIALOG_TITLE),
           'The update did not finish. Run this tool again now.')
    # One step once the device was reached; the erase then failed without its unlock key.
    expect('progress', ctx.wine.drive('progress', DIALOG_TITLE), '1/%d' % PROGRESS_MAX)
    ctx.wine.screenshot('07-dialog-after-failure.png')
    escape_is_ignored(ctx)
    # Once the update has ended, the dialog closes again, with Alt+F4 too.
    ctx.wine.drive('key', DIALOG_TITLE, 'alt-f4')
    ctx.wine.drive('wait-gone', DIALOG_TITLE, timeout_ms=WINDOW_TIMEOUT_MS)
    expect('exit code', run.exit_code(), 1603)
    check_log(folder, run, VERSION_LINES + ['Fail - _clear_memory_segment.',
                                            'Firmware update failed.', 'Exit code = 1603'])


@test
def a_second_run_waits_for_none(ctx):
    """While an interactive run asks its question (and so holds the one-updater lock), a silent
    run started beside it ends at once with 1618 and never touches the controller; the first
    run then updates as ever."""
    folder = ctx.folder('first_run')
    prepare_folder(folder)
    run = ctx.start(folder)
    ctx.wine.drive('wait-window', 'Question', timeout_ms=WINDOW_TIMEOUT_MS)
    second = ctx.folder('second_run')
    prepare_folder(second)
    code, _out = ctx.wine.run(second, harness.SILENT_ARGS)
    expect('second exit code', code, 1618)
    data = harness.read_log(second).decode('ascii')
    expect('second log', data.split('\r\n')[2:],
           ['Another Norvane FW Updater is running.', 'Exit code = 1618', ''])
    answer_question(ctx, IDYES)
    finish_update(ctx, run)
    check_log(folder, run, VERSION_LINES + ['Firmware was successfully updated.',
                                            'Exit code = 3010', 'Completed:*', ''])
    transcript = ctx.wine.vdev_output(folder, 'transcript')
    expect('runs that read system memory', transcript.count('SET 0 05 D1 00 04 10 00'), 1)


@test
def session_end_during_an_interactive_flash_is_refused(ctx):
    """"wineboot --end-session" while the dialog flashes: the dialog refuses, the session goes
    on and the update completes."""
    folder, run = dialog_of_a_run(ctx, 'session_end', SLOW_WAIT_MS)
    ctx.wine.drive('click', DIALOG_TITLE, START_UPDATE)
    time.sleep(MIDWAY)
    ctx.wine.wine_quiet(['wineboot', '--end-session'], timeout=60)
    finish_update(ctx, run)
    check_log(folder, run, VERSION_LINES + ['Firmware was successfully updated.',
                                            'Exit code = 3010', 'Completed:*', ''])
    state = ctx.wine.vdev_output(folder, 'state')
    expect('end state', state, 'state 0 main=image mode=0x11 access=off handles=0\n')


@test
def forged_session_end_during_an_interactive_flash_ends_nothing(ctx):
    """WM_ENDSESSION(TRUE) posted to the dialog by another program while it flashes: logged, and
    the update completes."""
    folder, run = dialog_of_a_run(ctx, 'forged_end', SLOW_WAIT_MS)
    ctx.wine.drive('click', DIALOG_TITLE, START_UPDATE)
    time.sleep(MIDWAY)
    harness.post_end_session(ctx.wine, DIALOG_TITLE)
    finish_update(ctx, run)
    check_log(folder, run, VERSION_LINES + ['The session ended during the update.',
                                            'Firmware was successfully updated.',
                                            'Exit code = 3010', 'Completed:*', ''])
    state = ctx.wine.vdev_output(folder, 'state')
    expect('end state', state, 'state 0 main=image mode=0x11 access=off handles=0\n')


@test
def session_end_at_the_success_box_keeps_the_result(ctx):
    """"wineboot --end-session --kill" while "Update success!!!" is shown: the run had written its
    end before the box, so the log and the detection record hold the update."""
    folder, run = dialog_of_a_run(ctx, 'end_at_box')
    ctx.wine.drive('click', DIALOG_TITLE, START_UPDATE)
    wait_box(ctx, 'Update success!!!', UPDATE_TIMEOUT_MS)
    ctx.wine.wine_quiet(['wineboot', '--end-session', '--kill'], timeout=60)
    run.exit_code()
    check_log(folder, run, VERSION_LINES + ['Firmware was successfully updated.',
                                            'Exit code = 3010', 'Completed:*', ''])
    record = harness.detection_record(ctx.wine)
    expect('record', (record.get('LastExitCode'), record.get('FirmwareVersion')),
           ('0xbc2', '3.08'))


def finish_update(ctx, run):
    """Presses Start Update unless it is pressed, answers both result boxes, and expects 3010."""
    ctx.wine.drive('wait-window', DIALOG_TITLE, timeout_ms=WINDOW_TIMEOUT_MS)
    if ctx.wine.drive('enabled', DIALOG_TITLE, START_UPDATE) == '1':
        ctx.wine.drive('click', DIALOG_TITLE, START_UPDATE)
    wait_box(ctx, 'Update success!!!', UPDATE_TIMEOUT_MS)
    ctx.wine.drive('click', 'Result', IDOK)
    wait_box(ctx, 'Please restart this computer.')
    ctx.wine.drive('click', 'Result', IDOK)
    ctx.wine.drive('wait-gone', DIALOG_TITLE, timeout_ms=WINDOW_TIMEOUT_MS)
    expect('exit code', run.exit_code(), 3010)


# ---------------------------------------------------------------------------------------------


class Context(harness.Context):
    def __init__(self, wine, base):
        super().__init__(wine, base)
        self.run = None

    def start(self, folder, scenario=None):
        """Brings up the scenario's controllers (one matching the image without one), then
        starts the program."""
        scenario_path = folder + '.json'
        with open(scenario_path, 'w') as f:
            json.dump(scenario or {}, f)
        self.wine.vdev(folder, 'up', scenario_path)
        self.run = ProgramRun(self.wine, folder)
        return self.run

    def finish(self, failed_name=None):
        if failed_name and self.run is not None and self.run.process.poll() is None:
            self.wine.screenshot('failed-%s.png' % failed_name)
        if self.run is not None:
            self.run.end()
        self.run = None


def main():
    options = harness.parse_options(__doc__, set_build_dir)
    inputs = (harness.EXE, VDEV_DRIVER, harness.LAUNCH, WINDOW_DRIVER, harness.FWIMAGE)
    if harness.report_missing(inputs, 'build both builds first (make build)'):
        return 1
    for stale in glob.glob(os.path.join(SCREENSHOTS, 'failed-*.png')):
        os.remove(stale)
    return harness.run_tests(options, WindowWine(), Context, 'norvane-windows-',
                             'Wine window tests', ['screenshots in %s' % SCREENSHOTS])


if __name__ == '__main__':
    sys.exit(main())
