#include "repair/tool_folder.h"

#include <aclapi.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/security.h"
#include "platform/tree_walk.h"
#include "platform/text_win.h"
#include "repair/repair_rules.h"

namespace {

// Opened on the object itself: a link is opened as the link.
UniqueFileHandle OpenForSecurity(const wchar_t* path)
{
    return UniqueFileHandle(CreateFileW(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
}

bool IsReparsePointHandle(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return true;   // what cannot be examined is not trusted
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The owner and DACL, made once for a whole folder.
struct ToolSecurity {
    LocalAcl dacl;
    LocalSid administrators;
    bool Make() { return BuildToolFolderDacl(dacl) && WellKnownSid(administrators, WinBuiltinAdministratorsSid); }
};

bool Secure(const wchar_t* path, const ToolSecurity& security)
{
    if (path == nullptr || *path == L'\0')
        return false;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    UniqueFileHandle object = OpenForSecurity(path);
    if (!object || IsReparsePointHandle(object.Get()))
        return false;
    // Protected: nothing inherited from the drive's root (where users may
    // create folders) reaches the tool's files.
    return SetHandleSecurity(object.Get(), security.dacl.Get(), security.administrators.Get(), true);
}

// Gives every entry below the tool folder the tool's owner and DACL through
// its own handle; a link is removed as the link, never entered.
class SecureVisitor : public TreeVisitor {
public:
    explicit SecureVisitor(const ToolSecurity& security) : security_(security) {}
    bool AllSecured() const { return all_; }

    DWORD FolderAccess() const override { return READ_CONTROL | WRITE_DAC | WRITE_OWNER; }
    DWORD FileAccess() const override { return READ_CONTROL | WRITE_DAC | WRITE_OWNER; }
    bool OnEnter(const TreeFolder& folder) override
    {
        if (folder.parent != nullptr)
            Apply(folder.handle);
        return true;
    }
    void OnFile(const TreeFolder&, const TreeEntry&, HANDLE file) override { Apply(file); }
    void OnLink(const TreeFolder& folder, const TreeEntry& entry) override
    {
        WString path;
        all_ &= CurrentPathOf(folder, entry, path) && DeletePath(path.Text(), 0) != kDeleteFailed;
    }
    void OnFailure(const TreeFolder&, const TreeEntry*, WalkFailure why) override
    {
        all_ &= why == WalkFailure::Gone;
    }

private:
    const ToolSecurity& security_;
    bool all_ = true;

    void Apply(HANDLE object)
    {
        // Protected: nothing inherited from the drive's root (where users may
        // create folders) reaches the tool's files.
        all_ &= SetHandleSecurity(object, security_.dacl.Get(), security_.administrators.Get(), true);
    }
};

bool SecureContents(const wchar_t* folder, const ToolSecurity& security)
{
    SecureVisitor visitor(security);
    return WalkTree(folder, visitor) == WalkRoot::Walked && visitor.AllSecured();
}

// More entries than the tool ever writes: the folder is not an earlier
// set-up's, whatever the rest holds.
constexpr uint32_t kMostToolFolderEntries = 16;
// Names tried when a folder is moved aside.
constexpr int kMoveAsideNames = 100;
constexpr DWORD kCompareChunk = 64 * 1024;

bool HasTrustedOwner(HANDLE object)
{
    PSID owner = nullptr;
    LocalSecurityDescriptor descriptor;
    if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.Put()) != ERROR_SUCCESS ||
        owner == nullptr)
        return false;
    return IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
}

// Made with its owner and protected DACL in one call: there is no moment at
// which the folder carries what the drive's root hands down, through which
// a user could open it for writing and keep the handle.
bool CreateSecuredFolder(const wchar_t* folder, const ToolSecurity& security)
{
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&descriptor, security.administrators.Get(), FALSE) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, security.dacl.Get(), FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    return CreateDirectoryW(folder, &attributes) != FALSE;
}

ToolFolderResult CreateToolFolder(const wchar_t* folder, const ToolSecurity& security)
{
    WString parent(folder);
    if (parent.RemoveLastComponent() && GetFileAttributesW(parent.Text()) == INVALID_FILE_ATTRIBUTES &&
        !CreateDirectoryPath(parent.Text()))
        return ToolFolderResult::Failed;
    // A folder that appeared since it was looked for is somebody else's.
    if (!CreateSecuredFolder(folder, security))
        return GetLastError() == ERROR_ALREADY_EXISTS ? ToolFolderResult::NotOurs : ToolFolderResult::Failed;
    // Again on its own handle: owner and DACL as meant, and no link.
    return Secure(folder, security) ? ToolFolderResult::Ready : ToolFolderResult::Failed;
}

// Whether the folder's entries are an earlier set-up's. Read after the
// folder itself was secured, so that nobody else can add an entry any more.
bool HoldsOnlyToolFiles(const wchar_t* folder)
{
    WString pattern = JoinPath(folder, L"*");
    DirectoryIterator listing(pattern.Text(), 0);
    if (!listing.Started())
        return false;   // even an empty folder lists "." and "..": this one could not be read
    std::vector<WString> names;
    std::vector<ToolFolderEntry> entries;
    while (listing.Next()) {
        if (entries.size() == kMostToolFolderEntries)
            return false;
        WString path = JoinPath(folder, listing.Name());
        UniqueFileHandle entry = OpenEntryItself(path.Text(), READ_CONTROL);
        names.emplace_back(listing.Name());
        ToolFolderEntry judged;
        judged.isFolder = listing.IsDirectory();
        judged.isLink = listing.IsReparsePoint() || !entry || IsReparsePointHandle(entry.Get());
        judged.trustedOwner = entry && HasTrustedOwner(entry.Get());
        entries.push_back(judged);
    }
    for (size_t i = 0; i < entries.size(); ++i)
        entries[i].name = names[i].Text();
    return MayReuseToolFolder(true, entries.data(), static_cast<uint32_t>(entries.size()));
}

// Moves a folder the set-up did not make out of the way, under the first
// free name "<folder>.old-N", with whatever it holds: nothing of it is
// deleted, secured or run.
bool MoveAside(const wchar_t* folder)
{
    WString longPath;
    if (!AbsoluteLongPath(folder, longPath))
        return false;
    UniqueFileHandle handle = OpenWithoutFollowing(longPath.Text(), DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES);
    if (!handle || IsReparsePointHandle(handle.Get()))
        return false;
    for (int n = 1; n <= kMoveAsideNames; ++n) {
        WString number;
        number.FromInt32(n);
        // The system takes a target without a folder handle as a native path.
        WString target(L"\\??\\");
        target.Append(longPath.Text() + 4, L".old-", number.Text());
        if (RenameByHandle(handle.Get(), nullptr, target.Text(), false))
            return true;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// The same file, by volume and file id.
bool ReadChunk(HANDLE file, BYTE* buffer, DWORD wanted)
{
    DWORD done = 0;
    while (done < wanted) {
        DWORD read = 0;
        if (!ReadFile(file, buffer + done, wanted - done, &read, nullptr) || read == 0)
            return false;
        done += read;
    }
    return true;
}

}  // namespace

bool BuildToolFolderDacl(LocalAcl& dacl)
{
    return BuildRecipeDacl(SecurityRecipe::ToolFolder, 0, nullptr, dacl);
}

bool SecureToolPath(const wchar_t* path)
{
    ToolSecurity security;
    return security.Make() && Secure(path, security);
}

bool SecureToolFolderContents(const wchar_t* folder)
{
    ToolSecurity security;
    return security.Make() && SecureContents(folder, security);
}

ToolFolderResult PrepareToolFolder(const wchar_t* folder)
{
    if (folder == nullptr || *folder == L'\0')
        return ToolFolderResult::Failed;
    ToolSecurity security;
    if (!security.Make())
        return ToolFolderResult::Failed;
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return CreateToolFolder(folder, security);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return ToolFolderResult::IsLink;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ToolFolderResult::NotAFolder;

    // Found in place. Kept only when an earlier set-up left it: owned by
    // SYSTEM or the Administrators, nobody else could have made it, and once
    // it is secured nobody else can add to it, so that what it then holds
    // is final. A folder someone else made, or that holds anything but the
    // tool's own files, may carry a library planted beside the program: it
    // goes aside with all it holds, nothing of it deleted or run.
    UniqueFileHandle found = OpenForSecurity(folder);
    if (!found)
        return MoveAside(folder) ? CreateToolFolder(folder, security) : ToolFolderResult::NotOurs;
    if (IsReparsePointHandle(found.Get()))
        return ToolFolderResult::IsLink;
    bool trusted = HasTrustedOwner(found.Get());
    found.Reset();
    if (trusted && Secure(folder, security) && HoldsOnlyToolFiles(folder))
        return SecureContents(folder, security) ? ToolFolderResult::Ready : ToolFolderResult::Failed;
    if (!MoveAside(folder))
        return ToolFolderResult::NotOurs;
    return CreateToolFolder(folder, security);
}

UniqueFileHandle OpenRunningImage()
{
    WString path = ModulePath();
    // Neither writes nor deletion shared: while held, nobody can change the
    // file, rename it away or put another in its place.
    UniqueFileHandle file(CreateFileW(path.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return file;
    // The file must be the image this process runs, not one put at its
    // name after the start: its headers as the loader mapped them (the
    // fields relocation does not touch) and its section table.
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* mapped = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const DWORD headerBytes = mapped->OptionalHeader.SizeOfHeaders;
    std::vector<BYTE> read(headerBytes);
    LARGE_INTEGER start{};
    if (headerBytes < sizeof(IMAGE_DOS_HEADER) || !SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) ||
        !ReadChunk(file.Get(), read.data(), headerBytes)) {
        file.Reset();
        return file;
    }
    const auto* fileDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(read.data());
    const size_t sections = static_cast<size_t>(mapped->FileHeader.NumberOfSections) * sizeof(IMAGE_SECTION_HEADER);
    const size_t tableOffset = static_cast<size_t>(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                               mapped->FileHeader.SizeOfOptionalHeader;
    const auto* fileNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(read.data() + dos->e_lfanew);
    bool same = fileDos->e_lfanew == dos->e_lfanew && tableOffset + sections <= headerBytes &&
                std::memcmp(&fileNt->FileHeader, &mapped->FileHeader, sizeof(IMAGE_FILE_HEADER)) == 0 &&
                fileNt->OptionalHeader.SizeOfImage == mapped->OptionalHeader.SizeOfImage &&
                fileNt->OptionalHeader.AddressOfEntryPoint == mapped->OptionalHeader.AddressOfEntryPoint &&
                fileNt->OptionalHeader.CheckSum == mapped->OptionalHeader.CheckSum &&
                std::memcmp(read.data() + tableOffset, base + tableOffset, sections) == 0;
    if (!same)
        file.Reset();
    return file;
}

ToolFolderResult CopyToolExecutable(HANDLE image, const wchar_t* copyPath)
{
    if (image == nullptr || image == INVALID_HANDLE_VALUE || copyPath == nullptr || *copyPath == L'\0')
        return ToolFolderResult::CopyFailed;
    // Started from the copy itself (a set-up run again from the tool's
    // folder): it is already in place.
    UniqueFileHandle existing = OpenWithoutFollowing(copyPath, FILE_READ_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION one{}, two{};
    if (existing && GetFileInformationByHandle(image, &one) && GetFileInformationByHandle(existing.Get(), &two) &&
        one.dwVolumeSerialNumber == two.dwVolumeSerialNumber && one.nFileIndexHigh == two.nFileIndexHigh &&
        one.nFileIndexLow == two.nFileIndexLow)
        return SecureToolPath(copyPath) ? ToolFolderResult::Ready : ToolFolderResult::CopyFailed;
    existing.Reset();
    // An earlier copy goes first, so that the program lands in a new file,
    // which nobody else can hold open.
    if (GetFileAttributesW(copyPath) != INVALID_FILE_ATTRIBUTES && !DeleteFileW(copyPath))
        return ToolFolderResult::CopyFailed;
    bool written = false;
    {
        UniqueFileHandle copy(CreateFileW(copyPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER start{}, size{};
        written = copy && SetFilePointerEx(image, start, nullptr, FILE_BEGIN) && GetFileSizeEx(image, &size);
        std::vector<BYTE> chunk(kCompareChunk);
        for (LONGLONG left = size.QuadPart; written && left > 0;) {
            DWORD wanted = left < kCompareChunk ? static_cast<DWORD>(left) : kCompareChunk, put = 0;
            written = ReadChunk(image, chunk.data(), wanted) &&
                      WriteFile(copy.Get(), chunk.data(), wanted, &put, nullptr) && put == wanted;
            left -= wanted;
        }
        written = written && FlushFileBuffers(copy.Get());
    }
    if (!written) {
        DeleteFileW(copyPath);
        return ToolFolderResult::CopyFailed;
    }
    if (!SecureToolPath(copyPath))
        return ToolFolderResult::CopyFailed;
    if (!SameFileContents(image, copyPath)) {
        DeleteFileW(copyPath);
        return ToolFolderResult::CopyDiffers;
    }
    return ToolFolderResult::Ready;
}

bool SameFileContents(const wchar_t* original, const wchar_t* copy)
{
    if (original == nullptr)
        return false;
    UniqueFileHandle first(CreateFileW(original, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return first && SameFileContents(first.Get(), copy);
}

bool SameFileContents(HANDLE original, const wchar_t* copy)
{
    if (original == nullptr || original == INVALID_HANDLE_VALUE || copy == nullptr)
        return false;
    UniqueFileHandle second(CreateFileW(copy, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
    LARGE_INTEGER firstSize{}, secondSize{}, start{};
    if (!second || IsReparsePointHandle(second.Get()) || !SetFilePointerEx(original, start, nullptr, FILE_BEGIN) ||
        !GetFileSizeEx(original, &firstSize) || !GetFileSizeEx(second.Get(), &secondSize) ||
        firstSize.QuadPart != secondSize.QuadPart)
        return false;
    std::vector<BYTE> one(kCompareChunk), two(kCompareChunk);
    for (LONGLONG left = firstSize.QuadPart; left > 0;) {
        DWORD wanted = left < kCompareChunk ? static_cast<DWORD>(left) : kCompareChunk;
        if (!ReadChunk(original, one.data(), wanted) || !ReadChunk(second.Get(), two.data(), wanted) ||
            std::memcmp(one.data(), two.data(), wanted) != 0)
            return false;
        left -= wanted;
    }
    return true;
}

const wchar_t* ToolFolderMessage(ToolFolderResult result)
{
    switch (result) {
    case ToolFolderResult::Ready:
        return L"";
    case ToolFolderResult::IsLink:
        return L"Sorry, Brenwick's folder on the system drive is a link to another place, which Brenwick does "
               L"not use.\r\n\r\nPlease remove the link and try again.";
    case ToolFolderResult::NotAFolder:
        return L"Sorry, a file is in the way of Brenwick's folder on the system drive.\r\n\r\nPlease move it "
               L"away and try again.";
    case ToolFolderResult::NotOurs:
        return L"Sorry, a folder that Brenwick did not make is in the way of its folder on the system drive, and "
               L"it could not be moved aside.\r\n\r\nPlease rename or remove it and try again.";
    case ToolFolderResult::CopyFailed:
        return L"Sorry, Brenwick could not be copied to its folder on the system drive.\r\n\r\nPlease try "
               L"again later.";
    case ToolFolderResult::CopyDiffers:
        return L"Sorry, the copy of Brenwick in its folder on the system drive does not match the running "
               L"program, so it was removed.\r\n\r\nPlease try again later.";
    case ToolFolderResult::Failed:
        break;
    }
    return L"Sorry, Brenwick's folder on the system drive could not be prepared safely.\r\n\r\nPlease try again "
           L"later.";
}
