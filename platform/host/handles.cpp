#include "host/handles.h"

#include <map>
#include <memory>
#include <unistd.h>

namespace {

constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kReadAccess = GENERIC_READ | FILE_READ_DATA;
constexpr DWORD kWriteAccess = GENERIC_WRITE | kFileWriteData | FILE_APPEND_DATA;

struct HandleTable {
    std::map<const void*, std::unique_ptr<HandleEntry>> entries;
};

HandleTable& table() {
    static HandleTable instance;
    return instance;
}

} // namespace

void* host_handle_new(const HandleEntry& entry) {
    auto owned = std::make_unique<HandleEntry>(entry);
    void* handle = owned.get(); // the entry's address is unique while it lives
    table().entries.emplace(handle, std::move(owned));
    return handle;
}

HandleEntry* host_handle_get(const void* handle, HandleKind kind) {
    HandleEntry* entry = host_handle_find(handle);
    return entry != nullptr && entry->kind == kind ? entry : nullptr;
}

HandleEntry* host_handle_find(const void* handle) {
    auto it = table().entries.find(handle);
    return it == table().entries.end() ? nullptr : it->second.get();
}

bool host_handle_release(const void* handle) {
    auto it = table().entries.find(handle);
    if (it == table().entries.end()) {
        return false;
    }
    if (it->second->fd >= 0) {
        ::close(it->second->fd);
    }
    table().entries.erase(it);
    return true;
}

std::size_t host_handles_open(HandleKind kind) {
    std::size_t count = 0;
    for (const auto& [handle, entry] : table().entries) {
        if (entry->kind == kind) {
            ++count;
        }
    }
    return count;
}

std::size_t host_handles_open_on_device(std::size_t device) {
    std::size_t count = 0;
    for (const auto& [handle, entry] : table().entries) {
        if (entry->kind == HandleKind::Device && entry->device == device) {
            ++count;
        }
    }
    return count;
}

std::size_t host_handles_open_total() {
    return table().entries.size();
}

std::vector<const HandleEntry*> host_handles_all() {
    std::vector<const HandleEntry*> all;
    for (const auto& [handle, entry] : table().entries) {
        all.push_back(entry.get());
    }
    return all;
}

void host_handles_reset() {
    for (const auto& [handle, entry] : table().entries) {
        if (entry->fd >= 0) {
            ::close(entry->fd);
        }
    }
    table().entries.clear();
}

bool host_access_reads(DWORD access) {
    return (access & kReadAccess) != 0;
}

bool host_access_writes(DWORD access) {
    return (access & kWriteAccess) != 0;
}

bool host_share_allows(DWORD access, DWORD share, DWORD held_access, DWORD held_share) {
    if (!host_access_reads(access) && !host_access_writes(access)) {
        return true;
    }
    if (host_access_reads(access) && (held_share & FILE_SHARE_READ) == 0) {
        return false;
    }
    if (host_access_writes(access) && (held_share & FILE_SHARE_WRITE) == 0) {
        return false;
    }
    if (host_access_reads(held_access) && (share & FILE_SHARE_READ) == 0) {
        return false;
    }
    return !(host_access_writes(held_access) && (share & FILE_SHARE_WRITE) == 0);
}
