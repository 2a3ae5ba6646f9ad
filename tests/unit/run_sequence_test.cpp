// Every way out of the run before the update: its box, its log lines and its exit code.
#include <fstream>
#include <gtest/gtest.h>

#include "host/handles.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

struct ExitCase {
    const char* name;
    const char* settings; // Setting.ini text, or null for none
    const char* scenario; // scenario JSON
    bool image;           // put a valid image into the folder
    Lines boxes;          // transcript lines of the interactive run, in order
    Lines log_tail;       // log lines after "Command:" and "Executed:"
    int code;
};

const ExitCase kExitCases[] = {
    {"no_pnp_id",
     "[Setting]\r\nPNPID=1\r\n",
     R"({"mouse_devices": [["HID\\VID_1&PID_2"]]})",
     true,
     {"box Warning 0x30 Could not get Touchpad PnPID", "answer IDOK"},
     {"Could not get Touchpad PnPID.", "Exit code = 1603"},
     1603},
    {"foreign_pnp_id",
     "[Setting]\r\nPNPID=1\r\n",
     R"({"mouse_devices": [["ACPI*VORK0814&A"]], "power": {"ac_line_status": 0}})",
     true,
     {"box Warning 0x30 This is not target system.", "answer IDOK"},
     {"This is not target system.", "Exit code = 1603"},
     1603},
    {"on_battery",
     nullptr,
     R"({"power": {"ac_line_status": 0}})",
     true,
     {"box Warning 0x30 Please connect AC adaptor.", "answer IDOK"},
     {"AC adaptor does not connect to PC.", "Exit code = 1603"},
     1603},
    {"power_not_reported",
     nullptr,
     R"({"power": {"ac_line_status": 255}})",
     true,
     {"box Warning 0x30 Please connect AC adaptor.", "answer IDOK"},
     {"AC adaptor does not connect to PC.", "Exit code = 1603"},
     1603},
    {"no_image",
     nullptr,
     "{}",
     false,
     {"box Warning 0x30 Not Found .bin files.\\nPlease locate one .bin file to the folder.",
      "answer IDOK"},
     {"FW file cannot read.", "Exit code = 1603"},
     1603},
    {"no_device",
     nullptr,
     R"({"devices": []})",
     true,
     {"box Warning 0x30 Could not find Norvane device.", "answer IDOK"},
     {"Could not find Norvane device.", "Exit code = 1603"},
     1603},
    {"system_memory",
     nullptr,
     R"({"devices": [{"controller": {"system_memory": {"1": 0}}}]})",
     true,
     {"box Warning 0x30 System memory does not match.", "answer IDOK"},
     {"System memory does not match.", "Exit code = 1603"},
     1603},
    {"information_memory",
     nullptr,
     R"({"devices": [{"controller": {"information_memory": {"1023": 0}}}]})",
     true,
     {"box Warning 0x30 Information memory does not match.", "answer IDOK"},
     {"Information memory does not match.", "Exit code = 1603"},
     1603},
    {"config_version",
     nullptr,
     R"({"devices": [{"controller": {"config_version": 9}}]})",
     true,
     {"box Warning 0x30 Config version does not match.", "answer IDOK"},
     {"Config version does not match.", "Exit code = 1603"},
     1603},
    {"version_unreadable",
     nullptr,
     R"({"devices": [{"controller": {"faults": [{"on": "read", "address": "0x110003", "fail_get": true}]}}]})",
     true,
     {"debug _read_register_byte: address 0x110003, error 31 (A device attached to the system is "
      "not functioning.)",
      "debug Fail - _get_Fw_version()"},
     {"Firmware version cannot get.", "Exit code = 1603"},
     1603},
    {"not_newer",
     nullptr,
     R"({"devices": [{"controller": {"firmware_version": "3.08"}}]})",
     true,
     {"box Information 0x40 Touchpad Firmware that you about to update is older or the same as "
      "current Firmware. You don't need to update this Firmware.",
      "answer IDOK"},
     {"Exit code = 8"},
     8},
    {"declined",
     nullptr,
     R"({"answers": {"question": "no"}})",
     true,
     {"box Question 0x24 Current FW version is 3.07\\nWould you like to update FW to 3.08 ?",
      "answer IDNO"},
     {"Exit code = 0"},
     0},
    // A question box that could not be shown is no Yes.
    {"question_failed",
     nullptr,
     R"({"answers": {"question": "fail"}})",
     true,
     {"box Question 0x24 Current FW version is 3.07\\nWould you like to update FW to 3.08 ?",
      "answer none"},
     {"The update question could not be shown.", "Exit code = 1603"},
     1603},
    // Another updater holds the one-updater lock: retry later, nothing touched.
    {"another_updater",
     nullptr,
     R"({"updater_lock": "held"})",
     true,
     {"box Warning 0x30 Another Norvane FW Updater is running.", "answer IDOK"},
     {"Another Norvane FW Updater is running.", "Exit code = 1618"},
     1618},
    // A window station nobody sees (SYSTEM in session 0): no question that would wait for ever.
    {"nobody_to_answer",
     nullptr,
     R"({"window_station": "hidden"})",
     true,
     {},
     {"No one can answer the update question: run with /s.", "Exit code = 1603"},
     1603},
    // A window station whose flags cannot be read says nothing against asking.
    {"station_query_fails",
     nullptr,
     R"({"window_station": "query_fails", "answers": {"question": "no"}})",
     true,
     {"box Question 0x24 Current FW version is 3.07\\nWould you like to update FW to 3.08 ?",
      "answer IDNO"},
     {"Exit code = 0"},
     0},
    // Session 0 (SYSTEM from a deployment tool) is seen by nobody, whatever its window station.
    {"session_zero",
     nullptr,
     R"({"session_id": 0})",
     true,
     {},
     {"No one can answer the update question: run with /s.", "Exit code = 1603"},
     1603},
    // Versions that say "up to date" prove nothing of a controller that does not report normal
    // mode.
    {"mode_unreadable",
     nullptr,
     R"({"devices": [{"controller": {"firmware_version": "3.08",
         "faults": [{"on": "read", "address": "0x80002D", "value": "0x30"}]}}]})",
     true,
     {"box Warning 0x30 Controller mode could not be read.", "answer IDOK"},
     {"Controller mode could not be read.", "Exit code = 1603"},
     1603},
    // WAIT=-1 reads as 4294967295, a pause without end: refused before the device is touched.
    {"wait_unbounded",
     "[Setting]\nWAIT=-1\n",
     "{}",
     true,
     {"box Warning 0x30 WAIT in Setting.ini is above 1000 ms.", "answer IDOK"},
     {"WAIT in Setting.ini is above 1000 ms.", "Exit code = 1603"},
     1603},
};

class RunExitTest : public ::testing::TestWithParam<ExitCase> {
  protected:
    void prepare(const test::Sandbox& sandbox) const {
        if (GetParam().image) {
            sandbox.add_image();
        }
        if (GetParam().settings != nullptr) {
            sandbox.write_text("Setting.ini", GetParam().settings);
        }
        test::load_scenario(GetParam().scenario);
    }
};

TEST_P(RunExitTest, InteractiveRunShowsBoxLogsAndExits) {
    test::Sandbox sandbox;
    prepare(sandbox);
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), GetParam().code);
    EXPECT_EQ(test::transcript(), GetParam().boxes);
    Lines lines = test::log_lines("fw.log");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Command:/v LOGFILE=fw.log");
    EXPECT_EQ(lines[1], "Executed:2024/03/05 09:07:02");
    EXPECT_EQ(Lines(lines.begin() + 2, lines.end()), GetParam().log_tail);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

TEST_P(RunExitTest, SilentRunShowsNothingAndLogsTheSame) {
    test::Sandbox sandbox;
    prepare(sandbox);
    const std::string name = GetParam().name;
    const bool declined = name == "declined" || name == "question_failed" ||
                          name == "nobody_to_answer" || name == "session_zero" ||
                          name == "station_query_fails";
    // A silent run asks no question: where the user would have declined, it updates.
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), declined ? 0 : GetParam().code);
    for (const std::string& line : test::transcript()) {
        EXPECT_EQ(line.rfind("box ", 0), std::string::npos) << line;
    }
    Lines lines = test::log_lines("fw.log");
    ASSERT_GE(lines.size(), 2u);
    const Lines tail(lines.begin() + 2, lines.end());
    if (declined) {
        ASSERT_EQ(tail.size(), 6u);
        EXPECT_EQ(tail[2], "Firmware was successfully updated.");
        EXPECT_EQ(tail[3], "Exit code = 0");
    } else {
        EXPECT_EQ(tail, GetParam().log_tail);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, RunExitTest, ::testing::ValuesIn(kExitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RunSequence, NoOptionsRunsInteractivelyAndWritesNoFile) {
    test::Sandbox sandbox;
    test::load_scenario(R"({"devices": []})");
    EXPECT_EQ(test::run_program(L""), 1603);
    EXPECT_EQ(test::transcript(), (Lines{"box Warning 0x30 Not Found .bin files.\\nPlease locate "
                                         "one .bin file to the folder.",
                                         "answer IDOK"}));
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

TEST(RunSequence, TargetSystemCheckRunsBeforePowerCheck) {
    test::Sandbox sandbox;
    sandbox.add_image();
    sandbox.write_text("Setting.ini", "[Setting]\nPNPID=1\n");
    test::load_scenario(
        R"({"mouse_devices": [["ABCD*VORK0810&XYZ"]], "power": {"ac_line_status": 0}})");
    EXPECT_EQ(test::run_program(L"/s"), 1603);
    EXPECT_TRUE(test::transcript().empty());

    // An accepted touchpad passes on to the power check.
    test::reset_program();
    sandbox.add_image();
    test::load_scenario(
        R"({"mouse_devices": [["ABCD*VORK0810&XYZ"]], "power": {"ac_line_status": 0}})");
    EXPECT_EQ(test::run_program(L"/v LOGFILE=pnp.log"), 1603);
    EXPECT_EQ(test::transcript().front(), "box Warning 0x30 Please connect AC adaptor.");
}

TEST(RunSequence, FailingPowerQueryPassesTheStep) {
    test::Sandbox sandbox(R"({"power": {"fails": true}, "answers": {"question": "no"}})");
    EXPECT_EQ(test::run_program(L""), 0);
}

TEST(RunSequence, SettingsSwitchOffTheChecks) {
    test::Sandbox sandbox;
    sandbox.add_image();
    sandbox.write_text("Setting.ini", "[Setting]\nAC=0\nSYS=0\nINFO=0\nCONF=0\nROLLBACK=0\n");
    test::load_scenario(R"({"power": {"ac_line_status": 0}, "answers": {"question": "no"},
        "devices": [{"controller": {"firmware_version": "3.08", "config_version": 77,
                     "system_memory": {"1": 0}, "information_memory": {"1": 0}}}]})");
    EXPECT_EQ(test::run_program(L""), 0);
    EXPECT_EQ(
        test::transcript().front(),
        "box Question 0x24 Current FW version is 3.08\\nWould you like to update FW to 3.08 ?");
}

// The system check reads 512 bytes but compares only positions 0 to 487: a controller that differs
// from the image under a nonzero mask at 488, 501 and 511 still passes.
TEST(RunSequence, SystemMemoryPastPosition487IsNeverCompared) {
    test::Sandbox sandbox;
    const std::vector<std::uint8_t> image = sandbox.add_image();
    test::DeviceBuilder device;
    for (const std::size_t position : {488, 501, 511}) {
        ASSERT_NE(image[sim::kImageSystemBlock + sim::kImageSystemBytes + position], 0) << position;
        device.system_memory(position, image[sim::kImageSystemBlock + position] ^ 0xFF);
    }
    test::load_scenario(test::ScenarioBuilder().answer("question", "no").device(device));
    EXPECT_EQ(test::run_program(L""), 0);
}

// The masked comparisons: a nonzero mask byte demands the whole byte, a zero one skips it, and a
// comparison that compared nothing is no match. The system check compares positions 0 to 487.
struct MaskCase {
    const char* name;
    const char* memory;     // "system_memory" or "information_memory"
    std::size_t zero_masks; // the image's first N mask bytes of that block set to 0
    int position;           // -1, or a position whose expected byte becomes 0x01 under `mask`
    std::uint8_t mask;
    std::uint8_t read; // what the controller holds at `position`
    bool matches;
};

class MaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskTest, WholeBytesUnderNonzeroMasksAndNothingComparedFails) {
    const MaskCase& c = GetParam();
    const bool system = std::string(c.memory) == "system_memory";
    const std::size_t block = system ? sim::kImageSystemBlock : sim::kImageInformationBlock;
    const std::size_t masks =
        block + (system ? sim::kImageSystemBytes : sim::kImageInformationBytes);
    test::Sandbox sandbox;
    std::vector<std::uint8_t> image = test::make_image();
    std::fill_n(image.begin() + static_cast<long>(masks), c.zero_masks, 0);
    test::Json controller = test::Json::object();
    if (c.position >= 0) {
        image[block + static_cast<std::size_t>(c.position)] = 0x01;
        image[masks + static_cast<std::size_t>(c.position)] = c.mask;
        controller[c.memory][std::to_string(c.position)] = c.read;
    }
    sandbox.write_file("fw.bin", image);
    test::load_scenario(test::ScenarioBuilder()
                            .answer("question", "no")
                            .device(test::DeviceBuilder().controller(controller)));
    EXPECT_EQ(test::run_program(L""), c.matches ? 0 : 1603);
    EXPECT_EQ(test::transcript().front(),
              c.matches ? "box Question 0x24 Current FW version is 3.07\\nWould you like to update "
                          "FW to 3.08 ?"
              : system  ? "box Warning 0x30 System memory does not match."
                        : "box Warning 0x30 Information memory does not match.");
}

INSTANTIATE_TEST_SUITE_P(
    Table, MaskTest,
    ::testing::Values(
        MaskCase{"system_all_masks_zero", "system_memory", 512, -1, 0, 0, false},
        MaskCase{"system_masks_only_past_487", "system_memory", 488, -1, 0, 0, false},
        MaskCase{"system_mask_0x80_compares_the_whole_byte", "system_memory", 0, 1, 0x80, 0x81,
                 false},
        // Equal under the mask's bit, different as whole bytes.
        MaskCase{"system_mask_0x80_over_bits_that_differ", "system_memory", 0, 1, 0x80, 0x00,
                 false},
        MaskCase{"system_zero_mask_skips_a_difference", "system_memory", 0, 1, 0x00, 0x81, true},
        MaskCase{"information_all_masks_zero", "information_memory", 1024, -1, 0, 0, false},
        MaskCase{"information_mask_0x01_compares_the_whole_byte", "information_memory", 0, 1023,
                 0x01, 0x81, false},
        MaskCase{"information_equal_under_mask_0x80", "information_memory", 0, 1023, 0x80, 0x01,
                 true}),
    [](const auto& info) { return std::string(info.param.name); });

// Each flag of Setting.ini gates its own step only: the step runs with its bit alone set and is
// skipped with every bit but its own set.
struct GateCase {
    const char* key;
    const char* scenario; // makes the step that the key gates fail
    const char* failure;  // that step's log line
};

class FlagGateTest : public ::testing::TestWithParam<GateCase> {
  protected:
    // An interactive run that declines the update, with the key alone on or alone off.
    int run_with_key(bool on) const {
        std::string settings = "[Setting]\n";
        for (const char* key : {"AC", "PID", "SYS", "INFO", "CONF", "ROLLBACK", "PNPID"}) {
            settings +=
                std::string(key) + ((key == std::string(GetParam().key)) == on ? "=1\n" : "=0\n");
        }
        sandbox_.add_image();
        sandbox_.write_text("Setting.ini", settings);
        test::Json scenario = test::Json::parse(GetParam().scenario);
        scenario["answers"]["question"] = "no";
        if (!scenario.contains("mouse_devices")) {
            scenario["mouse_devices"] = test::Json::parse(R"([["ABCD*VORK0810&XYZ"]])");
        }
        test::load_scenario(scenario.dump());
        return test::run_program(L"/v LOGFILE=fw.log");
    }
    test::Sandbox sandbox_;
};

TEST_P(FlagGateTest, StepRunsWithItsBitAlone) {
    EXPECT_EQ(run_with_key(true), std::string(GetParam().key) == "ROLLBACK" ? 8 : 1603);
    EXPECT_EQ(test::log_lines("fw.log").at(2), GetParam().failure);
}

TEST_P(FlagGateTest, StepIsSkippedWithEveryOtherBit) {
    EXPECT_EQ(run_with_key(false), 0);
    EXPECT_EQ(test::log_lines("fw.log").at(2), "Exit code = 0");
}

INSTANTIATE_TEST_SUITE_P(
    Table, FlagGateTest,
    ::testing::Values(
        GateCase{"AC", R"({"power": {"ac_line_status": 0}})", "AC adaptor does not connect to PC."},
        GateCase{"PID", R"({"devices": [{"product_id": "0x4321"}]})",
                 "Could not find Norvane device."},
        GateCase{"SYS", R"({"devices": [{"controller": {"system_memory": {"1": 0}}}]})",
                 "System memory does not match."},
        GateCase{"INFO", R"({"devices": [{"controller": {"information_memory": {"1023": 0}}}]})",
                 "Information memory does not match."},
        GateCase{"CONF", R"({"devices": [{"controller": {"config_version": 9}}]})",
                 "Config version does not match."},
        GateCase{"ROLLBACK", R"({"devices": [{"controller": {"firmware_version": "3.08"}}]})",
                 "Exit code = 8"},
        GateCase{"PNPID", R"({"mouse_devices": [["ACPI*VORK0814&A"]]})",
                 "This is not target system."}),
    [](const auto& info) { return std::string(info.param.key); });

TEST(RunSequence, ConfigurationThatCannotBeReadPassesTheStep) {
    test::Sandbox sandbox(R"({"answers": {"question": "no"}, "devices": [{"controller": {
        "config_version": 77, "faults": [
          {"on": "read", "address": "0x110004", "fail_get": true},
          {"on": "read", "address": "0x110006", "fail_get": true},
          {"on": "read", "address": "0x110007", "fail_get": true},
          {"on": "read", "address": "0x8000D7", "fail_get": true},
          {"on": "read", "address": "0x8000D8", "fail_get": true}]}}]})");
    EXPECT_EQ(test::run_program(L""), 0);
    // The pair's low byte is read only after its high byte was.
    for (const sim::RequestRecord& request : sim::pc().devices.at(0).request_log) {
        EXPECT_NE(request.address, 0x110005u);
    }
}

struct VersionCase {
    const char* current;
    std::uint8_t image_major;
    std::uint8_t image_minor;
    int code; // with ROLLBACK on, silent question-less run declined by battery afterwards
};

class VersionDecisionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionDecisionTest, RollbackRefusesImagesThatAreNotNewer) {
    test::Sandbox sandbox;
    test::ImageSpec shape;
    shape.major = GetParam().image_major;
    shape.minor = GetParam().image_minor;
    sandbox.add_image(shape);
    test::load_scenario(test::ScenarioBuilder()
                            .answer("question", "no")
                            .device(test::DeviceBuilder().firmware_version(GetParam().current)));
    EXPECT_EQ(test::run_program(L""), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionDecisionTest,
    ::testing::Values(VersionCase{"3.09", 3, 0x10, 0}, VersionCase{"4.00", 3, 0xff, 8},
                      VersionCase{"3.07", 3, 0x07, 8}, VersionCase{"3.08", 3, 0x07, 8},
                      VersionCase{"2.ff", 3, 0x00, 0}, VersionCase{"a.1b", 0x0a, 0x1c, 0},
                      // Erased main memory reads ff.ff: no firmware, so the update is due.
                      VersionCase{"ff.ff", 3, 0x08, 0}, VersionCase{"ff.ff", 0, 0x00, 0},
                      VersionCase{"ff.fe", 3, 0x08, 8}));

TEST(RunSequence, ErasedControllerIsUpdatedSilentlyAndShownAsItReads) {
    test::Sandbox sandbox(R"({"devices": [{"controller": {"firmware_version": "ff.ff"}}]})");
    const std::vector<std::uint8_t>& image = sandbox.image();
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), 0);
    const Lines log = test::log_lines("fw.log");
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[2], "Current FW version:ff.ff");
    EXPECT_EQ(log[4], "Firmware was successfully updated.");
    EXPECT_EQ(sim::pc().devices[0].controller.main_memory, harness::main_image_of(image));
}

struct WaitBoundCase {
    const char* wait;
    int code;
};

class WaitBoundTest : public ::testing::TestWithParam<WaitBoundCase> {};

TEST_P(WaitBoundTest, PauseAboveTheBoundFailsBeforeTheDeviceIsTouched) {
    test::Sandbox sandbox;
    sandbox.add_image();
    sandbox.write_text("Setting.ini", std::string("[Setting]\nWAIT=") + GetParam().wait + "\n");
    test::load_scenario("{}");
    EXPECT_EQ(test::run_program(L"/s"), GetParam().code);
    EXPECT_EQ(sim::pc().devices[0].hid.set_feature_calls == 0, GetParam().code != 0);
}

// A number too large for 32 bits wraps in the profile reader (4294968295 reads as 999, and
// -4294966296 as 1000): it is above the bound all the same.
INSTANTIATE_TEST_SUITE_P(Table, WaitBoundTest,
                         ::testing::Values(WaitBoundCase{"1000", 0}, WaitBoundCase{"1001", 1603},
                                           WaitBoundCase{"4294967295", 1603},
                                           WaitBoundCase{"-1", 1603},
                                           WaitBoundCase{"4294968295", 1603},
                                           WaitBoundCase{"-4294966296", 1603},
                                           WaitBoundCase{"0x1000003E8", 1603},
                                           WaitBoundCase{"\"0x3E8\"", 0}, WaitBoundCase{"-0", 0}));

// A Setting.ini that is there but cannot be read: its checks (here the target-system check) must
// not be dropped for the defaults. Each case leaves the folder with the file and the image.
struct UnreadableSettingsCase {
    const char* name;
    void (*prepare)(const test::Sandbox& sandbox);
};

const UnreadableSettingsCase kUnreadableSettingsCases[] = {
    // So deep that the full path of Setting.ini does not fit.
    {"folder_too_deep", [](const test::Sandbox& sandbox) { sandbox.enter_deep_folder(); }},
    // Held by another program that shares nothing with the run.
    {"held_without_sharing",
     [](const test::Sandbox&) {
         std::ofstream("Setting.ini") << "[Setting]\nPNPID=1\n";
         ASSERT_NE(CreateFileW(L"Setting.ini", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                   INVALID_HANDLE_VALUE);
     }},
    {"a_folder", [](const test::Sandbox&) { std::filesystem::create_directory("Setting.ini"); }},
    // Held by a program that writes it: its keys could change between the reads.
    {"held_by_a_writer",
     [](const test::Sandbox&) {
         std::ofstream("Setting.ini") << "[Setting]\nPNPID=1\n";
         ASSERT_NE(CreateFileW(L"Setting.ini", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr),
                   INVALID_HANDLE_VALUE);
     }},
};

class UnreadableSettingsTest : public ::testing::TestWithParam<UnreadableSettingsCase> {};

TEST_P(UnreadableSettingsTest, FailTheRunBeforeTheDevice) {
    test::Sandbox sandbox;
    GetParam().prepare(sandbox);
    if (!std::filesystem::exists("Setting.ini")) {
        std::ofstream("Setting.ini") << "[Setting]\nPNPID=1\n";
    }
    {
        std::ofstream file("fw.bin", std::ios::binary);
        const std::vector<std::uint8_t> image = test::make_image();
        file.write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }
    test::load_scenario("{}");
    EXPECT_EQ(test::run_program(L"/v LOGFILE=fw.log"), 1603);
    EXPECT_EQ(test::transcript(),
              (Lines{"box Warning 0x30 Setting.ini cannot be read.", "answer IDOK"}));
    EXPECT_EQ(test::log_lines("fw.log"),
              (Lines{"Command:/v LOGFILE=fw.log", "Executed:2024/03/05 09:07:02",
                     "Setting.ini cannot be read.", "Exit code = 1603"}));
    EXPECT_EQ(sim::pc().devices[0].hid.set_feature_calls, 0u);
    std::filesystem::current_path(sandbox.folder());
}

INSTANTIATE_TEST_SUITE_P(Table, UnreadableSettingsTest,
                         ::testing::ValuesIn(kUnreadableSettingsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A check (/c) ends at the version decision: no box, no question; the controller sees what a real
// run sends before its question, here one the user declines, and nothing after it.
struct CheckOnlyCase {
    const char* name;
    const char* scenario;
    int code;
    Lines log_tail;
};

constexpr const char* kDetectionLine = "Detection: FirmwareVersionCode >= 776.";

const CheckOnlyCase kCheckOnlyCases[] = {
    {"due",
     "{}",
     0,
     {kDetectionLine, "Current FW version:3.07", "New FW version:3.08",
      "Check only: the update is due.", "Exit code = 0"}},
    // A check writes nothing, so the power source does not matter.
    {"due_on_battery",
     R"({"power": {"ac_line_status": 0}})",
     0,
     {kDetectionLine, "Current FW version:3.07", "New FW version:3.08",
      "Check only: the update is due.", "Exit code = 0"}},
    {"up_to_date",
     R"({"devices": [{"controller": {"firmware_version": "3.08"}}]})",
     8,
     {kDetectionLine, "Exit code = 8"}},
    {"wrong_controller",
     R"({"devices": [{"controller": {"system_memory": {"1": 0}}}]})",
     1603,
     {kDetectionLine, "System memory does not match.", "Exit code = 1603"}},
    {"interrupted",
     R"({"devices": [{"controller": {"mode_status": "0x10", "programmed_chunks": 1}}]})",
     0,
     {kDetectionLine, "Controller was left in update mode; updating again.",
      "Current FW version:3.08", "New FW version:3.08", "Check only: the update is due.",
      "Exit code = 0"}},
    {"another_updater",
     R"({"updater_lock": "held"})",
     1618,
     {"Another Norvane FW Updater is running.", "Exit code = 1618"}},
};

class CheckOnlyTest : public ::testing::TestWithParam<CheckOnlyCase> {};

TEST_P(CheckOnlyTest, EndsAtTheDecision) {
    test::Json declined = test::Json::parse(GetParam().scenario);
    declined["answers"]["question"] = "no";
    test::Sandbox sandbox(declined.dump());
    test::run_program(L"");
    const std::vector<sim::RequestRecord> before_question = sim::pc().devices[0].request_log;

    test::reset_program();
    sandbox.add_image();
    test::load_scenario(GetParam().scenario);
    EXPECT_EQ(test::run_program(L"/c /v LOGFILE=fw.log"), GetParam().code);
    EXPECT_EQ(test::transcript(), Lines{});
    const Lines log = test::log_lines("fw.log");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(Lines(log.begin() + 2, log.end()), GetParam().log_tail);
    const std::vector<sim::RequestRecord>& requests = sim::pc().devices[0].request_log;
    ASSERT_EQ(requests.size(), before_question.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].address, before_question[i].address) << i;
        EXPECT_EQ(requests[i].kind, before_question[i].kind) << i;
    }
    EXPECT_EQ(sim::pc().devices[0].controller.stats.mode_changes, 0u);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, CheckOnlyTest, ::testing::ValuesIn(kCheckOnlyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// "/?" shows the usage in one box and does nothing else: no lock, no device, no log. With /s, or
// where nobody could answer the box, it shows nothing either.
struct UsageCase {
    const wchar_t* arguments;
    const char* scenario;
    bool box;
};

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, UsageBoxAndNothingElse) {
    test::Sandbox sandbox(GetParam().scenario);
    EXPECT_EQ(test::run_program(GetParam().arguments), 0);
    EXPECT_EQ(test::transcript().size(), GetParam().box ? 2u : 0u);
    if (GetParam().box) {
        EXPECT_EQ(test::transcript()[0].rfind("box Information 0x40 NorvaneFwUpdater.exe [/s]", 0),
                  0u);
        EXPECT_EQ(test::transcript()[1], "answer IDOK");
    }
    EXPECT_FALSE(std::filesystem::exists("fw.log"));
    EXPECT_TRUE(sim::pc().devices[0].request_log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsageTest,
    ::testing::Values(UsageCase{L"/v LOGFILE=fw.log /?", R"({"updater_lock": "held"})", true},
                      UsageCase{L"/s /v LOGFILE=fw.log /?", "{}", false},
                      UsageCase{L"/?", R"({"window_station": "hidden"})", false},
                      UsageCase{L"/?", R"({"session_id": 0})", false}));

// Before anything touches a file, the run asks Windows to follow no junction or link a standard
// user planted; where Windows refuses the policy, the run goes on as before.
TEST(RunSequence, RedirectionTrustIsOnBeforeAnyFile) {
    for (const char* scenario : {"{}", R"({"redirection_trust": false})"}) {
        test::Sandbox sandbox(scenario);
        EXPECT_EQ(test::run_program(L"/s /v LOGFILE=logs\\fw.log"), 0);
        EXPECT_EQ(sim::pc().redirection_trust_after_file_calls,
                  std::string(scenario) == "{}" ? std::optional<std::uint64_t>(0) : std::nullopt);
        EXPECT_EQ(test::log_lines("logs/fw.log").size(), 8u);
    }
}

// One updater at a time: a lock another run holds keeps this one off the device; one a killed
// run left is taken over, the run finishes its update, and the lock is given back at the end.
TEST(RunSequence, OneUpdaterAtATime) {
    test::Sandbox sandbox(R"({"updater_lock": "held"})");
    EXPECT_EQ(test::run_program(L"/s"), 1618);
    EXPECT_EQ(sim::pc().devices[0].request_log.size(), 0u);
    EXPECT_EQ(sim::pc().named_mutexes.at(sim::updater_lock_in_namespace()).holder,
              sim::MutexHolder::OtherProcess);

    test::reset_program();
    sandbox.add_image();
    test::load_scenario(R"({"updater_lock": "abandoned",
        "devices": [{"controller": {"mode_status": "0x10", "programmed_chunks": 100}}]})");
    EXPECT_EQ(test::run_program(L"/s"), 0);
    test::expect_updated(sandbox.image());
    EXPECT_EQ(sim::pc().named_mutexes.at(sim::updater_lock_in_namespace()).holder,
              sim::MutexHolder::Nobody);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

} // namespace
