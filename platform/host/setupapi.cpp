// SetupAPI stand-in over the simulated device tree, and the device-tree helpers of device_tree.h.
// Lists are snapshots taken when they are built, as on Windows: a device unplugged later is still
// listed, but its path no longer opens.
#include "host/device_tree.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwctype>

#include "host/handles.h"
#include "sim/simulated_pc.h"

namespace {

constexpr DWORD kRequiredListFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr DWORD kInterfaceActive = 0x00000001; // SPINT_ACTIVE
constexpr DWORD kRegMultiSz = 7;               // REG_MULTI_SZ
constexpr DWORD kErrorInvalidData = 13;        // ERROR_INVALID_DATA
constexpr std::uint32_t kInstanceBase = 0x1A2B3C4D;
constexpr std::size_t kPathCapacity = 160;

// {4D36E96F-E325-11CE-BFC1-08002BE10318}, the setup class of pointing devices.
constexpr GUID kMouseSetupClassGuid = {
    0x4D36E96F, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::uint64_t g_misuses = 0;

BOOL refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL misuse(DWORD error) {
    host_note_device_api_misuse();
    return refuse(error);
}

HDEVINFO misuse_list(DWORD error) {
    host_note_device_api_misuse();
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

bool same_path(const wchar_t* a, const std::wstring& b) {
    std::size_t i = 0;
    for (; i < b.size() && a[i] != L'\0'; ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return a[i] == L'\0' && i == b.size();
}

// A device's hardware IDs as REG_MULTI_SZ bytes, widened one byte to a character.
std::wstring multi_sz(const std::vector<std::string>& ids) {
    std::wstring text;
    for (const std::string& id : ids) {
        for (char c : id) {
            text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        }
        text.push_back(L'\0');
    }
    text.push_back(L'\0');
    return text;
}

HandleEntry* interface_list(HDEVINFO list) {
    HandleEntry* entry = host_handle_get(list, HandleKind::DeviceList);
    return entry != nullptr && !entry->mouse_list ? entry : nullptr;
}

HandleEntry* mouse_list(HDEVINFO list) {
    HandleEntry* entry = host_handle_get(list, HandleKind::DeviceList);
    return entry != nullptr && entry->mouse_list ? entry : nullptr;
}

// The interface index that SetupDiEnumDeviceInterfaces left in the data's Reserved field.
bool interface_index(const HandleEntry& list, const SP_DEVICE_INTERFACE_DATA* data,
                     std::size_t& index) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        data->Reserved == 0 || data->Reserved > list.names.size()) {
        return false;
    }
    index = static_cast<std::size_t>(data->Reserved - 1);
    return true;
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

} // namespace

// ---- device tree -------------------------------------------------------------------------------

bool host_same_guid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof(a.Data4)) == 0;
}

std::wstring host_interface_path(std::size_t device, std::size_t collection) {
    const sim::SimDevice& target = sim::pc().devices.at(device);
    wchar_t text[kPathCapacity];
    wchar_t col[16] = L"";
    if (target.collections.size() > 1) {
        std::swprintf(col, sizeof(col) / sizeof(col[0]), L"&col%02zu", collection + 1);
    }
    const auto instance = static_cast<unsigned>(kInstanceBase + device);
    std::swprintf(text, kPathCapacity,
                  L"\\\\?\\hid#vid_%04x&pid_%04x%ls#7&%08x&0&0000#"
                  L"{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  static_cast<unsigned>(target.vendor_id), static_cast<unsigned>(target.product_id),
                  col, instance);
    return text;
}

bool host_find_interface(const wchar_t* path, std::size_t& device, std::size_t& collection) {
    if (path == nullptr) {
        return false;
    }
    const auto& devices = sim::pc().devices;
    for (std::size_t d = 0; d < devices.size(); ++d) {
        for (std::size_t c = 0; c < devices[d].collections.size(); ++c) {
            if (same_path(path, host_interface_path(d, c))) {
                device = d;
                collection = c;
                return true;
            }
        }
    }
    return false;
}

bool host_is_device_path(const wchar_t* path) {
    std::size_t device = 0;
    std::size_t collection = 0;
    return host_find_interface(path, device, collection);
}

HANDLE host_open_device_path(const wchar_t* path, DWORD access, DWORD share) {
    std::size_t device = 0;
    std::size_t collection = 0;
    if (!host_find_interface(path, device, collection)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (sim::pc().devices[device].unplugged) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
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
    auto& devices = sim::pc().devices;
    if (entry.device >= devices.size() ||
        entry.collection >= devices[entry.device].collections.size()) {
        return nullptr;
    }
    return &devices[entry.device];
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
    if (class_guid == nullptr || !host_same_guid(*class_guid, kHidInterfaceGuid) ||
        enumerator != nullptr || (flags & kRequiredListFlags) != kRequiredListFlags) {
        return misuse_list(ERROR_INVALID_PARAMETER);
    }
    HandleEntry entry{};
    entry.kind = HandleKind::DeviceList;
    const auto& devices = sim::pc().devices;
    for (std::size_t d = 0; d < devices.size(); ++d) {
        for (std::size_t c = 0; !devices[d].unplugged && c < devices[d].collections.size(); ++c) {
            entry.names.push_back(host_interface_path(d, c));
        }
    }
    return host_handle_new(entry);
}

extern "C" HDEVINFO SetupDiGetClassDevsA(const GUID* class_guid, PCSTR enumerator, HWND parent,
                                         DWORD flags) {
    (void)parent;
    if (class_guid == nullptr || !host_same_guid(*class_guid, kMouseInterfaceGuid) ||
        enumerator != nullptr || (flags & kRequiredListFlags) != kRequiredListFlags) {
        return misuse_list(ERROR_INVALID_PARAMETER);
    }
    HandleEntry entry{};
    entry.kind = HandleKind::DeviceList;
    entry.mouse_list = true;
    for (const auto& ids : sim::pc().mouse_devices) {
        entry.names.push_back(multi_sz(ids));
    }
    return host_handle_new(entry);
}

extern "C" BOOL SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA device,
                                            const GUID* guid, DWORD index,
                                            PSP_DEVICE_INTERFACE_DATA data) {
    const HandleEntry* entry = interface_list(list);
    if (entry == nullptr) {
        return misuse(ERROR_INVALID_HANDLE);
    }
    if (device != nullptr || guid == nullptr || !host_same_guid(*guid, kHidInterfaceGuid) ||
        data == nullptr) {
        return misuse(ERROR_INVALID_PARAMETER);
    }
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return misuse(ERROR_INVALID_USER_BUFFER);
    }
    if (index >= entry->names.size()) {
        return refuse(ERROR_NO_MORE_ITEMS);
    }
    data->InterfaceClassGuid = kHidInterfaceGuid;
    data->Flags = kInterfaceActive;
    data->Reserved = static_cast<ULONG_PTR>(index) + 1;
    return TRUE;
}

extern "C" BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                 DWORD detail_size, PDWORD required_size,
                                                 PSP_DEVINFO_DATA device) {
    const HandleEntry* entry = interface_list(list);
    std::size_t index = 0;
    if (entry == nullptr) {
        return misuse(ERROR_INVALID_HANDLE);
    }
    if (!interface_index(*entry, data, index)) {
        return misuse(ERROR_INVALID_PARAMETER);
    }
    const std::wstring& path = entry->names[index];
    const auto required =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (path.size() + 1) * sizeof(WCHAR));
    if (required_size != nullptr) {
        *required_size = required;
    }
    if (detail == nullptr) {
        return detail_size == 0 ? refuse(ERROR_INSUFFICIENT_BUFFER)
                                : misuse(ERROR_INVALID_USER_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return misuse(ERROR_INVALID_USER_BUFFER);
    }
    if (detail_size < required) {
        return misuse(ERROR_INSUFFICIENT_BUFFER);
    }
    if (!fill_devinfo(device, kHidInterfaceGuid, index)) {
        return misuse(ERROR_INVALID_USER_BUFFER);
    }
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

extern "C" BOOL SetupDiEnumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA device) {
    const HandleEntry* entry = mouse_list(list);
    if (entry == nullptr) {
        return misuse(ERROR_INVALID_HANDLE);
    }
    if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return misuse(ERROR_INVALID_USER_BUFFER);
    }
    if (index >= entry->names.size()) {
        return refuse(ERROR_NO_MORE_ITEMS);
    }
    return fill_devinfo(device, kMouseSetupClassGuid, index) ? TRUE : FALSE;
}

extern "C" BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO list, PSP_DEVINFO_DATA device,
                                                  DWORD property, PDWORD property_type,
                                                  PBYTE buffer, DWORD buffer_size,
                                                  PDWORD required_size) {
    const HandleEntry* entry = mouse_list(list);
    if (entry == nullptr) {
        return misuse(ERROR_INVALID_HANDLE);
    }
    if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA) || device->Reserved == 0 ||
        device->Reserved > entry->names.size() || property != SPDRP_HARDWAREID) {
        return misuse(ERROR_INVALID_PARAMETER);
    }
    const std::wstring& ids = entry->names[device->Reserved - 1];
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
    for (std::size_t i = 0; i < ids.size(); ++i) {
        buffer[i] = static_cast<BYTE>(ids[i]);
    }
    return TRUE;
}

extern "C" BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list) {
    if (host_handle_get(list, HandleKind::DeviceList) == nullptr) {
        return misuse(ERROR_INVALID_HANDLE);
    }
    host_handle_release(list);
    return TRUE;
}
