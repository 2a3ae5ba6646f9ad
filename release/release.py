#!/usr/bin/env python3
"""The release package of NorvaneFwUpdater.exe: signing, packing, checking, reproducing.

    release.py package --exe EXE --out DIR [--date EPOCH]
        signs a copy of EXE with Authenticode and writes DIR/NorvaneFwUpdater-<version>.zip:
        the signed exe, README.txt, Setting.ini and SHA256SUMS, in one folder of that name.
    release.py check ZIP [--cert PEM] [--unsigned EXE]
        checks a package: its entries, the texts, the sums, the signature (against PEM, else
        SIGN_CA_FILE, else the system's roots; and that one altered byte breaks it), every log
        text of the reference in the exe, and with --unsigned that the signed exe is that exe
        plus its signature.
    release.py compare ZIP ZIP
        two packages are the same bytes apart from the exe's signature (and the sums over it).
    release.py reproduce --work DIR
        builds the exe twice from the tracked files, in two folders of different names and
        depths, compares the SHA-256 of the two unsigned exes, packages each and checks and
        compares the two packages.

Signing: with SIGN_PFX (a PKCS#12 file) and SIGN_PASSWORD in the environment the package is
signed with that certificate; SIGN_TIMESTAMP_URL adds an RFC 3161 time stamp from that server,
and SIGN_CA_FILE names the root certificate(s) that the fresh signature is checked against when
they are not among the system's (a company's own PKI); by default the system's are used.
Without SIGN_PFX a self-signed test certificate is made for this one package with openssl; its
certificate (not its key) is left beside the package as test-signing-certificate.pem, so that
the signature can be checked. Windows does not trust that certificate. The two packages of
`reproduce` are always signed that way: a vendor's key signs only the packages it is meant for.

SIGN_PASSWORD is taken out of this tool's environment as it starts: osslsigncode gets it on its
standard input, and no program the tool starts (osslsigncode included) finds it in its
environment.

Zip entries carry one fixed time (SOURCE_DATE_EPOCH, else the time of the current commit), fixed
permissions and a fixed order, so two packages of one commit differ only in the signature.
"""

import argparse
import datetime
import hashlib
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_docs  # noqa: E402

ROOT = make_docs.ROOT
EXE_NAME = 'NorvaneFwUpdater.exe'
README_NAME = 'README.txt'
SETTINGS_NAME = 'Setting.ini'
SUMS_NAME = 'SHA256SUMS'
TEST_CERT_NAME = 'test-signing-certificate.pem'
SIGN_DESCRIPTION = 'Norvane FW Updater'
TEST_CERT_SUBJECT = '/CN=Norvane FW Updater test signing (not trusted)/O=Norvane'
TEST_CERT_DAYS = 30
ZIP_EPOCH_FLOOR = 315532800   # 1980-01-01, the earliest time a zip entry can hold
FILE_MODE = 0o100644          # a regular file, rw-r--r--
ZIP_FROM_UNIX = 3             # "made by" Unix, so that the mode above is read
COMPRESS_LEVEL = 9
SIGNATURE_ALIGNMENT = 8       # the certificate table starts on an 8-byte boundary

# PE header fields (PE32+).
PE_OFFSET_FIELD = 0x3C
PE32_PLUS = 0x20B
CHECKSUM_IN_OPTIONAL = 64
SECURITY_DIRECTORY_IN_OPTIONAL = 144  # data directory 4: the certificate table
SECTION_HEADER_SIZE = 40
TAMPER_OFFSET_IN_CODE = 0x100


# SIGN_PASSWORD, once main() has taken it out of the environment.
signing_password = ''


def fail(message):
    raise SystemExit('release: ' + message)


def run(command, **kwargs):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kwargs)
    return done.returncode, done.stdout.decode('utf-8', 'replace')


def run_or_fail(command, what, **kwargs):
    code, out = run(command, **kwargs)
    if code != 0:
        fail('%s failed (exit %d):\n%s' % (what, code, out))
    return out


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)


def package_name():
    return 'NorvaneFwUpdater-%s' % make_docs.version()


# ---------------------------------------------------------------------------------------------
# Signing


def make_test_certificate(folder):
    key = os.path.join(folder, 'test-key.pem')
    cert = os.path.join(folder, TEST_CERT_NAME)
    run_or_fail(['openssl', 'req', '-x509', '-newkey', 'rsa:3072', '-sha256', '-nodes',
                 '-days', str(TEST_CERT_DAYS), '-subj', TEST_CERT_SUBJECT,
                 '-addext', 'keyUsage=critical,digitalSignature',
                 '-addext', 'extendedKeyUsage=codeSigning',
                 '-keyout', key, '-out', cert], 'openssl (test certificate)')
    return key, cert


def take_signing_password():
    """Moves SIGN_PASSWORD from the environment, which every program started later inherits, to
    signing_password."""
    global signing_password
    signing_password = os.environ.pop('SIGN_PASSWORD', signing_password)


def sign(unsigned, signed, scratch, vendor=True):
    """Signs UNSIGNED into SIGNED, with SIGN_PFX when VENDOR and it is set, else with a
    throwaway test certificate; returns the test certificate's path, or None."""
    command = ['osslsigncode', 'sign', '-h', 'sha256', '-n', SIGN_DESCRIPTION]
    pfx = os.environ.get('SIGN_PFX', '') if vendor else ''
    test_cert = None
    password = None
    if pfx:
        if not os.path.isfile(pfx):
            fail('SIGN_PFX names no file: %s' % pfx)
        # The password goes through standard input, never onto a command line.
        command += ['-pkcs12', pfx, '-readpass', '-']
        password = signing_password.encode('utf-8')
        print('release: signing with %s' % pfx)
    else:
        key, test_cert = make_test_certificate(scratch)
        command += ['-certs', test_cert, '-key', key]
        print('release: SIGN_PFX is not set: signing with a throwaway self-signed TEST '
              'certificate made for this build. Windows does not trust it; sign a package for '
              'customers with your own certificate (docs/development.md, "Releases").')
    timestamp_url = os.environ.get('SIGN_TIMESTAMP_URL', '') if vendor else ''
    if timestamp_url:
        command += ['-ts', timestamp_url]
        print('release: time stamp from %s' % timestamp_url)
    command += ['-in', unsigned, '-out', signed]
    done = subprocess.run(command, input=password, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    if done.returncode != 0:
        fail('osslsigncode sign failed:\n%s' % done.stdout.decode('utf-8', 'replace'))
    return test_cert


def verify(exe, cert):
    command = ['osslsigncode', 'verify', '-in', exe]
    if cert:
        command += ['-CAfile', cert]
    return run(command)


# ---------------------------------------------------------------------------------------------
# PE layout


def pe_optional_header(data):
    pe = struct.unpack_from('<I', data, PE_OFFSET_FIELD)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        fail('not a PE file')
    optional = pe + 24
    if struct.unpack_from('<H', data, optional)[0] != PE32_PLUS:
        fail('not PE32+')
    return pe, optional


def code_offset(data):
    """File offset of the first code section's bytes."""
    pe, optional = pe_optional_header(data)
    sections, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
    table = optional + optional_size
    for i in range(sections):
        header = table + i * SECTION_HEADER_SIZE
        name = data[header:header + 8].rstrip(b'\0')
        raw_pointer = struct.unpack_from('<I', data, header + 20)[0]
        if name == b'.text':
            return raw_pointer
    fail('no .text section')
    return 0


def without_signature(data):
    """The exe with its certificate table cut off and the fields that signing sets cleared."""
    _pe, optional = pe_optional_header(data)
    out = bytearray(data)
    offset, _size = struct.unpack_from('<II', data, optional + SECURITY_DIRECTORY_IN_OPTIONAL)
    if offset:
        del out[offset:]
    struct.pack_into('<II', out, optional + SECURITY_DIRECTORY_IN_OPTIONAL, 0, 0)
    struct.pack_into('<I', out, optional + CHECKSUM_IN_OPTIONAL, 0)
    return bytes(out)


def unsigned_as_signed(data):
    """An unsigned exe as signing leaves it before the certificate table: padded to 8 bytes."""
    stripped = without_signature(data)
    return stripped + b'\0' * (-len(stripped) % SIGNATURE_ALIGNMENT)


# ---------------------------------------------------------------------------------------------
# Package


def zip_time(date):
    stamp = max(int(date), ZIP_EPOCH_FLOOR)
    return datetime.datetime.fromtimestamp(stamp, datetime.timezone.utc).timetuple()[:6]


def source_date():
    if os.environ.get('SOURCE_DATE_EPOCH', '').isdigit():
        return int(os.environ['SOURCE_DATE_EPOCH'])
    code, out = run(['git', '-C', ROOT, 'log', '-1', '--format=%ct'])
    if code == 0 and out.strip().isdigit():
        return int(out.strip())
    return ZIP_EPOCH_FLOOR


def write_zip(path, folder, entries, date):
    """entries: (name, bytes) in the order they are stored."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w') as archive:
        for name, data in entries:
            info = zipfile.ZipInfo('%s/%s' % (folder, name), date_time=zip_time(date))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = ZIP_FROM_UNIX
            info.external_attr = FILE_MODE << 16
            archive.writestr(info, data, compresslevel=COMPRESS_LEVEL)
    write(path, buffer.getvalue())


def sums_text(entries):
    return ''.join('%s  %s\n' % (sha256(data), name) for name, data in entries).encode('ascii')


def package(exe, out, date, vendor=True):
    os.makedirs(out, exist_ok=True)
    name = package_name()
    data = make_docs.load_data()
    with tempfile.TemporaryDirectory(prefix='norvane-sign-') as scratch:
        signed_path = os.path.join(scratch, EXE_NAME)
        test_cert = sign(exe, signed_path, scratch, vendor)
        code, output = verify(signed_path, test_cert or os.environ.get('SIGN_CA_FILE'))
        if code != 0:
            fail('the fresh signature does not verify:\n%s' % output)
        cert_beside = os.path.join(out, TEST_CERT_NAME)
        if test_cert:
            shutil.copyfile(test_cert, cert_beside)
        elif os.path.exists(cert_beside):
            os.remove(cert_beside)  # a test certificate of an earlier build says nothing here
        files = [(EXE_NAME, read(signed_path)),
                 (README_NAME, make_docs.render_readme(data)),
                 (SETTINGS_NAME, make_docs.render_setting_ini(data))]
    files.append((SUMS_NAME, sums_text(files)))
    path = os.path.join(out, name + '.zip')
    write_zip(path, name, files, date)
    print('release: %s (%d bytes, exe SHA-256 %s before signing)' %
          (path, os.path.getsize(path), sha256(read(exe))))
    return path


# ---------------------------------------------------------------------------------------------
# Checks


def zip_entries(path):
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        return infos, {info.filename: archive.read(info) for info in infos}


def check_texts(files, folder, data):
    readme = files[folder + README_NAME]
    lines = readme.split(b'\r\n')
    if lines[-1] != b'' or any(b'\n' in line or b'\r' in line for line in lines):
        fail('README.txt does not end every line with CR LF')
    if len(lines) - 1 > make_docs.README_MAX_LINES:
        fail('README.txt has %d lines' % (len(lines) - 1))
    text = readme.decode('ascii')
    wanted = ['"/S" in capitals is NOT', 'inside another word counts', 'RECOVERY']
    wanted += [str(c['code']) for c in data['exit_codes']]
    wanted += ['%s  %s' % (s['key'].ljust(8), s['default']) for s in data['settings']]
    for line in data['log_lines']:
        wanted += make_docs.shown(line)
    missing = [w for w in wanted if w not in text]
    if missing:
        fail('README.txt lacks %r' % missing)
    settings = files[folder + SETTINGS_NAME].decode('ascii')
    expected = '[Setting]\r\n' + ''.join('%s=%s\r\n' % (s['key'], s['default'])
                                         for s in data['settings'])
    if settings != expected:
        fail('Setting.ini is %r, expected %r' % (settings, expected))


def check_sums(files, folder):
    lines = files[folder + SUMS_NAME].decode('ascii').splitlines()
    listed = {}
    for line in lines:
        digest, name = line.split('  ', 1)
        listed[name] = digest
    expected = {name: sha256(files[folder + name]) for name in (EXE_NAME, README_NAME,
                                                                SETTINGS_NAME)}
    if listed != expected:
        fail('SHA256SUMS lists %r, the files are %r' % (listed, expected))


def check_signature(exe_data, cert):
    with tempfile.TemporaryDirectory(prefix='norvane-verify-') as scratch:
        exe = os.path.join(scratch, EXE_NAME)
        write(exe, exe_data)
        code, output = verify(exe, cert)
        if code != 0:
            fail('the signature does not verify:\n%s' % output)
        altered = bytearray(exe_data)
        altered[code_offset(exe_data) + TAMPER_OFFSET_IN_CODE] ^= 0xFF
        write(exe, bytes(altered))
        code, output = verify(exe, cert)
        if code == 0:
            fail('the signature still verifies with one byte of code altered:\n%s' % output)


def check_log_texts(exe_data, data):
    """Every log text of the reference is in the program as it writes it (UTF-16)."""
    missing = [line['text'] for line in data['log_lines']
               if line['text'].encode('utf-16-le') not in exe_data]
    if missing:
        fail('the exe holds none of these log texts of docs/reference-data.json: %r' % missing)


def check(path, cert=None, unsigned=None):
    cert = cert or os.environ.get('SIGN_CA_FILE') or None
    data = make_docs.load_data()
    folder = package_name() + '/'
    infos, files = zip_entries(path)
    names = [info.filename for info in infos]
    expected = [folder + n for n in (EXE_NAME, README_NAME, SETTINGS_NAME, SUMS_NAME)]
    if names != expected:
        fail('entries %r, expected %r' % (names, expected))
    stamps = {(info.date_time, info.external_attr, info.create_system) for info in infos}
    if len(stamps) != 1:
        fail('entries differ in time or permissions: %r' % stamps)
    check_texts(files, folder, data)
    check_sums(files, folder)
    exe_data = files[folder + EXE_NAME]
    check_signature(exe_data, cert)
    check_log_texts(exe_data, data)
    if unsigned is not None and without_signature(exe_data) != unsigned_as_signed(read(unsigned)):
        fail('the packaged exe is not %s plus a signature' % unsigned)
    print('release: %s checked: %d entries, signature verified, an altered byte breaks it' %
          (path, len(names)))


def compare(first, second):
    infos_a, files_a = zip_entries(first)
    infos_b, files_b = zip_entries(second)
    layout = [[(i.filename, i.date_time, i.external_attr, i.compress_type) for i in infos]
              for infos in (infos_a, infos_b)]
    if layout[0] != layout[1]:
        fail('the packages hold different entries: %r / %r' % tuple(layout))
    for name in files_a:
        if name.endswith('/' + EXE_NAME):
            same = without_signature(files_a[name]) == without_signature(files_b[name])
        elif name.endswith('/' + SUMS_NAME):
            continue  # a sum over the signed exe; the other sums are compared with the files
        else:
            same = files_a[name] == files_b[name]
        if not same:
            fail('%s differs between %s and %s' % (name, first, second))
    print('release: the two packages are the same apart from the signature')


# ---------------------------------------------------------------------------------------------
# Reproducing


def tracked_files():
    out = run_or_fail(['git', '-C', ROOT, 'ls-files', '-z'], 'git ls-files')
    return [name for name in out.split('\0') if name]


def copy_tree(destination):
    for name in tracked_files():
        source = os.path.join(ROOT, name)
        if os.path.isfile(source):  # a tracked file deleted in the work tree is not built
            target = os.path.join(destination, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(source, target)


def build_exe(source):
    build = os.path.join(source, 'build', 'windows')
    print('release: building %s' % build)
    sys.stdout.flush()
    run_or_fail(['cmake', '-S', source, '-B', build,
                 '-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake',
                 '-DCMAKE_BUILD_TYPE=Release', '-DNORVANE_WINE_TEST_TOOLS=OFF',
                 '-DNORVANE_WINE_VDEV=OFF'], 'cmake configure', cwd=source)
    run_or_fail(['cmake', '--build', build, '-j', str(os.cpu_count() or 1), '--target',
                 'NorvaneFwUpdater'], 'cmake build', cwd=source)
    return os.path.join(build, EXE_NAME)


def reproduce(work):
    work = os.path.abspath(work)
    shutil.rmtree(work, ignore_errors=True)
    # Two folders whose paths differ in name and depth, as two machines' checkouts would.
    sources = [os.path.join(work, 'first'), os.path.join(work, 'second', 'checkout', 'src')]
    date = source_date()
    exes, packages = [], []
    for source in sources:
        copy_tree(source)
        exes.append(build_exe(source))
    digests = [sha256(read(exe)) for exe in exes]
    for exe, digest in zip(exes, digests):
        print('release: %s  %s' % (digest, exe))
    if digests[0] != digests[1]:
        fail('the two builds differ: the build is not reproducible')
    print('release: the two builds are byte-identical')
    for source, exe in zip(sources, exes):
        out = os.path.join(source, 'build', 'release')
        path = package(exe, out, date, vendor=False)
        check(path, os.path.join(out, TEST_CERT_NAME), exe)
        packages.append(path)
    compare(packages[0], packages[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest='command', required=True)
    p = commands.add_parser('package')
    p.add_argument('--exe', required=True)
    p.add_argument('--out', required=True)
    p.add_argument('--date', type=int, default=None)
    c = commands.add_parser('check')
    c.add_argument('zip')
    c.add_argument('--cert')
    c.add_argument('--unsigned')
    m = commands.add_parser('compare')
    m.add_argument('zips', nargs=2)
    r = commands.add_parser('reproduce')
    r.add_argument('--work', required=True)
    options = parser.parse_args()
    take_signing_password()
    if options.command == 'package':
        package(options.exe, options.out,
                source_date() if options.date is None else options.date)
    elif options.command == 'check':
        check(options.zip, options.cert, options.unsigned)
    elif options.command == 'compare':
        compare(*options.zips)
    else:
        reproduce(options.work)
    return 0


if __name__ == '__main__':
    sys.exit(main())
