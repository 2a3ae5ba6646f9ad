// The firmware image file as the simulated PC and the test images see it, described here from the
// file format itself and not taken from the updater, so that the updater's reading of an image is
// checked against an independent one. Header-only: the host build, the virtual controller driver
// and fwimage on Windows all take it without a source file of their own.
//
// Layout (68,620 bytes): a 12-byte header (product ID big-endian at 0 and 1, version major at 2
// and minor at 3, configuration version at 10, the other bytes reserved), the system block at 12
// (512 expected bytes, then 512 mask bytes), the information block at 1,036 (1,024 expected
// bytes, then 1,024 mask bytes) and the main image at 3,084 (65,536 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr std::size_t kImageFileBytes = 68620;
constexpr std::size_t kImageProductIdHigh = 0;
constexpr std::size_t kImageProductIdLow = 1;
constexpr std::size_t kImageVersionMajor = 2;
constexpr std::size_t kImageVersionMinor = 3;
constexpr std::size_t kImageConfigVersion = 10;
constexpr std::size_t kImageSystemBlock = 12;
constexpr std::size_t kImageSystemBytes = 512; // expected bytes; as many mask bytes follow
constexpr std::size_t kImageInformationBlock = 1036;
constexpr std::size_t kImageInformationBytes = 1024;
constexpr std::size_t kImageMain = 3084;
constexpr std::size_t kImageMainBytes = 65536;
// Where a programmed controller keeps its version within the main image.
constexpr std::size_t kMainVersionMajor = 2;
constexpr std::size_t kMainVersionMinor = 3;

// What the simulated PC takes from an image: the fields its default controller is built from.
struct ImageFile {
    std::uint16_t product_id = 0;
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    std::uint8_t config_version = 0;
    std::vector<std::uint8_t> system_memory;      // the expected bytes of the system block
    std::vector<std::uint8_t> information_memory; // the expected bytes of the information block
    std::vector<std::uint8_t> main_image;
};

// False when fewer than kImageFileBytes are given; bytes past them are ignored.
inline bool decode_image_file(const std::uint8_t* bytes, std::size_t size, ImageFile& image) {
    constexpr unsigned kByteBits = 8;
    if (bytes == nullptr || size < kImageFileBytes) {
        return false;
    }
    image.product_id = static_cast<std::uint16_t>((bytes[kImageProductIdHigh] << kByteBits) |
                                                  bytes[kImageProductIdLow]);
    image.major = bytes[kImageVersionMajor];
    image.minor = bytes[kImageVersionMinor];
    image.config_version = bytes[kImageConfigVersion];
    const std::uint8_t* system = bytes + kImageSystemBlock;
    const std::uint8_t* information = bytes + kImageInformationBlock;
    const std::uint8_t* main_section = bytes + kImageMain;
    image.system_memory.assign(system, system + kImageSystemBytes);
    image.information_memory.assign(information, information + kImageInformationBytes);
    image.main_image.assign(main_section, main_section + kImageMainBytes);
    return true;
}

// The shape of a made image; the same shape gives the same bytes on every platform.
struct ImageSpec {
    std::uint16_t product_id = 0x1234;
    std::uint8_t major = 3;
    std::uint8_t minor = 0x08;
    std::uint8_t config_version = 1;
    std::uint32_t seed = 7;
};

namespace image_maker {

constexpr std::uint32_t kLcgMultiplier = 1103515245u;
constexpr std::uint32_t kLcgIncrement = 12345u;
constexpr unsigned kLcgOutputShift = 16;
constexpr std::size_t kMaskedEvery = 5; // every fifth position is left uncompared
constexpr std::uint8_t kMaskCompared = 0xFF;
constexpr std::uint8_t kMaskIgnored = 0x00;
constexpr unsigned kByteBits = 8;
constexpr std::uint16_t kLowByte = 0xFF;

inline std::uint8_t next_byte(std::uint32_t& state) {
    state = state * kLcgMultiplier + kLcgIncrement;
    return static_cast<std::uint8_t>(state >> kLcgOutputShift);
}

// Expected bytes, then one mask byte per expected byte.
inline void fill_block(std::uint8_t* block, std::size_t memory_size, std::uint32_t& state) {
    for (std::size_t i = 0; i < memory_size; ++i) {
        block[i] = next_byte(state);
        block[memory_size + i] = (i % kMaskedEvery == 0) ? kMaskIgnored : kMaskCompared;
    }
}

} // namespace image_maker

// A complete image: the header from the shape, masks that compare most positions, pseudo-random
// expected bytes and main image, and the version at bytes 2 and 3 of the main image as a
// programmed controller reports it.
inline std::vector<std::uint8_t> make_image_file(const ImageSpec& shape = {}) {
    using namespace image_maker;
    std::vector<std::uint8_t> bytes(kImageFileBytes, 0);
    std::uint32_t state = shape.seed;
    bytes[kImageProductIdHigh] = static_cast<std::uint8_t>(shape.product_id >> kByteBits);
    bytes[kImageProductIdLow] = static_cast<std::uint8_t>(shape.product_id & kLowByte);
    bytes[kImageVersionMajor] = shape.major;
    bytes[kImageVersionMinor] = shape.minor;
    bytes[kImageConfigVersion] = shape.config_version;
    fill_block(bytes.data() + kImageSystemBlock, kImageSystemBytes, state);
    fill_block(bytes.data() + kImageInformationBlock, kImageInformationBytes, state);
    std::uint8_t* main_section = bytes.data() + kImageMain;
    for (std::size_t i = 0; i < kImageMainBytes; ++i) {
        main_section[i] = next_byte(state);
    }
    main_section[kMainVersionMajor] = shape.major;
    main_section[kMainVersionMinor] = shape.minor;
    return bytes;
}

} // namespace sim
