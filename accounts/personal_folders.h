// Relocation of an account's personal folders: where each folder is
// and would be by default, pointing a folder at a new place through the
// shell (or, lacking it, the registry), the checks that keep a destination
// from harming the system or another account. The folder picker and the
// Explorer refresh have their own headers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "accounts/personal_folder_rules.h"
#include "platform/file_move.h"
#include "platform/handles.h"
#include "platform/text.h"


// The current and default place of folder `index` of kPersonalFolders for
// `token` (the console user's); false when the current one is unknown.
bool ReadFolderLocations(int index, HANDLE token, WString& current, WString& defaultPath);

// The same for another account, from its hive loaded at `hive` ("HKU\<key>")
// and against its own profile folder: "User Shell Folders", then "Shell
// Folders", then the default place. The stored values are the account's
// claims, taken as places only when they name an absolute path.
bool ReadHiveFolderLocations(int index, const wchar_t* hive, const wchar_t* profilePath, WString& current,
                             WString& defaultPath);

// Which way SetFolderLocation changed the folder.
enum class FolderSetter { None = 0, Redirect = 1, KnownFolderPath = 2, FolderPathOrdinal = 3, Registry = 4 };

// Points the named folder at `newPath`, trying in turn the known-folder
// manager's Redirect, SHSetKnownFolderPath, the shell's ordinal 232 (folders
// with a CSIDL) and the account's "Shell Folders" and "User Shell Folders"
// values. True when the folder now resolves to `newPath`. With `hive`
// (another account's, loaded there) only its values are written.
bool SetFolderLocation(const wchar_t* sidString, const wchar_t* profilePath, const wchar_t* folderName,
                       const wchar_t* newPath, FolderSetter* used = nullptr, const wchar_t* hive = nullptr);

// Gathers what the destination rules need from this machine (system
// folders, the profiles directory, every other profile, the other five
// folders' places, links) and checks `destination` for folder `index`,
// currently at `source`. With `hive` the other folders' places are read there.
DestinationRefusal CheckFolderDestination(int index, const wchar_t* sidString, const wchar_t* profilePath,
                                          HANDLE token, const wchar_t* source, const wchar_t* destination,
                                          const wchar_t* hive = nullptr);

// Opens the folder's current place `source` as itself (no link on the way
// followed) and checks where that handle really is (`resolved`, to be moved
// from and shown) with the machine's places when its contents are to move:
// only a place known to be the account's own may give up its contents.
SourceRefusal CheckFolderSource(const wchar_t* sidString, const wchar_t* profilePath, const wchar_t* source,
                                bool movingContents, WString& resolved);

// The moved folder's DACL in `dacl` and the console user's SID in `owner`:
// full control for the console user, SYSTEM and Administrators, in that
// order, inherited by files and folders below; nobody else.
bool BuildMovedFolderDacl(const wchar_t* consoleUserSid, LocalAcl& dacl, LocalSid& owner);

// The moved folder's DACL: full control for the console user, SYSTEM and
// Administrators, nobody else, inherited by everything below; the console
// user becomes the owner. Applied through the open folder (READ_CONTROL,
// WRITE_DAC, WRITE_OWNER, listing) and the walk below it. True when
// applied to the whole tree.
bool ApplyMovedFolderSecurity(HANDLE folder, const wchar_t* consoleUserSid);

// One move or restore of a personal folder, as plain input: the folder,
// whose account and where it goes. The window and the command line both
// hand it over; neither checks or changes anything on its own.
struct FolderRelocation {
    int index = -1;                         // into kPersonalFolders
    const wchar_t* sid = nullptr;           // the account's
    const wchar_t* profile = nullptr;
    HANDLE token = nullptr;                 // the console user's; not owned; may be null
    const wchar_t* hive = nullptr;          // another account's hive, loaded there ("HKU\<key>"); null: the console user's
    const wchar_t* current = nullptr;       // where the account's registry says the folder is
    const wchar_t* target = nullptr;        // the new place (for a restore: the default place)
    bool restore = false;
    bool moveContents = true;
    bool overwrite = false;
    bool dryRun = false;                    // every check, no change
    double osVersion = 0.0;                 // for the Explorer refresh after a desktop move
    // Runs the contents move (MoveFolderThread over the block) and returns
    // its code; null runs it on a thread of its own, waited for here with
    // `progress` called every few tenths of a second.
    std::function<DWORD(FolderMove& move)> runMove;
    std::function<void(const MoveProgress& progress)> progress;
    // Told when the folder is about to change (true) and when it is done:
    // the window refuses the end of the session meanwhile.
    std::function<void(bool busy)> busy;
};

enum class RelocationOutcome {
    Refused,          // a check refused it; nothing was changed
    NotChanged,       // the place could not be set; nothing was changed
    ContentsFailed,   // the place changed, the contents move failed or was refused
    PartlyMoved,      // the place changed, some entries stayed at the old place
    Done,             // with a dry run: everything would be tried
};

struct RelocationResult {
    RelocationOutcome outcome = RelocationOutcome::Refused;
    SourceRefusal sourceRefusal = SourceRefusal::None;
    DestinationRefusal destinationRefusal = DestinationRefusal::None;
    WString source;                 // where the folder really was, resolved
    bool placeChanged = false;
    bool contentsMoved = false;     // a contents move ran
    uint64_t notMoved = 0;
    std::vector<LeftEntry> left;    // what stayed at the old place
};

// The relocation with the checks the dialog always made: the current place
// judged where it really is, the destination kept from the system's and
// other accounts' places, the folder made and pointed at, its contents
// moved without losing a file, a fresh destination given the moved-folder
// permissions, the emptied old folder removed.
RelocationResult RelocateFolder(const FolderRelocation& request);

// The operator's words for a result (empty for Done), with the hint of
// the window or the command line.
WString RelocationResultText(const RelocationResult& result, bool restore, PlaceOnlyHint hint = PlaceOnlyHint::Window);
