// The event loop: one message at a time, with the keyboard handling that
// makes a window of controls behave like a dialog.
#include "ui/window.h"

namespace {

void PressControl(const ControlEntry& control)
{
    PostMessageW(GetParent(control.handle), WM_COMMAND, MAKEWPARAM(control.id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control.handle));
}

bool IsLinkLike(ControlKind kind) { return kind == ControlKind::Link || kind == ControlKind::LinkCheckControl; }

// Enter on a push button, a link or a drawn control that acts as one, and
// Space on the drawn ones (the system's own handle Space themselves), become
// a command carrying the control's id.
bool ActivateOnEnter(UiWindow& window, const MSG& message)
{
    const ControlEntry* control = window.ControlFromHandle(message.hwnd);
    if (control == nullptr)
        return false;
    bool pressed = message.wParam == VK_RETURN
                       ? control->pressable || control->kind == ControlKind::PushButton || IsLinkLike(control->kind)
                       : control->pressable;
    if (!pressed)
        return false;
    PressControl(*control);
    return true;
}

// Enter elsewhere in the window presses its default button, Esc its cancel
// control, as in a dialog; false when the window has no such control that
// is shown and enabled.
bool PressDefaultOrCancel(UiWindow& window, const MSG& message, HWND root)
{
    if (root != window.Handle())
        return false;
    const ControlEntry* target = nullptr;
    if (message.wParam == VK_ESCAPE) {
        target = window.CancelId() != 0 ? window.Control(window.CancelId()) : nullptr;
    } else {
        for (int32_t id = 1; id <= window.LastControlId() && target == nullptr; ++id) {
            const ControlEntry* control = window.Control(id);
            if (control != nullptr && control->kind == ControlKind::PushButton &&
                (GetWindowLongW(control->handle, GWL_STYLE) & BS_DEFPUSHBUTTON) != 0)
                target = control;
        }
    }
    if (target == nullptr || !IsWindowVisible(target->handle) || !IsWindowEnabled(target->handle))
        return false;
    PressControl(*target);
    return true;
}

bool IsMultiLineEdit(HWND control)
{
    wchar_t className[16] = L"";
    GetClassNameW(control, className, ARRAYSIZE(className));
    return EqualsNoCase(className, L"Edit") && (GetWindowLongW(control, GWL_STYLE) & ES_MULTILINE) != 0;
}

void Dispatch(UiWindow& window, MSG& message)
{
    bool enterOrEscape = message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE);
    bool press = message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_SPACE);
    if (press && ActivateOnEnter(window, message))
        return;

    HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    // Alt shows the access keys' underlines (hidden while the operator uses
    // the mouse), and with a letter uses one, as in a dialog.
    if (message.message == WM_SYSKEYDOWN && root != nullptr)
        SendMessageW(root, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
    if (message.message == WM_SYSCHAR && root != nullptr && SendMessageW(root, kAccessKeyMessage, message.wParam, 0) != 0)
        return;
    // The table's commands go to the window that owns the table, also when
    // the key was meant for another window (a tip is never focused).
    if (root != nullptr && window.Accelerators() != nullptr &&
        TranslateAcceleratorW(window.Handle(), window.Accelerators(), &message))
        return;
    if (enterOrEscape && !IsMultiLineEdit(message.hwnd) && PressDefaultOrCancel(window, message, root))
        return;
    // The dialog manager would turn Enter and Escape into commands for the ids
    // 1 and 2, which here are ordinary controls; it only gets the Tab keys and
    // the rest.
    bool forDialogManager = !enterOrEscape && !(message.message == WM_CHAR && message.wParam == L'\r' &&
                                                !IsMultiLineEdit(message.hwnd));
    if (forDialogManager && root != nullptr && IsDialogMessageW(root, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

int32_t TakePending(UiEvent& event)
{
    if (!event.pending)
        return EventCode::None;
    event.pending = false;
    return event.code;
}

}  // namespace

int32_t PumpEvents(UiWindow& window, PumpMode mode)
{
    UiEvent& event = window.Event();
    if (mode != PumpMode::Dispatch && event.pending)
        return TakePending(event);

    MSG message;
    if (mode == PumpMode::Wait) {
        BOOL result = GetMessageW(&message, nullptr, 0, 0);
        if (result == -1)
            return EventCode::QueueFailed;
        if (result == 0) {
            // Leave the quit request for the loops further out.
            PostQuitMessage(static_cast<int>(message.wParam));
            return EventCode::Close;
        }
    } else if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        return EventCode::None;
    }

    Dispatch(window, message);
    if (mode == PumpMode::Dispatch)
        return 1;
    return TakePending(event);
}

bool DrainWaitingEvents(UiWindow& window)
{
    UiEvent& event = window.Event();
    // Posted messages are taken before input, so whatever comes out before
    // the marker was already waiting.
    PostMessageW(window.Handle(), kDrainMarkerMessage, 0, 0);
    bool closing = false;
    for (;;) {
        // A message sent from another thread is new, not waiting: its event
        // belongs to the loop.
        if (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) != 0)
            break;
        MSG message;
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            break;
        if (message.message == kDrainMarkerMessage && message.hwnd == window.Handle())
            break;
        if (event.pending) {
            // Raised by a message sent while PeekMessageW looked: keep it.
            UiEvent sent = event;
            Dispatch(window, message);
            closing |= event.pending && event.code == EventCode::Close;
            event = sent;
            break;
        }
        Dispatch(window, message);
        closing |= event.pending && event.code == EventCode::Close;
        event.pending = false;
    }
    return closing;
}
