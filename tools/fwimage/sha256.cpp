// SHA-256 (FIPS 180-4): 64-byte blocks, big-endian words, the length in bits at the end.
#include "fwimage/sha256.h"

#include <array>

namespace fwimage {

namespace {

constexpr std::size_t kBlockBytes = 64;
constexpr std::size_t kLengthBytes = 8;
constexpr std::size_t kScheduleWords = 64;
constexpr std::uint8_t kPaddingMark = 0x80;
constexpr unsigned kBitsPerByte = 8;
constexpr unsigned kWordBytes = 4;
constexpr std::uint32_t kByteMask = 0xFF;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;
constexpr const char* kHexDigits = "0123456789abcdef";

constexpr std::array<std::uint32_t, kScheduleWords> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::array<std::uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

std::uint32_t rotate_right(std::uint32_t value, unsigned bits) {
    return (value >> bits) | (value << (32 - bits));
}

void compress(std::array<std::uint32_t, 8>& state, const std::uint8_t* block) {
    std::array<std::uint32_t, kScheduleWords> w{};
    for (std::size_t i = 0; i < 16; ++i) {
        for (unsigned b = 0; b < kWordBytes; ++b) {
            w[i] = (w[i] << kBitsPerByte) | block[i * kWordBytes + b];
        }
    }
    for (std::size_t i = 16; i < kScheduleWords; ++i) {
        const std::uint32_t s0 =
            rotate_right(w[i - 15], 7) ^ rotate_right(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 =
            rotate_right(w[i - 2], 17) ^ rotate_right(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = state;
    for (std::size_t i = 0; i < kScheduleWords; ++i) {
        const std::uint32_t s1 =
            rotate_right(v[4], 6) ^ rotate_right(v[4], 11) ^ rotate_right(v[4], 25);
        const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + s1 + choice + kRoundConstants[i] + w[i];
        const std::uint32_t s0 =
            rotate_right(v[0], 2) ^ rotate_right(v[0], 13) ^ rotate_right(v[0], 22);
        const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        v = {t1 + s0 + majority, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (std::size_t i = 0; i < state.size(); ++i) {
        state[i] += v[i];
    }
}

} // namespace

std::string sha256_hex(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> message = bytes;
    const std::uint64_t bit_length = static_cast<std::uint64_t>(bytes.size()) * kBitsPerByte;
    message.push_back(kPaddingMark);
    while (message.size() % kBlockBytes != kBlockBytes - kLengthBytes) {
        message.push_back(0);
    }
    for (std::size_t i = kLengthBytes; i > 0; --i) {
        message.push_back(
            static_cast<std::uint8_t>((bit_length >> ((i - 1) * kBitsPerByte)) & kByteMask));
    }
    std::array<std::uint32_t, 8> state = kInitialState;
    for (std::size_t offset = 0; offset < message.size(); offset += kBlockBytes) {
        compress(state, message.data() + offset);
    }
    std::string text;
    for (const std::uint32_t word : state) {
        for (unsigned shift = 32; shift > 0; shift -= kNibbleBits) {
            text += kHexDigits[(word >> (shift - kNibbleBits)) & kNibbleMask];
        }
    }
    return text;
}

} // namespace fwimage
