#!/usr/bin/env python3
"""Writes the settings and log-line references from their one source, docs/reference-data.json.

    make_docs.py settings-md [--check]     docs/settings.md (or: fail when it is out of date)
    make_docs.py readme OUT                the technician's README.txt (CR LF) for the package
    make_docs.py setting-ini OUT           a Setting.ini with every key at its default (CR LF)
    make_docs.py version                   the program's version, "3.0.0.7"

The README's prose is docs/technician-readme.txt; its @TOKENS@ are filled with the tables here.
Everything is plain ASCII; the outputs depend on nothing but the two input files and the version
in ui/resource_ids.h, so two builds write the same bytes.
"""

import json
import os
import re
import sys
import textwrap

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..'))
DATA = os.path.join(ROOT, 'docs', 'reference-data.json')
README_TEMPLATE = os.path.join(ROOT, 'docs', 'technician-readme.txt')
SETTINGS_MD = os.path.join(ROOT, 'docs', 'settings.md')
RESOURCE_IDS = os.path.join(ROOT, 'ui', 'resource_ids.h')

WIDTH = 100         # the README's widest line
INDENT = '  '       # list items of the README
README_MAX_LINES = 249  # what a technician reads through; the package check holds it there
SETTINGS_SECTION = 'Setting'


def load_data():
    with open(DATA, encoding='utf-8') as f:
        return json.load(f)


def version():
    """The version, "3.0.0.7", from its four numbers in ui/resource_ids.h."""
    with open(RESOURCE_IDS, encoding='utf-8') as f:
        text = f.read()
    numbers = []
    for part in ('MAJOR', 'MINOR', 'PATCH', 'BUILD'):
        match = re.search(r'^#define NORVANE_VERSION_%s (\d+)$' % part, text, re.M)
        if not match:
            raise SystemExit('make_docs: no NORVANE_VERSION_%s in %s' % (part, RESOURCE_IDS))
        numbers.append(match.group(1))
    return '.'.join(numbers)


def shown(line):
    """A log line as it stands in the log: the example when the text has conversions."""
    return line.get('shown', line['text']).rstrip('\n').split('\n')


def mask_bit(setting):
    bit = setting['bit']
    return 'none' if bit is None else '%d (0x%02X)' % (bit, 1 << bit)


# ---------------------------------------------------------------------------------------------
# README.txt


def wrap(text, first, rest):
    return textwrap.wrap(text, WIDTH, initial_indent=first, subsequent_indent=rest,
                         break_long_words=False, break_on_hyphens=False)


def column_list(rows, key_width):
    """rows of (key, text): the key in a column, the text wrapped beside it."""
    lines = []
    for key, text in rows:
        first = INDENT + key.ljust(key_width) + '  '
        if len(first) > len(INDENT) + key_width + 2:  # a key wider than its column
            lines.append(INDENT + key)
            first = INDENT + ' ' * (key_width + 2)
        lines += wrap(text, first, INDENT + ' ' * (key_width + 2))
    return lines


def bullets(items):
    lines = []
    for item in items:
        lines += wrap(item, INDENT + '- ', INDENT + '  ')
    return lines


def readme_sections(data):
    switches = column_list([(s['switch'], s['effect']) for s in data['switches']], 12)
    codes = column_list([(str(c['code']), c['meaning']) for c in data['exit_codes']], 4)
    settings = [INDENT + 'KEY       DEFAULT  EFFECT WHEN 1 (WAIT: the value)']
    settings += column_list([(s['key'].ljust(8) + '  ' + s['default'], s['effect'])
                             for s in data['settings']], 17)
    log_lines = []
    for line in data['log_lines']:
        for text in shown(line):
            log_lines.append(INDENT + text)
        log_lines += wrap(line['meaning'] + '. Do: ' + line['action'] + '.',
                          INDENT + '    ', INDENT + '    ')
    recovery = []
    for paragraph in data['recovery']:
        recovery += wrap(paragraph, INDENT, INDENT + ('   ' if paragraph[:1].isdigit() else ''))
    return {
        'SWITCHES': switches, 'TRAPS': bullets(data['switch_traps']), 'EXIT_CODES': codes,
        'SETTINGS': settings, 'SETTINGS_RULES': bullets(data['settings_rules']),
        'LOG_LINES': log_lines, 'RECOVERY': recovery, 'DEPLOYMENT': deployment_lines(data),
    }


SAMPLE_NOTE = 'a sample our tests do not run'


def code_examples(deployment, columns=3):
    """The version code's examples, COLUMNS to a line: "3.08 -> 0x308 = 776"."""
    cells = ['%s -> %s = %s' % tuple(example) for example in deployment['code_examples']]
    return [INDENT + '  ' + '    '.join(cell.ljust(20) for cell in cells[i:i + columns]).rstrip()
            for i in range(0, len(cells), columns)]


def deployment_lines(data):
    """The deployment section: command, return codes, restarts, the detection record, its code,
    the rule and the samples."""
    deployment = data['deployment']
    lines = [INDENT + 'Command line:  ' + deployment['command'], '',
             INDENT + 'Return codes of an Application (ConfigMgr) or a Win32 app (Intune):']
    lines += column_list([(str(c['code']), c['type']) for c in deployment['return_codes']], 4)
    lines += wrap(deployment['legacy'], INDENT, INDENT)
    lines += [''] + wrap(deployment['restart'], INDENT, INDENT)
    lines += ['', INDENT + 'Detection record:']
    lines += bullets(deployment['record'])
    lines += wrap(deployment['code'], INDENT, INDENT) + code_examples(deployment)
    lines += ['', INDENT + 'Detection rule:']
    lines += wrap(deployment['rule'], INDENT + '  ', INDENT + '  ')
    lines += ['', INDENT + 'Detection script (PowerShell, %s; exits 0, prints when detected):' %
              SAMPLE_NOTE]
    lines += [INDENT + '  ' + line for line in deployment['script']]
    lines += ['', INDENT + 'Requirement script (PowerShell, %s):' % SAMPLE_NOTE]
    lines += [INDENT + '  ' + line for line in deployment['requirement']]
    lines += bullets(deployment['notes'])
    return lines


def render_readme(data):
    title = 'Norvane FW Updater %s' % version()
    sections = readme_sections(data)
    sections['TITLE'] = [title, '=' * len(title)]
    with open(README_TEMPLATE, encoding='ascii') as f:
        template = f.read().splitlines()
    lines = []
    for line in template:
        token = re.fullmatch(r'@([A-Z_]+)@', line)
        if token:
            if token.group(1) not in sections:
                raise SystemExit('make_docs: unknown token %s in %s' % (line, README_TEMPLATE))
            lines += sections[token.group(1)]
        else:
            lines.append(line)
    too_wide = [line for line in lines if len(line) > WIDTH]
    if too_wide:
        raise SystemExit('make_docs: README lines wider than %d: %r' % (WIDTH, too_wide))
    if len(lines) > README_MAX_LINES:
        raise SystemExit('make_docs: README has %d lines, at most %d' %
                         (len(lines), README_MAX_LINES))
    return ''.join(line.rstrip() + '\r\n' for line in lines).encode('ascii')


def render_setting_ini(data):
    lines = ['[%s]' % SETTINGS_SECTION]
    lines += ['%s=%s' % (s['key'], s['default']) for s in data['settings']]
    return ''.join(line + '\r\n' for line in lines).encode('ascii')


# ---------------------------------------------------------------------------------------------
# docs/settings.md


def md_cell(text):
    return text.replace('|', '\\|')


def md_code(text):
    """A program text in a table cell: line feeds shown as \\n."""
    return '`' + md_cell(text.replace('\n', '\\n')) + '`'


def render_settings_md(data):
    out = [
        '# Settings and log lines',
        '',
        '<!-- Written by release/make_docs.py from docs/reference-data.json; edit those. -->',
        '',
        'The same facts as the technician\'s `README.txt` of the release package (`make release`),',
        'for developers. Both are generated from `docs/reference-data.json`, so they cannot drift;',
        '`make release-check` fails when this file is out of date',
        '(`python3 release/make_docs.py settings-md` rewrites it).',
        '',
        '## Setting.ini',
        '',
        'Section `[%s]` of `Setting.ini` in the current directory, read once at the start of the'
        % SETTINGS_SECTION,
        'run (`app/settings.cpp`). The mask bits form `g_setting_flags`; `WAIT` is `g_wait_ms`.',
        '',
        '| key | mask bit | default | effect |',
        '|---|---|---|---|',
    ]
    for s in data['settings']:
        out.append('| `%s` | %s | %s | %s |' % (s['key'], mask_bit(s), s['default'],
                                               md_cell(s['effect'])))
    out += ['', 'Parsing rules (`docs/profile-parsing.md` has the full table):', '']
    out += ['- ' + md_cell(rule) for rule in data['settings_rules']]
    out += ['', '## Command line', '', '| switch | effect |', '|---|---|']
    out += ['| `%s` | %s |' % (s['switch'], md_cell(s['effect'])) for s in data['switches']]
    out += ['', 'Traps a technician meets:', '']
    out += ['- ' + md_cell(trap) for trap in data['switch_traps']]
    out += ['', '## Exit codes', '', '| code | meaning |', '|---|---|']
    out += ['| %d | %s |' % (c['code'], md_cell(c['meaning'])) for c in data['exit_codes']]
    out += ['', '## Log lines', '',
            'Every entry the program writes to the run log, in the order a run can write them. The',
            'text is the program\'s format string, byte for byte (`\\n` is a line feed, stored as CR',
            'LF in the log).', '',
            '| text | as logged | meaning | what to do |', '|---|---|---|---|']
    for line in data['log_lines']:
        out.append('| %s | %s | %s | %s |' % (md_code(line['text']),
                                             md_code('\n'.join(shown(line))),
                                             md_cell(line['meaning']), md_cell(line['action'])))
    deployment = data['deployment']
    out += ['', '## Deployment (ConfigMgr, Intune, scripts)', '', 'Command line:', '', '```',
            deployment['command'], '```', '',
            '| return code | code type to enter (Application, Win32 app) |', '|---|---|']
    out += ['| %d | %s |' % (c['code'], md_cell(c['type'])) for c in deployment['return_codes']]
    out += ['', md_cell(deployment['legacy']), '', md_cell(deployment['restart']), '',
            'Detection record:', '']
    out += ['- ' + md_cell(item) for item in deployment['record']]
    out += ['', md_cell(deployment['code']), '', '| version | hexadecimal | FirmwareVersionCode |',
            '|---|---|---|']
    out += ['| %s | %s | %s |' % tuple(example) for example in deployment['code_examples']]
    out += ['', 'Detection rule: ' + md_cell(deployment['rule']), '',
            'Detection script (PowerShell, %s; exits 0, prints when detected):' % SAMPLE_NOTE,
            '', '```powershell'] + deployment['script'] + ['```', '',
            'Requirement script (PowerShell, %s):' % SAMPLE_NOTE, '',
            '```powershell'] + deployment['requirement'] + ['```', '']
    out += ['- ' + md_cell(note) for note in deployment['notes']]
    out += ['', '## Recovery after a failed update', '']
    out += [md_cell(paragraph) + '\n' if not paragraph[:1].isdigit() else md_cell(paragraph)
            for paragraph in data['recovery']]
    return ('\n'.join(out).rstrip('\n') + '\n').encode('utf-8')


# ---------------------------------------------------------------------------------------------


def write(path, data):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def main(argv):
    if len(argv) >= 2 and argv[1] == 'settings-md' and argv[2:] in ([], ['--check']):
        wanted = render_settings_md(load_data())
        if argv[2:] == ['--check']:
            with open(SETTINGS_MD, 'rb') as f:
                if f.read() != wanted:
                    print('docs/settings.md is out of date: run '
                          'python3 release/make_docs.py settings-md')
                    return 1
            print('docs/settings.md is up to date')
            return 0
        write(SETTINGS_MD, wanted)
        return 0
    if len(argv) == 3 and argv[1] == 'readme':
        write(argv[2], render_readme(load_data()))
        return 0
    if argv[1:] == ['version']:
        print(version())
        return 0
    if len(argv) == 3 and argv[1] == 'setting-ini':
        write(argv[2], render_setting_ini(load_data()))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
