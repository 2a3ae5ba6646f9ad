/* launch.exe: runs one program and reports its full exit code (test helper, Windows console).
 *
 *     launch.exe [--hidden-station] PROGRAM [ARGUMENTS...]
 *
 * Everything after launch.exe's own name on its command line is passed to CreateProcessW
 * unchanged, so the started program sees exactly the argument string that follows its name. The
 * program inherits the current directory, waits for nothing from us and is waited for without a
 * time limit (the caller sets one). When it has ended, launch.exe prints one line
 *
 *     exit CODE
 *
 * with the full 32-bit exit code in decimal, and returns that code too. A shell sees only its
 * low 8 bits (1603 arrives as 67), which is why the printed line is the one to read. When the
 * program cannot be started, launch.exe prints "launch: ..." to standard error and returns 255
 * without an "exit" line.
 *
 * With --hidden-station the program runs on a desktop of a window station of its own, which is
 * not visible (no WSF_VISIBLE), as a service or a deployment tool's SYSTEM account in session 0
 * runs it: nobody sees its windows.
 */
#include <windows.h>
#include <stdio.h>

/* The command line without our own program name: skips the first word the way the C runtime
 * parses it (quotes group, no escapes in the program name), then the blanks after it. */
static const wchar_t* skip_program_name(const wchar_t* p) {
    int quoted = 0;
    while (*p != L'\0') {
        if (*p == L'"') {
            quoted = !quoted;
        } else if ((*p == L' ' || *p == L'\t') && !quoted) {
            break;
        }
        ++p;
    }
    while (*p == L' ' || *p == L'\t') {
        ++p;
    }
    return p;
}

static const wchar_t kHiddenStationOption[] = L"--hidden-station";
static wchar_t kHiddenDesktop[] = L"NorvaneHiddenStation\\Default";

/* A window station that is not visible, with a desktop "Default" in it; 0 on failure. */
static int make_hidden_station(void) {
    HWINSTA station = CreateWindowStationW(L"NorvaneHiddenStation", 0, WINSTA_ALL_ACCESS, NULL);
    if (station == NULL) {
        return 0;
    }
    HWINSTA own = GetProcessWindowStation();
    SetProcessWindowStation(station);
    HDESK desktop = CreateDesktopW(L"Default", NULL, NULL, 0, GENERIC_ALL, NULL);
    SetProcessWindowStation(own);
    return desktop != NULL;
}

int wmain(void) {
    const wchar_t* rest = skip_program_name(GetCommandLineW());
    int hidden = wcsncmp(rest, kHiddenStationOption, wcslen(kHiddenStationOption)) == 0;
    if (hidden) {
        rest = skip_program_name(rest);
    }
    if (*rest == L'\0') {
        fwprintf(stderr, L"launch: usage: launch.exe [--hidden-station] PROGRAM [ARGUMENTS...]\n");
        return 255;
    }
    if (hidden && !make_hidden_station()) {
        fwprintf(stderr, L"launch: cannot make a hidden window station (error %lu)\n",
                 (unsigned long)GetLastError());
        return 255;
    }

    /* CreateProcessW may write to the command line buffer, so pass a copy. */
    size_t length = wcslen(rest);
    wchar_t* command = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t));
    if (command == NULL) {
        fwprintf(stderr, L"launch: out of memory\n");
        return 255;
    }
    memcpy(command, rest, (length + 1) * sizeof(wchar_t));

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = hidden ? kHiddenDesktop : NULL;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);

    if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fwprintf(stderr, L"launch: cannot start \"%ls\" (error %lu)\n", command,
                 (unsigned long)GetLastError());
        HeapFree(GetProcessHeap(), 0, command);
        return 255;
    }
    HeapFree(GetProcessHeap(), 0, command);
    CloseHandle(process.hThread);

    DWORD code = 255;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &code)) {
        fwprintf(stderr, L"launch: cannot wait for the program (error %lu)\n",
                 (unsigned long)GetLastError());
        CloseHandle(process.hProcess);
        return 255;
    }
    CloseHandle(process.hProcess);

    printf("exit %lu\n", (unsigned long)code);
    fflush(stdout);
    return (int)code;
}
