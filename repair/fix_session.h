// The fix run inside the temporary account: the progress window, the repair
// on a worker thread, the countdown and the reboot.
#pragma once

#include <windows.h>

#include "repair/fix_rules.h"
#include "repair/repair_run.h"

class RepairTool;

// Held for the whole fix run: a file of the tool folder, open without
// sharing. The start-up shortcut and a start by hand may race past the
// window search: the run that cannot take it ends without doing anything.
inline constexpr wchar_t kFixRunLockName[] = L"\\BrenwickFixRun.lock";

// Runs the repair (RunRepair) on a worker thread behind the progress window
// shown with `showCommand` (0: never shown), shows what it reports as the
// list's rows, counts down 20 seconds once it has ended and reboots the
// computer. Outside the temporary account, or while another fix run holds
// kFixRunLockName (logged), nothing is done. Always 0.
int RunFixSession(RepairTool& tool, int showCommand);

// The repair's routine: RunRepair, or a test's stand-in.
using RepairWorker = DWORD (*)(const RepairInput& input, RepairProgress* progress);

// The same with `worker` as the repair and a countdown of `countdownSeconds`.
// A null routine stands for a worker thread that could not be created. For
// the tests, which run the window around a repair of their own.
int RunFixSessionWith(RepairTool& tool, int showCommand, RepairWorker worker,
                      int32_t countdownSeconds = kRebootCountdownSeconds);

// The repair's input as the tool's fields give it.
RepairInput RepairInputOf(const RepairTool& tool);
