#include "repair/repair_run.h"

#include "repair/repair_tool.h"

DWORD WINAPI RunRepair(void* tool)
{
    // Not built yet: a repair that does nothing reports that it failed.
    if (tool != nullptr)
        static_cast<RepairTool*>(tool)->WriteLogEntry(L"The repair is not available in this version of Brenwick.", 0);
    return 0;
}
