// Feature-report transport and register access on the two bound channels.
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
constexpr int kTransferAttempts = 12;
constexpr int kMaxBlockPayload = 128;
constexpr std::uint16_t kMinControlReportLength = 8;
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
constexpr std::size_t kAddressBytes = 4;

// Builds a request of `length` bytes; payload may be null (zeros). The checksum counts the whole
// report but its last byte, plus the length and 2.
void _build_request(std::uint8_t* report, std::uint16_t length, std::uint8_t report_id,
                    std::uint8_t command, DeviceAddress address, const std::uint8_t* payload,
                    std::size_t payload_length);
std::uint8_t _request_checksum(const std::uint8_t* report, std::uint16_t length);

bool _write_register_byte(DeviceAddress address, std::uint8_t value);
bool _read_register_byte(DeviceAddress address, std::uint8_t& value);
bool _write_memory_block(DeviceAddress address, const std::uint8_t* block);
bool _read_memory_block(DeviceAddress address, std::uint8_t* block);

// True when the data channel's payload length fits a block transfer (1 to 128 bytes).
bool _data_payload_usable();

bool _write_register_group(DeviceAddress address, std::uint32_t value);
bool _issue_command(std::uint8_t base, bool flag);
bool _poll_ready();

bool _set_access_enable(bool on);
bool _write_argument_register(std::uint32_t value);
bool _write_unlock_key();
bool _trigger_operation();
bool _apply_mode_change();
bool _write_mode_change_code(std::uint32_t value);

} // namespace norvane
