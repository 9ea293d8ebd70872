// Lookups the account operations share: the account database's pages,
// whether an account exists, an account's SID string and profile folder, and
// the user signed in at the console.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/handles.h"
#include "platform/text.h"

// Hands every page of the local accounts at `level` (1 or 3: USER_INFO_1
// or USER_INFO_3 records) to `page`, as the database gives them out, until
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
