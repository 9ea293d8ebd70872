// What the toolkit's dialogs and the account operations know of the window
// they open over: nothing but this small interface. The account manager's
// main window implements it; a test can implement it with a plain window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/control_rules.h"

class UiWindow;

// The owner's header controls that stay usable while a dialog is open, and
// the pages its links open. ControlId::None (or 0) means the owner has no
// such control; a null page is opened nowhere.
struct DialogHeader {
    int32_t closeButton = ControlId::None;
    int32_t minimiseButton = ControlId::None;
    int32_t helpLink = ControlId::None;
    int32_t versionLink = ControlId::None;
    const wchar_t* helpPage = nullptr;    // not owned
    const wchar_t* aboutPage = nullptr;   // not owned
};

class DialogOwner {
public:
    // The window the dialogs open over and whose events the common event
    // filter reads besides the dialog's own.
    virtual UiWindow& OwnerWindow() = 0;
    // Disables the owner's controls before a dialog or question, and
    // enables again exactly what was enabled.
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    virtual DialogHeader Header() const = 0;

    // The dialog that runs over this owner now, or null: the innermost one
    // when dialogs open over dialogs. Set by the dialogs themselves.
    UiWindow* ActiveDialog() const { return activeDialog_; }

    // True while a long operation runs that the end of the session must not
    // interrupt: while a BusyScope holds the owner.
    bool Busy() const { return busy_ != 0; }

    // Holds the owner (if any) busy for the scope's lifetime; scopes nest.
    // The first one given a reason hands it to the system for the owner's
    // window (ShutdownBlockReasonCreate) until the last hold ends.
    class BusyScope {
    public:
        explicit BusyScope(DialogOwner* owner, const wchar_t* blockReason = nullptr);
        ~BusyScope();
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        DialogOwner* owner_;   // not owned
    };

protected:
    DialogOwner() = default;
    ~DialogOwner() = default;
    DialogOwner(const DialogOwner&) = delete;
    DialogOwner& operator=(const DialogOwner&) = delete;

private:
    friend class UiDialog;
    UiWindow* activeDialog_ = nullptr;   // not owned
    uint32_t busy_ = 0;
    HWND blocked_ = nullptr;             // the window carrying the block reason; not owned
};

// The next event of a window of the account manager (the owner itself or a
// dialog over it), after the handling common to all of them; PumpMode::Wait
// waits for a message, PumpMode::IfAny handles one only when there is one
// (as PumpEvents; PumpMode::Dispatch is taken as Wait):
// - the end of the session becomes EventCode::Close, or is refused with
//   AbortSystemShutdownW and reported as EventCode::None while the owner is
//   busy;
// - the owner's header acts while a dialog is open: its close button gives
//   EventCode::Close, its minimise button minimises the owner, its help and
//   version links open their pages. Read on a dialog's behalf these report
//   EventCode::None, so that no dialog mistakes the owner's control id for
//   one of its own.
int32_t FilterDialogEvent(DialogOwner& owner, UiWindow& dialog, PumpMode mode = PumpMode::Wait);
