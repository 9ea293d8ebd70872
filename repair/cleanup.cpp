#include "repair/cleanup.h"

#include <windows.h>
#include <shlobj.h>
#include <userenv.h>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/profile_key_rules.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "repair/logon_backup.h"
#include "repair/repair_journal.h"
#include "repair/repair_log.h"
#include "repair/repair_settings.h"
#include "repair/repair_site.h"
#include "repair/state_file.h"
#include "repair/temp_account.h"

namespace {

constexpr int kCleanupResult = -13;
constexpr wchar_t kTempSidKey[] = L"TempSid";

void DeleteShortcut(int csidl)
{
    WString folder;
    if (!FromFolderPath(folder, csidl, nullptr, SHGFP_TYPE_CURRENT))
        return;
    WString path = JoinPath(folder.Text(), kCleanupShortcutName);
    DeletePath(path.Text(), kDeleteTakeOver);
}

void LogRefused(const wchar_t* logPath, SavedValueKind kind, const wchar_t* consequence)
{
    WString text(L"The saved value \"");
    text.Append(SavedValueKey(kind), L"\" is not valid; ", consequence);
    WriteLogEntry(logPath, text.Text(), 0);
}

void RestoreAccountType(const CleanupInput& input, const wchar_t* statePath, const wchar_t* account)
{
    if (account == nullptr || *account == L'\0')
        return;
    SavedValue priv = ReadStateValue(statePath, account, SavedValueKind::UserPriv);
    if (!priv.valid) {
        LogRefused(input.logPath, SavedValueKind::UserPriv, L"the account type was left as it is.");
        return;
    }
    if (priv.value != 2 && !SetAccountType(account, priv.value, nullptr))
        WriteLogEntry(input.logPath, L"Failed to restore the account type.", 0);
}

bool ReadPolicyDword(const wchar_t* keyPath, const wchar_t* name, uint32_t& value)
{
    RegKey key;
    RegValue read;
    if (!key.Open(keyPath, KEY_READ) || !key.QueryValue(name, read) || read.type != REG_DWORD || read.size < 4)
        return false;
    value = read.Dword();
    return true;
}

// One policy value put back as the set-up found it; true when it changed.
bool RestorePolicyValue(const wchar_t* logPath, const wchar_t* statePath, const wchar_t* section,
                        SavedValueKind kind, const wchar_t* keyPath, const wchar_t* name, bool force)
{
    SavedValue saved = ReadStateValue(statePath, section, kind);
    if (saved.present && !saved.valid)
        LogRefused(logPath, kind, L"the value was left as it is.");
    uint32_t current = 0;
    bool present = ReadPolicyDword(keyPath, name, current);
    RegKey key;
    DWORD value = saved.value;
    switch (DecidePolicyRestore(saved, present, current)) {
    case PolicyRestore::Leave:
        return false;
    case PolicyRestore::Write:
        return force ? key.ForceWriteDword(keyPath, name, &value) : key.WriteDword(keyPath, name, &value);
    case PolicyRestore::Delete:
        return force ? key.ForceDelete(keyPath, name) : key.DeleteValueOrTree(keyPath, name);
    }
    return false;
}

}  // namespace

void RestoreSavedPolicies(const wchar_t* statePath, const wchar_t* section, double osVersion, const wchar_t* logPath)
{
    if (osVersion <= 5.9 || section == nullptr || *section == L'\0')
        return;
    // Nothing saved means the set-up never changed them (it saves before it
    // changes anything): the values are as they were before the repair.
    if (!ReadStateValue(statePath, section, SavedValueKind::UacState).present &&
        !ReadStateValue(statePath, section, SavedValueKind::LuaState).present)
        WriteLogEntry(logPath, L"No elevation prompt settings were saved for this repair; they were left as they are.",
                      0);
    bool changed = RestorePolicyValue(logPath, statePath, section, SavedValueKind::UacState, kUacPolicyKey,
                                      L"ConsentPromptBehaviorAdmin", false);
    changed |= RestorePolicyValue(logPath, statePath, section, SavedValueKind::UacUserState, kUacPolicyKey,
                                  L"ConsentPromptBehaviorUser", false);
    changed |= RestorePolicyValue(logPath, statePath, section, SavedValueKind::LuaState, kUacPolicyKey, L"EnableLUA",
                                  false);
    if (changed) {
        machine::RefreshPolicyEx(TRUE, RP_FORCE);
        machine::RefreshPolicyEx(FALSE, RP_FORCE);
    }
    RestorePolicyValue(logPath, statePath, section, SavedValueKind::AadState, kStorePolicyKey, L"AutoDownload", true);
}

namespace {

// What is left of a temporary account whose deletion was cut after the
// account went: its profile folder and entry, found by the SID recorded
// before. Only a SID that no account has any more is acted on.
void RemoveTempLeftovers(const wchar_t* sid)
{
    LocalSid binary;
    WString name;
    if (!IsPlainSidString(sid) || !SidFromName(binary, sid) || SidToAccountName(binary.Get(), name, nullptr))
        return;
    WString stored, folder;
    if (ReadProfileImagePath(sid, stored) &&
        CheckProfileFolder(stored.Text(), sid, folder) == ProfileFolderVerdict::Inside)
        DeletePath(folder.Text(), kDeleteTakeOver | kDeleteScheduleAtRestart);
    WString entry = ProfileEntryKeyPath(sid);
    if (!entry.IsEmpty())
        RegKey().DeleteTree(entry.Text());
}

// The automatic sign-in the repair set (the temporary account's, or the
// repaired account's from the hand-over) is cleared and the earlier one put
// back. One the repair did not set is someone's later choice: kept.
void RestoreSignIn(const wchar_t* logPath, const wchar_t* statePath, const wchar_t* section)
{
    WString user = GetAutoLogonUserName();
    bool repairs = EqualsNoCase(user.Text(), kTempAccountName) ||
                   (*section != L'\0' && EqualsNoCase(user.Text(), section));
    if (!repairs && IsAutoLogonConfigured()) {
        DiscardSavedAutoLogon();
        WriteLogEntry(logPath, L"The automatic sign-in was changed during the repair; it was left as it is.", 0);
        return;
    }
    if (repairs)
        SetAutoLogon(nullptr, nullptr);
    switch (RestoreAutoLogon(statePath, section)) {
    case LogonRestore::NoneSaved:
        break;
    case LogonRestore::Restored:
        WriteLogEntry(logPath, L"Restored the earlier automatic sign-in.", 0);
        break;
    case LogonRestore::Refused:
        WriteLogEntry(logPath, L"The saved automatic sign-in is not valid; it was not restored.", 0);
        break;
    case LogonRestore::Failed:
        WriteLogEntry(logPath, L"Failed to restore the earlier automatic sign-in.", 0);
        break;
    }
}

}  // namespace

std::wstring RemoveTempAccount(const wchar_t* statePath, const wchar_t* section)
{
    const wchar_t* const kRemoved = L"Successfully deleted Brenwick's temp account.";
    const wchar_t* const kFailed = L"Failed to delete Brenwick's temp account.";
    bool recordable = *section != L'\0';
    switch (ClaimTempAdmin()) {
    case TempAccountClaim::NotOurs:
        return NotOurTempAdminText();
    case TempAccountClaim::Ours: {
        WString sid;
        if (!GetAccountSidAndProfile(kTempAccountName, sid, nullptr))
            return kFailed;
        if (recordable)
            WriteStateText(statePath, section, kTempSidKey, sid.Text());
        if (DeleteTempAdmin() == 0)
            return kFailed;
        break;
    }
    case TempAccountClaim::None: {
        WString recorded = recordable ? ReadStateText(statePath, section, kTempSidKey) : WString(L"");
        if (!IsPlainSidString(recorded.Text()))
            return kFailed;   // never made, or deleted by a clean-up that finished
        RemoveTempLeftovers(recorded.Text());
        break;
    }
    }
    // Done: a clean-up run by hand later finds nothing to finish.
    if (recordable)
        WriteStateText(statePath, section, kTempSidKey, nullptr);
    return kRemoved;
}

void RestoreSignInOnce(const wchar_t* logPath, const wchar_t* statePath, const wchar_t* section, RepairJournal* journal,
                       const wchar_t* journalPath)
{
    // The earlier sign-in's password is only in the tool's secret, which
    // putting it back removes: done once, as the state file (and the
    // journal, while there is one) records.
    bool done = (journal != nullptr && (journal->marks & JournalMark::CleanupSignIn) != 0) ||
                (*section != L'\0' && EqualsNoCase(ReadStateText(statePath, section, kLogonRestoredKey).Text(), L"1"));
    if (done)
        return;
    RestoreSignIn(logPath, statePath, section);
    if (*section != L'\0' && GetFileAttributesW(statePath) != INVALID_FILE_ATTRIBUTES)
        WriteStateText(statePath, section, kLogonRestoredKey, L"1");
    if (journal != nullptr) {
        journal->marks |= JournalMark::CleanupSignIn;
        WriteJournal(journalPath, *journal);
    }
}

namespace {

// The account was made anew without a password: the operator must know,
// and know how to give it one, before the computer is left alone.
void LogNoPassword(const wchar_t* logPath, const wchar_t* account)
{
    WString text(L"The \"");
    text.Append(account, L"\" account was created anew and has no password: anyone at this computer can sign in to it.");
    WriteLogEntry(logPath, text.Text(), 0);
    text.Assign(L"To set a password, sign in as \"");
    text.Append(account, L"\", press Ctrl+Alt+Del, choose \"Change a password\" and leave the old password empty.");
    WriteLogEntry(logPath, text.Text(), 0);
}

// The end line, once: recorded before it is written, so that a run again
// never closes the log twice.
void EndLog(const wchar_t* logPath, RepairJournal* journal, const wchar_t* journalPath)
{
    if (journal != nullptr) {
        if ((journal->marks & JournalMark::CleanupEnded) != 0)
            return;
        journal->marks |= JournalMark::CleanupEnded;
        WriteJournal(journalPath, *journal);
    }
    WriteLogEntry(logPath, L"Repair operation complete.", LogFlags::EndLine);
}

void DeleteShortcuts()
{
    DeleteShortcut(CSIDL_DESKTOPDIRECTORY);
    DeleteShortcut(CSIDL_STARTUP);
}

}  // namespace

FinishResult FinishRepair(const CleanupInput& input)
{
    WString journalPath = JournalPath(input.toolFolder);
    RepairJournal journal;
    std::wstring problem;
    if (ReadJournal(journalPath.Text(), journal, problem) != JournalRead::Valid)
        return FinishResult::Done;   // nothing of a repair is left to finish
    if (journal.outcome == RepairOutcome::Running)
        return FinishResult::Waiting;   // the fix run resumes in the temporary account first
    if (journal.outcome == RepairOutcome::Failed)
        return FinishResult::Done;   // the clean-up in the temporary account does it all
    WString section(journal.account.c_str());
    const WString statePath = StateFilePath(input.toolFolder);
    // The hand-over puts the sign-in back before it restarts; cut before
    // that, it is done here.
    RestoreSignInOnce(input.logPath, statePath.Text(), section.Text(), &journal, journalPath.Text());
    WriteLogEntry(input.logPath, RemoveTempAccount(statePath.Text(), section.Text()).c_str(), 0);
    if ((journal.marks & JournalMark::CleanupEnded) == 0)
        LogNoPassword(input.logPath, section.Text());
    EndLog(input.logPath, &journal, journalPath.Text());
    WString picture = PictureCopyPath(input.toolFolder);
    DeleteFileW(picture.Text());
    DeleteJournal(journalPath.Text());
    return FinishResult::Done;
}

int RunCleanup(const CleanupInput& input)
{
    // In the repaired account's own session nothing is done as an
    // administrator: the fix run and the finish at the start did all that.
    // What is left is the account's own: its shortcuts and the log to read.
    if (!input.inTempAccount) {
        DeleteShortcuts();
        OpenPage(input.logPath, input.toolFolder);
        return kCleanupResult;
    }

    // A repair that ended before its account could sign in: this runs in the
    // temporary account, and the account under repair comes from the journal.
    WString journalPath = JournalPath(input.toolFolder);
    RepairJournal journal;
    std::wstring problem;
    bool haveJournal = ReadJournal(journalPath.Text(), journal, problem) == JournalRead::Valid;
    WString section(haveJournal ? journal.account.c_str() : L"");
    if (!haveJournal)
        WriteLogEntry(input.logPath, L"The repair's journal cannot be read; the saved settings were not restored.", 0);
    const WString statePath = StateFilePath(input.toolFolder);

    // The clean-up's own shortcuts go last, not first: a clean-up cut short
    // by a power failure then runs again at the next sign-in, and each step
    // below is safe to repeat.
    WriteLogEntry(input.logPath, RemoveTempAccount(statePath.Text(), section.Text()).c_str(), 0);
    RestoreSavedPolicies(statePath.Text(), section.Text(), input.osVersion, input.logPath);
    RestoreSignInOnce(input.logPath, statePath.Text(), section.Text(), haveJournal ? &journal : nullptr,
                      journalPath.Text());

    // An account that an earlier repair left with more rights than saved
    // gets its saved type back; the fix run makes it with that type.
    if (haveJournal && journal.Done(RepairStep::CreateNew) && AccountExists(section.Text()))
        RestoreAccountType(input, statePath.Text(), section.Text());

    if (haveJournal && (journal.marks & JournalMark::CleanupEnded) == 0) {
        WString text(L"The \"");
        text.Append(section.Text(), L"\" account was not repaired.");
        WriteLogEntry(input.logPath, text.Text(), 0);
        std::wstring state = DescribeUnfinishedRepair(journal, section.Text(), AccountExists(section.Text()));
        WriteLogEntry(input.logPath, state.c_str(), 0);
    }
    EndLog(input.logPath, haveJournal ? &journal : nullptr, journalPath.Text());

    DeleteShortcuts();
    DeleteJournal(journalPath.Text());
    WString picture = PictureCopyPath(input.toolFolder);
    DeleteFileW(picture.Text());
    OpenPage(input.logPath, input.toolFolder);
    return kCleanupResult;
}
