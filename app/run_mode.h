// Which of the program's tools a process runs.
#pragma once

enum class RunMode {
    RepairTool,       // "/brenwick" among the arguments, and the process is an elevated administrator
                      // (or it is the clean-up, "/cleanup", which needs none)
    AccountManager,   // no switch, elevated
    Relaunch,         // not elevated: start again with "runas"
    GiveUp,           // not elevated although started by that relaunch: end
};

// The process's exit code after relaunching the repair tool.
inline constexpr int kRepairRelaunchedExitCode = -4;

#include "platform/text.h"

// The relaunch puts this argument behind the arguments it passes on. A
// process whose last argument it is, and that is still not elevated (UAC
// off, or no administrator), ends instead of starting the next one: one
// relaunch at most.
inline constexpr wchar_t kRelaunchedSwitch[] = L"/vantrell-relaunched";

// The parameters of the relaunch: the arguments of the command line as
// received, each written again with the program's own quoting, then the
// switch. However the line was quoted (an unbalanced quote included), the
// switch is read back as an argument of its own, and the last.
WString RelaunchParameters(const wchar_t* commandLine);

// The command line without the switch the relaunch added as its last
// argument (in any case), its other arguments as the relaunch wrote them,
// so that the tools see what the operator gave; any other line is returned
// as it is.
WString WithoutRelaunchSwitch(const wchar_t* commandLine);

// The repair tool's switch stands among the arguments as a whole argument,
// in any letter case.
bool HasRepairSwitch(int argumentCount, const wchar_t* const* arguments);

// Either tool runs only elevated, but for the repair's clean-up
// ("/brenwick /cleanup"), which runs as the repaired account is; without
// elevation the process starts itself again, and the relaunch's own switch,
// as the last argument, turns a second relaunch into GiveUp, for both tools
// alike.
RunMode ChooseRunMode(int argumentCount, const wchar_t* const* arguments, bool elevated);
