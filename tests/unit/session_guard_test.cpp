// A session end while the flash rewrites main memory (a Windows Update restart, a user's
// "Restart"): refused until the sequence is over. When it ends anyway, the run says so in its log
// and the system ends the process with the record written before the first write (1603, no
// version), leaving the lock abandoned for the run that finishes the update. A WM_ENDSESSION that
// another program posts ends nothing. At the result boxes the run has already written its end.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

struct SessionEndCase {
    const char* name;
    const wchar_t* arguments;
    const char* scenario;
    int code; // 0 too where the system ended the process, as Wine ends it
    Lines log_end;
    const char* event; // the guard event of the session end
    std::int64_t recorded_code;
    const char* recorded_version;
};

const Lines kEnded = {"New FW version:3.08", "The session ended during the update."};
const Lines kSilentEnd = {"Firmware was successfully updated.", "Exit code = 0"};
const Lines kInteractiveEnd = {"Firmware was successfully updated.", "Exit code = 3010"};

const SessionEndCase kSessionEndCases[] = {
    {"silent_refused", L"/s", R"({"session_end": {"at_ms": 2000}})", 0, kSilentEnd,
     "session-end refused", 0, "3.08"},
    {"interactive_refused", L"", R"({"session_end": {"at_ms": 2000}})", 3010, kInteractiveEnd,
     "session-end refused", 3010, "3.08"},
    {"silent_forced", L"/s", R"({"session_end": {"at_ms": 2000, "forced": true}})", 0, kEnded,
     "session-end refused", 1603, "(none)"},
    {"interactive_forced", L"", R"({"session_end": {"at_ms": 2000, "forced": true}})", 0, kEnded,
     "session-end refused", 1603, "(none)"},
    // Posted by another program: logged, and the update goes on to its end.
    {"silent_forged", L"/s", R"({"session_end": {"at_ms": 2000, "forged": true}})", 0, kSilentEnd,
     "session-end forged", 0, "3.08"},
    {"interactive_forged", L"", R"({"session_end": {"at_ms": 2000, "forged": true}})", 3010,
     kInteractiveEnd, "session-end forged", 3010, "3.08"},
    // At the result box the guard is given back and the run's end is written.
    {"at_the_success_box",
     L"",
     R"({"session_end": {"in_box": "Update success!!!"}})",
     0,
     {"Firmware was successfully updated.", "Exit code = 3010"},
     "session-end agreed",
     3010,
     "3.08"},
    {"at_the_failure_box",
     L"",
     R"({"session_end": {"in_box": "Update fail !!!"}, "devices": [{"controller": {"faults": [
         {"on": "write", "address": "0xFF800C", "fail_set": true}]}}]})",
     0,
     {"Firmware update failed.", "Exit code = 1603"},
     "session-end agreed",
     1603,
     "(none)"},
};

class SessionEndTest : public ::testing::TestWithParam<SessionEndCase> {};

TEST_P(SessionEndTest, DuringTheFlash) {
    const SessionEndCase& c = GetParam();
    test::Sandbox sandbox(c.scenario);
    const std::wstring arguments = std::wstring(c.arguments) + L" /v LOGFILE=fw.log";
    EXPECT_EQ(test::run_program(arguments), c.code);
    Lines log = test::log_lines("fw.log");
    if (log.back().empty()) {
        log.resize(log.size() - 2); // the "Completed:" line and the empty one after it
    }
    ASSERT_GE(log.size(), c.log_end.size());
    EXPECT_EQ(Lines(log.end() - static_cast<std::ptrdiff_t>(c.log_end.size()), log.end()),
              c.log_end);
    const bool forged = std::string(c.event) == "session-end forged";
    EXPECT_EQ(std::count(log.begin(), log.end(), "The session ended during the update."),
              forged || log.back() == kEnded.back() ? 1 : 0);
    std::vector<std::string> events;
    for (const sim::GuardEvent& event : sim::pc().guard_events) {
        events.push_back(event.what);
    }
    EXPECT_EQ(std::count(events.begin(), events.end(), c.event), 1);
    EXPECT_EQ(test::record_number(L"LastExitCode"), c.recorded_code);
    EXPECT_EQ(test::record_text(L"FirmwareVersion"), c.recorded_version);
    if (c.recorded_code != 1603) {
        test::expect_updated(sandbox.image());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SessionEndTest, ::testing::ValuesIn(kSessionEndCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
