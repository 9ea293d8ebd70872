// The repair tool's window object: the common frame of its windows, its
// event step on the shared dialog filter, and the tool's entry.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/handles.h"
#include "platform/text.h"
#include "repair/repair_rules.h"
#include "repair/repair_site.h"
#include "ui/dialog_owner.h"
#include "platform/images.h"
#include "ui/window.h"

class RepairTool : public UiWindow, public DialogOwner {
public:
    RepairTool();
    ~RepairTool() override;

    HINSTANCE instance = nullptr;                  // not owned
    int32_t fixFlags = 0;
    const wchar_t* className = L"Brenwick_GUI_CLASS";
    const wchar_t* title = L"Brenwick";
    int32_t headerLabel = -1;
    int32_t homeLink = -1;
    int32_t minimiseButton = -1;
    int32_t closeButton = -1;
    int32_t helpLink = -1;
    UniqueBitmap tickImage;
    UniqueBitmap boxImage;
    UniqueImage headerImage;
    RepairSite site;                      // the running system's version; the rest set by RunRepairTool
    WString fixAccount;
    WString consoleUserName;
    WString consoleUserSid;
    WString consoleUserProfile;
    UniqueFileHandle programFile;         // the running program's file, held from the start (OpenRunningImage)
    bool inTempAccount = false;
    int32_t progressList = -1;            // the fix run's list view; the window adds the repair's rows to it
    UniqueToken consoleUserToken;         // empty when the console user is unknown

    // The tool's event step, through the shared dialog filter. With
    // PumpMode::IfAny it looks without waiting and gives the event the
    // filter gave (0 when nothing was waiting); else it waits and gives 1.
    int32_t NextRepairEvent(PumpMode mode);
    // Waits until a message arrives or `timeoutMs` has passed; a message is
    // handled through the shared filter. The event it gave, else 0.
    int32_t WaitRepairEvent(DWORD timeoutMs);
    // The event the last event step produced, after the filter's handling.
    int32_t LastEvent() const { return lastEvent_; }
    // DialogOwner: the tool's own window is the owner of its boxes.
    UiWindow& OwnerWindow() override { return *this; }
    void Lock() override;
    void Unlock() override;
    DialogHeader Header() const override;

    // The log; see repair/repair_log.h.
    int WriteLogEntry(const wchar_t* text, uint32_t flags);

private:
    int32_t lastEvent_ = 0;
    LockRecord locked_;
};

// The addresses behind the header's links.
extern const wchar_t kBrenwickHomePage[];
extern const wchar_t kBrenwickHelpPage[];
// What the system shows for the tool's window while it holds it busy.
extern const wchar_t kBrenwickBlockReason[];

// Runs the repair tool (repair/repair_entry.cpp); its result is the
// process's exit code: 0 after a run of the wizard or the fix run and when
// an open tool window was brought forward, -4 without elevation (the process
// entry relaunches; nothing is done here), -1 for a fix run outside the
// temporary account, -2 for a fix of the console user itself (or an unknown
// console user), -13 after the clean-up.
int RunRepairTool(RepairTool& tool, HINSTANCE instance, const wchar_t* commandLine, int showCommand);

// The common frame of every run's window: the window without the system's
// caption (the header is its title bar), its header with the links and
// buttons, and the check images. False when the window could not be made.
bool BuildRepairFrame(RepairTool& tool);

