// kernel32 stand-ins for GetPrivateProfileIntW and GetPrivateProfileStringW, reading an ini file
// the way Wine 8.0 reads it.
// tests/tools/wine/profile_probe.c asked Wine about every shape in
// tests/tools/wine/profile_cases.h, and docs/profile-parsing.md explains the rules; in short:
// - the file is UTF-16 LE or BE, or UTF-8, by its byte-order mark, and Windows-1252 without one;
// - a line ends at CR, LF or CR LF, and at its first NUL; blanks (space, tab, CR, LF, VT, FF and
//   Ctrl-Z) around section names, keys and values are dropped; ';' and '#' mean nothing special;
// - "[name]" runs to the last ']' of the line; a line with '[' and no ']' is a key line;
// - names compare without regard to ASCII case only; the first section of a name is the only one
//   searched, and the first key of a name in it wins, even when it has no value;
// - a missing file, section or key, a key without '=', or an empty value gives the default;
// - the value is unquoted (one pair of matching ' or " quotes), cut to 29 characters, and read as
//   RtlUnicodeStringToInteger reads it with base 0: leading characters up to the blank skipped,
//   one sign, "0x" / "0o" / "0b" (lower case only), digits up to the first one the base does not
//   have, wrapping modulo 2^32;
// - a path without a folder names a file in the Windows folder, which the host does not have;
// - GetPrivateProfileStringW gives the value as the file holds it, one pair of matching quotes
//   removed, cut to the buffer; a key without "=" gives an empty text, a missing one the default.
#include <algorithm>
#include <fstream>
#include <optional>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "host/handles.h"
#include "sim/simulated_pc.h"
#include "host/wide_path.h"

namespace {

using Units = std::u16string; // the file's text in UTF-16 code units, as Windows holds it

constexpr std::size_t kValueCapacity = 30; // the reader's buffer: 29 characters and a terminator
constexpr std::size_t kMaxProfileBytes = 16 * 1024 * 1024;
constexpr char16_t kCtrlZ = 0x1A;
constexpr char16_t kReplacementUnit = 0xFFFD;
constexpr std::uint32_t kDecimalBase = 10;
constexpr std::uint32_t kHexBase = 16;
constexpr std::uint32_t kOctalBase = 8;
constexpr std::uint32_t kBinaryBase = 2;
constexpr std::uint32_t kFirstLetterDigit = 10;

// Windows-1252 at 0x80..0x9F; the rest of the code page equals Latin-1. Unassigned bytes keep
// their value, as the code page's best-fit table does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// ---- reading and decoding -------------------------------------------------------------------

bool read_whole_file(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) > kMaxProfileBytes) {
        ::close(fd);
        return false;
    }
    char chunk[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, chunk, sizeof(chunk))) > 0) {
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return got == 0;
}

Units decode_utf16(const std::string& bytes, std::size_t start, bool big_endian) {
    Units out;
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        out += static_cast<char16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
    }
    return out;
}

// UTF-8 one sequence at a time; a malformed byte becomes U+FFFD and decoding goes on after it.
Units decode_utf8(const std::string& bytes, std::size_t start) {
    Units out;
    std::size_t at = start;
    while (at < bytes.size()) {
        char32_t code = 0;
        if (host_decode_utf8(bytes, at, code)) {
            host_append_utf16(out, code);
        } else {
            out += kReplacementUnit;
            ++at;
        }
    }
    return out;
}

Units decode_cp1252(const std::string& bytes) {
    Units out;
    out.reserve(bytes.size());
    for (char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        out += (value >= 0x80 && value <= 0x9F) ? kCp1252High[value - 0x80]
                                                : static_cast<char16_t>(value);
    }
    return out;
}

bool starts_with(const std::string& bytes, const char* mark, std::size_t length) {
    return bytes.size() >= length && bytes.compare(0, length, mark, length) == 0;
}

Units decode_profile(const std::string& bytes) {
    if (starts_with(bytes, "\xFF\xFE", 2)) {
        return decode_utf16(bytes, 2, false);
    }
    if (starts_with(bytes, "\xFE\xFF", 2)) {
        return decode_utf16(bytes, 2, true);
    }
    if (starts_with(bytes, "\xEF\xBB\xBF", 3)) {
        return decode_utf8(bytes, 3);
    }
    return decode_cp1252(bytes);
}

// ---- lines, sections and keys ---------------------------------------------------------------

bool is_blank(char16_t unit) {
    return unit == u' ' || (unit >= u'\t' && unit <= u'\r') || unit == kCtrlZ;
}

Units trim(const Units& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_blank(text[begin])) {
        ++begin;
    }
    while (end > begin && is_blank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::vector<Units> split_lines(const Units& text) {
    std::vector<Units> lines;
    Units line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            lines.push_back(line);
            line.clear();
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
        } else {
            line += text[i];
        }
    }
    lines.push_back(line);
    return lines;
}

char16_t fold_ascii(char16_t unit) {
    return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
}

bool equal_ignoring_ascii_case(const Units& a, const Units& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold_ascii(a[i]) != fold_ascii(b[i])) {
            return false;
        }
    }
    return true;
}

// The section name of a "[name]" line; false for any other line.
bool section_name_of(const Units& line, Units& name) {
    if (line.empty() || line[0] != u'[') {
        return false;
    }
    const std::size_t close = line.rfind(u']');
    if (close == Units::npos) {
        return false;
    }
    name = trim(line.substr(1, close - 1));
    return true;
}

struct KeyLine {
    Units key;
    bool has_value;
    Units value;
};

KeyLine key_line_of(const Units& line) {
    const std::size_t equals = line.find(u'=');
    if (equals == Units::npos) {
        return {trim(line), false, {}};
    }
    return {trim(line.substr(0, equals)), true, trim(line.substr(equals + 1))};
}

// The first key of the name in the first section of the name. Lines before any section belong
// to a section without a name, which is therefore always the first one of that name.
bool find_entry(const Units& text, const Units& section, const Units& key, KeyLine& found) {
    bool in_section = section.empty();
    for (Units line : split_lines(text)) {
        line = trim(line.substr(0, line.find(u'\0')));
        Units name;
        if (section_name_of(line, name)) {
            if (in_section) {
                return false; // only the first section of the name is searched
            }
            in_section = equal_ignoring_ascii_case(name, section);
            continue;
        }
        if (!in_section || line.empty()) {
            continue;
        }
        KeyLine entry = key_line_of(line);
        if (equal_ignoring_ascii_case(entry.key, key)) {
            found = entry;
            return true;
        }
    }
    return false;
}

// ---- the value ------------------------------------------------------------------------------

// One pair of matching quotes goes; the copy holds at most 29 characters, and a closing quote
// is dropped only when it made it into the copy.
Units value_text(const Units& value) {
    const bool quoted =
        value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0];
    const Units rest = quoted ? value.substr(1) : value;
    Units copy = rest.substr(0, kValueCapacity - 1);
    if (quoted && kValueCapacity >= rest.size() && !copy.empty()) {
        copy.pop_back();
    }
    return copy;
}

std::uint32_t digit_value(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') {
        return unit - u'0';
    }
    if (unit >= u'a' && unit <= u'z') {
        return unit - u'a' + kFirstLetterDigit;
    }
    if (unit >= u'A' && unit <= u'Z') {
        return unit - u'A' + kFirstLetterDigit;
    }
    return UINT32_MAX;
}

std::uint32_t base_of_prefix(char16_t letter) {
    switch (letter) {
    case u'x':
        return kHexBase;
    case u'o':
        return kOctalBase;
    case u'b':
        return kBinaryBase;
    default:
        return 0;
    }
}

// The number at the start of the text: control characters and blanks skipped, one sign, an
// optional lower-case base prefix, digits up to the first one the base does not have.
std::uint32_t parse_number(const Units& text) {
    std::size_t at = 0;
    while (at < text.size() && text[at] <= u' ') {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
        negative = text[at] == u'-';
        ++at;
    }
    std::uint32_t base = kDecimalBase;
    if (at + 1 < text.size() && text[at] == u'0' && base_of_prefix(text[at + 1]) != 0) {
        base = base_of_prefix(text[at + 1]);
        at += 2;
    }
    std::uint32_t value = 0;
    for (; at < text.size() && digit_value(text[at]) < base; ++at) {
        value = value * base + digit_value(text[at]); // wraps modulo 2^32, as Windows' does
    }
    return negative ? 0u - value : value;
}

Units units_from_wide(const wchar_t* text) {
    Units out;
    for (; *text != L'\0'; ++text) {
        host_append_utf16(out, static_cast<char32_t>(*text));
    }
    return out;
}

bool names_a_folder(const wchar_t* path) {
    for (; *path != L'\0'; ++path) {
        if (*path == L'\\' || *path == L'/') {
            return true;
        }
    }
    return false;
}

// Another program that rewrites the file as soon as the program reads a key (scenario
// "settings_writer"), once: it opens it for writing, sharing reading and writing, so it gets in
// unless a handle of the program keeps writers out.
void let_the_writer_try(const std::string& host_path, const std::wstring& canonical) {
    std::optional<std::string>& writer = sim::pc().settings_writer;
    if (!writer.has_value()) {
        return;
    }
    const std::string text = *writer;
    writer.reset();
    for (const HandleEntry* entry : host_handles_all()) {
        if (entry->kind == HandleKind::File && entry->path == canonical &&
            !host_share_allows(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, entry->access,
                               entry->share)) {
            return;
        }
    }
    std::ofstream(host_path, std::ios::binary | std::ios::trunc) << text;
}

// Reads the file as a reader that shares read and write access with other handles would.
bool load_profile(const wchar_t* path, Units& text) {
    std::string host_path;
    if (!names_a_folder(path) || host_path_from_windows(path, false, host_path) != ERROR_SUCCESS) {
        return false;
    }
    std::wstring canonical;
    host_wide_from_utf8(host_canonical_path(host_path), canonical);
    let_the_writer_try(host_path, canonical);
    for (const HandleEntry* entry : host_handles_all()) {
        if (entry->kind == HandleKind::File && entry->path == canonical &&
            (entry->share & FILE_SHARE_READ) == 0) {
            return false;
        }
    }
    std::string bytes;
    if (!read_whole_file(host_path, bytes)) {
        return false;
    }
    text = decode_profile(bytes);
    return true;
}

} // namespace

extern "C" UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, int default_value,
                                      LPCWSTR path) {
    const auto fallback = static_cast<UINT>(default_value);
    Units text;
    if (section == nullptr || key == nullptr || path == nullptr || !load_profile(path, text)) {
        return fallback;
    }
    KeyLine entry;
    if (!find_entry(text, units_from_wide(section), units_from_wide(key), entry) ||
        !entry.has_value) {
        return fallback;
    }
    const Units value = value_text(entry.value);
    return value.empty() ? fallback : parse_number(value);
}

extern "C" DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR default_value,
                                          LPWSTR out, DWORD size, LPCWSTR path) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    Units value = default_value == nullptr ? Units{} : units_from_wide(default_value);
    Units text;
    KeyLine entry;
    if (section != nullptr && key != nullptr && path != nullptr && load_profile(path, text) &&
        find_entry(text, units_from_wide(section), units_from_wide(key), entry)) {
        const bool quoted = entry.value.size() >= 2 &&
                            (entry.value[0] == u'"' || entry.value[0] == u'\'') &&
                            entry.value.back() == entry.value[0];
        value = quoted ? entry.value.substr(1, entry.value.size() - 2) : entry.value;
    }
    const std::size_t length = std::min<std::size_t>(value.size(), size - 1);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] =
            static_cast<wchar_t>(value[i]); // UTF-16 code units, as a Windows program sees them
    }
    out[length] = L'\0';
    return static_cast<DWORD>(length);
}
