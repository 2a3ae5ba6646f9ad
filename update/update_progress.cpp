#include "ui/resource_ids.h"
#include "update/flash_update.h"

void _step_progress(HWND dialog) {
    if (dialog == nullptr) {
        return;
    }
    SendMessageW(GetDlgItem(dialog, IDC_PROGRESS), PBM_STEPIT, 0, 0);
}
