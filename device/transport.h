// Feature-report transport on the two bound channels: a register byte or a memory block, written
// or read, as one feature report of the channel's own length.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/address_map.h"

namespace norvane {

constexpr std::uint8_t kCommandWriteByte = 0xD2;
constexpr std::uint8_t kCommandReadByte = 0xD1;
constexpr std::uint8_t kCommandWriteBlock = 0x80;
constexpr std::uint8_t kCommandReadBlock = 0xFF;
constexpr std::uint8_t kStatusSuccess = 0xD7;
constexpr int kMaxBlockPayload = 128;
constexpr std::size_t kMaxReportLength = 0xFFFF; // the largest length a channel can report

// One request and one response, set up once: a transfer never allocates. Part of the run's state.
extern std::uint8_t (&g_request)[kMaxReportLength];
extern std::uint8_t (&g_response)[kMaxReportLength];

// Report layout.
constexpr std::size_t kReportIdByte = 0;
constexpr std::size_t kCommandByte = 1;
constexpr std::size_t kStatusByte = 1;
constexpr std::size_t kAddressByte = 2;
constexpr std::size_t kPayloadByte = 6;

bool _write_register_byte(DeviceAddress address, std::uint8_t value);
bool _read_register_byte(DeviceAddress address, std::uint8_t& value);
bool _write_memory_block(DeviceAddress address, const std::uint8_t* block);
bool _read_memory_block(DeviceAddress address, std::uint8_t* block);

// True when the data channel's payload length fits a block transfer (1 to 128 bytes).
bool _data_payload_usable();

} // namespace norvane
