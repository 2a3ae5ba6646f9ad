// Where the update engine and the user interface meet; neither knows the other. The engine's
// notices are the interface's message boxes, its flash is guarded by the interface's session
// guard, and the dialog's Start Update button runs the engine's update with the dialog's progress
// bar as its progress.
#include "ui/message_boxes.h"
#include "ui/session_guard.h"
#include "ui/update_dialog.h"
#include "update/flash_update.h"
#include "update/update_notices.h"

namespace norvane {

const UpdateNotices g_update_notices{_show_warning, _show_plain_warning, _show_result};
const FlashGuard g_flash_guard{_hold_session, _release_session};
const DialogUpdate g_dialog_update = _update_firmware;

} // namespace norvane
