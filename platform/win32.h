// The one seam between the product and the platform. Product code includes this header and calls
// the Win32 names directly; on Windows they are the SDK's, on the host build they are the stand-ins
// of platform/host, backed by the simulated PC.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <commctrl.h>
#include <sddl.h>
#include <mmsystem.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}
#else
#include "host/win32_host.h"
#endif

namespace platform {

// A kernel32 function that some Windows versions (or Wine) lack, looked up at run time: imported,
// a function the loader cannot find would end the process before it starts. Null when missing.
template <typename Function> Function kernel32_function(const char* name) {
    const FARPROC address = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
    // GCC allows a cast between unrelated function types only through void (*)(void).
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

} // namespace platform
