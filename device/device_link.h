// The device link: the two vendor collections of the touchpad controller, bound as the control
// channel (single byte registers) and the data channel (memory blocks).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace norvane {

constexpr std::uint16_t kRelaxedHidVersion = 0xFFFF; // status bytes are not examined
// The pause after each write that the controller needs unless the run asks for another.
constexpr std::uint32_t kDefaultWritePauseMs = 2;

// Which devices of the vendor discovery accepts: with `match_product`, only those of `product_id`.
struct TargetFilter {
    bool match_product;
    std::uint16_t product_id;
};

struct HidChannel {
    std::wstring path;                    // device interface path; empty until a binding sets it
    std::uint8_t report_id;               // byte 0 of every feature report on this channel
    std::uint16_t report_length;          // bytes of every feature report, report ID included
    std::int16_t payload_length;          // data bytes carried by one transfer
    HANDLE handle = INVALID_HANDLE_VALUE; // open only from an open operation to _close_channels
};

struct DeviceLink {
    HidChannel control;
    HidChannel data;
    std::uint16_t hid_version; // VersionNumber of the chosen device, as its binding saw it
    // The device discovery chose: its instance (shared by all its collections) and the interface
    // path it was found by. Empty until a find succeeds.
    std::wstring target_instance;
    std::wstring target_path;
    // Devices that passed discovery's filter at the last binding, the chosen one included.
    int targets_seen = 0;
    // The device instances counted there; only filled while a binding walks the interfaces.
    std::vector<std::wstring> seen_targets;
    TargetFilter filter{}; // the filter of the last find, which later bindings count with
    // Milliseconds of pause after each write to the controller.
    std::uint32_t write_pause_ms = kDefaultWritePauseMs;
};

// Part of the run's state (the application holds it).
extern DeviceLink& g_device_link;

// True when a device that passes `filter` is present; the first in enumeration order becomes the
// chosen device.
bool _find_target_device(const TargetFilter& filter);
// Binds the control and data channels from the collections of the chosen device only. A channel
// of another device is never kept; one of the chosen device that is not seen again keeps its
// earlier binding, whose open fails when the device is gone.
void _bind_channels();
// Opens the control channel; on failure the data channel is closed as well.
bool _open_control_channel();
// Opens the control channel, then the data channel.
bool _open_channels();
// Closes both channels.
void _close_channels();

} // namespace norvane
