// The repair tool's entry: elevation, the single window, the command line
// and the choice between the wizard, the fix run and the clean-up.
#include <windows.h>
#include <lm.h>
#include <shellapi.h>
#include <shlobj.h>

#include "accounts/account_list.h"
#include "accounts/lookup.h"
#include "platform/command_line.h"
#include "platform/machine.h"
#include "platform/security.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "repair/cleanup.h"
#include "repair/finish_service.h"
#include "repair/fix_session.h"
#include "repair/repair_tool.h"
#include "repair/repair_wizard.h"
#include "repair/tool_folder.h"

namespace {

constexpr int kNotElevated = -4;   // the exit code of the relaunch, which the process entry does

int RefuseOrRun(RepairTool& tool, const RepairCommand& command)
{
    tool.fixFlags = command.fixFlags;
    tool.fixAccount.Assign(command.fixAccount.Text());
    return command.showCommand;
}

bool BringOpenToolForward(const RepairTool& tool)
{
    for (const wchar_t* suffix : {L" - Fix User Profile", L" - Setup"}) {
        WString caption(tool.title);
        caption.Append(suffix);
        HWND found = FindWindowW(tool.className, caption.Text());
        if (found == nullptr)
            continue;
        // A hidden window is a silent fix run: restoring it would show what
        // was meant to stay hidden, so this start opens its own window.
        if (!IsWindowVisible(found))
            return false;
        ShowWindow(found, SW_RESTORE);
        SetForegroundWindow(found);
        return true;
    }
    return false;
}

}  // namespace

int RunRepairTool(RepairTool& tool, HINSTANCE instance, const wchar_t* commandLine, int showCommand)
{
    const wchar_t* received = commandLine != nullptr ? commandLine : L"";
    tool.site = LocateRepairSite();
    // Before anything else: the copy the set-up makes is of what runs.
    tool.programFile = OpenRunningImage();

    CleanupInput cleanup;
    cleanup.osVersion = tool.site.osVersion;
    cleanup.toolFolder = tool.site.toolFolder.c_str();
    cleanup.logPath = tool.site.logPath.c_str();

    const ArgumentList arguments(received);
    const bool elevated = IsElevatedAdministrator();
    // The clean-up in the repaired account's session runs with that
    // account's rights, whatever they are: it needs no more.
    if (!elevated) {
        RepairCommandInput unprivileged;
        RepairCommand command = ParseRepairArguments(arguments.Count(), arguments.Data(), unprivileged);
        return command.action == RepairCommandAction::Cleanup ? RunCleanup(cleanup) : kNotElevated;
    }
    EnablePrivileges();
    tool.instance = instance;
    tool.consoleUserToken = FindConsoleUser(tool.consoleUserName, &tool.consoleUserProfile, &tool.consoleUserSid);

    if (EqualsNoCase(tool.consoleUserName.Text(), kTempAccountName)) {
        UniqueNetBuffer info;
        tool.inTempAccount = machine::NetUserGetInfo(nullptr, tool.consoleUserName.Text(), 11,
                                                     reinterpret_cast<LPBYTE*>(info.Put())) == NERR_Success &&
                             info && static_cast<const USER_INFO_11*>(info.Get())->usri11_priv == USER_PRIV_ADMIN;
    }

    RepairCommandInput input;
    input.inTempAccount = tool.inTempAccount;
    input.consoleUserName = tool.consoleUserName.Text();
    input.showCommand = showCommand;
    RepairCommand command = ParseRepairArguments(arguments.Count(), arguments.Data(), input);
    if (command.action == RepairCommandAction::Finish)
        return RunFinishService(cleanup);
    if (command.action == RepairCommandAction::Cleanup) {
        cleanup.consoleUserName = tool.consoleUserName.Text();
        cleanup.inTempAccount = command.inTempAccount;
        return RunCleanup(cleanup);
    }
    if (command.action == RepairCommandAction::Refused)
        return command.result;
    int show = RefuseOrRun(tool, command);

    if (BringOpenToolForward(tool))
        return 0;
    if (!BuildRepairFrame(tool))
        return 0;
    int result = !tool.fixAccount.IsEmpty() ? RunFixSession(tool, show) : RunRepairWizard(tool);
    tool.headerImage.Reset();
    return result;
}
