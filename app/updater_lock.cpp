#include "app/updater_lock.h"

#include "device/debug_output.h"

namespace norvane {

namespace {

constexpr const wchar_t* kStep = L"_take_updater_lock";
constexpr const wchar_t* kDebugNoNamespaces =
    L"_take_updater_lock: no private namespaces here; the lock is Global\\NorvaneFwUpdater";
// A namespace whose last holder leaves between our create and our open is created afresh.
constexpr int kNamespaceAttempts = 3;
// Never destroyed on close: the namespace lives while any run holds it open.
constexpr ULONG kKeepNamespace = 0;

// The private-namespace calls, looked up at run time: Wine has none of them but
// CreateBoundaryDescriptorW, and imported they would end the process at load.
struct NamespaceCalls {
    decltype(&CreateBoundaryDescriptorW) create_boundary;
    decltype(&AddSIDToBoundaryDescriptor) add_sid;
    decltype(&DeleteBoundaryDescriptor) delete_boundary;
    decltype(&CreatePrivateNamespaceW) create_namespace;
    decltype(&OpenPrivateNamespaceW) open_namespace;
    decltype(&ClosePrivateNamespace) close_namespace;
};

bool find_namespace_calls(NamespaceCalls& calls) {
    using platform::kernel32_function;
    calls.create_boundary =
        kernel32_function<decltype(calls.create_boundary)>("CreateBoundaryDescriptorW");
    calls.add_sid = kernel32_function<decltype(calls.add_sid)>("AddSIDToBoundaryDescriptor");
    calls.delete_boundary =
        kernel32_function<decltype(calls.delete_boundary)>("DeleteBoundaryDescriptor");
    calls.create_namespace =
        kernel32_function<decltype(calls.create_namespace)>("CreatePrivateNamespaceW");
    calls.open_namespace =
        kernel32_function<decltype(calls.open_namespace)>("OpenPrivateNamespaceW");
    calls.close_namespace =
        kernel32_function<decltype(calls.close_namespace)>("ClosePrivateNamespace");
    return calls.create_boundary != nullptr && calls.add_sid != nullptr &&
           calls.delete_boundary != nullptr && calls.create_namespace != nullptr &&
           calls.open_namespace != nullptr && calls.close_namespace != nullptr;
}

// Creates or opens the mutex and takes it without waiting; WAIT_ABANDONED counts as taken.
bool take_mutex(const wchar_t* name, SECURITY_ATTRIBUTES* security) {
    HANDLE lock = CreateMutexW(security, FALSE, name);
    if (lock == nullptr) {
        _debug_failure(kStep, name, GetLastError());
        return false;
    }
    const DWORD waited = WaitForSingleObject(lock, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(lock);
        return false;
    }
    g_updater_lock.mutex = lock;
    return true;
}

// A boundary that only a token holding the Administrators group matches.
HANDLE make_boundary(const NamespaceCalls& calls) {
    HANDLE boundary = calls.create_boundary(kUpdaterBoundaryName, 0);
    if (boundary == nullptr) {
        return nullptr;
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
        !calls.add_sid(&boundary, administrators)) {
        calls.delete_boundary(boundary);
        return nullptr;
    }
    return boundary;
}

HANDLE enter_namespace(const NamespaceCalls& calls, HANDLE boundary,
                       SECURITY_ATTRIBUTES& security) {
    for (int attempt = 0; attempt < kNamespaceAttempts; ++attempt) {
        HANDLE space = calls.create_namespace(&security, boundary, kUpdaterNamespaceAlias);
        if (space != nullptr) {
            return space;
        }
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            space = calls.open_namespace(boundary, kUpdaterNamespaceAlias);
            if (space != nullptr) {
                return space;
            }
        }
    }
    _debug_failure(kStep, kUpdaterNamespaceAlias, GetLastError());
    return nullptr;
}

bool take_lock_in_namespace(const NamespaceCalls& calls) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kAdministratorsAndSystemOnly, SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    HANDLE boundary = make_boundary(calls);
    if (boundary != nullptr) {
        g_updater_lock.space = enter_namespace(calls, boundary, security);
        calls.delete_boundary(boundary); // the namespace keeps what it needs of it
    }
    const bool taken =
        g_updater_lock.space != nullptr && take_mutex(kUpdaterLockInNamespace, &security);
    LocalFree(descriptor);
    if (!taken && g_updater_lock.space != nullptr) {
        calls.close_namespace(g_updater_lock.space, kKeepNamespace);
        g_updater_lock.space = nullptr;
    }
    return taken;
}

} // namespace

bool _take_updater_lock() {
    NamespaceCalls calls{};
    if (find_namespace_calls(calls)) {
        return take_lock_in_namespace(calls);
    }
    OutputDebugStringW(kDebugNoNamespaces);
    return take_mutex(kUpdaterLockName, nullptr);
}

void _release_updater_lock() {
    if (g_updater_lock.mutex != nullptr) {
        ReleaseMutex(g_updater_lock.mutex);
        CloseHandle(g_updater_lock.mutex);
    }
    NamespaceCalls calls{};
    if (g_updater_lock.space != nullptr && find_namespace_calls(calls)) {
        calls.close_namespace(g_updater_lock.space, kKeepNamespace);
    }
    g_updater_lock = UpdaterLock{};
}

} // namespace norvane
