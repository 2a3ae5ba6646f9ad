// user32.dll from the system directory, loaded when the product first shows a box or its dialog.
// Windows maps user32.dll, a KnownDLL, from the system directory anyway. A loader without
// KnownDLLs (Wine has none) binds the DLLs that its user32.dll imports, version.dll among them,
// like the exe's own imports, from the exe's folder first; loaded here, after the process's DLL
// search is restricted to the system directory, they come from there. winuser.h declares the
// functions dllimport, so the product's calls go through the pointers __imp_NAME; we define those,
// aimed at forwarders to the system DLL. When the DLL or a function is missing, the call fails
// (FALSE, -1, 0 or nullptr) with the last error ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND.
#include "platform/win32.h"
#include "platform/windows/system_library.h"

namespace {

constexpr wchar_t kUser32Dll[] = L"user32.dll";
constexpr INT_PTR kDialogFailed = -1; // what DialogBoxParamW returns when it cannot show one
constexpr BOOL kNoMenuItem = -1;      // what EnableMenuItem returns for a missing item

HMODULE user32_module() {
    static const HMODULE module = system_library::load(kUser32Dll);
    return module;
}

template <typename Function> Function user32_function(const char* name) {
    return system_library::find<Function>(user32_module(), name);
}

// Sets the last error for a missing function and returns VALUE, the call's failure result.
template <typename Result> Result missing(Result value) {
    system_library::report_missing(user32_module());
    return value;
}

BOOL WINAPI destroy_window(HWND window) {
    static const auto real = user32_function<decltype(&DestroyWindow)>("DestroyWindow");
    return real == nullptr ? missing<BOOL>(FALSE) : real(window);
}

INT_PTR WINAPI dialog_box_param_w(HINSTANCE instance, LPCWSTR dialog, HWND owner, DLGPROC procedure,
                                  LPARAM parameter) {
    static const auto real = user32_function<decltype(&DialogBoxParamW)>("DialogBoxParamW");
    return real == nullptr ? missing(kDialogFailed)
                           : real(instance, dialog, owner, procedure, parameter);
}

BOOL WINAPI enable_window(HWND window, BOOL enable) {
    static const auto real = user32_function<decltype(&EnableWindow)>("EnableWindow");
    return real == nullptr ? missing<BOOL>(FALSE) : real(window, enable);
}

HWND WINAPI get_dlg_item(HWND dialog, int id) {
    static const auto real = user32_function<decltype(&GetDlgItem)>("GetDlgItem");
    return real == nullptr ? missing<HWND>(nullptr) : real(dialog, id);
}

int WINAPI message_box_w(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    static const auto real = user32_function<decltype(&MessageBoxW)>("MessageBoxW");
    return real == nullptr ? missing(0) : real(owner, text, caption, type);
}

void WINAPI post_quit_message(int exit_code) {
    static const auto real = user32_function<decltype(&PostQuitMessage)>("PostQuitMessage");
    if (real == nullptr) {
        system_library::report_missing(user32_module());
        return;
    }
    real(exit_code);
}

LRESULT WINAPI dispatch_message_w(const MSG* message) {
    static const auto real = user32_function<decltype(&DispatchMessageW)>("DispatchMessageW");
    return real == nullptr ? missing<LRESULT>(0) : real(message);
}

BOOL WINAPI enable_menu_item(HMENU menu, UINT item, UINT enable) {
    static const auto real = user32_function<decltype(&EnableMenuItem)>("EnableMenuItem");
    return real == nullptr ? missing<BOOL>(kNoMenuItem) : real(menu, item, enable);
}

HMENU WINAPI get_system_menu(HWND window, BOOL revert) {
    static const auto real = user32_function<decltype(&GetSystemMenu)>("GetSystemMenu");
    return real == nullptr ? missing<HMENU>(nullptr) : real(window, revert);
}

BOOL WINAPI is_dialog_message_w(HWND dialog, LPMSG message) {
    static const auto real = user32_function<decltype(&IsDialogMessageW)>("IsDialogMessageW");
    return real == nullptr ? missing<BOOL>(FALSE) : real(dialog, message);
}

DWORD WINAPI msg_wait_for_multiple_objects(DWORD count, const HANDLE* handles, BOOL wait_all,
                                           DWORD milliseconds, DWORD wake_mask) {
    static const auto real =
        user32_function<decltype(&MsgWaitForMultipleObjects)>("MsgWaitForMultipleObjects");
    if (real == nullptr) {
        // Without user32 nothing can be waiting for the dialog: a plain sleep keeps the pause.
        Sleep(milliseconds);
        return missing<DWORD>(WAIT_TIMEOUT);
    }
    return real(count, handles, wait_all, milliseconds, wake_mask);
}

BOOL WINAPI peek_message_w(LPMSG message, HWND window, UINT first, UINT last, UINT remove) {
    static const auto real = user32_function<decltype(&PeekMessageW)>("PeekMessageW");
    return real == nullptr ? missing<BOOL>(FALSE) : real(message, window, first, last, remove);
}

LRESULT WINAPI send_message_w(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    static const auto real = user32_function<decltype(&SendMessageW)>("SendMessageW");
    return real == nullptr ? missing<LRESULT>(0) : real(window, message, wparam, lparam);
}

BOOL WINAPI set_window_text_w(HWND window, LPCWSTR text) {
    static const auto real = user32_function<decltype(&SetWindowTextW)>("SetWindowTextW");
    return real == nullptr ? missing<BOOL>(FALSE) : real(window, text);
}

BOOL WINAPI translate_message(const MSG* message) {
    static const auto real = user32_function<decltype(&TranslateMessage)>("TranslateMessage");
    return real == nullptr ? missing<BOOL>(FALSE) : real(message);
}

} // namespace

// The names the compiler gives the import pointers of dllimport functions on x64.
extern "C" {
extern const decltype(&DestroyWindow) __imp_DestroyWindow = destroy_window;
extern const decltype(&DialogBoxParamW) __imp_DialogBoxParamW = dialog_box_param_w;
extern const decltype(&DispatchMessageW) __imp_DispatchMessageW = dispatch_message_w;
extern const decltype(&EnableMenuItem) __imp_EnableMenuItem = enable_menu_item;
extern const decltype(&EnableWindow) __imp_EnableWindow = enable_window;
extern const decltype(&GetSystemMenu) __imp_GetSystemMenu = get_system_menu;
extern const decltype(&IsDialogMessageW) __imp_IsDialogMessageW = is_dialog_message_w;
extern const decltype(&MsgWaitForMultipleObjects) __imp_MsgWaitForMultipleObjects =
    msg_wait_for_multiple_objects;
extern const decltype(&PeekMessageW) __imp_PeekMessageW = peek_message_w;
extern const decltype(&GetDlgItem) __imp_GetDlgItem = get_dlg_item;
extern const decltype(&MessageBoxW) __imp_MessageBoxW = message_box_w;
extern const decltype(&PostQuitMessage) __imp_PostQuitMessage = post_quit_message;
extern const decltype(&SendMessageW) __imp_SendMessageW = send_message_w;
extern const decltype(&SetWindowTextW) __imp_SetWindowTextW = set_window_text_w;
extern const decltype(&TranslateMessage) __imp_TranslateMessage = translate_message;
} // extern "C"
