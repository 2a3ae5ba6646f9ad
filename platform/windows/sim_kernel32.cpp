// CreateFileW and CloseHandle of NorvaneFwUpdaterSim.exe. Paths in the HID device namespace open
// simulated devices; every other path (the image, the run log, Setting.ini) and every other handle
// goes to the real kernel32 functions.
//
// The program calls kernel32 through the import-table slots that the SDK's dllimport declarations
// name (call *__imp_CreateFileW). This file defines those two slots itself, pointing at the
// functions below, so the linker takes them instead of the import library's: product code is
// compiled exactly as for the release exe, and only this build's link differs.
#include "windows/sim_world.h"

namespace {

HANDLE WINAPI sim_create_file(LPCWSTR path, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE template_file) {
    if (sim_is_device_path(path)) {
        return sim_open_device(path);
    }
    return sim_real_create_file(path, access, share, security, disposition, flags, template_file);
}

// A device handle is a real event handle as well; it is closed like any other once forgotten.
BOOL WINAPI sim_close_handle(HANDLE handle) {
    sim_release_device_handle(handle);
    return sim_real_close_handle(handle);
}

} // namespace

extern "C" {
decltype(&CreateFileW) __imp_CreateFileW = sim_create_file;
decltype(&CloseHandle) __imp_CloseHandle = sim_close_handle;
}
