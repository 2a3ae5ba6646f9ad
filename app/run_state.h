// Everything one run keeps from one step to the next, in one process-wide record. Each folder
// declares its own records by their usual names; those names refer to the members here, so that a
// test starting a new run in the same process resets the whole state in one statement:
//     g_run = RunState{};
#pragma once

#include <cstdint>

#include "app/exit_codes.h"
#include "app/run_options.h"
#include "app/settings.h"
#include "app/updater_lock.h"
#include "device/device_link.h"
#include "device/pause.h"
#include "device/transport.h"
#include "ui/message_pump.h"
#include "ui/session_guard.h"
#include "ui/update_dialog.h"
#include "update/flash_update.h"
#include "update/fw_image.h"
#include "update/identity_checks.h"

namespace norvane {

struct RunState {
    RunOptions run_options{};
    UpdaterLock updater_lock{};
    SettingFlags setting_flags = kDefaultSettingFlags;
    std::uint32_t wait_ms = kDefaultWaitMs;
    FwImage fw_image{};
    std::uint8_t image_bytes[kImageFileSize]{};
    DeviceLink device_link{};
    std::uint8_t request[kMaxReportLength]{};
    std::uint8_t response[kMaxReportLength]{};
    DeviceIdentity device_identity{};
    SavedActiveMode saved_active_mode{};
    std::uint32_t chunk_counter = 0;
    std::uint8_t write_buffer[kMainImageSize]{};
    std::uint8_t read_buffer[kMainImageSize]{};
    int exit_code = kExitFailure;
    UpdateDialogState update_dialog_state{};
    MessagePumpState message_pump{};
    PauseClock pause_clock{};
    SessionGuardState session_guard{};
    // The controller said it runs its firmware (normal mode, read once before the version
    // decision): its version is proven until the flash replaces it.
    bool running_version_proven = false;
    bool record_failure_logged = false;
};

extern RunState g_run;

// The devices this run accepts: with PID in Setting.ini, only those of the image's product.
TargetFilter _target_filter();

} // namespace norvane
