// The wire trace: every feature-report call on a simulated device as one text line, so that a
// whole run can be compared with a reference list of requests and responses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/hid_device.h"

namespace sim {

// "TIME set BYTES" for a request, "TIME get BYTES" for a response: TIME the virtual milliseconds
// of the call (whole, right-aligned), BYTES every byte of the report in upper-case hex, report ID
// first. A failed call reads "set-fail" or "get-fail"; a failed fetch lists no bytes.
std::string wire_trace_line(const WireRecord& record);

// The device's recorded calls, one line each, in order.
std::vector<std::string> wire_trace_lines(const SimDevice& device);

// The shortest time from a write that reached the controller to the next recorded call, in time
// units: the updater's shortest pause, since calls take no virtual time. None without two calls.
std::optional<std::uint64_t> shortest_write_pause(const SimDevice& device);

} // namespace sim
