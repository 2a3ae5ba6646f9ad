// The end of a run: its detection record, "Exit code = N" and, after an update, "Completed:". Every
// way out of a run that holds the lock ends here, the flash's included, whose end is written as
// soon as the flash is over, before a box shows its result.
#pragma once

#include "update/fw_version.h"

namespace norvane {

// Writes the run's end with its exit code and returns it (the run keeps it too). The detection
// record (when the run holds the lock) carries `proven`, or without it the running version when
// the controller said it runs it, or no version.
int _finish_run(int code, const FwVersion* proven = nullptr);

// The end of a run whose flash has ended: after an update, 0 for a silent run and 3010 for an
// interactive one (with the image's version and the "Completed:" line); 1603 after a failure.
void _finish_flash(bool updated);

// The exit code the run ended with. Part of the run's state.
extern int& g_exit_code;

} // namespace norvane
