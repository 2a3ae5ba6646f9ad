// The controller's address space as the updater uses it, and the values it writes there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvane {

using DeviceAddress = std::uint32_t;

// Control registers (32-bit groups take their value most significant byte first).
constexpr DeviceAddress kCommandRegister = 0xFF8000; // code lands in 0xFF8003, read back
constexpr DeviceAddress kCommandReadBack = 0xFF8003;
constexpr DeviceAddress kEnableRegister = 0xFF8004;
constexpr DeviceAddress kArgumentRegister = 0xFF8008;
constexpr DeviceAddress kKeyRegister = 0xFF800C;     // the one group written LSB first
constexpr DeviceAddress kTriggerRegister = 0xFF8010; // also what _poll_ready reads
constexpr DeviceAddress kModeApplyRegister = 0xFF8860;
constexpr DeviceAddress kModeStatusRegister = 0x80002D;
constexpr DeviceAddress kModeChangeRegister = 0x80003A;
constexpr DeviceAddress kActiveModeBytes = 0x80003E; // four bytes, saved and restored
constexpr std::size_t kActiveModeByteCount = 4;
constexpr DeviceAddress kConfigVersionRegister = 0x8000D7;
constexpr DeviceAddress kConfigExtraRegister = 0x8000D8;

// Memories.
constexpr DeviceAddress kSystemMemory = 0x100400;      // 512 bytes
constexpr DeviceAddress kInformationMemory = 0x100600; // 1024 bytes
constexpr DeviceAddress kMainMemory = 0x110000;        // 65536 bytes: the firmware
constexpr DeviceAddress kFirmwareVersionMajor = 0x110002;
constexpr DeviceAddress kFirmwareVersionMinor = 0x110003;
constexpr DeviceAddress kConfigWordHigh = 0x110004;
constexpr DeviceAddress kConfigWordLow = 0x110005;
constexpr DeviceAddress kConfigByteA = 0x110006;
constexpr DeviceAddress kConfigByteB = 0x110007;

// Command codes written to the command register. Main memory's two commands share one base: as it
// is (0x01) it erases, with kCommandFlag added (0x05) it programs.
constexpr std::uint8_t kCommandInformation = 0x06;
constexpr std::uint8_t kCommandSystem = 0x07;
constexpr std::uint8_t kCommandMainMemoryBase = 0x01;
constexpr std::uint8_t kCommandFlag = 0x04;

// Values of the update sequence.
constexpr std::uint32_t kModeChangeCode = 0x5E1C72A9;
constexpr std::uint32_t kNormalModeCode = 0x00000000;
constexpr std::uint32_t kUnlockKey = 0x6D2B94E7;
constexpr std::uint32_t kEraseArgument = 0x00020000;
constexpr std::uint32_t kRegisterOn = 0x00000001;
constexpr std::uint32_t kRegisterOff = 0x00000000;
constexpr std::uint8_t kUpdateModeStatus = 0x10;
constexpr std::uint8_t kNormalModeStatus = 0x11;
constexpr std::uint8_t kBlankByte = 0xFF;

} // namespace norvane
