// One updater per computer. Deployment tools do start a package twice (a retry while the first
// run still goes, a logon script beside a pushed package, a double click): a second run that reads
// or writes the controller during a flash makes both fail, or erases it under the first.
#pragma once

#include "platform/win32.h"

namespace norvane {

// A mutex in the namespace of all sessions. A standard user cannot create an object there, so
// nobody can take the name in advance to keep every update out.
constexpr const wchar_t* kUpdaterLockName = L"Global\\NorvaneFwUpdater";

// The lock this run holds, or null. Part of the run's state.
extern HANDLE& g_updater_lock;

// Takes the lock for this run; false when another run holds it (or the name cannot be opened).
// A lock whose holder ended without giving it back (a killed run) is taken over, and the run
// finishes what that one left.
bool _take_updater_lock();
// Gives the lock back at the end of the run.
void _release_updater_lock();

} // namespace norvane
