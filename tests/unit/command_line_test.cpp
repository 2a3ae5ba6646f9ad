// The argument string: switches, the log path and its cut at the option keywords.
#include <gtest/gtest.h>

#include "app/run_options.h"
#include "host/handles.h"
#include "test_support.h"

using namespace norvane;

namespace {

struct LogPathCase {
    const wchar_t* arguments;
    const wchar_t* log_path;
};

class LogPathTest : public ::testing::TestWithParam<LogPathCase> {};

TEST_P(LogPathTest, ValueBecomesLogPath) {
    test::Sandbox sandbox;
    _parse_command_line(GetParam().arguments);
    EXPECT_TRUE(g_run_options.log_enabled);
    EXPECT_STREQ(g_run_options.log_path, GetParam().log_path);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogPathTest,
    ::testing::Values(LogPathCase{L"/v LOGFILE=\"D:\\Logs\\fw update.log\"",
                                  L"D:\\Logs\\fw update.log"},
                      LogPathCase{L"/v LOGFILE=D:\\fw.log FORCERESTART", L"D:\\fw.log"},
                      LogPathCase{L"/v LOGFILE=\"D:\\fw.log\" FORCE", L"D:\\fw.log\""},
                      LogPathCase{L"/v LOGFILE=D:\\DEBUG\\fw.log", L"D:"},
                      LogPathCase{L"/v LOGFILE=FORCE.log", L"FORCE.log"},
                      LogPathCase{L"/v LOGFILE=a.log DEBUG FORCE", L"a.log DEBUG"},
                      LogPathCase{L"/v LOGFILE=\"", L""}, LogPathCase{L"/v", L""},
                      LogPathCase{L"/v LOGFILE=", L""},
                      LogPathCase{L"LOGFILE=x.log EXTRACTDRIVERS /v", L"x.log"},
                      LogPathCase{L"/v logfile=x.log", L""}));

struct SwitchCase {
    const wchar_t* arguments;
    bool silent;
    bool log_enabled;
    bool check_only = false;
    bool help = false;
};

class SwitchTest : public ::testing::TestWithParam<SwitchCase> {};

// "/s" and "/v" are case-sensitive substrings; "/c" and "/?" words of their own in either case.
TEST_P(SwitchTest, SwitchesFollowTheirRules) {
    test::Sandbox sandbox;
    _parse_command_line(GetParam().arguments);
    EXPECT_EQ(g_run_options.silent, GetParam().silent);
    EXPECT_EQ(g_run_options.log_enabled, GetParam().log_enabled);
    EXPECT_EQ(g_run_options.check_only, GetParam().check_only);
    EXPECT_EQ(g_run_options.help, GetParam().help);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SwitchTest,
    ::testing::Values(SwitchCase{L"", false, false}, SwitchCase{L"/s", true, false},
                      SwitchCase{L"/S /V", false, false}, SwitchCase{L"/s /v", true, true},
                      SwitchCase{L"LOGFILE=D:/sw/fw.log", true, false},
                      SwitchCase{L"/vLOGFILE=x", false, true},
                      // A check shows nothing, so it is silent too.
                      SwitchCase{L"/c", true, false, true},
                      SwitchCase{L"/S\t/C", true, false, true},
                      SwitchCase{L"/v /c LOGFILE=fw.log", true, true, true},
                      SwitchCase{L"/v LOGFILE=D:\\x/c\\fw.log", false, true},
                      SwitchCase{L"/cx /xc", false, false},
                      // The usage, and nothing else: no log.
                      SwitchCase{L"/s /v LOGFILE=fw.log /?", false, false, false, true},
                      SwitchCase{L"a/? /?b", false, false}));

// The folders of LOGFILE= that do not exist yet are made, so that the log lands; a file in the
// way of one leaves the run without a log, as before.
struct LogFolderCase {
    const wchar_t* arguments;
    const char* log;
    bool lands;
};

class LogFolderTest : public ::testing::TestWithParam<LogFolderCase> {};

TEST_P(LogFolderTest, MissingFoldersAreMade) {
    test::Sandbox sandbox;
    sandbox.write_text("blocked", "a file");
    _parse_command_line(GetParam().arguments);
    EXPECT_EQ(std::filesystem::is_regular_file(GetParam().log), GetParam().lands);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogFolderTest,
    ::testing::Values(LogFolderCase{L"/v LOGFILE=logs\\fw.log", "logs/fw.log", true},
                      LogFolderCase{L"/v LOGFILE=\"logs\\run 1\\deep\\fw.log\"",
                                    "logs/run 1/deep/fw.log", true},
                      LogFolderCase{L"/v LOGFILE=blocked\\fw.log", "blocked/fw.log", false}));

TEST(CommandLine, LogFileWithoutLogSwitchIsIgnored) {
    test::Sandbox sandbox;
    _parse_command_line(L"LOGFILE=fw.log");
    EXPECT_FALSE(g_run_options.log_enabled);
    EXPECT_STREQ(g_run_options.log_path, L"");
    EXPECT_FALSE(std::filesystem::exists("fw.log"));
}

TEST(CommandLine, OverlongLogPathLeavesPathEmpty) {
    test::Sandbox sandbox;
    const std::wstring fits(519, L'a');
    _parse_command_line((L"/v LOGFILE=" + fits).c_str());
    EXPECT_EQ(std::wcslen(g_run_options.log_path), 519u);

    test::reset_program();
    const std::wstring too_long(520, L'a');
    _parse_command_line((L"/v LOGFILE=\"" + too_long + L"\"").c_str());
    EXPECT_TRUE(g_run_options.log_enabled);
    EXPECT_STREQ(g_run_options.log_path, L"");
}

// The words of other tools after the path are cut away before the length limit applies.
TEST(CommandLine, LongTailAfterAKeywordKeepsThePath) {
    test::Sandbox sandbox;
    const std::wstring tail(600, L'x');
    _parse_command_line((L"/v LOGFILE=fw.log FORCERESTART " + tail).c_str());
    EXPECT_STREQ(g_run_options.log_path, L"fw.log");
    EXPECT_EQ(test::log_lines("fw.log").size(), 2u); // "Command:" (cut to 511) and "Executed:"

    // A path that is itself too long still leaves no path, tail or not.
    test::reset_program();
    const std::wstring long_path(600, L'p');
    _parse_command_line((L"/v LOGFILE=" + long_path + L" DEBUG").c_str());
    EXPECT_STREQ(g_run_options.log_path, L"");
}

TEST(CommandLine, CommandAndExecutedLinesUseTheClock) {
    test::Sandbox sandbox;
    test::load_scenario(R"({"time": "2024-12-31 23:59:58"})");
    _parse_command_line(L"/v other words LOGFILE=fw.log");
    EXPECT_EQ(test::log_lines("fw.log"),
              (std::vector<std::string>{"Command:/v other words LOGFILE=fw.log",
                                        "Executed:2024/12/31 23:59:58"}));
}

} // namespace
