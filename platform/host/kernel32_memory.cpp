// kernel32 stand-ins for the last error and for local memory. Each LocalAlloc block is a
// LocalMemory entry of the handle table, so a test sees a block the program never freed.
#include <cstdlib>
#include <map>

#include "host/handles.h"

namespace {

constexpr UINT kLocalZeroInit = 0x0040;
// LMEM_FIXED is 0: fixed memory with or without zero-fill are the only kinds served.
constexpr UINT kLocalSupportedFlags = kLocalZeroInit;

DWORD g_last_error = ERROR_SUCCESS;

// Block address -> its entry in the handle table. The program holds the block's address, which
// is not the entry's handle.
std::map<const void*, const void*>& local_blocks() {
    static std::map<const void*, const void*> blocks;
    return blocks;
}

} // namespace

extern "C" {

DWORD GetLastError() {
    return g_last_error;
}

void SetLastError(DWORD error) {
    g_last_error = error;
}

// Fixed blocks only (LMEM_FIXED, optionally zero-filled: LPTR); the block is always zero-filled
// here, which a program cannot tell from LMEM_FIXED's unspecified contents.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    if ((flags & ~kLocalSupportedFlags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HandleEntry entry{};
    entry.kind = HandleKind::LocalMemory;
    local_blocks()[block] = host_handle_new(entry);
    return block;
}

// NULL on success (and for NULL); the block itself, with ERROR_INVALID_HANDLE, when it is not one
// that LocalAlloc handed out.
HLOCAL LocalFree(HLOCAL memory) {
    if (memory == nullptr) {
        return nullptr;
    }
    auto it = local_blocks().find(memory);
    if (it == local_blocks().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return memory;
    }
    host_handle_release(it->second); // may be gone already after host_handles_reset
    local_blocks().erase(it);
    std::free(memory);
    return nullptr;
}

} // extern "C"
