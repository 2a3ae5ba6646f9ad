// What the SetupAPI and HID stand-ins share about the simulated device tree: the interface
// classes, the interface path of each collection, finding a collection by its path, and how a
// stand-in call ends. The Win32 types come from platform/win32.h.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/hid_device.h"

namespace sim {

// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID device interface class.
constexpr GUID kHidInterfaceGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// {378DE44C-56EF-11D1-BC8C-00A0C91405DD}, the mouse device interface class.
constexpr GUID kMouseInterfaceGuid = {
    0x378DE44C, 0x56EF, 0x11D1, {0xBC, 0x8C, 0x00, 0xA0, 0xC9, 0x14, 0x05, 0xDD}};

// Every interface path starts with this (the HID device namespace).
constexpr const wchar_t* kHidPathPrefix = L"\\\\?\\hid#";

// How a stand-in call ends: success, or a refusal with the code for SetLastError. A misuse is a
// refusal of a call that a correct program never makes (bad handle, wrong GUID, wrong size); the
// host counts those.
struct CallResult {
    bool ok = true;
    DWORD error = 0;
    bool misuse = false;
};

CallResult call_ok();
CallResult call_refused(DWORD error);
CallResult call_misused(DWORD error);

// One collection of one device of the tree, while the device exists.
struct DeviceRef {
    SimDevice* device = nullptr;
    std::size_t collection = 0;
};

bool same_guid(const GUID& a, const GUID& b);

// The interface path of one collection of one device, e.g.
// \\?\hid#vid_044e&pid_1234&col01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}.
// "&colNN" appears only on devices with more than one collection.
std::wstring interface_path(const std::vector<SimDevice>& devices, std::size_t device,
                            std::size_t collection);

// Finds the device and collection behind an interface path, compared without regard to case.
// False for a null path or one that no collection of the tree has, plugged in or not.
bool find_interface(const std::vector<SimDevice>& devices, const wchar_t* path, std::size_t& device,
                    std::size_t& collection);

// The device and collection behind a pair of indices; false when they no longer exist.
bool resolve_device(std::vector<SimDevice>& devices, std::size_t device, std::size_t collection,
                    DeviceRef& ref);

} // namespace sim
