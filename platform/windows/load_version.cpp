// version.dll from the system directory, loaded when the product first calls one of its
// functions. The functions below carry the SDK's names and signatures, so the product's calls bind
// to them instead of to an import of version.dll; each forwards to the function of the same name
// in the system DLL. When the DLL or the function is missing, the call fails (0 or FALSE) with the
// last error ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND.
#include "platform/win32.h"
#include "platform/windows/system_library.h"

namespace {

constexpr wchar_t kVersionDll[] = L"version.dll";

HMODULE version_module() {
    static const HMODULE module = system_library::load(kVersionDll);
    return module;
}

template <typename Function> Function version_function(const char* name) {
    return system_library::find<Function>(version_module(), name);
}

BOOL missing_bool() {
    system_library::report_missing(version_module());
    return FALSE;
}

} // namespace

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR path, LPDWORD handle) {
    static const auto real =
        version_function<decltype(&GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW");
    if (real == nullptr) {
        system_library::report_missing(version_module());
        return 0;
    }
    return real(path, handle);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR path, DWORD handle, DWORD size, LPVOID block) {
    static const auto real =
        version_function<decltype(&GetFileVersionInfoW)>("GetFileVersionInfoW");
    return real == nullptr ? missing_bool() : real(path, handle, size, block);
}

BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* value, PUINT length) {
    static const auto real = version_function<decltype(&VerQueryValueW)>("VerQueryValueW");
    return real == nullptr ? missing_bool() : real(block, sub_block, value, length);
}

} // extern "C"
