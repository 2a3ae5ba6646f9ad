// The functions the product calls from system DLLs that are not KnownDLLs (and from user32.dll,
// setupapi.dll and advapi32.dll, for the DLLs those import), one list per DLL. Each DLL is loaded
// from the system directory when the product first calls one of its functions, and each function is
// looked up on its first call and forwarded to. When the DLL or the function is missing, the call
// fails as listed (FALSE, 0, -1, INVALID_HANDLE_VALUE, a HID error status, the null GUID, an error
// code) with the last error ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND.
//
// user32.dll, setupapi.dll and advapi32.dll are KnownDLLs on Windows, mapped from the system
// directory anyway.
// A loader without KnownDLLs (Wine has none) binds the DLLs they import, version.dll among them,
// like the exe's own imports, from the exe's folder first; loaded here, after the process's DLL
// search is restricted to the system directory, they come from there on either.
#include "platform/win32.h"
#include "platform/windows/system_library.h"

namespace {

constexpr NTSTATUS kHidpStatusMissing = HIDP_STATUS_NOT_IMPLEMENTED;
constexpr INT_PTR kDialogFailed = -1; // what DialogBoxParamW returns when it cannot show one
constexpr BOOL kNoMenuItem = -1;      // what EnableMenuItem returns for a missing item
constexpr LSTATUS kRegistryMissing = ERROR_MOD_NOT_FOUND; // a registry call's own error code

HDEVINFO no_device_list() {
    return static_cast<HDEVINFO>(INVALID_HANDLE_VALUE);
}

// The null GUID names no interface class: the device search then finds nothing.
void no_interface_class(LPGUID hid_guid) {
    *hid_guid = GUID{};
}

// Without user32 nothing can be waiting for the dialog: a plain sleep keeps the pause.
DWORD sleep_without_messages(DWORD milliseconds) {
    Sleep(milliseconds);
    return WAIT_TIMEOUT;
}

} // namespace

// hid.dll: hidsdi.h and hidpi.h declare the functions plainly.
NORVANE_SYSTEM_LIBRARY(hid_module, L"hid.dll")
NORVANE_FORWARD_FUNCTION(hid_module, void, HidD_GetHidGuid, (LPGUID guid), (guid),
                         no_interface_class(guid))
NORVANE_FORWARD_FUNCTION(hid_module, BOOLEAN, HidD_GetAttributes,
                         (HANDLE device, PHIDD_ATTRIBUTES attributes), (device, attributes), FALSE)
NORVANE_FORWARD_FUNCTION(hid_module, BOOLEAN, HidD_GetPreparsedData,
                         (HANDLE device, PHIDP_PREPARSED_DATA* preparsed), (device, preparsed),
                         FALSE)
NORVANE_FORWARD_FUNCTION(hid_module, BOOLEAN, HidD_FreePreparsedData,
                         (PHIDP_PREPARSED_DATA preparsed), (preparsed), FALSE)
NORVANE_FORWARD_FUNCTION(hid_module, NTSTATUS, HidP_GetCaps,
                         (PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps), (preparsed, caps),
                         kHidpStatusMissing)
NORVANE_FORWARD_FUNCTION(hid_module, NTSTATUS, HidP_GetValueCaps,
                         (HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT count,
                          PHIDP_PREPARSED_DATA preparsed),
                         (type, caps, count, preparsed), kHidpStatusMissing)
NORVANE_FORWARD_FUNCTION(hid_module, BOOLEAN, HidD_SetFeature,
                         (HANDLE device, PVOID report, ULONG length), (device, report, length),
                         FALSE)
NORVANE_FORWARD_FUNCTION(hid_module, BOOLEAN, HidD_GetFeature,
                         (HANDLE device, PVOID report, ULONG length), (device, report, length),
                         FALSE)

// version.dll: winver.h declares the functions plainly.
NORVANE_SYSTEM_LIBRARY(version_module, L"version.dll")
NORVANE_FORWARD_FUNCTION(version_module, DWORD, GetFileVersionInfoSizeW,
                         (LPCWSTR path, LPDWORD handle), (path, handle), 0)
NORVANE_FORWARD_FUNCTION(version_module, BOOL, GetFileVersionInfoW,
                         (LPCWSTR path, DWORD handle, DWORD size, LPVOID block),
                         (path, handle, size, block), FALSE)
NORVANE_FORWARD_FUNCTION(version_module, BOOL, VerQueryValueW,
                         (LPCVOID block, LPCWSTR sub_block, LPVOID* value, PUINT length),
                         (block, sub_block, value, length), FALSE)

// comctl32.dll: commctrl.h declares the function dllimport.
NORVANE_SYSTEM_LIBRARY(comctl32_module, L"comctl32.dll")
NORVANE_FORWARD_IMPORT(comctl32_module, BOOL, InitCommonControlsEx,
                       (const INITCOMMONCONTROLSEX* controls), (controls), FALSE)

// setupapi.dll: setupapi.h declares the functions dllimport.
NORVANE_SYSTEM_LIBRARY(setupapi_module, L"setupapi.dll")
NORVANE_FORWARD_IMPORT(setupapi_module, HDEVINFO, SetupDiGetClassDevsW,
                       (const GUID* class_guid, PCWSTR enumerator, HWND parent, DWORD flags),
                       (class_guid, enumerator, parent, flags), no_device_list())
NORVANE_FORWARD_IMPORT(setupapi_module, HDEVINFO, SetupDiGetClassDevsA,
                       (const GUID* class_guid, PCSTR enumerator, HWND parent, DWORD flags),
                       (class_guid, enumerator, parent, flags), no_device_list())
NORVANE_FORWARD_IMPORT(setupapi_module, BOOL, SetupDiEnumDeviceInterfaces,
                       (HDEVINFO devices, PSP_DEVINFO_DATA device, const GUID* interface_guid,
                        DWORD index, PSP_DEVICE_INTERFACE_DATA interface_data),
                       (devices, device, interface_guid, index, interface_data), FALSE)
NORVANE_FORWARD_IMPORT(setupapi_module, BOOL, SetupDiGetDeviceInterfaceDetailW,
                       (HDEVINFO devices, PSP_DEVICE_INTERFACE_DATA interface_data,
                        PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detail_size,
                        PDWORD required_size, PSP_DEVINFO_DATA device),
                       (devices, interface_data, detail, detail_size, required_size, device), FALSE)
NORVANE_FORWARD_IMPORT(setupapi_module, BOOL, SetupDiEnumDeviceInfo,
                       (HDEVINFO devices, DWORD index, PSP_DEVINFO_DATA device),
                       (devices, index, device), FALSE)
NORVANE_FORWARD_IMPORT(setupapi_module, BOOL, SetupDiGetDeviceRegistryPropertyA,
                       (HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD property,
                        PDWORD value_type, PBYTE buffer, DWORD buffer_size, PDWORD required_size),
                       (devices, device, property, value_type, buffer, buffer_size, required_size),
                       FALSE)
NORVANE_FORWARD_IMPORT(setupapi_module, BOOL, SetupDiDestroyDeviceInfoList, (HDEVINFO devices),
                       (devices), FALSE)

// advapi32.dll: winreg.h, securitybaseapi.h and sddl.h declare the functions dllimport. Each
// registry call answers its error code.
NORVANE_SYSTEM_LIBRARY(advapi32_module, L"advapi32.dll")
NORVANE_FORWARD_IMPORT(advapi32_module, LSTATUS, RegCreateKeyExW,
                       (HKEY key, LPCWSTR sub_key, DWORD reserved, LPWSTR class_name, DWORD options,
                        REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                        LPDWORD disposition),
                       (key, sub_key, reserved, class_name, options, access, security, result,
                        disposition),
                       kRegistryMissing)
NORVANE_FORWARD_IMPORT(advapi32_module, LSTATUS, RegSetValueExW,
                       (HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                        DWORD size),
                       (key, name, reserved, type, data, size), kRegistryMissing)
NORVANE_FORWARD_IMPORT(advapi32_module, LSTATUS, RegDeleteValueW, (HKEY key, LPCWSTR name),
                       (key, name), kRegistryMissing)
NORVANE_FORWARD_IMPORT(advapi32_module, LSTATUS, RegCloseKey, (HKEY key), (key), kRegistryMissing)
// securitybaseapi.h and sddl.h: the updater lock's boundary and access list.
NORVANE_FORWARD_IMPORT(advapi32_module, BOOL, CreateWellKnownSid,
                       (WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size),
                       (type, domain, sid, size), FALSE)
NORVANE_FORWARD_IMPORT(advapi32_module, BOOL, ConvertStringSecurityDescriptorToSecurityDescriptorW,
                       (LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor,
                        PULONG size),
                       (text, revision, descriptor, size), FALSE)

// winmm.dll: mmsystem.h declares the functions dllimport. Without them the timer resolution stays
// as it is.
NORVANE_SYSTEM_LIBRARY(winmm_module, L"winmm.dll")
NORVANE_FORWARD_IMPORT(winmm_module, MMRESULT, timeBeginPeriod, (UINT period), (period),
                       TIMERR_NOCANDO)
NORVANE_FORWARD_IMPORT(winmm_module, MMRESULT, timeEndPeriod, (UINT period), (period),
                       TIMERR_NOCANDO)

// user32.dll: winuser.h declares the functions dllimport.
NORVANE_SYSTEM_LIBRARY(user32_module, L"user32.dll")
NORVANE_FORWARD_IMPORT(user32_module, BOOL, DestroyIcon, (HICON icon), (icon), FALSE)
NORVANE_FORWARD_IMPORT(user32_module, BOOL, DestroyWindow, (HWND window), (window), FALSE)
NORVANE_FORWARD_IMPORT(user32_module, INT_PTR, DialogBoxParamW,
                       (HINSTANCE instance, LPCWSTR dialog, HWND owner, DLGPROC procedure,
                        LPARAM parameter),
                       (instance, dialog, owner, procedure, parameter), kDialogFailed)
NORVANE_FORWARD_IMPORT(user32_module, LRESULT, DispatchMessageW, (const MSG* message), (message), 0)
NORVANE_FORWARD_IMPORT(user32_module, BOOL, EnableMenuItem, (HMENU menu, UINT item, UINT enable),
                       (menu, item, enable), kNoMenuItem)
NORVANE_FORWARD_IMPORT(user32_module, BOOL, EnableWindow, (HWND window, BOOL enable),
                       (window, enable), FALSE)
NORVANE_FORWARD_IMPORT(user32_module, HWND, GetDlgItem, (HWND dialog, int id), (dialog, id),
                       nullptr)
NORVANE_FORWARD_IMPORT(user32_module, HMENU, GetSystemMenu, (HWND window, BOOL revert),
                       (window, revert), nullptr)
NORVANE_FORWARD_IMPORT(user32_module, int, GetSystemMetrics, (int index), (index), 0)
NORVANE_FORWARD_IMPORT(user32_module, BOOL, IsDialogMessageW, (HWND dialog, LPMSG message),
                       (dialog, message), FALSE)
NORVANE_FORWARD_IMPORT(user32_module, HANDLE, LoadImageW,
                       (HINSTANCE instance, LPCWSTR name, UINT type, int width, int height,
                        UINT flags),
                       (instance, name, type, width, height, flags), nullptr)
NORVANE_FORWARD_IMPORT(user32_module, int, MessageBoxW,
                       (HWND owner, LPCWSTR text, LPCWSTR caption, UINT type),
                       (owner, text, caption, type), 0)
NORVANE_FORWARD_IMPORT(user32_module, DWORD, MsgWaitForMultipleObjects,
                       (DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds,
                        DWORD wake_mask),
                       (count, handles, wait_all, milliseconds, wake_mask),
                       sleep_without_messages(milliseconds))
NORVANE_FORWARD_IMPORT(user32_module, BOOL, PeekMessageW,
                       (LPMSG message, HWND window, UINT first, UINT last, UINT remove),
                       (message, window, first, last, remove), FALSE)
NORVANE_FORWARD_IMPORT(user32_module, void, PostQuitMessage, (int exit_code), (exit_code), void())
NORVANE_FORWARD_IMPORT(user32_module, LRESULT, SendMessageW,
                       (HWND window, UINT message, WPARAM wparam, LPARAM lparam),
                       (window, message, wparam, lparam), 0)
NORVANE_FORWARD_IMPORT(user32_module, BOOL, SetWindowTextW, (HWND window, LPCWSTR text),
                       (window, text), FALSE)
NORVANE_FORWARD_IMPORT(user32_module, BOOL, TranslateMessage, (const MSG* message), (message),
                       FALSE)
NORVANE_FORWARD_IMPORT(user32_module, LONG_PTR, SetWindowLongPtrW,
                       (HWND window, int index, LONG_PTR value), (window, index, value), 0)
NORVANE_FORWARD_IMPORT(user32_module, ATOM, RegisterClassW, (const WNDCLASSW* window_class),
                       (window_class), 0)
NORVANE_FORWARD_IMPORT(user32_module, HWND, CreateWindowExW,
                       (DWORD ex_style, LPCWSTR class_name, LPCWSTR window_name, DWORD style, int x,
                        int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                        LPVOID parameter),
                       (ex_style, class_name, window_name, style, x, y, width, height, parent, menu,
                        instance, parameter),
                       nullptr)
NORVANE_FORWARD_IMPORT(user32_module, LRESULT, DefWindowProcW,
                       (HWND window, UINT message, WPARAM wparam, LPARAM lparam),
                       (window, message, wparam, lparam), 0)
NORVANE_FORWARD_IMPORT(user32_module, BOOL, ShutdownBlockReasonCreate,
                       (HWND window, LPCWSTR reason), (window, reason), FALSE)
NORVANE_FORWARD_IMPORT(user32_module, BOOL, ShutdownBlockReasonDestroy, (HWND window), (window),
                       FALSE)
NORVANE_FORWARD_IMPORT(user32_module, HWINSTA, GetProcessWindowStation, (), (), nullptr)
NORVANE_FORWARD_IMPORT(user32_module, BOOL, GetUserObjectInformationW,
                       (HANDLE object, int index, PVOID information, DWORD length, LPDWORD needed),
                       (object, index, information, length, needed), FALSE)
