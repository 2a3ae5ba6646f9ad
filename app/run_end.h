// The end of a run, in one place: its detection record, its result line, "Exit code = N" and, after
// an update, "Completed:". Every way out of a run ends here, the flash's included, whose end is
// written as soon as the flash is over, before a box shows its result; and a session that ends
// during the flash is noted here before Windows ends the process.
#pragma once

#include "update/fw_version.h"

namespace norvane {

// Writes the run's end with its exit code and returns it (the run keeps it too). The detection
// record (when the run holds the lock) carries `proven`, or without it the running version when
// the controller said it runs it, or no version.
int _finish_run(int code, const FwVersion* proven = nullptr);

// The dialog was closed before Start Update: 3010, its record, and no log line (the one way out of
// a run without "Exit code = N").
int _finish_closed_dialog();

// The end of a run whose flash has ended: after an update, "Firmware was successfully updated.",
// 0 for a silent run and 3010 for an interactive one (with the image's version and the
// "Completed:" line); after a failure, "Firmware update failed." and 1603.
void _finish_flash(bool updated);

// A WM_ENDSESSION that says the session ends came during the flash: "The session ended during the
// update." (the record already says 1603 with no version, should Windows end the process).
void _note_session_end();

// The exit code the run ended with. Part of the run's state.
extern int& g_exit_code;

} // namespace norvane
