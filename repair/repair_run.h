// The repair itself: run by the fix run on a worker thread inside the
// temporary administrator account, it rebuilds the account under repair and
// keeps every file of its owner.
#pragma once

#include <windows.h>

#include <cstdint>

class RepairTool;

// The worker's thread routine; `tool` is the RepairTool. 1 when the account
// was repaired, 0 otherwise (and for a null tool).
DWORD WINAPI RunRepair(void* tool);

// The same run, stopping once `stepsToComplete` steps of the journal are
// complete, as a power cut right after that step would leave the machine;
// for tests of the resumed run. 1 only when the repair ended repaired.
DWORD RunRepairUntil(RepairTool& tool, uint32_t stepsToComplete);
