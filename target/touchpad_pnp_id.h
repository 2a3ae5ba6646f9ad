// The touchpad PnP ID: read from the hardware IDs the system records for pointing devices.
#pragma once

#include <cstddef>

namespace norvane {

constexpr std::size_t kPnpIdBufferSize = 260;

// On true `buffer` (kPnpIdBufferSize bytes) holds the touchpad PnP ID, e.g. "*VORK0810".
bool _get_touchpad_pnp_id(char* buffer);
// True when the ID is one of the accepted PnP IDs.
bool _is_target_pnp_id(const char* pnp_id);

} // namespace norvane
