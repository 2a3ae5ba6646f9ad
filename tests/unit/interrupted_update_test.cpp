// A controller left in firmware-update mode by an interrupted update is updated again by the next
// run, whatever its version bytes read and whatever ROLLBACK says.
#include <gtest/gtest.h>

#include "host/handles.h"
#include "sim/kept_state.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kLeftLine = "Controller was left in update mode; updating again.";

const sim::Controller& controller() {
    return sim::pc().devices.at(0).controller;
}

struct StartCase {
    const char* name;
    const char* controller;
    const char* settings; // Setting.ini, or null
    int code;
    bool left_line;
};

const StartCase kStartCases[] = {
    // Chunk 0 is in, so the version bytes already show the new version.
    {"update_mode_first_chunk", R"({"mode_status": "0x10", "programmed_chunks": 1})", nullptr, 0,
     true},
    {"update_mode_erased", R"({"mode_status": "0x10", "main_memory": "erased"})", nullptr, 0, true},
    {"update_mode_rollback_off", R"({"mode_status": "0x10", "programmed_chunks": 100})",
     "[Setting]\nROLLBACK=0\n", 0, true},
    {"update_mode_all_chunks_but_one", R"({"mode_status": "0x10", "programmed_chunks": 511})",
     nullptr, 0, true},
    // Normal mode with the image's version: decided as ever.
    {"normal_mode_same_version", R"({"mode_status": "0x11", "firmware_version": "3.08"})", nullptr,
     8, false},
    // The status cannot be read: decided by the versions.
    {"status_unreadable",
     R"({"mode_status": "0x10", "programmed_chunks": 1, "faults": [
         {"on": "read", "address": "0x80002D", "fail_get": true, "times": 12}]})",
     nullptr, 8, false},
};

class InterruptedStartTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(InterruptedStartTest, SilentRunDecidesByTheModeStatus) {
    test::Sandbox sandbox;
    const Bytes image = sandbox.add_image();
    if (GetParam().settings != nullptr) {
        sandbox.write_text("Setting.ini", GetParam().settings);
    }
    test::load_scenario(test::ScenarioBuilder().device(
        test::DeviceBuilder().controller(test::Json::parse(GetParam().controller))));
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), GetParam().code);
    const Lines log = test::log_lines("fw.log");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2] == kLeftLine, GetParam().left_line);
    if (GetParam().code == 0) {
        test::expect_updated(image);
        EXPECT_EQ(log.at(GetParam().left_line ? 3 : 2).rfind("Current FW version:", 0), 0u);
    }
    EXPECT_EQ(controller().stats.protocol_violations, 0u);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, InterruptedStartTest, ::testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(InterruptedUpdate, InteractiveRunStillAsksBeforeUpdatingAgain) {
    test::Sandbox sandbox(R"({"answers": {"question": "no"}, "devices": [{"controller":
        {"mode_status": "0x10", "programmed_chunks": 1}}]})");
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), 0);
    ASSERT_FALSE(test::transcript().empty());
    EXPECT_EQ(
        test::transcript().front(),
        "box Question 0x24 Current FW version is 3.08\\nWould you like to update FW to 3.08 ?");
    EXPECT_EQ(test::log_lines("fw.log"),
              (Lines{"Command:/v LOGFILE=fw.log", "Executed:2024/03/05 09:07:02", kLeftLine,
                     "Exit code = 0"}));
    EXPECT_TRUE(controller().update_mode); // declined: nothing was written
}

// A device pulled out while programming, at a few chunks, then plugged in again: the second
// default run finishes (make soak does this at every call).
class UnplugWhileProgrammingTest : public ::testing::TestWithParam<const char*> {};

TEST_P(UnplugWhileProgrammingTest, SecondRunOnTheKeptStateFinishes) {
    test::Sandbox sandbox(
        test::ScenarioBuilder().device(test::DeviceBuilder().fault(test::Json::parse(GetParam()))));
    const Bytes& image = sandbox.image();
    EXPECT_EQ(test::run_program(L"/s"), 1603);
    EXPECT_TRUE(controller().update_mode);
    test::restart_on_kept_state();
    EXPECT_EQ(test::run_program(L"/s"), 0);
    test::expect_updated(image);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnplugWhileProgrammingTest,
    ::testing::Values(R"({"on": "write_block", "unplug": true})",
                      R"({"on": "read_block", "unplug": true})",
                      R"({"on": "write_block", "skip": 1, "unplug": true})",
                      R"({"on": "read_block", "skip": 255, "unplug": true})",
                      R"({"on": "write_block", "skip": 511, "unplug": true})"));

TEST(KeptState, MalformedTextIsRefusedAndLeavesTheControllerAsItWas) {
    test::Sandbox sandbox("{}");
    const Bytes before = controller().main_memory;
    std::string error;
    for (const char* text :
         {"", "[]", R"({"controllers": 1})",
          R"({"controllers": [{"update_mode": true, "registers": {}, "system_memory": "00"}]})"}) {
        EXPECT_FALSE(sim::restore_kept_state(text, sim::pc(), error)) << text;
        EXPECT_EQ(controller().main_memory, before);
    }
}

} // namespace
