// The message buffer and the bytes of the run log file.
#include <fstream>
#include <gtest/gtest.h>

#include "app/run_log.h"
#include "app/run_options.h"
#include "host/handles.h"
#include "platform/win32.h"
#include "test_support.h"

using namespace norvane;

namespace {

struct FormatCase {
    const wchar_t* format;
    int value;
    const wchar_t* expected;
};

class FormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, Conversions) {
    MessageBuffer buffer;
    _format_message(buffer, GetParam().format, GetParam().value);
    EXPECT_STREQ(buffer, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FormatTest,
                         ::testing::Values(FormatCase{L"Exit code = %d", 1603, L"Exit code = 1603"},
                                           FormatCase{L"Exit code = %d", -5, L"Exit code = -5"},
                                           FormatCase{L"%02d", 7, L"07"},
                                           FormatCase{L"%02d", 2024, L"2024"},
                                           FormatCase{L"%x", 0xab, L"ab"},
                                           FormatCase{L"%x", 0, L"0"},
                                           FormatCase{L"100%%", 0, L"100%"},
                                           FormatCase{L"no conversion", 0, L"no conversion"}));

TEST(Format, VersionPatternShowsMinorAsTwoDigits) {
    MessageBuffer buffer;
    _format_message(buffer, L"%x.%x%x", 0x0A, 0x1, 0xB);
    EXPECT_STREQ(buffer, L"a.1b");
    _format_message(buffer, L"%s and %s", L"wide", L"strings");
    EXPECT_STREQ(buffer, L"wide and strings");
}

TEST(Format, LongTextIsCutTo511Characters) {
    MessageBuffer buffer;
    const std::wstring long_text(2000, L'x');
    const int written = _format_message(buffer, L"Command:%s", long_text.c_str());
    EXPECT_EQ(written, 511);
    EXPECT_EQ(std::wcslen(buffer), 511u);
    EXPECT_EQ(std::wstring(buffer).substr(0, 8), L"Command:");
}

TEST(WideCopy, CopyAndAppendNeverOverflowAndReportCuts) {
    wchar_t small[6];
    EXPECT_TRUE(_copy_wide(small, 6, L"abc"));
    EXPECT_FALSE(_append_wide(small, 6, L"defg"));
    EXPECT_STREQ(small, L"abcde");
    EXPECT_FALSE(_copy_wide(small, 6, L"0123456789"));
    EXPECT_STREQ(small, L"01234");
}

TEST(LogEncoding, OneBytePerCharacterQuestionMarkOtherwiseCrLf) {
    unsigned char bytes[32];
    const wchar_t text[] = {L'A', 0xE9, L'\n', 0x3042, 0xFF, 0x100, 0};
    const std::size_t count = _encode_log_text(text, bytes, sizeof(bytes));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), count),
              std::string("A\xE9\r\n?\xFF?", 7));
}

TEST(RunLog, EntriesAppendWithCrLfAndNothingWhenLoggingIsOff) {
    test::Sandbox sandbox;
    sandbox.write_text("fw.log", "earlier run\r\n");
    g_run_options.log_enabled = false;
    _copy_wide(g_run_options.log_file, kLogPathCapacity, L"fw.log");
    _write_log(L"not written");
    g_run_options.log_enabled = true;
    _write_log(L"Completed:2024/03/05 09:08:41\n");
    _write_log(L"Current FW version:3.07\nNew FW version:3.08");
    EXPECT_EQ(sandbox.read_file("fw.log"), "earlier run\r\nCompleted:2024/03/05 09:08:41\r\n\r\n"
                                           "Current FW version:3.07\r\nNew FW version:3.08\r\n");
    EXPECT_EQ(host_handles_open_total(), 0u);
}

// Another program holds the log open: a viewer that shares reading and writing costs no entry;
// one that keeps others from writing, or a second writer, does.
struct HolderCase {
    const char* name;
    DWORD access;
    DWORD share;
    const char* log;
};

class LogHolderTest : public ::testing::TestWithParam<HolderCase> {};

TEST_P(LogHolderTest, EntryWhileAnotherProgramHoldsTheLog) {
    test::Sandbox sandbox;
    g_run_options.log_enabled = true;
    _copy_wide(g_run_options.log_file, kLogPathCapacity, L"held.log");
    HANDLE holder = CreateFileW(L"held.log", GetParam().access, GetParam().share, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    _write_log(L"held");
    CloseHandle(holder);
    _write_log(L"kept");
    EXPECT_EQ(sandbox.read_file("held.log"), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogHolderTest,
    ::testing::Values(
        HolderCase{"viewer", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, "held\r\nkept\r\n"},
        HolderCase{"exclusive_reader", GENERIC_READ, 0, "kept\r\n"},
        HolderCase{"reader_sharing_reads_only", GENERIC_READ, FILE_SHARE_READ, "kept\r\n"},
        HolderCase{"second_writer", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, "kept\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunLog, UnusablePathsWriteNothingAndDoNotFail) {
    test::Sandbox sandbox;
    std::filesystem::create_directory("adir");
    g_run_options.log_enabled = true;
    for (const wchar_t* path : {L"", L"bad|name.log", L"missing\\fw.log", L"adir", L"fw.log\""}) {
        _copy_wide(g_run_options.log_file, kLogPathCapacity, path);
        _write_log(L"entry");
    }
    EXPECT_FALSE(std::filesystem::exists("missing"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."),
                            std::filesystem::directory_iterator()),
              1); // only adir
    EXPECT_EQ(host_handles_open_total(), 0u);
}

// The elevated program never writes through a link that a standard user planted in the folder.
struct LinkCase {
    const char* name;
    void (*plant)(); // makes fw.log something other than a plain file
    const char* target;
    const char* target_text; // what the target holds afterwards; null: it must not exist
};

void plant_symlink() {
    std::ofstream("protected.txt") << "protected";
    std::filesystem::create_symlink("protected.txt", "fw.log");
}

void plant_dangling_symlink() {
    std::filesystem::create_symlink("created.txt", "fw.log");
}

void plant_junction() {
    std::filesystem::create_directory("system");
    std::filesystem::create_directory_symlink("system", "fw.log");
}

void plant_hard_link() {
    std::ofstream("protected.txt") << "protected";
    std::filesystem::create_hard_link("protected.txt", "fw.log");
}

class LogLinkTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LogLinkTest, LinkedLogIsRefusedAndTheRunGoesOn) {
    test::Sandbox sandbox;
    GetParam().plant();
    g_run_options.log_enabled = true;
    _copy_wide(g_run_options.log_file, kLogPathCapacity, L"fw.log");
    _write_log(L"entry");
    if (GetParam().target_text == nullptr) {
        EXPECT_FALSE(std::filesystem::exists(GetParam().target));
    } else {
        EXPECT_EQ(sandbox.read_file(GetParam().target), GetParam().target_text);
    }
    EXPECT_EQ(host_handles_open_total(), 0u);

    // A plain log beside it is written as before.
    _copy_wide(g_run_options.log_file, kLogPathCapacity, L"plain.log");
    _write_log(L"entry");
    EXPECT_EQ(sandbox.read_file("plain.log"), "entry\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogLinkTest,
    ::testing::Values(LinkCase{"symlink", plant_symlink, "protected.txt", "protected"},
                      LinkCase{"dangling_symlink", plant_dangling_symlink, "created.txt", nullptr},
                      LinkCase{"junction", plant_junction, "system/fw.log", nullptr},
                      LinkCase{"hard_link", plant_hard_link, "protected.txt", "protected"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
