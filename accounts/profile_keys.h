// Corrupted profile-list entries: the backed-up entry (SID + ".bak") that
// the system leaves when a profile cannot be loaded, beside the entry that
// replaced it, usually pointing at a temporary profile.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/text.h"

// Fills `names` (emptied first) with the backed-up entries' names, ".bak"
// included, from the highest subkey index down; their number.
uint32_t FindCorruptedProfileKeys(std::vector<WString>& names);

// The same over a profile list already read (ReadProfileList's entries).
struct ProfileListEntry;
uint32_t FindCorruptedProfileKeys(const std::vector<ProfileListEntry>& entries, std::vector<WString>& names);

// Puts the backed-up entry in place when it holds the better profile, else
// deletes it. True when the backup was put in place with "RefCount" and
// "State" reset.
bool RepairProfileKey(const wchar_t* name);

// "ProfileImagePath" read the way the repair reads it: REG_SZ, REG_EXPAND_SZ
// or REG_MULTI_SZ (as lines), taken literally. Empty on any failure.
WString ReadRawProfilePath(HKEY entry);
