// The detection record under HKLM\SOFTWARE\Norvane\FW Updater on each way out of a run that read
// the controller's version: the exit code, and a firmware version only where the run proved what
// the controller holds. Each run starts from a record an earlier run left.
#include <gtest/gtest.h>

#include "host/handles.h"
#include "test_support.h"

namespace {

constexpr const wchar_t* kKey = L"SOFTWARE\\Norvane\\FW Updater";

struct RecordCase {
    const char* name;
    const char* scenario;
    const wchar_t* arguments;
    std::int64_t last_exit_code; // 99: the earlier run's record stays
    const char* version;         // "(none)": deleted
    std::int64_t version_code;   // -1: deleted
    const char* action;
};

const char* const kFailingUnlock = R"({"devices": [{"controller": {"faults": [
         {"on": "write", "address": "0xFF800C", "fail_set": true}]}}]})";
const char* const kOnBattery = R"({"power": {"ac_line_status": 0}})";

// What each run proved the controller runs at its end: the image after a verified update, the
// running version where the controller said it runs it, nothing otherwise.
const RecordCase kRecordCases[] = {
    {"silent_update", "{}", L"/s", 0, "3.08", 0x308, "update"},
    {"interactive_update", "{}", L"", 3010, "3.08", 0x308, "update"},
    {"up_to_date", R"({"devices": [{"controller": {"firmware_version": "3.09"}}]})", L"/s", 8,
     "3.09", 0x309, "update"},
    {"check_only_up_to_date", R"({"devices": [{"controller": {"firmware_version": "a.1b"}}]})",
     L"/c", 8, "a.1b", 0xA1B, "check"},
    {"check_only_due", "{}", L"/c", 0, "3.07", 0x307, "check"},
    {"check_only_without_device", R"({"devices": []})", L"/c", 1603, "(none)", -1, "check"},
    {"declined", R"({"answers": {"question": "no"}})", L"", 0, "3.07", 0x307, "update"},
    {"closed_without_update", R"({"dialog": "close"})", L"", 3010, "3.07", 0x307, "update"},
    {"failed_update", kFailingUnlock, L"/s", 1603, "(none)", -1, "update"},
    {"failed_interactive_update", kFailingUnlock, L"", 1603, "(none)", -1, "update"},
    {"session_ended", R"({"session_end": {"at_ms": 2000, "forced": true}})", L"/s", 1603, "(none)",
     -1, "update"},
    {"no_device", R"({"devices": []})", L"/s", 1603, "(none)", -1, "update"},
    {"battery_up_to_date", R"({"power": {"ac_line_status": 0},
         "devices": [{"controller": {"firmware_version": "3.08"}}]})",
     L"/s", 8, "3.08", 0x308, "update"},
    {"battery_due", kOnBattery, L"/s", 1603, "3.07", 0x307, "update"},
    {"update_mode_declined", R"({"answers": {"question": "no"}, "devices": [{"controller":
         {"mode_status": "0x10", "programmed_chunks": 1}}]})",
     L"", 1603, "(none)", -1, "update"},
    {"status_unreadable", R"({"devices": [{"controller": {"faults": [
         {"on": "read", "address": "0x80002D", "fail_get": true, "times": 12}]}}]})",
     L"/c", 0, "(none)", -1, "check"},
    // A run that never held the lock leaves the earlier record as it was.
    {"another_updater", R"({"updater_lock": "held"})", L"/s", 99, "1.00", 0x100, "(none)"},
};

class DetectionRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(DetectionRecordTest, ValuesOnEachWayOut) {
    test::Sandbox sandbox(GetParam().scenario);
    auto& earlier = sim::pc().registry[sim::registry_key_path(kKey)];
    earlier[L"LastExitCode"] = {4, {99, 0, 0, 0}};
    earlier[L"FirmwareVersion"] = {1, {'1', 0, '.', 0, '0', 0, '0', 0, 0, 0}};
    earlier[L"FirmwareVersionCode"] = {4, {0, 1, 0, 0}};
    test::run_program(GetParam().arguments);
    EXPECT_EQ(test::record_number(L"LastExitCode"), GetParam().last_exit_code);
    EXPECT_EQ(test::record_text(L"FirmwareVersion"), GetParam().version);
    EXPECT_EQ(test::record_number(L"FirmwareVersionCode"), GetParam().version_code);
    EXPECT_EQ(test::record_text(L"LastAction"), GetParam().action);
    if (GetParam().last_exit_code != 99) {
        EXPECT_EQ(test::record_text(L"LastRun").substr(0, 17), "2024-03-05T09:07:");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DetectionRecordTest, ::testing::ValuesIn(kRecordCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DetectionRecord, ThatCannotBeWrittenChangesNothingButTheLog) {
    test::Sandbox sandbox(R"({"registry": "read_only"})");
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), 0);
    test::expect_updated(sandbox.image());
    const std::vector<std::string> log = test::log_lines("fw.log");
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[4], "The detection record could not be written."); // once, before the flash
    EXPECT_EQ(log[6], "Exit code = 0");
    EXPECT_TRUE(sim::pc().registry.empty());
    EXPECT_EQ(test::transcript().at(0), "debug _write_detection_record: SOFTWARE\\Norvane\\FW "
                                        "Updater, error 5 (Access is denied.)");
    EXPECT_EQ(host_handles_open_total(), 0u);
}

} // namespace
