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
// is closed as soon as no entry is left.
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

// Total bytes of the files below `path`; links are not followed, so a link
// to an ancestor neither loops nor counts twice.
uint64_t DirectorySize(const wchar_t* path);

// Flags of DeletePath.
inline constexpr uint32_t kDeleteScheduleAtRestart = 1;
inline constexpr uint32_t kDeleteTakeOver = 2;
inline constexpr uint32_t kDeleteKeepTop = 4;

// Result codes of the deletions.
inline constexpr int kDeleteFailed = 0;
inline constexpr int kDeleteDone = 1;
inline constexpr int kDeleteScheduled = 2;

// Deletes a file, a folder with everything in it, or the entries a final
// wildcard component selects (the folder stays). Links are removed, never
// entered. Clears read-only, hidden and system; with kDeleteTakeOver gives
// SYSTEM and Administrators full control where refused; with
// kDeleteScheduleAtRestart registers what is still locked for deletion at
// restart. Every entry is tried. Tells the shell of a deleted file or folder.
int DeletePath(const wchar_t* path, uint32_t flags);

// Deletes the entries of `directory` (long form) matching `mask`, and the
// directory itself unless kDeleteKeepTop. `takeOverDacl` and `owner` are
// what kDeleteTakeOver applies (may be null without that flag).
int DeleteDirectoryContents(const wchar_t* directory, const wchar_t* mask, uint32_t flags, PACL takeOverDacl,
                            PSID owner);

// Creates the folder with every missing parent; true when it is a folder afterwards.
bool CreateDirectoryPath(const wchar_t* path);

// Moves a folder tree with MoveFileExW `flags` (a single rename where the
// volume allows); returns how many entries could not be moved. Links are
// neither moved nor counted. The source is removed once it is empty.
uint64_t MoveTree(const wchar_t* source, const wchar_t* destination, DWORD flags);

// The block a move thread works on; `notMoved` is read after the thread ended.
struct MoveRequest {
    void* owner = nullptr;   // who started it; not owned
    WString source;
    WString destination;
    DWORD flags = 0;
    uint64_t notMoved = 0;
};

// Thread procedure over a MoveRequest: 1 when the move was attempted (its
// count in notMoved), 0 when the block is incomplete or the destination
// cannot be created.
DWORD WINAPI MoveTreeThread(void* request);
