#include "accounts/groups.h"

#include <windows.h>
#include <lm.h>
#include <ntsecapi.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>

#include "accounts/account_rules.h"
#include "accounts/lifecycle_rules.h"
#include "accounts/lookup.h"
#include "platform/machine.h"
#include "platform/security.h"
#include "platform/sid.h"

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

// Hands every page of a local-group enumeration to `page`. False when the
// enumeration failed before its end: a part is never taken for the whole.
bool ForEachGroupPage(const std::function<NET_API_STATUS(LPBYTE*, DWORD*, DWORD*, DWORD_PTR*)>& call,
                      const std::function<void(const void* records, DWORD count)>& page)
{
    DWORD_PTR resume = 0;
    NET_API_STATUS status;
    do {
        UniqueNetBuffer buffer;
        DWORD read = 0, total = 0;
        status = call(reinterpret_cast<LPBYTE*>(buffer.Put()), &read, &total, &resume);
        if (status != NERR_Success && status != ERROR_MORE_DATA)
            return false;
        if (!buffer)
            return read == 0;
        page(buffer.Get(), read);
    } while (status == ERROR_MORE_DATA);
    return true;
}

// The groups' names with their descriptions, in the system's order.
struct GroupName {
    WString name;
    WString description;
};

bool ReadGroupNames(std::vector<GroupName>& names)
{
    return ForEachGroupPage(
        [](LPBYTE* buffer, DWORD* read, DWORD* total, DWORD_PTR* resume) {
            return machine::NetLocalGroupEnum(nullptr, 1, buffer, MAX_PREFERRED_LENGTH, read, total, resume);
        },
        [&](const void* records, DWORD count) {
            for (DWORD i = 0; i < count; ++i) {
                const auto& record = static_cast<const LOCALGROUP_INFO_1*>(records)[i];
                GroupName group;
                group.name.Assign(record.lgrpi1_name);
                group.description.Assign(record.lgrpi1_comment != nullptr ? record.lgrpi1_comment : L"");
                names.push_back(std::move(group));
            }
        });
}

// The name a member is shown by: bare for this computer's accounts and
// groups, with its domain for any other's.
void NameMember(PSID sid, GroupMember& member)
{
    WString name, domain;
    if (!SidToAccountName(sid, name, &domain)) {
        member.name.Clear();
        return;
    }
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD length = ARRAYSIZE(computer);
    GetComputerNameW(computer, &length);
    if (domain.IsEmpty() || EqualsNoCase(domain.Text(), computer) || EqualsNoCase(domain.Text(), L"BUILTIN"))
        member.name = std::move(name);
    else
        member.name.Append(domain.Text(), L"\\", name.Text());
}

// The group's members, named through `namer` when given.
bool ReadMembers(const wchar_t* name, const MemberNames* namer, std::vector<GroupMember>& members)
{
    std::vector<GroupMember> read;
    const bool whole = ForEachGroupPage(
        [name](LPBYTE* buffer, DWORD* count, DWORD* total, DWORD_PTR* resume) {
            return machine::NetLocalGroupGetMembers(nullptr, name, 0, buffer, MAX_PREFERRED_LENGTH, count, total,
                                                    resume);
        },
        [&](const void* records, DWORD count) {
            for (DWORD i = 0; i < count; ++i) {
                PSID sid = static_cast<const LOCALGROUP_MEMBERS_INFO_0*>(records)[i].lgrmi0_sid;
                GroupMember member;
                SidToText(sid, member.sid);
                if (namer != nullptr)
                    namer->Name(sid, member);
                read.push_back(std::move(member));
            }
        });
    if (whole)
        members = std::move(read);
    return whole;
}

}  // namespace

MemberNames::MemberNames()
{
    whole_ = ForEachAccount([this](const AccountRecord& account) {
        if (prefix_.empty()) {
            const std::wstring machine = MachineSidOf(account);
            if (!machine.empty())
                prefix_ = machine + L"-";
        }
        names_[account.rid] = account.name;
        return true;
    });
}

AccountReference MemberNames::ResolveRid(const wchar_t* text, WString& name) const
{
    if (text == nullptr || text[0] != L'#')
        return AccountReference::Name;
    DWORD rid = 0;
    if (!ReadRidReference(text, rid))
        return AccountReference::NotFound;
    const auto found = names_.find(rid);
    if (found != names_.end())
        return name.Assign(found->second.c_str()) ? AccountReference::Found : AccountReference::NotFound;
    return whole_ ? AccountReference::Absent : AccountReference::NotFound;
}

void MemberNames::Name(PSID sid, GroupMember& member) const
{
    const std::wstring text = member.sid.Text();
    if (prefix_.empty() || text.size() <= prefix_.size() || text.compare(0, prefix_.size(), prefix_) != 0) {
        NameMember(sid, member);
        return;
    }
    // Of this computer: an account, or a RID no account holds any more.
    const auto found = names_.find(wcstoul(text.c_str() + prefix_.size(), nullptr, 10));
    if (found != names_.end())
        member.name.Assign(found->second.c_str());
    else
        NameMember(sid, member);
}

namespace {

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

bool ChangeLeavesNoAdministrator(const std::function<void(const wchar_t* name, SignInState& state)>& change)
{
    std::vector<std::wstring> names;
    std::vector<SignInState> before;
    const bool listed = ForEachAccount([&](const AccountRecord& account) {
        names.push_back(account.name);
        before.push_back({account.privilege, account.flags, account.accountExpires, false});
        return true;
    });
    if (!listed)
        return true;   // nobody can tell that another one is left
    std::vector<SignInState> after = before;
    for (size_t i = 0; i < names.size(); ++i) {
        // Asked of administrators alone: a rights query per account costs.
        // Rights that cannot be read let nobody count on the account.
        if (before[i].privilege == kPrivilegeAdministrator)
            before[i].deniedInteractive = !SetSignInVisibility(names[i].c_str(), SignInVisibilityMode::Query);
        after[i] = before[i];
        change(names[i].c_str(), after[i]);
    }
    return LeavesNoAdministrator(before, after, static_cast<uint32_t>(time(nullptr)));
}

bool IsLastAdministrator(const wchar_t* accountName)
{
    return accountName != nullptr && ChangeLeavesNoAdministrator([&](const wchar_t* name, SignInState& state) {
               if (EqualsNoCase(name, accountName))
                   state.privilege = kPrivilegeUser;
           });
}

bool RemovesLastAdministrators(const std::vector<std::wstring>& leaving)
{
    return ChangeLeavesNoAdministrator([&](const wchar_t* name, SignInState& state) {
        if (std::any_of(leaving.begin(), leaving.end(),
                        [&](const std::wstring& one) { return EqualsNoCase(one.c_str(), name); }))
            state.privilege = kPrivilegeUser;
    });
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
    if (type != kPrivilegeAdministrator && IsLastAdministrator(accountName))
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

bool ReadGroupMembers(const wchar_t* name, std::vector<GroupMember>& members)
{
    const MemberNames namer;
    return ReadMembers(name, &namer, members);
}

namespace {

bool ReadGroups(const MemberNames* namer, std::vector<LocalGroup>& groups)
{
    std::vector<GroupName> names;
    if (!ReadGroupNames(names))
        return false;
    std::vector<LocalGroup> read(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        LocalSid sid;
        read[i].name = std::move(names[i].name);
        read[i].description = std::move(names[i].description);
        if (AccountNameToSid(read[i].name.Text(), sid, nullptr))
            SidToText(sid.Get(), read[i].sid);
        if (!ReadMembers(read[i].name.Text(), namer, read[i].members))
            return false;
    }
    groups = std::move(read);
    return true;
}

}  // namespace

bool ReadLocalGroups(std::vector<LocalGroup>& groups)
{
    const MemberNames namer;
    return ReadGroups(&namer, groups);
}

bool ReadLocalGroupMemberSids(std::vector<LocalGroup>& groups)
{
    return ReadGroups(nullptr, groups);
}

bool FindLocalGroup(const wchar_t* nameOrSid, LocalGroup& group, const MemberNames* names)
{
    // Only what the system lists as a local group counts, matched by its
    // name or by its SID.
    LocalSid wanted;
    const bool bySid = nameOrSid != nullptr && wcsncmp(nameOrSid, L"S-1-", 4) == 0;
    if (nameOrSid == nullptr || (bySid && !SidFromName(wanted, nameOrSid)))
        return false;
    std::vector<GroupName> groupNames;
    if (!ReadGroupNames(groupNames))
        return false;
    for (GroupName& listed : groupNames) {
        const WString& name = listed.name;
        LocalSid sid;
        const bool hasSid = AccountNameToSid(name.Text(), sid, nullptr);
        if (bySid ? !(hasSid && EqualSid(sid.Get(), wanted.Get())) : !EqualsNoCase(name.Text(), nameOrSid))
            continue;
        group.name = std::move(listed.name);
        group.description = std::move(listed.description);
        if (hasSid)
            SidToText(sid.Get(), group.sid);
        return names != nullptr ? ReadMembers(group.name.Text(), names, group.members)
                                : ReadGroupMembers(group.name.Text(), group.members);
    }
    return false;
}

bool ResolveGroupMember(const wchar_t* nameOrSid, LocalSid& sid, GroupMember& member)
{
    // A RID of this computer stands for the account it names.
    WString account;
    if (nameOrSid != nullptr && nameOrSid[0] == L'#') {
        if (ResolveAccountReference(nameOrSid, account) != AccountReference::Found)
            return false;
        nameOrSid = account.Text();
    }
    if (!SidFromName(sid, nameOrSid))
        return false;
    SidToText(sid.Get(), member.sid);
    // An account of this computer named as such needs no lookup back.
    if (wcsncmp(nameOrSid, L"S-1-", 4) != 0 && wcschr(nameOrSid, L'\\') == nullptr && AccountExists(nameOrSid))
        member.name.Assign(nameOrSid);
    else
        NameMember(sid.Get(), member);
    return true;
}

NET_API_STATUS ChangeGroupMembership(const wchar_t* group, PSID member, bool add)
{
    LOCALGROUP_MEMBERS_INFO_0 entry{member};
    auto call = add ? machine::NetLocalGroupAddMembers : machine::NetLocalGroupDelMembers;
    return call(nullptr, group, 0, reinterpret_cast<LPBYTE>(&entry), 1);
}

bool ReadAccountGroups(const wchar_t* sidText, std::vector<LocalGroup>& memberOf)
{
    memberOf.clear();
    std::vector<LocalGroup> groups;
    if (!ReadLocalGroupMemberSids(groups))
        return false;
    for (LocalGroup& group : groups) {
        for (const GroupMember& member : group.members) {
            if (EqualsNoCase(member.sid.Text(), sidText)) {
                group.members.clear();
                memberOf.push_back(std::move(group));
                break;
            }
        }
    }
    return true;
}

bool IsAdministratorsSid(const wchar_t* sidText)
{
    LocalSid administrators;
    WString text;
    return sidText != nullptr && WellKnownSid(administrators, WinBuiltinAdministratorsSid) &&
           SidToText(administrators.Get(), text) && EqualsNoCase(text.Text(), sidText);
}

bool IsBuiltinGroupSid(const wchar_t* sidText)
{
    return sidText != nullptr && wcsncmp(sidText, L"S-1-5-32-", 9) == 0;
}

namespace {

// Whether the group of that name is one of the system's own: by its SID,
// whatever the system's language calls it.
bool IsBuiltinGroupName(const wchar_t* name)
{
    LocalSid sid;
    WString text;
    return AccountNameToSid(name, sid, nullptr) && SidToText(sid.Get(), text) && IsBuiltinGroupSid(text.Text());
}

}  // namespace

NET_API_STATUS CreateLocalGroup(const wchar_t* name, const wchar_t* description)
{
    if (CheckNewGroupName(name) != NewAccountNameProblem::None)
        return ERROR_INVALID_ACCOUNT_NAME;
    if (description == nullptr)
        description = L"";
    if (!IsUsableGroupDescription(description))
        return ERROR_INVALID_PARAMETER;
    LOCALGROUP_INFO_1 group{const_cast<LPWSTR>(name), const_cast<LPWSTR>(description)};
    return machine::NetLocalGroupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&group), nullptr);
}

NET_API_STATUS DeleteLocalGroup(const wchar_t* name)
{
    if (name == nullptr)
        return NERR_GroupNotFound;
    if (IsBuiltinGroupName(name))
        return ERROR_SPECIAL_ACCOUNT;
    return machine::NetLocalGroupDel(nullptr, name);
}

NET_API_STATUS RenameLocalGroup(const wchar_t* name, const wchar_t* newName)
{
    if (name == nullptr)
        return NERR_GroupNotFound;
    if (IsBuiltinGroupName(name))
        return ERROR_SPECIAL_ACCOUNT;
    if (CheckNewGroupName(newName) != NewAccountNameProblem::None)
        return ERROR_INVALID_ACCOUNT_NAME;
    LOCALGROUP_INFO_0 group{const_cast<LPWSTR>(newName)};
    return machine::NetLocalGroupSetInfo(nullptr, name, 0, reinterpret_cast<LPBYTE>(&group), nullptr);
}

NET_API_STATUS SetLocalGroupDescription(const wchar_t* name, const wchar_t* description)
{
    if (name == nullptr)
        return NERR_GroupNotFound;
    if (description == nullptr)
        description = L"";
    if (!IsUsableGroupDescription(description))
        return ERROR_INVALID_PARAMETER;
    LOCALGROUP_INFO_1002 group{const_cast<LPWSTR>(description)};
    return machine::NetLocalGroupSetInfo(nullptr, name, 1002, reinterpret_cast<LPBYTE>(&group), nullptr);
}
