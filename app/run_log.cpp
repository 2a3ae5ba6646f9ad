// Formatting and the run log. The log file is opened, appended to and closed for every entry, so
// that each completed entry is on disk when _write_log returns.
#include "app/run_log.h"

#include <cstdarg>
#include <cwchar>
#include <string>
#include <string_view>
#include <type_traits>

#include "app/run_options.h"
#include "platform/win32.h"

namespace norvane {

namespace {

constexpr unsigned char kUnmappableByte = '?';
constexpr unsigned kHighestSingleByte = 0xFF;
constexpr std::size_t kNumberDigitsCapacity = 24;
constexpr unsigned kDecimalBase = 10;
constexpr unsigned kHexBase = 16;
constexpr DWORD kSingleLink = 1;
constexpr DWORD kNotARegularFile = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
constexpr const wchar_t* kFormatExitCode = L"Exit code = %d";
constexpr const wchar_t* kFormatCompleted = L"Completed:%d/%02d/%02d %02d:%02d:%02d\n";
constexpr const wchar_t* kFormatCommand = L"Command:%s";
constexpr const wchar_t* kFormatExecuted = L"Executed:%d/%02d/%02d %02d:%02d:%02d";

// Output cursor over a message buffer; characters past the capacity are dropped.
struct Writer {
    wchar_t* out;
    std::size_t capacity;
    std::size_t length;
};

void put(Writer& writer, wchar_t ch) {
    if (writer.length + 1 < writer.capacity) {
        writer.out[writer.length++] = ch;
    }
}

void put_string(Writer& writer, const wchar_t* text) {
    for (const wchar_t* p = text != nullptr ? text : L"(null)"; *p != L'\0'; ++p) {
        put(writer, *p);
    }
}

void put_number(Writer& writer, unsigned long long magnitude, bool negative, unsigned base,
                std::size_t min_width, bool zero_fill) {
    wchar_t digits[kNumberDigitsCapacity];
    std::size_t count = 0;
    do {
        const unsigned digit = static_cast<unsigned>(magnitude % base);
        digits[count++] =
            static_cast<wchar_t>(digit < kDecimalBase ? L'0' + digit : L'a' + digit - kDecimalBase);
        magnitude /= base;
    } while (magnitude != 0 && count < kNumberDigitsCapacity);
    const std::size_t width = count + (negative ? 1 : 0);
    if (negative && zero_fill) {
        put(writer, L'-');
    }
    for (std::size_t pad = width; pad < min_width; ++pad) {
        put(writer, zero_fill ? L'0' : L' ');
    }
    if (negative && !zero_fill) {
        put(writer, L'-');
    }
    while (count > 0) {
        put(writer, digits[--count]);
    }
}

// One conversion: "%[0][width][l]c".
struct Conversion {
    bool zero_fill;
    std::size_t width;
    wchar_t kind; // 's', 'd', 'x', '%', another character, or 0 at the end of the format
};

// Reads the conversion that starts after '%'; `next` is left after it.
Conversion read_conversion(const wchar_t* at, const wchar_t*& next) {
    Conversion conversion{false, 0, L'\0'};
    if (*at == L'0') {
        conversion.zero_fill = true;
        ++at;
    }
    while (*at >= L'0' && *at <= L'9') {
        conversion.width = conversion.width * kDecimalBase + static_cast<std::size_t>(*at - L'0');
        ++at;
    }
    if (*at == L'l') {
        ++at; // %ls is the same wide string as %s here
    }
    conversion.kind = *at;
    next = *at == L'\0' ? at : at + 1;
    return conversion;
}

void put_decimal(Writer& writer, int value, const Conversion& conversion) {
    const long long wide = value;
    put_number(writer, static_cast<unsigned long long>(wide < 0 ? -wide : wide), wide < 0,
               kDecimalBase, conversion.width, conversion.zero_fill);
}

int format_into(MessageBuffer& buffer, const wchar_t* format, va_list args) {
    Writer writer{buffer, kMessageCapacity, 0};
    for (const wchar_t* p = format; *p != L'\0';) {
        if (*p != L'%') {
            put(writer, *p++);
            continue;
        }
        const Conversion conversion = read_conversion(p + 1, p);
        switch (conversion.kind) {
        case L's':
            put_string(writer, va_arg(args, const wchar_t*));
            break;
        case L'd':
            put_decimal(writer, va_arg(args, int), conversion);
            break;
        case L'x':
            put_number(writer, va_arg(args, unsigned), false, kHexBase, conversion.width,
                       conversion.zero_fill);
            break;
        case L'%':
            put(writer, L'%');
            break;
        case L'\0':
            break; // a lone '%' at the end
        default:
            put(writer, L'%');
            put(writer, conversion.kind);
            break;
        }
    }
    buffer[writer.length] = L'\0';
    return static_cast<int>(writer.length);
}

// The program runs elevated, and a standard user may write the folder the log goes to: the log is
// appended only to a plain file of its own. The check is made on the handle that will be written,
// so nothing can be swapped in between the check and the append.
bool is_plain_single_file(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information)) {
        return false;
    }
    return (information.dwFileAttributes & kNotARegularFile) == 0 &&
           information.nNumberOfLinks == kSingleLink;
}

constexpr std::wstring_view kSeparators = L"\\/";

// Where the folders that may be made begin: after the server and share of a UNC path
// ("\\server\share\..."), else at the start. npos for a share without a folder.
std::size_t first_folder_separator(std::wstring_view path) {
    if (!path.starts_with(L"\\\\")) {
        return 0;
    }
    const std::size_t server_end = path.find_first_of(kSeparators, 2);
    return server_end == std::wstring_view::npos ? server_end
                                                 : path.find_first_of(kSeparators, server_end + 1);
}

// The folders on the way to the log that do not exist yet are made, one level at a time, so that
// a log folder named on the command line (LOGFILE=C:\Logs\fw.log) need not exist. A folder that
// cannot be made leaves the log unopened, as before. Drive roots, shares and the device
// namespaces ("\\?\", "\\.\") are left alone.
void make_log_folders(const wchar_t* path) {
    const std::wstring_view full(path);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) {
        return;
    }
    const std::size_t first = first_folder_separator(full);
    if (first == std::wstring_view::npos) {
        return;
    }
    for (std::size_t at = full.find_first_of(kSeparators, first + 1); at != std::wstring_view::npos;
         at = full.find_first_of(kSeparators, at + 1)) {
        const std::wstring folder(full.substr(0, at));
        if (folder.empty() || folder.back() == L':') {
            continue; // the root of a drive
        }
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return;
        }
    }
}

// The file the entries go to: log_path made full (GetFullPathNameW resolves ".." by its text, so
// that no folder is made that the path only passes through). A path that ends in a separator
// names a folder, not a file, and one whose full form does not fit names nothing: no log then.
bool take_log_file() {
    const std::wstring_view path(g_run_options.log_path);
    if (path.empty() || kSeparators.find(path.back()) != std::wstring_view::npos) {
        return false;
    }
    const DWORD length =
        GetFullPathNameW(g_run_options.log_path, kLogPathCapacity, g_run_options.log_file, nullptr);
    if (length == 0 || length >= kLogPathCapacity) {
        g_run_options.log_file[0] = L'\0';
        return false;
    }
    return true;
}

} // namespace

int _format_message(MessageBuffer& buffer, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = format_into(buffer, format, args);
    va_end(args);
    return written;
}

std::size_t _encode_log_text(const wchar_t* text, unsigned char* bytes, std::size_t capacity) {
    std::size_t count = 0;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        // A code unit as the unsigned value it is on Windows.
        const auto unit =
            static_cast<unsigned long>(static_cast<std::make_unsigned_t<wchar_t>>(*p));
        if (unit == L'\n') {
            if (count + 2 > capacity) {
                break;
            }
            bytes[count++] = '\r';
            bytes[count++] = '\n';
            continue;
        }
        if (count + 1 > capacity) {
            break;
        }
        bytes[count++] =
            unit <= kHighestSingleByte ? static_cast<unsigned char>(unit) : kUnmappableByte;
    }
    return count;
}

void _write_log(const wchar_t* text) {
    if (!g_run_options.log_enabled) {
        return;
    }
    // Readers welcome, writers not: a log viewer that holds the file open for reading (sharing
    // reading and writing) costs no entry, while no second writer gets in between two entries;
    // an entry is lost while another program holds the file for writing. A symbolic link,
    // junction or mount point is opened as itself, never followed (not even to create its missing
    // target), and refused.
    HANDLE file = CreateFileW(g_run_options.log_file, GENERIC_READ | FILE_APPEND_DATA,
                              FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    if (!is_plain_single_file(file)) {
        CloseHandle(file); // a log that cannot be opened safely: the entry is lost, the run goes on
        return;
    }
    // Every character may become two bytes (a line feed becomes CR LF), plus the entry's own.
    unsigned char bytes[kMessageCapacity * 2 + 2];
    std::size_t count = _encode_log_text(text, bytes, sizeof(bytes) - 2);
    bytes[count++] = '\r';
    bytes[count++] = '\n';
    DWORD written = 0;
    WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
    CloseHandle(file);
}

void _log_message(const wchar_t* format, ...) {
    MessageBuffer buffer{};
    va_list args;
    va_start(args, format);
    format_into(buffer, format, args);
    va_end(args);
    _write_log(buffer);
}

void _start_run_log(const wchar_t* arguments) {
    if (!g_run_options.log_enabled) {
        return;
    }
    if (take_log_file()) {
        make_log_folders(g_run_options.log_file);
    }
    _log_message(kFormatCommand, arguments);
    SYSTEMTIME now;
    GetLocalTime(&now);
    _log_message(kFormatExecuted, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                 now.wSecond);
}

void _log_exit_code(int code) {
    _log_message(kFormatExitCode, code);
}

void _log_completed() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    _log_message(kFormatCompleted, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                 now.wSecond);
}

bool _copy_wide(wchar_t* destination, std::size_t capacity, const wchar_t* source) {
    if (capacity == 0) {
        return false;
    }
    destination[0] = L'\0';
    return _append_wide(destination, capacity, source);
}

bool _append_wide(wchar_t* destination, std::size_t capacity, const wchar_t* source) {
    if (capacity == 0) {
        return false;
    }
    std::size_t length = 0;
    while (length < capacity && destination[length] != L'\0') {
        ++length;
    }
    if (length == capacity) { // an unterminated destination is terminated at its last place
        destination[capacity - 1] = L'\0';
        return false;
    }
    for (; *source != L'\0'; ++source) {
        if (length + 1 >= capacity) {
            destination[length] = L'\0';
            return false;
        }
        destination[length++] = *source;
    }
    destination[length] = L'\0';
    return true;
}

} // namespace norvane
