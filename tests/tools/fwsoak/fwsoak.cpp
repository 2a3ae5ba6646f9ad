// fwsoak: exhaustive fault injection on the simulated PC. A default silent update ("/s /v
// LOGFILE=fw.log" beside a made image) is run once clean to count its HID calls, N; then once per
// call index k = 0..N-1 with that one call failing, and once per k with the device unplugged from
// call k on. Every run must end with exit code 0 or 1603, a run log that ends as the program ends
// the step that failed, no handle open, nothing shown, and, when it reports success, the image in
// main memory, normal mode and the access enable off. The same sweep runs again with a second
// controller of another product listed before the target: faults at every call index of the
// target, and the other device must never receive a request. Prints the figures (with --list,
// every run that did not succeed); exits 1 on any violation.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "common/harness.h"
#include "host/device_tree.h"
#include "host/handles.h"
#include "sim/controller.h"
#include "sim/kept_state.h"
#include "sim/scenario.h"
#include "sim/simulated_pc.h"

namespace {

constexpr int kExitClean = 0;
constexpr int kExitViolation = 1;
constexpr int kExitBadUsage = 2;
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1603;
constexpr std::size_t kViolationsShown = 20;

constexpr const wchar_t* kArguments = L"/s /v LOGFILE=fw.log";
constexpr const char* kLogName = "fw.log";
constexpr const char* kImageName = "image.bin";
constexpr const char* kCommandLine = "Command:/s /v LOGFILE=fw.log";
constexpr const char* kExecutedPrefix = "Executed:";
constexpr const char* kCompletedPrefix = "Completed:";
constexpr const char* kCurrentVersionLine = "Current FW version:3.07";
constexpr const char* kCurrentVersionPrefix = "Current FW version:";
constexpr const char* kNewVersionLine = "New FW version:3.08";
constexpr const char* kSuccessLine = "Firmware was successfully updated.";
constexpr const char* kUpdateFailedLine = "Firmware update failed.";
constexpr const char* kExitSuccessLine = "Exit code = 0";
constexpr const char* kExitFailureLine = "Exit code = 1603";
constexpr const char* kDebugPrefix = "debug ";
constexpr const char* kSuccessOutcome = "success";
constexpr const char* kLeftInUpdateModeLine = "Controller was left in update mode; updating again.";
constexpr const char* kExitNotNewerLine = "Exit code = 8";
constexpr const char* kUpToDateOutcome = "up to date";
constexpr int kExitNotNewer = 8;
constexpr std::uint32_t kModeStatusAddress = 0x80002D;
constexpr std::uint32_t kEnableRegister = 0xFF8004;
constexpr std::uint8_t kNormalModeStatus = 0x11;

// Lines of a complete log for each ending: the two opening lines, then what follows them.
constexpr std::size_t kOpeningLines = 2;
constexpr std::size_t kPreflightLines = 4;     // opening, the step's line, exit code
constexpr std::size_t kUpdateFailureLines = 7; // opening, versions, step, failed, exit code
constexpr std::size_t kSuccessLines = 8;       // opening, versions, success, exit, completed, ""

// The lines a failing pre-flight step of a default silent run logs before "Exit code = 1603".
const char* const kPreflightSteps[] = {
    "Could not get Touchpad PnPID.",      "This is not target system.",
    "AC adaptor does not connect to PC.", "FW file cannot read.",
    "Could not find Norvane device.",     "System memory does not match.",
    "Information memory does not match.", "Config version does not match.",
    "Firmware version cannot get.",
};

// The failure lines of the flash sequence.
const char* const kUpdateSteps[] = {
    "Fail - _access_target_device.",      "Fail - _fw_mode_change.",
    "Fail - _clear_memory_segment.",      "Fail - _check_clear_memory.",
    "Fail - _write_read_memory_segment.", "Fail - _restore_active_mode.",
};

enum class FaultMode { None, FailingCall, Unplug, RerunAfterUnplug, PairFailingCall, PairUnplug };

// The second sweep's PC: a controller of another product, with foreign system memory, listed
// before the target.
constexpr const char* kPairScenario =
    R"({"devices": [{"product_id": "0x7777", "controller": {"system_memory": {"0": 1}}}, {}]})";
constexpr std::size_t kPairTarget = 1;

const char* mode_name(FaultMode mode) {
    switch (mode) {
    case FaultMode::FailingCall:
        return "failing call";
    case FaultMode::Unplug:
        return "unplug";
    case FaultMode::RerunAfterUnplug:
        return "second run";
    case FaultMode::PairFailingCall:
        return "pair: failing";
    case FaultMode::PairUnplug:
        return "pair: unplug";
    case FaultMode::None:
        break;
    }
    return "clean";
}

bool is_pair(FaultMode mode) {
    return mode == FaultMode::PairFailingCall || mode == FaultMode::PairUnplug;
}

struct RunResult {
    int exit_code = 0;
    std::string outcome; // "success" or the line naming the failing step
    std::vector<std::string> violations;
};

struct Figures {
    std::size_t runs = 0;
    std::size_t survived = 0;
};

struct Soak {
    std::vector<std::uint8_t> main_image;
    sim::SimulatedPc baseline; // the simulated PC of a default run, before it starts
    sim::SimulatedPc pair;     // the same with a second controller of another product
    std::map<std::pair<int, std::string>, std::map<FaultMode, std::size_t>> outcomes;
    std::map<FaultMode, Figures> figures;
    std::vector<std::string> violations;
    bool list_failures = false; // --list: one line per run that did not succeed
};

bool starts_with(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

template <std::size_t N> bool one_of(const std::string& line, const char* const (&texts)[N]) {
    return std::any_of(std::begin(texts), std::end(texts),
                       [&line](const char* text) { return line == text; });
}

bool versions_logged(const std::vector<std::string>& lines) {
    return lines[kOpeningLines] == kCurrentVersionLine &&
           lines[kOpeningLines + 1] == kNewVersionLine;
}

// Names the ending of a complete log: "success", the failing step's line, or "" when the log does
// not end as the program ends any step.
std::string log_ending(const std::vector<std::string>& lines, int exit_code) {
    if (lines.size() < kOpeningLines || lines[0] != kCommandLine ||
        !starts_with(lines[1], kExecutedPrefix)) {
        return "";
    }
    if (exit_code == kExitFailure && lines.size() == kPreflightLines &&
        one_of(lines[2], kPreflightSteps) && lines[3] == kExitFailureLine) {
        return lines[2];
    }
    if (exit_code == kExitFailure && lines.size() == kUpdateFailureLines &&
        versions_logged(lines) && one_of(lines[4], kUpdateSteps) && lines[5] == kUpdateFailedLine &&
        lines[6] == kExitFailureLine) {
        return lines[4];
    }
    if (exit_code == kExitSuccess && lines.size() == kSuccessLines && versions_logged(lines) &&
        lines[4] == kSuccessLine && lines[5] == kExitSuccessLine &&
        starts_with(lines[6], kCompletedPrefix) && lines[7].empty()) {
        return kSuccessOutcome;
    }
    return "";
}

void check_log(const harness::ScratchFolder& folder, RunResult& result) {
    std::vector<std::string> lines;
    if (!harness::split_log_lines(folder.read_file(kLogName), lines)) {
        result.violations.push_back("the run log has a line without CR LF");
    }
    result.outcome = log_ending(lines, result.exit_code);
    if (result.outcome.empty()) {
        std::string last = lines.empty() ? "(empty log)" : lines.back();
        result.violations.push_back("the run log does not end as the program ends a step (" +
                                    std::to_string(lines.size()) + " lines, last \"" + last +
                                    "\")");
    }
}

void check_machine(const Soak& soak, std::size_t target, RunResult& result) {
    if (host_handles_open_total() != 0) {
        result.violations.push_back(std::to_string(host_handles_open_total()) +
                                    " handle(s) left open");
    }
    if (host_device_api_misuses() != 0) {
        result.violations.push_back(std::to_string(host_device_api_misuses()) +
                                    " misused SetupAPI/HID call(s)");
    }
    std::uint64_t violations = 0;
    for (const sim::SimDevice& device : sim::pc().devices) {
        violations += device.controller.stats.protocol_violations;
    }
    if (violations != 0) {
        result.violations.push_back(std::to_string(violations) + " protocol violation(s)");
    }
    const std::vector<std::string>& shown = sim::pc().transcript;
    const auto visible = std::find_if(shown.begin(), shown.end(), [](const std::string& line) {
        return !starts_with(line, kDebugPrefix);
    });
    if (visible != shown.end()) {
        result.violations.push_back("a silent run showed \"" + *visible + "\"");
    }
    if (result.exit_code != kExitSuccess) {
        return;
    }
    for (std::string& violation : harness::success_violations(soak.main_image, target)) {
        result.violations.push_back(std::move(violation));
    }
}

RunResult run_once(const Soak& soak, const harness::ScratchFolder& folder, FaultMode mode,
                   std::uint64_t call) {
    harness::reset_program();
    std::error_code ignored;
    std::filesystem::remove(kLogName, ignored);
    const sim::SimulatedPc& machine = is_pair(mode) ? soak.pair : soak.baseline;
    const std::size_t target = is_pair(mode) ? kPairTarget : 0;
    sim::pc().devices = machine.devices;
    sim::pc().mouse_devices = machine.mouse_devices;
    sim::SimDevice& device = sim::pc().devices.at(target);
    if (mode == FaultMode::FailingCall || mode == FaultMode::PairFailingCall) {
        device.fail_call_index = call;
    } else if (mode == FaultMode::Unplug || mode == FaultMode::PairUnplug) {
        device.unplug_at_call = call;
    }
    RunResult result;
    result.exit_code = harness::run_program(kArguments);
    if (result.exit_code != kExitSuccess && result.exit_code != kExitFailure) {
        result.violations.push_back("exit code " + std::to_string(result.exit_code));
    }
    check_log(folder, result);
    check_machine(soak, target, result);
    return result;
}

void record(Soak& soak, FaultMode mode, std::uint64_t call, const RunResult& result) {
    Figures& figures = soak.figures[mode];
    ++figures.runs;
    const std::string outcome = result.outcome.empty() ? "(unrecognised log)" : result.outcome;
    if (soak.list_failures && outcome != kSuccessOutcome) {
        std::printf("%-13s k=%-5llu exit %-5d %s\n", mode_name(mode),
                    static_cast<unsigned long long>(call), result.exit_code, outcome.c_str());
    }
    ++soak.outcomes[{result.exit_code, outcome}][mode];
    if (result.violations.empty()) {
        ++figures.survived;
        return;
    }
    for (const std::string& violation : result.violations) {
        soak.violations.push_back(std::string(mode_name(mode)) + " at call " +
                                  std::to_string(call) + ": " + violation);
    }
}

std::size_t count_of(const std::map<FaultMode, std::size_t>& counts, FaultMode mode) {
    const auto found = counts.find(mode);
    return found == counts.end() ? std::size_t{0} : found->second;
}

void print_outcomes(const Soak& soak) {
    std::printf("\n%-6s %-37s %13s %8s %11s %13s %13s\n", "exit", "outcome (failing step)",
                "failing call", "unplug", "second run", "pair: failing", "pair: unplug");
    for (const auto& [key, counts] : soak.outcomes) {
        std::printf("%-6d %-37s %13zu %8zu %11zu %13zu %13zu\n", key.first, key.second.c_str(),
                    count_of(counts, FaultMode::FailingCall), count_of(counts, FaultMode::Unplug),
                    count_of(counts, FaultMode::RerunAfterUnplug),
                    count_of(counts, FaultMode::PairFailingCall),
                    count_of(counts, FaultMode::PairUnplug));
    }
}

int print_report(const Soak& soak, double seconds) {
    std::size_t runs = 0;
    std::size_t survived = 0;
    std::printf("\n%-14s %8s %9s\n", "fault", "runs", "survived");
    for (const auto& [mode, figures] : soak.figures) {
        std::printf("%-14s %8zu %9zu\n", mode_name(mode), figures.runs, figures.survived);
        runs += figures.runs;
        survived += figures.survived;
    }
    print_outcomes(soak);
    std::printf("\nfwsoak: %zu runs, %zu survived, %zu violation(s), %.1f s\n", runs, survived,
                soak.violations.size(), seconds);
    if (soak.violations.empty()) {
        return kExitClean;
    }
    (void)std::fprintf(stderr, "fwsoak: FAILED: %zu run(s) broke the rules; the first ones:\n",
                       runs - survived);
    for (std::size_t i = 0; i < soak.violations.size() && i < kViolationsShown; ++i) {
        (void)std::fprintf(stderr, "  %s\n", soak.violations[i].c_str());
    }
    return kExitViolation;
}

// The second run on the controller as the first left it, after the PC was restarted and the device
// plugged in again: it must finish the update (or find the image already complete and say 8), and
// leave the image in main memory, the controller in normal mode and access off.
RunResult rerun_on_kept_state(const Soak& soak, const harness::ScratchFolder& folder) {
    const sim::Controller kept = sim::pc().devices.at(0).controller;
    const bool complete = kept.main_memory == soak.main_image && !kept.update_mode;
    harness::reset_program();
    std::error_code ignored;
    std::filesystem::remove(kLogName, ignored);
    sim::pc().devices = soak.baseline.devices;
    sim::carry_over_controller(kept, sim::pc().devices.at(0).controller);
    RunResult result;
    result.exit_code = harness::run_program(kArguments);
    std::vector<std::string> lines;
    harness::split_log_lines(folder.read_file(kLogName), lines);
    const int wanted = complete ? kExitNotNewer : kExitSuccess;
    if (result.exit_code != wanted) {
        result.violations.push_back("second run ended with " + std::to_string(result.exit_code) +
                                    " instead of " + std::to_string(wanted));
    }
    if (complete) {
        result.outcome = lines.size() == kPreflightLines - 1 && lines.back() == kExitNotNewerLine
                             ? kUpToDateOutcome
                             : "";
    } else {
        // An interrupted update shows whatever its version bytes read (erased, or already new).
        if (lines.size() > kOpeningLines + 1 && lines[kOpeningLines] == kLeftInUpdateModeLine &&
            starts_with(lines[kOpeningLines + 1], kCurrentVersionPrefix)) {
            lines.erase(lines.begin() + kOpeningLines);
            lines[kOpeningLines] = kCurrentVersionLine;
        }
        result.outcome = log_ending(lines, result.exit_code);
    }
    if (result.outcome.empty()) {
        result.violations.push_back("the second run's log does not end as expected");
    }
    check_machine(soak, 0, result);
    const sim::Controller& controller = sim::pc().devices.at(0).controller;
    if (controller.main_memory != soak.main_image || controller.update_mode ||
        sim::controller_peek(controller, kModeStatusAddress, sim::now()) != kNormalModeStatus ||
        sim::controller_group_value(controller, kEnableRegister) != 0) {
        result.violations.push_back("the second run did not leave image, normal mode, access off");
    }
    if (controller.stats.protocol_violations != 0) {
        result.violations.push_back("the second run broke the protocol");
    }
    return result;
}

// The clean run: it must succeed, and its device's call count is N.
bool clean_run(Soak& soak, const harness::ScratchFolder& folder, bool pair, std::uint64_t& calls) {
    const RunResult result =
        run_once(soak, folder, pair ? FaultMode::PairFailingCall : FaultMode::None,
                 std::numeric_limits<std::uint64_t>::max());
    const sim::SimDevice& device = sim::pc().devices.at(pair ? kPairTarget : 0);
    calls = device.hid_call_count;
    std::printf("%s: exit %d, %llu HID calls on the device's handles (%llu SetFeature, "
                "%llu GetFeature, %llu GetAttributes and GetPreparsedData)\n",
                pair ? "clean run beside another controller" : "clean run", result.exit_code,
                static_cast<unsigned long long>(calls),
                static_cast<unsigned long long>(device.hid.set_feature_calls),
                static_cast<unsigned long long>(device.hid.get_feature_calls),
                static_cast<unsigned long long>(calls - device.hid.set_feature_calls -
                                                device.hid.get_feature_calls));
    if (result.exit_code != kExitSuccess || !result.violations.empty() ||
        result.outcome != kSuccessOutcome) {
        (void)std::fprintf(stderr, "fwsoak: FAILED: the clean run did not succeed cleanly\n");
        for (const std::string& violation : result.violations) {
            (void)std::fprintf(stderr, "  %s\n", violation.c_str());
        }
        return false;
    }
    return true;
}

bool set_up(Soak& soak, const harness::ScratchFolder& folder) {
    const std::vector<std::uint8_t> image = harness::make_image();
    folder.write_file(kImageName, image);
    soak.main_image = harness::main_image_of(image);
    harness::reset_program();
    std::string error;
    if (!sim::load_scenario_text("{}", soak.baseline, error) ||
        !sim::load_scenario_text(kPairScenario, soak.pair, error)) {
        (void)std::fprintf(stderr, "fwsoak: scenario refused: %s\n", error.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const bool list = argc == 2 && std::strcmp(argv[1], "--list") == 0;
    const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
    if (help) {
        std::printf("usage: fwsoak [--list]   (works in a folder of its own; --list names every "
                    "run that did not succeed)\n");
        return kExitClean;
    }
    if (argc > 2 || (argc == 2 && !list)) {
        (void)std::fprintf(stderr, "fwsoak: unknown option (fwsoak --help shows the usage)\n");
        return kExitBadUsage;
    }
    const auto start = std::chrono::steady_clock::now();
    harness::ScratchFolder folder("norvane-soak");
    Soak soak;
    soak.list_failures = list;
    std::uint64_t calls = 0;
    std::uint64_t pair_calls = 0;
    if (!set_up(soak, folder) || !clean_run(soak, folder, false, calls) ||
        !clean_run(soak, folder, true, pair_calls)) {
        return kExitViolation;
    }
    for (const FaultMode mode : {FaultMode::FailingCall, FaultMode::Unplug,
                                 FaultMode::PairFailingCall, FaultMode::PairUnplug}) {
        const std::uint64_t count = is_pair(mode) ? pair_calls : calls;
        for (std::uint64_t k = 0; k < count; ++k) {
            record(soak, mode, k, run_once(soak, folder, mode, k));
            if (mode == FaultMode::Unplug) {
                record(soak, FaultMode::RerunAfterUnplug, k, rerun_on_kept_state(soak, folder));
            }
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int status = print_report(soak, seconds);
    harness::reset_program();
    return status;
}
