// A simulated HID device: its attributes, its top-level collections and the touchpad controller
// behind them, with fault rules applied to each feature-report call. Portable C++ (no Win32), so
// the host stand-in and the virtual controller driver of the Wine tests share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/controller.h"

namespace sim {

// Who else holds the collection open. On a real PC the touchpad's driver holds every collection of
// the touchpad open for reading and writing and shares neither: another open that asks for read
// or write access fails, one with access 0 (attributes and feature reports only) does not.
// Shared: held for reading and writing with read and write sharing. None: nobody holds it.
enum class HeldOpen { None, Exclusive, Shared };

struct SimCollection {
    std::uint16_t usage_page = 0;
    std::uint8_t report_id = 0;
    std::uint16_t report_count = 0;
    std::uint16_t feature_value_caps = 1;
    // What the collection lets through; unset means by usage page (0xFF01 control, 0xFF02 data).
    std::optional<CollectionKind> accepts;
    HeldOpen held_open = HeldOpen::Exclusive;
};

// The four kinds of request, as fault rules and the request log name them.
enum class RequestKind { Write, Read, WriteBlock, ReadBlock };

enum class FaultTarget { Write, Read, WriteBlock, ReadBlock, Any };

enum class FaultEffect {
    FailSet,     // HidD_SetFeature fails; the request is not delivered
    FailGet,     // HidD_GetFeature fails; the request stays pending
    Status,      // the response carries `byte` as its status
    Value,       // the response carries `byte` as its first data byte
    Corrupt,     // one data byte of the response is changed (the middle one of a block)
    CorruptLast, // the last data byte of the response is changed
    Ignore,      // the request is acknowledged but never reaches the controller
    Unplug,      // the device is gone from this call on
};

// One fault rule. FailSet, Ignore and Unplug act on HidD_SetFeature calls, matched against the
// request sent; the others act on HidD_GetFeature calls, matched against the collection's pending
// read request. Each rule counts every matching call of its side: the first `skip` go through, the
// next `times` (all when unset) are affected. When several rules are due for one call, the first
// in the list acts.
struct FaultRule {
    FaultTarget on = FaultTarget::Any;
    std::optional<std::uint32_t> address; // the request's address field, exactly
    std::uint32_t skip = 0;
    std::optional<std::uint32_t> times;
    FaultEffect effect = FaultEffect::FailSet;
    std::uint8_t byte = 0; // Status and Value
    // Run-time counts.
    std::uint32_t matched = 0;
    std::uint32_t applied = 0;
};

// Counters by HID call kind.
struct HidCallStats {
    std::uint64_t set_feature_calls = 0;
    std::uint64_t set_feature_failures = 0;
    std::uint64_t get_feature_calls = 0;
    std::uint64_t get_feature_failures = 0;
    std::uint64_t faults_applied = 0;
};

// One well-formed request sent to the device, in order.
struct RequestRecord {
    std::size_t collection = 0;
    RequestKind kind = RequestKind::Write;
    std::uint32_t address = 0;
    bool delivered = false; // false when a fault kept it from the controller
};

constexpr std::size_t kRawRequestHistory = 64;

// One feature-report call on the device, as the wire trace lists it: the request as sent
// (HidD_SetFeature) or the response as fetched (HidD_GetFeature), at the virtual time of the call.
struct WireRecord {
    std::uint64_t time = 0; // in 100 ns units (kTimeUnitsPerMs)
    bool set = true;        // HidD_SetFeature, else HidD_GetFeature
    bool ok = true;         // the call succeeded
    std::vector<std::uint8_t> bytes;
};

// A pending read request of one collection, waiting for its HidD_GetFeature.
struct PendingRead {
    bool present = false;
    Request request;
};

// What a hostile controller makes of one well-formed HidD_SetFeature request.
enum class HostileVerdict {
    Pass, // handled as usual
    Fail, // the call fails and the request does not reach the controller
    Drop, // the call succeeds but the request does not reach the controller
};

// A controller that answers anything: when set, these have the last word on the device's feature
// calls. on_set is asked for each well-formed request that no fault rule acted on. on_get is
// asked for each HidD_GetFeature whose buffer fits the collection, after the controller answered
// the pending read (`answered` true) or, with no read pending, with the buffer zeroed past the
// report ID; it may rewrite any byte of the report, and its result is whether the call succeeds.
// Calls that the device fails before (unplugged, call-index knobs) never reach them.
struct HostileController {
    std::function<HostileVerdict(const std::uint8_t* report, std::size_t length)> on_set;
    std::function<bool(std::uint8_t* report, std::size_t length, bool answered)> on_get;
};

struct SimDevice {
    std::uint16_t vendor_id = 0x044E;
    std::uint16_t product_id = 0;
    std::uint16_t version_number = 0x0100;
    std::vector<SimCollection> collections;
    Controller controller;
    bool unplugged = false;
    // Its entries of the HID interface list cannot be enumerated: SetupDiEnumDeviceInterfaces
    // fails at their indexes with an error other than "no more items".
    bool enumeration_fails = false;
    std::vector<FaultRule> faults;
    HidCallStats hid;
    std::vector<RequestRecord> request_log;
    std::deque<std::vector<std::uint8_t>> raw_requests; // the last kRawRequestHistory reports
    bool record_wire = false;                           // keep every call in `wire`
    std::vector<WireRecord> wire;
    std::vector<PendingRead> pending; // by collection, grown on demand
    // Call-index knobs, counted over every HID call made on the device's handles
    // (HidD_GetAttributes, HidD_GetPreparsedData, HidD_SetFeature, HidD_GetFeature), the first
    // numbered 0: call `fail_call_index` fails (nothing reaches the controller; a pending read
    // stays pending), and from call `unplug_at_call` on the device is unplugged.
    std::optional<std::uint64_t> fail_call_index;
    std::optional<std::uint64_t> unplug_at_call;
    std::uint64_t hid_call_count = 0; // calls counted so far
    HostileController hostile;
};

// The kind of a collection: its `accepts` override, else by usage page.
CollectionKind collection_kind(const SimCollection& collection);

// The kind of a decoded request.
RequestKind request_kind(const Request& request);

// Counts one HID call on the device's handles and applies the call-index knobs. True when the call
// is to fail: it is call `fail_call_index`, or the device is unplugged from this call on (then
// `unplugged` is set as well).
bool device_count_call(SimDevice& device);

// One feature report sent to a collection (HidD_SetFeature). False when the call fails.
bool device_set_feature(SimDevice& device, std::size_t collection, const std::uint8_t* report,
                        std::size_t length, std::uint64_t now);
// One feature report fetched from a collection (HidD_GetFeature). False when the call fails.
bool device_get_feature(SimDevice& device, std::size_t collection, std::uint8_t* report,
                        std::size_t length, std::uint64_t now);

// The raw bytes of the last `count` requests sent to the device (refused ones included), oldest
// first; fewer when fewer were kept.
std::vector<std::vector<std::uint8_t>> device_last_requests(const SimDevice& device,
                                                            std::size_t count);

// The state a device is left in, as one line:
//   state N main=image|blank|other mode=0xNN access=on|off handles=N
// N is the device's place in enumeration order (from 0); main=image when main memory equals
// `image_main` (the folder image's main section; null when there is none), blank when it is all
// 0xFF; mode the value the mode status register reads at `now`; access on when the enable
// register 0xFF8004..7 holds 1; handles those the caller counts open on the device.
std::string device_state_line(std::size_t index, const SimDevice& device,
                              const std::vector<std::uint8_t>* image_main, std::uint64_t now,
                              std::size_t handles);

} // namespace sim
