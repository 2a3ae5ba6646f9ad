// The wait of the flash's pauses that answers messages: on the pause's timer and the thread's
// input at once, dispatching messages as they arrive instead of sleeping through them. The
// requests on the wire and their timing are those of the plain wait.
#include "ui/message_pump.h"

#include "device/pause.h"

namespace norvane {

namespace {

// Dispatches every message waiting for this thread; the dialog's own keyboard handling (Escape,
// Tab) goes through IsDialogMessageW as in the modal loop.
void pump_messages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            g_message_pump.quit_kept = true;
            g_message_pump.quit_code = static_cast<int>(message.wParam);
            continue;
        }
        HWND dialog = g_message_pump.dialog;
        if (dialog == nullptr || !IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// One wait of a pause: until the timer fires, the time-out ends or a message arrives; then
// whatever is waiting is dispatched. A time-out of 0 (a pause of 0) only dispatches.
void wait_answering_messages(HANDLE timer, DWORD timeout_ms) {
    if (timeout_ms > 0) {
        MsgWaitForMultipleObjects(timer != nullptr ? 1 : 0, &timer, FALSE, timeout_ms, QS_ALLINPUT);
    }
    pump_messages();
}

} // namespace

void _begin_answering_messages(HWND dialog) {
    g_message_pump = MessagePumpState{dialog, false, 0};
    _set_wait_function(wait_answering_messages);
}

void _end_answering_messages() {
    _set_wait_function(nullptr);
    if (g_message_pump.quit_kept) {
        g_message_pump.quit_kept = false;
        PostQuitMessage(g_message_pump.quit_code);
    }
    g_message_pump.dialog = nullptr;
}

} // namespace norvane
