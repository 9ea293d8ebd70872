// The last run of a repair: started in the repaired account by its clean-up
// shortcut, it removes the temporary account and puts back what the set-up
// changed. It has no window.
#pragma once

struct CleanupInput {
    const wchar_t* consoleUserName = nullptr;   // the repaired account: names the state file's section
    double osVersion = 0.0;
    const wchar_t* toolFolder = nullptr;
    const wchar_t* logPath = nullptr;
};

// Every step runs whatever the one before did; values read back from the
// state file are checked and never written out of range. -13.
int RunCleanup(const CleanupInput& input);
