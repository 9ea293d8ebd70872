// File and directory operations that cope with other accounts' files:
// read-only and hidden entries, refused access, locked files, links and
// paths beyond the classic length limit ("\\?\" long form throughout).
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/file_handles.h"
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

// Gives the entry `path` names (absolute) the owner and DACL given, on a
// handle from OpenEntryItself: a link is taken over as the link itself or
// not at all, never its target, and nothing below a folder is touched
// (no tree application). The DACL is protected from inheritance. False
// when the entry cannot be opened as itself or refuses, and for a file
// with another name elsewhere (HasOtherNames): that file stays as it is.
bool TakeOverEntryItself(const wchar_t* path, PACL dacl, PSID owner);

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
// was counted either way. Folders are listed by name: a count for the
// operator, never the ground of a change (MeasureOpenedTree is that).
bool MeasureTree(const wchar_t* path, TreeMeasure& measure, uint32_t maxDepth = kMaxTreeDepth);
inline TreeMeasure MeasureTree(const wchar_t* path)
{
    TreeMeasure measure;
    MeasureTree(path, measure);
    return measure;
}

// The same below a folder the caller holds open (it must list).
TreeMeasure MeasureOpenedTree(HANDLE folder);

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

// What a deletion left: the entries registered for deletion at the next
// restart, and those it could neither delete nor register.
struct DeleteTally {
    uint64_t scheduled = 0;
    uint64_t failed = 0;
};

// Deletes one file, or one folder with everything in it. `path` must be
// absolute and name a single object: relative paths, wildcards ("C:\\*") and
// drive or share roots are refused (kDeleteFailed, nothing touched); use
// DeleteDirectoryContents for a mask. Links are removed, never entered.
// Clears read-only, hidden and system; with kDeleteTakeOver gives SYSTEM and
// Administrators full control where refused, always on a handle opened on
// the refusing entry itself, one entry at a time (a link's target is never
// re-permissioned); with kDeleteScheduleAtRestart registers what is still
// locked for deletion at restart: files first, each folder after what it
// holds, so that the restart, which removes only an empty folder, finds each
// one emptied. Every entry is tried; folders deeper than `maxDepth` are not
// entered and make the result kDeleteFailed. Tells the shell of a deleted
// file or folder. `tally` (may be null) counts what was left.
int DeletePath(const wchar_t* path, uint32_t flags, uint32_t maxDepth = kMaxTreeDepth, DeleteTally* tally = nullptr);

// Deletes the entries of `directory` (absolute, not a drive or share root)
// matching `mask`, and the directory itself unless kDeleteKeepTop.
// `takeOverDacl` and `owner` are what kDeleteTakeOver applies (may be null
// without that flag).
int DeleteDirectoryContents(const wchar_t* directory, const wchar_t* mask, uint32_t flags, PACL takeOverDacl,
                            PSID owner, uint32_t maxDepth = kMaxTreeDepth);

// Creates the folder with every missing parent; true when it is a folder afterwards.
bool CreateDirectoryPath(const wchar_t* path);
