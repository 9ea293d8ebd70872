#include "platform/files.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "platform/security.h"
#include "platform/text_win.h"

namespace {

WString LongForm(const wchar_t* path)
{
    WString copy(path);
    copy.AddLongPathPrefix();
    TrimTrailingBackslashes(copy);
    return copy;
}

bool Gone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

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

// The ladder every deletion climbs: the call; again with the blocking
// attributes cleared; again after taking the object over; else scheduling.
template <typename Remove>
int DeleteLadder(const wchar_t* path, uint32_t flags, const TakeOver& takeOver, DWORD applyFlags, Remove remove)
{
    if (remove(path) || Gone(GetLastError()))
        return kDeleteDone;
    uint32_t cleared = AttributesAfterClearing(GetFileAttributesW(path));
    if (cleared != kInvalidAttributes && SetFileAttributesW(path, cleared) && remove(path))
        return kDeleteDone;
    if ((flags & kDeleteTakeOver) != 0 && takeOver.dacl != nullptr) {
        PACL dacl = takeOver.dacl;
        ApplySecurity(&dacl, path, SE_FILE_OBJECT, applyFlags, takeOver.owner);
        if (remove(path))
            return kDeleteDone;
    }
    if ((flags & kDeleteScheduleAtRestart) != 0 && MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return kDeleteScheduled;
    return kDeleteFailed;
}

int RemoveLink(const wchar_t* path, uint32_t flags, const TakeOver& takeOver)
{
    return DeleteLadder(path, flags, takeOver, kApplyTree | kApplyProtected,
                        [](const wchar_t* p) { return RemoveDirectoryW(p) != FALSE; });
}

int RemoveFile(const wchar_t* path, uint32_t flags, const TakeOver& takeOver)
{
    return DeleteLadder(path, flags, takeOver, kApplyProtected,
                        [](const wchar_t* p) { return DeleteFileW(p) != FALSE; });
}

int DeleteContents(const wchar_t* directory, const wchar_t* mask, uint32_t flags, const TakeOver& takeOver)
{
    WString pattern = JoinPath(directory, mask);
    int running = kDeleteDone;
    {
        DirectoryIterator entries(pattern.Text(), 0);
        if (!entries.Started() && (flags & kDeleteTakeOver) != 0 && takeOver.dacl != nullptr) {
            PACL dacl = takeOver.dacl;
            ApplySecurity(&dacl, directory, SE_FILE_OBJECT, kApplyTree | kApplyProtected, takeOver.owner);
            entries = DirectoryIterator(pattern.Text(), 0);
        }
        while (entries.Next()) {
            WString child = JoinPath(directory, entries.Name());
            int result;
            switch (ClassifyForDeletion(entries.Entry().dwFileAttributes)) {
            case EntryKind::Directory:
                result = DeleteContents(child.Text(), L"*", flags & ~kDeleteKeepTop, takeOver);
                break;
            case EntryKind::Link: result = RemoveLink(child.Text(), flags, takeOver); break;
            default: result = RemoveFile(child.Text(), flags, takeOver); break;
            }
            running = Combine(running, result);
            PumpPendingMessages();
        }
    }
    if ((flags & kDeleteKeepTop) == 0)
        running = Combine(running, RemoveLink(directory, flags, takeOver));
    return running;
}

uint64_t DirectorySizeOf(WString& path)
{
    uint64_t total = 0;
    WString pattern = JoinPath(path.Text(), L"*");
    DirectoryIterator entries(pattern.Text(), kSkipReparsePoints);
    while (entries.Next()) {
        if (!entries.IsDirectory()) {
            total += entries.Size();
            continue;
        }
        WString child = JoinPath(path.Text(), entries.Name());
        total += DirectorySizeOf(child);
        PumpPendingMessages();
    }
    return total;
}

bool IsDirectory(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// True when `inner` is `outer` or lies below it.
uint64_t MoveTreeLong(const wchar_t* source, const wchar_t* destination, DWORD flags)
{
    if (MoveFileExW(source, destination, flags))
        return 0;
    // A file that could not be moved stays where it is; it is no folder to
    // be emptied, and nothing is to be created in its place.
    const DWORD attributes = GetFileAttributesW(source);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return 1;
    if (!CreateDirectoryW(destination, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return 1;

    const DWORD entryFlags = flags & (MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
    uint64_t notMoved = 0;
    {
        WString pattern = JoinPath(source, L"*");
        DirectoryIterator entries(pattern.Text(), kSkipReparsePoints);
        while (entries.Next()) {
            WString from = JoinPath(source, entries.Name());
            WString to = JoinPath(destination, entries.Name());
            if (entries.IsDirectory())
                notMoved += MoveTreeLong(from.Text(), to.Text(), entryFlags);
            else if (!MoveFileExW(from.Text(), to.Text(), entryFlags))
                ++notMoved;
        }
    }
    if (notMoved == 0)
        RemoveDirectoryW(source);
    return notMoved;
}

}  // namespace

DirectoryIterator::DirectoryIterator(const wchar_t* pattern, uint32_t filter) : filter_(filter)
{
    handle_.Reset(FindFirstFileW(pattern, &data_));
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

uint64_t DirectorySize(const wchar_t* path)
{
    WString root = LongForm(path);
    return root.IsEmpty() ? 0 : DirectorySizeOf(root);
}

int DeleteDirectoryContents(const wchar_t* directory, const wchar_t* mask, uint32_t flags, PACL takeOverDacl,
                            PSID owner)
{
    if (directory == nullptr || mask == nullptr)
        return kDeleteFailed;
    return DeleteContents(directory, mask, flags, TakeOver{takeOverDacl, owner});
}

int DeletePath(const wchar_t* path, uint32_t flags)
{
    WString target = LongForm(path);
    const uint32_t lastSlash = target.Find(L"\\", true, -1);
    // "\\?\" alone holds backslashes, but no path below it.
    if (lastSlash == 0 || (lastSlash <= 4 && target.Find(L"\\\\?\\", true, 1, 1, 4) == 1))
        return kDeleteFailed;

    WString mask(target.Text() + lastSlash);
    const bool wildcard = IsWildcardMask(mask.Text());
    WString directory;
    EntryKind kind;
    if (wildcard) {
        directory.AssignSubstring(target.Text(), 1, static_cast<int>(lastSlash - 1));
        flags |= kDeleteKeepTop;
        kind = EntryKind::Directory;
    } else {
        directory.Assign(target.Text());
        kind = ClassifyForDeletion(GetFileAttributesW(target.Text()));
        mask.Assign(L"*");
    }

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
    case EntryKind::Link: return RemoveLink(target.Text(), flags, takeOver);
    case EntryKind::File: result = RemoveFile(target.Text(), flags, takeOver); break;
    default: result = DeleteContents(directory.Text(), mask.Text(), flags, takeOver); break;
    }
    if (result == kDeleteDone && !wildcard)
        SHChangeNotify(kind == EntryKind::File ? SHCNE_DELETE : SHCNE_RMDIR, SHCNF_PATHW, path, nullptr);
    return result;
}

bool CreateDirectoryPath(const wchar_t* path)
{
    WString full = LongForm(path);
    const bool prefixed = full.Find(L"\\\\?\\", true, 1, 1, 4) == 1;
    const uint32_t length = full.Length();
    if (length < 3 || (prefixed && length < 6))
        return false;
    if (prefixed && length == 6) {
        // A bare drive: only its root can be meant, which exists or not.
        WString root(full.Text() + 4);
        root.Append(L"\\");
        return PathIsRootW(root.Text()) != FALSE && IsDirectory(root.Text());
    }
    if (IsDirectory(full.Text()))
        return true;
    if (CreateDirectoryW(full.Text(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return IsDirectory(full.Text());

    const wchar_t* prefix = prefixed ? L"\\\\?\\" : (full.Text()[0] == L'\\' && full.Text()[1] == L'\\' ? L"\\\\" : L"");
    StringList pieces;
    pieces.Split(full.Text() + TextLength(prefix), L"\\");
    if (pieces.Count() < 2)
        return false;
    WString level(prefix);
    level.Append(pieces[0]);
    for (uint32_t i = 1; i < pieces.Count(); ++i) {
        if (pieces[i][0] == L'\0')
            continue;
        level.Append(L"\\", pieces[i]);
        if (!PathFileExistsW(level.Text()) && !CreateDirectoryW(level.Text(), nullptr))
            return false;
    }
    return IsDirectory(full.Text());
}

uint64_t MoveTree(const wchar_t* source, const wchar_t* destination, DWORD flags)
{
    WString from = LongForm(source);
    WString to = LongForm(destination);
    // A tree moved into itself would grow without end.
    if (from.IsEmpty() || to.IsEmpty() || IsSameOrBelow(to.Text(), from.Text()))
        return 1;
    return MoveTreeLong(from.Text(), to.Text(), flags);
}

DWORD WINAPI MoveTreeThread(void* parameter)
{
    auto* request = static_cast<MoveRequest*>(parameter);
    if (request == nullptr || request->owner == nullptr || request->destination.IsEmpty())
        return 0;
    WString destination = LongForm(request->destination.Text());
    if (!CreateDirectoryW(destination.Text(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return 0;
    if (request->source.IsEmpty())
        return 1;
    request->notMoved = MoveTree(request->source.Text(), request->destination.Text(), request->flags);
    return 1;
}
