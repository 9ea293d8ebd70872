// Account creation with the profile built at once, by the profile service
// where the system offers one, else by signing the account in once.
#include "accounts/account_lifecycle.h"

#include <ntsecapi.h>
#include <userenv.h>

#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "platform/handles.h"
#include "platform/machine.h"

namespace {

constexpr DWORD kProfilePathCapacity = 260;
constexpr int kRandomAttempts = 8;

// The profile service's own way: true when CreateProfile answered S_OK.
bool BuildProfileByService(const wchar_t* accountName)
{
    UniqueLibrary library(LoadLibraryW(L"Userenv.dll"));
    if (!library)
        return false;
    auto createProfile = machine::AsFunction<machine::CreateProfileFunction>(
        machine::GetProcAddress(library.Get(), "CreateProfile"));
    if (createProfile == nullptr)
        return false;
    WString sid(accountName);
    if (!GetAccountSidString(sid))
        return false;
    wchar_t profilePath[kProfilePathCapacity + 1] = L"";
    return createProfile(sid.Text(), accountName, profilePath, kProfilePathCapacity) == S_OK;
}

NET_API_STATUS SetPasswordDirectly(const wchar_t* accountName, const wchar_t* password)
{
    USER_INFO_1003 info{const_cast<LPWSTR>(password)};
    DWORD parameter = 0;
    return machine::NetUserSetInfo(nullptr, accountName, 1003, reinterpret_cast<LPBYTE>(&info), &parameter);
}

// Signs the account in once and loads its profile, which makes it. An
// account without a password gets a fresh temporary one for the sign-in
// (the system refuses network-style sign-ins with a blank password) and the
// empty password back afterwards.
bool BuildProfileBySignIn(const wchar_t* accountName, const wchar_t* password, CreateReport& report)
{
    const bool hasPassword = password != nullptr && *password != L'\0';
    TemporaryPassword temporary;
    const wchar_t* signInPassword = password;
    if (!hasPassword) {
        if (*temporary.Text() == L'\0')
            return false;   // no random bytes: never fall back to a guessable password
        if (SetPasswordDirectly(accountName, temporary.Text()) != NERR_Success)
            return false;
        report.temporaryPasswordUsed = true;
        signInPassword = temporary.Text();
    }

    bool built = false;
    HANDLE rawToken = nullptr;
    if (machine::LogonUserW(accountName, nullptr, signInPassword, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT,
                            &rawToken)) {
        UniqueHandle token(rawToken);
        PROFILEINFOW profile{};
        // The structure's own size: the 64-bit system refuses the 32-bit one.
        profile.dwSize = sizeof(profile);
        profile.dwFlags = PI_NOUI;
        profile.lpUserName = const_cast<LPWSTR>(accountName);
        built = machine::LoadUserProfileW(token.Get(), &profile) != FALSE;
        if (built)
            machine::UnloadUserProfile(token.Get(), profile.hProfile);
    }

    if (report.temporaryPasswordUsed)
        report.emptyPasswordRestored = SetPasswordDirectly(accountName, L"") == NERR_Success;
    return built;
}

}  // namespace

TemporaryPassword::TemporaryPassword()
{
    uint8_t random[256];
    for (int attempt = 0; attempt < kRandomAttempts; ++attempt) {
        if (!RtlGenRandom(random, sizeof(random)))
            break;
        if (ComposeTemporaryPassword(random, sizeof(random), text_) != 0)
            break;
    }
    SecureZeroMemory(random, sizeof(random));
}

TemporaryPassword::~TemporaryPassword()
{
    SecureZeroMemory(text_, sizeof(text_));
}

namespace {

// The full name (when it says more than the account name) and the type of
// an account just added; true when the type was set.
bool GiveNameAndType(const wchar_t* accountName, const wchar_t* fullName, uint32_t type)
{
    if (fullName != nullptr && *fullName != L'\0' && CompareText(fullName, accountName, true) != 0) {
        USER_INFO_1011 name{const_cast<LPWSTR>(fullName)};
        machine::NetUserSetInfo(nullptr, accountName, 1011, reinterpret_cast<LPBYTE>(&name), nullptr);
    }
    GroupNames groups;
    GetGroupNames(groups);
    return SetAccountType(accountName, type, &groups);
}

}  // namespace

bool CreateAccount(const wchar_t* accountName, const wchar_t* fullName, uint32_t type, const wchar_t* password,
                   CreateReport* report)
{
    CreateReport local;
    CreateReport& result = report != nullptr ? *report : local;
    result = CreateReport{};
    if (accountName == nullptr || *accountName == L'\0') {
        result.addStatus = NERR_BadUsername;
        return false;
    }

    USER_INFO_1 info{};
    info.usri1_name = const_cast<LPWSTR>(accountName);
    info.usri1_password = password != nullptr && *password != L'\0' ? const_cast<LPWSTR>(password) : nullptr;
    info.usri1_password_age = 0;
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT | UF_DONT_EXPIRE_PASSWD;
    DWORD parameter = 0;
    result.addStatus = machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &parameter);
    if (result.addStatus != NERR_Success)
        return false;

    // From here on the account exists: nothing below undoes it.
    result.typeSet = GiveNameAndType(accountName, fullName, type);

    result.profileByService = BuildProfileByService(accountName);
    bool built = result.profileByService || BuildProfileBySignIn(accountName, password, result);
    result.outcome = built ? CreateOutcome::AddedWithProfile : CreateOutcome::AddedWithoutProfile;
    return built;
}

bool CompleteAccount(const wchar_t* accountName, const wchar_t* fullName, uint32_t type)
{
    if (accountName == nullptr || *accountName == L'\0')
        return false;
    GiveNameAndType(accountName, fullName, type);
    WString sid(accountName), profile;
    if (!GetAccountSidString(sid))
        return false;
    // Only its own profile entry counts: a folder of its name may be another's.
    if (ReadProfileImagePath(sid.Text(), profile))
        return true;
    CreateReport report;
    return BuildProfileByService(accountName) || BuildProfileBySignIn(accountName, nullptr, report);
}

bool IsAccountNameTaken(const wchar_t* name)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sid);
    wchar_t domain[256];
    DWORD domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    return machine::LookupAccountNameW(nullptr, name, sid, &sidSize, domain, &domainLength, &use) != FALSE;
}
