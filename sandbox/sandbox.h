// The simulated machine's own controls, for the sandbox tool and the tests:
// resetting it to a scenario and reading what it recorded instead of doing.
// The state lives in the Wine registry under kStateKey, so it survives from
// one process to the next.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace sandbox {

// Under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kStateKey[] = L"SOFTWARE\\Vantrell Sandbox";

// Replaces the whole simulated machine (accounts, groups, rights, secrets,
// profiles it made, the record) by the scenario in the INI file `path`.
// False, with the reason in `error`, when the file cannot be read or holds a
// line that makes no sense; the machine is then left as it was.
bool ResetMachine(const std::wstring& path, std::wstring* error = nullptr);

// The scenario folder of the source tree, as the build knows it, and a path
// to the named scenario in it ("default" → ...\default.ini).
std::wstring ScenarioFolder();
std::wstring ScenarioPath(const std::wstring& name);

// An action that the simulated machine recorded instead of performing it:
// "ExitWindowsEx", "AbortSystemShutdownW", "RefreshPolicyEx",
// "ShellExecuteExW", "ShutdownBlockReasonCreate", "ShutdownBlockReasonDestroy";
// the steps of a simulated restart are recorded too (see Reboot).
// `details` holds the call's arguments by name (for ShellExecuteExW: "verb",
// "file", "parameters", "directory", "show", "mask"; for ExitWindowsEx:
// "flags", "reason"; for RefreshPolicyEx: "machine", "options"; for the block
// reasons: "window" and "reason"), numbers written in decimal.
struct RecordedAction {
    std::wstring call;
    std::map<std::wstring, std::wstring> details;
};

// Oldest first.
std::vector<RecordedAction> RecordedActions();
void ClearRecord();

// A program that the sign-in started from the account's Startup folder.
struct StartedProgram {
    std::wstring shortcut;              // the .lnk file
    std::wstring file, arguments, directory;   // what the link holds
    unsigned long processId = 0;        // 0 when it was not started
    bool started = false;
    std::wstring error;                 // why it was not started
};

// What a simulated restart did.
struct RebootOutcome {
    unsigned renamesDone = 0, renamesFailed = 0;   // operations registered for the restart
    bool signedIn = false;
    std::wstring account;           // the account signed in automatically
    std::wstring signInScreen;      // why the machine stopped at the sign-in screen
    std::vector<StartedProgram> programs;
};

// Restarts the simulated machine as the system restarts: the programs of the
// session get the end-of-session messages and are ended after a few seconds,
// the hives are written back and unloaded, the file renames and deletions
// registered for the restart (PendingFileRenameOperations) are carried out,
// and the automatic sign-in (Winlogon values and the security authority's
// secret) signs its account in, checked as any sign-in: the account becomes
// the console user and the user the program runs as, with its own folders,
// and the shell links in its Startup folder are started with their
// arguments and working folder. Without a valid automatic sign-in the
// machine stops at the sign-in screen. Each step goes into the record
// ("SessionEnded" with the count of programs and of those ended by force,
// "Reboot", "PendingFileRename", "SignIn" or "SignInScreen",
// "StartupProgram"). The signed-in account's programs count as elevated when
// it is an administrator (the elevation prompt's split token is not
// simulated). `requestedBy` names who asked.
RebootOutcome Reboot(const wchar_t* requestedBy = nullptr);

// Performs the reboot the program asked for with ExitWindowsEx (the reboot
// flag), which the machine records and does not act on by itself; false
// when no such request is waiting. The request is marked "performed".
bool RebootIfRequested(RebootOutcome* outcome = nullptr);

// Waits until every program started by the last sign-in has ended; false
// when one still runs after the time given.
bool WaitForSessionPrograms(unsigned long timeoutMilliseconds);

// The exit code of a program that a sign-in in this process started; false
// while it runs or when this process did not start it.
bool SessionProgramExitCode(unsigned long processId, unsigned long* exitCode);

// The account the program runs as: the one signed in by the last simulated
// restart, "" at the sign-in screen, else the account running us.
std::wstring SessionUserName();

// Machine-wide switches a test may turn while a scenario is loaded.
void SetElevated(bool elevated);          // the membership test for Administrators
void SetWebBrowser(bool installed);       // whether web addresses can be opened
void SetNetUserEnumPageSize(unsigned accountsPerPage);   // 0: no paging
// Which of the shell's folder setters the machine has: the known-folder
// manager's Redirect, SHSetKnownFolderPath and the export with ordinal 232.
// A missing Redirect fails with E_NOTIMPL, a missing export is not found.
void SetFolderSetters(bool redirect, bool knownFolderPath, bool folderPathOrdinal);
// Makes a call of the simulated machine fail with `status` (an NTSTATUS or
// NET_API_STATUS as the call returns it) until the next reset; 0 lets it work
// again. Calls that honour it: "LsaStorePrivateData", "LsaEnumerateAccountRights",
// "ExitWindowsEx" (a Win32 error code; the refused call is not recorded).
void SetCallFailure(const wchar_t* call, unsigned long status);

}  // namespace sandbox
