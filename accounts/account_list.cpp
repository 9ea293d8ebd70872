#include "accounts/account_list.h"

#include <ntsecapi.h>

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

// One row per record of the page; the rows appended.
int AddPage(std::vector<AccountRow>& rows, const USER_INFO_3* records, DWORD count)
{
    int added = 0;
    for (DWORD i = 0; i < count; ++i) {
        const USER_INFO_3& record = records[i];
        const wchar_t* name = record.usri3_name != nullptr ? record.usri3_name : L"";
        const wchar_t* full = record.usri3_full_name;
        AccountRow row;
        BuildAccountTypeText(row.type, record.usri3_priv, IsBuiltinForList(record.usri3_user_id));
        row.title.Assign(full != nullptr && *full != L'\0' ? full : name);
        row.name.Assign(name);
        rows.push_back(std::move(row));
        ++added;
    }
    return added;
}

constexpr NTSTATUS kStatusNoMoreEntries = static_cast<NTSTATUS>(0x8000001A);

std::wstring Lower(const wchar_t* text)
{
    std::wstring lower(text != nullptr ? text : L"");
    if (!lower.empty())
        CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    return lower;
}

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
        names.insert(Lower(found.cFileName));
    } while (FindNextFileW(search.Get(), &found));
    return names;
}

// What the account's own record says: its full name, type, flags and
// whether it is the console user's.
void FillFromRecord(const USER_INFO_3& record, const wchar_t* name, const wchar_t* consoleUserName,
                    AccountDetails& details)
{
    details.fullName.Assign(record.usri3_full_name != nullptr ? record.usri3_full_name : L"");
    details.privilege = record.usri3_priv;
    details.flags = record.usri3_flags;
    details.builtin = IsBuiltinForPanel(record.usri3_user_id);
    BuildAccountTypeText(details.typeText, record.usri3_priv, details.builtin);
    details.console = consoleUserName != nullptr && *consoleUserName != L'\0' && EqualsNoCase(consoleUserName, name);
    details.description.Assign(record.usri3_comment != nullptr ? record.usri3_comment : L"");
    details.accountExpires = record.usri3_acct_expires;
    details.passwordAge = record.usri3_password_age;
    details.lastLogon = record.usri3_last_logon;
    details.badPasswordCount = record.usri3_bad_pw_count;
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
    std::wstring domain;   // the machine's domain SID, from the first account looked up

    return ForEachAccountPage(3, [&](const void* records, DWORD count) {
        const auto* users = static_cast<const USER_INFO_3*>(records);
        for (DWORD i = 0; i < count; ++i) {
            const USER_INFO_3& record = users[i];
            const wchar_t* name = record.usri3_name != nullptr ? record.usri3_name : L"";
            AccountSummary account;
            account.name.Assign(name);
            AccountDetails& details = account.details;
            FillFromRecord(record, name, consoleUserName, details);
            details.autoLogon = autoLogon && EqualsNoCase(autoLogonName.Text(), name);

            if (domain.empty()) {
                LocalSid sid;
                const std::wstring text = AccountNameToSid(name, sid, nullptr) ? SidString(sid.Get()) : L"";
                const std::wstring rid = std::to_wstring(record.usri3_user_id);
                const size_t dash = text.rfind(L'-');
                if (dash != std::wstring::npos && text.compare(dash + 1, std::wstring::npos, rid) == 0)
                    domain.assign(text, 0, dash);
            }
            const std::wstring sid = domain.empty() ? L"" : domain + L"-" + std::to_wstring(record.usri3_user_id);
            account.sid.Assign(sid.c_str());
            const auto shown = visible.find(sid);
            details.hidden = !visibilityKnown || sid.empty() || (shown != visible.end() && !shown->second);

            // The order GetAccountSidAndProfile takes: the record's own
            // folder when it exists, the profile list, the folder of the name.
            const auto listed = profileList.find(sid);
            if (record.usri3_profile != nullptr && *record.usri3_profile != L'\0' &&
                GetFileAttributesW(record.usri3_profile) != INVALID_FILE_ATTRIBUTES)
                account.profile.Assign(record.usri3_profile);
            else if (listed != profileList.end())
                account.profile.Assign(listed->second.c_str());
            else if (!profiles.IsEmpty() && profileNames.count(Lower(name)) != 0)
                account.profile.Assign((std::wstring(profiles.Text()) + L"\\" + name).c_str());
            accounts.push_back(std::move(account));
        }
        return true;
    });
}

int ReadAccountRows(std::vector<AccountRow>& rows)
{
    int count = 0;
    ForEachAccountPage(3, [&](const void* records, DWORD read) {
        count += AddPage(rows, static_cast<const USER_INFO_3*>(records), read);
        return true;
    });
    return count;
}

bool ReadMaximumPasswordAge(DWORD& seconds)
{
    LPBYTE buffer = nullptr;
    const NET_API_STATUS status = machine::NetUserModalsGet(nullptr, 0, &buffer);
    UniqueNetBuffer held(buffer);
    if (status != NERR_Success || !held)
        return false;
    seconds = static_cast<const USER_MODALS_INFO_0*>(held.Get())->usrmod0_max_passwd_age;
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
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = machine::NetUserGetInfo(nullptr, accountName, 3, &buffer);
    UniqueNetBuffer held(buffer);
    if (status != NERR_Success || !held)
        return false;
    const auto& record = *static_cast<const USER_INFO_3*>(held.Get());
    FillFromRecord(record, accountName, consoleUserName, details);
    details.hidden = !SetSignInVisibility(accountName, SignInVisibilityMode::Query);
    details.autoLogon = IsAutoLogonAccount(accountName);
    return true;
}
