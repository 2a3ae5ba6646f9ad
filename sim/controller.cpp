#include "sim/controller.h"

#include <algorithm>

namespace sim {

namespace {

constexpr unsigned kBitsPerByte = 8;
constexpr std::uint32_t kByteMask = 0xFF;
constexpr std::size_t kAddressBytes = 4;

// Main memory pattern of a controller that was not told otherwise: never blank at offset 0.
constexpr std::uint32_t kPatternStep = 37;
constexpr std::uint32_t kPatternBase = 0x5A;
constexpr unsigned kPatternPageShift = 8;

// Where an address lies in the controller's map.
enum class Area {
    Unknown,
    CommandRegister,
    EnableRegister,
    ArgumentRegister,
    KeyRegister,
    TriggerRegister,
    ModeApplyRegister,
    ModeStatus,
    ModeChangeRegister,
    ActiveMode,
    ConfigVersion,
    ConfigExtra,
    SystemMemory,
    InformationMemory,
    MainMemory,
};

bool in_range(std::uint32_t address, std::uint32_t base, std::size_t size) {
    return address >= base && address - base < size;
}

Area area_of(std::uint32_t address) {
    struct Range {
        std::uint32_t base;
        std::size_t size;
        Area area;
    };
    static const Range ranges[] = {
        {kCommandRegister, kGroupSize, Area::CommandRegister},
        {kEnableRegister, kGroupSize, Area::EnableRegister},
        {kArgumentRegister, kGroupSize, Area::ArgumentRegister},
        {kKeyRegister, kGroupSize, Area::KeyRegister},
        {kTriggerRegister, kGroupSize, Area::TriggerRegister},
        {kModeApplyRegister, kGroupSize, Area::ModeApplyRegister},
        {kModeStatusAddress, 1, Area::ModeStatus},
        {kModeChangeRegister, kGroupSize, Area::ModeChangeRegister},
        {kActiveModeAddress, kActiveModeSize, Area::ActiveMode},
        {kConfigVersionAddress, 1, Area::ConfigVersion},
        {kConfigExtraAddress, 1, Area::ConfigExtra},
        {kSystemMemoryBase, kSystemMemoryBytes, Area::SystemMemory},
        {kInformationMemoryBase, kInformationMemoryBytes, Area::InformationMemory},
        {kMainMemoryBase, kMainMemoryBytes, Area::MainMemory},
    };
    for (const Range& range : ranges) {
        if (in_range(address, range.base, range.size)) {
            return range.area;
        }
    }
    return Area::Unknown;
}

bool area_is_writable(Area area) {
    switch (area) {
    case Area::CommandRegister:
    case Area::EnableRegister:
    case Area::ArgumentRegister:
    case Area::KeyRegister:
    case Area::TriggerRegister:
    case Area::ModeApplyRegister:
    case Area::ModeChangeRegister:
    case Area::ActiveMode:
        return true;
    default:
        return false;
    }
}

std::uint8_t register_byte(const Controller& controller, std::uint32_t address) {
    auto it = controller.registers.find(address);
    return it == controller.registers.end() ? 0 : it->second;
}

std::uint8_t command_code(const Controller& controller) {
    return register_byte(controller, kCommandCodeAddress);
}

bool enabled(const Controller& controller) {
    return controller_group_value(controller, kEnableRegister) == kRegisterOn;
}

// The controller takes erase and program operations only in this state.
bool operation_allowed(const Controller& controller, std::uint8_t code) {
    return controller.update_mode && controller.order.unlocked && enabled(controller) &&
           command_code(controller) == code && controller.order.command_read_back;
}

bool payload_is_zero(const Request& request, std::size_t from) {
    return std::all_of(request.payload.begin() + static_cast<std::ptrdiff_t>(from),
                       request.payload.end(), [](std::uint8_t b) { return b == 0; });
}

bool command_fits(std::uint8_t command, CollectionKind kind) {
    switch (command) {
    case kCommandWriteRegister:
    case kCommandReadRegister:
        return kind == CollectionKind::Control;
    case kCommandWriteBlock:
    case kCommandReadBlock:
        return kind == CollectionKind::Data;
    default:
        return false;
    }
}

std::uint32_t read_address(const std::uint8_t* report) {
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < kAddressBytes; ++i) {
        address |= static_cast<std::uint32_t>(report[kAddressByte + i]) << (kBitsPerByte * i);
    }
    return address;
}

void write_address(std::uint8_t* report, std::uint32_t address) {
    for (std::size_t i = 0; i < kAddressBytes; ++i) {
        report[kAddressByte + i] =
            static_cast<std::uint8_t>((address >> (kBitsPerByte * i)) & kByteMask);
    }
}

void fill_main_pattern(std::vector<std::uint8_t>& memory) {
    for (std::size_t i = 0; i < memory.size(); ++i) {
        const auto index = static_cast<std::uint32_t>(i);
        memory[i] = static_cast<std::uint8_t>(
            ((index * kPatternStep + kPatternBase) ^ (index >> kPatternPageShift)) & kByteMask);
    }
}

void copy_memory(std::vector<std::uint8_t>& target, const std::vector<std::uint8_t>& source) {
    std::fill(target.begin(), target.end(), 0);
    std::copy_n(source.begin(), std::min(source.size(), target.size()), target.begin());
}

void erase_if_allowed(Controller& controller) {
    if (controller_group_value(controller, kTriggerRegister) != kRegisterOn) {
        return;
    }
    controller.order.erase_argument = false; // one trigger per erase argument
    controller.order.polled = false;
    if (!operation_allowed(controller, kCodeErase) ||
        controller_group_value(controller, kArgumentRegister) != kEraseArgument) {
        ++controller.stats.protocol_violations;
        return;
    }
    std::fill(controller.main_memory.begin(), controller.main_memory.end(), kErasedByte);
    controller.busy_polls_left = controller.erase_busy_polls;
    ++controller.stats.erases;
}

// Switching access off, or leaving update mode, ends an operation: the next one unlocks again.
void lock(Controller& controller) {
    const std::optional<std::uint64_t> last_write = controller.order.last_write;
    controller.order = ProtocolOrder{};
    controller.order.last_write = last_write;
}

// Leaving update mode restarts the firmware.
void leave_operations(Controller& controller) {
    for (std::uint32_t i = 0; i < kGroupSize; ++i) {
        controller.registers[kCommandRegister + i] = 0;
    }
    for (std::uint32_t i = 0; i < kActiveModeSize; ++i) {
        controller.registers[kActiveModeAddress + i] = kActiveModeAfterRestart;
    }
    controller.busy_polls_left = 0;
    lock(controller);
}

// Entering update mode starts its operations afresh, also on a controller that an interrupted
// update left in update mode with access on: access is off and the next operation unlocks again.
void enter_operations(Controller& controller) {
    for (std::uint32_t i = 0; i < kGroupSize; ++i) {
        controller.registers[kEnableRegister + i] = 0;
    }
    controller.busy_polls_left = 0;
    lock(controller);
}

void apply_mode_change(Controller& controller, std::uint64_t now) {
    if (controller_group_value(controller, kModeApplyRegister) != kRegisterOn) {
        return;
    }
    const std::uint32_t code = controller_group_value(controller, kModeChangeRegister);
    if (code == kModeChangeEnterCode) {
        controller.update_mode = true;
        enter_operations(controller);
    } else if (code == kModeChangeLeaveCode) {
        controller.update_mode = false;
        leave_operations(controller);
    } else {
        ++controller.stats.protocol_violations;
        return;
    }
    // The status settles a fixed time after the apply group, whose last write is followed by
    // the same pause as every other write.
    const std::uint64_t pause = now - controller.order.last_write.value_or(now);
    controller.mode_applied = now + pause;
    ++controller.stats.mode_changes;
}

// ---- the protocol's order ----------------------------------------------------------------------

bool mode_settled(const Controller& controller, std::uint64_t now) {
    return !controller.mode_applied.has_value() ||
           now >= *controller.mode_applied + controller.mode_settle_ms * kTimeUnitsPerMs;
}

// The 32-bit value a group will hold once this byte is written.
std::uint32_t group_value_with(const Controller& controller, std::uint32_t base,
                               std::uint32_t address, std::uint8_t value) {
    const unsigned shift = kBitsPerByte * (kGroupSize - 1 - (address - base));
    const std::uint32_t others = controller_group_value(controller, base) & ~(kByteMask << shift);
    return others | (static_cast<std::uint32_t>(value) << shift);
}

bool last_byte_of(std::uint32_t address, std::uint32_t base) {
    return address == base + kGroupSize - 1;
}

// The command group goes 00 00 00 code, in address order; erase and program need the access
// that the unlock and the enable give.
bool command_write_in_order(Controller& controller, std::uint32_t address, std::uint8_t value) {
    ProtocolOrder& order = controller.order;
    const std::uint32_t index = address - kCommandRegister;
    if (!last_byte_of(address, kCommandRegister)) {
        const bool next = value == 0 && (index == 0 || index == order.command_bytes);
        order.command_bytes = next ? index + 1 : 0;
        return next;
    }
    const bool complete = order.command_bytes == kGroupSize - 1;
    order.command_bytes = 0;
    if (!complete) {
        return false;
    }
    if (value == kCodeErase || value == kCodeProgram) {
        if (!controller.update_mode || !order.unlocked || !enabled(controller)) {
            return false;
        }
    }
    order.command_read_back = false;
    order.erase_argument = false;
    order.polled = false;
    return true;
}

// Access is switched on only after the unlock; switching it off ends the operation.
bool enable_write_in_order(Controller& controller, std::uint32_t address, std::uint8_t value) {
    if (!last_byte_of(address, kEnableRegister)) {
        return value == 0;
    }
    if (value == kRegisterOn) {
        return controller.update_mode && controller.order.unlocked;
    }
    if (value == 0) {
        lock(controller);
        return true;
    }
    return false;
}

// The argument register takes the key to begin an unlock (in update mode, access off), or the
// erase argument right after the erase command was read back.
bool argument_write_in_order(Controller& controller, std::uint32_t address, std::uint8_t value) {
    if (!last_byte_of(address, kArgumentRegister)) {
        return true;
    }
    ProtocolOrder& order = controller.order;
    const std::uint32_t argument = group_value_with(controller, kArgumentRegister, address, value);
    if (argument == kUnlockKey && controller.update_mode && !enabled(controller)) {
        order.argument_key = true;
        return true;
    }
    if (argument == kEraseArgument && command_code(controller) == kCodeErase &&
        order.command_read_back && !order.erase_argument) {
        order.erase_argument = true;
        order.polled = false;
        return true;
    }
    return false;
}

// The key counts only right after the argument register took it.
bool key_write_in_order(Controller& controller, std::uint32_t address, std::uint8_t value) {
    ProtocolOrder& order = controller.order;
    if (!order.argument_key) {
        return false;
    }
    if (last_byte_of(address, kKeyRegister)) {
        const std::uint32_t shift = kBitsPerByte * (kGroupSize - 1);
        const std::uint32_t key = (controller_key_value(controller) & ~(kByteMask << shift)) |
                                  (static_cast<std::uint32_t>(value) << shift);
        order.unlocked = key == kUnlockKey;
        order.argument_key = false;
    }
    return true;
}

// Leaving update mode with access still on would cut an operation short.
bool mode_apply_in_order(const Controller& controller, std::uint32_t address, std::uint8_t value) {
    if (!last_byte_of(address, kModeApplyRegister) || value != kRegisterOn) {
        return true;
    }
    const bool leaving =
        controller_group_value(controller, kModeChangeRegister) == kModeChangeLeaveCode;
    return !(leaving && controller.update_mode && enabled(controller));
}

bool write_in_order(Controller& controller, std::uint32_t address, std::uint8_t value,
                    std::uint64_t now) {
    switch (area_of(address)) {
    case Area::CommandRegister:
        return command_write_in_order(controller, address, value);
    case Area::EnableRegister:
        return enable_write_in_order(controller, address, value);
    case Area::ArgumentRegister:
        return argument_write_in_order(controller, address, value);
    case Area::KeyRegister:
        return key_write_in_order(controller, address, value);
    case Area::TriggerRegister: // only after the erase argument and a poll
        return controller.order.erase_argument && controller.order.polled;
    case Area::ModeApplyRegister:
        return mode_apply_in_order(controller, address, value);
    case Area::ActiveMode: // in normal operation, once the mode status has settled
        return !controller.update_mode && mode_settled(controller, now);
    default:
        return true;
    }
}

// A memory answers only after its own command group, read back.
bool read_in_order(Controller& controller, std::uint32_t address) {
    ProtocolOrder& order = controller.order;
    switch (area_of(address)) {
    case Area::SystemMemory:
        return command_code(controller) == kCodeSelectSystem && order.command_read_back;
    case Area::InformationMemory:
        return command_code(controller) == kCodeSelectInformation && order.command_read_back;
    case Area::CommandRegister:
        if (address == kCommandCodeAddress && order.command_bytes == 0) {
            order.command_read_back = true;
        }
        return true;
    case Area::TriggerRegister:
        if (address == kPollAddress && order.erase_argument) {
            order.polled = true;
        }
        return true;
    default:
        return true;
    }
}

bool violation(Controller& controller) {
    ++controller.stats.protocol_violations;
    return false;
}

// A write sooner than the pause the controller needs after the previous one finds it not ready.
bool written_too_soon(const Controller& controller, std::uint64_t now) {
    const std::optional<std::uint64_t>& last = controller.order.last_write;
    return last.has_value() && now - *last < controller.write_pause_ms * kTimeUnitsPerMs;
}

// A read sooner than the pause the protocol asks after a mode change.
bool read_too_soon(const Controller& controller, std::uint64_t now) {
    return controller.mode_applied.has_value() &&
           now < *controller.mode_applied + controller.mode_pause_ms * kTimeUnitsPerMs;
}

bool write_register(Controller& controller, const Request& request, std::uint64_t now) {
    ++controller.stats.register_writes;
    if (written_too_soon(controller, now)) {
        return violation(controller);
    }
    if (!payload_is_zero(request, 1)) {
        ++controller.stats.protocol_violations;
    }
    const Area area = area_of(request.address);
    if (area == Area::Unknown) {
        ++controller.stats.unexpected_addresses;
    } else if (!area_is_writable(area)) {
        ++controller.stats.protocol_violations;
        return true;
    }
    if (!write_in_order(controller, request.address, request.payload[0], now)) {
        return violation(controller);
    }
    controller.registers[request.address] = request.payload[0];
    if (request.address == kTriggerLastByte) {
        erase_if_allowed(controller);
    } else if (request.address == kModeApplyLastByte) {
        apply_mode_change(controller, now);
    }
    controller.order.last_write = now;
    return true;
}

// Programming is taken only after the program command was read back with access on.
bool write_block(Controller& controller, const Request& request, std::uint64_t now) {
    ++controller.stats.block_writes;
    if (written_too_soon(controller, now) || !operation_allowed(controller, kCodeProgram)) {
        return violation(controller);
    }
    controller.order.last_write = now;
    const std::size_t size = request.payload.size();
    const bool fits = request.address <= kMainMemoryBytes && size <= kMainMemoryBytes &&
                      request.address + size <= kMainMemoryBytes;
    if (!fits) {
        ++controller.stats.protocol_violations;
        return true;
    }
    for (std::size_t i = 0; i < size; ++i) {
        controller.main_memory[request.address + i] &= request.payload[i];
    }
    ++controller.stats.blocks_programmed;
    return true;
}

bool count_read(Controller& controller, const Request& request, std::uint64_t now) {
    if (!payload_is_zero(request, 0)) {
        ++controller.stats.protocol_violations;
    }
    const bool block = request.command == kCommandReadBlock;
    if (block) {
        ++controller.stats.block_reads;
    } else {
        ++controller.stats.register_reads;
        controller.stats.polls += request.address == kPollAddress ? 1 : 0;
        controller.stats.unexpected_addresses += area_of(request.address) == Area::Unknown ? 1 : 0;
    }
    if (read_too_soon(controller, now)) {
        return violation(controller);
    }
    return block || read_in_order(controller, request.address) || violation(controller);
}

// Status of a register read: polls answer busy while an erase runs.
std::uint8_t register_read_status(Controller& controller, std::uint32_t address) {
    if (address == kPollAddress && controller.busy_polls_left > 0) {
        --controller.busy_polls_left;
        return kStatusBusy;
    }
    return kStatusSuccess;
}

void answer_register(Controller& controller, const Request& request, std::uint8_t* response,
                     std::uint64_t now) {
    response[kStatusByte] = register_read_status(controller, request.address);
    response[kPayloadByte] = controller_peek(controller, request.address, now);
}

void answer_block(Controller& controller, const Request& request, std::uint8_t* response,
                  std::size_t length) {
    const std::size_t size = length - kFrameOverhead;
    const bool inside = request.address >= kMainMemoryBase &&
                        request.address - kMainMemoryBase <= kMainMemoryBytes - size;
    if (!inside) {
        ++controller.stats.protocol_violations;
        response[kStatusByte] = kStatusDenied;
        return;
    }
    response[kStatusByte] = kStatusSuccess;
    std::copy_n(controller.main_memory.begin() + (request.address - kMainMemoryBase), size,
                response + kPayloadByte);
}

} // namespace

CollectionKind collection_kind_for_page(std::uint16_t usage_page) {
    if (usage_page == kControlUsagePage) {
        return CollectionKind::Control;
    }
    if (usage_page == kDataUsagePage) {
        return CollectionKind::Data;
    }
    return CollectionKind::None;
}

std::uint8_t report_checksum(const std::uint8_t* report, std::size_t length) {
    std::uint32_t sum = static_cast<std::uint32_t>(length + kChecksumLengthBias);
    for (std::size_t i = 0; i + 1 < length; ++i) {
        sum += report[i];
    }
    return static_cast<std::uint8_t>(sum & kByteMask);
}

std::vector<std::uint8_t> make_request(std::uint8_t report_id, std::uint8_t command,
                                       std::uint32_t address,
                                       const std::vector<std::uint8_t>& payload,
                                       std::size_t length) {
    std::vector<std::uint8_t> report(std::max(length, kMinimumReportLength), 0);
    report[kReportIdByte] = report_id;
    report[kCommandByte] = command;
    write_address(report.data(), address);
    const std::size_t room = report.size() - kFrameOverhead;
    std::copy_n(payload.begin(), std::min(room, payload.size()), report.begin() + kPayloadByte);
    report.back() = report_checksum(report.data(), report.size());
    return report;
}

bool controller_accept_request(Controller& controller, const std::uint8_t* report,
                               std::size_t length, CollectionKind kind, Request& request) {
    const bool well_formed = report != nullptr && length >= kMinimumReportLength &&
                             report[length - 1] == report_checksum(report, length) &&
                             command_fits(report[kCommandByte], kind);
    if (!well_formed) {
        ++controller.stats.refused_requests;
        return false;
    }
    request.report_id = report[kReportIdByte];
    request.command = report[kCommandByte];
    request.address = read_address(report);
    request.length = length;
    request.payload.assign(report + kPayloadByte, report + length - 1);
    return true;
}

bool request_expects_answer(const Request& request) {
    return request.command == kCommandReadRegister || request.command == kCommandReadBlock;
}

void controller_init(Controller& controller, const ControllerConfig& config) {
    controller = Controller{};
    copy_memory(controller.system_memory, config.system_memory);
    copy_memory(controller.information_memory, config.information_memory);
    if (config.main_memory.has_value()) {
        copy_memory(controller.main_memory, *config.main_memory);
    } else {
        if (config.main_memory_fill.has_value()) {
            std::fill(controller.main_memory.begin(), controller.main_memory.end(),
                      *config.main_memory_fill);
        } else {
            fill_main_pattern(controller.main_memory);
        }
        controller.main_memory[kVersionMajorOffset] = config.firmware_major;
        controller.main_memory[kVersionMinorOffset] = config.firmware_minor;
    }
    controller.update_mode = config.update_mode;
    controller.registers[kConfigVersionAddress] = config.config_version;
    controller.registers[kConfigExtraAddress] = config.config_extra;
    for (std::size_t i = 0; i < kActiveModeSize; ++i) {
        controller.registers[kActiveModeAddress + static_cast<std::uint32_t>(i)] =
            config.active_mode[i];
    }
    controller.mode_settle_ms = config.mode_settle_ms;
    controller.erase_busy_polls = config.erase_busy_polls;
}

bool controller_deliver(Controller& controller, const Request& request, std::uint64_t now) {
    switch (request.command) {
    case kCommandWriteRegister:
        return write_register(controller, request, now);
    case kCommandWriteBlock:
        return write_block(controller, request, now);
    default:
        return count_read(controller, request, now);
    }
}

void controller_answer(Controller& controller, const Request& request, std::uint8_t* response,
                       std::size_t length, std::uint64_t now) {
    std::fill_n(response, length, 0);
    response[kReportIdByte] = request.report_id;
    write_address(response, request.address);
    if (request.command == kCommandReadBlock) {
        answer_block(controller, request, response, length);
    } else {
        answer_register(controller, request, response, now);
    }
    response[length - 1] = report_checksum(response, length);
}

std::uint32_t controller_group_value(const Controller& controller, std::uint32_t address) {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < kGroupSize; ++i) {
        value = (value << kBitsPerByte) | register_byte(controller, address + i);
    }
    return value;
}

std::uint32_t controller_key_value(const Controller& controller) {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < kGroupSize; ++i) {
        value |= static_cast<std::uint32_t>(register_byte(controller, kKeyRegister + i))
                 << (kBitsPerByte * i);
    }
    return value;
}

std::uint8_t controller_peek(const Controller& controller, std::uint32_t address,
                             std::uint64_t now) {
    switch (area_of(address)) {
    case Area::ModeStatus: {
        if (!mode_settled(controller, now)) {
            return kModeStatusSettling;
        }
        return controller.update_mode ? kModeStatusUpdate : kModeStatusNormal;
    }
    case Area::SystemMemory:
        return controller.system_memory[address - kSystemMemoryBase];
    case Area::InformationMemory:
        return controller.information_memory[address - kInformationMemoryBase];
    case Area::MainMemory:
        return controller.main_memory[address - kMainMemoryBase];
    default:
        return register_byte(controller, address);
    }
}

} // namespace sim
