#include "accounts/groups.h"

#include <windows.h>
#include <lm.h>
#include <ntsecapi.h>

#include "accounts/account_rules.h"
#include "platform/machine.h"

namespace {

constexpr DWORD kSidBytes = 260;
constexpr DWORD kDomainChars = 260;
constexpr NTSTATUS kStatusSuccess = 0;

// The account's SID in a caller's 260-byte buffer.
bool LookupSid(const wchar_t* accountName, BYTE (&sid)[kSidBytes])
{
    DWORD sidSize = kSidBytes;
    wchar_t domain[kDomainChars];
    DWORD domainLength = kDomainChars;
    SID_NAME_USE use;
    return accountName != nullptr &&
           machine::LookupAccountNameW(nullptr, accountName, sid, &sidSize, domain, &domainLength, &use) != FALSE;
}

bool IsRight(const LSA_UNICODE_STRING& right, const wchar_t* name)
{
    WString text;
    return text.AssignSubstring(right.Buffer != nullptr ? right.Buffer : L"", 1, right.Length / sizeof(wchar_t)) &&
           EqualsNoCase(text.Text(), name);
}

constexpr wchar_t kInteractiveRight[] = L"SeInteractiveLogonRight";
constexpr wchar_t kDenyInteractiveRight[] = L"SeDenyInteractiveLogonRight";

}  // namespace

void GetGroupNames(GroupNames& groupNames)
{
    const WELL_KNOWN_SID_TYPE kGroups[] = {WinBuiltinGuestsSid, WinBuiltinUsersSid, WinBuiltinAdministratorsSid};
    for (int index = 0; index < 3; ++index) {
        BYTE sid[kSidBytes];
        DWORD sidSize = kSidBytes;
        if (!CreateWellKnownSid(kGroups[index], nullptr, sid, &sidSize))
            return;
        wchar_t name[260], domain[kDomainChars];
        DWORD nameLength = 260, domainLength = kDomainChars;
        SID_NAME_USE use;
        if (!machine::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
            groupNames.names[index].Assign(L"");
            return;
        }
        groupNames.names[index].Assign(name);
    }
}

bool IsLastEnabledAdministrator(const wchar_t* accountName)
{
    if (accountName == nullptr)
        return false;
    bool isEnabledAdministrator = false;
    uint32_t others = 0;
    DWORD resume = 0;
    NET_API_STATUS status;
    do {
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        status = machine::NetUserEnum(nullptr, 1, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
        if (status != NERR_Success && status != ERROR_MORE_DATA) {
            if (buffer != nullptr)
                machine::NetApiBufferFree(buffer);
            return true;
        }
        const auto* users = reinterpret_cast<const USER_INFO_1*>(buffer);
        for (DWORD i = 0; users != nullptr && i < read; ++i) {
            const bool enabledAdministrator =
                users[i].usri1_priv == USER_PRIV_ADMIN && (users[i].usri1_flags & UF_ACCOUNTDISABLE) == 0;
            if (EqualsNoCase(users[i].usri1_name, accountName))
                isEnabledAdministrator = enabledAdministrator;
            else if (enabledAdministrator)
                ++others;
        }
        if (buffer != nullptr)
            machine::NetApiBufferFree(buffer);
    } while (status == ERROR_MORE_DATA);
    return DemotesLastAdministrator(isEnabledAdministrator ? kPrivilegeAdministrator : kPrivilegeUser, true,
                                    kPrivilegeUser, others);
}

bool SetAccountType(const wchar_t* accountName, uint32_t type, const GroupNames* groupNames)
{
    if (type > 2)
        return false;
    GroupNames own;
    if (groupNames == nullptr) {
        GetGroupNames(own);
        groupNames = &own;
    }
    BYTE sid[kSidBytes];
    if (!LookupSid(accountName, sid))
        return false;
    if (type != kPrivilegeAdministrator && IsLastEnabledAdministrator(accountName))
        return false;

    // Joined first: if that fails the account keeps the groups it had.
    LOCALGROUP_MEMBERS_INFO_0 member{sid};
    NET_API_STATUS status = machine::NetLocalGroupAddMembers(nullptr, groupNames->names[type].Text(), 0,
                                                             reinterpret_cast<LPBYTE>(&member), 1);
    if (status != NERR_Success && status != ERROR_MEMBER_IN_ALIAS)
        return false;
    for (uint32_t index = 0; index < 3; ++index) {
        // Usually not a member: the answer does not matter.
        if (index != type)
            machine::NetLocalGroupDelMembers(nullptr, groupNames->names[index].Text(), 0,
                                             reinterpret_cast<LPBYTE>(&member), 1);
    }
    return true;
}

bool SetSignInVisibility(const wchar_t* accountName, SignInVisibilityMode mode)
{
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    if (machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES, &policy) !=
        kStatusSuccess)
        return false;
    BYTE sid[kSidBytes];
    if (!LookupSid(accountName, sid)) {
        machine::LsaClose(policy);
        return false;
    }

    PLSA_UNICODE_STRING rights = nullptr;
    ULONG count = 0;
    NTSTATUS listed = machine::LsaEnumerateAccountRights(policy, sid, &rights, &count);
    bool holdsInteractive = false, holdsDeny = false;
    if (machine::LsaNtStatusToWinError(listed) == ERROR_FILE_NOT_FOUND) {
        holdsInteractive = true;   // no rights of its own: the system's defaults let it sign in
    } else if (listed == kStatusSuccess) {
        for (ULONG i = 0; i < count; ++i) {
            holdsInteractive |= IsRight(rights[i], kInteractiveRight);
            holdsDeny |= IsRight(rights[i], kDenyInteractiveRight);
        }
    } else {
        // Unknown rights: any answer would be a guess, and "already so" a
        // success reported for nothing done.
        machine::LsaClose(policy);
        if (rights != nullptr)
            machine::LsaFreeMemory(rights);
        return false;
    }
    bool visible = holdsInteractive && !holdsDeny;

    bool result;
    if (mode == SignInVisibilityMode::Query) {
        result = visible;
    } else if (visible == (mode == SignInVisibilityMode::Show)) {
        result = true;
    } else {
        LSA_UNICODE_STRING interactive = machine::CountedText(kInteractiveRight);
        LSA_UNICODE_STRING deny = machine::CountedText(kDenyInteractiveRight);
        result = true;
        if (mode == SignInVisibilityMode::Show) {
            if (holdsDeny)
                result = machine::LsaRemoveAccountRights(policy, sid, FALSE, &deny, 1) == kStatusSuccess;
            if (!holdsInteractive && machine::LsaAddAccountRights(policy, sid, &interactive, 1) != kStatusSuccess)
                result = false;
        } else {
            if (!holdsDeny)
                result = machine::LsaAddAccountRights(policy, sid, &deny, 1) == kStatusSuccess;
            if (holdsInteractive &&
                machine::LsaRemoveAccountRights(policy, sid, FALSE, &interactive, 1) != kStatusSuccess)
                result = false;
        }
    }
    machine::LsaClose(policy);
    if (rights != nullptr)
        machine::LsaFreeMemory(rights);
    return result;
}
