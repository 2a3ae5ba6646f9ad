// The one seam between the product and the platform. Product code includes this header and calls
// the Win32 names directly; on Windows they are the SDK's, on the host build they are the stand-ins
// of platform/host, backed by the simulated PC.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}
#else
#include "host/win32_host.h"
#endif
