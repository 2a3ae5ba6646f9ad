#!/usr/bin/env python3
"""Turns a recorded wire trace into a reference trace, checking it against the protocol first.

    make_reference.py VARIANT RECORDED.trace > tests/golden/VARIANT.trace

The request list of a silent update is built here from the protocol alone: which register gets
which byte in which order, which reads follow, the WAIT pause after every write and the 1000 ms
after each mode change. Every recorded request must match it byte for byte (report ID, command,
address, value, zero padding, checksum, length) and to the millisecond, and every response must
carry the success status (busy where the erase is still running) and, for block reads, the block
just written. Then the recording is written out with a header and a "## " line before each step.
Exits 1 with the first disagreement.
"""
import sys

CONTROL_ID, DATA_ID = 0x05, 0x06
WRITE, READ, WRITE_BLOCK, READ_BLOCK = 0xD2, 0xD1, 0x80, 0xFF
SUCCESS, BUSY = 0xD7, 0xB1
MODE_WAIT_MS = 1000
UNLOCK_KEY, MODE_CODE, ERASE_ARGUMENT = 0x6D2B94E7, 0x5E1C72A9, 0x00020000
MAIN, MAIN_SIZE = 0x110000, 65536
ACTIVE_MODE = [1, 2, 3, 4]  # the simulated controller's default active-mode bytes

# name: (WAIT, identity checks on, data payload p, busy polls after the erase trigger, what)
VARIANTS = {
    "default": (2, True, 128, 0, "no Setting.ini: every check on, WAIT 2, p = 128"),
    "wait0": (0, True, 128, 0, "Setting.ini WAIT=0: no pause after writes"),
    "wait5": (5, True, 128, 0, "Setting.ini WAIT=5"),
    "checks_off": (2, False, 128, 0, "Setting.ini SYS=0 INFO=0 CONF=0: no identity checks"),
    "payload64": (2, True, 64, 0, "a data channel of 71-byte reports: p = 64, 1024 chunks"),
    "busy_erase": (2, True, 128, 3, "the poll after the erase trigger answers busy 3 times"),
}


def group(address, value, lsb_first=False):
    order = range(4) if lsb_first else range(3, -1, -1)
    return [("W", address + i, (value >> (8 * shift)) & 0xFF) for i, shift in enumerate(order)]


def command(code):
    return group(0xFF8000, code) + [("R", 0xFF8003, code)]


def mode_change(code, status):
    return group(0x80003A, code) + group(0xFF8860, 1) + \
        [("SLEEP", MODE_WAIT_MS), ("R", 0x80002D, status)]


def unlock_and_enable():
    return group(0xFF8008, UNLOCK_KEY) + group(0xFF800C, UNLOCK_KEY, lsb_first=True) + \
        group(0xFF8004, 1)


def protocol_steps(checks, payload, busy):
    steps = []
    if checks:
        steps.append(("_check_system_memory: command 0x07 and its read-back, 512 bytes read",
                      command(0x07) + [("R", 0x100400 + i) for i in range(512)]))
        steps.append(("_check_information_memory: command 0x06 and its read-back, 1024 bytes read",
                      command(0x06) + [("R", 0x100600 + i) for i in range(1024)]))
        steps.append(("_read_configuration: 0x110004 to 0x110007, 0x8000D7, 0x8000D8",
                      [("R", a) for a in (0x110004, 0x110005, 0x110006, 0x110007, 0x8000D7,
                                          0x8000D8)]))
    steps.append(("_get_Fw_version: 0x110002 (major), 0x110003 (minor)",
                  [("R", 0x110002), ("R", 0x110003)]))
    steps.append(("_read_mode_status before the version decision: 0x80002D reads 0x11 "
                  "(normal mode, no interrupted update)", [("R", 0x80002D, 0x11)]))
    steps.append(("_save_active_mode: 0x80003E to 0x800041",
                  [("R", 0x80003E + i) for i in range(4)]))
    steps.append(("_fw_mode_change into update mode: code 0x5E1C72A9, apply, 1000 ms, status 0x10",
                  mode_change(MODE_CODE, 0x10)))
    steps.append(("_clear_memory_segment: unlock, enable, command 0x01, argument 0x00020000, "
                  "poll, trigger, poll, enable off",
                  unlock_and_enable() + command(0x01) + group(0xFF8008, ERASE_ARGUMENT) +
                  [("R", 0xFF8010)] + group(0xFF8010, 1) + [("POLL", busy)] + group(0xFF8004, 0)))
    steps.append(("_check_clear_memory: 0x110000 reads 0xFF", [("R", MAIN, 0xFF)]))
    chunks = []
    for offset in range(0, MAIN_SIZE, payload):
        chunks += [("BW", offset), ("BR", MAIN + offset)]
    steps.append((f"_write_read_memory_segment: unlock, enable, command 0x05, "
                  f"{MAIN_SIZE // payload} chunks of {payload} written at the offset and read "
                  f"back at 0x110000 + offset, enable off",
                  unlock_and_enable() + command(0x05) + chunks + group(0xFF8004, 0)))
    steps.append(("_fw_mode_change back to normal mode: code 0, apply, 1000 ms, status 0x11",
                  mode_change(0, 0x11)))
    steps.append(("_restore_active_mode: 0x80003E to 0x800041 written back",
                  [("W", 0x80003E + i, v) for i, v in enumerate(ACTIVE_MODE)]))
    return steps


class Mismatch(Exception):
    pass


class Checker:
    def __init__(self, lines, wait, payload):
        self.lines, self.at, self.time = lines, 0, 0
        self.wait, self.payload, self.block = wait, payload, None

    def take(self, direction):
        if self.at >= len(self.lines):
            raise Mismatch(f"the recording ends; expected a {direction}")
        line = self.lines[self.at]
        fields = line.split()
        if fields[1] != direction or int(fields[0]) != self.time:
            raise Mismatch(f"line {self.at + 1}: expected {direction} at {self.time} ms: {line}")
        self.at += 1
        return [int(b, 16) for b in fields[2:]]

    def request(self, report_id, cmd, address, data):
        report = self.take("set")
        length = 8 if report_id == CONTROL_ID else self.payload + 7
        expected = [report_id, cmd] + [(address >> (8 * i)) & 0xFF for i in range(4)]
        body = data + [0] * (length - 7 - len(data))
        expected += body
        expected.append((sum(expected) + length + 2) & 0xFF)
        if report != expected:
            raise Mismatch(f"line {self.at}: request differs from the protocol's "
                           f"{' '.join(f'{b:02X}' for b in expected)}")

    def response(self, report_id, status, data=None):
        report = self.take("get")
        if report[0] != report_id or report[1] != status or \
                (data is not None and report[6:6 + len(data)] != data):
            raise Mismatch(f"line {self.at}: unexpected response")

    def run(self, op):
        kind = op[0]
        if kind == "W":
            self.request(CONTROL_ID, WRITE, op[1], [op[2]])
            self.time += self.wait
        elif kind == "R":  # with the value the protocol expects, where it fixes one
            self.request(CONTROL_ID, READ, op[1], [])
            self.response(CONTROL_ID, SUCCESS, [op[2]] if len(op) > 2 else None)
        elif kind == "POLL":
            for status in [BUSY] * op[1] + [SUCCESS]:
                self.request(CONTROL_ID, READ, 0xFF8010, [])
                self.response(CONTROL_ID, status)
        elif kind == "SLEEP":
            self.time += op[1]
        elif kind == "BW":
            report = self.lines[self.at].split()[2:] if self.at < len(self.lines) else []
            self.block = [int(b, 16) for b in report[6:6 + self.payload]]
            self.request(DATA_ID, WRITE_BLOCK, op[1], self.block)
            self.time += self.wait
        elif kind == "BR":
            self.request(DATA_ID, READ_BLOCK, op[1], [])
            self.response(DATA_ID, SUCCESS, self.block)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in VARIANTS:
        sys.exit(f"usage: make_reference.py {{{','.join(VARIANTS)}}} RECORDED.trace")
    name = sys.argv[1]
    wait, checks, payload, busy, what = VARIANTS[name]
    lines = [l.rstrip("\n") for l in open(sys.argv[2]) if l.strip() and not l.startswith("#")]
    checker = Checker(lines, wait, payload)
    out = [
        f"# Reference wire trace \"{name}\": a silent update (/s), {what}.",
        "# Built from the protocol by tests/golden/make_reference.py and checked against it.",
        "# One feature report per line: the virtual time of the call in ms, \"set\" for a request",
        "# (HidD_SetFeature) or \"get\" for a response (HidD_GetFeature), then every byte in hex:",
        "# report ID (05 control, 06 data), command (D2 write, D1 read, 80 block write, FF block",
        "# read) or status (D7), address least significant byte first, payload, checksum.",
        "# A \"## \" line names the protocol step that the lines after it belong to.",
    ]
    try:
        for title, ops in protocol_steps(checks, payload, busy):
            start = checker.at
            for op in ops:
                checker.run(op)
            out.append(f"## {title}")
            out.extend(lines[start:checker.at])
        if checker.at != len(lines):
            raise Mismatch(f"line {checker.at + 1}: more requests than the protocol has")
    except Mismatch as error:
        sys.exit(f"make_reference.py: {name}: {error}")
    print("\n".join(out))


if __name__ == "__main__":
    main()
