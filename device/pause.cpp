// The pause: a deadline from the performance counter, and waits on the run's waitable timer, set
// each time to the time left, until the counter says the deadline has passed. A wait that ends
// early (a time-out shorter than Windows' tick, a message) only means one more wait.
#include "device/pause.h"

namespace norvane {

namespace {

constexpr LONGLONG kMsPerSecond = 1000;
constexpr LONGLONG kTimerUnitsPerSecond = 10000000; // a waitable timer's due time counts 100 ns
// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803 and later), which MinGW-w64 lacks.
constexpr DWORD kCreateWaitableTimerHighResolution = 0x00000002;
constexpr DWORD kTimerAccess = SYNCHRONIZE | TIMER_MODIFY_STATE;
constexpr UINT kTimerPeriodMs = 1;
constexpr const wchar_t* kDebugNoHighResolutionTimer =
    L"No high-resolution timer: the pauses run on a timer resolution of 1 ms.";

// The wait of a run that answers no messages: on the timer, or a plain sleep without one.
void wait_without_messages(HANDLE timer, DWORD timeout_ms) {
    if (timer != nullptr) {
        WaitForSingleObject(timer, timeout_ms);
    } else if (timeout_ms > 0) {
        Sleep(timeout_ms);
    }
}

WaitFunction g_wait_function = wait_without_messages;

LONGLONG counter_now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Rounded up, so that no wait ends early for the rounding.
LONGLONG divided_up(LONGLONG dividend, LONGLONG divisor) {
    return (dividend + divisor - 1) / divisor;
}

// `count` ticks of a counter at `frequency` in units of which `per_second` make a second, rounded
// up; whole seconds apart, so that a fast counter does not overflow it.
LONGLONG counter_ticks_in(LONGLONG count, LONGLONG frequency, LONGLONG per_second) {
    return count / frequency * per_second + divided_up(count % frequency * per_second, frequency);
}

// The run's timer, set to fire when `left` counter ticks have passed; null when there is none.
HANDLE timer_set_for(LONGLONG left, LONGLONG frequency) {
    LARGE_INTEGER due{};
    due.QuadPart = -counter_ticks_in(left, frequency, kTimerUnitsPerSecond); // negative: relative
    if (g_pause_clock.timer == nullptr ||
        !SetWaitableTimer(g_pause_clock.timer, &due, 0, nullptr, nullptr, FALSE)) {
        return nullptr;
    }
    return g_pause_clock.timer;
}

// Windows 11 may ignore the timer resolution a process asked for while its windows are all hidden
// or minimised, as a silent run's are, unless the process opts out.
void keep_timer_resolution() {
    PROCESS_POWER_THROTTLING_STATE throttling{};
    throttling.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    throttling.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    throttling.StateMask = 0; // never ignored
    const auto set_information =
        platform::kernel32_function<decltype(&SetProcessInformation)>("SetProcessInformation");
    if (set_information != nullptr) { // Windows 8 and later
        set_information(GetCurrentProcess(), ProcessPowerThrottling, &throttling,
                        sizeof(throttling));
    }
}

// A Windows that refuses high-resolution timers: an ordinary timer fires on a tick, so the ticks
// are made 1 ms for the device work.
void begin_ordinary_pauses() {
    g_pause_clock.timer = CreateWaitableTimerExW(nullptr, nullptr, 0, kTimerAccess);
    g_pause_clock.period_raised = timeBeginPeriod(kTimerPeriodMs) == TIMERR_NOERROR;
    keep_timer_resolution();
    if (!g_pause_clock.fallback_told) {
        g_pause_clock.fallback_told = true;
        OutputDebugStringW(kDebugNoHighResolutionTimer);
    }
}

} // namespace

void _begin_exact_pauses() {
    g_pause_clock.timer =
        CreateWaitableTimerExW(nullptr, nullptr, kCreateWaitableTimerHighResolution, kTimerAccess);
    if (g_pause_clock.timer == nullptr) {
        begin_ordinary_pauses();
    }
}

void _end_exact_pauses() {
    if (g_pause_clock.timer != nullptr) {
        CloseHandle(g_pause_clock.timer);
        g_pause_clock.timer = nullptr;
    }
    if (g_pause_clock.period_raised) {
        timeEndPeriod(kTimerPeriodMs);
        g_pause_clock.period_raised = false;
    }
}

void _set_wait_function(WaitFunction wait) {
    g_wait_function = wait != nullptr ? wait : wait_without_messages;
}

void _pause(DWORD milliseconds) {
    if (milliseconds == 0) {
        g_wait_function(nullptr, 0);
        return;
    }
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    const LONGLONG ticks = frequency.QuadPart;
    const LONGLONG deadline =
        counter_now() + divided_up(static_cast<LONGLONG>(milliseconds) * ticks, kMsPerSecond);
    for (LONGLONG left = deadline - counter_now(); left > 0; left = deadline - counter_now()) {
        const auto timeout_ms = static_cast<DWORD>(counter_ticks_in(left, ticks, kMsPerSecond));
        g_wait_function(timer_set_for(left, ticks), timeout_ms);
    }
}

} // namespace norvane
