// A firmware version as the controller and the image carry it: a major and a minor byte.
#pragma once

#include <cstdint>

namespace norvane {

struct FwVersion {
    std::uint16_t major;
    std::uint16_t minor;
};

// The three values that "%x.%x%x" shows: major, high nibble of minor, low nibble of minor.
constexpr unsigned version_digit_major(const FwVersion& v) {
    return v.major;
}
constexpr unsigned version_digit_minor_high(const FwVersion& v) {
    return (v.minor >> 4) & 0xFu;
}
constexpr unsigned version_digit_minor_low(const FwVersion& v) {
    return v.minor & 0xFu;
}

constexpr unsigned kVersionMajorShift = 8;

// The version as one number, for detection rules: its digits read as one hexadecimal number, so
// 3.08 is 0x308 = 776 and 3.20 is 0x320 = 800 (the minor's two hexadecimal digits, never the
// decimal "20"). Newer versions have larger codes.
constexpr std::uint32_t version_code(const FwVersion& v) {
    return (static_cast<std::uint32_t>(v.major) << kVersionMajorShift) | v.minor;
}

// True when the image version is not higher than the running one (equal counts as not higher).
constexpr bool version_not_newer(const FwVersion& current, const FwVersion& image) {
    return current.major > image.major ||
           (current.major == image.major && current.minor >= image.minor);
}

constexpr std::uint16_t kErasedVersionByte = 0xFF;

// Version bytes of an erased main memory: the controller holds no firmware at all.
constexpr bool version_erased(const FwVersion& v) {
    return v.major == kErasedVersionByte && v.minor == kErasedVersionByte;
}

} // namespace norvane
