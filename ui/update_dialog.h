// The update dialog: a warning, the "Start Update" button and a progress bar.
#pragma once

#include "app/run_log.h"
#include "platform/win32.h"

namespace norvane {

// The update the Start Update button runs, told how to step the bar and how to fill it once the
// whole update has succeeded; true when it succeeded.
using DialogUpdate = bool (*)(ProgressSink step, ProgressSink fill);
// Defined by the application: the dialog knows of no update engine.
extern const DialogUpdate g_dialog_update;

// The exit code of the update started from the dialog: 3010 until an update fails, then 1603.
// Part of the run's state, as is the dialog's state below.
extern int& g_update_outcome;
// What the dialog knows of itself and its update: shown once it received WM_INITDIALOG (that is,
// once it was created), started once at most, and running while the flash sequence runs (the
// dialog keeps answering messages then, refuses to close and carries the session guard).
struct UpdateDialogState {
    bool shown;
    bool started;
    bool updating;
    HWND window;
    HICON small_icon; // the title bar's and the task bar's icons, destroyed with the dialog
    HICON big_icon;
};
extern UpdateDialogState& g_update_dialog_state;

// Makes the progress-bar class available, runs the dialog modally without an owner and returns
// the update outcome once it has closed. False when the dialog could not be created.
bool _run_update_dialog(int& outcome);

} // namespace norvane
