// The program's entry point and the whole order of one run, read top down: the texts the run
// shows and logs, then wWinMain, run and run_with_lock, then each step in the order a run takes
// it. The first failing step ends the run with 1603; nothing is retried and nothing is rolled
// back. A step either lets the run go on (no value) or ends it with the exit code it holds.
#include <optional>

#include "app/exit_codes.h"
#include "app/run_end.h"
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

// ---- What the run shows and logs -------------------------------------------------------------

constexpr BYTE kAcOnline = 1;
constexpr DWORD kEnforceRedirectionTrust = 0x1;

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
constexpr const wchar_t* kFormatQuestionInterrupted =
    L"The touchpad was left in update mode by an interrupted update and does not work until it "
    L"is updated.\nWould you like to update FW to %x.%x%x ?";
constexpr const wchar_t* kTextDeclinedBroken =
    L"The update was declined; the touchpad does not work until it is updated.";
constexpr const wchar_t* kFormatDetection = L"Detection: FirmwareVersionCode >= %d.";
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
// Short lines, each switch on a line of its own with its description under it: a message box
// wraps a long line wherever it must, inside a switch too.
constexpr const wchar_t* kTextUsage = L"NorvaneFwUpdater.exe [/s] [/v] [LOGFILE=PATH]\n"
                                      L"NorvaneFwUpdater.exe /c [/v] [LOGFILE=PATH]\n"
                                      L"NorvaneFwUpdater.exe /?\n\n"
                                      L"/s\n"
                                      L"      Silent: no question, no dialog, no box;\n"
                                      L"      the update starts at once. /S is not /s.\n"
                                      L"/v LOGFILE=PATH\n"
                                      L"      Appends the run log to PATH (put it last).\n"
                                      L"/c\n"
                                      L"      Check only: whether the update is due;\n"
                                      L"      nothing is written to the touchpad.\n"
                                      L"/?\n"
                                      L"      This help (not shown with /s).\n\n"
                                      L"The image (one *.bin) and Setting.ini are read\n"
                                      L"from the current folder. Setting.ini, [Setting]:\n"
                                      L"      AC, PID, SYS, INFO, CONF, ROLLBACK:\n"
                                      L"            1 on (the default), 0 off\n"
                                      L"      PNPID: 0 by default\n"
                                      L"      WAIT: ms after each write, 2 by default\n\n"
                                      L"Exit codes:\n"
                                      L"      0  updated (silent), declined, or due (/c)\n"
                                      L"      8  up to date\n"
                                      L"      1603  failure\n"
                                      L"      1618  another updater is running: retry later\n"
                                      L"      3010  updated, restart needed";

// ---- The run, and its steps in the order it takes them -----------------------------------------

// A step's outcome: no value lets the run go on; a value is the exit code the run ends with.
using StepEnd = std::optional<int>;
constexpr StepEnd kGoOn = std::nullopt;

int run(const wchar_t* arguments);
int run_with_lock();
void trust_no_user_redirection();
int show_usage();
StepEnd read_settings();
StepEnd run_checks();
StepEnd check_target_system();
StepEnd find_the_controller();
StepEnd check_device_identity();
StepEnd decide_update(const FwVersion& current, const FwVersion& image, bool& interrupted);
int end_check_only(const FwVersion& current, const FwVersion& image);
StepEnd check_power_source();
StepEnd ask_question(const FwVersion& current, const FwVersion& image, bool interrupted);
int run_the_update(const FwVersion& current, const FwVersion& image);
int fail_run(const wchar_t* box_text, const wchar_t* log_text, int code = kExitFailure);

} // namespace

} // namespace norvane

int WINAPI wWinMain([[maybe_unused]] HINSTANCE instance, [[maybe_unused]] HINSTANCE previous,
                    LPWSTR arguments, [[maybe_unused]] int show) {
    return norvane::run(arguments);
}

namespace norvane {

namespace {

int run(const wchar_t* arguments) {
    trust_no_user_redirection();
    _parse_command_line(arguments);
    if (g_run_options.help) {
        return show_usage();
    }
    _start_run_log(arguments);
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

// The run once it holds the one-updater lock.
int run_with_lock() {
    if (const StepEnd end = read_settings()) {
        return *end;
    }
    _begin_exact_pauses(); // the checks write to the controller too
    const StepEnd end = run_checks();
    _end_exact_pauses(); // nothing waits on the timer while a question may be up
    if (end) {
        return *end;
    }
    const FwVersion& current = g_device_identity.current_version;
    const FwVersion& image = g_fw_image.new_version;
    bool interrupted = false;
    if (const StepEnd not_due = decide_update(current, image, interrupted)) {
        return *not_due;
    }
    if (g_run_options.check_only) { // nothing after the decision reaches the controller
        return end_check_only(current, image);
    }
    if (const StepEnd on_battery = check_power_source()) {
        return *on_battery;
    }
    if (const StepEnd declined = ask_question(current, image, interrupted)) {
        return *declined;
    }
    return run_the_update(current, image);
}

// ---- Before the lock -----------------------------------------------------------------------

// Elevated writes follow no junction or symbolic link a standard user planted on the way (the
// log's folders and the log): Windows 10 22H2 and later refuse them once the process asks. Older
// Windows (and Wine) refuse the policy instead, and the run goes on as before.
void trust_no_user_redirection() {
    const auto set_policy = platform::kernel32_function<decltype(&SetProcessMitigationPolicy)>(
        "SetProcessMitigationPolicy");
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY trust{};
    trust.Flags = kEnforceRedirectionTrust;
    if (set_policy != nullptr) {
        set_policy(ProcessRedirectionTrustPolicy, &trust, sizeof(trust));
    }
}

// "/?": the usage box and nothing else; not where nobody could answer it, nor with /s (no box is
// ever shown then).
int show_usage() {
    if (_boxes_can_be_answered()) {
        _show_information(kTextUsage);
    }
    return kExitSuccess;
}

// ---- Setting.ini ---------------------------------------------------------------------------

StepEnd read_settings() {
    if (!_load_settings(g_setting_flags)) {
        return fail_run(kTextSettingsUnreadable, kTextSettingsUnreadable);
    }
    if (g_wait_ms > kMaxWaitMs) {
        return fail_run(kTextWaitTooLong, kTextWaitTooLong);
    }
    g_device_link.write_pause_ms = g_wait_ms;
    return kGoOn;
}

// ---- The checks before the version decision ------------------------------------------------

bool flag_set(SettingFlags flag) {
    return (g_setting_flags & flag) != 0;
}

// The machine, the image, the controller and its identity, in that order.
StepEnd run_checks() {
    if (flag_set(kSettingPnpId)) {
        if (const StepEnd end = check_target_system()) {
            return end;
        }
    }
    if (!_load_fw_image()) {
        return fail_run(nullptr, kTextImageUnreadable);
    }
    if (g_run_options.check_only) {
        _log_message(kFormatDetection, static_cast<int>(version_code(g_fw_image.new_version)));
    }
    if (const StepEnd end = find_the_controller()) {
        return end;
    }
    return check_device_identity();
}

// With PNPID, the touchpad must carry an accepted PnP ID.
StepEnd check_target_system() {
    char pnp_id[kPnpIdBufferSize] = {};
    if (!_get_touchpad_pnp_id(pnp_id)) {
        return fail_run(kTextNoPnpIdBox, kTextNoPnpIdLog);
    }
    if (!_is_target_pnp_id(pnp_id)) {
        return fail_run(kTextNotTarget, kTextNotTarget);
    }
    return kGoOn;
}

StepEnd find_the_controller() {
    if (!_find_target_device(_target_filter())) {
        return fail_run(kTextNoDevice, kTextNoDevice);
    }
    _bind_channels(); // a channel that does not bind fails the next step that talks to it
    if (g_device_link.targets_seen > 1) {
        // Several controllers pass the filter: the first listed is checked and flashed.
        _log_message(kFormatChosenDevice, g_device_link.targets_seen,
                     g_device_link.target_path.c_str());
    }
    return kGoOn;
}

// The controller is the one the image is for (with SYS, INFO, CONF), and its version can be read.
StepEnd check_device_identity() {
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
    return kGoOn;
}

// ---- The decision: is the update due? ------------------------------------------------------

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
// by its versions, once its status could be read at all.
bool runs_its_firmware(const ModeStatus& status) {
    return status.read &&
           (g_device_link.hid_version == kRelaxedHidVersion || status.value == kNormalModeStatus);
}

// Due for a controller an interrupted update left in update mode, for an erased one that runs no
// firmware at all, and otherwise (with ROLLBACK) only for a newer image. A run that is not due
// ends with 8 when the controller says it runs its firmware; else its versions prove nothing.
StepEnd decide_update(const FwVersion& current, const FwVersion& image, bool& interrupted) {
    const ModeStatus status = read_mode_status();
    interrupted = left_in_update_mode(status);
    g_run.running_version_proven = !interrupted && runs_its_firmware(status);
    if (interrupted || !flag_set(kSettingRollback) || version_erased(current) ||
        !version_not_newer(current, image)) {
        return kGoOn;
    }
    if (!g_run.running_version_proven) {
        return fail_run(kTextModeUnreadable, kTextModeUnreadable);
    }
    _show_information(kTextNotNewer);
    return _finish_run(kExitNotNewer);
}

void log_versions(const FwVersion& current, const FwVersion& image) {
    _log_message(kFormatVersions, version_digit_major(current), version_digit_minor_high(current),
                 version_digit_minor_low(current), version_digit_major(image),
                 version_digit_minor_high(image), version_digit_minor_low(image));
}

// "/c": the update is due, and nothing more is done.
int end_check_only(const FwVersion& current, const FwVersion& image) {
    log_versions(current, image);
    _log_message(kTextCheckOnlyDue);
    return _finish_run(kExitSuccess);
}

// ---- Once the update is due ----------------------------------------------------------------

// With AC, refuse battery power, once the update is due: a machine that is up to date ends with 8
// on battery too. A power query that fails lets the run go on.
StepEnd check_power_source() {
    SYSTEM_POWER_STATUS power{};
    if (flag_set(kSettingAc) && GetSystemPowerStatus(&power) && power.ACLineStatus != kAcOnline) {
        return fail_run(kTextConnectAc, kTextNoAcLog);
    }
    return kGoOn;
}

// An interactive run asks: the versions or, for a controller an interrupted update left in
// update mode, that the touchpad does not work until it is updated. Only an explicit Yes goes on.
StepEnd ask_question(const FwVersion& current, const FwVersion& image, bool interrupted) {
    if (g_run_options.silent) {
        return kGoOn;
    }
    MessageBuffer question;
    if (interrupted) {
        _format_message(question, kFormatQuestionInterrupted, version_digit_major(image),
                        version_digit_minor_high(image), version_digit_minor_low(image));
    } else {
        _format_message(question, kFormatQuestion, version_digit_major(current),
                        version_digit_minor_high(current), version_digit_minor_low(current),
                        version_digit_major(image), version_digit_minor_high(image),
                        version_digit_minor_low(image));
    }
    bool yes = false;
    if (!_ask_question(question, yes)) {
        return fail_run(nullptr, kTextQuestionFailed); // no update without an explicit Yes
    }
    if (yes) {
        return kGoOn;
    }
    // Declining leaves a touchpad that works as it is, but not one an update was cut short in.
    return interrupted ? fail_run(nullptr, kTextDeclinedBroken) : _finish_run(kExitSuccess);
}

// The flash writes the run's end itself, as soon as it is over (_finish_flash).
int run_silent_update() {
    // Nobody is shown progress, but the session's questions are answered while the flash pauses.
    _begin_answering_messages(nullptr);
    _update_firmware(nullptr, nullptr);
    _end_answering_messages();
    return g_exit_code;
}

int run_interactive_update() {
    if (!_run_update_dialog()) {
        return fail_run(nullptr, kTextDialogFailed);
    }
    if (g_update_dialog_state.started) {
        return g_exit_code; // the flash wrote the run's end
    }
    return _finish_closed_dialog();
}

int run_the_update(const FwVersion& current, const FwVersion& image) {
    log_versions(current, image);
    _save_active_mode(); // a failed save is not reported; the restore writes back what was read
    return g_run_options.silent ? run_silent_update() : run_interactive_update();
}

// A step's failure: its warning box (interactive runs, when it has one), its log line, the end of
// the run with the code (1603 unless the step says otherwise).
int fail_run(const wchar_t* box_text, const wchar_t* log_text, int code) {
    if (box_text != nullptr) {
        _show_warning(box_text);
    }
    _log_message(log_text);
    return _finish_run(code);
}

} // namespace

} // namespace norvane
