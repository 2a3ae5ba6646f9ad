// The program's entry point and the whole order of one run. The first failing step ends the run
// with 1603; nothing is retried and nothing is rolled back.
#include "app/exit_codes.h"
#include "app/run_log.h"
#include "app/run_options.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "device/address_map.h"
#include "device/device_link.h"
#include "platform/win32.h"
#include "target/touchpad_pnp_id.h"
#include "ui/message_boxes.h"
#include "ui/update_dialog.h"
#include "update/flash_update.h"
#include "update/fw_image.h"
#include "update/identity_checks.h"

namespace norvane {

namespace {

constexpr BYTE kAcOnline = 1;

constexpr const wchar_t* kTextNoPnpIdBox = L"Could not get Touchpad PnPID";
constexpr const wchar_t* kTextNoPnpIdLog = L"Could not get Touchpad PnPID.";
constexpr const wchar_t* kTextNotTarget = L"This is not target system.";
constexpr const wchar_t* kTextConnectAc = L"Please connect AC adaptor.";
constexpr const wchar_t* kTextNoAcLog = L"AC adaptor does not connect to PC.";
constexpr const wchar_t* kTextImageUnreadable = L"FW file cannot read.";
constexpr const wchar_t* kTextNoDevice = L"Could not find Norvane device.";
constexpr const wchar_t* kTextSystemMemory = L"System memory does not match.";
constexpr const wchar_t* kTextInformationMemory = L"Information memory does not match.";
constexpr const wchar_t* kTextConfigVersion = L"Config version does not match.";
constexpr const wchar_t* kDebugVersionFailed = L"Fail - _get_Fw_version()";
constexpr const wchar_t* kTextVersionUnreadable = L"Firmware version cannot get.";
constexpr const wchar_t* kTextLeftInUpdateMode =
    L"Controller was left in update mode; updating again.";
constexpr const wchar_t* kTextNotNewer =
    L"Touchpad Firmware that you about to update is older or the same as current Firmware. "
    L"You don't need to update this Firmware.";
constexpr const wchar_t* kFormatQuestion =
    L"Current FW version is %x.%x%x\nWould you like to update FW to %x.%x%x ?";
constexpr const wchar_t* kFormatVersions = L"Current FW version:%x.%x%x\nNew FW version:%x.%x%x";
constexpr const wchar_t* kTextSettingsUnreadable = L"Setting.ini cannot be read.";
constexpr const wchar_t* kTextWaitTooLong = L"WAIT in Setting.ini is above 1000 ms.";
constexpr const wchar_t* kFormatChosenDevice = L"Found %d Norvane devices, updating %s";
constexpr const wchar_t* kTextQuestionFailed = L"The update question could not be shown.";
constexpr const wchar_t* kTextDialogFailed = L"The update dialog could not be shown.";

// A step's failure: its warning box (interactive runs, when it has one), its log line, the exit
// code line, and 1603.
int fail_run(const wchar_t* box_text, const wchar_t* log_text) {
    if (box_text != nullptr) {
        _show_warning(box_text);
    }
    _log_message(log_text);
    _log_exit_code(kExitFailure);
    return kExitFailure;
}

int end_run(int code) {
    _log_exit_code(code);
    return code;
}

bool flag_set(SettingFlags flag) {
    return (g_setting_flags & flag) != 0;
}

// Step 3: with PNPID, the touchpad must carry an accepted PnP ID. 0 when it passes.
int check_target_system() {
    char pnp_id[kPnpIdBufferSize] = {};
    if (!_get_touchpad_pnp_id(pnp_id)) {
        return fail_run(kTextNoPnpIdBox, kTextNoPnpIdLog);
    }
    if (!_is_target_pnp_id(pnp_id)) {
        return fail_run(kTextNotTarget, kTextNotTarget);
    }
    return 0;
}

// Step 4: with AC, refuse battery power. A power query that fails lets the run go on.
int check_power_source() {
    SYSTEM_POWER_STATUS power{};
    if (GetSystemPowerStatus(&power) && power.ACLineStatus != kAcOnline) {
        return fail_run(kTextConnectAc, kTextNoAcLog);
    }
    return 0;
}

// Steps 8 to 11: the controller is the one the image is for, and its version can be read.
int check_device_identity() {
    if (flag_set(kSettingSys) && !_check_system_memory()) {
        return fail_run(kTextSystemMemory, kTextSystemMemory);
    }
    if (flag_set(kSettingInfo) && !_check_information_memory()) {
        return fail_run(kTextInformationMemory, kTextInformationMemory);
    }
    if (flag_set(kSettingConf) && _read_configuration() &&
        g_device_identity.config_version != g_fw_image.config_version) {
        return fail_run(kTextConfigVersion, kTextConfigVersion);
    }
    if (!_get_Fw_version()) {
        OutputDebugStringW(kDebugVersionFailed);
        return fail_run(nullptr, kTextVersionUnreadable);
    }
    return 0;
}

// Runs the steps before the version decision; 0 when all passed, else the exit code.
int run_preflight() {
    if (flag_set(kSettingPnpId)) {
        if (const int code = check_target_system(); code != 0) {
            return code;
        }
    }
    if (flag_set(kSettingAc)) {
        if (const int code = check_power_source(); code != 0) {
            return code;
        }
    }
    if (!_load_fw_image()) {
        return fail_run(nullptr, kTextImageUnreadable);
    }
    if (!_find_target_device(_target_filter())) {
        return fail_run(kTextNoDevice, kTextNoDevice);
    }
    _bind_channels(); // a channel that does not bind fails the next step that talks to it
    if (g_device_link.targets_seen > 1) {
        // Several controllers pass the filter: the first listed is checked and flashed.
        _log_message(kFormatChosenDevice, g_device_link.targets_seen,
                     g_device_link.target_path.c_str());
    }
    return check_device_identity();
}

int run_silent_update() {
    if (!_update_firmware(nullptr, nullptr)) { // nobody is shown progress
        return end_run(kExitFailure);
    }
    _log_exit_code(kExitSuccess);
    _log_completed();
    return kExitSuccess;
}

// A controller still in firmware-update mode was left there by an interrupted update: its main
// memory is erased or only partly programmed, whatever its version bytes say, so the update is
// due. A status that cannot be read leaves the decision to the versions.
bool left_in_update_mode() {
    std::uint8_t status = 0;
    if (!_read_mode_status(status) || status != kUpdateModeStatus) {
        return false;
    }
    _log_message(kTextLeftInUpdateMode);
    return true;
}

int run_interactive_update() {
    int outcome = kExitFailure;
    if (!_run_update_dialog(outcome)) {
        return fail_run(nullptr, kTextDialogFailed);
    }
    return outcome; // the dialog writes its own exit code and completion lines
}

int run_update(const FwVersion& current, const FwVersion& image) {
    // An interrupted update, or an erased controller that runs no firmware at all: the update is
    // due whatever the versions say.
    const bool interrupted = left_in_update_mode();
    if (!interrupted && flag_set(kSettingRollback) && !version_erased(current) &&
        version_not_newer(current, image)) {
        _show_information(kTextNotNewer);
        return end_run(kExitNotNewer);
    }
    if (!g_run_options.silent) {
        MessageBuffer question;
        _format_message(question, kFormatQuestion, version_digit_major(current),
                        version_digit_minor_high(current), version_digit_minor_low(current),
                        version_digit_major(image), version_digit_minor_high(image),
                        version_digit_minor_low(image));
        bool yes = false;
        if (!_ask_question(question, yes)) {
            return fail_run(nullptr, kTextQuestionFailed); // no update without an explicit Yes
        }
        if (!yes) {
            return end_run(kExitSuccess);
        }
    }
    _log_message(kFormatVersions, version_digit_major(current), version_digit_minor_high(current),
                 version_digit_minor_low(current), version_digit_major(image),
                 version_digit_minor_high(image), version_digit_minor_low(image));
    _save_active_mode(); // a failed save is not reported; the restore writes back what was read
    if (g_run_options.silent) {
        return run_silent_update();
    }
    return run_interactive_update();
}

int run(const wchar_t* arguments) {
    _parse_command_line(arguments);
    if (!_load_settings(g_setting_flags)) {
        return fail_run(kTextSettingsUnreadable, kTextSettingsUnreadable);
    }
    if (WAIT > kMaxWaitMs) {
        return fail_run(kTextWaitTooLong, kTextWaitTooLong);
    }
    g_device_link.write_pause_ms = WAIT;
    if (const int code = run_preflight(); code != 0) {
        return code;
    }
    return run_update(g_device_identity.current_version, g_fw_image.new_version);
}

} // namespace

} // namespace norvane

int WINAPI wWinMain([[maybe_unused]] HINSTANCE instance, [[maybe_unused]] HINSTANCE previous,
                    LPWSTR arguments, [[maybe_unused]] int show) {
    return norvane::run(arguments);
}
