// The detection record: what deployment tools (ConfigMgr, Intune) read to decide whether the
// update is installed, since they judge by a registry value rather than by the exit code.
#pragma once

#include "update/fw_version.h"

namespace norvane {

// Writes the record of a run that read the controller's firmware version, under
// HKEY_LOCAL_MACHINE\SOFTWARE\Norvane\FW Updater (64-bit view): LastExitCode and LastRun (local
// time, YYYY-MM-DDTHH:MM:SS), and FirmwareVersion ("3.08") with FirmwareVersionCode (major x 256 +
// minor) only when the run proved what the controller holds (`proven`: the image after a
// successful update, the running version with exit code 8); otherwise those two are deleted. A
// record that cannot be written changes nothing in the run; the log says so, once.
void _write_detection_record(int exit_code, const FwVersion* proven);

} // namespace norvane
