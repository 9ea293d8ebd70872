#include "repair/profile_folders.h"

#include <windows.h>
#include <shlobj.h>

#include "accounts/lookup.h"
#include "platform/registry.h"
#include "platform/text_win.h"

namespace {

// The Default user's token, as the shell takes it.
const HANDLE kDefaultUser = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

bool ReadHiveText(const wchar_t* sid, const wchar_t* subkey, const wchar_t* name, WString& value)
{
    WString path(L"HKU\\");
    path.Append(sid, subkey);
    RegKey key;
    return key.Open(path.Text(), KEY_READ) && key.QueryString(name, value) && !value.IsEmpty();
}

}  // namespace

bool LoadUserHive(const wchar_t* sid)
{
    if (sid == nullptr || *sid == L'\0')
        return false;
    HKEY loaded = nullptr;
    LONG status = RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_READ, &loaded);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(loaded);
        return true;
    }
    if (status != ERROR_FILE_NOT_FOUND)
        return false;
    WString profile;
    if (!ReadProfileImagePath(sid, profile))
        return false;
    WString hive = JoinPath(profile.Text(), L"NTUSER.DAT");
    return RegLoadKeyW(HKEY_USERS, sid, hive.Text()) == ERROR_SUCCESS;
}

bool ProfileFolderPath(int csidl, const wchar_t* profilePath, WString& out)
{
    if (profilePath == nullptr || *profilePath == L'\0')
        return false;
    WString folder, root;
    if (!FromFolderPath(folder, csidl, kDefaultUser, SHGFP_TYPE_DEFAULT) ||
        !FromFolderPath(root, CSIDL_PROFILE, kDefaultUser, SHGFP_TYPE_DEFAULT) || root.IsEmpty())
        return false;
    // The folder must lie below the Default profile for the move to mean anything.
    if (folder.Length() <= root.Length() || folder.Find(root.Text(), false) != 1 ||
        folder.Text()[root.Length()] != L'\\')
        return false;
    out.Assign(profilePath);
    TrimTrailingBackslashes(out);
    return out.Append(folder.Text() + root.Length());
}

bool UserShellFolder(const wchar_t* sid, const wchar_t* folderName, WString& out, const wchar_t* profilePath)
{
    if (sid == nullptr || folderName == nullptr || !LoadUserHive(sid))
        return false;
    WString value;
    bool found;
    if (EqualsNoCase(folderName, L"Temp")) {
        found = ReadHiveText(sid, L"\\Environment", L"TMP", value) ||
                ReadHiveText(sid, L"\\Environment", L"TEMP", value);
    } else {
        found = ReadHiveText(sid, L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                             folderName, value) ||
                ReadHiveText(sid, L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                             folderName, value);
    }
    if (!found)
        return false;
    if (value.Find(L"%USERPROFILE%", false, 1, 1, 13) == 1) {
        WString profile(profilePath != nullptr ? profilePath : L"");
        if (profile.IsEmpty() && !ReadProfileImagePath(sid, profile))
            return false;
        out.Assign(profile.Text());
        return out.Append(value.Text() + 13);
    }
    out = ExpandEnvironmentText(value.Text());
    return !out.IsEmpty();
}
