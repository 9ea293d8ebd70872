#include "platform/tree_walk.h"

#include <winternl.h>

#include <deque>
#include <utility>
#include <vector>

#include "platform/file_rules.h"
#include "platform/text_win.h"

// Declared here: the headers of some toolchains leave them out.
extern "C" NTSTATUS NTAPI NtSetInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                               FILE_INFORMATION_CLASS informationClass);
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apc, PVOID context,
                                               PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                               FILE_INFORMATION_CLASS informationClass, BOOLEAN single,
                                               PUNICODE_STRING name, BOOLEAN restart);

namespace {

// The relative open is the one job without a documented Win32 call.
constexpr ULONG kOpenReparsePoint = 0x00200000;   // FILE_OPEN_REPARSE_POINT
constexpr ULONG kOpenForBackup = 0x00004000;      // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kSynchronousIo = 0x00000020;      // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kDirectoryFile = 0x00000001;      // FILE_DIRECTORY_FILE
constexpr ULONG kNonDirectoryFile = 0x00000040;   // FILE_NON_DIRECTORY_FILE
constexpr ULONG kDeleteOnClose = 0x00001000;      // FILE_DELETE_ON_CLOSE
constexpr ULONG kFileOpen = 1;                    // FILE_OPEN
constexpr ULONG kFileCreate = 2;                  // FILE_CREATE
constexpr ULONG kFileOpenIf = 3;                  // FILE_OPEN_IF
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileBasicInformation = 4;
constexpr ULONG kFileInternalInformation = 6;
constexpr ULONG kFileIdBothDirectoryInformation = 37;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kListAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

bool Refusal(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_PRIVILEGE_NOT_HELD;
}

// NtCreateFile with `parent` as the root directory: the name is looked up
// in the folder behind the handle, whatever has become of its path.
UniqueFileHandle OpenRelative(HANDLE parent, const wchar_t* name, DWORD access, ULONG disposition, ULONG options,
                              ULONG attributes = 0, ULONG_PTR* outcome = nullptr, DWORD share = kShareAll,
                              bool exactCase = false)
{
    const size_t length = wcslen(name);
    if (length == 0 || length > 32767) {
        SetLastError(ERROR_INVALID_NAME);
        return UniqueFileHandle();
    }
    UNICODE_STRING text;
    text.Buffer = const_cast<wchar_t*>(name);
    text.Length = text.MaximumLength = static_cast<USHORT>(length * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, exactCase ? 0 : OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE opened = nullptr;
    const NTSTATUS result =
        NtCreateFile(&opened, access | SYNCHRONIZE, &object, &status, nullptr, attributes, share, disposition,
                     options | kOpenReparsePoint | kOpenForBackup | kSynchronousIo, nullptr, 0);
    if (!NT_SUCCESS(result)) {
        SetLastError(RtlNtStatusToDosError(result));
        return UniqueFileHandle();
    }
    if (outcome != nullptr)
        *outcome = status.Information;
    return UniqueFileHandle(opened);
}

// The id and attributes of an opened object, from the file system alone.
// The platform's combined query also asks the volume manager for the
// volume's serial number, which costs far more than all the rest (under
// Wine a round trip to another process, half a millisecond).
bool IdAndAttributes(HANDLE object, int64_t& id, uint32_t& attributes)
{
    IO_STATUS_BLOCK status{};
    FILE_BASIC_INFORMATION basic{};
    LARGE_INTEGER index{};
    if (!NT_SUCCESS(NtQueryInformationFile(object, &status, &basic, sizeof(basic),
                                           static_cast<FILE_INFORMATION_CLASS>(kFileBasicInformation))) ||
        !NT_SUCCESS(NtQueryInformationFile(object, &status, &index, sizeof(index),
                                           static_cast<FILE_INFORMATION_CLASS>(kFileInternalInformation))))
        return false;
    id = index.QuadPart;
    attributes = basic.FileAttributes;
    return true;
}

// The object behind a freshly opened handle is what the listing showed: the
// same file id, the same kind, and no link. Some systems (Wine) follow a
// link even when asked not to, so a folder swapped for a link after the
// listing shows up here as another file id.
bool IsListedObject(HANDLE opened, const TreeEntry& entry)
{
    int64_t id = 0;
    uint32_t attributes = 0;
    if (!IdAndAttributes(opened, id, attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != entry.IsFolder())
        return false;
    // File systems without ids list 0; their handles still tell the kind.
    return entry.fileId == 0 || id == entry.fileId;
}

// A folder is also where its name says: its final path is its parent's and
// its name, so it lies on the root's volume and no link or mount point led
// there. (A file can only reach another volume through a link, or through a
// folder on the way that these checks refused.) Where the platform cannot
// give a final path that long (Wine, some hundred levels down), the same is
// asked of the names the system gives the folder and its parent, which carry
// the volume's device; `finalPath` then stays empty and `objectName` holds
// the folder's, for the level below. The parent's is asked only at the first
// such level.
bool IsInPlace(HANDLE opened, const TreeFolder& folder, const TreeEntry& entry, WString& finalPath,
               WString& objectName)
{
    WString expected;
    if (folder.finalPath != nullptr && *folder.finalPath != L'\0' && FinalPathOf(opened, finalPath)) {
        expected.Assign(folder.finalPath);
        expected.Append(L"\\", entry.name.Text());
        return EqualsNoCase(finalPath.Text(), expected.Text());
    }
    finalPath.Assign(L"");
    if (folder.objectName != nullptr && *folder.objectName != L'\0')
        expected.Assign(folder.objectName);
    else if (!ObjectNameOf(folder.handle, expected))
        return false;
    expected.Append(L"\\", entry.name.Text());
    return ObjectNameOf(opened, objectName) && EqualsNoCase(objectName.Text(), expected.Text());
}

// OpenTreeEntry, handing back a folder's final path for the level it opens.
UniqueFileHandle OpenChecked(const TreeFolder& folder, const TreeEntry& entry, DWORD access, DWORD share,
                             WString* finalPath, WString* objectName = nullptr)
{
    // A link is never opened: some systems would hand over its target.
    if (entry.IsLink() || entry.name.Text()[0] == L'\0') {
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return UniqueFileHandle();
    }
    UniqueFileHandle opened = OpenRelative(folder.handle, entry.name.Text(), access, kFileOpen,
                                           entry.IsFolder() ? kDirectoryFile : kNonDirectoryFile, 0, nullptr, share);
    if (!opened)
        return opened;
    WString ownPath, ownName;
    if (!IsListedObject(opened.Get(), entry) ||
        (entry.IsFolder() && !IsInPlace(opened.Get(), folder, entry, finalPath != nullptr ? *finalPath : ownPath,
                                        objectName != nullptr ? *objectName : ownName))) {
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return UniqueFileHandle();
    }
    return opened;
}

// Lists a folder through its handle, "." and ".." left out. False when the
// listing failed: such a folder is never taken for empty.
bool ListFolder(HANDLE folder, std::vector<TreeEntry>& entries, std::vector<uint64_t>& buffer)
{
    entries.clear();
    if (buffer.empty())
        buffer.resize(64 * 1024 / sizeof(uint64_t));   // 8-byte aligned, as the records need
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
    bool first = true;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                                          buffer.data(), bytes)) {
            const DWORD error = GetLastError();
            return error == ERROR_NO_MORE_FILES || (first && error == ERROR_FILE_NOT_FOUND);
        }
        first = false;
        const BYTE* at = reinterpret_cast<const BYTE*>(buffer.data());
        for (;;) {
            const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const size_t length = record->FileNameLength / sizeof(wchar_t);
            const bool dots = (length == 1 && record->FileName[0] == L'.') ||
                              (length == 2 && record->FileName[0] == L'.' && record->FileName[1] == L'.');
            if (!dots && length > 0) {
                TreeEntry entry;
                entry.name.AssignSubstring(record->FileName, 1, static_cast<int>(length));
                entry.attributes = record->FileAttributes;
                entry.size = static_cast<uint64_t>(record->EndOfFile.QuadPart);
                entry.fileId = record->FileId.QuadPart;
                entries.push_back(std::move(entry));
            }
            if (record->NextEntryOffset == 0)
                break;
            at += record->NextEntryOffset;
        }
    }
}

// One folder of the walk: held open until everything below it is done.
struct Level {
    UniqueFileHandle handle;
    WString finalPath;
    WString objectName;
    TreeEntry entry;
    TreeFolder folder;
    std::vector<TreeEntry> subfolders;
    size_t next = 0;
};

class Walker {
public:
    Walker(TreeVisitor& visitor, uint32_t maxDepth, const wchar_t* rootPath)
        : visitor_(visitor), maxDepth_(maxDepth), rootPath_(rootPath)
    {
    }

    void Run(UniqueFileHandle root, WString rootFinal)
    {
        Level& top = levels_.emplace_back();
        top.handle = std::move(root);
        top.finalPath = std::move(rootFinal);
        top.folder.finalPath = top.finalPath.Text();
        top.folder.handle = top.handle.Get();
        top.folder.rootPath = rootPath_;
        if (!visitor_.OnEnter(top.folder)) {
            levels_.clear();
            return;
        }
        Visit(top);
        while (!levels_.empty()) {
            Level& level = levels_.back();
            if (level.next < level.subfolders.size()) {
                const TreeEntry& child = level.subfolders[level.next++];
                Descend(level, child);
                continue;
            }
            visitor_.OnLeave(level.folder);
            levels_.pop_back();
            pacer_.Pump();
        }
    }

private:
    TreeVisitor& visitor_;
    const uint32_t maxDepth_;
    const wchar_t* rootPath_;
    std::deque<Level> levels_;   // references stay valid as levels come and go at the back
    std::vector<TreeEntry> listed_;
    std::vector<uint64_t> buffer_;
    MessagePacer pacer_;

    // Opens a listed entry with the walk's checks; asks the visitor once
    // when refused.
    UniqueFileHandle Open(const TreeFolder& folder, const TreeEntry& entry, DWORD access, WalkFailure& why,
                          WString* finalPath = nullptr, WString* objectName = nullptr)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            UniqueFileHandle opened = OpenChecked(folder, entry, access, kShareAll, finalPath, objectName);
            if (opened)
                return opened;
            const DWORD error = GetLastError();
            why = IsNotFoundError(error) ? WalkFailure::Gone
                  : Refusal(error)       ? WalkFailure::Refused
                                         : WalkFailure::Changed;
            // Only the entry's security can be mended; a file in use stays in use.
            if (error != ERROR_ACCESS_DENIED || attempt > 0 || !visitor_.OnRefused(folder, entry))
                break;
        }
        return UniqueFileHandle();
    }

    // Lists one open folder: files and links are handed over at once,
    // subfolders kept for later so that one listing is open at a time.
    void Visit(Level& level)
    {
        if (!ListFolder(level.folder.handle, listed_, buffer_)) {
            visitor_.OnFailure(level.folder, nullptr, WalkFailure::NotListed);
            return;
        }
        const bool top = level.folder.depth == 0;
        const DWORD fileAccess = visitor_.FileAccess();
        for (TreeEntry& entry : listed_) {
            if (top && !visitor_.Wanted(entry))
                continue;
            if (entry.IsLink()) {
                visitor_.OnLink(level.folder, entry);
            } else if (entry.IsFolder()) {
                level.subfolders.push_back(std::move(entry));
                continue;
            } else if (visitor_.TakeListedFile(level.folder, entry)) {
                // dealt with by name inside the held folder
            } else if (fileAccess == 0) {
                visitor_.OnFile(level.folder, entry, INVALID_HANDLE_VALUE);
            } else {
                WalkFailure why = WalkFailure::Changed;
                UniqueFileHandle file = Open(level.folder, entry, fileAccess, why);
                if (file)
                    visitor_.OnFile(level.folder, entry, file.Get());
                else
                    visitor_.OnFailure(level.folder, &entry, why);
            }
            pacer_.Pump();
        }
    }

    void Descend(Level& parent, const TreeEntry& child)
    {
        if (parent.folder.depth + 1 > maxDepth_) {
            visitor_.OnFailure(parent.folder, &child, WalkFailure::TooDeep);
            return;
        }
        WalkFailure why = WalkFailure::Changed;
        WString finalPath, objectName;
        UniqueFileHandle opened =
            Open(parent.folder, child, kListAccess | visitor_.FolderAccess(), why, &finalPath, &objectName);
        if (!opened) {
            visitor_.OnFailure(parent.folder, &child, why);
            return;
        }
        Level& level = levels_.emplace_back();
        level.handle = std::move(opened);
        level.finalPath = std::move(finalPath);
        level.entry.name.Assign(child.name.Text());
        level.entry.attributes = child.attributes;
        level.entry.size = child.size;
        level.entry.fileId = child.fileId;
        level.folder.handle = level.handle.Get();
        level.folder.parent = &parent.folder;
        level.folder.entry = &level.entry;
        level.folder.depth = parent.folder.depth + 1;
        level.folder.rootPath = rootPath_;
        level.folder.finalPath = level.finalPath.Text();
        level.objectName = std::move(objectName);
        level.folder.objectName = level.objectName.Text();
        if (!visitor_.OnEnter(level.folder)) {
            levels_.pop_back();
            return;
        }
        Visit(level);
    }
};

}  // namespace

WString TreeFolder::DisplayPath() const
{
    if (parent == nullptr || entry == nullptr)
        return WString(rootPath != nullptr ? rootPath : L"");
    return parent->DisplayPathOf(*entry);
}

WString TreeFolder::DisplayPathOf(const TreeEntry& child) const
{
    WString path = DisplayPath();
    path.Append(L"\\", child.name.Text());
    return path;
}

UniqueFileHandle OpenTreeEntry(const TreeFolder& folder, const TreeEntry& entry, DWORD access, DWORD share)
{
    return OpenChecked(folder, entry, access, share, nullptr);
}

UniqueFileHandle OpenFolderItself(const wchar_t* path, DWORD access, WalkRoot& why)
{
    WString full;
    if (!AbsoluteLongPath(path, full) || IsVolumeRoot(full.Text())) {
        why = WalkRoot::BadPath;
        return UniqueFileHandle();
    }
    const DWORD attributes = GetFileAttributesW(full.Text());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        why = IsNotFoundError(error) ? WalkRoot::Missing : WalkRoot::Refused;
        return UniqueFileHandle();
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        why = WalkRoot::IsLink;
        return UniqueFileHandle();
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        why = WalkRoot::NotAFolder;
        return UniqueFileHandle();
    }
    UniqueFileHandle root = OpenEntryItself(full.Text(), access | kListAccess);
    if (!root) {
        why = Refusal(GetLastError()) ? WalkRoot::Refused : WalkRoot::IsLink;
        return root;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(root.Get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        why = WalkRoot::IsLink;   // it changed between the look and the open
        return UniqueFileHandle();
    }
    why = WalkRoot::Walked;
    return root;
}

WalkRoot WalkTree(const wchar_t* root, TreeVisitor& visitor, uint32_t maxDepth)
{
    WalkRoot why = WalkRoot::Walked;
    UniqueFileHandle opened = OpenFolderItself(root, visitor.FolderAccess(), why);
    if (!opened)
        return why;
    WString rootPath;
    AbsoluteLongPath(root, rootPath);
    WString rootFinal;
    if (!FinalPathOf(opened.Get(), rootFinal))
        return WalkRoot::Refused;
    TrimTrailingBackslashes(rootFinal);
    Walker(visitor, maxDepth, rootPath.Text()).Run(std::move(opened), std::move(rootFinal));
    return WalkRoot::Walked;
}

bool CurrentPathOf(const TreeFolder& folder, const TreeEntry& entry, WString& path)
{
    if (!FinalPathOf(folder.handle, path))
        return false;
    TrimTrailingBackslashes(path);
    return path.Append(L"\\", entry.name.Text());
}

bool RemoveFileEntry(const TreeFolder& folder, const TreeEntry& entry)
{
    if (entry.IsFolder() || entry.name.Text()[0] == L'\0')
        return false;
    // Nothing shared: a file another program holds stays, and is left to
    // the checked way, which can schedule it.
    return static_cast<bool>(OpenRelative(folder.handle, entry.name.Text(), DELETE, kFileOpen,
                                          kNonDirectoryFile | kDeleteOnClose, 0, nullptr, 0));
}

bool DeleteByHandle(HANDLE object)
{
    FILE_DISPOSITION_INFO dispose{};
    dispose.DeleteFile = TRUE;
    return SetFileInformationByHandle(object, FileDispositionInfo, &dispose, sizeof(dispose)) != FALSE;
}

bool RenameByHandle(HANDLE object, HANDLE into, const wchar_t* name, bool replace)
{
    const size_t length = wcslen(name) * sizeof(wchar_t);
    // The record ends in the name; the platform wants it 8-byte aligned.
    std::vector<uint64_t> record((offsetof(FILE_RENAME_INFO, FileName) + length + sizeof(uint64_t) * 2) /
                                 sizeof(uint64_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(record.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = into;
    info->FileNameLength = static_cast<DWORD>(length);
    memcpy(info->FileName, name, length);
    IO_STATUS_BLOCK status{};
    const NTSTATUS result =
        NtSetInformationFile(object, &status, info, static_cast<ULONG>(record.size() * sizeof(uint64_t)),
                             static_cast<FILE_INFORMATION_CLASS>(kFileRenameInformation));
    if (!NT_SUCCESS(result)) {
        SetLastError(RtlNtStatusToDosError(result));
        return false;
    }
    return true;
}

bool SetAttributesByHandle(HANDLE object, uint32_t attributes)
{
    FILE_BASIC_INFO basic{};   // zero times: left as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(object, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

namespace {

// The handle opened under `name` in `parent` is that entry itself, not
// something a link there leads to.
bool IsOwnEntry(HANDLE parent, HANDLE opened, const wchar_t* name)
{
    WString expected, actual;
    if (!FinalPathOf(parent, expected) || !FinalPathOf(opened, actual))
        return false;
    TrimTrailingBackslashes(expected);
    expected.Append(L"\\", name);
    BY_HANDLE_FILE_INFORMATION info{};
    return EqualsNoCase(actual.Text(), expected.Text()) && GetFileInformationByHandle(opened, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

UniqueFileHandle CreateFolderIn(HANDLE parent, const wchar_t* name, DWORD access, bool openExisting, bool* created)
{
    ULONG_PTR outcome = 0;
    UniqueFileHandle folder = OpenRelative(parent, name, access | kListAccess, openExisting ? kFileOpenIf : kFileCreate,
                                           kDirectoryFile, FILE_ATTRIBUTE_NORMAL, &outcome);
    if (folder && outcome != FILE_CREATED && !IsOwnEntry(parent, folder.Get(), name)) {
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return UniqueFileHandle();
    }
    if (created != nullptr)
        *created = folder && outcome == FILE_CREATED;
    return folder;
}

UniqueFileHandle CreateFileIn(HANDLE parent, const wchar_t* name, DWORD access, uint32_t attributes, bool replace,
                              bool exactCase)
{
    const ULONG fileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    UniqueFileHandle file =
        OpenRelative(parent, name, access, kFileCreate, kNonDirectoryFile, fileAttributes, nullptr, kShareAll, exactCase);
    if (file || !replace || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS))
        return file;
    // Replaced only when it is a file of its own there: removed through a
    // checked handle, then made anew, so no link's target is ever written.
    UniqueFileHandle existing =
        OpenRelative(parent, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kFileOpen, kNonDirectoryFile);
    if (!existing || !IsOwnEntry(parent, existing.Get(), name)) {
        SetLastError(ERROR_FILE_EXISTS);
        return UniqueFileHandle();
    }
    SetAttributesByHandle(existing.Get(), 0);
    if (!DeleteByHandle(existing.Get()))
        return UniqueFileHandle();
    existing.Reset();
    return OpenRelative(parent, name, access, kFileCreate, kNonDirectoryFile, fileAttributes);
}

namespace {

// The one entry `name` of an open folder, as a listing through its handle
// shows it (so a link there is seen as a link, whatever opening it would do).
bool ListedEntry(HANDLE folder, const wchar_t* name, TreeEntry& entry)
{
    const size_t length = wcslen(name);
    if (length == 0 || length > 255 || wcspbrk(name, L"*?<>\"\\/:") != nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    UNICODE_STRING mask;
    mask.Buffer = const_cast<wchar_t*>(name);
    mask.Length = mask.MaximumLength = static_cast<USHORT>(length * sizeof(wchar_t));
    std::vector<uint64_t> buffer((sizeof(FILE_ID_BOTH_DIR_INFO) + 512 * sizeof(wchar_t)) / sizeof(uint64_t) + 1);
    IO_STATUS_BLOCK status{};
    const NTSTATUS result = NtQueryDirectoryFile(
        folder, nullptr, nullptr, nullptr, &status, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(uint64_t)),
        static_cast<FILE_INFORMATION_CLASS>(kFileIdBothDirectoryInformation), TRUE, &mask, TRUE);
    if (!NT_SUCCESS(result)) {
        const DWORD error = RtlNtStatusToDosError(result);
        SetLastError(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error);
        return false;
    }
    const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data());
    entry.name.AssignSubstring(record->FileName, 1, static_cast<int>(record->FileNameLength / sizeof(wchar_t)));
    entry.attributes = record->FileAttributes;
    entry.size = static_cast<uint64_t>(record->EndOfFile.QuadPart);
    entry.fileId = record->FileId.QuadPart;
    return true;
}

// "\\?\C:\a\b" split into its volume's root folder ("\\?\C:\") and the
// names below it; false for a path that is no more than a root.
bool SplitBelowRoot(const WString& full, WString& root, StringList& names)
{
    const wchar_t* text = full.Text();
    const wchar_t* rest = nullptr;
    if (wcsncmp(text, L"\\\\?\\UNC\\", 8) == 0) {
        const wchar_t* server = wcschr(text + 8, L'\\');
        const wchar_t* share = server != nullptr ? wcschr(server + 1, L'\\') : nullptr;
        rest = share;
    } else if (wcsncmp(text, L"\\\\?\\", 4) == 0 && text[4] != L'\0' && text[5] == L':') {
        rest = text[6] == L'\\' ? text + 6 : nullptr;
    }
    if (rest == nullptr || rest[1] == L'\0')
        return false;
    root.AssignSubstring(text, 1, static_cast<int>(rest - text) + 1);
    names.Split(rest + 1, L"\\");
    return names.Count() > 0;
}

}  // namespace

UniqueFileHandle OpenFolderPath(const wchar_t* path, DWORD access, bool create, WalkRoot& why, bool* made)
{
    if (made != nullptr)
        *made = false;
    WString full, rootPath;
    StringList names;
    if (!AbsoluteLongPath(path, full) || !SplitBelowRoot(full, rootPath, names)) {
        why = WalkRoot::BadPath;
        return UniqueFileHandle();
    }
    UniqueFileHandle folder(CreateFileW(rootPath.Text(), kListAccess, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    WString finalPath;
    if (!folder || !FinalPathOf(folder.Get(), finalPath)) {
        why = folder || Refusal(GetLastError()) ? WalkRoot::Refused : WalkRoot::Missing;
        return UniqueFileHandle();
    }
    TrimTrailingBackslashes(finalPath);
    for (uint32_t i = 0; i < names.Count(); ++i) {
        const wchar_t* name = names[i];
        const bool last = i + 1 == names.Count();
        const DWORD wanted = kListAccess | (last ? access : (create ? FILE_ADD_SUBDIRECTORY : 0));
        if (name[0] == L'\0' || wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) {
            why = WalkRoot::BadPath;
            return UniqueFileHandle();
        }
        TreeEntry entry;
        UniqueFileHandle next;
        WString nextFinal;
        TreeFolder parent;
        parent.handle = folder.Get();
        parent.finalPath = finalPath.Text();
        if (ListedEntry(folder.Get(), name, entry)) {
            if (entry.IsLink() || !entry.IsFolder()) {
                why = entry.IsLink() ? WalkRoot::IsLink : WalkRoot::NotAFolder;
                return UniqueFileHandle();
            }
            // The walker's own checks: the listed id and kind, no link, and
            // where its parent and name say.
            next = OpenChecked(parent, entry, wanted, kShareAll, &nextFinal);
            if (!next) {
                why = Refusal(GetLastError()) ? WalkRoot::Refused : WalkRoot::IsLink;
                return UniqueFileHandle();
            }
            if (nextFinal.IsEmpty() && !FinalPathOf(next.Get(), nextFinal)) {
                why = WalkRoot::Refused;
                return UniqueFileHandle();
            }
        } else if (create && IsNotFoundError(GetLastError())) {
            // Made new here, so nothing can stand in its place: a name that
            // appears meanwhile is refused.
            ULONG_PTR outcome = 0;
            next = OpenRelative(folder.Get(), name, wanted, kFileCreate, kDirectoryFile, FILE_ATTRIBUTE_NORMAL,
                                &outcome);
            if (!next || outcome != FILE_CREATED || !FinalPathOf(next.Get(), nextFinal)) {
                why = WalkRoot::Refused;
                return UniqueFileHandle();
            }
            if (made != nullptr && last)
                *made = true;
        } else {
            why = IsNotFoundError(GetLastError()) ? WalkRoot::Missing : WalkRoot::Refused;
            return UniqueFileHandle();
        }
        TrimTrailingBackslashes(nextFinal);
        folder = std::move(next);
        finalPath = std::move(nextFinal);
    }
    why = WalkRoot::Walked;
    return folder;
}

WalkRoot WalkOpenedTree(HANDLE root, const wchar_t* displayPath, TreeVisitor& visitor, uint32_t maxDepth)
{
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), root, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return WalkRoot::Refused;
    UniqueFileHandle opened(copy);
    WString rootFinal;
    if (!FinalPathOf(opened.Get(), rootFinal))
        return WalkRoot::Refused;
    TrimTrailingBackslashes(rootFinal);
    const WString shown(displayPath != nullptr ? displayPath : rootFinal.Text());
    Walker(visitor, maxDepth, shown.Text()).Run(std::move(opened), std::move(rootFinal));
    return WalkRoot::Walked;
}

bool FolderIsEmpty(HANDLE folder)
{
    std::vector<TreeEntry> entries;
    std::vector<uint64_t> buffer(4096 / sizeof(uint64_t));
    return ListFolder(folder, entries, buffer) && entries.empty();
}

bool HasOtherNames(HANDLE file)
{
    FILE_STANDARD_INFO standard{};
    // A folder's count says something else on some systems (Wine counts its
    // subfolders' "..").
    return !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)) ||
           (!standard.Directory && standard.NumberOfLinks != 1);
}

PlacedFile WriteFileInFolder(HANDLE folder, const wchar_t* name, const void* bytes, size_t size)
{
    if (name == nullptr || *name == L'\0' || wcspbrk(name, L"\\/:*?\"<>|") != nullptr || wcscmp(name, L".") == 0 ||
        wcscmp(name, L"..") == 0 || size > MAXDWORD) {
        SetLastError(ERROR_INVALID_NAME);
        return PlacedFile::Failed;
    }
    {
        UniqueFileHandle existing = OpenRelative(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                                 kFileOpen, kNonDirectoryFile);
        const DWORD error = existing ? ERROR_SUCCESS : GetLastError();
        if (!existing && !IsNotFoundError(error))
            return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? PlacedFile::Failed
                                                                                     : PlacedFile::NameRefused;
        // Removing a name of a file with others would leave its data where
        // the other names are; writing through it would change them.
        if (existing && (!IsOwnEntry(folder, existing.Get(), name) || HasOtherNames(existing.Get())))
            return PlacedFile::NameRefused;
        if (existing) {
            SetAttributesByHandle(existing.Get(), 0);
            if (!DeleteByHandle(existing.Get()))
                return PlacedFile::Failed;
        }
    }
    // Made new: whatever stands at the name now (planted meanwhile) is refused.
    UniqueFileHandle file = OpenRelative(folder, name, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, kFileCreate,
                                         kNonDirectoryFile, FILE_ATTRIBUTE_NORMAL, nullptr, FILE_SHARE_READ);
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? PlacedFile::NameRefused
                                                                           : PlacedFile::Failed;
    }
    DWORD written = 0;
    if (size > 0 && (!WriteFile(file.Get(), bytes, static_cast<DWORD>(size), &written, nullptr) || written != size)) {
        DeleteByHandle(file.Get());
        return PlacedFile::Failed;
    }
    return PlacedFile::Written;
}

PlacedFile WriteFileAtPath(const wchar_t* path, const void* bytes, size_t size)
{
    WString full;
    if (!AbsoluteLongPath(path, full) || IsVolumeRoot(full.Text()))
        return PlacedFile::Failed;
    WString name(full.Text() + full.Find(L"\\", true, -1));
    WString parent(full.Text());
    parent.RemoveLastComponent();
    WalkRoot why = WalkRoot::Walked;
    UniqueFileHandle folder = OpenFolderItself(parent.Text(), FILE_ADD_FILE, why);
    if (!folder)
        return why == WalkRoot::IsLink ? PlacedFile::NameRefused : PlacedFile::Failed;
    return WriteFileInFolder(folder.Get(), name.Text(), bytes, size);
}
