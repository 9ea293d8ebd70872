#include "repair/cleanup.h"

#include <windows.h>
#include <shlobj.h>

#include "accounts/groups.h"
#include "accounts/passwords.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text_win.h"
#include "repair/logon_backup.h"
#include "repair/repair_log.h"
#include "repair/repair_settings.h"
#include "repair/state_file.h"
#include "repair/temp_account.h"

namespace {

constexpr int kCleanupResult = -13;
constexpr uint32_t kMaximumConsent = 5;

void DeleteShortcut(int csidl)
{
    WString folder;
    if (!FromFolderPath(folder, csidl, nullptr, SHGFP_TYPE_CURRENT))
        return;
    WString path = JoinPath(folder.Text(), L"BrenwickCleanup.lnk");
    DeletePath(path.Text(), kDeleteTakeOver);
}

void LogRefused(const CleanupInput& input, SavedValueKind kind, const wchar_t* consequence)
{
    WString text(L"The saved value \"");
    text.Append(SavedValueKey(kind), L"\" is not valid; ", consequence);
    WriteLogEntry(input.logPath, text.Text(), 0);
}

void RestoreAccountType(const CleanupInput& input, const wchar_t* statePath)
{
    if (input.consoleUserName == nullptr || *input.consoleUserName == L'\0')
        return;
    SavedValue priv = ReadStateValue(statePath, input.consoleUserName, SavedValueKind::UserPriv);
    if (!priv.valid) {
        LogRefused(input, SavedValueKind::UserPriv, L"the account type was left as it is.");
        return;
    }
    if (priv.value != 2 && !SetAccountType(input.consoleUserName, priv.value, nullptr))
        WriteLogEntry(input.logPath, L"Failed to restore the account type.", 0);
}

// The saved value when it is valid; the current one when it is absent, and,
// logged, when it is out of range.
uint32_t SavedOrCurrent(const CleanupInput& input, const wchar_t* statePath, SavedValueKind kind, uint32_t current)
{
    SavedValue saved = ReadStateValue(statePath, input.consoleUserName, kind);
    if (saved.valid)
        return saved.value;
    if (saved.present)
        LogRefused(input, kind, L"the current value was kept.");
    return current;
}

void RestorePolicies(const CleanupInput& input, const wchar_t* statePath)
{
    DWORD currentLua = 0;
    int32_t currentConsent = GetUacState(&currentLua);
    uint32_t lua = SavedOrCurrent(input, statePath, SavedValueKind::LuaState, currentLua);
    uint32_t consent = SavedOrCurrent(input, statePath, SavedValueKind::UacState,
                                      static_cast<uint32_t>(currentConsent));
    if (consent != static_cast<uint32_t>(currentConsent) || lua != currentLua) {
        // The three values are written together: never with a consent that
        // could not be read (-1) or a switch other than 0 or 1.
        if (consent <= kMaximumConsent && lua <= 1)
            SetUacState(consent, lua);
        else
            WriteLogEntry(input.logPath, L"The elevation prompt's settings could not be restored.", 0);
    }

    SavedValue store = ReadStateValue(statePath, input.consoleUserName, SavedValueKind::AadState);
    if (!store.valid) {
        if (store.present)
            LogRefused(input, SavedValueKind::AadState, L"the store policy was left as it is.");
        return;
    }
    RegKey key;
    if (store.value == kAadStateAbsent) {
        key.ForceDelete(kStorePolicyKey, L"AutoDownload");
    } else {
        DWORD value = store.value;
        key.ForceWriteDword(kStorePolicyKey, L"AutoDownload", &value);
    }
}

void OpenLog(const CleanupInput& input)
{
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpFile = input.logPath;
    execute.lpDirectory = input.toolFolder;
    execute.nShow = SW_SHOW;
    if (machine::ShellExecuteExW(&execute) && execute.hProcess != nullptr)
        CloseHandle(execute.hProcess);
}

}  // namespace

int RunCleanup(const CleanupInput& input)
{
    DeleteShortcut(CSIDL_DESKTOPDIRECTORY);
    DeleteShortcut(CSIDL_STARTUP);

    WriteLogEntry(input.logPath,
                  DeleteTempAdmin() != 0 ? L"Successfully deleted Brenwick's temp account."
                                         : L"Failed to delete Brenwick's temp account.",
                  0);

    SetAutoLogon(nullptr, nullptr);
    WString statePath(input.toolFolder);
    statePath.Append(kStateFileName);
    const wchar_t* section = input.consoleUserName != nullptr ? input.consoleUserName : L"";
    switch (RestoreAutoLogon(statePath.Text(), section)) {
    case LogonRestore::NoneSaved:
        break;
    case LogonRestore::Restored:
        WriteLogEntry(input.logPath, L"Restored the earlier automatic sign-in.", 0);
        break;
    case LogonRestore::Refused:
        WriteLogEntry(input.logPath, L"The saved automatic sign-in is not valid; it was not restored.", 0);
        break;
    case LogonRestore::Failed:
        WriteLogEntry(input.logPath, L"Failed to restore the earlier automatic sign-in.", 0);
        break;
    }

    RestoreAccountType(input, statePath.Text());
    if (input.osVersion > 5.9 && *section != L'\0')
        RestorePolicies(input, statePath.Text());

    WriteLogEntry(input.logPath, L"Repair operation complete.", LogFlags::EndLine);
    OpenLog(input);
    return kCleanupResult;
}
