// Where the update engine and the user interface meet; neither knows the other. The engine's
// notices are the interface's message boxes, its flash is guarded by the interface's session
// guard, and the dialog's Start Update button runs the engine's update with the dialog's progress
// bar as its progress.
#include "app/detection_record.h"
#include "app/exit_codes.h"
#include "ui/message_boxes.h"
#include "ui/session_guard.h"
#include "ui/update_dialog.h"
#include "update/flash_update.h"
#include "update/update_notices.h"

namespace norvane {

namespace {

// Before the first write the record says what a run cut short would leave: a failure, and no
// version anybody may rely on. The end of the run writes what it proved.
void hold_flash() {
    _write_detection_record(kExitFailure, nullptr);
    _hold_session();
}

// The dialog's update, and its record, before the dialog logs the exit code.
bool update_from_dialog(ProgressSink step, ProgressSink fill) {
    const bool updated = _update_firmware(step, fill);
    _write_detection_record(updated ? kExitRestartNeeded : kExitFailure,
                            updated ? &g_fw_image.new_version : nullptr);
    return updated;
}

} // namespace

const UpdateNotices g_update_notices{_show_warning, _show_plain_warning, _show_result};
const FlashGuard g_flash_guard{hold_flash, _release_session};
const DialogUpdate g_dialog_update = update_from_dialog;

} // namespace norvane
