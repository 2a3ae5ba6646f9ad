// The simulated PC behind the host stand-ins: its clock, power source, the answers a user would
// give, the device tree and the transcript of everything the program showed. One process-wide
// record, set up by fwsim from a scenario file or by a test, and read by the stand-ins.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/hid_device.h"
#include "sim/windows_clock.h"
#include "ui/resource_ids.h"

namespace sim {

// Who holds a named mutex of the system: nobody, this program, another process, or nobody since
// its holder ended without giving it back (the next waiter gets it as abandoned).
enum class MutexHolder { Nobody, ThisProcess, OtherProcess, Abandoned };

struct NamedMutex {
    MutexHolder holder = MutexHolder::Nobody;
    int handles = 0; // this program's open handles on it
};

// The name under which updaters keep one another out (the lock another updater holds).
inline const std::wstring kUpdaterLockName = L"Global\\NorvaneFwUpdater";

// A session end the system starts at a virtual time: every top-level window of the program is
// asked (WM_QUERYENDSESSION) and the session ends when all agree. Forced, it ends whatever they
// answer, as when the user chooses to shut down anyway.
struct SessionEnd {
    std::uint64_t at_ms = 0;
    bool forced = false;
    bool delivered = false;
};

// One thing the program did to keep the machine and its session up ("power-request on", "power-
// request off", "shutdown-block on REASON", "shutdown-block off", "session-end refused", ...), with
// the virtual time and the number of requests in all devices' request logs by then.
struct GuardEvent {
    std::string what;
    std::uint64_t at_ms = 0;
    std::uint64_t requests_sent = 0;
};

// One registry value as the program wrote it: its type (REG_SZ 1, REG_DWORD 4) and its bytes.
struct RegistryValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

// Start: press Start Update once. StartTwice: press it, then send its command once more (a second
// click, or a command posted by another program). Close: close without starting. Fail: the dialog
// cannot be created (DialogBoxParamW answers -1).
enum class DialogAction { Start, Close, StartTwice, Fail };

// A message another program or the user sends the update dialog while it is up: WM_NULL (what
// Windows sends to see whether a window still answers), the close box (WM_CLOSE), the Start Update
// command again, the Escape key, Alt+F4 / the system menu's Close (WM_SYSCOMMAND SC_CLOSE), or a
// WM_QUIT posted to the dialog's thread.
enum class DialogMessageKind { Null, Close, Start, Escape, SystemClose, Quit };

struct ScriptedMessage {
    std::uint64_t at_ms = 0; // virtual time at which it is posted
    DialogMessageKind kind = DialogMessageKind::Null;
    // Filled in when the dialog's thread takes it from its queue.
    std::optional<std::uint64_t> dispatched_ms;
    bool close_box_enabled_then = true;
};

struct LocalTime {
    int year = 2024;
    int month = 3;
    int day = 5;
    int hour = 9;
    int minute = 7;
    int second = 2;
};

struct SimulatedPc {
    // Clock: local time at start plus the virtual time that the program's waits let pass, in units
    // of 100 ns (kTimeUnitsPerMs).
    LocalTime start_time;
    std::uint64_t virtual_time = 0;
    std::uint64_t sleep_calls = 0;
    bool real_time = false; // Sleep also really sleeps
    // When the program's waits end: exactly when due, unless the scenario gives a Windows clock
    // with a tick; and the timer resolution the program asked for.
    WindowsClock clock;

    // Power source.
    bool power_call_fails = false;
    std::uint8_t ac_line_status = 1;

    // The user: the answer to the update question and what to do with the update dialog.
    bool answer_yes = true;
    bool question_box_fails = false; // MessageBoxW answers 0 for the Yes/No box
    DialogAction dialog = DialogAction::Start;
    // Messages posted to the dialog at given virtual times, in order, and the state of its close
    // box (the system menu's Close item).
    std::vector<ScriptedMessage> dialog_messages;
    bool close_box_enabled = true;

    // The program's version block as GetFileVersionInfoW serves it, by default what the resource
    // script puts there; an absent value is missing.
    bool version_block_present = true;
    std::optional<std::wstring> product_name = NORVANE_PRODUCT_NAME_W;
    std::optional<std::wstring> product_version = NORVANE_VERSION_TEXT_W;

    // Device tree: HID devices and the hardware IDs of mouse-interface devices, in enumeration
    // order.
    std::vector<SimDevice> devices;
    std::vector<std::vector<std::string>> mouse_devices;

    // The system around the run: named mutexes (another updater's lock among them), whether the
    // window station is visible (it is not for a service or SYSTEM in session 0), a session end.
    std::map<std::wstring, NamedMutex> named_mutexes;
    bool window_station_visible = true;
    std::optional<SessionEnd> session_end;
    // The registry under HKEY_LOCAL_MACHINE: values by key path (lower case) and value name; when
    // read-only, every write is refused (as for a program without administrator rights).
    std::map<std::wstring, std::map<std::wstring, RegistryValue>> registry;
    bool registry_read_only = false;
    // Power requests set and shutdown block reasons registered now, and their history.
    int power_requests_set = 0;
    int shutdown_blocks = 0;
    std::vector<GuardEvent> guard_events;

    // Every event the program showed, one transcript line each, in order.
    std::vector<std::string> transcript;
    // Called with each new transcript line as it happens (fwsim prints it at once).
    std::function<void(const std::string&)> on_event;
};

// The simulated PC of this process.
SimulatedPc& pc();

// A fresh simulated PC with every default (also forgets open handles).
void reset_pc();

// Appends one line to the transcript and hands it to on_event.
void record_event(const std::string& line);

// Virtual time since the simulated PC started, in units of 100 ns (kTimeUnitsPerMs).
std::uint64_t now();
// The same in whole milliseconds.
std::uint64_t now_ms();

// A value under HKEY_LOCAL_MACHINE, or null when the key or the value is missing.
const RegistryValue* registry_value(const std::wstring& key, const std::wstring& name);
// The key path as the registry compares it (lower case).
std::wstring registry_key_path(std::wstring key);

// Appends one guard event, stamped with the time and the requests sent so far.
void record_guard_event(const std::string& what);

} // namespace sim
