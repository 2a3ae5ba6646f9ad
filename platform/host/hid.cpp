// HID stand-in (hid.dll) over the simulated device tree. Device handles come from
// host_open_device_path; preparsed data is an entry of the handle table of its own, so a test sees
// every HidD_GetPreparsedData that was not freed.
#include <cstring>

#include "host/device_tree.h"
#include "host/handles.h"
#include "sim/simulated_pc.h"

namespace {

constexpr USAGE kVendorUsage = 0x01; // the top-level usage of every simulated collection
constexpr USHORT kValueBitSize = 8;  // every feature value is a byte array
constexpr LONG kLogicalMax = 0xFF;
constexpr NTSTATUS kHidpStatusNull = static_cast<NTSTATUS>(0x80110001); // HIDP_STATUS_NULL

// A Device handle whose device still exists, with its collection.
struct DeviceRef {
    sim::SimDevice* device = nullptr;
    std::size_t collection = 0;
};

bool device_handle(HANDLE handle, DeviceRef& ref) {
    const HandleEntry* entry = host_handle_get(handle, HandleKind::Device);
    if (entry == nullptr) {
        return false;
    }
    ref.device = host_device_of(*entry);
    ref.collection = entry->collection;
    return ref.device != nullptr;
}

const sim::SimCollection* preparsed_collection(PHIDP_PREPARSED_DATA preparsed) {
    const HandleEntry* entry = host_handle_get(preparsed, HandleKind::Preparsed);
    if (entry == nullptr) {
        return nullptr;
    }
    const sim::SimDevice* device = host_device_of(*entry);
    return device == nullptr ? nullptr : &device->collections[entry->collection];
}

BOOLEAN refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOLEAN misuse(DWORD error) {
    host_note_device_api_misuse();
    return refuse(error);
}

// Resolves the handle of a call that needs a plugged-in device; the call counts for the device's
// call-index knobs.
bool present_device(HANDLE handle, DeviceRef& ref, BOOLEAN& failure) {
    if (!device_handle(handle, ref)) {
        failure = misuse(ERROR_INVALID_HANDLE);
        return false;
    }
    if (sim::device_count_call(*ref.device) || ref.device->unplugged) {
        failure = refuse(ref.device->unplugged ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE);
        return false;
    }
    return true;
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
    caps.Usage = static_cast<USAGE>(kVendorUsage + index);
    caps.DataIndex = index;
}

} // namespace

extern "C" void HidD_GetHidGuid(LPGUID guid) {
    if (guid == nullptr) {
        host_note_device_api_misuse();
        return;
    }
    *guid = kHidInterfaceGuid;
}

extern "C" BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    DeviceRef ref;
    BOOLEAN failure = FALSE;
    if (!present_device(device, ref, failure)) {
        return failure;
    }
    if (attributes == nullptr) {
        return misuse(ERROR_INVALID_PARAMETER);
    }
    attributes->VendorID = ref.device->vendor_id;
    attributes->ProductID = ref.device->product_id;
    attributes->VersionNumber = ref.device->version_number;
    return TRUE;
}

extern "C" BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed) {
    DeviceRef ref;
    BOOLEAN failure = FALSE;
    if (!present_device(device, ref, failure)) {
        return failure;
    }
    if (preparsed == nullptr) {
        return misuse(ERROR_INVALID_PARAMETER);
    }
    const HandleEntry* source = host_handle_get(device, HandleKind::Device);
    HandleEntry entry{};
    entry.kind = HandleKind::Preparsed;
    entry.device = source->device;
    entry.collection = source->collection;
    *preparsed = static_cast<PHIDP_PREPARSED_DATA>(host_handle_new(entry));
    return TRUE;
}

extern "C" BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
    if (host_handle_get(preparsed, HandleKind::Preparsed) == nullptr) {
        return misuse(ERROR_INVALID_PARAMETER);
    }
    host_handle_release(preparsed);
    return TRUE;
}

extern "C" NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    const sim::SimCollection* collection = preparsed_collection(preparsed);
    if (collection == nullptr) {
        host_note_device_api_misuse();
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    if (caps == nullptr) {
        host_note_device_api_misuse();
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

extern "C" NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                      PHIDP_PREPARSED_DATA preparsed) {
    const sim::SimCollection* collection = preparsed_collection(preparsed);
    if (collection == nullptr) {
        host_note_device_api_misuse();
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    if (length == nullptr || (caps == nullptr && *length != 0)) {
        host_note_device_api_misuse();
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
extern "C" BOOLEAN HidD_SetFeature(HANDLE device, PVOID buffer, ULONG length) {
    DeviceRef ref;
    if (!device_handle(device, ref)) {
        return misuse(ERROR_INVALID_HANDLE);
    }
    if (!sim::device_set_feature(*ref.device, ref.collection,
                                 static_cast<const std::uint8_t*>(buffer), length, sim::now_ms())) {
        return refuse(ref.device->unplugged ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE);
    }
    return TRUE;
}

extern "C" BOOLEAN HidD_GetFeature(HANDLE device, PVOID buffer, ULONG length) {
    DeviceRef ref;
    if (!device_handle(device, ref)) {
        return misuse(ERROR_INVALID_HANDLE);
    }
    if (!sim::device_get_feature(*ref.device, ref.collection, static_cast<std::uint8_t*>(buffer),
                                 length, sim::now_ms())) {
        return refuse(ref.device->unplugged ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE);
    }
    return TRUE;
}
