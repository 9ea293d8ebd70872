#include "app/run_mode.h"

#include "platform/command_line.h"
#include "platform/text.h"
#include "repair/repair_rules.h"

bool HasRepairSwitch(int argumentCount, const wchar_t* const* arguments)
{
    for (int i = 0; arguments != nullptr && i < argumentCount; ++i)
        if (arguments[i] != nullptr && EqualsNoCase(arguments[i], kRepairSwitch))
            return true;
    return false;
}

namespace {

bool EndsWithRelaunchSwitch(int argumentCount, const wchar_t* const* arguments)
{
    return arguments != nullptr && argumentCount > 0 && arguments[argumentCount - 1] != nullptr &&
           EqualsNoCase(arguments[argumentCount - 1], kRelaunchedSwitch);
}

// The arguments written again with the program's quoting, `count` of them.
std::wstring Requoted(const wchar_t* const* arguments, int count)
{
    std::wstring line;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            line.push_back(L' ');
        line += QuoteArgument(arguments[i]);
    }
    return line;
}

}  // namespace

// The clean-up in the repaired account's own session does nothing that needs
// an administrator, and asks for none: an elevation there would hand the
// account's session rights it does not have.
bool IsRepairCleanup(int argumentCount, const wchar_t* const* arguments)
{
    for (int i = 0; arguments != nullptr && i < argumentCount; ++i)
        if (arguments[i] != nullptr && EqualsNoCase(arguments[i], kCleanupSwitch))
            return HasRepairSwitch(argumentCount, arguments);
    return false;
}

RunMode ChooseRunMode(int argumentCount, const wchar_t* const* arguments, bool elevated)
{
    if (elevated)
        return HasRepairSwitch(argumentCount, arguments) ? RunMode::RepairTool : RunMode::AccountManager;
    if (IsRepairCleanup(argumentCount, arguments))
        return RunMode::RepairTool;
    return EndsWithRelaunchSwitch(argumentCount, arguments) ? RunMode::GiveUp : RunMode::Relaunch;
}

WString RelaunchParameters(const wchar_t* commandLine)
{
    const ArgumentList arguments(commandLine);
    std::wstring line = Requoted(arguments.Data(), arguments.Count());
    if (!line.empty())
        line.push_back(L' ');
    line += kRelaunchedSwitch;
    return WString(line.c_str());
}

WString WithoutRelaunchSwitch(const wchar_t* commandLine)
{
    const ArgumentList arguments(commandLine);
    if (!EndsWithRelaunchSwitch(arguments.Count(), arguments.Data()))
        return WString(commandLine != nullptr ? commandLine : L"");
    return WString(Requoted(arguments.Data(), arguments.Count() - 1).c_str());
}
