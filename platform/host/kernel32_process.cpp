// kernel32 stand-ins for what a process holds beyond files and devices: named mutexes, shared with
// the other processes of the simulated PC (another updater may hold one, or have left it
// abandoned), power requests, and the end of the process (which also ends its timer resolution
// requests).
#include <string>

#include "host/clock.h"
#include "host/handles.h"
#include "host/process.h"
#include "sim/simulated_pc.h"
#include "sim/transcript_text.h"

namespace {

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

} // namespace

void host_close_kernel_object(const HandleEntry& entry) {
    if (entry.kind == HandleKind::Mutex) {
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
    sim::SimulatedPc& machine = sim::pc();
    for (auto& [name, mutex] : machine.named_mutexes) {
        if (mutex.holder == sim::MutexHolder::ThisProcess) {
            mutex.holder = sim::MutexHolder::Abandoned;
        }
        mutex.handles = 0;
    }
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

// Named mutexes only (the program names its one); an existing name opens the same mutex and says
// so with ERROR_ALREADY_EXISTS.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES /*security*/, BOOL initial_owner, LPCWSTR name) {
    if (name == nullptr || *name == L'\0' || initial_owner) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto [found, created] = sim::pc().named_mutexes.try_emplace(name);
    ++found->second.handles;
    HandleEntry entry{};
    entry.kind = HandleKind::Mutex;
    entry.path = name;
    HANDLE handle = host_handle_new(entry);
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
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
