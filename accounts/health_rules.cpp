#include "accounts/health_rules.h"

#include <cwctype>

namespace {

const FindingRule kRules[] = {
    {FindingKind::ProfileKeyCorrupt, L"profile-key-corrupt", Severity::Problem, true, false,
     L"Puts the backed-up profile entry back in place when it holds the better profile, else removes the backup."},
    {FindingKind::OrphanProfile, L"orphan-profile", Severity::Risk, true, false,
     L"Deletes the profile folder (after the deletion's checks) and its profile entry."},
    {FindingKind::OrphanProfileFolder, L"orphan-profile-folder", Severity::Note, false, false,
     L"Nothing is mended here: look at its contents, then move or delete it yourself."},
    {FindingKind::OrphanRight, L"orphan-right", Severity::Risk, true, true,
     L"Removes every right the security policy holds for the deleted account's SID."},
    {FindingKind::OrphanGroupMember, L"orphan-group-member", Severity::Risk, true, true,
     L"Removes the deleted account's SID from the group."},
    {FindingKind::AutoLogonBroken, L"auto-logon-broken", Severity::Problem, true, false,
     L"Switches automatic sign-in off and removes its stored password."},
    {FindingKind::AutoLogonNoPassword, L"auto-logon-no-password", Severity::Risk, false, false,
     L"Nothing is mended here: set automatic sign-in again with the account's password."},
    {FindingKind::AutoLogonPlainPassword, L"auto-logon-plain-password", Severity::Risk, true, true,
     L"Stores the password as the protected secret and removes the plain-text registry value."},
    {FindingKind::AutoLogonLeftover, L"auto-logon-leftover", Severity::Note, true, true,
     L"Removes the value, which only matters while automatic sign-in is on."},
    {FindingKind::PasswordlessSignInSetting, L"passwordless-sign-in-setting", Severity::Note, false, false,
     L"Nothing is mended here: the setting hides the \"Users must enter a user name and password\" check box; "
     L"setting it to 0 shows the check box again."},
    {FindingKind::RepairTempAdmin, L"repair-temp-admin", Severity::Risk, true, false,
     L"Deletes the repair's temporary administrator with its profile."},
    {FindingKind::RepairStaleState, L"repair-stale-state", Severity::Note, true, true,
     L"Deletes the state file of a repair that nothing will carry on."},
    {FindingKind::RepairStaleJournal, L"repair-stale-journal", Severity::Note, true, false,
     L"Deletes the journal of an ended repair; read it first: it says where an account's files were left."},
    {FindingKind::RepairStaleShortcut, L"repair-stale-shortcut", Severity::Risk, true, true,
     L"Deletes the start-up shortcut, which would start the repair tool elevated at the next sign-in."},
    {FindingKind::AdminPasswordNotRequired, L"admin-password-not-required", Severity::Risk, false, false,
     L"Nothing is mended here: clear \"Password not required\" and give the account a password."},
    {FindingKind::GuestEnabled, L"guest-enabled", Severity::Risk, false, false,
     L"Nothing is mended here: disable the Guest account unless it is meant to be used."},
    {FindingKind::SingleAdministrator, L"single-administrator", Severity::Note, false, false,
     L"Nothing is mended here: a second administrator lets you in when this one cannot sign in."},
    {FindingKind::PersonalFolderMissing, L"personal-folder-missing", Severity::Risk, false, false,
     L"Nothing is mended here: point the folder at an existing place in Personal folders."},
    {FindingKind::PersonalFolderInOtherProfile, L"personal-folder-in-other-profile", Severity::Risk, false, false,
     L"Nothing is mended here: point the folder at a place in the account's own profile."},
    {FindingKind::ProfileUnused, L"profile-unused", Severity::Note, false, false,
     L"Nothing is mended here: \"profiles clean --unused-for DAYS\" or the Profiles window deletes unused profiles."},
    {FindingKind::CheckIncomplete, L"check-incomplete", Severity::Problem, false, false,
     L"Nothing is mended here: find why the record cannot be read (the event log, the services), then check again."},
};

const wchar_t* const kSystemProfileFolders[] = {
    L"Default", L"Default User", L"Public", L"All Users", L"TEMP", L"defaultuser0",
};

bool SameLowerCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return true;
}

bool StartsNoCase(const std::wstring& text, const std::wstring& prefix)
{
    return text.size() >= prefix.size() && SameLowerCase(text.substr(0, prefix.size()), prefix);
}

// A sub-authority as a SID's text writes it: decimal digits of a 32-bit value.
bool IsSubAuthority(const std::wstring& text)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - L'0');
    }
    return value <= 0xFFFFFFFFu;
}

// "S-1-5-21-a-b-c": exactly three sub-authorities after 21, all numbers.
bool IsMachineDomainSid(const std::wstring& sid)
{
    const std::wstring prefix = L"S-1-5-21-";
    if (!StartsNoCase(sid, prefix))
        return false;
    std::wstring rest = sid.substr(prefix.size());
    int parts = 0;
    size_t start = 0;
    while (true) {
        size_t dash = rest.find(L'-', start);
        std::wstring part = rest.substr(start, dash == std::wstring::npos ? std::wstring::npos : dash - start);
        if (!IsSubAuthority(part))
            return false;
        ++parts;
        if (dash == std::wstring::npos)
            break;
        start = dash + 1;
    }
    return parts == 3;
}

std::wstring WithoutTrailingBackslash(std::wstring path)
{
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

bool IsPlainDrivePath(const std::wstring& path)
{
    return path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\';
}

}  // namespace

const FindingRule& RuleOf(FindingKind kind)
{
    for (const FindingRule& rule : kRules) {
        if (rule.kind == kind)
            return rule;
    }
    return kRules[0];
}

bool KindOfId(const wchar_t* id, FindingKind& kind)
{
    for (const FindingRule& rule : kRules) {
        if (id != nullptr && std::wstring(rule.id) == id) {
            kind = rule.kind;
            return true;
        }
    }
    return false;
}

const wchar_t* SeverityText(Severity severity)
{
    switch (severity) {
    case Severity::Problem: return L"problem";
    case Severity::Risk: return L"risk";
    case Severity::Note: return L"note";
    }
    return L"note";
}

bool IsLocalAccountSid(const std::wstring& sid, const std::wstring& machineDomainSid)
{
    if (!IsMachineDomainSid(machineDomainSid))
        return false;
    if (!StartsNoCase(sid, machineDomainSid + L"-"))
        return false;
    return IsSubAuthority(sid.substr(machineDomainSid.size() + 1));
}

std::wstring DomainOfAccountSid(const std::wstring& accountSid)
{
    size_t dash = accountSid.rfind(L'-');
    if (dash == std::wstring::npos || !IsSubAuthority(accountSid.substr(dash + 1)))
        return L"";
    std::wstring domain = accountSid.substr(0, dash);
    return IsMachineDomainSid(domain) ? domain : L"";
}

bool IsSystemProfileFolderName(const std::wstring& name)
{
    for (const wchar_t* system : kSystemProfileFolders) {
        if (SameLowerCase(name, system))
            return true;
    }
    // Temporary profiles ("TEMP.COMPUTER", "TEMP.COMPUTER.000") and the
    // set-up's numbered accounts are the system's own making.
    return StartsNoCase(name, L"TEMP.") || StartsNoCase(name, L"defaultuser");
}

bool PathIsInside(const std::wstring& path, const std::wstring& folder)
{
    std::wstring inner = WithoutTrailingBackslash(path), outer = WithoutTrailingBackslash(folder);
    if (outer.empty() || !StartsNoCase(inner, outer))
        return false;
    return inner.size() == outer.size() || inner[outer.size()] == L'\\' || outer.back() == L'\\';
}

std::wstring AutoLogonFailure(const AutoLogonFacts& facts)
{
    if (!facts.switchedOn || facts.userName.empty() || !facts.localDomain)
        return L"";
    if (!facts.accountFound)
        return L"the account does not exist";
    if ((facts.accountFlags & kFlagDisabled) != 0)
        return L"the account is disabled";
    if ((facts.accountFlags & kFlagLockedOut) != 0)
        return L"the account is locked out";
    if (facts.passwordExpired)
        return L"the account's password has expired";
    return L"";
}

std::vector<FindingKind> JudgeAutoLogon(const AutoLogonFacts& facts)
{
    std::vector<FindingKind> kinds;
    bool broken = !AutoLogonFailure(facts).empty();
    if (broken)
        kinds.push_back(FindingKind::AutoLogonBroken);
    // An account that needs no password signs in with an empty one, as long
    // as it stays empty; the check never tries whether it is.
    if (facts.switchedOn && !broken && facts.localDomain && facts.accountFound && !facts.secretStored &&
        !facts.plainTextStored && (facts.accountFlags & kFlagPasswordNotRequired) == 0)
        kinds.push_back(FindingKind::AutoLogonNoPassword);
    if (facts.plainTextStored)
        kinds.push_back(FindingKind::AutoLogonPlainPassword);
    // While sign-in is on, both values are settings someone chose.
    if (!facts.switchedOn && (facts.autoLogonCountPresent || facts.forceAutoLogonPresent))
        kinds.push_back(FindingKind::AutoLogonLeftover);
    return kinds;
}

bool RepairUnderWay(const RepairFacts& facts)
{
    return facts.stateFilePresent && facts.shortcuts > 0;
}

std::vector<FindingKind> JudgeRepairLeftovers(const RepairFacts& facts)
{
    std::vector<FindingKind> kinds;
    if (RepairUnderWay(facts))
        return kinds;
    if (facts.tempAdminExists)
        kinds.push_back(FindingKind::RepairTempAdmin);
    if (facts.stateFilePresent)
        kinds.push_back(FindingKind::RepairStaleState);
    if (facts.journalPresent)
        kinds.push_back(FindingKind::RepairStaleJournal);
    if (facts.shortcuts > 0)
        kinds.push_back(FindingKind::RepairStaleShortcut);
    return kinds;
}

std::vector<AccountFinding> JudgeAccounts(const std::vector<AccountFacts>& accounts)
{
    constexpr uint32_t kGuestRid = 501;
    constexpr uint32_t kAdministratorPrivilege = 2;
    std::vector<AccountFinding> findings;
    int enabledAdministrators = 0;
    std::wstring onlyAdministrator;
    for (const AccountFacts& a : accounts) {
        bool enabled = (a.flags & kFlagDisabled) == 0;
        if (enabled && a.privilege == kAdministratorPrivilege) {
            ++enabledAdministrators;
            onlyAdministrator = a.name;
            if ((a.flags & kFlagPasswordNotRequired) != 0)
                findings.push_back({FindingKind::AdminPasswordNotRequired, a.name});
        }
        if (enabled && a.rid == kGuestRid)
            findings.push_back({FindingKind::GuestEnabled, a.name});
    }
    if (enabledAdministrators == 1)
        findings.push_back({FindingKind::SingleAdministrator, onlyAdministrator});
    return findings;
}

FolderPlace JudgeFolderPlace(const std::wstring& path, bool exists, const std::wstring& ownProfile,
                             const std::vector<std::wstring>& otherProfiles)
{
    if (!IsPlainDrivePath(path) || path.find(L'%') != std::wstring::npos)
        return FolderPlace::NotJudged;
    if (!PathIsInside(path, ownProfile)) {
        for (const std::wstring& other : otherProfiles) {
            // A profile nested in this one's folder is not "another's place".
            if (!other.empty() && PathIsInside(path, other) && !PathIsInside(other, ownProfile))
                return FolderPlace::InOtherProfile;
        }
    }
    return exists ? FolderPlace::Fine : FolderPlace::Missing;
}
