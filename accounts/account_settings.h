// The account settings of the panel and the command line, applied to the
// stored account record without a window.
#pragma once

#include <windows.h>
#include <lm.h>

#include <cstdint>

#include "accounts/account_rules.h"

struct GroupNames;

// Failure bits of one "Save changes", collected in one number.
struct SettingsFailure {
    static constexpr uint32_t Type = 2;
    static constexpr uint32_t Record = 4;      // the account could not be read or written
    static constexpr uint32_t AutoLogon = 8;
    static constexpr uint32_t Visibility = 16;
    // With Type: the account is the last administrator that can sign in and stays one.
    static constexpr uint32_t LastAdministrator = 32;
    static constexpr uint32_t Name = 64;       // the account keeps its old name
};

// What the operator chose in the panel for the selected account. The texts
// are the caller's and stay valid during the call.
struct AccountSettingsChoice {
    const wchar_t* accountName = nullptr;
    const wchar_t* displayName = nullptr;
    uint32_t privilege = 0;          // the type's index in the privilege list
    AccountFlagChoice flags;
    bool expired = false;            // "Password is expired" still checked
    bool autoLogon = false;
    bool hidden = false;             // "Remove user from the welcome screen"
    const wchar_t* newName = nullptr;   // the name field's text: the account is renamed when it differs
    // The command line's details; the panel leaves them as they are.
    const wchar_t* description = nullptr;   // null: kept
    bool setAccountExpires = false;
    DWORD accountExpires = TIMEQ_FOREVER;   // seconds since 1970
};

// Whether the choice (its type, flags, expiry and visibility) would leave
// the machine no administrator that can sign in; true too when the accounts
// cannot be read. The panel and the command line refuse such a choice
// before asking or changing anything.
bool TakesLastAdministrator(const AccountSettingsChoice& choice);

// The steps that need the stored record, without a window: the type (never
// taking the last administrator that can sign in its type away), then the full name and
// flags in one write. The SettingsFailure bits of what was not applied. The
// command line's "set" and "Save changes" both apply through it.
uint32_t ApplyAccountRecord(const AccountSettingsChoice& choice, const GroupNames& groupNames);
