#include "ui/message_boxes.h"

#include "app/run_options.h"

namespace norvane {

int _show_box(const wchar_t* text, const wchar_t* title, UINT style) {
    if (g_run_options.silent) {
        return 0;
    }
    // No owner: the box stays independent of the update dialog, which is not disabled under it.
    return MessageBoxW(nullptr, text, title, style);
}

void _show_warning(const wchar_t* text) {
    _show_box(text, kTitleWarning, kBoxWarning);
}

void _show_plain_warning(const wchar_t* text) {
    _show_box(text, kTitleWarning, kBoxPlain);
}

void _show_information(const wchar_t* text) {
    _show_box(text, kTitleInformation, kBoxInformation);
}

void _show_result(const wchar_t* text, bool success) {
    _show_box(text, kTitleResult, success ? kBoxInformation : kBoxWarning);
}

bool _ask_question(const wchar_t* text, bool& yes) {
    const int answer = _show_box(text, kTitleQuestion, kBoxQuestion);
    yes = answer == IDYES;
    return answer != 0; // MessageBoxW answers 0 when it could not show the box
}

bool _boxes_can_be_answered() {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    if (station == nullptr ||
        !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) {
        return true; // nothing says otherwise: the run asks as it always has
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

} // namespace norvane
