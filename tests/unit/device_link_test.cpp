// Discovery, channel binding and the feature-report transport against simulated devices.
#include <cstring>
#include <gtest/gtest.h>

#include "app/run_state.h"
#include "device/device_link.h"
#include "device/internal.h"
#include "device/register_access.h"
#include "device/transport.h"
#include "host/device_tree.h"
#include "host/handles.h"
#include "test_support.h"
#include "update/fw_image.h"

using namespace norvane;

namespace {

using Bytes = std::vector<std::uint8_t>;

sim::SimDevice& device(std::size_t index = 0) {
    return sim::pc().devices.at(index);
}

// Loads the image of the folder and the scenario, then binds and opens the channels.
void bind_and_open(const test::Sandbox& sandbox, const std::string& scenario) {
    sandbox.add_image();
    test::load_scenario(scenario);
    ASSERT_TRUE(_load_fw_image());
    ASSERT_TRUE(_find_target_device(_target_filter()));
    _bind_channels();
    ASSERT_TRUE(_open_channels());
}

// Puts the controller where the update has unlocked it, switched access on and had the program
// command read back, so that transfers can be tried on their own.
void ready_to_program() {
    sim::Controller& controller = device().controller;
    controller.update_mode = true;
    controller.order.unlocked = true;
    controller.registers[0xFF8007] = 1;
    controller.registers[0xFF8003] = 0x05;
    controller.order.command_read_back = true;
}

Bytes last_request() {
    return sim::device_last_requests(device(), 1).at(0);
}

TEST(Transport, ChecksumExamplesByteForByte) {
    std::uint8_t report[8];
    _build_request(report, 8, 0x05, kCommandWriteByte, 0xFF8007, Bytes{0x01}.data(), 1);
    EXPECT_EQ(Bytes(report, report + 8), (Bytes{0x05, 0xD2, 0x07, 0x80, 0xFF, 0x00, 0x01, 0x68}));
    _build_request(report, 8, 0x05, kCommandReadByte, 0x80002D, nullptr, 0);
    EXPECT_EQ(Bytes(report, report + 8), (Bytes{0x05, 0xD1, 0x2D, 0x00, 0x80, 0x00, 0x00, 0x8D}));
    // The report ID counts: a report ID larger by d gives a checksum larger by d.
    _build_request(report, 8, 0x05 + 0x30, kCommandReadByte, 0x80002D, nullptr, 0);
    EXPECT_EQ(report[7], static_cast<std::uint8_t>(0x8D + 0x30));
}

TEST(Transport, RequestsOnTheWireCarryChannelIdLengthAndAddress) {
    test::Sandbox sandbox;
    bind_and_open(sandbox, "{}");
    ready_to_program();
    ASSERT_TRUE(_write_register_byte(0xFF8007, 0x01));
    EXPECT_EQ(last_request(), (Bytes{0x05, 0xD2, 0x07, 0x80, 0xFF, 0x00, 0x01, 0x68}));
    std::uint8_t value = 0;
    ASSERT_TRUE(_read_register_byte(0x110002, value));
    EXPECT_EQ(value, 3); // major of a 3.07 controller
    Bytes block(128, 0);
    ASSERT_TRUE(_read_memory_block(0x110080, block.data()));
    const Bytes request = last_request();
    ASSERT_EQ(request.size(), 135u);
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 6),
              (Bytes{0x06, 0xFF, 0x80, 0x00, 0x11, 0x00}));
    EXPECT_EQ(request[134], sim::report_checksum(request.data(), 135));
    EXPECT_EQ(0, std::memcmp(block.data(), device().controller.main_memory.data() + 0x80, 128));
    _close_channels();
    EXPECT_EQ(host_handles_open_total(), 0u);
    EXPECT_EQ(device().controller.stats.refused_requests, 0u);
}

struct RetryCase {
    const char* rule;
    bool succeeds;
    std::uint64_t set_calls;
};

class RetryTest : public ::testing::TestWithParam<RetryCase> {};

TEST_P(RetryTest, TwelveAttemptsPerReport) {
    test::Sandbox sandbox;
    bind_and_open(sandbox,
                  test::ScenarioBuilder()
                      .device(test::DeviceBuilder().fault(test::Json::parse(GetParam().rule)))
                      .text());
    const std::uint64_t before = device().hid.set_feature_calls;
    const std::uint64_t clock = sim::now_ms();
    EXPECT_EQ(_write_register_byte(0x80003E, 0x09), GetParam().succeeds);
    EXPECT_EQ(device().hid.set_feature_calls - before, GetParam().set_calls);
    // The pause follows a delivered write only; the attempts themselves are back to back.
    EXPECT_EQ(sim::now_ms() - clock, GetParam().succeeds ? 2u : 0u);
    _close_channels();
}

INSTANTIATE_TEST_SUITE_P(
    Table, RetryTest,
    ::testing::Values(RetryCase{R"({"on": "write", "fail_set": true, "times": 11})", true, 12},
                      RetryCase{R"({"on": "write", "fail_set": true, "times": 12})", false, 12},
                      RetryCase{R"({"on": "any", "fail_set": true, "times": 1})", true, 2},
                      RetryCase{R"({"on": "read", "fail_set": true})", true, 1}));

TEST(Transport, ReadWithBadStatusFailsButDeliversItsByte) {
    test::Sandbox sandbox;
    bind_and_open(
        sandbox,
        R"({"devices": [{"controller": {"faults": [{"on": "read", "status": "0x33"}]}}]})");
    std::uint8_t value = 0;
    EXPECT_FALSE(_read_register_byte(0x110002, value));
    EXPECT_EQ(value, 3);
    // The command read-back looks at the byte alone.
    EXPECT_TRUE(_issue_command(kCommandSystem, false));
    // With HID version 0xFFFF every status is accepted.
    g_device_link.hid_version = kRelaxedHidVersion;
    EXPECT_TRUE(_read_register_byte(0x110002, value));
    _close_channels();
}

TEST(Transport, ReadThatGetsNoResponseLeavesZero) {
    test::Sandbox sandbox;
    bind_and_open(sandbox, R"({"devices": [{"controller": {"faults": [
        {"on": "read", "address": "0xFF8003", "fail_get": true}]}}]})");
    std::uint8_t value = 0xAA;
    EXPECT_FALSE(_read_register_byte(0xFF8003, value));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(device().hid.get_feature_calls, 12u);
    EXPECT_FALSE(_issue_command(kCommandSystem, false));
    _close_channels();
}

TEST(Transport, GroupStopsAtFailedByteWithNoFurtherPause) {
    test::Sandbox sandbox;
    bind_and_open(sandbox, R"({"devices": [{"controller": {"faults": [
        {"on": "write", "address": "0xFF800A", "fail_set": true}]}}]})");
    const std::uint64_t clock = sim::now_ms();
    EXPECT_FALSE(_write_argument_register(kUnlockKey));
    EXPECT_EQ(sim::now_ms() - clock, 4u); // two bytes, two pauses of 2 ms
    const auto& registers = device().controller.registers;
    EXPECT_EQ(registers.at(0xFF8008), 0x6D);
    EXPECT_EQ(registers.at(0xFF8009), 0x2B);
    EXPECT_EQ(registers.count(0xFF800B), 0u);
    _close_channels();
}

TEST(Transport, KeyRegisterTakesTheKeyLeastSignificantByteFirst) {
    test::Sandbox sandbox;
    bind_and_open(sandbox, "{}");
    device().controller.update_mode = true; // the unlock belongs to update mode
    ASSERT_TRUE(_write_argument_register(kUnlockKey));
    ASSERT_TRUE(_write_unlock_key());
    const auto& registers = device().controller.registers;
    EXPECT_EQ((Bytes{registers.at(0xFF8008), registers.at(0xFF8009), registers.at(0xFF800A),
                     registers.at(0xFF800B)}),
              (Bytes{0x6D, 0x2B, 0x94, 0xE7}));
    EXPECT_EQ((Bytes{registers.at(0xFF800C), registers.at(0xFF800D), registers.at(0xFF800E),
                     registers.at(0xFF800F)}),
              (Bytes{0xE7, 0x94, 0x2B, 0x6D}));
    _close_channels();
}

TEST(Transport, WaitZeroMeansNoPause) {
    test::Sandbox sandbox;
    bind_and_open(sandbox, "{}");
    g_device_link.write_pause_ms = 0;
    device().controller.write_pause_ms = 0; // as for a run with WAIT=0
    const std::uint64_t calls = sim::pc().sleep_calls;
    EXPECT_TRUE(_set_access_enable(false));
    EXPECT_EQ(sim::pc().sleep_calls, calls);
    g_device_link.write_pause_ms = 7;
    EXPECT_TRUE(_set_access_enable(false));
    EXPECT_EQ(sim::now_ms(), 28u);
    _close_channels();
}

TEST(Transport, PollGivesUpAfterThreeHundredReads) {
    test::Sandbox sandbox;
    bind_and_open(sandbox, R"({"devices": [{"controller": {"faults": [
        {"on": "read", "address": "0xFF8010", "status": 1, "times": 299}]}}]})");
    EXPECT_TRUE(_poll_ready()); // the 300th read succeeds
    EXPECT_EQ(device().controller.stats.polls, 300u);
    _close_channels();
}

TEST(Transport, PollFailsWhenNoneOfThreeHundredReadsSucceeds) {
    test::Sandbox sandbox;
    bind_and_open(sandbox, R"({"devices": [{"controller": {"faults": [
        {"on": "read", "address": "0xFF8010", "fail_get": true}]}}]})");
    EXPECT_FALSE(_poll_ready());
    EXPECT_EQ(device().controller.stats.polls, 300u);
    EXPECT_EQ(device().hid.get_feature_calls, 300u * 12u);
    _close_channels();
}

// Report lengths the buffers cannot take are never used for a transfer.
struct LengthCase {
    int control_count;
    int data_count;
    bool register_ok;
    bool block_ok;
};

class ReportLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ReportLengthTest, TransfersThatWouldNotFitFail) {
    test::Sandbox sandbox;
    bind_and_open(sandbox, test::ScenarioBuilder()
                               .device(test::DeviceBuilder()
                                           .collection("0xFF01", 5, GetParam().control_count)
                                           .collection("0xFF02", 6, GetParam().data_count))
                               .text());
    ready_to_program();
    std::uint8_t value = 0;
    EXPECT_EQ(_read_register_byte(0x110002, value), GetParam().register_ok);
    Bytes block(256, 0);
    EXPECT_EQ(_read_memory_block(0x110000, block.data()), GetParam().block_ok);
    EXPECT_EQ(_write_memory_block(0, block.data()), GetParam().block_ok);
    _close_channels();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReportLengthTest,
    ::testing::Values(LengthCase{7, 134, true, true}, LengthCase{6, 134, false, true},
                      LengthCase{1, 7, false, true}, LengthCase{7, 6, true, false},
                      LengthCase{7, 135, true, false}, LengthCase{7, 2000, true, false},
                      LengthCase{40, 70, true, true}));

// ---- discovery and binding -----------------------------------------------------------------

struct PageCase {
    const char* page;
    bool control;
    bool data;
};

class UsagePageTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(UsagePageTest, ClassifiedByMaskTestsInOrder) {
    test::Sandbox sandbox(
        test::ScenarioBuilder().device(test::DeviceBuilder().collection(GetParam().page, 3, 20)));
    ASSERT_TRUE(_load_fw_image());
    ASSERT_TRUE(_find_target_device(_target_filter()));
    _bind_channels();
    EXPECT_EQ(!g_device_link.control.path.empty(), GetParam().control);
    EXPECT_EQ(!g_device_link.data.path.empty(), GetParam().data);
    const HidChannel& bound = GetParam().control ? g_device_link.control : g_device_link.data;
    if (GetParam().control || GetParam().data) {
        EXPECT_EQ(bound.report_id, 3);
        EXPECT_EQ(bound.report_length, 21);
        EXPECT_EQ(bound.payload_length, 14);
    }
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsagePageTest,
    ::testing::Values(PageCase{"0xFF01", true, false}, PageCase{"0xFF03", true, false},
                      PageCase{"0xFFFF", true, false}, PageCase{"0xFF02", false, true},
                      PageCase{"0xFF06", false, true}, PageCase{"0xFF04", false, false},
                      PageCase{"0xFF00", false, false}, PageCase{"0xFE01", false, false},
                      PageCase{"0x0001", false, false}));

TEST(Discovery, CollectionWithoutFeatureValuesIsNotBound) {
    test::Sandbox sandbox(R"({"devices": [{"collections": [
        {"usage_page": "0xFF01", "report_id": 5, "report_count": 7, "feature_value_caps": 0},
        {"usage_page": "0xFF02", "report_id": 6, "report_count": 134, "feature_value_caps": 3}]}]})");
    ASSERT_TRUE(_load_fw_image());
    ASSERT_TRUE(_find_target_device(_target_filter()));
    _bind_channels();
    EXPECT_TRUE(g_device_link.control.path.empty());
    EXPECT_EQ(g_device_link.data.report_length, 135);
    EXPECT_FALSE(_open_control_channel());
    EXPECT_EQ(g_device_link.control.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(g_device_link.data.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

// Only the device that discovery chose is bound, whatever other target devices follow it.
TEST(Discovery, BindingTakesBothChannelsFromTheChosenDeviceOnly) {
    test::Sandbox sandbox(R"({"devices": [
        {"product_id": "image", "version_number": "0x0101", "collections": [
            {"usage_page": "0xFF01", "report_id": 1, "report_count": 7},
            {"usage_page": "0xFF02", "report_id": 2, "report_count": 134}]},
        {"vendor_id": "0x1111", "product_id": "image", "version_number": "0x0202", "collections": [
            {"usage_page": "0xFF01", "report_id": 9, "report_count": 7}]},
        {"product_id": "0x7777", "version_number": "0xFFFF", "collections": [
            {"usage_page": "0xFF01", "report_id": 3, "report_count": 7},
            {"usage_page": "0xFF02", "report_id": 4, "report_count": 134}]},
        {"product_id": "0x1212", "version_number": "0x0404", "collections": [
            {"usage_page": "0xFF02", "report_id": 8, "report_count": 134}]}]})");
    ASSERT_TRUE(_load_fw_image());
    EXPECT_TRUE(_find_target_device(_target_filter()));
    _bind_channels();
    EXPECT_EQ(g_device_link.control.report_id, 1);
    EXPECT_EQ(g_device_link.data.report_id, 2);
    EXPECT_EQ(g_device_link.hid_version, 0x0101); // never a later device's 0xFFFF
    EXPECT_EQ(g_device_link.targets_seen, 1);     // the PID filter leaves 0x7777 out
    EXPECT_EQ(_device_instance_of(g_device_link.control.path.c_str()),
              _device_instance_of(g_device_link.data.path.c_str()));
    EXPECT_EQ(host_handles_open_total(), 0u);
    EXPECT_EQ(host_device_api_misuses(), 0u);
}

TEST(Discovery, BindingWithoutAChosenDeviceBindsNothing) {
    test::Sandbox sandbox("{}");
    ASSERT_TRUE(_load_fw_image());
    _bind_channels();
    EXPECT_TRUE(g_device_link.control.path.empty());
    EXPECT_TRUE(g_device_link.data.path.empty());
    // A device gone between discovery and a later binding: nothing else is bound in its place,
    // and its own channels no longer open.
    ASSERT_TRUE(_find_target_device(_target_filter()));
    _bind_channels();
    ASSERT_FALSE(g_device_link.control.path.empty());
    const std::wstring control = g_device_link.control.path;
    device().unplugged = true;
    _bind_channels();
    EXPECT_EQ(g_device_link.control.path, control);
    EXPECT_FALSE(_open_channels());
    _close_channels();
    EXPECT_EQ(host_handles_open_total(), 0u);
}

struct InstanceCase {
    const wchar_t* first;
    const wchar_t* second;
    bool same;
};

class DeviceInstanceTest : public ::testing::TestWithParam<InstanceCase> {};

TEST_P(DeviceInstanceTest, CollectionsOfOneDeviceShareTheInstance) {
    EXPECT_EQ(_device_instance_of(GetParam().first) == _device_instance_of(GetParam().second),
              GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceInstanceTest,
    ::testing::Values(
        // Two collections of one device, as Windows numbers them.
        InstanceCase{L"\\\\?\\hid#vid_044e&pid_1234&col01#7&1a2b3c4d&0&0000#{4d1e55b2}",
                     L"\\\\?\\HID#VID_044E&PID_1234&COL02#7&1A2B3C4D&0&0001#{4d1e55b2}", true},
        // The same product on another instance (a second controller of a docking station).
        InstanceCase{L"\\\\?\\hid#vid_044e&pid_1234&col01#7&1a2b3c4d&0&0000#{4d1e55b2}",
                     L"\\\\?\\hid#vid_044e&pid_1234&col02#7&1a2b3c4e&0&0001#{4d1e55b2}", false},
        // Another product behind the same instance numbers.
        InstanceCase{L"\\\\?\\hid#vid_044e&pid_1234#7&1a2b3c4d&0&0000#{4d1e55b2}",
                     L"\\\\?\\hid#vid_044e&pid_4321#7&1a2b3c4d&0&0000#{4d1e55b2}", false},
        // Paths of another form name their device alone.
        InstanceCase{L"plain-a", L"plain-b", false}, InstanceCase{L"plain", L"PLAIN", true}));

struct FilterCase {
    const char* settings;
    const char* product_id;
    bool found;
    // A device listed first whose entries cannot be enumerated: the walk passes over it.
    bool unlisted_device_first = false;
};

class ProductFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ProductFilterTest, PidSettingFiltersByTheImagesProductId) {
    test::Sandbox sandbox;
    sandbox.add_image();
    sandbox.write_text("Setting.ini", GetParam().settings);
    test::ScenarioBuilder scenario;
    if (GetParam().unlisted_device_first) {
        scenario.devices(test::Json::array({{{"vendor_id", 0x1234}, {"enumeration_fails", true}}}));
    }
    test::load_scenario(scenario.device(test::DeviceBuilder().product_id(GetParam().product_id)));
    ASSERT_TRUE(_load_settings(g_setting_flags));
    ASSERT_TRUE(_load_fw_image());
    EXPECT_EQ(_find_target_device(_target_filter()), GetParam().found);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, ProductFilterTest,
                         ::testing::Values(FilterCase{"[Setting]\nPID=1\n", "image", true},
                                           FilterCase{"[Setting]\nPID=1\n", "0x4321", false},
                                           FilterCase{"[Setting]\nPID=0\n", "0x4321", true},
                                           FilterCase{"[Setting]\nPID=0\n", "0x1212", false},
                                           FilterCase{"[Setting]\nPID=1\n", "image", true, true}));

TEST(Discovery, UnpluggedDeviceIsNeitherListedNorOpened) {
    test::Sandbox sandbox;
    bind_and_open(sandbox, "{}");
    _close_channels();
    device().unplugged = true;
    EXPECT_FALSE(_find_target_device(_target_filter()));
    EXPECT_FALSE(_open_channels());
    EXPECT_EQ(test::transcript().back().rfind("debug _open_collection: \\\\?\\hid#", 0), 0u)
        << test::transcript().back(); // the cause is kept for the debugger
    _close_channels();
    EXPECT_EQ(host_handles_open_total(), 0u);
}

} // namespace
