// user32 and comctl32 stand-ins: message boxes answered by the simulated user, and the update
// dialog run from the scenario's script (press Start Update, or close it), with its button,
// title, icons and progress bar recorded in the transcript. Besides the dialog, the program's own
// top-level windows (CreateWindowExW of a registered class), the window station it runs in, and a
// session end the scenario starts, delivered as Windows sends it: to every top-level window, when
// the program looks at its messages.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/handles.h"
#include "host/process.h"
#include "host/win32_host.h"
#include "sim/simulated_pc.h"
#include "sim/transcript_text.h"

struct HostWindow {
    int id;
    WNDPROC procedure = nullptr; // windows of a registered class
    LONG_PTR message_result = 0; // a dialog's DWLP_MSGRESULT
    bool shutdown_block = false; // a shutdown block reason is registered for it
};

struct HostWindowStation {
    int id;
};

struct HostMenu {
    int id;
};

namespace {

constexpr int kButtonId = 1000;
constexpr int kProgressId = 1001;
constexpr int kNoticeId = 1002;
constexpr int kDefaultProgressMax = 100;
constexpr int kDefaultProgressStep = 10;
constexpr UINT kButtonTypeMask = 0x0F;
constexpr UINT kStyleMask = 0xFF;
constexpr WORD kClickedNotification = 0;
constexpr int kMaxScriptedMessages = 8;
// The system's icon sizes at 96 DPI.
constexpr int kSmallIconSize = 16;
constexpr int kLargeIconSize = 32;
constexpr ULONG_PTR kLargestResourceId = 0xFFFF;

struct DialogState {
    HostWindow window{0};
    HostWindow button{kButtonId};
    HostWindow progress{kProgressId};
    HostWindow notice{kNoticeId};
    DLGPROC procedure = nullptr;
    bool alive = false;
    bool quit = false;
    bool button_enabled = true;
    int progress_min = 0;
    int progress_max = kDefaultProgressMax;
    int progress_step = kDefaultProgressStep;
    int progress_pos = 0;
};

DialogState g_dialog;
HostMenu g_system_menu{0};
HostWindowStation g_window_station{0};

// The program's own windows (CreateWindowExW) and the classes they come from.
constexpr int kFirstCreatedWindowId = 100;
std::vector<std::unique_ptr<HostWindow>> g_created_windows;
std::map<std::wstring, WNDPROC> g_window_classes;

// The scripted message taken from the queue and not yet handed to the dialog, or none.
std::optional<std::size_t> g_taken_message;
// When the thread last looked at its queue (PeekMessageW): a message posted by then that it left
// there does not end a later MsgWaitForMultipleObjects, as on Windows, which wakes for new input
// only.
std::optional<std::uint64_t> g_last_peek_ms;

struct MessageShape {
    UINT message;
    WPARAM wparam;
    const char* name;
};

MessageShape shape_of(sim::DialogMessageKind kind) {
    switch (kind) {
    case sim::DialogMessageKind::Close:
        return {WM_CLOSE, 0, "WM_CLOSE"};
    case sim::DialogMessageKind::Start:
        return {WM_COMMAND, static_cast<WPARAM>(kButtonId), "WM_COMMAND"};
    case sim::DialogMessageKind::Escape:
        return {WM_KEYDOWN, VK_ESCAPE, "WM_KEYDOWN"};
    case sim::DialogMessageKind::SystemClose:
        return {WM_SYSCOMMAND, SC_CLOSE, "WM_SYSCOMMAND"};
    case sim::DialogMessageKind::Quit:
        return {WM_QUIT, 0, "WM_QUIT"};
    case sim::DialogMessageKind::Null:
        break;
    }
    return {WM_NULL, 0, "WM_NULL"};
}

// The first scripted message not yet dispatched, when it has been posted by `time`.
std::optional<std::size_t> next_message_due(std::uint64_t time) {
    const auto& messages = sim::pc().dialog_messages;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (!messages[i].dispatched_ms.has_value()) {
            if (messages[i].at_ms <= time) {
                return i;
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::string style_hex(UINT style) {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02X", style & kStyleMask);
    return text;
}

int answer_box(UINT type) {
    if (g_dialog.quit) {
        // A WM_QUIT waiting in the thread's queue ends the box's own loop at once: nobody sees it.
        sim::record_event("answer quit");
        return 0;
    }
    if ((type & kButtonTypeMask) == MB_YESNO && sim::pc().question_box_fails) {
        sim::record_event("answer none");
        return 0; // the box could not be shown
    }
    if ((type & kButtonTypeMask) == MB_YESNO) {
        const bool yes = sim::pc().answer_yes;
        sim::record_event(yes ? "answer IDYES" : "answer IDNO");
        return yes ? IDYES : IDNO;
    }
    sim::record_event("answer IDOK");
    return IDOK;
}

LRESULT progress_message(UINT message, WPARAM wparam, LPARAM lparam) {
    const int previous = g_dialog.progress_pos;
    switch (message) {
    case PBM_SETRANGE:
        g_dialog.progress_min = LOWORD(lparam);
        g_dialog.progress_max = HIWORD(lparam);
        return MAKELPARAM(0, kDefaultProgressMax);
    case PBM_SETSTEP:
        g_dialog.progress_step = static_cast<int>(wparam);
        return 0;
    case PBM_SETPOS:
        g_dialog.progress_pos = static_cast<int>(wparam);
        break;
    case PBM_STEPIT:
        g_dialog.progress_pos += g_dialog.progress_step;
        if (g_dialog.progress_pos > g_dialog.progress_max) {
            g_dialog.progress_pos = g_dialog.progress_min; // the bar starts over, as Windows does
        }
        break;
    default:
        return 0;
    }
    sim::record_event("progress " + std::to_string(g_dialog.progress_pos) + "/" +
                      std::to_string(g_dialog.progress_max));
    return previous;
}

// "icon small 107 16x16": which icon the dialog was given, from which group, at which size.
LRESULT set_icon(WPARAM which, LPARAM icon) {
    const HandleEntry* entry = host_handle_get(reinterpret_cast<void*>(icon), HandleKind::Icon);
    std::string line = which == ICON_SMALL ? "icon small"
                       : which == ICON_BIG ? "icon big"
                                           : "icon ?";
    if (entry == nullptr) {
        line += " none";
    } else {
        line += " " + std::to_string(entry->resource) + " " + std::to_string(entry->width) + "x" +
                std::to_string(entry->height);
    }
    sim::record_event(line);
    return 0; // the dialog had no icon before
}

void send_to_dialog(UINT message, WPARAM wparam, LPARAM lparam) {
    if (g_dialog.alive && !g_dialog.quit) {
        g_dialog.procedure(&g_dialog.window, message, wparam, lparam);
    }
}

// What the dialog's window procedure and the dialog manager make of one message: Escape becomes
// the cancel command, the system's Close becomes WM_CLOSE, WM_NULL is answered with nothing.
void deliver(UINT message, WPARAM wparam) {
    switch (message) {
    case WM_KEYDOWN:
        if (wparam == VK_ESCAPE) {
            send_to_dialog(WM_COMMAND, static_cast<WPARAM>(IDCANCEL), 0);
        }
        break;
    case WM_SYSCOMMAND:
        send_to_dialog(WM_SYSCOMMAND, wparam, 0);
        if (wparam == SC_CLOSE) {
            send_to_dialog(WM_CLOSE, 0, 0);
        }
        break;
    case WM_NULL:
        break;
    case WM_QUIT:
        g_dialog.quit = true; // the dialog's own loop ends
        break;
    default:
        send_to_dialog(message, wparam, 0);
        break;
    }
}

// The program's top-level windows: the update dialog while it is up, and its own windows.
std::vector<HostWindow*> top_level_windows() {
    std::vector<HostWindow*> windows;
    if (g_dialog.alive && !g_dialog.quit) {
        windows.push_back(&g_dialog.window);
    }
    for (const auto& window : g_created_windows) {
        windows.push_back(window.get());
    }
    return windows;
}

bool is_top_level_window(HWND window) {
    const std::vector<HostWindow*> windows = top_level_windows();
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

// What a top-level window answers a session message: a window of a class through its procedure,
// the dialog through its dialog procedure and, where that leaves the message, the dialog
// manager's default (TRUE for WM_QUERYENDSESSION).
LRESULT send_session_message(HostWindow* window, UINT message, WPARAM wparam) {
    if (window->procedure != nullptr) {
        return window->procedure(window, message, wparam, 0);
    }
    window->message_result = 0;
    if (g_dialog.procedure(window, message, wparam, 0) != 0) {
        return window->message_result;
    }
    return message == WM_QUERYENDSESSION ? TRUE : 0;
}

bool session_end_due(const sim::SessionEnd& end, const std::string* box_text) {
    if (end.delivered) {
        return false;
    }
    if (!end.in_box.empty()) {
        return box_text != nullptr && *box_text == end.in_box;
    }
    return end.at_ms <= sim::now_ms();
}

// A session end that is due (`box_text`: the box being shown, if any): every top-level window is
// asked; one that refuses keeps the session (unless the end is forced). Otherwise each is told
// that the session ends, and the system ends the process, with exit code 0, as Wine does with a
// program that has not ended itself by then. A forged one is only the WM_ENDSESSION(TRUE) another
// program posts: nobody is asked, and the session and the process go on.
void deliver_session_end(const std::string* box_text = nullptr) {
    std::optional<sim::SessionEnd>& end = sim::pc().session_end;
    if (!end.has_value() || !session_end_due(*end, box_text)) {
        return;
    }
    end->delivered = true;
    if (end->forged) {
        sim::record_guard_event("session-end forged");
        for (HostWindow* window : top_level_windows()) {
            send_session_message(window, WM_ENDSESSION, TRUE);
        }
        return;
    }
    bool agreed = true;
    for (HostWindow* window : top_level_windows()) {
        agreed = send_session_message(window, WM_QUERYENDSESSION, 0) != FALSE && agreed;
    }
    sim::record_guard_event(agreed ? "session-end agreed" : "session-end refused");
    if (!agreed && !end->forced) {
        return;
    }
    for (HostWindow* window : top_level_windows()) {
        send_session_message(window, WM_ENDSESSION, TRUE);
    }
    host_end_process();
    throw HostProcessExit{0};
}

// The earliest time at which a scripted message posted since the thread last looked at its queue,
// or the session end, is due, if any.
std::optional<std::uint64_t> next_due_time(std::uint64_t time) {
    std::optional<std::uint64_t> due;
    if (g_dialog.alive && !g_dialog.quit) {
        for (const sim::ScriptedMessage& message : sim::pc().dialog_messages) {
            const bool seen = g_last_peek_ms.has_value() && message.at_ms <= *g_last_peek_ms;
            if (!message.dispatched_ms.has_value() && !seen && message.at_ms <= time) {
                due = due.has_value() ? std::min(*due, message.at_ms) : message.at_ms;
            }
        }
    }
    const std::optional<sim::SessionEnd>& end = sim::pc().session_end;
    if (end.has_value() && !end->delivered && end->in_box.empty() && end->at_ms <= time) {
        due = due.has_value() ? std::min(*due, end->at_ms) : end->at_ms;
    }
    return due;
}

// Marks a scripted message as taken by the dialog's thread now and hands it to the dialog.
void dispatch_scripted(std::size_t index) {
    sim::SimulatedPc& machine = sim::pc();
    sim::ScriptedMessage& scripted = machine.dialog_messages[index];
    scripted.dispatched_ms = sim::now_ms();
    scripted.close_box_enabled_then = machine.close_box_enabled;
    const MessageShape shape = shape_of(scripted.kind);
    sim::record_event(std::string("message ") + shape.name + " after " +
                      std::to_string(sim::now_ms() - scripted.at_ms) + " ms");
    deliver(shape.message, shape.wparam);
}

// What the user does with the dialog once it is up.
void run_dialog_script() {
    const sim::DialogAction action = sim::pc().dialog;
    const int presses = action == sim::DialogAction::StartTwice ? 2
                        : action == sim::DialogAction::Start    ? 1
                                                                : 0;
    for (int press = 0; press < presses; ++press) {
        send_to_dialog(WM_COMMAND, static_cast<WPARAM>(MAKELPARAM(kButtonId, kClickedNotification)),
                       reinterpret_cast<LPARAM>(&g_dialog.button));
    }
    // Messages still queued are taken by the dialog's own loop once the update has returned.
    for (auto& scripted : sim::pc().dialog_messages) {
        if (!g_dialog.alive || g_dialog.quit) {
            break;
        }
        if (!scripted.dispatched_ms.has_value()) {
            sim::pc().virtual_time =
                std::max(sim::pc().virtual_time, scripted.at_ms * sim::kTimeUnitsPerMs);
            dispatch_scripted(
                static_cast<std::size_t>(&scripted - sim::pc().dialog_messages.data()));
        }
    }
    // The close box, pressed until the dialog is gone (a dialog that ignores it is reported).
    for (int attempt = 0; attempt < kMaxScriptedMessages && g_dialog.alive && !g_dialog.quit;
         ++attempt) {
        send_to_dialog(WM_CLOSE, 0, 0);
    }
}

} // namespace

extern "C" {

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    if (owner != nullptr) {
        sim::record_event("box-owner " + sim::transcript_text(caption));
    }
    sim::record_event("box " + sim::transcript_text(caption) + " " + style_hex(type) + " " +
                      sim::transcript_text(text));
    const std::string shown = sim::transcript_text(text);
    deliver_session_end(&shown); // the box's own loop answers the session's messages
    return answer_box(type);
}

INT_PTR DialogBoxParamW([[maybe_unused]] HINSTANCE instance, [[maybe_unused]] LPCWSTR template_name,
                        [[maybe_unused]] HWND owner, DLGPROC procedure, LPARAM init_param) {
    g_dialog = DialogState{};
    g_taken_message.reset();
    if (sim::pc().dialog == sim::DialogAction::Fail) {
        sim::record_event("dialog failed");
        return -1; // not created: no window, no message
    }
    g_dialog.procedure = procedure;
    g_dialog.alive = true;
    sim::record_event("dialog open");
    procedure(&g_dialog.window, WM_INITDIALOG, 0, init_param);
    run_dialog_script();
    if (g_dialog.alive && g_dialog.quit) {
        sim::record_event("dialog quit"); // a WM_QUIT ended the dialog's loop
        g_dialog.alive = false;
        return 0;
    }
    if (g_dialog.alive) {
        sim::record_event("dialog stuck");
        g_dialog.alive = false;
        return -1;
    }
    return 0;
}

HWND GetDlgItem(HWND dialog, int id) {
    if (dialog != &g_dialog.window || !g_dialog.alive) {
        return nullptr;
    }
    if (id == kButtonId) {
        return &g_dialog.button;
    }
    if (id == kNoticeId) {
        return &g_dialog.notice;
    }
    return id == kProgressId ? &g_dialog.progress : nullptr;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (window == &g_dialog.progress && g_dialog.alive) {
        return progress_message(message, wparam, lparam);
    }
    if (window == &g_dialog.window && g_dialog.alive && message == WM_SETICON) {
        return set_icon(wparam, lparam);
    }
    return 0;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    if (window != &g_dialog.button || !g_dialog.alive) {
        return FALSE;
    }
    const BOOL was_disabled = g_dialog.button_enabled ? FALSE : TRUE;
    if (g_dialog.button_enabled && !enable) {
        sim::record_event("button disabled");
    } else if (!g_dialog.button_enabled && enable) {
        sim::record_event("button enabled");
    }
    g_dialog.button_enabled = enable != FALSE;
    return was_disabled;
}

// The dialog's title, or the text of its notice.
BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    if ((window != &g_dialog.window && window != &g_dialog.notice) || !g_dialog.alive) {
        return FALSE;
    }
    sim::record_event((window == &g_dialog.notice ? "notice " : "title ") +
                      sim::transcript_text(text));
    return TRUE;
}

BOOL DestroyWindow(HWND window) {
    const auto created =
        std::find_if(g_created_windows.begin(), g_created_windows.end(),
                     [window](const auto& candidate) { return candidate.get() == window; });
    if (created != g_created_windows.end()) {
        if ((*created)->shutdown_block) {
            --sim::pc().shutdown_blocks; // the reason goes with its window
        }
        g_created_windows.erase(created);
        return TRUE;
    }
    if (window != &g_dialog.window || !g_dialog.alive) {
        return FALSE;
    }
    g_dialog.procedure(&g_dialog.window, WM_DESTROY, 0, 0);
    g_dialog.alive = false;
    sim::record_event("dialog closed");
    return TRUE;
}

void PostQuitMessage([[maybe_unused]] int exit_code) {
    g_dialog.quit = true;
}

// Sent messages (a session end) are delivered first, as Windows delivers them inside the call;
// then the first scripted message that is due. A WM_QUIT taken here leaves the queue at once.
BOOL PeekMessageW(MSG* message, [[maybe_unused]] HWND window, [[maybe_unused]] UINT first,
                  [[maybe_unused]] UINT last, [[maybe_unused]] UINT remove) {
    deliver_session_end();
    g_last_peek_ms = sim::now_ms();
    if (message == nullptr || !g_dialog.alive || g_dialog.quit) {
        return FALSE;
    }
    const std::optional<std::size_t> due = next_message_due(sim::now_ms());
    if (!due.has_value()) {
        return FALSE;
    }
    const MessageShape shape = shape_of(sim::pc().dialog_messages[*due].kind);
    *message = MSG{};
    message->hwnd = shape.message == WM_QUIT ? nullptr : &g_dialog.window;
    message->message = shape.message;
    message->wParam = shape.wparam;
    if (shape.message == WM_QUIT) {
        sim::ScriptedMessage& scripted = sim::pc().dialog_messages[*due];
        scripted.dispatched_ms = sim::now_ms();
        scripted.close_box_enabled_then = sim::pc().close_box_enabled;
        sim::record_event("message WM_QUIT after " +
                          std::to_string(sim::now_ms() - scripted.at_ms) + " ms");
        return TRUE;
    }
    g_taken_message = due;
    return TRUE;
}

// The dialog manager takes every message of its dialog; nothing reaches DispatchMessageW then.
BOOL IsDialogMessageW(HWND dialog, MSG* message) {
    if (dialog != &g_dialog.window || message == nullptr || message->hwnd != dialog) {
        return FALSE;
    }
    if (g_taken_message.has_value()) {
        const std::size_t index = *g_taken_message;
        g_taken_message.reset();
        dispatch_scripted(index);
    }
    return TRUE;
}

BOOL TranslateMessage([[maybe_unused]] const MSG* message) {
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* message) {
    if (message != nullptr && g_taken_message.has_value()) {
        const std::size_t index = *g_taken_message;
        g_taken_message.reset();
        dispatch_scripted(index);
    }
    return 0;
}

// Waits on the virtual clock until the timer (the one handle it takes) fires, a scripted message or
// a session end is due, or the time-out ends as the clock ends it.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, [[maybe_unused]] BOOL wait_all,
                                DWORD milliseconds, [[maybe_unused]] DWORD wake_mask) {
    HANDLE timer = count > 0 ? handles[0] : nullptr;
    const std::optional<std::uint64_t> end = host_wait_end(timer, milliseconds);
    const std::uint64_t last_ms =
        end.has_value() ? *end / sim::kTimeUnitsPerMs : std::numeric_limits<std::uint64_t>::max();
    const std::optional<std::uint64_t> due = next_due_time(last_ms);
    if (due.has_value()) {
        host_pass_time_to(*due * sim::kTimeUnitsPerMs);
        return WAIT_OBJECT_0 + count; // input
    }
    if (!end.has_value()) {
        host_wait_for_ever();
    }
    return host_end_wait(timer, *end);
}

HMENU GetSystemMenu(HWND window, [[maybe_unused]] BOOL revert) {
    return window == &g_dialog.window && g_dialog.alive ? &g_system_menu : nullptr;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable) {
    constexpr BOOL kNoSuchItem = -1;
    if (menu != &g_system_menu || item != SC_CLOSE) {
        return kNoSuchItem;
    }
    const BOOL previous = sim::pc().close_box_enabled ? MF_ENABLED : MF_GRAYED;
    sim::pc().close_box_enabled = (enable & MF_GRAYED) == 0;
    return previous;
}

// A dialog's message result; no other index is kept.
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    if (!is_top_level_window(window) || index != DWLP_MSGRESULT) {
        return 0;
    }
    const LONG_PTR previous = window->message_result;
    window->message_result = value;
    return previous;
}

ATOM RegisterClassW(const WNDCLASSW* window_class) {
    if (window_class == nullptr || window_class->lpszClassName == nullptr ||
        window_class->lpfnWndProc == nullptr ||
        !g_window_classes.emplace(window_class->lpszClassName, window_class->lpfnWndProc).second) {
        return 0;
    }
    return static_cast<ATOM>(g_window_classes.size());
}

// Top-level windows of a registered class only; none is ever shown here.
HWND CreateWindowExW(DWORD /*ex_style*/, LPCWSTR class_name, LPCWSTR /*window_name*/,
                     DWORD /*style*/, int /*x*/, int /*y*/, int /*width*/, int /*height*/,
                     HWND parent, HMENU /*menu*/, HINSTANCE /*instance*/, LPVOID /*parameter*/) {
    const auto known =
        class_name == nullptr ? g_window_classes.end() : g_window_classes.find(class_name);
    if (known == g_window_classes.end() || parent != nullptr) {
        return nullptr;
    }
    const int id = kFirstCreatedWindowId + static_cast<int>(g_created_windows.size());
    g_created_windows.push_back(std::make_unique<HostWindow>(HostWindow{id, known->second}));
    return g_created_windows.back().get();
}

LRESULT DefWindowProcW(HWND /*window*/, UINT message, WPARAM /*wparam*/, LPARAM /*lparam*/) {
    return message == WM_QUERYENDSESSION ? TRUE : 0;
}

// A reason for one live top-level window of the program, as Windows takes it.
BOOL ShutdownBlockReasonCreate(HWND window, LPCWSTR reason) {
    if (reason == nullptr || !is_top_level_window(window)) {
        return FALSE;
    }
    if (!window->shutdown_block) {
        ++sim::pc().shutdown_blocks;
    }
    window->shutdown_block = true;
    sim::record_guard_event("shutdown-block on " + sim::transcript_text(reason));
    return TRUE;
}

BOOL ShutdownBlockReasonDestroy(HWND window) {
    if (!is_top_level_window(window) || !window->shutdown_block) {
        return FALSE;
    }
    window->shutdown_block = false;
    --sim::pc().shutdown_blocks;
    sim::record_guard_event("shutdown-block off");
    return TRUE;
}

HWINSTA GetProcessWindowStation() {
    return &g_window_station;
}

// UOI_FLAGS of the window station: visible unless the scenario runs the program where nobody sees
// its windows.
BOOL GetUserObjectInformationW(HANDLE object, int index, PVOID information, DWORD length,
                               LPDWORD needed) {
    if (object != &g_window_station || index != UOI_FLAGS || sim::pc().window_station_query_fails) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (needed != nullptr) {
        *needed = sizeof(USEROBJECTFLAGS);
    }
    if (information == nullptr || length < sizeof(USEROBJECTFLAGS)) {
        return FALSE;
    }
    auto* flags = static_cast<USEROBJECTFLAGS*>(information);
    *flags = USEROBJECTFLAGS{TRUE, FALSE, sim::pc().window_station_visible ? WSF_VISIBLE : 0};
    return TRUE;
}

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSMICON:
    case SM_CYSMICON:
        return kSmallIconSize;
    case SM_CXICON:
    case SM_CYICON:
        return kLargeIconSize;
    default:
        return 0;
    }
}

// An icon group of the program's own resources, by its id, at the size asked for.
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int width, int height, UINT flags) {
    const auto id = reinterpret_cast<ULONG_PTR>(name);
    if (instance != GetModuleHandleW(nullptr) || type != IMAGE_ICON || id > kLargestResourceId ||
        flags != LR_DEFAULTCOLOR) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    HandleEntry entry{};
    entry.kind = HandleKind::Icon;
    entry.resource = static_cast<WORD>(id);
    entry.width = width;
    entry.height = height;
    return host_handle_new(entry);
}

BOOL DestroyIcon(HICON icon) {
    if (host_handle_get(icon, HandleKind::Icon) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    host_handle_release(icon);
    return TRUE;
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    return init != nullptr && init->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}

} // extern "C"

void host_windows_reset() {
    g_dialog = DialogState{};
    g_taken_message.reset();
    g_last_peek_ms.reset();
    g_created_windows.clear();
    g_window_classes.clear();
}
