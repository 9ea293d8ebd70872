// The repair itself: run by the fix run on a worker thread inside the
// temporary administrator account, it rebuilds the account under repair and
// keeps every file of its owner.
#pragma once

#include <windows.h>

// The worker's thread routine; `tool` is the RepairTool. 1 when the account
// was repaired, 0 otherwise (and for a null tool).
DWORD WINAPI RunRepair(void* tool);
