// The argument string: switches, the log path and its cut at the option keywords.
#include <gtest/gtest.h>

#include "app/run_log.h"
#include "app/run_options.h"
#include "host/handles.h"
#include "test_support.h"

using namespace norvane;

namespace {

// The start of a run with a log: the command line, then the log's folders and first lines.
void start_run_log(const wchar_t* arguments) {
    _parse_command_line(arguments);
    _start_run_log(arguments);
}

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
                      // The usage, and nothing else: no log (and with /s, no box).
                      SwitchCase{L"/s /v LOGFILE=fw.log /?", true, false, false, true},
                      SwitchCase{L"a/? /?b", false, false}));

// The folders of LOGFILE= that do not exist yet are made, so that the log lands; a file in the
// way of one leaves the run without a log, as before. The path is made full first: no folder is
// made that it only passes through, and a path that names a folder makes none.
struct LogFolderCase {
    const wchar_t* arguments;
    const char* log;    // the log file that lands, or null
    const char* absent; // what must not exist afterwards, or null
};

class LogFolderTest : public ::testing::TestWithParam<LogFolderCase> {};

TEST_P(LogFolderTest, MissingFoldersAreMade) {
    test::Sandbox sandbox;
    sandbox.write_text("blocked", "a file");
    start_run_log(GetParam().arguments);
    if (GetParam().log != nullptr) {
        EXPECT_TRUE(std::filesystem::is_regular_file(GetParam().log));
    }
    if (GetParam().absent != nullptr) {
        EXPECT_FALSE(std::filesystem::exists(GetParam().absent));
    }
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogFolderTest,
    ::testing::Values(LogFolderCase{L"/v LOGFILE=logs\\fw.log", "logs/fw.log", nullptr},
                      LogFolderCase{L"/v LOGFILE=\"logs\\run 1\\deep\\fw.log\"",
                                    "logs/run 1/deep/fw.log", nullptr},
                      LogFolderCase{L"/v LOGFILE=blocked\\fw.log", nullptr, "blocked/fw.log"},
                      LogFolderCase{L"/v LOGFILE=stray\\..\\logs\\fw.log", "logs/fw.log", "stray"},
                      LogFolderCase{L"/v LOGFILE=a\\b\\", nullptr, "a"},
                      LogFolderCase{L"/v LOGFILE=q\\fw.log\\", nullptr, "q"}));

// Of a UNC path only the folders after its share are made; in a device namespace none.
struct FoldersAskedCase {
    const wchar_t* arguments;
    std::vector<std::wstring> asked;
};

class FoldersAskedTest : public ::testing::TestWithParam<FoldersAskedCase> {};

TEST_P(FoldersAskedTest, OnlyTheFoldersOfThePathAreMade) {
    test::Sandbox sandbox;
    start_run_log(GetParam().arguments);
    EXPECT_EQ(sim::pc().folders_asked, GetParam().asked);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FoldersAskedTest,
    ::testing::Values(FoldersAskedCase{L"/v LOGFILE=\\\\server\\share\\PC1\\fw.log",
                                       {L"\\\\server\\share\\PC1"}},
                      FoldersAskedCase{L"/v LOGFILE=\\\\server\\share\\fw.log", {}},
                      FoldersAskedCase{L"/v LOGFILE=\\\\.\\pipe\\logs\\fw.log", {}},
                      FoldersAskedCase{L"/v LOGFILE=\\\\?\\C:\\Logs\\fw.log", {}}));

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
    start_run_log((L"/v LOGFILE=fw.log FORCERESTART " + tail).c_str());
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
    start_run_log(L"/v other words LOGFILE=fw.log");
    EXPECT_EQ(test::log_lines("fw.log"),
              (std::vector<std::string>{"Command:/v other words LOGFILE=fw.log",
                                        "Executed:2024/12/31 23:59:58"}));
}

} // namespace
