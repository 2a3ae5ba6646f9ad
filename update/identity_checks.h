// Read-only checks that the controller is the one the image was built for, and its version.
#pragma once

#include <cstdint>

#include "update/fw_version.h"

namespace norvane {

struct DeviceIdentity {
    std::uint16_t config_version; // set only when its read succeeds
    FwVersion current_version;
};

extern DeviceIdentity& g_device_identity; // part of the run's state

constexpr std::size_t kSystemPositionsCompared = 488; // the last 24 bytes read are never compared

bool _check_system_memory();
bool _check_information_memory();
bool _read_configuration();
bool _get_Fw_version();
// Reads the mode status register once: 0x10 means the controller is still in firmware-update mode,
// where an interrupted update left it.
bool _read_mode_status(std::uint8_t& status);

} // namespace norvane
