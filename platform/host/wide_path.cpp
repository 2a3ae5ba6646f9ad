// Text and path helpers of the host stand-ins.
#include "host/wide_path.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr char32_t kReplacementChar = 0xFFFD;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kLastOneByte = 0x7F;
constexpr char32_t kLastTwoBytes = 0x7FF;
constexpr char32_t kLastThreeBytes = 0xFFFF;
constexpr wchar_t kLastControlChar = 0x1F;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kFirstLowSurrogate = 0xDC00;
constexpr unsigned kSurrogateBits = 10;
constexpr char32_t kSurrogateMask = 0x3FF;

// ---- UTF-8 ----------------------------------------------------------------------------------

void append_utf8(std::string& out, char32_t code) {
    if (code > kLastCodePoint || (code >= kFirstSurrogate && code <= kLastSurrogate)) {
        code = kReplacementChar;
    }
    if (code <= kLastOneByte) {
        out += static_cast<char>(code);
    } else if (code <= kLastTwoBytes) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code <= kLastThreeBytes) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The length of the sequence that a lead byte starts, or 0 for a byte that cannot lead one.
std::size_t utf8_sequence_length(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

} // namespace

bool host_decode_utf8(std::string_view text, std::size_t& at, char32_t& code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = utf8_sequence_length(lead);
    if (length == 0 || at + length > text.size()) {
        return false;
    }
    constexpr unsigned char kLeadMasks[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    code = lead & kLeadMasks[length];
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        code = (code << 6) | (next & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > kLastCodePoint ||
        (code >= kFirstSurrogate && code <= kLastSurrogate)) {
        return false;
    }
    at += length;
    return true;
}

void host_append_utf16(std::u16string& units, char32_t code) {
    if (code <= kLastThreeBytes) {
        units += static_cast<char16_t>(code);
        return;
    }
    code -= kFirstSupplementary;
    units += static_cast<char16_t>(kFirstSurrogate + (code >> kSurrogateBits));
    units += static_cast<char16_t>(kFirstLowSurrogate + (code & kSurrogateMask));
}

namespace {

// ---- case folding ---------------------------------------------------------------------------

// Latin Extended-A: pairs with the capital first, except in the two odd-first stretches.
wchar_t fold_latin_extended_a(wchar_t ch) {
    const bool odd_first = (ch >= 0x139 && ch <= 0x148) || (ch >= 0x179 && ch <= 0x17E);
    if (ch == 0x131) {
        return L'I'; // dotless i
    }
    if (ch == 0x138 || ch == 0x149 || ch == 0x17F) {
        return ch; // kra, n preceded by apostrophe, long s: no capital of their own
    }
    const bool lower = odd_first ? (ch % 2 == 0) : (ch % 2 == 1);
    return lower ? static_cast<wchar_t>(ch - 1) : ch;
}

wchar_t fold_greek_cyrillic(wchar_t ch) {
    if (ch == 0x3C2) {
        return 0x3A3; // final sigma
    }
    if ((ch >= 0x3B1 && ch <= 0x3C1) || (ch >= 0x3C3 && ch <= 0x3CB) ||
        (ch >= 0x430 && ch <= 0x44F)) {
        return static_cast<wchar_t>(ch - 0x20);
    }
    if (ch >= 0x450 && ch <= 0x45F) {
        return static_cast<wchar_t>(ch - 0x50);
    }
    return ch;
}

// ---- paths ----------------------------------------------------------------------------------

bool is_separator(wchar_t ch) {
    return ch == L'\\' || ch == L'/';
}

bool is_ascii_letter(wchar_t ch) {
    return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z');
}

bool has_drive_letter(const std::wstring& name) {
    return name.size() >= 2 && is_ascii_letter(name[0]) && name[1] == L':';
}

std::size_t last_separator(const std::wstring& name) {
    for (std::size_t i = name.size(); i > 0; --i) {
        if (is_separator(name[i - 1])) {
            return i - 1;
        }
    }
    return std::wstring::npos;
}

// Checks every character; the drive colon is not refused here (the drive is refused later).
DWORD check_name_chars(const std::wstring& name, bool allow_wildcards) {
    const std::size_t separator = last_separator(name);
    const std::size_t last_start = separator == std::wstring::npos ? 0 : separator + 1;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const wchar_t ch = name[i];
        if (i == 1 && has_drive_letter(name)) {
            continue;
        }
        if (allow_wildcards && i >= last_start && host_is_wildcard_char(ch)) {
            continue;
        }
        if (host_is_refused_name_char(ch)) {
            return ERROR_INVALID_NAME;
        }
    }
    return ERROR_SUCCESS;
}

// Windows drops trailing dots and blanks of the last component ("fw.log. " opens "fw.log"); a
// component of dots only ("." and "..") keeps them.
void drop_trailing_dots_and_blanks(std::wstring& name) {
    const std::size_t separator = last_separator(name);
    const std::size_t start = separator == std::wstring::npos ? 0 : separator + 1;
    if (name.find_first_not_of(L'.', start) == std::wstring::npos) {
        return;
    }
    while (name.size() > start && (name.back() == L'.' || name.back() == L' ')) {
        name.pop_back();
    }
}

std::vector<std::string> split_components(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char ch : path) {
        if (ch == '/') {
            if (!part.empty()) {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += ch;
        }
    }
    if (!part.empty()) {
        parts.push_back(part);
    }
    return parts;
}

bool entry_exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// The entry of the directory whose name equals the wanted one without regard to case; empty when
// there is none.
std::string find_entry_ignoring_case(const std::string& directory, const std::string& wanted) {
    std::wstring wanted_wide;
    if (!host_wide_from_utf8(wanted, wanted_wide)) {
        return {};
    }
    DIR* listing = ::opendir(directory.empty() ? "." : directory.c_str());
    if (listing == nullptr) {
        return {};
    }
    std::string best;
    std::wstring best_wide;
    while (const dirent* entry = ::readdir(listing)) {
        std::wstring wide;
        if (!host_wide_from_utf8(entry->d_name, wide) || !host_names_equal(wide, wanted_wide)) {
            continue;
        }
        if (best.empty() || host_name_less(wide, best_wide)) {
            best = entry->d_name;
            best_wide = wide;
        }
    }
    ::closedir(listing);
    return best;
}

std::string join_path(const std::string& directory, const std::string& name) {
    if (directory.empty()) {
        return name;
    }
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

} // namespace

std::string host_utf8_from_wide(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t ch : text) {
        append_utf8(out, static_cast<char32_t>(ch));
    }
    return out;
}

bool host_wide_from_utf8(std::string_view text, std::wstring& wide) {
    wide.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t code = 0;
        if (!host_decode_utf8(text, at, code)) {
            return false;
        }
        wide += static_cast<wchar_t>(code);
    }
    return true;
}

wchar_t host_fold_case(wchar_t ch) {
    if (ch >= L'a' && ch <= L'z') {
        return static_cast<wchar_t>(ch - (L'a' - L'A'));
    }
    if ((ch >= 0xE0 && ch <= 0xFE && ch != 0xF7)) {
        return static_cast<wchar_t>(ch - 0x20);
    }
    if (ch == 0xFF) {
        return 0x178;
    }
    if (ch == 0xB5) {
        return 0x39C; // micro sign
    }
    if (ch >= 0x100 && ch <= 0x17F) {
        return fold_latin_extended_a(ch);
    }
    if (ch >= 0x3B1 && ch <= 0x45F) {
        return fold_greek_cyrillic(ch);
    }
    return ch;
}

bool host_names_equal(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (host_fold_case(a[i]) != host_fold_case(b[i])) {
            return false;
        }
    }
    return true;
}

bool host_name_less(std::wstring_view a, std::wstring_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const wchar_t fa = host_fold_case(a[i]);
        const wchar_t fb = host_fold_case(b[i]);
        if (fa != fb) {
            return fa < fb;
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

bool host_is_refused_name_char(wchar_t ch) {
    switch (ch) {
    case L'<':
    case L'>':
    case L':':
    case L'"':
    case L'|':
    case L'?':
    case L'*':
        return true;
    default:
        return ch >= 1 && ch <= kLastControlChar;
    }
}

bool host_is_wildcard_char(wchar_t ch) {
    return ch == L'*' || ch == L'?';
}

DWORD host_path_from_windows(const wchar_t* name, bool allow_wildcards, std::string& host_path) {
    host_path.clear();
    if (name == nullptr || name[0] == L'\0') {
        return ERROR_PATH_NOT_FOUND;
    }
    std::wstring wide(name);
    const DWORD refused = check_name_chars(wide, allow_wildcards);
    if (refused != ERROR_SUCCESS) {
        return refused;
    }
    if (has_drive_letter(wide)) {
        return ERROR_PATH_NOT_FOUND; // the host has no drives: like a folder that does not exist
    }
    if (!allow_wildcards) {
        drop_trailing_dots_and_blanks(wide);
    }
    for (wchar_t& ch : wide) {
        if (ch == L'\\') {
            ch = L'/';
        }
    }
    host_path = host_resolve_case(host_utf8_from_wide(wide));
    return ERROR_SUCCESS;
}

std::string host_resolve_case(const std::string& path) {
    const bool absolute = !path.empty() && path.front() == '/';
    std::string resolved = absolute ? "/" : "";
    bool missing = false;
    for (const std::string& part : split_components(path)) {
        std::string next = join_path(resolved, part);
        if (!missing && part != "." && part != ".." && !entry_exists(next)) {
            const std::string found = find_entry_ignoring_case(resolved, part);
            missing = found.empty();
            next = join_path(resolved, missing ? part : found);
        }
        resolved = next;
    }
    if (!path.empty() && path.back() == '/' && !resolved.empty() && resolved.back() != '/') {
        resolved += '/';
    }
    return resolved.empty() ? std::string(".") : resolved;
}

void host_split_path(const std::string& path, std::string& directory, std::string& name) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        directory = ".";
        name = path;
        return;
    }
    directory = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
}

std::string host_canonical_path(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) != nullptr) {
        return buffer;
    }
    std::string directory;
    std::string name;
    host_split_path(path, directory, name);
    if (::realpath(directory.c_str(), buffer) == nullptr) {
        return {};
    }
    return join_path(buffer, name);
}
