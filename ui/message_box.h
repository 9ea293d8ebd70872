// The program's own message boxes and tips. The themed box is a dialog
// (ui/dialog.h) over its owner; the plain box and the tip are the repair
// tool's and any window's.
#pragma once

#include <cstdint>

#include "ui/dialog.h"
#include "ui/window.h"

// The kinds of the boxes: which buttons they show.
struct BoxKind {
    static constexpr int Ok = 0;            // "OK"
    static constexpr int YesNo = 1;         // "Yes", "No"
    static constexpr int OkCancel = 2;      // "OK", "Cancel" (plain box only)
    static constexpr int YesNoCancel = 3;   // "Yes", "No", "Cancel" (plain box only)
    static constexpr int Tip = 4;           // no buttons: a message tip
};

// A dialog over the owner, 355 wide and `height` high. BoxKind::Ok shows
// "OK", BoxKind::YesNo "Yes" and "No"; 1 for "OK" or "Yes", 0 for anything
// else (Esc answers with the last button).
int ThemedMessageBox(const wchar_t* text, int kind, int height, DialogOwner& owner);

// Kinds 0 to 3: "OK"; "Yes", "No"; "OK", "Cancel"; "Yes", "No", "Cancel".
// 1 for "OK" and "Yes", 0 for "No" or a close, -1 for "Cancel". A width
// under 160 gives 360. While the box is open the owner's event record takes
// the box's events.
int PlainMessageBox(DialogOwner& owner, const wchar_t* text, int kind, int height, int width);

// A small popup over the owner's client area with the title before "||" and
// the body after it, until the operator's next action. 1 when an action
// closed it, and that action's event is then waiting in the owner's event
// record; 0 when the tip could not be shown or went with its owner.
// Both take their events through the step common to every dialog
// (FilterDialogEvent): the end of the session is refused while the owner
// is busy and ends them otherwise.
int MessageTip(DialogOwner& owner, const wchar_t* text, int width, int height);

