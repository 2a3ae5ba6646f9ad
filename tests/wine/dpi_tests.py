#!/usr/bin/env python3
"""DPI tests of the Windows build: the boxes and the update dialog at 96 and 144 DPI under Wine.

    python3 tests/wine/dpi_tests.py [-k SUBSTRING] [--keep] [--build-dir DIR]

The program runs as in the window tests (window_tests.py: the same program, window driver and
harness), once in a Wine prefix set to 96 DPI and once in one set to 144 DPI (150 %; Wine's LogPixels). At
each DPI a full interactive update is driven, and the question box, the update dialog and the
result box are measured with layout_probe.exe (tests/tools/wine/layout_probe.c): the window runs at
the screen's DPI, the dialog's size in pixels is its size in dialog units at the base units of
its font at that DPI (so it has grown with the font), and every control lies inside the window,
overlaps no other and has room for its whole text. Screenshots land in build/screenshots/ as
dpiNNN-*.png. Wine does not stretch programs that are not DPI aware, as Windows does; that the
program declares per-monitor awareness is checked in its manifest (wine_tests.py).

The prefixes are build/wine-prefix-dpi96 and build/wine-prefix-dpi144 (made once; the environment
variable NORVANE_WINE_DPI_PREFIX names another stem). The last line of output is "N passed,
N failed"; the exit status is 1 when any test failed.
"""

import glob
import os
import subprocess
import sys
import time

import window_tests as windows
import wine_harness as harness

test = harness.test

DPI_SETTINGS = (96, 144)
DPI_MARK = '.norvane-dpi'      # in the prefix once its DPI is set
BASE_DPI = 96
POINTS_PER_INCH = 72
DIALOG_POINTS = 9              # the dialog template's font size
DIALOG_UNITS = (210, 81)       # the dialog template's size
HORIZONTAL_UNITS_PER_BASE = 4  # a dialog unit is a quarter of the average character width
VERTICAL_UNITS_PER_BASE = 8    # and an eighth of the character height
BUTTON_EDGE_AT_96 = 3          # pixels of frame on each side of a push button's text
PROBE_TIMEOUT = 60             # s for one run of layout_probe.exe

PROBE = ''
PASSED = []  # one entry per test that passed, at any DPI


def set_build_dir(build):
    global PROBE
    windows.set_build_dir(build)
    PROBE = os.path.join(harness.BUILD, 'windows', 'tools', 'layout_probe.exe')


def mul_div(number, numerator, denominator):
    """MulDiv: number * numerator / denominator, rounded half away from zero."""
    return (number * numerator + denominator // 2) // denominator


class DpiWine(windows.WindowWine):
    """The window tests' Wine on a prefix of its own whose screen has DPI dots per inch."""

    def __init__(self, dpi):
        super().__init__()
        stem = os.environ.get('NORVANE_WINE_DPI_PREFIX') or os.path.join(harness.BUILD,
                                                                         'wine-prefix-dpi')
        self.dpi = dpi
        self.prefix = os.path.abspath(stem) + str(dpi)
        self.env['WINEPREFIX'] = self.prefix

    def _prefix_ready(self):
        return super()._prefix_ready() and os.path.exists(os.path.join(self.prefix, DPI_MARK))

    def _configure_prefix(self):
        super()._configure_prefix()
        # Wine takes the screen's DPI from LogPixels: the user's value first, then the machine's.
        for key in (r'HKCU\Control Panel\Desktop',
                    r'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'):
            self.wine_quiet(['reg', 'add', key, '/v', 'LogPixels', '/t', 'REG_DWORD', '/d',
                             str(self.dpi), '/f'])

    def _mark_prefix_ready(self):
        super()._mark_prefix_ready()
        with open(os.path.join(self.prefix, DPI_MARK), 'w') as mark:
            mark.write('%d\n' % self.dpi)

    def probe(self, title, kind):
        """layout_probe.exe's lines for the window: (window fields, [control fields])."""
        done = subprocess.run(['wine', PROBE, title, kind], env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=PROBE_TIMEOUT, check=False)
        lines = done.stdout.decode('utf-8', 'replace').replace('\r', '').splitlines()
        if done.returncode != 0 or not lines or not lines[0].startswith('window '):
            raise AssertionError('layout_probe %r: %r' % (title, lines))
        return fields(lines[0]), [fields(line) for line in lines[1:] if line.startswith('control ')]


def fields(line):
    """"word k=v k=v ... LAST=REST" as a dict; the text or the face runs to the end."""
    last = 'face' if line.startswith('window ') else 'text'
    head, _, rest = line.partition(' %s=' % last)
    out = {last: rest}
    for item in head.split()[1:]:
        key, _, value = item.partition('=')
        out[key] = value
    return out


def numbers(value):
    return [int(n) for n in value.split(',')]


def overlap(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def check_controls(title, dpi, width, height, controls, wanted):
    visible = [c for c in controls if c['visible'] == '1']
    if len(visible) < wanted:
        raise AssertionError('%s: %d visible controls, expected at least %d: %r' %
                             (title, len(visible), wanted, controls))
    edge = mul_div(BUTTON_EDGE_AT_96, dpi, BASE_DPI)
    for c in visible:
        left, top, right, bottom = numbers(c['rect'])
        need_w, need_h = numbers(c['need'])
        label = '%s: control %s (%s %r) at %s' % (title, c['id'], c['class'], c['text'],
                                                  c['rect'])
        if left < 0 or top < 0 or right > width or bottom > height:
            raise AssertionError('%s lies outside the client area %dx%d' % (label, width, height))
        margin = 2 * edge if c['class'].lower() == 'button' else 0
        if need_w + margin > right - left or need_h > bottom - top:
            raise AssertionError('%s clips its text, which needs %dx%d (+%d)' %
                                 (label, need_w, need_h, margin))
    for i, a in enumerate(visible):
        for b in visible[i + 1:]:
            if overlap(numbers(a['rect']), numbers(b['rect'])):
                raise AssertionError('%s: controls %s and %s overlap' % (title, a['id'], b['id']))


def check_layout(ctx, title, kind, wanted_controls):
    dpi = ctx.wine.dpi
    window, controls = ctx.wine.probe(title, kind)
    # Wine gives every program the screen's DPI, aware or not, so this shows that the run really
    # is at that DPI; that the program declares itself aware is checked in its manifest
    # (wine_tests.py, manifest_matches).
    if int(window['dpi']) != dpi:
        raise AssertionError('%s has %s DPI on a screen set to %d DPI' %
                             (title, window['dpi'], dpi))
    width, height = numbers(window['client'])
    if kind == 'dialog':
        if window['source'] == 'handle' and \
                abs(int(window['height'])) != mul_div(DIALOG_POINTS, dpi, POINTS_PER_INCH):
            raise AssertionError('dialog font %s of height %s is not %d points at %d DPI' %
                                 (window['face'], window['height'], DIALOG_POINTS, dpi))
        # The dialog's size in pixels is its size in dialog units at this font's base units:
        # then the texts below were measured with the dialog's own font.
        base_x, base_y = numbers(window['base'])
        expected = (mul_div(DIALOG_UNITS[0], base_x, HORIZONTAL_UNITS_PER_BASE),
                    mul_div(DIALOG_UNITS[1], base_y, VERTICAL_UNITS_PER_BASE))
        if abs(width - expected[0]) > 1 or abs(height - expected[1]) > 1:
            raise AssertionError('dialog client %dx%d, expected %dx%d from base units %s' %
                                 ((width, height) + expected + (window['base'],)))
    check_controls(title, dpi, width, height, controls, wanted_controls)


QUESTION_CONTROLS = 4  # icon, text, Yes, No
DIALOG_CONTROLS = 3    # notice, Start Update, progress bar
RESULT_CONTROLS = 3    # icon, text, OK


@test
def windows_fit_the_screen_dpi(ctx):
    dpi = ctx.wine.dpi
    folder = ctx.folder('dpi%d' % dpi)
    windows.prepare_folder(folder)
    run = ctx.start(folder)
    ctx.wine.drive('wait-window', 'Question', timeout_ms=windows.WINDOW_TIMEOUT_MS)
    check_layout(ctx, 'Question', 'box', QUESTION_CONTROLS)
    ctx.wine.screenshot('dpi%d-question.png' % dpi)
    ctx.wine.drive('click', 'Question', windows.IDYES)
    ctx.wine.drive('wait-gone', 'Question', timeout_ms=windows.WINDOW_TIMEOUT_MS)
    windows.open_dialog(ctx)
    check_layout(ctx, windows.DIALOG_TITLE, 'dialog', DIALOG_CONTROLS)
    ctx.wine.screenshot('dpi%d-dialog.png' % dpi)
    ctx.wine.drive('click', windows.DIALOG_TITLE, windows.START_UPDATE)
    windows.wait_box(ctx, 'Update success!!!', windows.UPDATE_TIMEOUT_MS)
    check_layout(ctx, 'Result', 'box', RESULT_CONTROLS)
    ctx.wine.screenshot('dpi%d-result.png' % dpi)
    ctx.wine.drive('click', 'Result', windows.IDOK)
    windows.wait_box(ctx, 'Please restart this computer.')
    ctx.wine.drive('click', 'Result', windows.IDOK)
    ctx.wine.drive('wait-gone', windows.DIALOG_TITLE, timeout_ms=windows.WINDOW_TIMEOUT_MS)
    windows.expect('exit code', run.exit_code(), 3010)
    PASSED.append(dpi)


@test
def usage_box_wraps_no_line(ctx):
    """The "/?" box: every line of its text is as wide as the box allows, so nothing wraps
    (inside a switch or elsewhere): the text takes as many lines as it holds."""
    folder = ctx.folder('usage%d' % ctx.wine.dpi)
    process = subprocess.Popen(harness.launch_command(harness.EXE, ['/?']), cwd=folder,
                               env=ctx.wine.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        ctx.wine.drive('wait-window', 'Information', timeout_ms=windows.WINDOW_TIMEOUT_MS)
        window, controls = ctx.wine.probe('Information', 'box')
        ctx.wine.screenshot('dpi%d-usage.png' % ctx.wine.dpi)
        text = max(controls, key=lambda c: len(c['text']))
        line_height = numbers(window['base'])[1]
        lines = text['text'].count('\\n') + 1
        if numbers(text['need'])[1] != lines * line_height or not text['text'].endswith('needed'):
            raise AssertionError('the usage text of %d lines takes %s px (lines of %d px): %r' %
                                 (lines, text['need'], line_height, text['text']))
        ctx.wine.drive('click', 'Information', windows.IDOK)
        out, _err = process.communicate(timeout=harness.RUN_TIMEOUT)
    finally:
        if process.poll() is None:
            process.kill()
    windows.expect('exit code', harness.launch_exit_code(out.decode('ascii', 'replace')), 0)
    PASSED.append(ctx.wine.dpi)


class Context(windows.Context):
    def finish(self, failed_name=None):
        # One failure screenshot per DPI: failed-TEST-dpiNNN.png.
        super().finish(failed_name and '%s-dpi%d' % (failed_name, self.wine.dpi))


def main():
    options = harness.parse_options(__doc__, set_build_dir)
    inputs = (harness.EXE, windows.VDEV_DRIVER, harness.LAUNCH, windows.WINDOW_DRIVER, PROBE,
              harness.FWIMAGE)
    if harness.report_missing(inputs, 'build both builds first (make build)'):
        return 1
    for stale in glob.glob(os.path.join(windows.SCREENSHOTS, 'failed-*-dpi*.png')):
        os.remove(stale)
    started = time.monotonic()
    failed_runs = 0
    for dpi in DPI_SETTINGS:
        print('---- %d DPI ----' % dpi)
        sys.stdout.flush()
        failed_runs += harness.run_tests(options, DpiWine(dpi), Context,
                                         'norvane-dpi%d-' % dpi, 'DPI %d tests' % dpi,
                                         ['screenshots in %s' % windows.SCREENSHOTS])
    print('DPI tests took %.1f s' % (time.monotonic() - started))
    runs = len(harness.selected_tests(options)) * len(DPI_SETTINGS)
    print('%d passed, %d failed' % (len(PASSED), runs - len(PASSED)))
    return 1 if failed_runs or len(PASSED) != runs else 0


if __name__ == '__main__':
    sys.exit(main())
