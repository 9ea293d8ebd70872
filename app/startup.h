// The process entry's work: COM and GDI+ for the whole run, the choice of
// tool and the elevated relaunch.
#pragma once

#include <windows.h>

// What the entry calls to test elevation, relaunch and run either tool;
// tests replace them to watch the entry's decisions.
struct StartupActions {
    bool (*isElevated)();
    bool (*launchElevated)(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory, int showCommand);
    int (*runAccountManager)(HINSTANCE instance, const wchar_t* commandLine, int showCommand);
    int (*runRepairTool)(HINSTANCE instance, const wchar_t* commandLine, int showCommand);
    // A verb as the first argument: no window, no relaunch (null: the
    // account manager's path is taken as before).
    int (*runCommandMode)(int count, const wchar_t* const* arguments, bool (*isElevated)()) = nullptr;
};

StartupActions DefaultStartupActions();

// `commandLine` is the one the entry receives, without the program's path.
// Returns the process exit code.
int RunProcess(HINSTANCE instance, const wchar_t* commandLine, int showCommand, const StartupActions& actions);
