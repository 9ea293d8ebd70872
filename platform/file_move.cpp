#include "platform/file_move.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "platform/file_rules.h"
#include "platform/path_rules.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/tree_walk.h"

namespace {

constexpr DWORD kCopyBufferSize = 1024 * 1024;

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// A destination folder stays open while files are still being copied into
// it. One this move made holds nothing but what the move put there.
struct DestinationFolder {
    UniqueFileHandle handle;
    bool made = false;
};
using SharedFolder = std::shared_ptr<DestinationFolder>;

// One file to be copied across volumes: the original, opened and checked by
// the walk, and the folder it goes into.
struct FileJob {
    UniqueFileHandle source;
    SharedFolder into;
    WString name;
    std::shared_ptr<const WString> from;   // the folder it is in, for the list of what stayed
    DWORD attributes;
    uint64_t size;
};

// What one copying thread keeps between its files.
struct CopyContext {
    std::unique_ptr<BYTE[]> buffer;
    uint64_t counted = 0;   // bytes of the current file already in the progress
};

// Across volumes most of a small file's time is spent waiting on the
// system's calls, not on copying, so a few threads copy side by side while
// the walk goes on. The queue is bounded so that a huge folder does not
// fill the memory with waiting files.
class CopyPool {
public:
    using Work = std::function<void(FileJob&, CopyContext&)>;

    explicit CopyPool(Work work) : work_(std::move(work))
    {
        // One thread a core, two at least: the walk itself opens every
        // source file too, and more threads than cores only wait on each
        // other's system calls (measured: on two cores two threads move
        // 10,000 small files a fifth faster than three).
        const unsigned cores = std::thread::hardware_concurrency();
        const unsigned threads = cores < 2 ? 2 : (cores > 4 ? 4 : cores);
        for (unsigned i = 0; i < threads; ++i) {
            try {
                threads_.emplace_back([this] { Serve(); });
            } catch (...) {
                break;   // fewer threads, or none: Add then copies itself
            }
        }
    }
    ~CopyPool() { Finish(); }
    CopyPool(const CopyPool&) = delete;
    CopyPool& operator=(const CopyPool&) = delete;

    void Add(FileJob job)
    {
        if (threads_.empty()) {
            work_(job, own_);
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        roomLeft_.wait(lock, [this] { return queue_.size() < kQueueLimit; });
        queue_.push_back(std::move(job));
        lock.unlock();
        jobWaiting_.notify_one();
    }

    // Waits until every file handed in has been dealt with.
    void Finish()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        jobWaiting_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
        threads_.clear();
    }

private:
    static constexpr size_t kQueueLimit = 256;

    void Serve()
    {
        CopyContext context;
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            jobWaiting_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            FileJob job = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            roomLeft_.notify_one();
            work_(job, context);
        }
    }

    Work work_;
    CopyContext own_;
    std::vector<std::thread> threads_;
    std::deque<FileJob> queue_;
    std::mutex mutex_;
    std::condition_variable jobWaiting_;
    std::condition_variable roomLeft_;
    bool closing_ = false;
};

// Moves what the walk hands it: files renamed through their own handles
// on one volume, copied, checked and then removed across volumes; folders
// made at the destination relative to their parent's handle, and removed at
// the source through their own handles once emptied. Links stay and are listed.
class Mover : public TreeVisitor {
public:
    Mover(FolderMove& move, SharedFolder destination)
        : move_(move), replace_((move.flags & MOVEFILE_REPLACE_EXISTING) != 0),
          copyAllowed_((move.flags & MOVEFILE_COPY_ALLOWED) != 0)
    {
        into_.push_back(std::move(destination));
    }

    void Run(HANDLE from)
    {
        {
            CopyPool pool([this](FileJob& job, CopyContext& context) { CopyAcross(job, context); });
            pool_ = &pool;
            if (WalkOpenedTree(from, move_.source.Text(), *this, move_.maxDepth) != WalkRoot::Walked) {
                TreeMeasure rest = MeasureOpenedTree(from);
                Leave(move_.source.Text(), LeftReason::InUse, rest.files, rest.bytes);
            }
            pool.Finish();
            pool_ = nullptr;
        }
        // Children were left after their contents: removing in that order
        // empties each folder before its parent is tried. A folder that still
        // holds something is refused by the system and stays.
        // Each is closed at once, so that its parent is empty when its turn comes.
        for (UniqueFileHandle& folder : emptied_) {
            RemoveEmptied(folder.Get());
            folder.Reset();
        }
    }

    DWORD FolderAccess() const override { return DELETE | FILE_WRITE_ATTRIBUTES; }

    bool OnEnter(const TreeFolder& folder) override
    {
        if (folder.parent == nullptr) {
            from_.push_back(std::make_shared<const WString>(folder.DisplayPath()));
            return true;
        }
        const TreeEntry& entry = *folder.entry;
        HANDLE parent = into_.back()->handle.Get();
        // On one volume a whole folder moves with one rename, when its name
        // is free at the destination.
        if (sameVolume_) {
            if (RenameByHandle(folder.handle, parent, entry.name.Text(), false)) {
                TreeMeasure moved = MeasureOpenedTree(folder.handle);   // the same folder, now moved
                Advance(moved.files, moved.bytes);
                return false;
            }
            if (GetLastError() == ERROR_NOT_SAME_DEVICE)
                sameVolume_ = false;
        }
        bool created = false;
        UniqueFileHandle made = CreateFolderIn(parent, entry.name.Text(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY |
                                                                              FILE_WRITE_ATTRIBUTES, true, &created);
        if (!made) {
            TreeMeasure rest = MeasureOpenedTree(folder.handle);
            Leave(folder.DisplayPath().Text(), LeftReason::FolderFailed, rest.files, rest.bytes);
            return false;
        }
        SetAttributesByHandle(made.Get(), entry.attributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
        into_.push_back(std::make_shared<DestinationFolder>(DestinationFolder{std::move(made), created}));
        from_.push_back(std::make_shared<const WString>(folder.DisplayPath()));
        return true;
    }

    void OnLeave(const TreeFolder& folder) override
    {
        if (folder.parent == nullptr)
            return;   // the source folder itself stays
        into_.pop_back();
        from_.pop_back();
        HANDLE copy = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), folder.handle, GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS))
            emptied_.emplace_back(copy);
    }

    void OnFile(const TreeFolder& folder, const TreeEntry& entry, HANDLE) override
    {
        // Shared for reading only: nobody changes it while it is copied, and
        // a file another program holds open for writing is refused here.
        UniqueFileHandle source = OpenTreeEntry(folder, entry, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                                                FILE_SHARE_READ);
        if (!source) {
            Leave(folder.DisplayPathOf(entry).Text(), LeftReason::InUse, 1, entry.size);
            return;
        }
        if (sameVolume_) {
            if (RenameByHandle(source.Get(), into_.back()->handle.Get(), entry.name.Text(), replace_)) {
                Advance(1, entry.size);
                return;
            }
            const DWORD error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
                Leave(folder.DisplayPathOf(entry).Text(), LeftReason::Exists, 1, entry.size);
                return;
            }
            if (error != ERROR_NOT_SAME_DEVICE) {
                Leave(folder.DisplayPathOf(entry).Text(), LeftReason::InUse, 1, entry.size);
                return;
            }
            sameVolume_ = false;
        }
        if (!copyAllowed_) {
            Leave(folder.DisplayPathOf(entry).Text(), LeftReason::CopyFailed, 1, entry.size);
            return;
        }
        // Its other names reach the same data elsewhere, perhaps data its
        // owner may not read: a copy would hand it over with the moved
        // folder's permissions.
        if (HasOtherNames(source.Get())) {
            Leave(folder.DisplayPathOf(entry).Text(), LeftReason::OtherNames, 1, entry.size);
            return;
        }
        pool_->Add(FileJob{std::move(source), into_.back(), WString(entry.name.Text()), from_.back(),
                           entry.attributes, entry.size});
    }

    void OnLink(const TreeFolder& folder, const TreeEntry& entry) override
    {
        Leave(folder.DisplayPathOf(entry).Text(), LeftReason::Link, 0, 0);
    }

    void OnFailure(const TreeFolder& folder, const TreeEntry* entry, WalkFailure why) override
    {
        if (entry == nullptr) {
            Leave(folder.DisplayPath().Text(), LeftReason::InUse, 0, 0);
            return;
        }
        if (why == WalkFailure::Gone)
            return;
        const LeftReason reason = why == WalkFailure::TooDeep ? LeftReason::TooDeep : LeftReason::InUse;
        uint64_t files = 1, bytes = entry->size;
        if (entry->IsFolder()) {
            UniqueFileHandle stays = OpenTreeEntry(folder, *entry, FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE);
            TreeMeasure rest = stays ? MeasureOpenedTree(stays.Get()) : TreeMeasure();
            files = rest.files;
            bytes = rest.bytes;
        }
        Leave(folder.DisplayPathOf(*entry).Text(), reason, files, bytes);
    }

private:
    FolderMove& move_;
    const bool replace_;
    const bool copyAllowed_;
    bool sameVolume_ = true;          // until a rename says otherwise
    CopyPool* pool_ = nullptr;        // while the walk runs
    std::vector<SharedFolder> into_;  // the destination folder of each level entered
    std::vector<std::shared_ptr<const WString>> from_;   // and where it is at the source
    std::vector<UniqueFileHandle> emptied_;
    std::mutex leftLock_;             // the copying threads add to the list too

    static void RemoveEmptied(HANDLE folder)
    {
        if (DeleteByHandle(folder))
            return;
        // A read-only folder may be refused for that alone; one that stays
        // keeps the attributes it had.
        FILE_BASIC_INFO basic{};
        if (!GetFileInformationByHandleEx(folder, FileBasicInfo, &basic, sizeof(basic)) ||
            (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0)
            return;
        SetAttributesByHandle(folder, basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (!DeleteByHandle(folder))
            SetAttributesByHandle(folder, basic.FileAttributes);
    }

    void Leave(const wchar_t* path, LeftReason reason, uint64_t files, uint64_t bytes)
    {
        {
            std::lock_guard<std::mutex> lock(leftLock_);
            move_.left.push_back(LeftEntry{WString(path), reason});
            ++move_.notMoved;
        }
        Advance(files, bytes);
    }

    void Advance(uint64_t files, uint64_t bytes)
    {
        move_.progress.filesDone += files;
        move_.progress.bytesDone += bytes;
    }

    void CopyAcross(FileJob& job, CopyContext& context)
    {
        context.counted = 0;
        LeftReason why = LeftReason::InUse;
        const bool moved = CopyThenRemove(job, context, why);
        // The bytes of a large file are counted as they are copied.
        const uint64_t rest = job.size > context.counted ? job.size - context.counted : 0;
        if (moved)
            Advance(1, rest);
        else
            Leave(JoinPath(job.from->Text(), job.name.Text()).Text(), why, 1, rest);
        job.source.Reset();
    }

    // Across volumes: copy, check, and only then remove the original.
    bool CopyThenRemove(FileJob& job, CopyContext& context, LeftReason& why)
    {
        why = LeftReason::InUse;
        // A read-only original cannot be removed; the attribute goes back on
        // if the move does not complete.
        const bool readOnly = (job.attributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (readOnly && !SetAttributesByHandle(job.source.Get(), job.attributes & ~FILE_ATTRIBUTE_READONLY))
            return false;
        UniqueFileHandle copy;
        bool moved = Copy(job, context, copy, why);
        if (moved && !DeleteByHandle(job.source.Get())) {
            // The original stays, so the copy goes (a file it replaced is gone either way).
            DeleteByHandle(copy.Get());
            why = LeftReason::InUse;
            moved = false;
        }
        if (!moved && readOnly)
            SetAttributesByHandle(job.source.Get(), job.attributes);
        return moved;
    }

    // The copy is made with the original's attributes (read-only last, so
    // that it can be written) and times; false, with the reason, when it
    // could not be made whole, and then no partial copy stays behind.
    bool Copy(FileJob& job, CopyContext& context, UniqueFileHandle& target, LeftReason& why)
    {
        why = LeftReason::InUse;
        HANDLE source = job.source.Get();
        LARGE_INTEGER sourceSize{};
        FILETIME created{}, accessed{}, written{};
        if (!GetFileSizeEx(source, &sourceSize) || !GetFileTime(source, &created, &accessed, &written))
            return false;
        const DWORD kept = job.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                             FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        const DWORD access = GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE;
        target = CreateFileIn(job.into->handle.Get(), job.name.Text(), access, kept, false, job.into->made);
        if (!target && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)) {
            if (!replace_) {
                why = LeftReason::Exists;
                return false;
            }
            target = CreateFileIn(job.into->handle.Get(), job.name.Text(), access, kept, true, job.into->made);
        }
        if (!target) {
            why = LeftReason::CopyFailed;
            return false;
        }
        why = LeftReason::CopyFailed;

        if (!context.buffer)
            context.buffer.reset(new (std::nothrow) BYTE[kCopyBufferSize]);
        BYTE* buffer = context.buffer.get();
        bool whole = buffer != nullptr;
        uint64_t copied = 0;
        while (whole) {
            DWORD read = 0, wrote = 0;
            if (!ReadFile(source, buffer, kCopyBufferSize, &read, nullptr)) {
                whole = false;
                break;
            }
            if (read == 0)
                break;
            if (!WriteFile(target.Get(), buffer, read, &wrote, nullptr) || wrote != read) {
                whole = false;
                break;
            }
            copied += read;
            context.counted += read;
            move_.progress.bytesDone += read;
        }
        LARGE_INTEGER targetSize{};
        whole = whole && copied == static_cast<uint64_t>(sourceSize.QuadPart) &&
                GetFileSizeEx(target.Get(), &targetSize) && targetSize.QuadPart == sourceSize.QuadPart;
        if (!whole) {
            // A partial copy is no copy: it goes, and the original stays.
            DeleteByHandle(target.Get());
            target.Reset();
            return false;
        }
        SetFileTime(target.Get(), &created, &accessed, &written);
        if ((job.attributes & FILE_ATTRIBUTE_READONLY) != 0)
            SetAttributesByHandle(target.Get(), kept | FILE_ATTRIBUTE_READONLY);
        return true;
    }
};

}  // namespace

WString FinalFolderPath(const wchar_t* path)
{
    WString normal(path);
    if (!NormalizeFolderPath(normal))
        return WString(L"");
    // Walk up to the deepest part that exists, resolve it, put the rest back.
    std::wstring rest;
    WString existing(normal.Text());
    for (;;) {
        WString probe(existing.Text());
        if (probe.Length() == 2)
            probe.Append(L"\\");
        probe.AddLongPathPrefix();
        UniqueFileHandle handle(CreateFileW(probe.Text(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (handle) {
            wchar_t small[1];
            DWORD needed = GetFinalPathNameByHandleW(handle.Get(), small, 0, FILE_NAME_NORMALIZED);
            if (needed > 0) {
                WString resolved;
                wchar_t* buffer = resolved.GetBuffer(needed + 1, nullptr, true);
                if (buffer != nullptr &&
                    GetFinalPathNameByHandleW(handle.Get(), buffer, needed + 1, FILE_NAME_NORMALIZED) <= needed) {
                    resolved.Append(rest.c_str());
                    if (NormalizeFolderPath(resolved))
                        return resolved;
                }
            }
            break;
        }
        if (IsVolumeRoot(existing.Text()))
            break;
        const wchar_t* text = existing.Text();
        const wchar_t* last = nullptr;
        for (const wchar_t* p = text; *p != L'\0'; ++p) {
            if (*p == L'\\')
                last = p;
        }
        if (last == nullptr)
            break;
        rest.insert(0, last);
        WString parent;
        parent.AssignSubstring(text, 1, static_cast<int>(last - text));
        existing = std::move(parent);
    }
    return normal;   // nothing could be resolved: the spelling is all there is
}

namespace {

// Into itself the tree would grow without end; out of its own child the
// child would be emptied into itself. Both paths as they finally resolve.
bool Nested(const WString& from, const WString& to)
{
    return IsSameOrBelow(to.Text(), from.Text()) || IsSameOrBelow(from.Text(), to.Text());
}

bool SoundPaths(FolderMove& move, WString& from, WString& to)
{
    from = FinalFolderPath(move.source.Text());
    to = FinalFolderPath(move.destination.Text());
    move.refused = from.IsEmpty() || to.IsEmpty() || Nested(from, to);
    return !move.refused;
}

}  // namespace

uint64_t MoveFolderContents(FolderMove& move)
{
    move.notMoved = 0;
    move.left.clear();
    // By name first, so that a destination inside the source is never made.
    WString from, to;
    if (!SoundPaths(move, from, to))
        return 0;
    UniqueFileHandle ownSource, ownDestination;
    HANDLE source = move.sourceFolder, destination = move.destinationFolder;
    WalkRoot why = WalkRoot::Walked;
    if (source == nullptr) {
        ownSource = OpenFolderPath(move.source.Text(), kMoveSourceAccess, false, why);
        source = ownSource.Get();
    }
    if (source != nullptr && destination == nullptr) {
        // Made by name and opened as itself (no link in its place): callers
        // whose destination may be another's to swap hand it over opened.
        const DWORD access = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_ATTRIBUTES;
        ownDestination = CreateDirectoryPath(to.Text()) ? OpenFolderItself(to.Text(), access, why) : UniqueFileHandle();
        destination = ownDestination.Get();
    }
    // What the handles really are is what counts from here on: the names
    // may lead elsewhere by now.
    move.refused = source == nullptr || destination == nullptr || !FinalPathOf(source, from) ||
                   !FinalPathOf(destination, to);
    if (!move.refused) {
        TrimTrailingBackslashes(from);
        TrimTrailingBackslashes(to);
        move.refused = Nested(from, to);
    }
    if (move.refused)
        return 0;
    HANDLE into = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), destination, GetCurrentProcess(), &into, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        move.refused = true;
        return 0;
    }
    TreeMeasure total = MeasureOpenedTree(source);
    move.progress.filesDone = 0;
    move.progress.bytesDone = 0;
    move.progress.filesTotal = total.files;
    move.progress.bytesTotal = total.bytes;
    move.progress.measured = true;
    Mover(move, std::make_shared<DestinationFolder>(DestinationFolder{UniqueFileHandle(into), false})).Run(source);
    return move.notMoved;
}

uint64_t MoveTree(const wchar_t* source, const wchar_t* destination, DWORD flags, uint32_t maxDepth)
{
    WString from, to;
    if (!AbsoluteLongPath(source, from) || !AbsoluteLongPath(destination, to) || IsVolumeRoot(from.Text()) ||
        IsVolumeRoot(to.Text()) || IsSameOrBelow(to.Text(), from.Text()))
        return 1;
    const DWORD attributes = GetFileAttributesW(from.Text());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? 0 : 1;
    // Into itself the tree would grow without end, whatever names hide it.
    WString fromFinal = FinalFolderPath(from.Text()), toFinal = FinalFolderPath(to.Text());
    if (fromFinal.IsEmpty() || toFinal.IsEmpty() || IsSameOrBelow(toFinal.Text(), fromFinal.Text()))
        return 1;
    // A link is moved as the link itself or not at all, and only where the
    // platform provably opens the link itself (Wine would rename the target).
    if (IsLink(attributes)) {
        if (!OpenEntryItself(from.Text(), DELETE))
            return 1;
        return MoveFileExW(from.Text(), to.Text(), flags & MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
    }
    if (MoveFileExW(from.Text(), to.Text(), flags))
        return 0;
    if (!IsFolder(attributes))
        return 1;   // a file that could not be moved stays; no folder appears in its place
    WalkRoot why = WalkRoot::Walked;
    UniqueFileHandle emptied = OpenFolderPath(from.Text(), kMoveSourceAccess, false, why);
    if (!emptied)
        return 1;
    FolderMove move;
    move.owner = &move;
    move.source = std::move(from);
    move.destination = std::move(to);
    move.flags = flags;
    move.maxDepth = maxDepth;
    move.sourceFolder = emptied.Get();
    const uint64_t notMoved = MoveFolderContents(move);
    if (move.refused)
        return 1;
    if (notMoved == 0)
        DeleteByHandle(emptied.Get());
    return notMoved;
}

DWORD WINAPI MoveFolderThread(void* parameter)
{
    auto* move = static_cast<FolderMove*>(parameter);
    if (move == nullptr || move->owner == nullptr || move->destination.IsEmpty() || move->source.IsEmpty())
        return 0;
    try {
        MoveFolderContents(*move);
    } catch (...) {
        // Out of memory for the walk's lists: what was moved is moved, what
        // was not is still whole at the source; the caller says it failed.
        return 0;
    }
    return move->refused ? 0 : 1;
}

const wchar_t* LeftReasonText(LeftReason reason)
{
    switch (reason) {
    case LeftReason::InUse: return L"in use by another application, or access denied";
    case LeftReason::Exists: return L"a file of that name is already at the new location";
    case LeftReason::Link: return L"a link to another folder (links are not moved)";
    case LeftReason::CopyFailed: return L"the copy could not be completed";
    case LeftReason::TooDeep: return L"too many folder levels";
    case LeftReason::FolderFailed: return L"the folder could not be created at the new location";
    case LeftReason::OtherNames: return L"a hard link: the file has other names elsewhere (it is not copied)";
    }
    return L"";
}

bool WriteLeftBehindList(const wchar_t* file, const wchar_t* source, const std::vector<LeftEntry>& left)
{
    std::wstring text(1, static_cast<wchar_t>(0xFEFF));
    text += L"These items could not be moved and are still in ";
    text += source != nullptr ? source : L"";
    text += L":\r\n\r\n";
    for (const LeftEntry& entry : left) {
        const wchar_t* path = entry.path.Text();
        if (path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\')
            path += 4;
        text += path;
        text += L"\t";
        text += LeftReasonText(entry.reason);
        text += L"\r\n";
    }
    // Into a folder of the operator's, which programs of its own can write:
    // no link planted at the name is written through.
    return WriteFileAtPath(file, text.data(), text.size() * sizeof(wchar_t)) == PlacedFile::Written;
}
