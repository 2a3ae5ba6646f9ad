// Fuzz target: a hostile controller. A full default silent run in which the input decides, call by
// call, what the device does: whether each HidD_SetFeature and HidD_GetFeature succeeds, whether a
// request reaches the controller, and the status and data bytes of every answer. The run must end
// with one of the program's exit codes, a well-formed log and every handle closed. The image holds
// chunks of zeros (what a failed read-back leaves in a cleared buffer). When the device only made
// calls fail (no request dropped behind a success, no answer altered), a run that exits 0 must
// also have left the image in main memory, the controller in normal mode and its access off.
//
// Input: byte 0 holds options (bit 0: HID version 0xFFFF, which relaxes the status tests), bytes 1
// and 2 the number of feature calls let through untouched first (little-endian), then one byte per
// call (and the operands it asks for). Once the input runs out the device behaves.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "host/device_tree.h"
#include "host/handles.h"
#include "sim/scenario.h"
#include "sim/simulated_pc.h"
#include "update/fw_image.h"

using namespace norvane;

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitNotNewer = 8;
constexpr int kExitFailure = 1603;
constexpr std::uint8_t kOptionRelaxedVersion = 0x01;
constexpr std::uint16_t kRelaxedVersion = 0xFFFF;
constexpr std::size_t kStatusByte = 1;
constexpr std::size_t kDataByte = 6;
// Chunks of the image's main section that hold zeros only.
constexpr std::size_t kZeroChunks[] = {0x0080, 0x8000, 0xFF80};
constexpr std::size_t kChunkBytes = 128;

// What one byte of input does to a HidD_SetFeature call: most values let it through.
constexpr std::uint8_t kSetFailFrom = 0xE0;
constexpr std::uint8_t kSetDropFrom = 0xF0;

// What one byte of input does to a HidD_GetFeature answer (its low three bits).
enum GetAction : std::uint8_t {
    kGetUnchanged = 0,
    kGetFail = 1,
    kGetStatus = 2,        // the status byte from the next input byte
    kGetData = 3,          // the first data byte from the next input byte
    kGetStatusAndData = 4, // both, in that order
    kGetOverwrite = 5,     // every byte after the report ID from the input
    kGetPatch = 6,         // one byte: position, then value
    kGetActions = 8,
};

struct Hostility {
    fuzz::ByteReader input;
    std::uint32_t untouched = 0; // feature calls still let through before the input acts
    bool deceived = false;       // a request dropped behind a success, or an answer altered
};

bool let_through(Hostility& hostility) {
    if (hostility.untouched > 0) {
        --hostility.untouched;
        return true;
    }
    return hostility.input.exhausted();
}

sim::HostileVerdict on_set(Hostility& hostility) {
    if (let_through(hostility)) {
        return sim::HostileVerdict::Pass;
    }
    const std::uint8_t choice = hostility.input.byte();
    if (choice >= kSetDropFrom) {
        hostility.deceived = true;
        return sim::HostileVerdict::Drop;
    }
    return choice >= kSetFailFrom ? sim::HostileVerdict::Fail : sim::HostileVerdict::Pass;
}

bool on_get(Hostility& hostility, std::uint8_t* report, std::size_t length) {
    if (let_through(hostility)) {
        return true;
    }
    fuzz::ByteReader& input = hostility.input;
    const std::uint8_t action = input.byte() % kGetActions;
    hostility.deceived = hostility.deceived || (action != kGetUnchanged && action != kGetFail);
    switch (action) {
    case kGetFail:
        return false;
    case kGetStatus:
        report[kStatusByte] = input.byte();
        break;
    case kGetData:
        report[kDataByte] = input.byte();
        break;
    case kGetStatusAndData:
        report[kStatusByte] = input.byte();
        report[kDataByte] = input.byte();
        break;
    case kGetOverwrite:
        for (std::size_t i = kStatusByte; i < length; ++i) {
            report[i] = input.byte();
        }
        break;
    case kGetPatch: {
        const std::size_t position = kStatusByte + input.byte() % (length - kStatusByte);
        report[position] = input.byte();
        break;
    }
    default:
        break;
    }
    return true;
}

struct Baseline {
    sim::SimulatedPc machine;
    std::vector<std::uint8_t> main_image;
};

std::vector<std::uint8_t> image_with_zero_chunks() {
    std::vector<std::uint8_t> image = harness::make_image();
    for (const std::size_t chunk : kZeroChunks) {
        const auto first = image.begin() + static_cast<std::ptrdiff_t>(kMainImageOffset + chunk);
        std::fill(first, first + static_cast<std::ptrdiff_t>(kChunkBytes), 0);
    }
    return image;
}

const Baseline& baseline() {
    static const Baseline made = [] {
        const harness::ScratchFolder& folder = fuzz::scratch_folder();
        const std::vector<std::uint8_t> image = image_with_zero_chunks();
        folder.write_file("image.bin", image);
        Baseline result{{}, harness::main_image_of(image)};
        std::string error;
        fuzz::require(sim::load_scenario_text("{}", result.machine, error),
                      "default scenario: " + error);
        return result;
    }();
    return made;
}

void check_success(const Baseline& base) {
    const std::vector<std::string> violations = harness::success_violations(base.main_image, 0);
    fuzz::require(violations.empty(), violations.empty() ? "" : violations.front());
}

void check_run(int code) {
    fuzz::require(code == kExitSuccess || code == kExitNotNewer || code == kExitFailure,
                  "exit code " + std::to_string(code));
    fuzz::require(host_handles_open_total() == 0, "handles left open");
    fuzz::require(host_device_api_misuses() == 0, "misused SetupAPI/HID call");
    std::vector<std::string> lines;
    fuzz::require(harness::split_log_lines(fuzz::scratch_folder().read_file("fw.log"), lines),
                  "run log with a line not ended by CR LF");
    const std::size_t count = lines.size();
    const bool ends_with_exit_code = count >= 1 && lines.back().rfind("Exit code = ", 0) == 0;
    const bool ends_completed =
        count >= 2 && lines.back().empty() && lines[count - 2].rfind("Completed:", 0) == 0;
    fuzz::require(code == kExitSuccess ? ends_completed : ends_with_exit_code,
                  "the run log does not end as a run with exit code " + std::to_string(code) +
                      " ends");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Baseline& base = baseline();
    const sim::SimulatedPc& machine = base.machine;
    harness::reset_program();
    std::error_code ignored;
    std::filesystem::remove("fw.log", ignored);
    Hostility hostility{fuzz::ByteReader(data, size)};
    const std::uint8_t options = hostility.input.byte();
    hostility.untouched = hostility.input.word();
    sim::pc().devices = machine.devices;
    sim::SimDevice& device = sim::pc().devices.at(0);
    if ((options & kOptionRelaxedVersion) != 0) {
        device.version_number = kRelaxedVersion;
    }
    device.hostile.on_set = [&hostility](const std::uint8_t*, std::size_t) {
        return on_set(hostility);
    };
    device.hostile.on_get = [&hostility](std::uint8_t* report, std::size_t length, bool) {
        return on_get(hostility, report, length);
    };
    const int code = harness::run_program(L"/s /v LOGFILE=fw.log");
    check_run(code);
    if (code == kExitSuccess && !hostility.deceived) {
        check_success(base);
    }
    harness::reset_program(); // drops the callbacks that hold this call's input
    return 0;
}
