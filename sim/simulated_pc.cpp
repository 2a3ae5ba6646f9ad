#include "sim/simulated_pc.h"

#include "host/device_tree.h"
#include "host/handles.h"

namespace sim {

SimulatedPc& pc() {
    static SimulatedPc instance;
    return instance;
}

void reset_pc() {
    pc() = SimulatedPc{};
    host_handles_reset();
    host_device_api_reset();
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

} // namespace sim
