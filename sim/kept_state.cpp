#include "sim/kept_state.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace sim {

namespace {

using nlohmann::json;

constexpr const char* kHexDigits = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;
constexpr int kHexBase = 16;

std::string to_hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kHexDigits[byte >> kNibbleBits];
        text += kHexDigits[byte & kNibbleMask];
    }
    return text;
}

int hex_value(char digit) {
    const std::string digits = kHexDigits;
    const std::size_t at = digits.find(digit);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

// Hex text of exactly the memory's size into the memory.
bool from_hex(const json& value, std::vector<std::uint8_t>& memory) {
    if (!value.is_string() || value.get<std::string>().size() != memory.size() * 2) {
        return false;
    }
    const std::string text = value.get<std::string>();
    for (std::size_t i = 0; i < memory.size(); ++i) {
        const int high = hex_value(text[2 * i]);
        const int low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        memory[i] = static_cast<std::uint8_t>(high * kHexBase + low);
    }
    return true;
}

json save_controller(const Controller& controller) {
    json registers = json::object();
    for (const auto& [address, value] : controller.registers) {
        char key[16];
        std::snprintf(key, sizeof(key), "0x%06x", static_cast<unsigned>(address));
        registers[key] = value;
    }
    return json{{"update_mode", controller.update_mode},
                {"registers", registers},
                {"system_memory", to_hex(controller.system_memory)},
                {"information_memory", to_hex(controller.information_memory)},
                {"main_memory", to_hex(controller.main_memory)}};
}

bool restore_registers(const json& value, Controller& controller) {
    if (!value.is_object()) {
        return false;
    }
    std::map<std::uint32_t, std::uint8_t> registers;
    for (const auto& [key, byte] : value.items()) {
        unsigned long address = 0;
        try {
            address = std::stoul(key, nullptr, kHexBase);
        } catch (const std::exception&) {
            return false;
        }
        if (!byte.is_number_unsigned() || byte.get<unsigned>() > 0xFF) {
            return false;
        }
        registers[static_cast<std::uint32_t>(address)] = byte.get<std::uint8_t>();
    }
    controller.registers = std::move(registers);
    return true;
}

bool restore_controller(const json& kept, Controller& controller) {
    Controller restored = controller;
    const bool ok =
        kept.is_object() && kept.contains("update_mode") && kept["update_mode"].is_boolean() &&
        kept.contains("registers") && restore_registers(kept["registers"], restored) &&
        kept.contains("system_memory") && from_hex(kept["system_memory"], restored.system_memory) &&
        kept.contains("information_memory") &&
        from_hex(kept["information_memory"], restored.information_memory) &&
        kept.contains("main_memory") && from_hex(kept["main_memory"], restored.main_memory);
    if (!ok) {
        return false;
    }
    restored.update_mode = kept["update_mode"].get<bool>();
    carry_over_controller(restored, controller);
    return true;
}

} // namespace

void carry_over_controller(const Controller& kept, Controller& into) {
    into.registers = kept.registers;
    into.system_memory = kept.system_memory;
    into.information_memory = kept.information_memory;
    into.main_memory = kept.main_memory;
    into.update_mode = kept.update_mode;
    // A new run starts on a settled controller: the last mode change is long past.
    into.mode_applied.reset();
    into.busy_polls_left = 0;
}

std::string save_kept_state(const SimulatedPc& machine) {
    json controllers = json::array();
    for (const SimDevice& device : machine.devices) {
        controllers.push_back(save_controller(device.controller));
    }
    return json{{"controllers", controllers}}.dump(1) + "\n";
}

bool restore_kept_state(const std::string& text, SimulatedPc& machine, std::string& error) {
    const json kept = json::parse(text, nullptr, false);
    if (kept.is_discarded() || !kept.is_object() || !kept.contains("controllers") ||
        !kept["controllers"].is_array()) {
        error = "the kept state is not an object with a \"controllers\" list";
        return false;
    }
    const json& controllers = kept["controllers"];
    for (std::size_t i = 0; i < controllers.size() && i < machine.devices.size(); ++i) {
        if (!restore_controller(controllers[i], machine.devices[i].controller)) {
            error = "kept controller " + std::to_string(i) + " is malformed";
            return false;
        }
    }
    return true;
}

} // namespace sim
