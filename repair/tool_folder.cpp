#include "repair/tool_folder.h"

#include <aclapi.h>

#include "platform/files.h"
#include "platform/security.h"
#include "platform/text_win.h"

namespace {

struct ToolAce {
    WELL_KNOWN_SID_TYPE sid;
    DWORD mask;
};

// The whole DACL, as data. Nobody else: not Everyone, not the creator.
const ToolAce kToolAces[] = {
    {WinLocalSystemSid, GENERIC_ALL},
    {WinBuiltinAdministratorsSid, GENERIC_ALL},
    {WinBuiltinUsersSid, GENERIC_READ | GENERIC_EXECUTE},
};

constexpr DWORD kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

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
    DWORD status = SetSecurityInfo(object.Get(), SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION,
                                   security.administrators.Get(), nullptr, security.dacl.Get(), nullptr);
    return status == ERROR_SUCCESS;
}

// Secures every entry below `folder`; links are removed, never entered. A
// folder someone else filled may be large: the window keeps painting.
bool SecureContents(const wchar_t* folder, const ToolSecurity& security)
{
    WString pattern = JoinPath(folder, L"*");
    DirectoryIterator entries(pattern.Text(), 0);
    if (!entries.Started())
        return true;   // an empty folder has no entry to find
    bool all = true;
    uint32_t count = 0;
    while (entries.Next()) {
        WString path = JoinPath(folder, entries.Name());
        if (entries.IsReparsePoint()) {
            all &= DeletePath(path.Text(), 0) != kDeleteFailed;
            continue;
        }
        all &= Secure(path.Text(), security);
        if (entries.IsDirectory())
            all &= SecureContents(path.Text(), security);
        if (++count % 32 == 0)
            PumpPendingMessages();
    }
    return all;
}

}  // namespace

bool BuildToolFolderDacl(LocalAcl& dacl)
{
    if (!NewAcl(dacl))
        return false;
    for (const ToolAce& row : kToolAces) {
        LocalSid sid;
        PACL acl = dacl.Get();
        if (!WellKnownSid(sid, row.sid) || !AddAllowedAce(&acl, sid.Get(), row.mask, kInherit)) {
            dacl.Reset();
            return false;
        }
    }
    return true;
}

bool SecureToolPath(const wchar_t* path)
{
    ToolSecurity security;
    return security.Make() && Secure(path, security);
}

ToolFolderResult PrepareToolFolder(const wchar_t* folder)
{
    if (folder == nullptr || *folder == L'\0')
        return ToolFolderResult::Failed;
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return ToolFolderResult::IsLink;
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ToolFolderResult::NotAFolder;
    if (attributes == INVALID_FILE_ATTRIBUTES && !CreateDirectoryPath(folder))
        return ToolFolderResult::Failed;
    // Checked again on the folder's own handle: no link took its place in
    // the meantime.
    ToolSecurity security;
    if (!security.Make() || !Secure(folder, security))
        return ToolFolderResult::Failed;
    return SecureContents(folder, security) ? ToolFolderResult::Ready : ToolFolderResult::Failed;
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
    case ToolFolderResult::Failed:
        break;
    }
    return L"Sorry, Brenwick's folder on the system drive could not be prepared safely.\r\n\r\nPlease try again "
           L"later.";
}
