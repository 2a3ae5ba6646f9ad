#include "app/updater_lock.h"

namespace norvane {

bool _take_updater_lock() {
    HANDLE lock = CreateMutexW(nullptr, FALSE, kUpdaterLockName);
    if (lock == nullptr) {
        return false;
    }
    const DWORD waited = WaitForSingleObject(lock, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(lock);
        return false;
    }
    g_updater_lock = lock;
    return true;
}

void _release_updater_lock() {
    if (g_updater_lock == nullptr) {
        return;
    }
    ReleaseMutex(g_updater_lock);
    CloseHandle(g_updater_lock);
    g_updater_lock = nullptr;
}

} // namespace norvane
