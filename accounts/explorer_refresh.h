// Showing a moved folder in the open Explorer windows, and the child window
// finder that reaches their views.
#pragma once

#include <windows.h>

// Sends F5 to the view of every open Explorer window and to the desktop;
// the number of windows refreshed.
int RefreshExplorerWindows(double osVersion);

// The descendant of `parent` that the pattern names (see ChildPattern),
// or null.
HWND FindChildControl(HWND parent, const wchar_t* pattern);
