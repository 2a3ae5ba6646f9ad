// hid.dll from the system directory, loaded when the product first calls one of its functions.
// The functions below carry the SDK's names and signatures, so the product's calls bind to them
// instead of to an import of hid.dll; each forwards to the function of the same name in the system
// DLL. When the DLL or the function is missing, the call fails as the device would: FALSE or a HID
// error status, with the last error ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND.
#include "platform/win32.h"
#include "platform/windows/system_library.h"

namespace {

constexpr wchar_t kHidDll[] = L"hid.dll";
constexpr NTSTATUS kHidpStatusMissing = HIDP_STATUS_NOT_IMPLEMENTED;

HMODULE hid_module() {
    static const HMODULE module = system_library::load(kHidDll);
    return module;
}

template <typename Function> Function hid_function(const char* name) {
    return system_library::find<Function>(hid_module(), name);
}

BOOLEAN missing_boolean() {
    system_library::report_missing(hid_module());
    return FALSE;
}

NTSTATUS missing_status() {
    system_library::report_missing(hid_module());
    return kHidpStatusMissing;
}

} // namespace

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID hid_guid) {
    static const auto real = hid_function<decltype(&HidD_GetHidGuid)>("HidD_GetHidGuid");
    if (real == nullptr) {
        // The null GUID names no interface class: the device search then finds nothing.
        *hid_guid = GUID{};
        system_library::report_missing(hid_module());
        return;
    }
    real(hid_guid);
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    static const auto real = hid_function<decltype(&HidD_GetAttributes)>("HidD_GetAttributes");
    return real == nullptr ? missing_boolean() : real(device, attributes);
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed) {
    static const auto real =
        hid_function<decltype(&HidD_GetPreparsedData)>("HidD_GetPreparsedData");
    return real == nullptr ? missing_boolean() : real(device, preparsed);
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
    static const auto real =
        hid_function<decltype(&HidD_FreePreparsedData)>("HidD_FreePreparsedData");
    return real == nullptr ? missing_boolean() : real(preparsed);
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    static const auto real = hid_function<decltype(&HidP_GetCaps)>("HidP_GetCaps");
    return real == nullptr ? missing_status() : real(preparsed, caps);
}

NTSTATUS NTAPI HidP_GetValueCaps(HIDP_REPORT_TYPE report_type, PHIDP_VALUE_CAPS value_caps,
                                 PUSHORT count, PHIDP_PREPARSED_DATA preparsed) {
    static const auto real = hid_function<decltype(&HidP_GetValueCaps)>("HidP_GetValueCaps");
    return real == nullptr ? missing_status() : real(report_type, value_caps, count, preparsed);
}

BOOLEAN NTAPI HidD_SetFeature(HANDLE device, PVOID report, ULONG length) {
    static const auto real = hid_function<decltype(&HidD_SetFeature)>("HidD_SetFeature");
    return real == nullptr ? missing_boolean() : real(device, report, length);
}

BOOLEAN NTAPI HidD_GetFeature(HANDLE device, PVOID report, ULONG length) {
    static const auto real = hid_function<decltype(&HidD_GetFeature)>("HidD_GetFeature");
    return real == nullptr ? missing_boolean() : real(device, report, length);
}

} // extern "C"
