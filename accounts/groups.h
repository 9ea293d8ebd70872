// Account type through membership of the three built-in groups, and
// sign-in visibility through the account rights of the security authority.
#pragma once

#include <cstdint>

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
// Refused (false, nothing changed) when it would take the last enabled
// administrator out of Administrators. Without `groupNames` the names are
// looked up here.
bool SetAccountType(const wchar_t* accountName, uint32_t type, const GroupNames* groupNames);

// True when the account is an enabled administrator and no other enabled
// administrator exists; also when the accounts cannot be listed, since then
// nobody can tell that another one is left. For the type change and, later,
// account deletion.
bool IsLastEnabledAdministrator(const wchar_t* accountName);

enum class SignInVisibilityMode { Hide = 0, Show = 1, Query = 2 };

// Query: whether the account may sign in interactively (so the welcome
// screen shows it). Hide and Show: true when it already was so, or every
// change needed succeeded. False whenever the account's rights cannot be
// read (other than its having none), since nothing can then be judged.
bool SetSignInVisibility(const wchar_t* accountName, SignInVisibilityMode mode);
