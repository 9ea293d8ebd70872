// The repair itself: run by the fix run on a worker thread inside the
// temporary administrator account, it rebuilds the account under repair and
// keeps every file of its owner. It knows no window: it takes plain data and
// tells whoever watches it what it is doing through RepairProgress.
#pragma once

#include <windows.h>

#include <cstdint>

#include "repair/repair_input.h"

// Runs the whole repair; `progress` may be null. 1 when the account was
// repaired, 0 otherwise.
DWORD RunRepair(const RepairInput& input, RepairProgress* progress);

// The same run, stopping once `stepsToComplete` steps of the journal are
// complete, as a power cut right after that step would leave the machine;
// for tests of the resumed run. 1 only when the repair ended repaired.
DWORD RunRepairUntil(const RepairInput& input, RepairProgress* progress, uint32_t stepsToComplete);
