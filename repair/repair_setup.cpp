#include "repair/repair_setup.h"

#include <windows.h>
#include <lm.h>
#include <shlobj.h>

#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text_win.h"
#include "repair/cleanup.h"
#include "repair/logon_backup.h"
#include "repair/repair_hive.h"
#include "repair/repair_journal.h"
#include "repair/repair_log.h"
#include "repair/repair_settings.h"
#include "repair/repair_site.h"
#include "repair/state_file.h"
#include "repair/temp_account.h"
#include "repair/tool_folder.h"

namespace {

constexpr int kPolicyRounds = 10;
constexpr uint32_t kStoreAbsent = kAadStateAbsent;

struct Setup {
    const RepairSetupInput& input;
    const wchar_t* user;
    WString statePath;
    WString exePath;
};

// Writes what the clean-up puts back, then reads each key again: the set-up
// changes nothing on the machine that it could not record. False when a
// key is missing afterwards.
bool SaveSettings(const Setup& setup)
{
    const wchar_t* statePath = setup.statePath.Text();
    const wchar_t* user = setup.user;
    std::vector<const wchar_t*> keys = {L"FullName", L"UserPriv"};
    if (setup.input.osVersion > 5.9) {
        DWORD lua = 1;
        int32_t consent = GetUacState(&lua);
        // An absent "EnableLUA" reads as 0: saved as absent, so that the
        // clean-up deletes it again instead of switching the prompt off.
        RegKey policy;
        RegValue value;
        bool luaPresent = policy.Open(kUacPolicyKey, KEY_READ) && policy.QueryValue(L"EnableLUA", value) &&
                          value.type == REG_DWORD;
        WriteStateNumber(statePath, user, L"LUAState", luaPresent ? lua : kPolicyValueAbsent);
        WriteStateNumber(statePath, user, L"UACState", static_cast<uint32_t>(consent));
        // The prompt standard users get is changed too, so it is kept as well.
        bool userPresent = policy.QueryValue(L"ConsentPromptBehaviorUser", value) && value.type == REG_DWORD &&
                           value.size >= sizeof(DWORD);
        WriteStateNumber(statePath, user, L"UACUserState", userPresent ? value.Dword() : kPolicyValueAbsent);
        keys.push_back(L"LUAState");
        keys.push_back(L"UACState");
        keys.push_back(L"UACUserState");
    }
    UniqueNetBuffer info;
    if (machine::NetUserGetInfo(nullptr, user, 11, reinterpret_cast<LPBYTE*>(info.Put())) == NERR_Success && info) {
        const auto* record = static_cast<const USER_INFO_11*>(info.Get());
        bool named = record->usri11_full_name != nullptr && *record->usri11_full_name != L'\0';
        WriteStateText(statePath, user, L"FullName", named ? record->usri11_full_name : user);
        WriteStateNumber(statePath, user, L"UserPriv", record->usri11_priv);
    } else {
        WriteStateText(statePath, user, L"FullName", user);
        WriteStateNumber(statePath, user, L"UserPriv", 0xFFFFFFFF);
    }
    if (setup.input.osVersion > 6.1) {
        RegKey store;
        DWORD saved = kStoreAbsent;
        if (store.Open(kStorePolicyKey, kCreateKeyAccess)) {
            RegValue value;
            if (store.QueryValue(L"AutoDownload", value) && value.type == REG_DWORD && value.size >= 4)
                saved = value.Dword();
        }
        WriteStateNumber(statePath, user, L"AADState", saved);
        keys.push_back(L"AADState");
    }
    for (const wchar_t* key : keys)
        if (ReadStateText(statePath, user, key).IsEmpty())
            return false;
    return true;
}

void ApplyRepairSettings(const Setup& setup)
{
    if (setup.input.osVersion > 6.1) {
        const DWORD duringRepair = 2;
        RegKey().ForceWriteDword(kStorePolicyKey, L"AutoDownload", &duringRepair);
    }
    SaveAutoLogon(setup.statePath.Text(), setup.user);
}

// What the scheduling made before it found that it could not finish: the
// automatic sign-in, the policy values, the shortcuts and the state file
// are put back; the temporary account goes with the failure.
void UndoScheduling(const Setup& setup, const std::vector<WString>& links)
{
    const wchar_t* statePath = setup.statePath.Text();
    if (EqualsNoCase(GetAutoLogonUserName().Text(), kTempAccountName))
        SetAutoLogon(nullptr, nullptr);
    RestoreAutoLogon(statePath, setup.user);
    RestoreSavedPolicies(statePath, setup.user, setup.input.osVersion, setup.input.logPath.c_str());
    for (const WString& link : links)
        if (*link.Text() != L'\0')
            DeleteFileW(link.Text());
    DeleteFileW(statePath);
}

// A set-up that had begun and cannot finish: what it made goes.
RepairSetupResult Failed(const Setup& setup, const wchar_t* message)
{
    // Never the account the operator is signed in with.
    if (!setup.input.inTempAccount)
        DeleteTempAdmin();
    // The automatic sign-in was not changed: its saved copy has no use.
    DiscardSavedAutoLogon();
    RepairSetupResult result;
    result.undone = true;
    result.message = message;
    return result;
}

}  // namespace

std::wstring RepairUnderWayMessage(const wchar_t* toolFolder)
{
    WString journalPath = JournalPath(toolFolder);
    RepairJournal journal;
    std::wstring problem;
    if (ReadJournal(journalPath.Text(), journal, problem) != JournalRead::Valid)
        return std::wstring();
    return RepairUnderWayText(journal);
}

RepairSetupResult ScheduleRepair(const RepairSetupInput& input)
{
    RepairSetupResult result;
    if (input.account.empty()) {
        result.message = L"No account was chosen for the repair.";
        return result;
    }
    result.message = RepairUnderWayMessage(input.toolFolder.c_str());
    if (!result.message.empty())
        return result;

    Setup setup{input, input.account.c_str(), StateFilePath(input.toolFolder.c_str()), WString(input.toolFolder.c_str())};
    setup.exePath.Append(kToolExeName);

    TemporaryPassword password;
    switch (EnsureTempAdmin(input.inTempAccount, password.Text())) {
    case TempAdminResult::Ready:
        break;
    case TempAdminResult::NotOurs:
        result.message = NotOurTempAdminText();   // nothing was made: nothing to undo
        return result;
    case TempAdminResult::Failed:
        return Failed(setup, L"Sorry, the temporary user account could not be created.\r\n\r\nPlease try again later.");
    }

    ToolFolderResult folder = PrepareToolFolder(input.toolFolder.c_str());
    if (folder != ToolFolderResult::Ready)
        return Failed(setup, ToolFolderMessage(folder));
    const wchar_t* exe = setup.exePath.Text();
    const wchar_t* statePath = setup.statePath.Text();
    ToolFolderResult copied = CopyToolExecutable(input.programFile, exe);
    if (copied != ToolFolderResult::Ready)
        return Failed(setup, ToolFolderMessage(copied));
    if (CreateStateFile(statePath))
        SecureToolPath(statePath);
    // A journal that could not be read must not steer this repair.
    WString journalPath = JournalPath(input.toolFolder.c_str());
    DeleteJournal(journalPath.Text());
    if (!SaveSettings(setup)) {
        DeleteFileW(statePath);
        return Failed(setup, L"Sorry, Brenwick could not save this computer's settings before the repair.\r\n\r\n"
                             L"Please try again later.");
    }
    ApplyRepairSettings(setup);

    WString arguments(L" ");
    arguments.Append(RepairArguments(RepairStart::FixUser, setup.user, input.fixFlags).Text());
    WString description(L"This action repairs the account profile for the \"");
    description.Append(setup.user, L"\" user.");

    WString sid, profile;
    GetAccountSidAndProfile(kTempAccountName, sid, &profile);
    std::vector<WString> links(2);
    WString desktop;
    if (ProfileFolderPath(CSIDL_DESKTOPDIRECTORY, profile.Text(), desktop)) {
        CreateDirectoryPath(desktop.Text());
        links[0].Assign(desktop.Text());
        links[0].Append(L"\\Fix ", setup.user, L" account profile.lnk");
        CreateShortcut(links[0].Text(), exe, arguments.Text(), description.Text());
    }
    WString startup;
    bool found = UserShellFolder(sid.Text(), L"Startup", startup, profile.Text()) ||
                 ProfileFolderPath(CSIDL_STARTUP, profile.Text(), startup);
    if (!sid.IsEmpty())
        machine::RegUnLoadKeyW(HKEY_USERS, sid.Text());
    bool planted = false;
    if (found && CreateDirectoryPath(startup.Text())) {
        links[1] = JoinPath(startup.Text(), kTaskShortcutName);
        planted = CreateShortcut(links[1].Text(), exe, arguments.Text(), description.Text());
    }
    if (!planted)
        return Failed(setup, L"Sorry, the associated autorun entry could not be created.\r\n\r\nPlease try again later.");

    for (int i = 0; i < kPolicyRounds; ++i) {
        SetUacState(0, 1);
        SetAutoLogon(kTempAccountName, password.Text());
        machine::RefreshPolicyEx(TRUE, 0);
        machine::RefreshPolicyEx(FALSE, 0);
    }
    // Without it the computer would restart to the sign-in screen of an
    // account whose password nobody knows.
    if (!IsAutoLogonAccount(kTempAccountName)) {
        UndoScheduling(setup, links);
        return Failed(setup, L"Sorry, the temporary user account could not be set to sign in automatically.\r\n\r\n"
                             L"The repair was not scheduled and the changes were undone. Please try again later.");
    }
    WriteLogEntry(input.logPath.c_str(),
                  input.restart ? L"Repair operation sheduled. The computer will reboot now."
                                : L"Repair operation sheduled. It starts at the next restart of the computer.",
                  LogFlags::Header | LogFlags::NewLog);
    SecureToolPath(input.logPath.c_str());
    if (input.restart)
        machine::ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, 0);
    result.scheduled = true;
    result.message.clear();
    return result;
}
