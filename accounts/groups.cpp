#include "accounts/groups.h"

#include <windows.h>
#include <lm.h>
#include <ntsecapi.h>

#include <utility>

#include "accounts/account_rules.h"
#include "accounts/lookup.h"
#include "platform/machine.h"
#include "platform/security.h"

namespace {

constexpr DWORD kSidBytes = 260;

// The account's SID, in a block of the size the lookup asks for.
bool LookupSid(const wchar_t* accountName, LocalSid& sid)
{
    return AccountNameToSid(accountName, sid, nullptr);
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
        WString name;
        if (!SidToAccountName(sid, name, nullptr)) {
            groupNames.names[index].Assign(L"");
            return;
        }
        groupNames.names[index] = std::move(name);
    }
}

bool IsLastEnabledAdministrator(const wchar_t* accountName)
{
    if (accountName == nullptr)
        return false;
    bool isEnabledAdministrator = false;
    uint32_t others = 0;
    const bool listed = ForEachAccountPage(1, [&](const void* records, DWORD read) {
        const auto* users = static_cast<const USER_INFO_1*>(records);
        for (DWORD i = 0; i < read; ++i) {
            const bool enabledAdministrator =
                users[i].usri1_priv == USER_PRIV_ADMIN && (users[i].usri1_flags & UF_ACCOUNTDISABLE) == 0;
            if (EqualsNoCase(users[i].usri1_name, accountName))
                isEnabledAdministrator = enabledAdministrator;
            else if (enabledAdministrator)
                ++others;
        }
        return true;
    });
    if (!listed)
        return true;
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
    LocalSid sid;
    if (!LookupSid(accountName, sid))
        return false;
    if (type != kPrivilegeAdministrator && IsLastEnabledAdministrator(accountName))
        return false;

    // Joined first: if that fails the account keeps the groups it had.
    LOCALGROUP_MEMBERS_INFO_0 member{sid.Get()};
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
    UniqueLsaPolicy policy;
    if (machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES, policy.Put()) !=
        kStatusSuccess)
        return false;
    LocalSid sid;
    if (!LookupSid(accountName, sid))
        return false;

    UniqueLsaText held;
    ULONG count = 0;
    NTSTATUS listed = machine::LsaEnumerateAccountRights(policy.Get(), sid.Get(), held.Put(), &count);
    const PLSA_UNICODE_STRING rights = held.Get();
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
                result = machine::LsaRemoveAccountRights(policy.Get(), sid.Get(), FALSE, &deny, 1) == kStatusSuccess;
            if (!holdsInteractive && machine::LsaAddAccountRights(policy.Get(), sid.Get(), &interactive, 1) != kStatusSuccess)
                result = false;
        } else {
            if (!holdsDeny)
                result = machine::LsaAddAccountRights(policy.Get(), sid.Get(), &deny, 1) == kStatusSuccess;
            if (holdsInteractive &&
                machine::LsaRemoveAccountRights(policy.Get(), sid.Get(), FALSE, &interactive, 1) != kStatusSuccess)
                result = false;
        }
    }
    return result;
}
