// Setting.ini: switches for the pre-flight checks and the pause after each write to the controller.
#pragma once

#include <cstdint>

#include "device/device_link.h"

namespace norvane {

using SettingFlags = std::uint32_t;

constexpr SettingFlags kSettingAc = 0x01;       // refuse to run on battery
constexpr SettingFlags kSettingPid = 0x02;      // discovery accepts only the image's product ID
constexpr SettingFlags kSettingSys = 0x04;      // compare system memory
constexpr SettingFlags kSettingInfo = 0x08;     // compare information memory
constexpr SettingFlags kSettingConf = 0x10;     // compare the configuration version
constexpr SettingFlags kSettingRollback = 0x20; // refuse an image that is not newer
constexpr SettingFlags kSettingPnpId = 0x40;    // the touchpad PnP ID must be an accepted one
constexpr SettingFlags kDefaultSettingFlags = 0x3F;
constexpr std::uint32_t kDefaultWaitMs = kDefaultWritePauseMs;
// The longest pause after a write that the controller could plausibly need. A full update makes
// about 700 writes, so even this bound stretches it to some twelve minutes; a larger value is a
// typing error (WAIT=-1 reads as 4294967295, a pause without end) and fails the run.
constexpr std::uint32_t kMaxWaitMs = 1000;

// Part of the run's state.
extern SettingFlags& g_setting_flags;
// Milliseconds of pause after each write to the controller, the key WAIT. Part of the run's state.
extern std::uint32_t& g_wait_ms;

// Reads Setting.ini of the current directory into `flags` and g_wait_ms; without the file, the
// defaults. False when the file is there but cannot be read (its full path does not fit, another
// program holds it without sharing, no access, a folder of that name), so that its checks are
// never silently dropped; `flags` and g_wait_ms then keep the defaults. A WAIT that does not fit
// 32 bits reads as the largest pause of all.
bool _load_settings(SettingFlags& flags);

} // namespace norvane
