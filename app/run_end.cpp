#include "app/run_end.h"

#include "app/detection_record.h"
#include "app/exit_codes.h"
#include "app/run_log.h"
#include "app/run_options.h"
#include "app/run_state.h"

namespace norvane {

int _finish_run(int code, const FwVersion* proven) {
    if (proven == nullptr && g_run.running_version_proven) {
        proven = &g_device_identity.current_version;
    }
    if (g_updater_lock.mutex != nullptr) {
        _write_detection_record(code, proven);
    }
    _log_exit_code(code);
    g_exit_code = code;
    return code;
}

void _finish_flash(bool updated) {
    g_run.running_version_proven = false; // the flash replaced what was running
    if (!updated) {
        _finish_run(kExitFailure);
        return;
    }
    _finish_run(g_run_options.silent ? kExitSuccess : kExitRestartNeeded, &g_fw_image.new_version);
    _log_completed();
}

} // namespace norvane
