// The four transfers: a register byte or a memory block, written or read, as one feature report
// of the channel's own length.
#include "device/transport.h"

#include <cstring>

#include "device/debug_output.h"
#include "device/device_link.h"
#include "device/internal.h"
#include "device/pause.h"

namespace norvane {

namespace {

constexpr int kTransferAttempts = 12;
constexpr std::uint16_t kMinControlReportLength = 8;
constexpr unsigned kChecksumBias = 2;
constexpr std::uint8_t kByteMask = 0xFF;

std::uint8_t request_checksum(const std::uint8_t* report, std::uint16_t length) {
    unsigned sum = length + kChecksumBias;
    for (std::size_t i = 0; i + 1 < length; ++i) {
        sum += report[i];
    }
    return static_cast<std::uint8_t>(sum & kByteMask);
}

// The transfer a command byte makes, by the name of its operation.
const wchar_t* transfer_name(std::uint8_t command) {
    switch (command) {
    case kCommandWriteByte:
        return L"_write_register_byte";
    case kCommandReadByte:
        return L"_read_register_byte";
    case kCommandWriteBlock:
        return L"_write_memory_block";
    default:
        return L"_read_memory_block";
    }
}

// The request in g_request, sent up to 12 times; a request that never got through keeps its cause.
bool send_report(const HidChannel& channel, std::uint8_t command, DeviceAddress address) {
    for (int attempt = 0; attempt < kTransferAttempts; ++attempt) {
        if (HidD_SetFeature(channel.handle, g_request, channel.report_length)) {
            return true;
        }
    }
    _debug_failure_at(transfer_name(command), address, GetLastError());
    return false;
}

bool fetch_report(const HidChannel& channel, std::uint8_t command, DeviceAddress address) {
    for (int attempt = 0; attempt < kTransferAttempts; ++attempt) {
        std::memset(g_response, 0, channel.report_length);
        g_response[kReportIdByte] = channel.report_id;
        if (HidD_GetFeature(channel.handle, g_response, channel.report_length)) {
            return true;
        }
    }
    _debug_failure_at(transfer_name(command), address, GetLastError());
    std::memset(g_response, 0, channel.report_length);
    return false;
}

bool response_good() {
    return g_device_link.hid_version == kRelaxedHidVersion ||
           g_response[kStatusByte] == kStatusSuccess;
}

bool control_usable() {
    return g_device_link.control.report_length >= kMinControlReportLength;
}

std::size_t block_length() {
    return static_cast<std::size_t>(g_device_link.data.payload_length);
}

bool send_request(const HidChannel& channel, std::uint8_t command, DeviceAddress address,
                  const std::uint8_t* payload, std::size_t payload_length) {
    _build_request(g_request, channel.report_length, channel.report_id, command, address, payload,
                   payload_length);
    return send_report(channel, command, address);
}

void pause_after_write() {
    if (g_device_link.write_pause_ms > 0) {
        _pause(g_device_link.write_pause_ms);
    }
}

} // namespace

void _build_request(std::uint8_t* report, std::uint16_t length, std::uint8_t report_id,
                    std::uint8_t command, DeviceAddress address, const std::uint8_t* payload,
                    std::size_t payload_length) {
    std::memset(report, 0, length);
    report[kReportIdByte] = report_id;
    report[kCommandByte] = command;
    for (std::size_t i = 0; i < kWordBytes; ++i) {
        report[kAddressByte + i] = word_byte(address, i); // least significant byte first
    }
    if (payload != nullptr) {
        std::memcpy(report + kPayloadByte, payload, payload_length);
    }
    report[length - 1] = request_checksum(report, length);
}

bool _data_payload_usable() {
    const int payload = g_device_link.data.payload_length;
    return payload >= 1 && payload <= kMaxBlockPayload;
}

bool _write_register_byte(DeviceAddress address, std::uint8_t value) {
    if (!control_usable()) {
        return false;
    }
    if (!send_request(g_device_link.control, kCommandWriteByte, address, &value, 1)) {
        return false;
    }
    pause_after_write();
    return true;
}

bool _read_register_byte(DeviceAddress address, std::uint8_t& value) {
    value = 0;
    if (!control_usable()) {
        return false;
    }
    if (!send_request(g_device_link.control, kCommandReadByte, address, nullptr, 0)) {
        return false;
    }
    if (!fetch_report(g_device_link.control, kCommandReadByte, address)) {
        return false;
    }
    value = g_response[kPayloadByte]; // delivered even when the status test fails
    return response_good();
}

bool _write_memory_block(DeviceAddress address, const std::uint8_t* block) {
    if (!_data_payload_usable()) {
        return false;
    }
    if (!send_request(g_device_link.data, kCommandWriteBlock, address, block, block_length())) {
        return false;
    }
    pause_after_write();
    return true;
}

bool _read_memory_block(DeviceAddress address, std::uint8_t* block) {
    if (!_data_payload_usable()) {
        return false;
    }
    if (!send_request(g_device_link.data, kCommandReadBlock, address, nullptr, 0)) {
        return false;
    }
    const bool arrived = fetch_report(g_device_link.data, kCommandReadBlock, address);
    std::memcpy(block, g_response + kPayloadByte, block_length());
    return arrived && response_good();
}

} // namespace norvane
