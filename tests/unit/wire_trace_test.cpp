// The bytes on the wire, pinned: a silent update on the simulated PC is recorded request by
// request and response by response, with the virtual time of each call, and compared line by line
// with the reference traces in tests/golden. The first difference is reported with the step of
// the protocol it belongs to.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/wire_trace.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

constexpr const char* kStepMarker = "## "; // a reference line naming the step that follows
constexpr char kComment = '#';

struct TraceCase {
    const char* name; // also the reference file tests/golden/NAME.trace
    const char* settings;
    const char* scenario;
};

struct Reference {
    Lines lines;            // the data lines
    Lines steps;            // the step each data line belongs to
    std::vector<int> where; // each data line's line number in the file
};

bool read_reference(const std::filesystem::path& path, Reference& reference) {
    std::ifstream file(path);
    std::string line;
    std::string step = "(before the first step)";
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        if (line.rfind(kStepMarker, 0) == 0) {
            step = line.substr(std::string(kStepMarker).size());
        } else if (!line.empty() && line[0] != kComment) {
            reference.lines.push_back(line);
            reference.steps.push_back(step);
            reference.where.push_back(number);
        }
    }
    return number > 0;
}

// The recorded trace goes next to the build, to compare by eye or to take over on purpose.
std::filesystem::path save_recording(const std::string& name, const Lines& recorded) {
    const std::filesystem::path folder = NORVANE_TRACE_OUT_DIR;
    std::filesystem::create_directories(folder);
    std::filesystem::path path = folder / (name + ".trace");
    std::ofstream file(path);
    for (const std::string& line : recorded) {
        file << line << '\n';
    }
    return path;
}

class WireTrace : public ::testing::TestWithParam<TraceCase> {};

TEST_P(WireTrace, SilentUpdateMatchesTheReferenceLineByLine) {
    const TraceCase& c = GetParam();
    test::Sandbox sandbox;
    sandbox.add_image();
    if (c.settings != nullptr) {
        sandbox.write_text("Setting.ini", c.settings);
    }
    test::load_scenario(c.scenario);
    sim::SimDevice& device = sim::pc().devices.at(0);
    device.record_wire = true;
    EXPECT_EQ(test::run_program(L"/s"), 0);
    const Lines recorded = sim::wire_trace_lines(device);
    const std::filesystem::path saved = save_recording(c.name, recorded);
    const std::filesystem::path path =
        std::filesystem::path(NORVANE_GOLDEN_DIR) / (std::string(c.name) + ".trace");
    Reference reference;
    ASSERT_TRUE(read_reference(path, reference)) << "cannot read " << path;
    for (std::size_t i = 0; i < reference.lines.size() && i < recorded.size(); ++i) {
        ASSERT_EQ(recorded[i], reference.lines[i])
            << "first difference at call " << i + 1 << " (" << path.filename().string() << " line "
            << reference.where[i] << "), step " << reference.steps[i]
            << "\nrecorded trace: " << saved;
    }
    ASSERT_EQ(recorded.size(), reference.lines.size())
        << (recorded.size() < reference.lines.size()
                ? "the run ended before step " + reference.steps[recorded.size()] + ", expected " +
                      reference.lines[recorded.size()]
                : "the run went on after the reference ended: " + recorded[reference.lines.size()])
        << "\nrecorded trace: " << saved;
}

constexpr const char* kDefault = "{}";
constexpr const char* kPayload64 = R"({"devices": [{"collections": [
    {"usage_page": "0xFF01", "report_id": 5, "report_count": 7},
    {"usage_page": "0xFF02", "report_id": 6, "report_count": 70}]}]})";
constexpr const char* kBusyErase = R"({"devices": [{"controller": {"erase_busy_polls": 3}}]})";

INSTANTIATE_TEST_SUITE_P(
    Runs, WireTrace,
    ::testing::Values(TraceCase{"default", nullptr, kDefault},
                      TraceCase{"wait0", "[Setting]\nWAIT=0\n", kDefault},
                      TraceCase{"wait5", "[Setting]\nWAIT=5\n", kDefault},
                      TraceCase{"checks_off", "[Setting]\nSYS=0\nINFO=0\nCONF=0\n", kDefault},
                      TraceCase{"payload64", nullptr, kPayload64},
                      TraceCase{"busy_erase", nullptr, kBusyErase}),
    [](const ::testing::TestParamInfo<TraceCase>& info) { return info.param.name; });

} // namespace
