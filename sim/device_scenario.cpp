#include "sim/device_scenario.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>

namespace sim {

namespace {

using nlohmann::json;

constexpr std::uint64_t kByteMax = 0xFF;
constexpr std::uint64_t kWordMax = 0xFFFF;
constexpr std::uint64_t kDwordMax = 0xFFFFFFFF;
constexpr std::uint64_t kMillisecondsMax = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kMaxHexDigits = 8;
constexpr std::size_t kMaxDecimalDigits = 10;
constexpr std::size_t kMinorDigits = 2;
constexpr std::size_t kMaxMajorDigits = 2;
constexpr unsigned kHexBase = 16;
constexpr unsigned kDecimalBase = 10;
constexpr std::uint8_t kTopByte = 0xFF;
// Chunks of an interrupted update in scenarios: the size a default data channel carries.
constexpr std::size_t kInterruptedChunkBytes = 128;

const char* const kImageProductId = "image";

// Where a value sits in the scenario, for error messages: devices[0].controller.faults[1].
std::string at(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
}

std::string at_index(const std::string& where, std::size_t index) {
    return where + "[" + std::to_string(index) + "]";
}

bool fail(std::string& error, const std::string& where, const std::string& message) {
    error = where + ": " + message;
    return false;
}

bool check_keys(const json& object, std::initializer_list<const char*> allowed,
                const std::string& where, std::string& error) {
    if (!object.is_object()) {
        return fail(error, where, "must be an object");
    }
    for (const auto& item : object.items()) {
        const bool known = std::any_of(allowed.begin(), allowed.end(),
                                       [&](const char* key) { return item.key() == key; });
        if (!known) {
            return fail(error, where, "unknown key \"" + item.key() + "\"");
        }
    }
    return true;
}

bool parse_digits(const std::string& digits, unsigned base, std::uint64_t& value) {
    const std::size_t most = base == kHexBase ? kMaxHexDigits : kMaxDecimalDigits;
    if (digits.empty() || digits.size() > most) {
        return false;
    }
    value = 0;
    for (char c : digits) {
        const auto u = static_cast<unsigned char>(c);
        const bool ok = base == kHexBase ? std::isxdigit(u) != 0 : std::isdigit(u) != 0;
        if (!ok) {
            return false;
        }
        const unsigned digit = std::isdigit(u) ? u - '0' : (std::tolower(u) - 'a') + kDecimalBase;
        value = value * base + digit;
    }
    return true;
}

// A number given as a JSON number or as a "0x..." string (a decimal string is also taken).
bool text_number(const std::string& text, std::uint64_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex) {
        return parse_digits(text.substr(2), kHexBase, value);
    }
    return parse_digits(text, kDecimalBase, value);
}

bool read_number(const json& value, std::uint64_t max, const std::string& where, std::uint64_t& out,
                 std::string& error) {
    bool ok = false;
    if (value.is_number_unsigned()) {
        out = value.get<std::uint64_t>();
        ok = true;
    } else if (value.is_string()) {
        ok = text_number(value.get<std::string>(), out);
    }
    if (!ok) {
        return fail(error, where, "must be a non-negative number or a \"0x...\" string");
    }
    if (out > max) {
        return fail(error, where, "is larger than " + std::to_string(max));
    }
    return true;
}

template <typename T>
bool read_field(const json& object, const char* key, std::uint64_t max, const std::string& where,
                T& out, std::string& error) {
    if (!object.contains(key)) {
        return true;
    }
    std::uint64_t value = 0;
    if (!read_number(object.at(key), max, at(where, key), value, error)) {
        return false;
    }
    out = static_cast<T>(value);
    return true;
}

bool read_flag(const json& object, const char* key, const std::string& where, bool& out,
               std::string& error) {
    if (!object.contains(key)) {
        return true;
    }
    if (!object.at(key).is_boolean() || !object.at(key).get<bool>()) {
        return fail(error, at(where, key), "must be true (or left out)");
    }
    out = true;
    return true;
}

// ---- defaults ----------------------------------------------------------------------------------

std::uint16_t image_product_id(const ImageFile* image) {
    return image == nullptr ? 0 : image->product_id;
}

void version_below(const ImageFile& image, std::uint8_t& major, std::uint8_t& minor) {
    const std::uint8_t image_major = image.major;
    const std::uint8_t image_minor = image.minor;
    if (image_minor > 0) {
        major = image_major;
        minor = static_cast<std::uint8_t>(image_minor - 1);
    } else if (image_major > 0) {
        major = static_cast<std::uint8_t>(image_major - 1);
        minor = kTopByte;
    } else {
        major = 0;
        minor = 0;
    }
}

SimCollection make_collection(std::uint16_t page, std::uint8_t report_id, std::uint16_t count) {
    SimCollection collection;
    collection.usage_page = page;
    collection.report_id = report_id;
    collection.report_count = count;
    return collection;
}

std::vector<SimCollection> default_collections() {
    return {make_collection(kControlUsagePage, kDefaultControlReportId, kDefaultControlReportCount),
            make_collection(kDataUsagePage, kDefaultDataReportId, kDefaultDataReportCount)};
}

// ---- controller --------------------------------------------------------------------------------

bool read_version(const json& object, const std::string& where, ControllerConfig& config,
                  std::string& error) {
    const char* key = "firmware_version";
    if (!object.contains(key)) {
        return true;
    }
    const json& value = object.at(key);
    if (!value.is_string() ||
        !parse_firmware_version(value.get<std::string>(), config.firmware_major,
                                config.firmware_minor)) {
        return fail(error, at(where, key), "must be a version like \"3.07\"");
    }
    return true;
}

bool read_patch(const json& object, const char* key, const std::string& where,
                std::vector<std::uint8_t>& memory, std::string& error) {
    if (!object.contains(key)) {
        return true;
    }
    const json& patch = object.at(key);
    const std::string place = at(where, key);
    if (!patch.is_object()) {
        return fail(error, place, "must be an object of \"POSITION\": BYTE");
    }
    for (const auto& item : patch.items()) {
        std::uint64_t position = 0;
        std::uint64_t byte = 0;
        if (!text_number(item.key(), position) || position >= memory.size()) {
            return fail(error, place,
                        "position \"" + item.key() + "\" is not below " +
                            std::to_string(memory.size()));
        }
        if (!read_number(item.value(), kByteMax, place + "." + item.key(), byte, error)) {
            return false;
        }
        memory[position] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

bool read_active_mode(const json& object, const std::string& where, ControllerConfig& config,
                      std::string& error) {
    const char* key = "active_mode";
    if (!object.contains(key)) {
        return true;
    }
    const json& list = object.at(key);
    if (!list.is_array() || list.size() != kActiveModeSize) {
        return fail(error, at(where, key), "must be a list of 4 bytes");
    }
    for (std::size_t i = 0; i < kActiveModeSize; ++i) {
        std::uint64_t byte = 0;
        if (!read_number(list[i], kByteMax, at_index(at(where, key), i), byte, error)) {
            return false;
        }
        config.active_mode[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

// A value that must be one of a few names; the refusal lists them all.
template <typename T, std::size_t N, typename Out>
bool read_choice(const json& value, const std::string& where,
                 const std::pair<const char*, T> (&names)[N], Out& out, std::string& error) {
    std::string choices;
    for (std::size_t i = 0; i < N; ++i) {
        if (value.is_string() && value.get<std::string>() == names[i].first) {
            out = names[i].second;
            return true;
        }
        choices += std::string(i == 0 ? "" : i + 1 == N ? " or " : ", ") + names[i].first;
    }
    return fail(error, where, "must be " + choices);
}

// An optional key whose value must be one of a few names.
template <typename T, std::size_t N, typename Out>
bool read_named(const json& object, const char* key, const std::string& where,
                const std::pair<const char*, T> (&names)[N], Out& out, std::string& error) {
    return !object.contains(key) || read_choice(object.at(key), at(where, key), names, out, error);
}

bool read_target(const json& rule, const std::string& where, FaultRule& out, std::string& error) {
    static const std::pair<const char*, FaultTarget> names[] = {
        {"write", FaultTarget::Write},
        {"read", FaultTarget::Read},
        {"write_block", FaultTarget::WriteBlock},
        {"read_block", FaultTarget::ReadBlock},
        {"any", FaultTarget::Any},
    };
    return read_named(rule, "on", where, names, out.on, error);
}

bool read_effect(const json& rule, const std::string& where, FaultRule& out, std::string& error) {
    static const std::pair<const char*, FaultEffect> flags[] = {
        {"fail_set", FaultEffect::FailSet}, {"fail_get", FaultEffect::FailGet},
        {"corrupt", FaultEffect::Corrupt},  {"corrupt_last", FaultEffect::CorruptLast},
        {"ignore", FaultEffect::Ignore},    {"unplug", FaultEffect::Unplug},
    };
    static const std::pair<const char*, FaultEffect> bytes[] = {
        {"status", FaultEffect::Status},
        {"value", FaultEffect::Value},
    };
    int effects = 0;
    for (const auto& [key, effect] : flags) {
        bool present = false;
        if (!read_flag(rule, key, where, present, error)) {
            return false;
        }
        effects += present ? 1 : 0;
        out.effect = present ? effect : out.effect;
    }
    for (const auto& [key, effect] : bytes) {
        if (rule.contains(key)) {
            ++effects;
            out.effect = effect;
            if (!read_field(rule, key, kByteMax, where, out.byte, error)) {
                return false;
            }
        }
    }
    if (effects != 1) {
        return fail(error, where,
                    "needs exactly one of fail_set, fail_get, status, value, corrupt, "
                    "corrupt_last, ignore, unplug");
    }
    return true;
}

bool read_fault(const json& rule, const std::string& where, FaultRule& out, std::string& error) {
    if (!check_keys(rule,
                    {"on", "address", "skip", "times", "fail_set", "fail_get", "status", "value",
                     "corrupt", "corrupt_last", "ignore", "unplug"},
                    where, error) ||
        !read_target(rule, where, out, error) || !read_effect(rule, where, out, error) ||
        !read_field(rule, "skip", kDwordMax, where, out.skip, error)) {
        return false;
    }
    if (rule.contains("address")) {
        std::uint32_t address = 0;
        if (!read_field(rule, "address", kDwordMax, where, address, error)) {
            return false;
        }
        out.address = address;
    }
    if (rule.contains("times")) {
        std::uint32_t times = 0;
        if (!read_field(rule, "times", kDwordMax, where, times, error)) {
            return false;
        }
        out.times = times;
    }
    return true;
}

bool read_faults(const json& object, const std::string& where, std::vector<FaultRule>& faults,
                 std::string& error) {
    if (!object.contains("faults")) {
        return true;
    }
    const json& list = object.at("faults");
    const std::string place = at(where, "faults");
    if (!list.is_array()) {
        return fail(error, place, "must be a list of fault rules");
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        FaultRule rule;
        if (!read_fault(list[i], at_index(place, i), rule, error)) {
            return false;
        }
        faults.push_back(rule);
    }
    return true;
}

bool read_fill(const json& object, const std::string& where, ControllerConfig& config,
               std::string& error) {
    if (!object.contains("main_memory_fill")) {
        return true;
    }
    std::uint8_t fill = 0;
    if (!read_field(object, "main_memory_fill", kByteMax, where, fill, error)) {
        return false;
    }
    config.main_memory_fill = fill;
    return true;
}

// "mode_status": 0x10 starts the controller in firmware-update mode, 0x11 in normal mode.
bool read_mode_status(const json& object, const std::string& where, ControllerConfig& config,
                      std::string& error) {
    if (!object.contains("mode_status")) {
        return true;
    }
    std::uint8_t status = 0;
    if (!read_field(object, "mode_status", kByteMax, where, status, error)) {
        return false;
    }
    if (status != kModeStatusUpdate && status != kModeStatusNormal) {
        return fail(error, at(where, "mode_status"), "must be 0x10 (update mode) or 0x11 (normal)");
    }
    config.update_mode = status == kModeStatusUpdate;
    return true;
}

// "main_memory": "erased", and "programmed_chunks": N, the first N chunks of 128 bytes of the
// folder image programmed over the erased memory, as an interrupted update leaves it.
bool read_interrupted_memory(const json& object, const std::string& where, const ImageFile* image,
                             ControllerConfig& config, std::string& error) {
    const bool erased = object.contains("main_memory");
    const bool programmed = object.contains("programmed_chunks");
    if (!erased && !programmed) {
        return true;
    }
    if (erased && object.at("main_memory") != "erased") {
        return fail(error, at(where, "main_memory"), "must be \"erased\"");
    }
    if (object.contains("firmware_version") || object.contains("main_memory_fill")) {
        return fail(error, where,
                    "main_memory or programmed_chunks give the version bytes themselves; "
                    "firmware_version and main_memory_fill do not go with them");
    }
    std::uint32_t chunks = 0;
    if (!read_field(object, "programmed_chunks", kMainMemoryBytes / kInterruptedChunkBytes, where,
                    chunks, error)) {
        return false;
    }
    if (chunks > 0 && image == nullptr) {
        return fail(error, at(where, "programmed_chunks"), "needs an image in the folder");
    }
    std::vector<std::uint8_t> memory(kMainMemoryBytes, kErasedByte);
    if (chunks > 0) {
        std::copy_n(image->main_image.begin(), std::size_t{chunks} * kInterruptedChunkBytes,
                    memory.begin());
    }
    config.main_memory = std::move(memory);
    return true;
}

bool read_controller(const json& device, const std::string& device_where, const ImageFile* image,
                     SimDevice& out, std::string& error) {
    ControllerConfig config = default_controller_config(image);
    if (device.contains("controller")) {
        const json& object = device.at("controller");
        const std::string where = at(device_where, "controller");
        const bool ok =
            check_keys(object,
                       {"firmware_version", "config_version", "system_memory", "information_memory",
                        "active_mode", "faults", "mode_settle_ms", "erase_busy_polls",
                        "main_memory_fill", "mode_status", "main_memory", "programmed_chunks"},
                       where, error) &&
            read_version(object, where, config, error) &&
            read_field(object, "config_version", kByteMax, where, config.config_version, error) &&
            read_patch(object, "system_memory", where, config.system_memory, error) &&
            read_patch(object, "information_memory", where, config.information_memory, error) &&
            read_active_mode(object, where, config, error) &&
            read_field(object, "mode_settle_ms", kMillisecondsMax, where, config.mode_settle_ms,
                       error) &&
            read_field(object, "erase_busy_polls", kDwordMax, where, config.erase_busy_polls,
                       error) &&
            read_fill(object, where, config, error) &&
            read_mode_status(object, where, config, error) &&
            read_interrupted_memory(object, where, image, config, error) &&
            read_faults(object, where, out.faults, error);
        if (!ok) {
            return false;
        }
    }
    controller_init(out.controller, config);
    return true;
}

// ---- devices -----------------------------------------------------------------------------------

bool read_accepts(const json& object, const std::string& where, SimCollection& out,
                  std::string& error) {
    static const std::pair<const char*, CollectionKind> names[] = {
        {"control", CollectionKind::Control},
        {"data", CollectionKind::Data},
        {"none", CollectionKind::None},
    };
    return read_named(object, "accepts", where, names, out.accepts, error);
}

bool read_held_open(const json& object, const std::string& where, SimCollection& out,
                    std::string& error) {
    static const std::pair<const char*, HeldOpen> names[] = {
        {"exclusive", HeldOpen::Exclusive},
        {"shared", HeldOpen::Shared},
        {"none", HeldOpen::None},
    };
    return read_named(object, "held_open", where, names, out.held_open, error);
}

bool read_collection(const json& object, const std::string& where, SimCollection& out,
                     std::string& error) {
    return check_keys(object,
                      {"usage_page", "report_id", "report_count", "feature_value_caps", "accepts",
                       "held_open"},
                      where, error) &&
           read_field(object, "usage_page", kWordMax, where, out.usage_page, error) &&
           read_field(object, "report_id", kByteMax, where, out.report_id, error) &&
           read_field(object, "report_count", kWordMax - 1, where, out.report_count, error) &&
           read_field(object, "feature_value_caps", kWordMax, where, out.feature_value_caps,
                      error) &&
           read_accepts(object, where, out, error) && read_held_open(object, where, out, error);
}

bool read_collections(const json& device, const std::string& where, SimDevice& out,
                      std::string& error) {
    if (!device.contains("collections")) {
        return true;
    }
    const json& list = device.at("collections");
    const std::string place = at(where, "collections");
    if (!list.is_array()) {
        return fail(error, place, "must be a list of collections");
    }
    out.collections.clear();
    for (std::size_t i = 0; i < list.size(); ++i) {
        SimCollection collection;
        if (!read_collection(list[i], at_index(place, i), collection, error)) {
            return false;
        }
        out.collections.push_back(collection);
    }
    return true;
}

bool read_product_id(const json& device, const std::string& where, const ImageFile* image,
                     SimDevice& out, std::string& error) {
    const json* value = device.contains("product_id") ? &device.at("product_id") : nullptr;
    if (value != nullptr && value->is_string() && value->get<std::string>() == kImageProductId) {
        out.product_id = image_product_id(image);
        return true;
    }
    return read_field(device, "product_id", kWordMax, where, out.product_id, error);
}

bool read_device(const json& object, const std::string& where, const ImageFile* image,
                 SimDevice& out, std::string& error) {
    out = SimDevice{};
    out.vendor_id = kDefaultVendorId;
    out.product_id = image_product_id(image);
    out.version_number = kDefaultVersionNumber;
    out.collections = default_collections();
    return check_keys(object,
                      {"vendor_id", "product_id", "version_number", "collections", "controller",
                       "enumeration_fails"},
                      where, error) &&
           read_flag(object, "enumeration_fails", where, out.enumeration_fails, error) &&
           read_field(object, "vendor_id", kWordMax, where, out.vendor_id, error) &&
           read_product_id(object, where, image, out, error) &&
           read_field(object, "version_number", kWordMax, where, out.version_number, error) &&
           read_collections(object, where, out, error) &&
           read_controller(object, where, image, out, error);
}

bool read_devices(const json& scenario, const ImageFile* image, std::vector<SimDevice>& devices,
                  std::string& error) {
    if (!scenario.contains("devices")) {
        devices.push_back(default_device(image));
        return true;
    }
    const json& list = scenario.at("devices");
    if (!list.is_array()) {
        return fail(error, "devices", "must be a list of devices");
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        SimDevice device;
        if (!read_device(list[i], at_index("devices", i), image, device, error)) {
            return false;
        }
        devices.push_back(std::move(device));
    }
    return true;
}

bool read_mouse_devices(const json& scenario, std::vector<std::vector<std::string>>& mice,
                        std::string& error) {
    if (!scenario.contains("mouse_devices")) {
        return true;
    }
    const json& list = scenario.at("mouse_devices");
    if (!list.is_array()) {
        return fail(error, "mouse_devices", "must be a list of hardware-ID lists");
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string where = at_index("mouse_devices", i);
        if (!list[i].is_array()) {
            return fail(error, where, "must be a list of hardware-ID strings");
        }
        std::vector<std::string> ids;
        for (std::size_t j = 0; j < list[i].size(); ++j) {
            if (!list[i][j].is_string() || list[i][j].get<std::string>().empty()) {
                return fail(error, at_index(where, j), "must be a non-empty string");
            }
            ids.push_back(list[i][j].get<std::string>());
        }
        mice.push_back(std::move(ids));
    }
    return true;
}

} // namespace

bool parse_firmware_version(const std::string& text, std::uint8_t& major, std::uint8_t& minor) {
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot > kMaxMajorDigits ||
        text.size() - dot - 1 != kMinorDigits) {
        return false;
    }
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    if (!parse_digits(text.substr(0, dot), kHexBase, high) ||
        !parse_digits(text.substr(dot + 1), kHexBase, low)) {
        return false;
    }
    major = static_cast<std::uint8_t>(high);
    minor = static_cast<std::uint8_t>(low);
    return true;
}

static_assert(kImageSystemBytes == kSystemMemoryBytes &&
                  kImageInformationBytes == kInformationMemoryBytes &&
                  kImageMainBytes == kMainMemoryBytes,
              "an image's sections fill the controller's memories");

ControllerConfig default_controller_config(const ImageFile* image) {
    ControllerConfig config;
    config.system_memory.assign(kSystemMemoryBytes, 0);
    config.information_memory.assign(kInformationMemoryBytes, 0);
    if (image == nullptr) {
        return config;
    }
    version_below(*image, config.firmware_major, config.firmware_minor);
    config.config_version = image->config_version;
    config.system_memory = image->system_memory;
    config.information_memory = image->information_memory;
    return config;
}

SimDevice default_device(const ImageFile* image) {
    SimDevice device;
    device.vendor_id = kDefaultVendorId;
    device.product_id = image_product_id(image);
    device.version_number = kDefaultVersionNumber;
    device.collections = default_collections();
    controller_init(device.controller, default_controller_config(image));
    return device;
}

bool load_device_scenario(const nlohmann::json& scenario, const ImageFile* image, SimulatedPc& pc,
                          std::string& error) {
    if (!scenario.is_object()) {
        return fail(error, "scenario", "must be an object");
    }
    std::vector<std::vector<std::string>> mice;
    std::vector<SimDevice> devices;
    if (!read_mouse_devices(scenario, mice, error) ||
        !read_devices(scenario, image, devices, error)) {
        return false;
    }
    pc.mouse_devices = std::move(mice);
    pc.devices = std::move(devices);
    return true;
}

} // namespace sim
