// Scenario files: a simulated PC described in JSON (see docs/simulator.md).
#pragma once

#include <memory>
#include <string>

namespace norvane {
struct FwImage;
}
using norvane::FwImage;

#include "sim/simulated_pc.h"

namespace sim {

// Reads a scenario file into the simulated PC; false with a message on any error, unknown keys
// included. The image of the current directory (when there is exactly one complete one) gives
// the device defaults.
bool load_scenario_file(const std::string& path, SimulatedPc& machine, std::string& error);

// The single complete image of the current directory (as the device defaults use it), or null.
std::unique_ptr<FwImage> folder_image();

// The same from JSON text ("{}" gives every default).
bool load_scenario_text(const std::string& text, SimulatedPc& machine, std::string& error);

} // namespace sim
