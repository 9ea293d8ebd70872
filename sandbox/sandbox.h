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
// "ShellExecuteExW", "ShutdownBlockReasonCreate", "ShutdownBlockReasonDestroy".
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

// Machine-wide switches a test may turn while a scenario is loaded.
void SetElevated(bool elevated);          // the membership test for Administrators
void SetWebBrowser(bool installed);       // whether web addresses can be opened
void SetNetUserEnumPageSize(unsigned accountsPerPage);   // 0: no paging
// Makes a call of the simulated machine fail with `status` (an NTSTATUS or
// NET_API_STATUS as the call returns it) until the next reset; 0 lets it work
// again. Calls that honour it: "LsaStorePrivateData", "LsaEnumerateAccountRights".
void SetCallFailure(const wchar_t* call, unsigned long status);

}  // namespace sandbox
