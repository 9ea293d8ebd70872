// Which of the program's tools a process runs.
#pragma once

enum class RunMode {
    RepairTool,       // "/brenwick" among the arguments
    AccountManager,   // no switch, and the process is an elevated administrator
    Relaunch,         // no switch, not elevated: start again with "runas"
};

// Scans the arguments from the first; the repair tool's switch must stand as
// a whole argument, in any letter case. The repair tool makes its own
// elevation test, so `elevated` only matters without the switch.
RunMode ChooseRunMode(int argumentCount, const wchar_t* const* arguments, bool elevated);
