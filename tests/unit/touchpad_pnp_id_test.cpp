// The touchpad PnP ID from the hardware IDs of mouse-interface devices.
#include <gtest/gtest.h>

#include "host/handles.h"
#include "target/touchpad_pnp_id.h"
#include "test_support.h"

using namespace norvane;

namespace {

struct PnpCase {
    const char* name;
    const char* mouse_devices; // JSON
    bool found;
    const char* pnp_id;
    bool accepted;
};

class PnpIdTest : public ::testing::TestWithParam<PnpCase> {};

TEST_P(PnpIdTest, HardwareIdMatchingAndTable) {
    test::Sandbox sandbox;
    test::load_scenario(
        test::ScenarioBuilder().mouse_devices(test::Json::parse(GetParam().mouse_devices)));
    char buffer[kPnpIdBufferSize] = {};
    EXPECT_EQ(_get_touchpad_pnp_id(buffer), GetParam().found);
    if (GetParam().found) {
        EXPECT_STREQ(buffer, GetParam().pnp_id);
        EXPECT_EQ(_is_target_pnp_id(buffer), GetParam().accepted);
    }
    EXPECT_EQ(host_handles_open_total(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PnpIdTest,
    ::testing::Values(
        PnpCase{"accepted", R"([["ABCD*VORK0810&XYZ"]])", true, "*VORK0810", true},
        PnpCase{"at_start", R"([["*VORK0810&XYZ"]])", false, "", false},
        PnpCase{"lower_case", R"([["ABCD*vork0810&XYZ"]])", false, "", false},
        PnpCase{"no_ampersand", R"([["ABCD*VORK0810_XYZ"]])", false, "", false},
        PnpCase{"fourteen_characters", R"([["ABCD*VORK0810&"]])", true, "*VORK0810", true},
        PnpCase{"thirteen", R"([["ABCD*VORK0810"]])", false, "", false},
        PnpCase{"unknown", R"([["ABCD*VORK0814&XYZ"]])", true, "*VORK0814", false},
        PnpCase{"each_accepted", R"([["HID\\VID_1"], ["ACPI*VORK080E&0", "ACPI*VORK0813&1"]])",
                true, "*VORK0813", true},
        PnpCase{"later_device_wins", R"([["ACPI*VORK0810&0"], ["HID\\X"], ["ACPI*VORK0812&0"]])",
                true, "*VORK0812", true},
        PnpCase{"none", "[]", false, "", false},
        PnpCase{"second_string", R"([["HID\\VID_044E&PID_1234", "ACPI*VORK0811&7"]])", true,
                "*VORK0811", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PnpId, WholeStringComparison) {
    for (const char* accepted :
         {"*VORK0810", "*VORK080E", "*VORK0812", "*VORK0811", "*VORK080F", "*VORK0813"}) {
        EXPECT_TRUE(_is_target_pnp_id(accepted)) << accepted;
    }
    EXPECT_TRUE(_is_target_pnp_id("*VORK080F"));
    EXPECT_FALSE(_is_target_pnp_id("*VORK080F "));
    EXPECT_FALSE(_is_target_pnp_id("*VORK080"));
    EXPECT_FALSE(_is_target_pnp_id("*vork080f"));
    EXPECT_FALSE(_get_touchpad_pnp_id(nullptr));
}

TEST(PnpId, HardwareIdListTooLongForTheBufferContributesNothing) {
    test::Sandbox sandbox;
    const std::string filler(300, 'X');
    test::load_scenario(test::ScenarioBuilder().mouse_devices(
        {{filler, "ACPI*VORK0810&0"}, test::Json::array({"ACPI*VORK0812&0"})}));
    char buffer[kPnpIdBufferSize] = {};
    EXPECT_TRUE(_get_touchpad_pnp_id(buffer));
    EXPECT_STREQ(buffer, "*VORK0812");
}

} // namespace
