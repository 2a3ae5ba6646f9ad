// setupapi.dll from the system directory, loaded when the product first enumerates devices.
// Windows maps setupapi.dll, a KnownDLL, and the DLLs it imports from the system directory anyway;
// a loader without KnownDLLs (Wine has none) binds those imports, version.dll among them, like the
// exe's own, from the exe's folder first. Loaded here, after the process's DLL search is restricted
// to the system directory, they come from there on either. setupapi.h declares the functions
// dllimport, so the product's calls go through the pointers __imp_NAME; we define those, aimed at
// forwarders to the system DLL. When the DLL or a function is missing, the call fails
// (INVALID_HANDLE_VALUE or FALSE) with the last error ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND.
#include "platform/win32.h"
#include "platform/windows/system_library.h"

namespace {

constexpr wchar_t kSetupapiDll[] = L"setupapi.dll";

HMODULE setupapi_module() {
    static const HMODULE module = system_library::load(kSetupapiDll);
    return module;
}

template <typename Function> Function setupapi_function(const char* name) {
    return system_library::find<Function>(setupapi_module(), name);
}

HDEVINFO missing_device_list() {
    system_library::report_missing(setupapi_module());
    return static_cast<HDEVINFO>(INVALID_HANDLE_VALUE);
}

BOOL missing_bool() {
    system_library::report_missing(setupapi_module());
    return FALSE;
}

HDEVINFO WINAPI get_class_devs_w(const GUID* class_guid, PCWSTR enumerator, HWND parent,
                                 DWORD flags) {
    static const auto real =
        setupapi_function<decltype(&SetupDiGetClassDevsW)>("SetupDiGetClassDevsW");
    return real == nullptr ? missing_device_list() : real(class_guid, enumerator, parent, flags);
}

HDEVINFO WINAPI get_class_devs_a(const GUID* class_guid, PCSTR enumerator, HWND parent,
                                 DWORD flags) {
    static const auto real =
        setupapi_function<decltype(&SetupDiGetClassDevsA)>("SetupDiGetClassDevsA");
    return real == nullptr ? missing_device_list() : real(class_guid, enumerator, parent, flags);
}

BOOL WINAPI enum_device_interfaces(HDEVINFO devices, PSP_DEVINFO_DATA device,
                                   const GUID* interface_guid, DWORD index,
                                   PSP_DEVICE_INTERFACE_DATA interface_data) {
    static const auto real =
        setupapi_function<decltype(&SetupDiEnumDeviceInterfaces)>("SetupDiEnumDeviceInterfaces");
    return real == nullptr ? missing_bool()
                           : real(devices, device, interface_guid, index, interface_data);
}

BOOL WINAPI get_device_interface_detail_w(HDEVINFO devices,
                                          PSP_DEVICE_INTERFACE_DATA interface_data,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                          DWORD detail_size, PDWORD required_size,
                                          PSP_DEVINFO_DATA device) {
    static const auto real = setupapi_function<decltype(&SetupDiGetDeviceInterfaceDetailW)>(
        "SetupDiGetDeviceInterfaceDetailW");
    return real == nullptr
               ? missing_bool()
               : real(devices, interface_data, detail, detail_size, required_size, device);
}

BOOL WINAPI enum_device_info(HDEVINFO devices, DWORD index, PSP_DEVINFO_DATA device) {
    static const auto real =
        setupapi_function<decltype(&SetupDiEnumDeviceInfo)>("SetupDiEnumDeviceInfo");
    return real == nullptr ? missing_bool() : real(devices, index, device);
}

BOOL WINAPI get_device_registry_property_a(HDEVINFO devices, PSP_DEVINFO_DATA device,
                                           DWORD property, PDWORD value_type, PBYTE buffer,
                                           DWORD buffer_size, PDWORD required_size) {
    static const auto real = setupapi_function<decltype(&SetupDiGetDeviceRegistryPropertyA)>(
        "SetupDiGetDeviceRegistryPropertyA");
    return real == nullptr
               ? missing_bool()
               : real(devices, device, property, value_type, buffer, buffer_size, required_size);
}

BOOL WINAPI destroy_device_info_list(HDEVINFO devices) {
    static const auto real =
        setupapi_function<decltype(&SetupDiDestroyDeviceInfoList)>("SetupDiDestroyDeviceInfoList");
    return real == nullptr ? missing_bool() : real(devices);
}

} // namespace

// The names the compiler gives the import pointers of dllimport functions on x64.
extern "C" {
extern const decltype(&SetupDiGetClassDevsW) __imp_SetupDiGetClassDevsW = get_class_devs_w;
extern const decltype(&SetupDiGetClassDevsA) __imp_SetupDiGetClassDevsA = get_class_devs_a;
extern const decltype(&SetupDiEnumDeviceInterfaces) __imp_SetupDiEnumDeviceInterfaces =
    enum_device_interfaces;
extern const decltype(&SetupDiGetDeviceInterfaceDetailW) __imp_SetupDiGetDeviceInterfaceDetailW =
    get_device_interface_detail_w;
extern const decltype(&SetupDiEnumDeviceInfo) __imp_SetupDiEnumDeviceInfo = enum_device_info;
extern const decltype(&SetupDiGetDeviceRegistryPropertyA) __imp_SetupDiGetDeviceRegistryPropertyA =
    get_device_registry_property_a;
extern const decltype(&SetupDiDestroyDeviceInfoList) __imp_SetupDiDestroyDeviceInfoList =
    destroy_device_info_list;
} // extern "C"
