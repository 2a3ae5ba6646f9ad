// The session guard. A system-required power request rather than SetThreadExecutionState: it
// carries its reason, so an administrator sees in "powercfg /requests" why the machine does not
// sleep, and it belongs to the process, which Windows ends with it. A silent run has no window, so
// it makes a hidden top-level one (a message-only window is never asked whether the session may
// end), whose messages the silent run's pauses answer.
#include "ui/session_guard.h"

#include <iterator>
#include <string>

#include "app/run_log.h"
#include "ui/resource_ids.h"
#include "ui/update_dialog.h"

namespace norvane {

namespace {

// What Windows shows beside the program in its shutdown screen and in "powercfg /requests".
constexpr const wchar_t* kSessionGuardReason = L"Updating touchpad firmware";
constexpr const wchar_t* kWindowClass = L"NorvaneFwUpdaterSessionGuard";

LRESULT CALLBACK guard_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT answer = 0;
    if (_answer_session_message(message, wparam, answer)) {
        return answer;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND make_guard_window() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = guard_window_procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = kWindowClass;
    RegisterClassW(&window_class); // once per process; the flash runs once
    // Not shown, and with no parent: a top-level window, which the session asks.
    return CreateWindowExW(0, kWindowClass, NORVANE_PRODUCT_NAME_W, WS_OVERLAPPED, 0, 0, 0, 0,
                           nullptr, nullptr, instance, nullptr);
}

HANDLE keep_machine_awake() {
    // The request takes its reason as a writable string.
    wchar_t reason_text[std::char_traits<wchar_t>::length(kSessionGuardReason) + 1];
    _copy_wide(reason_text, std::size(reason_text), kSessionGuardReason);
    REASON_CONTEXT reason{};
    reason.Version = POWER_REQUEST_CONTEXT_VERSION;
    reason.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
    reason.Reason.SimpleReasonString = reason_text;
    HANDLE request = PowerCreateRequest(&reason);
    if (request == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    if (!PowerSetRequest(request, PowerRequestSystemRequired)) {
        CloseHandle(request);
        return nullptr;
    }
    return request;
}

} // namespace

void _hold_session() {
    g_session_guard.flashing = true;
    g_session_guard.power_request = keep_machine_awake();
    g_session_guard.own_window = !g_update_dialog_state.updating;
    g_session_guard.window =
        g_session_guard.own_window ? make_guard_window() : g_update_dialog_state.window;
    if (g_session_guard.window != nullptr) {
        ShutdownBlockReasonCreate(g_session_guard.window, kSessionGuardReason);
    }
}

void _release_session() {
    if (g_session_guard.power_request != nullptr) {
        PowerClearRequest(g_session_guard.power_request, PowerRequestSystemRequired);
        CloseHandle(g_session_guard.power_request);
    }
    if (g_session_guard.window != nullptr) {
        ShutdownBlockReasonDestroy(g_session_guard.window);
        if (g_session_guard.own_window) {
            DestroyWindow(g_session_guard.window);
        }
    }
    g_session_guard = SessionGuardState{};
}

bool _answer_session_message(UINT message, WPARAM wparam, LRESULT& answer) {
    if (!g_session_guard.flashing) {
        return false;
    }
    if (message == WM_QUERYENDSESSION) {
        answer = FALSE;
        return true;
    }
    if (message == WM_ENDSESSION && wparam != FALSE) {
        // Believed only as far as it goes: when the session really ends (the user chose to shut
        // down regardless), Windows ends the process once this returns, and this line is the log's
        // last (the record already says 1603 with no version); one that another program posted,
        // or a shutdown that is then cancelled, ends nothing, and the flash goes on.
        if (!g_session_guard.end_logged) {
            g_session_guard.end_logged = true;
            g_session_end_notice();
        }
        answer = 0;
        return true;
    }
    return false;
}

} // namespace norvane
