// The one frame and modal loop that every dialog of the account manager is
// built on: the themed message box, the about box, the password dialog and
// the dialogs that follow them.
//
// Writing a dialog:
//
//     bool MyDialog(DialogOwner& owner)
//     {
//         UiDialog dialog(owner);
//         DialogLook look = OutlinedLook(400, 300, 392, 292);     // black outline, white body
//         look.fills.push_back({4, 256, 392, 40, kBandColour, 0});  // extra bands and frames: data
//         if (!dialog.Create(look))          // popup "Vantrell_MsgBox", centred over the owner
//             return false;
//         int32_t ok = dialog.AddButton(L"OK", 270, 265, 80, 25, WS_VISIBLE | BS_DEFPUSHBUTTON);
//         dialog.Show(ok);                   // shown, "OK" focused
//         return dialog.RunModal([&](int32_t event) {   // false: the program is closing
//             return event == ok ? DialogStep::Done : DialogStep::Stay;
//         });
//     }                                      // the window goes with the object
//
// The owner's controls are locked around the dialog by the caller
// (`owner.Lock()`, `owner.Unlock()`), not by the dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "ui/dialog_owner.h"
#include "platform/images.h"
#include "ui/window.h"

// One rounded rectangle of a dialog's background, filled and outlined in
// its colour; an arc of 0 gives square corners.
struct DialogFill {
    int x = 0, y = 0, width = 0, height = 0;
    Gdiplus::ARGB colour = 0;
    int arc = 0;
};

// What a dialog looks like before its controls: its client size, the
// rectangles painted one over the other as its background, and the arc of
// the rounded cut of its corners.
struct DialogLook {
    int width = 0, height = 0;
    std::vector<DialogFill> fills;
    int outlineArc = 12;
    const wchar_t* className = L"Vantrell_MsgBox";
};

// The band colour of the boxes' button rows.
constexpr Gdiplus::ARGB kBandColour = 0xFFF0F0FF;

// The common look: opaque black under the whole client area with corner
// arcs of 4, and the white body of the given size at (4, 4), arcs of 4.
DialogLook OutlinedLook(int width, int height, int bodyWidth, int bodyHeight);

// Paints the look's fills into a bitmap of its size, makes it the window's
// background and cuts the corners. False when a step failed.
bool PaintDialogLook(UiWindow& window, const DialogLook& look);

// What a dialog answers after one of its events.
enum class DialogStep { Stay, Done };

class UiDialog : public UiWindow {
public:
    explicit UiDialog(DialogOwner& owner) : owner_(owner) {}
    ~UiDialog() override;

    // Creates the popup (empty title) of the look's client size over the
    // owner, with the default font Arial 9 pt, weight 400; paints the look,
    // centres it over the owner and records it in the owner's popup list.
    // From now on it is the owner's active dialog. False when the window
    // could not be created.
    bool Create(const DialogLook& look);

    // Shows the dialog and gives `focus` (a control id, 0 for none) the focus.
    void Show(int32_t focus);

    // The modal loop of every dialog: each of the dialog's own events (a
    // control id, or a negative window event; never EventCode::None) goes to
    // `onEvent` until it answers DialogStep::Done (true), or until the dialog
    // is to close (false: the program is closing, the session ends, the
    // owner's close button, a broken queue), when `onEvent` is not called.
    bool RunModal(const std::function<DialogStep(int32_t event)>& onEvent);

    // One turn of that loop: waits for the next message and returns after it has been handled,
    // through the owner's common event filter:
    // - EventCode::Close when the dialog is to close (the program is
    //   closing, the session ends, the owner's close button, a broken queue);
    // - the dialog's own event (a control id, or a negative window event)
    //   while it is the owner's active dialog;
    // - EventCode::None for everything else (the owner's events, a box's,
    //   messages that carry no event).
    int32_t NextEvent();

    DialogOwner& Owner() { return owner_; }

    // Ends the dialog before the object goes: the window is destroyed and
    // the dialog it opened over (if any) is active again. Events that
    // reached that dialog meanwhile are dropped: they were meant for a
    // window that was not in charge.
    void Close();

private:
    DialogOwner& owner_;          // not owned
    UiWindow* previous_ = nullptr;   // not owned: the dialog active before this one
    bool active_ = false;
};
