// Scenarios put together in code: the keys a scenario file holds, built as JSON values by typed
// calls instead of glued text, so that a test cannot produce a scenario that does not parse.
// Scenario files and fwsim keep their JSON text; the simulated PC reads a built scenario the same
// way (its dump is the text of a scenario file).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

namespace harness {

using Json = nlohmann::json;

// The JSON value a builder has put together so far.
class JsonBuilder {
  public:
    const Json& json() const {
        return value_;
    }
    std::string text() const {
        return value_.dump();
    }

  protected:
    Json value_ = Json::object();
};

// One entry of "devices"; a device with no call is the default device.
class DeviceBuilder : public JsonBuilder {
  public:
    DeviceBuilder& product_id(const std::string& id) {
        value_["product_id"] = id;
        return *this;
    }
    DeviceBuilder& collection(const std::string& usage_page, int report_id, int report_count) {
        value_["collections"].push_back(
            {{"usage_page", usage_page}, {"report_id", report_id}, {"report_count", report_count}});
        return *this;
    }
    // The whole "controller" object (table cases keep theirs as one value).
    DeviceBuilder& controller(Json object) {
        value_["controller"] = std::move(object);
        return *this;
    }
    DeviceBuilder& fault(Json rule) {
        value_["controller"]["faults"].push_back(std::move(rule));
        return *this;
    }
    DeviceBuilder& firmware_version(const std::string& version) {
        value_["controller"]["firmware_version"] = version;
        return *this;
    }
    // One byte of system memory that differs from what the image expects.
    DeviceBuilder& system_memory(std::size_t position, int value) {
        value_["controller"]["system_memory"][std::to_string(position)] = value;
        return *this;
    }
};

class ScenarioBuilder : public JsonBuilder {
  public:
    ScenarioBuilder& dialog(const std::string& script) {
        value_["dialog"] = script;
        return *this;
    }
    ScenarioBuilder& answer(const std::string& box, const std::string& answer) {
        value_["answers"][box] = answer;
        return *this;
    }
    ScenarioBuilder& dialog_message(std::uint64_t at_ms, const std::string& message) {
        value_["dialog_messages"].push_back({{"at_ms", at_ms}, {"message", message}});
        return *this;
    }
    ScenarioBuilder& session_end(std::uint64_t at_ms, bool forced) {
        value_["session_end"] = {{"at_ms", at_ms}, {"forced", forced}};
        return *this;
    }
    ScenarioBuilder& device(const DeviceBuilder& device) {
        value_["devices"].push_back(device.json());
        return *this;
    }
    // The whole "devices" or "mouse_devices" list (table cases keep theirs as one value).
    ScenarioBuilder& devices(Json list) {
        value_["devices"] = std::move(list);
        return *this;
    }
    ScenarioBuilder& mouse_devices(Json list) {
        value_["mouse_devices"] = std::move(list);
        return *this;
    }
};

} // namespace harness
