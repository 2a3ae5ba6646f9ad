// The host stand-ins' model of the program's process: how it ends (ExitProcess, or the system
// ending it with the session), and what the system takes back from it then.
#pragma once

#include <string>
#include <vector>

#include "host/win32_host.h"

// Thrown by ExitProcess, and by a session end that ends the process, through the program's frames
// back to whoever called its entry point.
struct HostProcessExit {
    UINT code;
};

// Runs wWinMain with the argument string as a process does: an ExitProcess inside it ends the run
// with its code.
int host_run_entry_point(const std::wstring& arguments);

// What the system takes back from a process that ends: the mutexes it holds become abandoned, its
// power requests and shutdown block reasons go.
void host_end_process();

// What closing a mutex or power request handle gives back (CloseHandle).
struct HandleEntry;
void host_close_kernel_object(const HandleEntry& entry);

// The SIDs the access list of a security descriptor admits (ConvertStringSecurityDescriptorTo-
// SecurityDescriptorW); false when the descriptor is not one of those.
bool host_descriptor_allowed(const void* descriptor, std::vector<std::string>& sids);

// What a second run sees of this one while it still runs: every mutex this program holds and
// every private namespace it has open are taken over by "another process" (this program's handles
// on them are forgotten). Then that process releases its mutexes, its namespaces still open, as a
// run does on its way out.
void host_hand_over_to_another_process();
void host_other_process_releases();

// Forgets the program's windows, window classes and posted quit (between tests).
void host_windows_reset();
