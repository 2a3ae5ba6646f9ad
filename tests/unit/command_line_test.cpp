// The argument string: switches, the log path and its cut at the option keywords.
#include <gtest/gtest.h>

#include "app/run_options.h"
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
};

class SwitchTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchTest, SwitchesAreCaseSensitiveSubstrings) {
    test::Sandbox sandbox;
    _parse_command_line(GetParam().arguments);
    EXPECT_EQ(g_run_options.silent, GetParam().silent);
    EXPECT_EQ(g_run_options.log_enabled, GetParam().log_enabled);
}

INSTANTIATE_TEST_SUITE_P(Table, SwitchTest,
                         ::testing::Values(SwitchCase{L"", false, false},
                                           SwitchCase{L"/s", true, false},
                                           SwitchCase{L"/S /V", false, false},
                                           SwitchCase{L"/s /v", true, true},
                                           SwitchCase{L"LOGFILE=D:/sw/fw.log", true, false},
                                           SwitchCase{L"/vLOGFILE=x", false, true}));

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
