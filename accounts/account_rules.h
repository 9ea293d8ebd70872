// Account rules that need no system call: the texts that name an account's
// type, which accounts are built in, and the flags that "Save changes"
// writes back from the settings panel.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/text.h"

// The privilege levels of a level-3 account record, in the order of the
// panel's privilege list.
enum AccountPrivilege : uint32_t { kPrivilegeGuest = 0, kPrivilegeUser = 1, kPrivilegeAdministrator = 2 };

// Flags the settings panel shows; every other bit passes through unchanged.
inline constexpr uint32_t kFlagAccountDisabled = 0x2;
inline constexpr uint32_t kFlagLockedOut = 0x10;
inline constexpr uint32_t kFlagPasswordNotRequired = 0x20;
inline constexpr uint32_t kFlagPasswordCannotChange = 0x40;
inline constexpr uint32_t kFlagPasswordNeverExpires = 0x10000;
inline constexpr uint32_t kFlagPasswordExpired = 0x800000;

// Relative identifiers below 1000 belong to the accounts the system makes.
// The list's type text counts 1 to 999; the panel counts everything below 1000.
bool IsBuiltinForList(uint32_t userId);
bool IsBuiltinForPanel(uint32_t userId);

// "Guest User Account", "Builtin Administrator User Account", ...; a
// privilege of 3 or more leaves "User Account" alone.
bool BuildAccountTypeText(WString& text, uint32_t privilege, bool builtin);

// The state of the panel's flag boxes when "Save changes" is pressed.
struct AccountFlagChoice {
    bool disabled = false;
    bool lockedOut = false;
    bool cannotChange = false;
    bool notRequired = false;
    bool neverExpires = false;
};

// The stored flags with the five boxes applied; every other bit as stored.
uint32_t ComposeAccountFlags(uint32_t stored, const AccountFlagChoice& choice);

// What decides whether an account can sign in to administer the machine.
struct SignInState {
    uint32_t privilege = kPrivilegeUser;
    uint32_t flags = 0;                      // the record's flags: disabled, locked out
    uint32_t accountExpires = 0xFFFFFFFFu;   // seconds since 1970; all ones: never
    bool deniedInteractive = false;          // hidden from the welcome screen
};

// An administrator that is neither disabled, locked out, expired at `now`
// nor denied the interactive sign-in.
bool CanSignInAsAdministrator(const SignInState& account, uint32_t now);

// Whether a change takes the machine's administration away: some account of
// `before` can sign in as an administrator at `now` and none of `after` can.
// Both list the same accounts. Every guard (type, flags, expiry,
// visibility, group membership, deletion) refuses such a change.
bool LeavesNoAdministrator(const std::vector<SignInState>& before, const std::vector<SignInState>& after,
                           uint32_t now);

// Whether "Save changes" is to write the display-name field as the full
// name. The field shows the account name when the full name is empty, so
// that text alone leaves an empty full name empty; any other text that
// differs from the stored full name (without regard to case) is a change.
bool FullNameChanged(const wchar_t* shown, const wchar_t* storedFullName, const wchar_t* accountName);
