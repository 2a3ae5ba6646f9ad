// advapi32 stand-ins for the registry the program writes its detection record to: keys under
// HKEY_LOCAL_MACHINE, created on demand, with REG_SZ (kept as UTF-16 LE, as Windows keeps it) and
// REG_DWORD values kept on the simulated PC. A read-only registry refuses every write with
// ERROR_ACCESS_DENIED, as Windows does for a program without administrator rights.
#include <cstring>

#include "host/handles.h"
#include "host/wide_path.h"
#include "sim/simulated_pc.h"

namespace {

HandleEntry* key_of(HKEY key) {
    return host_handle_get(key, HandleKind::RegistryKey);
}

} // namespace

extern "C" {

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD /*reserved*/, LPWSTR /*class_name*/,
                        DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES /*security*/,
                        PHKEY result, LPDWORD disposition) {
    if (key != HKEY_LOCAL_MACHINE || sub_key == nullptr || result == nullptr ||
        options != REG_OPTION_NON_VOLATILE) {
        return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    }
    sim::SimulatedPc& machine = sim::pc();
    if (machine.registry_read_only) {
        return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    }
    const std::wstring path = sim::registry_key_path(sub_key);
    const bool created = machine.registry.try_emplace(path).second;
    if (disposition != nullptr) {
        *disposition = created ? 1 : 2; // REG_CREATED_NEW_KEY, REG_OPENED_EXISTING_KEY
    }
    HandleEntry entry{};
    entry.kind = HandleKind::RegistryKey;
    entry.path = path;
    entry.access = access;
    *result = static_cast<HKEY>(host_handle_new(entry));
    return static_cast<LSTATUS>(ERROR_SUCCESS);
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                       DWORD size) {
    const HandleEntry* entry = key_of(key);
    if (entry == nullptr || (entry->access & KEY_SET_VALUE) == 0) {
        return static_cast<LSTATUS>(entry == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    }
    if (name == nullptr || (type != REG_SZ && type != REG_DWORD) || (data == nullptr && size > 0)) {
        return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    }
    sim::RegistryValue value{type, std::vector<std::uint8_t>(data, data + size)};
    if (type == REG_SZ) { // the program's wide characters, kept as Windows keeps them: UTF-16 LE
        std::u16string units;
        const auto* text = reinterpret_cast<const wchar_t*>(data);
        for (std::size_t i = 0; i < size / sizeof(wchar_t); ++i) {
            host_append_utf16(units, static_cast<char32_t>(text[i]));
        }
        value.data.clear();
        for (const char16_t unit : units) {
            value.data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            value.data.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
    }
    sim::pc().registry[entry->path][name] = std::move(value);
    return static_cast<LSTATUS>(ERROR_SUCCESS);
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) {
    const HandleEntry* entry = key_of(key);
    if (entry == nullptr || (entry->access & KEY_SET_VALUE) == 0) {
        return static_cast<LSTATUS>(entry == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    }
    auto& values = sim::pc().registry[entry->path];
    return static_cast<LSTATUS>(name != nullptr && values.erase(name) == 1 ? ERROR_SUCCESS
                                                                           : ERROR_FILE_NOT_FOUND);
}

LSTATUS RegCloseKey(HKEY key) {
    return static_cast<LSTATUS>(
        key_of(key) != nullptr && host_handle_release(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

} // extern "C"
