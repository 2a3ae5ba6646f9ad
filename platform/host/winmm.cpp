// winmm stand-ins: the process's timer resolution on the simulated PC's clock. A raised period
// makes the ticks of a Windows clock finer for the process until it is ended; the calls are counted
// for the tests.
#include <algorithm>

#include "host/win32_host.h"
#include "sim/simulated_pc.h"

extern "C" {

MMRESULT timeBeginPeriod(UINT period) {
    sim::WindowsClock& clock = sim::pc().clock;
    if (period == 0) {
        return TIMERR_NOCANDO;
    }
    clock.raised_periods_ms.push_back(period);
    ++clock.period_begins;
    return TIMERR_NOERROR;
}

// Ends one earlier timeBeginPeriod of the same period; any other is refused, as Windows does.
MMRESULT timeEndPeriod(UINT period) {
    sim::WindowsClock& clock = sim::pc().clock;
    const auto raised =
        std::find(clock.raised_periods_ms.begin(), clock.raised_periods_ms.end(), period);
    if (raised == clock.raised_periods_ms.end()) {
        return TIMERR_NOCANDO;
    }
    clock.raised_periods_ms.erase(raised);
    ++clock.period_ends;
    return TIMERR_NOERROR;
}

} // extern "C"
