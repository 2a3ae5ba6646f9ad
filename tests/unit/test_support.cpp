#include "test_support.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "sim/kept_state.h"
#include "sim/scenario.h"

namespace test {

Sandbox::Sandbox() : scratch_("norvane-test") {
    reset_program();
}

Sandbox::Sandbox(const std::string& scenario) : Sandbox() {
    image_ = add_image();
    load_scenario(scenario);
}

Sandbox::Sandbox(const harness::ScenarioBuilder& scenario) : Sandbox(scenario.text()) {}

Sandbox::~Sandbox() {
    std::uint64_t violations = 0;
    for (const sim::SimDevice& device : sim::pc().devices) {
        violations += device.controller.stats.protocol_violations;
    }
    EXPECT_EQ(violations, expected_violations_) << "protocol violations on the simulated PC";
    reset_program(); // the scratch folder is left and removed after this
}

void Sandbox::enter_deep_folder() const {
    constexpr std::size_t kDeepPathLength = 300;
    constexpr std::size_t kFolderNameLength = 40;
    std::filesystem::path deep = folder();
    while (deep.native().size() < kDeepPathLength) {
        deep /= std::string(kFolderNameLength, 'd');
    }
    std::filesystem::create_directories(deep);
    std::filesystem::current_path(deep);
}

std::vector<std::uint8_t> Sandbox::add_image(const ImageSpec& shape) const {
    std::vector<std::uint8_t> bytes = make_image(shape);
    write_file("image.bin", bytes);
    return bytes;
}

void load_scenario(const std::string& json) {
    std::string error;
    ASSERT_TRUE(sim::load_scenario_text(json, sim::pc(), error)) << error;
}

void load_scenario(const harness::ScenarioBuilder& scenario) {
    load_scenario(scenario.text());
}

void restart_on_kept_state() {
    const std::string kept = sim::save_kept_state(sim::pc());
    reset_program();
    load_scenario("{}");
    std::string error;
    ASSERT_TRUE(sim::restore_kept_state(kept, sim::pc(), error)) << error;
}

void expect_updated(const std::vector<std::uint8_t>& image) {
    EXPECT_EQ(harness::success_violations(harness::main_image_of(image), 0),
              std::vector<std::string>{});
}

void expect_flash_guarded() {
    const std::vector<sim::RequestRecord>& requests = sim::pc().devices.at(0).request_log;
    const auto first_flash_write =
        std::find_if(requests.begin(), requests.end(), [](const sim::RequestRecord& request) {
            return request.address == sim::kModeChangeRegister;
        });
    const auto before_flash = static_cast<std::uint64_t>(first_flash_write - requests.begin());
    std::vector<std::string> held;
    for (const sim::GuardEvent& event : sim::pc().guard_events) {
        if (event.what.starts_with("session-end")) {
            continue;
        }
        held.push_back(event.what);
        if (event.what.find(" on ") != std::string::npos) {
            EXPECT_LE(event.requests_sent, before_flash) << event.what << ": after the first write";
        } else {
            EXPECT_EQ(event.requests_sent, requests.size()) << event.what << ": before the end";
        }
    }
    EXPECT_EQ(held, (std::vector<std::string>{"power-request on system Updating touchpad firmware",
                                              "shutdown-block on Updating touchpad firmware",
                                              "power-request off system", "shutdown-block off"}));
    EXPECT_EQ(sim::pc().power_requests_set, 0);
    EXPECT_EQ(sim::pc().shutdown_blocks, 0);
}

namespace {

constexpr const wchar_t* kRecordKey = L"SOFTWARE\\Norvane\\FW Updater";
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegDword = 4;

} // namespace

std::string record_text(const wchar_t* name) {
    const sim::RegistryValue* value = sim::registry_value(kRecordKey, name);
    if (value == nullptr || value->type != kRegSz || value->data.size() < 2 ||
        value->data.size() % 2 != 0 || value->data[value->data.size() - 1] != 0 ||
        value->data[value->data.size() - 2] != 0) {
        return "(none)";
    }
    std::string text;
    for (std::size_t i = 0; i + 2 < value->data.size(); i += 2) {
        text.push_back(static_cast<char>(value->data[i]));
    }
    return text;
}

std::int64_t record_number(const wchar_t* name) {
    const sim::RegistryValue* value = sim::registry_value(kRecordKey, name);
    if (value == nullptr || value->type != kRegDword || value->data.size() != 4) {
        return -1;
    }
    return value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
           static_cast<std::int64_t>(value->data[3]) << 24;
}

const std::vector<std::string>& transcript() {
    return sim::pc().transcript;
}

std::vector<std::string> log_lines(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    std::vector<std::string> lines;
    EXPECT_TRUE(harness::split_log_lines(text.str(), lines))
        << "the log is not CR LF lines throughout: " << text.str();
    return lines;
}

} // namespace test
