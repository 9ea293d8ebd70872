// Decisions of the personal-folder relocation that need no system call: the
// folder table, which destinations are refused and why, the registry's
// profile-relative form of a path, the move's progress text, and the child
// window patterns the Explorer refresh uses.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/path_rules.h"
#include "platform/text.h"

// One personal folder. The known-folder id lives with the platform code,
// which indexes its own table in the same order.
struct PersonalFolder {
    const wchar_t* name;        // shown in the list, and the key SetFolderLocation picks the row by
    int csidl;                  // -1: the folder has none
    const wchar_t* valueName;   // under "Shell Folders" and "User Shell Folders"
    double minimumVersion;      // shown only on systems above this version
};
inline constexpr int kNoCsidl = -1;
extern const PersonalFolder kPersonalFolders[6];

// The rows of the folder list on a system of `version`
// (GetOsVersionNumber's form), as indices into kPersonalFolders.
std::vector<int> VisibleFolderRows(double version);

// The folder whose name is `name` (without regard to case), or -1.
int FindPersonalFolder(const wchar_t* name);

// What the machine looks like to a proposed destination, and to the
// folder's current place. Every path is in the normalised form above and,
// where it exists, resolved through links to the place it really names.
struct DestinationFacts {
    const wchar_t* destination = nullptr;
    bool destinationIsLink = false;          // the chosen folder itself is a reparse point
    const wchar_t* source = nullptr;         // the folder's current location
    bool sourceHasLink = false;              // a link anywhere from the drive down to the current location
    bool sourceRecorded = false;             // a place this program moved one of the account's folders to
    bool sourceOwned = false;                // the account owns the folder (as the system keeps ownership)
    const wchar_t* ownProfile = nullptr;     // the account's profile folder
    const wchar_t* profilesDirectory = nullptr;
    std::vector<const wchar_t*> systemFolders;    // Windows, Program Files (both), ProgramData
    std::vector<const wchar_t*> otherProfiles;    // every other account's profile, Public and Default
    bool otherProfilesKnown = true;               // false when the profile list could not be read whole
    std::vector<const wchar_t*> otherFolders;     // the current places of the other five folders
};

enum class DestinationRefusal {
    None = 0,
    NotAPath,            // relative, empty or not normalisable
    DriveRoot,
    SystemFolder,
    ProfilesDirectory,   // the profiles directory itself, or the account's own profile folder itself
    OtherProfile,
    InsideSource,        // the folder itself or below it
    ContainsSource,
    OtherFolder,         // where another of the six folders is
    Link,
    ProfilesUnknown,     // the other profiles could not all be read: none can be ruled out
};

// The first rule the destination breaks, or None. With `moving` false (a
// restore to the default place) the rules about the source are the same,
// but the default place inside the own profile is naturally allowed.
DestinationRefusal CheckDestination(const DestinationFacts& facts);

// The operator's explanation of a refusal; null for None.
const wchar_t* RefusalText(DestinationRefusal refusal);

// Why the folder's current place may not give up its contents. That place
// is read from the account's own registry, which its user can write: it may
// name any folder of the machine, and the move runs with the program's
// rights. So contents are taken only from a place known to be the
// account's own: inside its profile folder, a place this program moved one
// of its folders to, or a folder it owns.
enum class SourceRefusal {
    None = 0,
    NotAPath,
    DriveRoot,
    SystemFolder,
    ProfilesDirectory,   // the profiles directory itself, or the account's own profile folder itself
    OtherProfile,
    Link,                // a link on the way: what it leads to can change under the move
    NotOwnPlace,         // none of the account's own places
    Unreachable,         // the folder could not be opened as itself
    ProfilesUnknown,     // the other profiles could not all be read: none can be ruled out
};

// The first rule the current place (facts.source, facts.sourceHasLink)
// breaks when its contents are to move, or None. Without the contents
// nothing is taken from it, so nothing is refused.
SourceRefusal CheckSource(const DestinationFacts& facts, bool movingContents);

// How the operator asks for the location alone: the window's check box or
// the command line's option.
enum class PlaceOnlyHint { Window, CommandLine };

// The operator's explanation, naming the place as resolved (`resolved`),
// and how to change the location alone; empty for None.
WString SourceRefusalText(SourceRefusal refusal, const wchar_t* resolved, PlaceOnlyHint hint = PlaceOnlyHint::Window);

// Every folder from the first below the root down to `path` itself
// ("C:\a\b": "C:\a", "C:\a\b"; "\\srv\share\d": "\\srv\share\d"),
// for the links on the way to be looked for; empty when `path` does not
// normalise.
std::vector<WString> FoldersOnTheWay(const wchar_t* path);

// The form written to "User Shell Folders": `path` with a leading
// `profilePath` (whole components only, without regard to case) replaced by
// "%USERPROFILE%"; the path itself when it does not lie in the profile.
WString ProfileRelativeForm(const wchar_t* path, const wchar_t* profilePath);

// The other way: a stored value beginning with "%USERPROFILE%" (any case)
// and then nothing or a backslash, with that variable replaced by
// `profilePath`; any other value as stored.
WString ProfileAbsoluteForm(const wchar_t* stored, const wchar_t* profilePath);

// "1,234" for 1234.
WString GroupDigits(uint64_t value);
// "0 bytes", "512 bytes", "1.5 KB", "12.3 MB", "1.20 GB" (powers of 1024).
WString ByteSizeText(uint64_t bytes);

// The line the dialog shows while contents move:
// "Moving files: 1,234 of 10,000 (12.3 MB of 1.20 GB)".
WString MoveProgressText(uint64_t filesDone, uint64_t filesTotal, uint64_t bytesDone, uint64_t bytesTotal);

// A child window pattern: "[CLASS:Edit; INSTANCE:2]", "[TEXT:&OK]",
// "[ID:1001]", "[CLASSNN:Edit2]", a bare id "1001", or a bare text or
// CLASSNN "OK" / "Edit2". ";;" inside brackets is a literal semicolon.
struct ChildPattern {
    WString className;
    WString text;               // ampersands and one pair of quotes removed
    WString classNN;            // "Edit2": class "Edit", its second window
    int32_t id = 0;
    bool hasId = false;
    int32_t instance = 1;       // 1-based; among windows matching everything else
    bool textOrClassNN = false; // a bare text: either the text or the CLASSNN may match
    bool valid = false;         // false: nothing to search for
};
ChildPattern ParseChildPattern(const wchar_t* pattern);

// Splits "Edit12" into "Edit" and 12; false when no number ends it.
bool SplitClassNN(const wchar_t* classNN, WString& className, int32_t& number);

// The window text as matched: ampersands removed.
WString StripAmpersands(const wchar_t* text);

// What one window offers to the match, and its place among the windows of
// its class seen so far (1 for the first).
struct ChildFacts {
    const wchar_t* className = nullptr;
    const wchar_t* text = nullptr;   // as read, ampersands still in it
    int32_t id = 0;
    int32_t classOrdinal = 0;
};
// True when every property the pattern gives matches.
bool ChildMatches(const ChildPattern& pattern, const ChildFacts& facts);
