// The repair tool's window object and its entry: elevation, the single
// window, the command line, the common frame and the choice between the
// wizard, the fix run and the clean-up.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/handles.h"
#include "platform/text.h"
#include "repair/repair_rules.h"
#include "ui/image.h"
#include "ui/window.h"

class RepairTool : public UiWindow {
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
    double osVersion = 0.0;
    WString fixAccount;
    WString consoleUserName;
    WString consoleUserSid;
    WString consoleUserProfile;
    WString modulePath;
    WString toolFolder;
    WString logPath;
    bool inTempAccount = false;
    int32_t progressList = -1;            // the fix run's list view; the repair adds its rows to it
    int32_t buttonIconMode = -1;
    UniqueToken consoleUserToken;         // empty when the console user is unknown

    // The tool's event step. Bit 0 of `mode`: look without waiting; bit 1:
    // a repair is under way, so the end of the session is held off with a
    // block reason. With bit 0 clear always 1, else what PumpEvents gave.
    int32_t NextRepairEvent(int mode);
    // The event the last NextRepairEvent produced, after its own handling.
    int32_t LastEvent() const { return lastEvent_; }
    // Handles every waiting message (at most a thousand).
    void DrainEvents(bool busy);

    // The state file and the copied executable in the tool folder.
    WString StatePath() const;
    WString ToolExePath() const;

    // The log; see repair/repair_log.h.
    int WriteLogEntry(const wchar_t* text, uint32_t flags);

private:
    int32_t lastEvent_ = 0;
};

// The addresses behind the header's links.
extern const wchar_t kBrenwickHomePage[];
extern const wchar_t kBrenwickHelpPage[];

// Runs the repair tool; its result is the process's exit code: 0 after a
// run of the wizard or the fix run and when an open tool window was brought
// forward, -4 without elevation (the process entry relaunches; nothing is
// done here), -1 for a fix run outside the temporary account, -2 for a fix
// of the console user itself (or an unknown console user), -13 after the
// clean-up.
int RunRepairTool(RepairTool& tool, HINSTANCE instance, const wchar_t* commandLine, int showCommand);

// The set-up wizard (repair/repair_wizard.cpp); 0.
int RunRepairWizard(RepairTool& tool);

// The common frame of every run's window: the window, its header with the
// links and buttons, the check images and the wake-up thread. False when
// the window could not be made.
bool BuildRepairFrame(RepairTool& tool);

// Posts WM_NULL to the window every 20 ms while it exists, so that a wait
// for its next event ends at least that often. False when the thread could
// not start.
bool StartWakeUps(HWND window);

// A framed white box of `size` pixels, with a green tick when `ticked`;
// drawn as the 18-pixel check images, scaled. Null below 8 pixels or when
// drawing failed.
UniqueBitmap DrawCheckImage(bool ticked, int size);
