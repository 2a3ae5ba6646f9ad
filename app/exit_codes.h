// The process exit codes an installer or deployment tool reads.
#pragma once

namespace norvane {

enum ExitCode : int {
    kExitSuccess = 0,           // silent update done, or the user declined
    kExitNotNewer = 8,          // the image is not newer than the running firmware
    kExitFailure = 1603,        // any failure
    kExitAnotherUpdater = 1618, // another updater runs: what deployment tools retry later
    kExitRestartNeeded = 3010,  // interactive run: updated (or dialog closed), restart needed
};

} // namespace norvane
