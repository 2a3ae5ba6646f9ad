// When the waits of a Windows program end. Exact, every Sleep, time-out and waitable timer ends at
// its due time (Wine's clock, and the simulated PC's by default). With a tick, as Windows at its
// default timer resolution: a Sleep, a wait's time-out and an ordinary waitable timer end on the
// first tick boundary at or after their due time, and a Sleep or time-out shorter than one tick
// ends on the next boundary, even before it is due ("may sleep for less than the specified length
// of time"). A high-resolution waitable timer ends at its due time. timeBeginPeriod makes the ticks
// finer for the process. Times are in units of 100 ns (kTimeUnitsPerMs).
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

struct WindowsClock {
    std::uint64_t tick = 0;       // the default timer tick; 0: an exact clock
    std::uint64_t first_tick = 0; // the first tick boundary after the start; one follows every tick
    bool high_resolution_timers = true; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION is taken (1803 on)
    // The process's timer resolution: the periods (ms) of timeBeginPeriod calls not yet ended, and
    // how many calls of each kind it made.
    std::vector<std::uint32_t> raised_periods_ms;
    std::uint64_t period_begins = 0;
    std::uint64_t period_ends = 0;
    // The process's power throttling as SetProcessInformation(ProcessPowerThrottling) last set it.
    std::uint32_t throttling_control = 0;
    std::uint32_t throttling_state = 0;
};

// The tick in force: the default one, or the finest raised period when that is finer.
std::uint64_t clock_tick(const WindowsClock& clock);

// When a Sleep, or a wait's time-out, of `duration` begun at `start` ends.
std::uint64_t timeout_end(const WindowsClock& clock, std::uint64_t start, std::uint64_t duration);

// When a waitable timer due at `due` fires.
std::uint64_t timer_end(const WindowsClock& clock, std::uint64_t due, bool high_resolution);

} // namespace sim
