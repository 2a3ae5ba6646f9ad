// The simulated PC behind the host stand-ins: its clock, power source, the answers a user would
// give, the device tree and the transcript of everything the program showed. One process-wide
// record, set up by fwsim from a scenario file or by a test, and read by the stand-ins.
#pragma once

#include <algorithm>
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

// The accounts a process runs under. Their tokens hold these SIDs: an elevated administrator and
// SYSTEM hold the Administrators group (S-1-5-32-544); a standard user holds it only for deny,
// which no boundary or access list counts.
enum class Account { Administrator, System, StandardUser };
inline constexpr const char* kSidEveryone = "S-1-1-0";
inline constexpr const char* kSidSystem = "S-1-5-18";
inline constexpr const char* kSidAdministrators = "S-1-5-32-544";

inline std::vector<std::string> account_sids(Account account) {
    constexpr const char* kAdministratorUser = "S-1-5-21-1000-1000-1000-1001";
    constexpr const char* kStandardUser = "S-1-5-21-1000-1000-1000-1002";
    switch (account) {
    case Account::System:
        return {kSidSystem, kSidAdministrators};
    case Account::StandardUser:
        return {kStandardUser};
    case Account::Administrator:
        break;
    }
    return {kAdministratorUser, kSidAdministrators};
}

// Whether a token of `account` passes an access list of allowed SIDs (empty: everyone).
inline bool account_allowed(Account account, const std::vector<std::string>& allowed) {
    if (allowed.empty() ||
        std::find(allowed.begin(), allowed.end(), kSidEveryone) != allowed.end()) {
        return true;
    }
    for (const std::string& sid : account_sids(account)) {
        if (std::find(allowed.begin(), allowed.end(), sid) != allowed.end()) {
            return true;
        }
    }
    return false;
}

struct NamedMutex {
    MutexHolder holder = MutexHolder::Nobody;
    int handles = 0;                  // this program's open handles on it
    std::vector<std::string> allowed; // the SIDs its access list admits; empty: everyone
};

// A private namespace: its boundary (name and SIDs), alias and access list; alive while a handle
// is open on it, of this program or another.
struct PrivateNamespace {
    std::vector<std::string> allowed;
    int handles = 0;
    bool held_elsewhere = false; // another process holds it open
};

// The name of a private namespace on the simulated PC, and of an object inside it.
inline std::wstring namespace_key(const std::wstring& boundary_name,
                                  const std::vector<std::string>& sids, const std::wstring& alias) {
    std::vector<std::string> sorted = sids;
    std::sort(sorted.begin(), sorted.end());
    std::wstring key = L"namespace " + boundary_name + L" [";
    for (const std::string& sid : sorted) {
        key += std::wstring(sid.begin(), sid.end()) + L";";
    }
    return key + L"] " + alias;
}

// The names under which updaters keep one another out: the mutex in their private namespace (its
// boundary the Administrators group), and the plain name of the namespace of all sessions, which
// a run takes where there are no private namespaces (and a standard user can squat on).
inline std::wstring updater_lock_in_namespace() {
    return namespace_key(L"NorvaneFwUpdater", {kSidAdministrators}, L"NorvaneFwUpdater") +
           L"\\UpdaterLock";
}

inline const std::wstring kUpdaterLockName = L"Global\\NorvaneFwUpdater";

// A session end the system starts at a virtual time: every top-level window of the program is
// asked (WM_QUERYENDSESSION) and the session ends when all agree. Forced, it ends whatever they
// answer, as when the user chooses to shut down anyway.
//
// Forged, it is no session end at all: another program posts WM_ENDSESSION(TRUE) to the program's
// windows without asking first, and the session goes on. With `in_box`, it comes while the program
// shows the message box with that text (a box's own loop answers the session's messages).
struct SessionEnd {
    std::uint64_t at_ms = 0;
    bool forced = false;
    bool forged = false;
    std::string in_box;
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
    std::optional<std::wstring> product_version = NORVANE_WIDEN(NORVANE_VERSION_TEXT);

    // Device tree: HID devices and the hardware IDs of mouse-interface devices, in enumeration
    // order.
    std::vector<SimDevice> devices;
    std::vector<std::vector<std::string>> mouse_devices;

    // The system around the run: the account and session the program runs in, named mutexes and
    // private namespaces (another updater's lock among them; none where private namespaces are
    // missing, as on Wine), whether the window station is visible (it is not for a service or
    // SYSTEM in session 0) and can be asked, a session end, and whether the system takes the
    // redirection trust mitigation.
    Account account = Account::Administrator;
    std::uint32_t session_id = 1;
    std::map<std::wstring, NamedMutex> named_mutexes;
    std::map<std::wstring, PrivateNamespace> private_namespaces;
    bool private_namespaces_supported = true;
    bool window_station_visible = true;
    bool window_station_query_fails = false;
    std::optional<SessionEnd> session_end;
    bool redirection_trust_supported = true;
    // Set when the program turns the mitigation on: then, how many file calls (CreateFileW,
    // CreateDirectoryW) it had made before.
    std::optional<std::uint64_t> redirection_trust_after_file_calls;
    std::uint64_t file_calls = 0;
    // Every folder the program asked CreateDirectoryW for, in order.
    std::vector<std::wstring> folders_asked;
    // Another program that rewrites Setting.ini with this text when the program first reads one
    // of its keys, unless a handle of the program keeps writers out.
    std::optional<std::string> settings_writer;
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
