// The detection record: what deployment tools (ConfigMgr, Intune) read to decide whether the
// update is installed, since they judge by a registry value rather than by the exit code.
#pragma once

#include "update/fw_version.h"

namespace norvane {

// Writes the record of a run that holds the lock, under HKEY_LOCAL_MACHINE\SOFTWARE\Norvane\FW
// Updater (64-bit view): LastExitCode, LastRun (local time, YYYY-MM-DDTHH:MM:SS) and LastAction
// ("update", or "check" for /c), and FirmwareVersion ("3.08") with FirmwareVersionCode (the
// version's digits as one hexadecimal number: 0x308 = 776) only when the run proved what the
// controller runs at its end (`proven`: the image after a verified update, the running version
// when the controller said it runs it); otherwise those two are deleted. A record that cannot be
// written changes nothing in the run; the log says so, once.
void _write_detection_record(int exit_code, const FwVersion* proven);

} // namespace norvane
