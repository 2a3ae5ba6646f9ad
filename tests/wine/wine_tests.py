#!/usr/bin/env python3
"""System tests of the Windows build: the real NorvaneFwUpdater.exe, run under Wine.

    python3 tests/wine/wine_tests.py [-k SUBSTRING] [--keep]

Checks the executable file itself (PE32+ GUI, only system DLLs imported, resources) and runs it
silently ("/s /v LOGFILE=fw.log") in prepared folders, comparing the run log byte for byte and
the full exit code. The exit code is read through build/windows/tools/launch.exe, which prints
it whole: a shell only sees its low 8 bits (1603 arrives as 67).

The tests make their own Wine prefix under build/wine-prefix (once; later runs reuse it; the
environment variable NORVANE_WINE_PREFIX names another folder for it) and start their own Xvfb
on a free display, which they stop again at the end. Case folders are made under a fresh
temporary folder and removed afterwards, unless a test failed or --keep is given.

The last line of output is "N passed, N failed"; the exit status is 1 when any test failed.
"""

import datetime
import os
import re
import struct
import subprocess
import sys

import wine_harness as harness  # its build paths: set when the suite starts
from wine_harness import (FILE_SHARE_READ, FILE_SHARE_WRITE, GENERIC_READ, GENERIC_WRITE,
                          IMAGE_SIZE, OBJDUMP, SILENT_ARGS, VERSION, Context, Wine, check_run_log,
                          held_open, icon_images, make_image, parse_options, read_log,
                          report_missing, resource_bytes, run_tests, test, windows_path)


def objdump_headers(path=None):
    done = subprocess.run([OBJDUMP, '-p', path or harness.EXE], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=True)
    return done.stdout.decode('utf-8', 'replace')


@test
def exe_is_pe32plus_gui(ctx):
    text = objdump_headers()
    if not re.search(r'^Magic\s+020b\b', text, re.M):
        raise AssertionError('not PE32+ (Magic 020b)')
    if not re.search(r'^Subsystem\s+00000002\b', text, re.M):
        raise AssertionError('not a Windows GUI program (Subsystem 00000002)')


# Windows maps these from the system directory whatever the search order (the KnownDLLs of
# Windows 10 and 11). Any other DLL in the import table would be looked for in the exe's folder
# first, so the exe loads those itself (hid.dll, version.dll, comctl32.dll; platform/windows/).
KNOWN_DLLS = {
    'advapi32.dll', 'clbcatq.dll', 'combase.dll', 'comdlg32.dll', 'coml2.dll', 'difxapi.dll',
    'gdi32.dll', 'gdiplus.dll', 'imagehlp.dll', 'imm32.dll', 'kernel32.dll', 'msctf.dll',
    'msvcrt.dll', 'normaliz.dll', 'nsi.dll', 'ntdll.dll', 'ole32.dll', 'oleaut32.dll',
    'psapi.dll', 'rpcrt4.dll', 'sechost.dll', 'setupapi.dll', 'shcore.dll', 'shell32.dll',
    'shlwapi.dll', 'user32.dll', 'wldap32.dll', 'ws2_32.dll',
}
RUNTIME_DLL = re.compile(r'^(libstdc\+\+|libgcc|libwinpthread|libssp|libgomp|libatomic)', re.I)


@test
def exe_imports_only_system_dlls(ctx):
    dlls = re.findall(r'^\s*DLL Name:\s*(\S+)', objdump_headers(), re.M)
    if not dlls:
        raise AssertionError('objdump lists no imported DLL')
    runtime = [d for d in dlls if RUNTIME_DLL.match(d)]
    if runtime:
        raise AssertionError('imports MinGW runtime DLLs: %s' % ', '.join(runtime))
    unknown = [d for d in dlls if d.lower() not in KNOWN_DLLS and
               not d.lower().startswith('api-ms-win-')]
    if unknown:
        raise AssertionError('imports DLLs that are not KnownDLLs: %s' % ', '.join(unknown))


def resource_list():
    done = subprocess.run(['wrestool', '-l', harness.EXE], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=True)
    found = set()
    for line in done.stdout.decode().splitlines():
        m = re.match(r'--type=(\d+) --name=(\S+) --language=(\d+)', line)
        if m:
            found.add((int(m.group(1)), m.group(2), int(m.group(3))))
    return found


@test
def resources_are_listed(ctx):
    found = resource_list()
    wanted = [(5, '106', 1041, 'dialog 106'), (16, '1', 1041, 'version 1'),
              (24, '1', 1033, 'manifest 1'), (14, '107', None, 'icon group 107'),
              (14, '108', None, 'icon group 108')]
    for kind, name, lang, label in wanted:
        if not any(k == kind and n == name and (lang is None or l == lang)
                   for (k, n, l) in found):
            raise AssertionError('%s%s is missing; wrestool lists %s' %
                                 (label, '' if lang is None else ' (language %d)' % lang,
                                  sorted(found)))


def _wide_sz(data, pos):
    end = pos
    while data[end:end + 2] != b'\0\0':
        end += 2
    return data[pos:end].decode('utf-16-le'), end + 2


def _sz_or_ord(data, pos):
    if data[pos:pos + 2] == b'\xff\xff':
        return struct.unpack_from('<H', data, pos + 2)[0], pos + 4
    return _wide_sz(data, pos)


def _align4(pos):
    return (pos + 3) & ~3


@test
def dialog_template_matches(ctx):
    data = resource_bytes(5, '106')
    version, signature, _help, ex_style, style, count, x, y, cx, cy = struct.unpack_from(
        '<HHIIIHhhhh', data, 0)
    if (version, signature) != (1, 0xFFFF):
        raise AssertionError('dialog 106 is not an extended template')
    want_style = 0x40 | 0x80 | 0x08 | 0x800 | 0x80000000 | 0x10000000 | 0x00C00000 | 0x00080000
    got = (style, ex_style, count, x, y, cx, cy)
    if got != (want_style, 0, 3, 0, 0, 210, 81):
        raise AssertionError('dialog header %r, expected %r' % (got, (want_style, 0, 3, 0, 0, 210, 81)))
    pos = 26
    menu, pos = _sz_or_ord(data, pos)
    window_class, pos = _sz_or_ord(data, pos)
    caption, pos = _wide_sz(data, pos)
    point, weight, italic, charset = struct.unpack_from('<HHBB', data, pos)
    face, pos = _wide_sz(data, pos + 6)
    if (menu, window_class, caption) != ('', '', 'Norvane FW Updater'):
        raise AssertionError('menu, class, caption: %r' % ((menu, window_class, caption),))
    if (point, weight, italic, charset, face) != (9, 400, 0, 0, 'MS Shell Dlg'):
        raise AssertionError('font %r' % ((point, weight, italic, charset, face),))
    controls = []
    for _ in range(count):
        pos = _align4(pos)
        _help, c_ex, c_style, cx_, cy_, cw, ch, cid = struct.unpack_from('<IIIhhhhi', data, pos)
        pos += 24
        c_class, pos = _sz_or_ord(data, pos)
        c_text, pos = _sz_or_ord(data, pos)
        extra = struct.unpack_from('<H', data, pos)[0]
        pos += 2 + extra
        controls.append((cid, c_class, c_text, (cx_, cy_, cw, ch), c_style, c_ex))
    expected = [
        (1000, 0x0080, 'Start Update', (74, 26, 61, 23), 0x50010000, 0),
        (1001, 'msctls_progress32', '', (16, 58, 177, 16), 0x50800000, 0),
        (1002, 0x0082, "Please don't turn off this computer while updating.", (18, 9, 186, 12),
         0x50020000, 0),
    ]
    for got_c, want_c in zip(controls, expected):
        if got_c != want_c:
            raise AssertionError('control %r, expected %r' % (got_c, want_c))


# The string table: what the dialog title reads, and what Explorer, deployment tools and
# inventory scanners show about the file.
VERSION_STRINGS = [
    ('ProductName', 'Norvane FW Updater'), ('ProductVersion', VERSION),
    ('FileDescription', 'Norvane FW Updater'), ('FileVersion', VERSION),
    ('CompanyName', 'Norvane'), ('InternalName', 'NorvaneFwUpdater'),
    ('OriginalFilename', 'NorvaneFwUpdater.exe'),
    ('LegalCopyright', 'Copyright (C) Norvane. All rights reserved.'),
]


@test
def version_block_matches(ctx):
    data = resource_bytes(16, '1')
    fixed = data.find(struct.pack('<I', 0xFEEF04BD))
    if fixed < 0:
        raise AssertionError('no fixed file information')
    fv_ms, fv_ls, pv_ms, pv_ls = struct.unpack_from('<IIII', data, fixed + 8)
    major, minor, patch, build = (int(n) for n in VERSION.split('.'))
    want = (major << 16 | minor, patch << 16 | build)
    if (fv_ms, fv_ls) != want or (pv_ms, pv_ls) != want:
        raise AssertionError('file/product version %08x.%08x / %08x.%08x' %
                             (fv_ms, fv_ls, pv_ms, pv_ls))
    text = data.decode('utf-16-le', 'replace')
    for key, value in VERSION_STRINGS:
        if not re.search(key + r'\x00+' + re.escape(value) + r'\x00', text):
            raise AssertionError('%s is not "%s"' % (key, value))
    if '041104b0' not in text:
        raise AssertionError('no string table "041104b0"')
    if struct.pack('<HH', 0x0411, 1200) not in data[data.find('Translation'.encode('utf-16-le')):]:
        raise AssertionError('no translation 0x0411 1200')


# What the manifest must hold, each as a pattern over its text.
MANIFEST_ENTRIES = [
    ('the program\'s identity with its version',
     r'<assemblyIdentity\s+type="win32"\s+name="Norvane\.FwUpdater"\s+version="%s"\s+'
     r'processorArchitecture="amd64"\s*/>' % re.escape(VERSION)),
    ('requestedExecutionLevel requireAdministrator, uiAccess false',
     r'<requestedExecutionLevel\s+level="requireAdministrator"\s+uiAccess="false"\s*/>'),
    ('supportedOS of Windows 10 and 11',
     r'<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">\s*<application>'
     r'(?:(?!</application>).)*<supportedOS\s+Id="\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}"\s*/>'),
    ('per-monitor v2 DPI awareness',
     r'<dpiAwareness\s+xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">'
     r'PerMonitorV2\b[^<]*</dpiAwareness>'),
    ('per-monitor DPI awareness for older systems',
     r'<dpiAware\s+xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm'
     r'</dpiAware>'),
    ('the Common Controls 6 dependency',
     r'<dependentAssembly>\s*(?:<!--(?:(?!-->).)*-->\s*)?<assemblyIdentity\s+type="win32"\s+'
     r'name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0"\s+'
     r'processorArchitecture="\*"\s+publicKeyToken="6595b64144ccf1df"\s+language="\*"\s*/>'),
]


@test
def manifest_matches(ctx):
    text = resource_bytes(24, '1').decode('utf-8', 'replace')
    missing = [label for label, pattern in MANIFEST_ENTRIES
               if not re.search(pattern, text, re.S)]
    if missing:
        raise AssertionError('the manifest lacks %s' % ', '.join(missing))


APP_ICON_SIZES = [16, 20, 24, 32, 40, 48, 64, 256]


@test
def icon_groups_hold_their_images(ctx):
    # 107, the program's icon: every size Windows asks for, 256 px as PNG, the others bitmaps.
    app = [(entry, own) for entry, own, _image in icon_images('107')]
    want = [((n, n, 32), (n, n, 32, 'png' if n == 256 else 'bmp')) for n in APP_ICON_SIZES]
    if app != want:
        raise AssertionError('icon group 107 holds %r, expected %r' % (app, want))
    low = sorted(own for _entry, own, _image in icon_images('108'))
    if low != [(32, 32, 4, 'bmp'), (32, 32, 8, 'bmp')]:
        raise AssertionError('icon group 108 holds %r' % low)


def silent_case(ctx, name, prepare, lines, code=1603, args=SILENT_ARGS, launch_options=()):
    folder = ctx.folder(name)
    prepare(folder)
    before = set(os.listdir(folder))
    started = datetime.datetime.now()
    got, _out = ctx.wine.run(folder, args, launch_options)
    ended = datetime.datetime.now()
    left = set(os.listdir(folder)) - before - {'fw.log'}
    if left:
        raise AssertionError('the run left other files: %s' % sorted(left))
    check_run_log(read_log(folder), lines, started, ended, args)
    if got != code:
        raise AssertionError('exit code %d, expected %d' % (got, code))
    return folder


CANNOT_READ = ['FW file cannot read.', 'Exit code = 1603']


@test
def no_bin_file(ctx):
    silent_case(ctx, 'no_bin', lambda f: None, CANNOT_READ)


@test
def log_entries_are_appended(ctx):
    folder = silent_case(ctx, 'append', lambda f: None, CANNOT_READ)
    first = read_log(folder)
    got, _ = ctx.wine.run(folder, SILENT_ARGS)
    second = read_log(folder)
    if got != 1603 or not second.startswith(first) or second[len(first):].count(b'\r\n') != 4:
        raise AssertionError('a second run did not append its four lines: %r' % second)


@test
def two_bin_files(ctx):
    def prepare(folder):
        make_image(os.path.join(folder, 'a.bin'))
        make_image(os.path.join(folder, 'b.bin'))
    silent_case(ctx, 'two_bin', prepare, CANNOT_READ)


@test
def only_a_folder_named_bin(ctx):
    silent_case(ctx, 'folder_bin', lambda f: os.mkdir(os.path.join(f, 'old.bin')), CANNOT_READ)


@test
def short_bin_file(ctx):
    def prepare(folder):
        path = os.path.join(folder, 'FW.bin')
        make_image(path)
        with open(path, 'r+b') as f:
            f.truncate(IMAGE_SIZE - 1)
    silent_case(ctx, 'short_bin', prepare, CANNOT_READ)


@test
def valid_bin_without_device(ctx):
    silent_case(ctx, 'no_device', lambda f: make_image(os.path.join(f, 'FW.bin')),
                ['Could not find Norvane device.', 'Exit code = 1603'])


def image_and_settings(setting):
    """Prepares a folder with an image and a Setting.ini holding one setting line."""
    def prepare(folder):
        make_image(os.path.join(folder, 'FW.bin'))
        with open(os.path.join(folder, 'Setting.ini'), 'wb') as f:
            f.write(b'[Setting]\r\n' + setting + b'\r\n')
    return prepare


def run_beside_a_holder(ctx, name, prepare, held, access, share, lines):
    """A silent run while another program holds one file of its folder open: it fails."""
    folder = ctx.folder(name)
    prepare(folder)
    started = datetime.datetime.now()
    with held_open(ctx.wine, folder, windows_path(os.path.join(folder, held)), access, share):
        got, _out = ctx.wine.run(folder, SILENT_ARGS)
    check_run_log(read_log(folder), lines, started, datetime.datetime.now())
    if got != 1603:
        raise AssertionError('exit code %d, expected 1603' % got)


@test
def pnpid_check_without_touchpad(ctx):
    silent_case(ctx, 'pnpid', image_and_settings(b'PNPID=1'),
                ['Could not get Touchpad PnPID.', 'Exit code = 1603'])


@test
def image_being_copied_is_refused(ctx):
    # A copy still writing the image lets others read it; the program shares no writing and is
    # refused, as it would be with the half-copied bytes.
    run_beside_a_holder(ctx, 'being_copied', lambda f: make_image(os.path.join(f, 'FW.bin')),
                        'FW.bin', GENERIC_WRITE, FILE_SHARE_READ, CANNOT_READ)


@test
def no_log_without_v(ctx):
    folder = ctx.folder('no_v')
    got, _ = ctx.wine.run(folder, ['/s', 'LOGFILE=fw.log'])
    if os.listdir(folder):
        raise AssertionError('a run without /v left files: %r' % os.listdir(folder))
    if got != 1603:
        raise AssertionError('exit code %d, expected 1603' % got)


@test
def only_names_ending_in_bin_are_images(ctx):
    # "*.bin" also matches these through 8.3 short names where the file system makes them.
    def prepare(folder):
        for name in ('fw.binx', 'fw.bin~', 'old.bin2'):
            make_image(os.path.join(folder, name))
    silent_case(ctx, 'bin_like', prepare, CANNOT_READ)


@test
def unbounded_wait_fails_before_the_device(ctx):
    silent_case(ctx, 'wait', image_and_settings(b'WAIT=-1'),
                ['WAIT in Setting.ini is above 1000 ms.', 'Exit code = 1603'])


@test
def log_lands_in_folders_that_did_not_exist(ctx):
    # As LOGFILE=C:\Logs\fw.log on a machine without C:\Logs: the folders are made.
    folder = ctx.folder('log_folders')
    for log in ('made\\deeper\\fw.log', windows_path(folder) + '\\absolute\\fw.log'):
        args = ['/s', '/v', 'LOGFILE=' + log]
        started = datetime.datetime.now()
        got, _out = ctx.wine.run(folder, args)
        path = os.path.join(folder, *log.replace(windows_path(folder) + '\\', '').split('\\'))
        check_run_log(read_log(os.path.dirname(path), 'fw.log'), CANNOT_READ, started,
                      datetime.datetime.now(), args)
        if got != 1603:
            raise AssertionError('exit code %d, expected 1603' % got)


@test
def no_question_in_a_window_station_nobody_sees(ctx):
    # As a deployment tool's SYSTEM account in session 0 runs it: without /s (and "/S" is not
    # /s) the run ends at once instead of waiting for an answer nobody can give.
    for args in (['/v', 'LOGFILE=fw.log'], ['/S', '/v', 'LOGFILE=fw.log']):
        silent_case(ctx, 'hidden_station' + args[0][1], lambda f: make_image(
            os.path.join(f, 'FW.bin')), ['No one can answer the update question: run with /s.',
                                         'Exit code = 1603'], args=args,
                    launch_options=['--hidden-station'])


@test
def usage_with_s_shows_nothing(ctx):
    # A deployment tool's "/s /?" must not wait on a box: nothing shown, nothing written, 0.
    folder = ctx.folder('usage_silent')
    got, _ = ctx.wine.run(folder, ['/s', '/?', '/v', 'LOGFILE=fw.log'])
    if got != 0 or os.listdir(folder):
        raise AssertionError('exit code %d, files %r' % (got, os.listdir(folder)))


@test
def log_viewer_costs_no_line(ctx):
    # A viewer that holds the log open for reading (sharing reading and writing) as the run
    # appends; and a path through a folder it only names (stray\..) makes no such folder.
    folder = ctx.folder('log_viewer')
    with open(os.path.join(folder, 'fw.log'), 'wb'):
        pass
    args = ['/s', '/v', 'LOGFILE=stray\\..\\fw.log']
    started = datetime.datetime.now()
    with held_open(ctx.wine, folder, windows_path(os.path.join(folder, 'fw.log')), GENERIC_READ,
                   FILE_SHARE_READ | FILE_SHARE_WRITE):
        got, _out = ctx.wine.run(folder, args)
    check_run_log(read_log(folder), CANNOT_READ, started, datetime.datetime.now(), args)
    if got != 1603 or os.listdir(folder) != ['fw.log']:
        raise AssertionError('exit code %d, files %r' % (got, os.listdir(folder)))


@test
def settings_held_by_another_program_fail_the_run(ctx):
    # Held without sharing, the file would have read as the defaults (PNPID off).
    run_beside_a_holder(ctx, 'settings_held', image_and_settings(b'PNPID=1'), 'Setting.ini',
                        GENERIC_READ, 0, ['Setting.ini cannot be read.', 'Exit code = 1603'])


def check_link_refused(ctx, name, plant, target, target_bytes):
    """fw.log planted as a link: the run goes on, its log goes nowhere, the target is untouched."""
    folder = ctx.folder(name)
    plant(folder)
    got, _ = ctx.wine.run(folder, SILENT_ARGS)
    if got != 1603:
        raise AssertionError('exit code %d, expected 1603' % got)
    path = os.path.join(folder, target)
    if target_bytes is None:
        if os.path.lexists(path):
            raise AssertionError('the run created %s through a link' % target)
        return
    with open(path, 'rb') as f:
        data = f.read()
    if data != target_bytes:
        raise AssertionError('the run wrote through the link into %s: %r' % (target, data))


@test
def log_never_appended_through_a_hard_link(ctx):
    def plant(folder):
        with open(os.path.join(folder, 'protected.txt'), 'wb') as f:
            f.write(b'protected')
        os.link(os.path.join(folder, 'protected.txt'), os.path.join(folder, 'fw.log'))
    check_link_refused(ctx, 'hard_link', plant, 'protected.txt', b'protected')


# Symbolic links and junctions are left to the host tests: Wine 8 shows a Unix symbolic link to a
# file as a plain file and follows it even when asked to open the link itself, a dangling one as
# missing, and cannot make Windows links (mklink fails). A hard link shows in nNumberOfLinks.


def main():
    options = parse_options(__doc__)
    if report_missing((harness.EXE, harness.LAUNCH, harness.PROBE),
                      'build the Windows build first (make build)'):
        return 1
    return run_tests(options, Wine(), Context, 'norvane-wine-', 'Wine system tests')


if __name__ == '__main__':
    sys.exit(main())
