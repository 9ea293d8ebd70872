// Every window reached and used with the keyboard alone, and every control
// the Tab key reaches known to a screen reader by a name and a role, read
// through the system's accessibility interface as a screen reader reads it.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "sandbox/sandbox.h"
#include "tests/narrow.h"
#include "tests/win/main_window_screen.h"
#include "tests/win/screen_capture.h"

using namespace harness;

namespace {

HWND FocusOf(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

struct Reading {
    std::wstring name;
    long role = 0;
};

Reading Read(HWND control)
{
    Reading reading;
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object))) ||
        object == nullptr)
        return reading;
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    if (object->get_accName(self, &name) == S_OK && name != nullptr)
        reading.name = name;
    SysFreeString(name);
    VARIANT role{};
    if (object->get_accRole(self, &role) == S_OK && role.vt == VT_I4)
        reading.role = role.lVal;
    object->Release();
    return reading;
}

// Presses Tab until the focus comes back to where it was first met: what a
// screen reader said at each stop, in order.
std::vector<std::pair<HWND, Reading>> TabRound(HWND window)
{
    std::vector<std::pair<HWND, Reading>> stops;
    for (int i = 0; i < 60; ++i) {
        HWND before = FocusOf(window);
        PressKey(VK_TAB);
        WaitUntil("the focus to move on", [&] { return FocusOf(window) != before; }, 3000);
        HWND now = FocusOf(window);
        auto met = [now](const auto& stop) { return stop.first == now; };
        if (now == nullptr || std::any_of(stops.begin(), stops.end(), met))
            break;
        stops.emplace_back(now, Read(now));
    }
    return stops;
}

// Tabs to the control a screen reader calls `name` and presses Enter on it;
// false, with the names met, when Tab never reaches it.
bool PressByKeyboard(HWND window, const wchar_t* name, std::wstring& met)
{
    for (const auto& stop : TabRound(window)) {
        met += L"\"" + stop.second.name + L"\" ";
        if (stop.second.name.find(name) != std::wstring::npos) {
            while (FocusOf(window) != stop.first) {
                HWND before = FocusOf(window);
                PressKey(VK_TAB);
                if (!WaitUntil("the focus to move on", [&] { return FocusOf(window) != before; }, 3000))
                    return false;
            }
            PressKey(VK_RETURN);
            return true;
        }
    }
    return false;
}

struct WindowCase {
    const char* window;
    const wchar_t* opener;   // what Enter is pressed on in the main window; null for the main window itself
    std::vector<const wchar_t*> actions;   // what the Tab key must reach, by the names a screen reader reads
};

const WindowCase kWindows[] = {
    {"main window", nullptr,
     {L"Minimize", L"Close", L"Launch Brenwick", L"Online help", L"Refresh list", L"About this app",
      L"Check this computer", L"Create user account"}},
    // Last: after a dialog closes, Wine may leave no window with the keyboard.
    {"about box", L"About this app", {L"Vantrell", L"vantrell.invalid", L"Donate", L"OK"}},
};

}  // namespace

TEST(KeyboardAccess, EveryWindowIsWalkedAndNamedAndEscClosesIt)
{
    StartGdiplusForTests();
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default")));
    sandbox::ClearRecord();
    RunWithOperator([](Screen&, HWND main) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (const WindowCase& expected : kWindows) {
            SCOPED_TRACE(expected.window);
            HWND window = main;
            if (expected.opener != nullptr) {
                std::wstring met;
                ASSERT_TRUE(PressByKeyboard(main, expected.opener, met))
                    << "no Tab stop named " << Narrow(expected.opener) << " among " << Narrow(met);
                window = WaitForPopup(L"Vantrell_MsgBox");
                ASSERT_NE(nullptr, window);
            }
            std::vector<std::pair<HWND, Reading>> stops = TabRound(window);
            for (const auto& stop : stops) {
                wchar_t className[64] = L"";
                GetClassNameW(stop.first, className, 64);
                EXPECT_FALSE(stop.second.name.empty()) << "a control of class " << Narrow(className) << " has no name";
                // The program's own drawn controls say what they are; the
                // system's proxy answers for the standard ones.
                bool drawn = wcscmp(className, L"Static") == 0;
                long role = stop.second.role;
                EXPECT_TRUE(drawn ? role == ROLE_SYSTEM_PUSHBUTTON || role == ROLE_SYSTEM_LINK ||
                                        role == ROLE_SYSTEM_CHECKBUTTON
                                  : role != 0)
                    << Narrow(stop.second.name) << " has role " << role;
            }
            for (const wchar_t* action : expected.actions) {
                auto named = [action](const auto& stop) { return stop.second.name.find(action) != std::wstring::npos; };
                EXPECT_TRUE(std::any_of(stops.begin(), stops.end(), named)) << Narrow(action) << " is out of reach";
            }
            if (window != main) {
                PressKey(VK_ESCAPE);
                EXPECT_TRUE(WaitGone(window)) << "Esc left the window open";
            }
        }
        CoUninitialize();
    });
}
