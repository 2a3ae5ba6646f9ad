// The HID calls of both builds over the simulated devices, apart from their handle tables:
// attributes, the checks before preparsed data is handed out, the capabilities of a collection
// and feature reports to and from the controller model (hid_device.h, fault rules included).
// A null device or collection stands for a handle that names none.
#pragma once

#include <cstdint>

#include "sim/device_interface.h"

namespace sim {

constexpr NTSTATUS kHidpStatusNull = static_cast<NTSTATUS>(0x80110001); // HIDP_STATUS_NULL

// HidD_GetAttributes. The call counts for the device's call-index knobs.
CallResult hid_get_attributes(SimDevice* device, HIDD_ATTRIBUTES* attributes);

// What HidD_GetPreparsedData checks before the caller hands out preparsed data. The call counts
// for the device's call-index knobs.
CallResult hid_preparsed_request(SimDevice* device, const PHIDP_PREPARSED_DATA* preparsed);

// HidP_GetCaps and HidP_GetValueCaps on the collection behind the preparsed data.
NTSTATUS hidp_get_caps(const SimCollection* collection, HIDP_CAPS* caps);
NTSTATUS hidp_get_value_caps(const SimCollection* collection, HIDP_REPORT_TYPE type,
                             HIDP_VALUE_CAPS* caps, USHORT* length);

// True for the HidP statuses of calls that a correct program never makes.
bool hidp_misuse(NTSTATUS status);

// HidD_SetFeature and HidD_GetFeature. They reach the device even when it is unplugged, so that
// its counters see them.
CallResult hid_set_feature(const DeviceRef& ref, const void* buffer, ULONG length,
                           std::uint64_t now);
CallResult hid_get_feature(const DeviceRef& ref, void* buffer, ULONG length, std::uint64_t now);

} // namespace sim
