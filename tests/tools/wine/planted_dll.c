/* planted_dll.c: a DLL that poses as a system DLL (test helper, Windows DLL, never shipped).
 *
 * Built four times, as hid.dll (PLANTED_HID), version.dll (PLANTED_VERSION) and comctl32.dll
 * (PLANTED_COMCTL32), each exporting the functions of that DLL which NorvaneFwUpdater.exe uses,
 * so that a program importing them would load it without complaint, and as uxtheme.dll
 * (PLANTED_UXTHEME), which the system loads by name once a window opens. When a process loads it,
 * DllMain writes the marker file planted-NAME.txt (NAME being hid, version or comctl32) into the
 * current folder and into the folder of the process's exe, holding the path of that exe. Its
 * functions forward nothing: they fail (FALSE, 0, a HID error status, the null GUID).
 */
#include <windows.h>

#if defined(PLANTED_HID)
#define PLANTED_NAME L"hid"
#elif defined(PLANTED_VERSION)
#define PLANTED_NAME L"version"
#elif defined(PLANTED_COMCTL32)
#define PLANTED_NAME L"comctl32"
#elif defined(PLANTED_UXTHEME)
#define PLANTED_NAME L"uxtheme"
#else
#error "define PLANTED_HID, PLANTED_VERSION, PLANTED_COMCTL32 or PLANTED_UXTHEME"
#endif

#define MARKER_NAME L"planted-" PLANTED_NAME L".txt"
#define PATH_CHARS 1024
#define EXPORTED __declspec(dllexport)

/* Appends the exe path as UTF-8 and a line end to the marker file at PATH. */
static void write_marker(const wchar_t* path, const wchar_t* exe) {
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    char text[3 * PATH_CHARS + 2];
    int length = WideCharToMultiByte(CP_UTF8, 0, exe, -1, text, 3 * PATH_CHARS, NULL, NULL);
    length = length > 0 ? length - 1 : 0;
    text[length++] = '\r';
    text[length++] = '\n';
    DWORD written = 0;
    WriteFile(file, text, (DWORD)length, &written, NULL);
    CloseHandle(file);
}

/* The marker path beside the process's exe, from the exe path; FALSE when it does not fit. */
static BOOL marker_beside(const wchar_t* exe, wchar_t* path) {
    const wchar_t* slash = wcsrchr(exe, L'\\');
    size_t folder = slash == NULL ? 0 : (size_t)(slash - exe) + 1;
    size_t name = wcslen(MARKER_NAME);
    if (folder + name + 1 > PATH_CHARS) {
        return FALSE;
    }
    memcpy(path, exe, folder * sizeof(wchar_t));
    memcpy(path + folder, MARKER_NAME, (name + 1) * sizeof(wchar_t));
    return TRUE;
}

static void leave_markers(void) {
    wchar_t exe[PATH_CHARS];
    DWORD length = GetModuleFileNameW(NULL, exe, PATH_CHARS);
    if (length == 0 || length >= PATH_CHARS) {
        exe[0] = L'\0';
    }
    write_marker(MARKER_NAME, exe);
    wchar_t beside[PATH_CHARS];
    if (exe[0] != L'\0' && marker_beside(exe, beside)) {
        write_marker(beside, exe);
    }
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)module;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        leave_markers();
    }
    return TRUE;
}

#if defined(PLANTED_HID)

#define HIDP_STATUS_NOT_IMPLEMENTED ((LONG)0xC0110020)

EXPORTED void WINAPI HidD_GetHidGuid(GUID* guid) {
    ZeroMemory(guid, sizeof *guid);
}

EXPORTED BOOLEAN WINAPI HidD_GetAttributes(HANDLE device, void* attributes) {
    (void)device;
    (void)attributes;
    return FALSE;
}

EXPORTED BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE device, void** preparsed) {
    (void)device;
    (void)preparsed;
    return FALSE;
}

EXPORTED BOOLEAN WINAPI HidD_FreePreparsedData(void* preparsed) {
    (void)preparsed;
    return FALSE;
}

EXPORTED LONG WINAPI HidP_GetCaps(void* preparsed, void* caps) {
    (void)preparsed;
    (void)caps;
    return HIDP_STATUS_NOT_IMPLEMENTED;
}

EXPORTED LONG WINAPI HidP_GetValueCaps(int report_type, void* value_caps, USHORT* count,
                                       void* preparsed) {
    (void)report_type;
    (void)value_caps;
    (void)count;
    (void)preparsed;
    return HIDP_STATUS_NOT_IMPLEMENTED;
}

EXPORTED BOOLEAN WINAPI HidD_SetFeature(HANDLE device, void* report, ULONG length) {
    (void)device;
    (void)report;
    (void)length;
    return FALSE;
}

EXPORTED BOOLEAN WINAPI HidD_GetFeature(HANDLE device, void* report, ULONG length) {
    (void)device;
    (void)report;
    (void)length;
    return FALSE;
}

#elif defined(PLANTED_VERSION)

EXPORTED DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR path, LPDWORD handle) {
    (void)path;
    (void)handle;
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
}

EXPORTED BOOL WINAPI GetFileVersionInfoW(LPCWSTR path, DWORD handle, DWORD size, LPVOID block) {
    (void)path;
    (void)handle;
    (void)size;
    (void)block;
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return FALSE;
}

EXPORTED BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* value, PUINT length) {
    (void)block;
    (void)sub_block;
    (void)value;
    (void)length;
    return FALSE;
}

#elif defined(PLANTED_COMCTL32)

EXPORTED BOOL WINAPI InitCommonControlsEx(const void* controls) {
    (void)controls;
    return FALSE;
}

#endif /* uxtheme.dll is loaded by name and its functions looked up: it needs no export here */
