// The command line: "/s", "/v" and "LOGFILE=" anywhere in the argument string.
#include <cwchar>
#include <string>

#include "app/run_log.h"
#include "app/run_options.h"
#include "platform/win32.h"

namespace norvane {

namespace {

constexpr const wchar_t* kSilentSwitch = L"/s";
constexpr const wchar_t* kLogSwitch = L"/v";
constexpr const wchar_t* kLogFileKey = L"LOGFILE=";
constexpr wchar_t kQuote = L'"';

// Words of other tools that may follow the log path, searched in this order; the path is cut in
// front of the first of them that occurs in it.
constexpr const wchar_t* kOptionKeywords[] = {L"EXTRACTDRIVERS", L"FORCE",   L"FRESHINSTALL",
                                              L"FORCERESTART",   L"LOGFILE", L"DEBUG"};

// Cuts the value in front of the first keyword of the list that occurs in it. The character
// before the keyword goes too; a keyword at the very start leaves the value as it is.
void cut_at_option_keyword(std::wstring& value) {
    for (const wchar_t* keyword : kOptionKeywords) {
        const std::size_t position = value.find(keyword);
        if (position == std::wstring::npos) {
            continue;
        }
        if (position > 0) {
            value.resize(position - 1);
        }
        return;
    }
}

// The value of "LOGFILE=" with one leading and one trailing quote dropped, cut at the first option
// keyword, into log_path. The cut comes first, so that the words of other tools after the path do
// not count against its length; a path still too long for log_path leaves it empty: nothing is
// ever written to a cut name.
void take_log_path(const wchar_t* arguments) {
    const wchar_t* key = std::wcsstr(arguments, kLogFileKey);
    if (key == nullptr) {
        return;
    }
    const wchar_t* start = key + std::wcslen(kLogFileKey);
    if (*start == kQuote) {
        ++start;
    }
    std::wstring value(start);
    if (!value.empty() && value.back() == kQuote) {
        value.pop_back();
    }
    cut_at_option_keyword(value);
    if (value.size() >= kLogPathCapacity) {
        return;
    }
    std::wmemcpy(g_run_options.log_path, value.c_str(), value.size() + 1);
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
    log_start(arguments);
}

} // namespace norvane
