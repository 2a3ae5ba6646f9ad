// Register operations built on the transfers: 32-bit groups written byte by byte, commands with
// read-back, and the ready poll.
#pragma once

#include <cstdint>

namespace norvane {

// Writes `base` to the command register, with kCommandFlag added when `flag` is set, and reads the
// code back; true when the byte read back is the code.
bool _issue_command(std::uint8_t base, bool flag);
bool _poll_ready();

bool _set_access_enable(bool on);
bool _write_argument_register(std::uint32_t value);
bool _write_unlock_key();
bool _trigger_operation();
bool _apply_mode_change();
bool _write_mode_change_code(std::uint32_t value);

} // namespace norvane
