// The HID calls of NorvaneFwUpdaterSim.exe over the simulated devices: attributes, preparsed data
// and capabilities from the scenario's collections, feature reports to and from the controller
// model (platform/sim/hid_device.cpp, shared with the host stand-in, fault rules included).
//
// The SDK declares HidD_* and HidP_* without dllimport, so the program calls them by their plain
// names; this file defines those names and the build links no hid import library.
#include <cstddef>
#include <cstring>

#include "windows/sim_world.h"

namespace {

constexpr USAGE kVendorUsage = 0x01; // the top-level usage of every simulated collection
constexpr USHORT kValueBitSize = 8;  // every feature value is a byte array
constexpr LONG kLogicalMax = 0xFF;
constexpr NTSTATUS kHidpStatusNull = static_cast<NTSTATUS>(0x80110001); // HIDP_STATUS_NULL
constexpr std::size_t kMaxPreparsed = 64;

struct DeviceRef {
    sim::SimDevice* device = nullptr;
    std::size_t collection = 0;
};

// Preparsed data handed out and not yet freed; the pointer is the caller's handle.
struct Preparsed {
    std::size_t device = 0;
    std::size_t collection = 0;
};

Preparsed* g_preparsed[kMaxPreparsed] = {};

BOOLEAN refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool resolve(std::size_t device, std::size_t collection, DeviceRef& ref) {
    auto& devices = sim_machine().devices;
    if (device >= devices.size() || collection >= devices[device].collections.size()) {
        return false;
    }
    ref.device = &devices[device];
    ref.collection = collection;
    return true;
}

bool device_handle(HANDLE handle, DeviceRef& ref) {
    std::size_t device = 0;
    std::size_t collection = 0;
    return sim_device_of_handle(handle, device, collection) && resolve(device, collection, ref);
}

// Resolves the handle of a call that needs a plugged-in device; the call counts for the device's
// call-index knobs.
bool present_device(HANDLE handle, DeviceRef& ref, BOOLEAN& failure) {
    if (!device_handle(handle, ref)) {
        failure = refuse(ERROR_INVALID_HANDLE);
        return false;
    }
    if (sim::device_count_call(*ref.device) || ref.device->unplugged) {
        failure = refuse(ref.device->unplugged ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE);
        return false;
    }
    return true;
}

Preparsed** preparsed_slot(PHIDP_PREPARSED_DATA data) {
    for (Preparsed*& slot : g_preparsed) {
        if (slot != nullptr && reinterpret_cast<PHIDP_PREPARSED_DATA>(slot) == data) {
            return &slot;
        }
    }
    return nullptr;
}

const sim::SimCollection* preparsed_collection(PHIDP_PREPARSED_DATA data) {
    Preparsed** slot = preparsed_slot(data);
    DeviceRef ref;
    if (slot == nullptr || !resolve((*slot)->device, (*slot)->collection, ref)) {
        return nullptr;
    }
    return &ref.device->collections[ref.collection];
}

void fill_value_caps(const sim::SimCollection& collection, USHORT index, HIDP_VALUE_CAPS& caps) {
    std::memset(&caps, 0, sizeof(caps));
    caps.UsagePage = collection.usage_page;
    caps.ReportID = collection.report_id;
    caps.LinkUsage = kVendorUsage;
    caps.LinkUsagePage = collection.usage_page;
    caps.IsAbsolute = TRUE;
    caps.BitSize = kValueBitSize;
    caps.ReportCount = collection.report_count;
    caps.LogicalMax = kLogicalMax;
    caps.PhysicalMax = kLogicalMax;
    caps.NotRange.Usage = static_cast<USAGE>(kVendorUsage + index);
    caps.NotRange.DataIndex = index;
}

BOOLEAN feature_failure(const DeviceRef& ref) {
    return refuse(ref.device->unplugged ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE);
}

} // namespace

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID guid) {
    if (guid != nullptr) {
        *guid = kSimHidInterfaceGuid;
    }
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    DeviceRef ref;
    BOOLEAN failure = FALSE;
    if (!present_device(device, ref, failure)) {
        return failure;
    }
    if (attributes == nullptr) {
        return refuse(ERROR_INVALID_PARAMETER);
    }
    attributes->VendorID = ref.device->vendor_id;
    attributes->ProductID = ref.device->product_id;
    attributes->VersionNumber = ref.device->version_number;
    return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed) {
    DeviceRef ref;
    BOOLEAN failure = FALSE;
    if (!present_device(device, ref, failure)) {
        return failure;
    }
    if (preparsed == nullptr) {
        return refuse(ERROR_INVALID_PARAMETER);
    }
    std::size_t device_index = 0;
    std::size_t collection = 0;
    sim_device_of_handle(device, device_index, collection);
    for (Preparsed*& slot : g_preparsed) {
        if (slot == nullptr) {
            slot = new Preparsed{device_index, collection};
            *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(slot);
            return TRUE;
        }
    }
    return refuse(ERROR_NOT_ENOUGH_MEMORY);
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
    Preparsed** slot = preparsed_slot(preparsed);
    if (slot == nullptr) {
        return refuse(ERROR_INVALID_PARAMETER);
    }
    delete *slot;
    *slot = nullptr;
    return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    const sim::SimCollection* collection = preparsed_collection(preparsed);
    if (collection == nullptr) {
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    if (caps == nullptr) {
        return kHidpStatusNull;
    }
    std::memset(caps, 0, sizeof(*caps));
    caps->Usage = kVendorUsage;
    caps->UsagePage = collection->usage_page;
    caps->FeatureReportByteLength = static_cast<USHORT>(collection->report_count + 1);
    caps->NumberLinkCollectionNodes = 1;
    caps->NumberFeatureValueCaps = collection->feature_value_caps;
    caps->NumberFeatureDataIndices = collection->feature_value_caps;
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS NTAPI HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                 PHIDP_PREPARSED_DATA preparsed) {
    const sim::SimCollection* collection = preparsed_collection(preparsed);
    if (collection == nullptr) {
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    if (length == nullptr || (caps == nullptr && *length != 0)) {
        return kHidpStatusNull;
    }
    const USHORT total = type == HidP_Feature ? collection->feature_value_caps : 0;
    const USHORT filled = *length < total ? *length : total;
    for (USHORT i = 0; i < filled; ++i) {
        fill_value_caps(*collection, i, caps[i]);
    }
    *length = filled;
    return filled < total ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

// The feature calls reach the device even when it is unplugged, so that its counters see them.
BOOLEAN NTAPI HidD_SetFeature(HANDLE device, PVOID buffer, ULONG length) {
    DeviceRef ref;
    if (!device_handle(device, ref)) {
        return refuse(ERROR_INVALID_HANDLE);
    }
    if (!sim::device_set_feature(*ref.device, ref.collection,
                                 static_cast<const std::uint8_t*>(buffer), length, sim_now_ms())) {
        return feature_failure(ref);
    }
    return TRUE;
}

BOOLEAN NTAPI HidD_GetFeature(HANDLE device, PVOID buffer, ULONG length) {
    DeviceRef ref;
    if (!device_handle(device, ref)) {
        return refuse(ERROR_INVALID_HANDLE);
    }
    if (!sim::device_get_feature(*ref.device, ref.collection, static_cast<std::uint8_t*>(buffer),
                                 length, sim_now_ms())) {
        return feature_failure(ref);
    }
    return TRUE;
}

} // extern "C"
