// The kernel32 file, search, folder, module-name, local-memory and last-error stand-ins.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/harness.h"
#include "host/handles.h"
#include "host/wide_path.h"
#include "platform/win32.h"

namespace {

constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorAlreadyExists = 183;
constexpr DWORD kAttributeArchive = 0x20;
constexpr const wchar_t* kProgramPath = L"C:\\Program Files\\Norvane\\NorvaneFwUpdater.exe";

// A fresh folder that is the current directory for the length of one test.
class ScratchFolder : public harness::ScratchFolder {
  public:
    ScratchFolder()
        : harness::ScratchFolder("kernel32_files_test"),
          text_(harness::ScratchFolder::path().string()) {}

    const std::string& path() const {
        return text_;
    }

  private:
    std::string text_;
};

void write_file(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool is_folder(const std::string& name) {
    struct stat info;
    return ::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::wstring wide(const std::string& utf8) {
    std::wstring out;
    EXPECT_TRUE(host_wide_from_utf8(utf8, out));
    return out;
}

HANDLE open_file(const wchar_t* name, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileW(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// ---- directory search -----------------------------------------------------------------------

struct Found {
    std::string name;
    bool folder;
    bool operator==(const Found& other) const {
        return name == other.name && folder == other.folder;
    }
};

std::ostream& operator<<(std::ostream& out, const Found& found) {
    return out << found.name << (found.folder ? "/" : "");
}

// Runs a whole search; an empty result means FindFirstFileW failed (its error in `error`).
std::vector<Found> search_all(const wchar_t* pattern, DWORD& error) {
    std::vector<Found> found;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return found;
    }
    do {
        found.push_back({host_utf8_from_wide(data.cFileName),
                         (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &data));
    error = GetLastError();
    EXPECT_TRUE(FindClose(search));
    return found;
}

struct SearchCase {
    const char* name;
    std::vector<std::string> files;
    std::vector<std::string> folders;
    const wchar_t* pattern;
    std::vector<Found> expected; // empty: nothing found
};

void PrintTo(const SearchCase& c, std::ostream* out) {
    *out << c.name;
}

class BinSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(BinSearch, FindsWhatWindowsFinds) {
    const SearchCase& c = GetParam();
    ScratchFolder folder;
    for (const std::string& sub : c.folders) {
        ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    }
    for (const std::string& file : c.files) {
        write_file(file, "x");
    }
    const std::size_t searches_before = host_handles_open(HandleKind::Search);
    DWORD error = ERROR_SUCCESS;
    const std::vector<Found> found = search_all(c.pattern, error);
    EXPECT_EQ(found, c.expected);
    EXPECT_EQ(error, c.expected.empty() ? ERROR_FILE_NOT_FOUND : ERROR_NO_MORE_FILES);
    EXPECT_EQ(host_handles_open(HandleKind::Search), searches_before);
}

const SearchCase kSearchCases[] = {
    {"none", {"readme.txt", "fw.bin.txt", "fwbin"}, {"bin"}, L"*.bin", {}},
    {"empty_folder", {}, {}, L"*.bin", {}},
    {"two_files", {"b.bin", "a.bin"}, {}, L"*.bin", {{"a.bin", false}, {"b.bin", false}}},
    {"folder_beside_file",
     {"fw.bin"},
     {"old.bin"},
     L"*.bin",
     {{"fw.bin", false}, {"old.bin", true}}},
    {"folder_only", {"notes.txt"}, {"old.bin"}, L"*.bin", {{"old.bin", true}}},
    {"upper_case_name", {"FW.BIN"}, {}, L"*.bin", {{"FW.BIN", false}}},
    {"mixed_case_order",
     {"b.bin", "C.BIN", "A.Bin"},
     {},
     L"*.bin",
     {{"A.Bin", false}, {"b.bin", false}, {"C.BIN", false}}},
    {"just_the_extension", {".bin"}, {}, L"*.bin", {{".bin", false}}},
    {"latin1_case",
     {"\xc3\xa9t\xc3\xa9.bin"},
     {},
     L"\u00c9T\u00c9.BIN",
     {{"\xc3\xa9t\xc3\xa9.bin", false}}},
    {"question_mark", {"a.bin", "ab.bin"}, {}, L"?.bin", {{"a.bin", false}}},
    {"bare_name", {"SETTING.INI", "Setting.ini.bak"}, {}, L"Setting.ini", {{"SETTING.INI", false}}},
    {"bare_name_missing", {"Settings.ini"}, {}, L"Setting.ini", {}},
    {"star_lists_dots",
     {"a.txt"},
     {"sub"},
     L"*",
     {{".", true}, {"..", true}, {"a.txt", false}, {"sub", true}}},
    {"star_dot_star", {"noext"}, {}, L"*.*", {{".", true}, {"..", true}, {"noext", false}}},
    {"in_subfolder", {"sub/x.bin"}, {"sub"}, L"SUB\\*.bin", {{"x.bin", false}}},
    // Long names match through their 8.3 short names: FW~1.BIN, OLD~1.BIN.
    {"short_names",
     {"fw.binx", "old.bin2", "fw.bin~", "fw.binary.txt"},
     {},
     L"*.bin",
     {{"fw.binx", false}, {"fw.bin~", false}, {"old.bin2", false}}},
};

INSTANTIATE_TEST_SUITE_P(Table, BinSearch, ::testing::ValuesIn(kSearchCases),
                         [](const ::testing::TestParamInfo<SearchCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Search, ResultCarriesSizeAndAttributes) {
    ScratchFolder folder;
    ASSERT_EQ(::mkdir("sub", 0755), 0);
    write_file("sub/x.bin", "12345");
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(L"sub\\*.bin", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    EXPECT_EQ(data.dwFileAttributes, kAttributeArchive);
    EXPECT_STREQ(data.cFileName, L"x.bin");
    EXPECT_TRUE(FindClose(search));
}

TEST(Search, MissingFolderIsAMissingPath) {
    ScratchFolder folder;
    WIN32_FIND_DATAW data;
    EXPECT_EQ(FindFirstFileW(L"nowhere\\*.bin", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(Search, WildcardOutsideTheLastComponentIsRefused) {
    ScratchFolder folder;
    WIN32_FIND_DATAW data;
    EXPECT_EQ(FindFirstFileW(L"s*\\*.bin", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST(Search, NextAfterTheEndAndBadHandles) {
    ScratchFolder folder;
    write_file("a.bin", "x");
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(L"*.bin", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_FALSE(FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_FALSE(CloseHandle(search)); // a search is closed with FindClose only
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// ---- opening, reading and writing -----------------------------------------------------------

TEST(Files, FolderCannotBeOpenedAsAFile) {
    ScratchFolder folder;
    ASSERT_EQ(::mkdir("old.bin", 0755), 0);
    EXPECT_EQ(open_file(L"old.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(open_file(L"old.bin", GENERIC_READ | FILE_APPEND_DATA, 0, OPEN_ALWAYS),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(is_folder("old.bin"));
}

struct ShareCase {
    const char* name;
    DWORD first_access;
    DWORD first_share;
    DWORD second_access;
    DWORD second_share;
    bool second_opens;
};

void PrintTo(const ShareCase& c, std::ostream* out) {
    *out << c.name;
}

class Sharing : public ::testing::TestWithParam<ShareCase> {};

TEST_P(Sharing, SecondOpenOfTheSameFile) {
    const ShareCase& c = GetParam();
    ScratchFolder folder;
    write_file("fw.log", "abc");
    HANDLE first = open_file(L"fw.log", c.first_access, c.first_share, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    // Another spelling of the same file: other case, a "." component, the full path.
    const std::wstring other = wide(folder.path() + "\\.\\FW.LOG");
    HANDLE second = open_file(other.c_str(), c.second_access, c.second_share, OPEN_ALWAYS);
    if (c.second_opens) {
        EXPECT_NE(second, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(CloseHandle(second));
    } else {
        EXPECT_EQ(second, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = open_file(L"fw.log", c.second_access, c.second_share, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(again));
}

constexpr DWORD kShareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kLogAccess = GENERIC_READ | FILE_APPEND_DATA;

const ShareCase kShareCases[] = {
    {"exclusive_then_read", kLogAccess, 0, GENERIC_READ, kShareBoth, false},
    {"exclusive_then_exclusive", kLogAccess, 0, kLogAccess, 0, false},
    {"reader_then_exclusive", GENERIC_READ, kShareBoth, kLogAccess, 0, false},
    {"shared_readers", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
    {"reader_refuses_writer", GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareBoth, false},
    {"writer_needs_write_share", GENERIC_WRITE, kShareBoth, GENERIC_READ, FILE_SHARE_READ, false},
    {"writer_and_reader_share_all", GENERIC_WRITE, kShareBoth, GENERIC_READ, kShareBoth, true},
    {"appender_counts_as_writer", FILE_APPEND_DATA, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ,
     false},
    // Asking for no data access at all is never a sharing violation.
    {"no_data_access_beside_exclusive", kLogAccess, 0, 0, 0, true},
};

INSTANTIATE_TEST_SUITE_P(Table, Sharing, ::testing::ValuesIn(kShareCases),
                         [](const ::testing::TestParamInfo<ShareCase>& info) {
                             return std::string(info.param.name);
                         });

constexpr DWORD kOpenLinkItself = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

BY_HANDLE_FILE_INFORMATION information_of(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    EXPECT_TRUE(GetFileInformationByHandle(file, &information));
    return information;
}

TEST(Files, LinkOpenedAsItselfShowsAsAReparsePointAndTakesNoWrite) {
    ScratchFolder folder;
    write_file("real.txt", "real");
    ASSERT_EQ(::symlink("real.txt", "link.txt"), 0);
    ASSERT_EQ(::symlink("missing.txt", "dangling.txt"), 0);

    HANDLE link =
        CreateFileW(L"link.txt", kLogAccess, 0, nullptr, OPEN_ALWAYS, kOpenLinkItself, nullptr);
    ASSERT_NE(link, INVALID_HANDLE_VALUE);
    EXPECT_NE(information_of(link).dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(link, "x", 1, &written, nullptr));
    CloseHandle(link);
    EXPECT_EQ(read_file("real.txt"), "real");

    // Not even a missing target is created through a link opened as itself.
    HANDLE dangling =
        CreateFileW(L"dangling.txt", kLogAccess, 0, nullptr, OPEN_ALWAYS, kOpenLinkItself, nullptr);
    ASSERT_NE(dangling, INVALID_HANDLE_VALUE);
    CloseHandle(dangling);
    EXPECT_FALSE(std::filesystem::exists("missing.txt"));

    // Without the flag the link is followed, as Windows does.
    HANDLE followed = CreateFileW(L"link.txt", kLogAccess, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(followed, INVALID_HANDLE_VALUE);
    const BY_HANDLE_FILE_INFORMATION target = information_of(followed);
    EXPECT_EQ(target.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_EQ(target.nFileSizeLow, 4u);
    EXPECT_EQ(target.nNumberOfLinks, 1u);
    CloseHandle(followed);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

TEST(Files, HardLinkCountShowsOnTheHandle) {
    ScratchFolder folder;
    write_file("one.txt", "1");
    ASSERT_EQ(::link("one.txt", "two.txt"), 0);
    HANDLE file =
        CreateFileW(L"two.txt", kLogAccess, 0, nullptr, OPEN_ALWAYS, kOpenLinkItself, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(information_of(file).nNumberOfLinks, 2u);
    CloseHandle(file);
    BY_HANDLE_FILE_INFORMATION information{};
    EXPECT_FALSE(GetFileInformationByHandle(file, &information));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Files, RefusedCreateAlwaysDoesNotTruncateAHeldFile) {
    ScratchFolder folder;
    write_file("fw.log", "keep");
    HANDLE held = open_file(L"fw.log", kLogAccess, 0, OPEN_EXISTING);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open_file(L"fw.log", GENERIC_WRITE, kShareBoth, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(read_file("fw.log"), "keep");
    EXPECT_TRUE(CloseHandle(held));
}

TEST(Files, AppendAccessAlwaysWritesAtTheEnd) {
    ScratchFolder folder;
    write_file("fw.log", "abc");
    HANDLE file = open_file(L"fw.log", kLogAccess, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
    char first = 0;
    DWORD count = 0;
    ASSERT_TRUE(ReadFile(file, &first, 1, &count, nullptr)); // the pointer is now at 1
    EXPECT_EQ(first, 'a');
    ASSERT_TRUE(WriteFile(file, "Z\r\n", 3, &count, nullptr));
    EXPECT_EQ(count, 3u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(read_file("fw.log"), "abcZ\r\n");
}

TEST(Files, OpenAlwaysCreatesAMissingFile) {
    ScratchFolder folder;
    HANDLE file = open_file(L"new.log", kLogAccess, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file, "one", 3, &count, nullptr));
    EXPECT_TRUE(CloseHandle(file));
    file = open_file(L"new.log", kLogAccess, 0, OPEN_ALWAYS);
    ASSERT_TRUE(WriteFile(file, "two", 3, &count, nullptr));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(read_file("new.log"), "onetwo");
}

TEST(Files, WriteAccessWritesAtThePointer) {
    ScratchFolder folder;
    write_file("data.bin", "abc");
    HANDLE file = open_file(L"data.bin", GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file, "Z", 1, &count, nullptr));
    EXPECT_FALSE(ReadFile(file, &count, 1, &count, nullptr)); // no read access
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(read_file("data.bin"), "Zbc");
}

TEST(Files, ReadAtTheEndSucceedsWithFewerBytes) {
    ScratchFolder folder;
    write_file("short.bin", "xyz");
    HANDLE file = open_file(L"short.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[10] = {};
    DWORD count = 99;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof(buffer), &count, nullptr));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::string(buffer, 3), "xyz");
    EXPECT_TRUE(ReadFile(file, buffer, sizeof(buffer), &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr)); // no write access
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(file));
}

struct NameCase {
    const char* label;
    const wchar_t* name;
    DWORD disposition;
    DWORD error;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << c.label;
}

class RefusedNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(RefusedNames, FailWithWindowsError) {
    const NameCase& c = GetParam();
    ScratchFolder folder;
    const std::size_t files_before = host_handles_open(HandleKind::File);
    EXPECT_EQ(open_file(c.name, kLogAccess, 0, c.disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(host_handles_open(HandleKind::File), files_before);
    EXPECT_TRUE(std::filesystem::is_empty(".")) << "nothing may be created";
}

const NameCase kNameCases[] = {
    {"less_than", L"a<b.log", OPEN_ALWAYS, ERROR_INVALID_NAME},
    {"greater_than", L"a>b.log", OPEN_ALWAYS, ERROR_INVALID_NAME},
    {"colon", L"fw:1.log", OPEN_ALWAYS, ERROR_INVALID_NAME},
    {"double_quote", L"fw.log\"", OPEN_ALWAYS, ERROR_INVALID_NAME},
    {"bar", L"a|b.log", OPEN_ALWAYS, ERROR_INVALID_NAME},
    {"question_mark", L"a?.log", OPEN_ALWAYS, ERROR_INVALID_NAME},
    {"star", L"*.log", OPEN_ALWAYS, ERROR_INVALID_NAME},
    {"control_char", L"a\tb.log", OPEN_ALWAYS, ERROR_INVALID_NAME},
    {"quote_after_drive", L"D:\\fw.log\"", OPEN_ALWAYS, ERROR_INVALID_NAME},
    {"drive_path", L"D:\\fw.log", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
    {"drive_relative", L"D:fw.log", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
    {"drive_only", L"D:", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
    {"missing_folder", L"logs\\fw.log", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
    {"empty", L"", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
    {"missing_file", L"fw.log", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
    {"unknown_device", L"\\\\?\\hid#nothing", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
    {"bad_disposition", L"fw.log", 9, ERROR_INVALID_PARAMETER},
};

INSTANTIATE_TEST_SUITE_P(Table, RefusedNames, ::testing::ValuesIn(kNameCases),
                         [](const ::testing::TestParamInfo<NameCase>& info) {
                             return std::string(info.param.label);
                         });

TEST(Files, NullNameIsAMissingPath) {
    EXPECT_EQ(open_file(nullptr, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(Files, CreateNewRefusesAnExistingFile) {
    ScratchFolder folder;
    HANDLE file = open_file(L"once.log", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(open_file(L"once.log", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), kErrorFileExists);
}

TEST(Files, WindowsPathShapesMapOntoTheHost) {
    ScratchFolder folder;
    ASSERT_EQ(::mkdir("Logs", 0755), 0);
    const std::wstring mixed = wide(folder.path() + "\\logs\\run.log");
    const wchar_t* names[] = {L"logs\\a.log", L"Logs/b.log", L"c.log. ", mixed.c_str()};
    for (const wchar_t* name : names) {
        HANDLE file = open_file(name, kLogAccess, 0, OPEN_ALWAYS);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << host_utf8_from_wide(name);
        EXPECT_TRUE(CloseHandle(file));
    }
    for (const char* made : {"Logs/a.log", "Logs/b.log", "c.log", "Logs/run.log"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(made)) << made;
    }
}

TEST(Files, CloseHandleRefusesUnknownHandles) {
    int not_a_handle = 0;
    EXPECT_FALSE(CloseHandle(&not_a_handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(Files, EveryHandleIsInTheTableUntilClosed) {
    ScratchFolder folder;
    const std::size_t before = host_handles_open(HandleKind::File);
    HANDLE file = open_file(L"t.log", kLogAccess, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(host_handles_open(HandleKind::File), before + 1);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(host_handles_open(HandleKind::File), before);
    EXPECT_FALSE(CloseHandle(file)); // twice
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// ---- current directory and module name ------------------------------------------------------

class CurrentDirectoryBuffer : public ::testing::TestWithParam<int> {};

// The parameter is the buffer size relative to the directory's length.
TEST_P(CurrentDirectoryBuffer, FollowsTheWindowsSizeRule) {
    ScratchFolder folder;
    const std::wstring expected = wide(folder.path());
    const auto length = static_cast<DWORD>(expected.size());
    const auto size = static_cast<DWORD>(static_cast<int>(length) + GetParam());
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 8, L'#');
    const DWORD result = GetCurrentDirectoryW(size, buffer.data());
    if (size < length + 1) {
        EXPECT_EQ(result, length + 1);
        EXPECT_EQ(buffer[0], L'#') << "nothing is written into a buffer that is too small";
    } else {
        EXPECT_EQ(result, length);
        EXPECT_EQ(std::wstring(buffer.data()), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, CurrentDirectoryBuffer, ::testing::Values(-3, -1, 0, 1, 2, 7));

TEST(CurrentDirectory, SizeQueryWithoutABuffer) {
    ScratchFolder folder;
    EXPECT_EQ(GetCurrentDirectoryW(0, nullptr), wide(folder.path()).size() + 1);
}

TEST(CurrentDirectory, ProductPathShapeOpensTheFile) {
    ScratchFolder folder;
    write_file("Setting.ini", "[Setting]\r\n");
    wchar_t path[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length + 13, MAX_PATH);
    std::wcscat(path, L"\\Setting.ini");
    HANDLE file = open_file(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(file));
}

TEST(ModuleName, WholeNameFits) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    EXPECT_EQ(length, std::wcslen(kProgramPath));
    EXPECT_STREQ(buffer, kProgramPath);
}

TEST(ModuleName, ShortBufferIsCutAndTerminated) {
    wchar_t buffer[5] = {L'#', L'#', L'#', L'#', L'#'};
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 5), 5u);
    EXPECT_STREQ(buffer, L"C:\\P");
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    const auto exact = static_cast<DWORD>(std::wcslen(kProgramPath));
    std::vector<wchar_t> tight(exact);
    EXPECT_EQ(GetModuleFileNameW(nullptr, tight.data(), exact), exact); // no room for the NUL
    EXPECT_EQ(tight[exact - 1], L'\0');
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 0), 0u);
}

// ---- local memory and the last error --------------------------------------------------------

TEST(LocalMemory, BlocksAreZeroFilledAndCounted) {
    const std::size_t before = host_handles_open(HandleKind::LocalMemory);
    auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 300));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
    block[299] = 0xAB; // the whole size is usable
    void* empty = LocalAlloc(LPTR, 0);
    EXPECT_NE(empty, nullptr);
    EXPECT_EQ(host_handles_open(HandleKind::LocalMemory), before + 2);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(empty), nullptr);
    EXPECT_EQ(host_handles_open(HandleKind::LocalMemory), before);
}

TEST(LocalMemory, FreeingSomethingElseFails) {
    int not_a_block = 0;
    EXPECT_EQ(LocalFree(&not_a_block), &not_a_block);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    void* block = LocalAlloc(LPTR, 8);
    EXPECT_FALSE(CloseHandle(block)); // local memory is not a kernel handle
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(block), block); // twice
}

TEST(LocalMemory, MovableBlocksAreNotOffered) {
    constexpr UINT kLocalMoveable = 0x0002;
    EXPECT_EQ(LocalAlloc(kLocalMoveable, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(LastError, KeepsTheLastValueSet) {
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

} // namespace
