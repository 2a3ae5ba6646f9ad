#include "sim/hid_calls.h"

#include <cstring>

namespace sim {

namespace {

constexpr USAGE kVendorUsage = 0x01; // the top-level usage of every simulated collection
constexpr USHORT kValueBitSize = 8;  // every feature value is a byte array
constexpr LONG kLogicalMax = 0xFF;

CallResult device_failure(const SimDevice& device) {
    return call_refused(device.unplugged ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE);
}

// A feature call that failed. The class driver refuses a buffer that is not the collection's
// feature report length with ERROR_INVALID_PARAMETER before any device sees it (as Wine's
// hidclass does); the device still counts the call as refused.
CallResult feature_failure(const DeviceRef& ref, ULONG length) {
    const SimDevice& device = *ref.device;
    if (!device.unplugged && ref.collection < device.collections.size() &&
        length != static_cast<ULONG>(device.collections[ref.collection].report_count) + 1) {
        return call_refused(ERROR_INVALID_PARAMETER);
    }
    return device_failure(device);
}

// A call that needs a plugged-in device; it counts for the device's call-index knobs.
CallResult present_device(SimDevice* device) {
    if (device == nullptr) {
        return call_misused(ERROR_INVALID_HANDLE);
    }
    if (device_count_call(*device) || device->unplugged) {
        return device_failure(*device);
    }
    return call_ok();
}

void fill_value_caps(const SimCollection& collection, USHORT index, HIDP_VALUE_CAPS& caps) {
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

} // namespace

CallResult hid_get_attributes(SimDevice* device, HIDD_ATTRIBUTES* attributes) {
    const CallResult present = present_device(device);
    if (!present.ok) {
        return present;
    }
    if (attributes == nullptr) {
        return call_misused(ERROR_INVALID_PARAMETER);
    }
    attributes->VendorID = device->vendor_id;
    attributes->ProductID = device->product_id;
    attributes->VersionNumber = device->version_number;
    return call_ok();
}

CallResult hid_preparsed_request(SimDevice* device, const PHIDP_PREPARSED_DATA* preparsed) {
    const CallResult present = present_device(device);
    if (!present.ok) {
        return present;
    }
    return preparsed == nullptr ? call_misused(ERROR_INVALID_PARAMETER) : call_ok();
}

NTSTATUS hidp_get_caps(const SimCollection* collection, HIDP_CAPS* caps) {
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

NTSTATUS hidp_get_value_caps(const SimCollection* collection, HIDP_REPORT_TYPE type,
                             HIDP_VALUE_CAPS* caps, USHORT* length) {
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

bool hidp_misuse(NTSTATUS status) {
    return status == HIDP_STATUS_INVALID_PREPARSED_DATA || status == kHidpStatusNull;
}

CallResult hid_set_feature(const DeviceRef& ref, const void* buffer, ULONG length,
                           std::uint64_t now) {
    if (ref.device == nullptr) {
        return call_misused(ERROR_INVALID_HANDLE);
    }
    if (!device_set_feature(*ref.device, ref.collection, static_cast<const std::uint8_t*>(buffer),
                            length, now)) {
        return feature_failure(ref, length);
    }
    return call_ok();
}

CallResult hid_get_feature(const DeviceRef& ref, void* buffer, ULONG length, std::uint64_t now) {
    if (ref.device == nullptr) {
        return call_misused(ERROR_INVALID_HANDLE);
    }
    if (!device_get_feature(*ref.device, ref.collection, static_cast<std::uint8_t*>(buffer), length,
                            now)) {
        return feature_failure(ref, length);
    }
    return call_ok();
}

} // namespace sim
