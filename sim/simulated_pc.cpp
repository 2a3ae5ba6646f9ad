#include "sim/simulated_pc.h"

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

std::uint64_t now_ms() {
    return pc().virtual_ms;
}

void record_guard_event(const std::string& what) {
    SimulatedPc& machine = pc();
    std::uint64_t requests = 0;
    for (const SimDevice& device : machine.devices) {
        requests += device.request_log.size();
    }
    machine.guard_events.push_back({what, machine.virtual_ms, requests});
}

} // namespace sim
