// The health check reads; the operations it mends through change. Every SID
// it reports passes three tests: it is of this computer's domain, no listed
// account has its RID, and the system itself cannot name it.
#include "app/health_check.h"

#include <windows.h>
#include <lm.h>
#include <ntsecapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <set>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/personal_folder_rules.h"
#include "accounts/profile_key_rules.h"
#include "accounts/profile_keys.h"
#include "accounts/profile_list.h"
#include "accounts/profile_use.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/secret_text.h"
#include "platform/sid.h"
#include "platform/token.h"
#include "platform/tree_walk.h"
#include "platform/text_win.h"
#include "repair/repair_hive.h"
#include "repair/repair_journal.h"
#include "repair/repair_rules.h"
#include "repair/repair_site.h"
#include "repair/state_file.h"
#include "repair/temp_account.h"

namespace {

constexpr wchar_t kPasswordLessKey[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\PasswordLess\\Device";
constexpr wchar_t kPasswordLessValue[] = L"DevicePasswordLessBuildVersion";
constexpr wchar_t kShellFoldersKey[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t* const kToolShortcuts[] = {kTaskShortcutName, kCleanupShortcutName};

struct ProfileEntry {
    std::wstring sid;
    std::wstring storedPath;
    std::wstring path;        // expanded
};

struct MachineFacts {
    std::vector<AccountRecord> accounts;
    bool accountsRead = false;   // the whole database: a part would make live accounts look deleted
    std::map<uint32_t, size_t> byRid;
    std::wstring domainSid;
    std::vector<ProfileListEntry> profileList;   // as read, for the judgement of the profiles' use
    std::vector<ProfileEntry> profiles;
    bool profilesRead = false;
    bool elevated = true;
    std::wstring selfSid;     // the account this process runs as
};

// A standard user may read only its own profile folder and settings.
bool MayRead(const MachineFacts& facts, const std::wstring& sid)
{
    return facts.elevated || EqualsNoCase(sid.c_str(), facts.selfSid.c_str());
}

std::wstring ToText(const WString& text)
{
    return text.Text() != nullptr ? std::wstring(text.Text()) : std::wstring();
}

bool FolderExists(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A value of the key as text (REG_SZ or REG_EXPAND_SZ, not expanded) or as a
// number; `present` whether the value exists at all.
std::wstring ReadValueText(RegKey& key, const wchar_t* name, bool* present = nullptr)
{
    RegValue value;
    const bool exists = key.QueryValue(name, value);
    if (present != nullptr)
        *present = exists;
    if (!exists)
        return L"";
    if (value.type == REG_DWORD)
        return std::to_wstring(value.Dword());
    return value.type == REG_SZ || value.type == REG_EXPAND_SZ ? value.Text() : L"";
}

RegKey OpenRead(const wchar_t* path)
{
    return RegKey(OpenKey(path, KEY_READ));
}

void ReadAccounts(MachineFacts& facts)
{
    facts.accountsRead = ForEachAccount([&facts](const AccountRecord& account) {
        if (facts.domainSid.empty())
            facts.domainSid = MachineSidOf(account);
        facts.byRid[account.rid] = facts.accounts.size();
        facts.accounts.push_back(account);
        return true;
    }, FILTER_NORMAL_ACCOUNT);
}

const AccountRecord* FindAccount(const MachineFacts& facts, const std::wstring& name)
{
    for (const AccountRecord& account : facts.accounts) {
        if (EqualsNoCase(account.name.c_str(), name.c_str()))
            return &account;
    }
    return nullptr;
}

// A local SID whose account is gone: of this machine, no listed account has
// its RID, and the system cannot name it either (a local group has a SID of
// the same form).
bool IsOrphanedLocalSid(const MachineFacts& facts, const std::wstring& sidString)
{
    if (!IsLocalAccountSid(sidString, facts.domainSid))
        return false;
    uint32_t rid = static_cast<uint32_t>(wcstoul(sidString.c_str() + sidString.rfind(L'-') + 1, nullptr, 10));
    if (facts.byRid.count(rid) != 0)
        return false;
    LocalSid sid;
    WString name;
    return SidFromText(sidString.c_str(), sid) && !SidToAccountName(sid.Get(), name, nullptr) &&
           GetLastError() == ERROR_NONE_MAPPED;
}

// Without the whole list no folder can be called nobody's: the checks that
// compare folders with profiles are then left out.
void ReadProfiles(MachineFacts& facts)
{
    facts.profilesRead = ReadProfileList(facts.profileList);
    for (const ProfileListEntry& entry : facts.profileList)
        facts.profiles.push_back({entry.sid.Text(), entry.storedPath.Text(), entry.path.Text()});
}

Finding Make(FindingKind kind, std::wstring summary, std::wstring target, std::vector<Evidence> evidence)
{
    const FindingRule& rule = RuleOf(kind);
    Finding finding;
    finding.kind = kind;
    finding.id = rule.id;
    finding.severity = rule.severity;
    finding.summary = std::move(summary);
    finding.evidence = std::move(evidence);
    finding.mendText = rule.mendText;
    finding.mendable = rule.mendable;
    finding.safeToMend = rule.safeToMend;
    finding.target = std::move(target);
    return finding;
}

void CheckProfileKeys(const MachineFacts& facts, std::vector<Finding>& findings)
{
    std::vector<WString> names;
    FindCorruptedProfileKeys(facts.profileList, names);
    for (WString& name : names) {
        std::wstring key = ToText(name);
        findings.push_back(Make(FindingKind::ProfileKeyCorrupt, L"A profile entry was backed up after its profile failed to load: " + key,
                                key, {{L"Entry", key}}));
    }
}

void CheckOrphanProfiles(const MachineFacts& facts, std::vector<Finding>& findings)
{
    for (const ProfileEntry& profile : facts.profiles) {
        if (IsBackupKeyName(profile.sid.c_str()) || !IsOrphanedLocalSid(facts, profile.sid))
            continue;
        Finding finding = Make(FindingKind::OrphanProfile, L"A profile of a deleted account: " + profile.path,
                               profile.sid, {{L"SID", profile.sid}, {L"Folder", profile.path}});
        finding.detail = profile.storedPath;
        findings.push_back(std::move(finding));
    }
}

// As PathIsInside compares.
std::wstring LowerForPathIsInside(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

void CheckProfileFolders(const MachineFacts& facts, std::vector<Finding>& findings)
{
    std::wstring root = ToText(ProfilesDirectory());
    if (root.empty() || !facts.profilesRead)
        return;
    // Only a profile in a folder of that name, or one outside the profiles
    // folder (at or above it), can name a folder: each folder is compared
    // with those alone rather than with every profile.
    const std::wstring below = LowerForPathIsInside(root + L"\\");
    std::map<std::wstring, std::vector<const ProfileEntry*>> byFolder;
    std::vector<const ProfileEntry*> outside;
    for (const ProfileEntry& profile : facts.profiles) {
        const std::wstring path = LowerForPathIsInside(profile.path);
        if (path.compare(0, below.size(), below) != 0) {
            outside.push_back(&profile);
            continue;
        }
        const size_t end = path.find(L'\\', below.size());
        byFolder[path.substr(below.size(), end == std::wstring::npos ? std::wstring::npos : end - below.size())]
            .push_back(&profile);
    }
    WIN32_FIND_DATAW data;
    UniqueFind search(FindFirstFileExW((root + L"\\*").c_str(), FindExInfoBasic, &data,
                                       FindExSearchLimitToDirectories, nullptr, 0));
    if (!search)
        return;
    do {
        std::wstring name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || name == L"." || name == L".." ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || IsSystemProfileFolderName(name))
            continue;
        std::wstring folder = root + L"\\" + name;
        const auto named = [&](const ProfileEntry* profile) {
            return PathIsInside(profile->path, folder) || PathIsInside(folder, profile->path);
        };
        const auto same = byFolder.find(LowerForPathIsInside(name));
        if (std::none_of(outside.begin(), outside.end(), named) &&
            (same == byFolder.end() || std::none_of(same->second.begin(), same->second.end(), named)))
            findings.push_back(Make(FindingKind::OrphanProfileFolder, L"A folder no profile names: " + folder, folder,
                                    {{L"Folder", folder}}));
    } while (FindNextFileW(search.Get(), &data));
}

std::wstring RightsText(LSA_HANDLE policy, PSID sid)
{
    PLSA_UNICODE_STRING rights = nullptr;
    ULONG count = 0;
    std::wstring text;
    if (machine::LsaEnumerateAccountRights(policy, sid, &rights, &count) == kStatusSuccess) {
        for (ULONG i = 0; i < count; ++i)
            text += (text.empty() ? L"" : L", ") + std::wstring(rights[i].Buffer, rights[i].Length / sizeof(wchar_t));
    }
    machine::LsaFreeMemory(rights);
    return text;
}

void CheckRights(const MachineFacts& facts, std::vector<Finding>& findings)
{
    if (!facts.elevated)
        return;
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_LOOKUP_NAMES | POLICY_VIEW_LOCAL_INFORMATION);
    if (!policy)
        return;
    PVOID buffer = nullptr;
    ULONG count = 0;
    if (machine::LsaEnumerateAccountsWithUserRight(policy.Get(), nullptr, &buffer, &count) != kStatusSuccess)
        return;
    const LSA_ENUMERATION_INFORMATION* sids = static_cast<const LSA_ENUMERATION_INFORMATION*>(buffer);
    for (ULONG i = 0; i < count; ++i) {
        std::wstring sid = SidString(sids[i].Sid);
        if (!IsOrphanedLocalSid(facts, sid))
            continue;
        std::wstring rights = RightsText(policy.Get(), sids[i].Sid);
        findings.push_back(Make(FindingKind::OrphanRight, L"Rights held by a deleted account's SID " + sid, sid,
                                {{L"SID", sid}, {L"Rights", rights}}));
    }
    machine::LsaFreeMemory(buffer);
}

Finding Unread(const wchar_t* what)
{
    return Make(FindingKind::CheckIncomplete,
                std::wstring(L"The check could not read ") + what + L" whole; the checks that need it were left out",
                what, {{L"Not read", what}});
}

void CheckGroups(const MachineFacts& facts, std::vector<Finding>& findings)
{
    std::vector<LocalGroup> groups;
    if (!ReadLocalGroupMemberSids(groups)) {
        findings.push_back(Unread(L"the members of the local groups"));
        return;
    }
    for (const LocalGroup& group : groups) {
        for (const GroupMember& member : group.members) {
            const std::wstring sid = member.sid.Text();
            if (!IsOrphanedLocalSid(facts, sid))
                continue;
            const std::wstring name = group.name.Text();
            Finding finding = Make(FindingKind::OrphanGroupMember, L"A deleted account's SID is a member of " + name,
                                   sid, {{L"Group", name}, {L"SID", sid}});
            finding.detail = name;
            findings.push_back(std::move(finding));
        }
    }
}

void CheckAutoLogon(const MachineFacts& facts, std::vector<Finding>& findings)
{
    const AutoLogonValues values = ReadAutoLogonValues();
    AutoLogonFacts autoLogon;
    autoLogon.switchedOn = values.SwitchedOn();
    autoLogon.userName = values.userName.Text();
    const std::wstring domain = values.domain.Text();
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD length = ARRAYSIZE(computer);
    GetComputerNameW(computer, &length);
    autoLogon.localDomain = domain.empty() || domain == L"." || EqualsNoCase(domain.c_str(), computer);
    const AccountRecord* account = FindAccount(facts, autoLogon.userName);
    autoLogon.accountFound = account != nullptr;
    autoLogon.accountFlags = account != nullptr ? account->flags : 0;
    autoLogon.passwordExpired = account != nullptr && account->passwordExpired;
    // Unread, the secret is taken as stored: no finding rests on a refusal.
    autoLogon.secretStored = !facts.elevated || AutoLogonSecretStored();
    autoLogon.plainTextStored = values.plainPasswordPresent;
    autoLogon.autoLogonCountPresent = values.countPresent;
    autoLogon.forceAutoLogonPresent = values.forcePresent;
    const std::wstring count = values.count.Text();
    const std::wstring force = values.force.Text();

    for (FindingKind kind : JudgeAutoLogon(autoLogon)) {
        switch (kind) {
        case FindingKind::AutoLogonBroken:
            findings.push_back(Make(kind, L"Automatic sign-in cannot work: " + AutoLogonFailure(autoLogon),
                                    autoLogon.userName, {{L"Account", autoLogon.userName},
                                                         {L"Reason", AutoLogonFailure(autoLogon)}}));
            break;
        case FindingKind::AutoLogonNoPassword:
            findings.push_back(Make(kind, L"Automatic sign-in is on with no stored password", autoLogon.userName,
                                    {{L"Account", autoLogon.userName}}));
            break;
        case FindingKind::AutoLogonPlainPassword:
            // The value's text never goes into the evidence.
            findings.push_back(Make(kind, L"The automatic sign-in password is kept in plain text", autoLogon.userName,
                                    {{L"Account", autoLogon.userName}, {L"Value", std::wstring(L"Winlogon\\") + kAutoLogonSecretName}}));
            break;
        case FindingKind::AutoLogonLeftover:
            for (const wchar_t* name : {L"AutoLogonCount", L"ForceAutoLogon"}) {
                bool present = name[0] == L'A' ? autoLogon.autoLogonCountPresent : autoLogon.forceAutoLogonPresent;
                if (present)
                    findings.push_back(Make(kind, std::wstring(L"A leftover of automatic sign-in: ") + name, name,
                                            {{L"Value", std::wstring(L"Winlogon\\") + name},
                                             {L"Data", name[0] == L'A' ? count : force}}));
            }
            break;
        default:
            break;
        }
    }
    RegKey device = OpenRead(kPasswordLessKey);
    if (ReadValueText(device, kPasswordLessValue) == L"2")
        findings.push_back(Make(FindingKind::PasswordlessSignInSetting,
                                L"The \"Users must enter a user name and password\" check box is hidden",
                                kPasswordLessValue, {{L"Value", std::wstring(L"PasswordLess\\Device\\") + kPasswordLessValue},
                                                     {L"Data", L"2"}}));
}

std::wstring ToolFolder()
{
    return LocateRepairSite().toolFolder;
}

// The tool's shortcuts in the Startup folders of the profiles of this
// machine's accounts, derived from each profile's folder.
std::vector<std::wstring> ToolShortcuts(const MachineFacts& facts)
{
    std::vector<std::wstring> found;
    WString relative;
    if (!ProfileRelativeFolder(CSIDL_STARTUP, relative))
        return found;
    for (const ProfileEntry& profile : facts.profiles) {
        if (!IsLocalAccountSid(profile.sid, facts.domainSid) || profile.path.empty() || !MayRead(facts, profile.sid))
            continue;
        WString startup;
        if (!InProfile(profile.path.c_str(), relative.Text(), startup))
            continue;
        for (const wchar_t* name : kToolShortcuts) {
            std::wstring link = ToText(startup) + L"\\" + name;
            if (FileExists(link))
                found.push_back(link);
        }
    }
    return found;
}

// The clean-up has finished with a state file once no journal is left and
// every account's section records its sign-in put back. Before that the
// file holds the settings still to restore (the consent prompt, the account
// type, the earlier automatic sign-in): deleting it would lose them.
bool CleanupFinished(const std::wstring& state, bool journalPresent)
{
    if (journalPresent)
        return false;
    std::vector<wchar_t> names(32768);
    const DWORD length = GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()), state.c_str());
    if (length >= names.size() - 2)
        return false;
    for (const wchar_t* section = names.data(); *section != L'\0'; section += wcslen(section) + 1) {
        if (!EqualsNoCase(ReadStateText(state.c_str(), section, kLogonRestoredKey).Text(), L"1"))
            return false;
    }
    return true;
}

// Deletes one of the tool's start-up shortcuts that the check found: only in
// the Startup folder of a profile that is its account's own folder inside
// the profiles folder, reached from that folder without following a link,
// and removed through the handle that was checked. The user owns every
// folder on the way and may have made any of them a link elsewhere.
bool DeleteToolShortcut(const std::wstring& target)
{
    MachineFacts facts;
    ReadProfiles(facts);
    ProfileFolderSet others;
    others.Read();
    for (const ProfileEntry& profile : facts.profiles) {
        WString folder, startup;
        if (others.Check(profile.storedPath.c_str(), profile.sid.c_str(), folder) !=
                ProfileFolderVerdict::Inside ||
            !ProfileFolderPath(CSIDL_STARTUP, folder.Text(), startup) ||
            !StartsWithNoCase(target.c_str(), startup.Text()) || target.size() <= startup.Length() ||
            target[startup.Length()] != L'\\')
            continue;
        const wchar_t* name = target.c_str() + startup.Length() + 1;
        if (std::none_of(std::begin(kToolShortcuts), std::end(kToolShortcuts),
                         [&](const wchar_t* tool) { return EqualsNoCase(name, tool); }))
            return false;
        UniqueFileHandle link = OpenBelowRoot(folder.Text(), target.c_str() + folder.Length() + 1, DELETE);
        return link && DeleteByHandle(link.Get());
    }
    return false;
}

void CheckRepairLeftovers(const MachineFacts& facts, std::vector<Finding>& findings)
{
    std::wstring folder = ToolFolder();
    RepairFacts repair;
    repair.tempAdminExists = FindAccount(facts, kTempAccountName) != nullptr;
    std::wstring state = ToText(StateFilePath(folder.c_str())), journal = ToText(JournalPath(folder.c_str()));
    repair.stateFilePresent = !folder.empty() && FileExists(state);
    repair.journalPresent = !folder.empty() && FileExists(journal);
    std::vector<std::wstring> shortcuts = ToolShortcuts(facts);
    repair.shortcuts = static_cast<uint32_t>(shortcuts.size());
    for (FindingKind kind : JudgeRepairLeftovers(repair)) {
        switch (kind) {
        case FindingKind::RepairTempAdmin:
            findings.push_back(Make(kind, L"The repair's temporary administrator is left with no repair under way",
                                    kTempAccountName, {{L"Account", kTempAccountName}}));
            break;
        case FindingKind::RepairStaleState: {
            const bool finished = CleanupFinished(state, repair.journalPresent);
            findings.push_back(Make(kind, L"A repair's state file is left: " + state, state, {{L"File", state}}));
            if (!finished) {
                findings.back().safeToMend = false;
                findings.back().evidence.push_back(
                    {L"Clean-up", L"not finished: the file holds settings still to be restored"});
            }
            break;
        }
        case FindingKind::RepairStaleJournal:
            findings.push_back(Make(kind, L"A repair's journal is left: " + journal, journal, {{L"File", journal}}));
            break;
        case FindingKind::RepairStaleShortcut:
            for (const std::wstring& link : shortcuts)
                findings.push_back(Make(kind, L"A start-up shortcut of the repair tool is left: " + link, link,
                                        {{L"Shortcut", link}}));
            break;
        default:
            break;
        }
    }
}

void CheckAdministrators(const MachineFacts& facts, std::vector<Finding>& findings)
{
    std::vector<AccountFacts> accounts;
    for (const AccountRecord& a : facts.accounts)
        accounts.push_back({a.name, a.rid, a.privilege, a.flags});
    for (const AccountFinding& f : JudgeAccounts(accounts)) {
        const wchar_t* summary = f.kind == FindingKind::AdminPasswordNotRequired ? L"An enabled administrator needs no password: "
                                 : f.kind == FindingKind::GuestEnabled          ? L"The Guest account is enabled: "
                                                                                : L"Only one administrator is enabled: ";
        findings.push_back(Make(f.kind, summary + f.account, f.account, {{L"Account", f.account}}));
    }
}

// Only hives already loaded are read: loading another account's hive for a
// check would hold its files open and change what the check looks at.
void CheckPersonalFolders(const MachineFacts& facts, std::vector<Finding>& findings)
{
    std::vector<std::wstring> profilePaths;
    for (const ProfileEntry& profile : facts.profiles)
        profilePaths.push_back(profile.path);
    for (const ProfileEntry& profile : facts.profiles) {
        if (!IsLocalAccountSid(profile.sid, facts.domainSid) || profile.path.empty() || !MayRead(facts, profile.sid))
            continue;
        RegKey folders = OpenRead((L"HKU\\" + profile.sid + kShellFoldersKey).c_str());
        if (!folders)
            continue;
        std::vector<std::wstring> others;
        for (const std::wstring& path : profilePaths) {
            if (!EqualsNoCase(path.c_str(), profile.path.c_str()))
                others.push_back(path);
        }
        for (const PersonalFolder& folder : kPersonalFolders) {
            WString stored(ReadValueText(folders, folder.valueName).c_str()), expanded;
            if (stored.IsEmpty() ||
                !ExpandForAccount(profile.sid.c_str(), stored, profile.path.c_str(), expanded))
                continue;
            const std::wstring path = ToText(expanded);
            FolderPlace place = JudgeFolderPlace(path, FolderExists(path), profile.path, others);
            if (place != FolderPlace::Missing && place != FolderPlace::InOtherProfile)
                continue;
            FindingKind kind = place == FolderPlace::Missing ? FindingKind::PersonalFolderMissing
                                                             : FindingKind::PersonalFolderInOtherProfile;
            findings.push_back(Make(kind, std::wstring(folder.name) + L" points at " + path, profile.sid,
                                    {{L"SID", profile.sid}, {L"Folder", folder.name}, {L"Place", path}}));
        }
    }
}

// Whether the finding still holds on the machine as it is now.
bool StillFound(const Finding& finding)
{
    for (const Finding& now : RunHealthCheck(HealthCheckOptions{})) {
        if (now.kind == finding.kind && now.target == finding.target && now.detail == finding.detail)
            return true;
    }
    return false;
}

// A value's type and bytes as they were, to be put back exactly (or
// removed again when there was none).
class KeptValue {
public:
    KeptValue(const wchar_t* keyPath, const wchar_t* name) : keyPath_(keyPath), name_(name)
    {
        RegKey key = OpenRead(keyPath);
        present_ = key.QueryValue(name, value_);
    }
    bool PutBack() const
    {
        RegKey key(OpenKey(keyPath_, KEY_SET_VALUE));
        if (!key || present_)
            return key && key.SetValue(name_, value_.type, value_.size > 0 ? value_.data.Get() : nullptr, value_.size);
        const LSTATUS status = RegDeleteValueW(key.Get(), name_);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }

private:
    const wchar_t* keyPath_;
    const wchar_t* name_;
    bool present_ = false;
    RegValue value_;
};

MendOutcome MendOutcomeOf(bool mended, const wchar_t* done, const wchar_t* failed)
{
    return {mended, mended ? done : failed};
}

MendOutcome MendOrphanProfile(const Finding& finding)
{
    AccountDeletionReport report;
    RemoveProfileOf(finding.target.c_str(), finding.detail.c_str(), kDeleteTakeOver | kDeleteScheduleAtRestart, false,
                    report);
    if (!report.profileEntryRemoved)
        return {false, report.folderVerdict == ProfileFolderVerdict::Inside
                           ? L"The profile folder could not be deleted; nothing else was changed."
                           : L"The profile folder is not where a profile may be deleted; nothing was changed."};
    return {true, report.folderResult == kDeleteScheduled
                      ? L"The profile was removed; some files go at the next restart."
                      : L"The profile folder and its entry were removed."};
}

MendOutcome MendAutoLogonPlainPassword(const Finding& finding)
{
    SecretText password;
    ReadPlainAutoLogonPassword(password);
    const bool on = ReadAutoLogonValues().SwitchedOn();
    AutoLogonResult result;
    if (on) {
        // Stored as the secret; SetAutoLogon removes the plain value. The
        // domain stays as it was: a name looked up again may answer with
        // another one, and sign-in would then go elsewhere.
        KeptValue domain(kWinlogonKeyPath, L"DefaultDomainName");
        result = SetAutoLogon(GetAutoLogonUserName().Text(), password.Text());
        if (!domain.PutBack())
            result = AutoLogonResult::Failed;
    } else {
        // Sign-in is off: the password has no use and goes with the value.
        result = SetAutoLogon(L"", nullptr);
        RemovePlainAutoLogonPassword();
    }
    return MendOutcomeOf(result != AutoLogonResult::Failed && !StillFound(finding),
                   L"The password is now kept as the protected secret.", L"The password could not be moved.");
}

// The check's steps, in the order they run, and the mend of each kind of
// finding they make that the program mends.
// Each step names what it leaves out when a standard user runs it.
// A step that judges what it finds against the accounts is left out when
// the account database could not be read whole.
struct CheckStep {
    const wchar_t* what;
    void (*run)(const MachineFacts&, std::vector<Finding>&);
    const wchar_t* adminOnly;
    bool needsAccounts;
};
// A profile nobody has used for half a year holds space and, often, what a
// departed person left: worth a look, never a risk.
void CheckUnusedProfiles(const MachineFacts& facts, std::vector<Finding>& findings)
{
    constexpr uint32_t kLongUnusedDays = 180;
    WString console, consoleSid;
    FindConsoleUser(console, nullptr, &consoleSid);
    if (!facts.profilesRead)
        return;
    const std::vector<ProfileUse> uses =
        DescribeProfileUses(facts.profileList, facts.accounts, facts.domainSid, consoleSid.Text());
    const uint64_t now = NowTicks();
    for (const ProfileUse& use : uses) {
        // A deleted account's profile is reported as such.
        if (WhyProfileStays(use.facts, now, kLongUnusedDays) != ProfileKeep::None ||
            IsOrphanedLocalSid(facts, use.sid.Text()))
            continue;
        const std::wstring days = std::to_wstring((now - use.facts.lastUse) / (10000000ull * 86400));
        findings.push_back(Make(FindingKind::ProfileUnused,
                                L"A profile unused for " + days + L" days: " + ToText(use.folder),
                                use.sid.Text(),
                                {{L"SID", use.sid.Text()}, {L"Account", use.account.Text()},
                                 {L"Folder", use.folder.Text()}, {L"Unused for (days)", days}}));
    }
}

const CheckStep kChecks[] = {
    {L"Profile entries", CheckProfileKeys, nullptr, false},
    {L"Profiles of deleted accounts", CheckOrphanProfiles, nullptr, true},
    {L"Folders of the profiles folder", CheckProfileFolders, nullptr, false},
    {L"Rights of the security policy", CheckRights, L"rights", true},
    {L"Members of the local groups", CheckGroups, nullptr, true},
    {L"Automatic sign-in", CheckAutoLogon, L"autoLogonSecret", true},
    {L"Leftovers of a repair", CheckRepairLeftovers, L"otherProfiles", true},
    {L"Administrators and Guest", CheckAdministrators, nullptr, true},
    {L"Personal folders", CheckPersonalFolders, L"otherUsersSettings", false},
    {L"Profiles unused for a long time", CheckUnusedProfiles, L"otherProfiles", true},
};

struct MendRow {
    FindingKind kind;
    MendOutcome (*mend)(const Finding&);
};
const MendRow kMends[] = {
    {FindingKind::ProfileKeyCorrupt, [](const Finding& f) {
         RepairProfileKey(f.target.c_str());
         return MendOutcomeOf(!KeyExists(ProfileEntryKeyPath(f.target.c_str()).Text()),
                        L"The profile entry was repaired.", L"The profile entry could not be repaired.");
     }},
    {FindingKind::OrphanProfile, MendOrphanProfile},
    {FindingKind::OrphanRight, [](const Finding& f) {
         return MendOutcomeOf(RemoveSidRights(f.target.c_str()), L"The rights were removed.",
                        L"The rights could not be removed.");
     }},
    {FindingKind::OrphanGroupMember, [](const Finding& f) {
         return MendOutcomeOf(RemoveSidFromGroup(f.detail.c_str(), f.target.c_str()), L"The SID was removed from the group.",
                        L"The SID could not be removed from the group.");
     }},
    // Clearing a secret that was never stored is refused though nothing is
    // left: the machine's state decides, not the answer.
    {FindingKind::AutoLogonBroken, [](const Finding& f) {
         SetAutoLogon(L"", nullptr);
         return MendOutcomeOf(!StillFound(f), L"Automatic sign-in was switched off.",
                        L"Automatic sign-in could not be switched off.");
     }},
    {FindingKind::AutoLogonPlainPassword, MendAutoLogonPlainPassword},
    {FindingKind::AutoLogonLeftover, [](const Finding& f) {
         return MendOutcomeOf(RegKey().DeleteValueOrTree(kWinlogonKeyPath, f.target.c_str()), L"The value was removed.",
                        L"The value could not be removed.");
     }},
    // Only the account the set-up made, as its recorded SID says.
    {FindingKind::RepairTempAdmin, [](const Finding&) {
         if (ClaimTempAdmin() == TempAccountClaim::NotOurs)
             return MendOutcome{false, NotOurTempAdminText()};
         return MendOutcomeOf(DeleteTempAdmin() != 0, L"The temporary administrator was deleted.",
                        L"The temporary administrator could not be deleted.");
     }},
    // Only the state file in the tool's own folder, which only
    // administrators can write.
    {FindingKind::RepairStaleState, [](const Finding& f) {
         return MendOutcomeOf(EqualsNoCase(f.target.c_str(), StateFilePath(ToolFolder().c_str()).Text()) &&
                            DeletePath(f.target.c_str(), 0) != kDeleteFailed,
                        L"The file was deleted.", L"The file could not be deleted.");
     }},
    {FindingKind::RepairStaleShortcut, [](const Finding& f) {
         return MendOutcomeOf(DeleteToolShortcut(f.target), L"The file was deleted.", L"The file could not be deleted.");
     }},
    {FindingKind::RepairStaleJournal, [](const Finding& f) {
         return MendOutcomeOf(EqualsNoCase(f.target.c_str(), JournalPath(ToolFolder().c_str()).Text()) &&
                            DeleteJournal(f.target.c_str()),
                        L"The journal was deleted.", L"The journal could not be deleted.");
     }},
};

}  // namespace

std::vector<Finding> RunHealthCheck(const HealthCheckOptions& options, const HealthProgress& progress,
                                    std::vector<std::wstring>* leftOut)
{
    const uint32_t total = ARRAYSIZE(kChecks) + 1;
    if (progress)
        progress(0, total, L"Accounts and profiles");
    MachineFacts facts;
    facts.elevated = options.elevated;
    WString self;
    if (!facts.elevated && ProcessUserSidText(self))
        facts.selfSid = self.Text();
    ReadAccounts(facts);
    ReadProfiles(facts);
    std::vector<Finding> findings;
    if (!facts.accountsRead)
        findings.push_back(Unread(L"the account database"));
    uint32_t done = 1;
    for (const CheckStep& step : kChecks) {
        if (progress)
            progress(done, total, step.what);
        if (facts.accountsRead || !step.needsAccounts)
            step.run(facts, findings);
        if (!facts.elevated && step.adminOnly != nullptr && leftOut != nullptr)
            leftOut->push_back(step.adminOnly);
        ++done;
    }
    if (progress)
        progress(total, total, L"");
    if (options.measureProfiles) {
        for (Finding& finding : findings) {
            if (finding.kind == FindingKind::OrphanProfile)
                MeasureOrphanProfile(finding);
        }
    }
    std::stable_sort(findings.begin(), findings.end(),
                     [](const Finding& a, const Finding& b) { return a.severity < b.severity; });
    return findings;
}

void MeasureOrphanProfile(Finding& finding)
{
    std::wstring folder;
    for (const Evidence& e : finding.evidence) {
        if (e.name == L"Folder")
            folder = e.value;
    }
    if (folder.empty())
        return;
    TreeMeasure measure;
    bool whole = MeasureTree(folder.c_str(), measure);
    finding.evidence.push_back({L"Size", std::to_wstring(measure.bytes) + (whole ? L" bytes" : L" bytes or more")});
    WIN32_FILE_ATTRIBUTE_DATA data;
    SYSTEMTIME when;
    if (GetFileAttributesExW((folder + L"\\NTUSER.DAT").c_str(), GetFileExInfoStandard, &data) &&
        FileTimeToSystemTime(&data.ftLastWriteTime, &when)) {
        wchar_t text[32];
        swprintf(text, ARRAYSIZE(text), L"%04u-%02u-%02u", when.wYear, when.wMonth, when.wDay);
        finding.evidence.push_back({L"Last used", text});
    }
}

MendOutcome MendFinding(const Finding& finding)
{
    if (!RuleOf(finding.kind).mendable)
        return {false, L"This finding is not mended by the program."};
    if (!StillFound(finding))
        return {false, L"Nothing to mend: the finding no longer holds."};
    for (const MendRow& row : kMends) {
        if (row.kind == finding.kind)
            return row.mend(finding);
    }
    return {false, L"This finding is not mended by the program."};
}
