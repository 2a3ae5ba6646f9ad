// Finding the controller among the HID interfaces and binding its two vendor collections.
#include <vector>

#include "app/settings.h"
#include "device/device_link.h"
#include "update/fw_image.h"

DeviceLink g_device_link{{L"", 0, 0, 0, nullptr}, {L"", 0, 0, 0, nullptr}, 0};

namespace {

enum class WalkMode { Find, Bind };

constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr ULONG kAttributesSize = sizeof(HIDD_ATTRIBUTES);
constexpr USHORT kVendorPageMask = 0xFF00;
constexpr USHORT kControlPage = 0xFF01;
constexpr USHORT kDataPage = 0xFF02;
constexpr int kReportIdBytes = 1;
constexpr int kReportOverheadBytes = 6; // command, four address bytes, checksum
// A list that keeps failing without ever saying "no more items" must not hold the walk forever.
constexpr DWORD kMaxInterfaceIndex = 0x10000;

bool is_target(const HIDD_ATTRIBUTES& attributes) {
    return attributes.VendorID == kTargetVendorId && attributes.ProductID != kExcludedProductId;
}

bool matches_filter(const HIDD_ATTRIBUTES& attributes) {
    if (!is_target(attributes)) {
        return false;
    }
    return (g_setting_flags & kSettingPid) == 0 || attributes.ProductID == g_fw_image.product_id;
}

// Access 0: the handle serves attribute queries and feature reports only, and opens even when
// another program holds the collection for reading or writing.
HANDLE open_interface(const wchar_t* path) {
    return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

void store_channel(HidChannel& channel, const wchar_t* path, const HIDP_VALUE_CAPS& caps) {
    channel.path = path;
    channel.report_id = caps.ReportID;
    channel.report_length = static_cast<std::uint16_t>(caps.ReportCount + kReportIdBytes);
    channel.payload_length = static_cast<std::int16_t>(caps.ReportCount - kReportOverheadBytes);
}

void classify_and_store(const HIDP_CAPS& caps, const HIDP_VALUE_CAPS& first, const wchar_t* path) {
    // The order matters: a page such as 0xFF03 passes both tests and becomes the control channel.
    if ((caps.UsagePage & kControlPage) == kControlPage) {
        store_channel(g_device_link.control, path, first);
    } else if ((caps.UsagePage & kDataPage) == kDataPage) {
        store_channel(g_device_link.data, path, first);
    }
}

void bind_from_preparsed(PHIDP_PREPARSED_DATA preparsed, const wchar_t* path) {
    HIDP_CAPS caps{};
    if (HidP_GetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS) {
        return;
    }
    if (caps.NumberFeatureValueCaps == 0 || (caps.UsagePage & kVendorPageMask) != kVendorPageMask) {
        return;
    }
    // Room for every capability the collection reports, although only the first is used.
    std::vector<HIDP_VALUE_CAPS> value_caps(caps.NumberFeatureValueCaps);
    USHORT count = caps.NumberFeatureValueCaps;
    if (HidP_GetValueCaps(HidP_Feature, value_caps.data(), &count, preparsed) !=
        HIDP_STATUS_SUCCESS) {
        return;
    }
    if (count == 0) {
        return;
    }
    classify_and_store(caps, value_caps[0], path);
}

void _bind_interface(const HIDD_ATTRIBUTES& attributes, HANDLE handle, const wchar_t* path) {
    if (!is_target(attributes)) {
        return;
    }
    g_device_link.hid_version = attributes.VersionNumber; // every target interface sets it
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(handle, &preparsed)) {
        return;
    }
    bind_from_preparsed(preparsed, path);
    HidD_FreePreparsedData(preparsed);
}

// Resources held for the interface being looked at; released before the next one.
struct WalkStep {
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail = nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

void release_step(WalkStep& step) {
    if (step.detail != nullptr) {
        LocalFree(step.detail);
        step.detail = nullptr;
    }
    if (step.handle != INVALID_HANDLE_VALUE) {
        CloseHandle(step.handle);
        step.handle = INVALID_HANDLE_VALUE;
    }
}

// Gets the interface's detail (its path) in the two calls the platform needs.
bool get_detail(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& interface_data, WalkStep& step) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(list, &interface_data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return false;
    }
    step.detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(LocalAlloc(LPTR, required));
    if (step.detail == nullptr) {
        return false;
    }
    step.detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    return SetupDiGetDeviceInterfaceDetailW(list, &interface_data, step.detail, required, nullptr,
                                            nullptr) != FALSE;
}

// Looks at one interface; true when the find walk may stop here.
bool visit_interface(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& interface_data, WalkMode mode,
                     WalkStep& step) {
    if (!get_detail(list, interface_data, step)) {
        return false;
    }
    step.handle = open_interface(step.detail->DevicePath);
    if (step.handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = kAttributesSize;
    if (!HidD_GetAttributes(step.handle, &attributes)) {
        return false;
    }
    if (mode == WalkMode::Find) {
        return matches_filter(attributes);
    }
    _bind_interface(attributes, step.handle, step.detail->DevicePath);
    return false;
}

bool _enumerate_hid_interfaces(WalkMode mode) {
    GUID hid_guid;
    HidD_GetHidGuid(&hid_guid);
    HDEVINFO list = SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, kPresentInterfaces);
    if (list == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool found = false;
    WalkStep step;
    for (DWORD index = 0; index < kMaxInterfaceIndex; ++index) {
        SP_DEVICE_INTERFACE_DATA interface_data{};
        interface_data.cbSize = sizeof(interface_data);
        if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hid_guid, index, &interface_data)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) {
                break;
            }
            continue;
        }
        release_step(step);
        if (visit_interface(list, interface_data, mode, step)) {
            found = true;
            break;
        }
    }
    release_step(step);
    SetupDiDestroyDeviceInfoList(list);
    return found;
}

} // namespace

bool _find_target_device() {
    return _enumerate_hid_interfaces(WalkMode::Find);
}

void _bind_channels() {
    _enumerate_hid_interfaces(WalkMode::Bind);
}
