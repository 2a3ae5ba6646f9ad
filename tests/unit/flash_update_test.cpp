// The flash update from end to end on a simulated controller, and every way it can fail.
#include <algorithm>
#include <gtest/gtest.h>

#include "app/run_state.h"
#include "device/device_link.h"
#include "host/handles.h"
#include "sim/kept_state.h"
#include "test_support.h"
#include "update/flash_update.h"
#include "update/fw_image.h"

using namespace norvane;

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

const sim::Controller& controller() {
    return sim::pc().devices.at(0).controller;
}

using harness::main_image_of;

std::size_t count_lines(const std::string& prefix) {
    std::size_t count = 0;
    for (const std::string& line : test::transcript()) {
        count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

TEST(FlashUpdate, SilentRunReplacesMainMemoryAndLogsLikeTheExample) {
    test::Sandbox sandbox("{}");
    const Bytes& image = sandbox.image();
    ASSERT_NE(controller().main_memory, main_image_of(image));
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), 0);
    test::expect_updated(image);
    test::expect_flash_guarded();
    // The active-mode bytes read before the update are back.
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(controller().registers.at(0x80003E + i), i + 1);
    }
    EXPECT_EQ(test::transcript(), Lines{});
    // Two mode changes of 1000 ms, and 2 ms after each of the run's writes.
    EXPECT_EQ(sandbox.read_file("fw.log"), "Command:/s /v LOGFILE=fw.log\r\n"
                                           "Executed:2024/03/05 09:07:02\r\n"
                                           "Current FW version:3.07\r\n"
                                           "New FW version:3.08\r\n"
                                           "Firmware was successfully updated.\r\n"
                                           "Exit code = 0\r\n"
                                           "Completed:2024/03/05 09:07:05\r\n"
                                           "\r\n");
    EXPECT_EQ(host_handles_open_total(), 0u);
    EXPECT_EQ(controller().stats.refused_requests, 0u);
    EXPECT_EQ(controller().stats.unexpected_addresses, 0u);
}

TEST(FlashUpdate, InteractiveRunStepsTheBarEighteenTimesAndFillsItBeforeTheResult) {
    test::Sandbox sandbox(R"({"dialog": "start"})");
    const Bytes& image = sandbox.image();
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), 3010);
    Lines expected = {
        "box Question 0x24 Current FW version is 3.07\\nWould you like to update FW to 3.08 ?",
        "answer IDYES",
        "dialog open",
        "icon small 107 16x16",
        "icon big 107 32x32",
        test::kDialogTitleLine,
        "button disabled"};
    for (int step = 1; step <= 18; ++step) {
        expected.push_back("progress " + std::to_string(step) + "/19");
    }
    expected.push_back("progress 19/19");
    expected.insert(expected.end(), {"box Result 0x40 Update success!!!", "answer IDOK",
                                     "box Result 0x40 Please restart this computer.", "answer IDOK",
                                     "dialog closed"});
    EXPECT_EQ(test::transcript(), expected);
    EXPECT_EQ(controller().main_memory, main_image_of(image));
    const Lines log = test::log_lines("fw.log");
    EXPECT_EQ(Lines(log.begin() + 2, log.end()),
              (Lines{"Current FW version:3.07", "New FW version:3.08",
                     "Firmware was successfully updated.", "Exit code = 3010",
                     "Completed:2024/03/05 09:07:05", ""}));
    EXPECT_EQ(g_chunk_counter, 512u);
    test::expect_flash_guarded();
}

struct FailureCase {
    const char* name;
    const char* controller;  // the controller's JSON (faults and the like)
    const char* collections; // collections JSON, or null for the default two
    const char* step_line;
    bool verify_box;
    bool left_in_update_mode;
    bool programmed = false; // main memory holds the image although the run failed
};

const FailureCase kFailureCases[] = {
    {"access_no_data_channel", "{}",
     R"([{"usage_page": "0xFF01", "report_id": 5, "report_count": 7}])",
     "Fail - _access_target_device.", false, false},
    {"access_chunk_not_dividing", "{}",
     R"([{"usage_page": "0xFF01", "report_id": 5, "report_count": 7},
         {"usage_page": "0xFF02", "report_id": 6, "report_count": 106}])",
     "Fail - _access_target_device.", false, false},
    // A data collection of 7-byte reports carries no data byte at all.
    {"access_chunk_of_nothing", "{}",
     R"([{"usage_page": "0xFF01", "report_id": 5, "report_count": 7},
         {"usage_page": "0xFF02", "report_id": 6, "report_count": 6}])",
     "Fail - _access_target_device.", false, false},
    {"mode_change_in", R"({"faults": [{"on": "read", "address": "0x80002D", "value": 17}]})",
     nullptr, "Fail - _fw_mode_change.", false, true},
    {"mode_change_in_write",
     R"({"faults": [{"on": "write", "address": "0xFF8863", "fail_set": true}]})", nullptr,
     "Fail - _fw_mode_change.", false, false},
    {"clear_memory", R"({"faults": [{"on": "write", "address": "0xFF800C", "fail_set": true}]})",
     nullptr, "Fail - _clear_memory_segment.", false, true},
    {"check_clear", R"({"faults": [{"on": "write", "address": "0xFF8013", "ignore": true}]})",
     nullptr, "Fail - _check_clear_memory.", false, true},
    {"check_clear_read", R"({"faults": [{"on": "read", "address": "0x110000", "fail_get": true}]})",
     nullptr, "Fail - _check_clear_memory.", false, true},
    // Read-backs of the command register: system check, information check, erase, program.
    {"program_command",
     R"({"faults": [{"on": "read", "address": "0xFF8003", "skip": 3, "value": 0}]})", nullptr,
     "Fail - _write_read_memory_segment.", false, true},
    {"verify", R"({"faults": [{"on": "read_block", "address": "0x118000", "corrupt": true}]})",
     nullptr, "Fail - _write_read_memory_segment.", true, true},
    // Only the last byte of a chunk read back wrong, with 128-byte and with 64-byte chunks.
    {"verify_last_byte",
     R"({"faults": [{"on": "read_block", "address": "0x118000", "corrupt_last": true}]})", nullptr,
     "Fail - _write_read_memory_segment.", true, true},
    {"verify_last_byte_of_64",
     R"({"faults": [{"on": "read_block", "address": "0x118000", "corrupt_last": true}]})",
     R"([{"usage_page": "0xFF01", "report_id": 5, "report_count": 7},
         {"usage_page": "0xFF02", "report_id": 6, "report_count": 70}])",
     "Fail - _write_read_memory_segment.", true, true},
    // The access enable that cannot be switched off after programming: no success with the
    // controller left open for programming.
    {"access_off",
     R"({"faults": [{"on": "write", "address": "0xFF8007", "skip": 3, "fail_set": true,
                     "times": 12}]})",
     nullptr, "Fail - _write_read_memory_segment.", false, true, true},
    {"mode_change_out",
     R"({"faults": [{"on": "read", "address": "0x80002D", "skip": 2, "value": 16}]})", nullptr,
     "Fail - _fw_mode_change.", false, false, true},
    {"restore", R"({"faults": [{"on": "write", "address": "0x80003F", "fail_set": true}]})",
     nullptr, "Fail - _restore_active_mode.", false, false, true},
};

class FlashFailureTest : public ::testing::TestWithParam<FailureCase> {
  protected:
    void SetUp() override {
        image_ = sandbox_.add_image();
        test::Json device = {{"controller", test::Json::parse(GetParam().controller)}};
        if (GetParam().collections != nullptr) {
            device["collections"] = test::Json::parse(GetParam().collections);
        }
        test::load_scenario(
            test::ScenarioBuilder().dialog("start").devices(test::Json::array({device})));
    }
    test::Sandbox sandbox_;
    Bytes image_;
};

TEST_P(FlashFailureTest, InteractiveRunNamesTheStepAndEndsWith1603) {
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), 1603);
    const Lines log = test::log_lines("fw.log");
    EXPECT_EQ(Lines(log.begin() + 4, log.end()),
              (Lines{GetParam().step_line, "Firmware update failed.", "Exit code = 1603"}));
    EXPECT_EQ(count_lines("box Warning 0x30 Failed verify main memory"),
              GetParam().verify_box ? 1u : 0u);
    EXPECT_EQ(count_lines("box Result 0x30 Update fail !!!"), 1u);
    EXPECT_EQ(count_lines("box Result 0x40"), 0u);
    EXPECT_EQ(count_lines("progress 19/19"), 0u); // a failed update never shows a full bar
    // The dialog stays open after the failure, saying what to do, until the user closes it.
    const auto& lines = test::transcript();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "answer IDOK");
    EXPECT_EQ(lines[lines.size() - 2],
              "notice The update did not finish. Run this tool again now.");
    EXPECT_EQ(lines.back(), "dialog closed");
    EXPECT_EQ(controller().update_mode, GetParam().left_in_update_mode);
    EXPECT_EQ(controller().main_memory == main_image_of(image_), GetParam().programmed);
    EXPECT_EQ(host_handles_open_total(), 0u);
    test::expect_flash_guarded();
}

TEST_P(FlashFailureTest, SilentRunLogsTheSameAndShowsNothing) {
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), 1603);
    const Lines log = test::log_lines("fw.log");
    EXPECT_EQ(Lines(log.begin() + 4, log.end()),
              (Lines{GetParam().step_line, "Firmware update failed.", "Exit code = 1603"}));
    EXPECT_EQ(count_lines("box"), 0u);
    EXPECT_EQ(count_lines("dialog"), 0u);
    test::expect_flash_guarded();
}

// The PC is restarted with the controller as the failed run left it (what fwsim --keep does): a
// second default run finishes the job. A controller that was already back in normal mode with the
// whole image is up to date, and the second run says so with 8.
TEST_P(FlashFailureTest, SecondDefaultRunFinishesTheUpdate) {
    EXPECT_EQ(test::run_program(L"/s"), 1603);
    test::restart_on_kept_state();
    const bool complete = GetParam().programmed && !GetParam().left_in_update_mode;
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=second.log"), complete ? 8 : 0);
    const Lines log = test::log_lines("second.log");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2] == "Controller was left in update mode; updating again.",
              GetParam().left_in_update_mode);
    test::expect_updated(image_);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, FlashFailureTest, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FlashUpdate, VerifyFailureLeavesAccessEnableOn) {
    test::Sandbox sandbox(R"({"devices": [{"controller": {"faults": [
        {"on": "read_block", "address": "0x110000", "corrupt": true}]}}]})");
    EXPECT_EQ(test::run_program(L"/s"), 1603);
    EXPECT_EQ(sim::controller_group_value(controller(), 0xFF8004), 1u);
    EXPECT_TRUE(controller().update_mode);
}

TEST(FlashUpdate, RefusedChunkSizeWritesNothingToTheController) {
    test::Sandbox sandbox(R"({"devices": [{"collections": [
        {"usage_page": "0xFF01", "report_id": 5, "report_count": 7},
        {"usage_page": "0xFF02", "report_id": 6, "report_count": 300}]}]})");
    EXPECT_EQ(test::run_program(L"/s"), 1603);
    // Only the two identity checks' commands were written; the update wrote nothing.
    EXPECT_EQ(controller().stats.register_writes, 8u);
    EXPECT_EQ(controller().stats.block_writes, 0u);
    EXPECT_EQ(controller().stats.mode_changes, 0u);
    EXPECT_FALSE(controller().update_mode);
}

struct RetryChunkCase {
    int times;
    bool success;
};

class ChunkAttemptTest : public ::testing::TestWithParam<RetryChunkCase> {};

TEST_P(ChunkAttemptTest, ChunkVerifiesWithinThreeAttempts) {
    test::Sandbox sandbox(R"({"devices": [{"controller": {"faults": [
        {"on": "read_block", "address": "0x114000", "corrupt": true, "times": )" +
                          std::to_string(GetParam().times) + "}]}}]}");
    const Bytes& image = sandbox.image();
    EXPECT_EQ(test::run_program(L"/s"), GetParam().success ? 0 : 1603);
    EXPECT_EQ(controller().main_memory == main_image_of(image), GetParam().success);
    // Neither the debugger nor a box hears of a chunk that verified on a later attempt.
    EXPECT_TRUE(test::transcript().empty());
    const std::size_t read_blocks = controller().stats.block_reads;
    EXPECT_EQ(read_blocks, GetParam().success ? 512u + GetParam().times : 128u + 3u);
}

INSTANTIATE_TEST_SUITE_P(Table, ChunkAttemptTest,
                         ::testing::Values(RetryChunkCase{1, true}, RetryChunkCase{2, true},
                                           RetryChunkCase{3, false}));

TEST(FlashUpdate, FailedBlockWriteWhoseReadBackMatchesCountsAsComplete) {
    test::Sandbox sandbox;
    Bytes image = test::make_image();
    std::fill(image.begin() + sim::kImageMain + 0x8000, image.begin() + sim::kImageMain + 0x8080,
              0xFF); // an erased chunk stays erased
    sandbox.write_file("fw.bin", image);
    test::load_scenario(R"({"devices": [{"controller": {"faults": [
        {"on": "write_block", "address": "0x8000", "fail_set": true}]}}]})");
    EXPECT_EQ(test::run_program(L"/s"), 0);
    EXPECT_EQ(
        test::transcript(),
        (Lines{"debug _write_memory_block: address 0x8000, error 31 (A device attached to the "
               "system is not functioning.)",
               "debug Fail - write main memory"}));
    EXPECT_EQ(controller().main_memory, main_image_of(image));
}

TEST(FlashUpdate, FailedBlockReadGoesToTheDebuggerAndCostsAnAttempt) {
    test::Sandbox sandbox(R"({"devices": [{"controller": {"faults": [
        {"on": "read_block", "address": "0x110080", "fail_get": true, "times": 12}]}}]})");
    const Bytes& image = sandbox.image();
    EXPECT_EQ(test::run_program(L"/s"), 0);
    EXPECT_EQ(
        test::transcript(),
        (Lines{"debug _read_memory_block: address 0x110080, error 31 (A device attached to the "
               "system is not functioning.)",
               "debug Fail - read main memory"}));
    EXPECT_EQ(controller().main_memory, main_image_of(image));
}

// A chunk of zeros whose block write was lost and whose read-back could not be fetched: the
// cleared response must not pass for the controller's memory.
TEST(FlashUpdate, FailedReadBackNeverVerifiesAChunkOfZeros) {
    test::Sandbox sandbox;
    Bytes image = test::make_image();
    std::fill(image.begin() + sim::kImageMain + 0x8000, image.begin() + sim::kImageMain + 0x8080,
              0x00);
    sandbox.write_file("fw.bin", image);
    test::load_scenario(R"({"devices": [{"controller": {"faults": [
        {"on": "write_block", "address": "0x8000", "ignore": true, "times": 1},
        {"on": "read_block", "address": "0x118000", "fail_get": true, "times": 12}]}}]})");
    EXPECT_EQ(test::run_program(L"/s"), 0);
    EXPECT_EQ(controller().main_memory, main_image_of(image)); // written again on attempt two
    std::size_t writes_of_chunk = 0;
    for (const sim::RequestRecord& record : sim::pc().devices[0].request_log) {
        writes_of_chunk += record.kind == sim::RequestKind::WriteBlock && record.address == 0x8000;
    }
    EXPECT_EQ(writes_of_chunk, 2u);

    // Every read-back of that chunk failing: three failed attempts, and no success.
    test::reset_program();
    sandbox.write_file("fw.bin", image);
    test::load_scenario(R"({"devices": [{"controller": {"faults": [
        {"on": "read_block", "address": "0x118000", "fail_get": true}]}}]})");
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), 1603);
    EXPECT_EQ(test::log_lines("fw.log").at(4), "Fail - _write_read_memory_segment.");
}

TEST(FlashUpdate, RelaxedHidVersionAcceptsAnyNormalModeStatus) {
    test::Sandbox sandbox(R"({"devices": [{"version_number": "0xFFFF", "controller": {"faults": [
        {"on": "read", "address": "0x80002D", "skip": 2, "value": "0x42"}]}}]})");
    EXPECT_EQ(test::run_program(L"/s"), 0);

    // The status read itself must still succeed.
    test::reset_program();
    sandbox.add_image();
    test::load_scenario(R"({"devices": [{"version_number": "0xFFFF", "controller": {"faults": [
        {"on": "read", "address": "0x80002D", "skip": 2, "fail_get": true}]}}]})");
    EXPECT_EQ(test::run_program(L"/s"), 1603);

    // Entering update mode still demands 0x10.
    test::reset_program();
    sandbox.add_image();
    test::load_scenario(R"({"devices": [{"version_number": "0xFFFF", "controller": {"faults": [
        {"on": "read", "address": "0x80002D", "skip": 1, "value": "0x42", "times": 1}]}}]})");
    EXPECT_EQ(test::run_program(L"/s"), 1603);
    EXPECT_EQ(controller().stats.erases, 0u);
}

// Two controllers on one PC: only the device that was checked is ever written to, and both channels
// come from it.
struct TwoDeviceCase {
    const char* name;
    const char* devices;  // the scenario's device list
    int code;             // silent run
    const char* log_line; // a line the log must hold
    std::size_t target;   // the device that may be written to
    bool programmed;      // its main memory holds the image at the end
};

const TwoDeviceCase kTwoDeviceCases[] = {
    // Another product with foreign system memory listed first; the checked one drops off the bus
    // at the active-mode save. The flash must not fall back to the other one.
    {"checked_device_gone",
     R"([{"product_id": "0x7777", "controller": {"system_memory": {"0": 1}}},
         {"controller": {"faults": [{"on": "read", "address": "0x80003E", "unplug": true}]}}])",
     1603, "Fail - _access_target_device.", 1, false},
    // Another product listed after the target, with a data collection only.
    {"data_collection_elsewhere",
     R"([{}, {"product_id": "0x7777", "collections": [
         {"usage_page": "0xFF02", "report_id": 6, "report_count": 134}]}])",
     0, "Firmware was successfully updated.", 0, true},
    // An unrelated device with HID version 0xFFFF listed last must not relax the status tests: the
    // target stays in update mode when its return to normal mode is dropped.
    {"relaxed_version_elsewhere",
     R"([{"controller": {"faults": [
           {"on": "write", "address": "0xFF8863", "skip": 1, "ignore": true}]}},
         {"product_id": "0x7777", "version_number": "0xFFFF"}])",
     1603, "Fail - _fw_mode_change.", 0, true},
    // Two controllers of the image's product: the first listed is checked and flashed, and the log
    // names it.
    {"same_product_twice", R"([{}, {}])", 0,
     R"(Found 2 Norvane devices, updating \\?\hid#vid_044e&pid_1234&col01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})",
     0, true},
};

class TwoDeviceTest : public ::testing::TestWithParam<TwoDeviceCase> {};

TEST_P(TwoDeviceTest, OnlyTheCheckedControllerIsWritten) {
    test::Sandbox sandbox(test::ScenarioBuilder().devices(test::Json::parse(GetParam().devices)));
    const Bytes& image = sandbox.image();
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), GetParam().code);
    const Lines log = test::log_lines("fw.log");
    EXPECT_NE(std::find(log.begin(), log.end(), GetParam().log_line), log.end());
    const std::vector<sim::SimDevice>& devices = sim::pc().devices;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const sim::ControllerStats& stats = devices[i].controller.stats;
        if (i != GetParam().target) {
            EXPECT_EQ(stats.register_writes + stats.block_writes, 0u) << "device " << i;
            EXPECT_EQ(devices[i].hid.set_feature_calls, 0u) << "device " << i;
        }
    }
    const sim::Controller& target = devices.at(GetParam().target).controller;
    EXPECT_EQ(target.main_memory == main_image_of(image), GetParam().programmed);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, TwoDeviceTest, ::testing::ValuesIn(kTwoDeviceCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The state line fwsim --state prints for each device after a run.
struct StateLineCase {
    const char* name;
    const char* controller; // the controller's JSON
    const char* line;
};

class StateLineTest : public ::testing::TestWithParam<StateLineCase> {};

TEST_P(StateLineTest, LineTellsWhatTheRunLeftBehind) {
    test::Sandbox sandbox(test::ScenarioBuilder().device(
        test::DeviceBuilder().controller(test::Json::parse(GetParam().controller))));
    const Bytes& image = sandbox.image();
    test::run_program(L"/s");
    const Bytes main = main_image_of(image);
    EXPECT_EQ(sim::device_state_line(0, sim::pc().devices[0], &main, sim::now(),
                                     host_handles_open_on_device(0)),
              GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StateLineTest,
    ::testing::Values(
        StateLineCase{"updated", "{}", "state 0 main=image mode=0x11 access=off handles=0"},
        StateLineCase{"not_updated", R"({"firmware_version": "3.08"})",
                      "state 0 main=other mode=0x11 access=off handles=0"},
        // Programming refused after the erase: blank, in update mode, access switched off.
        StateLineCase{
            "erased",
            R"({"faults": [{"on": "read", "address": "0xFF8003", "skip": 3, "value": 0}]})",
            "state 0 main=blank mode=0x10 access=off handles=0"},
        StateLineCase{
            "verify_failed",
            R"({"faults": [{"on": "read_block", "address": "0x118000", "corrupt": true}]})",
            "state 0 main=other mode=0x10 access=on handles=0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FlashUpdate, StateLineCountsHandlesOpenOnTheDevice) {
    test::Sandbox sandbox("{}");
    ASSERT_TRUE(_load_fw_image());
    ASSERT_TRUE(_find_target_device(_target_filter()));
    _bind_channels();
    ASSERT_TRUE(_open_channels());
    EXPECT_EQ(sim::device_state_line(3, sim::pc().devices[0], nullptr, sim::now(),
                                     host_handles_open_on_device(0)),
              "state 3 main=other mode=0x11 access=off handles=2");
    _close_channels();
}

TEST(FlashUpdate, EraseCommandNotConfirmedLeavesTheBlankCheckToDecide) {
    test::Sandbox sandbox(R"({"devices": [{"controller": {"faults": [
        {"on": "read", "address": "0xFF8003", "skip": 2, "value": 0, "times": 1}]}}]})");
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), 1603);
    const Lines log = test::log_lines("fw.log");
    EXPECT_EQ(log.at(4), "Fail - _check_clear_memory.");
}

TEST(FlashUpdate, PartlySavedActiveModeWritesBackOnlyWhatWasRead) {
    test::Sandbox sandbox(R"({"devices": [{"controller": {"active_mode": [9, 8, 7, 6], "faults": [
        {"on": "read", "address": "0x800040", "fail_get": true, "times": 12}]}}]})");
    EXPECT_EQ(test::run_program(L"/s"), 0);
    std::vector<std::uint32_t> restored;
    for (const sim::RequestRecord& record : sim::pc().devices[0].request_log) {
        if (record.kind == sim::RequestKind::Write && record.address >= 0x80003E &&
            record.address <= 0x800041) {
            restored.push_back(record.address);
        }
    }
    EXPECT_EQ(restored, (std::vector<std::uint32_t>{0x80003E, 0x80003F}));
    EXPECT_EQ(controller().registers.at(0x80003E), 9);
    EXPECT_EQ(controller().registers.at(0x80003F), 8);
}

TEST(FlashUpdate, ModeChangeWaitsASecondBeforeReadingTheStatus) {
    test::Sandbox sandbox("{}");
    EXPECT_EQ(test::run_program(L"/s"), 0);
    // 2 mode changes x 1000 ms, plus 2 ms after every register and block write.
    const auto& stats = controller().stats;
    EXPECT_EQ(sim::now_ms(), 2000u + 2u * (stats.register_writes + stats.block_writes));
    EXPECT_EQ(stats.block_writes, 512u);
    EXPECT_EQ(stats.mode_changes, 2u);
    EXPECT_EQ(stats.erases, 1u);
}

} // namespace
