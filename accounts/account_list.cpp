#include "accounts/account_list.h"

#include "accounts/account_rules.h"
#include "accounts/groups.h"
#include "accounts/passwords.h"

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

}  // namespace

int ReadAccountRows(std::vector<AccountRow>& rows)
{
    int count = 0;
    ForEachAccountPage(3, [&](const void* records, DWORD read) {
        count += AddPage(rows, static_cast<const USER_INFO_3*>(records), read);
        return true;
    });
    return count;
}

bool ReadAccountDetails(const wchar_t* accountName, const wchar_t* consoleUserName, AccountDetails& details)
{
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = machine::NetUserGetInfo(nullptr, accountName, 3, &buffer);
    UniqueNetBuffer held(buffer);
    if (status != NERR_Success || !held)
        return false;
    const auto& record = *static_cast<const USER_INFO_3*>(held.Get());
    details.fullName.Assign(record.usri3_full_name != nullptr ? record.usri3_full_name : L"");
    details.privilege = record.usri3_priv;
    details.flags = record.usri3_flags;
    details.builtin = IsBuiltinForPanel(record.usri3_user_id);
    BuildAccountTypeText(details.typeText, record.usri3_priv, details.builtin);
    details.console = consoleUserName != nullptr && *consoleUserName != L'\0' &&
                      EqualsNoCase(consoleUserName, accountName);
    details.hidden = !SetSignInVisibility(accountName, SignInVisibilityMode::Query);
    details.autoLogon = IsAutoLogonAccount(accountName);
    return true;
}
