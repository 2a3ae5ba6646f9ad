// The SetupAPI calls of both builds over the simulated device tree, apart from their handle
// tables: each builds or reads a DeviceInfoList that the caller's table holds, and tells how the
// call ends. Lists are snapshots taken when they are built, as on Windows: a device unplugged
// later is still listed, but its path no longer opens.
#pragma once

#include <string>
#include <vector>

#include "sim/device_interface.h"

namespace sim {

// A device information list. Interface lists hold the paths of the plugged-in collections, mouse
// lists each device's hardware IDs as REG_MULTI_SZ bytes.
struct DeviceInfoList {
    bool mouse = false;
    std::vector<std::wstring> interface_paths;
    std::vector<bool> enumeration_fails; // by interface index
    std::vector<std::string> hardware_ids;
};

// The hardware IDs of one device as REG_MULTI_SZ bytes: each ID and its NUL, then one more NUL.
std::string multi_sz(const std::vector<std::string>& ids);

// SetupDiGetClassDevsW for the HID interface class: fills `list` on success.
CallResult setupapi_hid_list(const std::vector<SimDevice>& devices, const GUID* class_guid,
                             const wchar_t* enumerator, DWORD flags, DeviceInfoList& list);

// SetupDiGetClassDevsA for the mouse interface class: fills `list` on success.
CallResult setupapi_mouse_list(const std::vector<std::vector<std::string>>& mouse_devices,
                               const GUID* class_guid, const char* enumerator, DWORD flags,
                               DeviceInfoList& list);

// The calls on a list. `list` is null when the caller's handle names no list.
CallResult setupapi_enum_interfaces(const DeviceInfoList* list, const SP_DEVINFO_DATA* device,
                                    const GUID* guid, DWORD index, SP_DEVICE_INTERFACE_DATA* data);
CallResult setupapi_interface_detail(const DeviceInfoList* list,
                                     const SP_DEVICE_INTERFACE_DATA* data,
                                     SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detail_size,
                                     DWORD* required_size, SP_DEVINFO_DATA* device);
CallResult setupapi_enum_device_info(const DeviceInfoList* list, DWORD index,
                                     SP_DEVINFO_DATA* device);
CallResult setupapi_hardware_ids(const DeviceInfoList* list, const SP_DEVINFO_DATA* device,
                                 DWORD property, DWORD* property_type, BYTE* buffer,
                                 DWORD buffer_size, DWORD* required_size);

} // namespace sim
