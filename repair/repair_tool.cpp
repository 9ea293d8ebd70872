#include "repair/repair_tool.h"

int RunRepairTool(RepairTool&, HINSTANCE, const wchar_t*, int)
{
    return 0;   // the wizard, the fix run and the clean-up are not built yet: nothing is shown
}
