// The simulated devices of NorvaneFwUpdaterSim.exe, the test-only Windows build in which the HID
// device calls (SetupAPI enumeration, device opens, HidD_* and HidP_*) reach the controller model
// of platform/sim instead of the machine. Everything else in that build is the real Win32: boxes,
// the dialog, files, the clock and the power source.
//
// The device tree comes from a scenario file named by the environment variable
// NORVANE_SIM_SCENARIO, read on the first device call, with the keys fwsim reads (only "devices"
// and "mouse_devices" act here; the user, the clock and the power source are real). Without the
// variable the tree holds one controller that matches the image of the current directory. A
// scenario that cannot be read ends the process with exit code 2.
//
// The program is single-threaded; so are these tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "sim/device_interface.h"
#include "sim/simulated_pc.h"

constexpr const wchar_t* kSimScenarioVariable = L"NORVANE_SIM_SCENARIO";
constexpr UINT kSimScenarioErrorExit = 2;

// The simulated machine, its scenario loaded on first use.
sim::SimulatedPc& sim_machine();

// Milliseconds of the real clock since the scenario was loaded: the controller's time base.
std::uint64_t sim_now_ms();

// True for every path in the HID device namespace (\\?\hid#...), listed or not: such a path never
// reaches the real CreateFileW.
bool sim_is_device_path(const wchar_t* path);

// Opens a device interface path. INVALID_HANDLE_VALUE with SetLastError on failure:
// ERROR_FILE_NOT_FOUND for a path no device has, ERROR_DEVICE_NOT_CONNECTED for an unplugged one.
HANDLE sim_open_device(const wchar_t* path);

// The device and collection behind an open device handle; false for any other handle.
bool sim_device_of_handle(HANDLE handle, std::size_t& device, std::size_t& collection);

// Forgets a device handle; false when it is not one (the caller then closes a real handle).
bool sim_release_device_handle(HANDLE handle);

// The real kernel32 functions the replacements forward to.
HANDLE sim_real_create_file(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE template_file);
BOOL sim_real_close_handle(HANDLE handle);
