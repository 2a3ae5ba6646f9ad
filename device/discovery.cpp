// Finding the controller among the HID interfaces and binding its two vendor collections. The
// first device that passes the filter is the one checked and flashed; both channels always come
// from that one device, never from another controller that happens to be present as well.
#include <algorithm>
#include <cwctype>
#include <vector>

#include "device/debug_output.h"
#include "device/device_link.h"
#include "device/internal.h"

namespace norvane {

namespace {

// Two walks over the HID interfaces: the find walk chooses the device and stops there; the bind
// walk goes through the whole list for that device's collections, and runs again at the start of
// the update. Each walk opens every interface afresh, so a binding sees the device as it is then.
enum class WalkMode { Find, Bind };

constexpr std::uint16_t kTargetVendorId = 0x044E;
constexpr std::uint16_t kExcludedProductId = 0x1212;

constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr ULONG kAttributesSize = sizeof(HIDD_ATTRIBUTES);
constexpr USHORT kVendorPageMask = 0xFF00;
constexpr USHORT kControlPage = 0xFF01;
constexpr USHORT kDataPage = 0xFF02;
constexpr int kReportIdBytes = 1;
constexpr int kReportOverheadBytes = 6; // command, four address bytes, checksum
// A list that keeps failing without ever saying "no more items" must not hold the walk forever.
constexpr DWORD kMaxInterfaceIndex = 0x10000;
// An interface path reads \\?\hid#<hardware part>#<instance part>#{class}; the hardware part names
// the collection as "&colNN", the instance part ends with the collection's own number.
constexpr wchar_t kPathFieldSeparator = L'#';
constexpr wchar_t kIdSeparator = L'&';
constexpr std::wstring_view kCollectionToken = L"col";
constexpr std::size_t kHardwareField = 1;
constexpr std::size_t kInstanceField = 2;

std::vector<std::wstring> split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> fields(1);
    for (const wchar_t ch : text) {
        if (ch == separator) {
            fields.emplace_back();
        } else {
            fields.back().push_back(ch);
        }
    }
    return fields;
}

std::wstring join(const std::vector<std::wstring>& fields, wchar_t separator) {
    std::wstring text;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            text.push_back(separator);
        }
        text += fields[i];
    }
    return text;
}

std::wstring without_collection_token(const std::wstring& hardware) {
    std::vector<std::wstring> tokens = split(hardware, kIdSeparator);
    std::erase_if(tokens,
                  [](const std::wstring& token) { return token.starts_with(kCollectionToken); });
    return join(tokens, kIdSeparator);
}

std::wstring without_last_token(const std::wstring& instance) {
    const std::size_t last = instance.rfind(kIdSeparator);
    return last == std::wstring::npos ? instance : instance.substr(0, last);
}

bool is_target(const HIDD_ATTRIBUTES& attributes) {
    return attributes.VendorID == kTargetVendorId && attributes.ProductID != kExcludedProductId;
}

bool matches_filter(const HIDD_ATTRIBUTES& attributes) {
    if (!is_target(attributes)) {
        return false;
    }
    return !g_device_link.filter.match_product ||
           attributes.ProductID == g_device_link.filter.product_id;
}

// The lengths come from the first value capability, ReportCount data bytes and the report ID, not
// from the collection's FeatureReportByteLength: every request keeps the length the controller is
// sent, whatever else the collection declares.
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

// Counts the devices that pass the filter, so that the run can say which of several it chose.
void note_target(const HIDD_ATTRIBUTES& attributes, const std::wstring& instance) {
    std::vector<std::wstring>& seen = g_device_link.seen_targets;
    if (matches_filter(attributes) && std::find(seen.begin(), seen.end(), instance) == seen.end()) {
        seen.push_back(instance);
    }
}

// The walk's operations keep their names, file-local as they are (docs/architecture.md, "Names").
void _bind_interface(const HIDD_ATTRIBUTES& attributes, HANDLE handle, const wchar_t* path) {
    if (!is_target(attributes)) {
        return;
    }
    const std::wstring instance = _device_instance_of(path);
    note_target(attributes, instance);
    if (g_device_link.target_instance.empty() || instance != g_device_link.target_instance) {
        return; // another device: its collections never become a channel of this run
    }
    g_device_link.hid_version = attributes.VersionNumber;
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
    step.handle = _open_collection(step.detail->DevicePath);
    if (step.handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = kAttributesSize;
    if (!HidD_GetAttributes(step.handle, &attributes)) {
        return false;
    }
    if (mode == WalkMode::Find) {
        if (!matches_filter(attributes)) {
            return false;
        }
        g_device_link.target_path = step.detail->DevicePath;
        g_device_link.target_instance = _device_instance_of(step.detail->DevicePath);
        return true;
    }
    _bind_interface(attributes, step.handle, step.detail->DevicePath);
    return false;
}

bool _enumerate_hid_interfaces(WalkMode mode) {
    GUID hid_guid;
    HidD_GetHidGuid(&hid_guid);
    HDEVINFO list = SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, kPresentInterfaces);
    if (list == INVALID_HANDLE_VALUE) {
        _debug_failure(L"_enumerate_hid_interfaces", L"the list of HID interfaces", GetLastError());
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

std::wstring _device_instance_of(const wchar_t* path) {
    std::wstring lower(path);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](wchar_t ch) { return static_cast<wchar_t>(std::towlower(ch)); });
    std::vector<std::wstring> fields = split(lower, kPathFieldSeparator);
    if (fields.size() <= kInstanceField) {
        return lower; // not a HID interface path: the path alone names the device
    }
    fields[kHardwareField] = without_collection_token(fields[kHardwareField]);
    fields[kInstanceField] = without_last_token(fields[kInstanceField]);
    return join(fields, kPathFieldSeparator);
}

bool _find_target_device(const TargetFilter& filter) {
    g_device_link.filter = filter;
    g_device_link.target_instance.clear();
    g_device_link.target_path.clear();
    return _enumerate_hid_interfaces(WalkMode::Find);
}

namespace {

// A channel bound earlier stays (a binding never clears what it does not find again), but only
// while it belongs to the chosen device.
void keep_if_chosen(HidChannel& channel) {
    if (!channel.path.empty() &&
        _device_instance_of(channel.path.c_str()) != g_device_link.target_instance) {
        channel.path.clear();
    }
}

} // namespace

void _bind_channels() {
    keep_if_chosen(g_device_link.control);
    keep_if_chosen(g_device_link.data);
    if (g_device_link.control.path.empty() && g_device_link.data.path.empty()) {
        g_device_link.hid_version = 0;
    }
    g_device_link.seen_targets.clear();
    _enumerate_hid_interfaces(WalkMode::Bind);
    g_device_link.targets_seen = static_cast<int>(g_device_link.seen_targets.size());
    g_device_link.seen_targets.clear();
}

} // namespace norvane
