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
// counts). Without `groupNames` the names are looked up here.
bool SetAccountType(const wchar_t* accountName, uint32_t type, const GroupNames* groupNames);

enum class SignInVisibilityMode { Hide = 0, Show = 1, Query = 2 };

// Query: whether the account may sign in interactively (so the welcome
// screen shows it). Hide and Show: true when it already was so, or every
// change needed succeeded.
bool SetSignInVisibility(const wchar_t* accountName, SignInVisibilityMode mode);
