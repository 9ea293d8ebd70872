// The window tests' harness: GDI+ for the test run, pictures of what is on
// the screen, the operator's clicks and keys, waits on conditions, and the
// operator's thread that answers a popup.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/images.h"
#include "ui/window.h"

// Starts GDI+ for the whole test program.
void StartGdiplusForTests();

// The screen's DC, for reading what it shows (release it with ReleaseDC).
// Wine keeps what a window draws in its process until a thread there finds
// its message queue empty: the DC is taken once every window of this
// process has put its drawing on the screen.
HDC ScreenForReading();

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
// Presses and releases a key, as the operator would, with `modifier` (a
// key such as VK_MENU, 0 for none) held down around it.
void PressKey(WORD virtualKey, WORD modifier = 0);

// How long a window test waits for what it needs before it gives up: long
// enough for a machine whose cores are busy with other work; a wait that
// succeeds costs only the time until its condition holds.
constexpr DWORD kWaitLimitMs = 30000;

// Polls until `done` holds, up to `limitMs`; on a timeout it says on the
// error output what it waited for (`what`) and returns false.
bool WaitUntil(const char* what, const std::function<bool()>& done, DWORD limitMs = kWaitLimitMs);

// Waits until the window and its visible children have nothing left to paint.
bool WaitForPainted(HWND window);

// Waits until the popup has painted and its thread takes messages again:
// then it has done all it does before it waits for answers.
bool WaitForReady(HWND popup);

// A window of the test's own on the thread that runs the windows under
// test. A message posted to it waits in that thread's queue behind all that
// was posted there before: once it has been handled, so has all of that,
// and whatever each of those did at once on that thread (a box it showed is
// up). Made on the windows' thread, before they run; RoundTrip is called
// from another thread.
class QueueProbe {
public:
    QueueProbe();
    ~QueueProbe();
    QueueProbe(const QueueProbe&) = delete;
    QueueProbe& operator=(const QueueProbe&) = delete;
    // Posts the probe and waits until the windows' thread has handled it;
    // false after the wait limit.
    bool RoundTrip();

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
    std::atomic<unsigned> handled_{0};
    unsigned posted_ = 0;
};

// The operator's helpers, in a namespace of their own: the older window
// tests keep copies of some under the same names.
namespace harness {

// WaitUntil for a condition the assertion around the call names.
inline bool WaitFor(const std::function<bool()>& done, const char* what = "the condition asserted around the wait")
{
    return WaitUntil(what, done);
}

// The first visible top-level window of the class that `fits` accepts (any
// when there is no test), or null.
HWND VisibleWindow(const wchar_t* className, const std::function<bool(HWND)>& fits = nullptr);
// Waits for such a window and for it to be ready for the operator; null
// after the wait limit.
HWND WaitForPopup(const wchar_t* className, const std::function<bool(HWND)>& fits = nullptr);
// Waits until the window is closed or hidden.
bool WaitGone(HWND window);
// Waits until the window's thread takes messages again (it has handled all
// that was sent before) and, if it is still there, has painted.
bool WaitForIdle(HWND window);
// Presses a button of the window by its text and waits until the window has
// acted on it.
void Click(HWND window, const wchar_t* button);
// Selects or deselects a row of a list view as a click would.
void SelectRow(HWND list, int row, bool selected = true);
// The first row whose cell in the column is that text, or -1.
int RowWith(HWND list, int column, const std::wstring& text);
// The list image a row of a list view shows; -1 when unread.
int ListImage(HWND list, int row);
// Runs `run` on this thread while `script` plays the operator on another,
// once the first visible window of the class is ready; the window is then
// asked to close unless `run` has already returned. False when it never
// showed.
// While `script` runs, RoundTrip takes a QueueProbe through this thread's
// queue (see above); false when it was not handled.
bool RoundTrip();
bool RunWithOperatorOn(const wchar_t* className, const std::function<void()>& run,
                       const std::function<void(HWND)>& script);
// The window's text.
std::wstring TextOf(HWND window);
// The children of the class, in creation order.
std::vector<HWND> Children(HWND parent, const wchar_t* className);
// The child of the class whose top-left corner lies at (x, y) of the parent's
// client area, or null.
HWND ChildAt(HWND parent, const wchar_t* className, int x, int y);
// Presses a button of the window by its text, as a click would.
void Press(HWND window, const wchar_t* button);
// Waits for a box of the class (not `notThis`) with that button, gives back
// the box's text and presses the button; "(no box)" when none came.
std::wstring AnswerBox(const wchar_t* button, HWND notThis = nullptr, const wchar_t* className = L"Vantrell_MsgBox");
// Picks a file in the system's open-file dialog of that title as a person
// would: the path put into its name field, then Open; true once it closed.
bool ChooseInOpenFileDialog(const wchar_t* title, const std::wstring& path);
// True when the window's tooltip knows the control: pointing at it shows a tip.
bool HasTip(HWND window, HWND control);
// A pixel of a bitmap.
COLORREF BitmapPixel(HBITMAP bitmap, int x, int y);
// A pixel of a GDI+ bitmap (0xAARRGGBB).
Gdiplus::ARGB ImagePixel(Gdiplus::GpBitmap* image, int x, int y);
// An image's size as "<width>x<height>", "none" for no image.
std::string SizeText(Gdiplus::GpImage* image);
// Equal but for the rounding of scaling and colour depth.
bool Near(COLORREF a, COLORREF b);
// A picture of upright (or lying) stripes: red, green, blue, the green one
// in the middle and half of the whole.
UniqueImage StripedPicture(int width, int height, bool vertical);
// Saves the picture as a file of the extension's type; false when it could not.
bool SavePicture(Gdiplus::GpBitmap* picture, const std::wstring& path, const wchar_t* extension);
// What a pixel of the stripe pictures shows: 'W' white, 'R', 'G' or
// 'B' one of the stripes, '?' anything else.
char ColourKind(COLORREF colour);
// Removes every picture an earlier test gave the account: its JPEG set and
// that set's key, its legacy bitmap and the file handed to the shell.
void ForgetAccountPictures(const wchar_t* account);

}  // namespace harness

// The first child of the class with exactly that text, or null.
HWND ChildWithText(HWND parent, const wchar_t* className, const wchar_t* text);

// Plays the operator on a thread of its own: waits for the popup, lets it
// paint, acts on it. If the popup is still there long after, it is asked to
// close so that a failing test ends instead of hanging.
class Operator {
public:
    Operator(const wchar_t* className, std::function<void(HWND)> act)
        : thread_([this, className, act] {
              // Its test's own popup: a window of another program on the desktop is not it.
              HWND popup = harness::WaitForPopup(className, [](HWND window) {
                  DWORD process = 0;
                  GetWindowThreadProcessId(window, &process);
                  return process == GetCurrentProcessId();
              });
              found_ = popup;
              if (popup == nullptr)
                  return;
              act(popup);
              if (!WaitUntil("the popup to close after the operator acted",
                             [popup] { return !IsWindow(popup) || !IsWindowVisible(popup); })) {
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

