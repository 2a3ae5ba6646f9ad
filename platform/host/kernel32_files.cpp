// kernel32 stand-ins for files and folders: CreateFileW, ReadFile, WriteFile, CloseHandle, the
// directory search, CreateDirectoryW, GetCurrentDirectoryW and GetModuleFileNameW, on the host file
// system.
//
// Behaviour kept from Windows:
// - names are mapped by host_path_from_windows (wide_path.h): relative to the current directory,
//   found without regard to case, drive-letter paths fail with ERROR_PATH_NOT_FOUND, refused
//   characters with ERROR_INVALID_NAME; device interface paths go to the device tree;
// - share modes are honoured between the handles of this process: a second open of the same file
//   fails with ERROR_SHARING_VIOLATION when either side's share mode does not allow the other's
//   access (share 0 is exclusive); an open with access 0 is not checked (host_share_allows);
// - a folder cannot be opened as a file (ERROR_ACCESS_DENIED) unless backup semantics are asked;
// - a handle with append access but no write-data access writes at the end of the file, always;
// - ReadFile at the end of the file succeeds with fewer bytes (0 at the very end);
// - the directory search lists folders as well as files, "." and ".." where Windows lists them
//   (in every folder but the root), matches '*' and '?' without regard to case, and returns the
//   names in listing order (host_name_less);
// - a pattern also matches a long name through its 8.3 short name: "*.bin" finds "fw.binx" as
//   FW~1.BIN (every short name here takes "~1"; Windows counts up when two would clash);
// - CreateFileW with FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link itself (a host symlink
//   stands for a Windows symbolic link, junction or mount point), which GetFileInformationByHandle
//   reports with FILE_ATTRIBUTE_REPARSE_POINT; it never follows the link, not even to create a
//   missing target. nNumberOfLinks counts the file's hard links.
// Not modelled: the DOS wildcard forms ("*." and a trailing '?' matching nothing), reserved device
// names (NUL, CON, COM1), the 260-character path limit.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <climits>
#include <string_view>
#include <vector>

#include "host/device_tree.h"
#include "host/handles.h"
#include "host/process.h"
#include "host/wide_path.h"
#include "sim/simulated_pc.h"

namespace {

constexpr DWORD kErrorInvalidFunction = 1;
constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorAlreadyExists = ERROR_ALREADY_EXISTS;
constexpr DWORD kTruncateExisting = 5;
constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kFlagBackupSemantics = 0x02000000;
constexpr int kLinkLoopError = ELOOP; // open(O_NOFOLLOW) on a symbolic link
constexpr DWORD kAttributeReadOnly = 0x01;
constexpr DWORD kAttributeArchive = 0x20;
constexpr mode_t kNewFileMode = 0666;

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01, and per second.
constexpr std::uint64_t kFileTimeEpochOffset = 116444736000000000ULL;
constexpr std::uint64_t kFileTimeTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kNanosecondsPerTick = 100;

constexpr std::size_t kFindNameCapacity = MAX_PATH;
constexpr const wchar_t* kProgramPath = L"C:\\Program Files\\Norvane\\NorvaneFwUpdater.exe";

// ---- errors ---------------------------------------------------------------------------------

DWORD error_from_errno(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return kErrorFileExists;
    case ENOSPC:
        return kErrorDiskFull;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// A missing file whose folder is missing too is a missing path, as Windows reports it.
DWORD missing_entry_error(const std::string& path) {
    std::string directory;
    std::string name;
    host_split_path(path, directory, name);
    struct stat info;
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_FILE_NOT_FOUND;
}

HANDLE fail_handle(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// ---- sharing --------------------------------------------------------------------------------

bool sharing_allows(const std::wstring& canonical, DWORD access, DWORD share) {
    for (const HandleEntry* entry : host_handles_all()) {
        if (entry->kind == HandleKind::File && entry->path == canonical &&
            !host_share_allows(access, share, entry->access, entry->share)) {
            return false;
        }
    }
    return true;
}

// ---- opening --------------------------------------------------------------------------------

struct OpenRequest {
    std::string path;
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD flags;
};

bool disposition_known(DWORD disposition) {
    return disposition >= CREATE_NEW && disposition <= kTruncateExisting;
}

int open_flags(const OpenRequest& request) {
    const bool reads = host_access_reads(request.access);
    const bool writes = host_access_writes(request.access);
    int flags = O_CLOEXEC;
    flags |= writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY;
    // Append access without write-data access: every write lands at the end.
    if ((request.access & FILE_APPEND_DATA) != 0 &&
        (request.access & (GENERIC_WRITE | kFileWriteData)) == 0) {
        flags |= O_APPEND;
    }
    if ((request.flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) {
        flags |= O_NOFOLLOW; // the link itself, never its target
    }
    switch (request.disposition) {
    case CREATE_NEW:
        return flags | O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
        return flags | O_CREAT | O_TRUNC;
    case OPEN_ALWAYS:
        return flags | O_CREAT;
    case kTruncateExisting:
        return flags | O_TRUNC;
    default:
        return flags;
    }
}

// A folder opens only with backup semantics, and only to be looked at.
HANDLE open_folder(const OpenRequest& request, const std::wstring& canonical) {
    if (request.disposition == CREATE_NEW) {
        return fail_handle(kErrorFileExists);
    }
    if ((request.flags & kFlagBackupSemantics) == 0 || host_access_writes(request.access) ||
        request.disposition == CREATE_ALWAYS || request.disposition == kTruncateExisting) {
        return fail_handle(ERROR_ACCESS_DENIED);
    }
    const int fd = ::open(request.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return fail_handle(error_from_errno(errno));
    }
    HandleEntry entry{};
    entry.kind = HandleKind::File;
    entry.fd = fd;
    entry.path = canonical;
    entry.access = request.access;
    entry.share = request.share;
    SetLastError(request.disposition == OPEN_ALWAYS ? kErrorAlreadyExists : ERROR_SUCCESS);
    return host_handle_new(entry);
}

// A symbolic link opened as itself: a handle that can be looked at (GetFileInformationByHandle)
// but neither read nor written, as a reparse point opened without following it.
HANDLE open_link_itself(const OpenRequest& request) {
    const int fd = ::open(request.path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return fail_handle(error_from_errno(errno));
    }
    HandleEntry entry{};
    entry.kind = HandleKind::File;
    entry.fd = fd;
    host_wide_from_utf8(request.path, entry.path);
    entry.access = request.access;
    entry.share = request.share;
    SetLastError(request.disposition == OPEN_ALWAYS ? kErrorAlreadyExists : ERROR_SUCCESS);
    return host_handle_new(entry);
}

bool is_link(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

HANDLE open_host_file(const OpenRequest& request) {
    if (!disposition_known(request.disposition)) {
        return fail_handle(ERROR_INVALID_PARAMETER);
    }
    if ((request.flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0 && is_link(request.path)) {
        return open_link_itself(request);
    }
    struct stat info;
    const bool exists = ::stat(request.path.c_str(), &info) == 0;
    if (!exists &&
        (request.disposition == OPEN_EXISTING || request.disposition == kTruncateExisting)) {
        return fail_handle(missing_entry_error(request.path));
    }
    const std::string canonical_utf8 = host_canonical_path(request.path);
    if (canonical_utf8.empty()) {
        return fail_handle(ERROR_PATH_NOT_FOUND);
    }
    std::wstring canonical;
    host_wide_from_utf8(canonical_utf8, canonical);
    if (exists && !sharing_allows(canonical, request.access, request.share)) {
        return fail_handle(ERROR_SHARING_VIOLATION);
    }
    if (exists && S_ISDIR(info.st_mode)) {
        return open_folder(request, canonical);
    }
    const int fd = ::open(request.path.c_str(), open_flags(request), kNewFileMode);
    if (fd < 0 && errno == kLinkLoopError && (request.flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) {
        return open_link_itself(request); // a link planted since the check above
    }
    if (fd < 0) {
        return fail_handle(errno == ENOENT ? missing_entry_error(request.path)
                                           : error_from_errno(errno));
    }
    HandleEntry entry{};
    entry.kind = HandleKind::File;
    entry.fd = fd;
    entry.path = canonical;
    entry.access = request.access;
    entry.share = request.share;
    const bool reopened =
        exists && (request.disposition == CREATE_ALWAYS || request.disposition == OPEN_ALWAYS);
    SetLastError(reopened ? kErrorAlreadyExists : ERROR_SUCCESS);
    return host_handle_new(entry);
}

// "\\?\..." and "\\.\..." name devices; one the device tree does not know does not exist.
bool is_device_namespace(const wchar_t* name) {
    return name[0] == L'\\' && name[1] == L'\\' && (name[2] == L'?' || name[2] == L'.') &&
           name[3] == L'\\';
}

// ---- the directory search -------------------------------------------------------------------

// '*' matches any run of characters (also none), '?' exactly one; letters without regard to case.
bool wildcard_match(std::wstring_view pattern, std::wstring_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::wstring_view::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == L'?' || host_fold_case(pattern[p]) == host_fold_case(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

constexpr std::size_t kShortBaseLength = 8;
constexpr std::size_t kShortExtensionLength = 3;
constexpr std::size_t kShortTailBaseLength = 6; // room for "~1"
constexpr const wchar_t* kShortNameTail = L"~1";

wchar_t upper_ascii(wchar_t ch) {
    return ch >= L'a' && ch <= L'z' ? static_cast<wchar_t>(ch - L'a' + L'A') : ch;
}

// The 8.3 short name Windows gives a long name: empty when the name is a short name already.
std::wstring short_name_of(const std::wstring& name) {
    if (name == L"." || name == L"..") {
        return {};
    }
    const std::size_t dot = name.rfind(L'.');
    const std::wstring base = dot == std::wstring::npos ? name : name.substr(0, dot);
    const std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot + 1);
    const bool fits = !base.empty() && base.size() <= kShortBaseLength &&
                      extension.size() <= kShortExtensionLength &&
                      base.find_first_of(L". ") == std::wstring::npos &&
                      extension.find(L' ') == std::wstring::npos;
    if (fits) {
        return {};
    }
    std::wstring result;
    for (const wchar_t ch : base) {
        if (ch != L'.' && ch != L' ' && result.size() < kShortTailBaseLength) {
            result.push_back(upper_ascii(ch));
        }
    }
    result += kShortNameTail;
    if (!extension.empty()) {
        result.push_back(L'.');
        for (std::size_t i = 0; i < extension.size() && i < kShortExtensionLength; ++i) {
            result.push_back(upper_ascii(extension[i]));
        }
    }
    return result;
}

bool name_matches(std::wstring_view pattern, const std::wstring& name) {
    if (wildcard_match(pattern, name)) {
        return true;
    }
    const std::wstring short_name = short_name_of(name);
    return !short_name.empty() && wildcard_match(pattern, short_name);
}

// "*.*" is every name on Windows, also names without a dot.
std::wstring effective_pattern(const std::wstring& pattern) {
    return pattern == L"*.*" ? std::wstring(L"*") : pattern;
}

struct FoundName {
    std::wstring name;
    DWORD attributes;
};

DWORD attributes_of(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    return (info.st_mode & S_IWUSR) == 0 ? (kAttributeArchive | kAttributeReadOnly)
                                         : kAttributeArchive;
}

// Every entry of the folder that matches, "." and ".." first (never in the root folder).
std::vector<FoundName> list_matches(const std::string& directory, const std::wstring& pattern) {
    std::vector<FoundName> found;
    DIR* listing = ::opendir(directory.c_str());
    if (listing == nullptr) {
        return found;
    }
    const bool root = host_canonical_path(directory) == "/";
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        std::wstring wide;
        const bool dots = name == "." || name == "..";
        // Names the host holds in no valid UTF-8 cannot be named back; longer ones do not fit.
        if ((dots && root) || !host_wide_from_utf8(name, wide) ||
            wide.size() >= kFindNameCapacity || !name_matches(pattern, wide)) {
            continue;
        }
        struct stat info;
        std::string full = directory;
        full.append("/").append(name);
        const DWORD attributes =
            ::stat(full.c_str(), &info) == 0 ? attributes_of(info) : kAttributeArchive;
        found.push_back({wide, attributes});
    }
    ::closedir(listing);
    std::sort(found.begin(), found.end(), [](const FoundName& a, const FoundName& b) {
        const bool a_dots = a.name == L"." || a.name == L"..";
        const bool b_dots = b.name == L"." || b.name == L"..";
        if (a_dots != b_dots) {
            return a_dots;
        }
        return host_name_less(a.name, b.name);
    });
    return found;
}

FILETIME file_time_from(const struct timespec& when) {
    const std::uint64_t ticks = kFileTimeEpochOffset +
                                static_cast<std::uint64_t>(when.tv_sec) * kFileTimeTicksPerSecond +
                                static_cast<std::uint64_t>(when.tv_nsec) / kNanosecondsPerTick;
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// Fills one result; sizes and times are read when the name is handed out.
void fill_find_data(const HandleEntry& search, std::size_t index, WIN32_FIND_DATAW* data) {
    std::memset(data, 0, sizeof(*data));
    const std::wstring& name = search.names[index];
    data->dwFileAttributes = search.attributes[index];
    const std::size_t length = std::min(name.size(), kFindNameCapacity - 1);
    std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(length), data->cFileName);
    data->cFileName[length] = L'\0';
    struct stat info;
    const std::string full = host_utf8_from_wide(search.path) + "/" + host_utf8_from_wide(name);
    if (::stat(full.c_str(), &info) != 0) {
        return;
    }
    data->ftCreationTime = file_time_from(info.st_mtim);
    data->ftLastAccessTime = file_time_from(info.st_atim);
    data->ftLastWriteTime = file_time_from(info.st_mtim);
    if (!S_ISDIR(info.st_mode)) {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    }
}

std::wstring wide_from_host(const std::string& text) {
    std::wstring wide;
    host_wide_from_utf8(text, wide);
    return wide;
}

// Copies a name with Windows' truncation rule for module names: at most size - 1 characters and
// a terminator; returns the characters copied, or size when the name was cut.
DWORD copy_module_name(const wchar_t* name, LPWSTR buffer, DWORD size) {
    const DWORD length = static_cast<DWORD>(std::wcslen(name));
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (length < size) {
        std::wmemcpy(buffer, name, length + 1);
        return length;
    }
    std::wmemcpy(buffer, name, size - 1);
    buffer[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

// The open file behind a handle, checked for a read or a write of `length` bytes; null (with the
// last error set) when the transfer may not start. The count of bytes done starts at 0.
HandleEntry* file_for_transfer(HANDLE file, bool write, const void* buffer, DWORD length,
                               LPDWORD done) {
    if (done != nullptr) {
        *done = 0;
    }
    HandleEntry* entry = host_handle_get(file, HandleKind::File);
    DWORD error = ERROR_SUCCESS;
    if (entry == nullptr) {
        error = ERROR_INVALID_HANDLE;
    } else if (!(write ? host_access_writes(entry->access) : host_access_reads(entry->access))) {
        error = ERROR_ACCESS_DENIED;
    } else if (buffer == nullptr && length > 0) {
        error = ERROR_INVALID_USER_BUFFER;
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    return entry;
}

// ---- full paths -----------------------------------------------------------------------------

bool is_separator(wchar_t ch) {
    return ch == L'\\' || ch == L'/';
}

// The root a path starts from, and where the rest begins: "\\\\server\\share" of a UNC path,
// "X:" of a drive path, "/" of a host path or a path from the root of the current drive; empty
// for a relative path.
std::wstring root_of(const std::wstring& path, std::size_t& rest) {
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        std::size_t end = 2;
        for (int component = 0; component < 2 && end < path.size(); ++component) {
            while (end < path.size() && !is_separator(path[end])) {
                ++end;
            }
            if (component == 0 && end < path.size()) {
                ++end;
            }
        }
        rest = end;
        std::wstring root = path.substr(0, end);
        std::replace(root.begin(), root.end(), L'/', L'\\');
        return root;
    }
    if (path.size() >= 2 && path[1] == L':') {
        rest = 2;
        return path.substr(0, 2);
    }
    rest = !path.empty() && is_separator(path[0]) ? 1 : 0;
    return rest == 1 ? L"/" : L"";
}

// Resolves "." and ".." by text, never above the root.
void add_components(const std::wstring& text, std::vector<std::wstring>& components) {
    std::wstring component;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        if (at < text.size() && !is_separator(text[at])) {
            component.push_back(text[at]);
            continue;
        }
        if (component == L"..") {
            if (!components.empty()) {
                components.pop_back();
            }
        } else if (!component.empty() && component != L".") {
            components.push_back(component);
        }
        component.clear();
    }
}

// The full path as Windows makes it, from the text alone: a relative name after the current
// directory, "." and ".." resolved, '\\' between components, trailing dots and blanks of the last
// component dropped, a trailing separator kept.
std::wstring full_path_of(const std::wstring& name) {
    std::size_t rest = 0;
    std::wstring root = root_of(name, rest);
    std::vector<std::wstring> components;
    if (root.empty()) {
        char host[PATH_MAX];
        if (::getcwd(host, sizeof(host)) == nullptr) {
            return L"";
        }
        const std::wstring current = wide_from_host(host);
        std::size_t current_rest = 0;
        root = root_of(current, current_rest);
        add_components(current.substr(current_rest), components);
    }
    add_components(name.substr(rest), components);
    if (!components.empty()) {
        std::wstring& last = components.back();
        while (!last.empty() && (last.back() == L'.' || last.back() == L' ')) {
            last.pop_back();
        }
    }
    std::wstring full = root;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0 || (!full.empty() && !is_separator(full.back()))) {
            full.push_back(L'\\');
        }
        full += components[i];
    }
    if (!components.empty() && is_separator(name.back())) {
        full.push_back(L'\\');
    }
    return full;
}

} // namespace

extern "C" {

// "\\\\?\\" paths are taken as they are; every other name is made full by text alone.
DWORD GetFullPathNameW(LPCWSTR name, DWORD length, LPWSTR buffer, LPWSTR* file_part) {
    if (name == nullptr || *name == L'\0') {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    const std::wstring full =
        std::wstring_view(name).starts_with(L"\\\\?\\") ? std::wstring(name) : full_path_of(name);
    const auto needed = static_cast<DWORD>(full.size());
    if (buffer == nullptr || length < needed + 1) {
        return needed + 1;
    }
    std::wmemcpy(buffer, full.c_str(), full.size() + 1);
    if (file_part != nullptr) {
        const std::size_t last = full.find_last_of(L"\\/");
        *file_part =
            last == std::wstring::npos || last + 1 == full.size() ? nullptr : buffer + last + 1;
    }
    return needed;
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES /*security*/,
                   DWORD disposition, DWORD flags, HANDLE /*template_file*/) {
    ++sim::pc().file_calls;
    if (name != nullptr && host_is_device_path(name)) {
        return host_open_device_path(name, access, share);
    }
    if (name != nullptr && is_device_namespace(name)) {
        return fail_handle(ERROR_FILE_NOT_FOUND);
    }
    OpenRequest request{{}, access, share, disposition, flags};
    const DWORD mapped = host_path_from_windows(name, false, request.path);
    if (mapped != ERROR_SUCCESS) {
        return fail_handle(mapped);
    }
    return open_host_file(request);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read,
              LPOVERLAPPED /*overlapped*/) {
    HandleEntry* entry = file_for_transfer(file, false, buffer, to_read, read);
    if (entry == nullptr) {
        return FALSE;
    }
    DWORD total = 0;
    while (total < to_read) {
        const ssize_t got = ::read(entry->fd, static_cast<char*>(buffer) + total, to_read - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return fail(errno == EISDIR ? kErrorInvalidFunction : error_from_errno(errno));
        }
        if (got == 0) {
            break; // the end of the file: success with what there was
        }
        total += static_cast<DWORD>(got);
        if (read != nullptr) {
            *read = total;
        }
    }
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD to_write, LPDWORD written,
               LPOVERLAPPED /*overlapped*/) {
    HandleEntry* entry = file_for_transfer(file, true, buffer, to_write, written);
    if (entry == nullptr) {
        return FALSE;
    }
    DWORD total = 0;
    while (total < to_write) {
        const ssize_t put =
            ::write(entry->fd, static_cast<const char*>(buffer) + total, to_write - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return fail(put == 0 ? kErrorDiskFull : error_from_errno(errno));
        }
        total += static_cast<DWORD>(put);
        if (written != nullptr) {
            *written = total;
        }
    }
    return TRUE;
}

// Kernel handles only: files, devices, mutexes and power requests. Searches, device lists,
// preparsed data and local memory have their own release calls, and CloseHandle refuses them as
// Windows does.
BOOL CloseHandle(HANDLE handle) {
    const HandleEntry* entry = host_handle_find(handle);
    if (entry == nullptr ||
        (entry->kind != HandleKind::File && entry->kind != HandleKind::Device &&
         entry->kind != HandleKind::Mutex && entry->kind != HandleKind::PowerRequest &&
         entry->kind != HandleKind::Timer)) {
        return fail(ERROR_INVALID_HANDLE);
    }
    host_close_kernel_object(*entry);
    host_handle_release(handle);
    return TRUE;
}

// What the open object is: a link opened as itself shows as a reparse point; the link count is the
// host's, so a second hard link to the file shows.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
    const HandleEntry* entry = host_handle_get(file, HandleKind::File);
    if (entry == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (information == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    struct stat info;
    if (::fstat(entry->fd, &info) != 0) {
        return fail(error_from_errno(errno));
    }
    std::memset(information, 0, sizeof(*information));
    information->dwFileAttributes =
        S_ISLNK(info.st_mode) ? FILE_ATTRIBUTE_REPARSE_POINT : attributes_of(info);
    information->ftCreationTime = file_time_from(info.st_mtim);
    information->ftLastAccessTime = file_time_from(info.st_atim);
    information->ftLastWriteTime = file_time_from(info.st_mtim);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    const auto index = static_cast<std::uint64_t>(info.st_ino);
    information->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    information->nFileIndexLow = static_cast<DWORD>(index & 0xFFFFFFFFu);
    information->dwVolumeSerialNumber = static_cast<DWORD>(info.st_dev);
    return TRUE;
}

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
    if (data == nullptr) {
        return fail_handle(ERROR_INVALID_PARAMETER);
    }
    std::string path;
    const DWORD mapped = host_path_from_windows(pattern, true, path);
    if (mapped != ERROR_SUCCESS) {
        return fail_handle(mapped);
    }
    std::string directory;
    std::string name;
    host_split_path(path, directory, name);
    struct stat info;
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return fail_handle(ERROR_PATH_NOT_FOUND);
    }
    const std::vector<FoundName> found =
        name.empty() ? std::vector<FoundName>{}
                     : list_matches(directory, effective_pattern(wide_from_host(name)));
    if (found.empty()) {
        return fail_handle(ERROR_FILE_NOT_FOUND);
    }
    HandleEntry entry{};
    entry.kind = HandleKind::Search;
    entry.path = wide_from_host(directory);
    for (const FoundName& match : found) {
        entry.names.push_back(match.name);
        entry.attributes.push_back(match.attributes);
    }
    entry.position = 1;
    HANDLE search = host_handle_new(entry);
    fill_find_data(*host_handle_get(search, HandleKind::Search), 0, data);
    SetLastError(ERROR_SUCCESS);
    return search;
}

BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* data) {
    HandleEntry* entry = host_handle_get(search, HandleKind::Search);
    if (entry == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (entry->position >= entry->names.size()) {
        return fail(ERROR_NO_MORE_FILES);
    }
    if (data == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    fill_find_data(*entry, entry->position++, data);
    return TRUE;
}

BOOL FindClose(HANDLE search) {
    if (host_handle_get(search, HandleKind::Search) == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    host_handle_release(search);
    return TRUE;
}

// One plain folder; its parent must exist. An existing name, folder or file, is
// ERROR_ALREADY_EXISTS; a missing parent ERROR_PATH_NOT_FOUND.
BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES /*security*/) {
    ++sim::pc().file_calls;
    sim::pc().folders_asked.emplace_back(name == nullptr ? L"" : name);
    std::string path;
    const DWORD mapped = host_path_from_windows(name, false, path);
    if (mapped != ERROR_SUCCESS) {
        return fail(mapped);
    }
    constexpr mode_t kNewFolderMode = 0777;
    if (::mkdir(path.c_str(), kNewFolderMode) != 0) {
        return fail(errno == EEXIST   ? ERROR_ALREADY_EXISTS
                    : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                      : error_from_errno(errno));
    }
    return TRUE;
}

// The host's current directory as it is ("/tmp/x"); the product appends "\Setting.ini" and the
// path mapping takes the mixed form back.
DWORD GetCurrentDirectoryW(DWORD length, LPWSTR buffer) {
    char host[PATH_MAX];
    if (::getcwd(host, sizeof(host)) == nullptr) {
        SetLastError(error_from_errno(errno));
        return 0;
    }
    const std::wstring wide = wide_from_host(host);
    const auto needed = static_cast<DWORD>(wide.size());
    if (buffer == nullptr || length < needed + 1) {
        return needed + 1; // too small: the size that would do, terminator included; no write
    }
    std::wmemcpy(buffer, wide.c_str(), wide.size() + 1);
    return needed;
}

// The program as an installed copy would be named; any module handle names the program.
DWORD GetModuleFileNameW(HMODULE /*module*/, LPWSTR buffer, DWORD size) {
    if (buffer == nullptr && size > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return copy_module_name(kProgramPath, buffer, size);
}

} // extern "C"
