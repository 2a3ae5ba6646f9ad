// The host stand-in's view of the simulated device tree: the device interface paths of the HID
// collections of sim::pc().devices, opening them as device handles, and a count of calls into the
// SetupAPI and HID stand-ins that a correct program never makes (bad handles, wrong GUIDs, wrong
// structure sizes, wrong report lengths). Shared by setupapi.cpp, hid.cpp and CreateFileW.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/win32_host.h"
#include "sim/device_interface.h"

struct HandleEntry;

using sim::kHidInterfaceGuid;
using sim::kMouseInterfaceGuid;

// The interface path of one collection of one device of sim::pc().devices, e.g.
// \\?\hid#vid_044e&pid_1234&col01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}.
// "&colNN" appears only on devices with more than one collection.
std::wstring host_interface_path(std::size_t device, std::size_t collection);

// Finds the device and collection behind an interface path (compared without regard to case).
bool host_find_interface(const wchar_t* path, std::size_t& device, std::size_t& collection);

// True when the path names a collection of a simulated HID device, plugged in or not.
bool host_is_device_path(const wchar_t* path);

// Opens an interface path as a Device handle of the handle table. INVALID_HANDLE_VALUE with
// SetLastError on failure: ERROR_FILE_NOT_FOUND for an unknown path or an unplugged device,
// ERROR_SHARING_VIOLATION when the open does not share with the touchpad's driver holding the
// collection (sim::HeldOpen) or with another device handle on it. CloseHandle releases it with
// host_handle_release.
HANDLE host_open_device_path(const wchar_t* path, DWORD access, DWORD share);

// The simulated device behind a Device or Preparsed entry, or null when it no longer exists.
sim::SimDevice* host_device_of(const HandleEntry& entry);

// Calls into the SetupAPI and HID stand-ins that a correct program never makes.
std::uint64_t host_device_api_misuses();
void host_note_device_api_misuse();
void host_device_api_reset();
