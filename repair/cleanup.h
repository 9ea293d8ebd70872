// The last run of a repair: started in the repaired account by its clean-up
// shortcut, it removes the temporary account and puts back what the set-up
// changed. It has no window.
#pragma once

struct CleanupInput {
    const wchar_t* consoleUserName = nullptr;   // the repaired account: names the state file's section
    double osVersion = 0.0;
    const wchar_t* toolFolder = nullptr;
    const wchar_t* logPath = nullptr;
    // The repair ended before its account could sign in, and this clean-up
    // runs in the temporary account: the account under repair (the state
    // file's section) comes from the repair's journal.
    bool inTempAccount = false;
};

// Every step runs whatever the one before did; values read back from the
// state file are checked and never written out of range. The log says what
// the repair left: after a repair the account has no password, and how to
// set one; after a failed one, where the account's files are. The repair's
// journal is removed at the end. -13.
int RunCleanup(const CleanupInput& input);

// Puts the elevation prompt's and the store's policy values back as the
// set-up saved them under `section` of the state file: a saved number is
// written back, a value the set-up found absent is deleted, and a value
// with nothing valid saved is left as it is. Refused values are logged.
// Nothing below version 6.0 (no elevation prompt there).
void RestoreSavedPolicies(const wchar_t* statePath, const wchar_t* section, double osVersion, const wchar_t* logPath);
