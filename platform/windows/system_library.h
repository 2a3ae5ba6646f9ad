// Loading of system DLLs that are not KnownDLLs. Windows maps a KnownDLL from the system directory
// whatever the search order says; any other DLL named in the import table is looked for in the
// program's folder first, where anyone who can write there may have put a DLL of the same name.
// The exe therefore leaves hid.dll, version.dll and comctl32.dll out of its import table and loads
// them here, on first use, from the system directory only.
#pragma once

#include "platform/win32.h"

namespace system_library {

// The DLL NAME from the system directory; nullptr when it is missing there.
inline HMODULE load(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The function NAME of MODULE with the signature FUNCTION; nullptr when the module or the
// function is missing.
template <typename Function> Function find(HMODULE module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    const FARPROC address = GetProcAddress(module, name);
    // GCC allows a cast between unrelated function types only through void (*)(void).
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// Sets the last error for a call whose function could not be found in MODULE.
inline void report_missing(HMODULE module) {
    SetLastError(module == nullptr ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND);
}

} // namespace system_library
