// One updater per computer. Deployment tools do start a package twice (a retry while the first
// run still goes, a logon script beside a pushed package, a double click): a second run that reads
// or writes the controller during a flash makes both fail, or erases it under the first.
#pragma once

#include "platform/win32.h"

namespace norvane {

// The lock is a mutex in a private namespace whose boundary holds the Administrators group: only
// a token with that group (an elevated administrator, SYSTEM) can create or open the namespace,
// and its access list, like the mutex's, admits Administrators and SYSTEM alone. So runs under
// different accounts see one lock, and a standard user can neither take the name first nor lock
// the runs out with a hostile access list, as anyone can with a plain name in Global\.
constexpr const wchar_t* kUpdaterBoundaryName = L"NorvaneFwUpdater";
constexpr const wchar_t* kUpdaterNamespaceAlias = L"NorvaneFwUpdater";
constexpr const wchar_t* kUpdaterLockInNamespace = L"NorvaneFwUpdater\\UpdaterLock";
constexpr const wchar_t* kAdministratorsAndSystemOnly = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";
// Where Windows has no private namespaces (Wine): a mutex in the namespace of all sessions.
constexpr const wchar_t* kUpdaterLockName = L"Global\\NorvaneFwUpdater";

// The lock this run holds: the mutex and the namespace it lives in (null without one). Part of
// the run's state.
struct UpdaterLock {
    HANDLE mutex;
    HANDLE space;
};
extern UpdaterLock& g_updater_lock;

// Takes the lock for this run; false when another run holds it (or it cannot be opened). A lock
// whose holder ended without giving it back (a killed run) is taken over, and the run finishes
// what that one left.
bool _take_updater_lock();
// Gives the lock back at the end of the run.
void _release_updater_lock();

} // namespace norvane
