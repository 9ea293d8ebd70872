#include "app/run_mode.h"

#include "platform/text.h"

bool HasRepairSwitch(int argumentCount, const wchar_t* const* arguments)
{
    for (int i = 0; arguments != nullptr && i < argumentCount; ++i)
        if (arguments[i] != nullptr && EqualsNoCase(arguments[i], L"/brenwick"))
            return true;
    return false;
}

// The clean-up in the repaired account's own session does nothing that needs
// an administrator, and asks for none: an elevation there would hand the
// account's session rights it does not have.
bool IsRepairCleanup(int argumentCount, const wchar_t* const* arguments)
{
    for (int i = 0; arguments != nullptr && i < argumentCount; ++i)
        if (arguments[i] != nullptr && EqualsNoCase(arguments[i], L"/cleanup"))
            return HasRepairSwitch(argumentCount, arguments);
    return false;
}

RunMode ChooseRunMode(int argumentCount, const wchar_t* const* arguments, bool elevated)
{
    if (elevated)
        return HasRepairSwitch(argumentCount, arguments) ? RunMode::RepairTool : RunMode::AccountManager;
    if (IsRepairCleanup(argumentCount, arguments))
        return RunMode::RepairTool;
    for (int i = 0; arguments != nullptr && i < argumentCount; ++i)
        if (arguments[i] != nullptr && EqualsNoCase(arguments[i], kRelaunchedSwitch))
            return RunMode::GiveUp;
    return RunMode::Relaunch;
}

WString RelaunchParameters(const wchar_t* commandLine)
{
    WString parameters(commandLine != nullptr ? commandLine : L"");
    if (!parameters.IsEmpty())
        parameters.Append(L" ");
    parameters.Append(kRelaunchedSwitch);
    return parameters;
}

WString WithoutRelaunchSwitch(const wchar_t* commandLine)
{
    WString line(commandLine != nullptr ? commandLine : L"");
    const uint32_t length = line.Length();
    const uint32_t switchLength = TextLength(kRelaunchedSwitch);
    if (length < switchLength)
        return line;
    const uint32_t start = length - switchLength + 1;   // 1-based
    // A whole argument: at the start of the line or behind a blank.
    if (!EqualsNoCase(line.Text() + start - 1, kRelaunchedSwitch) ||
        (start > 1 && line.Text()[start - 2] != L' ' && line.Text()[start - 2] != L'\t'))
        return line;
    // The blank the relaunch put before it goes too.
    uint32_t keep = start - 1;
    if (keep > 0 && (line.Text()[keep - 1] == L' ' || line.Text()[keep - 1] == L'\t'))
        --keep;
    WString kept;
    if (keep == 0)
        kept.Assign(L"");
    else
        kept.AssignSubstring(line.Text(), 1, static_cast<int>(keep));
    return kept;
}
