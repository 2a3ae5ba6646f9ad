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
    const char* device;   // the device's JSON
    const char* settings; // Setting.ini, or null
    int code;
    const char* first_line; // the log's first line after "Executed:"
};

constexpr const char* kModeUnreadable = "Controller mode could not be read.";

// The mode status at the version decision. In update mode the update is due whatever the versions
// say; "not newer" ends with 8 only in normal mode; any other status, or none, proves nothing.
const StartCase kStartCases[] = {
    // Chunk 0 is in, so the version bytes already show the new version.
    {"update_mode_first_chunk",
     R"({"controller": {"mode_status": "0x10", "programmed_chunks": 1}})", nullptr, 0, kLeftLine},
    {"update_mode_erased", R"({"controller": {"mode_status": "0x10", "main_memory": "erased"}})",
     nullptr, 0, kLeftLine},
    {"update_mode_rollback_off",
     R"({"controller": {"mode_status": "0x10", "programmed_chunks": 100}})",
     "[Setting]\nROLLBACK=0\n", 0, kLeftLine},
    {"update_mode_all_chunks_but_one",
     R"({"controller": {"mode_status": "0x10", "programmed_chunks": 511}})", nullptr, 0, kLeftLine},
    // Normal mode with the image's version: up to date.
    {"normal_mode_same_version",
     R"({"controller": {"mode_status": "0x11", "firmware_version": "3.08"}})", nullptr, 8,
     "Exit code = 8"},
    {"status_unreadable",
     R"({"controller": {"mode_status": "0x10", "programmed_chunks": 1, "faults": [
         {"on": "read", "address": "0x80002D", "fail_get": true, "times": 12}]}})",
     nullptr, 1603, kModeUnreadable},
    {"status_settling", R"({"controller": {"firmware_version": "3.08", "faults": [
         {"on": "read", "address": "0x80002D", "value": "0x00"}]}})",
     nullptr, 1603, kModeUnreadable},
    {"status_ff", R"({"controller": {"firmware_version": "3.08", "faults": [
         {"on": "read", "address": "0x80002D", "value": "0xFF"}]}})",
     nullptr, 1603, kModeUnreadable},
    {"status_bad_answer", R"({"controller": {"firmware_version": "3.08", "faults": [
         {"on": "read", "address": "0x80002D", "status": "0x00"}]}})",
     nullptr, 1603, kModeUnreadable},
    // A HID version that relaxes the status tests: the versions decide.
    {"relaxed_hid_version", R"({"version_number": "0xFFFF", "controller": {
         "firmware_version": "3.08", "faults": [
         {"on": "read", "address": "0x80002D", "value": "0x30"}]}})",
     nullptr, 8, "Exit code = 8"},
    // ... but a status that cannot be read proves nothing, whatever the HID version.
    {"relaxed_hid_version_status_unreadable", R"({"version_number": "0xFFFF", "controller": {
         "firmware_version": "3.08", "faults": [
         {"on": "read", "address": "0x80002D", "fail_get": true, "times": 12}]}})",
     nullptr, 1603, kModeUnreadable},
    // A value of 0x10 in an answer whose status check failed is no word of the controller's.
    {"update_mode_in_a_bad_answer", R"({"controller": {"mode_status": "0x10",
         "programmed_chunks": 1, "faults": [
         {"on": "read", "address": "0x80002D", "status": "0x00"}]}})",
     nullptr, 1603, kModeUnreadable},
    // A newer image is due whatever the status reads.
    {"newer_image_status_unreadable", R"({"controller": {"faults": [
         {"on": "read", "address": "0x80002D", "fail_get": true, "times": 12}]}})",
     nullptr, 0, "Current FW version:3.07"},
};

class InterruptedStartTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(InterruptedStartTest, SilentRunDecidesByTheModeStatus) {
    test::Sandbox sandbox;
    const Bytes image = sandbox.add_image();
    if (GetParam().settings != nullptr) {
        sandbox.write_text("Setting.ini", GetParam().settings);
    }
    test::load_scenario(
        test::ScenarioBuilder().devices(test::Json::array({test::Json::parse(GetParam().device)})));
    const sim::ControllerStats before = controller().stats;
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), GetParam().code);
    const Lines log = test::log_lines("fw.log");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2], GetParam().first_line);
    if (GetParam().code == 0) {
        test::expect_updated(image);
    } else { // nothing written
        EXPECT_EQ(controller().stats.mode_changes, before.mode_changes);
        EXPECT_EQ(controller().stats.block_writes, 0u);
    }
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, InterruptedStartTest, ::testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An interactive run still asks, saying that the touchpad does not work until it is updated;
// declining leaves it broken, which is no success.
TEST(InterruptedUpdate, InteractiveRunAsksAndDecliningIsAFailure) {
    test::Sandbox sandbox(R"({"answers": {"question": "no"}, "devices": [{"controller":
        {"mode_status": "0x10", "programmed_chunks": 1}}]})");
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), 1603);
    ASSERT_FALSE(test::transcript().empty());
    EXPECT_EQ(test::transcript().front(),
              "box Question 0x24 The touchpad was left in update mode by an interrupted update and "
              "does not work until it is updated.\\nWould you like to update FW to 3.08 ?");
    EXPECT_EQ(test::log_lines("fw.log"),
              (Lines{"Command:/v LOGFILE=fw.log", "Executed:2024/03/05 09:07:02", kLeftLine,
                     "The update was declined; the touchpad does not work until it is updated.",
                     "Exit code = 1603"}));
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
