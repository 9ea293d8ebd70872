#include "platform/files.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "platform/security.h"
#include "platform/tree_walk.h"
#include "platform/text_win.h"

#include <utility>
#include <vector>

namespace {

// Result codes combine as the worst of both: failed beats scheduled beats done.
int Combine(int running, int result)
{
    if (running == kDeleteFailed || result == kDeleteFailed)
        return kDeleteFailed;
    return running == kDeleteScheduled || result == kDeleteScheduled ? kDeleteScheduled : kDeleteDone;
}

struct TakeOver {
    PACL dacl;   // not owned
    PSID owner;  // not owned
};

// Gives SYSTEM and Administrators the entry itself: on a handle opened on
// the entry (never through a link to its target) and for that one object,
// without reaching into anything below it.
bool TakeOverEntry(const wchar_t* path, const TakeOver& takeOver)
{
    return TakeOverEntryItself(path, takeOver.dacl, takeOver.owner);
}

// The ladder every deletion climbs: the call; again with the blocking
// attributes cleared; again after taking the entry over; else scheduling.
template <typename Remove>
int DeleteLadder(const wchar_t* path, uint32_t flags, const TakeOver& takeOver, Remove remove)
{
    if (remove(path) || IsNotFoundError(GetLastError()))
        return kDeleteDone;
    uint32_t cleared = AttributesAfterClearing(GetFileAttributesW(path));
    if (cleared != kInvalidAttributes && SetFileAttributesW(path, cleared) && remove(path))
        return kDeleteDone;
    if ((flags & kDeleteTakeOver) != 0 && TakeOverEntry(path, takeOver) && remove(path))
        return kDeleteDone;
    if ((flags & kDeleteScheduleAtRestart) != 0 && MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return kDeleteScheduled;
    return kDeleteFailed;
}

int RemoveLink(const wchar_t* path, uint32_t flags, const TakeOver& takeOver)
{
    return DeleteLadder(path, flags, takeOver, [](const wchar_t* p) { return RemoveDirectoryW(p) != FALSE; });
}

int RemoveFile(const wchar_t* path, uint32_t flags, const TakeOver& takeOver)
{
    return DeleteLadder(path, flags, takeOver, [](const wchar_t* p) { return DeleteFileW(p) != FALSE; });
}

// Takes an entry of a walked folder over through a handle of its own: the
// owner first where the DACL may not be written, then the DACL.
bool TakeOverTreeEntry(const TreeFolder& folder, const TreeEntry& entry, const TakeOver& takeOver)
{
    if (takeOver.dacl == nullptr)
        return false;
    UniqueFileHandle opened = OpenTreeEntry(folder, entry, WRITE_DAC | WRITE_OWNER);
    if (!opened && takeOver.owner != nullptr) {
        UniqueFileHandle owned = OpenTreeEntry(folder, entry, WRITE_OWNER);
        if (!owned || HasOtherNames(owned.Get()) || !SetHandleSecurity(owned.Get(), nullptr, takeOver.owner, false))
            return false;
        owned.Reset();
        opened = OpenTreeEntry(folder, entry, WRITE_DAC | WRITE_OWNER);
    }
    return opened && !HasOtherNames(opened.Get()) &&
           SetHandleSecurity(opened.Get(), takeOver.dacl, takeOver.owner, true);
}

// Deletes what the walk hands it, deepest first: files through their own
// checked handles, folders through theirs once emptied, links by name as
// links. Every entry is tried; the result is the worst of all.
class DeleteVisitor : public TreeVisitor {
public:
    DeleteVisitor(const wchar_t* mask, uint32_t flags, const TakeOver& takeOver, DeleteTally& tally)
        : mask_(mask), flags_(flags), takeOver_(takeOver), tally_(tally)
    {
    }

    int Result() const { return result_; }

    DWORD FolderAccess() const override { return DELETE | FILE_WRITE_ATTRIBUTES; }
    DWORD FileAccess() const override { return DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES; }
    bool Wanted(const TreeEntry& entry) const override
    {
        return wcscmp(mask_, L"*") == 0 || PathMatchSpecW(entry.name.Text(), mask_);
    }

    // The common case in one open and close; a read-only, refused or busy
    // file goes the checked way below.
    bool TakeListedFile(const TreeFolder& folder, const TreeEntry& entry) override
    {
        return (entry.attributes & FILE_ATTRIBUTE_READONLY) == 0 && RemoveFileEntry(folder, entry);
    }

    void OnFile(const TreeFolder& folder, const TreeEntry& entry, HANDLE file) override
    {
        Add(RemoveOpened(file, entry.attributes) ? kDeleteDone : Schedule(folder, entry));
    }

    void OnLink(const TreeFolder& folder, const TreeEntry& entry) override
    {
        WString path;
        if (!CurrentPathOf(folder, entry, path)) {
            Add(kDeleteFailed);
            return;
        }
        Add((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? RemoveLink(path.Text(), flags_, takeOver_)
                                                               : RemoveFile(path.Text(), flags_, takeOver_));
    }

    void OnLeave(const TreeFolder& folder) override
    {
        if (folder.parent == nullptr && (flags_ & kDeleteKeepTop) != 0)
            return;
        // A folder still holding what waits for the restart waits with it.
        // Asked first: some systems (Wine) accept the deletion of a folder
        // that is not empty and then quietly keep it when it is closed.
        if (!FolderIsEmpty(folder.handle)) {
            Add(ScheduleFolder(folder));
            return;
        }
        if (RemoveOpened(folder.handle, folder.entry != nullptr ? folder.entry->attributes : 0))
            return;
        if (folder.parent != nullptr && (flags_ & kDeleteTakeOver) != 0 &&
            TakeOverTreeEntry(*folder.parent, *folder.entry, takeOver_) && DeleteByHandle(folder.handle))
            return;
        if (folder.parent == nullptr && (flags_ & kDeleteTakeOver) != 0 &&
            TakeOverEntryItself(folder.rootPath, takeOver_.dacl, takeOver_.owner) && DeleteByHandle(folder.handle))
            return;
        Add(ScheduleFolder(folder));
    }

    bool OnRefused(const TreeFolder& folder, const TreeEntry& entry) override
    {
        return (flags_ & kDeleteTakeOver) != 0 && TakeOverTreeEntry(folder, entry, takeOver_);
    }

    void OnFailure(const TreeFolder& folder, const TreeEntry* entry, WalkFailure why) override
    {
        if (why == WalkFailure::Gone)
            return;   // someone else deleted it: nothing left to do
        // A locked file waits for the restart; anything else is a failure.
        if (entry != nullptr && !entry->IsFolder() && why == WalkFailure::Refused)
            Add(Schedule(folder, *entry));
        else
            Add(kDeleteFailed);
    }

private:
    const wchar_t* mask_;
    uint32_t flags_;
    TakeOver takeOver_;
    DeleteTally& tally_;
    int result_ = kDeleteDone;

    void Add(int result)
    {
        result_ = Combine(result_, result);
        tally_.scheduled += result == kDeleteScheduled ? 1 : 0;
        tally_.failed += result == kDeleteFailed ? 1 : 0;
    }

    // Read-only keeps even its owner from deleting it: cleared first.
    static bool RemoveOpened(HANDLE object, uint32_t attributes)
    {
        const uint32_t cleared = AttributesAfterClearing(attributes);
        if (cleared != kInvalidAttributes && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
            SetAttributesByHandle(object, cleared & ~FILE_ATTRIBUTE_NORMAL);
        return DeleteByHandle(object);
    }

    // The restart removes a folder only when it is empty by then: it comes
    // after everything below it.
    int ScheduleFolder(const TreeFolder& folder) const
    {
        WString path;
        if ((flags_ & kDeleteScheduleAtRestart) != 0 && FinalPathOf(folder.handle, path) &&
            MoveFileExW(path.Text(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            return kDeleteScheduled;
        return kDeleteFailed;
    }

    int Schedule(const TreeFolder& folder, const TreeEntry& entry) const
    {
        WString path;
        if ((flags_ & kDeleteScheduleAtRestart) != 0 && CurrentPathOf(folder, entry, path) &&
            MoveFileExW(path.Text(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            return kDeleteScheduled;
        return kDeleteFailed;
    }
};

// Deletes the contents of a folder (and the folder itself unless
// kDeleteKeepTop) through the walker. A folder whose listing is refused is
// taken over, itself only, and walked once more.
int DeleteContents(const wchar_t* directory, const wchar_t* mask, uint32_t flags, const TakeOver& takeOver,
                   uint32_t maxDepth, DeleteTally& tally)
{
    DeleteVisitor visitor(mask, flags, takeOver, tally);
    WalkRoot root = WalkTree(directory, visitor, maxDepth);
    if (root == WalkRoot::Refused && (flags & kDeleteTakeOver) != 0 &&
        TakeOverEntryItself(directory, takeOver.dacl, takeOver.owner))
        root = WalkTree(directory, visitor, maxDepth);
    switch (root) {
    case WalkRoot::Walked: return visitor.Result();
    case WalkRoot::Missing: return kDeleteDone;   // nothing there is nothing to delete
    default: ++tally.failed; return kDeleteFailed;
    }
}

// Adds up what the walk lists, entering no link.
class MeasureVisitor : public TreeVisitor {
public:
    TreeMeasure measure;
    bool complete = true;

    void OnFile(const TreeFolder&, const TreeEntry& entry, HANDLE) override
    {
        ++measure.files;
        measure.bytes += entry.size;
    }
    void OnLink(const TreeFolder&, const TreeEntry&) override { ++measure.links; }
    bool OnEnter(const TreeFolder& folder) override
    {
        if (folder.parent != nullptr)
            ++measure.folders;
        return true;
    }
    void OnFailure(const TreeFolder&, const TreeEntry* entry, WalkFailure why) override
    {
        if (entry != nullptr && entry->IsFolder() && why != WalkFailure::NotListed)
            ++measure.folders;
        complete = false;
    }
};

bool IsDirectory(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}


}  // namespace

bool TakeOverEntryItself(const wchar_t* path, PACL dacl, PSID owner)
{
    if (dacl == nullptr)
        return false;
    // A file with another name elsewhere is never taken over through this one.
    UniqueFileHandle entry = OpenEntryItself(path, WRITE_DAC | WRITE_OWNER);
    if (!entry && owner != nullptr) {
        // Refused the DACL: ownership first (the owner may always write
        // the DACL), then the entry is opened as itself once more.
        UniqueFileHandle owned = OpenEntryItself(path, WRITE_OWNER);
        if (!owned || HasOtherNames(owned.Get()) || !SetHandleSecurity(owned.Get(), nullptr, owner, false))
            return false;
        owned.Reset();
        entry = OpenEntryItself(path, WRITE_DAC | WRITE_OWNER);
    }
    return entry && !HasOtherNames(entry.Get()) && SetHandleSecurity(entry.Get(), dacl, owner, true);
}

DirectoryIterator::DirectoryIterator(const wchar_t* pattern, uint32_t filter) : filter_(filter)
{
    // Without the short names and in large batches: the walks read nothing else.
    handle_.Reset(FindFirstFileExW(pattern, FindExInfoBasic, &data_, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH));
    started_ = pending_ = static_cast<bool>(handle_);
}

bool DirectoryIterator::Next()
{
    while (handle_) {
        if (pending_)
            pending_ = false;
        else if (!FindNextFileW(handle_.Get(), &data_))
            break;
        if (PassesDirectoryFilter(data_.cFileName, data_.dwFileAttributes, filter_))
            return true;
    }
    handle_.Reset();
    return false;
}

bool MeasureDirectory(const wchar_t* path, uint64_t& bytes, uint32_t maxDepth)
{
    TreeMeasure measure;
    const bool complete = MeasureTree(path, measure, maxDepth);
    bytes = measure.bytes;
    return complete;
}

TreeMeasure MeasureOpenedTree(HANDLE folder)
{
    MeasureVisitor visitor;
    WalkOpenedTree(folder, nullptr, visitor);
    return visitor.measure;
}

bool MeasureTree(const wchar_t* path, TreeMeasure& measure, uint32_t maxDepth)
{
    measure = TreeMeasure();
    WString root;
    if (!AbsoluteLongPath(path, root) || IsVolumeRoot(root.Text()))
        return false;
    const DWORD attributes = GetFileAttributesW(root.Text());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return false;
    // A count changes nothing, so it needs no handle of its own per folder
    // and no check of what it opened: each folder is listed by name, as the
    // platform's own tools do. Links are counted, never entered.
    struct Pending {
        WString path;
        uint32_t depth;
    };
    std::vector<Pending> pending;
    pending.push_back(Pending{std::move(root), 0});
    bool complete = true;
    MessagePacer pacer;
    while (!pending.empty()) {
        Pending folder = std::move(pending.back());
        pending.pop_back();
        DirectoryIterator entries(JoinPath(folder.path.Text(), L"*").Text(), 0);
        if (!entries.Started()) {
            complete = false;
            continue;
        }
        while (entries.Next()) {
            const WIN32_FIND_DATAW& entry = entries.Entry();
            if (entries.IsReparsePoint()) {
                ++measure.links;
            } else if (entries.IsDirectory()) {
                ++measure.folders;
                if (folder.depth + 1 > maxDepth)
                    complete = false;
                else
                    pending.push_back(Pending{JoinPath(folder.path.Text(), entry.cFileName), folder.depth + 1});
            } else {
                ++measure.files;
                measure.bytes += entries.Size();
            }
            pacer.Pump();
        }
    }
    return complete;
}

uint64_t DirectorySize(const wchar_t* path)
{
    uint64_t bytes = 0;
    MeasureDirectory(path, bytes);
    return bytes;
}

int DeleteDirectoryContents(const wchar_t* directory, const wchar_t* mask, uint32_t flags, PACL takeOverDacl,
                            PSID owner, uint32_t maxDepth)
{
    WString folder;
    if (mask == nullptr || *mask == L'\0' || wcschr(mask, L'\\') != nullptr || !AbsoluteLongPath(directory, folder) ||
        IsVolumeRoot(folder.Text()))
        return kDeleteFailed;
    DeleteTally tally;
    return DeleteContents(folder.Text(), mask, flags, TakeOver{takeOverDacl, owner}, maxDepth, tally);
}

int DeletePath(const wchar_t* path, uint32_t flags, uint32_t maxDepth, DeleteTally* tally)
{
    DeleteTally own;
    DeleteTally& counted = tally != nullptr ? *tally : own;
    // One object, named absolutely: never the current folder's idea of a
    // path, never a set of entries, never a whole drive.
    WString target;
    if (path == nullptr || IsWildcardMask(path) || !AbsoluteLongPath(path, target) || IsVolumeRoot(target.Text()))
        return kDeleteFailed;

    const EntryKind kind = ClassifyForDeletion(GetFileAttributesW(target.Text()));
    LocalAcl dacl;
    LocalSid administrators;
    if ((flags & kDeleteTakeOver) != 0) {
        SecurityRecipe recipe = kind == EntryKind::File ? SecurityRecipe::TakeOverFile : SecurityRecipe::TakeOver;
        BuildRecipeDacl(recipe, 0, nullptr, dacl);
        WellKnownSid(administrators, WinBuiltinAdministratorsSid);
    }
    const TakeOver takeOver{dacl.Get(), administrators.Get()};

    int result;
    switch (kind) {
    case EntryKind::Link: result = RemoveLink(target.Text(), flags, takeOver); break;
    case EntryKind::File: result = RemoveFile(target.Text(), flags, takeOver); break;
    default: result = DeleteContents(target.Text(), L"*", flags, takeOver, maxDepth, counted); break;
    }
    if (kind == EntryKind::Link || kind == EntryKind::File) {
        counted.scheduled += result == kDeleteScheduled ? 1 : 0;
        counted.failed += result == kDeleteFailed ? 1 : 0;
        if (kind == EntryKind::Link)
            return result;
    }
    if (result == kDeleteDone)
        SHChangeNotify(kind == EntryKind::File ? SHCNE_DELETE : SHCNE_RMDIR, SHCNF_PATHW, path, nullptr);
    return result;
}

bool CreateDirectoryPath(const wchar_t* path)
{
    WString full;
    // "X:" alone means the drive here, whose root exists or not.
    WString drive(path != nullptr ? path : L"");
    if (drive.Length() == 2 && drive.Text()[1] == L':')
        drive.Append(L"\\");
    if (!AbsoluteLongPath(drive.Text(), full))
        return false;
    if (IsVolumeRoot(full.Text())) {
        // A bare drive or share: only its root can be meant, which exists or not.
        WString root(full.Text());
        root.Append(L"\\");
        return IsDirectory(root.Text());
    }
    if (IsDirectory(full.Text()))
        return true;
    if (CreateDirectoryW(full.Text(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return IsDirectory(full.Text());

    // Level by level below the drive ("\\?\C:") or the share ("\\?\UNC\server\share").
    const bool unc = full.Find(L"\\\\?\\UNC\\", false, 1, 1, 8) == 1;
    StringList pieces;
    pieces.Split(full.Text() + (unc ? 8 : 4), L"\\");
    const uint32_t rootPieces = unc ? 2 : 1;
    if (pieces.Count() <= rootPieces)
        return false;
    WString level(unc ? L"\\\\?\\UNC\\" : L"\\\\?\\");
    level.Append(pieces[0]);
    for (uint32_t i = 1; i < pieces.Count(); ++i) {
        level.Append(L"\\", pieces[i]);
        if (i < rootPieces)
            continue;
        if (!PathFileExistsW(level.Text()) && !CreateDirectoryW(level.Text(), nullptr))
            return false;
    }
    return IsDirectory(full.Text());
}
