// version.dll stand-ins: the program's version block as the simulated PC describes it. Only the
// two string-table paths the program reads are served, each only by its exact name.
#include <cstring>
#include <cwchar>
#include <string>

#include "host/win32_host.h"
#include "sim/simulated_pc.h"

namespace {

constexpr std::size_t kValueCapacity = 128;
constexpr std::uint32_t kBlockMagic = 0x56534E42;
constexpr const wchar_t* kNamePath = L"\\StringFileInfo\\041104b0\\ProductName";
constexpr const wchar_t* kVersionPath = L"\\StringFileInfo\\041104b0\\ProductVersion";

struct VersionBlock {
    std::uint32_t magic;
    bool has_name;
    bool has_version;
    wchar_t name[kValueCapacity];
    wchar_t version[kValueCapacity];
};

void copy_value(wchar_t (&out)[kValueCapacity], const std::wstring& value) {
    std::wcsncpy(out, value.c_str(), kValueCapacity - 1);
    out[kValueCapacity - 1] = L'\0';
}

} // namespace

extern "C" {

DWORD GetFileVersionInfoSizeW(LPCWSTR file_name, LPDWORD handle) {
    if (handle != nullptr) {
        *handle = 0;
    }
    if (file_name == nullptr || file_name[0] == L'\0' || !sim::pc().version_block_present) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return sizeof(VersionBlock);
}

BOOL GetFileVersionInfoW(LPCWSTR file_name, [[maybe_unused]] DWORD handle, DWORD length,
                         LPVOID data) {
    if (file_name == nullptr || data == nullptr || length < sizeof(VersionBlock) ||
        !sim::pc().version_block_present) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    VersionBlock block{};
    block.magic = kBlockMagic;
    const sim::SimulatedPc& machine = sim::pc();
    block.has_name = machine.product_name.has_value();
    block.has_version = machine.product_version.has_value();
    if (block.has_name) {
        copy_value(block.name, *machine.product_name);
    }
    if (block.has_version) {
        copy_value(block.version, *machine.product_version);
    }
    std::memcpy(data, &block, sizeof(block));
    return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* buffer, PUINT length) {
    auto* version = static_cast<VersionBlock*>(const_cast<void*>(block));
    if (version == nullptr || version->magic != kBlockMagic || sub_block == nullptr) {
        return FALSE;
    }
    wchar_t* value = nullptr;
    if (std::wcscmp(sub_block, kNamePath) == 0 && version->has_name) {
        value = version->name;
    } else if (std::wcscmp(sub_block, kVersionPath) == 0 && version->has_version) {
        value = version->version;
    }
    if (value == nullptr) {
        return FALSE;
    }
    *buffer = value;
    *length = static_cast<UINT>(std::wcslen(value) + 1);
    return TRUE;
}

} // extern "C"
