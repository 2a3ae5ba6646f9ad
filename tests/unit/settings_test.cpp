// Setting.ini: the mask and WAIT, and where the file is looked for.
#include <fstream>
#include <gtest/gtest.h>

#include "app/settings.h"
#include "host/handles.h"
#include "test_support.h"

using namespace norvane;

namespace {

struct SettingsCase {
    const char* name;
    const char* text; // null: no file at all
    SettingFlags mask;
    std::uint32_t wait;
    // Where the file is put: the name is matched without regard to case, as on Windows, and only
    // the current folder is looked in, not the program's.
    const char* file = "Setting.ini";
    // Another program rewrites the file with this text when the first key is read; the run holds
    // it open sharing reading only, so that no writer gets in between the reads.
    const char* writer = nullptr;
};

class SettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsTest, MaskAndWait) {
    test::Sandbox sandbox;
    if (GetParam().text != nullptr) {
        std::filesystem::create_directories((sandbox.folder() / GetParam().file).parent_path());
        sandbox.write_text(GetParam().file, GetParam().text);
    }
    if (GetParam().writer != nullptr) {
        test::load_scenario(test::Json{{"settings_writer", GetParam().writer}}.dump());
    }
    SettingFlags mask = 0;
    EXPECT_TRUE(_load_settings(mask));
    EXPECT_EQ(mask, GetParam().mask);
    EXPECT_EQ(g_wait_ms, GetParam().wait);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsTest,
    ::testing::Values(
        SettingsCase{"no_file", nullptr, 0x3F, 2}, SettingsCase{"empty_file", "", 0x3F, 2},
        SettingsCase{"other_section", "[Other]\nAC=0\nWAIT=9\n", 0x3F, 2},
        SettingsCase{"ac_pid_off", "[Setting]\r\nAC=0\r\nPID=0\r\n", 0x3C, 2},
        SettingsCase{"ac_two", "[Setting]\nAC=2\nPID=0\n", 0x3E, 2},
        SettingsCase{"ac_three", "[Setting]\nAC=3\nPID=0\n", 0x3F, 2},
        SettingsCase{"conf_two", "[Setting]\nCONF=2\nROLLBACK=0\n", 0x2F, 2},
        SettingsCase{"pnpid_two", "[Setting]\nPNPID=2\n", 0xBF, 2},
        SettingsCase{"pnpid_on", "[Setting]\nPNPID=1\nWAIT=5\n", 0x7F, 5},
        SettingsCase{"rollback_off", "[Setting]\nROLLBACK=0\nPNPID=1\nWAIT=5\n", 0x5F, 5},
        SettingsCase{"wait_zero", "[Setting]\nWAIT=0\n", 0x3F, 0},
        SettingsCase{"all_off",
                     "[Setting]\nAC=0\nPID=0\nSYS=0\nINFO=0\nCONF=0\n"
                     "ROLLBACK=0\nPNPID=0\n",
                     0x00, 2},
        SettingsCase{"lower_case_name", "[Setting]\nWAIT=7\n", 0x3F, 7, "setting.ini"},
        SettingsCase{"beside_the_program_only", "[Setting]\nAC=0\nWAIT=9\n", 0x3F, 2,
                     "program/Setting.ini"},
        SettingsCase{"kept_from_a_writer", "[Setting]\nPNPID=1\nWAIT=5\n", 0x7F, 5, "Setting.ini",
                     "[Setting]\nPNPID=0\nWAIT=9\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Settings, FolderTooDeepForThePathIsAFailureNotTheDefaults) {
    test::Sandbox sandbox;
    sandbox.enter_deep_folder();
    {
        std::ofstream file("Setting.ini");
        file << "[Setting]\nAC=0\nWAIT=9\n";
    }
    SettingFlags mask = 0;
    EXPECT_FALSE(_load_settings(mask)); // the file is there: its checks must not be dropped
    EXPECT_EQ(mask, 0x3Fu);
    EXPECT_EQ(g_wait_ms, 2u);
    std::filesystem::current_path(sandbox.folder());
}

} // namespace
