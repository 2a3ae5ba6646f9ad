// The one-updater lock: runs under different accounts see one lock, and nobody without the
// Administrators group can take it first, neither by the plain name in Global\ nor by a private
// namespace of the same alias. Where private namespaces are missing (Wine) the plain name is all
// there is, and the run says so on the debugger output.
#include <gtest/gtest.h>

#include "app/updater_lock.h"
#include "host/handles.h"
#include "host/process.h"
#include "test_support.h"

using namespace norvane;

namespace {

constexpr const char* kFallbackLine =
    "debug _take_updater_lock: no private namespaces here; the lock is Global\\NorvaneFwUpdater";

struct LockCase {
    const char* name;
    const char* scenario;
    int code;
    bool fallback;
    const char* cause = nullptr; // the debugger line of a lock that could not be opened
};

const LockCase kLockCases[] = {
    {"free", "{}", 0, false},
    {"held_by_another_updater", R"({"updater_lock": "held"})", 1618, false},
    {"held_while_this_run_is_system", R"({"updater_lock": "held", "account": "system"})", 1618,
     false},
    {"squatted_by_a_standard_user", R"({"updater_lock": "squatted"})", 0, false},
    {"squatted_with_a_hostile_access_list", R"({"updater_lock": "squatted_denied"})", 0, false},
    {"namespace_of_the_same_alias_squatted", R"({"updater_lock": "namespace_squatted"})", 0, false},
    // Without private namespaces the plain name counts, a squatter's too.
    {"no_namespaces", R"({"private_namespaces": false})", 0, true},
    {"no_namespaces_held", R"({"private_namespaces": false, "updater_lock": "held"})", 1618, true},
    {"no_namespaces_squatted", R"({"private_namespaces": false, "updater_lock": "squatted"})", 1618,
     true},
    {"no_namespaces_squatted_denied",
     R"({"private_namespaces": false, "updater_lock": "squatted_denied"})", 1618, true,
     "debug _take_updater_lock: Global\\NorvaneFwUpdater, error 5 (Access is denied.)"},
};

class UpdaterLockTest : public ::testing::TestWithParam<LockCase> {};

TEST_P(UpdaterLockTest, TakenUnlessAnotherUpdaterHoldsIt) {
    test::Sandbox sandbox(GetParam().scenario);
    EXPECT_EQ(test::run_program(L"/s"), GetParam().code);
    std::vector<std::string> debug;
    if (GetParam().fallback) {
        debug.emplace_back(kFallbackLine);
    }
    if (GetParam().cause != nullptr) {
        debug.emplace_back(GetParam().cause);
    }
    EXPECT_EQ(test::transcript(), debug);
    EXPECT_EQ(sim::pc().devices[0].request_log.empty(), GetParam().code == 1618);
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, UpdaterLockTest, ::testing::ValuesIn(kLockCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A run as SYSTEM (a deployment tool) still holds the lock when an administrator starts one by
// hand, and the other way round: the second is kept out until the first has ended.
TEST(UpdaterLock, RunsUnderDifferentAccountsSeeOneLock) {
    for (const sim::Account first : {sim::Account::System, sim::Account::Administrator}) {
        test::Sandbox sandbox;
        sim::pc().account = first;
        ASSERT_TRUE(_take_updater_lock());
        host_hand_over_to_another_process();
        g_updater_lock = UpdaterLock{};
        sim::pc().account =
            first == sim::Account::System ? sim::Account::Administrator : sim::Account::System;
        EXPECT_FALSE(_take_updater_lock());
        host_other_process_releases();
        EXPECT_TRUE(_take_updater_lock());
        _release_updater_lock();
        EXPECT_EQ(host_handles_open_total(), 0u);
    }
}

} // namespace
