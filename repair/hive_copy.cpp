#include "repair/hive_copy.h"

#include <objbase.h>

#include <algorithm>

#include "platform/acl.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/sid.h"
#include "platform/text_win.h"

namespace {

// The logs the registry writes beside a hive it loads.
const wchar_t* const kLogSuffixes[] = {L".LOG1", L".LOG2"};

// A security descriptor that gives SYSTEM and the administrators full
// control and nobody anything else, owned by the administrators, protected
// from what the parent folder hands down.
class AdminOnly {
public:
    bool Make(SecurityRecipe recipe)
    {
        if (!BuildRecipeDacl(recipe, 0, nullptr, dacl_) || !WellKnownSid(owner_, WinBuiltinAdministratorsSid) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorOwner(&descriptor_, owner_.Get(), FALSE) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, dacl_.Get(), FALSE) ||
            !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return false;
        attributes_ = SECURITY_ATTRIBUTES{sizeof attributes_, &descriptor_, FALSE};
        return true;
    }
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    LocalAcl dacl_;
    LocalSid owner_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

UniqueFileHandle OpenHiveFile(const wchar_t* profile, const wchar_t* relative, DWORD access, std::wstring& why)
{
    UniqueFileHandle file = OpenBelowRoot(profile, relative, access);
    if (!file) {
        why = L"its file cannot be opened, or a link stands on its way";
        return file;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.Get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        why = L"its name does not hold a plain file";
        file.Reset();
    } else if (info.nNumberOfLinks != 1) {
        why = L"its file has another name elsewhere (a hard link)";
        file.Reset();
    }
    return file;
}

bool ReadWholeFile(HANDLE file, std::vector<char>& bytes)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFFF ||
        SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    bytes.assign(static_cast<size_t>(size.QuadPart), 0);
    size_t at = 0;
    while (at < bytes.size()) {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1u << 20));
        if (!ReadFile(file, bytes.data() + at, ask, &got, nullptr) || got == 0)
            return false;
        at += got;
    }
    return true;
}

bool WriteWholeFile(HANDLE file, const std::vector<char>& bytes)
{
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    size_t at = 0;
    while (at < bytes.size()) {
        DWORD put = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1u << 20));
        if (!WriteFile(file, bytes.data() + at, ask, &put, nullptr) || put == 0)
            return false;
        at += put;
    }
    return SetEndOfFile(file) && FlushFileBuffers(file);
}

bool CopyHiveFile(const wchar_t* profile, const wchar_t* relative, const std::wstring& copy, std::wstring& why)
{
    std::vector<char> bytes;
    {
        UniqueFileHandle original = OpenHiveFile(profile, relative, GENERIC_READ, why);
        if (!original)
            return false;
        if (!ReadWholeFile(original.Get(), bytes)) {
            why = L"its file cannot be read";
            return false;
        }
    }
    AdminOnly security;
    UniqueFileHandle file;
    if (security.Make(SecurityRecipe::TakeOverFile))
        file.Reset(CreateFileW(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, security.Attributes(), CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !WriteWholeFile(file.Get(), bytes)) {
        why = L"no working copy could be written";
        return false;
    }
    // The registry keeps its logs of a loaded hive beside it, in files it
    // opens when they exist and creates otherwise. Made here first, empty,
    // they get the copy's security rather than whatever the folder hands
    // down: the logs hold the same settings.
    for (const wchar_t* suffix : kLogSuffixes) {
        UniqueFileHandle log(CreateFileW((copy + suffix).c_str(), GENERIC_WRITE, 0, security.Attributes(), CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!log) {
            why = L"no working copy could be written: its logs could not be made";
            return false;
        }
    }
    return true;
}

void RemoveHiveCopy(const std::wstring& copy)
{
    DeleteFileW(copy.c_str());
    for (const wchar_t* suffix : kLogSuffixes)
        DeleteFileW((copy + suffix).c_str());
}

HiveTrialFolder::~HiveTrialFolder()
{
    if (!path_.empty())
        DeletePath(path_.c_str(), 0);
}

bool HiveTrialFolder::Make(std::wstring& why)
{
    WString temp = TempDirectory();
    TrimTrailingBackslashes(temp);
    GUID id{};
    wchar_t name[40] = L"";
    AdminOnly security;
    if (temp.IsEmpty() || FAILED(CoCreateGuid(&id)) || StringFromGUID2(id, name, ARRAYSIZE(name)) == 0 ||
        !security.Make(SecurityRecipe::TakeOver)) {
        why = L"no folder to try it in could be made";
        return false;
    }
    const std::wstring path = std::wstring(temp.Text()) + L"\\VantrellHive-" + name;
    // Made new, never found: a folder somebody made first is not used.
    if (!CreateDirectoryW(path.c_str(), security.Attributes())) {
        why = L"no folder to try it in could be made";
        return false;
    }
    path_ = path;
    return true;
}
