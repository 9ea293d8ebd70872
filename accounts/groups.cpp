#include "accounts/groups.h"

#include <windows.h>
#include <lm.h>
#include <ntsecapi.h>

#include <utility>

#include "platform/machine.h"
#include "platform/security.h"

namespace {

constexpr DWORD kSidBytes = 260;
constexpr NTSTATUS kStatusSuccess = 0;

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

    LOCALGROUP_MEMBERS_INFO_0 member{sid.Get()};
    bool added = false;
    for (uint32_t index = 0; index < 3; ++index) {
        LPCWSTR group = groupNames->names[index].Text();
        if (index == type) {
            NET_API_STATUS status =
                machine::NetLocalGroupAddMembers(nullptr, group, 0, reinterpret_cast<LPBYTE>(&member), 1);
            added = status == NERR_Success || status == ERROR_MEMBER_IN_ALIAS;
        } else {
            // Usually not a member: the answer does not matter.
            machine::NetLocalGroupDelMembers(nullptr, group, 0, reinterpret_cast<LPBYTE>(&member), 1);
        }
    }
    return added;
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

    PLSA_UNICODE_STRING rights = nullptr;
    ULONG count = 0;
    NTSTATUS listed = machine::LsaEnumerateAccountRights(policy.Get(), sid.Get(), &rights, &count);
    bool holdsInteractive = false, holdsDeny = false;
    if (machine::LsaNtStatusToWinError(listed) == ERROR_FILE_NOT_FOUND) {
        holdsInteractive = true;   // no rights of its own: the system's defaults let it sign in
    } else if (listed == kStatusSuccess) {
        for (ULONG i = 0; i < count; ++i) {
            holdsInteractive |= IsRight(rights[i], kInteractiveRight);
            holdsDeny |= IsRight(rights[i], kDenyInteractiveRight);
        }
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
    if (rights != nullptr)
        machine::LsaFreeMemory(rights);
    return result;
}
