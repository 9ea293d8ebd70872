#include "accounts/profile_use.h"

#include <map>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/lifecycle_rules.h"
#include "accounts/profile_key_rules.h"
#include "accounts/profile_list.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/text_win.h"
#include "platform/text_win.h"

namespace {

struct AccountOfSid {
    std::wstring name;
    bool disabled = false;
    bool builtin = false;
};

// The hive file's last write: where the entry keeps no times, the best
// witness of the profile's last use. 0 when it cannot be read.
uint64_t HiveFileTime(const wchar_t* folder)
{
    if (folder == nullptr || *folder == L'\0')
        return 0;
    WString file = JoinPath(folder, L"NTUSER.DAT");
    file.AddLongPathPrefix();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(file.Text(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool HiveLoaded(const wchar_t* name)
{
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_USERS, name, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

}  // namespace

uint64_t NowTicks()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool ProfileHivesLoaded(const wchar_t* sidString)
{
    WString classes(sidString);
    classes.Append(L"_Classes");
    return IsPlainSidString(sidString) && (HiveLoaded(sidString) || HiveLoaded(classes.Text()));
}

bool ReadProfileUses(const wchar_t* consoleSid, std::vector<ProfileUse>& uses)
{
    uses.clear();
    std::vector<ProfileListEntry> entries;
    std::vector<AccountRecord> accounts;
    std::wstring machineSid;
    if (!ReadProfileList(entries) || !ForEachAccount([&](const AccountRecord& account) {
            if (machineSid.empty())
                machineSid = MachineSidOf(account);
            accounts.push_back(account);
            return true;
        }))
        return false;
    uses = DescribeProfileUses(entries, accounts, machineSid, consoleSid);
    return true;
}

std::vector<ProfileUse> DescribeProfileUses(const std::vector<ProfileListEntry>& entries,
                                            const std::vector<AccountRecord>& accounts,
                                            const std::wstring& machineSid, const wchar_t* consoleSid)
{
    std::map<std::wstring, AccountOfSid> bySid;
    if (!machineSid.empty()) {
        for (const AccountRecord& account : accounts)
            bySid[LowerText((machineSid + L"-" + std::to_wstring(account.rid)).c_str())] =
                AccountOfSid{account.name, (account.flags & kFlagAccountDisabled) != 0, IsBuiltinForPanel(account.rid)};
    }
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD computerLength = ARRAYSIZE(computer);
    GetComputerNameW(computer, &computerLength);
    std::map<std::wstring, bool> names;
    for (const ProfileListEntry& entry : entries)
        names[LowerText(entry.sid.Text())] = true;
    std::vector<ProfileUse> uses;
    uses.reserve(entries.size());
    for (const ProfileListEntry& entry : entries) {
        ProfileUse use;
        use.sid.Assign(entry.sid.Text());
        use.storedPath.Assign(entry.storedPath.Text());
        use.folder.Assign(entry.path.Text());
        const wchar_t* sid = use.sid.Text();
        const auto account = bySid.find(LowerText(sid));
        if (account != bySid.end()) {
            use.account.Assign(account->second.name.c_str());
            use.accountDisabled = account->second.disabled;
            use.accountBuiltin = account->second.builtin;
        }
        ProfileUseFacts& facts = use.facts;
        // A profile the service counts as in use may have its hive loaded
        // under another name by now; either way it is someone's open session.
        facts.loaded = entry.refCount != 0 || ProfileHivesLoaded(sid);
        facts.special = !StartsWithNoCase(sid, L"S-1-5-21-");
        facts.console = consoleSid != nullptr && *consoleSid != L'\0' && EqualsNoCase(sid, consoleSid);
        facts.backup = IsBackupKeyName(sid) || !IsPlainSidString(sid);
        facts.temporary = EndsWithFolder(use.folder.Text(), L"\\temp") ||
                          HasComputerTempMarker(use.folder.Text(), computer);
        facts.corrupt = names.count(LowerText(sid) + L".bak") != 0;
        const uint64_t hive = entry.loadTime != 0 || entry.unloadTime != 0 ? 0 : HiveFileTime(use.folder.Text());
        facts.lastUse = LastUseOf(entry.loadTime, entry.unloadTime, hive, facts.source);
        uses.push_back(std::move(use));
    }
    return uses;
}

ProfileDeletionPlan PlanProfileDeletion(const ProfileUse& use, bool keepAccounts, const ProfileFolderSet& folders)
{
    ProfileDeletionPlan plan;
    WString folder;
    plan.verdict = folders.Check(use.storedPath.Text(), use.sid.Text(), folder);
    plan.folderGoes = plan.verdict == ProfileFolderVerdict::Inside || plan.verdict == ProfileFolderVerdict::Missing;
    // An enabled account keeps its account and gets a fresh profile at its
    // next sign-in; a disabled one unused this long is a leftover, and goes
    // with its profile unless the operator keeps accounts.
    plan.accountGoes = plan.folderGoes && !keepAccounts && !(*use.account.Text() == L'\0') && use.accountDisabled &&
                       !use.accountBuiltin;
    return plan;
}

void DeleteUnusedProfile(const ProfileUse& use, const ProfileDeletionPlan& plan, const ProfileFolderSet& folders,
                         AccountDeletionReport& report)
{
    report = AccountDeletionReport{};
    if (!plan.folderGoes || ProfileHivesLoaded(use.sid.Text()))
        return;
    constexpr uint32_t kFolderFlags = kDeleteTakeOver | kDeleteScheduleAtRestart;
    if (plan.accountGoes) {
        AccountDeletion deletion;
        deletion.accountName = use.account.Text();
        deletion.folderFlags = kFolderFlags;
        deletion.clearAutoLogon = true;
        deletion.alwaysRemoveProfileEntry = false;
        deletion.profileFolders = &folders;
        RemoveAccount(deletion, report);
        return;
    }
    report.sidString.Assign(use.sid.Text());
    report.profileFolder.Assign(use.storedPath.Text());
    report.result = 1;
    RemoveProfileOf(use.sid.Text(), use.storedPath.Text(), kFolderFlags, false, report, &folders);
}

ProfileDeletionEnd DeleteProfileAsPlanned(const ProfileUse& use, const ProfileDeletionPlan& plan,
                                          const ProfileFolderSet& folders)
{
    AccountDeletionReport report;
    DeleteUnusedProfile(use, plan, folders, report);
    if (plan.accountGoes && !report.accountDeleted)
        return ProfileDeletionEnd::AccountStayed;
    const bool folderGone = plan.verdict == ProfileFolderVerdict::Missing ||
                            (report.folderVerdict == ProfileFolderVerdict::Inside &&
                             report.folderResult != kDeleteFailed && report.folderResult != -1);
    if (!folderGone || !report.profileEntryRemoved)
        return report.folderResult == -1 ? ProfileDeletionEnd::LeftAlone : ProfileDeletionEnd::FilesLeft;
    return report.folderResult == kDeleteScheduled ? ProfileDeletionEnd::GoneAtRestart : ProfileDeletionEnd::Gone;
}
