// What the user interface's tests look at directly. Nothing outside ui/ and the tests includes this
// header.
#pragma once

#include "platform/win32.h"

namespace norvane {

// The update dialog's procedure, which _run_update_dialog hands to the dialog manager.
INT_PTR CALLBACK _update_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

} // namespace norvane
