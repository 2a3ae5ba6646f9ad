#include "sim/windows_clock.h"

#include <algorithm>

#include "sim/controller.h"

namespace sim {

namespace {

// The first tick boundary at or after `time` (after it, when `strictly`). Boundaries lie at the
// first tick plus whole ticks; a finer raised period keeps that phase.
std::uint64_t boundary_from(const WindowsClock& clock, std::uint64_t time, bool strictly) {
    const std::uint64_t tick = clock_tick(clock);
    const std::uint64_t phase = clock.first_tick % tick;
    const std::uint64_t past = (time + tick - phase) % tick; // time since the last boundary
    if (past == 0) {
        return strictly ? time + tick : time;
    }
    return time + (tick - past);
}

} // namespace

std::uint64_t clock_tick(const WindowsClock& clock) {
    if (clock.tick == 0 || clock.raised_periods_ms.empty()) {
        return clock.tick;
    }
    const std::uint64_t raised =
        *std::min_element(clock.raised_periods_ms.begin(), clock.raised_periods_ms.end()) *
        kTimeUnitsPerMs;
    return std::min(clock.tick, raised);
}

std::uint64_t timeout_end(const WindowsClock& clock, std::uint64_t start, std::uint64_t duration) {
    if (clock.tick == 0 || duration == 0) {
        return start + duration;
    }
    if (duration < clock_tick(clock)) {
        return boundary_from(clock, start, true);
    }
    return boundary_from(clock, start + duration, false);
}

std::uint64_t timer_end(const WindowsClock& clock, std::uint64_t due, bool high_resolution) {
    if (clock.tick == 0 || high_resolution) {
        return due;
    }
    return boundary_from(clock, due, false);
}

} // namespace sim
