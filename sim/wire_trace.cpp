#include "sim/wire_trace.h"

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

std::vector<std::string> wire_trace_lines(const SimDevice& device) {
    std::vector<std::string> lines;
    lines.reserve(device.wire.size());
    for (const WireRecord& record : device.wire) {
        lines.push_back(wire_trace_line(record));
    }
    return lines;
}

} // namespace sim
