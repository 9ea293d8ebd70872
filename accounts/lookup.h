// Lookups the account operations share: the account database's records,
// whether an account exists, an account's SID string and profile folder, and
// the user signed in at the console.
#pragma once

#include <windows.h>

#include <lm.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/handles.h"
#include "platform/text.h"

// One local account as the account database keeps it: the fields the
// program reads, decoded from the database's own record in one place.
struct AccountRecord {
    std::wstring name;
    std::wstring fullName;       // as stored, may be empty
    std::wstring comment;
    std::wstring profile;        // the record's own profile folder, as stored; usually empty
    uint32_t rid = 0;
    uint32_t privilege = 0;      // 0 guest, 1 user, 2 administrator
    uint32_t flags = 0;          // UF_ flags
    uint32_t accountExpires = TIMEQ_FOREVER;
    uint32_t passwordAge = 0;    // seconds since the password was set
    uint32_t lastLogon = 0;      // 0: never signed in
    uint32_t badPasswordCount = 0;
    bool passwordExpired = false;
};

// Hands every local account to `visit`, in the database's order, until
// `visit` returns false. `filter` is NetUserEnum's (0: every kind). False
// when the database failed before the end: what was handed out then is a
// part, never to be taken for the whole.
bool ForEachAccount(const std::function<bool(const AccountRecord& account)>& visit, DWORD filter = 0);

// The record of the account named `name`; false when it cannot be read.
bool ReadAccountRecord(const wchar_t* name, AccountRecord& record);

// Writes `record`'s full name, comment, privilege, flags, account expiry and
// whether the password has expired to the account named `name`, in one
// write; every field the program does not read is written back as stored.
// The privilege must be the one the database derives from the account's
// groups. False when the record cannot be read or written.
bool WriteAccountRecord(const wchar_t* name, const AccountRecord& record);

// The computer's modal settings of the account database: the password part
// (level 0) and the lock-out part (level 3); false when it cannot be read.
bool ReadUserModals(USER_MODALS_INFO_0& passwords);
bool ReadUserModals(USER_MODALS_INFO_3& lockout);

// This computer's SID ("S-1-5-21-a-b-c"), learned from an account's own
// SID, which is the computer's followed by the account's RID. Empty when the
// account's SID cannot be looked up or does not end in its RID.
std::wstring MachineSidOf(const AccountRecord& account);
// The same learned from the first account that gives it; empty when none does.
std::wstring ReadMachineSid();

// Whether the account database knows `name`; its privilege level too when
// asked for.
bool AccountExists(const wchar_t* name, DWORD* privilege = nullptr);

// The account's SID string and, when `profilePath` is given, its profile
// folder: the record's profile path when it exists, else the profile list's
// entry, else the profiles directory + "\" + name when that exists.
bool GetAccountSidAndProfile(const wchar_t* accountName, WString& sidString, WString* profilePath);

// The profile list's "ProfileImagePath" of the SID, environment variables
// expanded; true when the value was read (the folder need not exist).
bool ReadProfileImagePath(const wchar_t* sidString, WString& path);

// On entry an account name, on success that account's SID string; unchanged
// on failure.
bool GetAccountSidString(WString& buffer);

// A TOKEN_QUERY token of the user signed in at the console, or an empty
// holder. `userName` gets the console user's name as soon as it is known,
// even when no token is found.
UniqueToken FindConsoleUser(WString& userName, WString* profilePath, WString* sidString);

// How an account argument was meant. A SID ("S-1-5-21-...") or a relative
// id of this computer ("#500") names the account whatever the system's
// language calls it.
// The RID of a "#<digits>" reference: digits only, within 32 bits. False
// for anything else ("#", "#5x", "#4294967296", a name).
bool ReadRidReference(const wchar_t* text, DWORD& rid);

enum class AccountReference {
    Name,       // neither form: the text is taken as a name, as it was
    Found,      // the SID or RID of a local account; its name in `name`
    NotFound,   // a SID or RID that names no local account, a malformed one, or one the database failed to look up
    // A RID, or a SID of this computer's accounts, that names nothing now:
    // an account deleted (or never made). Other verbs take it as NotFound;
    // deleting finds its work already done.
    Absent,
};
AccountReference ResolveAccountReference(const wchar_t* text, WString& name);
