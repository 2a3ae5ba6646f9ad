// The command line: "/s", "/v" and "LOGFILE=" anywhere in the argument string.
#include <cwchar>

#include "app/run_log.h"
#include "app/run_options.h"
#include "platform/win32.h"

RunOptions g_run_options{};

namespace {

constexpr const wchar_t* kSilentSwitch = L"/s";
constexpr const wchar_t* kLogSwitch = L"/v";
constexpr const wchar_t* kLogFileKey = L"LOGFILE=";
constexpr wchar_t kQuote = L'"';

// Words of other tools that may follow the log path, searched in this order; the path is cut in
// front of the first of them that occurs in it.
constexpr const wchar_t* kOptionKeywords[] = {L"EXTRACTDRIVERS", L"FORCE",   L"FRESHINSTALL",
                                              L"FORCERESTART",   L"LOGFILE", L"DEBUG"};

// The value of "LOGFILE=" with one leading and one trailing quote dropped, into log_path. A value
// too long for log_path leaves the path empty: nothing is ever written to a cut name.
void take_log_path(const wchar_t* arguments) {
    const wchar_t* key = std::wcsstr(arguments, kLogFileKey);
    if (key == nullptr) {
        return;
    }
    const wchar_t* value = key + std::wcslen(kLogFileKey);
    if (*value == kQuote) {
        ++value;
    }
    std::size_t length = std::wcslen(value);
    if (length > 0 && value[length - 1] == kQuote) {
        --length;
    }
    if (length >= kLogPathCapacity) {
        return;
    }
    std::wmemcpy(g_run_options.log_path, value, length);
    g_run_options.log_path[length] = L'\0';
}

// Cuts the path in front of the first keyword of the list that occurs in it. The character before
// the keyword goes too; a keyword at the very start leaves the path as it is.
void cut_at_option_keyword() {
    for (const wchar_t* keyword : kOptionKeywords) {
        const wchar_t* found = std::wcsstr(g_run_options.log_path, keyword);
        if (found == nullptr) {
            continue;
        }
        const std::size_t position = static_cast<std::size_t>(found - g_run_options.log_path);
        if (position > 0) {
            g_run_options.log_path[position - 1] = L'\0';
        }
        return;
    }
}

void log_start(const wchar_t* arguments) {
    _log_message(L"Command:%s", arguments);
    SYSTEMTIME now;
    GetLocalTime(&now);
    _log_message(L"Executed:%d/%02d/%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond);
}

} // namespace

void _parse_command_line(const wchar_t* arguments) {
    if (arguments == nullptr) {
        arguments = L"";
    }
    g_run_options.silent = std::wcsstr(arguments, kSilentSwitch) != nullptr;
    if (std::wcsstr(arguments, kLogSwitch) == nullptr) {
        return;
    }
    g_run_options.log_enabled = true;
    take_log_path(arguments);
    cut_at_option_keyword();
    log_start(arguments);
}
