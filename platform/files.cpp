#include "platform/files.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "platform/security.h"
#include "platform/text_win.h"

#include <utility>
#include <vector>

namespace {

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
    if (remove(path) || Gone(GetLastError()))
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

// One folder of an iterative walk: its path and the subfolders found in it
// that are still to be entered. Only one search handle is open at a time.
struct WalkLevel {
    WString path;
    std::vector<WString> subfolders;
    size_t next = 0;
    int result = kDeleteDone;
};

// Lists one folder for the deletion: files and links go at once, subfolders
// are collected for later. False when the folder cannot be listed.
bool ClearLevel(WalkLevel& level, const wchar_t* mask, uint32_t flags, const TakeOver& takeOver, MessagePacer& pacer)
{
    WString pattern = JoinPath(level.path.Text(), mask);
    DirectoryIterator entries(pattern.Text(), 0);
    DWORD error = entries.Started() ? ERROR_SUCCESS : GetLastError();
    // Listing refused: the folder itself is taken over, nothing below it.
    if (!entries.Started() && !Gone(error) && (flags & kDeleteTakeOver) != 0 &&
        TakeOverEntry(level.path.Text(), takeOver)) {
        entries = DirectoryIterator(pattern.Text(), 0);
        error = entries.Started() ? ERROR_SUCCESS : GetLastError();
    }
    // Nothing there, or nothing that matches, is nothing to delete.
    if (!entries.Started())
        return Gone(error) || error == ERROR_NO_MORE_FILES;
    while (entries.Next()) {
        const EntryKind kind = ClassifyForDeletion(entries.Entry().dwFileAttributes);
        if (kind == EntryKind::Directory) {
            level.subfolders.emplace_back(entries.Name());
            continue;
        }
        WString child = JoinPath(level.path.Text(), entries.Name());
        level.result = Combine(level.result, kind == EntryKind::Link ? RemoveLink(child.Text(), flags, takeOver)
                                                                     : RemoveFile(child.Text(), flags, takeOver));
        pacer.Pump();
    }
    return true;
}

// Deletes depth first with its own stack: the deepest folder a user can
// build costs memory for its names, never the thread's stack.
int DeleteContents(const wchar_t* directory, const wchar_t* mask, uint32_t flags, const TakeOver& takeOver,
                   uint32_t maxDepth)
{
    MessagePacer pacer;
    std::vector<WalkLevel> stack;
    stack.emplace_back();
    stack.back().path.Assign(directory);
    if (!ClearLevel(stack.back(), mask, flags, takeOver, pacer))
        stack.back().result = kDeleteFailed;
    while (!stack.empty()) {
        WalkLevel& level = stack.back();
        if (level.next < level.subfolders.size()) {
            WString child = JoinPath(level.path.Text(), level.subfolders[level.next++].Text());
            if (stack.size() > maxDepth) {
                level.result = kDeleteFailed;   // too deep: left as it is
                continue;
            }
            WalkLevel inner;
            inner.path = std::move(child);
            const bool listed = ClearLevel(inner, L"*", flags, takeOver, pacer);
            if (!listed)
                inner.result = kDeleteFailed;
            stack.push_back(std::move(inner));
            continue;
        }
        // Every entry below is done: the folder itself goes, the top only
        // when it is not to be kept.
        int result = level.result;
        const bool top = stack.size() == 1;
        if (!top || (flags & kDeleteKeepTop) == 0)
            result = Combine(result, RemoveLink(level.path.Text(), flags, takeOver));
        level.subfolders.clear();
        stack.pop_back();
        if (!stack.empty())
            stack.back().result = Combine(stack.back().result, result);
        else
            return result;
        pacer.Pump();
    }
    return kDeleteFailed;
}

bool IsDirectory(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLinkOrMissing(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// One folder of a move: where its entries come from and go to.
struct MoveLevel {
    WString from;
    WString to;
};

// Moves a folder that could not be renamed as a whole entry by entry, with
// its own stack; a folder whose entries all moved is removed afterwards,
// deepest first.
uint64_t MoveTreeLong(const wchar_t* source, const wchar_t* destination, DWORD flags, uint32_t maxDepth)
{
    if (MoveFileExW(source, destination, flags))
        return 0;
    // A file that could not be moved stays where it is; it is no folder to
    // be emptied, and nothing is to be created in its place.
    const DWORD attributes = GetFileAttributesW(source);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return 1;

    const DWORD entryFlags = flags & (MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
    MessagePacer pacer;
    uint64_t notMoved = 0;
    // Folders in the order they were entered, with their depth; emptied ones
    // are removed in reverse order at the end.
    std::vector<WString> entered;
    std::vector<std::pair<MoveLevel, uint32_t>> pending;
    pending.emplace_back(MoveLevel{WString(source), WString(destination)}, 0u);
    constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<uint64_t> leftIn;   // entries left below each entered folder, by index of `entered`
    std::vector<size_t> parentOf;
    std::vector<size_t> pendingParent{kNone};
    // An entry that stays keeps every folder above it.
    auto leave = [&](size_t index) {
        for (size_t at = index; at != kNone; at = parentOf[at])
            ++leftIn[at];
    };
    while (!pending.empty()) {
        MoveLevel level = std::move(pending.back().first);
        const uint32_t depth = pending.back().second;
        const size_t parent = pendingParent.back();
        pending.pop_back();
        pendingParent.pop_back();
        if (depth > 0 && MoveFileExW(level.from.Text(), level.to.Text(), entryFlags))
            continue;
        if (depth > maxDepth ||
            (!CreateDirectoryW(level.to.Text(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)) {
            ++notMoved;
            if (parent != kNone)
                leave(parent);
            continue;
        }
        const size_t index = entered.size();
        entered.emplace_back(level.from.Text());
        leftIn.push_back(0);
        parentOf.push_back(parent);
        WString pattern = JoinPath(level.from.Text(), L"*");
        DirectoryIterator entries(pattern.Text(), kSkipReparsePoints);
        while (entries.Next()) {
            WString from = JoinPath(level.from.Text(), entries.Name());
            WString to = JoinPath(level.to.Text(), entries.Name());
            if (entries.IsDirectory()) {
                pending.emplace_back(MoveLevel{std::move(from), std::move(to)}, depth + 1);
                pendingParent.push_back(index);
            } else if (!MoveFileExW(from.Text(), to.Text(), entryFlags)) {
                ++notMoved;
                leave(index);
            }
            pacer.Pump();
        }
    }
    for (size_t i = entered.size(); i-- > 0;) {
        if (leftIn[i] == 0)
            RemoveDirectoryW(entered[i].Text());
    }
    return notMoved;
}

// The final path of what `path` names, following links, for a path whose
// last components may not exist yet: the deepest part that exists is opened
// and the missing names are put back behind its final path.
bool ResolvedPath(const wchar_t* path, WString& resolved)
{
    WString existing(path);
    WString missing;
    for (;;) {
        // A drive or share is opened at its root folder ("\\?\C:\"), not as the volume.
        const bool volume = IsVolumeRoot(existing.Text());
        WString name(existing.Text());
        if (volume)
            name.Append(L"\\");
        UniqueFileHandle opened(CreateFileW(name.Text(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (opened) {
            if (!FinalPathOf(opened.Get(), resolved))
                return false;
            TrimTrailingBackslashes(resolved);
            return missing.IsEmpty() || resolved.Append(L"\\", missing.Text());
        }
        const uint32_t slash = existing.Find(L"\\", true, -1);
        if (slash <= 4 || volume)
            return false;
        WString last(existing.Text() + slash);
        if (!missing.IsEmpty())
            last.Append(L"\\", missing.Text());
        missing = std::move(last);
        existing.RemoveLastComponent();
    }
}

}  // namespace

bool AbsoluteLongPath(const wchar_t* path, WString& longPath)
{
    longPath.Assign(L"");
    if (path == nullptr || !IsAbsolutePathText(path))
        return false;
    WString full;
    if (path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?') {
        // Taken literally by the platform: nothing may climb out of it.
        if (HasDotComponents(path + 4))
            return false;
        full.Assign(path);
    } else {
        DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
        if (size == 0)
            return false;
        wchar_t* buffer = full.GetBuffer(size);
        DWORD written = buffer != nullptr ? GetFullPathNameW(path, size + 1, buffer, nullptr) : 0;
        if (written == 0 || written > size)
            return false;
        full.Length();
        if (!IsAbsolutePathText(full.Text()) || !full.AddLongPathPrefix())
            return false;
    }
    TrimTrailingBackslashes(full);
    longPath = std::move(full);
    return !longPath.IsEmpty();
}

UniqueFileHandle OpenWithoutFollowing(const wchar_t* path, DWORD access)
{
    return UniqueFileHandle(CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
}

bool FinalPathOf(HANDLE object, WString& finalPath)
{
    finalPath.Assign(L"");
    // Asked twice at most: the size, then the text.
    DWORD size = GetFinalPathNameByHandleW(object, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (size == 0)
        return false;
    wchar_t* buffer = finalPath.GetBuffer(size);
    if (buffer == nullptr)
        return false;
    DWORD written = GetFinalPathNameByHandleW(object, buffer, size + 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (written == 0 || written > size) {
        finalPath.Assign(L"");
        return false;
    }
    finalPath.Length();
    return true;
}

bool HandleLiesInside(HANDLE object, const wchar_t* rootFinalPath)
{
    WString finalPath;
    if (rootFinalPath == nullptr || *rootFinalPath == L'\0' || !FinalPathOf(object, finalPath))
        return false;
    WString root(rootFinalPath);
    TrimTrailingBackslashes(root);
    return IsSameOrBelow(finalPath.Text(), root.Text());
}

UniqueFileHandle OpenEntryItself(const wchar_t* path, DWORD access)
{
    WString full;
    if (!AbsoluteLongPath(path, full) || IsVolumeRoot(full.Text()))
        return UniqueFileHandle();
    const uint32_t slash = full.Find(L"\\", true, -1);
    WString name(full.Text() + slash);
    WString parentPath(full.Text());
    parentPath.RemoveLastComponent();
    UniqueFileHandle parent(CreateFileW(parentPath.Text(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    WString expected;
    if (!parent || !FinalPathOf(parent.Get(), expected))
        return UniqueFileHandle();
    TrimTrailingBackslashes(expected);
    expected.Append(L"\\", name.Text());

    UniqueFileHandle entry = OpenWithoutFollowing(full.Text(), access);
    WString actual;
    if (!entry || !FinalPathOf(entry.Get(), actual) || !EqualsNoCase(actual.Text(), expected.Text()))
        return UniqueFileHandle();
    return entry;
}

bool TakeOverEntryItself(const wchar_t* path, PACL dacl, PSID owner)
{
    if (dacl == nullptr)
        return false;
    UniqueFileHandle entry = OpenEntryItself(path, WRITE_DAC | WRITE_OWNER);
    if (!entry && owner != nullptr) {
        // Refused the DACL: ownership first (the owner may always write
        // the DACL), then the entry is opened as itself once more.
        UniqueFileHandle owned = OpenEntryItself(path, WRITE_OWNER);
        if (!owned || !SetHandleSecurity(owned.Get(), nullptr, owner, false))
            return false;
        owned.Reset();
        entry = OpenEntryItself(path, WRITE_DAC | WRITE_OWNER);
    }
    return entry && SetHandleSecurity(entry.Get(), dacl, owner, true);
}

UniqueFileHandle OpenBelowRoot(const wchar_t* root, const wchar_t* relative, DWORD access)
{
    WString rootPath;
    if (relative == nullptr || *relative == L'\0' || relative[0] == L'\\' || !AbsoluteLongPath(root, rootPath) ||
        HasDotComponents(relative) || IsWildcardMask(relative))
        return UniqueFileHandle();
    UniqueFileHandle rootHandle(CreateFileW(rootPath.Text(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    WString rootFinal;
    if (!rootHandle || !FinalPathOf(rootHandle.Get(), rootFinal))
        return UniqueFileHandle();
    TrimTrailingBackslashes(rootFinal);

    StringList names;
    names.Split(relative, L"\\");
    WString current(rootFinal.Text());
    UniqueFileHandle entry;
    for (uint32_t i = 0; i < names.Count(); ++i) {
        if (names[i][0] == L'\0' || wcschr(names[i], L'/') != nullptr || wcschr(names[i], L':') != nullptr)
            return UniqueFileHandle();   // empty, another separator, or a stream
        WString expected(current.Text());
        expected.Append(L"\\", names[i]);
        const bool last = i + 1 == names.Count();
        entry = OpenWithoutFollowing(expected.Text(), last ? access : FILE_READ_ATTRIBUTES);
        FILE_ATTRIBUTE_TAG_INFO tag{};
        WString actual;
        if (!entry ||
            !GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !FinalPathOf(entry.Get(), actual) ||
            !EqualsNoCase(actual.Text(), expected.Text()))
            return UniqueFileHandle();
        current = std::move(actual);
    }
    if (!entry || !HandleLiesInside(entry.Get(), rootFinal.Text()))
        return UniqueFileHandle();
    return entry;
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
    bytes = 0;
    WString root;
    if (!AbsoluteLongPath(path, root))
        return false;
    MessagePacer pacer;
    bool complete = true;
    // Folders still to be listed, with their depth below the root.
    std::vector<std::pair<WString, uint32_t>> pending;
    pending.emplace_back(std::move(root), 0u);
    while (!pending.empty()) {
        WString folder = std::move(pending.back().first);
        const uint32_t depth = pending.back().second;
        pending.pop_back();
        WString pattern = JoinPath(folder.Text(), L"*");
        DirectoryIterator entries(pattern.Text(), kSkipReparsePoints);
        if (!entries.Started())
            complete = false;   // missing or refused: its contents are not counted
        while (entries.Next()) {
            if (!entries.IsDirectory()) {
                bytes += entries.Size();
                continue;
            }
            if (depth >= maxDepth) {
                complete = false;   // too deep: not entered
                continue;
            }
            pending.emplace_back(JoinPath(folder.Text(), entries.Name()), depth + 1);
        }
        pacer.Pump();
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
    return DeleteContents(folder.Text(), mask, flags, TakeOver{takeOverDacl, owner}, maxDepth);
}

int DeletePath(const wchar_t* path, uint32_t flags, uint32_t maxDepth)
{
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
    case EntryKind::Link: return RemoveLink(target.Text(), flags, takeOver);
    case EntryKind::File: result = RemoveFile(target.Text(), flags, takeOver); break;
    default: result = DeleteContents(target.Text(), L"*", flags, takeOver, maxDepth); break;
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

uint64_t MoveTree(const wchar_t* source, const wchar_t* destination, DWORD flags, uint32_t maxDepth)
{
    WString from, to;
    if (!AbsoluteLongPath(source, from) || !AbsoluteLongPath(destination, to) || IsVolumeRoot(from.Text()) ||
        IsVolumeRoot(to.Text()))
        return 1;
    // A tree moved into itself would grow without end: compared as written,
    // and as the platform resolves both (short names, links, substituted
    // drives).
    if (IsSameOrBelow(to.Text(), from.Text()))
        return 1;
    UniqueFileHandle sourceHandle = OpenWithoutFollowing(from.Text(), FILE_READ_ATTRIBUTES);
    WString sourceFinal, destinationFinal;
    if (!sourceHandle)
        return Gone(GetLastError()) ? 0 : 1;   // nothing there is nothing left behind
    if (!FinalPathOf(sourceHandle.Get(), sourceFinal) || !ResolvedPath(to.Text(), destinationFinal) ||
        IsSameOrBelow(destinationFinal.Text(), sourceFinal.Text()))
        return 1;
    sourceHandle.Reset();
    // A link is moved as the link itself or not at all: its target is
    // another tree, which this move was never asked to empty. Renamed only
    // where the platform provably opens the link itself (Wine, for one,
    // would rename the target).
    if (IsLinkOrMissing(from.Text())) {
        if (!OpenEntryItself(from.Text(), DELETE))
            return 1;
        return MoveFileExW(from.Text(), to.Text(), flags & MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
    }
    return MoveTreeLong(from.Text(), to.Text(), flags, maxDepth);
}

DWORD WINAPI MoveTreeThread(void* parameter)
{
    auto* request = static_cast<MoveRequest*>(parameter);
    if (request == nullptr || request->owner == nullptr || request->destination.IsEmpty())
        return 0;
    WString destination;
    if (!AbsoluteLongPath(request->destination.Text(), destination))
        return 0;
    if (!CreateDirectoryW(destination.Text(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return 0;
    if (request->source.IsEmpty())
        return 1;
    request->notMoved = MoveTree(request->source.Text(), request->destination.Text(), request->flags);
    return 1;
}
