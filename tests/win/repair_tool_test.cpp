// The repair tool's window: its events while idle and while busy.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "repair/repair_tool.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"
#include "ui/drawing.h"

using namespace repair_test;

namespace {

TEST(NextRepairEvent, SessionEndCloseButtonAndTheBlockReasonWhileBusy)
{
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default")));
    sandbox::ClearRecord();
    StartGdiplusForTests();
    RepairTool tool;
    ASSERT_NE(nullptr, tool.CreateUiWindow(tool.className, L"Brenwick - Setup", 700, 500, -1, -1, -1, -1, nullptr));
    tool.closeButton = AddCloseButton(tool, 670, 5, 20, 20, kOpaqueWhite);
    DrainWaitingEvents(tool);

    EXPECT_EQ(0, tool.NextRepairEvent(PumpMode::IfAny)) << "nothing waiting";
    // Idle, the end of the session closes; busy, it is refused (0) and the
    // window carries the block reason from the moment it became busy.
    struct { const char* what; bool busy; int32_t lastEvent; size_t blocks; size_t aborts; } const cases[] = {
        {"end of the session, idle", false, EventCode::Close, 0, 0},
        {"end of the session, busy", true, EventCode::None, 1, 1},
    };
    for (const auto& c : cases) {
        sandbox::ClearRecord();
        DialogOwner::BusyScope hold(c.busy ? &tool : nullptr, kBrenwickBlockReason);
        PostMessageW(tool.Handle(), WM_QUERYENDSESSION, 0, 0);
        int32_t result = 0;
        MSG waiting;
        for (int i = 0; i < 10 && result == 0 && PeekMessageW(&waiting, nullptr, 0, 0, PM_NOREMOVE); ++i)
            result = tool.NextRepairEvent(PumpMode::IfAny);
        EXPECT_EQ(c.lastEvent, result) << c.what << ": looking returns what the filter gave";
        EXPECT_EQ(c.lastEvent, tool.LastEvent()) << c.what;
        auto blocks = Recorded(L"ShutdownBlockReasonCreate");
        EXPECT_EQ(c.blocks, blocks.size()) << c.what;
        if (!blocks.empty()) {
            EXPECT_FALSE(blocks[0].details[L"reason"].empty()) << c.what;
        }
        EXPECT_EQ(c.aborts, Recorded(L"AbortSystemShutdownW").size()) << c.what;
        DrainWaitingEvents(tool);
    }

    const ControlEntry* close = tool.Control(tool.closeButton);
    ASSERT_NE(nullptr, close);
    PostMessageW(tool.Handle(), WM_COMMAND, MAKEWPARAM(tool.closeButton, STN_CLICKED),
                 reinterpret_cast<LPARAM>(close->handle));
    EXPECT_EQ(1, tool.NextRepairEvent(PumpMode::Wait)) << "waiting always gives 1";
    EXPECT_EQ(EventCode::Close, tool.LastEvent());
    tool.DestroyUiWindow();
}

// The countdown's wait ends at its time or on a message, without a wake-up thread.
TEST(NextRepairEvent, TheCountdownWaitEndsAtItsTimeOrOnAMessage)
{
    StartGdiplusForTests();
    RepairTool tool;
    ASSERT_NE(nullptr, tool.CreateUiWindow(tool.className, L"Brenwick - Fix User Profile", 700, 500, -1, -1, -1, -1,
                                           nullptr));
    DrainWaitingEvents(tool);
    EXPECT_EQ(EventCode::None, tool.WaitRepairEvent(10)) << "nothing came: the time ran out";
    PostMessageW(tool.Handle(), kCloseRequestMessage, 0, 0);
    EXPECT_EQ(EventCode::Close, tool.WaitRepairEvent(kWaitLimitMs));
    tool.DestroyUiWindow();
}

}  // namespace
