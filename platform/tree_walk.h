// The one walk over a folder tree that the program changes: deletes,
// measures, moves, re-permissions. Its owner may swap any folder inside for
// a link at any moment, so nothing below the root is ever reached by a path:
// the root is opened once without following links, every folder is listed
// through its open handle, and every child is opened relative to that handle
// and checked against what the listing said before anything is done through
// it. A link inside is an entry to remove, skip or report, never a folder to
// enter.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/file_handles.h"
#include "platform/handles.h"
#include "platform/text.h"

// One entry as its folder's listing shows it.
struct TreeEntry {
    WString name;
    uint32_t attributes = 0;
    uint64_t size = 0;
    int64_t fileId = 0;

    bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    bool IsFolder() const { return !IsLink() && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// A folder the walk holds open. Everything below it is reached through
// `handle`; `entry` is what its parent's listing said of it.
struct TreeFolder {
    HANDLE handle = INVALID_HANDLE_VALUE;   // not owned
    const TreeFolder* parent = nullptr;     // null for the root
    const TreeEntry* entry = nullptr;       // null for the root
    uint32_t depth = 0;                     // 0 for the root
    const wchar_t* rootPath = nullptr;      // the root as the caller named it, long form
    const wchar_t* finalPath = nullptr;     // as the platform resolves it, when the folder was opened
    const wchar_t* objectName = nullptr;    // the system's name of it, where the walk needed that instead

    // Root path plus the names on the way: for messages and reports only,
    // never to reach the folder again.
    WString DisplayPath() const;
    WString DisplayPathOf(const TreeEntry& child) const;
};

// Why an entry was not handed to the visitor as listed.
enum class WalkFailure {
    Refused,     // access refused or the entry is in use
    Changed,     // no longer what was listed: swapped or replaced by a link
    Gone,        // no longer there
    NotListed,   // a folder that could not be listed
    TooDeep,     // below the walk's depth limit, not entered
};

// What an operation does with each entry. The walk calls it on the thread
// that walks; every handle it receives is checked and stays the walk's.
class TreeVisitor {
public:
    virtual ~TreeVisitor() = default;

    // Access asked for when a folder is opened, besides listing it.
    virtual DWORD FolderAccess() const { return 0; }
    // Access asked for each file; 0 leaves files unopened (the listing is
    // all the operation needs).
    virtual DWORD FileAccess() const { return 0; }
    // False leaves an entry of the root alone (a mask); deeper entries are
    // always visited.
    virtual bool Wanted(const TreeEntry& /*entry*/) const { return true; }

    // A file as listed, before the walk opens it: true when the visitor has
    // dealt with it by name inside `folder` (RemoveFileEntry), and the walk
    // goes on without opening it.
    virtual bool TakeListedFile(const TreeFolder& /*folder*/, const TreeEntry& /*entry*/) { return false; }
    // A file, opened relative to its folder and checked (INVALID_HANDLE_VALUE
    // when FileAccess is 0).
    virtual void OnFile(const TreeFolder& /*folder*/, const TreeEntry& /*entry*/, HANDLE /*file*/) {}
    // A link inside the tree: never opened, never entered.
    virtual void OnLink(const TreeFolder& /*folder*/, const TreeEntry& /*entry*/) {}
    // A folder opened and checked, before its contents; false: not entered
    // (and not left).
    virtual bool OnEnter(const TreeFolder& /*folder*/) { return true; }
    // After its contents: the root comes last.
    virtual void OnLeave(const TreeFolder& /*folder*/) {}
    // Opening `entry` of `folder` was refused by its security: a chance to
    // make it reachable (take it over through a handle of its own). True
    // asks for one more try.
    virtual bool OnRefused(const TreeFolder& /*folder*/, const TreeEntry& /*entry*/) { return false; }
    // `entry` (null: the folder itself could not be listed) was not visited.
    virtual void OnFailure(const TreeFolder& /*folder*/, const TreeEntry* /*entry*/, WalkFailure /*why*/) {}
};

// How the root was met.
enum class WalkRoot {
    Walked,      // opened as itself and walked (failures below went to the visitor)
    Missing,
    Refused,     // could not be opened or listed
    IsLink,      // a link, or opened as something else than the folder named
    NotAFolder,
    BadPath,     // not absolute, or a whole drive or share
};

// Walks the folder `root` names (absolute). The root itself must be a folder
// and no link; the links on the way down to it are the caller's concern.
// Folders deeper than `maxDepth` below the root are reported TooDeep. The
// calling thread's window messages are dispatched as the walk goes.
WalkRoot WalkTree(const wchar_t* root, TreeVisitor& visitor, uint32_t maxDepth = kMaxTreeDepth);

// Opens `entry` of `folder` again with other access, with the same checks
// as the walk's own opens: relative, not followed, the listed file id and
// kind, no link, and for a folder the final path its parent's and its name
// make (so the root's volume). Empty when refused or when it is no longer that entry.
// `share` narrows what others may do with it while it is open.
UniqueFileHandle OpenTreeEntry(const TreeFolder& folder, const TreeEntry& entry, DWORD access,
                               DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);

// Opens the folder `path` (absolute) as itself for `access`: no link, a
// folder, its final path the one its parent's final path and its name make.
// `why` says what was refused.
UniqueFileHandle OpenFolderItself(const wchar_t* path, DWORD access, WalkRoot& why);

// Opens the folder `path` (absolute) from its volume's root down, each
// folder on the way listed and opened relative to its parent with the
// walk's checks, so that no link anywhere on the way is followed; with
// `create`, missing folders are made on the way (`made`: the last one is
// new). `why` says what was refused: IsLink for a link on the way. The
// handle lists the folder besides `access`.
UniqueFileHandle OpenFolderPath(const wchar_t* path, DWORD access, bool create, WalkRoot& why,
                                bool* made = nullptr);

// WalkTree over a folder already opened and checked (it must list); the
// walk has its own handle on it. `displayPath` names it in messages (null:
// its final path).
WalkRoot WalkOpenedTree(HANDLE root, const wchar_t* displayPath, TreeVisitor& visitor,
                        uint32_t maxDepth = kMaxTreeDepth);

// True when the open folder lists nothing ("." and ".." aside); false also
// when it cannot be listed.
bool FolderIsEmpty(HANDLE folder);

// True when the file behind the handle has more than one name (a hard
// link elsewhere), or when its count of names cannot be read: such a file
// is another place's file too, never re-owned or re-permissioned through
// this name. False for a folder.
bool HasOtherNames(HANDLE file);

// The path the platform gives the entry now: its folder's final path and its
// name. For the few calls that take only a path (removing a link, a deletion
// at restart); false when the folder's path cannot be had.
bool CurrentPathOf(const TreeFolder& folder, const TreeEntry& entry, WString& path);

// Removes the name `entry` from the open `folder` in one step, when it
// names no folder and nothing keeps it: opened relative to the folder,
// without following a link, and gone when closed. No check is needed on what
// the name holds by then: removing a name inside a folder the walk holds
// reaches nothing outside it (a link goes itself, a file with other names
// keeps them). False, with nothing removed, when it was refused (read-only,
// in use, the security) or is a folder now.
bool RemoveFileEntry(const TreeFolder& folder, const TreeEntry& entry);

// Removes or renames the object behind an open handle (opened with DELETE).
bool DeleteByHandle(HANDLE object);
// Renames it to `name` inside the folder `into` (opened with FILE_ADD_FILE or
// FILE_ADD_SUBDIRECTORY); false with ERROR_NOT_SAME_DEVICE across volumes.
bool RenameByHandle(HANDLE object, HANDLE into, const wchar_t* name, bool replace);
// Sets the attributes of the object behind a handle (opened with
// FILE_WRITE_ATTRIBUTES); 0 means "normal".
bool SetAttributesByHandle(HANDLE object, uint32_t attributes);

// Creates (or opens, when `openExisting`) the folder `name` inside `parent`
// without following a link there; empty when the name holds anything but a
// folder of its own. `created` tells whether it is new.
UniqueFileHandle CreateFolderIn(HANDLE parent, const wchar_t* name, DWORD access, bool openExisting,
                                bool* created = nullptr);
// Creates the file `name` inside `parent`; `replace` truncates one that is
// there (never a link's target). Empty when refused. `exactCase` looks the
// name up as written, for a folder this program made and fills: some
// systems (Wine) otherwise read the whole folder for every new name, to
// find one that differs only in case.
UniqueFileHandle CreateFileIn(HANDLE parent, const wchar_t* name, DWORD access, uint32_t attributes, bool replace,
                              bool exactCase = false);

// What became of a file written into a folder that a user can write.
enum class PlacedFile {
    Written,
    // The name holds something this program will not remove: a file with
    // other names (a hard link), a link, a folder, or an entry that is not
    // the folder's own. Nothing was written.
    NameRefused,
    Failed,   // the folder or the disk refused; nothing of it stays
};

// The one way the elevated program creates a file below a folder a user
// can write, whose owner may have planted a hard link or a link at the name
// beforehand. The file `name` is reached relative to `folder` (opened and
// checked by the caller, with FILE_ADD_FILE and FILE_LIST_DIRECTORY); what
// already stands there is opened without following and removed through its
// own handle only when it is a file of this folder with that one name; the
// new file is made with the name free (never opening what is there) and
// `bytes` written through its handle. A name refused or a write that failed
// leaves nothing new behind.
PlacedFile WriteFileInFolder(HANDLE folder, const wchar_t* name, const void* bytes, size_t size);

// WriteFileInFolder into the folder the absolute `path` ends in, that folder
// opened as itself (no link, where its parent and name say).
PlacedFile WriteFileAtPath(const wchar_t* path, const void* bytes, size_t size);
