// The pause of the flash that answers messages: at least as long as asked, measured with the
// performance counter (the tick count is too coarse for 2 ms pauses), dispatching messages as they
// arrive instead of sleeping through them. The requests on the wire and their timing are those of
// a plain sleep.
#include "ui/message_pump.h"

#include "device/pause.h"

namespace norvane {

namespace {

constexpr LONGLONG kMsPerSecond = 1000;

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

LONGLONG counter_now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void pause_answering_messages(DWORD milliseconds) {
    pump_messages();
    if (milliseconds == 0) {
        return;
    }
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    const LONGLONG wanted = static_cast<LONGLONG>(milliseconds) * frequency.QuadPart;
    const LONGLONG start = counter_now();
    for (;;) {
        const LONGLONG elapsed = (counter_now() - start) * kMsPerSecond;
        if (elapsed >= wanted) {
            return;
        }
        // Round the rest up to whole milliseconds, so the wait never ends early.
        const auto rest =
            static_cast<DWORD>((wanted - elapsed + frequency.QuadPart - 1) / frequency.QuadPart);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, rest, QS_ALLINPUT);
        pump_messages();
    }
}

} // namespace

void _begin_answering_messages(HWND dialog) {
    g_message_pump = MessagePumpState{dialog, false, 0};
    _set_pause_function(pause_answering_messages);
}

void _end_answering_messages() {
    _set_pause_function(nullptr);
    if (g_message_pump.quit_kept) {
        g_message_pump.quit_kept = false;
        PostQuitMessage(g_message_pump.quit_code);
    }
    g_message_pump.dialog = nullptr;
}

} // namespace norvane
