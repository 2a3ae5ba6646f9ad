#!/usr/bin/env python3
"""System tests of the release NorvaneFwUpdater.exe against virtual controllers in Wine's HID stack.

    python3 tests/wine/vdev_tests.py [-k SUBSTRING] [--keep] [--build-dir DIR]

Each test brings up the controllers of a scenario with tests/tools/wine/vdev (the driver
build/windows/tools/vdev/norvane_vdev.sys under Wine's own setupapi, hid.dll, hidclass and PnP
manager), runs the unmodified exe silently ("/s /v LOGFILE=fw.log") through launch.exe, and
checks its full exit code, its run log, the controllers' end state and the feature calls the
driver saw. The same scenario also runs on the host's simulated PC (build/host/fwsim): the
exe on the real stack must write the same log and make as many feature calls as the program on
our stand-ins.

The tests use a Wine prefix of their own, build/wine-prefix-vdev (made once; the environment
variable NORVANE_WINE_VDEV_PREFIX names another folder), and remove the devices and the driver
at the end. The last line of output is "N passed, N failed"; the exit status is 1 when any test
failed.
"""

import datetime
import fcntl
import glob
import json
import os
import re
import signal
import subprocess
import sys
import time

import wine_harness as harness

test = harness.test

VDEV = os.path.join(harness.ROOT, 'tests', 'tools', 'wine', 'vdev')
FWSIM = PREFIX = ''


def set_build_dir(build):
    global FWSIM, PREFIX
    harness.set_build_dir(build)
    FWSIM = os.path.join(harness.BUILD, 'host', 'fwsim')
    PREFIX = os.path.abspath(os.environ.get('NORVANE_WINE_VDEV_PREFIX') or
                             os.path.join(harness.BUILD, 'wine-prefix-vdev'))


VDEV_TIMEOUT = 180  # s for one vdev command, prefix creation included
SUCCESS_LINES = ['Current FW version:3.07', 'New FW version:3.08',
                 'Firmware was successfully updated.', 'Exit code = 0', 'Completed:TIME', '', '']
COMPLETED = re.compile(r'^Completed:\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}$')
STATS = re.compile(r'^fwsim: device (\d+): HidD_SetFeature (\d+), HidD_GetFeature (\d+);', re.M)
TRANSCRIPT = re.compile(r'^(SET|GET) (\d+)((?: [0-9A-F]{2})*)( failed)?$')
BLOCK_WRITE = 0x80
REMOVAL_WAIT_MS = 20000  # at most, for vdevctl.exe to take an unplugged device out of the tree
STATUS_SUCCESS = 0xD7
MODE_NORMAL = 0x11
ERROR_FILE_NOT_FOUND = 2
ERROR_ACCESS_DENIED = 5
ERROR_GEN_FAILURE = 31
ERROR_INVALID_PARAMETER = 87
ERROR_DEVICE_NOT_CONNECTED = 1167


class VdevWine(harness.Wine):
    """The harness's Wine on a prefix of its own, locked against a second run."""

    def __init__(self):
        super().__init__(PREFIX)
        self.env['NORVANE_BUILD_DIR'] = harness.BUILD
        self.lock = None

    def start(self):
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        self.lock = open(self.prefix + '.lock', 'w')
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        super().start()

    def stop(self):
        subprocess.run([VDEV, 'down'], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=VDEV_TIMEOUT, check=False)
        super().stop()


def vdev(ctx, folder, *words):
    """One vdev command in folder, its output read through pipes; its standard output, or
    AssertionError when it failed or its output was not closed within VDEV_TIMEOUT."""
    try:
        done = subprocess.run([VDEV] + list(words), cwd=folder, env=ctx.wine.env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=VDEV_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise AssertionError('vdev %s: its output was not closed within %d s' %
                             (' '.join(words), VDEV_TIMEOUT))
    if done.returncode != 0:
        errors = [line for line in done.stderr.decode('utf-8', 'replace').splitlines()
                  if line.startswith('vdev')]
        raise AssertionError('vdev %s failed (%d): %s' % (' '.join(words), done.returncode,
                                                          ' / '.join(errors)))
    return done.stdout.decode('ascii')


def interfaces(ctx, folder):
    """The present HID interface paths, as vdevctl.exe lists them."""
    done = subprocess.run(['wine', 'C:\\norvane-vdev\\vdevctl.exe', 'list'], cwd=folder,
                          env=ctx.wine.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=VDEV_TIMEOUT, check=True)
    return [line.split(' ')[0] for line in done.stdout.decode('ascii').splitlines()]


def log_lines(data):
    """The run log's lines after "Command:" and "Executed:", its "Completed:" time as TIME."""
    text = data.decode('ascii')
    if '\n' in text.replace('\r\n', ''):
        raise AssertionError('a log line ends without CR: %r' % data)
    lines = text.split('\r\n')
    if not lines[0].startswith('Command:') or not lines[1].startswith('Executed:'):
        raise AssertionError('the log does not start with Command: and Executed: %r' % data)
    return ['Completed:TIME' if COMPLETED.match(line) else line for line in lines[2:]]


def host_run(ctx, name, scenario):
    """The same scenario on the host's simulated PC: (log lines, {device: (sets, gets)})."""
    folder = ctx.folder(name + '-host')
    harness.make_image(os.path.join(folder, 'FW.bin'))
    with open(os.path.join(folder, 'scenario.json'), 'w') as f:
        json.dump(scenario, f)
    done = subprocess.run([FWSIM, '--scenario', 'scenario.json', '--stats'] + harness.SILENT_ARGS,
                          cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=harness.RUN_TIMEOUT, check=True)
    counts = {int(m.group(1)): (int(m.group(2)), int(m.group(3)))
              for m in STATS.finditer(done.stderr.decode('utf-8', 'replace'))}
    return log_lines(harness.read_log(folder)), counts


def transcript_calls(text):
    """The transcript's lines as (kind, device, bytes, ok); AssertionError on a malformed one."""
    calls = []
    for line in text.splitlines():
        match = TRANSCRIPT.match(line)
        if not match:
            raise AssertionError('malformed transcript line %r' % line)
        calls.append((match.group(1), int(match.group(2)), bytes.fromhex(match.group(3)),
                      match.group(4) is None))
    return calls


def counts_by_device(calls):
    counts = {}
    for kind, device, _data, _ok in calls:
        sets, gets = counts.get(device, (0, 0))
        counts[device] = (sets + (kind == 'SET'), gets + (kind == 'GET'))
    return counts


def bring_up(ctx, name, scenario, settings=None):
    """A folder of its own with an image (and a Setting.ini), and the scenario's controllers up."""
    folder = ctx.folder(name)
    harness.make_image(os.path.join(folder, 'FW.bin'))
    if settings is not None:
        with open(os.path.join(folder, 'Setting.ini'), 'wb') as f:
            f.write(settings)
    scenario_path = os.path.join(ctx.base, name + '.json')
    with open(scenario_path, 'w') as f:
        json.dump(scenario, f)
    vdev(ctx, folder, 'up', scenario_path)
    return folder


def update_case(ctx, name, scenario, code, lines, states, same_calls=True):
    """Runs the exe silently on the scenario's virtual controllers; checks the exit code, the log
    lines (and that the host's simulated PC writes the same), the end state lines and the
    feature calls. Returns the folder and the transcript's calls."""
    folder = bring_up(ctx, name, scenario)
    started = datetime.datetime.now()
    got, _out = ctx.wine.run(folder, harness.SILENT_ARGS)
    ended = datetime.datetime.now()
    data = harness.read_log(folder)
    match = harness.EXECUTED.search(data)
    harness.check_time_in_run(match, started, ended, 'Executed: time')
    if got != code:
        raise AssertionError('exit code %d, expected %d' % (got, code))
    wine_lines = log_lines(data)
    if wine_lines != lines:
        raise AssertionError('log lines %r, expected %r' % (wine_lines, lines))
    host_lines, host_counts = host_run(ctx, name, scenario)
    if host_lines != wine_lines:
        raise AssertionError('the simulated PC logs %r, Wine %r' % (host_lines, wine_lines))
    state = vdev(ctx, folder, 'state').splitlines()
    if state != states:
        raise AssertionError('end state %r, expected %r' % (state, states))
    calls = transcript_calls(vdev(ctx, folder, 'transcript'))
    wine_counts = counts_by_device(calls)
    for device, counted in host_counts.items():
        if same_calls and wine_counts.get(device, (0, 0)) != counted:
            raise AssertionError('device %d: %r SET/GET calls under Wine, %r on the simulated PC'
                                 % (device, wine_counts.get(device, (0, 0)), counted))
    return folder, calls


def one_device(controller=None, **keys):
    device = dict(keys)
    if controller:
        device['controller'] = controller
    return {'devices': [device]}


@test
def interface_paths_read_like_windows(ctx):
    folder = bring_up(ctx, 'paths', {'devices': [{'product_id': '0x5678'}]})
    ours = sorted(p for p in interfaces(ctx, folder) if 'vid_044e' in p.lower())
    pattern = re.compile(r'^\\\\\?\\hid#vid_044e&pid_5678&col0([12])#[^#]+#'
                         r'\{4d1e55b2-f16f-11cf-88cb-001111000030\}$', re.I)
    if len(ours) != 2 or [pattern.match(p) and pattern.match(p).group(1) for p in ours] != \
            ['1', '2']:
        raise AssertionError('interface paths %r' % ours)


@test
def update_succeeds(ctx):
    _folder, calls = update_case(ctx, 'success', {}, 0, SUCCESS_LINES,
                                 ['state 0 main=image mode=0x11 access=off handles=0'])
    # The first request as the wire carries it: a register write of 0 to 0xFF8000 on report 5.
    if calls[0] != ('SET', 0, bytes.fromhex('05 D2 00 80 FF 00 00 60'), True):
        raise AssertionError('first call %r' % (calls[0],))
    data_sets = [data for kind, _d, data, _ok in calls if kind == 'SET' and data[1] == BLOCK_WRITE]
    if len(data_sets) != 512 or any(len(data) != 135 or data[0] != 6 for data in data_sets):
        raise AssertionError('%d block writes; lengths %r' %
                             (len(data_sets), sorted({len(d) for d in data_sets})))


@test
def no_controller_is_found(ctx):
    # Also shows that nothing of the previous scenario's controllers is left.
    update_case(ctx, 'none', {'devices': []}, 1603,
                ['Could not find Norvane device.', 'Exit code = 1603', ''], [])


@test
def failing_chunk_fails_the_update(ctx):
    scenario = one_device({'faults': [{'on': 'write_block', 'address': 1024, 'fail_set': True}]})
    update_case(ctx, 'chunk', scenario, 1603,
                ['Current FW version:3.07', 'New FW version:3.08',
                 'Fail - _write_read_memory_segment.', 'Firmware update failed.',
                 'Exit code = 1603', ''],
                ['state 0 main=other mode=0x10 access=on handles=0'])


@test
def identity_check_refuses_another_controller(ctx):
    # Position 1 is compared by the mask of the made image, whose expected byte there is 0x7e.
    scenario = one_device({'system_memory': {'1': '0x00'}})
    update_case(ctx, 'identity', scenario, 1603,
                ['System memory does not match.', 'Exit code = 1603', ''],
                ['state 0 main=other mode=0x11 access=off handles=0'])


@test
def missing_data_collection_fails(ctx):
    scenario = one_device(collections=[{'usage_page': '0xFF01', 'report_id': 5,
                                        'report_count': 7}])
    update_case(ctx, 'nodata', scenario, 1603,
                ['Current FW version:3.07', 'New FW version:3.08',
                 'Fail - _access_target_device.', 'Firmware update failed.',
                 'Exit code = 1603', ''],
                ['state 0 main=other mode=0x11 access=off handles=0'])


@test
def unplug_during_programming(ctx):
    scenario = one_device({'faults': [{'on': 'write_block', 'skip': 100, 'unplug': True}]})
    folder, calls = update_case(
        ctx, 'unplug', scenario, 1603,
        ['Current FW version:3.07', 'New FW version:3.08', 'Fail - _write_read_memory_segment.',
         'Firmware update failed.', 'Exit code = 1603', ''],
        ['state 0 main=other mode=0x10 access=on handles=0'], same_calls=False)
    # The 101st chunk write pulled the device: it failed, and it has left Wine's device tree.
    data_sets = [(data, ok) for kind, _d, data, ok in calls
                 if kind == 'SET' and data[1] == BLOCK_WRITE]
    if len(data_sets) < 101 or data_sets[100][1] or not all(ok for _d, ok in data_sets[:100]):
        raise AssertionError('the 101st chunk write did not fail as the unplug: %r' %
                             [ok for _d, ok in data_sets[:102]])
    deadline = time.monotonic() + REMOVAL_WAIT_MS / 1000.0
    left = [p for p in interfaces(ctx, folder) if 'vid_044e' in p.lower()]
    while left and time.monotonic() < deadline:
        time.sleep(0.5)
        left = [p for p in interfaces(ctx, folder) if 'vid_044e' in p.lower()]
    if left:
        raise AssertionError('the unplugged device is still listed: %r' % left)


@test
def two_controllers_update_the_matching_one(ctx):
    scenario = {'devices': [
        {'product_id': '0x1212',
         'collections': [{'usage_page': '0xFF01', 'report_id': 5, 'report_count': 7}]},
        {}]}
    update_case(ctx, 'two', scenario, 0, SUCCESS_LINES,
                ['state 0 main=other mode=0x11 access=off handles=0',
                 'state 1 main=image mode=0x11 access=off handles=0'])


def start_run(ctx, folder, args=harness.SILENT_ARGS):
    """The exe started through launch.exe in folder, in the background."""
    return subprocess.Popen(harness.launch_command(harness.EXE, args), cwd=folder,
                            env=ctx.wine.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


def exit_code_of(process):
    out, _err = process.communicate(timeout=harness.RUN_TIMEOUT)
    code = harness.launch_exit_code(out.decode('utf-8', 'replace'))
    if code is None:
        raise AssertionError('launch.exe printed no exit code: %r' % out)
    return code


UPDATED_STATE = ['state 0 main=image mode=0x11 access=off handles=0']


def expect_updated(ctx, folder, code, label):
    """The run in folder ended with 0, logged a success and left the controller updated."""
    lines = log_lines(harness.read_log(folder))
    state = vdev(ctx, folder, 'state').splitlines()
    if code != 0 or lines != SUCCESS_LINES or state != UPDATED_STATE:
        raise AssertionError('%s: exit code %d, log %r, end state %r' % (label, code, lines, state))


@test
def vdev_up_that_starts_the_wineserver_ends_for_a_reading_caller(ctx):
    # With no wineserver running, vdev up starts it persistent, and with the first program Wine's
    # services: all of them outlive vdev, and none may keep the pipes of its output open.
    ctx.wine.end_wineserver()
    folder = bring_up(ctx, 'server_started', {})
    got, _out = ctx.wine.run(folder, harness.SILENT_ARGS)
    expect_updated(ctx, folder, got, 'after vdev up started the wineserver')


def system_memory_reads(calls):
    """How many requests read the first byte of system memory: one per run that checked it."""
    first = bytes([0xD1]) + (0x100400).to_bytes(4, 'little')
    return sum(1 for kind, _d, data, _ok in calls if kind == 'SET' and data[1:6] == first)


@test
def two_runs_at_once_one_updates(ctx):
    # A deployment tool's retry while the first run still goes: the second run is refused with
    # 1618 before it touches the device, and the first one updates it undisturbed.
    first, second = bring_up(ctx, 'first', {}), ctx.folder('second')
    harness.make_image(os.path.join(second, 'FW.bin'))
    runs = [start_run(ctx, first)]
    time.sleep(0.3)
    runs.append(start_run(ctx, second))
    codes = [exit_code_of(run) for run in runs]
    if sorted(codes) != [0, 1618]:
        raise AssertionError('exit codes %r, expected one 0 and one 1618' % codes)
    winner, loser = (first, second) if codes[0] == 0 else (second, first)
    expect_updated(ctx, winner, 0, 'the updating run')
    lines = log_lines(harness.read_log(loser))
    if lines != ['Another Norvane FW Updater is running.', 'Exit code = 1618', '']:
        raise AssertionError('the refused run logged %r' % lines)
    reads = system_memory_reads(transcript_calls(vdev(ctx, first, 'transcript')))
    if reads != 1:
        raise AssertionError('system memory was read by %d runs, not one' % reads)


@test
def session_end_during_a_silent_flash_is_refused(ctx):
    # "wineboot --end-session --kill" asks every top-level window, the silent run's hidden one
    # too, and ends every program when all agree, as Windows does at the end of a session. The
    # run refuses while it flashes, and the update completes.
    folder = bring_up(ctx, 'session_end', {}, b'[Setting]\r\nWAIT=8\r\n')
    run = start_run(ctx, folder)
    wait_for_block_writes(ctx, folder)
    subprocess.run(['wineboot', '--end-session', '--kill'], env=ctx.wine.env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=VDEV_TIMEOUT,
                   check=False)
    expect_updated(ctx, folder, exit_code_of(run), 'after the session end')


@test
def forged_session_end_during_a_silent_flash_ends_nothing(ctx):
    # Any program can post WM_ENDSESSION(TRUE) to the silent run's hidden window: it is logged,
    # and the update completes as if nothing had come.
    folder = bring_up(ctx, 'forged_end', {}, b'[Setting]\r\nWAIT=8\r\n')
    run = start_run(ctx, folder)
    wait_for_block_writes(ctx, folder)
    harness.post_end_session(ctx.wine, 'Norvane FW Updater')
    code = exit_code_of(run)
    lines = log_lines(harness.read_log(folder))
    state = vdev(ctx, folder, 'state').splitlines()
    want = SUCCESS_LINES[:2] + ['The session ended during the update.'] + SUCCESS_LINES[2:]
    if code != 0 or lines != want or state != UPDATED_STATE:
        raise AssertionError('exit code %d, log %r, end state %r' % (code, lines, state))


def detection_record(ctx):
    return harness.detection_record(ctx.wine)


def run_on(ctx, name, scenario, args):
    """The scenario's controllers up, one run of the exe in a folder of its own: (folder, code,
    the transcript's calls)."""
    folder = bring_up(ctx, name, scenario)
    code = exit_code_of(start_run(ctx, folder, args))
    return folder, code, transcript_calls(vdev(ctx, folder, 'transcript'))


UP_TO_DATE = one_device({'firmware_version': '3.08'})
FAILING_UNLOCK = one_device({'faults': [{'on': 'write', 'address': '0xFF800C', 'fail_set': True}]})


@test
def detection_record_follows_the_runs(ctx):
    # Read back as a deployment tool's registry rule reads it.
    cases = [('record_updated', {}, 0, {'LastExitCode': '0x0', 'FirmwareVersion': '3.08',
                                        'FirmwareVersionCode': '0x308', 'LastAction': 'update'}),
             ('record_up_to_date', one_device({'firmware_version': '3.09'}), 8,
              {'LastExitCode': '0x8', 'FirmwareVersion': '3.09', 'FirmwareVersionCode': '0x309',
               'LastAction': 'update'}),
             ('record_failed', FAILING_UNLOCK, 1603, {'LastExitCode': '0x643',
                                                      'LastAction': 'update'})]
    for name, scenario, code, values in cases:
        _folder, got, _calls = run_on(ctx, name, scenario, harness.SILENT_ARGS)
        record = detection_record(ctx)
        last_run = record.pop('LastRun', '')
        if got != code or record != values or not re.fullmatch(r'\d{4}-\d\d-\d\dT[\d:]{8}',
                                                                  last_run):
            raise AssertionError('%s: exit %d, record %r (LastRun %r); expected %d, %r' %
                                 (name, got, record, last_run, code, values))


@test
def check_only_ends_where_the_question_would_come(ctx):
    # The controller sees what a real run sends before its question, and nothing after it.
    detection = 'Detection: FirmwareVersionCode >= 776.'
    cases = [('check_due', {}, 0, [detection, 'Current FW version:3.07', 'New FW version:3.08',
                                   'Check only: the update is due.', 'Exit code = 0', '']),
             ('check_up_to_date', UP_TO_DATE, 8, [detection, 'Exit code = 8', '']),
             ('check_other_controller', one_device({'system_memory': {'1': '0x00'}}), 1603,
              [detection, 'System memory does not match.', 'Exit code = 1603', ''])]
    for name, scenario, code, lines in cases:
        folder, got, checked = run_on(ctx, name, scenario, ['/c', '/v', 'LOGFILE=fw.log'])
        state = vdev(ctx, folder, 'state').splitlines()
        _real_folder, _code, real = run_on(ctx, name + '_real', scenario, harness.SILENT_ARGS)
        logged = log_lines(harness.read_log(folder))
        if got != code or logged != lines:
            raise AssertionError('%s: exit %d, log %r' % (name, got, logged))
        if checked != real[:len(checked)] or (code == 0 and real[len(checked)][2][2:5] !=
                                              (0x80003E).to_bytes(3, 'little')):
            raise AssertionError('%s: the check sent %d calls, not the real run\'s %d up to its '
                                 'question' % (name, len(checked), len(real)))
        if state != ['state 0 main=other mode=0x11 access=off handles=0']:
            raise AssertionError('%s: the check left %r' % (name, state))


def wait_for_block_writes(ctx, folder, timeout=60):
    """Returns once the controller has taken its first block write: the flash is under way."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        calls = transcript_calls(vdev(ctx, folder, 'transcript'))
        if any(kind == 'SET' and data[1] == BLOCK_WRITE for kind, _d, data, _ok in calls):
            return
        time.sleep(0.3)
    raise AssertionError('no block write within %d s' % timeout)


TRY_WINE_TIMEOUT = 900  # s: make try-wine, the Windows build brought up to date included
# A controller at 3.06, an image of the same version and ROLLBACK off, which updates it: without
# the scenario the controller would run 3.05, without the version the image would be 3.08, and
# without the setting the run would end with 8.
TRY_WINE_SCENARIO = {'devices': [{'controller': {'firmware_version': '3.06'}}]}
TRY_WINE_OPTIONS = ['SETTING=ROLLBACK=0', 'IMAGE_VERSION=3.06']
TRY_WINE_LINES = ['---- Setting.ini ----', 'ROLLBACK=0', '---- fw.log ----',
                  'Current FW version:3.06', 'New FW version:3.06',
                  'Firmware was successfully updated.', 'Exit code = 0',
                  'exit 0', 'state 0 main=image mode=0x11 access=off handles=0']


def processes_with(mark):
    """The pids of the running processes whose environment holds mark."""
    found = []
    for environ in glob.glob('/proc/[0-9]*/environ'):
        try:
            with open(environ, 'rb') as f:
                if mark in f.read():
                    found.append(int(environ.split('/')[2]))
        except OSError:
            pass  # gone, or another user's
    return found


@test
def make_try_wine_runs_the_exe_and_takes_everything_down(ctx):
    # Every program that make try-wine starts inherits the mark; none may be left running.
    mark = 'NORVANE_TRY_WINE_TEST=%d' % os.getpid()
    env = {k: v for k, v in os.environ.items() if not k.startswith(('MAKE', 'MFLAGS', 'WINE'))}
    env.update([mark.split('=')])
    scenario = os.path.join(ctx.base, 'try-wine.json')
    with open(scenario, 'w') as f:
        json.dump(TRY_WINE_SCENARIO, f)
    # Into a file, not a pipe, which a program left running would hold open.
    with open(os.path.join(ctx.base, 'try-wine.txt'), 'w+b') as out:
        status = subprocess.run(['make', '-C', harness.ROOT, 'try-wine', 'SCENARIO=' + scenario] +
                                TRY_WINE_OPTIONS, env=env, stdout=out, stderr=subprocess.STDOUT,
                                timeout=TRY_WINE_TIMEOUT).returncode
        out.seek(0)
        output = out.read().decode('utf-8', 'replace')
    left = processes_with(mark.encode())
    for pid in left:
        os.kill(pid, signal.SIGKILL)
    missing = [line for line in TRY_WINE_LINES if line not in output.splitlines()]
    if status != 0 or missing:
        raise AssertionError('make try-wine (status %d) printed no %r:\n%s' %
                             (status, missing, output[-3000:]))
    if left:
        raise AssertionError('make try-wine left running: %r' % left)


def request(report_id, command, address, length):
    """A request of `length` bytes with a zero payload and its checksum."""
    data = bytes([report_id, command]) + address.to_bytes(4, 'little')
    data += bytes(length - len(data) - 1)
    return data + bytes([(sum(data) + length + 2) & 0xFF])


def probe(ctx, folder, path, *steps):
    """hid_probe.exe's answer lines for the steps on one interface path."""
    done = subprocess.run(['wine', harness.PROBE, path] + [str(step) for step in steps], cwd=folder,
                          env=ctx.wine.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=VDEV_TIMEOUT, check=True)
    return done.stdout.decode('ascii').splitlines()


@test
def calls_on_a_removed_device_fail(ctx):
    # The second register read unplugs the device; its root devices then leave Wine's tree.
    folder = bring_up(ctx, 'removed',
                      one_device({'faults': [{'on': 'read', 'skip': 1, 'unplug': True}]}))
    control = [p for p in interfaces(ctx, folder) if '&col01#' in p.lower()][0]
    read_mode = request(5, 0xD1, 0x80002D, 8).hex()
    answers = probe(ctx, folder, control, 'open', 'set', read_mode, 'get', 8, 'get', 8,
                    'set', read_mode[:-2], 'set', read_mode, 'wait-removed', REMOVAL_WAIT_MS,
                    'set', read_mode, 'get', 8, 'attributes', 'close', 'open')
    answer = bytes([5, STATUS_SUCCESS]) + (0x80002D).to_bytes(4, 'little') + bytes([MODE_NORMAL])
    answer += bytes([(sum(answer) + len(answer) + 3) & 0xFF])
    expected = ['ok', 'ok', 'ok ' + answer.hex().upper(),
                'error %d' % ERROR_GEN_FAILURE,      # fetch with no read pending
                'error %d' % ERROR_INVALID_PARAMETER,  # seven bytes for an 8-byte report
                'error %d' % ERROR_DEVICE_NOT_CONNECTED,  # the unplugging request
                'ok',                                 # then its path is no longer found
                'error %d' % ERROR_ACCESS_DENIED,    # calls on a handle of a removed device
                'error %d' % ERROR_ACCESS_DENIED,
                'error %d' % ERROR_ACCESS_DENIED,
                'ok',                                 # its handle still closes
                'error %d' % ERROR_FILE_NOT_FOUND]    # its path no longer opens
    if answers != expected:
        raise AssertionError('answers %r, expected %r' % (answers, expected))


@test
def collections_held_by_the_touchpad_driver(ctx):
    # On a PC the touchpad's driver holds its collections open for reading and writing and shares
    # neither; an open with access 0, as the program makes, is never refused for it. Wine checks
    # no sharing on HID collections: it lets an open for reading and writing through as well,
    # which Windows (and the host's stand-ins) refuse. The update goes through beside the holders.
    folder = bring_up(ctx, 'held', {})
    control, data = sorted(p for p in interfaces(ctx, folder) if 'vid_044e' in p.lower())
    read_write = harness.GENERIC_READ | harness.GENERIC_WRITE
    with harness.held_open(ctx.wine, folder, control, read_write, 0), \
            harness.held_open(ctx.wine, folder, data, read_write, 0):
        answers = probe(ctx, folder, control, 'hold', '0', '3', 'hold', '%x' % read_write, '3')
        if answers != ['ok', 'ok']:
            raise AssertionError('opens beside the holder: %r, expected access 0 and, under Wine, '
                                 'reading and writing to open' % answers)
        got, _out = ctx.wine.run(folder, harness.SILENT_ARGS)
    expect_updated(ctx, folder, got, 'beside the holders')


@test
def bad_scenario_is_refused(ctx):
    folder = ctx.folder('bad_scenario')
    scenario_path = os.path.join(ctx.base, 'bad_scenario.json')
    with open(scenario_path, 'w') as f:
        json.dump({'devices': [{'no_such_key': 1}]}, f)
    try:
        vdev(ctx, folder, 'up', scenario_path)
    except AssertionError as error:
        if 'unknown key "no_such_key"' not in str(error):
            raise AssertionError('not refused for its unknown key: %s' % error)
    else:
        raise AssertionError('vdev up took a scenario with an unknown key')


class Context(harness.Context):
    pass


def main():
    options = harness.parse_options(__doc__, set_build_dir)
    parts = [harness.EXE, harness.LAUNCH, FWSIM, harness.FWIMAGE, harness.PROBE,
             os.path.join(harness.BUILD, 'windows', 'tools', 'vdev', 'norvane_vdev.sys'),
             os.path.join(harness.BUILD, 'windows', 'tools', 'vdev', 'vdevctl.exe')]
    if harness.report_missing(parts, 'build both builds first (make build)'):
        return 1
    return harness.run_tests(options, VdevWine(), Context, 'norvane-vdev-',
                             'Wine HID stack tests')


if __name__ == '__main__':
    sys.exit(main())
