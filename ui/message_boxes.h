// Every message box of the program: no owner window, shown only in an interactive run.
#pragma once

#include "platform/win32.h"

namespace norvane {

constexpr const wchar_t* kTitleWarning = L"Warning";
constexpr const wchar_t* kTitleInformation = L"Information";
constexpr const wchar_t* kTitleQuestion = L"Question";
constexpr const wchar_t* kTitleResult = L"Result";

// MB_OK is 0: a style without MB_YESNO has the single OK button.
constexpr UINT kBoxWarning = MB_ICONWARNING;              // 0x30
constexpr UINT kBoxInformation = MB_ICONINFORMATION;      // 0x40
constexpr UINT kBoxQuestion = MB_YESNO | MB_ICONQUESTION; // 0x24
constexpr UINT kBoxPlain = MB_OK;                         // "Warning" without an icon

// Shows a box unless the run is silent; returns the button pressed, or 0 when nothing was shown.
int _show_box(const wchar_t* text, const wchar_t* title, UINT style);

// The common kinds.
void _show_warning(const wchar_t* text);
void _show_plain_warning(const wchar_t* text);
void _show_information(const wchar_t* text);
void _show_result(const wchar_t* text, bool success);
// The update question. False when the box could not be shown; otherwise `yes` is true only for an
// explicit Yes.
bool _ask_question(const wchar_t* text, bool& yes);

// False when nobody could see a box: the process runs in a window station that is not visible (a
// service, or a deployment tool's SYSTEM account in session 0), where a box waits for ever.
bool _boxes_can_be_answered();

} // namespace norvane
