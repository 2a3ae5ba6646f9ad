// The update dialog's states, its title and progress bar, and the rules every box follows.
#include <gtest/gtest.h>

#include "app/run_end.h"
#include "host/handles.h"
#include "test_support.h"
#include "ui/internal.h"
#include "ui/update_dialog.h"
#include "update/flash_update.h"
#include "update/fw_image.h"

using namespace norvane;

namespace {

using Lines = std::vector<std::string>;

std::size_t index_of(const std::string& line) {
    const auto& lines = test::transcript();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == line) {
            return i;
        }
    }
    return lines.size();
}

struct DialogCase {
    const char* name;
    const char* scenario;
    int code;
    Lines log_tail; // after the version entry
    bool button_disabled;
};

class DialogStateTest : public ::testing::TestWithParam<DialogCase> {};

TEST_P(DialogStateTest, OutcomeAndLogFollowTheDialogsState) {
    test::Sandbox sandbox(GetParam().scenario);
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), GetParam().code);
    const Lines log = test::log_lines("fw.log");
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(Lines(log.begin() + 4, log.end()), GetParam().log_tail);
    EXPECT_EQ(index_of("button disabled") < test::transcript().size(), GetParam().button_disabled);
    EXPECT_EQ(test::transcript().back(), "dialog closed");
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DialogStateTest,
    ::testing::Values(
        DialogCase{"closed_without_update", R"({"dialog": "close"})", 3010, {}, false},
        DialogCase{"updated",
                   R"({"dialog": "start"})",
                   3010,
                   {"Firmware was successfully updated.", "Exit code = 3010",
                    "Completed:2024/03/05 09:07:05", ""},
                   true},
        DialogCase{"failed_then_closed",
                   R"({"dialog": "start", "devices": [{"controller": {"faults": [
                       {"on": "write", "address": "0xFF800C", "fail_set": true}]}}]})",
                   1603,
                   {"Fail - _clear_memory_segment.", "Firmware update failed.", "Exit code = 1603"},
                   true},
        // A second command after the failed update must not run a second one.
        DialogCase{"failed_then_pressed_again",
                   R"({"dialog": "start_twice", "devices": [{"controller": {"faults": [
                       {"on": "write", "address": "0xFF800C", "fail_set": true}]}}]})",
                   1603,
                   {"Fail - _clear_memory_segment.", "Firmware update failed.", "Exit code = 1603"},
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateDialog, FailedUpdateLeavesDialogOpenUntilClosed) {
    test::Sandbox sandbox(R"({"dialog": "start", "devices": [{"controller": {"faults": [
        {"on": "write", "address": "0xFF800C", "fail_set": true}]}}]})");
    EXPECT_EQ(test::run_program(L""), 1603);
    const Lines& lines = test::transcript();
    // The failure box comes while the dialog is still up; only the close box ends it.
    EXPECT_LT(index_of("box Result 0x30 Update fail !!!"), index_of("dialog closed"));
    EXPECT_EQ(lines.back(), "dialog closed");
    EXPECT_EQ(index_of("progress 1/19"), index_of("button disabled") + 1);
    EXPECT_EQ(index_of("progress 2/19"), lines.size());
}

TEST(UpdateDialog, CancelCommandAndOtherMessagesAreIgnored) {
    test::Sandbox sandbox("{}");
    ASSERT_TRUE(_load_fw_image());
    HWND fake = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(_update_dialog_proc(fake, WM_COMMAND, IDCANCEL, 0), 0);
    EXPECT_EQ(_update_dialog_proc(fake, 0x0200 /* mouse move */, 0, 0), 0);
    EXPECT_TRUE(test::transcript().empty());
    EXPECT_FALSE(g_update_dialog_state.started);
}

TEST(UpdateDialog, AnyNotificationOfTheButtonStartsTheUpdate) {
    test::Sandbox sandbox(R"({"devices": []})");
    HWND fake = reinterpret_cast<HWND>(0x1234);
    const WPARAM double_click = (5u << 16) | 1000u;
    _update_dialog_proc(fake, WM_COMMAND, double_click, 0);
    // With no device the update fails at once: its box and the run's end show that it ran.
    EXPECT_EQ(g_exit_code, 1603);
    EXPECT_EQ(test::transcript(), (Lines{"box Result 0x30 Update fail !!!", "answer IDOK"}));
    // A command posted later by another program starts nothing.
    _update_dialog_proc(fake, WM_COMMAND, 1000u, 0);
    EXPECT_EQ(test::transcript().size(), 2u);
}

TEST(UpdateDialog, DialogThatCannotBeCreatedFailsTheRun) {
    test::Sandbox sandbox(R"({"dialog": "fail"})");
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), 1603);
    const Lines log = test::log_lines("fw.log");
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(Lines(log.begin() + 4, log.end()),
              (Lines{"The update dialog could not be shown.", "Exit code = 1603"}));
    EXPECT_EQ(test::transcript().back(), "dialog failed");
    EXPECT_EQ(sim::pc().devices[0].controller.stats.erases, 0u);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

// Messages sent to the dialog while it flashes: the dialog answers them at once, nothing ends or
// restarts the update, and the wire and the pauses are those of a silent run.
struct DialogMessageCase {
    const char* name;
    const char* message;
    std::uint64_t at_ms;
};

class MessagesDuringUpdateTest : public ::testing::TestWithParam<DialogMessageCase> {};

TEST_P(MessagesDuringUpdateTest, AreAnsweredAtOnceAndCannotEndTheUpdate) {
    test::Sandbox sandbox("{}");
    const auto& image = sandbox.image();
    ASSERT_EQ(test::run_program(L"/s"), 0);
    const auto silent_requests = sim::pc().devices.at(0).request_log;
    const std::uint64_t silent_ms = sim::now_ms();

    test::reset_program();
    test::ScenarioBuilder scenario;
    for (std::uint64_t at = 100; at <= 3100; at += 250) {
        scenario.dialog_message(at, "null");
    }
    test::load_scenario(scenario.dialog_message(GetParam().at_ms, GetParam().message));
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), 3010);
    const auto& device = sim::pc().devices.at(0);
    EXPECT_EQ(device.controller.main_memory, harness::main_image_of(image));
    EXPECT_EQ(device.controller.stats.mode_changes, 2u); // one update, not two
    EXPECT_EQ(g_chunk_counter, 512u);
    // The same requests, in the same order, and no pause beyond the protocol's.
    ASSERT_EQ(device.request_log.size(), silent_requests.size());
    for (std::size_t i = 0; i < silent_requests.size(); ++i) {
        EXPECT_EQ(device.request_log[i].address, silent_requests[i].address) << i;
        EXPECT_EQ(device.request_log[i].kind, silent_requests[i].kind) << i;
    }
    EXPECT_EQ(sim::now_ms(), silent_ms);
    for (const sim::ScriptedMessage& message : sim::pc().dialog_messages) {
        ASSERT_TRUE(message.dispatched_ms.has_value());
        EXPECT_LE(*message.dispatched_ms - message.at_ms, 2u) << message.at_ms;
        EXPECT_FALSE(message.close_box_enabled_then) << message.at_ms;
    }
    EXPECT_EQ(index_of("dialog closed"), test::transcript().size() - 1);
    EXPECT_EQ(index_of("answer IDOK"), index_of("box Result 0x40 Update success!!!") + 1);
    EXPECT_EQ(index_of("answer quit"), test::transcript().size()); // no box lost
    EXPECT_EQ(test::log_lines("fw.log").at(5), "Exit code = 3010");
    EXPECT_TRUE(sim::pc().close_box_enabled);
}

INSTANTIATE_TEST_SUITE_P(Table, MessagesDuringUpdateTest,
                         ::testing::Values(DialogMessageCase{"close_box", "close", 1200},
                                           DialogMessageCase{"alt_f4", "alt_f4", 2300},
                                           DialogMessageCase{"escape", "escape", 400},
                                           DialogMessageCase{"start_again", "start", 1800},
                                           DialogMessageCase{"null", "null", 3000},
                                           // Kept, and posted again after the flash.
                                           DialogMessageCase{"quit", "quit", 1500}),
                         [](const auto& info) { return std::string(info.param.name); });

// A WM_QUIT during the flash is kept for the loops after it, after a failed update too; the pump
// empties the queue past it, so what came with it is answered at once.
struct QuitCase {
    const char* name;
    const char* scenario;
    int code;
    const char* last_line;
};

class QuitDuringTheFlashTest : public ::testing::TestWithParam<QuitCase> {};

TEST_P(QuitDuringTheFlashTest, IsKeptAndTheQueueEmptied) {
    test::Sandbox sandbox(GetParam().scenario);
    EXPECT_EQ(test::run_program(L""), GetParam().code);
    EXPECT_EQ(test::transcript().back(), GetParam().last_line);
    for (const sim::ScriptedMessage& message : sim::pc().dialog_messages) {
        ASSERT_TRUE(message.dispatched_ms.has_value());
        EXPECT_LE(*message.dispatched_ms - message.at_ms, 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, QuitDuringTheFlashTest,
                         ::testing::Values(QuitCase{"failing_update", R"({"dialog_messages": [
                                   {"at_ms": 500, "message": "quit"}],
                                   "devices": [{"controller": {"faults": [{"on": "write",
                                   "address": "0xFF800C", "fail_set": true}]}}]})",
                                                    1603, "dialog quit"},
                                           QuitCase{"with_a_message_at_once",
                                                    R"({"dialog_messages": [
                                   {"at_ms": 1000, "message": "quit"},
                                   {"at_ms": 1000, "message": "null"}]})",
                                                    3010, "dialog closed"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateDialog, AfterAFailedUpdateTheCloseBoxWorksAndStartIsIgnored) {
    test::Sandbox sandbox(R"({"dialog_messages": [{"at_ms": 500, "message": "null"},
        {"at_ms": 60000, "message": "start"}, {"at_ms": 61000, "message": "alt_f4"}],
        "devices": [{"controller": {"faults": [
        {"on": "write", "address": "0xFF800C", "fail_set": true}]}}]})");
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), 1603);
    const auto& messages = sim::pc().dialog_messages;
    EXPECT_FALSE(messages[0].close_box_enabled_then);
    EXPECT_TRUE(messages[1].close_box_enabled_then);
    EXPECT_EQ(sim::pc().devices.at(0).controller.stats.mode_changes, 1u); // no second update
    // Alt+F4 closed the dialog once the update had ended.
    EXPECT_EQ(test::transcript().back(), "dialog closed");
    EXPECT_EQ(test::transcript()[test::transcript().size() - 2],
              "message WM_SYSCOMMAND after 0 ms");
    EXPECT_EQ(test::log_lines("fw.log").back(), "Exit code = 1603");
}

struct TitleCase {
    const char* name;
    bool block;
    bool has_name;
    bool has_version;
    Lines after_icons;
};

class TitleTest : public ::testing::TestWithParam<TitleCase> {};

// The dialog comes up with the program's icon (group 107) at the system's small and large icon
// sizes, then its title; the icons are destroyed with it.
TEST_P(TitleTest, IconsAndTitleFromTheResources) {
    test::Sandbox sandbox(R"({"dialog": "close"})");
    sim::pc().version_block_present = GetParam().block;
    if (!GetParam().has_name) {
        sim::pc().product_name.reset();
    }
    if (!GetParam().has_version) {
        sim::pc().product_version.reset();
    }
    EXPECT_EQ(test::run_program(L""), 3010);
    const Lines& lines = test::transcript();
    const std::size_t open = index_of("dialog open");
    ASSERT_LT(open, lines.size());
    Lines expected = {"dialog open", "icon small 107 16x16", "icon big 107 32x32"};
    expected.insert(expected.end(), GetParam().after_icons.begin(), GetParam().after_icons.end());
    EXPECT_EQ(Lines(lines.begin() + static_cast<long>(open), lines.end()), expected);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TitleTest,
    ::testing::Values(
        TitleCase{"full", true, true, true, {test::kDialogTitleLine, "dialog closed"}},
        TitleCase{"no_block", false, true, true, {"dialog closed"}},
        TitleCase{"no_name", true, false, true, {"dialog closed"}},
        TitleCase{"no_version", true, true, false, {"dialog closed"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The boxes shown over the update dialog have no owner either. (The boxes of every other way out,
// and those of a successful update, are compared line by line with the whole transcript by the
// run's own tables, where an owner would show as an extra line.)
TEST(UpdateDialog, BoxesOverTheDialogHaveNoOwner) {
    test::Sandbox sandbox(R"({"devices": [{"controller": {"faults": [
        {"on": "read_block", "corrupt": true}]}}]})");
    EXPECT_EQ(test::run_program(L""), 1603);
    EXPECT_LT(index_of("box Warning 0x30 Failed verify main memory"), test::transcript().size());
    EXPECT_LT(index_of("box Result 0x30 Update fail !!!"), test::transcript().size());
    for (const std::string& line : test::transcript()) {
        EXPECT_EQ(line.rfind("box-owner", 0), std::string::npos) << line;
    }
}

} // namespace
