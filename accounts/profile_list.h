// The profile list: every profile the system knows, by the SID its entry is
// named after, read in one place. A reader that cannot read the whole list
// fails: a profile missing from the answer could be the one at risk.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/text.h"

struct ProfileListEntry {
    WString sid;          // the entry's name: a SID, perhaps with ".bak" or another suffix
    WString storedPath;   // "ProfileImagePath" as stored (a multi-string in its text form); empty when none
    WString path;         // the same with environment variables expanded; empty when that failed
    DWORD state = 0;      // "State" as the system keeps it; 0 when absent
    DWORD refCount = 0;   // "RefCount": the profile service's count of its loads; 0 when absent
    // The profile service's last load and unload, as FILETIME ticks; 0 when
    // the entry keeps none (older systems, or never loaded since).
    uint64_t loadTime = 0;
    uint64_t unloadTime = 0;
};

// Every entry of the list, in the registry's order; false, with `entries`
// emptied, when the list or any entry could not be read.
bool ReadProfileList(std::vector<ProfileListEntry>& entries);

// The one entry named `name` (a SID, or a twin such as "<sid>.bak"); false,
// with `entry` emptied, when the list has none of that name or it cannot be
// read.
bool ReadProfileListEntry(const wchar_t* name, ProfileListEntry& entry);

// A folder that belongs to a profile: one of the list's, with the name of
// its entry, or the shared or the default profile's, with an empty name.
struct KnownProfileFolder {
    WString ownerEntry;
    WString path;   // environment variables expanded
};

// Every folder of the list's entries and the shared and default ones; false
// when the list could not be read whole.
bool KnownProfileFolders(std::vector<KnownProfileFolder>& folders);

// Whether the entry is the account's own or one of its twins ("<sid>.bak"
// and the like).
bool IsEntryOf(const wchar_t* entry, const wchar_t* ownSid);

// The folders, environment variables expanded, of every profile that is not
// the account's own (its entry and its twins: "<sid>.bak" and the like), and
// of the shared and default profiles. False when the list could not be read
// whole.
bool OtherProfileFolders(const wchar_t* ownSid, std::vector<WString>& folders);
