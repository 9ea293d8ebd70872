// Lookups the account operations share: the account database's pages,
// whether an account exists, an account's SID string and profile folder, and
// the user signed in at the console.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/handles.h"
#include "platform/text.h"

// Hands every page of the local accounts at `level` (1, 3 or 20: USER_INFO_1,
// USER_INFO_3 or USER_INFO_20 records) to `page`, as the database gives them out, until
// `page` returns false. `filter` is NetUserEnum's (0: every kind). False
// when the database failed before the end.
bool ForEachAccountPage(DWORD level, const std::function<bool(const void* records, DWORD count)>& page,
                        DWORD filter = 0);

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
enum class AccountReference {
    Name,       // neither form: the text is taken as a name, as it was
    Found,      // the SID or RID of a local account; its name in `name`
    NotFound,   // a SID or RID that names no local account, or a malformed one
    // A RID, or a SID of this computer's accounts, that names nothing now:
    // an account deleted (or never made). Other verbs take it as NotFound;
    // deleting finds its work already done.
    Absent,
};
AccountReference ResolveAccountReference(const wchar_t* text, WString& name);
