#include "sandbox/session_user.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "platform/machine.h"
#include "sandbox/key_security.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"

namespace sandbox {

namespace {

constexpr wchar_t kHives[] = L"Hives";
constexpr wchar_t kUserShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The per-user folders: the value that names each in the user's hive and the
// place the system gives it below the profile.
struct UserFolderEntry {
    int csidl;
    const wchar_t* value;
    const wchar_t* place;
};
const UserFolderEntry kUserFolders[] = {
    {CSIDL_DESKTOP, L"Desktop", L"Desktop"},
    {CSIDL_DESKTOPDIRECTORY, L"Desktop", L"Desktop"},
    {CSIDL_PERSONAL, L"Personal", L"Documents"},
    {CSIDL_MYPICTURES, L"My Pictures", L"Pictures"},
    {CSIDL_MYMUSIC, L"My Music", L"Music"},
    {CSIDL_MYVIDEO, L"My Video", L"Videos"},
    {CSIDL_FAVORITES, L"Favorites", L"Favorites"},
    {CSIDL_APPDATA, L"AppData", L"AppData\\Roaming"},
    {CSIDL_LOCAL_APPDATA, L"Local AppData", L"AppData\\Local"},
    {CSIDL_STARTMENU, L"Start Menu", L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
    {CSIDL_PROGRAMS, L"Programs", L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
    {CSIDL_STARTUP, L"Startup", L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {CSIDL_RECENT, L"Recent", L"AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {CSIDL_SENDTO, L"SendTo", L"AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {CSIDL_TEMPLATES, L"Templates", L"AppData\\Roaming\\Microsoft\\Windows\\Templates"},
};

bool BeginsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    size_t length = wcslen(prefix);
    return text.size() >= length && _wcsnicmp(text.c_str(), prefix, length) == 0;
}

// A folder value as the shell expands it for another account: its own
// profile in place of %USERPROFILE%, the machine's variables otherwise.
std::wstring ExpandFor(const std::wstring& value, const std::wstring& profile)
{
    std::wstring text = value;
    if (BeginsWithNoCase(text, L"%USERPROFILE%"))
        text = profile + text.substr(13);
    std::vector<wchar_t> expanded(32768);
    DWORD length = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
    return length != 0 && length <= expanded.size() ? std::wstring(expanded.data()) : text;
}

std::wstring HiveFileOf(const std::wstring& name)
{
    StateLock lock;
    return ReadString(OpenState(kHives, false).Get(), name.c_str(), L"");
}

// The identity of a file (volume and file index), which a rename keeps and
// a replacement changes; 0 when it cannot be opened.
uint64_t FileIdentity(const std::wstring& file)
{
    UniqueFileHandle handle(CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle || !GetFileInformationByHandle(handle.Get(), &information))
        return 0;
    return (static_cast<uint64_t>(information.dwVolumeSerialNumber) << 48) ^
           (static_cast<uint64_t>(information.nFileIndexHigh) << 32) ^ information.nFileIndexLow;
}

std::wstring IdentityName(const std::wstring& name)
{
    return name + L"|identity";
}

void ForgetHive(const std::wstring& name)
{
    StateLock lock;
    Key hives = OpenState(kHives, false);
    if (!hives)
        return;
    RegDeleteValueW(hives.Get(), name.c_str());
    RegDeleteValueW(hives.Get(), IdentityName(name).c_str());
    // The record goes with the last hive it names: a machine with nothing
    // loaded keeps no trace that something was.
    DWORD values = 0, subkeys = 0;
    if (RegQueryInfoKeyW(hives.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        values == 0 && subkeys == 0) {
        hives.Reset();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kStateKey) + L"\\" + kHives).c_str());
    }
}

}  // namespace

bool IsOwnUserToken(HANDLE token)
{
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    if (!GetTokenInformation(token, TokenUser, buffer, size, &size))
        return false;
    return _wcsicmp(SidToString(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid).c_str(),
                    ProcessUserSid().c_str()) == 0;
}

bool SessionAccount(Account* account)
{
    bool named = false;
    std::wstring name = MachineString(kSessionUser, L"", &named);
    if (!named || name.empty() || _wcsicmp(name.c_str(), ProcessUserName().c_str()) == 0)
        return false;
    return FindAccount(name.c_str(), account);
}

DWORD LoadHive(const std::wstring& name, const std::wstring& file)
{
    EnableHivePrivileges();
    LSTATUS status = ::RegLoadKeyW(HKEY_USERS, name.c_str(), file.c_str());
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    {
        Key root;
        if (RegOpenKeyExW(HKEY_USERS, name.c_str(), 0, KEY_ALL_ACCESS, root.Put()) == ERROR_SUCCESS)
            RestoreKeySecurity(root.Get(), file);
    }
    StateLock lock;
    Key hives = OpenState(kHives, true);
    WriteString(hives.Get(), name.c_str(), file);
    uint64_t identity = FileIdentity(file);
    RegSetValueExW(hives.Get(), IdentityName(name).c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&identity),
                   sizeof(identity));
    return ERROR_SUCCESS;
}

DWORD FlushHive(const std::wstring& name)
{
    std::wstring file = HiveFileOf(name);
    if (file.empty())
        return ERROR_FILE_NOT_FOUND;
    // The system locks a loaded hive's file; Wine lets it be replaced or
    // removed. Then the loaded copy is not the file's any more and must not
    // overwrite what took its place.
    uint64_t loadedIdentity = 0;
    {
        StateLock lock;
        Key hives = OpenState(kHives, false);
        DWORD size = sizeof(loadedIdentity), type = 0;
        RegQueryValueExW(hives.Get(), IdentityName(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&loadedIdentity), &size);
    }
    if (loadedIdentity == 0 || FileIdentity(file) != loadedIdentity) {
        Record(L"HiveNotWrittenBack", {{L"hive", name}, {L"file", file}});
        return ERROR_FILE_INVALID;
    }
    Key root;
    LSTATUS status = RegOpenKeyExW(HKEY_USERS, name.c_str(), 0, KEY_ALL_ACCESS, root.Put());
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    // The save goes beside the file first, so that a failed save leaves the
    // old hive whole.
    std::wstring saved = file + L".vsave";
    DeleteFileW(saved.c_str());
    EnableHivePrivileges();
    status = RegSaveKeyW(root.Get(), saved.c_str(), nullptr);
    if (status == ERROR_SUCCESS && !AppendKeySecurity(root.Get(), saved))
        status = ERROR_CANTWRITE;
    if (status != ERROR_SUCCESS) {
        DeleteFileW(saved.c_str());
        return static_cast<DWORD>(status);
    }
    // The system writes into the hive file itself, so its attributes (hidden
    // and system on a profile's hives) stay as they were.
    DWORD attributes = GetFileAttributesW(file.c_str());
    if (!MoveFileExW(saved.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD error = GetLastError();
        DeleteFileW(saved.c_str());
        return error;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(file.c_str(), attributes);
    uint64_t identity = FileIdentity(file);
    StateLock lock;
    RegSetValueExW(OpenState(kHives, true).Get(), IdentityName(name).c_str(), 0, REG_QWORD,
                   reinterpret_cast<const BYTE*>(&identity), sizeof(identity));
    return ERROR_SUCCESS;
}

DWORD UnloadHive(const std::wstring& name)
{
    if (!HiveFileOf(name).empty()) {
        // Written back where the hive still exists; its file may have been
        // replaced meanwhile, and then the loaded copy is older.
        FlushHive(name);
        ForgetHive(name);
    }
    EnableHivePrivileges();
    return static_cast<DWORD>(::RegUnLoadKeyW(HKEY_USERS, name.c_str()));
}

void DiscardHive(const std::wstring& name)
{
    ForgetHive(name);
    EnableHivePrivileges();
    ::RegUnLoadKeyW(HKEY_USERS, name.c_str());
}

void UnloadAllHives()
{
    std::vector<std::wstring> names;
    {
        StateLock lock;
        names = ValueNames(OpenState(kHives, false).Get());
    }
    for (const std::wstring& name : names) {
        if (name.find(L'|') == std::wstring::npos)
            UnloadHive(name);
    }
}

void DiscardLoadedHives()
{
    std::vector<std::wstring> names;
    {
        StateLock lock;
        names = ValueNames(OpenState(kHives, false).Get());
    }
    for (const std::wstring& name : names) {
        if (name.find(L'|') == std::wstring::npos)
            DiscardHive(name);
    }
}

void DiscardAllHives()
{
    StateLock lock;
    EnableHivePrivileges();
    for (const std::wstring& name : ValueNames(OpenState(kHives, false).Get())) {
        if (name.find(L'|') == std::wstring::npos && name != ProcessUserSid())
            ::RegUnLoadKeyW(HKEY_USERS, name.c_str());
    }
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kStateKey) + L"\\" + kHives);
}

Key OpenUserHive(const std::wstring& sid)
{
    Key root;
    if (RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_ALL_ACCESS, root.Put()) == ERROR_SUCCESS)
        return root;
    std::wstring profile = ProfileFolderOf(sid);
    if (profile.empty() || LoadHive(sid, profile + L"\\NTUSER.DAT") != ERROR_SUCCESS)
        return Key();
    RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_ALL_ACCESS, root.Put());
    return root;
}

bool IsUserFolder(int csidl)
{
    int bare = csidl & ~CSIDL_FLAG_MASK;
    if (bare == CSIDL_PROFILE)
        return true;
    for (const UserFolderEntry& entry : kUserFolders) {
        if (entry.csidl == bare)
            return true;
    }
    return false;
}

bool UserFolder(const std::wstring& sid, const std::wstring& profile, int csidl, bool defaultOnly,
                std::wstring* folder)
{
    int bare = csidl & ~CSIDL_FLAG_MASK;
    if (bare == CSIDL_PROFILE) {
        *folder = profile;
        return !profile.empty();
    }
    const UserFolderEntry* entry = nullptr;
    for (const UserFolderEntry& candidate : kUserFolders) {
        if (candidate.csidl == bare)
            entry = &candidate;
    }
    if (entry == nullptr || profile.empty())
        return false;
    if (!defaultOnly) {
        Key root = OpenUserHive(sid);
        for (const wchar_t* list : {kUserShellFoldersKey, kShellFoldersKey}) {
            Key key;
            if (!root || RegOpenKeyExW(root.Get(), list, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
                continue;
            std::wstring value = ReadString(key.Get(), entry->value, L"");
            if (!value.empty()) {
                *folder = ExpandFor(value, profile);
                return true;
            }
        }
    }
    *folder = profile + L"\\" + entry->place;
    return true;
}

}  // namespace sandbox

namespace machine {

HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath)
{
    // The Default user's folders and other accounts' tokens are the system's;
    // so is everything while the account running us is the session's user.
    sandbox::Account account;
    bool ownUser = hToken == nullptr || (hToken != reinterpret_cast<HANDLE>(-1) && sandbox::IsOwnUserToken(hToken));
    if (!ownUser || !sandbox::SessionAccount(&account))
        return ::SHGetFolderPathW(hwnd, csidl, hToken, dwFlags, pszPath);
    if (pszPath == nullptr)
        return E_INVALIDARG;
    *pszPath = L'\0';
    std::wstring sid = sandbox::AccountSid(account.rid);
    std::wstring profile = sandbox::ProfileFolderOf(sid), folder;
    if (!sandbox::IsUserFolder(csidl))   // machine-wide folders are the same for every account
        return ::SHGetFolderPathW(hwnd, csidl, nullptr, dwFlags, pszPath);
    if (!sandbox::UserFolder(sid, profile, csidl, (dwFlags & SHGFP_TYPE_DEFAULT) != 0, &folder))
        return E_FAIL;
    if (folder.size() >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    if ((csidl & CSIDL_FLAG_CREATE) != 0)
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    else if (!PathIsDirectoryW(folder.c_str()))
        return E_FAIL;   // the documented answer of the wide version for a missing folder
    wcscpy_s(pszPath, MAX_PATH, folder.c_str());
    return S_OK;
}

LSTATUS RegLoadKeyW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpFile)
{
    if (hKey != HKEY_USERS || lpSubKey == nullptr || lpFile == nullptr)
        return ::RegLoadKeyW(hKey, lpSubKey, lpFile);
    wchar_t full[MAX_PATH * 4];
    DWORD length = GetFullPathNameW(lpFile, ARRAYSIZE(full), full, nullptr);
    std::wstring file = length != 0 && length < ARRAYSIZE(full) ? std::wstring(full) : std::wstring(lpFile);
    return static_cast<LSTATUS>(sandbox::LoadHive(lpSubKey, file));
}

LSTATUS RegUnLoadKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    if (hKey != HKEY_USERS || lpSubKey == nullptr)
        return ::RegUnLoadKeyW(hKey, lpSubKey);
    // The session's own hive stays loaded as long as its user is signed in.
    sandbox::Account account;
    if (sandbox::SessionAccount(&account) && _wcsicmp(sandbox::AccountSid(account.rid).c_str(), lpSubKey) == 0)
        return ERROR_ACCESS_DENIED;
    return static_cast<LSTATUS>(sandbox::UnloadHive(lpSubKey));
}

}  // namespace machine
