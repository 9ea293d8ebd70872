// What a screen reader learns about a control the program draws itself: a
// picture that acts as a button or link, a label that acts as a link, the
// two-part check control. The system's own proxy sees only a static
// control there, nameless and inert.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

struct CheckControlData;

// The roles the drawn controls play (the system's ROLE_SYSTEM_* values).
enum class DrawnRole : long {
    PushButton = 0x2B,    // ROLE_SYSTEM_PUSHBUTTON
    CheckButton = 0x2C,   // ROLE_SYSTEM_CHECKBUTTON
    Link = 0x1E,          // ROLE_SYSTEM_LINK
    List = 0x21,          // ROLE_SYSTEM_LIST
    ComboBox = 0x2E,      // ROLE_SYSTEM_COMBOBOX: a drop-down list named by its label, its value the choice
};

// From now on the control answers the system's accessibility request
// (WM_GETOBJECT for its client area) with `name`, `role`, its state
// (focusable, focused, unavailable, invisible, and for a check control
// checked) and a default action that presses it. `check` is the check
// control's shared record, null for the others. False when the control
// could not be subclassed.
bool ExposeDrawnControl(HWND control, const wchar_t* name, DrawnRole role,
                        std::shared_ptr<const CheckControlData> check = nullptr);

// While the control's window shows access keys, a line is drawn under the
// character at `position` of the control's name (-1: none): for a control
// whose own drawing underlines no access key, such as a link. False when
// the control was not exposed first.
bool MarkAccessKey(HWND control, int position);

// From now on the list view answers the accessibility request with `name`,
// the list role and one child per row, a list item named by the row's
// texts in `columns` joined by ", " (what a sighted operator reads on the
// row, whatever the view shows), selected and focused as the row is.
bool ExposeListRows(HWND list, const wchar_t* name, std::vector<int> columns);
