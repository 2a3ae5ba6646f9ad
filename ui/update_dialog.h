// The update dialog: a warning, the "Start Update" button and a progress bar.
#pragma once

#include "platform/win32.h"

constexpr int kProgressMaximum = 19;
constexpr int kProgressStep = 1;

// The exit code of the update started from the dialog: 3010 until an update fails, then 1603.
extern int g_update_outcome;
// Set when the dialog's button has started the update; a dialog runs it once at most.
extern bool g_update_started;
// Set when the dialog received WM_INITDIALOG, that is, when it was created.
extern bool g_dialog_shown;

INT_PTR CALLBACK _update_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Makes the progress-bar class available, runs the dialog modally without an owner and returns
// the update outcome once it has closed. False when the dialog could not be created.
bool _run_update_dialog(int& outcome);
