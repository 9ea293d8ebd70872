// Test support: GDI+ for the test run, and pictures of what is on the screen.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "ui/window.h"

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

// The visible top-level window of the class, waiting up to five seconds.
HWND WaitForWindow(const wchar_t* className);
// The first child of the class with exactly that text, or null.
HWND ChildWithText(HWND parent, const wchar_t* className, const wchar_t* text);

// Plays the operator on a thread of its own: waits for the popup, lets it
// paint, acts on it. If the popup is still there long after, it is asked to
// close so that a failing test ends instead of hanging.
class Operator {
public:
    Operator(const wchar_t* className, std::function<void(HWND)> act)
        : thread_([this, className, act] {
              HWND popup = WaitForWindow(className);
              found_ = popup;
              if (popup == nullptr)
                  return;
              Sleep(250);
              act(popup);
              for (int i = 0; i < 300 && IsWindow(popup) && IsWindowVisible(popup); ++i)
                  Sleep(10);
              if (IsWindow(popup) && IsWindowVisible(popup)) {
                  stuck_ = true;
                  PostMessageW(popup, kCloseRequestMessage, 0, 0);
              }
          })
    {
    }
    ~Operator() { Finish(); }
    void Finish()
    {
        if (thread_.joinable())
            thread_.join();
    }
    HWND Found() const { return found_; }
    bool Stuck() const { return stuck_; }

private:
    std::atomic<HWND> found_{nullptr};
    std::atomic<bool> stuck_{false};
    std::thread thread_;
};

