#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>
#include <vector>

#include "sandbox/sandbox.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_owner.h"
#include "ui/message_box.h"
#include "tests/narrow.h"

using namespace harness;

namespace {

using Boxes = OwnerWindowTest;

}  // namespace

TEST_F(Boxes, ThemedBoxIsAnsweredByClicksAndKeys)
{
    struct Case {
        int kind;
        const wchar_t* action;   // a button's text, or "Esc" / "Enter"
        int expected;
    } cases[] = {
        {1, L"Yes", 1}, {1, L"No", 0}, {1, L"Esc", 0}, {1, L"Enter", 1}, {0, L"OK", 1}, {0, L"Enter", 1},
    };
    // The frame and its centring are the dialog frame's; the band is the box's own.
    COLORREF band = 0;
    for (const Case& c : cases) {
        RECT box{};
        std::wstring label;
        Operator person(L"Vantrell_MsgBox", [&](HWND popup) {
            GetWindowRect(popup, &box);
            band = ScreenPixel(box.left + 20, box.bottom - 20);
            label = TextOf(FindWindowExW(popup, nullptr, L"Static", nullptr));
            if (&c == &cases[0])
                SaveScreenshot(popup, L"themed_box_yes_no");
            std::wstring action = c.action;
            if (action == L"Esc")
                PressKey(VK_ESCAPE);
            else if (action == L"Enter")
                PressKey(VK_RETURN);
            else
                ClickAt(CentreOf(ChildWithText(popup, L"Button", c.action)));
        });
        int result = ThemedMessageBox(L"Are you sure you want to apply the seleted settings to this user account?",
                                      c.kind, 160, dialogOwner_);
        person.Finish();
        std::string what = "kind " + std::to_string(c.kind) + " answered by " + Narrow(c.action);
        ASSERT_NE(nullptr, person.Found()) << what << ": no box appeared";
        EXPECT_FALSE(person.Stuck()) << what << ": the box did not take the answer";
        EXPECT_EQ(c.expected, result) << what;
        EXPECT_EQ(160, box.bottom - box.top) << what;
        EXPECT_EQ("Are you sure you want to apply the seleted settings to this user account?", Narrow(label));
        EXPECT_EQ(nullptr, FindWindowW(L"Vantrell_MsgBox", nullptr)) << what << ": the box must be gone";
        EXPECT_EQ(RGB(0xF0, 0xF0, 0xFF), band) << what << std::hex << ": band " << band;
    }
    EXPECT_GE(owner_.PopupCount(), 1u) << "the boxes were recorded over their owner";
}

TEST_F(Boxes, PlainBoxOfEachKindAnswersWithItsButtons)
{
    // Where the buttons go and the narrowest width are the drawing rules' (core tests).
    struct Case {
        int kind;
        int width;
        const wchar_t* press;
        int expected;
        int expectedWidth;
    } cases[] = {
        {0, 0, L"OK", 1, 360},
        {1, 360, L"Yes", 1, 360},
        {1, 360, L"No", 0, 360},
        {2, 100, L"OK", 1, 360},
        {2, 100, L"Cancel", -1, 360},
        {3, 400, L"Yes", 1, 400},
        {3, 400, L"No", 0, 400},
        {3, 400, L"Cancel", -1, 400},
    };
    for (const Case& c : cases) {
        RECT frame{};
        Operator person(L"_WINDOW_MsgBoxClass", [&](HWND popup) {
            GetWindowRect(popup, &frame);
            if (&c == &cases[ARRAYSIZE(cases) - 1])
                SaveScreenshot(popup, L"plain_box_kind3");
            ClickAt(CentreOf(ChildWithText(popup, L"Button", c.press)));
        });
        int result = PlainMessageBox(dialogOwner_,
                                     L"Brenwick will now reboot your computer to fix the selected user account.\r\n\r\n"
                                     L"Are you sure you want to proceed with the repair operation?",
                                     c.kind, 150, c.width);
        person.Finish();
        std::string what = "kind " + std::to_string(c.kind) + " pressing " + Narrow(c.press);
        ASSERT_NE(nullptr, person.Found()) << what;
        EXPECT_FALSE(person.Stuck()) << what;
        EXPECT_EQ(c.expected, result) << what;
        EXPECT_EQ(c.expectedWidth, frame.right - frame.left) << what;
        EXPECT_EQ(150, frame.bottom - frame.top) << what;
    }
}

TEST_F(Boxes, PlainBoxClosedByTheOwnerGivesNoChoice)
{
    Operator person(L"_WINDOW_MsgBoxClass", [&](HWND) { PostMessageW(owner_.Handle(), WM_CLOSE, 0, 0); });
    EXPECT_EQ(0, PlainMessageBox(dialogOwner_, L"Please be patient.", 3, 150, 450));
    person.Finish();
    EXPECT_FALSE(person.Stuck());
}

TEST_F(Boxes, PlainBoxOutlastsTheSessionsEndOnlyWhileItsOwnerIsBusy)
{
    struct Case {
        bool busy;
        int expected;   // "OK" pressed after the query when the box is still there
        size_t refusals;
    } const cases[] = {{true, 1, 1}, {false, 0, 0}};
    for (const Case& c : cases) {
        sandbox::ClearRecord();
        std::optional<DialogOwner::BusyScope> hold;
        if (c.busy)
            hold.emplace(&dialogOwner_);
        Operator person(L"_WINDOW_MsgBoxClass", [&](HWND popup) {
            SendMessageTimeoutW(popup, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 3000, nullptr);
            if (IsWindow(popup))
                ClickAt(CentreOf(ChildWithText(popup, L"Button", L"OK")));
        });
        int result = PlainMessageBox(dialogOwner_, L"Please wait.", 0, 150, 360);
        person.Finish();
        hold.reset();
        EXPECT_EQ(c.expected, result) << "busy " << c.busy;
        EXPECT_EQ(c.refusals, sandbox::RecordedActions().size()) << "busy " << c.busy;
    }
}

TEST_F(Boxes, PlainBoxIgnoresTheOwnersOwnControls)
{
    // The owner's control with the same id as the box's first button.
    owner_.AddLabel(L"label", 10, 10, 100, 18, -1);
    int32_t ownerButton = owner_.AddButton(L"Owner's", 10, 40, 100, 25, -1);
    ASSERT_EQ(2, ownerButton);
    Operator person(L"_WINDOW_MsgBoxClass", [&](HWND popup) {
        // Sent, so that it has been handled before the box is answered.
        SendMessageW(owner_.Handle(), WM_COMMAND, MAKEWPARAM(ownerButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(owner_.Control(ownerButton)->handle));
        ClickAt(CentreOf(ChildWithText(popup, L"Button", L"No")));
    });
    EXPECT_EQ(0, PlainMessageBox(dialogOwner_, L"Question", 1, 150, 360)) << "the owner's button is not the box's Yes";
    person.Finish();
    EXPECT_FALSE(person.Stuck()) << "the box's own No answers it";
}

TEST_F(Boxes, TipClosedByAClickThatStillReachesTheOwner)
{
    struct Case {
        const char* what;
        int action;   // 0 click on the tip, 1 click on the owner's button, 2 Esc
        int32_t ownerEvent;   // what the owner's loop sees next; -100: its button
    } cases[] = {
        {"click on the tip", 0, EventCode::LeftButtonDown},
        {"click on the owner's button", 1, -100},
        {"Esc", 2, EventCode::None},
    };
    int32_t button = owner_.AddButton(L"Owner's button", 400, 300, 150, 30, -1);
    for (const Case& c : cases) {
        Drain();
        RECT tipRect{};
        std::wstring title;
        std::wstring body;
        std::vector<COLORREF> edges;
        Operator person(L"_WndMsgTipClass", [&](HWND tip) {
            GetWindowRect(tip, &tipRect);
            int middleX = (tipRect.left + tipRect.right) / 2;
            int middleY = (tipRect.top + tipRect.bottom) / 2;
            edges = {ScreenPixel(middleX, tipRect.top), ScreenPixel(tipRect.right - 1, middleY),
                     ScreenPixel(middleX, tipRect.bottom - 1), ScreenPixel(tipRect.left, middleY)};
            HWND first = FindWindowExW(tip, nullptr, L"Static", nullptr);
            HWND second = FindWindowExW(tip, first, L"Static", nullptr);
            body = TextOf(first);
            title = TextOf(second);
            if (c.action == 0) {
                SaveScreenshot(tip, L"message_tip", 40);
                ClickAt(POINT{tipRect.left + 20, tipRect.bottom - 10});
            } else if (c.action == 1) {
                ClickAt(CentreOf(owner_.Control(button)->handle));
            } else {
                PressKey(VK_ESCAPE);
            }
        });
        int result = MessageTip(dialogOwner_, L"Saved||The settings were saved.\r\nSecond line\r\nThird line\r\nFourth", 0, 0);
        person.Finish();
        ASSERT_NE(nullptr, person.Found()) << c.what;
        EXPECT_FALSE(person.Stuck()) << c.what;
        EXPECT_EQ(1, result) << c.what;
        EXPECT_EQ("Saved", Narrow(title)) << c.what;
        const char* sides[] = {"top", "right", "bottom", "left"};
        for (size_t i = 0; i < edges.size(); ++i)
            EXPECT_LT(GetRValue(edges[i]) + GetGValue(edges[i]) + GetBValue(edges[i]), 0x60)
                << c.what << ": the " << sides[i] << " border is " << std::hex << edges[i];
        EXPECT_EQ("The settings were saved.\r\nSecond line\r\nThird line\r\nFourth", Narrow(body)) << c.what;

        int32_t expected = c.ownerEvent == -100 ? button : c.ownerEvent;
        int32_t next = PumpEvents(owner_, PumpMode::IfAny);
        while (next == EventCode::MouseMoved || (next == EventCode::None && owner_.Event().pending))
            next = PumpEvents(owner_, PumpMode::IfAny);
        if (c.action == 1) {
            // The button's press ends the tip; its click follows through the queue.
            WaitUntil("the owner's button's click", [&] { return next == button || (next = PumpEvents(owner_, PumpMode::IfAny)) == button; });
        }
        EXPECT_EQ(expected, next) << c.what;
        if (c.action == 0) {
            EXPECT_EQ(&owner_, owner_.Event().window) << "the click is handed on as the owner's";
        }
        EXPECT_EQ(nullptr, FindWindowW(L"_WndMsgTipClass", nullptr)) << c.what;
    }
}

TEST_F(Boxes, TipWithoutSeparatorIsInformation)
{
    std::wstring title;
    std::wstring body;
    std::vector<LONG> weights;   // the body's and the title's fonts
    Operator person(L"_WndMsgTipClass", [&](HWND tip) {
        HWND first = FindWindowExW(tip, nullptr, L"Static", nullptr);
        HWND second = FindWindowExW(tip, first, L"Static", nullptr);
        body = TextOf(first);
        title = TextOf(second);
        for (HWND label : {first, second}) {
            LOGFONTW font{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)), sizeof(font), &font);
            weights.push_back(font.lfWeight);
        }
        PostMessageW(owner_.Handle(), WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(1, MessageTip(dialogOwner_, L"All done.", 0, 0));
    person.Finish();
    EXPECT_EQ("Information", Narrow(title));
    EXPECT_EQ("All done.", Narrow(body));
    ASSERT_EQ(2u, weights.size());
    EXPECT_LT(weights[0], FW_BOLD) << "the body is plain";
    EXPECT_GE(weights[1], FW_BOLD) << "the title is bold";
    EXPECT_EQ(EventCode::Close, PumpEvents(owner_, PumpMode::IfAny)) << "the close is handed on";
}

TEST_F(Boxes, TipOverAMinimisedOwnerIsNotShown)
{
    ShowWindow(owner_.Handle(), SW_MINIMIZE);
    EXPECT_EQ(0, MessageTip(dialogOwner_, L"Title||Body", 0, 0));
    EXPECT_EQ(nullptr, FindWindowW(L"_WndMsgTipClass", nullptr));
}

TEST_F(Boxes, PopupListTakesFreedSlotsAndStopsAt48)
{
    std::vector<HWND> popups;
    for (int i = 0; i < 49; ++i)
        popups.push_back(CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 10, 10, owner_.Handle(), nullptr, nullptr,
                                         nullptr));
    for (int i = 0; i < 48; ++i)
        ASSERT_TRUE(owner_.RecordPopup(popups[static_cast<size_t>(i)])) << "popup " << i;
    EXPECT_EQ(48u, owner_.PopupCount());
    EXPECT_FALSE(owner_.RecordPopup(popups[48])) << "all 48 slots are taken";
    DestroyWindow(popups[5]);
    EXPECT_TRUE(owner_.RecordPopup(popups[48]));
    EXPECT_EQ(popups[48], owner_.Popup(5)) << "the slot of the window that is gone";
    for (HWND popup : popups)
        if (IsWindow(popup))
            DestroyWindow(popup);
}

// (The owner's header in a window that is its own dialog is the wizard's test:
// its links, minimise button and end of the session; the close button, the
// dialog frame's.)
