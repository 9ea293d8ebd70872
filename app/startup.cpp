#include "app/startup.h"

#include <gdiplus.h>

#include "app/command_mode.h"
#include "app/main_window.h"
#include "app/run_mode.h"
#include "platform/command_line.h"
#include "platform/elevation.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "platform/text.h"
#include "repair/repair_tool.h"

namespace {

int RunAccountManager(HINSTANCE instance, const wchar_t* commandLine, int showCommand)
{
    MainWindow window;
    return RunMainWindow(window, instance, commandLine, showCommand);
}

int StartRepairTool(HINSTANCE instance, const wchar_t* commandLine, int showCommand)
{
    RepairTool tool;
    int result = RunRepairTool(tool, instance, commandLine, showCommand);
    if (tool.Handle() != nullptr)
        ShowWindow(tool.Handle(), SW_HIDE);
    return result;
}

// Starts this executable again with "runas", in its own folder, with the same
// arguments; the answer to the consent prompt does not matter here.
void Relaunch(const wchar_t* commandLine, int showCommand, const StartupActions& actions)
{
    WString path = ModulePath();
    if (path.IsEmpty())
        return;
    WString folder(path.Text());
    folder.RemoveLastComponent();
    // "C:" alone names the drive's current folder, not its root.
    if (folder.Length() == 2 && folder.Text()[1] == L':')
        folder.Append(L"\\");
    WString parameters = RelaunchParameters(commandLine);
    actions.launchElevated(path.Text(), parameters.Text(), folder.Text(), showCommand);
}

}  // namespace

StartupActions DefaultStartupActions()
{
    return StartupActions{IsElevatedAdministrator, LaunchElevated, RunAccountManager, StartRepairTool, RunCommandMode};
}

int RunProcess(HINSTANCE instance, const wchar_t* commandLine, int showCommand, const StartupActions& actions)
{
    const ArgumentList arguments(commandLine);
    const int count = arguments.Count();
    const wchar_t* const* scanned = arguments.Data();

    // A command runs without a window: it starts GDI+ only if it draws, and
    // COM only for a verb that works on the machine (RunCommandMode).
    if (actions.runCommandMode != nullptr && IsCommandLine(count, scanned))
        return actions.runCommandMode(count, scanned, actions.isElevated);
    HRESULT com = CoInitialize(nullptr);

    Gdiplus::GdiplusStartupInput gdiplusInput;   // version 1, no debug callback, no suppression
    ULONG_PTR gdiplusToken = 0;
    if (Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) != Gdiplus::Ok)
        gdiplusToken = 0;   // drawing fails softly later on

    // The tools see the command line as the operator gave it.
    WString given = WithoutRelaunchSwitch(commandLine);
    int exitCode = 0;
    switch (ChooseRunMode(count, scanned, actions.isElevated())) {
    case RunMode::RepairTool:
        exitCode = actions.runRepairTool(instance, given.Text(), showCommand);
        break;
    case RunMode::AccountManager:
        exitCode = actions.runAccountManager(instance, given.Text(), showCommand);
        break;
    case RunMode::Relaunch:
        Relaunch(given.Text(), showCommand, actions);
        exitCode = HasRepairSwitch(count, scanned) ? kRepairRelaunchedExitCode : 0;
        break;
    case RunMode::GiveUp:
        // Started by our own relaunch and still not elevated: starting
        // again would only start the next one, without end.
        exitCode = 0;
        break;
    }

    if (SUCCEEDED(com))
        CoUninitialize();
    if (gdiplusToken != 0)
        Gdiplus::GdiplusShutdown(gdiplusToken);
    return exitCode;
}
