#include "repair/temp_account.h"

#include <windows.h>
#include <lm.h>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kAdministratorType = 2;
// The account, its profile folder (taken over where refused, whatever is
// locked left for the restart) and its profile-list entry.
constexpr uint32_t kDeleteProfileFiles = 3;

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

bool EnsureTempAdmin(bool inTempAccount, const wchar_t* password)
{
    if (password == nullptr || *password == L'\0')
        return false;   // never an administrator without a password behind an automatic sign-in
    if (inTempAccount) {
        SetTempPassword(password);
        return true;
    }
    if (CreateAccount(kTempAccountName, kTempAccountFullName, kAdministratorType, password))
        return true;
    if (UsableTempAdmin())
        return SetTempPassword(password);
    if (DeleteTempAdmin() == 0)
        return false;
    return CreateAccount(kTempAccountName, kTempAccountFullName, kAdministratorType, password);
}

int DeleteTempAdmin()
{
    return DeleteAccount(kTempAccountName, kDeleteProfileFiles);
}
