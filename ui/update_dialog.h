// The update dialog: a warning, the "Start Update" button and a progress bar.
#pragma once

#include "app/run_log.h"
#include "platform/win32.h"

namespace norvane {

// The update the Start Update button runs, told how to move the bar and how to fill it once the
// whole update has succeeded; true when it succeeded.
using DialogUpdate = bool (*)(ProgressSink progress, CompletionSink fill);
// Defined by the application: the dialog knows of no update engine.
extern const DialogUpdate g_dialog_update;

// What the dialog knows of itself and its update: shown once it received WM_INITDIALOG (that is,
// once it was created), started once at most, running while the flash sequence runs (the dialog
// keeps answering messages then, refuses to close and carries the session guard), and whether the
// update it ran succeeded. Part of the run's state.
struct UpdateDialogState {
    bool shown;
    bool started;
    bool updating;
    bool updated;
    int progress_position; // where the bar stands
    HWND window;
    HICON small_icon; // the title bar's and the task bar's icons, destroyed with the dialog
    HICON big_icon;
};
extern UpdateDialogState& g_update_dialog_state;

// Makes the progress-bar class available and runs the dialog modally without an owner until it has
// closed. False when the dialog could not be created.
bool _run_update_dialog();

} // namespace norvane
