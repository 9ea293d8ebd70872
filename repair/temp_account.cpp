#include "repair/temp_account.h"

#include <windows.h>
#include <lm.h>
#include <ntsecapi.h>

#include "accounts/account_list.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

bool SetTempPassword(const wchar_t* password)
{
    USER_INFO_1003 info{};
    info.usri1003_password = const_cast<wchar_t*>(password);
    return machine::NetUserSetInfo(nullptr, kTempAccountName, 1003, reinterpret_cast<LPBYTE>(&info), nullptr) ==
           NERR_Success;
}

// The account database reached directly, until the account operations of
// the main program can create an account with its profile: the account, its
// full name, Administrators, and its profile through the profile service.
bool CreateTempAdminDirect(const wchar_t* password)
{
    USER_INFO_1 user{};
    user.usri1_name = const_cast<wchar_t*>(kTempAccountName);
    user.usri1_password = const_cast<wchar_t*>(password);
    user.usri1_priv = USER_PRIV_USER;
    user.usri1_flags = UF_SCRIPT | UF_NORMAL_ACCOUNT | UF_DONT_EXPIRE_PASSWD;
    if (machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&user), nullptr) != NERR_Success)
        return false;
    USER_INFO_1011 fullName{};
    fullName.usri1011_full_name = const_cast<wchar_t*>(kTempAccountFullName);
    machine::NetUserSetInfo(nullptr, kTempAccountName, 1011, reinterpret_cast<LPBYTE>(&fullName), nullptr);
    if (!SetAccountType(kTempAccountName, 2, nullptr))
        return false;
    WString sid(kTempAccountName);
    if (!GetAccountSidString(sid))
        return false;
    UniqueLibrary userenv(LoadLibraryW(L"userenv.dll"));
    auto createProfile = machine::AsFunction<machine::CreateProfileFunction>(
        userenv ? machine::GetProcAddress(userenv.Get(), "CreateProfile") : nullptr);
    if (createProfile == nullptr)
        return false;
    wchar_t profile[MAX_PATH] = L"";
    HRESULT made = createProfile(sid.Text(), kTempAccountName, profile, MAX_PATH);
    return SUCCEEDED(made) || made == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
}

// The account and its profile-list entry; the folder is left for the
// profile deletion of the account operations.
int DeleteTempAdminDirect()
{
    WString sid(kTempAccountName);
    bool haveSid = GetAccountSidString(sid);
    if (machine::NetUserDel(nullptr, kTempAccountName) != NERR_Success)
        return 0;
    if (haveSid) {
        WString key(L"HKLM64\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\");
        key.Append(sid.Text());
        RegKey remover;
        remover.DeleteTree(key.Text());
    }
    return 1;
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

TempPassword::TempPassword()
{
    uint8_t random[kTempPasswordRandomBytes];
    if (RtlGenRandom(random, sizeof random))
        ComposeTempPassword(random, text_);
    SecureZeroMemory(random, sizeof random);
}

TempPassword::~TempPassword()
{
    SecureZeroMemory(text_, sizeof text_);
}

bool EnsureTempAdmin(bool inTempAccount, const wchar_t* password)
{
    if (password == nullptr || *password == L'\0')
        return false;   // never an administrator without a password behind an automatic sign-in
    if (inTempAccount) {
        SetTempPassword(password);
        return true;
    }
    if (CreateTempAdminDirect(password))
        return true;
    if (UsableTempAdmin())
        return SetTempPassword(password);
    if (DeleteTempAdmin() == 0)
        return false;
    return CreateTempAdminDirect(password);
}

int DeleteTempAdmin()
{
    return DeleteTempAdminDirect();
}
