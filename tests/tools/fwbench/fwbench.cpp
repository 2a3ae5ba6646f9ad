// fwbench: one default silent update on the simulated PC, with the figures that say how close the
// run comes to the pauses the protocol mandates, and the same update on a Windows clock (15.625 ms
// ticks) with and without high-resolution timers. Run it in a folder holding one image.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "app/settings.h"
#include "common/harness.h"
#include "platform/win32.h"
#include "sim/scenario.h"
#include "sim/simulated_pc.h"
#include "sim/wire_trace.h"

using namespace norvane;

namespace {

constexpr int kExitHelp = 0;
constexpr int kExitBadUsage = 2;
constexpr double kModeChangePauseMs = 1000.0;
constexpr double kPercent = 100.0;
constexpr double kMsPerSecond = 1000.0;
constexpr double kNsPerMs = 1e6;
constexpr auto kTimeUnitsPerMs = static_cast<double>(sim::kTimeUnitsPerMs);

// Windows at its default timer resolution, its first tick 0.5 ms after the program starts: a
// Sleep or time-out shorter than a tick would end early there, a longer one up to a tick late.
struct ClockCase {
    const char* label;
    const char* scenario;
};
const ClockCase kWindowsClocks[] = {
    {"high-resolution timer", R"({"clock": {"tick_ms": 15.625, "first_tick_ms": 0.5}})"},
    {"timeBeginPeriod(1)", R"({"clock": {"tick_ms": 15.625, "first_tick_ms": 0.5,
                                  "high_resolution_timers": false}})"}};

double cpu_ms() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * kMsPerSecond +
           static_cast<double>(now.tv_nsec) / kNsPerMs;
}

struct CallCounts {
    std::uint64_t writes = 0;
    std::uint64_t block_writes = 0;
    std::uint64_t reads = 0;
    std::uint64_t block_reads = 0;
    std::uint64_t polls = 0;
};

// Delivered requests by kind, from the device's request log; polls are the reads of the trigger
// register, counted among the register reads as fwsim --stats counts them, and also on their own.
CallCounts count_calls(const sim::SimDevice& device) {
    constexpr std::uint32_t kPollAddress = 0xFF8010;
    CallCounts counts;
    for (const sim::RequestRecord& record : device.request_log) {
        switch (record.kind) {
        case sim::RequestKind::Write:
            ++counts.writes;
            break;
        case sim::RequestKind::WriteBlock:
            ++counts.block_writes;
            break;
        case sim::RequestKind::Read:
            ++counts.reads;
            counts.polls += record.address == kPollAddress ? 1 : 0;
            break;
        case sim::RequestKind::ReadBlock:
            ++counts.block_reads;
            break;
        }
    }
    return counts;
}

// One default silent update on a fresh simulated PC with the clock of `scenario`: its pauses
// against the floor, and the shortest pause after a write. False when it did not succeed.
bool windows_clock_run(const ClockCase& clock, double floor) {
    harness::reset_program();
    std::string error;
    if (!sim::load_scenario_text(clock.scenario, sim::pc(), error)) {
        std::fprintf(stderr, "fwbench: %s\n", error.c_str());
        return false;
    }
    sim::SimDevice& device = sim::pc().devices.at(0);
    device.record_wire = true;
    wchar_t arguments[] = L"/s";
    const int code = wWinMain(nullptr, nullptr, arguments, 1);
    const double pause = static_cast<double>(sim::now()) / kTimeUnitsPerMs;
    const auto shortest =
        static_cast<double>(sim::shortest_write_pause(device).value_or(0)) / kTimeUnitsPerMs;
    std::printf("windows clock (tick 15.625 ms), %s: pauses %.1f ms, %.3f x the floor; shortest "
                "pause %.3f ms (WAIT %u ms); exit code %d\n",
                clock.label, pause, pause / floor, shortest, g_wait_ms, code);
    return code == 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool real_time = argc > 1 && std::strcmp(argv[1], "--real-time") == 0;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs("usage: fwbench [--real-time]   (in a folder holding one image)\n", stdout);
        return kExitHelp;
    }
    if (argc > 2 || (argc == 2 && !real_time)) {
        std::fputs("fwbench: unknown option (fwbench --help shows the usage)\n", stderr);
        return kExitBadUsage;
    }
    std::string error;
    if (!sim::load_scenario_text("{}", sim::pc(), error)) {
        std::fprintf(stderr, "fwbench: %s\n", error.c_str());
        return kExitBadUsage;
    }
    sim::pc().real_time = real_time;
    wchar_t arguments[] = L"/s";
    const double cpu_start = cpu_ms();
    const auto wall_start = std::chrono::steady_clock::now();
    const int code = wWinMain(nullptr, nullptr, arguments, 1);
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_start)
            .count();
    const double cpu = cpu_ms() - cpu_start;
    const sim::SimDevice& device = sim::pc().devices.at(0);
    const CallCounts counts = count_calls(device);
    const double floor =
        static_cast<double>(g_wait_ms) * static_cast<double>(counts.writes + counts.block_writes) +
        kModeChangePauseMs * static_cast<double>(device.controller.stats.mode_changes);
    const double pause = static_cast<double>(sim::now()) / kTimeUnitsPerMs;
    std::printf("exit code: %d\n", code);
    if (real_time) {
        std::printf("real-time wall time: %.1f ms against a floor of %.0f ms plus %.1f ms of "
                    "simulated transfers (%+.2f%%)\n",
                    wall, floor, cpu, kPercent * (wall - floor - cpu) / floor);
        return code == 0 ? 0 : 1;
    }
    std::printf("hid writes: %llu\n", static_cast<unsigned long long>(counts.writes));
    std::printf("hid block writes: %llu\n", static_cast<unsigned long long>(counts.block_writes));
    std::printf("hid reads: %llu\n", static_cast<unsigned long long>(counts.reads));
    std::printf("hid block reads: %llu\n", static_cast<unsigned long long>(counts.block_reads));
    std::printf("hid polls (among the reads): %llu\n",
                static_cast<unsigned long long>(counts.polls));
    std::printf("protocol floor: %.0f ms (WAIT %u ms x %llu writes + 1000 ms x %llu mode "
                "changes)\n",
                floor, g_wait_ms,
                static_cast<unsigned long long>(counts.writes) +
                    static_cast<unsigned long long>(counts.block_writes),
                static_cast<unsigned long long>(device.controller.stats.mode_changes));
    std::printf("virtual pause: %.0f ms (%+.0f ms against the floor)\n", pause, pause - floor);
    std::printf("cpu time: %.1f ms (%.2f%% of the floor)\n", cpu, kPercent * cpu / floor);
    bool windows_ok = true;
    for (const ClockCase& clock : kWindowsClocks) {
        windows_ok = windows_clock_run(clock, floor) && windows_ok;
    }
    return code == 0 && windows_ok ? 0 : 1;
}
