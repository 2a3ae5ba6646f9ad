// Text and path helpers of the host stand-ins: wide strings to and from UTF-8, the case folding
// that Windows name matching uses, and the mapping of the paths the product hands to the file
// calls onto the host file system.
//
// Path mapping, in short: a name is relative to the process's current directory; '\' and '/' both
// separate components; a drive-letter path ("X:\...", "X:name") names a drive the host does not
// have and fails like a missing folder (ERROR_PATH_NOT_FOUND); a name holding < > : " | ? * or a
// control character is refused (ERROR_INVALID_NAME); trailing dots and blanks of the last
// component are dropped as Windows drops them; and every existing component is found without
// regard to case, as on NTFS. A host absolute path such as "/tmp/x\Setting.ini" (the current
// directory as GetCurrentDirectoryW gives it, with a Windows-style suffix) is accepted as well.
#pragma once

#include <string>
#include <string_view>

#include "host/win32_host.h"

// Wide text as UTF-8 (the host's file names); code points that UTF-8 cannot carry become U+FFFD.
std::string host_utf8_from_wide(std::wstring_view text);

// UTF-8 as wide text; false (and a partial result) when the bytes are not valid UTF-8.
bool host_wide_from_utf8(std::string_view text, std::wstring& wide);

// Decodes the one UTF-8 sequence at text[at] and moves `at` past it; false for a malformed,
// overlong or truncated sequence, a surrogate or a code point past U+10FFFF (`at` is kept).
bool host_decode_utf8(std::string_view text, std::size_t& at, char32_t& code);

// Appends a code point as the UTF-16 code units Windows holds text in (a surrogate pair past
// U+FFFF).
void host_append_utf16(std::u16string& units, char32_t code);

// The upper-case form that name comparisons use: ASCII, Latin-1, Latin Extended-A, basic Greek
// and basic Cyrillic letters; every other character stands for itself.
wchar_t host_fold_case(wchar_t ch);

// Two names equal without regard to case (host_fold_case).
bool host_names_equal(std::wstring_view a, std::wstring_view b);

// Orders names as a directory listing shows them: by folded characters, then by exact ones.
bool host_name_less(std::wstring_view a, std::wstring_view b);

// True for the characters Windows refuses in a file name (wildcards included).
bool host_is_refused_name_char(wchar_t ch);

// True for '*' and '?'.
bool host_is_wildcard_char(wchar_t ch);

// Maps a Windows-style path onto a host path (relative or absolute, '/' separated, with each
// existing component in the spelling the host has). Returns ERROR_SUCCESS, or the error the
// file call reports: ERROR_PATH_NOT_FOUND for a null or empty name or a drive-letter path,
// ERROR_INVALID_NAME for a refused character. With allow_wildcards the last component may hold
// '*' and '?' (and keeps its trailing dots); they are still refused anywhere before it.
DWORD host_path_from_windows(const wchar_t* name, bool allow_wildcards, std::string& host_path);

// The path with each existing component replaced by the spelling the host has for it when the
// given spelling differs only in case (first such entry in listing order). Components from the
// first one that does not exist on are kept as given.
std::string host_resolve_case(const std::string& path);

// The directory part of a host path ("." when there is none) and its last component.
void host_split_path(const std::string& path, std::string& directory, std::string& name);

// The absolute, symlink-free form of a host path whose last component may not exist yet; empty
// when its directory does not exist.
std::string host_canonical_path(const std::string& path);
