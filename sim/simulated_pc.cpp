#include "sim/simulated_pc.h"

#include <algorithm>
#include <cwctype>

#include "host/device_tree.h"
#include "host/handles.h"
#include "host/process.h"

namespace sim {

SimulatedPc& pc() {
    static SimulatedPc instance;
    return instance;
}

void reset_pc() {
    pc() = SimulatedPc{};
    host_handles_reset();
    host_device_api_reset();
    host_windows_reset();
}

void record_event(const std::string& line) {
    SimulatedPc& machine = pc();
    machine.transcript.push_back(line);
    if (machine.on_event) {
        machine.on_event(line);
    }
}

std::uint64_t now() {
    return pc().virtual_time;
}

std::uint64_t now_ms() {
    return pc().virtual_time / kTimeUnitsPerMs;
}

std::wstring registry_key_path(std::wstring key) {
    std::transform(key.begin(), key.end(), key.begin(),
                   [](wchar_t ch) { return static_cast<wchar_t>(std::towlower(ch)); });
    return key;
}

const RegistryValue* registry_value(const std::wstring& key, const std::wstring& name) {
    const auto found = pc().registry.find(registry_key_path(key));
    if (found == pc().registry.end()) {
        return nullptr;
    }
    const auto value = found->second.find(name);
    return value == found->second.end() ? nullptr : &value->second;
}

void record_guard_event(const std::string& what) {
    SimulatedPc& machine = pc();
    std::uint64_t requests = 0;
    for (const SimDevice& device : machine.devices) {
        requests += device.request_log.size();
    }
    machine.guard_events.push_back({what, now_ms(), requests});
}

} // namespace sim
