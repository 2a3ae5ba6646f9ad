// Waiting that keeps answering the thread's messages. While the flash runs, the dialog must not be
// marked "Not Responding", and the session's questions (may it end?) must reach the program's
// windows, the dialog or, in a silent run, the window that carries the session guard.
#pragma once

#include "platform/win32.h"

namespace norvane {

// What the answering wait knows: the dialog whose keyboard messages go through the dialog manager
// (none in a silent run), and a WM_QUIT that arrived meanwhile, kept for afterwards. Part of the
// run's state.
struct MessagePumpState {
    HWND dialog;
    bool quit_kept;
    int quit_code;
};
extern MessagePumpState& g_message_pump;

// From now on every pause of the run answers the thread's messages (for `dialog`, through the
// dialog manager). A WM_QUIT that arrives is kept: a quit taken while the flash runs would end the
// result boxes and the dialog's loop at once.
void _begin_answering_messages(HWND dialog);
// Plain sleeping again; a kept WM_QUIT is posted again for the loops that follow.
void _end_answering_messages();

} // namespace norvane
