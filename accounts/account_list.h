// The local accounts as the main window lists and shows them, read as
// plain data. Nothing is cached: every call reads the accounts afresh.
#pragma once

#include <windows.h>
#include <lm.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "accounts/lookup.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/text.h"

// One row of the account list: the title shown (the full name, or the
// account name when there is none), the account name and the type text.
struct AccountRow {
    WString title;
    WString name;
    WString type;
};

// A row for every account of every page of the enumeration, in the
// database's order. False when the database fails before the end: then
// `rows` is left as it was, never given the part read before the failure.
bool ReadAccountRows(std::vector<AccountRow>& rows);

// What the settings panel shows of one account.
struct AccountDetails {
    WString fullName;            // as stored, may be empty
    WString typeText;            // as the panel names the type
    uint32_t privilege = 0;
    uint32_t flags = 0;
    bool builtin = false;        // made by the system: type and name are not to be changed
    bool console = false;        // the user signed in at the console
    bool hidden = false;         // removed from the welcome screen
    bool autoLogon = false;      // the machine signs in as this account
    // What people look up: times in seconds since 1970 as the record keeps them.
    WString description;         // the record's comment
    DWORD accountExpires = TIMEQ_FOREVER;
    DWORD passwordAge = 0;       // seconds since the password was set
    DWORD lastLogon = 0;         // 0: never signed in
    DWORD badPasswordCount = 0;  // wrong passwords since the last sign-in
};

// The password policy's maximum age in seconds (TIMEQ_FOREVER: none); false
// when the policy cannot be read.
bool ReadMaximumPasswordAge(DWORD& seconds);

// The details people look up, in words, as `show` and the settings panel
// give them: times as "YYYY-MM-DDTHH:MM:SSZ"; a time not kept "never" (the
// password's set time empty); the password's expiry "now" when it has
// expired and "unknown" when the policy cannot be read.
struct DetailTexts {
    std::wstring description, accountExpires, passwordLastSet, passwordExpires, lastSignIn, badPasswords;
};
DetailTexts DescribeDetails(const AccountDetails& details, uint32_t now);

// Reads the account afresh by name. `consoleUserName` may be empty (the
// console user is not known). False when the account cannot be read.
bool ReadAccountDetails(const wchar_t* accountName, const wchar_t* consoleUserName, AccountDetails& details);

// What the account list tells of one account: the settings panel's details
// with the SID and the profile folder the operations look up.
struct AccountSummary {
    WString name;
    AccountDetails details;
    WString sid;
    WString profile;             // empty when the account has none
};

// Every local account, read once per kind for the whole list rather than
// once per account: the records from the enumeration's own pages, the SIDs
// from the machine's domain and each record's relative id, one read of the
// profile list and of the profiles folder, one enumeration of the SIDs that
// hold rights (for the welcome-screen visibility) and one read of the
// automatic sign-in. Each account comes out as ReadAccountDetails and
// GetAccountSidAndProfile give it. False when the accounts cannot be listed
// whole: then `accounts` is left as it was.
bool ReadAccountSummaries(const wchar_t* consoleUserName, std::vector<AccountSummary>& accounts);
