// kernel32 stand-ins for waitable timers, the waits on them, and the process's power throttling,
// on the simulated PC's clock: exact by default, or a Windows clock with a tick
// (sim/windows_clock.h) on which an ordinary timer fires on a tick boundary and a high-resolution
// one at its due time.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "host/clock.h"
#include "host/handles.h"
#include "sim/simulated_pc.h"
#include "sim/windows_clock.h"

namespace {

constexpr DWORD kKnownTimerFlags =
    CREATE_WAITABLE_TIMER_MANUAL_RESET | CREATE_WAITABLE_TIMER_HIGH_RESOLUTION;
constexpr ULONG kKnownThrottlingFlags =
    PROCESS_POWER_THROTTLING_EXECUTION_SPEED | PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;

template <typename Result> Result fail(DWORD error, Result result) {
    SetLastError(error);
    return result;
}

} // namespace

void host_wait_for_ever() {
    std::fputs("simulated PC: the program waits for something that never comes\n", stderr);
    std::abort();
}

std::optional<std::uint64_t> host_wait_end(HANDLE timer, DWORD milliseconds) {
    const std::uint64_t now = sim::now();
    std::optional<std::uint64_t> end;
    if (milliseconds != INFINITE) {
        end = sim::timeout_end(sim::pc().clock, now, milliseconds * sim::kTimeUnitsPerMs);
    }
    const HandleEntry* entry = host_handle_get(timer, HandleKind::Timer);
    if (entry != nullptr && entry->fires_at.has_value()) {
        const std::uint64_t fires = std::max(*entry->fires_at, now);
        end = end.has_value() ? std::min(*end, fires) : fires;
    }
    return end;
}

DWORD host_end_wait(HANDLE timer, std::uint64_t end) {
    host_pass_time_to(end);
    HandleEntry* entry = host_handle_get(timer, HandleKind::Timer);
    if (entry == nullptr || !entry->fires_at.has_value() || *entry->fires_at > sim::now()) {
        return WAIT_TIMEOUT;
    }
    if (!entry->manual_reset) {
        entry->fires_at.reset();
    }
    return WAIT_OBJECT_0;
}

DWORD host_wait_for_timer(HANDLE timer, DWORD milliseconds) {
    const std::optional<std::uint64_t> end = host_wait_end(timer, milliseconds);
    if (!end.has_value()) {
        host_wait_for_ever();
    }
    return host_end_wait(timer, *end);
}

extern "C" {

// Unnamed timers only, as the program makes them. The high-resolution flag is refused where the
// scenario's Windows predates it (1803), as those refuse it.
HANDLE CreateWaitableTimerExW(LPSECURITY_ATTRIBUTES /*attributes*/, LPCWSTR name, DWORD flags,
                              DWORD /*access*/) {
    const bool high_resolution = (flags & CREATE_WAITABLE_TIMER_HIGH_RESOLUTION) != 0;
    if (name != nullptr || (flags & ~kKnownTimerFlags) != 0 ||
        (high_resolution && !sim::pc().clock.high_resolution_timers)) {
        return fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    }
    HandleEntry entry{};
    entry.kind = HandleKind::Timer;
    entry.high_resolution = high_resolution;
    entry.manual_reset = (flags & CREATE_WAITABLE_TIMER_MANUAL_RESET) != 0;
    return host_handle_new(entry);
}

// A relative due time (negative, in 100 ns), once, without a completion routine: the program's use.
BOOL SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* due_time, LONG period,
                      PTIMERAPCROUTINE routine, LPVOID /*argument*/, BOOL /*resume*/) {
    HandleEntry* entry = host_handle_get(timer, HandleKind::Timer);
    if (entry == nullptr) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (due_time == nullptr || due_time->QuadPart >= 0 || period != 0 || routine != nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const auto due = sim::now() + static_cast<std::uint64_t>(-due_time->QuadPart);
    entry->fires_at = sim::timer_end(sim::pc().clock, due, entry->high_resolution);
    return TRUE;
}

// The pseudo handle of the process, as on Windows.
HANDLE GetCurrentProcess() {
    return INVALID_HANDLE_VALUE;
}

// Power throttling of the program's own process only; what it was set to is kept for the tests.
BOOL SetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS information_class,
                           LPVOID information, DWORD size) {
    const auto* state = static_cast<const PROCESS_POWER_THROTTLING_STATE*>(information);
    if (process != GetCurrentProcess() || information_class != ProcessPowerThrottling ||
        state == nullptr || size != sizeof(PROCESS_POWER_THROTTLING_STATE) ||
        state->Version != PROCESS_POWER_THROTTLING_CURRENT_VERSION ||
        ((state->ControlMask | state->StateMask) & ~kKnownThrottlingFlags) != 0) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    sim::pc().clock.throttling_control = state->ControlMask;
    sim::pc().clock.throttling_state = state->StateMask;
    return TRUE;
}

} // extern "C"
