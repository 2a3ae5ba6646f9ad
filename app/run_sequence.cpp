// The program's entry point and the whole order of one run. The first failing step ends the run
// with 1603; nothing is retried and nothing is rolled back.
#include "app/detection_record.h"
#include "app/exit_codes.h"
#include "app/run_log.h"
#include "app/run_options.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "app/updater_lock.h"
#include "device/address_map.h"
#include "device/device_link.h"
#include "device/pause.h"
#include "platform/win32.h"
#include "target/touchpad_pnp_id.h"
#include "ui/message_boxes.h"
#include "ui/message_pump.h"
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
constexpr const wchar_t* kTextNobodyToAsk = L"No one can answer the update question: run with /s.";
constexpr const wchar_t* kTextAnotherUpdater = L"Another Norvane FW Updater is running.";
constexpr const wchar_t* kTextModeUnreadable = L"Controller mode could not be read.";
constexpr const wchar_t* kTextCheckOnlyDue = L"Check only: the update is due.";
constexpr const wchar_t* kTextUsage =
    L"NorvaneFwUpdater.exe [/s] [/v] [LOGFILE=PATH] [/c] [/?]\n\n"
    L"/s\tSilent: no question, no dialog, no box; the update starts at once.\n"
    L"/v\tAppends the run log to LOGFILE=PATH (put it last).\n"
    L"/c\tCheck only: tells whether the update is due; writes nothing to the touchpad.\n"
    L"/?\tThis help.\n\n"
    L"The image (one *.bin) and Setting.ini are read from the current folder. Setting.ini, "
    L"section [Setting]: AC, PID, SYS, INFO, CONF, ROLLBACK (1 on, 0 off), PNPID (0 by default), "
    L"WAIT (ms after each write, 2 by default).\n\n"
    L"Exit codes: 0 updated (silent), declined, or due (/c); 8 up to date; 1603 failure; "
    L"1618 another updater is running, retry later; 3010 updated, restart needed.";

// The end of a run: once it has read the controller's version, its detection record (with what
// it proved the controller holds, if anything); then the exit code line.
int end_run(int code, const FwVersion* proven = nullptr) {
    if (g_run.version_read) {
        _write_detection_record(code, proven);
    }
    _log_exit_code(code);
    return code;
}

// A step's failure: its warning box (interactive runs, when it has one), its log line, the end of
// the run with the code (1603 unless the step says otherwise).
int fail_run(const wchar_t* box_text, const wchar_t* log_text, int code = kExitFailure) {
    if (box_text != nullptr) {
        _show_warning(box_text);
    }
    _log_message(log_text);
    return end_run(code);
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
    g_run.version_read = true;
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
    // Nobody is shown progress, but the session's questions are answered while the flash pauses.
    _begin_answering_messages(nullptr);
    const bool updated = _update_firmware(nullptr, nullptr);
    _end_answering_messages();
    if (!updated) {
        return end_run(kExitFailure);
    }
    end_run(kExitSuccess, &g_fw_image.new_version);
    _log_completed();
    return kExitSuccess;
}

// The mode status, read once before the version decision: the controller's own word on whether
// it runs its firmware.
struct ModeStatus {
    bool read;
    std::uint8_t value;
};

ModeStatus read_mode_status() {
    ModeStatus status{false, 0};
    status.read = _read_mode_status(status.value);
    return status;
}

// A controller still in firmware-update mode was left there by an interrupted update: its main
// memory is erased or only partly programmed, whatever its version bytes say, so the update is
// due.
bool left_in_update_mode(const ModeStatus& status) {
    if (!status.read || status.value != kUpdateModeStatus) {
        return false;
    }
    _log_message(kTextLeftInUpdateMode);
    return true;
}

// "Up to date" is said only of a controller that reports running its firmware (normal mode): one
// interrupted while programming already shows the new version bytes (chunk 0 is written first),
// so its versions prove nothing. A controller whose HID version relaxes the status tests is taken
// by its versions.
bool runs_its_firmware(const ModeStatus& status) {
    return g_device_link.hid_version == kRelaxedHidVersion ||
           (status.read && status.value == kNormalModeStatus);
}

int run_interactive_update() {
    int outcome = kExitFailure;
    if (!_run_update_dialog(outcome)) {
        return fail_run(nullptr, kTextDialogFailed);
    }
    if (!g_update_dialog_state.started) {
        _write_detection_record(outcome, nullptr); // closed without an update
    }
    // The dialog writes its own exit code and completion lines; the update it ran, its record.
    return outcome;
}

void log_versions(const FwVersion& current, const FwVersion& image) {
    _log_message(kFormatVersions, version_digit_major(current), version_digit_minor_high(current),
                 version_digit_minor_low(current), version_digit_major(image),
                 version_digit_minor_high(image), version_digit_minor_low(image));
}

int run_update(const FwVersion& current, const FwVersion& image) {
    // An interrupted update, or an erased controller that runs no firmware at all: the update is
    // due whatever the versions say.
    const ModeStatus status = read_mode_status();
    const bool interrupted = left_in_update_mode(status);
    if (!interrupted && flag_set(kSettingRollback) && !version_erased(current) &&
        version_not_newer(current, image)) {
        if (!runs_its_firmware(status)) {
            return fail_run(kTextModeUnreadable, kTextModeUnreadable);
        }
        _show_information(kTextNotNewer);
        return end_run(kExitNotNewer, &current);
    }
    if (g_run_options.check_only) { // nothing after the decision reaches the controller
        log_versions(current, image);
        _log_message(kTextCheckOnlyDue);
        return end_run(kExitSuccess);
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
    log_versions(current, image);
    _save_active_mode(); // a failed save is not reported; the restore writes back what was read
    if (g_run_options.silent) {
        return run_silent_update();
    }
    return run_interactive_update();
}

// The run once it holds the one-updater lock.
int run_with_lock() {
    if (!_load_settings(g_setting_flags)) {
        return fail_run(kTextSettingsUnreadable, kTextSettingsUnreadable);
    }
    if (g_wait_ms > kMaxWaitMs) {
        return fail_run(kTextWaitTooLong, kTextWaitTooLong);
    }
    g_device_link.write_pause_ms = g_wait_ms;
    _begin_exact_pauses(); // the checks write to the controller too
    const int code = run_preflight();
    _end_exact_pauses(); // nothing waits on the timer while a question may be up
    if (code != 0) {
        return code;
    }
    return run_update(g_device_identity.current_version, g_fw_image.new_version);
}

int run(const wchar_t* arguments) {
    _parse_command_line(arguments);
    if (g_run_options.help) {
        if (_boxes_can_be_answered()) {
            _show_information(kTextUsage);
        }
        return kExitSuccess;
    }
    // A question nobody can see would hold the run until the deployment tool's own timeout.
    if (!g_run_options.silent && !_boxes_can_be_answered()) {
        return fail_run(nullptr, kTextNobodyToAsk);
    }
    if (!_take_updater_lock()) {
        return fail_run(kTextAnotherUpdater, kTextAnotherUpdater, kExitAnotherUpdater);
    }
    const int code = run_with_lock();
    _release_updater_lock();
    return code;
}

} // namespace

} // namespace norvane

int WINAPI wWinMain([[maybe_unused]] HINSTANCE instance, [[maybe_unused]] HINSTANCE previous,
                    LPWSTR arguments, [[maybe_unused]] int show) {
    return norvane::run(arguments);
}
