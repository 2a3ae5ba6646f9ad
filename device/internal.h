// What the device link's own files share, and what its tests look at directly. Nothing outside
// device/ and the tests includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/address_map.h"
#include "platform/win32.h"

namespace norvane {

// An address, and every register group, is four bytes.
constexpr std::size_t kWordBytes = 4;
constexpr std::size_t kBitsPerByte = 8;

// Byte `index` of a 32-bit value, counted from the least significant byte.
constexpr std::uint8_t word_byte(std::uint32_t value, std::size_t index) {
    return static_cast<std::uint8_t>(value >> (index * kBitsPerByte));
}

// Opens a HID collection for feature reports: access 0, so that the handle serves attribute
// queries and feature reports only and opens even while another program holds the collection for
// reading or writing. INVALID_HANDLE_VALUE, the one "no handle" of the device link, when it cannot.
HANDLE _open_collection(const wchar_t* path);

// The device an interface path belongs to, the same for every top-level collection of one device.
std::wstring _device_instance_of(const wchar_t* path);

// Builds a request of `length` bytes; payload may be null (zeros). The checksum counts the whole
// report but its last byte, plus the length and 2.
void _build_request(std::uint8_t* report, std::uint16_t length, std::uint8_t report_id,
                    std::uint8_t command, DeviceAddress address, const std::uint8_t* payload,
                    std::size_t payload_length);

} // namespace norvane
