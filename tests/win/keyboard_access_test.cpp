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

Reading Read(HWND control, long child = CHILDID_SELF)
{
    Reading reading;
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object))) ||
        object == nullptr)
        return reading;
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = child;
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

using Stop = std::pair<HWND, Reading>;


bool Names(const Stop& stop, const wchar_t* name) { return stop.second.name.find(name) != std::wstring::npos; }

// Presses Tab until the focus comes back to where it was first met, or
// rests on the control a screen reader calls `until`: what a screen reader
// said at each stop, in order.
std::vector<Stop> TabRound(HWND window, const wchar_t* until = nullptr)
{
    std::vector<Stop> stops;
    for (int i = 0; i < 60; ++i) {
        HWND before = FocusOf(window);
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitUntil("the focus to move on", [&] { return FocusOf(window) != before; }, 3000))
            << "a Tab was lost";
        HWND now = FocusOf(window);
        if (now == nullptr || std::any_of(stops.begin(), stops.end(), [now](const Stop& s) { return s.first == now; }))
            break;
        stops.emplace_back(now, Read(now));
        if (until != nullptr && Names(stops.back(), until))
            break;
    }
    return stops;
}

std::string Said(const std::vector<Stop>& stops)
{
    std::wstring said;
    for (const Stop& stop : stops)
        said += L"\"" + stop.second.name + L"\" ";
    return Narrow(said);
}

// Tab to the control a screen reader calls `control`, then press `key`
// there; with no control, Alt and the key, wherever the focus is.
struct Step {
    const wchar_t* control;
    WORD key;
    int times = 1;
};

struct WindowCase {
    const char* window;
    std::vector<Step> opening;   // in the main window; none for the main window itself
    std::vector<const wchar_t*> actions;   // what the Tab key must reach, by the names a screen reader reads
    std::vector<std::pair<WORD, const wchar_t*>> accessKeys;   // Alt with the letter: the control that takes the focus
    std::vector<Step> within = {};   // in the new window, before the walk
};

const WindowCase kWindows[] = {
    {"main window", {},
     {L"Minimize", L"Close", L"Launch Brenwick", L"Online help", L"Refresh list", L"About this app",
      L"Check this computer", L"Profiles", L"User accounts", L"Create user account"}, {}},
    // The header's links by their access keys.
    {"about box", {{nullptr, 'O'}}, {L"Vantrell", L"vantrell.invalid", L"Donate", L"OK"}, {}},
    {"create account", {{L"Create user account", VK_RETURN}},
     {L"Account name", L"Account type", L"Password (optional)", L"Password again", L"Browse", L"Default", L"Crop",
      L"Create account", L"Cancel"},
     {{'T', L"Account type"}, {'G', L"Password again"}, {'O', L"Crop"}, {'N', L"Account name"}}},
    // The first row, the built-in administrator.
    {"password", {{L"User accounts", VK_DOWN}, {L"Set password", VK_RETURN}},
     {L"Current password", L"Enter new password", L"New password (again)", L"Apply", L"Cancel"},
     {{'G', L"New password (again)"}, {'C', L"Current password"}}},
    {"picture", {{L"Change picture", VK_RETURN}}, {L"Crop", L"Browse", L"Default", L"Change picture", L"Cancel"}, {}},
    {"message box", {{nullptr, 'V'}}, {L"Yes", L"No"}, {}},   // "Remove password" by its access key
    // The fourth row, a standard user the operator may delete.
    {"delete account", {{L"User accounts", VK_DOWN, 3}, {L"Delete user account", VK_RETURN}},
     {L"Also delete user files and folders", L"Delete account", L"Cancel"}, {{'A', L"Also delete user files"}}},
    // The next row, on the main window.
    {"panel", {{L"User accounts", VK_DOWN}},
     {L"User display name", L"User privilege", L"Groups...", L"The account is disabled", L"Save changes",
      L"Delete user account"},
     {{'R', L"User privilege"}, {'D', L"User display name"}}},
    {"groups", {{nullptr, 'G'}}, {L"Member of", L"Remove from group", L"Add to group", L"Add", L"Close"},
     {{'G', L"Add to group"}, {'M', L"Member of"}}},
    {"health check", {{nullptr, 'K'}}, {L"Findings", L"Check again", L"Close"}, {}},
    {"profiles", {{nullptr, '7'}}, {L"Profiles", L"Delete selected", L"Close"}, {{'P', L"Profiles"}}},
    // The console user, found by the first letter; a folder chosen by the keyboard can be moved.
    {"personal folders", {{L"User accounts", 'O'}, {L"Move/Restore user personal folders", VK_RETURN}},
     {L"Personal folders", L"Also move folder contents", L"Move selected", L"Close"},
     {{'C', L"Also move folder contents"}},
     {{L"Personal folders", VK_DOWN}}},
};

}  // namespace

TEST(KeyboardAccess, EveryWindowIsWalkedAndNamedAndEscClosesIt)
{
    StartGdiplusForTests();
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default")));
    sandbox::ClearRecord();
    RunWithOperator([](Screen& screen, HWND main) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        HWND list = screen.Handle(screen.Ids().accountList);
        ASSERT_GT(screen.Rows(), 1);
        for (int row = 0; row < screen.Rows(); ++row) {
            Reading said = Read(list, row + 1);
            EXPECT_EQ(screen.Cell(row, 0) + L", " + screen.Cell(row, 2), said.name);
            EXPECT_EQ(ROLE_SYSTEM_LISTITEM, said.role);
        }
        // Alt with a letter means one control of the window, every link included.
        std::wstring keys;
        for (int32_t id = 1; id <= screen.Window().LastControlId(); ++id)
            if (const ControlEntry* control = screen.Window().Control(id); control != nullptr && control->accessKey != 0)
                keys += control->accessKey;
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys.end(), std::adjacent_find(keys.begin(), keys.end())) << "a key given twice in " << Narrow(keys);
        const MainWindowControls& ids = screen.Ids();
        for (int32_t link : {ids.helpLink, ids.refreshLink, ids.versionLink, ids.aboutLink, ids.checkLink})
            EXPECT_NE(0, screen.Window().Control(link)->accessKey) << Narrow(Read(screen.Handle(link)).name);
        for (const WindowCase& expected : kWindows) {
            SCOPED_TRACE(expected.window);
            HWND window = main, opener = nullptr;
            for (const Step& step : expected.opening) {
                if (step.control == nullptr) {
                    // The window has put itself back together after the last one closed.
                    RoundTrip();
                    WaitForIdle(main);
                    opener = FocusOf(main);
                    PressKey(step.key, VK_MENU);
                    continue;
                }
                std::vector<Stop> way = TabRound(main, step.control);
                ASSERT_TRUE(!way.empty() && Names(way.back(), step.control))
                    << "no Tab stop named " << Narrow(step.control) << " among " << Said(way);
                opener = way.back().first;
                for (int i = 0; i < step.times; ++i)
                    PressKey(step.key);
                // The panel follows a new row; the keys that follow come after these.
                const HWND accounts = screen.Handle(screen.Ids().accountList);
                if (opener == accounts) {
                    EXPECT_TRUE(WaitFor([&] {
                        const int row = static_cast<int>(
                            SendMessageW(accounts, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
                        return row >= 0 && screen.Text(screen.Ids().accountNameField) == screen.Cell(row, 1);
                    }, "the panel to show the selected row"))
                        << Narrow(screen.Text(screen.Ids().accountNameField));
                }
                WaitForIdle(main);
            }
            if (!expected.opening.empty() && expected.opening.back().key != VK_DOWN) {
                window = WaitForPopup(L"Vantrell_MsgBox");
                ASSERT_NE(nullptr, window);
                ASSERT_TRUE(WaitUntil("the new window to take the keyboard", [&] { return GetForegroundWindow() == window; }));
                EXPECT_TRUE(SendMessageW(window, WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL)
                    << "the access keys are underlined before Alt was pressed";
            }
            for (const Step& step : expected.within) {
                std::vector<Stop> way = TabRound(window, step.control);
                ASSERT_TRUE(!way.empty() && Names(way.back(), step.control)) << Said(way);
                PressKey(step.key);
                WaitForIdle(window);
            }
            std::vector<Stop> stops = TabRound(window);
            for (const auto& stop : stops) {
                wchar_t className[64] = L"";
                GetClassNameW(stop.first, className, 64);
                EXPECT_TRUE(!stop.second.name.empty() && stop.second.name.find_first_of(L"<&") == std::wstring::npos)
                    << "a control of class " << Narrow(className) << " is named \"" << Narrow(stop.second.name) << "\"";
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
                EXPECT_TRUE(std::any_of(stops.begin(), stops.end(), [action](const Stop& s) { return Names(s, action); }))
                    << Narrow(action) << " is out of reach among " << Said(stops);
            }
            for (const auto& [letter, name] : expected.accessKeys) {
                // The focus may already rest on the control the key names (a
                // Tab round ends where it began), so the underlines that Alt
                // shows are what tells that the keys were handled.
                PressKey(letter, VK_MENU);
                EXPECT_TRUE(WaitUntil("Alt to show the access keys",
                                      [&] { return !(SendMessageW(window, WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL); }))
                    << "Alt showed no access keys";
                EXPECT_TRUE(WaitUntil("the access key to move the focus",
                                      [&, name = name] { return Read(FocusOf(window)).name.find(name) == 0; }))
                    << "Alt+" << static_cast<char>(letter) << " left the focus on " << Narrow(Read(FocusOf(window)).name);
            }
            if (window != main) {
                PressKey(VK_ESCAPE);
                EXPECT_TRUE(WaitGone(window)) << "Esc left the window open";
                // As after a dialog: the keyboard is back where it was.
                EXPECT_TRUE(WaitUntil("the focus back in the main window",
                                      [&] { return GetForegroundWindow() == main && FocusOf(main) == opener; }))
                    << Narrow(Read(FocusOf(main)).name) << " has the focus";
            }
        }
        CoUninitialize();
    });
}
