// The HID calls of NorvaneFwUpdaterSim.exe over the simulated devices. Attributes, capabilities
// and feature reports are those of the host stand-in (sim/hid_calls.h, over the controller model
// of platform/sim/hid_device.cpp, fault rules included); this file keeps the table of preparsed
// data handed out and refuses plainly where the host also counts a misuse.
//
// The SDK declares HidD_* and HidP_* without dllimport, so the program calls them by their plain
// names; this file defines those names and the build links no hid import library.
#include <cstddef>

#include "sim/hid_calls.h"
#include "windows/sim_slots.h"
#include "windows/sim_world.h"

namespace {

constexpr std::size_t kMaxPreparsed = 64;

// Preparsed data handed out and not yet freed; the pointer is the caller's handle.
struct Preparsed {
    std::size_t device = 0;
    std::size_t collection = 0;
};

SlotTable<Preparsed, kMaxPreparsed> g_preparsed;

BOOLEAN finish(const sim::CallResult& result) {
    if (!result.ok) {
        SetLastError(result.error);
    }
    return result.ok ? TRUE : FALSE;
}

sim::DeviceRef resolve(std::size_t device, std::size_t collection) {
    sim::DeviceRef ref;
    if (!sim::resolve_device(sim_machine().devices, device, collection, ref)) {
        return sim::DeviceRef{};
    }
    return ref;
}

// The device and collection behind a device handle; no device for any other handle.
sim::DeviceRef device_handle(HANDLE handle) {
    std::size_t device = 0;
    std::size_t collection = 0;
    if (!sim_device_of_handle(handle, device, collection)) {
        return sim::DeviceRef{};
    }
    return resolve(device, collection);
}

const sim::SimCollection* preparsed_collection(PHIDP_PREPARSED_DATA data) {
    Preparsed** slot = slot_of(g_preparsed, data);
    if (slot == nullptr) {
        return nullptr;
    }
    const sim::DeviceRef ref = resolve((*slot)->device, (*slot)->collection);
    return ref.device == nullptr ? nullptr : &ref.device->collections[ref.collection];
}

} // namespace

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID guid) {
    if (guid != nullptr) {
        *guid = sim::kHidInterfaceGuid;
    }
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    return finish(sim::hid_get_attributes(device_handle(device).device, attributes));
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed) {
    if (!finish(sim::hid_preparsed_request(device_handle(device).device, preparsed))) {
        return FALSE;
    }
    std::size_t device_index = 0;
    std::size_t collection = 0;
    sim_device_of_handle(device, device_index, collection);
    Preparsed* added = slot_add(g_preparsed, Preparsed{device_index, collection});
    if (added == nullptr) {
        return finish(sim::call_refused(ERROR_NOT_ENOUGH_MEMORY));
    }
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(added);
    return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
    if (!slot_remove(g_preparsed, preparsed)) {
        return finish(sim::call_refused(ERROR_INVALID_PARAMETER));
    }
    return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    return sim::hidp_get_caps(preparsed_collection(preparsed), caps);
}

NTSTATUS NTAPI HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                 PHIDP_PREPARSED_DATA preparsed) {
    return sim::hidp_get_value_caps(preparsed_collection(preparsed), type, caps, length);
}

BOOLEAN NTAPI HidD_SetFeature(HANDLE device, PVOID buffer, ULONG length) {
    return finish(sim::hid_set_feature(device_handle(device), buffer, length, sim_now_ms()));
}

BOOLEAN NTAPI HidD_GetFeature(HANDLE device, PVOID buffer, ULONG length) {
    return finish(sim::hid_get_feature(device_handle(device), buffer, length, sim_now_ms()));
}

} // extern "C"
