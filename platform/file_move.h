// Moving the contents of a folder to another folder, on the same volume or
// across volumes, without ever losing a file: across volumes each file is
// copied, the copy checked, and only then the original removed. Links are
// never followed; what cannot be moved stays where it was and is listed.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

inline constexpr uint32_t kMoveDepthLimit = 256;

// What the move needs on the folders it is handed (FolderMove's handles),
// besides listing them; the destination's security rights are for a
// caller that re-permissions it through the same handle.
inline constexpr DWORD kMoveSourceAccess = DELETE | FILE_WRITE_ATTRIBUTES | READ_CONTROL;
inline constexpr DWORD kMoveDestinationAccess = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_ATTRIBUTES |
                                                READ_CONTROL | WRITE_DAC | WRITE_OWNER;

// Why an entry stayed at the source.
enum class LeftReason {
    InUse,          // another program holds it open, or it may not be read or removed
    Exists,         // the destination has one of that name and overwriting was not asked for
    Link,           // a junction or symbolic link: never followed, never moved
    CopyFailed,     // the copy could not be written or did not come out whole
    TooDeep,        // below kMoveDepthLimit folder levels
    FolderFailed,   // the folder could not be made at the destination
    OtherNames,     // a file with more names than this one (a hard link): never copied
};

struct LeftEntry {
    WString path;   // where it still is
    LeftReason reason;
};

// How far a move has come; written by the worker, read by the window while
// it runs (hence atomic), totals measured before the move starts.
struct MoveProgress {
    std::atomic<bool> measured{false};   // the totals are known
    std::atomic<uint64_t> filesTotal{0};
    std::atomic<uint64_t> bytesTotal{0};
    std::atomic<uint64_t> filesDone{0};
    std::atomic<uint64_t> bytesDone{0};
};

// The block a move worker works on. The caller fills the first four fields
// and reads the others once the worker has ended (the progress while it runs).
struct FolderMove {
    void* owner = nullptr;       // who started it; not owned; must be set
    WString source;
    WString destination;
    DWORD flags = 0;             // MOVEFILE_REPLACE_EXISTING overwrites same-named files;
                                 // MOVEFILE_COPY_ALLOWED lets files go to another volume
    uint32_t maxDepth = kMoveDepthLimit;
    // The two folders already opened and checked by the caller (not owned;
    // the source must list and allow DELETE, the destination take new
    // entries). When set, the move acts on these objects alone and the
    // paths above only name them in messages; when null, the move opens
    // the source itself with OpenFolderPath and makes the destination by
    // name, opened as itself.
    HANDLE sourceFolder = nullptr;
    HANDLE destinationFolder = nullptr;
    MoveProgress progress;
    uint64_t notMoved = 0;       // entries still at the source afterwards
    std::vector<LeftEntry> left; // those entries, in the order met
    bool refused = false;        // nothing was tried: bad paths, or the destination inside the source
};

// Moves everything inside `move.source` into `move.destination` (created
// when missing). Each is opened once, no link on its way followed, and the
// checks (neither inside the other) are made on those handles' final
// paths; everything after goes through them. The source folder itself
// stays, emptied when everything went; its emptied subfolders are removed.
// Returns the not-moved count.
uint64_t MoveFolderContents(FolderMove& move);

// Moves a folder tree (or one file) with MoveFileExW `flags`: a single rename
// where the volume allows, else entry by entry as MoveFolderContents does,
// the emptied source removed. Returns how many entries could not be moved.
// Refused (1, nothing moved) when either path is not absolute or is a whole
// drive, or when the destination really lies inside the source (compared by
// the final paths of opened handles). A source that is itself a link is only
// renamed as the link, never copied through. Folders deeper than `maxDepth`
// stay and are counted.
uint64_t MoveTree(const wchar_t* source, const wchar_t* destination, DWORD flags,
                  uint32_t maxDepth = kMaxTreeDepth);

// Thread procedure over a FolderMove: 1 when the move was attempted (its
// outcome in the block), 0 when the block is incomplete, the destination
// cannot be created or the move was refused.
DWORD WINAPI MoveFolderThread(void* move);

// The operator's words for a reason.
const wchar_t* LeftReasonText(LeftReason reason);

// Writes the list of entries left behind as a UTF-16 text file (with a byte
// order mark), one "path<TAB>reason" per line after a heading.
bool WriteLeftBehindList(const wchar_t* file, const wchar_t* source, const std::vector<LeftEntry>& left);

// The place a path really names: links in it resolved, through a handle on
// the deepest part that exists, the rest appended; "\\?\" left off. Empty
// when the path is not absolute.
WString FinalFolderPath(const wchar_t* path);
