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

// False when nobody could see a box, where it would wait for ever: the process runs in session 0
// (services, a deployment tool's SYSTEM account) or in a window station that is not visible.
bool _boxes_can_be_answered();

} // namespace norvane
