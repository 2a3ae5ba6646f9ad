// The plain wait sleeps and skips a pause of 0, so a silent run waits exactly as long as the
// protocol asks and makes no extra call.
#include "device/pause.h"

namespace norvane {

namespace {

void sleep_pause(DWORD milliseconds) {
    if (milliseconds > 0) {
        Sleep(milliseconds);
    }
}

PauseFunction g_pause_function = sleep_pause;

} // namespace

void _set_pause_function(PauseFunction pause) {
    g_pause_function = pause != nullptr ? pause : sleep_pause;
}

void _pause(DWORD milliseconds) {
    g_pause_function(milliseconds);
}

} // namespace norvane
