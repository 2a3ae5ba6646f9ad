#!/usr/bin/env python3
"""make try-wine: the release NorvaneFwUpdater.exe, run by hand on a virtual controller in Wine.

    try_wine.py [--build-dir DIR] [ARGUMENTS]

In a fresh folder build/try-wine/ it makes a firmware image (fwimage.exe make FW.bin, version
3.08), brings up one virtual controller matching it in Wine's own HID stack (tests/tools/wine/vdev,
the scenario {}: firmware 3.07) in a Wine prefix of its own, build/wine-prefix-try, on an Xvfb
display of its own, and runs the exe there through launch.exe with ARGUMENTS, one string of words
separated by blanks (default "/s /v LOGFILE=fw.log"). It prints every file the run wrote into the
folder (the log), the full exit code ("exit N", from launch.exe) and the controller's end state
(vdev state), then removes the controller and ends the prefix's wineserver and the Xvfb, also
when a step failed. A run that has not ended after RUN_LIMIT seconds (without /s the program waits
for answers nobody can give here) is ended with them.

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


def try_wine(wine, folder, words):
    wine.start()
    say('folder: %s' % os.path.relpath(folder))
    step(wine, folder, 'fwimage.exe make ' + IMAGE,
         ['wine', os.path.join(harness.BUILD, 'windows', 'fwimage.exe'), 'make', IMAGE])
    with open(os.path.join(folder, SCENARIO), 'w') as f:
        f.write('{}\n')
    step(wine, folder, 'vdev up %s   (one controller matching the image, firmware 3.07)' %
         SCENARIO, [VDEV, 'up', SCENARIO])
    try:
        run_program(wine, folder, words)
        step(wine, folder, 'vdev state', [VDEV, 'state'])
    finally:
        step(wine, folder, 'vdev down', [VDEV, 'down'])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build-dir', default=os.path.join(ROOT, 'build'))
    parser.add_argument('arguments', nargs='?', default=DEFAULT_ARGUMENTS,
                        help='the program\'s argument string (default "%s")' % DEFAULT_ARGUMENTS)
    options = parser.parse_args()
    harness.set_build_dir(options.build_dir)
    started = time.monotonic()
    missing = [p for p in (harness.EXE, harness.LAUNCH) if not os.path.exists(p)]
    if missing:
        say('try-wine: missing %s (make build-windows)' % ', '.join(missing))
        return 1
    folder = os.path.join(harness.BUILD, 'try-wine')
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    wine = harness.Wine(os.path.join(harness.BUILD, 'wine-prefix-try'))
    wine.env['NORVANE_BUILD_DIR'] = harness.BUILD
    status = 0
    try:
        try_wine(wine, folder, options.arguments.split())
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
