// SIDs: their text form, the accounts they name and the well-known ones.
// Every SID handed out is the caller's, in its own LocalAlloc'd block.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"
#include "platform/text.h"

// The "S-1-..." form of a SID; false, with `text` emptied, for a null or
// invalid SID.
bool SidToText(PSID sid, WString& text);
// The same as a standard string: empty when there is none.
std::wstring SidString(PSID sid);

// The binary SID of its text form (as the system reads SID strings); the
// caller's (in `sid`). False, with `sid` empty, when the text is none.
bool SidFromText(const wchar_t* text, LocalSid& sid);

// A SID string ("S-1-...", prefix case-sensitive) is converted, anything else
// looked up as an account name on this machine. The SID is the caller's (in
// `sid`); false, with `sid` empty, when there is none.
bool SidFromName(LocalSid& sid, const wchar_t* nameOrSid);

// Variable-size lookups: each asks the size, allocates, asks once more and
// writes its outputs only when that succeeded.
// The SID of an account name on this machine (the caller's, LocalAlloc'd)
// and, when asked for, the domain that holds it.
bool AccountNameToSid(const wchar_t* accountName, LocalSid& sid, WString* domain);
// The account name of a SID and, when asked for, its domain.
bool SidToAccountName(PSID sid, WString& name, WString* domain);

// A well-known SID in its own LocalAlloc'd block.
bool WellKnownSid(LocalSid& sid, WELL_KNOWN_SID_TYPE type);
