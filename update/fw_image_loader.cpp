// Finding and loading the single firmware image of the current directory.
#include <cstring>
#include <cwchar>

#include "app/run_log.h"
#include "platform/win32.h"
#include "update/fw_image.h"
#include "update/update_notices.h"

namespace norvane {

namespace {

constexpr const wchar_t* kImagePattern = L"*.bin";
constexpr const wchar_t* kImageExtension = L".bin";
constexpr std::size_t kImageExtensionLength = 4;
constexpr const wchar_t* kTextNoImage =
    L"Not Found .bin files.\nPlease locate one .bin file to the folder.";
constexpr const wchar_t* kTextSeveralImages =
    L"Found two or more .bin files.\nPlease locate one .bin file to the folder.";
constexpr const wchar_t* kTextOpenFailed = L"Failed bin file open";

// Reads exactly the image's size; a shorter file or a failing read refuses the image.
bool read_image_bytes(HANDLE file) {
    DWORD total = 0;
    while (total < kImageFileSize) {
        DWORD got = 0;
        if (!ReadFile(file, g_image_bytes + total, static_cast<DWORD>(kImageFileSize - total), &got,
                      nullptr) ||
            got == 0) {
            return false;
        }
        total += got;
    }
    return true;
}

wchar_t ascii_lower(wchar_t ch) {
    return ch >= L'A' && ch <= L'Z' ? static_cast<wchar_t>(ch - L'A' + L'a') : ch;
}

// The search pattern also matches through 8.3 short names ("fw.binx" is FW~1.BIN there); only a
// long name that really ends in ".bin" (any case) is an image.
bool has_image_extension(const wchar_t* name) {
    const std::size_t length = std::wcslen(name);
    if (length < kImageExtensionLength) {
        return false;
    }
    const wchar_t* tail = name + length - kImageExtensionLength;
    for (std::size_t i = 0; i < kImageExtensionLength; ++i) {
        if (ascii_lower(tail[i]) != kImageExtension[i]) {
            return false;
        }
    }
    return true;
}

// Looks for the single "*.bin" of the current directory; on true the image's file name is set.
// File-local, it keeps its operation's name (docs/architecture.md, "Names").
bool _find_bin_file() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(kImagePattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        g_update_notices.show_warning(kTextNoImage);
        return false;
    }
    // Folders count as matches too, and the count runs to the end of the search.
    unsigned matches = 0;
    wchar_t first_name[kImageNameCapacity] = L"";
    do {
        if (has_image_extension(found.cFileName)) {
            if (matches == 0) {
                _copy_wide(first_name, kImageNameCapacity, found.cFileName);
            }
            ++matches;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (matches == 0) {
        g_update_notices.show_warning(kTextNoImage);
        return false;
    }
    if (matches >= 2) {
        g_update_notices.show_plain_warning(kTextSeveralImages);
        return false;
    }
    _copy_wide(g_fw_image.file_name, kImageNameCapacity, first_name);
    return true;
}

} // namespace

bool _load_fw_image() {
    if (!_find_bin_file()) {
        return false;
    }
    HANDLE file = CreateFileW(g_fw_image.file_name, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        g_update_notices.show_warning(kTextOpenFailed);
        return false;
    }
    const bool complete = read_image_bytes(file);
    CloseHandle(file);
    // A short or unreadable file is refused like one that cannot be opened: programming it would
    // put bytes into main memory that the image never held.
    if (!complete || !_decode_fw_image(g_image_bytes, kImageFileSize, g_fw_image)) {
        g_update_notices.show_warning(kTextOpenFailed);
        return false;
    }
    return true;
}

} // namespace norvane
