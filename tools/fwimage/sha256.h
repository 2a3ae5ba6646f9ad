// SHA-256 of a byte string, as a technician compares it with the SHA256SUMS of a package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwimage {

// The digest as 64 lower-case hexadecimal digits.
std::string sha256_hex(const std::vector<std::uint8_t>& bytes);

} // namespace fwimage
