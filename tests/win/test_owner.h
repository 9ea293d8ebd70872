// A plain window of the test's own as the owner of dialogs and boxes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "sandbox/sandbox.h"
#include "tests/win/screen_capture.h"
#include "ui/dialog_owner.h"
#include "ui/window.h"

class TestOwner : public DialogOwner {
public:
    explicit TestOwner(UiWindow& window) : window_(window) {}
    UiWindow& OwnerWindow() override { return window_; }
    void Lock() override { ++locks; }
    void Unlock() override { ++unlocks; }
    DialogHeader Header() const override { return header; }

    DialogHeader header;
    int locks = 0;
    int unlocks = 0;

private:
    UiWindow& window_;   // not owned
};

// Each test gets such an owner of its own, shown and in the foreground, and
// a clean record of the machine calls.
class OwnerWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void SetUp() override
    {
        sandbox::ClearRecord();
        ASSERT_NE(nullptr, owner_.CreateUiWindow(L"Vantrell_TestOwner", L"Owner", 750, 550, -1, -1, -1, -1, nullptr));
        owner_.ShowUiWindow(SW_SHOW);
        SetForegroundWindow(owner_.Handle());
        Drain();
    }
    void TearDown() override { owner_.DestroyUiWindow(); }
    // Handles what waits in the owner's queue and forgets its events.
    void Drain()
    {
        for (int i = 0; i < 200 && PumpEvents(owner_, PumpMode::Dispatch) != 0; ++i) {
        }
        owner_.Event().pending = false;
    }

    UiWindow owner_;
    TestOwner dialogOwner_{owner_};
};
