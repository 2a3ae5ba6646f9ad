// The device part of a simulator scenario: the mouse-interface devices with their hardware IDs and
// the HID devices with their collections, controllers and fault rules, read from the scenario's
// "mouse_devices" and "devices" keys. Every other top-level key is left to the scenario loader.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "sim/simulated_pc.h"

namespace norvane {
struct FwImage;
}
using norvane::FwImage;

namespace sim {

constexpr std::uint16_t kDefaultVendorId = 0x044E;
constexpr std::uint16_t kDefaultVersionNumber = 0x0100;
constexpr std::uint8_t kDefaultControlReportId = 5;
constexpr std::uint16_t kDefaultControlReportCount = 7;
constexpr std::uint8_t kDefaultDataReportId = 6;
constexpr std::uint16_t kDefaultDataReportCount = 134;

// Fills pc.mouse_devices and pc.devices from the scenario (both replaced). `image` is the firmware
// image the run will find, or null when there is none; defaults are derived from it. False with a
// message naming the offending key when the scenario is malformed; pc is then left unchanged.
bool load_device_scenario(const nlohmann::json& scenario, const FwImage* image, SimulatedPc& pc,
                          std::string& error);

// The controller that matches the image: memories as the image expects, its configuration
// version, and the firmware version one below the image's.
ControllerConfig default_controller_config(const FwImage* image);

// The device a scenario without "devices" has: vendor 0x044E, the image's product ID, version
// 0x0100, a control collection (0xFF01, report ID 5, 7 values) and a data collection (0xFF02,
// report ID 6, 134 values), and the default controller.
SimDevice default_device(const FwImage* image);

// Parses a firmware version as the system shows it: major in hex digits, '.', minor as two hex
// digits ("3.07" is major 3, minor 0x07).
bool parse_firmware_version(const std::string& text, std::uint8_t& major, std::uint8_t& minor);

} // namespace sim
