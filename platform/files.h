// File and directory operations that cope with other accounts' files:
// read-only and hidden entries, refused access, locked files, links and
// paths beyond the classic length limit ("\\?\" long form throughout).
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/file_rules.h"
#include "platform/handles.h"
#include "platform/text.h"

// Walks the entries matching a pattern ("C:\dir\*"), never "." or "..",
// skipping what the filter bits of platform/file_rules.h exclude. The search
// is closed as soon as no entry is left. Entries come in large batches with
// the basic information only: cAlternateFileName (the short name) is empty.
class DirectoryIterator {
public:
    DirectoryIterator(const wchar_t* pattern, uint32_t filter);

    // False when the search could not even start (missing or refused folder).
    bool Started() const { return started_; }
    // True with the next entry that passes, false at the end.
    bool Next();

    const WIN32_FIND_DATAW& Entry() const { return data_; }
    const wchar_t* Name() const { return data_.cFileName; }
    bool IsDirectory() const { return (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool IsReparsePoint() const { return (data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    uint64_t Size() const { return (static_cast<uint64_t>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow; }

private:
    WIN32_FIND_DATAW data_{};
    UniqueFind handle_;
    uint32_t filter_;
    bool started_ = false;
    bool pending_ = false;   // the first entry, found by FindFirstFileW, is not yet handed out
};

// Deepest folder level below its starting folder that a tree walk enters
// (DirectorySize, DeletePath, MoveTree). The walks keep their own stack, so
// depth costs no thread stack; a deeper folder is a clear failure instead.
inline constexpr uint32_t kMaxTreeDepth = 8192;

// The path in its absolute "\\?\" long form ("\\?\UNC\server\share\..."
// for network paths), normalised by the platform, without trailing
// backslashes. False, with `longPath` empty, for anything that is not an
// absolute path: relative ("dir\x", "..\x"), drive-relative ("C:x"), rooted on
// the current drive ("\x") or empty. Every file operation here names its
// objects through this, so no current folder ever decides what is touched.
bool AbsoluteLongPath(const wchar_t* path, WString& longPath);

// Opens the object a path names itself, never what a link there points at
// (FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, sharing all).
// Use FinalPathOf or OpenEntryItself before trusting that the handle is on
// the link: some systems (Wine) still follow it.
UniqueFileHandle OpenWithoutFollowing(const wchar_t* path, DWORD access);

// The handle's final path as the platform resolves it ("\\?\C:\...",
// "\\?\UNC\..."), every link on the way resolved. False when it cannot be had.
bool FinalPathOf(HANDLE object, WString& finalPath);

// True when the handle's final path is `rootFinalPath` (a FinalPathOf
// result) or lies below it: the object really is inside that folder, whatever
// links, short names or substituted drives the path that opened it used.
bool HandleLiesInside(HANDLE object, const wchar_t* rootFinalPath);

// Opens the entry `path` names (absolute) itself: not followed when it is a
// link, and only when the handle provably is that entry, that is its final
// path is its parent folder's final path plus its own name. Null otherwise,
// so a link can never hand over its target. For security changes and
// deletions of single entries.
UniqueFileHandle OpenEntryItself(const wchar_t* path, DWORD access);

// Gives the entry `path` names (absolute) the owner and DACL given, on a
// handle from OpenEntryItself: a link is taken over as the link itself or
// not at all, never its target, and nothing below a folder is touched
// (no tree application). The DACL is protected from inheritance. False
// when the entry cannot be opened as itself or refuses.
bool TakeOverEntryItself(const wchar_t* path, PACL dacl, PSID owner);

// Opens `relative` ("AppData\Local\file.dat") below the folder `root`
// (absolute; it may itself be reached through a link). Every component below
// the root is opened without following and refused when it is a reparse
// point or is not the entry its name says (see OpenEntryItself); the result
// is refused unless its final path lies inside the root's. ".", ".." and
// empty components are refused. Null on any refusal.
UniqueFileHandle OpenBelowRoot(const wchar_t* root, const wchar_t* relative, DWORD access);

// Total bytes of the files below `path`; links are not followed, so a link
// to an ancestor neither loops nor counts twice. Folders deeper than
// kMaxTreeDepth are not entered.
uint64_t DirectorySize(const wchar_t* path);

// Files, bytes, folders and links below a folder; links are counted, never
// entered.
struct TreeMeasure {
    uint64_t files = 0;
    uint64_t bytes = 0;
    uint64_t folders = 0;
    uint64_t links = 0;
};
// True only when `path` is a folder of its own (no link), and every folder
// below it could be listed within `maxDepth` levels; `measure` holds what
// was counted either way.
bool MeasureTree(const wchar_t* path, TreeMeasure& measure, uint32_t maxDepth = kMaxTreeDepth);
inline TreeMeasure MeasureTree(const wchar_t* path)
{
    TreeMeasure measure;
    MeasureTree(path, measure);
    return measure;
}

// The same with an answer for the walk, as MeasureTree gives it.
bool MeasureDirectory(const wchar_t* path, uint64_t& bytes, uint32_t maxDepth = kMaxTreeDepth);

// Flags of DeletePath.
inline constexpr uint32_t kDeleteScheduleAtRestart = 1;
inline constexpr uint32_t kDeleteTakeOver = 2;
inline constexpr uint32_t kDeleteKeepTop = 4;

// Result codes of the deletions.
inline constexpr int kDeleteFailed = 0;
inline constexpr int kDeleteDone = 1;
inline constexpr int kDeleteScheduled = 2;

// Deletes one file, or one folder with everything in it. `path` must be
// absolute and name a single object: relative paths, wildcards ("C:\\*") and
// drive or share roots are refused (kDeleteFailed, nothing touched); use
// DeleteDirectoryContents for a mask. Links are removed, never entered.
// Clears read-only, hidden and system; with kDeleteTakeOver gives SYSTEM and
// Administrators full control where refused, always on a handle opened on
// the refusing entry itself, one entry at a time (a link's target is never
// re-permissioned); with kDeleteScheduleAtRestart registers what is still
// locked for deletion at restart. Every entry is tried; folders deeper than
// `maxDepth` are not entered and make the result kDeleteFailed. Tells the
// shell of a deleted file or folder.
int DeletePath(const wchar_t* path, uint32_t flags, uint32_t maxDepth = kMaxTreeDepth);

// Deletes the entries of `directory` (absolute, not a drive or share root)
// matching `mask`, and the directory itself unless kDeleteKeepTop.
// `takeOverDacl` and `owner` are what kDeleteTakeOver applies (may be null
// without that flag).
int DeleteDirectoryContents(const wchar_t* directory, const wchar_t* mask, uint32_t flags, PACL takeOverDacl,
                            PSID owner, uint32_t maxDepth = kMaxTreeDepth);

// Creates the folder with every missing parent; true when it is a folder afterwards.
bool CreateDirectoryPath(const wchar_t* path);
