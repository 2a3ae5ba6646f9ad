// Where the update engine and the user interface meet; neither knows the other. The engine's
// notices are the interface's message boxes, its flash is guarded by the interface's session
// guard and ended by the run, and the dialog's Start Update button runs the engine's update with
// the dialog's progress bar as its progress.
#include "app/detection_record.h"
#include "app/exit_codes.h"
#include "app/run_end.h"
#include "ui/message_boxes.h"
#include "ui/session_guard.h"
#include "ui/update_dialog.h"
#include "update/flash_update.h"
#include "update/update_notices.h"

namespace norvane {

namespace {

// Before the first write the record says what a run cut short would leave: a failure, and no
// version anybody may rely on.
void hold_flash() {
    _write_detection_record(kExitFailure, nullptr);
    _hold_session();
}

// The flash is over: the run's end (record, exit code) is written before any box shows the result,
// so that a restart at the box finds both; only then are the machine and the session let go.
void release_flash(bool updated) {
    _finish_flash(updated);
    _release_session();
}

} // namespace

const UpdateNotices g_update_notices{_show_warning, _show_plain_warning, _show_result};
const FlashGuard g_flash_guard{hold_flash, release_flash};
const DialogUpdate g_dialog_update = _update_firmware;
const SessionEndNotice g_session_end_notice = _note_session_end;

} // namespace norvane
