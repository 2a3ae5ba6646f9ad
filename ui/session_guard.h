// While the controller's main memory is rewritten (10 to 20 s on a real controller, and the
// touchpad has no firmware meanwhile), nothing outside the run may end it: the machine is kept
// awake and the session is kept from ending.
#pragma once

#include "platform/win32.h"

namespace norvane {

// The guard as it is held. Part of the run's state.
struct SessionGuardState {
    bool flashing;
    HANDLE power_request; // a system-required power request, or null
    HWND window;          // the top-level window that carries the shutdown block reason
    bool own_window;      // made for a silent run, destroyed with the guard
    bool end_logged;      // a session end was logged (once)
};
extern SessionGuardState& g_session_guard;

// Told once when a WM_ENDSESSION says the session ends during the flash. Defined by the
// application, which writes the run's lines.
using SessionEndNotice = void (*)();
extern const SessionEndNotice g_session_end_notice;

// Before the first write of the flash: a system-required power request and a shutdown block
// reason on the update dialog or, in a silent run, on a hidden top-level window of its own. A part
// the system refuses is left out; the flash goes on as it would have without it.
void _hold_session();
// When the flash sequence has ended, successfully or not: both given back.
void _release_session();

// The answer of the program's top-level windows to the session's messages while the flash runs:
// WM_QUERYENDSESSION is refused; a WM_ENDSESSION that says the session ends is logged once, and
// the flash goes on until the system ends the process (if it does). False for what is left to the
// window's default.
bool _answer_session_message(UINT message, WPARAM wparam, LRESULT& answer);

} // namespace norvane
