// Setting.ini is looked for in the current directory, where the image is, not beside the program.
#include "app/settings.h"

#include <cstdint>
#include <string_view>

#include "app/run_log.h"
#include "platform/win32.h"

namespace norvane {

namespace {

constexpr const wchar_t* kSettingsFileName = L"Setting.ini";
constexpr const wchar_t* kSettingsFileSuffix = L"\\Setting.ini";
constexpr const wchar_t* kSettingsSection = L"Setting";
constexpr std::size_t kSettingsPathCapacity = MAX_PATH;

struct SettingKey {
    const wchar_t* name;
    int default_value;
};

// In mask order: key i lands at bit i, its value not reduced to 0 or 1.
constexpr SettingKey kMaskKeys[] = {{L"AC", 1},   {L"PID", 1},      {L"SYS", 1},  {L"INFO", 1},
                                    {L"CONF", 1}, {L"ROLLBACK", 1}, {L"PNPID", 0}};
constexpr SettingKey kWaitKey = {L"WAIT", static_cast<int>(kDefaultWaitMs)};

// What the profile reader makes of a number (see number_fits_32_bits).
constexpr std::size_t kProfileNumberLength = 29;
constexpr DWORD kProfileTextCapacity = 64;
constexpr std::uint64_t kLargest32BitNumber = 0xFFFFFFFF;
constexpr unsigned kDecimalBase = 10;
constexpr unsigned kNotADigit = 36;

struct NumberPrefix {
    std::wstring_view text;
    unsigned base;
};
constexpr NumberPrefix kNumberPrefixes[] = {{L"0x", 16}, {L"0o", 8}, {L"0b", 2}};

// The value of a digit or letter digit (a = 10, any case); kNotADigit for anything else.
unsigned digit_value(wchar_t ch) {
    if (ch >= L'0' && ch <= L'9') {
        return static_cast<unsigned>(ch - L'0');
    }
    if (ch >= L'a' && ch <= L'z') {
        return static_cast<unsigned>(ch - L'a') + kDecimalBase;
    }
    if (ch >= L'A' && ch <= L'Z') {
        return static_cast<unsigned>(ch - L'A') + kDecimalBase;
    }
    return kNotADigit;
}

bool settings_file_exists() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(kSettingsFileName, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    return true;
}

// The current directory followed by "\Setting.ini"; false when the two do not fit the buffer.
bool build_settings_path(wchar_t (&path)[kSettingsPathCapacity]) {
    const DWORD length = GetCurrentDirectoryW(kSettingsPathCapacity, path);
    if (length == 0 || length >= kSettingsPathCapacity) {
        return false;
    }
    return _append_wide(path, kSettingsPathCapacity, kSettingsFileSuffix);
}

// Whether the number in `text` fits 32 bits as the profile reader reads it (its first 29
// characters; leading characters up to the blank skipped, one sign, a 0x, 0o or 0b prefix, digits
// up to the first the base lacks): the reader wraps a larger number, so "4294968295" reads as 999,
// and negates a negative one, so "-4294966296" reads as 1000.
bool number_fits_32_bits(const wchar_t* text) {
    std::wstring_view value(text);
    value = value.substr(0, kProfileNumberLength);
    std::size_t at = 0;
    while (at < value.size() && value[at] <= L' ') {
        ++at;
    }
    bool negative = false;
    if (at < value.size() && (value[at] == L'+' || value[at] == L'-')) {
        negative = value[at++] == L'-';
    }
    unsigned base = kDecimalBase;
    for (const NumberPrefix& prefix : kNumberPrefixes) {
        if (value.substr(at).starts_with(prefix.text)) {
            base = prefix.base;
            at += prefix.text.size();
            break;
        }
    }
    std::uint64_t number = 0;
    for (; at < value.size(); ++at) {
        const unsigned digit = digit_value(value[at]);
        if (digit >= base) {
            break;
        }
        number = number * base + digit;
        if (number > kLargest32BitNumber) {
            return false;
        }
    }
    return !negative || number == 0;
}

// WAIT as read; a value that does not fit 32 bits wraps in the reader and is taken as the largest
// pause of all, which the run's bound refuses.
std::uint32_t read_wait(const wchar_t* path) {
    const UINT wait =
        GetPrivateProfileIntW(kSettingsSection, kWaitKey.name, kWaitKey.default_value, path);
    wchar_t text[kProfileTextCapacity] = L"";
    GetPrivateProfileStringW(kSettingsSection, kWaitKey.name, L"", text, kProfileTextCapacity,
                             path);
    return number_fits_32_bits(text) ? wait : kLargest32BitNumber;
}

SettingFlags read_mask(const wchar_t* path) {
    SettingFlags mask = 0;
    unsigned bit = 0;
    for (const SettingKey& key : kMaskKeys) {
        mask |= static_cast<SettingFlags>(
                    GetPrivateProfileIntW(kSettingsSection, key.name, key.default_value, path))
                << bit;
        ++bit;
    }
    return mask;
}

} // namespace

bool _load_settings(SettingFlags& flags) {
    flags = kDefaultSettingFlags;
    if (!settings_file_exists()) {
        return true;
    }
    wchar_t path[kSettingsPathCapacity];
    if (!build_settings_path(path)) {
        return false; // a folder too deep for the path: the file is there but cannot be read
    }
    // Held open with read sharing only while its keys are read: nobody can lock it, change it or
    // swap it between this open and the reads. A file that cannot be opened (held by another
    // program without sharing, no access, a folder of that name) is never replaced by defaults.
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    flags = read_mask(path);
    g_wait_ms = read_wait(path);
    CloseHandle(file);
    return true;
}

} // namespace norvane
