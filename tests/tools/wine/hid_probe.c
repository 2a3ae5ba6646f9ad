/* hid_probe.exe: HID calls on one device interface, step by step, with the result of each (test
 * helper, Windows console). The Wine tests use it to see how Wine's hid.dll and hidclass answer
 * the calls the updater makes, removal included.
 *
 *     hid_probe.exe PATH STEP...
 *
 * Steps: "open" (CreateFileW with access 0 and read/write sharing, as the updater opens a
 * collection), "set HEX" (HidD_SetFeature with those bytes), "get LENGTH" (HidD_GetFeature into
 * a buffer of that length, byte 0 the report ID of the last set), "attributes"
 * (HidD_GetAttributes), "sleep MS", "close" (CloseHandle), "wait-removed MS" (until the path
 * no longer opens because it is not found, at most MS) and "hold ACCESS SHARE" (one more handle
 * on the path, opened with that desired access and share mode in hex and kept until the end, as
 * another program holds a collection open). One line per step: "ok", "ok HEX" for a get,
 * "ok VID PID VERSION" for attributes, or "error N" with GetLastError. hid.dll is loaded from
 * System32. Exit 0 when every step ran, 2 for bad usage. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#define MAX_REPORT 512
#define HEX_BASE 16
#define POLL_MS 50

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
} PROBE_ATTRIBUTES;

typedef BOOLEAN(WINAPI* FeatureCall)(HANDLE, PVOID, ULONG);
typedef BOOLEAN(WINAPI* AttributesCall)(HANDLE, PROBE_ATTRIBUTES*);

static FeatureCall g_set;
static FeatureCall g_get;
static AttributesCall g_attributes;
static UCHAR g_report_id;

static BOOL load_hid(void) {
    HMODULE hid = LoadLibraryExW(L"hid.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (hid == NULL) {
        return FALSE;
    }
    g_set = (FeatureCall)(void*)GetProcAddress(hid, "HidD_SetFeature");
    g_get = (FeatureCall)(void*)GetProcAddress(hid, "HidD_GetFeature");
    g_attributes = (AttributesCall)(void*)GetProcAddress(hid, "HidD_GetAttributes");
    return g_set != NULL && g_get != NULL && g_attributes != NULL;
}

static void report_error(void) {
    printf("error %lu\n", GetLastError());
}

static ULONG parse_hex(const wchar_t* text, UCHAR* bytes) {
    ULONG count = 0;
    while (*text != L'\0' && text[1] != L'\0' && count < MAX_REPORT) {
        const wchar_t pair[3] = {text[0], text[1], L'\0'};
        bytes[count++] = (UCHAR)wcstoul(pair, NULL, HEX_BASE);
        text += 2;
    }
    return count;
}

static void step_set(HANDLE device, const wchar_t* hex) {
    UCHAR report[MAX_REPORT];
    const ULONG length = parse_hex(hex, report);
    g_report_id = length > 0 ? report[0] : 0;
    if (g_set(device, report, length)) {
        printf("ok\n");
    } else {
        report_error();
    }
}

static void step_get(HANDLE device, const wchar_t* length_text) {
    UCHAR report[MAX_REPORT] = {0};
    ULONG length = wcstoul(length_text, NULL, 10);
    ULONG i;
    if (length > MAX_REPORT) {
        length = MAX_REPORT;
    }
    report[0] = g_report_id;
    if (!g_get(device, report, length)) {
        report_error();
        return;
    }
    printf("ok ");
    for (i = 0; i < length; ++i) {
        printf("%02X", report[i]);
    }
    printf("\n");
}

static void step_attributes(HANDLE device) {
    PROBE_ATTRIBUTES attributes;
    ZeroMemory(&attributes, sizeof(attributes));
    attributes.Size = sizeof(attributes);
    if (g_attributes(device, &attributes)) {
        printf("ok %04X %04X %04X\n", attributes.VendorID, attributes.ProductID,
               attributes.VersionNumber);
    } else {
        report_error();
    }
}

static HANDLE open_path(const wchar_t* path) {
    return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

/* Opens one more handle with the given access and share mode (hex); it stays open until the
 * probe ends. */
static void step_hold(const wchar_t* path, const wchar_t* access, const wchar_t* share) {
    const HANDLE handle = CreateFileW(path, wcstoul(access, NULL, HEX_BASE),
                                      wcstoul(share, NULL, HEX_BASE), NULL, OPEN_EXISTING, 0, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        report_error();
        return;
    }
    printf("ok\n");
}

static void step_wait_removed(const wchar_t* path, const wchar_t* limit_text) {
    const DWORD limit = wcstoul(limit_text, NULL, 10);
    DWORD waited = 0;
    for (;;) {
        HANDLE probe = open_path(path);
        if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
            printf("ok\n");
            return;
        }
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
            SetLastError(ERROR_SUCCESS);
        }
        if (waited >= limit) {
            report_error();
            return;
        }
        Sleep(POLL_MS);
        waited += POLL_MS;
    }
}

int wmain(int argc, wchar_t** argv) {
    HANDLE device = INVALID_HANDLE_VALUE;
    int i;
    if (argc < 3 || !load_hid()) {
        fprintf(stderr, "usage: hid_probe.exe PATH STEP...\n");
        return 2;
    }
    for (i = 2; i < argc; ++i) {
        const wchar_t* step = argv[i];
        const wchar_t* argument = i + 1 < argc ? argv[i + 1] : L"";
        if (wcscmp(step, L"open") == 0) {
            device = open_path(argv[1]);
            if (device == INVALID_HANDLE_VALUE) {
                report_error();
            } else {
                printf("ok\n");
            }
        } else if (wcscmp(step, L"set") == 0) {
            step_set(device, argument);
            ++i;
        } else if (wcscmp(step, L"get") == 0) {
            step_get(device, argument);
            ++i;
        } else if (wcscmp(step, L"attributes") == 0) {
            step_attributes(device);
        } else if (wcscmp(step, L"sleep") == 0) {
            Sleep(wcstoul(argument, NULL, 10));
            printf("ok\n");
            ++i;
        } else if (wcscmp(step, L"wait-removed") == 0) {
            step_wait_removed(argv[1], argument);
            ++i;
        } else if (wcscmp(step, L"hold") == 0 && i + 2 < argc) {
            step_hold(argv[1], argument, argv[i + 2]);
            i += 2;
        } else if (wcscmp(step, L"close") == 0) {
            if (CloseHandle(device)) {
                printf("ok\n");
            } else {
                report_error();
            }
            device = INVALID_HANDLE_VALUE;
        } else {
            fprintf(stderr, "hid_probe: unknown step\n");
            return 2;
        }
        fflush(stdout);
    }
    return 0;
}
