// What a profile's facts amount to for its clean-up: when it was last used,
// and why a profile stays. A profile deleted wrongly is someone's files gone,
// so anything the facts do not settle keeps it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where a profile's last use was read.
enum class LastUseSource {
    ProfileList,   // the load and unload times the profile service keeps in its entry
    HiveFile,      // the time its NTUSER.DAT was last written
    Unknown,       // neither could be read
};

// Times are FILETIME ticks (100 ns since 1601, UTC); 0 is "not kept".
// The later of the entry's load and unload times when it keeps either, else
// the hive file's time when known.
uint64_t LastUseOf(uint64_t loadTime, uint64_t unloadTime, uint64_t hiveTime, LastUseSource& source);

// The facts of one profile that decide its clean-up.
struct ProfileUseFacts {
    bool loaded = false;      // its hive is loaded or the service counts it in use
    bool special = false;     // a service's or the system's own, not an account's of this computer
    bool console = false;     // the console user's
    bool excluded = false;    // named by the operator
    bool backup = false;      // a ".bak" entry the system left beside the profile
    bool temporary = false;   // the temporary profile the system fell back to
    bool corrupt = false;     // the entry beside a ".bak" twin: the profile-list repair's to mend
    uint64_t lastUse = 0;
    LastUseSource source = LastUseSource::Unknown;
};

// Why a profile stays; None: it goes.
enum class ProfileKeep { None, Loaded, Special, Console, Excluded, NotPlain, UseUnknown, Recent };

// Why a profile stays whatever its age: in use, a service's, the console
// user's, named by the operator, or a state the profile-keys repair mends.
// None: the operator may delete it.
ProfileKeep WhyProfileMustStay(const ProfileUseFacts& facts);

// The clean-up's decision for a profile unused for more than `days` days at
// `now`. A profile whose last use lies in the future counts as recent.
ProfileKeep WhyProfileStays(const ProfileUseFacts& facts, uint64_t now, uint32_t days);

// The reason in words, for the output: "loaded", "special", ...
const wchar_t* ProfileKeepText(ProfileKeep keep);

// Where the last use was read, in words: "profile list", "hive file", "unknown".
const wchar_t* LastUseSourceText(LastUseSource source);

// The set flags as one word each, in this order: "loaded", "special",
// "temporary", "backup", "corrupt".
std::vector<const wchar_t*> ProfileFlagNames(const ProfileUseFacts& facts);

// FILETIME ticks as "YYYY-MM-DDTHH:MM:SSZ"; empty for 0.
std::wstring LastUseText(uint64_t ticks);

// Reads a number of days: digits only, 1 to 36500; false otherwise.
bool ReadDays(const wchar_t* text, uint32_t& days);
