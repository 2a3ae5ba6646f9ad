// Setting.ini is looked for in the current directory, where the image is, not beside the program.
#include "app/settings.h"

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
    SettingFlags mask = 0;
    unsigned bit = 0;
    for (const SettingKey& key : kMaskKeys) {
        mask |= static_cast<SettingFlags>(
                    GetPrivateProfileIntW(kSettingsSection, key.name, key.default_value, path))
                << bit;
        ++bit;
    }
    WAIT = GetPrivateProfileIntW(kSettingsSection, kWaitKey.name, kWaitKey.default_value, path);
    flags = mask;
    return true;
}

} // namespace norvane
