// The simulated device's call-index knobs and hostile hooks, which the soak tool and the
// hostile-controller fuzz target drive.
#include <gtest/gtest.h>

#include "host/handles.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

sim::SimDevice& device() {
    return sim::pc().devices.at(0);
}

// The identity checks take most calls of a run; programming takes the last 1,500 or so.
constexpr std::uint64_t kCallsBackIntoProgramming = 800;

std::uint64_t clean_run_calls() {
    test::Sandbox sandbox("{}");
    EXPECT_EQ(test::run_program(L"/s"), 0);
    return device().hid_call_count;
}

TEST(CallIndexKnobs, CleanRunCountsEveryHidCallOnTheDevice) {
    const std::uint64_t calls = clean_run_calls();
    test::Sandbox sandbox("{}");
    EXPECT_EQ(test::run_program(L"/s"), 0);
    EXPECT_EQ(device().hid_call_count, calls);
    EXPECT_GT(calls, device().hid.set_feature_calls + device().hid.get_feature_calls);
    EXPECT_EQ(device().hid.faults_applied, 0u);
}

TEST(CallIndexKnobs, OneFailingFeatureCallIsRetried) {
    const std::uint64_t calls = clean_run_calls();
    test::Sandbox sandbox("{}");
    const std::vector<std::uint8_t>& image = sandbox.image();
    device().fail_call_index = calls - kCallsBackIntoProgramming;
    EXPECT_EQ(test::run_program(L"/s"), 0);
    EXPECT_EQ(device().hid.faults_applied, 1u);
    EXPECT_EQ(device().hid.set_feature_failures + device().hid.get_feature_failures, 1u);
    EXPECT_EQ(device().controller.main_memory, harness::main_image_of(image));
    EXPECT_FALSE(device().unplugged);
}

TEST(CallIndexKnobs, UnplugAtTheFirstCallHidesTheDevice) {
    test::Sandbox sandbox("{}");
    device().unplug_at_call = 0;
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), 1603);
    EXPECT_TRUE(device().unplugged);
    const Lines log = test::log_lines("fw.log");
    EXPECT_EQ(Lines(log.begin() + 2, log.end()),
              (Lines{"Could not find Norvane device.", "Exit code = 1603"}));
    EXPECT_EQ(host_handles_open_total(), 0u);
}

TEST(CallIndexKnobs, UnplugDuringProgrammingFailsThatStep) {
    const std::uint64_t calls = clean_run_calls();
    test::Sandbox sandbox("{}");
    device().unplug_at_call = calls - kCallsBackIntoProgramming;
    EXPECT_EQ(test::run_program(L"/s /v LOGFILE=fw.log"), 1603);
    const Lines log = test::log_lines("fw.log");
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[4], "Fail - _write_read_memory_segment.");
    EXPECT_EQ(device().hid.faults_applied, 1u);
}

TEST(HostileController, DroppedRequestsNeverReachTheController) {
    test::Sandbox sandbox;
    // The first read's request is dropped: each of its twelve fetches finds no read pending.
    sandbox.expect_protocol_violations(12);
    sandbox.add_image();
    test::load_scenario("{}");
    device().hostile.on_set = [](const std::uint8_t*, std::size_t) {
        return sim::HostileVerdict::Drop;
    };
    EXPECT_EQ(test::run_program(L"/s"), 1603);
    EXPECT_EQ(device().controller.stats.register_writes, 0u);
    EXPECT_GT(device().hid.set_feature_calls, 0u);
    EXPECT_EQ(device().hid.set_feature_failures, 0u);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

TEST(HostileController, AnswersEvenAFetchWithoutARead) {
    test::Sandbox sandbox;
    sandbox.expect_protocol_violations(1); // the fetch below
    sandbox.add_image();
    test::load_scenario("{}");
    std::vector<bool> answered;
    device().hostile.on_get = [&answered](std::uint8_t* report, std::size_t, bool asked) {
        answered.push_back(asked);
        report[1] = 0x42; // no answer carries the success status
        return true;
    };
    const sim::CollectionKind kind = sim::collection_kind(device().collections[0]);
    ASSERT_EQ(kind, sim::CollectionKind::Control);
    std::uint8_t report[8] = {5};
    EXPECT_TRUE(sim::device_get_feature(device(), 0, report, sizeof(report), 0));
    EXPECT_EQ(report[1], 0x42);
    EXPECT_EQ(answered, std::vector<bool>{false});
    EXPECT_EQ(device().controller.stats.protocol_violations, 1u);
    EXPECT_EQ(test::run_program(L"/s"), 1603);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

} // namespace
