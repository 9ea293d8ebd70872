// The fix run inside the temporary account: the progress window, the repair
// on a worker thread, the countdown and the reboot.
#pragma once

#include <windows.h>

class RepairTool;

// Held for the whole fix run. The start-up shortcut and a start by hand may
// race past the window search: the run that cannot take it ends without
// doing anything.
inline constexpr wchar_t kFixRunMutexName[] = L"Global\\BrenwickFixRun";

// Runs the repair (RunRepair) on a worker thread behind the progress window
// shown with `showCommand` (0: never shown), counts down 20 seconds once it
// has ended and reboots the computer. Outside the temporary account, or
// while another fix run holds kFixRunMutexName (logged), nothing is done.
// Always 0.
int RunFixSession(RepairTool& tool, int showCommand);

// The same with `worker` as the repair's thread routine, given the tool. A
// null routine stands for a worker thread that could not be created. For
// the tests, which run the window around a repair of their own.
int RunFixSessionWith(RepairTool& tool, int showCommand, LPTHREAD_START_ROUTINE worker);
