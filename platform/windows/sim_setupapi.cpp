// The SetupAPI calls of NorvaneFwUpdaterSim.exe over the simulated device tree: the HID interface
// list of the device discovery and the mouse-device list of the PnP ID check. They behave like the
// host stand-in's (platform/host/setupapi.cpp), with plain refusals for calls a correct program
// never makes.
//
// As with CreateFileW, the program reaches these through the import-table slots its dllimport
// declarations name (__imp_SetupDi...); this file defines the slots, and the build links no
// setupapi import library at all.
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "windows/sim_world.h"

namespace {

constexpr DWORD kRequiredListFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr DWORD kInterfaceActive = 0x00000001; // SPINT_ACTIVE
constexpr DWORD kRegMultiSz = 7;               // REG_MULTI_SZ
constexpr DWORD kErrorInvalidData = 13;        // ERROR_INVALID_DATA
constexpr std::size_t kMaxLists = 16;

// {4D36E96F-E325-11CE-BFC1-08002BE10318}, the setup class of pointing devices.
constexpr GUID kMouseSetupClassGuid = {
    0x4D36E96F, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A device information list, a snapshot taken when it is built. Interface lists hold paths, mouse
// lists each device's hardware IDs as REG_MULTI_SZ bytes.
struct DeviceList {
    bool mouse = false;
    std::vector<std::wstring> interface_paths;
    std::vector<std::string> hardware_ids;
};

DeviceList* g_lists[kMaxLists] = {};

BOOL refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

HDEVINFO new_list(DeviceList* list) {
    for (DeviceList*& slot : g_lists) {
        if (slot == nullptr) {
            slot = list;
            return static_cast<HDEVINFO>(list);
        }
    }
    delete list;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}

DeviceList** list_slot(HDEVINFO handle) {
    for (DeviceList*& slot : g_lists) {
        if (slot != nullptr && static_cast<HDEVINFO>(slot) == handle) {
            return &slot;
        }
    }
    return nullptr;
}

DeviceList* find_list(HDEVINFO handle, bool mouse) {
    DeviceList** slot = list_slot(handle);
    return slot != nullptr && (*slot)->mouse == mouse ? *slot : nullptr;
}

std::string multi_sz(const std::vector<std::string>& ids) {
    std::string bytes;
    for (const std::string& id : ids) {
        bytes += id;
        bytes.push_back('\0');
    }
    bytes.push_back('\0');
    return bytes;
}

bool fill_devinfo(SP_DEVINFO_DATA* device, const GUID& class_guid, std::size_t index) {
    if (device == nullptr) {
        return true;
    }
    if (device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return false;
    }
    device->ClassGuid = class_guid;
    device->DevInst = static_cast<DWORD>(index + 1);
    device->Reserved = index + 1;
    return true;
}

HDEVINFO WINAPI sim_get_class_devs_w(const GUID* class_guid, PCWSTR enumerator, HWND, DWORD flags) {
    if (class_guid == nullptr || !sim_same_guid(*class_guid, kSimHidInterfaceGuid) ||
        enumerator != nullptr || (flags & kRequiredListFlags) != kRequiredListFlags) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* list = new DeviceList;
    const auto& devices = sim_machine().devices;
    for (std::size_t d = 0; d < devices.size(); ++d) {
        for (std::size_t c = 0; !devices[d].unplugged && c < devices[d].collections.size(); ++c) {
            list->interface_paths.push_back(sim_interface_path(d, c));
        }
    }
    return new_list(list);
}

HDEVINFO WINAPI sim_get_class_devs_a(const GUID* class_guid, PCSTR enumerator, HWND, DWORD flags) {
    if (class_guid == nullptr || !sim_same_guid(*class_guid, kSimMouseInterfaceGuid) ||
        enumerator != nullptr || (flags & kRequiredListFlags) != kRequiredListFlags) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* list = new DeviceList;
    list->mouse = true;
    for (const auto& ids : sim_machine().mouse_devices) {
        list->hardware_ids.push_back(multi_sz(ids));
    }
    return new_list(list);
}

BOOL WINAPI sim_enum_device_interfaces(HDEVINFO handle, PSP_DEVINFO_DATA device, const GUID* guid,
                                       DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    const DeviceList* list = find_list(handle, false);
    if (list == nullptr) {
        return refuse(ERROR_INVALID_HANDLE);
    }
    if (device != nullptr || guid == nullptr || !sim_same_guid(*guid, kSimHidInterfaceGuid) ||
        data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return refuse(ERROR_INVALID_PARAMETER);
    }
    if (index >= list->interface_paths.size()) {
        return refuse(ERROR_NO_MORE_ITEMS);
    }
    data->InterfaceClassGuid = kSimHidInterfaceGuid;
    data->Flags = kInterfaceActive;
    data->Reserved = static_cast<ULONG_PTR>(index) + 1;
    return TRUE;
}

BOOL WINAPI sim_get_device_interface_detail_w(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                              PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                              DWORD detail_size, PDWORD required_size,
                                              PSP_DEVINFO_DATA device) {
    const DeviceList* list = find_list(handle, false);
    if (list == nullptr) {
        return refuse(ERROR_INVALID_HANDLE);
    }
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        data->Reserved == 0 || data->Reserved > list->interface_paths.size()) {
        return refuse(ERROR_INVALID_PARAMETER);
    }
    const std::size_t index = data->Reserved - 1;
    const std::wstring& path = list->interface_paths[index];
    const auto required =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (path.size() + 1) * sizeof(WCHAR));
    if (required_size != nullptr) {
        *required_size = required;
    }
    if (detail == nullptr || detail_size < required) {
        return refuse(ERROR_INSUFFICIENT_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ||
        !fill_devinfo(device, kSimHidInterfaceGuid, index)) {
        return refuse(ERROR_INVALID_USER_BUFFER);
    }
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI sim_enum_device_info(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA device) {
    const DeviceList* list = find_list(handle, true);
    if (list == nullptr) {
        return refuse(ERROR_INVALID_HANDLE);
    }
    if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return refuse(ERROR_INVALID_USER_BUFFER);
    }
    if (index >= list->hardware_ids.size()) {
        return refuse(ERROR_NO_MORE_ITEMS);
    }
    return fill_devinfo(device, kMouseSetupClassGuid, index) ? TRUE : FALSE;
}

BOOL WINAPI sim_get_device_registry_property_a(HDEVINFO handle, PSP_DEVINFO_DATA device,
                                               DWORD property, PDWORD property_type, PBYTE buffer,
                                               DWORD buffer_size, PDWORD required_size) {
    const DeviceList* list = find_list(handle, true);
    if (list == nullptr) {
        return refuse(ERROR_INVALID_HANDLE);
    }
    if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA) || device->Reserved == 0 ||
        device->Reserved > list->hardware_ids.size() || property != SPDRP_HARDWAREID) {
        return refuse(ERROR_INVALID_PARAMETER);
    }
    const std::string& ids = list->hardware_ids[device->Reserved - 1];
    if (ids.size() <= 1) {
        return refuse(kErrorInvalidData); // the device records no hardware ID
    }
    const auto required = static_cast<DWORD>(ids.size());
    if (required_size != nullptr) {
        *required_size = required;
    }
    if (property_type != nullptr) {
        *property_type = kRegMultiSz;
    }
    if (buffer == nullptr || buffer_size < required) {
        return refuse(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, ids.data(), ids.size());
    return TRUE;
}

BOOL WINAPI sim_destroy_device_info_list(HDEVINFO handle) {
    DeviceList** slot = list_slot(handle);
    if (slot == nullptr) {
        return refuse(ERROR_INVALID_HANDLE);
    }
    delete *slot;
    *slot = nullptr;
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
