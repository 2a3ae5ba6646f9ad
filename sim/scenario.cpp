// The top-level scenario keys: time, power, the user's answers and the dialog script. The device
// tree's keys are read by the device scenario.
#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <memory>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "sim/device_scenario.h"

namespace sim {

namespace {

using nlohmann::json;

const std::set<std::string> kTopLevelKeys = {"time",
                                             "power",
                                             "answers",
                                             "dialog",
                                             "dialog_messages",
                                             "window_station",
                                             "session_end",
                                             "updater_lock",
                                             "registry",
                                             "devices",
                                             "mouse_devices",
                                             "clock",
                                             "account",
                                             "session_id",
                                             "private_namespaces",
                                             "redirection_trust",
                                             "settings_writer"};

constexpr double kMaxTickMs = 1000.0;
// The updater's pause after each write without a Setting.ini, and the protocol's after a mode
// change: what the controllers need.
constexpr std::uint32_t kDefaultWaitMs = 2;
constexpr std::uint64_t kModeChangePauseMs = 1000;

bool refuse_unknown(const json& object, const std::set<std::string>& known,
                    const std::string& where, std::string& error) {
    for (const auto& [key, value] : object.items()) {
        if (!known.contains(key)) {
            error = "unknown key \"";
            error.append(key).append("\" in ").append(where);
            return false;
        }
    }
    return true;
}

// "YYYY-MM-DD HH:MM:SS", every field its fixed width of digits.
constexpr const char* kTimePattern = "dddd-dd-dd dd:dd:dd";

int digits_at(const std::string& text, std::size_t position, std::size_t count) {
    int value = 0;
    std::from_chars(text.data() + position, text.data() + position + count, value);
    return value;
}

bool parse_time(const std::string& text, LocalTime& time) {
    const std::string pattern = kTimePattern;
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) {
            return false;
        }
    }
    time.year = digits_at(text, 0, 4);
    time.month = digits_at(text, 5, 2);
    time.day = digits_at(text, 8, 2);
    time.hour = digits_at(text, 11, 2);
    time.minute = digits_at(text, 14, 2);
    time.second = digits_at(text, 17, 2);
    return time.month >= 1 && time.month <= 12 && time.day >= 1 && time.day <= 31 &&
           time.hour <= 23 && time.minute <= 59 && time.second <= 59 && time.year >= 1601;
}

bool read_time(const json& value, SimulatedPc& machine, std::string& error) {
    LocalTime time;
    if (!value.is_string() || !parse_time(value.get<std::string>(), time)) {
        error = "\"time\" must be \"YYYY-MM-DD HH:MM:SS\"";
        return false;
    }
    machine.start_time = time;
    return true;
}

bool read_power(const json& value, SimulatedPc& machine, std::string& error) {
    if (!value.is_object() || !refuse_unknown(value, {"ac_line_status", "fails"}, "power", error)) {
        if (error.empty()) {
            error = "\"power\" must be an object";
        }
        return false;
    }
    if (value.contains("fails")) {
        if (!value["fails"].is_boolean()) {
            error = "\"power.fails\" must be true or false";
            return false;
        }
        machine.power_call_fails = value["fails"].get<bool>();
    }
    if (value.contains("ac_line_status")) {
        const json& status = value["ac_line_status"];
        if (!status.is_number_unsigned() ||
            (status.get<unsigned>() != 0 && status.get<unsigned>() != 1 &&
             status.get<unsigned>() != 255)) {
            error = "\"power.ac_line_status\" must be 0, 1 or 255";
            return false;
        }
        machine.ac_line_status = static_cast<std::uint8_t>(status.get<unsigned>());
    }
    return true;
}

bool read_answers(const json& value, SimulatedPc& machine, std::string& error) {
    if (!value.is_object()) {
        error = "\"answers\" must be an object";
        return false;
    }
    if (!refuse_unknown(value, {"question"}, "answers", error)) {
        return false;
    }
    if (value.contains("question")) {
        const json& answer = value["question"];
        if (answer != "yes" && answer != "no" && answer != "fail") {
            error = "\"answers.question\" must be \"yes\", \"no\" or \"fail\"";
            return false;
        }
        machine.answer_yes = answer == "yes";
        machine.question_box_fails = answer == "fail";
    }
    return true;
}

bool read_dialog(const json& value, SimulatedPc& machine, std::string& error) {
    static const std::map<std::string, DialogAction> kActions = {
        {"start", DialogAction::Start},
        {"close", DialogAction::Close},
        {"start_twice", DialogAction::StartTwice},
        {"fail", DialogAction::Fail}};
    const auto action =
        value.is_string() ? kActions.find(value.get<std::string>()) : kActions.end();
    if (action == kActions.end()) {
        error = "\"dialog\" must be \"start\", \"close\", \"start_twice\" or \"fail\"";
        return false;
    }
    machine.dialog = action->second;
    return true;
}

// "dialog_messages": [{"at_ms": N, "message": "null" | "close" | "start" | "escape" |
// "alt_f4" | "quit"}]; they are posted in order of time (in list order at the same time).
bool read_dialog_messages(const json& value, SimulatedPc& machine, std::string& error) {
    static const std::pair<const char*, DialogMessageKind> kNames[] = {
        {"null", DialogMessageKind::Null},          {"close", DialogMessageKind::Close},
        {"start", DialogMessageKind::Start},        {"escape", DialogMessageKind::Escape},
        {"alt_f4", DialogMessageKind::SystemClose}, {"quit", DialogMessageKind::Quit}};
    error = "\"dialog_messages\" must be a list of {\"at_ms\": N, \"message\": \"null\" | "
            "\"close\" | \"start\" | \"escape\" | \"alt_f4\" | \"quit\"}";
    if (!value.is_array()) {
        return false;
    }
    std::vector<ScriptedMessage> messages;
    for (const json& entry : value) {
        if (!entry.is_object() ||
            !refuse_unknown(entry, {"at_ms", "message"}, "a dialog message", error)) {
            return false;
        }
        if (!entry.contains("at_ms") || !entry["at_ms"].is_number_unsigned() ||
            !entry.contains("message") || !entry["message"].is_string()) {
            return false;
        }
        ScriptedMessage message;
        message.at_ms = entry["at_ms"].get<std::uint64_t>();
        const auto name = entry["message"].get<std::string>();
        const auto* known = std::find_if(std::begin(kNames), std::end(kNames),
                                         [&](const auto& pair) { return name == pair.first; });
        if (known == std::end(kNames)) {
            return false;
        }
        message.kind = known->second;
        messages.push_back(message);
    }
    std::stable_sort(messages.begin(), messages.end(),
                     [](const auto& a, const auto& b) { return a.at_ms < b.at_ms; });
    machine.dialog_messages = std::move(messages);
    error.clear();
    return true;
}

// "window_station": "visible" | "hidden" (a service's, or SYSTEM's in session 0: nobody sees it) |
// "query_fails" (its flags cannot be read).
bool read_window_station(const json& value, SimulatedPc& machine, std::string& error) {
    if (value != "visible" && value != "hidden" && value != "query_fails") {
        error = "\"window_station\" must be \"visible\", \"hidden\" or \"query_fails\"";
        return false;
    }
    machine.window_station_visible = value != "hidden";
    machine.window_station_query_fails = value == "query_fails";
    return true;
}

// "session_end": {"at_ms": N | "in_box": TEXT, "forced": false, "forged": false}: the session ends
// at that virtual time, or while the box with that text is shown.
bool read_session_end(const json& value, SimulatedPc& machine, std::string& error) {
    error = "\"session_end\" must be {\"at_ms\": N or \"in_box\": TEXT, \"forced\": true | false, "
            "\"forged\": true | false}";
    if (!value.is_object() ||
        !refuse_unknown(value, {"at_ms", "forced", "forged", "in_box"}, "session_end", error)) {
        return false;
    }
    const bool timed = value.contains("at_ms");
    const bool in_box = value.contains("in_box");
    if (timed == in_box || (timed && !value["at_ms"].is_number_unsigned()) ||
        (in_box && !value["in_box"].is_string())) {
        return false;
    }
    for (const char* flag : {"forced", "forged"}) {
        if (value.contains(flag) && !value[flag].is_boolean()) {
            return false;
        }
    }
    SessionEnd end;
    end.at_ms = timed ? value["at_ms"].get<std::uint64_t>() : 0;
    end.in_box = in_box ? value["in_box"].get<std::string>() : "";
    end.forced = value.value("forced", false);
    end.forged = value.value("forged", false);
    if (end.forced && end.forged) {
        return false;
    }
    machine.session_end = end;
    error.clear();
    return true;
}

// "account": "administrator" (elevated) | "system": whom the program runs as.
bool read_account(const json& value, SimulatedPc& machine, std::string& error) {
    if (value != "administrator" && value != "system") {
        error = "\"account\" must be \"administrator\" or \"system\"";
        return false;
    }
    machine.account = value == "system" ? Account::System : Account::Administrator;
    return true;
}

bool read_session_id(const json& value, SimulatedPc& machine, std::string& error) {
    if (!value.is_number_unsigned()) {
        error = "\"session_id\" must be a number";
        return false;
    }
    machine.session_id = value.get<std::uint32_t>();
    return true;
}

bool read_flag(const json& value, const char* key, bool& flag, std::string& error) {
    if (!value.is_boolean()) {
        error = std::string("\"") + key + "\" must be true or false";
        return false;
    }
    flag = value.get<bool>();
    return true;
}

// Another updater, under the other account, holds the lock where a run looks for it: in its
// private namespace and, for runs without private namespaces, by its plain name.
void hold_updater_lock(SimulatedPc& machine, MutexHolder holder) {
    const std::vector<std::string> admins_and_system = {kSidAdministrators, kSidSystem};
    PrivateNamespace& space = machine.private_namespaces[namespace_key(
        L"NorvaneFwUpdater", {kSidAdministrators}, L"NorvaneFwUpdater")];
    space.allowed = admins_and_system;
    space.held_elsewhere = true;
    machine.named_mutexes[updater_lock_in_namespace()] = {holder, 0, admins_and_system};
    machine.named_mutexes[kUpdaterLockName] = {holder, 0, admins_and_system};
}

// "updater_lock": "held" (another updater runs) | "abandoned" (one was killed holding it) |
// "squatted" (a standard user holds the plain name Global\NorvaneFwUpdater) | "squatted_denied"
// (the same with an access list that admits nobody else) | "namespace_squatted" (a standard
// user's private namespace of the same alias, with an empty boundary, and a lock held in it).
bool read_updater_lock(const json& value, SimulatedPc& machine, std::string& error) {
    if (value == "held" || value == "abandoned") {
        hold_updater_lock(machine,
                          value == "held" ? MutexHolder::OtherProcess : MutexHolder::Abandoned);
    } else if (value == "squatted" || value == "squatted_denied") {
        machine.named_mutexes[kUpdaterLockName] = {
            MutexHolder::OtherProcess, 0,
            value == "squatted" ? std::vector<std::string>{} : account_sids(Account::StandardUser)};
    } else if (value == "namespace_squatted") {
        const std::wstring key = namespace_key(L"NorvaneFwUpdater", {}, L"NorvaneFwUpdater");
        machine.private_namespaces[key].held_elsewhere = true;
        machine.named_mutexes[key + L"\\UpdaterLock"] = {MutexHolder::OtherProcess, 0, {}};
    } else {
        error = "\"updater_lock\" must be \"held\", \"abandoned\", \"squatted\", "
                "\"squatted_denied\" or \"namespace_squatted\"";
        return false;
    }
    return true;
}

// "registry": "writable" | "read_only" (every write refused).
bool read_registry(const json& value, SimulatedPc& machine, std::string& error) {
    if (value != "writable" && value != "read_only") {
        error = "\"registry\" must be \"writable\" or \"read_only\"";
        return false;
    }
    machine.registry_read_only = value == "read_only";
    return true;
}

// A number of milliseconds above 0 and up to `limit`, fractions allowed, in time units.
bool read_clock_ms(const json& value, double limit, std::uint64_t& time) {
    if (!value.is_number() || value.get<double>() <= 0 || value.get<double>() > limit) {
        return false;
    }
    time = static_cast<std::uint64_t>(
        std::llround(value.get<double>() * static_cast<double>(kTimeUnitsPerMs)));
    return time > 0;
}

// "clock": {"tick_ms": 15.625, "first_tick_ms": 0.5, "high_resolution_timers": true | false}.
bool read_clock(const json& value, SimulatedPc& machine, std::string& error) {
    error = "\"clock\" must be {\"tick_ms\": N, \"first_tick_ms\": N, \"high_resolution_timers\": "
            "true | false}, 0 < tick_ms <= 1000 and 0 < first_tick_ms <= tick_ms";
    if (!value.is_object() ||
        !refuse_unknown(value, {"tick_ms", "first_tick_ms", "high_resolution_timers"}, "clock",
                        error)) {
        return false;
    }
    WindowsClock clock;
    if (value.contains("tick_ms") && !read_clock_ms(value["tick_ms"], kMaxTickMs, clock.tick)) {
        return false;
    }
    clock.first_tick = clock.tick;
    const double tick_ms = static_cast<double>(clock.tick) / static_cast<double>(kTimeUnitsPerMs);
    if (value.contains("first_tick_ms") &&
        !read_clock_ms(value["first_tick_ms"], tick_ms, clock.first_tick)) {
        return false;
    }
    if (value.contains("high_resolution_timers")) {
        if (!value["high_resolution_timers"].is_boolean()) {
            return false;
        }
        clock.high_resolution_timers = value["high_resolution_timers"].get<bool>();
    }
    machine.clock = clock;
    error.clear();
    return true;
}

std::string lower_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool has_bin_extension(const std::filesystem::path& name) {
    return lower_case(name.extension().string()) == ".bin";
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    return first == std::string::npos
               ? ""
               : text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

// WAIT of the [Setting] section: its leading digits, as the updater reads it; 0 (no need the
// controller could hold the updater to) when it has none, 2 when there is no such key.
std::uint32_t wait_in(std::istream& settings) {
    bool in_section = false;
    std::string line;
    while (std::getline(settings, line)) {
        const std::string text = trimmed(line);
        const auto equals = text.find('=');
        if (text.starts_with('[')) {
            in_section = lower_case(text) == "[setting]";
        } else if (in_section && equals != std::string::npos &&
                   lower_case(trimmed(text.substr(0, equals))) == "wait") {
            const std::string number = trimmed(text.substr(equals + 1));
            std::uint32_t wait = 0;
            std::from_chars(number.data(), number.data() + number.size(), wait);
            return wait;
        }
    }
    return kDefaultWaitMs;
}

// The pause the updater keeps after each write: WAIT of the folder's Setting.ini (any case).
std::uint32_t folder_wait_ms() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(".", ignored)) {
        if (lower_case(entry.path().filename().string()) == "setting.ini") {
            std::ifstream settings(entry.path());
            return wait_in(settings);
        }
    }
    return kDefaultWaitMs;
}

} // namespace

std::unique_ptr<ImageFile> folder_image() {
    std::vector<std::filesystem::path> matches;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(".", ignored)) {
        if (has_bin_extension(entry.path().filename())) {
            matches.push_back(entry.path()); // folders count, as the program counts them
        }
    }
    if (matches.size() != 1 || !std::filesystem::is_regular_file(matches.front(), ignored)) {
        return nullptr;
    }
    std::ifstream file(matches.front(), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    auto image = std::make_unique<ImageFile>();
    if (!decode_image_file(bytes.data(), bytes.size(), *image)) {
        return nullptr;
    }
    return image;
}

bool read_settings_writer(const json& value, SimulatedPc& machine, std::string& error) {
    if (!value.is_string()) {
        error = "\"settings_writer\" must be the text it writes";
        return false;
    }
    machine.settings_writer = value.get<std::string>();
    return true;
}

// The scenario's sections about the PC around the devices, each read by its own reader.
struct SectionReader {
    const char* key;
    bool (*read)(const json& value, SimulatedPc& machine, std::string& error);
};

const SectionReader kSectionReaders[] = {
    {"time", read_time},
    {"power", read_power},
    {"answers", read_answers},
    {"dialog", read_dialog},
    {"dialog_messages", read_dialog_messages},
    {"window_station", read_window_station},
    {"session_end", read_session_end},
    {"updater_lock", read_updater_lock},
    {"registry", read_registry},
    {"account", read_account},
    {"session_id", read_session_id},
    {"private_namespaces",
     [](const json& value, SimulatedPc& machine, std::string& error) {
         return read_flag(value, "private_namespaces", machine.private_namespaces_supported, error);
     }},
    {"settings_writer", read_settings_writer},
    {"redirection_trust",
     [](const json& value, SimulatedPc& machine, std::string& error) {
         return read_flag(value, "redirection_trust", machine.redirection_trust_supported, error);
     }},
    {"clock", read_clock},
};

bool load_scenario_text(const std::string& text, SimulatedPc& machine, std::string& error) {
    json scenario = json::parse(text, nullptr, false);
    if (scenario.is_discarded() || !scenario.is_object()) {
        error = "the scenario is not a JSON object";
        return false;
    }
    if (!refuse_unknown(scenario, kTopLevelKeys, "the scenario", error)) {
        return false;
    }
    for (const SectionReader& section : kSectionReaders) {
        if (scenario.contains(section.key) &&
            !section.read(scenario[section.key], machine, error)) {
            return false;
        }
    }
    const std::unique_ptr<ImageFile> image = folder_image();
    if (!load_device_scenario(scenario, image.get(), machine, error)) {
        return false;
    }
    // The controllers need the pauses that the folder's settings and the protocol give the updater.
    const std::uint32_t wait_ms = folder_wait_ms();
    for (SimDevice& device : machine.devices) {
        device.controller.write_pause_ms = wait_ms;
        device.controller.mode_pause_ms = kModeChangePauseMs;
    }
    return true;
}

bool load_scenario_file(const std::string& path, SimulatedPc& machine, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read the scenario file " + path;
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    if (!load_scenario_text(text.str(), machine, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

} // namespace sim
