// SetupAPI stand-in over the simulated device tree, and the device-tree helpers of device_tree.h.
// The lists and their calls are those of sim/setupapi_lists.h, shared with the Windows simulation
// build; this file keeps them in the handle table and counts the calls a correct program never
// makes.
#include "host/device_tree.h"

#include "host/handles.h"
#include "sim/setupapi_lists.h"
#include "sim/simulated_pc.h"

namespace {

std::uint64_t g_misuses = 0;

// Ends a call as the shared logic decided: the last error on a refusal, a misuse counted.
BOOL finish(const sim::CallResult& result) {
    if (result.misuse) {
        host_note_device_api_misuse();
    }
    if (!result.ok) {
        SetLastError(result.error);
    }
    return result.ok ? TRUE : FALSE;
}

// A new list in the handle table, or INVALID_HANDLE_VALUE when the call was refused.
HDEVINFO new_list(const sim::CallResult& result, const sim::DeviceInfoList& list) {
    if (!finish(result)) {
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry entry{};
    entry.kind = HandleKind::DeviceList;
    entry.device_list = list;
    return host_handle_new(entry);
}

// The list behind a handle, or null when the handle is not a device information list.
const sim::DeviceInfoList* list_of(HDEVINFO list) {
    const HandleEntry* entry = host_handle_get(list, HandleKind::DeviceList);
    return entry == nullptr ? nullptr : &entry->device_list;
}

} // namespace

// ---- device tree -------------------------------------------------------------------------------

std::wstring host_interface_path(std::size_t device, std::size_t collection) {
    return sim::interface_path(sim::pc().devices, device, collection);
}

bool host_find_interface(const wchar_t* path, std::size_t& device, std::size_t& collection) {
    return sim::find_interface(sim::pc().devices, path, device, collection);
}

bool host_is_device_path(const wchar_t* path) {
    std::size_t device = 0;
    std::size_t collection = 0;
    return host_find_interface(path, device, collection);
}

namespace {

constexpr DWORD kDriverAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// An open of a collection must share with the touchpad's driver, which holds it as the scenario
// says, and with every device handle this process has open on it.
bool collection_shares(std::size_t device, std::size_t collection, DWORD access, DWORD share) {
    const sim::HeldOpen held = sim::pc().devices[device].collections[collection].held_open;
    const DWORD driver_share = held == sim::HeldOpen::Shared ? kShareReadWrite : 0;
    if (held != sim::HeldOpen::None &&
        !host_share_allows(access, share, kDriverAccess, driver_share)) {
        return false;
    }
    for (const HandleEntry* entry : host_handles_all()) {
        if (entry->kind == HandleKind::Device && entry->device == device &&
            entry->collection == collection &&
            !host_share_allows(access, share, entry->access, entry->share)) {
            return false;
        }
    }
    return true;
}

} // namespace

HANDLE host_open_device_path(const wchar_t* path, DWORD access, DWORD share) {
    std::size_t device = 0;
    std::size_t collection = 0;
    if (!host_find_interface(path, device, collection)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (sim::pc().devices[device].unplugged) {
        SetLastError(ERROR_FILE_NOT_FOUND); // a removed device's interface is gone
        return INVALID_HANDLE_VALUE;
    }
    if (!collection_shares(device, collection, access, share)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry entry{};
    entry.kind = HandleKind::Device;
    entry.path = path;
    entry.access = access;
    entry.share = share;
    entry.device = device;
    entry.collection = collection;
    return host_handle_new(entry);
}

sim::SimDevice* host_device_of(const HandleEntry& entry) {
    sim::DeviceRef ref;
    if (!sim::resolve_device(sim::pc().devices, entry.device, entry.collection, ref)) {
        return nullptr;
    }
    return ref.device;
}

std::uint64_t host_device_api_misuses() {
    return g_misuses;
}

void host_note_device_api_misuse() {
    ++g_misuses;
}

void host_device_api_reset() {
    g_misuses = 0;
}

// ---- SetupAPI ----------------------------------------------------------------------------------

extern "C" HDEVINFO SetupDiGetClassDevsW(const GUID* class_guid, PCWSTR enumerator, HWND parent,
                                         DWORD flags) {
    (void)parent;
    sim::DeviceInfoList list;
    return new_list(sim::setupapi_hid_list(sim::pc().devices, class_guid, enumerator, flags, list),
                    list);
}

extern "C" HDEVINFO SetupDiGetClassDevsA(const GUID* class_guid, PCSTR enumerator, HWND parent,
                                         DWORD flags) {
    (void)parent;
    sim::DeviceInfoList list;
    return new_list(
        sim::setupapi_mouse_list(sim::pc().mouse_devices, class_guid, enumerator, flags, list),
        list);
}

extern "C" BOOL SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA device,
                                            const GUID* guid, DWORD index,
                                            PSP_DEVICE_INTERFACE_DATA data) {
    return finish(sim::setupapi_enum_interfaces(list_of(list), device, guid, index, data));
}

extern "C" BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                 DWORD detail_size, PDWORD required_size,
                                                 PSP_DEVINFO_DATA device) {
    return finish(sim::setupapi_interface_detail(list_of(list), data, detail, detail_size,
                                                 required_size, device));
}

extern "C" BOOL SetupDiEnumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA device) {
    return finish(sim::setupapi_enum_device_info(list_of(list), index, device));
}

extern "C" BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO list, PSP_DEVINFO_DATA device,
                                                  DWORD property, PDWORD property_type,
                                                  PBYTE buffer, DWORD buffer_size,
                                                  PDWORD required_size) {
    return finish(sim::setupapi_hardware_ids(list_of(list), device, property, property_type, buffer,
                                             buffer_size, required_size));
}

extern "C" BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list) {
    if (host_handle_get(list, HandleKind::DeviceList) == nullptr) {
        return finish(sim::call_misused(ERROR_INVALID_HANDLE));
    }
    host_handle_release(list);
    return TRUE;
}
