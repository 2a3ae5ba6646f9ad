#!/usr/bin/env python3
"""DLL planting tests of the Windows build, under Wine.

    python3 tests/wine/dll_planting_tests.py [-k SUBSTRING] [--keep]

A technician unpacks NorvaneFwUpdater.exe into any folder and runs it elevated. Whoever can write
to that folder, or to the current folder, can put a hid.dll, version.dll, comctl32.dll or
uxtheme.dll there. These tests put such DLLs (build/windows/tools/planted/, from
tests/tools/wine/planted_dll.c: each writes planted-NAME.txt into the current folder and beside
the exe when it is loaded) beside a copy of the exe and into the current folder, tell Wine to
prefer native DLLs of those names, and run the exe on a valid image:

  - NorvaneFwUpdater.exe must load none of them and end as it does without them, silently and
    interactively (a window opens: the system then loads uxtheme.dll by its bare name, through the
    process's DLL search, which the exe restricts to the system directory; the run's box is
    dismissed with window_driver.exe);
  - NorvaneFwUpdaterStaticImports.exe (build/windows/tools/), the same product linked against
    hid.dll, version.dll and comctl32.dll, must load the planted hid.dll and version.dll: this
    shows the test can fail. Its comctl32.dll comes from the side-by-side store, where the
    manifest's Common Controls 6 dependency sends every load of that name.

The Wine harness is wine_harness.py (prefix, Xvfb, launch.exe); NORVANE_WINE_PREFIX
names another prefix folder. The last line of output is "N passed, N failed".
"""

import os
import re
import shutil
import subprocess
import sys

import wine_harness as harness


PLANTED_NAMES = ('hid', 'version', 'comctl32', 'uxtheme')
IMPORTED_NAMES = ('hid', 'version', 'comctl32')  # what the static-imports build imports
PLANTED_DLLS = tuple(name + '.dll' for name in PLANTED_NAMES)
NATIVE_FIRST = 'hid,version,comctl32,uxtheme=n,b;mscoree,mshtml='
NO_DEVICE_LINES = ['Could not find Norvane device.', 'Exit code = 1603']
NO_DEVICE_BOX = 'Warning'
IDOK = 1
WINDOW_TIMEOUT_MS = 20000
NO_DEVICE_CODE = 1603
LOADED_MODULE = re.compile(r'Loaded L"([^"]+)"')
SYSTEM_DIRECTORY = 'c:\\windows\\system32\\'
# The manifest's dependency on Common Controls 6 makes the loader take comctl32.dll from the
# side-by-side store, even for a build that imports it: a planted copy is never loaded.
SIDE_BY_SIDE = ('comctl32',)
SIDE_BY_SIDE_STORE = 'c:\\windows\\winsxs\\'


def static_exe():
    return os.path.join(harness.BUILD, 'windows', 'tools', 'NorvaneFwUpdaterStaticImports.exe')


def planted_dir():
    return os.path.join(harness.BUILD, 'windows', 'tools', 'planted')


def marker_name(name):
    return 'planted-%s.txt' % name


def require(path):
    if not os.path.exists(path):
        raise AssertionError('missing %s: build the Windows build first (make build)' % path)


def imported_dlls(exe):
    done = subprocess.run([harness.OBJDUMP, '-p', exe], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=True)
    text = done.stdout.decode('utf-8', 'replace')
    return {d.lower() for d in re.findall(r'^\s*DLL Name:\s*(\S+)', text, re.M)}


class Case:
    """A copy of an exe in APP, run from WORK (the current folder), which holds a valid image."""

    def __init__(self, ctx, name, exe):
        require(exe)
        root = ctx.folder(name)
        self.app = os.path.join(root, 'app')
        self.work = os.path.join(root, 'work')
        os.makedirs(self.app)
        os.makedirs(self.work)
        self.exe = os.path.join(self.app, os.path.basename(exe))
        shutil.copy2(exe, self.exe)
        harness.make_image(os.path.join(self.work, 'FW.bin'))

    def plant(self):
        for dll in PLANTED_DLLS:
            source = os.path.join(planted_dir(), dll)
            require(source)
            for folder in (self.app, self.work):
                shutil.copy2(source, os.path.join(folder, dll))

    def markers(self):
        return sorted(os.path.join(os.path.basename(folder), marker_name(name))
                      for folder in (self.app, self.work) for name in PLANTED_NAMES
                      if os.path.exists(os.path.join(folder, marker_name(name))))

    def run(self, wine, arguments=tuple(harness.SILENT_ARGS), answer_box=False):
        """Runs the exe (silently unless told otherwise) with native DLLs preferred; with
        answer_box, dismisses the warning box an interactive run shows. Returns (code, log,
        loaded modules)."""
        for name in os.listdir(self.work):
            if name == 'fw.log' or name.startswith('planted-'):
                os.remove(os.path.join(self.work, name))
        env = dict(wine.env, WINEDLLOVERRIDES=NATIVE_FIRST, WINEDEBUG='+loaddll')
        command = ['wine', harness.LAUNCH, harness.windows_path(self.exe)] + list(arguments)
        process = subprocess.Popen(command, cwd=self.work, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        try:
            if answer_box:
                drive(wine, 'wait-window', NO_DEVICE_BOX, WINDOW_TIMEOUT_MS)
                drive(wine, 'click', NO_DEVICE_BOX, IDOK)
            stdout, stderr = process.communicate(timeout=harness.RUN_TIMEOUT)
        except (subprocess.TimeoutExpired, AssertionError):
            process.kill()
            process.communicate()
            raise AssertionError('the exe did not end as expected within %d s' %
                                 harness.RUN_TIMEOUT)
        out = stdout.decode('utf-8', 'replace')
        match = re.search(r'^exit (\d+)\r?$', out, re.M)
        if not match:
            raise AssertionError('launch.exe printed no exit code: %r' % out)
        trace = stderr.decode('utf-8', 'replace')
        # The trace names every module that launch.exe and the exe loaded, with its path.
        loaded = [m.lower().replace('\\\\', '\\') for m in LOADED_MODULE.findall(trace)]
        return int(match.group(1)), self.log_lines(), loaded

    def log_lines(self):
        lines = harness.read_log(self.work).decode('ascii', 'replace').split('\r\n')
        return lines[2:-1]  # after "Command:" and "Executed:", before the final line end


def drive(wine, *words):
    """One window_driver.exe command on the run's windows; AssertionError unless it answers ok."""
    window_driver = os.path.join(harness.BUILD, 'windows', 'tools', 'window_driver.exe')
    done = subprocess.run(['wine', window_driver] + [str(word) for word in words], env=wine.env,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=harness.RUN_TIMEOUT)
    answer = done.stdout.decode('utf-8', 'replace').strip()
    if not answer.startswith('ok'):
        raise AssertionError('window_driver.exe %s: %s' % (' '.join(str(w) for w in words),
                                                           answer))


def check_no_device_run(code, lines, label):
    if (code, lines) != (NO_DEVICE_CODE, NO_DEVICE_LINES):
        raise AssertionError('%s: exit code %d, log %r; expected %d, %r' %
                             (label, code, lines, NO_DEVICE_CODE, NO_DEVICE_LINES))


@harness.test
def hardened_exe_imports_none_of_them(ctx):
    require(harness.EXE)
    found = imported_dlls(harness.EXE) & set(PLANTED_DLLS)
    if found:
        raise AssertionError('NorvaneFwUpdater.exe imports %s' % ', '.join(sorted(found)))


@harness.test
def static_imports_build_imports_them(ctx):
    require(static_exe())
    missing = {name + '.dll' for name in IMPORTED_NAMES} - imported_dlls(static_exe())
    if missing:
        raise AssertionError('NorvaneFwUpdaterStaticImports.exe does not import %s' %
                             ', '.join(sorted(missing)))


@harness.test
def hardened_exe_ignores_planted_dlls(ctx):
    case = Case(ctx, 'hardened', harness.EXE)
    check_no_device_run(*case.run(ctx.wine)[:2], label='without planted DLLs')
    case.plant()
    before = set(os.listdir(case.work))
    code, lines, loaded = case.run(ctx.wine)
    if case.markers():
        raise AssertionError('planted DLLs were loaded: %s' % ', '.join(case.markers()))
    check_no_device_run(code, lines, 'with planted DLLs')
    left = set(os.listdir(case.work)) - before - {'fw.log'}
    if left:
        raise AssertionError('the run left other files: %s' % sorted(left))
    ours = [m for m in loaded if m.endswith(tuple('\\' + dll for dll in PLANTED_DLLS))]
    outside = [m for m in ours if not m.startswith(SYSTEM_DIRECTORY)]
    if outside:
        raise AssertionError('loaded from outside the system directory: %s' % outside)
    if SYSTEM_DIRECTORY + 'hid.dll' not in ours:
        raise AssertionError('hid.dll was not loaded from the system directory: %s' % loaded)


@harness.test
def hardened_exe_ignores_planted_dlls_in_an_interactive_run(ctx):
    case = Case(ctx, 'interactive', harness.EXE)
    case.plant()
    code, lines, loaded = case.run(ctx.wine, ['/v', 'LOGFILE=fw.log'], answer_box=True)
    if case.markers():
        raise AssertionError('planted DLLs were loaded: %s' % ', '.join(case.markers()))
    check_no_device_run(code, lines, 'interactive, with planted DLLs')
    if SYSTEM_DIRECTORY + 'uxtheme.dll' not in loaded:
        raise AssertionError('uxtheme.dll was not loaded from the system directory: %s' % loaded)


@harness.test
def static_imports_build_loads_planted_dlls(ctx):
    case = Case(ctx, 'static_imports', static_exe())
    case.plant()
    _code, _lines, loaded = case.run(ctx.wine)
    # uxtheme.dll comes with comctl32.dll, which imports it: Wine binds the imports of the
    # side-by-side comctl32.dll from the exe's folder first.
    wanted = sorted(os.path.join(folder, marker_name(name)) for folder in ('app', 'work')
                    for name in PLANTED_NAMES if name not in SIDE_BY_SIDE)
    if case.markers() != wanted:
        raise AssertionError('markers %s, expected %s: the test could not catch a build that '
                             'imports the DLLs' % (case.markers(), wanted))
    for name in SIDE_BY_SIDE:
        found = [m for m in loaded if m.endswith('\\' + name + '.dll')]
        if not found or any(SIDE_BY_SIDE_STORE not in m for m in found):
            raise AssertionError('%s.dll was not taken from the side-by-side store: %s' %
                                 (name, found or loaded))


def main():
    options = harness.parse_options(__doc__)
    if harness.report_missing((harness.EXE, harness.LAUNCH, harness.PROBE),
                              'build the Windows build first (make build)'):
        return 1
    return harness.run_tests(options, harness.Wine(), harness.Context, 'norvane-planting-',
                             'DLL planting tests')


if __name__ == '__main__':
    sys.exit(main())
