// The set-up of a repair, without a window: the temporary account, the
// tool folder, the saved settings, the shortcuts that start the fix run and
// the automatic sign-in into it, then the reboot. The wizard's "Yes" runs
// it; a command line can run it the same way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "repair/repair_site.h"

// The site's program is the running executable.
struct RepairSetupInput : RepairSite {
    std::wstring account;        // the account to repair (user name)
    int32_t fixFlags = 0;        // FixFlags
    bool inTempAccount = false;  // the console user is the temporary account
    HANDLE programFile = nullptr;   // not owned: its file as opened at the start (OpenRunningImage), copied into the tool folder
    // False: everything is set up and the restart is left to whoever asked
    // (a deployment engine restarts on its own schedule).
    bool restart = true;
};

// What became of a set-up. Scheduled: the reboot was asked for. Otherwise
// `message` says why in the operator's words; when `undone` the set-up had
// begun and took back what it had made (the temporary account, unless the
// operator is signed in with it, and the saved automatic sign-in).
struct RepairSetupResult {
    bool scheduled = false;
    bool undone = false;
    std::wstring message;
};

// Empty while no repair is under way; else the text that says which repair
// has not ended yet: a new set-up would replace its state file and its
// start-up shortcut, and one whose old account is already gone would never
// resume.
std::wstring RepairUnderWayMessage(const wchar_t* toolFolder);

// Sets the repair up and asks for the reboot. Opens no window; the
// password of the temporary account is wiped before it returns.
RepairSetupResult ScheduleRepair(const RepairSetupInput& input);
