// Register operations built on the transfers: 32-bit groups written byte by byte, commands with
// read-back, and the ready poll.
#include "device/register_access.h"

#include "device/internal.h"
#include "device/transport.h"

namespace norvane {

namespace {

constexpr int kPollPasses = 3;
constexpr int kPollReadsPerPass = 100;

// A group takes its value most significant byte first. File-local, it keeps its operation's name
// (docs/architecture.md, "Names").
bool _write_register_group(DeviceAddress address, std::uint32_t value) {
    for (DeviceAddress i = 0; i < kWordBytes; ++i) {
        if (!_write_register_byte(address + i, word_byte(value, kWordBytes - 1 - i))) {
            return false; // the bytes already written stay written
        }
    }
    return true;
}

} // namespace

bool _issue_command(std::uint8_t base, bool flag) {
    const std::uint8_t code = flag ? static_cast<std::uint8_t>(base | kCommandFlag) : base;
    if (!_write_register_group(kCommandRegister, code)) {
        return false;
    }
    // Only the byte read back counts: a response with a bad status but the right code still
    // confirms the command, and no response at all leaves 0.
    std::uint8_t read_back = 0;
    _read_register_byte(kCommandReadBack, read_back);
    return read_back == code;
}

bool _poll_ready() {
    for (int pass = 0; pass < kPollPasses; ++pass) {
        for (int read = 0; read < kPollReadsPerPass; ++read) {
            std::uint8_t ignored = 0;
            if (_read_register_byte(kTriggerRegister, ignored)) {
                return true;
            }
        }
    }
    return false;
}

bool _set_access_enable(bool on) {
    return _write_register_group(kEnableRegister, on ? kRegisterOn : kRegisterOff);
}

bool _write_argument_register(std::uint32_t value) {
    return _write_register_group(kArgumentRegister, value);
}

// The key register takes the key least significant byte first, unlike every other group.
bool _write_unlock_key() {
    for (DeviceAddress i = 0; i < kWordBytes; ++i) {
        if (!_write_register_byte(kKeyRegister + i, word_byte(kUnlockKey, i))) {
            return false;
        }
    }
    return true;
}

bool _trigger_operation() {
    return _write_register_group(kTriggerRegister, kRegisterOn);
}

bool _apply_mode_change() {
    return _write_register_group(kModeApplyRegister, kRegisterOn);
}

bool _write_mode_change_code(std::uint32_t value) {
    return _write_register_group(kModeChangeRegister, value);
}

} // namespace norvane
