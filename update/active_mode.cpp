// The controller's four active-mode bytes survive the update: saved before it, written back after.
#include <cstdint>

#include "device/device_link.h"
#include "device/transport.h"
#include "update/flash_update.h"

namespace norvane {

bool _save_active_mode() {
    if (!_open_control_channel()) {
        return false;
    }
    std::size_t count = 0;
    while (count < kActiveModeByteCount) {
        std::uint8_t value = 0;
        if (!_read_register_byte(kActiveModeBytes + static_cast<DeviceAddress>(count), value)) {
            break;
        }
        g_saved_active_mode.bytes[count++] = value;
    }
    g_saved_active_mode.count = count;
    _close_channels();
    return count == kActiveModeByteCount;
}

// Only the bytes that were read go back: a byte that was never read is never written, so a
// failed save cannot put zeros into the controller's mode.
bool _restore_active_mode() {
    if (!_open_control_channel()) {
        return false;
    }
    bool written = true;
    for (std::size_t i = 0; i < g_saved_active_mode.count; ++i) {
        if (!_write_register_byte(kActiveModeBytes + static_cast<DeviceAddress>(i),
                                  g_saved_active_mode.bytes[i])) {
            written = false;
            break;
        }
    }
    _close_channels();
    return written;
}

} // namespace norvane
