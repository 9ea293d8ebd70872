// The program's own message boxes and tips, and the event filter through
// which every window of the account manager reads its events.
#pragma once

#include <cstdint>

#include "ui/window.h"

// What the common event filter must know of the main window. The main
// window registers it once its header exists and clears it before it goes.
struct MainHeader {
    UiWindow* window = nullptr;               // not owned
    int32_t closeButton = -1;
    int32_t minimiseButton = -1;
    int32_t helpLink = -1;
    int32_t versionLink = -1;
    const wchar_t* helpUrl = nullptr;         // not owned
    const wchar_t* aboutUrl = nullptr;        // not owned
    // Non-zero while a long operation runs that the end of the session must
    // not interrupt.
    const uint32_t* longOperation = nullptr;  // not owned
};
void SetMainHeader(const MainHeader& header);
void ClearMainHeader();
const MainHeader& MainWindowHeader();

// Kind 0 shows "OK", kind 1 "Yes" and "No"; 1 for "OK" or "Yes", 0 for
// anything else. Without an owner the box opens over the main window.
int ThemedMessageBox(const wchar_t* text, int kind, int height, UiWindow* owner = nullptr);

// Kinds 0 to 3: "OK"; "Yes", "No"; "OK", "Cancel"; "Yes", "No", "Cancel".
// 1 for "OK" and "Yes", 0 for "No" or a close, -1 for "Cancel". A width
// under 160 gives 360. While the box is open the owner's event record takes
// the box's events.
int PlainMessageBox(UiWindow* owner, const wchar_t* text, int kind, int height, int width);

// A small popup over the owner's client area with the title before "||" and
// the body after it, until the operator's next action. 1 when an action
// closed it, and that action's event is then waiting in the owner's event
// record; 0 when the tip could not be shown or went with its owner.
int MessageTip(UiWindow& owner, const wchar_t* text, int width, int height);

// Opens a web page or file with the shell (no verb, SW_SHOW); a process
// handle that comes back is closed at once. A page that cannot be opened is
// left silently.
void OpenPage(const wchar_t* address);

// The next event of a window of the account manager, after the handling
// common to all of them: the end of the session, and the main window's
// header (close, minimise, the help and version links).
int32_t FilterDialogEvent(UiWindow& dialog);
