// The device link: the two vendor collections of the touchpad controller, bound as the control
// channel (single byte registers) and the data channel (memory blocks).
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

constexpr std::uint16_t kTargetVendorId = 0x044E;
constexpr std::uint16_t kExcludedProductId = 0x1212;
constexpr std::uint16_t kRelaxedHidVersion = 0xFFFF; // status bytes are not examined

struct HidChannel {
    std::wstring path;           // device interface path; empty until a binding sets it
    std::uint8_t report_id;      // byte 0 of every feature report on this channel
    std::uint16_t report_length; // bytes of every feature report, report ID included
    std::int16_t payload_length; // data bytes carried by one transfer
    HANDLE handle;               // open only between an open operation and _close_channels
};

struct DeviceLink {
    HidChannel control;
    HidChannel data;
    std::uint16_t hid_version; // VersionNumber of the last target interface a binding saw
};

extern DeviceLink g_device_link;

// True when a target device is present (with the product filter when PID is set).
bool _find_target_device();
// Binds the control and data channels from every target interface; the last of each kind wins.
void _bind_channels();
// Opens the control channel; on failure the data channel is closed as well.
bool _open_control_channel();
// Opens the control channel, then the data channel.
bool _open_channels();
// Closes both channels.
void _close_channels();
