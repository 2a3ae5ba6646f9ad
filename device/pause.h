// How the run waits for the controller. Every pause runs until the performance counter says that
// all of it has passed, so none is ever shorter than asked, whatever the clock. It waits on a
// high-resolution waitable timer, which ends within a fraction of a millisecond of its due time:
// Windows' own time-outs end on its timer tick, 15.6 ms apart by default, and a short one may end
// before it is due. While the update runs, the wait also keeps answering the thread's messages,
// so that Windows never marks the dialog as not responding in the middle of a flash.
#pragma once

#include "platform/win32.h"

namespace norvane {

// What the pauses of the run's device work wait on. Part of the run's state.
struct PauseClock {
    HANDLE timer;       // a waitable timer, or null: the waits' time-outs alone keep time
    bool period_raised; // timeBeginPeriod(1) is in force until the device work ends
    bool fallback_told; // the debugger was told that this Windows has no high-resolution timer
};
extern PauseClock& g_pause_clock;

// Before the run's device work: a high-resolution waitable timer for its pauses. A Windows without
// one (before Windows 10 1803) gets an ordinary timer and a timer resolution of 1 ms for the
// process, kept also while its windows are hidden, and its debugger is told so once. What the
// system refuses is left out; the pauses are never shorter for it, only less exact.
void _begin_exact_pauses();
// After the device work: the timer closed and the timer resolution given back.
void _end_exact_pauses();

// One wait of a pause: until `timer` fires (null: no timer) or `timeout_ms` has passed. A wait that
// answers messages also returns when one arrives, after dispatching what is waiting; with a
// time-out of 0, which a pause of 0 gives it, it only dispatches.
using WaitFunction = void (*)(HANDLE timer, DWORD timeout_ms);

// Installs the wait used from now on; nullptr brings back the plain wait, which answers nothing.
void _set_wait_function(WaitFunction wait);

// Waits at least `milliseconds` by the performance counter. 0 does not wait; a wait function that
// answers messages still answers those that are waiting.
void _pause(DWORD milliseconds);

} // namespace norvane
