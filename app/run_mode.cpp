#include "app/run_mode.h"

#include "platform/text.h"

RunMode ChooseRunMode(int argumentCount, const wchar_t* const* arguments, bool elevated)
{
    for (int i = 0; arguments != nullptr && i < argumentCount; ++i) {
        if (arguments[i] != nullptr && EqualsNoCase(arguments[i], L"/brenwick"))
            return RunMode::RepairTool;
    }
    return elevated ? RunMode::AccountManager : RunMode::Relaunch;
}
