#include "sim/wire_trace.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

constexpr std::size_t kTimeField = 32;
constexpr std::size_t kByteField = 4; // two hex digits, a blank, the terminator

} // namespace

std::string wire_trace_line(const WireRecord& record) {
    char time[kTimeField];
    std::snprintf(time, sizeof(time), "%6llu ",
                  static_cast<unsigned long long>(record.time / kTimeUnitsPerMs));
    std::string line = time;
    line += record.set ? "set" : "get";
    if (!record.ok) {
        line += "-fail";
    }
    for (const std::uint8_t byte : record.bytes) {
        char hex[kByteField];
        std::snprintf(hex, sizeof(hex), " %02X", static_cast<unsigned>(byte));
        line += hex;
    }
    return line;
}

std::optional<std::uint64_t> shortest_write_pause(const SimDevice& device) {
    std::optional<std::uint64_t> shortest;
    for (std::size_t i = 0; i + 1 < device.wire.size(); ++i) {
        const WireRecord& call = device.wire[i];
        const bool write = call.set && call.ok && call.bytes.size() > kCommandByte &&
                           (call.bytes[kCommandByte] == kCommandWriteRegister ||
                            call.bytes[kCommandByte] == kCommandWriteBlock);
        if (write) {
            const std::uint64_t pause = device.wire[i + 1].time - call.time;
            shortest = std::min(shortest.value_or(pause), pause);
        }
    }
    return shortest;
}

std::vector<std::string> wire_trace_lines(const SimDevice& device) {
    std::vector<std::string> lines;
    lines.reserve(device.wire.size());
    for (const WireRecord& record : device.wire) {
        lines.push_back(wire_trace_line(record));
    }
    return lines;
}

} // namespace sim
