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
#include <string>

#include "platform/win32.h"
#include "sim/simulated_pc.h"

constexpr const wchar_t* kSimScenarioVariable = L"NORVANE_SIM_SCENARIO";
constexpr UINT kSimScenarioErrorExit = 2;

// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID device interface class.
constexpr GUID kSimHidInterfaceGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// {378DE44C-56EF-11D1-BC8C-00A0C91405DD}, the mouse device interface class.
constexpr GUID kSimMouseInterfaceGuid = {
    0x378DE44C, 0x56EF, 0x11D1, {0xBC, 0x8C, 0x00, 0xA0, 0xC9, 0x14, 0x05, 0xDD}};

// The simulated machine, its scenario loaded on first use.
sim::SimulatedPc& sim_machine();

// Milliseconds of the real clock since the scenario was loaded: the controller's time base.
std::uint64_t sim_now_ms();

bool sim_same_guid(const GUID& a, const GUID& b);

// The interface path of one collection of one device, as the host stand-in forms it:
// \\?\hid#vid_044e&pid_1234&col01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}.
std::wstring sim_interface_path(std::size_t device, std::size_t collection);

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
