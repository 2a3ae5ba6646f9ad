// Loading of system DLLs that are not KnownDLLs. Windows maps a KnownDLL from the system directory
// whatever the search order says; any other DLL named in the import table is looked for in the
// program's folder first, where anyone who can write there may have put a DLL of the same name.
// The exe therefore leaves those DLLs out of its import table and loads them on first use, from the
// system directory only, through the forwarders that the macros below generate.
#pragma once

#include "platform/win32.h"

#include <type_traits>

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

// A call whose function could not be found in MODULE: what FAILURE does and returns (the call's
// failure result), then the last error, so that nothing FAILURE calls can overwrite it.
template <typename Failure> auto fail(HMODULE module, Failure failure) {
    if constexpr (std::is_void_v<std::invoke_result_t<Failure>>) {
        failure();
        report_missing(module);
    } else {
        const auto result = failure();
        report_missing(module);
        return result;
    }
}

} // namespace system_library

// MODULE(): the DLL FILE_NAME, loaded from the system directory on its first call.
#define NORVANE_SYSTEM_LIBRARY(MODULE, FILE_NAME)                                                  \
    namespace {                                                                                    \
    HMODULE MODULE() {                                                                             \
        static const HMODULE module = system_library::load(FILE_NAME);                             \
        return module;                                                                             \
    }                                                                                              \
    }

// The body of a forwarder: NAME of MODULE, looked up on the first call, called with ARGS; when the
// DLL or the function is missing, FAILURE (an expression over the parameters) instead.
#define NORVANE_FORWARD_BODY(MODULE, NAME, ARGS, FAILURE)                                          \
    static const auto real = system_library::find<decltype(&NAME)>(MODULE(), #NAME);               \
    if (real == nullptr) {                                                                         \
        return system_library::fail(MODULE(), [&] { return FAILURE; });                            \
    }                                                                                              \
    return real ARGS;

// A forwarder under the SDK name itself, for a function the SDK header declares plainly: the
// product's call binds to it instead of to an import.
#define NORVANE_FORWARD_FUNCTION(MODULE, RESULT, NAME, PARAMS, ARGS, FAILURE)                      \
    extern "C" RESULT WINAPI NAME PARAMS {                                                         \
        NORVANE_FORWARD_BODY(MODULE, NAME, ARGS, FAILURE)                                          \
    }

// A forwarder behind __imp_NAME, for a function the SDK header declares dllimport: the product's
// call goes through that pointer (the name the compiler gives an import pointer on x64), which is
// defined here, constant, instead of being filled in from an import.
#define NORVANE_FORWARD_IMPORT(MODULE, RESULT, NAME, PARAMS, ARGS, FAILURE)                        \
    namespace {                                                                                    \
    RESULT WINAPI forward_##NAME PARAMS {                                                          \
        NORVANE_FORWARD_BODY(MODULE, NAME, ARGS, FAILURE)                                          \
    }                                                                                              \
    }                                                                                              \
    extern "C" const decltype(&NAME) __imp_##NAME = forward_##NAME;
