#include "sim/setupapi_lists.h"

#include <cstddef>
#include <cstring>

namespace sim {

namespace {

constexpr DWORD kRequiredListFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr DWORD kInterfaceActive = 0x00000001; // SPINT_ACTIVE
constexpr DWORD kRegMultiSz = 7;               // REG_MULTI_SZ
constexpr DWORD kErrorInvalidData = 13;        // ERROR_INVALID_DATA

// {4D36E96F-E325-11CE-BFC1-08002BE10318}, the setup class of pointing devices.
constexpr GUID kMouseSetupClassGuid = {
    0x4D36E96F, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

bool list_request_valid(const GUID* class_guid, const GUID& wanted, bool has_enumerator,
                        DWORD flags) {
    return class_guid != nullptr && same_guid(*class_guid, wanted) && !has_enumerator &&
           (flags & kRequiredListFlags) == kRequiredListFlags;
}

bool is_list(const DeviceInfoList* list, bool mouse) {
    return list != nullptr && list->mouse == mouse;
}

// The interface index that SetupDiEnumDeviceInterfaces left in the data's Reserved field.
bool interface_index(const DeviceInfoList& list, const SP_DEVICE_INTERFACE_DATA* data,
                     std::size_t& index) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        data->Reserved == 0 || data->Reserved > list.interface_paths.size()) {
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

std::string multi_sz(const std::vector<std::string>& ids) {
    std::string bytes;
    for (const std::string& id : ids) {
        bytes += id;
        bytes.push_back('\0');
    }
    bytes.push_back('\0');
    return bytes;
}

CallResult setupapi_hid_list(const std::vector<SimDevice>& devices, const GUID* class_guid,
                             const wchar_t* enumerator, DWORD flags, DeviceInfoList& list) {
    if (!list_request_valid(class_guid, kHidInterfaceGuid, enumerator != nullptr, flags)) {
        return call_misused(ERROR_INVALID_PARAMETER);
    }
    list = DeviceInfoList{};
    for (std::size_t d = 0; d < devices.size(); ++d) {
        for (std::size_t c = 0; !devices[d].unplugged && c < devices[d].collections.size(); ++c) {
            list.interface_paths.push_back(interface_path(devices, d, c));
            list.enumeration_fails.push_back(devices[d].enumeration_fails);
        }
    }
    return call_ok();
}

CallResult setupapi_mouse_list(const std::vector<std::vector<std::string>>& mouse_devices,
                               const GUID* class_guid, const char* enumerator, DWORD flags,
                               DeviceInfoList& list) {
    if (!list_request_valid(class_guid, kMouseInterfaceGuid, enumerator != nullptr, flags)) {
        return call_misused(ERROR_INVALID_PARAMETER);
    }
    list = DeviceInfoList{};
    list.mouse = true;
    for (const auto& ids : mouse_devices) {
        list.hardware_ids.push_back(multi_sz(ids));
    }
    return call_ok();
}

CallResult setupapi_enum_interfaces(const DeviceInfoList* list, const SP_DEVINFO_DATA* device,
                                    const GUID* guid, DWORD index, SP_DEVICE_INTERFACE_DATA* data) {
    if (!is_list(list, false)) {
        return call_misused(ERROR_INVALID_HANDLE);
    }
    if (device != nullptr || guid == nullptr || !same_guid(*guid, kHidInterfaceGuid) ||
        data == nullptr) {
        return call_misused(ERROR_INVALID_PARAMETER);
    }
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return call_misused(ERROR_INVALID_USER_BUFFER);
    }
    if (index >= list->interface_paths.size()) {
        return call_refused(ERROR_NO_MORE_ITEMS);
    }
    if (list->enumeration_fails[index]) {
        return call_refused(kErrorInvalidData);
    }
    data->InterfaceClassGuid = kHidInterfaceGuid;
    data->Flags = kInterfaceActive;
    data->Reserved = static_cast<ULONG_PTR>(index) + 1;
    return call_ok();
}

CallResult setupapi_interface_detail(const DeviceInfoList* list,
                                     const SP_DEVICE_INTERFACE_DATA* data,
                                     SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detail_size,
                                     DWORD* required_size, SP_DEVINFO_DATA* device) {
    std::size_t index = 0;
    if (!is_list(list, false)) {
        return call_misused(ERROR_INVALID_HANDLE);
    }
    if (!interface_index(*list, data, index)) {
        return call_misused(ERROR_INVALID_PARAMETER);
    }
    const std::wstring& path = list->interface_paths[index];
    const auto required =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (path.size() + 1) * sizeof(WCHAR));
    if (required_size != nullptr) {
        *required_size = required;
    }
    if (detail == nullptr) {
        return detail_size == 0 ? call_refused(ERROR_INSUFFICIENT_BUFFER)
                                : call_misused(ERROR_INVALID_USER_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return call_misused(ERROR_INVALID_USER_BUFFER);
    }
    if (detail_size < required) {
        return call_misused(ERROR_INSUFFICIENT_BUFFER);
    }
    if (!fill_devinfo(device, kHidInterfaceGuid, index)) {
        return call_misused(ERROR_INVALID_USER_BUFFER);
    }
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return call_ok();
}

CallResult setupapi_enum_device_info(const DeviceInfoList* list, DWORD index,
                                     SP_DEVINFO_DATA* device) {
    if (!is_list(list, true)) {
        return call_misused(ERROR_INVALID_HANDLE);
    }
    if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return call_misused(ERROR_INVALID_USER_BUFFER);
    }
    if (index >= list->hardware_ids.size()) {
        return call_refused(ERROR_NO_MORE_ITEMS);
    }
    fill_devinfo(device, kMouseSetupClassGuid, index);
    return call_ok();
}

CallResult setupapi_hardware_ids(const DeviceInfoList* list, const SP_DEVINFO_DATA* device,
                                 DWORD property, DWORD* property_type, BYTE* buffer,
                                 DWORD buffer_size, DWORD* required_size) {
    if (!is_list(list, true)) {
        return call_misused(ERROR_INVALID_HANDLE);
    }
    if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA) || device->Reserved == 0 ||
        device->Reserved > list->hardware_ids.size() || property != SPDRP_HARDWAREID) {
        return call_misused(ERROR_INVALID_PARAMETER);
    }
    const std::string& ids = list->hardware_ids[device->Reserved - 1];
    if (ids.size() <= 1) {
        return call_refused(kErrorInvalidData); // the device records no hardware ID
    }
    const auto required = static_cast<DWORD>(ids.size());
    if (required_size != nullptr) {
        *required_size = required;
    }
    if (property_type != nullptr) {
        *property_type = kRegMultiSz;
    }
    if (buffer == nullptr || buffer_size < required) {
        return call_refused(ERROR_INSUFFICIENT_BUFFER);
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        buffer[i] = static_cast<BYTE>(ids[i]);
    }
    return call_ok();
}

} // namespace sim
