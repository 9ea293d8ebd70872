// The about box, driven as the operator would: its pictures and link open
// pages (recorded by the simulated machine), Esc and "OK" close it (the last
// test closes it with "OK").
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/about_box.h"
#include "sandbox/sandbox.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_owner.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/window.h"

using namespace harness;

namespace {

// The pages opened; with `refused`, those asked for that had no program to open them.
std::vector<std::wstring> OpenedPages(bool refused = false)
{
    std::vector<std::wstring> pages;
    for (sandbox::RecordedAction& action : sandbox::RecordedActions()) {
        if (action.call == L"ShellExecuteExW" && (action.details.count(L"refused") != 0) == refused)
            pages.push_back(action.details[L"file"] + L" show=" + action.details[L"show"] + L" verb=" +
                            action.details[L"verb"]);
    }
    return pages;
}

// The box's pictures (each opens a page), in creation order: the program's
// icon, then the donate button.
std::vector<HWND> Pictures(HWND box)
{
    std::vector<HWND> pictures;
    for (HWND child : Children(box, L"Static")) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            pictures.push_back(child);
    }
    return pictures;
}

using AboutBox = OwnerWindowTest;

}  // namespace

TEST_F(AboutBox, PicturesAndLinkOpenTheirPagesAndEscCloses)
{
    bool complete = false;
    bool tipped = false;   // the pictures say where they lead
    COLORREF band = 0;
    Operator person(L"Vantrell_MsgBox", [&](HWND box) {
        SaveScreenshot(box, L"about_box");
        std::vector<HWND> pictures = Pictures(box);
        HWND link = FindWindowExW(box, nullptr, WC_LINK, nullptr);
        if (pictures.size() != 2 || link == nullptr)
            return;
        HWND icon = pictures[0], donate = pictures[1];
        tipped = HasTip(box, icon) && HasTip(box, donate);
        // The band runs under the "OK" button, beside it.
        RECT ok{};
        GetWindowRect(ChildWithText(box, L"Button", L"OK"), &ok);
        band = ScreenPixel(ok.left - 4, (ok.top + ok.bottom) / 2);
        auto pagesOpened = [](size_t count) {
            return WaitUntil("the clicked page to be opened", [count] { return OpenedPages().size() >= count; });
        };
        ClickAt(CentreOf(icon));
        pagesOpened(1);
        // Click on the link's own text, found by asking the control.
        RECT client;
        GetClientRect(link, &client);
        POINT onLink{-1, client.bottom / 2};
        for (int x = client.right - 1; x >= 0 && onLink.x < 0; --x) {
            LHITTESTINFO hit{};
            hit.pt = POINT{x, client.bottom / 2};
            if (SendMessageW(link, LM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)))
                onLink.x = x - 3;
        }
        ClientToScreen(link, &onLink);
        ClickAt(onLink);
        pagesOpened(2);
        ClickAt(CentreOf(donate));
        pagesOpened(3);
        complete = true;
        SetForegroundWindow(box);
        PressKey(VK_ESCAPE);
    });
    ShowAboutBox(dialogOwner_);
    person.Finish();
    ASSERT_TRUE(person.Found() != nullptr);
    EXPECT_TRUE(complete) << "a control of the box was not where it belongs";
    EXPECT_TRUE(tipped) << "a picture has no tip";
    EXPECT_EQ(RGB((kBandColour >> 16) & 0xFF, (kBandColour >> 8) & 0xFF, kBandColour & 0xFF), band)
        << "the button band is not drawn: " << std::hex << band;
    EXPECT_FALSE(person.Stuck()) << "Esc did not close the box";
    const std::vector<std::wstring> expected = {
        std::wstring(kProductHomePage) + L" show=5 verb=",
        std::wstring(kMakerHomePage) + L" show=5 verb=",
        std::wstring(kDonationPage) + L" show=5 verb=",
    };
    EXPECT_EQ(expected, OpenedPages());
}

TEST_F(AboutBox, APageThatCannotBeOpenedLeavesTheBoxOpenAndSilent)
{
    sandbox::SetWebBrowser(false);
    bool stayed = false, silent = false;
    Operator person(L"Vantrell_MsgBox", [&](HWND box) {
        for (HWND picture : Pictures(box))
            ClickAt(CentreOf(picture));
        // Both pages were asked for; what the box did about their refusal
        // is done (a box it showed is up) once its thread takes messages again.
        EXPECT_TRUE(WaitUntil("both pages to be asked for", [] { return OpenedPages(true).size() == 2; }));
        WaitForReady(box);
        stayed = IsWindowVisible(box) != FALSE;
        // No message of any kind came up: the about box is the only box.
        silent = VisibleWindow(L"Vantrell_MsgBox", [box](HWND other) { return other != box; }) == nullptr &&
                 VisibleWindow(L"#32770") == nullptr;
        ClickAt(CentreOf(ChildWithText(box, L"Button", L"OK")));
    });
    ShowAboutBox(dialogOwner_);
    person.Finish();
    sandbox::SetWebBrowser(true);
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(silent);
    EXPECT_FALSE(person.Stuck()) << "\"OK\" did not close the box";
    EXPECT_TRUE(OpenedPages().empty());
}
