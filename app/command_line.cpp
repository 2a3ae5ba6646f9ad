// The command line: "/s", "/v" and "LOGFILE=" anywhere in the argument string; "/c" and "/?" as
// words of their own.
#include <cwchar>
#include <cwctype>
#include <string>
#include <string_view>

#include "app/run_options.h"
#include "platform/win32.h"

namespace norvane {

namespace {

constexpr const wchar_t* kSilentSwitch = L"/s";
constexpr const wchar_t* kLogSwitch = L"/v";
constexpr const wchar_t* kLogFileKey = L"LOGFILE=";
constexpr std::wstring_view kCheckOnlyWord = L"/c";
constexpr std::wstring_view kHelpWord = L"/?";
constexpr wchar_t kQuote = L'"';

// Words of other tools that may follow the log path, searched in this order; the path is cut in
// front of the first of them that occurs in it.
constexpr const wchar_t* kOptionKeywords[] = {L"EXTRACTDRIVERS", L"FORCE",   L"FRESHINSTALL",
                                              L"FORCERESTART",   L"LOGFILE", L"DEBUG"};

bool is_blank(wchar_t ch) {
    return ch == L' ' || ch == L'\t';
}

// True when `word` stands in the argument string as a word of its own, in either case: between
// blanks or at either end. "/c" inside a path ("D:\a/c\fw.log") is no switch.
bool has_word(std::wstring_view arguments, std::wstring_view word) {
    for (std::size_t at = 0; at + word.size() <= arguments.size(); ++at) {
        const bool starts = at == 0 || is_blank(arguments[at - 1]);
        const std::size_t end = at + word.size();
        const bool ends = end == arguments.size() || is_blank(arguments[end]);
        bool same = starts && ends;
        for (std::size_t i = 0; same && i < word.size(); ++i) {
            same = std::towlower(arguments[at + i]) == std::towlower(word[i]);
        }
        if (same) {
            return true;
        }
    }
    return false;
}

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

} // namespace

void _parse_command_line(const wchar_t* arguments) {
    if (arguments == nullptr) {
        arguments = L"";
    }
    g_run_options.check_only = has_word(arguments, kCheckOnlyWord);
    // A check asks nothing and shows nothing, whatever else the line says.
    g_run_options.silent =
        std::wcsstr(arguments, kSilentSwitch) != nullptr || g_run_options.check_only;
    g_run_options.help = has_word(arguments, kHelpWord);
    if (g_run_options.help) {
        return; // the usage box (not with /s), and nothing else: no log
    }
    if (std::wcsstr(arguments, kLogSwitch) == nullptr) {
        return;
    }
    g_run_options.log_enabled = true;
    take_log_path(arguments);
}

} // namespace norvane
