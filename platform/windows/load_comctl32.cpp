// comctl32.dll from the system directory, loaded when the product first calls
// InitCommonControlsEx, the one function it uses. commctrl.h declares that function dllimport, so
// the product's call goes through the pointer __imp_InitCommonControlsEx; we define that pointer
// here, aimed at our forwarder, instead of importing comctl32.dll. When the DLL or the function is
// missing, the call returns FALSE with the last error ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND.
#include "platform/win32.h"
#include "platform/windows/system_library.h"

namespace {

constexpr wchar_t kComctl32Dll[] = L"comctl32.dll";

using InitCommonControlsExFunction = decltype(&InitCommonControlsEx);

HMODULE comctl32_module() {
    static const HMODULE module = system_library::load(kComctl32Dll);
    return module;
}

BOOL WINAPI forward_init_common_controls_ex(const INITCOMMONCONTROLSEX* controls) {
    static const auto real = system_library::find<InitCommonControlsExFunction>(
        comctl32_module(), "InitCommonControlsEx");
    if (real == nullptr) {
        system_library::report_missing(comctl32_module());
        return FALSE;
    }
    return real(controls);
}

} // namespace

// The name the compiler gives the import pointer of a dllimport function on x64.
extern "C" const InitCommonControlsExFunction __imp_InitCommonControlsEx =
    forward_init_common_controls_ex;
