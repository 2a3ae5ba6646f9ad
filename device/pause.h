// How the run waits for the controller. A silent run sleeps; while the update dialog runs the
// update it installs a wait that keeps answering the dialog's messages, so that Windows never marks
// the window as not responding in the middle of a flash.
#pragma once

#include "platform/win32.h"

namespace norvane {

// Waits at least `milliseconds`. With 0 it does not wait; a pause function that keeps a window
// alive still answers the messages that are waiting.
using PauseFunction = void (*)(DWORD milliseconds);

// Installs the wait used from now on; nullptr brings back the plain sleep.
void _set_pause_function(PauseFunction pause);

// Waits with the installed pause function.
void _pause(DWORD milliseconds);

} // namespace norvane
