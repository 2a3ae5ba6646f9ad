#include "app/detection_record.h"

#include <cwchar>

#include "app/run_log.h"
#include "app/run_options.h"
#include "app/run_state.h"
#include "device/debug_output.h"
#include "platform/win32.h"

namespace norvane {

namespace {

// HKEY_LOCAL_MACHINE, in the 64-bit view.
constexpr const wchar_t* kDetectionRecordKey = L"SOFTWARE\\Norvane\\FW Updater";
constexpr const wchar_t* kLastExitCode = L"LastExitCode";
constexpr const wchar_t* kLastRun = L"LastRun";
constexpr const wchar_t* kFirmwareVersion = L"FirmwareVersion";
constexpr const wchar_t* kFirmwareVersionCode = L"FirmwareVersionCode";
constexpr const wchar_t* kLastAction = L"LastAction";
constexpr const wchar_t* kActionUpdate = L"update";
constexpr const wchar_t* kActionCheck = L"check";
constexpr const wchar_t* kFormatLastRun = L"%d-%02d-%02dT%02d:%02d:%02d";
constexpr const wchar_t* kFormatVersion = L"%x.%x%x";
constexpr const wchar_t* kTextRecordFailed = L"The detection record could not be written.";

// Each call below answers ERROR_SUCCESS or its error; the first error is kept.
bool note(LSTATUS status, LSTATUS& first_error) {
    if (status != ERROR_SUCCESS && first_error == ERROR_SUCCESS) {
        first_error = status;
    }
    return status == ERROR_SUCCESS;
}

bool set_dword(HKEY key, const wchar_t* name, DWORD value, LSTATUS& error) {
    return note(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof(value)),
                error);
}

bool set_text(HKEY key, const wchar_t* name, const wchar_t* text, LSTATUS& error) {
    const auto size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    return note(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size),
                error);
}

// A value that is not there is as good as deleted.
bool delete_value(HKEY key, const wchar_t* name, LSTATUS& error) {
    const LSTATUS status = RegDeleteValueW(key, name);
    return status == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND) || note(status, error);
}

bool write_values(HKEY key, int exit_code, const FwVersion* proven, LSTATUS& error) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    MessageBuffer last_run;
    _format_message(last_run, kFormatLastRun, now.wYear, now.wMonth, now.wDay, now.wHour,
                    now.wMinute, now.wSecond);
    bool written =
        set_dword(key, kLastExitCode, static_cast<DWORD>(exit_code), error) &&
        set_text(key, kLastRun, last_run, error) &&
        set_text(key, kLastAction, g_run_options.check_only ? kActionCheck : kActionUpdate, error);
    if (proven == nullptr) {
        return delete_value(key, kFirmwareVersion, error) &&
               delete_value(key, kFirmwareVersionCode, error) && written;
    }
    MessageBuffer version;
    _format_message(version, kFormatVersion, version_digit_major(*proven),
                    version_digit_minor_high(*proven), version_digit_minor_low(*proven));
    written = set_text(key, kFirmwareVersion, version, error) && written;
    return set_dword(key, kFirmwareVersionCode, version_code(*proven), error) && written;
}

} // namespace

void _write_detection_record(int exit_code, const FwVersion* proven) {
    HKEY key = nullptr;
    LSTATUS error = ERROR_SUCCESS;
    bool written = note(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDetectionRecordKey, 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                        nullptr, &key, nullptr),
                        error);
    if (written) {
        written = write_values(key, exit_code, proven, error);
        RegCloseKey(key);
    }
    if (!written) {
        _debug_failure(L"_write_detection_record", kDetectionRecordKey, static_cast<DWORD>(error));
    }
    if (!written && !g_run.record_failure_logged) { // once, though a flash writes it twice
        g_run.record_failure_logged = true;
        _log_message(kTextRecordFailed);
    }
}

} // namespace norvane
