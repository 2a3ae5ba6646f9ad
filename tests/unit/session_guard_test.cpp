// A session end while the flash rewrites main memory (a Windows Update restart, a user's
// "Restart"): refused until the sequence is over. When it ends anyway, the run says so in its log
// and ends with 1603; the lock it held is left abandoned for the run that finishes the update.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

struct SessionEndCase {
    const char* name;
    const wchar_t* arguments;
    bool forced;
    int code;
    Lines log_end;
};

const Lines kEnded = {"The session ended during the update.", "Exit code = 1603"};

const SessionEndCase kSessionEndCases[] = {
    {"silent_refused",
     L"/s /v LOGFILE=fw.log",
     false,
     0,
     {"Firmware was successfully updated.", "Exit code = 0"}},
    {"interactive_refused",
     L"/v LOGFILE=fw.log",
     false,
     3010,
     {"Firmware was successfully updated.", "Exit code = 3010"}},
    {"silent_forced", L"/s /v LOGFILE=fw.log", true, 1603, kEnded},
    {"interactive_forced", L"/v LOGFILE=fw.log", true, 1603, kEnded},
};

class SessionEndTest : public ::testing::TestWithParam<SessionEndCase> {};

TEST_P(SessionEndTest, DuringTheFlash) {
    test::Sandbox sandbox(test::ScenarioBuilder().session_end(2000, GetParam().forced));
    EXPECT_EQ(test::run_program(GetParam().arguments), GetParam().code);
    Lines log = test::log_lines("fw.log");
    if (GetParam().code != 1603) {
        log.resize(log.size() - 2); // the "Completed:" line and the empty one after it
        test::expect_updated(sandbox.image());
        test::expect_flash_guarded();
    }
    ASSERT_GE(log.size(), GetParam().log_end.size());
    EXPECT_EQ(Lines(log.end() - static_cast<std::ptrdiff_t>(GetParam().log_end.size()), log.end()),
              GetParam().log_end);
    EXPECT_EQ(sim::pc().guard_events.at(2).what, "session-end refused");
    EXPECT_EQ(sim::pc().named_mutexes.at(sim::kUpdaterLockName).holder,
              GetParam().forced ? sim::MutexHolder::Abandoned : sim::MutexHolder::Nobody);
}

INSTANTIATE_TEST_SUITE_P(Table, SessionEndTest, ::testing::ValuesIn(kSessionEndCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
