// The dialogs' shared frame and modal loop, over an owner window of the
// test's own, played by an operator thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "sandbox/sandbox.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_owner.h"
#include "ui/dialog.h"
#include "ui/drawing.h"
#include "ui/message_box.h"

using namespace harness;

namespace {

class Dialogs : public OwnerWindowTest {
protected:
    // Adds labels until the next control of the dialog gets `id`.
    static void SkipTo(UiWindow& window, int32_t id)
    {
        while (window.LastControlId() + 1 < id)
            window.AddLabel(L"", 0, 0, 1, 1, -1);
    }
    // Reads the dialog's events until one of `ends` or a close, or the time runs out.
    static int32_t RunUntil(UiDialog& dialog, std::vector<int32_t> ends, std::vector<int32_t>* seen = nullptr,
                            DWORD milliseconds = 5000)
    {
        SetTimer(dialog.Handle(), 1, 20, nullptr);   // wakes the wait
        DWORD start = GetTickCount();
        int32_t event = EventCode::None;
        for (;;) {
            event = dialog.NextEvent();
            if (seen != nullptr && event > 0)
                seen->push_back(event);
            if (event == EventCode::Close || GetTickCount() - start > milliseconds)
                break;
            bool end = false;
            for (int32_t id : ends)
                end |= event == id;
            if (end)
                break;
        }
        KillTimer(dialog.Handle(), 1);
        return event;
    }
};

}  // namespace

TEST_F(Dialogs, FrameIsPaintedFromItsDataAndCentredOverTheOwner)
{
    struct Case {
        int width, height;
        Gdiplus::ARGB band;
        COLORREF bandSeen;
    } cases[] = {
        {400, 300, 0xFF40A040, RGB(0x40, 0xA0, 0x40)},
        {355, 160, kBandColour, RGB(0xF0, 0xF0, 0xFF)},
        {520, 410, 0xFF2020C0, RGB(0x20, 0x20, 0xC0)},
    };
    for (const Case& c : cases) {
        std::string what = std::to_string(c.width) + " x " + std::to_string(c.height);
        RECT frame{};
        HWND ownerSeen = nullptr;
        wchar_t className[64] = L"";
        COLORREF corner = 0, border = 0, body = 0, band = 0;
        uint32_t popupsBefore = owner_.PopupCount();
        HWND handle = nullptr;
        {
            UiDialog dialog(dialogOwner_);
            DialogLook look = OutlinedLook(c.width, c.height, c.width - 8, c.height - 8);
            look.fills.push_back(DialogFill{4, c.height - 45, c.width - 8, 40, c.band, 0});
            ASSERT_TRUE(dialog.Create(look)) << what;
            handle = dialog.Handle();
            EXPECT_EQ(&dialog, dialogOwner_.ActiveDialog()) << what;
            int32_t ok = dialog.AddButton(L"OK", c.width - 100, c.height - 37, 80, 25, WS_VISIBLE | BS_DEFPUSHBUTTON);
            Operator person(L"Vantrell_MsgBox", [&](HWND popup) {
                GetWindowRect(popup, &frame);
                ownerSeen = GetWindow(popup, GW_OWNER);
                GetClassNameW(popup, className, 64);
                // A painted window reaches the screen a moment later: the frame's black says it has.
                const POINT edge{frame.left + 2, frame.top + c.height / 2};
                WaitFor([&] { return ScreenPixel(edge.x, edge.y) == RGB(0, 0, 0); }, "the frame on the screen");
                corner = ScreenPixel(frame.left, frame.top);
                border = ScreenPixel(frame.left + 2, frame.top + c.height / 2);
                body = ScreenPixel(frame.left + 10, frame.top + c.height / 2);
                band = ScreenPixel(frame.left + 10, frame.bottom - 20);
                ClickAt(CentreOf(ChildWithText(popup, L"Button", L"OK")));
            });
            dialog.Show(ok);
            EXPECT_EQ(ok, RunUntil(dialog, {ok})) << what;
            dialog.Close();
            person.Finish();
            EXPECT_FALSE(person.Stuck()) << what;
        }
        EXPECT_FALSE(IsWindow(handle)) << what << ": the window goes with the object";
        EXPECT_EQ(nullptr, dialogOwner_.ActiveDialog()) << what;
        EXPECT_EQ(std::wstring(L"Vantrell_MsgBox"), className) << what;
        EXPECT_EQ(owner_.Handle(), ownerSeen) << what;
        EXPECT_GE(owner_.PopupCount(), popupsBefore) << what;
        EXPECT_EQ(c.width, frame.right - frame.left) << what;
        EXPECT_EQ(c.height, frame.bottom - frame.top) << what;
        RECT ownerFrame;
        GetWindowRect(owner_.Handle(), &ownerFrame);
        EXPECT_LE(std::abs((ownerFrame.left + ownerFrame.right) / 2 - (frame.left + frame.right) / 2), 1) << what;
        EXPECT_LE(std::abs((ownerFrame.top + ownerFrame.bottom) / 2 - (frame.top + frame.bottom) / 2), 1) << what;
        EXPECT_NE(RGB(0, 0, 0), corner) << what << ": the corner is cut away";
        EXPECT_EQ(RGB(0, 0, 0), border) << what << std::hex << " border " << border;
        EXPECT_EQ(RGB(0xFF, 0xFF, 0xFF), body) << what << std::hex << " body " << body;
        EXPECT_EQ(c.bandSeen, band) << what << std::hex << " band " << band;
    }
}

TEST_F(Dialogs, EndsOnTheProgramsCloseTheSessionsEndAndTheOwnersCloseButton)
{
    int32_t closeButton = AddCloseButton(owner_, 670, 4, 20, 20, kOpaqueBlack);
    ASSERT_NE(0, closeButton);
    dialogOwner_.header.closeButton = closeButton;
    struct Case {
        const char* what;
        int action;   // 0 the close request, 1 the owner's close button, 2 the end of the session
    } cases[] = {{"close request", 0}, {"owner's close button", 1}, {"session end", 2}};
    for (const Case& c : cases) {
        Drain();
        UiDialog dialog(dialogOwner_);
        ASSERT_TRUE(dialog.Create(OutlinedLook(300, 200, 292, 192))) << c.what;
        int32_t ok = dialog.AddButton(L"OK", 200, 160, 80, 25, WS_VISIBLE);
        Operator person(L"Vantrell_MsgBox", [&](HWND popup) {
            if (c.action == 0) {
                PostMessageW(popup, kCloseRequestMessage, 0, 0);
            } else if (c.action == 1) {
                ClickAt(CentreOf(owner_.Control(closeButton)->handle));
            } else {
                SendMessageTimeoutW(popup, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 3000, nullptr);
            }
        });
        dialog.Show(ok);
        EXPECT_EQ(EventCode::Close, RunUntil(dialog, {ok})) << c.what;
        dialog.Close();
        person.Finish();
        EXPECT_TRUE(sandbox::RecordedActions().empty()) << c.what << ": nothing refused, nothing opened";
    }
}

TEST_F(Dialogs, OwnersHeaderActsWithoutPassingForTheDialogsControlOfTheSameId)
{
    // The owner's help link and minimise button carry the ids that the
    // dialog's "Apply" and "Cancel" get.
    SkipTo(owner_, 11);
    int32_t help = owner_.AddLink(L"<a>Online help (F1)</a>", 300, 31, 120, 18);
    int32_t minimise = AddMinimiseButton(owner_, 640, 4, 20, 20, kOpaqueBlack);
    ASSERT_EQ(11, help);
    ASSERT_EQ(12, minimise);
    dialogOwner_.header.helpLink = help;
    dialogOwner_.header.minimiseButton = minimise;
    dialogOwner_.header.helpPage = L"https://vantrell.invalid/vantrell/";
    Drain();

    UiDialog dialog(dialogOwner_);
    ASSERT_TRUE(dialog.Create(OutlinedLook(400, 200, 392, 192)));
    SkipTo(dialog, 11);
    int32_t apply = dialog.AddButton(L"Apply", 55, 160, 80, 25, WS_VISIBLE);
    int32_t cancel = dialog.AddButton(L"Cancel", 255, 160, 80, 25, WS_VISIBLE);
    ASSERT_EQ(help, apply);
    ASSERT_EQ(minimise, cancel);

    std::atomic<bool> pressedOwn{false};
    std::atomic<bool> minimised{false};
    Operator person(L"Vantrell_MsgBox", [&](HWND popup) {
        RECT rect;
        GetWindowRect(owner_.Control(help)->handle, &rect);
        ClickAt(POINT{rect.left + 5, (rect.top + rect.bottom) / 2});
        WaitFor([] { return !sandbox::RecordedActions().empty(); }, "the help page to open");
        ClickAt(CentreOf(owner_.Control(minimise)->handle));
        minimised = WaitFor([&] { return IsIconic(owner_.Handle()) != FALSE; }, "the owner to minimise");
        ShowWindow(owner_.Handle(), SW_RESTORE);
        WaitFor([&] { return !IsIconic(owner_.Handle()); }, "the owner to be restored");
        WaitForReady(popup);
        pressedOwn = true;
        SendMessageW(ChildWithText(popup, L"Button", L"Apply"), BM_CLICK, 0, 0);
    });
    dialog.Show(apply);
    // The owner's help link has Apply's id: only the operator's own press may end the wait.
    std::vector<int32_t> seen;
    const int32_t event = RunUntil(dialog, {apply}, &seen, 6000);
    const bool ownPressed = pressedOwn;
    dialog.Close();
    person.Finish();
    EXPECT_TRUE(ownPressed) << "the owner's header came through as the dialog's control";
    EXPECT_EQ(std::vector<int32_t>{apply}, seen) << "the dialog's own Apply, and nothing of the owner's header";
    EXPECT_EQ(apply, event);
    EXPECT_TRUE(minimised) << "the owner's minimise button minimises the owner";
    std::vector<sandbox::RecordedAction> actions = sandbox::RecordedActions();
    ASSERT_EQ(1u, actions.size()) << "the help page opens from under the dialog";
    EXPECT_EQ(L"https://vantrell.invalid/vantrell/", actions[0].details[L"file"]);
}

TEST_F(Dialogs, ClicksOnADialogWhileABoxRunsOverItAreDropped)
{
    UiDialog outer(dialogOwner_);
    ASSERT_TRUE(outer.Create(OutlinedLook(500, 400, 492, 392)));
    int32_t outerButton = outer.AddButton(L"Outer", 20, 20, 80, 25, WS_VISIBLE);
    outer.Show(outerButton);

    std::atomic<UiWindow*> activeDuringBox{nullptr};
    std::thread person([&] {
        // The box is the Vantrell_MsgBox with a "No" button.
        HWND box = WaitForPopup(L"Vantrell_MsgBox", [](HWND w) { return ChildWithText(w, L"Button", L"No") != nullptr; });
        if (box == nullptr)
            return;
        activeDuringBox = dialogOwner_.ActiveDialog();   // read while the box is open
        // Sent, so that the box's loop has handled it before the box is answered.
        SendMessageW(outer.Handle(), WM_COMMAND, MAKEWPARAM(outerButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(outer.Control(outerButton)->handle));
        ClickAt(CentreOf(ChildWithText(box, L"Button", L"No")));
        if (!WaitFor([&] { return !IsWindow(box); }, "the answered box to close"))
            PostMessageW(box, kCloseRequestMessage, 0, 0);   // a failing test ends instead of hanging
    });
    EXPECT_EQ(0, ThemedMessageBox(L"Go on?", BoxKind::YesNo, 160, dialogOwner_));
    person.join();
    EXPECT_NE(nullptr, activeDuringBox.load());
    EXPECT_NE(static_cast<UiWindow*>(&outer), activeDuringBox.load()) << "the box is the active dialog while it runs";
    EXPECT_EQ(&outer, dialogOwner_.ActiveDialog()) << "the outer dialog is active again";

    std::vector<int32_t> seen;
    RunUntil(outer, {}, &seen, 500);
    EXPECT_TRUE(seen.empty()) << "a click made while the box ran reached the outer dialog: " << seen[0];

    // Its own clicks from now on still count.
    PostMessageW(outer.Handle(), WM_COMMAND, MAKEWPARAM(outerButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(outer.Control(outerButton)->handle));
    EXPECT_EQ(outerButton, RunUntil(outer, {outerButton}, nullptr, 2000));
}
