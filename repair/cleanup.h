// The last runs of a repair, none with a window. The finish, started as
// SYSTEM by the service manager at the first start after the hand-over and
// before any sign-in, removes the temporary account and closes the log. The
// clean-up in the repaired account's own session does nothing as an
// administrator: it removes its shortcuts and opens the log. After a repair
// that ended before its account could sign in, the clean-up runs in the
// temporary account instead and puts everything back there.
#pragma once

#include <string>

struct RepairJournal;

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
// state file are checked and never written out of range. After a failed
// repair the log says where the account's files are, and the repair's
// journal is removed at the end. -13.
int RunCleanup(const CleanupInput& input);

// The finish at a start. Waiting while the journal says the fix run has not
// handed over yet (it resumes in the temporary account first); Done when
// nothing is left to finish: then the earlier automatic sign-in is back (if
// the hand-over was cut before it put it back), the temporary account is
// gone, the log says the account has no password and is closed once, and
// the journal is removed. Each step is safe to repeat after a power cut.
enum class FinishResult { Waiting, Done };
FinishResult FinishRepair(const CleanupInput& input);

// Deletes the temporary account with its profile, when it is the one the
// set-up recorded, and returns the log's line on it. Its SID is recorded
// under `section` of the state file first, so that a run cut halfway can
// finish the job. An account of the name that the set-up did not make is
// left, and the line names it.
std::wstring RemoveTempAccount(const wchar_t* statePath, const wchar_t* section);

// The automatic sign-in the repair set (the temporary account's) is cleared
// and the earlier one put back, once: the journal (when given) and the
// state file record it. A sign-in someone set during the repair is kept.
void RestoreSignInOnce(const wchar_t* logPath, const wchar_t* statePath, const wchar_t* section, RepairJournal* journal,
                       const wchar_t* journalPath);

// Puts the elevation prompt's and the store's policy values back as the
// set-up saved them under `section` of the state file: a saved number is
// written back, a value the set-up found absent is deleted, and a value
// with nothing valid saved is left as it is. Refused values are logged.
// Nothing below version 6.0 (no elevation prompt there).
void RestoreSavedPolicies(const wchar_t* statePath, const wchar_t* section, double osVersion, const wchar_t* logPath);
