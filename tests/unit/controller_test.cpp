// The simulated touchpad controller and the simulated HID device in front of it: request format and
// checksum, refusals, mode changes, erase, programming, memory selection and fault rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/controller.h"
#include "sim/hid_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace sim;

constexpr std::size_t kControl = 0;
constexpr std::size_t kData = 1;
constexpr std::uint8_t kControlId = 5;
constexpr std::uint8_t kDataId = 6;
constexpr std::size_t kControlLength = 8;
constexpr std::size_t kDataLength = 135;
constexpr std::size_t kBlock = kDataLength - kFrameOverhead; // 128
constexpr std::uint64_t kSettle = 1000;

SimCollection collection(std::uint16_t page, std::uint8_t id, std::uint16_t count) {
    SimCollection c;
    c.usage_page = page;
    c.report_id = id;
    c.report_count = count;
    return c;
}

SimDevice make_device() {
    SimDevice device;
    device.product_id = 0x1234;
    device.collections = {collection(kControlUsagePage, kControlId, kControlLength - 1),
                          collection(kDataUsagePage, kDataId, kDataLength - 1)};
    ControllerConfig config;
    config.firmware_major = 3;
    config.firmware_minor = 0x07;
    config.config_version = 0x42;
    config.system_memory.assign(kSystemMemoryBytes, 0);
    config.system_memory[0] = 0xA5;
    config.information_memory.assign(kInformationMemoryBytes, 0);
    config.information_memory[1023] = 0x5A;
    controller_init(device.controller, config);
    return device;
}

// A device and its virtual clock, with the register and block operations an updater performs.
struct Rig {
    SimDevice device = make_device();
    std::uint64_t now = 0;   // milliseconds
    std::uint64_t pause = 0; // after each delivered register write, as the updater's WAIT
    std::uint64_t early = 0; // time units before `now` at which the next request arrives

    std::uint64_t time() const {
        return now * kTimeUnitsPerMs - early;
    }

    bool write(std::uint32_t address, std::uint8_t value) {
        Bytes r = make_request(kControlId, kCommandWriteRegister, address, {value}, kControlLength);
        const bool sent = device_set_feature(device, kControl, r.data(), r.size(), time());
        now += sent ? pause : 0;
        return sent;
    }
    // Sends a report on the control collection as it is.
    bool send(const Bytes& report) {
        return device_set_feature(device, kControl, report.data(), report.size(), time());
    }
    // Fetches an answer of `length` bytes under report ID `id` from the control collection.
    bool fetch(Bytes& response, std::size_t length = kControlLength, std::uint8_t id = kControlId) {
        response.assign(length, 0);
        response[0] = id;
        return device_get_feature(device, kControl, response.data(), response.size(), time());
    }
    // Sends a read request and fetches its answer; false when either call fails.
    bool read(std::uint32_t address, Bytes& response) {
        return send(make_request(kControlId, kCommandReadRegister, address, {}, kControlLength)) &&
               fetch(response);
    }
    std::uint8_t value(std::uint32_t address) {
        Bytes response;
        EXPECT_TRUE(read(address, response));
        return response[kPayloadByte];
    }
    std::uint8_t status(std::uint32_t address) {
        Bytes response;
        EXPECT_TRUE(read(address, response));
        return response[kStatusByte];
    }
    // A 32-bit group, most significant byte first; false at the first byte refused.
    bool send_group(std::uint32_t address, std::uint32_t value) {
        for (std::uint32_t i = 0; i < kGroupSize; ++i) {
            if (!write(address + i, static_cast<std::uint8_t>(value >> (24 - 8 * i)))) {
                return false;
            }
        }
        return true;
    }
    bool send_key(std::uint32_t value) {
        for (std::uint32_t i = 0; i < kGroupSize; ++i) {
            if (!write(kKeyRegister + i, static_cast<std::uint8_t>(value >> (8 * i)))) {
                return false;
            }
        }
        return true;
    }
    bool send_mode(std::uint32_t code) {
        const bool sent =
            send_group(kModeChangeRegister, code) && send_group(kModeApplyRegister, kRegisterOn);
        now += kSettle;
        return sent;
    }
    // The command group and its read-back.
    bool send_command(std::uint8_t code) {
        Bytes response;
        return send_group(kCommandRegister, code) && read(kCommandCodeAddress, response) &&
               response[kPayloadByte] == code;
    }
    bool poll() {
        Bytes response;
        return read(kPollAddress, response);
    }
    void group(std::uint32_t address, std::uint32_t value) {
        ASSERT_TRUE(send_group(address, value));
    }
    void key(std::uint32_t value) {
        ASSERT_TRUE(send_key(value));
    }
    void mode(std::uint32_t code) {
        ASSERT_TRUE(send_mode(code));
    }
    void command(std::uint8_t code) {
        ASSERT_TRUE(send_command(code));
    }
    void unlock() {
        group(kArgumentRegister, kUnlockKey);
        key(kUnlockKey);
    }
    // The erase in the protocol's order, access switched off again at the end.
    void erase() {
        unlock();
        group(kEnableRegister, kRegisterOn);
        command(kCodeErase);
        group(kArgumentRegister, kEraseArgument);
        ASSERT_TRUE(poll());
        group(kTriggerRegister, kRegisterOn);
        ASSERT_TRUE(poll());
        group(kEnableRegister, 0);
    }
    void prepare_programming() {
        unlock();
        group(kEnableRegister, kRegisterOn);
        command(kCodeProgram);
    }
    bool write_block(std::uint32_t address, const Bytes& data) {
        Bytes r = make_request(kDataId, kCommandWriteBlock, address, data, kDataLength);
        return device_set_feature(device, kData, r.data(), r.size(), time());
    }
    bool read_block(std::uint32_t address, Bytes& response) {
        Bytes r = make_request(kDataId, kCommandReadBlock, address, {}, kDataLength);
        response.assign(kDataLength, 0);
        response[0] = kDataId;
        return device_set_feature(device, kData, r.data(), r.size(), time()) &&
               device_get_feature(device, kData, response.data(), response.size(), time());
    }
    const ControllerStats& stats() const {
        return device.controller.stats;
    }
};

Bytes block_of(std::uint8_t first) {
    Bytes data(kBlock);
    for (std::size_t i = 0; i < kBlock; ++i) {
        data[i] = static_cast<std::uint8_t>(first + i);
    }
    return data;
}

Bytes data_of(const Bytes& response) {
    return Bytes(response.begin() + kPayloadByte, response.begin() + kPayloadByte + kBlock);
}

// ---- request format ----------------------------------------------------------------------------

// Switching access on, and reading the mode status, as the protocol's examples write them.
const Bytes kDocumentedWrite{0x05, 0xD2, 0x07, 0x80, 0xFF, 0x00, 0x01, 0x68};
const Bytes kDocumentedRead{0x05, 0xD1, 0x2D, 0x00, 0x80, 0x00, 0x00, 0x8D};

TEST(SimController, RequestsMatchTheDocumentedBytes) {
    EXPECT_EQ(make_request(0x05, kCommandWriteRegister, 0xFF8007, {0x01}, 8), kDocumentedWrite);
    EXPECT_EQ(make_request(0x05, kCommandReadRegister, 0x80002D, {}, 8), kDocumentedRead);
}

TEST(SimController, ChecksumCountsReportIdAndLength) {
    const Bytes a = make_request(0x05, kCommandReadRegister, 0x80002D, {}, 8);
    const Bytes b = make_request(0x09, kCommandReadRegister, 0x80002D, {}, 8);
    EXPECT_EQ(static_cast<std::uint8_t>(b.back() - a.back()), 4);
    // Same bytes, one zero byte longer: the checksum grows by the length alone.
    const Bytes c = make_request(0x05, kCommandReadRegister, 0x80002D, {}, 9);
    EXPECT_EQ(static_cast<std::uint8_t>(c.back() - a.back()), 1);
}

TEST(SimController, DeviceAcceptsTheDocumentedRequestBytes) {
    Rig rig;
    rig.mode(kModeChangeEnterCode); // access is switched on only once unlocked in update mode
    rig.unlock();
    ASSERT_TRUE(rig.send(kDocumentedWrite));
    EXPECT_EQ(controller_group_value(rig.device.controller, kEnableRegister), 1u);
    ASSERT_TRUE(rig.send(kDocumentedRead));
    Bytes response;
    ASSERT_TRUE(rig.fetch(response));
    EXPECT_EQ(response[kStatusByte], kStatusSuccess);
    EXPECT_EQ(response[kPayloadByte], kModeStatusUpdate);
}

// ---- refusals ----------------------------------------------------------------------------------

struct RefusalCase {
    const char* name;
    std::size_t collection;
    std::function<Bytes()> report;
};

class SimControllerRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SimControllerRefusal, RefusedRequestHasNoEffectAndFails) {
    Rig rig;
    Bytes report = GetParam().report();
    EXPECT_FALSE(
        device_set_feature(rig.device, GetParam().collection, report.data(), report.size(), 0));
    EXPECT_EQ(rig.stats().refused_requests, 1u);
    EXPECT_EQ(rig.stats().register_writes + rig.stats().block_writes, 0u);
    EXPECT_EQ(controller_group_value(rig.device.controller, kModeChangeRegister), 0u);
    EXPECT_TRUE(rig.device.request_log.empty());
    EXPECT_EQ(rig.device.hid.set_feature_failures, 1u);
}

// A write the controller takes in any state: the last byte of the mode-change register.
Bytes sample_write() {
    return make_request(kControlId, kCommandWriteRegister, 0x80003D, {1}, kControlLength);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimControllerRefusal,
    ::testing::Values(
        RefusalCase{"BadChecksum", kControl,
                    [] {
                        Bytes r = sample_write();
                        r.back() = static_cast<std::uint8_t>(r.back() + 1);
                        return r;
                    }},
        RefusalCase{"ReportTooLong", kControl,
                    [] {
                        return make_request(kControlId, kCommandWriteRegister, 0x80003D, {1},
                                            kControlLength + 1);
                    }},
        RefusalCase{"ReportTooShort", kControl,
                    [] {
                        Bytes r = sample_write();
                        r.pop_back();
                        return r;
                    }},
        RefusalCase{"WrongReportId", kControl,
                    [] {
                        return make_request(kDataId, kCommandWriteRegister, 0x80003D, {1},
                                            kControlLength);
                    }},
        RefusalCase{"UnknownCommand", kControl,
                    [] { return make_request(kControlId, 0x42, 0x80003D, {1}, kControlLength); }},
        RefusalCase{"RegisterWriteOnDataCollection", kData,
                    [] {
                        return make_request(kDataId, kCommandWriteRegister, 0x80003D, {1},
                                            kDataLength);
                    }},
        RefusalCase{
            "BlockWriteOnControlCollection", kControl,
            [] { return make_request(kControlId, kCommandWriteBlock, 0, {1}, kControlLength); }},
        RefusalCase{"NoSuchCollection", 2, [] { return sample_write(); }}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(SimController, VendorPageOtherThanTheTwoAcceptsNothingUnlessOverridden) {
    Rig rig;
    rig.device.collections[kControl].usage_page = 0xFF03;
    EXPECT_FALSE(rig.send(sample_write()));
    rig.device.collections[kControl].accepts = CollectionKind::Control;
    EXPECT_TRUE(rig.send(sample_write()));
    rig.device.collections[kControl].usage_page = kControlUsagePage;
    rig.device.collections[kControl].accepts = CollectionKind::None;
    EXPECT_FALSE(rig.send(sample_write()));
    EXPECT_EQ(rig.stats().refused_requests, 2u);
}

TEST(SimController, FetchWithoutPendingReadIsAViolation) {
    Rig rig;
    Bytes response;
    EXPECT_FALSE(rig.fetch(response));
    EXPECT_EQ(rig.stats().protocol_violations, 1u);
    // A read is answered once; a write in between drops the pending read.
    ASSERT_TRUE(rig.read(kModeStatusAddress, response));
    EXPECT_FALSE(rig.fetch(response));
    ASSERT_TRUE(
        rig.send(make_request(kControlId, kCommandReadRegister, kModeStatusAddress, {}, 8)));
    ASSERT_TRUE(rig.write(0x80003D, 0));
    EXPECT_FALSE(rig.fetch(response));
    EXPECT_EQ(rig.stats().protocol_violations, 3u);
}

TEST(SimController, FetchWithWrongLengthOrReportIdFails) {
    Rig rig;
    ASSERT_TRUE(
        rig.send(make_request(kControlId, kCommandReadRegister, kModeStatusAddress, {}, 8)));
    Bytes response;
    EXPECT_FALSE(rig.fetch(response, kControlLength + 1));
    EXPECT_FALSE(rig.fetch(response, kControlLength, kDataId));
    EXPECT_TRUE(rig.fetch(response));
}

// ---- registers and modes -----------------------------------------------------------------------

TEST(SimController, StartsInNormalModeWithVersionAndConfiguration) {
    Rig rig;
    EXPECT_EQ(rig.value(kModeStatusAddress), kModeStatusNormal);
    EXPECT_EQ(rig.value(kMainMemoryBase + 2), 3);
    EXPECT_EQ(rig.value(kMainMemoryBase + 3), 0x07);
    EXPECT_EQ(rig.value(kConfigVersionAddress), 0x42);
    EXPECT_NE(rig.value(kMainMemoryBase), kErasedByte);
    EXPECT_EQ(rig.value(kActiveModeAddress + 1), 0x02);
    EXPECT_EQ(rig.stats().unexpected_addresses, 0u);
}

struct SettleCase {
    std::uint64_t pause_ms; // after each write, the last one of the apply group included
    std::uint64_t waited_ms;
    std::uint8_t status;
};

class SimControllerSettle : public ::testing::TestWithParam<SettleCase> {};

// The 1000 ms count from the end of the apply group's own pause.
TEST_P(SimControllerSettle, ModeStatusShowsTheNewModeOnlyAfterSettling) {
    Rig rig;
    rig.pause = GetParam().pause_ms;
    rig.group(kModeChangeRegister, kModeChangeEnterCode);
    rig.group(kModeApplyRegister, kRegisterOn);
    rig.now += GetParam().waited_ms;
    EXPECT_EQ(rig.value(kModeStatusAddress), GetParam().status);
    EXPECT_EQ(rig.stats().mode_changes, 1u);
}

INSTANTIATE_TEST_SUITE_P(Waits, SimControllerSettle,
                         ::testing::Values(SettleCase{0, 0, kModeStatusSettling},
                                           SettleCase{0, 999, kModeStatusSettling},
                                           SettleCase{0, 1000, kModeStatusUpdate},
                                           SettleCase{0, 5000, kModeStatusUpdate},
                                           SettleCase{2, 998, kModeStatusSettling},
                                           SettleCase{2, 999, kModeStatusSettling},
                                           SettleCase{2, 1000, kModeStatusUpdate},
                                           SettleCase{5, 999, kModeStatusSettling},
                                           SettleCase{5, 1000, kModeStatusUpdate}));

// A request that needs a pause before it: what comes before it, and the request.
struct PauseNeedCase {
    const char* name;
    void (*before)(Rig& rig);
    bool (*request)(Rig& rig);
};

const PauseNeedCase kPauseNeedCases[] = {
    {"Write", [](Rig& r) { r.write(kActiveModeAddress, 1); },
     [](Rig& r) { return r.write(kActiveModeAddress + 1, 2); }},
    {"BlockWrite",
     [](Rig& r) {
         r.mode(kModeChangeEnterCode);
         r.prepare_programming();
     },
     [](Rig& r) { return r.write_block(0, Bytes(kBlock, 0x00)); }},
    {"ReadAfterAModeChange", [](Rig& r) { r.mode(kModeChangeEnterCode); },
     [](Rig& r) {
         Bytes response;
         return r.read(kModeStatusAddress, response);
     }}};

class SimControllerPauses : public ::testing::TestWithParam<PauseNeedCase> {};

// Writes 2 ms apart, reads 1000 ms after a mode change (its apply group's pause counted): the
// request is taken after the pause, and refused as not ready one time unit sooner.
TEST_P(SimControllerPauses, RequestSoonerThanThePauseIsRefused) {
    for (const std::uint64_t early : {0u, 1u}) {
        Rig rig;
        rig.device.controller.write_pause_ms = 2;
        rig.device.controller.mode_pause_ms = kSettle;
        rig.pause = 2;
        GetParam().before(rig);
        rig.early = early;
        EXPECT_EQ(GetParam().request(rig), early == 0) << early;
        EXPECT_EQ(rig.stats().protocol_violations, early) << early;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SimControllerPauses, ::testing::ValuesIn(kPauseNeedCases),
                         [](const ::testing::TestParamInfo<PauseNeedCase>& info) {
                             return info.param.name;
                         });

TEST(SimController, SettleTimeIsConfigurable) {
    Rig rig;
    rig.device.controller.mode_settle_ms = 0;
    rig.group(kModeChangeRegister, kModeChangeEnterCode);
    rig.group(kModeApplyRegister, kRegisterOn);
    EXPECT_EQ(rig.value(kModeStatusAddress), kModeStatusUpdate);
}

TEST(SimController, LeavingUpdateModeRestartsTheFirmware) {
    Rig rig;
    rig.mode(kModeChangeEnterCode);
    ASSERT_EQ(rig.value(kModeStatusAddress), kModeStatusUpdate);
    rig.command(kCodeSelectSystem);
    rig.mode(kModeChangeLeaveCode);
    EXPECT_EQ(rig.value(kModeStatusAddress), kModeStatusNormal);
    EXPECT_EQ(rig.value(kCommandCodeAddress), 0);
    for (std::uint32_t i = 0; i < kActiveModeSize; ++i) {
        EXPECT_EQ(rig.value(kActiveModeAddress + i), kActiveModeAfterRestart);
    }
    ASSERT_TRUE(rig.write(kActiveModeAddress + 2, 0x77));
    EXPECT_EQ(rig.value(kActiveModeAddress + 2), 0x77);
    EXPECT_EQ(rig.stats().mode_changes, 2u);
}

TEST(SimController, ApplyWithAnUnknownModeCodeChangesNothing) {
    Rig rig;
    rig.mode(0x12345678);
    EXPECT_EQ(rig.value(kModeStatusAddress), kModeStatusNormal);
    EXPECT_EQ(rig.stats().mode_changes, 0u);
    EXPECT_EQ(rig.stats().protocol_violations, 1u);
}

TEST(SimController, ReadOnlyRegistersIgnoreWrites) {
    Rig rig;
    ASSERT_TRUE(rig.write(kModeStatusAddress, 0x10));
    ASSERT_TRUE(rig.write(kConfigVersionAddress, 0x01));
    ASSERT_TRUE(rig.write(kMainMemoryBase + 2, 0x09));
    EXPECT_EQ(rig.value(kModeStatusAddress), kModeStatusNormal);
    EXPECT_EQ(rig.value(kConfigVersionAddress), 0x42);
    EXPECT_EQ(rig.value(kMainMemoryBase + 2), 3);
    EXPECT_EQ(rig.stats().protocol_violations, 3u);
}

TEST(SimController, UnknownAddressesAreStoredAndCounted) {
    Rig rig;
    ASSERT_TRUE(rig.write(0x123456, 0x9C));
    EXPECT_EQ(rig.value(0x123456), 0x9C);
    EXPECT_EQ(rig.value(0x123457), 0);
    EXPECT_EQ(rig.stats().unexpected_addresses, 3u);
    EXPECT_EQ(rig.stats().protocol_violations, 0u);
}

TEST(SimController, CommandCodeReadsBack) {
    Rig rig;
    rig.group(kCommandRegister, kCodeSelectSystem);
    EXPECT_EQ(rig.value(kCommandCodeAddress), kCodeSelectSystem);
    EXPECT_EQ(rig.stats().register_writes, 4u);
    EXPECT_EQ(rig.stats().register_reads, 1u);
}

TEST(SimController, KeyRegisterHoldsTheKeyLeastSignificantByteFirst) {
    Rig rig;
    rig.mode(kModeChangeEnterCode);
    rig.unlock();
    EXPECT_EQ(rig.value(kKeyRegister), 0xE7);
    EXPECT_EQ(rig.value(kKeyRegister + 3), 0x6D);
    EXPECT_EQ(rig.value(kArgumentRegister), 0x6D);
    EXPECT_EQ(controller_key_value(rig.device.controller), kUnlockKey);
}

// ---- memories ----------------------------------------------------------------------------------

struct SelectionCase {
    const char* name;
    std::uint32_t address;
    std::uint8_t right_code;
    std::uint8_t wrong_code;
    std::uint8_t value;
};

class SimControllerSelection : public ::testing::TestWithParam<SelectionCase> {};

// A memory read is refused before its command, after the other memory's command, and after its
// own command group until the code was read back.
TEST_P(SimControllerSelection, MemoryAnswersOnlyAfterItsCommandWasReadBack) {
    const SelectionCase& c = GetParam();
    Rig rig;
    Bytes response;
    EXPECT_FALSE(rig.read(c.address, response));
    rig.command(c.wrong_code);
    EXPECT_FALSE(rig.read(c.address, response));
    rig.group(kCommandRegister, c.right_code);
    EXPECT_FALSE(rig.read(c.address, response));
    EXPECT_EQ(rig.stats().protocol_violations, 3u);
    EXPECT_EQ(rig.value(kCommandCodeAddress), c.right_code);
    ASSERT_TRUE(rig.read(c.address, response));
    EXPECT_EQ(response[kStatusByte], kStatusSuccess);
    EXPECT_EQ(response[kPayloadByte], c.value);
    EXPECT_EQ(rig.stats().protocol_violations, 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Memories, SimControllerSelection,
    ::testing::Values(SelectionCase{"System", kSystemMemoryBase, kCodeSelectSystem,
                                    kCodeSelectInformation, 0xA5},
                      SelectionCase{"Information", kInformationMemoryBase + 1023,
                                    kCodeSelectInformation, kCodeSelectSystem, 0x5A}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return info.param.name; });

// ---- erase -------------------------------------------------------------------------------------

// ---- the protocol's order ----------------------------------------------------------------------

// One step of an updater talking to the controller; false when its last request was refused.
using Step = std::function<bool(Rig&)>;

const Step kEnter = [](Rig& r) { return r.send_mode(kModeChangeEnterCode); };
const Step kLeave = [](Rig& r) { return r.send_mode(kModeChangeLeaveCode); };
const Step kArgumentKey = [](Rig& r) { return r.send_group(kArgumentRegister, kUnlockKey); };
const Step kKey = [](Rig& r) { return r.send_key(kUnlockKey); };
const Step kWrongKey = [](Rig& r) { return r.send_key(0xE7942B6D); };
const Step kEnable = [](Rig& r) { return r.send_group(kEnableRegister, kRegisterOn); };
const Step kDisable = [](Rig& r) { return r.send_group(kEnableRegister, 0); };
const Step kEraseGroup = [](Rig& r) { return r.send_group(kCommandRegister, kCodeErase); };
const Step kProgramGroup = [](Rig& r) { return r.send_group(kCommandRegister, kCodeProgram); };
const Step kSystemGroup = [](Rig& r) { return r.send_group(kCommandRegister, kCodeSelectSystem); };
const Step kCodeAlone = [](Rig& r) { return r.write(kCommandCodeAddress, kCodeSelectSystem); };
const Step kReadBack = [](Rig& r) {
    Bytes response;
    return r.read(kCommandCodeAddress, response);
};
const Step kEraseArgumentGroup = [](Rig& r) {
    return r.send_group(kArgumentRegister, kEraseArgument);
};
const Step kPoll = [](Rig& r) { return r.poll(); };
const Step kTrigger = [](Rig& r) { return r.send_group(kTriggerRegister, kRegisterOn); };
const Step kBlockWrite = [](Rig& r) { return r.write_block(0, Bytes(kBlock, 0x00)); };
const Step kSystemRead = [](Rig& r) {
    Bytes response;
    return r.read(kSystemMemoryBase, response);
};
const Step kActiveModeWrite = [](Rig& r) { return r.write(kActiveModeAddress, 1); };

struct OrderCase {
    const char* name;
    std::vector<Step> steps;
    std::optional<std::size_t> refused; // the step whose request is refused, if any
    bool erased = false;
};

class SimControllerOrder : public ::testing::TestWithParam<OrderCase> {};

// The steps before the refused one go through; the refused one fails, counts one violation and
// leaves main memory as it was unless an in-order erase came first.
TEST_P(SimControllerOrder, OutOfOrderRequestFailsAndCounts) {
    const OrderCase& c = GetParam();
    Rig rig;
    const std::size_t last = c.refused.value_or(c.steps.size() - 1);
    ASSERT_LT(last, c.steps.size());
    for (std::size_t i = 0; i <= last; ++i) {
        EXPECT_EQ(c.steps[i](rig), !c.refused.has_value() || i != *c.refused) << "step " << i;
    }
    EXPECT_EQ(rig.stats().protocol_violations, c.refused.has_value() ? 1u : 0u);
    EXPECT_EQ(rig.stats().erases, c.erased ? 1u : 0u);
    EXPECT_EQ(rig.stats().blocks_programmed, 0u);
}

const std::vector<Step> kEraseInOrder = {
    kEnter,    kArgumentKey,        kKey,  kEnable,  kEraseGroup,
    kReadBack, kEraseArgumentGroup, kPoll, kTrigger, kPoll};

std::vector<Step> erase_then(std::vector<Step> more) {
    std::vector<Step> steps = kEraseInOrder;
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, SimControllerOrder,
    ::testing::Values(
        OrderCase{"EraseInOrder", erase_then({kDisable, kLeave}), std::nullopt, true},
        OrderCase{"KeyWithoutArgument", {kEnter, kKey}, 1},
        OrderCase{"UnlockInNormalMode", {kArgumentKey}, 0},
        OrderCase{"EnableWhileLocked", {kEnter, kEnable}, 1},
        OrderCase{"EnableAfterAWrongKey", {kEnter, kArgumentKey, kWrongKey, kEnable}, 3},
        OrderCase{"EraseCommandWhileDisabled", {kEnter, kArgumentKey, kKey, kEraseGroup}, 3},
        OrderCase{"EraseArgumentBeforeCommand",
                  {kEnter, kArgumentKey, kKey, kEnable, kEraseArgumentGroup},
                  4},
        OrderCase{"EraseArgumentBeforeReadBack",
                  {kEnter, kArgumentKey, kKey, kEnable, kEraseGroup, kEraseArgumentGroup},
                  5},
        OrderCase{"TriggerWithoutPoll",
                  {kEnter, kArgumentKey, kKey, kEnable, kEraseGroup, kReadBack, kEraseArgumentGroup,
                   kTrigger},
                  7},
        OrderCase{"TriggerWithoutArgument",
                  {kEnter, kArgumentKey, kKey, kEnable, kEraseGroup, kReadBack, kPoll, kTrigger},
                  7},
        OrderCase{"UnlockWhileAccessStillOn", erase_then({kArgumentKey}), 10, true},
        OrderCase{"SecondTriggerWithoutNewArgument", erase_then({kTrigger}), 10, true},
        OrderCase{"ProgramWithoutNewUnlock", erase_then({kDisable, kEnable}), 11, true},
        OrderCase{"BlockWithoutReadBack",
                  erase_then({kDisable, kArgumentKey, kKey, kEnable, kProgramGroup, kBlockWrite}),
                  15, true},
        OrderCase{"BlockAfterAccessOff",
                  erase_then({kDisable, kArgumentKey, kKey, kEnable, kProgramGroup, kReadBack,
                              kDisable, kBlockWrite}),
                  17, true},
        OrderCase{
            "BlockWithoutProgramCommand", {kEnter, kArgumentKey, kKey, kEnable, kBlockWrite}, 4},
        OrderCase{"LeaveWithAccessOn", {kEnter, kArgumentKey, kKey, kEnable, kLeave}, 4},
        OrderCase{"CommandCodeWithoutItsGroup", {kCodeAlone}, 0},
        OrderCase{"MemoryReadBeforeReadBack", {kSystemGroup, kSystemRead}, 1},
        OrderCase{"ActiveModeInUpdateMode", {kEnter, kActiveModeWrite}, 1},
        OrderCase{"ActiveModeBeforeTheStatusSettled",
                  {kEnter, kLeave,
                   [](Rig& r) {
                       r.now -= 1; // one millisecond short of the settle time
                       return r.write(kActiveModeAddress, 1);
                   }},
                  2}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return info.param.name; });

TEST(SimController, PollsAnswerBusyForTheConfiguredCountAfterTheTrigger) {
    Rig rig;
    rig.device.controller.erase_busy_polls = 2;
    for (std::size_t i = 0; i + 1 < kEraseInOrder.size(); ++i) {
        ASSERT_TRUE(kEraseInOrder[i](rig));
    }
    EXPECT_EQ(rig.stats().polls, 1u); // before the trigger: ready
    EXPECT_EQ(rig.status(kPollAddress), kStatusBusy);
    EXPECT_EQ(rig.status(kPollAddress), kStatusBusy);
    EXPECT_EQ(rig.status(kPollAddress), kStatusSuccess);
    EXPECT_EQ(rig.stats().polls, 4u);
    EXPECT_EQ(rig.stats().erases, 1u);
}

// ---- programming -------------------------------------------------------------------------------

TEST(SimController, ProgrammingAndsBlocksAtBareOffsetsReadAtAbsoluteAddresses) {
    Rig rig;
    rig.mode(kModeChangeEnterCode);
    rig.erase();
    rig.prepare_programming();
    const std::uint32_t offset = 3 * kBlock;
    ASSERT_TRUE(rig.write_block(offset, block_of(0x10)));
    Bytes response;
    ASSERT_TRUE(rig.read_block(kMainMemoryBase + offset, response));
    EXPECT_EQ(response[kStatusByte], kStatusSuccess);
    EXPECT_EQ(data_of(response), block_of(0x10));
    // A second write only clears bits: 0x10+i AND 0xF0 keeps the high nibble.
    ASSERT_TRUE(rig.write_block(offset, Bytes(kBlock, 0xF0)));
    ASSERT_TRUE(rig.read_block(kMainMemoryBase + offset, response));
    EXPECT_EQ(response[kPayloadByte], 0x10);
    EXPECT_EQ(response[kPayloadByte + 0x11], 0x20);
    EXPECT_EQ(rig.stats().blocks_programmed, 2u);
    EXPECT_EQ(rig.stats().protocol_violations, 0u);
}

struct BlockMisuseCase {
    const char* name;
    bool prepared;         // update mode, unlocked, enabled, command 0x05 read back
    std::uint32_t address; // of the block write
};

class SimControllerBlockMisuse : public ::testing::TestWithParam<BlockMisuseCase> {};

// Out of order the write fails; out of range it is acknowledged; neither programs anything.
TEST_P(SimControllerBlockMisuse, BlockWriteHasNoEffect) {
    Rig rig;
    rig.mode(kModeChangeEnterCode);
    rig.erase();
    if (GetParam().prepared) {
        rig.prepare_programming();
    }
    EXPECT_EQ(rig.write_block(GetParam().address, Bytes(kBlock, 0x00)), GetParam().prepared);
    EXPECT_EQ(rig.stats().blocks_programmed, 0u);
    EXPECT_EQ(rig.stats().protocol_violations, 1u);
    EXPECT_EQ(rig.device.controller.main_memory, Bytes(kMainMemoryBytes, kErasedByte));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimControllerBlockMisuse,
    ::testing::Values(BlockMisuseCase{"NotPrepared", false, 0},
                      BlockMisuseCase{"AbsoluteAddress", true, kMainMemoryBase},
                      BlockMisuseCase{"PastTheEnd", true, kMainMemoryBytes - kBlock / 2}),
    [](const ::testing::TestParamInfo<BlockMisuseCase>& info) { return info.param.name; });

TEST(SimController, LastWholeBlockFits) {
    Rig rig;
    rig.mode(kModeChangeEnterCode);
    rig.erase();
    rig.prepare_programming();
    EXPECT_TRUE(rig.write_block(kMainMemoryBytes - kBlock, Bytes(kBlock, 0x00)));
    EXPECT_EQ(rig.device.controller.main_memory.back(), 0x00);
    EXPECT_EQ(rig.stats().protocol_violations, 0u);
}

TEST(SimController, BlockReadAtABareOffsetIsDenied) {
    Rig rig;
    Bytes response;
    ASSERT_TRUE(rig.read_block(0x100, response));
    EXPECT_EQ(response[kStatusByte], kStatusDenied);
    EXPECT_EQ(rig.stats().protocol_violations, 1u);
    ASSERT_TRUE(rig.read_block(kMainMemoryBase + kMainMemoryBytes - kBlock, response));
    EXPECT_EQ(response[kStatusByte], kStatusSuccess);
    EXPECT_EQ(rig.stats().block_reads, 2u);
}

// The whole update as an updater performs it leaves a clean record: no refusal, no violation, no
// address outside the map.
TEST(SimController, AFullUpdateLeavesACleanRecord) {
    Rig rig;
    std::uint8_t saved[kActiveModeSize];
    for (std::uint32_t i = 0; i < kActiveModeSize; ++i) {
        saved[i] = rig.value(kActiveModeAddress + i);
    }
    rig.mode(kModeChangeEnterCode);
    ASSERT_EQ(rig.value(kModeStatusAddress), kModeStatusUpdate);
    rig.unlock();
    rig.group(kEnableRegister, kRegisterOn);
    rig.group(kCommandRegister, kCodeErase);
    ASSERT_EQ(rig.value(kCommandCodeAddress), kCodeErase);
    rig.group(kArgumentRegister, kEraseArgument);
    rig.status(kPollAddress);
    rig.group(kTriggerRegister, kRegisterOn);
    rig.status(kPollAddress);
    rig.group(kEnableRegister, 0);
    ASSERT_EQ(rig.value(kMainMemoryBase), kErasedByte);
    Bytes image(kMainMemoryBytes);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i % 251);
    }
    rig.prepare_programming();
    ASSERT_EQ(rig.value(kCommandCodeAddress), kCodeProgram);
    for (std::uint32_t offset = 0; offset < kMainMemoryBytes; offset += kBlock) {
        const Bytes chunk(image.begin() + offset, image.begin() + offset + kBlock);
        ASSERT_TRUE(rig.write_block(offset, chunk));
        Bytes response;
        ASSERT_TRUE(rig.read_block(kMainMemoryBase + offset, response));
        ASSERT_EQ(data_of(response), chunk);
    }
    rig.group(kEnableRegister, 0);
    rig.mode(kModeChangeLeaveCode);
    ASSERT_EQ(rig.value(kModeStatusAddress), kModeStatusNormal);
    for (std::uint32_t i = 0; i < kActiveModeSize; ++i) {
        ASSERT_TRUE(rig.write(kActiveModeAddress + i, saved[i]));
        EXPECT_EQ(rig.value(kActiveModeAddress + i), saved[i]);
    }
    EXPECT_EQ(rig.device.controller.main_memory, image);
    const ControllerStats& stats = rig.stats();
    EXPECT_EQ(stats.refused_requests, 0u);
    EXPECT_EQ(stats.protocol_violations, 0u);
    EXPECT_EQ(stats.unexpected_addresses, 0u);
    EXPECT_EQ(stats.erases, 1u);
    EXPECT_EQ(stats.mode_changes, 2u);
    EXPECT_EQ(stats.block_writes, kMainMemoryBytes / kBlock);
    EXPECT_EQ(stats.blocks_programmed, kMainMemoryBytes / kBlock);
    EXPECT_EQ(stats.polls, 2u);
}

// ---- fault rules -------------------------------------------------------------------------------

FaultRule rule(FaultTarget on, FaultEffect effect, std::optional<std::uint32_t> address = {},
               std::uint32_t skip = 0, std::optional<std::uint32_t> times = {},
               std::uint8_t byte = 0) {
    FaultRule r;
    r.on = on;
    r.effect = effect;
    r.address = address;
    r.skip = skip;
    r.times = times;
    r.byte = byte;
    return r;
}

TEST(SimHidDevice, FailSetKeepsTheRequestFromTheController) {
    Rig rig;
    rig.device.faults = {rule(FaultTarget::Write, FaultEffect::FailSet, 0x80003D)};
    EXPECT_FALSE(rig.write(0x80003D, 1));
    EXPECT_TRUE(rig.write(0x80003C, 1));
    EXPECT_EQ(controller_group_value(rig.device.controller, kModeChangeRegister), 0x100u);
    EXPECT_EQ(rig.device.hid.set_feature_failures, 1u);
    EXPECT_EQ(rig.device.hid.faults_applied, 1u);
    ASSERT_EQ(rig.device.request_log.size(), 2u);
    EXPECT_FALSE(rig.device.request_log[0].delivered);
    EXPECT_TRUE(rig.device.request_log[1].delivered);
}

TEST(SimHidDevice, IgnoreAcknowledgesWithoutEffect) {
    Rig rig;
    rig.mode(kModeChangeEnterCode);
    rig.device.faults = {rule(FaultTarget::Write, FaultEffect::Ignore, kKeyRegister)};
    rig.unlock();
    EXPECT_NE(controller_key_value(rig.device.controller), kUnlockKey);
    EXPECT_EQ(rig.device.hid.set_feature_failures, 0u);
    EXPECT_EQ(rig.stats().register_writes, 8u + 7u);            // the mode change, then all but one
    EXPECT_FALSE(rig.send_group(kEnableRegister, kRegisterOn)); // still locked
}

TEST(SimHidDevice, UnplugMakesEveryLaterCallFail) {
    Rig rig;
    rig.device.faults = {rule(FaultTarget::Any, FaultEffect::Unplug, {}, 2)};
    EXPECT_TRUE(rig.write(0xFF8004, 0));
    EXPECT_TRUE(rig.write(0xFF8005, 0));
    EXPECT_FALSE(rig.write(0xFF8006, 0));
    EXPECT_TRUE(rig.device.unplugged);
    Bytes response;
    EXPECT_FALSE(rig.read(kModeStatusAddress, response));
    EXPECT_FALSE(rig.write_block(0, Bytes(kBlock, 0)));
    EXPECT_EQ(rig.stats().register_writes, 2u);
}

TEST(SimHidDevice, FailGetKeepsTheReadPending) {
    Rig rig;
    rig.device.faults = {rule(FaultTarget::Read, FaultEffect::FailGet, kModeStatusAddress, 0, 2)};
    ASSERT_TRUE(
        rig.send(make_request(kControlId, kCommandReadRegister, kModeStatusAddress, {}, 8)));
    Bytes response;
    EXPECT_FALSE(rig.fetch(response));
    EXPECT_FALSE(rig.fetch(response));
    EXPECT_TRUE(rig.fetch(response));
    EXPECT_EQ(response[kPayloadByte], kModeStatusNormal);
    EXPECT_EQ(rig.device.hid.get_feature_failures, 2u);
    EXPECT_EQ(rig.device.hid.get_feature_calls, 3u);
}

TEST(SimHidDevice, StatusAndValueRewriteTheAnswer) {
    Rig rig;
    rig.device.faults = {
        rule(FaultTarget::Read, FaultEffect::Status, kModeStatusAddress, 0, 1, 0x33),
        rule(FaultTarget::Read, FaultEffect::Value, kCommandCodeAddress, 0, 1, 0)};
    Bytes response;
    ASSERT_TRUE(rig.read(kModeStatusAddress, response));
    EXPECT_EQ(response[kStatusByte], 0x33);
    EXPECT_EQ(response[kPayloadByte], kModeStatusNormal);
    rig.group(kCommandRegister, kCodeSelectSystem);
    ASSERT_TRUE(rig.read(kCommandCodeAddress, response));
    EXPECT_EQ(response[kStatusByte], kStatusSuccess);
    EXPECT_EQ(response[kPayloadByte], 0);
    EXPECT_EQ(rig.value(kCommandCodeAddress), kCodeSelectSystem); // times 1: only the first
}

class SimHidDeviceCorrupt
    : public ::testing::TestWithParam<std::pair<FaultEffect, std::vector<std::size_t>>> {};

TEST_P(SimHidDeviceCorrupt, ChangesOneDataByteOfABlock) {
    Rig rig;
    rig.device.faults = {rule(FaultTarget::ReadBlock, GetParam().first, kMainMemoryBase)};
    Bytes response;
    ASSERT_TRUE(rig.read_block(kMainMemoryBase, response));
    const Bytes memory(rig.device.controller.main_memory.begin(),
                       rig.device.controller.main_memory.begin() + kBlock);
    const Bytes data = data_of(response);
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < kBlock; ++i) {
        if (data[i] != memory[i]) {
            differing.push_back(i);
        }
    }
    EXPECT_EQ(differing, GetParam().second);
    EXPECT_EQ(response[kStatusByte], kStatusSuccess);
    ASSERT_TRUE(rig.read_block(kMainMemoryBase + kBlock, response)); // other address: intact
    EXPECT_EQ(data_of(response), Bytes(rig.device.controller.main_memory.begin() + kBlock,
                                       rig.device.controller.main_memory.begin() + 2 * kBlock));
}

INSTANTIATE_TEST_SUITE_P(
    Effects, SimHidDeviceCorrupt,
    ::testing::Values(std::pair{FaultEffect::Corrupt, std::vector<std::size_t>{kBlock / 2}},
                      std::pair{FaultEffect::CorruptLast, std::vector<std::size_t>{kBlock - 1}}));

TEST(SimHidDevice, BlockWriteRulesMatchTheBareOffset) {
    Rig rig;
    rig.device.faults = {rule(FaultTarget::WriteBlock, FaultEffect::FailSet, kBlock)};
    rig.mode(kModeChangeEnterCode);
    rig.erase();
    rig.prepare_programming();
    EXPECT_TRUE(rig.write_block(0, Bytes(kBlock, 0)));
    EXPECT_FALSE(rig.write_block(kBlock, Bytes(kBlock, 0)));
    EXPECT_EQ(rig.device.faults[0].matched, 1u);
}

struct CountingCase {
    const char* name;
    std::uint32_t skip;
    std::optional<std::uint32_t> times;
    std::vector<bool> results; // of successive matching writes
};

class SimHidDeviceCounting : public ::testing::TestWithParam<CountingCase> {};

TEST_P(SimHidDeviceCounting, SkipAndTimesCountOnlyMatchingCalls) {
    const CountingCase& c = GetParam();
    Rig rig;
    rig.device.faults = {rule(FaultTarget::Write, FaultEffect::FailSet, 0x80003D, c.skip, c.times)};
    std::vector<bool> results;
    for (std::size_t i = 0; i < c.results.size(); ++i) {
        ASSERT_TRUE(rig.write(0x80003C, 0)); // other address: neither counted nor affected
        Bytes response;
        ASSERT_TRUE(rig.read(0x80003D, response)); // a read of the address: not a write
        results.push_back(rig.write(0x80003D, 1));
    }
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(rig.device.faults[0].matched, c.results.size());
}

INSTANTIATE_TEST_SUITE_P(
    Windows, SimHidDeviceCounting,
    ::testing::Values(CountingCase{"All", 0, std::nullopt, {false, false, false}},
                      CountingCase{"FirstOnly", 0, 1, {false, true, true}},
                      CountingCase{"SkipOneThenTwo", 1, 2, {true, false, false, true, true}},
                      CountingCase{"SkipOnlyThenAll", 2, std::nullopt, {true, true, false, false}},
                      CountingCase{"TimesZero", 0, 0, {true, true}}),
    [](const ::testing::TestParamInfo<CountingCase>& info) { return info.param.name; });

TEST(SimHidDevice, FirstDueRuleActsAndEveryMatchingRuleCounts) {
    Rig rig;
    rig.device.faults = {rule(FaultTarget::Write, FaultEffect::Ignore, {}, 1, 1),
                         rule(FaultTarget::Any, FaultEffect::FailSet, {}, 0, 2)};
    EXPECT_FALSE(rig.write(0x80003D, 1)); // rule 0 skips it, rule 1 fails it
    EXPECT_TRUE(rig.write(0x80003C, 1));  // both due: rule 0 ignores it
    EXPECT_TRUE(rig.write(0x80003B, 1));  // neither due
    EXPECT_EQ(controller_group_value(rig.device.controller, kModeChangeRegister), 0x10000u);
    EXPECT_EQ(rig.device.faults[0].applied, 1u);
    EXPECT_EQ(rig.device.faults[1].applied, 1u);
    EXPECT_EQ(rig.device.faults[1].matched, 3u);
}

TEST(SimHidDevice, SetSideRulesDoNotCountFetches) {
    Rig rig;
    rig.device.faults = {rule(FaultTarget::Read, FaultEffect::FailSet, kModeStatusAddress, 1, 1)};
    Bytes response;
    EXPECT_TRUE(rig.read(kModeStatusAddress, response));  // request 1 skipped
    EXPECT_FALSE(rig.read(kModeStatusAddress, response)); // request 2 refused at SetFeature
    EXPECT_TRUE(rig.read(kModeStatusAddress, response));
    EXPECT_EQ(rig.device.faults[0].matched, 3u);
    EXPECT_EQ(rig.device.hid.get_feature_calls, 2u);
}

// ---- request log -------------------------------------------------------------------------------

TEST(SimHidDevice, RequestLogRecordsKindsAndAddresses) {
    Rig rig;
    rig.mode(kModeChangeEnterCode);
    rig.erase();
    rig.prepare_programming();
    const std::size_t first = rig.device.request_log.size();
    ASSERT_TRUE(rig.write(0x80003D, 1));
    Bytes response;
    ASSERT_TRUE(rig.read(kModeStatusAddress, response));
    ASSERT_TRUE(rig.write_block(0x80, Bytes(kBlock, 0)));
    ASSERT_TRUE(rig.read_block(kMainMemoryBase + 0x80, response));
    ASSERT_EQ(rig.device.request_log.size(), first + 4);
    const RequestKind kinds[] = {RequestKind::Write, RequestKind::Read, RequestKind::WriteBlock,
                                 RequestKind::ReadBlock};
    const std::uint32_t addresses[] = {0x80003D, kModeStatusAddress, 0x80, kMainMemoryBase + 0x80};
    const std::size_t collections[] = {kControl, kControl, kData, kData};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(rig.device.request_log[first + i].kind, kinds[i]);
        EXPECT_EQ(rig.device.request_log[first + i].address, addresses[i]);
        EXPECT_EQ(rig.device.request_log[first + i].collection, collections[i]);
    }
}

TEST(SimHidDevice, LastRequestsKeepTheRawBytesOldestFirst) {
    Rig rig;
    for (std::uint32_t i = 0; i < kRawRequestHistory + 3; ++i) {
        ASSERT_TRUE(rig.write(0x200000 + i, static_cast<std::uint8_t>(i)));
    }
    const auto last = device_last_requests(rig.device, 2);
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[1],
              make_request(kControlId, kCommandWriteRegister, 0x200000 + kRawRequestHistory + 2,
                           {static_cast<std::uint8_t>(kRawRequestHistory + 2)}, 8));
    EXPECT_EQ(last[0][kAddressByte], static_cast<std::uint8_t>(kRawRequestHistory + 1));
    EXPECT_EQ(device_last_requests(rig.device, 1000).size(), kRawRequestHistory);
}

} // namespace
