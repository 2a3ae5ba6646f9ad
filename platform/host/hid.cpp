// HID stand-in (hid.dll) over the simulated device tree. Device handles come from
// host_open_device_path; preparsed data is an entry of the handle table of its own, so a test sees
// every HidD_GetPreparsedData that was not freed. The calls themselves are those of
// sim/hid_calls.h.
#include "host/device_tree.h"
#include "host/handles.h"
#include "sim/hid_calls.h"
#include "sim/simulated_pc.h"

namespace {

// The device and collection behind a Device handle; no device when the handle is not one or its
// device no longer exists.
sim::DeviceRef device_handle(HANDLE handle) {
    sim::DeviceRef ref;
    const HandleEntry* entry = host_handle_get(handle, HandleKind::Device);
    if (entry != nullptr) {
        ref.device = host_device_of(*entry);
        ref.collection = entry->collection;
    }
    return ref;
}

const sim::SimCollection* preparsed_collection(PHIDP_PREPARSED_DATA preparsed) {
    const HandleEntry* entry = host_handle_get(preparsed, HandleKind::Preparsed);
    if (entry == nullptr) {
        return nullptr;
    }
    const sim::SimDevice* device = host_device_of(*entry);
    return device == nullptr ? nullptr : &device->collections[entry->collection];
}

// Ends a call as the shared logic decided: the last error on a refusal, a misuse counted.
BOOLEAN finish(const sim::CallResult& result) {
    if (result.misuse) {
        host_note_device_api_misuse();
    }
    if (!result.ok) {
        SetLastError(result.error);
    }
    return result.ok ? TRUE : FALSE;
}

NTSTATUS finish_status(NTSTATUS status) {
    if (sim::hidp_misuse(status)) {
        host_note_device_api_misuse();
    }
    return status;
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
    return finish(sim::hid_get_attributes(device_handle(device).device, attributes));
}

extern "C" BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed) {
    if (!finish(sim::hid_preparsed_request(device_handle(device).device, preparsed))) {
        return FALSE;
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
        return finish(sim::call_misused(ERROR_INVALID_PARAMETER));
    }
    host_handle_release(preparsed);
    return TRUE;
}

extern "C" NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    return finish_status(sim::hidp_get_caps(preparsed_collection(preparsed), caps));
}

extern "C" NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                      PHIDP_PREPARSED_DATA preparsed) {
    return finish_status(
        sim::hidp_get_value_caps(preparsed_collection(preparsed), type, caps, length));
}

extern "C" BOOLEAN HidD_SetFeature(HANDLE device, PVOID buffer, ULONG length) {
    return finish(sim::hid_set_feature(device_handle(device), buffer, length, sim::now()));
}

extern "C" BOOLEAN HidD_GetFeature(HANDLE device, PVOID buffer, ULONG length) {
    return finish(sim::hid_get_feature(device_handle(device), buffer, length, sim::now()));
}
