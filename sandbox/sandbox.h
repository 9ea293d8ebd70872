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
// "file", "parameters", "directory", "show", "mask", and for a web address
// opened without a browser only "file" and "refused"); for ExitWindowsEx:
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
    bool afterPowerCut = false;     // the session had ended by a power cut
    unsigned renamesDone = 0, renamesFailed = 0;   // operations registered for the restart
    bool signedIn = false;
    std::wstring account;           // the account signed in automatically
    bool temporaryProfile = false;  // its own profile could not be used: the service gave it a temporary one
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

// Someone types the account's name and password at the sign-in screen:
// checked and carried out as the automatic sign-in is (the account becomes
// the session's, its Startup folder runs). Only at the sign-in screen; the
// outcome's signInScreen says why it was refused.
RebootOutcome SignInAtTheScreen(const wchar_t* user, const wchar_t* password);

// Performs the reboot the program asked for with ExitWindowsEx (the reboot
// flag), which the machine records and does not act on by itself; false
// when no such request is waiting. Every restart (this one, the sandbox
// tool's, the one after a power cut) marks the requests made before it
// "performed": none of them is left waiting after it.
bool RebootIfRequested(RebootOutcome* outcome = nullptr);

// Waits until every program started by the last sign-in has ended; false
// when one still runs after the time given.
bool WaitForSessionPrograms(unsigned long timeoutMilliseconds);

// The exit code of a program that a sign-in in this process started; false
// while it runs or when this process did not start it.
bool SessionProgramExitCode(unsigned long processId, unsigned long* exitCode);

// Waits until one of the programs `processIds` (started by a sign-in in this
// process) ends, or `timeoutMilliseconds` pass; true when one ended.
bool WaitForAnySessionProgram(const std::vector<unsigned long>& processIds, unsigned long timeoutMilliseconds);

// The account the program runs as: the one signed in by the last simulated
// restart, "" at the sign-in screen, else the account running us.
std::wstring SessionUserName();

// The simulated power cut behind machine::PowerCutPoint. Every point a
// program passes is written into the machine's state, oldest first, across
// processes and restarts, until the next reset or ClearPowerCutPoints. Once
// armed, the process that passes the named point (compared without regard
// to case) for the `passage`-th time from now on is ended there at once
// with TerminateProcess and the exit code kPowerCutExitCode; the cut is
// recorded ("PowerCut" with "point", "passage", "process") and disarms the
// machine. The next Reboot then ends the session as a power cut ends it:
// the other programs of the session are ended without the end-of-session
// messages, and loaded hives lose what was not written back into their
// files; only what was registered for the restart is carried out.
inline constexpr unsigned long kPowerCutExitCode = 0xDEAD0C07;

// The simulated machine marks a point of its own after each call that
// changes what survives a restart (an account added or deleted, a secret
// stored, a restart asked for, the policies refreshed, a file opened),
// named kMachineCallPoint + the call's name ("machine: NetUserDel"), so that
// the power can fail right after such a call in any program.
inline constexpr wchar_t kMachineCallPoint[] = L"machine: ";
void PassMachineCall(const wchar_t* call);

struct PowerCut {
    std::wstring point;
    unsigned long passage = 0;
    unsigned long processId = 0;
    bool pending = false;   // no restart has followed it yet
};

void ArmPowerCut(const wchar_t* point, unsigned passage = 1);
void DisarmPowerCut();
// The armed point and passage; false when none is armed.
bool ArmedPowerCut(std::wstring* point, unsigned* passage);
std::vector<std::wstring> PowerCutPointsPassed();
void ClearPowerCutPoints();
// The last cut since the reset (or ForgetPowerCut); false when none happened.
bool LastPowerCut(PowerCut* cut);
void ForgetPowerCut();
// The power fails now, wherever the session's programs are: each is ended
// at once with kPowerCutExitCode, and the cut is recorded with `when` as its
// point (passage 0, process 0). MarkPowerCut only records it.
void CutPowerNow(const wchar_t* when);
void MarkPowerCut(const wchar_t* when);
// Whether the session ended by a power cut that no restart has followed yet;
// the restart that asks takes it (it is not pending any more).
bool TakePendingPowerCut();

// Machine-wide switches a test may turn while a scenario is loaded.
void SetElevated(bool elevated);          // the membership test for Administrators
bool IsElevated();                        // what that test answers now
void SetWebBrowser(bool installed);       // whether web addresses can be opened
void SetNetUserEnumPageSize(unsigned accountsPerPage);   // 0: no paging
// Which of the shell's folder setters the machine has: the known-folder
// manager's Redirect, SHSetKnownFolderPath and the export with ordinal 232.
// A missing Redirect fails with E_NOTIMPL, a missing export is not found.
void SetFolderSetters(bool redirect, bool knownFolderPath, bool folderPathOrdinal);
// Makes a call of the simulated machine fail with `status` (an NTSTATUS or
// NET_API_STATUS as the call returns it) until the next reset; 0 lets it work
// again. Calls that honour it: "LsaStorePrivateData", "LsaEnumerateAccountRights",
// "ExitWindowsEx" (a Win32 error code; the refused call is not recorded),
// "NetUserEnum" (every page after the first: a database failing mid-walk,
// with SetNetUserEnumPageSize for more than one page).
void SetCallFailure(const wchar_t* call, unsigned long status);

}  // namespace sandbox
