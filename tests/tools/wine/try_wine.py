#!/usr/bin/env python3
"""make try-wine: the release NorvaneFwUpdater.exe, run by hand on a virtual controller in Wine.

    try_wine.py [--build-dir DIR] [--scenario FILE] [--setting "KEY=VALUE ..."]
                [--image-version X.YZ] [ARGUMENTS]

In a fresh folder build/try-wine/ it makes a firmware image (fwimage.exe make FW.bin, version
3.08 or --image-version's), writes --setting's words, one a line, as the [Setting] section of a
Setting.ini there (none without it), brings up the controllers of the scenario FILE in Wine's own
HID stack (tests/tools/wine/vdev; without --scenario {}: one controller matching the image, its
firmware one version below the image's) in a Wine prefix of its own, build/wine-prefix-try, on
an Xvfb display of its own, and runs the exe there through launch.exe with ARGUMENTS, one string
of words separated by blanks (default "/s /v LOGFILE=fw.log"). It prints every file the run wrote
into the folder (the log), the full exit code ("exit N", from launch.exe) and the controllers' end
state (vdev state), then removes the controllers and ends the prefix's wineserver and the Xvfb,
also when a step failed. A run that has not ended after RUN_LIMIT seconds (without /s the program
waits for answers nobody can give here) is ended with them. Empty option values count as absent.

Exit status 0 when every step ran, whatever the program's exit code; 1 when a step failed.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.realpath(__file__)), '..', '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'wine'))
import wine_harness as harness  # noqa: E402

DEFAULT_ARGUMENTS = '/s /v LOGFILE=fw.log'
VDEV = os.path.join(ROOT, 'tests', 'tools', 'wine', 'vdev')
SCENARIO = 'controller.json'
IMAGE = 'FW.bin'
SETTINGS = 'Setting.ini'
RUN_LIMIT = 300  # s
STEP_LIMIT = 300  # s for one Wine step (the prefix is made on the first run)


class StepFailed(Exception):
    pass


def say(text=''):
    print(text, flush=True)


def show(label, data):
    """A file's or a program's output, with Windows line ends shown as Unix ones."""
    say('---- %s ----' % label)
    text = data.decode('utf-8', 'replace').replace('\r\n', '\n')
    say(text.rstrip('\n') if text.strip() else '(empty)')
    say('-' * (len(label) + 10))


def step(wine, folder, shown, command):
    """Runs command in folder after echoing it as shown; returns its output."""
    say('$ ' + shown)
    try:
        done = subprocess.run(command, cwd=folder, env=wine.env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=STEP_LIMIT)
    except subprocess.TimeoutExpired:
        raise StepFailed('%s did not end within %d s' % (shown, STEP_LIMIT))
    output = done.stdout.decode('utf-8', 'replace').replace('\r\n', '\n').rstrip('\n')
    if output:
        say(output)
    if done.returncode != 0:
        raise StepFailed('%s failed (exit status %d)' % (shown, done.returncode))
    return output


def run_program(wine, folder, words):
    say('$ launch.exe NorvaneFwUpdater.exe ' + ' '.join(words))
    before = set(os.listdir(folder))
    try:
        done = subprocess.run(harness.launch_command(harness.EXE, words), cwd=folder,
                              env=wine.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=RUN_LIMIT)
        output = done.stdout.decode('utf-8', 'replace')
    except subprocess.TimeoutExpired:
        raise StepFailed('the program did not end within %d s (without /s it waits for answers '
                         'nobody can give here); it is ended with the prefix' % RUN_LIMIT)
    code = harness.launch_exit_code(output)
    if code is None:
        raise StepFailed('launch.exe printed no exit code: %s' % output.strip())
    say('exit %d' % code)
    written = sorted(set(os.listdir(folder)) - before)
    for name in written:
        with open(os.path.join(folder, name), 'rb') as f:
            show(name, f.read())
    if not written:
        say('(the run wrote no file into %s)' % os.path.relpath(folder))


def make_image(wine, folder, version):
    """FW.bin, fwimage's default version (3.08) unless another is given."""
    shown = 'fwimage.exe make ' + IMAGE + (' --version ' + version if version else '')
    step(wine, folder, shown, ['wine', os.path.join(harness.BUILD, 'windows', 'fwimage.exe'),
                               'make', IMAGE] + (['--version', version] if version else []))


def write_settings(folder, words):
    """Setting.ini with the words as the lines of its [Setting] section, shown."""
    data = ''.join(line + '\r\n' for line in ['[Setting]'] + words).encode('utf-8')
    with open(os.path.join(folder, SETTINGS), 'wb') as f:
        f.write(data)
    show(SETTINGS, data)


def bring_up(wine, folder, scenario, version):
    """The scenario file's controllers, or by default one that the image updates."""
    if scenario:
        shutil.copyfile(scenario, os.path.join(folder, SCENARIO))
        note = 'the scenario %s' % scenario
    else:
        with open(os.path.join(folder, SCENARIO), 'w') as f:
            f.write('{}\n')
        note = 'one controller matching the image, firmware %s' % (
            '3.07' if not version else 'one below the image\'s')
    step(wine, folder, 'vdev up %s   (%s)' % (SCENARIO, note), [VDEV, 'up', SCENARIO])


def try_wine(wine, folder, words, options):
    wine.start()
    say('folder: %s' % os.path.relpath(folder))
    make_image(wine, folder, options.image_version)
    if options.setting:
        write_settings(folder, options.setting.split())
    bring_up(wine, folder, options.scenario, options.image_version)
    try:
        run_program(wine, folder, words)
        step(wine, folder, 'vdev state', [VDEV, 'state'])
    finally:
        step(wine, folder, 'vdev down', [VDEV, 'down'])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build-dir', default=os.path.join(ROOT, 'build'))
    parser.add_argument('--scenario', default='', metavar='FILE',
                        help='the controllers\' scenario file (default {})')
    parser.add_argument('--setting', default='', metavar='"KEY=VALUE ..."',
                        help='the lines of Setting.ini\'s [Setting] section (default: no file)')
    parser.add_argument('--image-version', default='', metavar='X.YZ',
                        help='the image\'s version (default 3.08)')
    parser.add_argument('arguments', nargs='?', default=DEFAULT_ARGUMENTS,
                        help='the program\'s argument string (default "%s")' % DEFAULT_ARGUMENTS)
    options = parser.parse_args()
    harness.set_build_dir(options.build_dir)
    started = time.monotonic()
    missing = [p for p in (harness.EXE, harness.LAUNCH) if not os.path.exists(p)]
    if missing:
        say('try-wine: missing %s (make build-windows)' % ', '.join(missing))
        return 1
    if options.scenario and not os.path.isfile(options.scenario):
        say('try-wine: no scenario file %s' % options.scenario)
        return 1
    folder = os.path.join(harness.BUILD, 'try-wine')
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    wine = harness.Wine(os.path.join(harness.BUILD, 'wine-prefix-try'))
    wine.env['NORVANE_BUILD_DIR'] = harness.BUILD
    status = 0
    try:
        try_wine(wine, folder, options.arguments.split(), options)
    except (StepFailed, RuntimeError, OSError) as error:
        say('try-wine: %s' % error)
        status = 1
    finally:
        wine.stop()
    say('try-wine took %.0f s; the virtual controller, the wineserver and Xvfb are down' %
        (time.monotonic() - started))
    return status


if __name__ == '__main__':
    sys.exit(main())
