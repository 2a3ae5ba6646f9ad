// The SetupAPI calls of NorvaneFwUpdaterSim.exe over the simulated device tree: the HID interface
// list of the device discovery and the mouse-device list of the PnP ID check. The lists and the
// calls on them are those of the host stand-in (sim/setupapi_lists.h); this file keeps the lists
// in a table of its own and refuses plainly where the host also counts a misuse.
//
// As with CreateFileW, the program reaches these through the import-table slots its dllimport
// declarations name (__imp_SetupDi...); this file defines the slots, and the build links no
// setupapi import library at all.
#include <cstddef>

#include "sim/setupapi_lists.h"
#include "windows/sim_slots.h"
#include "windows/sim_world.h"

namespace {

constexpr std::size_t kMaxLists = 16;

using sim::DeviceInfoList;

SlotTable<DeviceInfoList, kMaxLists> g_lists;

BOOL finish(const sim::CallResult& result) {
    if (!result.ok) {
        SetLastError(result.error);
    }
    return result.ok ? TRUE : FALSE;
}

// A new list in the table, or INVALID_HANDLE_VALUE when the call was refused or the table is full.
HDEVINFO new_list(const sim::CallResult& result, const DeviceInfoList& list) {
    if (!finish(result)) {
        return INVALID_HANDLE_VALUE;
    }
    DeviceInfoList* added = slot_add(g_lists, list);
    if (added == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return static_cast<HDEVINFO>(added);
}

const DeviceInfoList* list_of(HDEVINFO handle) {
    DeviceInfoList** slot = slot_of(g_lists, handle);
    return slot == nullptr ? nullptr : *slot;
}

HDEVINFO WINAPI sim_get_class_devs_w(const GUID* class_guid, PCWSTR enumerator, HWND, DWORD flags) {
    DeviceInfoList list;
    return new_list(
        sim::setupapi_hid_list(sim_machine().devices, class_guid, enumerator, flags, list), list);
}

HDEVINFO WINAPI sim_get_class_devs_a(const GUID* class_guid, PCSTR enumerator, HWND, DWORD flags) {
    DeviceInfoList list;
    return new_list(
        sim::setupapi_mouse_list(sim_machine().mouse_devices, class_guid, enumerator, flags, list),
        list);
}

BOOL WINAPI sim_enum_device_interfaces(HDEVINFO handle, PSP_DEVINFO_DATA device, const GUID* guid,
                                       DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    return finish(sim::setupapi_enum_interfaces(list_of(handle), device, guid, index, data));
}

BOOL WINAPI sim_get_device_interface_detail_w(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                              PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                              DWORD detail_size, PDWORD required_size,
                                              PSP_DEVINFO_DATA device) {
    return finish(sim::setupapi_interface_detail(list_of(handle), data, detail, detail_size,
                                                 required_size, device));
}

BOOL WINAPI sim_enum_device_info(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA device) {
    return finish(sim::setupapi_enum_device_info(list_of(handle), index, device));
}

BOOL WINAPI sim_get_device_registry_property_a(HDEVINFO handle, PSP_DEVINFO_DATA device,
                                               DWORD property, PDWORD property_type, PBYTE buffer,
                                               DWORD buffer_size, PDWORD required_size) {
    return finish(sim::setupapi_hardware_ids(list_of(handle), device, property, property_type,
                                             buffer, buffer_size, required_size));
}

BOOL WINAPI sim_destroy_device_info_list(HDEVINFO handle) {
    if (!slot_remove(g_lists, handle)) {
        return finish(sim::call_refused(ERROR_INVALID_HANDLE));
    }
    return TRUE;
}

} // namespace

extern "C" {
decltype(&SetupDiGetClassDevsW) __imp_SetupDiGetClassDevsW = sim_get_class_devs_w;
decltype(&SetupDiGetClassDevsA) __imp_SetupDiGetClassDevsA = sim_get_class_devs_a;
decltype(&SetupDiEnumDeviceInterfaces) __imp_SetupDiEnumDeviceInterfaces =
    sim_enum_device_interfaces;
decltype(&SetupDiGetDeviceInterfaceDetailW) __imp_SetupDiGetDeviceInterfaceDetailW =
    sim_get_device_interface_detail_w;
decltype(&SetupDiEnumDeviceInfo) __imp_SetupDiEnumDeviceInfo = sim_enum_device_info;
decltype(&SetupDiGetDeviceRegistryPropertyA) __imp_SetupDiGetDeviceRegistryPropertyA =
    sim_get_device_registry_property_a;
decltype(&SetupDiDestroyDeviceInfoList) __imp_SetupDiDestroyDeviceInfoList =
    sim_destroy_device_info_list;
}
