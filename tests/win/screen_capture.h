// Test support: GDI+ for the test run, and pictures of what is on the screen.
#pragma once

#include <windows.h>

#include <string>

// Starts GDI+ for the whole test program.
void StartGdiplusForTests();

// Saves the screen around the window (a margin of `margin` pixels on each
// side) as "<name>.png" in the build's screenshot folder; the file's path,
// or empty when it could not be written.
std::wstring SaveScreenshot(HWND window, const wchar_t* name, int margin = 12);

// The colour (GDI 0x00BBGGRR) of a pixel of the screen.
COLORREF ScreenPixel(int x, int y);

// Clicks the left mouse button at a point of the screen, as the operator would.
void ClickAt(POINT screenPoint);
// The centre of a window on the screen.
POINT CentreOf(HWND window);
// Presses and releases a key, as the operator would.
void PressKey(WORD virtualKey);
