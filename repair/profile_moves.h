// The repair's work on files: moving the fresh profile's folders and hives
// into the old profile folder, and giving the new account its permissions
// there. Each failure is logged with its path and the repair goes on; each
// part that must not be done twice is recorded in the journal first.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/text.h"
#include "repair/repair_context.h"

// True when the path (made absolute and long) names an existing entry.
bool Exists(const wchar_t* path);

// Sets and clears attribute bits of an existing entry; nothing when it is missing.
void AddAttributes(const wchar_t* path, DWORD add, DWORD remove);

// The DACL of the new account's folders where the fresh profile has none to
// copy (context.dacl, built once): the account, SYSTEM and Administrators
// in full, TrustedInstaller above 5.99, the package groups reading above
// 6.1, every entry inherited by files and folders. False when the account's
// SID is unreadable.
bool BuildNewAccountDacl(RepairContext& context);

// The old folder's entry `to` gets the fresh folder's permissions (`from`),
// or the new account's DACL when the fresh folder has no such entry.
void GiveSecurity(RepairContext& context, const wchar_t* from, const wchar_t* to);

// The permission pass over the old profile: the folder itself gets the
// fresh folder's DACL and owner, and each folder directly inside it those
// of its fresh namesake (GiveSecurity). A link found there is the owner's:
// it is logged and keeps its permissions.
void GiveProfilePermissions(RepairContext& context, const wchar_t* fresh, const wchar_t* old);

// Moves everything in `source` into `destination`, entry by entry, passing
// the power-cut point `point` after each. True when the source is left
// empty; what stays is logged with its path.
bool MoveContents(RepairContext& context, const wchar_t* source, const wchar_t* destination, const wchar_t* point);

// The power-cut points of ReplaceDataFolder.
struct DataFolderPoints {
    const wchar_t* emptied;   // the old content removed
    const wchar_t* entry;     // one entry moved
    const wchar_t* moved;     // the whole folder in place
};

// Replaces the folder `dst` by the fresh `src`: the old content removed
// (once: the journal's `emptiedMark` says so), the fresh one moved in, then
// `movedMark`. The rename of the whole folder is tried first; where the
// platform refuses a folder onto an existing one, the contents move and the
// result is checked. Without a fresh folder the old one is kept.
void ReplaceDataFolder(RepairContext& context, const wchar_t* src, const wchar_t* dst, uint32_t emptiedMark,
                       uint32_t movedMark, const DataFolderPoints& points);

// What ReplaceHive does with one hive file.
struct HivePlacement {
    const wchar_t* file;           // "NTUSER.DAT"
    const wchar_t* mask;           // the old files to remove: "NTUSER.*"
    uint32_t deleteFlags;          // DeletePath flags for them
    uint32_t removedMark;          // the journal's mark once they are gone
    const wchar_t* removedPoint;   // the power-cut point after that mark
    const wchar_t* error;          // logged when the fresh file cannot be put in place
};

// One hive: the old files matching the mask in `placedFolder` removed
// (once), the fresh file from `freshFolder` put in their place, now or at
// the restart. `movedWithFolder`: the fresh file already came with its
// folder. Adds one to the journal's hive count on success.
void ReplaceHive(RepairContext& context, const wchar_t* freshFolder, const wchar_t* placedFolder,
                 const HivePlacement& hive, bool movedWithFolder);
