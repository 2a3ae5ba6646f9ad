// Controller state kept between two simulated runs (fwsim --keep): what a real controller keeps
// across a program restart or a power cut of the PC: its memories, registers and mode.
#pragma once

#include <string>

#include "sim/simulated_pc.h"

namespace sim {

// The state of every device's controller, in enumeration order, as JSON text.
std::string save_kept_state(const SimulatedPc& machine);

// What a controller keeps from `kept` when the PC comes back: memories, registers and mode,
// settled. Everything else (fault rules' counts, timings, statistics) stays as `into` has it.
void carry_over_controller(const Controller& kept, Controller& into);

// Puts the kept state back into the devices the scenario made, by position. Devices beyond the
// kept ones keep the scenario's state; kept controllers beyond the devices are ignored. Fault
// rules, timings and statistics stay the scenario's. False with a message when the text is
// malformed.
bool restore_kept_state(const std::string& text, SimulatedPc& machine, std::string& error);

} // namespace sim
