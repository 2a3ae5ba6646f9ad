// System and information memory are read one byte per request after their command, and compared
// with the image's expected bytes under its masks only once every byte is in and the channels are
// closed.
#include "update/identity_checks.h"

#include <cstring>

#include "device/device_link.h"
#include "device/register_access.h"
#include "device/transport.h"
#include "update/fw_image.h"

namespace norvane {

namespace {

struct MemoryCheck {
    std::uint8_t command;
    DeviceAddress base;
    std::size_t bytes_read;
    std::size_t positions_compared;
    const std::uint8_t* expected;
    const std::uint8_t* mask;
};

// Reads the memory into `buffer`; false on a failed command or read. Channels stay open.
bool read_memory(const MemoryCheck& check, std::uint8_t* buffer) {
    if (!_issue_command(check.command, false)) {
        return false;
    }
    for (std::size_t i = 0; i < check.bytes_read; ++i) {
        if (!_read_register_byte(check.base + static_cast<DeviceAddress>(i), buffer[i])) {
            return false;
        }
    }
    return true;
}

// A nonzero mask byte demands the whole byte; an image that masks every position fails.
bool masked_equal(const MemoryCheck& check, const std::uint8_t* read) {
    bool compared = false;
    for (std::size_t i = 0; i < check.positions_compared; ++i) {
        if (check.mask[i] == 0) {
            continue;
        }
        if (check.expected[i] != read[i]) {
            return false;
        }
        compared = true;
    }
    return compared;
}

bool run_memory_check(const MemoryCheck& check) {
    if (!_open_control_channel()) {
        return false;
    }
    std::uint8_t read[kInformationMemorySize];
    std::memset(read, 0, sizeof(read));
    const bool complete = read_memory(check, read);
    _close_channels();
    return complete && masked_equal(check, read);
}

} // namespace

bool _check_system_memory() {
    const MemoryCheck check{kCommandSystem,          kSystemMemory,
                            kSystemMemorySize,       kSystemPositionsCompared,
                            g_fw_image.system_block, g_fw_image.system_block + kSystemMemorySize};
    return run_memory_check(check);
}

bool _check_information_memory() {
    const MemoryCheck check{
        kCommandInformation,          kInformationMemory,
        kInformationMemorySize,       kInformationMemorySize,
        g_fw_image.information_block, g_fw_image.information_block + kInformationMemorySize};
    return run_memory_check(check);
}

bool _read_configuration() {
    if (!_open_control_channel()) {
        return false;
    }
    // Every read is attempted whatever the earlier ones did; only the configuration version is
    // kept, the others count towards the result.
    bool any = false;
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (_read_register_byte(kConfigWordHigh, high) && _read_register_byte(kConfigWordLow, low)) {
        any = true;
    }
    std::uint8_t ignored = 0;
    any = _read_register_byte(kConfigByteA, ignored) || any;
    any = _read_register_byte(kConfigByteB, ignored) || any;
    std::uint8_t config = 0;
    if (_read_register_byte(kConfigVersionRegister, config)) {
        g_device_identity.config_version = config;
        any = true;
    }
    any = _read_register_byte(kConfigExtraRegister, ignored) || any;
    _close_channels();
    return any;
}

bool _get_Fw_version() {
    if (!_open_control_channel()) {
        return false;
    }
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    if (!_read_register_byte(kFirmwareVersionMajor, major)) {
        _close_channels();
        return false;
    }
    g_device_identity.current_version.major = major;
    if (!_read_register_byte(kFirmwareVersionMinor, minor)) {
        _close_channels();
        return false;
    }
    g_device_identity.current_version.minor = minor;
    _close_channels();
    return true;
}

bool _read_mode_status(std::uint8_t& status) {
    status = 0;
    if (!_open_control_channel()) {
        return false;
    }
    const bool read = _read_register_byte(kModeStatusRegister, status);
    _close_channels();
    return read;
}

} // namespace norvane
