#include "repair/temp_account.h"

#include <windows.h>
#include <lm.h>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/lookup.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kAdministratorType = 2;
// The account, its profile folder (taken over where refused, whatever is
// locked left for the restart) and its profile-list entry.
constexpr uint32_t kDeleteProfileFiles = 3;

// Where a set-up records the SID of the account it made: a place only
// administrators can write, which outlives the repair's own files.
constexpr wchar_t kRecordKey[] = L"HKLM64\\SOFTWARE\\Brenwick";
constexpr wchar_t kRecordValue[] = L"TempAccountSid";

// The SID recorded, or without one the record (its key) gone.
bool RecordTempSid(const wchar_t* sid)
{
    if (sid == nullptr)
        return RegKey().DeleteTree(kRecordKey);
    RegKey key;
    return key.Open(kRecordKey, kCreateKeyAccess) && key.SetValue(kRecordValue, REG_SZ, sid, 0);
}

// Creates the account and records its SID; an account the record does not
// name would never be reused or deleted.
bool CreateTempAdmin(const wchar_t* password)
{
    if (!CreateAccount(kTempAccountName, kTempAccountFullName, kAdministratorType, password))
        return false;
    WString sid;
    if (GetAccountSidAndProfile(kTempAccountName, sid, nullptr) && RecordTempSid(sid.Text()))
        return true;
    DeleteAccount(kTempAccountName, kDeleteProfileFiles);
    return false;
}

bool SetTempPassword(const wchar_t* password)
{
    USER_INFO_1003 info{};
    info.usri1003_password = const_cast<wchar_t*>(password);
    return machine::NetUserSetInfo(nullptr, kTempAccountName, 1003, reinterpret_cast<LPBYTE>(&info), nullptr) ==
           NERR_Success;
}

bool UsableTempAdmin()
{
    UniqueNetBuffer buffer;
    if (machine::NetUserGetInfo(nullptr, kTempAccountName, 1, reinterpret_cast<LPBYTE*>(buffer.Put())) !=
            NERR_Success ||
        !buffer)
        return false;
    const auto* info = static_cast<const USER_INFO_1*>(buffer.Get());
    return (info->usri1_flags & (UF_ACCOUNTDISABLE | UF_LOCKOUT)) == 0 && info->usri1_priv == USER_PRIV_ADMIN;
}

}  // namespace

TempAccountClaim ClaimTempAdmin()
{
    WString sid;
    if (!GetAccountSidAndProfile(kTempAccountName, sid, nullptr))
        return AccountExists(kTempAccountName) ? TempAccountClaim::NotOurs : TempAccountClaim::None;
    RegKey key;
    WString recorded;
    const bool read = key.Open(kRecordKey, KEY_QUERY_VALUE) && key.QueryString(kRecordValue, recorded);
    return read && !sid.IsEmpty() && EqualsNoCase(sid.Text(), recorded.Text()) ? TempAccountClaim::Ours
                                                                                : TempAccountClaim::NotOurs;
}

std::wstring NotOurTempAdminText()
{
    return std::wstring(L"An account named \"") + kTempAccountName +
           L"\" exists that the repair did not make; it is neither used nor deleted. Rename it (or delete it "
           L"yourself) and try again.";
}

TempAdminResult EnsureTempAdmin(bool inTempAccount, const wchar_t* password)
{
    if (password == nullptr || *password == L'\0')
        return TempAdminResult::Failed;   // never an administrator without a password behind an automatic sign-in
    if (inTempAccount) {
        SetTempPassword(password);
        return TempAdminResult::Ready;
    }
    switch (ClaimTempAdmin()) {
    case TempAccountClaim::None:
        return CreateTempAdmin(password) ? TempAdminResult::Ready : TempAdminResult::Failed;
    case TempAccountClaim::NotOurs:
        return TempAdminResult::NotOurs;
    case TempAccountClaim::Ours:
        break;
    }
    if (UsableTempAdmin())
        return SetTempPassword(password) ? TempAdminResult::Ready : TempAdminResult::Failed;
    if (DeleteTempAdmin() == 0)
        return TempAdminResult::Failed;
    return CreateTempAdmin(password) ? TempAdminResult::Ready : TempAdminResult::Failed;
}

int DeleteTempAdmin()
{
    if (ClaimTempAdmin() != TempAccountClaim::Ours)
        return 0;
    const int deleted = DeleteAccount(kTempAccountName, kDeleteProfileFiles);
    if (deleted != 0)
        RecordTempSid(nullptr);
    return deleted;
}
