// kernel32 stand-ins for what a process holds beyond files and devices: named mutexes and private
// namespaces, shared with the other processes of the simulated PC (another updater may hold one,
// or have left it abandoned; a standard user may squat on a name), power requests, the process's
// session and mitigation policies, the functions a program looks up at run time, and the end of
// the process (which also ends its timer resolution requests).
#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "host/clock.h"
#include "host/handles.h"
#include "host/process.h"
#include "sim/simulated_pc.h"
#include "sim/transcript_text.h"

namespace {

constexpr DWORD kThisProcessId = 4242;
constexpr wchar_t kNamespaceSeparator = L'\\';
constexpr DWORD kEnforceRedirectionTrust = 0x1;

sim::NamedMutex* mutex_of(HANDLE handle) {
    const HandleEntry* entry = host_handle_get(handle, HandleKind::Mutex);
    if (entry == nullptr) {
        return nullptr;
    }
    auto found = sim::pc().named_mutexes.find(entry->path);
    return found == sim::pc().named_mutexes.end() ? nullptr : &found->second;
}

const char* power_request_name(POWER_REQUEST_TYPE type) {
    switch (type) {
    case PowerRequestDisplayRequired:
        return "display";
    case PowerRequestSystemRequired:
        return "system";
    case PowerRequestAwayModeRequired:
        return "away-mode";
    case PowerRequestExecutionRequired:
        return "execution";
    }
    return "unknown";
}

// What an object created with `security` admits: its descriptor's allowed SIDs, or without one
// the creator's default access list (its own account and SYSTEM).
bool access_list_of(const SECURITY_ATTRIBUTES* security, std::vector<std::string>& allowed) {
    if (security != nullptr && security->lpSecurityDescriptor != nullptr) {
        return host_descriptor_allowed(security->lpSecurityDescriptor, allowed);
    }
    allowed = {sim::account_sids(sim::pc().account).front(), sim::kSidSystem};
    return true;
}

// The system-wide name of a mutex: "alias\\name" inside a private namespace this process has
// open under that alias; any other name as it is. False for an alias it has not opened.
bool resolve_object_name(const std::wstring& name, std::wstring& resolved) {
    const std::size_t separator = name.find(kNamespaceSeparator);
    const std::wstring prefix = name.substr(0, separator == std::wstring::npos ? 0 : separator);
    if (prefix.empty() || prefix == L"Global" || prefix == L"Local" || prefix == L"Session") {
        resolved = name;
        return true;
    }
    for (const HandleEntry* entry : host_handles_all()) {
        if (entry->kind == HandleKind::Namespace && entry->names.front() == prefix) {
            resolved = entry->path + name.substr(separator);
            return true;
        }
    }
    return false;
}

bool token_holds(const std::vector<std::string>& sids) {
    const std::vector<std::string> token = sim::account_sids(sim::pc().account);
    return std::all_of(sids.begin(), sids.end(), [&](const std::string& sid) {
        return std::find(token.begin(), token.end(), sid) != token.end();
    });
}

HANDLE namespace_handle(const std::wstring& key, const wchar_t* alias) {
    ++sim::pc().private_namespaces[key].handles;
    HandleEntry entry{};
    entry.kind = HandleKind::Namespace;
    entry.path = key;
    entry.names = {alias};
    return host_handle_new(entry);
}

void forget_namespace_if_unused(const std::wstring& key) {
    auto found = sim::pc().private_namespaces.find(key);
    if (found != sim::pc().private_namespaces.end() && found->second.handles == 0 &&
        !found->second.held_elsewhere) {
        sim::pc().private_namespaces.erase(found);
    }
}

using KernelFunctions = std::map<std::string, FARPROC>;

template <typename Function> FARPROC address_of(Function* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// The kernel32 functions the program looks up by name, and whether this Windows has each.
const KernelFunctions& looked_up_functions() {
    static const KernelFunctions functions = {
        {"CreateBoundaryDescriptorW", address_of(&CreateBoundaryDescriptorW)},
        {"AddSIDToBoundaryDescriptor", address_of(&AddSIDToBoundaryDescriptor)},
        {"DeleteBoundaryDescriptor", address_of(&DeleteBoundaryDescriptor)},
        {"CreatePrivateNamespaceW", address_of(&CreatePrivateNamespaceW)},
        {"OpenPrivateNamespaceW", address_of(&OpenPrivateNamespaceW)},
        {"ClosePrivateNamespace", address_of(&ClosePrivateNamespace)},
        {"SetProcessMitigationPolicy", address_of(&SetProcessMitigationPolicy)},
        {"SetProcessInformation", address_of(&SetProcessInformation)},
    };
    return functions;
}

// Wine 8 has CreateBoundaryDescriptorW but none of the other private-namespace calls.
bool missing_here(const std::string& name) {
    static const char* const kNamespaceCalls[] = {
        "AddSIDToBoundaryDescriptor", "DeleteBoundaryDescriptor", "CreatePrivateNamespaceW",
        "OpenPrivateNamespaceW", "ClosePrivateNamespace"};
    return !sim::pc().private_namespaces_supported &&
           std::find(std::begin(kNamespaceCalls), std::end(kNamespaceCalls), name) !=
               std::end(kNamespaceCalls);
}

// What this process holds of the named objects passes on: the mutexes it holds to `holder`, its
// handles on mutexes and namespaces are gone, and a namespace it had open stays only while
// `still_held` (another process takes it over) or another process holds it.
void pass_on_named_objects(sim::MutexHolder holder, bool still_held) {
    sim::SimulatedPc& machine = sim::pc();
    for (auto& [name, mutex] : machine.named_mutexes) {
        if (mutex.holder == sim::MutexHolder::ThisProcess) {
            mutex.holder = holder;
        }
        mutex.handles = 0;
    }
    for (auto& [key, space] : machine.private_namespaces) {
        space.held_elsewhere = space.held_elsewhere || (still_held && space.handles > 0);
        space.handles = 0;
    }
    std::erase_if(machine.private_namespaces,
                  [](const auto& item) { return !item.second.held_elsewhere; });
}

} // namespace

void host_hand_over_to_another_process() {
    pass_on_named_objects(sim::MutexHolder::OtherProcess, true);
    for (const HandleEntry* entry : host_handles_all()) {
        if (entry->kind == HandleKind::Mutex || entry->kind == HandleKind::Namespace) {
            host_handle_release(entry);
        }
    }
}

void host_other_process_releases() {
    for (auto& [name, mutex] : sim::pc().named_mutexes) {
        if (mutex.holder == sim::MutexHolder::OtherProcess) {
            mutex.holder = sim::MutexHolder::Nobody;
        }
    }
}

void host_close_kernel_object(const HandleEntry& entry) {
    if (entry.kind == HandleKind::Namespace) {
        auto found = sim::pc().private_namespaces.find(entry.path);
        if (found != sim::pc().private_namespaces.end() && found->second.handles > 0) {
            --found->second.handles;
        }
        forget_namespace_if_unused(entry.path);
    } else if (entry.kind == HandleKind::Mutex) {
        auto found = sim::pc().named_mutexes.find(entry.path);
        if (found != sim::pc().named_mutexes.end() && found->second.handles > 0) {
            --found->second.handles;
        }
    } else if (entry.kind == HandleKind::PowerRequest && entry.requests_set > 0) {
        sim::pc().power_requests_set -= entry.requests_set; // closing a request ends it
        sim::record_guard_event("power-request closed while set");
    }
}

void host_end_process() {
    pass_on_named_objects(sim::MutexHolder::Abandoned, false);
    sim::SimulatedPc& machine = sim::pc();
    machine.power_requests_set = 0;
    machine.shutdown_blocks = 0;
    machine.clock.raised_periods_ms.clear();
    sim::record_guard_event("process ended");
}

int host_run_entry_point(const std::wstring& arguments) {
    std::wstring copy = arguments;
    try {
        return wWinMain(nullptr, nullptr, copy.data(), 1);
    } catch (const HostProcessExit& exit) {
        return static_cast<int>(exit.code);
    }
}

extern "C" {

// Named mutexes only (the program names its one), in Global\ or in a private namespace the
// program has open. An existing name opens the same mutex and says so with ERROR_ALREADY_EXISTS,
// when its access list admits this program's account (else ERROR_ACCESS_DENIED); a new one takes
// the access list of `security`.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initial_owner, LPCWSTR name) {
    std::wstring resolved;
    std::vector<std::string> allowed;
    if (name == nullptr || *name == L'\0' || initial_owner || !access_list_of(security, allowed)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!resolve_object_name(name, resolved)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    auto [found, created] = sim::pc().named_mutexes.try_emplace(resolved);
    if (created) {
        found->second.allowed = allowed;
    } else if (!sim::account_allowed(sim::pc().account, found->second.allowed)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    ++found->second.handles;
    HandleEntry entry{};
    entry.kind = HandleKind::Mutex;
    entry.path = resolved;
    HANDLE handle = host_handle_new(entry);
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

HANDLE CreateBoundaryDescriptorW(LPCWSTR name, ULONG flags) {
    if (name == nullptr || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HandleEntry entry{};
    entry.kind = HandleKind::Boundary;
    entry.path = name;
    return host_handle_new(entry);
}

BOOL AddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid) {
    constexpr std::size_t kHeader = 8;
    constexpr std::size_t kAuthority = 7; // the low byte of the 48-bit identifier authority
    HandleEntry* entry =
        boundary == nullptr ? nullptr : host_handle_get(*boundary, HandleKind::Boundary);
    if (entry == nullptr || sid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* bytes = static_cast<const BYTE*>(sid);
    std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(bytes[kAuthority]);
    for (BYTE i = 0; i < bytes[1]; ++i) {
        DWORD value = 0;
        std::memcpy(&value, bytes + kHeader + 4 * i, sizeof(value));
        text += "-" + std::to_string(value);
    }
    entry->sids.push_back(text);
    return TRUE;
}

void DeleteBoundaryDescriptor(HANDLE boundary) {
    if (host_handle_get(boundary, HandleKind::Boundary) != nullptr) {
        host_handle_release(boundary);
    }
}

// A namespace is its boundary and alias: only a token holding every SID of the boundary may create
// or open it; an existing one is ERROR_ALREADY_EXISTS to a create, and opens for an account its
// access list admits.
HANDLE CreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES security, LPVOID boundary, LPCWSTR alias) {
    const HandleEntry* entry = host_handle_get(boundary, HandleKind::Boundary);
    std::vector<std::string> allowed;
    if (entry == nullptr || alias == nullptr || !access_list_of(security, allowed)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!token_holds(entry->sids)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const std::wstring key = sim::namespace_key(entry->path, entry->sids, alias);
    if (sim::pc().private_namespaces.contains(key)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return nullptr;
    }
    sim::pc().private_namespaces[key].allowed = allowed;
    return namespace_handle(key, alias);
}

HANDLE OpenPrivateNamespaceW(LPVOID boundary, LPCWSTR alias) {
    const HandleEntry* entry = host_handle_get(boundary, HandleKind::Boundary);
    if (entry == nullptr || alias == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::wstring key = sim::namespace_key(entry->path, entry->sids, alias);
    const auto found = sim::pc().private_namespaces.find(key);
    if (found == sim::pc().private_namespaces.end()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    if (!token_holds(entry->sids) ||
        !sim::account_allowed(sim::pc().account, found->second.allowed)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return namespace_handle(key, alias);
}

// Only this call closes a namespace handle (CloseHandle refuses it).
BOOLEAN ClosePrivateNamespace(HANDLE space, ULONG /*flags*/) {
    const HandleEntry* entry = host_handle_get(space, HandleKind::Namespace);
    if (entry == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    host_close_kernel_object(*entry);
    host_handle_release(space);
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    const auto found =
        name == nullptr ? looked_up_functions().end() : looked_up_functions().find(name);
    if (module != GetModuleHandleW(L"kernel32.dll") || found == looked_up_functions().end() ||
        missing_here(found->first)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return found->second;
}

DWORD GetCurrentProcessId() {
    return kThisProcessId;
}

BOOL ProcessIdToSessionId(DWORD process_id, DWORD* session_id) {
    if (process_id != kThisProcessId || session_id == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *session_id = sim::pc().session_id;
    return TRUE;
}

// The redirection trust policy only, which Windows before 10 22H2 refuses.
BOOL SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY policy, PVOID buffer, SIZE_T length) {
    sim::SimulatedPc& machine = sim::pc();
    if (!machine.redirection_trust_supported || policy != ProcessRedirectionTrustPolicy ||
        buffer == nullptr || length != sizeof(PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* trust = static_cast<const PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY*>(buffer);
    if ((trust->Flags & kEnforceRedirectionTrust) != 0 &&
        !machine.redirection_trust_after_file_calls.has_value()) {
        machine.redirection_trust_after_file_calls = machine.file_calls;
    }
    return TRUE;
}

// Mutexes without waiting (the program asks whether it can have one now), and timers.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    if (host_handle_get(object, HandleKind::Timer) != nullptr) {
        return host_wait_for_timer(object, milliseconds);
    }
    sim::NamedMutex* mutex = mutex_of(object);
    if (mutex == nullptr || milliseconds != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    switch (mutex->holder) {
    case sim::MutexHolder::OtherProcess:
        return WAIT_TIMEOUT;
    case sim::MutexHolder::Abandoned:
        mutex->holder = sim::MutexHolder::ThisProcess;
        return WAIT_ABANDONED;
    case sim::MutexHolder::Nobody:
    case sim::MutexHolder::ThisProcess:
        mutex->holder = sim::MutexHolder::ThisProcess;
        return WAIT_OBJECT_0;
    }
    return WAIT_FAILED;
}

BOOL ReleaseMutex(HANDLE mutex) {
    sim::NamedMutex* held = mutex_of(mutex);
    if (held == nullptr || held->holder != sim::MutexHolder::ThisProcess) {
        SetLastError(held == nullptr ? ERROR_INVALID_HANDLE : ERROR_NOT_OWNER);
        return FALSE;
    }
    held->holder = sim::MutexHolder::Nobody;
    return TRUE;
}

HANDLE PowerCreateRequest(PREASON_CONTEXT context) {
    if (context == nullptr || context->Version != POWER_REQUEST_CONTEXT_VERSION ||
        context->Flags != POWER_REQUEST_CONTEXT_SIMPLE_STRING ||
        context->Reason.SimpleReasonString == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry entry{};
    entry.kind = HandleKind::PowerRequest;
    entry.path = context->Reason.SimpleReasonString;
    return host_handle_new(entry);
}

BOOL PowerSetRequest(HANDLE request, POWER_REQUEST_TYPE type) {
    HandleEntry* entry = host_handle_get(request, HandleKind::PowerRequest);
    if (entry == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ++entry->requests_set;
    ++sim::pc().power_requests_set;
    sim::record_guard_event(std::string("power-request on ") + power_request_name(type) + " " +
                            sim::transcript_text(entry->path.c_str()));
    return TRUE;
}

BOOL PowerClearRequest(HANDLE request, POWER_REQUEST_TYPE type) {
    HandleEntry* entry = host_handle_get(request, HandleKind::PowerRequest);
    if (entry == nullptr || entry->requests_set == 0) {
        SetLastError(entry == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    --entry->requests_set;
    --sim::pc().power_requests_set;
    sim::record_guard_event(std::string("power-request off ") + power_request_name(type));
    return TRUE;
}

void ExitProcess(UINT exit_code) {
    host_end_process();
    throw HostProcessExit{exit_code};
}

} // extern "C"
