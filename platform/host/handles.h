// The host stand-in's handle table. Every object the product can hold (file, device interface,
// directory search, device information list, preparsed data, local allocation, icon, timer) is
// registered here, so that a test can see exactly what a run left open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/win32_host.h"
#include "sim/setupapi_lists.h"

enum class HandleKind {
    File,
    Device,
    Search,
    DeviceList,
    Preparsed,
    LocalMemory,
    Mutex,
    PowerRequest,
    RegistryKey,
    Icon,
    Boundary,
    Namespace,
    Timer
};

struct HandleEntry {
    HandleKind kind;
    int fd = -1; // File: the POSIX descriptor
    // File: the path as opened (sharing checks); Device: path; Mutex: name; Namespace: its name
    // (sim::namespace_key); Boundary: its name.
    std::wstring path;
    DWORD access = 0;                // File: requested access
    DWORD share = 0;                 // File: share mode
    std::size_t device = 0;          // Device, Preparsed: index into the simulated device tree
    std::size_t collection = 0;      // Device, Preparsed: collection of that device
    std::vector<std::wstring> names; // Search: the matching names; Namespace: its alias
    std::vector<std::string> sids;   // Boundary: the SIDs added to it
    std::vector<DWORD> attributes;   // Search: attributes of each name
    std::size_t position = 0;        // Search: next name to return
    WORD resource = 0;               // Icon: the icon group it was loaded from
    int width = 0;                   // Icon: the image's size in pixels
    int height = 0;
    sim::DeviceInfoList device_list;       // DeviceList: the snapshot
    int requests_set = 0;                  // PowerRequest: set and not yet cleared
    bool high_resolution = false;          // Timer: made with CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
    bool manual_reset = false;             // Timer: stays signalled until set again
    std::optional<std::uint64_t> fires_at; // Timer: when it fires (virtual time), while set
};

// Registers a new object and returns its handle (never null or INVALID_HANDLE_VALUE).
void* host_handle_new(const HandleEntry& entry);
// The entry behind a handle of the given kind, or null when the handle is not one.
HandleEntry* host_handle_get(const void* handle, HandleKind kind);
// Any entry behind a handle, or null.
HandleEntry* host_handle_find(const void* handle);
// Releases the entry; false when the handle is unknown.
bool host_handle_release(const void* handle);
// How many objects of a kind are open now.
std::size_t host_handles_open(HandleKind kind);
// How many objects of any kind are open now.
std::size_t host_handles_open_total();
// How many device handles are open on one device of the simulated tree.
std::size_t host_handles_open_on_device(std::size_t device);
// Every open entry (for sharing checks).
std::vector<const HandleEntry*> host_handles_all();
// Forgets every entry (between tests); closes open descriptors.
void host_handles_reset();

// Whether an access mask asks for reading, or for writing (appending included), the object's data.
bool host_access_reads(DWORD access);
bool host_access_writes(DWORD access);
// Windows' share check of an open asking for (access, share) against one handle already open on
// the same object with (held_access, held_share): each side's share mode must allow what the other
// reads or writes. An open that asks for no data access at all (access 0: attributes and feature
// reports only) is not checked, and a handle held with access 0 restricts nobody.
bool host_share_allows(DWORD access, DWORD share, DWORD held_access, DWORD held_share);
