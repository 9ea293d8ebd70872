#include "tests/win/screen_capture.h"

#include <commctrl.h>
#include <gdiplus.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include <filesystem>

#include "accounts/lookup.h"
#include "accounts/pictures.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "ui/drawing.h"
#include "platform/images.h"

namespace {

// Lives for the whole test program, so GDI+ is never stopped under a window.
ULONG_PTR gdiplusToken = 0;

std::wstring ScreenshotFolder()
{
    std::string path = VANTRELL_SCREENSHOT_DIR;
    std::wstring wide(path.begin(), path.end());
    return !wide.empty() && wide[0] == L'/' ? L"Z:" + wide : wide;
}

void SendMouse(DWORD flags, LONG x, LONG y)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.dx = x;
    input.mi.dy = y;
    SendInput(1, &input, sizeof(input));
}

}  // namespace

void StartGdiplusForTests()
{
    if (gdiplusToken != 0)
        return;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr);
}

HDC ScreenForReading()
{
    // A peek that finds nothing makes Wine put every window surface of this
    // process on the screen; the range is one no window here uses.
    MSG unused;
    PeekMessageW(&unused, nullptr, WM_APP + 0x3FFF, WM_APP + 0x3FFF, PM_NOREMOVE);
    return GetDC(nullptr);
}

std::wstring SaveScreenshot(HWND window, const wchar_t* name, int margin)
{
    RECT frame{};
    if (!GetWindowRect(window, &frame))
        return L"";
    int width = frame.right - frame.left + 2 * margin;
    int height = frame.bottom - frame.top + 2 * margin;
    HDC screen = ScreenForReading();
    UniqueMemoryDc copyDc(CreateCompatibleDC(screen));
    UniqueBitmap copy(CreateCompatibleBitmap(screen, width, height));
    if (copyDc && copy) {
        HGDIOBJ previous = SelectObject(copyDc.Get(), copy.Get());
        BitBlt(copyDc.Get(), 0, 0, width, height, screen, frame.left - margin, frame.top - margin, SRCCOPY);
        SelectObject(copyDc.Get(), previous);
    }
    ReleaseDC(nullptr, screen);
    if (!copy)
        return L"";

    UniqueImage picture;
    if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(copy.Get(), nullptr, picture.Put()) != Gdiplus::Ok)
        return L"";
    std::wstring folder = ScreenshotFolder();
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + L"\\" + name + L".png";
    // The PNG encoder's class id.
    const CLSID png = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    if (Gdiplus::DllExports::GdipSaveImageToFile(picture.Get(), path.c_str(), &png, nullptr) != Gdiplus::Ok)
        return L"";
    return path;
}

COLORREF ScreenPixel(int x, int y)
{
    HDC screen = ScreenForReading();
    COLORREF colour = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return colour;
}

void ClickAt(POINT screenPoint)
{
    SetCursorPos(screenPoint.x, screenPoint.y);
    // Each event carries the point: a button event without one lands where
    // the pointer is, and on a busy display a motion the X server reports
    // late can still put it back where the last click was.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    const LONG x = static_cast<LONG>((static_cast<LONGLONG>(screenPoint.x) * 65536 + width - 1) / width);
    const LONG y = static_cast<LONG>((static_cast<LONGLONG>(screenPoint.y) * 65536 + height - 1) / height);
    for (DWORD button : {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP})
        SendMouse(button | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y);
}

POINT CentreOf(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void PressKey(WORD virtualKey, WORD modifier)
{
    INPUT keys[4] = {};
    for (INPUT& key : keys)
        key.type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[3].ki.wVk = modifier;
    keys[1].ki.wVk = keys[2].ki.wVk = virtualKey;
    keys[2].ki.dwFlags = keys[3].ki.dwFlags = KEYEVENTF_KEYUP;
    if (modifier == 0)
        SendInput(2, keys + 1, sizeof(INPUT));
    else
        SendInput(4, keys, sizeof(INPUT));
}

bool WaitUntil(const char* what, const std::function<bool()>& done, DWORD limitMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= limitMs) {
            if (done())
                return true;
            fprintf(stderr, "timed out after %lu ms waiting for %s\n", static_cast<unsigned long>(limitMs), what);
            return false;
        }
        Sleep(10);
    }
    return true;
}

bool WaitForPainted(HWND window)
{
    return WaitUntil("the window to finish painting", [window] {
        if (!IsWindow(window))
            return true;   // a window that closed has nothing left to paint
        bool painted = GetUpdateRect(window, nullptr, FALSE) == FALSE;
        EnumChildWindows(
            window,
            [](HWND child, LPARAM context) -> BOOL {
                if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE))
                    *reinterpret_cast<bool*>(context) = false;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&painted));
        return painted;
    });
}

bool WaitForReady(HWND popup)
{
    // A message sent to the popup is handled only once its thread looks at
    // its queue again, which a box does when it has set itself up and waits.
    DWORD_PTR ignored = 0;
    if (!WaitForPainted(popup))
        return false;
    if (!SendMessageTimeoutW(popup, WM_NULL, 0, 0, SMTO_NORMAL, kWaitLimitMs, &ignored)) {
        fprintf(stderr, "timed out waiting for the popup's thread to take messages\n");
        return false;
    }
    return WaitForPainted(popup);
}

HWND ChildWithText(HWND parent, const wchar_t* className, const wchar_t* text)
{
    return FindWindowExW(parent, nullptr, className, text);
}


namespace {

constexpr UINT kProbeMessage = WM_APP + 0x3A5;
constexpr wchar_t kProbeClass[] = L"VantrellTestQueueProbe";

}  // namespace

QueueProbe::QueueProbe()
{
    WNDCLASSW type{};
    type.lpfnWndProc = Procedure;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = kProbeClass;
    RegisterClassW(&type);   // fails harmlessly once registered
    window_ = CreateWindowExW(0, kProbeClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, type.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

QueueProbe::~QueueProbe()
{
    if (window_ != nullptr)
        DestroyWindow(window_);
}

LRESULT CALLBACK QueueProbe::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kProbeMessage) {
        if (auto* probe = reinterpret_cast<QueueProbe*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            probe->handled_ = static_cast<unsigned>(wParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool QueueProbe::RoundTrip()
{
    const unsigned marker = ++posted_;
    return window_ != nullptr && PostMessageW(window_, kProbeMessage, marker, 0) &&
           WaitUntil("the probe to come through the windows' queue", [&] { return handled_ >= marker; });
}

namespace harness {

namespace {

std::atomic<QueueProbe*> g_runProbe{nullptr};   // the probe of the running RunWithOperatorOn

}  // namespace

bool RoundTrip()
{
    QueueProbe* probe = g_runProbe;
    return probe != nullptr && probe->RoundTrip();
}

HWND VisibleWindow(const wchar_t* className, const std::function<bool(HWND)>& fits)
{
    for (HWND found = FindWindowExW(nullptr, nullptr, className, nullptr); found != nullptr;
         found = FindWindowExW(nullptr, found, className, nullptr)) {
        if (IsWindowVisible(found) && (!fits || fits(found)))
            return found;
    }
    return nullptr;
}

HWND WaitForPopup(const wchar_t* className, const std::function<bool(HWND)>& fits)
{
    HWND found = nullptr;
    if (!WaitUntil("a visible window of its class", [&] { return (found = VisibleWindow(className, fits)) != nullptr; }))
        return nullptr;
    WaitForReady(found);
    return found;
}

bool WaitGone(HWND window)
{
    return WaitUntil("the window to close", [window] { return !IsWindow(window) || !IsWindowVisible(window); });
}

bool WaitForIdle(HWND window)
{
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kWaitLimitMs, &ignored))
        return false;
    return WaitForPainted(window);
}

void Click(HWND window, const wchar_t* button)
{
    // The click is handled while the message is sent; the window's loop
    // takes what it produced before it looks at its queue again.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(ChildWithText(window, L"Button", button), BM_CLICK, 0, 0, SMTO_NORMAL, kWaitLimitMs, &ignored);
    WaitForIdle(window);
}

void SelectRow(HWND list, int row, bool selected)
{
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = selected ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

int RowWith(HWND list, int column, const std::wstring& text)
{
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        if (text == ListCellText(list, row, column).Text())
            return row;
    }
    return -1;
}

int ListImage(HWND list, int row)
{
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iImage = -1;
    return SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) ? item.iImage : -1;
}

bool RunWithOperatorOn(const wchar_t* className, const std::function<void()>& run,
                       const std::function<void(HWND)>& script)
{
    std::atomic<bool> ran{false};
    std::atomic<bool> returned{false};
    QueueProbe probe;
    g_runProbe = &probe;
    std::thread operatorThread([&] {
        HWND window = nullptr;
        if (!WaitUntil("the window to show", [&] { return (window = VisibleWindow(className)) != nullptr; }))
            return;
        // Input that arrives while the window is still being shown is
        // dropped with what its set-up left waiting: once a message sent
        // now returns, the window takes events and the script's come after.
        WaitForReady(window);
        script(window);
        ran = true;
        // Whether the window shows says nothing about whether its loop still
        // runs: it hides for a moment whenever it locks or unlocks its
        // controls, and a loop that missed its close would run on forever.
        // Only a run that has returned needs none.
        if (!returned)
            PostMessageW(window, kCloseRequestMessage, 0, 0);
    });
    run();
    returned = true;
    operatorThread.join();
    g_runProbe = nullptr;
    return ran;
}

std::wstring TextOf(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

std::vector<HWND> Children(HWND parent, const wchar_t* className)
{
    std::vector<HWND> found;
    for (HWND child = FindWindowExW(parent, nullptr, className, nullptr); child != nullptr;
         child = FindWindowExW(parent, child, className, nullptr))
        found.push_back(child);
    return found;
}

HWND ChildAt(HWND parent, const wchar_t* className, int x, int y)
{
    for (HWND child : Children(parent, className)) {
        RECT rect;
        GetWindowRect(child, &rect);
        POINT corner{rect.left, rect.top};
        ScreenToClient(parent, &corner);
        if (corner.x == x && corner.y == y)
            return child;
    }
    return nullptr;
}

void Press(HWND window, const wchar_t* button)
{
    PostMessageW(ChildWithText(window, L"Button", button), BM_CLICK, 0, 0);
}

std::wstring AnswerBox(const wchar_t* button, HWND notThis, const wchar_t* className)
{
    HWND box = WaitForPopup(className, [&](HWND found) {
        return found != notThis && ChildWithText(found, L"Button", button) != nullptr;
    });
    if (box == nullptr)
        return L"(no box)";
    std::wstring text = TextOf(FindWindowExW(box, nullptr, L"Static", nullptr));
    Press(box, button);
    WaitGone(box);
    return text;
}

bool ChooseInOpenFileDialog(const wchar_t* title, const std::wstring& path)
{
    HWND chooser = nullptr;
    if (!WaitUntil("the open-file dialog", [&] {
            chooser = FindWindowW(L"#32770", title);
            return chooser != nullptr && IsWindowVisible(chooser);
        }))
        return false;
    // The dialog takes a name once its thread takes messages again. Its
    // folder view may go on painting a while longer (in a fresh prefix the
    // shell still gathers its icons), which the name does not wait for.
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(chooser, WM_NULL, 0, 0, SMTO_NORMAL, kWaitLimitMs, &ignored))
        return false;
    // The file-name box: a combo box with its own field in this dialog style.
    const int nameBox = GetDlgItem(chooser, 0x47C) != nullptr ? 0x47C : 0x480;
    SetDlgItemTextW(chooser, nameBox, path.c_str());
    wchar_t typed[MAX_PATH] = L"";
    GetDlgItemTextW(chooser, nameBox, typed, MAX_PATH);
    if (path != typed) {
        fprintf(stderr, "the file-name box holds %ls\n", typed);
        return false;
    }
    PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
    return WaitUntil("the open-file dialog to close", [&] { return !IsWindow(chooser) || !IsWindowVisible(chooser); });
}

bool HasTip(HWND window, HWND control)
{
    struct Search {
        HWND window, control;
        bool found;
    } search{window, control, false};
    EnumThreadWindows(
        GetWindowThreadProcessId(window, nullptr),
        [](HWND candidate, LPARAM context) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(context);
            wchar_t name[64] = L"";
            GetClassNameW(candidate, name, ARRAYSIZE(name));
            if (lstrcmpiW(name, TOOLTIPS_CLASSW) != 0 || GetWindow(candidate, GW_OWNER) != s.window)
                return TRUE;
            TOOLINFOW tool{};
            tool.cbSize = sizeof(tool);
            tool.hwnd = s.window;
            tool.uId = reinterpret_cast<UINT_PTR>(s.control);
            s.found = SendMessageW(candidate, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)) != FALSE;
            return s.found ? FALSE : TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

COLORREF BitmapPixel(HBITMAP bitmap, int x, int y)
{
    UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    HGDIOBJ old = SelectObject(dc.Get(), bitmap);
    COLORREF pixel = GetPixel(dc.Get(), x, y);
    SelectObject(dc.Get(), old);
    return pixel;
}

Gdiplus::ARGB ImagePixel(Gdiplus::GpBitmap* image, int x, int y)
{
    Gdiplus::ARGB colour = 0;
    Gdiplus::DllExports::GdipBitmapGetPixel(image, x, y, &colour);
    return colour;
}

std::string SizeText(Gdiplus::GpImage* image)
{
    UINT width = 0, height = 0;
    if (image == nullptr || Gdiplus::DllExports::GdipGetImageWidth(image, &width) != Gdiplus::Ok ||
        Gdiplus::DllExports::GdipGetImageHeight(image, &height) != Gdiplus::Ok)
        return "none";
    return std::to_string(width) + "x" + std::to_string(height);
}

bool Near(COLORREF a, COLORREF b)
{
    return std::abs(GetRValue(a) - GetRValue(b)) <= 12 && std::abs(GetGValue(a) - GetGValue(b)) <= 12 &&
           std::abs(GetBValue(a) - GetBValue(b)) <= 12;
}

UniqueImage StripedPicture(int width, int height, bool vertical)
{
    UniqueImage image = NewBitmap(width, height);
    const int length = vertical ? width : height;
    for (int y = 0; image && y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int along = vertical ? x : y;
            Gdiplus::ARGB colour = along < length / 4 ? 0xFFFF0000 : along < length * 3 / 4 ? 0xFF00FF00 : 0xFF0000FF;
            Gdiplus::DllExports::GdipBitmapSetPixel(image.Get(), x, y, colour);
        }
    }
    return image;
}

bool SavePicture(Gdiplus::GpBitmap* picture, const std::wstring& path, const wchar_t* extension)
{
    CLSID encoder{};
    return picture != nullptr && FindImageEncoder(extension, encoder) &&
           Gdiplus::DllExports::GdipSaveImageToFile(picture, path.c_str(), &encoder, nullptr) == Gdiplus::Ok;
}

char ColourKind(COLORREF colour)
{
    const int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
    if (r > 235 && g > 235 && b > 235)
        return 'W';
    if (r > 200 && g < 60 && b < 60)
        return 'R';
    if (g > 200 && r < 60 && b < 60)
        return 'G';
    if (b > 200 && r < 60 && g < 60)
        return 'B';
    return '?';
}

void ForgetAccountPictures(const wchar_t* account)
{
    WString sid(account);
    if (!GetAccountSidString(sid))
        return;
    RegKey key;
    key.DeleteTree(PictureSetKeyPath(sid.Text()).Text());
    std::error_code ignored;
    std::filesystem::path set(PictureSetFolder(sid.Text()).Text());
    for (auto& entry : std::filesystem::directory_iterator(set, ignored))
        SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(set, ignored);
    WString pictures;
    if (GetUserPicturesFolder(pictures))
        DeleteFileW(LegacyPictureFile(pictures.Text(), account).Text());
}

}  // namespace harness
