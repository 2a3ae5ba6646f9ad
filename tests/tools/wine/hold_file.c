/* hold_file.exe: holds a file open as another program would (test helper, Windows console).
 *
 *     hold_file.exe PATH
 *
 * Opens PATH for reading and shares nothing with other openers, prints "held" once it holds the
 * file, and keeps it until its standard input ends; then closes it and returns 0. When the file
 * cannot be opened it prints "hold_file: ..." to standard error and returns 1.
 */
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"hold_file: usage: hold_file.exe PATH\n");
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"hold_file: cannot open %ls (error %lu)\n", argv[1],
                 (unsigned long)GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    char line[64];
    while (fgets(line, sizeof line, stdin) != NULL) {
    }
    CloseHandle(file);
    return 0;
}
