// The update dialog runs the flash sequence from its button, on the dialog's own thread.
#include "ui/update_dialog.h"

#include "app/run_log.h"
#include "ui/internal.h"
#include "ui/message_pump.h"
#include "ui/resource_ids.h"
#include "ui/session_guard.h"

namespace norvane {

namespace {

// The bar's 19 positions: the update's steps on 18 of them, the last once it has succeeded.
constexpr int kProgressMaximum = 19;
constexpr int kProgressSteps = kProgressMaximum - 1;
constexpr int kProgressStep = 1;
constexpr std::size_t kTitleCapacity = MAX_PATH;
constexpr std::size_t kModulePathCapacity = MAX_PATH;
constexpr const wchar_t* kProductNamePath =
    L"\\StringFileInfo\\" NORVANE_VERSION_BLOCK_KEY_W L"\\ProductName";
constexpr const wchar_t* kProductVersionPath =
    L"\\StringFileInfo\\" NORVANE_VERSION_BLOCK_KEY_W L"\\ProductVersion";
constexpr const wchar_t* kTitleSeparator = L" ";
// In place of the warning not to switch off, once an update has failed: the controller may be
// left without firmware, and the next run finishes the job.
constexpr const wchar_t* kTextUpdateUnfinished =
    L"The update did not finish. Run this tool again now.";

const wchar_t* query_string(const void* block, const wchar_t* path) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block, path, &value, &length) || value == nullptr || length == 0) {
        return nullptr;
    }
    return static_cast<const wchar_t*>(value);
}

// "ProductName ProductVersion" from the program's version block; the template's caption stays
// when either is missing, or when the block cannot be read.
void set_title(HWND dialog) {
    wchar_t module_path[kModulePathCapacity] = L"";
    GetModuleFileNameW(nullptr, module_path, kModulePathCapacity);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(module_path, &ignored);
    if (size == 0) {
        return;
    }
    void* block = LocalAlloc(LPTR, size);
    if (block == nullptr) {
        return;
    }
    if (GetFileVersionInfoW(module_path, 0, size, block)) {
        const wchar_t* name = query_string(block, kProductNamePath);
        const wchar_t* version = query_string(block, kProductVersionPath);
        if (name != nullptr && version != nullptr) {
            wchar_t title[kTitleCapacity];
            _copy_wide(title, kTitleCapacity, name);
            _append_wide(title, kTitleCapacity, kTitleSeparator);
            _append_wide(title, kTitleCapacity, version);
            SetWindowTextW(dialog, title);
        }
    }
    LocalFree(block);
}

// `done` of `total` steps on the bar's 18 positions, rounded up so that the first step shows at
// once; the bar moves only when its position does.
void show_progress(std::uint32_t done, std::uint32_t total) {
    if (total == 0) {
        return;
    }
    const auto position =
        static_cast<int>((static_cast<std::uint64_t>(done) * kProgressSteps + total - 1) / total);
    if (position == g_update_dialog_state.progress_position) {
        return;
    }
    g_update_dialog_state.progress_position = position;
    SendMessageW(GetDlgItem(g_update_dialog_state.window, IDC_PROGRESS), PBM_SETPOS,
                 static_cast<WPARAM>(position), 0);
}

// Wherever the steps left the bar, success shows it full.
void fill_progress_bar() {
    SendMessageW(GetDlgItem(g_update_dialog_state.window, IDC_PROGRESS), PBM_SETPOS,
                 kProgressMaximum, 0);
}

// The program's icon at one of the system's icon sizes; null when it cannot be loaded, which leaves
// the system's default in its place.
HICON load_program_icon(int width_metric, int height_metric) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP),
                                         IMAGE_ICON, GetSystemMetrics(width_metric),
                                         GetSystemMetrics(height_metric), LR_DEFAULTCOLOR));
}

// The small icon goes to the title bar, the big one to the task bar button and Alt+Tab.
void set_icons(HWND dialog) {
    g_update_dialog_state.small_icon = load_program_icon(SM_CXSMICON, SM_CYSMICON);
    g_update_dialog_state.big_icon = load_program_icon(SM_CXICON, SM_CYICON);
    SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(g_update_dialog_state.small_icon));
    SendMessageW(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(g_update_dialog_state.big_icon));
}

// A window does not destroy the icons it was given: the dialog does, as it goes.
void destroy_icon(HICON& icon) {
    if (icon != nullptr) {
        DestroyIcon(icon);
        icon = nullptr;
    }
}

void set_up_progress(HWND dialog) {
    HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
    SendMessageW(progress, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressMaximum));
    SendMessageW(progress, PBM_SETSTEP, kProgressStep, 0);
}

// Greys the close box while the update runs: nothing may end the program half way.
void enable_close_box(HWND dialog, bool enable) {
    // MF_BYCOMMAND is 0, written out because SC_CLOSE is a command, not a position.
    // cppcheck-suppress badBitmaskCheck
    const UINT flags = MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED);
    EnableMenuItem(GetSystemMenu(dialog, FALSE), SC_CLOSE, flags);
}

void start_update(HWND dialog) {
    // A second command (a click queued before the button greyed, one posted by another program,
    // or one that arrives while the update answers messages) must not flash the controller again.
    if (g_update_dialog_state.started) {
        return;
    }
    g_update_dialog_state.started = true;
    g_update_dialog_state.updating = true;
    g_update_dialog_state.window = dialog;
    EnableWindow(GetDlgItem(dialog, IDC_START_UPDATE), FALSE); // never enabled again
    enable_close_box(dialog, false);
    _begin_answering_messages(dialog);
    g_update_dialog_state.updated = g_dialog_update(show_progress, fill_progress_bar);
    _end_answering_messages();
    g_update_dialog_state.updating = false;
    enable_close_box(dialog, true);
    if (g_update_dialog_state.updated) {
        DestroyWindow(dialog);
        return;
    }
    // After a failure the dialog stays open, saying what to do; the user can only close it.
    SetWindowTextW(GetDlgItem(dialog, IDC_NOTICE), kTextUpdateUnfinished);
}

} // namespace

INT_PTR CALLBACK _update_dialog_proc(HWND dialog, UINT message, WPARAM wparam,
                                     [[maybe_unused]] LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        g_update_dialog_state.shown = true;
        set_icons(dialog);
        set_title(dialog);
        set_up_progress(dialog);
        return 0; // no initial keyboard focus
    case WM_COMMAND:
        // Any notification of the button starts the update; Escape's cancel command is ignored.
        if (LOWORD(wparam) == IDC_START_UPDATE) {
            start_update(dialog);
        }
        return 0;
    case WM_CLOSE:
        // The close box, Alt+F4 and the system menu's Close all arrive here; while the update
        // runs they must not end it.
        if (!g_update_dialog_state.updating) {
            DestroyWindow(dialog);
        }
        return 0;
    case WM_DESTROY:
        destroy_icon(g_update_dialog_state.small_icon);
        destroy_icon(g_update_dialog_state.big_icon);
        PostQuitMessage(0);
        return 0;
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION: {
        // While the flash runs the session must not end; otherwise the dialog manager answers.
        LRESULT answer = 0;
        if (!_answer_session_message(message, wparam, answer)) {
            return 0;
        }
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, answer);
        return TRUE;
    }
    default:
        return 0;
    }
}

bool _run_update_dialog() {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // The dialog ends by destroying itself, so its return value says little; whether it came up at
    // all is what counts. One that never did started no update, and that is no success.
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATE_DIALOG), nullptr,
                    _update_dialog_proc, 0);
    return g_update_dialog_state.shown;
}

} // namespace norvane
