#include "ui/message_boxes.h"

#include "app/run_options.h"
#include "platform/win32.h"

namespace norvane {

namespace {

constexpr const wchar_t* kTitleWarning = L"Warning";
constexpr const wchar_t* kTitleInformation = L"Information";
constexpr const wchar_t* kTitleQuestion = L"Question";
constexpr const wchar_t* kTitleResult = L"Result";

// MB_OK is 0: a style without MB_YESNO has the single OK button.
constexpr UINT kBoxWarning = MB_ICONWARNING;              // 0x30
constexpr UINT kBoxInformation = MB_ICONINFORMATION;      // 0x40
constexpr UINT kBoxQuestion = MB_YESNO | MB_ICONQUESTION; // 0x24
constexpr UINT kBoxPlain = MB_OK;                         // "Warning" without an icon
constexpr DWORD kServicesSession = 0;

// Shows a box unless the run is silent; returns the button pressed, or 0 when nothing was shown.
int show_box(const wchar_t* text, const wchar_t* title, UINT style) {
    if (g_run_options.silent) {
        return 0;
    }
    // No owner: the box stays independent of the update dialog, which is not disabled under it.
    return MessageBoxW(nullptr, text, title, style);
}

} // namespace

void _show_warning(const wchar_t* text) {
    show_box(text, kTitleWarning, kBoxWarning);
}

void _show_plain_warning(const wchar_t* text) {
    show_box(text, kTitleWarning, kBoxPlain);
}

void _show_information(const wchar_t* text) {
    show_box(text, kTitleInformation, kBoxInformation);
}

void _show_result(const wchar_t* text, bool success) {
    show_box(text, kTitleResult, success ? kBoxInformation : kBoxWarning);
}

bool _ask_question(const wchar_t* text, bool& yes) {
    const int answer = show_box(text, kTitleQuestion, kBoxQuestion);
    yes = answer == IDYES;
    return answer != 0; // MessageBoxW answers 0 when it could not show the box
}

bool _boxes_can_be_answered() {
    // Nobody sees session 0 since Windows Vista, whatever window station a launcher names there.
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == kServicesSession) {
        return false;
    }
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
