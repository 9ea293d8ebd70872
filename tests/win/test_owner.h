// A plain window of the test's own as the owner of dialogs and boxes.
#pragma once

#include <cstdint>

#include "ui/dialog_owner.h"
#include "ui/window.h"

class TestOwner : public DialogOwner {
public:
    explicit TestOwner(UiWindow& window) : window_(window) {}
    UiWindow& OwnerWindow() override { return window_; }
    void Lock() override { ++locks; }
    void Unlock() override { ++unlocks; }
    bool Busy() const override { return busy != nullptr && *busy != 0; }
    DialogHeader Header() const override { return header; }

    DialogHeader header;
    const uint32_t* busy = nullptr;   // not owned
    int locks = 0;
    int unlocks = 0;

private:
    UiWindow& window_;   // not owned
};
