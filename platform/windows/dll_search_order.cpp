// The DLL search order of the whole process, set before any code of ours runs. After it, a DLL
// loaded by name, by us or by a system DLL on our behalf, comes from the system directory only:
// never from the program's folder or the current folder, where a technician's download folder may
// hold a DLL of the same name. The static imports are bound before this runs; that is why the exe
// imports only KnownDLLs, which Windows always maps from the system directory.
//
// It runs as a TLS callback of the exe: the loader calls these at process attach, after the
// imported DLLs are initialised and before the entry point, so before the C runtime's initialisers,
// the C++ static constructors and wWinMain. ".CRT$XLB" sorts before the runtime's own callbacks.
#include "platform/win32.h"
#include "platform/windows/system_library.h"

namespace {

constexpr wchar_t kKernel32Dll[] = L"kernel32.dll";
constexpr DWORD kSystemDirectoryOnly = LOAD_LIBRARY_SEARCH_SYSTEM32;

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

void restrict_dll_search() {
    // kernel32 is mapped already; SetDefaultDllDirectories is looked up rather than imported so
    // that a Windows without it still starts the program. There, the system-directory-only loads
    // fail instead, and the empty DLL directory still drops the current folder from the search.
    const auto set_default_dll_directories = system_library::find<SetDefaultDllDirectoriesFunction>(
        GetModuleHandleW(kKernel32Dll), "SetDefaultDllDirectories");
    if (set_default_dll_directories != nullptr) {
        set_default_dll_directories(kSystemDirectoryOnly);
    }
    SetDllDirectoryW(L"");
}

void NTAPI on_tls_event(PVOID /*module*/, DWORD reason, PVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        restrict_dll_search();
    }
}

} // namespace

extern "C" const PIMAGE_TLS_CALLBACK norvane_dll_search_order_callback
    __attribute__((section(".CRT$XLB"), used)) = on_tls_event;
