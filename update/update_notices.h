// What the update engine tells the user. The engine draws no box itself: the application supplies
// these functions, so that the engine runs the same under the dialog and silently (where a box is
// never shown).
#pragma once

namespace norvane {

struct UpdateNotices {
    void (*show_warning)(const wchar_t* text);       // "Warning" with its icon
    void (*show_plain_warning)(const wchar_t* text); // "Warning" without an icon
    void (*show_result)(const wchar_t* text, bool success);
};

// Defined by the application.
extern const UpdateNotices g_update_notices;

} // namespace norvane
