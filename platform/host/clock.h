// The host stand-ins' waits on the simulated PC's clock (sim/windows_clock.h): how far a wait on a
// timer, a time-out or both lets virtual time pass. Times are in units of 100 ns.
#pragma once

#include <cstdint>
#include <optional>

#include "host/win32_host.h"

// Lets virtual time pass up to `time` (nothing when it is past), and as much real time in
// real-time mode.
void host_pass_time_to(std::uint64_t time);

// When a wait that began now on `timer` (null: none) with a time-out of `milliseconds` (INFINITE:
// none) ends, unless something else ends it first; none when nothing ever would.
std::optional<std::uint64_t> host_wait_end(HANDLE timer, DWORD milliseconds);

// Ends such a wait at `end`: the time passes, and a timer that has fired by then ends the wait
// (WAIT_OBJECT_0; a synchronization timer is reset by it), else the time-out does (WAIT_TIMEOUT).
DWORD host_end_wait(HANDLE timer, std::uint64_t end);

// A wait on a timer (WaitForSingleObject).
DWORD host_wait_for_timer(HANDLE timer, DWORD milliseconds);

// What a program that waits for something that never comes does to the simulated PC, which cannot
// wait for ever: it ends the test process with a message.
[[noreturn]] void host_wait_for_ever();
