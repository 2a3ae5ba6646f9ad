// Every message box of the program: no owner window, shown only in an interactive run.
#pragma once

namespace norvane {

// "Warning" with its icon, "Warning" without an icon, "Information", and a result: "Result" with
// the information icon for a success, the warning icon for a failure.
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
