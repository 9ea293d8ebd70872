// The main window as the operator's thread sees it, and a run of the real
// window on the test's thread while a script plays the operator.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <lm.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "tests/win/screen_capture.h"
#include "ui/window.h"

namespace harness {

// An account as the machine stores it; `found` false when it has none.
struct StoredAccount {
    bool found = false;
    DWORD privilege = 0, flags = 0, passwordExpired = 0;
    std::wstring fullName;
};

inline StoredAccount Stored(const wchar_t* name)
{
    StoredAccount stored;
    LPBYTE buffer = nullptr;
    if (machine::NetUserGetInfo(nullptr, name, 3, &buffer) == NERR_Success && buffer != nullptr) {
        const auto* record = reinterpret_cast<USER_INFO_3*>(buffer);
        stored = {true, record->usri3_priv, record->usri3_flags, record->usri3_password_expired,
                  record->usri3_full_name != nullptr ? record->usri3_full_name : L""};
    }
    if (buffer != nullptr)
        machine::NetApiBufferFree(buffer);
    return stored;
}

class Screen {
public:
    explicit Screen(MainWindow& window) : window_(window) {}

    HWND Handle(int32_t id) const
    {
        const ControlEntry* control = window_.Control(id);
        return control != nullptr ? control->handle : nullptr;
    }
    MainWindow& Window() const { return window_; }
    const MainWindowControls& Ids() const { return window_.ids; }
    double OsVersion() const { return window_.osVersion; }
    bool Checked(int32_t id) const { return SendMessageW(Handle(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int32_t id) const { return IsWindowEnabled(Handle(id)) != FALSE; }
    std::wstring Text(int32_t id) const { return TextOf(Handle(id)); }
    int Selection(int32_t id) const { return static_cast<int>(SendMessageW(Handle(id), CB_GETCURSEL, 0, 0)); }
    void Press(int32_t id) const { PostMessageW(Handle(id), BM_CLICK, 0, 0); }
    void Choose(int32_t list, int item) const { SendMessageW(Handle(list), CB_SETCURSEL, item, 0); }

    int Rows() const { return static_cast<int>(SendMessageW(Handle(Ids().accountList), LVM_GETITEMCOUNT, 0, 0)); }
    int RowOf(const std::wstring& accountName) const { return RowWith(Handle(Ids().accountList), 1, accountName); }
    std::wstring Cell(int row, int column) const
    {
        return ListCellText(Handle(Ids().accountList), row, column).Text();
    }
    bool Selected(int row) const
    {
        return SendMessageW(Handle(Ids().accountList), LVM_GETITEMSTATE, row, LVIS_SELECTED) != 0;
    }
    // Selects the account's row as a click would, and waits for the panel.
    bool Select(const std::wstring& accountName) const
    {
        int row = RowOf(accountName);
        if (row < 0)
            return false;
        SelectRow(Handle(Ids().accountList), row);
        return WaitFor([&] { return Text(Ids().accountNameField) == accountName; },
                       "the panel to show the selected account");
    }
    // The list image the row shows (0 is the default icon); -1 when unread.
    int RowImage(int row) const { return ListImage(Handle(Ids().accountList), row); }
    // A pixel of the row's 48 x 48 image as the list draws it.
    COLORREF RowPixel(int row, int x, int y) const
    {
        auto images = reinterpret_cast<HIMAGELIST>(
            SendMessageW(Handle(Ids().accountList), LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
        HDC screen = GetDC(nullptr);
        UniqueMemoryDc dc(CreateCompatibleDC(screen));
        UniqueBitmap canvas(CreateCompatibleBitmap(screen, 48, 48));
        ReleaseDC(nullptr, screen);
        HGDIOBJ old = SelectObject(dc.Get(), canvas.Get());
        ImageList_Draw(images, RowImage(row), dc.Get(), 0, 0, ILD_NORMAL);
        COLORREF pixel = GetPixel(dc.Get(), x, y);
        SelectObject(dc.Get(), old);
        return pixel;
    }
    // The dialog that opened over the main window, ready for the operator.
    HWND Dialog() const { return WaitForPopup(L"Vantrell_MsgBox"); }
    std::wstring Answer(const wchar_t* button, HWND notThis = nullptr) const { return AnswerBox(button, notThis); }

private:
    MainWindow& window_;   // not owned
};

// Runs the main window on this thread while `script` plays the operator on
// another; the window is closed afterwards through its close event.
// `prepare` sets the window up before it starts.
inline void RunWithOperator(const std::function<void(Screen&, HWND)>& script,
                            const std::function<void(MainWindow&)>& prepare = nullptr)
{
    MainWindow window;
    if (prepare)
        prepare(window);
    int result = -1;
    EXPECT_TRUE(RunWithOperatorOn(
        L"Vantrell_WNDCLASS", [&] { result = RunMainWindow(window, GetModuleHandleW(nullptr), L"", SW_SHOW); },
        [&](HWND main) {
            Screen screen(window);
            script(screen, main);
        }))
        << "the main window never showed";
    EXPECT_EQ(0, result);
}

}  // namespace harness
