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

namespace {

constexpr DWORD kCopyBufferSize = 1024 * 1024;

WString LongPath(const wchar_t* path)
{
    WString copy(path);
    copy.AddLongPathPrefix();
    TrimTrailingBackslashes(copy);
    return copy;
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

uint64_t SizeOf(const WIN32_FIND_DATAW& entry)
{
    return (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

struct Pending {
    WString from;
    WString to;
    uint32_t depth;
};

// One file to be copied across volumes.
struct FileJob {
    WString from;
    WString to;
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
// fill the memory with waiting paths.
class CopyPool {
public:
    using Work = std::function<void(FileJob&, CopyContext&)>;

    explicit CopyPool(Work work) : work_(std::move(work))
    {
        const unsigned cores = std::thread::hardware_concurrency();
        const unsigned threads = cores < 2 ? 2 : (cores > 3 ? 4 : cores + 1);
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

class Mover {
public:
    explicit Mover(FolderMove& move) : move_(move), replace_((move.flags & MOVEFILE_REPLACE_EXISTING) != 0) {}

    void Run(const WString& from, const WString& to)
    {
        std::vector<Pending> stack;
        std::vector<WString> visited;   // subfolders, parents before children
        stack.push_back(Pending{WString(from.Text()), WString(to.Text()), 0});
        {
            CopyPool pool([this](FileJob& job, CopyContext& context) { CopyAcross(job, context); });
            pool_ = &pool;
            while (!stack.empty()) {
                Pending folder = std::move(stack.back());
                stack.pop_back();
                MoveEntries(folder, stack);
                if (folder.depth > 0)
                    visited.push_back(std::move(folder.from));
            }
            pool.Finish();
            pool_ = nullptr;
        }
        // Children were visited after their parents: removing in reverse
        // empties each folder before its parent is tried. A folder that
        // still holds something is refused by the system and stays.
        for (auto folder = visited.rbegin(); folder != visited.rend(); ++folder) {
            if (RemoveDirectoryW(folder->Text()))
                continue;
            // A read-only folder may be refused for that alone; one that
            // stays keeps the attributes it had.
            const DWORD attributes = GetFileAttributesW(folder->Text());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0)
                continue;
            SetFileAttributesW(folder->Text(), attributes & ~FILE_ATTRIBUTE_READONLY);
            if (!RemoveDirectoryW(folder->Text()))
                SetFileAttributesW(folder->Text(), attributes);
        }
    }

private:
    FolderMove& move_;
    const bool replace_;
    bool sameVolume_ = true;   // until a rename says otherwise
    CopyPool* pool_ = nullptr; // while the walk runs
    std::mutex leftLock_;      // the copying threads add to the list too

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

    void MoveEntries(Pending& folder, std::vector<Pending>& stack)
    {
        if (!CreateDirectoryW(folder.to.Text(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            TreeMeasure rest = MeasureTree(folder.from.Text());
            Leave(folder.from.Text(), LeftReason::FolderFailed, rest.files, rest.bytes);
            return;
        }
        WString pattern = JoinPath(folder.from.Text(), L"*");
        DirectoryIterator entries(pattern.Text(), 0);
        while (entries.Next()) {
            const WIN32_FIND_DATAW& entry = entries.Entry();
            WString from = JoinPath(folder.from.Text(), entry.cFileName);
            WString to = JoinPath(folder.to.Text(), entry.cFileName);
            if (IsLink(entry.dwFileAttributes)) {
                Leave(from.Text(), LeftReason::Link, 0, 0);
                continue;
            }
            if (!IsFolder(entry.dwFileAttributes)) {
                MoveFile(from, to, entry);
                continue;
            }
            if (folder.depth + 1 >= kMoveDepthLimit) {
                TreeMeasure rest = MeasureTree(from.Text());
                Leave(from.Text(), LeftReason::TooDeep, rest.files, rest.bytes);
                continue;
            }
            // On one volume a whole folder moves with one rename, when its
            // name is free at the destination.
            if (sameVolume_ && GetFileAttributesW(to.Text()) == INVALID_FILE_ATTRIBUTES) {
                if (MoveFileExW(from.Text(), to.Text(), 0)) {
                    TreeMeasure moved = MeasureTree(to.Text());
                    Advance(moved.files, moved.bytes);
                    continue;
                }
                if (GetLastError() == ERROR_NOT_SAME_DEVICE)
                    sameVolume_ = false;
            }
            if (CreateDirectoryW(to.Text(), nullptr))
                SetFileAttributesW(to.Text(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_DIRECTORY);
            stack.push_back(Pending{std::move(from), std::move(to), folder.depth + 1});
        }
    }

    void MoveFile(const WString& from, const WString& to, const WIN32_FIND_DATAW& entry)
    {
        const uint64_t size = SizeOf(entry);
        if (sameVolume_) {
            if (MoveFileExW(from.Text(), to.Text(), replace_ ? MOVEFILE_REPLACE_EXISTING : 0)) {
                Advance(1, size);
                return;
            }
            const DWORD error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
                Leave(from.Text(), LeftReason::Exists, 1, size);
                return;
            }
            if (error != ERROR_NOT_SAME_DEVICE) {
                Leave(from.Text(), LeftReason::InUse, 1, size);
                return;
            }
            sameVolume_ = false;
        }
        pool_->Add(FileJob{WString(from.Text()), WString(to.Text()), entry.dwFileAttributes, size});
    }

    void CopyAcross(FileJob& job, CopyContext& context)
    {
        context.counted = 0;
        LeftReason why = LeftReason::InUse;
        const bool moved = CopyThenRemove(job.from, job.to, job.attributes, context, why);
        // The bytes of a large file are counted as they are copied.
        const uint64_t rest = job.size > context.counted ? job.size - context.counted : 0;
        if (moved)
            Advance(1, rest);
        else
            Leave(job.from.Text(), why, 1, rest);
    }

    // Across volumes: copy, check, and only then remove the original.
    bool CopyThenRemove(const WString& from, const WString& to, DWORD attributes, CopyContext& context,
                        LeftReason& why)
    {
        why = LeftReason::InUse;
        // A read-only original cannot be removed through its handle; the
        // attribute goes back on if the move does not complete.
        const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (readOnly && !SetFileAttributesW(from.Text(), attributes & ~FILE_ATTRIBUTE_READONLY))
            return false;

        // DELETE now, so that the file removed is the one copied; sharing
        // only reading, so that nobody changes it while it is copied, and
        // a file another program holds open for writing is refused here.
        UniqueFileHandle source(CreateFileW(from.Text(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        bool moved = false;
        if (source) {
            bool existed = false;
            moved = Copy(source.Get(), to, attributes, context, existed, why);
            if (moved) {
                FILE_DISPOSITION_INFO dispose{};
                dispose.DeleteFile = TRUE;
                if (!SetFileInformationByHandle(source.Get(), FileDispositionInfo, &dispose, sizeof(dispose))) {
                    // The original stays, so the copy goes unless it replaced
                    // a file that was there before (that one is gone either way).
                    if (!existed) {
                        SetFileAttributesW(to.Text(), FILE_ATTRIBUTE_NORMAL);
                        DeleteFileW(to.Text());
                    }
                    why = LeftReason::InUse;
                    moved = false;
                }
            }
            source.Reset();
        }
        if (!moved && readOnly)
            SetFileAttributesW(from.Text(), attributes);
        return moved;
    }

    // The copy is made with the original's attributes (read-only last, so
    // that it can be written) and times; false, with the reason, when it
    // could not be made whole, and then no partial copy stays behind.
    bool Copy(HANDLE source, const WString& to, DWORD attributes, CopyContext& context, bool& existed,
              LeftReason& why)
    {
        why = LeftReason::InUse;
        LARGE_INTEGER sourceSize{};
        FILETIME created{}, accessed{}, written{};
        if (!GetFileSizeEx(source, &sourceSize) || !GetFileTime(source, &created, &accessed, &written))
            return false;
        const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        const DWORD access = GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE;
        // Made new where the name is free, which also tells whether it was.
        existed = false;
        UniqueFileHandle target(
            CreateFileW(to.Text(), access, 0, nullptr, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN | kept, nullptr));
        if (!target && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)) {
            existed = true;
            if (!replace_) {
                why = LeftReason::Exists;
                return false;
            }
            SetFileAttributesW(to.Text(), FILE_ATTRIBUTE_NORMAL);
            target.Reset(
                CreateFileW(to.Text(), access, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN | kept, nullptr));
        }
        if (!target) {
            why = existed ? LeftReason::InUse : LeftReason::CopyFailed;
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
            FILE_DISPOSITION_INFO dispose{};
            dispose.DeleteFile = TRUE;
            SetFileInformationByHandle(target.Get(), FileDispositionInfo, &dispose, sizeof(dispose));
            return false;
        }
        SetFileTime(target.Get(), &created, &accessed, &written);
        target.Reset();
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
            SetFileAttributesW(to.Text(), kept | FILE_ATTRIBUTE_READONLY);
        return true;
    }
};

}  // namespace

TreeMeasure MeasureTree(const wchar_t* path)
{
    TreeMeasure measure;
    struct Level {
        WString folder;
        uint32_t depth;
    };
    std::vector<Level> stack;
    stack.push_back(Level{LongPath(path), 0});
    while (!stack.empty()) {
        Level level = std::move(stack.back());
        stack.pop_back();
        WString pattern = JoinPath(level.folder.Text(), L"*");
        DirectoryIterator entries(pattern.Text(), 0);
        while (entries.Next()) {
            if (entries.IsReparsePoint()) {
                ++measure.links;
            } else if (entries.IsDirectory()) {
                ++measure.folders;
                if (level.depth + 1 < kMoveDepthLimit)
                    stack.push_back(Level{JoinPath(level.folder.Text(), entries.Name()), level.depth + 1});
            } else {
                ++measure.files;
                measure.bytes += entries.Size();
            }
        }
    }
    return measure;
}

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
        if (IsNormalizedVolumeRoot(existing.Text()))
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
    WString from, to;
    if (!SoundPaths(move, from, to))
        return 0;
    const DWORD attributes = GetFileAttributesW(LongPath(from.Text()).Text());
    if (attributes == INVALID_FILE_ATTRIBUTES || !IsFolder(attributes) || IsLink(attributes)) {
        move.refused = true;
        return 0;
    }
    TreeMeasure total = MeasureTree(from.Text());
    move.progress.filesDone = 0;
    move.progress.bytesDone = 0;
    move.progress.filesTotal = total.files;
    move.progress.bytesTotal = total.bytes;
    move.progress.measured = true;
    Mover(move).Run(LongPath(from.Text()), LongPath(to.Text()));
    return move.notMoved;
}

DWORD WINAPI MoveFolderThread(void* parameter)
{
    auto* move = static_cast<FolderMove*>(parameter);
    if (move == nullptr || move->owner == nullptr || move->destination.IsEmpty() || move->source.IsEmpty())
        return 0;
    // Refused before anything is created.
    WString from, to;
    if (!SoundPaths(*move, from, to) || !CreateDirectoryPath(move->destination.Text()))
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
    }
    return L"";
}

bool WriteLeftBehindList(const wchar_t* file, const wchar_t* source, const std::vector<LeftEntry>& left)
{
    UniqueFileHandle handle(CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!handle)
        return false;
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
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t)), written = 0;
    return WriteFile(handle.Get(), text.data(), bytes, &written, nullptr) && written == bytes;
}
