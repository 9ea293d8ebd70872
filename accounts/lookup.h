// Lookups the account operations share: an account's SID string and profile
// folder, and the user signed in at the console.
#pragma once

#include <windows.h>

#include "platform/handles.h"
#include "platform/text.h"

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
