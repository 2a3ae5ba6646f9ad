#include "app/run_end.h"

#include "app/detection_record.h"
#include "app/exit_codes.h"
#include "app/run_log.h"
#include "app/run_options.h"
#include "app/run_state.h"

namespace norvane {

namespace {

constexpr const wchar_t* kLogSuccess = L"Firmware was successfully updated.";
constexpr const wchar_t* kLogFailure = L"Firmware update failed.";
constexpr const wchar_t* kTextSessionEnded = L"The session ended during the update.";

// The record of a run that holds the lock: `proven`, or else the running version when the
// controller said it runs it.
void record(int code, const FwVersion* proven) {
    if (proven == nullptr && g_run.running_version_proven) {
        proven = &g_device_identity.current_version;
    }
    if (g_updater_lock.mutex != nullptr) {
        _write_detection_record(code, proven);
    }
    g_exit_code = code;
}

} // namespace

int _finish_run(int code, const FwVersion* proven) {
    record(code, proven);
    _log_exit_code(code);
    return code;
}

int _finish_closed_dialog() {
    record(kExitRestartNeeded, nullptr);
    return kExitRestartNeeded;
}

void _finish_flash(bool updated) {
    g_run.running_version_proven = false; // the flash replaced what was running
    if (!updated) {
        _log_message(kLogFailure);
        _finish_run(kExitFailure);
        return;
    }
    _log_message(kLogSuccess);
    _finish_run(g_run_options.silent ? kExitSuccess : kExitRestartNeeded, &g_fw_image.new_version);
    _log_completed();
}

void _note_session_end() {
    _log_message(kTextSessionEnded);
}

} // namespace norvane
