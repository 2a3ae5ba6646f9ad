// The touchpad controller model behind a simulated HID device: its byte registers, its three
// memories, firmware-update mode, unlock, erase and flash-like programming, and the feature-report
// request format with its checksum. Portable C++ (no Win32), so the host stand-in and the Windows
// virtual controller driver of the Wine tests share it.
//
// A request is one feature report of L bytes: byte 0 the report ID, byte 1 the command, bytes 2-5
// the address (least significant byte first), the payload from byte 6, and the checksum in byte
// L-1. Writes take effect when delivered; a read is answered later, when the response is fetched.
//
// Leaving firmware-update mode restarts the firmware: the command register is cleared and the
// active-mode bytes fall back to 0, which is why an update tool saves and restores them.
//
// The controller holds the updater to the protocol's order, not just to the end state: a request
// that comes out of order (a key before its argument, a trigger before its poll, a block before
// the program command was read back, a write sooner than the pause after the previous one, ...)
// fails the call, has no effect and counts as a protocol violation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace sim {

// ---- request format ----------------------------------------------------------------------------

constexpr std::size_t kReportIdByte = 0;
constexpr std::size_t kCommandByte = 1;
constexpr std::size_t kAddressByte = 2;   // four bytes, least significant first
constexpr std::size_t kPayloadByte = 6;   // first payload byte of a request, first data byte of
                                          // a response
constexpr std::size_t kStatusByte = 1;    // status byte of a response
constexpr std::size_t kFrameOverhead = 7; // report ID, command, 4 address bytes, checksum
constexpr std::size_t kMinimumReportLength = kFrameOverhead + 1;
constexpr std::size_t kChecksumLengthBias = 2; // checksum = sum of bytes 0..L-2 + L + 2

constexpr std::uint8_t kCommandWriteRegister = 0xD2;
constexpr std::uint8_t kCommandReadRegister = 0xD1;
constexpr std::uint8_t kCommandWriteBlock = 0x80;
constexpr std::uint8_t kCommandReadBlock = 0xFF;

constexpr std::uint8_t kStatusSuccess = 0xD7;
constexpr std::uint8_t kStatusBusy = 0xB1;   // a poll while the erase is still running
constexpr std::uint8_t kStatusDenied = 0xE1; // block read outside main memory

// ---- address map -------------------------------------------------------------------------------

constexpr std::size_t kGroupSize = 4; // a 32-bit register spans four byte addresses

constexpr std::uint32_t kCommandRegister = 0xFF8000; // code lands in the last byte
constexpr std::uint32_t kCommandCodeAddress = 0xFF8003;
constexpr std::uint32_t kEnableRegister = 0xFF8004;
constexpr std::uint32_t kArgumentRegister = 0xFF8008;
constexpr std::uint32_t kKeyRegister = 0xFF800C; // least significant byte first
constexpr std::uint32_t kTriggerRegister = 0xFF8010;
constexpr std::uint32_t kTriggerLastByte = 0xFF8013;
constexpr std::uint32_t kPollAddress = 0xFF8010;
constexpr std::uint32_t kModeApplyRegister = 0xFF8860;
constexpr std::uint32_t kModeApplyLastByte = 0xFF8863;
constexpr std::uint32_t kModeStatusAddress = 0x80002D;
constexpr std::uint32_t kModeChangeRegister = 0x80003A;
constexpr std::uint32_t kActiveModeAddress = 0x80003E;
constexpr std::size_t kActiveModeSize = 4;
constexpr std::uint32_t kConfigVersionAddress = 0x8000D7;
constexpr std::uint32_t kConfigExtraAddress = 0x8000D8;

constexpr std::uint32_t kSystemMemoryBase = 0x100400;
constexpr std::size_t kSystemMemoryBytes = 512;
constexpr std::uint32_t kInformationMemoryBase = 0x100600;
constexpr std::size_t kInformationMemoryBytes = 1024;
constexpr std::uint32_t kMainMemoryBase = 0x110000;
constexpr std::size_t kMainMemoryBytes = 65536;
constexpr std::size_t kVersionMajorOffset = 2; // within main memory
constexpr std::size_t kVersionMinorOffset = 3;

// ---- register values ---------------------------------------------------------------------------

constexpr std::uint8_t kModeStatusUpdate = 0x10;
constexpr std::uint8_t kModeStatusNormal = 0x11;
constexpr std::uint8_t kModeStatusSettling = 0x00; // until the mode change has settled
constexpr std::uint32_t kModeChangeEnterCode = 0x5E1C72A9;
constexpr std::uint32_t kModeChangeLeaveCode = 0;
constexpr std::uint32_t kUnlockKey = 0x6D2B94E7;
constexpr std::uint32_t kEraseArgument = 0x00020000;
constexpr std::uint32_t kRegisterOn = 1; // enable, trigger and mode-apply value
constexpr std::uint8_t kCodeErase = 0x01;
constexpr std::uint8_t kCodeProgram = 0x05;
constexpr std::uint8_t kCodeSelectInformation = 0x06;
constexpr std::uint8_t kCodeSelectSystem = 0x07;
constexpr std::uint8_t kErasedByte = 0xFF;
constexpr std::uint8_t kActiveModeAfterRestart = 0; // active-mode bytes after leaving update mode

constexpr std::uint64_t kDefaultModeSettleMs = 1000;

// Times are counted in units of 100 ns, the ticks of a 10 MHz performance counter and the unit of
// a waitable timer's due time, so that a pause a fraction of a millisecond short shows.
constexpr std::uint64_t kTimeUnitsPerMs = 10000;

// ---- model -------------------------------------------------------------------------------------

// What a collection lets through: register commands, block commands, or nothing.
enum class CollectionKind { None, Control, Data };

constexpr std::uint16_t kControlUsagePage = 0xFF01;
constexpr std::uint16_t kDataUsagePage = 0xFF02;

// The kind a collection has by its usage page alone (exactly 0xFF01 or 0xFF02, else none).
CollectionKind collection_kind_for_page(std::uint16_t usage_page);

// One decoded, well-formed request.
struct Request {
    std::uint8_t report_id = 0;
    std::uint8_t command = 0;
    std::uint32_t address = 0;
    std::size_t length = 0;            // L, the whole report
    std::vector<std::uint8_t> payload; // bytes 6 .. L-2
};

struct ControllerStats {
    std::uint64_t register_writes = 0;      // accepted 0xD2 requests
    std::uint64_t block_writes = 0;         // accepted 0x80 requests
    std::uint64_t blocks_programmed = 0;    // block writes that changed main memory
    std::uint64_t register_reads = 0;       // accepted 0xD1 requests
    std::uint64_t block_reads = 0;          // accepted 0xFF requests
    std::uint64_t polls = 0;                // register reads of 0xFF8010
    std::uint64_t refused_requests = 0;     // refused outright: the call failed
    std::uint64_t protocol_violations = 0;  // accepted, but not what the controller expects
    std::uint64_t unexpected_addresses = 0; // register access outside the known map
    std::uint64_t mode_changes = 0;
    std::uint64_t erases = 0;
};

// How a controller starts. Memories shorter than their size are padded with zero.
struct ControllerConfig {
    std::uint8_t firmware_major = 0;
    std::uint8_t firmware_minor = 0;
    std::uint8_t config_version = 0;
    std::uint8_t config_extra = 0; // the byte at 0x8000D8
    std::vector<std::uint8_t> system_memory;
    std::vector<std::uint8_t> information_memory;
    std::optional<std::uint8_t> main_memory_fill; // else a deterministic non-blank pattern
    std::array<std::uint8_t, kActiveModeSize> active_mode{0x01, 0x02, 0x03, 0x04};
    std::uint64_t mode_settle_ms = kDefaultModeSettleMs;
    std::uint32_t erase_busy_polls = 0; // polls answered busy after an erase trigger
    // How an interrupted update leaves a controller: still in firmware-update mode, and main
    // memory exactly as given (erased, or programmed up to some chunk), version bytes included.
    bool update_mode = false;
    std::optional<std::vector<std::uint8_t>> main_memory;
};

// How far the updater has come through the protocol's order; out-of-order requests fail.
struct ProtocolOrder {
    std::uint32_t command_bytes = 0; // leading zero bytes of the command group written so far
    bool command_read_back = false;  // 0xFF8003 was read back after the last command code
    bool argument_key = false;       // the argument register took the key since the last lock
    bool unlocked = false;           // the key register then took the key
    bool erase_argument = false;     // the erase argument followed the read-back erase command
    bool polled = false;             // a poll followed the erase argument
    std::optional<std::uint64_t> last_write; // time of the last write that took effect
};

struct Controller {
    std::map<std::uint32_t, std::uint8_t> registers; // every byte register, known or not
    std::vector<std::uint8_t> system_memory = std::vector<std::uint8_t>(kSystemMemoryBytes);
    std::vector<std::uint8_t> information_memory =
        std::vector<std::uint8_t>(kInformationMemoryBytes);
    std::vector<std::uint8_t> main_memory = std::vector<std::uint8_t>(kMainMemoryBytes);
    bool update_mode = false;
    // Time at which the last mode change was applied, counting the pause the updater
    // keeps after each write (seen between the apply group's last two writes).
    std::optional<std::uint64_t> mode_applied;
    std::uint64_t mode_settle_ms = kDefaultModeSettleMs;
    // The pauses the controller needs from the updater: writes at least `write_pause_ms` apart, and
    // no read sooner than `mode_pause_ms` after a mode change; a request sooner is a protocol
    // violation. 0: none (the scenario loader sets both).
    std::uint64_t write_pause_ms = 0;
    std::uint64_t mode_pause_ms = 0;
    std::uint32_t erase_busy_polls = 0;
    std::uint32_t busy_polls_left = 0;
    ProtocolOrder order;
    ControllerStats stats;
};

// ---- requests ----------------------------------------------------------------------------------

// The checksum of a report of `length` bytes: (sum of bytes 0..L-2 + L + 2) mod 256.
std::uint8_t report_checksum(const std::uint8_t* report, std::size_t length);

// A complete request of `length` bytes with its checksum; the payload is cut or zero-padded to
// L-7 bytes.
std::vector<std::uint8_t> make_request(std::uint8_t report_id, std::uint8_t command,
                                       std::uint32_t address,
                                       const std::vector<std::uint8_t>& payload,
                                       std::size_t length);

// Decodes a request arriving on a collection of the given kind. False (and one refused request
// counted) for a bad checksum, an unknown command, a command of the other kind of collection, or
// a length that does not fit.
bool controller_accept_request(Controller& controller, const std::uint8_t* report,
                               std::size_t length, CollectionKind kind, Request& request);

// True for the two read commands (0xD1, 0xFF), whose answer is fetched afterwards.
bool request_expects_answer(const Request& request);

// ---- behaviour ---------------------------------------------------------------------------------

// Sets the controller up from a configuration: memories, version bytes, registers, normal mode.
void controller_init(Controller& controller, const ControllerConfig& config);

// An accepted request reaches the controller: writes take effect, reads are counted. False when
// the request comes out of the protocol's order: it has no effect, the call is to fail, and one
// protocol violation is counted.
bool controller_deliver(Controller& controller, const Request& request, std::uint64_t now);

// Fills the response of `length` bytes to a delivered read request.
void controller_answer(Controller& controller, const Request& request, std::uint8_t* response,
                       std::size_t length, std::uint64_t now);

// The value of a 32-bit register group, most significant byte at the lowest address.
std::uint32_t controller_group_value(const Controller& controller, std::uint32_t address);

// The unlock key as the key register holds it (least significant byte at the lowest address).
std::uint32_t controller_key_value(const Controller& controller);

// The value a register read of this address gives right now (without counting anything).
std::uint8_t controller_peek(const Controller& controller, std::uint32_t address,
                             std::uint64_t now);

} // namespace sim
