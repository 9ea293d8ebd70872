// Account type through membership of the three built-in groups, and
// sign-in visibility through the account rights of the security authority.
#pragma once

#include <windows.h>
#include <lm.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "accounts/account_rules.h"
#include "accounts/lookup.h"
#include "platform/handles.h"
#include "platform/text.h"

// The names of the built-in groups Guests, Users and Administrators, indexed
// by privilege, as the running system spells them.
struct GroupNames {
    WString names[3];
};

// Fills the names in place; see the source for what a failure leaves.
void GetGroupNames(GroupNames& groupNames);

// Makes the account a member of the group at index `type` and of neither
// other. True when it now is a member of that group (already being one
// counts). The new group is joined first; the others are left only after
// that succeeded, so a failure never leaves the account in no group.
// Refused (false, nothing changed) when it would take the last administrator
// that can sign in out of Administrators. Without `groupNames` the names are
// looked up here.
bool SetAccountType(const wchar_t* accountName, uint32_t type, const GroupNames* groupNames);

// True when `change`, made to the sign-in state of each account it is
// handed (by name), would leave no administrator that can sign in where one
// could; also when the accounts cannot be listed, since then nobody can
// tell that another one is left. The one rule of every guard that keeps the
// machine administered.
bool ChangeLeavesNoAdministrator(const std::function<void(const wchar_t* name, SignInState& state)>& change);

// True when the account is the last administrator that can sign in (or the
// accounts cannot be listed): for the type change and account deletion.
bool IsLastAdministrator(const wchar_t* accountName);

// Whether the SID text is the Administrators group's.
bool IsAdministratorsSid(const wchar_t* sidText);

// True when taking the accounts named `leaving` out of Administrators would
// leave no administrator that can sign in; also when the accounts cannot be
// listed.
bool RemovesLastAdministrators(const std::vector<std::wstring>& leaving);

enum class SignInVisibilityMode { Hide = 0, Show = 1, Query = 2 };

// Query: whether the account may sign in interactively (so the welcome
// screen shows it). Hide and Show: true when it already was so, or every
// change needed succeeded. False whenever the account's rights cannot be
// read (other than its having none), since nothing can then be judged.
bool SetSignInVisibility(const wchar_t* accountName, SignInVisibilityMode mode);

// One member of a local group: its SID, and its name when it resolves
// ("DOMAIN\name" for one of another domain, the bare name for this
// computer's own and the system's well-known ones). A member that does not
// resolve (a deleted account) is listed by its SID alone.
struct GroupMember {
    WString sid;
    WString name;   // empty: it does not resolve
};

// A local group by its name as the running system spells it and its SID.
struct LocalGroup {
    WString name;
    WString sid;
    WString description;
    std::vector<GroupMember> members;
};

// Names members as the system's lookup does, this computer's accounts from
// one pass over the account database instead of one lookup each: a group of
// a thousand accounts then costs about one enumeration. Read when made; one
// run that reads several groups and changes no account between them shares
// one.
class MemberNames {
public:
    MemberNames();
    void Name(PSID sid, GroupMember& member) const;
    // A "#RID" reference answered from the same pass, as
    // ResolveAccountReference answers it: Found with the name, Absent when
    // the whole pass met no such RID, NotFound when the text is no RID or
    // the pass failed; Name for a text of another form.
    AccountReference ResolveRid(const wchar_t* text, WString& name) const;

private:
    std::wstring prefix_;   // "S-1-5-21-x-y-z-": this computer's SIDs
    std::unordered_map<DWORD, std::wstring> names_;
    bool whole_ = false;    // the pass met every account
};

// Every local group with its members. False when the groups or any group's
// members could not be read whole.
bool ReadLocalGroups(std::vector<LocalGroup>& groups);

// The same with the members' SIDs alone (no member named): for a reader
// that needs no names, without the pass over the account database.
bool ReadLocalGroupMemberSids(std::vector<LocalGroup>& groups);

// The local group named by `nameOrSid` (its name, or its SID, so that a
// built-in group is found whatever the system's language), with its
// members, named through `names` when given. False when there is none.
bool FindLocalGroup(const wchar_t* nameOrSid, LocalGroup& group, const MemberNames* names = nullptr);

// The members of the group named `name` (as the system spells it). False
// when they could not be read whole.
bool ReadGroupMembers(const wchar_t* name, std::vector<GroupMember>& members);

// A would-be member by name, SID or RID of this computer ("#1001"): its SID
// (as text too) and the name to show. False when the name resolves to nothing, or the SID is malformed.
bool ResolveGroupMember(const wchar_t* nameOrSid, LocalSid& sid, GroupMember& member);

// Adds `member` to, or removes it from, the group; the system's status
// (ERROR_MEMBER_IN_ALIAS and ERROR_MEMBER_NOT_IN_ALIAS say it already was so).
NET_API_STATUS ChangeGroupMembership(const wchar_t* group, PSID member, bool add);

// The local groups (name, SID and description; no members) the account's
// SID is itself a member of, in the order the system lists the groups.
// Members are compared by SID alone, so no member is named: on a thousand
// accounts this costs the groups' reading, not a pass over the accounts.
// False when they could not be read.
bool ReadAccountGroups(const wchar_t* sidText, std::vector<LocalGroup>& memberOf);

// Whether the SID text is one of the system's own groups (S-1-5-32-*), which
// are never deleted or renamed.
bool IsBuiltinGroupSid(const wchar_t* sidText);

// A new local group of the name, with its description (may be empty). The
// name is checked as CheckNewGroupName checks it (ERROR_INVALID_ACCOUNT_NAME),
// the description as IsUsableGroupDescription does (ERROR_INVALID_PARAMETER);
// otherwise the system's status (NERR_UserExists, ERROR_ALIAS_EXISTS: the
// name is taken).
NET_API_STATUS CreateLocalGroup(const wchar_t* name, const wchar_t* description);

// Deletes and renames a group made on this computer; one of the system's own
// is refused with ERROR_SPECIAL_ACCOUNT before the system is asked. The
// new name is checked as for CreateLocalGroup.
NET_API_STATUS DeleteLocalGroup(const wchar_t* name);
NET_API_STATUS RenameLocalGroup(const wchar_t* name, const wchar_t* newName);

// Sets the description of any local group, the system's own included.
NET_API_STATUS SetLocalGroupDescription(const wchar_t* name, const wchar_t* description);
