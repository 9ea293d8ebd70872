#include "accounts/account_list.h"

#include <ntsecapi.h>

#include <iterator>
#include <map>
#include <set>
#include <string>

#include "accounts/account_rules.h"
#include "accounts/detail_rules.h"
#include "accounts/groups.h"
#include "accounts/passwords.h"
#include "accounts/profile_key_rules.h"
#include "accounts/profile_list.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/text_win.h"

namespace {

constexpr NTSTATUS kStatusNoMoreEntries = static_cast<NTSTATUS>(0x8000001A);

bool RightIs(const LSA_UNICODE_STRING& right, const wchar_t* name)
{
    return right.Buffer != nullptr &&
           CompareStringOrdinal(right.Buffer, right.Length / sizeof(wchar_t), name, -1, TRUE) == CSTR_EQUAL;
}

// Whether the welcome screen shows each SID that holds rights of its own,
// as SetSignInVisibility answers it; a SID holding none is shown. False
// when the policy cannot be read: then no account is taken as shown.
bool ReadSignInVisibility(std::map<std::wstring, bool>& visible)
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_LOOKUP_NAMES | POLICY_VIEW_LOCAL_INFORMATION);
    if (!policy)
        return false;
    PVOID buffer = nullptr;
    ULONG count = 0;
    const NTSTATUS listed = machine::LsaEnumerateAccountsWithUserRight(policy.Get(), nullptr, &buffer, &count);
    if (listed == kStatusNoMoreEntries)
        return true;
    if (listed != kStatusSuccess)
        return false;
    const auto* holders = static_cast<const LSA_ENUMERATION_INFORMATION*>(buffer);
    for (ULONG i = 0; i < count; ++i) {
        UniqueLsaText held;
        ULONG rightCount = 0;
        const NTSTATUS read = machine::LsaEnumerateAccountRights(policy.Get(), holders[i].Sid, held.Put(), &rightCount);
        bool interactive = false, deny = false;
        for (ULONG r = 0; read == kStatusSuccess && r < rightCount; ++r) {
            interactive |= RightIs(held.Get()[r], L"SeInteractiveLogonRight");
            deny |= RightIs(held.Get()[r], L"SeDenyInteractiveLogonRight");
        }
        visible[SidString(holders[i].Sid)] = read == kStatusSuccess && interactive && !deny;
    }
    machine::LsaFreeMemory(buffer);
    return true;
}

// The profile list's folder of every SID, environment variables expanded;
// none when the list cannot be read whole.
std::map<std::wstring, std::wstring> ProfileFoldersBySid()
{
    std::map<std::wstring, std::wstring> folders;
    std::vector<ProfileListEntry> entries;
    ReadProfileList(entries);
    for (const ProfileListEntry& entry : entries) {
        if (*entry.storedPath.Text() != L'\0')
            folders[entry.sid.Text()] = entry.path.Text();
    }
    return folders;
}

// The names in the profiles folder, in lower case.
std::set<std::wstring> ReadProfileFolderNames(const wchar_t* profiles)
{
    std::set<std::wstring> names;
    WString pattern(profiles);
    pattern.Append(L"\\*");
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileExW(pattern.Text(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search)
        return names;
    do {
        names.insert(LowerText(found.cFileName));
    } while (FindNextFileW(search.Get(), &found));
    return names;
}

// What the account's own record says: its full name, type, flags and
// whether it is the console user's.
void FillFromRecord(const AccountRecord& record, const wchar_t* consoleUserName, AccountDetails& details)
{
    details.fullName.Assign(record.fullName.c_str());
    details.privilege = record.privilege;
    details.flags = record.flags;
    details.builtin = IsBuiltinForPanel(record.rid);
    BuildAccountTypeText(details.typeText, record.privilege, details.builtin);
    details.console = consoleUserName != nullptr && *consoleUserName != L'\0' &&
                      EqualsNoCase(consoleUserName, record.name.c_str());
    details.description.Assign(record.comment.c_str());
    details.accountExpires = record.accountExpires;
    details.passwordAge = record.passwordAge;
    details.lastLogon = record.lastLogon;
    details.badPasswordCount = record.badPasswordCount;
}

}  // namespace

bool ReadAccountSummaries(const wchar_t* consoleUserName, std::vector<AccountSummary>& accounts)
{
    std::map<std::wstring, bool> visible;
    const bool visibilityKnown = ReadSignInVisibility(visible);
    const std::map<std::wstring, std::wstring> profileList = ProfileFoldersBySid();
    WString profiles = ProfilesDirectory();
    const std::set<std::wstring> profileNames = ReadProfileFolderNames(profiles.Text());
    WString autoLogonName = GetAutoLogonUserName();
    const bool autoLogon = !autoLogonName.IsEmpty() && IsAutoLogonConfigured();
    std::wstring machineSid;   // learned from the first account that gives it

    std::vector<AccountSummary> read;
    const bool whole = ForEachAccount([&](const AccountRecord& record) {
        const wchar_t* name = record.name.c_str();
        AccountSummary account;
        account.name.Assign(name);
        AccountDetails& details = account.details;
        FillFromRecord(record, consoleUserName, details);
        details.autoLogon = autoLogon && EqualsNoCase(autoLogonName.Text(), name);

        if (machineSid.empty())
            machineSid = MachineSidOf(record);
        const std::wstring sid = machineSid.empty() ? L"" : machineSid + L"-" + std::to_wstring(record.rid);
        account.sid.Assign(sid.c_str());
        const auto shown = visible.find(sid);
        details.hidden = !visibilityKnown || sid.empty() || (shown != visible.end() && !shown->second);

        // The order GetAccountSidAndProfile takes: the record's own
        // folder when it exists, the profile list, the folder of the name.
        const auto listed = profileList.find(sid);
        if (!record.profile.empty() && GetFileAttributesW(record.profile.c_str()) != INVALID_FILE_ATTRIBUTES)
            account.profile.Assign(record.profile.c_str());
        else if (listed != profileList.end())
            account.profile.Assign(listed->second.c_str());
        else if (!profiles.IsEmpty() && profileNames.count(LowerText(name)) != 0)
            account.profile.Assign((std::wstring(profiles.Text()) + L"\\" + name).c_str());
        read.push_back(std::move(account));
        return true;
    });
    if (whole)
        accounts.insert(accounts.end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
    return whole;
}

bool ReadAccountRows(std::vector<AccountRow>& rows)
{
    std::vector<AccountRow> read;
    const bool whole = ForEachAccount([&](const AccountRecord& record) {
        AccountRow row;
        BuildAccountTypeText(row.type, record.privilege, IsBuiltinForList(record.rid));
        row.title.Assign(!record.fullName.empty() ? record.fullName.c_str() : record.name.c_str());
        row.name.Assign(record.name.c_str());
        read.push_back(std::move(row));
        return true;
    });
    if (whole)
        rows.insert(rows.end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
    return whole;
}

bool ReadMaximumPasswordAge(DWORD& seconds)
{
    USER_MODALS_INFO_0 passwords{};
    if (!ReadUserModals(passwords))
        return false;
    seconds = passwords.usrmod0_max_passwd_age;
    return true;
}

DetailTexts DescribeDetails(const AccountDetails& d, uint32_t now)
{
    DWORD maxAge = TIMEQ_FOREVER;
    const bool policyRead = ReadMaximumPasswordAge(maxAge);
    const uint32_t expiresAt = PasswordExpiresAt(now, d.passwordAge, maxAge, (d.flags & kFlagPasswordNeverExpires) != 0,
                                                 (d.flags & kFlagPasswordExpired) != 0);
    const auto when = [](uint32_t seconds, const wchar_t* none) {
        return seconds == kNeverTime || seconds == 0 ? std::wstring(none) : DateTimeText(seconds);
    };
    DetailTexts texts;
    texts.description = d.description.Text();
    texts.accountExpires = when(d.accountExpires, L"never");
    texts.passwordLastSet = when(d.passwordAge > now ? 0 : now - d.passwordAge, L"");
    texts.passwordExpires = !policyRead ? L"unknown" : expiresAt == 0 ? L"now" : when(expiresAt, L"never");
    texts.lastSignIn = when(d.lastLogon, L"never");
    texts.badPasswords = std::to_wstring(d.badPasswordCount);
    return texts;
}

bool ReadAccountDetails(const wchar_t* accountName, const wchar_t* consoleUserName, AccountDetails& details)
{
    AccountRecord record;
    if (!ReadAccountRecord(accountName, record))
        return false;
    record.name = accountName;   // as asked, which the console user's name is compared with
    FillFromRecord(record, consoleUserName, details);
    details.hidden = !SetSignInVisibility(accountName, SignInVisibilityMode::Query);
    details.autoLogon = IsAutoLogonAccount(accountName);
    return true;
}
