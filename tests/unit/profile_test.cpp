// GetPrivateProfileIntW on the host against what Wine 8.0 answered for the same files
// (tests/tools/wine/profile_cases.h, gathered by tests/tools/wine/profile_probe.c).
#include <gtest/gtest.h>
#include <type_traits>

#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/harness.h"
#include "host/handles.h"
#include "host/wide_path.h"
#include "platform/win32.h"

extern "C" {
#include "tests/tools/wine/profile_cases.h"
}

namespace {

struct ProfileCase {
    const char* name;
    int encoding;
    std::string content;
    const char* section;
    const char* key;
    int default_value;
    UINT expected;
};

void PrintTo(const ProfileCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<ProfileCase>& profile_cases() {
    static const std::vector<ProfileCase> cases = {
#define PROFILE_CASE(name, encoding, content, section, key, default_value, expected)               \
    {#name,         encoding, std::string(content, sizeof(content) - 1), section, key,             \
     default_value, expected},
        PROFILE_CASES
#undef PROFILE_CASE
    };
    return cases;
}

// A fresh folder that is the current directory for the length of one test.
class ScratchFolder : public harness::ScratchFolder {
  public:
    ScratchFolder() : harness::ScratchFolder("profile_test") {}

    // The full path as the product builds it: the current directory, a backslash, the name.
    std::wstring windows_path(const std::string& name) const {
        std::wstring wide;
        host_wide_from_utf8(path().string() + "\\" + name, wide);
        return wide;
    }
};

void write_file(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string utf16_bytes(const std::string& utf8, bool big_endian) {
    std::wstring wide;
    EXPECT_TRUE(host_wide_from_utf8(utf8, wide));
    std::vector<unsigned> units;
    for (wchar_t ch : wide) {
        const auto code = static_cast<unsigned>(static_cast<std::make_unsigned_t<wchar_t>>(ch));
        if (code < 0x10000) {
            units.push_back(code);
        } else {
            units.push_back(0xD800 + ((code - 0x10000) >> 10));
            units.push_back(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    std::string bytes;
    for (unsigned unit : units) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? high : low;
        bytes += big_endian ? low : high;
    }
    return bytes;
}

void store_case(const std::string& file, const ProfileCase& c) {
    switch (c.encoding) {
    case PROFILE_NO_FILE:
        return;
    case PROFILE_FOLDER:
        ASSERT_EQ(::mkdir(file.c_str(), 0755), 0);
        return;
    case PROFILE_UTF8_BOM:
        write_file(file, "\xEF\xBB\xBF" + c.content);
        return;
    case PROFILE_UTF16LE_BOM:
        write_file(file, "\xFF\xFE" + utf16_bytes(c.content, false));
        return;
    case PROFILE_UTF16LE:
        write_file(file, utf16_bytes(c.content, false));
        return;
    case PROFILE_UTF16BE_BOM:
        write_file(file, "\xFE\xFF" + utf16_bytes(c.content, true));
        return;
    default:
        write_file(file, c.content);
        return;
    }
}

std::wstring wide(const char* utf8) {
    std::wstring out;
    EXPECT_TRUE(host_wide_from_utf8(utf8, out));
    return out;
}

class ProfileShapes : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileShapes, ReadsAsWineDoes) {
    const ProfileCase& c = GetParam();
    ScratchFolder folder;
    const std::string file = std::string("case_") + c.name + ".ini";
    store_case(file, c);
    const UINT result = GetPrivateProfileIntW(wide(c.section).c_str(), wide(c.key).c_str(),
                                              c.default_value, folder.windows_path(file).c_str());
    EXPECT_EQ(result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(WineTable, ProfileShapes, ::testing::ValuesIn(profile_cases()),
                         [](const ::testing::TestParamInfo<ProfileCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Profile, BareNameLooksInTheWindowsFolderNotTheCurrentOne) {
    ScratchFolder folder;
    write_file("Setting.ini", "[Setting]\r\nAC=5\r\n");
    EXPECT_EQ(GetPrivateProfileIntW(L"Setting", L"AC", 9, L"Setting.ini"), 9u);
    EXPECT_EQ(GetPrivateProfileIntW(L"Setting", L"AC", 9, L".\\Setting.ini"), 5u);
}

TEST(Profile, FileNameIsFoundWithoutRegardToCase) {
    ScratchFolder folder;
    write_file("SETTING.INI", "[Setting]\r\nWAIT=5\r\n");
    EXPECT_EQ(
        GetPrivateProfileIntW(L"Setting", L"WAIT", 2, folder.windows_path("Setting.ini").c_str()),
        5u);
}

TEST(Profile, RootFolderPathWithTwoSeparatorsIsRead) {
    ScratchFolder folder;
    write_file("Setting.ini", "[Setting]\r\nWAIT=6\r\n");
    EXPECT_EQ(
        GetPrivateProfileIntW(L"Setting", L"WAIT", 2, folder.windows_path("\\Setting.ini").c_str()),
        6u);
}

TEST(Profile, FileHeldWithoutReadSharingGivesTheDefault) {
    ScratchFolder folder;
    write_file("Setting.ini", "[Setting]\r\nAC=0\r\n");
    HANDLE held = CreateFileW(L"Setting.ini", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::wstring path = folder.windows_path("Setting.ini");
    EXPECT_EQ(GetPrivateProfileIntW(L"Setting", L"AC", 1, path.c_str()), 1u);
    CloseHandle(held);
    EXPECT_EQ(GetPrivateProfileIntW(L"Setting", L"AC", 1, path.c_str()), 0u);
}

TEST(Profile, DriveLetterPathGivesTheDefault) {
    ScratchFolder folder;
    EXPECT_EQ(GetPrivateProfileIntW(L"Setting", L"AC", 3, L"C:\\Setting.ini"), 3u);
}

TEST(Profile, ReadingLeavesNoHandleOpen) {
    ScratchFolder folder;
    write_file("Setting.ini", "[Setting]\r\nAC=0\r\n");
    const std::size_t before = host_handles_open_total();
    GetPrivateProfileIntW(L"Setting", L"AC", 1, folder.windows_path("Setting.ini").c_str());
    EXPECT_EQ(host_handles_open_total(), before);
}

} // namespace
