#!/usr/bin/env python3
"""Tests of the release tools (release/): they must pass a good package and catch a broken
one, and the reference they document the program from must match the program's sources.

    python3 tests/release/release_tests.py [--exe build/windows/NorvaneFwUpdater.exe]

Packages are made from the built exe with throwaway test certificates in a temporary folder.
The last line of output is "N passed, N failed"; the exit status is 1 when any test failed.
"""

import argparse
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import traceback

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'release'))
import make_docs  # noqa: E402
import release  # noqa: E402

DATE = 1700000000  # any fixed time: the packages of one test share it
FOLDER = release.package_name() + '/'
EXE_ENTRY = FOLDER + release.EXE_NAME
README_ENTRY = FOLDER + release.README_NAME
SETTINGS_ENTRY = FOLDER + release.SETTINGS_NAME
SUMS_ENTRY = FOLDER + release.SUMS_NAME

TESTS = []


def test(function):
    TESTS.append(function)
    return function


class Env:
    """The built exe, a scratch folder and one good package made from the exe."""

    def __init__(self, exe, scratch):
        self.exe = exe
        self.scratch = scratch
        self.good = self.make_package('good')
        self.cert = os.path.join(scratch, 'good', release.TEST_CERT_NAME)

    def make_package(self, name, exe=None):
        saved = {k: os.environ.pop(k, None) for k in ('SIGN_PFX', 'SIGN_TIMESTAMP_URL')}
        try:
            return release.package(exe or self.exe, os.path.join(self.scratch, name), DATE)
        finally:
            os.environ.update({k: v for k, v in saved.items() if v is not None})

    def rewrite(self, name, change, fix_sums=True):
        """A copy of the good package with entries changed: change(list of [name, bytes])."""
        _infos, files = release.zip_entries(self.good)
        entries = [[n[len(FOLDER):], data] for n, data in files.items()]
        change(entries)
        if fix_sums:
            signed = [(n, d) for n, d in entries if n != release.SUMS_NAME]
            for entry in entries:
                if entry[0] == release.SUMS_NAME:
                    entry[1] = release.sums_text(signed)
        path = os.path.join(self.scratch, name + '.zip')
        release.write_zip(path, release.package_name(), entries, DATE)
        return path


def expect_failure(action, phrase):
    try:
        action()
    except SystemExit as stop:
        if phrase not in str(stop):
            raise AssertionError('failed, but not for %r: %s' % (phrase, stop))
        return
    raise AssertionError('passed, expected a failure about %r' % phrase)


def replace_entry(name, transform):
    def change(entries):
        for entry in entries:
            if entry[0] == name:
                entry[1] = transform(entry[1])
    return change


def flip_code_byte(data):
    altered = bytearray(data)
    altered[release.code_offset(data) + release.TAMPER_OFFSET_IN_CODE] ^= 0x01
    return bytes(altered)


# ---------------------------------------------------------------------------------------------
# The package


@test
def a_good_package_passes(env):
    release.check(env.good, env.cert, env.exe)


# Broken packages, each with what the check must name. Sums are made to match where the fault
# lies elsewhere, so that each case reaches the check it is about.
BROKEN_PACKAGES = [
    ('a README line ending in LF only', 'CR LF',
     replace_entry(release.README_NAME, lambda d: d.replace(b'\r\n', b'\n', 1)), True),
    ('a README of 250 lines', 'lines',
     replace_entry(release.README_NAME, lambda d: d + b'x\r\n' * 250), True),
    ('a README without a log line', 'lacks',
     replace_entry(release.README_NAME, lambda d: d.replace(b'Fail - _check_clear_memory.',
                                                            b'Fail - check.')), True),
    ('a README without the trap of "/S"', 'lacks',
     replace_entry(release.README_NAME, lambda d: d.replace(b'"/S"', b'"/s"')), True),
    ('a Setting.ini without WAIT', 'Setting.ini',
     replace_entry(release.SETTINGS_NAME, lambda d: d.replace(b'WAIT=2\r\n', b'')), True),
    ('a Setting.ini with another default', 'Setting.ini',
     replace_entry(release.SETTINGS_NAME, lambda d: d.replace(b'PNPID=0', b'PNPID=1')), True),
    ('a sum that does not match', 'SHA256SUMS',
     replace_entry(release.README_NAME, lambda d: d + b'\r\n'), False),
    ('one byte of code altered after signing', 'does not verify',
     replace_entry(release.EXE_NAME, flip_code_byte), True),
    ('the signature cut off', 'does not verify',
     replace_entry(release.EXE_NAME, release.without_signature), True),
    ('the entries in another order', 'entries',
     lambda entries: entries.reverse(), True),
    ('an extra entry', 'entries',
     lambda entries: entries.append(['notes.txt', b'x']), True),
]


@test
def broken_packages_fail(env):
    for label, phrase, change, fix_sums in BROKEN_PACKAGES:
        path = env.rewrite(re.sub(r'\W+', '-', label), change, fix_sums)
        try:
            expect_failure(lambda: release.check(path, env.cert), phrase)
        except AssertionError as error:
            raise AssertionError('%s: %s' % (label, error))


@test
def check_names_another_build(env):
    other = os.path.join(env.scratch, 'other.exe')
    with open(other, 'wb') as f:
        f.write(flip_code_byte(release.read(env.exe)))
    expect_failure(lambda: release.check(env.good, env.cert, other), 'plus a signature')


@test
def the_signature_needs_its_certificate(env):
    # Checked against the system's roots only, a test certificate is not trusted.
    expect_failure(lambda: release.check(env.good, None), 'does not verify')


@test
def packages_differ_only_in_the_signature(env):
    second = env.make_package('second')
    if release.read(second) == release.read(env.good):
        raise AssertionError('two signatures with two test certificates gave the same bytes')
    release.compare(env.good, second)


@test
def compare_catches_other_content(env):
    readme = env.rewrite('readme', replace_entry(release.README_NAME, lambda d: d + b'x\r\n'))
    expect_failure(lambda: release.compare(env.good, readme), 'README.txt differs')
    altered_exe = os.path.join(env.scratch, 'altered.exe')
    with open(altered_exe, 'wb') as f:
        f.write(flip_code_byte(release.read(env.exe)))
    other = env.make_package('altered', altered_exe)
    expect_failure(lambda: release.compare(env.good, other), 'NorvaneFwUpdater.exe differs')


@test
def entries_carry_one_fixed_time(env):
    infos, _files = release.zip_entries(env.good)
    wanted = release.zip_time(DATE)
    for info in infos:
        if info.date_time != wanted or info.external_attr >> 16 != release.FILE_MODE:
            raise AssertionError('%s: %r mode %o' % (info.filename, info.date_time,
                                                     info.external_attr >> 16))


@test
def signature_strip_restores_the_build(env):
    _infos, files = release.zip_entries(env.good)
    signed = files[EXE_ENTRY]
    _pe, optional = release.pe_optional_header(signed)
    offset, size = struct.unpack_from('<II', signed, optional +
                                      release.SECURITY_DIRECTORY_IN_OPTIONAL)
    if offset == 0 or offset + size != len(signed):
        raise AssertionError('the certificate table is at %d+%d of %d bytes' %
                             (offset, size, len(signed)))
    if release.without_signature(signed) != release.unsigned_as_signed(release.read(env.exe)):
        raise AssertionError('the signed exe without its signature is not the build')


# ---------------------------------------------------------------------------------------------
# The make targets

# Put first on PATH under the names of programs that make release starts: writes the arguments
# and the environment it was given (and the standard input osslsigncode reads a password from)
# into a record, then runs the real program.
SPY = r'''#!/bin/sh
record="$SPY_RECORDS/${0##*/}.$$"
{ printf '%s\n' "$@"; env; } > "$record"
PATH=${PATH#*:}
case " $* " in *" -readpass - "*) tee "$record.stdin" | exec "${0##*/}" "$@"; exit ;; esac
exec "${0##*/}" "$@"
'''
SPIED = ('cmake', 'osslsigncode', 'git', 'dpkg-query')
MAKE_TIMEOUT = 900  # s: make release, with the Windows build brought up to date


@test
def the_signing_password_reaches_osslsigncode_on_its_standard_input_only(env):
    folder = os.path.join(env.scratch, 'password')
    spies, records, out = [os.path.join(folder, name) for name in ('spies', 'records', 'out')]
    os.makedirs(spies)
    os.makedirs(records)
    for path in [os.path.join(spies, name) for name in SPIED]:
        release.write(path, SPY.encode())
        os.chmod(path, stat.S_IRWXU)
    secret = 'spy-%d-secret' % os.getpid()
    key, cert = release.make_test_certificate(folder)
    pfx = os.path.join(folder, 'vendor.pfx')
    release.run_or_fail(['openssl', 'pkcs12', '-export', '-inkey', key, '-in', cert, '-out', pfx,
                         '-passout', 'pass:' + secret], 'openssl pkcs12')
    child_env = {k: v for k, v in os.environ.items() if not k.startswith(('MAKE', 'MFLAGS'))}
    child_env.update({'PATH': spies + os.pathsep + os.environ['PATH'], 'SPY_RECORDS': records,
                      'SIGN_PFX': pfx, 'SIGN_PASSWORD': secret, 'SIGN_CA_FILE': cert})
    child_env.pop('SIGN_TIMESTAMP_URL', None)
    done = subprocess.run(['make', '-C', ROOT, 'release', 'RELEASE_DIR=' + out], env=child_env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=MAKE_TIMEOUT)
    if done.returncode != 0:
        raise AssertionError('make release failed:\n%s' % done.stdout.decode()[-3000:])
    runs = sorted(os.listdir(records))
    counts = {name: sum(r.startswith(name + '.') for r in runs) for name in SPIED}
    if min(counts.values()) == 0 or counts['osslsigncode'] < 3:  # sign, its input, verify
        raise AssertionError('not every program was seen to run: %r' % runs)
    holders = [r for r in runs if secret.encode() in release.read(os.path.join(records, r))]
    if len(holders) != 1 or not re.fullmatch(r'osslsigncode\.\d+\.stdin', holders[0]):
        raise AssertionError('the password reached %r' % holders)
    release.check(os.path.join(out, release.package_name() + '.zip'), cert)


@test
def release_check_leaves_the_release_folder_alone(env):
    # make -n prints every command release-check would run; none may name build/release itself.
    done = subprocess.run(['make', '-C', ROOT, '-n', 'release-check'], stdout=subprocess.PIPE,
                          check=True)
    commands = done.stdout.decode()
    if 'build/release-check' not in commands or re.search(r'build/release(?![-\w])', commands):
        raise AssertionError('release-check runs:\n%s' % commands)


# ---------------------------------------------------------------------------------------------
# The reference against the program


def source(path):
    with open(os.path.join(ROOT, path), encoding='utf-8') as f:
        return f.read()


def wide_literal(text):
    """The value of one or more adjacent L"..." literals."""
    parts = re.findall(r'L"((?:[^"\\]|\\.)*)"', text)
    return ''.join(bytes(p, 'ascii').decode('unicode_escape') for p in parts)


LOG_CALLS = [
    (r'_log_message\(\s*(L"(?:[^"\\]|\\.)*"|k\w+)', 1),
    (r'fail_run\([^,]+,\s*(L"(?:[^"\\]|\\.)*"|k\w+)\s*[,)]', 1),
    (r'fail_step\(\s*(L"(?:[^"\\]|\\.)*"|k\w+)\)', 1),
]
PRODUCT_FOLDERS = ('app', 'device', 'update', 'ui', 'target')


def logged_texts():
    """Every text the product sources pass to the log, literals and named constants resolved."""
    texts = set()
    for folder in PRODUCT_FOLDERS:
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            if not name.endswith('.cpp'):
                continue
            text = source(os.path.join(folder, name))
            constants = {m.group(1): wide_literal(m.group(2)) for m in re.finditer(
                r'constexpr const wchar_t\*\s+(k\w+)\s*=\s*((?:\s*L"(?:[^"\\]|\\.)*")+)\s*;',
                text)}
            for pattern, group in LOG_CALLS:
                for m in re.finditer(pattern, text):
                    argument = m.group(group)
                    if argument.startswith('L"'):
                        texts.add(wide_literal(argument))
                    elif argument in constants:
                        texts.add(constants[argument])
                    else:
                        raise AssertionError('%s/%s logs %s, which is no constant of the file' %
                                             (folder, name, argument))
    return texts


@test
def every_logged_text_is_in_the_reference(env):
    documented = {line['text'] for line in make_docs.load_data()['log_lines']}
    logged = logged_texts()
    if len(logged) < len(documented) // 2:
        raise AssertionError('found only %d logged texts: %r' % (len(logged), sorted(logged)))
    if logged - documented:
        raise AssertionError('logged but not in docs/reference-data.json: %r' %
                             sorted(logged - documented))
    if documented - logged:
        raise AssertionError('in docs/reference-data.json but never logged: %r' %
                             sorted(documented - logged))


@test
def settings_match_the_program(env):
    text = source('app/settings.cpp')
    mask_keys = text[text.index('kMaskKeys'):]
    keys = re.findall(r'\{L"(\w+)",\s*(\d+)\}', mask_keys[:mask_keys.index('};')])
    # WAIT's default is the device link's pause after a write, named again in app/settings.h.
    wait_default = re.search(r'kDefaultWaitMs\s*=\s*kDefaultWritePauseMs;',
                             source('app/settings.h'))
    pause = re.search(r'kDefaultWritePauseMs\s*=\s*(\d+);', source('device/device_link.h'))
    if (wait_default is None or pause is None or
            'kWaitKey = {L"WAIT", static_cast<int>(kDefaultWaitMs)}' not in text):
        raise AssertionError('app/settings.cpp reads WAIT in a way this test does not know')
    program = [(k, v) for k, v in keys] + [('WAIT', pause.group(1))]
    documented = [(s['key'], s['default']) for s in make_docs.load_data()['settings']]
    if program != documented:
        raise AssertionError('the program reads %r, the reference documents %r' %
                             (program, documented))
    bits = [s['bit'] for s in make_docs.load_data()['settings']]
    if bits != list(range(len(keys))) + [None]:
        raise AssertionError('mask bits %r' % bits)


@test
def settings_md_is_current(env):
    with open(make_docs.SETTINGS_MD, 'rb') as f:
        if f.read() != make_docs.render_settings_md(make_docs.load_data()):
            raise AssertionError('docs/settings.md is out of date')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--exe', default=os.path.join(ROOT, 'build', 'windows',
                                                      release.EXE_NAME))
    options = parser.parse_args()
    if not os.path.exists(options.exe):
        print('missing %s: build it first (make release)' % options.exe)
        print('0 passed, 1 failed')
        return 1
    scratch = tempfile.mkdtemp(prefix='norvane-release-tests-')
    passed = failed = 0
    try:
        env = Env(options.exe, scratch)
        for function in TESTS:
            try:
                function(env)
            except (AssertionError, SystemExit) as error:
                failed += 1
                print('FAIL %s: %s' % (function.__name__, error))
            except Exception:  # noqa: BLE001 - any error fails this test only
                failed += 1
                print('FAIL %s:\n%s' % (function.__name__, traceback.format_exc()))
            else:
                passed += 1
                print('ok   %s' % function.__name__)
            sys.stdout.flush()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print('%d passed, %d failed' % (passed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
