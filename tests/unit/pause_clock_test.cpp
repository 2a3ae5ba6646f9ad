// The run's pauses on a Windows clock (docs/simulator.md, "The clock"): a 15.625 ms tick whose
// first boundary comes 0.5 ms after the start, so that a Sleep or a time-out shorter than a tick
// ends early and a longer one up to a tick late. Every pause must still last what the protocol
// asks.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>

#include "host/handles.h"
#include "sim/wire_trace.h"
#include "test_support.h"

namespace {

constexpr const char* kWindowsClock = R"({"clock": {"tick_ms": 15.625, "first_tick_ms": 0.5)";
constexpr const char* kBefore1803 = R"(, "high_resolution_timers": false)";
constexpr const char* kNoHighResolutionTimer =
    "debug No high-resolution timer: the pauses run on a timer resolution of 1 ms.";
constexpr std::uint64_t kModeChangePauseMs = 1000;

// WAIT after every write that took effect and 1000 ms after each mode change, in time units.
std::uint64_t protocol_floor(const sim::SimDevice& device, std::uint32_t wait_ms) {
    const sim::ControllerStats& stats = device.controller.stats;
    return (wait_ms * (stats.register_writes + stats.block_writes) +
            kModeChangePauseMs * stats.mode_changes) *
           sim::kTimeUnitsPerMs;
}

// A run in a folder with the default image and WAIT, on the Windows clock (`clock_keys` added to
// it), every feature call recorded; its exit code.
int run_on_the_windows_clock(test::Sandbox& sandbox, std::uint32_t wait_ms,
                             const std::string& clock_keys, const std::string& devices,
                             const wchar_t* arguments) {
    sandbox.add_image();
    sandbox.write_text("Setting.ini", "[Setting]\nWAIT=" + std::to_string(wait_ms) + "\n");
    test::load_scenario(std::string(kWindowsClock) + clock_keys + "}" + devices + "}");
    sim::pc().devices.at(0).record_wire = true;
    return test::run_program(arguments);
}

// `before_1803`: a Windows that refuses high-resolution timers; `devices`: the scenario's
// "devices" key, or nothing.
struct ClockCase {
    const char* name;
    std::uint32_t wait_ms;
    const wchar_t* arguments;
    int code;
    bool before_1803 = false;
    const char* devices = "";
};

const ClockCase kClockCases[] = {{"Wait1Silent", 1, L"/s", 0},
                                 {"Wait2Silent", 2, L"/s", 0},
                                 {"Wait5Silent", 5, L"/s", 0},
                                 {"Wait1000Silent", 1000, L"/s", 0},
                                 {"Wait1Dialog", 1, L"", 3010},
                                 {"Wait2Dialog", 2, L"", 3010},
                                 {"Wait5Dialog", 5, L"", 3010},
                                 {"Wait1000Dialog", 1000, L"", 3010},
                                 {"Before1803SilentUpdate", 2, L"/s", 0, true},
                                 {"Before1803DialogUpdate", 2, L"", 3010, true},
                                 {"Before1803RefusedCheck", 2, L"/s", 1603, true,
                                  R"(, "devices": [{"controller": {"system_memory": {"1": 0}}}])"},
                                 {"Before1803FailedFlash", 2, L"/s", 1603, true,
                                  R"(, "devices": [{"controller": {"faults": [
         {"on": "read_block", "address": "0x110000", "corrupt": true}]}}])"}};

class WindowsClockPauses : public ::testing::TestWithParam<ClockCase> {};

// None shorter than WAIT (the controller would refuse the write), none a tick longer: the run
// takes exactly the protocol's floor. A Windows before 10 1803 gets ordinary timers on 1 ms ticks
// for the device work, the resolution kept while the windows are hidden, every timeBeginPeriod
// ended, and the debugger told once; off the tick at the start, its first pause ends on the next
// 1 ms tick, the others on time.
TEST_P(WindowsClockPauses, EveryPauseLastsWhatTheProtocolAsks) {
    test::Sandbox sandbox;
    const ClockCase& c = GetParam();
    EXPECT_EQ(run_on_the_windows_clock(sandbox, c.wait_ms, c.before_1803 ? kBefore1803 : "",
                                       c.devices, c.arguments),
              c.code);
    const sim::SimDevice& device = sim::pc().devices.at(0);
    EXPECT_EQ(host_handles_open_total(), 0u);
    if (!c.before_1803) {
        EXPECT_EQ(sim::shortest_write_pause(device), c.wait_ms * sim::kTimeUnitsPerMs);
        EXPECT_EQ(sim::now(), protocol_floor(device, c.wait_ms));
        return;
    }
    const sim::WindowsClock& clock = sim::pc().clock;
    EXPECT_GE(clock.period_begins, 1u);
    EXPECT_EQ(clock.period_ends, clock.period_begins);
    EXPECT_EQ(clock.throttling_control, PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION);
    EXPECT_EQ(clock.throttling_state, 0u);
    EXPECT_EQ(
        std::count(test::transcript().begin(), test::transcript().end(), kNoHighResolutionTimer),
        1);
    EXPECT_LT(sim::now() - protocol_floor(device, c.wait_ms), sim::kTimeUnitsPerMs);
}

INSTANTIATE_TEST_SUITE_P(Table, WindowsClockPauses, ::testing::ValuesIn(kClockCases),
                         [](const ::testing::TestParamInfo<ClockCase>& info) {
                             return info.param.name;
                         });

// The clock those runs rely on, call by call (first tick 0.5 ms after the start, then every
// 15.625 ms). `ends_us`: the virtual time at which the wait ends, in microseconds.
struct ClockRuleCase {
    const char* name;
    const char* clock;
    void (*wait)();
    std::uint64_t ends_us;
};

constexpr const char* kTick = R"({"tick_ms": 15.625, "first_tick_ms": 0.5})";
constexpr LONGLONG kTwoMsAhead = -20000; // a relative due time, in 100 ns
constexpr DWORD kTimerAccess = SYNCHRONIZE | TIMER_MODIFY_STATE;
constexpr std::uint64_t kTimeUnitsPerUs = 10;

void wait_on_timer(DWORD flags) {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, flags, kTimerAccess);
    const LARGE_INTEGER due{kTwoMsAhead};
    ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE));
    EXPECT_EQ(WaitForSingleObject(timer, INFINITE), WAIT_OBJECT_0);
    CloseHandle(timer);
}

const ClockRuleCase kClockRules[] = {
    {"ExactSleep", "{}", [] { Sleep(2); }, 2000},
    {"SleepShorterThanATickEndsOnTheNext", kTick, [] { Sleep(2); }, 500},
    {"LongerSleepEndsOnTheFirstTickAfterItIsDue", kTick, [] { Sleep(20); }, 31750},
    {"OrdinaryTimerEndsOnATick", kTick, [] { wait_on_timer(0); }, 16125},
    {"HighResolutionTimerEndsWhenDue", kTick,
     [] { wait_on_timer(CREATE_WAITABLE_TIMER_HIGH_RESOLUTION); }, 2000},
    {"RaisedPeriodGivesMillisecondTicks", kTick,
     [] {
         timeBeginPeriod(1);
         Sleep(2);
         timeEndPeriod(1);
     },
     2500},
    {"NoHighResolutionTimerBefore1803", R"({"tick_ms": 15.625, "high_resolution_timers": false})",
     [] {
         EXPECT_EQ(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          kTimerAccess),
                   nullptr);
     },
     0}};

class WindowsClockRules : public ::testing::TestWithParam<ClockRuleCase> {};

TEST_P(WindowsClockRules, WaitEndsWhereWindowsEndsIt) {
    test::Sandbox sandbox(std::string(R"({"clock": )") + GetParam().clock + "}");
    GetParam().wait();
    EXPECT_EQ(sim::now(), GetParam().ends_us * kTimeUnitsPerUs);
}

INSTANTIATE_TEST_SUITE_P(Table, WindowsClockRules, ::testing::ValuesIn(kClockRules),
                         [](const ::testing::TestParamInfo<ClockRuleCase>& info) {
                             return info.param.name;
                         });

} // namespace
