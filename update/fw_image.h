// The firmware image: one flat file of a 12-byte header and three sections, loaded once per run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/fw_version.h"

namespace norvane {

constexpr std::size_t kImageHeaderSize = 12;
constexpr std::size_t kSystemBlockSize = 1024;      // 512 expected bytes, then 512 mask bytes
constexpr std::size_t kInformationBlockSize = 2048; // 1024 expected bytes, then 1024 mask bytes
constexpr std::size_t kMainImageSize = 65536;
constexpr std::size_t kSystemBlockOffset = kImageHeaderSize;
constexpr std::size_t kInformationBlockOffset = kSystemBlockOffset + kSystemBlockSize;
constexpr std::size_t kMainImageOffset = kInformationBlockOffset + kInformationBlockSize;
constexpr std::size_t kImageFileSize = kMainImageOffset + kMainImageSize; // 68,620 bytes

// Header fields (big-endian where wider than a byte).
constexpr std::size_t kHeaderProductIdHigh = 0;
constexpr std::size_t kHeaderProductIdLow = 1;
constexpr std::size_t kHeaderVersionMajor = 2;
constexpr std::size_t kHeaderVersionMinor = 3;
constexpr std::size_t kHeaderConfigVersion = 10;

constexpr std::size_t kSystemMemorySize = kSystemBlockSize / 2;           // 512
constexpr std::size_t kInformationMemorySize = kInformationBlockSize / 2; // 1024

constexpr std::size_t kImageNameCapacity = 260;

struct FwImage {
    wchar_t file_name[kImageNameCapacity];
    std::uint16_t product_id;
    FwVersion new_version;
    std::uint16_t config_version;
    std::uint8_t system_block[kSystemBlockSize];
    std::uint8_t information_block[kInformationBlockSize];
    std::uint8_t main_image[kMainImageSize];
};

// The image of this run, and the file's bytes it was decoded from (68 KB, read once per run).
// Part of the run's state.
extern FwImage& g_fw_image;
extern std::uint8_t (&g_image_bytes)[kImageFileSize];

// Decodes a complete image held in memory; no I/O. False when fewer than kImageFileSize bytes are
// given (bytes past kImageFileSize are ignored). The file name is left untouched.
bool _decode_fw_image(const std::uint8_t* bytes, std::size_t size, FwImage& image);

// Finds, reads and decodes the image into g_fw_image; shows its own boxes in interactive runs.
bool _load_fw_image();

} // namespace norvane
