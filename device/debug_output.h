// The cause of a step that gave up, kept on the debugger output (a debugger, DebugView) for whoever
// finds out why: the step, what it worked on, and the Win32 error with the system's text for it.
// Nothing of it reaches the run log or the controller.
#pragma once

#include "device/address_map.h"
#include "platform/win32.h"

namespace norvane {

// "STEP: address 0xADDRESS, error N (TEXT)"
void _debug_failure_at(const wchar_t* step, DeviceAddress address, DWORD error);
// "STEP: WHAT, error N (TEXT)"
void _debug_failure(const wchar_t* step, const wchar_t* what, DWORD error);

} // namespace norvane
