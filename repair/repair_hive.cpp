#include "repair/repair_hive.h"

#include <shlobj.h>

#include "accounts/lookup.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/sid.h"
#include "platform/text_win.h"

namespace {

constexpr wchar_t kShellFolders[] = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr wchar_t kUserShellFolders[] =
    L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kDownloadsFolder[] = L"{374DE290-123F-4565-9164-39C4925E467B}";
constexpr uint32_t kUserProfileLength = 13;   // "%USERPROFILE%"

// A SID string and nothing else: it becomes a key name under HKEY_USERS.
bool IsSidText(const wchar_t* sid)
{
    if (sid == nullptr || *sid == L'\0' || wcschr(sid, L'\\') != nullptr || wcschr(sid, L'/') != nullptr)
        return false;
    LocalSid binary;
    return SidFromText(sid, binary);
}

// "C:\..." with no "." or ".." component: a folder the caller may build
// paths on. Registry values are untrusted.
bool IsAbsoluteLocalPath(const wchar_t* path)
{
    if (path == nullptr || wcslen(path) < 3 || path[1] != L':' || path[2] != L'\\' ||
        !((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')))
        return false;
    for (const wchar_t* part = path + 2; part != nullptr && *part != L'\0'; part = wcschr(part + 1, L'\\')) {
        const wchar_t* name = part + 1;
        if ((name[0] == L'.' && (name[1] == L'\\' || name[1] == L'\0')) ||
            (name[0] == L'.' && name[1] == L'.' && (name[2] == L'\\' || name[2] == L'\0')))
            return false;
    }
    return true;
}

// A value of the account's hive below HKU\<sid>; false when missing or empty.
bool ReadHiveString(const wchar_t* sid, const wchar_t* subkey, const wchar_t* name, WString& value)
{
    WString path(L"HKU\\");
    path.Append(sid, subkey);
    RegKey key(OpenKey(path.Text(), KEY_READ));
    return key && key.QueryString(name, value) && !value.IsEmpty();
}

}  // namespace

bool ExpandForAccount(const wchar_t* sid, WString& value, const wchar_t* profilePath, WString& out)
{
    if (StartsWithNoCase(value.Text(), L"%USERPROFILE%")) {
        WString profile(profilePath != nullptr ? profilePath : L"");
        if (profilePath == nullptr && !ReadProfileImagePath(sid, profile))
            return false;
        if (!IsAbsoluteLocalPath(profile.Text()))
            return false;
        out.Assign(profile.Text());
        return out.Append(value.Text() + kUserProfileLength) && IsAbsoluteLocalPath(out.Text());
    }
    WString expanded = ExpandEnvironmentText(value.Text());
    out.Assign(expanded.Text());
    return IsAbsoluteLocalPath(out.Text());
}

bool LoadUserHive(const wchar_t* sid)
{
    if (!IsSidText(sid))
        return false;
    UniqueRegKey loaded;
    LSTATUS opened = RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_READ, loaded.Put());
    if (opened == ERROR_SUCCESS)
        return true;
    if (opened != ERROR_FILE_NOT_FOUND)
        return false;
    WString profile;
    if (!ReadProfileImagePath(sid, profile) || !IsAbsoluteLocalPath(profile.Text()))
        return false;
    WString file(profile.Text());
    file.Append(L"\\NTUSER.DAT");
    return machine::RegLoadKeyW(HKEY_USERS, sid, file.Text()) == ERROR_SUCCESS;
}

bool ProfileRelativeFolder(int csidl, WString& relative)
{
    // The Default user's token is -1.
    HANDLE defaultUser = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1));
    WString folder, root;
    if (!FromFolderPath(folder, csidl, defaultUser, SHGFP_TYPE_DEFAULT) ||
        !FromFolderPath(root, CSIDL_PROFILE, defaultUser, SHGFP_TYPE_DEFAULT) || root.IsEmpty())
        return false;
    uint32_t rootLength = root.Length();
    if (!StartsWithNoCase(folder.Text(), root.Text()) ||
        (folder.Text()[rootLength] != L'\\' && folder.Text()[rootLength] != L'\0'))
        return false;
    return relative.Assign(folder.Text() + rootLength);
}

bool ProfileFolderPath(int csidl, const wchar_t* profilePath, WString& out)
{
    WString relative;
    return IsAbsoluteLocalPath(profilePath) && ProfileRelativeFolder(csidl, relative) &&
           InProfile(profilePath, relative.Text(), out);
}

bool InProfile(const wchar_t* profilePath, const wchar_t* relative, WString& out)
{
    if (!IsAbsoluteLocalPath(profilePath))
        return false;
    WString result(profilePath);
    while (result.Length() > 3 && result.Text()[result.Length() - 1] == L'\\')
        result.AssignSubstring(result.Text(), 1, static_cast<int>(result.Length()) - 1);
    if (!result.Append(relative))
        return false;
    return out.Assign(result.Text());
}

bool UserShellFolder(const wchar_t* sid, const wchar_t* folderName, WString& out, const wchar_t* profilePath,
                     double osVersion)
{
    if (!IsSidText(sid) || folderName == nullptr || *folderName == L'\0')
        return false;
    if (osVersion < 5.9) {
        bool localAppData = EqualsNoCase(folderName, L"Local AppData");
        bool downloads = EqualsNoCase(folderName, kDownloadsFolder);
        if (localAppData || downloads) {
            WString base;
            if (downloads) {
                if (!UserShellFolder(sid, L"Personal", base, profilePath, osVersion))
                    return false;
            } else {
                base.Assign(profilePath != nullptr ? profilePath : L"");
                if (profilePath == nullptr && !ReadProfileImagePath(sid, base))
                    return false;
                if (!IsAbsoluteLocalPath(base.Text()))
                    return false;
            }
            base.Append(downloads ? L"\\Downloads" : L"\\Local Settings\\Application Data");
            return out.Assign(base.Text());
        }
    }
    if (!LoadUserHive(sid))
        return false;
    WString value;
    bool found;
    if (EqualsNoCase(folderName, L"Temp"))
        found = ReadHiveString(sid, L"\\Environment", L"TMP", value) ||
                ReadHiveString(sid, L"\\Environment", L"TEMP", value);
    else
        found = ReadHiveString(sid, kShellFolders, folderName, value) ||
                ReadHiveString(sid, kUserShellFolders, folderName, value);
    WString result;
    if (!found || !ExpandForAccount(sid, value, profilePath, result))
        return false;
    return out.Assign(result.Text());
}
