/* Asks the running Windows (or Wine) how GetPrivateProfileIntW reads each value shape of
 * profile_cases.h, and says where its answer differs from the table. Run it in an empty folder:
 * it writes one ini file per case there.
 *
 *   x86_64-w64-mingw32-gcc -municode -O1 -o profile_probe.exe tests/tools/wine/profile_probe.c
 *   wine profile_probe.exe
 *
 * Output: one line per case, "name<TAB>result<TAB>expected<TAB>ok|DIFFERS", then a summary.
 * Exit code 0 when every result equals the table, 1 otherwise. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "profile_cases.h"

enum { PATH_CAPACITY = 1024, TEXT_CAPACITY = 4096, NAME_CAPACITY = 128 };

static const unsigned char kUtf8Bom[] = {0xEF, 0xBB, 0xBF};
static const unsigned char kUtf16LeBom[] = {0xFF, 0xFE};
static const unsigned char kUtf16BeBom[] = {0xFE, 0xFF};

static int write_bytes(HANDLE file, const void* bytes, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, NULL) && written == size;
}

/* The content as UTF-16 code units in the byte order asked for. */
static int write_utf16(HANDLE file, const char* content, size_t size, int big_endian) {
    static WCHAR units[TEXT_CAPACITY];
    static unsigned char bytes[TEXT_CAPACITY * 2];
    int count = 0;
    int i;
    if (size > 0) {
        count = MultiByteToWideChar(CP_UTF8, 0, content, (int)size, units, TEXT_CAPACITY);
        if (count <= 0) {
            return 0;
        }
    }
    for (i = 0; i < count; ++i) {
        unsigned char low = (unsigned char)(units[i] & 0xFF);
        unsigned char high = (unsigned char)(units[i] >> 8);
        bytes[2 * i] = big_endian ? high : low;
        bytes[2 * i + 1] = big_endian ? low : high;
    }
    return write_bytes(file, bytes, (DWORD)(count * 2));
}

static int write_case_file(const WCHAR* path, int encoding, const char* content, size_t size) {
    HANDLE file;
    int ok = 1;
    if (encoding == PROFILE_NO_FILE) {
        return 1;
    }
    if (encoding == PROFILE_FOLDER) {
        return CreateDirectoryW(path, NULL);
    }
    file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    switch (encoding) {
    case PROFILE_UTF8_BOM:
        ok =
            write_bytes(file, kUtf8Bom, sizeof kUtf8Bom) && write_bytes(file, content, (DWORD)size);
        break;
    case PROFILE_UTF16LE_BOM:
        ok = write_bytes(file, kUtf16LeBom, sizeof kUtf16LeBom) &&
             write_utf16(file, content, size, 0);
        break;
    case PROFILE_UTF16LE:
        ok = write_utf16(file, content, size, 0);
        break;
    case PROFILE_UTF16BE_BOM:
        ok = write_bytes(file, kUtf16BeBom, sizeof kUtf16BeBom) &&
             write_utf16(file, content, size, 1);
        break;
    default:
        ok = write_bytes(file, content, (DWORD)size);
        break;
    }
    CloseHandle(file);
    return ok;
}

/* One case: its own file (the profile reader caches files by name), then the question. */
static int probe_case(const char* name, int encoding, const char* content, size_t size,
                      const char* section, const char* key, int default_value, UINT expected) {
    WCHAR directory[PATH_CAPACITY];
    WCHAR path[PATH_CAPACITY];
    WCHAR wide_section[NAME_CAPACITY];
    WCHAR wide_key[NAME_CAPACITY];
    UINT result;
    DWORD length = GetCurrentDirectoryW(PATH_CAPACITY, directory);
    if (length == 0 || length >= PATH_CAPACITY - NAME_CAPACITY) {
        printf("%s\tcannot read the current directory\n", name);
        return 0;
    }
    _snwprintf(path, PATH_CAPACITY, L"%ls\\case_%S.ini", directory, name);
    path[PATH_CAPACITY - 1] = 0;
    MultiByteToWideChar(CP_UTF8, 0, section, -1, wide_section, NAME_CAPACITY);
    MultiByteToWideChar(CP_UTF8, 0, key, -1, wide_key, NAME_CAPACITY);
    if (!write_case_file(path, encoding, content, size)) {
        printf("%s\tcannot write the case file\n", name);
        return 0;
    }
    result = GetPrivateProfileIntW(wide_section, wide_key, default_value, path);
    printf("%s\t%u\t%u\t%s\n", name, result, expected, result == expected ? "ok" : "DIFFERS");
    return result == expected;
}

int wmain(void) {
    int cases = 0;
    int agreeing = 0;
#define PROFILE_CASE(name, encoding, content, section, key, default_value, expected)               \
    ++cases;                                                                                       \
    agreeing += probe_case(#name, encoding, content, sizeof(content) - 1, section, key,            \
                           default_value, expected);
    PROFILE_CASES
#undef PROFILE_CASE
    printf("%d of %d cases as the table says\n", agreeing, cases);
    return agreeing == cases ? 0 : 1;
}
