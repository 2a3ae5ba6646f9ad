// advapi32 stand-ins for the registry the program writes its detection record to: keys under
// HKEY_LOCAL_MACHINE, created on demand, with REG_SZ (kept as UTF-16 LE, as Windows keeps it) and
// REG_DWORD values kept on the simulated PC. A read-only registry refuses every write with
// ERROR_ACCESS_DENIED, as Windows does for a program without administrator rights. Besides, the
// security calls of the updater lock: well-known SIDs in their binary form, and security
// descriptors from their text (SDDL) form, of which the access list's allowed SIDs are kept.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/handles.h"
#include "host/process.h"
#include "host/wide_path.h"
#include "sim/simulated_pc.h"

namespace {

HandleEntry* key_of(HKEY key) {
    return host_handle_get(key, HandleKind::RegistryKey);
}

// A SID in its binary form: revision 1, the count of sub-authorities, the identifier authority
// (48 bits, big-endian) and the sub-authorities (32 bits each, little-endian).
constexpr BYTE kSidRevision = 1;
constexpr BYTE kNtAuthority = 5;
constexpr std::size_t kSubAuthorityBytes = 4;
constexpr DWORD kLocalSystemRid = 18;
constexpr DWORD kBuiltinDomainRid = 32;
constexpr DWORD kAdministratorsRid = 544;

std::vector<BYTE> nt_sid(std::initializer_list<DWORD> sub_authorities) {
    std::vector<BYTE> sid{kSidRevision, static_cast<BYTE>(sub_authorities.size()), 0, 0, 0, 0, 0,
                          kNtAuthority};
    for (const DWORD value : sub_authorities) {
        for (std::size_t i = 0; i < kSubAuthorityBytes; ++i) {
            sid.push_back(static_cast<BYTE>(value >> (8 * i)));
        }
    }
    return sid;
}

// The SIDs of the access control entries "(A;;RIGHTS;;;SID)" of a descriptor's DACL: allowed
// entries only, SIDs by their abbreviations (BA, SY, WD) or written out.
bool parse_allowed(const std::wstring& text, std::vector<std::string>& sids) {
    static const std::map<std::wstring, std::string> kAbbreviations = {
        {L"BA", sim::kSidAdministrators}, {L"SY", sim::kSidSystem}, {L"WD", sim::kSidEveryone}};
    const std::size_t dacl = text.find(L"D:");
    if (dacl == std::wstring::npos) {
        return false;
    }
    for (std::size_t open = text.find(L'(', dacl); open != std::wstring::npos;
         open = text.find(L'(', open + 1)) {
        const std::size_t close = text.find(L')', open);
        const std::wstring entry = text.substr(open + 1, close - open - 1);
        if (close == std::wstring::npos || !entry.starts_with(L"A;")) {
            return false;
        }
        const std::wstring sid = entry.substr(entry.rfind(L';') + 1);
        const auto known = kAbbreviations.find(sid);
        sids.push_back(known != kAbbreviations.end() ? known->second
                                                     : std::string(sid.begin(), sid.end()));
    }
    return true;
}

std::map<const void*, std::vector<std::string>>& descriptors() {
    static std::map<const void*, std::vector<std::string>> made;
    return made;
}

} // namespace

bool host_descriptor_allowed(const void* descriptor, std::vector<std::string>& sids) {
    const auto found = descriptors().find(descriptor);
    if (found == descriptors().end()) {
        return false;
    }
    sids = found->second;
    return true;
}

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

BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size) {
    std::vector<BYTE> binary;
    if (type == WinBuiltinAdministratorsSid) {
        binary = nt_sid({kBuiltinDomainRid, kAdministratorsRid});
    } else if (type == WinLocalSystemSid) {
        binary = nt_sid({kLocalSystemRid});
    }
    if (binary.empty() || domain != nullptr || size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (sid == nullptr || *size < binary.size()) {
        *size = static_cast<DWORD>(binary.size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(sid, binary.data(), binary.size());
    *size = static_cast<DWORD>(binary.size());
    return TRUE;
}

// The descriptor is a LocalAlloc block (holding the text), which the caller frees with LocalFree.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size) {
    std::vector<std::string> allowed;
    if (text == nullptr || revision != SDDL_REVISION_1 || descriptor == nullptr ||
        !parse_allowed(text, allowed)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    void* block = LocalAlloc(LPTR, bytes);
    if (block == nullptr) {
        return FALSE;
    }
    std::memcpy(block, text, bytes);
    descriptors()[block] = allowed;
    *descriptor = block;
    if (size != nullptr) {
        *size = static_cast<ULONG>(bytes);
    }
    return TRUE;
}

LSTATUS RegCloseKey(HKEY key) {
    return static_cast<LSTATUS>(
        key_of(key) != nullptr && host_handle_release(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

} // extern "C"
