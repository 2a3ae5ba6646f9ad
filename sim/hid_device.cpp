#include "sim/hid_device.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace sim {

namespace {

constexpr std::uint8_t kCorruptMask = 0xFF; // XORed into the changed data byte

enum class CallSide { Set, Get };

CallSide side_of(FaultEffect effect) {
    switch (effect) {
    case FaultEffect::FailSet:
    case FaultEffect::Ignore:
    case FaultEffect::Unplug:
        return CallSide::Set;
    default:
        return CallSide::Get;
    }
}

bool target_matches(FaultTarget target, RequestKind kind) {
    switch (target) {
    case FaultTarget::Any:
        return true;
    case FaultTarget::Write:
        return kind == RequestKind::Write;
    case FaultTarget::Read:
        return kind == RequestKind::Read;
    case FaultTarget::WriteBlock:
        return kind == RequestKind::WriteBlock;
    case FaultTarget::ReadBlock:
        return kind == RequestKind::ReadBlock;
    }
    return false;
}

bool rule_matches(const FaultRule& rule, const Request& request) {
    return target_matches(rule.on, request_kind(request)) &&
           (!rule.address.has_value() || *rule.address == request.address);
}

bool rule_due(const FaultRule& rule) {
    return rule.matched > rule.skip &&
           (!rule.times.has_value() || rule.matched - rule.skip <= *rule.times);
}

// Counts the call in every matching rule of its side and returns the first rule due to act.
FaultRule* due_rule(SimDevice& device, const Request& request, CallSide side) {
    FaultRule* chosen = nullptr;
    for (FaultRule& rule : device.faults) {
        if (side_of(rule.effect) != side || !rule_matches(rule, request)) {
            continue;
        }
        ++rule.matched;
        if (chosen == nullptr && rule_due(rule)) {
            chosen = &rule;
        }
    }
    if (chosen != nullptr) {
        ++chosen->applied;
        ++device.hid.faults_applied;
    }
    return chosen;
}

PendingRead& pending_of(SimDevice& device, std::size_t collection) {
    if (device.pending.size() < device.collections.size()) {
        device.pending.resize(device.collections.size());
    }
    return device.pending[collection];
}

void keep_raw(SimDevice& device, const std::uint8_t* report, std::size_t length) {
    if (report == nullptr) {
        return;
    }
    device.raw_requests.emplace_back(report, report + length);
    while (device.raw_requests.size() > kRawRequestHistory) {
        device.raw_requests.pop_front();
    }
}

// The call's buffer fits the collection: its exact report length and its report ID in byte 0.
bool frame_fits(const SimDevice& device, std::size_t collection, const std::uint8_t* report,
                std::size_t length) {
    if (collection >= device.collections.size() || report == nullptr) {
        return false;
    }
    const SimCollection& target = device.collections[collection];
    return length == static_cast<std::size_t>(target.report_count) + 1 &&
           report[kReportIdByte] == target.report_id;
}

bool fail_set(SimDevice& device) {
    ++device.hid.set_feature_failures;
    return false;
}

bool fail_get(SimDevice& device) {
    ++device.hid.get_feature_failures;
    return false;
}

void apply_answer_fault(const FaultRule& rule, std::uint8_t* report, std::size_t length) {
    switch (rule.effect) {
    case FaultEffect::Status:
        report[kStatusByte] = rule.byte;
        break;
    case FaultEffect::Value:
        report[kPayloadByte] = rule.byte;
        break;
    case FaultEffect::Corrupt:
        report[kPayloadByte + (length - kFrameOverhead) / 2] ^= kCorruptMask;
        break;
    case FaultEffect::CorruptLast:
        report[kPayloadByte + (length - kFrameOverhead) - 1] ^= kCorruptMask;
        break;
    default:
        break;
    }
}

// What the hostile controller, when there is one, makes of a well-formed request.
HostileVerdict hostile_set_verdict(const SimDevice& device, const std::uint8_t* report,
                                   std::size_t length) {
    return device.hostile.on_set ? device.hostile.on_set(report, length) : HostileVerdict::Pass;
}

// A fetch with no read pending, which only a hostile controller answers.
bool answer_unasked(SimDevice& device, std::uint8_t* report, std::size_t length) {
    ++device.controller.stats.protocol_violations;
    if (!device.hostile.on_get) {
        return fail_get(device);
    }
    std::fill(report + kStatusByte, report + length, std::uint8_t{0});
    return device.hostile.on_get(report, length, false) || fail_get(device);
}

} // namespace

bool device_count_call(SimDevice& device) {
    const std::uint64_t index = device.hid_call_count++;
    if (device.unplug_at_call.has_value() && index >= *device.unplug_at_call) {
        if (!device.unplugged) {
            device.unplugged = true;
            ++device.hid.faults_applied;
        }
        return true;
    }
    if (device.fail_call_index.has_value() && index == *device.fail_call_index) {
        ++device.hid.faults_applied;
        return true;
    }
    return false;
}

CollectionKind collection_kind(const SimCollection& collection) {
    return collection.accepts.value_or(collection_kind_for_page(collection.usage_page));
}

RequestKind request_kind(const Request& request) {
    switch (request.command) {
    case kCommandReadRegister:
        return RequestKind::Read;
    case kCommandWriteBlock:
        return RequestKind::WriteBlock;
    case kCommandReadBlock:
        return RequestKind::ReadBlock;
    default:
        return RequestKind::Write;
    }
}

namespace {

// A failed fetch leaves no response worth listing; a failed send still shows what was sent.
void record_wire(SimDevice& device, bool set, bool ok, const std::uint8_t* report,
                 std::size_t length, std::uint64_t now) {
    if (!device.record_wire) {
        return;
    }
    WireRecord record{now, set, ok, {}};
    if (report != nullptr && (set || ok)) {
        record.bytes.assign(report, report + length);
    }
    device.wire.push_back(std::move(record));
}

bool set_feature(SimDevice& device, std::size_t collection, const std::uint8_t* report,
                 std::size_t length, std::uint64_t now) {
    ++device.hid.set_feature_calls;
    keep_raw(device, report, length);
    if (device_count_call(device) || device.unplugged) {
        return fail_set(device);
    }
    if (!frame_fits(device, collection, report, length)) {
        ++device.controller.stats.refused_requests;
        return fail_set(device);
    }
    Request request;
    const CollectionKind kind = collection_kind(device.collections[collection]);
    if (!controller_accept_request(device.controller, report, length, kind, request)) {
        return fail_set(device);
    }
    const FaultRule* rule = due_rule(device, request, CallSide::Set);
    const HostileVerdict verdict =
        rule == nullptr ? hostile_set_verdict(device, report, length) : HostileVerdict::Pass;
    device.request_log.push_back({collection, request_kind(request), request.address,
                                  rule == nullptr && verdict == HostileVerdict::Pass});
    if (rule != nullptr) {
        if (rule->effect == FaultEffect::Ignore) {
            return true;
        }
        if (rule->effect == FaultEffect::Unplug) {
            device.unplugged = true;
        }
        return fail_set(device);
    }
    if (verdict != HostileVerdict::Pass) {
        return verdict == HostileVerdict::Drop || fail_set(device);
    }
    PendingRead& pending = pending_of(device, collection);
    if (!controller_deliver(device.controller, request, now)) {
        pending.present = false; // out of the protocol's order: refused, nothing to fetch
        return fail_set(device);
    }
    pending.present = request_expects_answer(request);
    pending.request = std::move(request);
    return true;
}

bool get_feature(SimDevice& device, std::size_t collection, std::uint8_t* report,
                 std::size_t length, std::uint64_t now) {
    ++device.hid.get_feature_calls;
    if (device_count_call(device) || device.unplugged) {
        return fail_get(device);
    }
    if (!frame_fits(device, collection, report, length)) {
        ++device.controller.stats.refused_requests;
        return fail_get(device);
    }
    PendingRead& pending = pending_of(device, collection);
    if (!pending.present) {
        return answer_unasked(device, report, length);
    }
    const FaultRule* rule = due_rule(device, pending.request, CallSide::Get);
    if (rule != nullptr && rule->effect == FaultEffect::FailGet) {
        return fail_get(device);
    }
    controller_answer(device.controller, pending.request, report, length, now);
    pending.present = false;
    if (rule != nullptr) {
        apply_answer_fault(*rule, report, length);
    }
    if (device.hostile.on_get && !device.hostile.on_get(report, length, true)) {
        pending.present = true; // a failed fetch leaves the read pending
        return fail_get(device);
    }
    return true;
}

} // namespace

bool device_set_feature(SimDevice& device, std::size_t collection, const std::uint8_t* report,
                        std::size_t length, std::uint64_t now) {
    const bool ok = set_feature(device, collection, report, length, now);
    record_wire(device, true, ok, report, length, now);
    return ok;
}

bool device_get_feature(SimDevice& device, std::size_t collection, std::uint8_t* report,
                        std::size_t length, std::uint64_t now) {
    const bool ok = get_feature(device, collection, report, length, now);
    record_wire(device, false, ok, report, length, now);
    return ok;
}

std::vector<std::vector<std::uint8_t>> device_last_requests(const SimDevice& device,
                                                            std::size_t count) {
    const std::size_t kept = device.raw_requests.size();
    const std::size_t first = count >= kept ? 0 : kept - count;
    return {device.raw_requests.begin() + static_cast<std::ptrdiff_t>(first),
            device.raw_requests.end()};
}

} // namespace sim

namespace sim {

namespace {

constexpr std::size_t kStateLineCapacity = 128;

const char* main_memory_state(const Controller& controller,
                              const std::vector<std::uint8_t>* image_main) {
    if (image_main != nullptr && controller.main_memory == *image_main) {
        return "image";
    }
    const bool blank = std::all_of(controller.main_memory.begin(), controller.main_memory.end(),
                                   [](std::uint8_t byte) { return byte == kErasedByte; });
    return blank ? "blank" : "other";
}

} // namespace

std::string device_state_line(std::size_t index, const SimDevice& device,
                              const std::vector<std::uint8_t>* image_main, std::uint64_t now,
                              std::size_t handles) {
    const Controller& controller = device.controller;
    const bool access = controller_group_value(controller, kEnableRegister) == kRegisterOn;
    char line[kStateLineCapacity];
    std::snprintf(line, sizeof(line), "state %zu main=%s mode=0x%02x access=%s handles=%zu", index,
                  main_memory_state(controller, image_main),
                  static_cast<unsigned>(controller_peek(controller, kModeStatusAddress, now)),
                  access ? "on" : "off", handles);
    return line;
}

} // namespace sim
