#include "sandbox/profiles.h"

#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <userenv.h>
#include <winternl.h>

#include <vector>

#include "sandbox/sandbox.h"
#include "sandbox/key_security.h"
#include "sandbox/session_user.h"
#include "sandbox/state.h"

namespace sandbox {

namespace {

const wchar_t* const kProfileSubfolders[] = {
    L"Desktop", L"Documents", L"Downloads", L"Music", L"Pictures", L"Videos", L"Favorites", L"Contacts",
    L"Links", L"Saved Games", L"Searches", L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
    L"AppData\\Local\\Microsoft\\Windows", L"AppData\\Local\\Temp", L"AppData\\LocalLow",
    // From version 6.2 on a fresh profile has a folder for the store apps' data.
    L"AppData\\Local\\Packages",
};

// The per-user shell folders a fresh NTUSER.DAT names, as the system writes them.
struct ShellFolder {
    const wchar_t* value;
    const wchar_t* path;
};
const ShellFolder kUserShellFolders[] = {
    {L"Desktop", L"%USERPROFILE%\\Desktop"},
    {L"Personal", L"%USERPROFILE%\\Documents"},
    {L"My Music", L"%USERPROFILE%\\Music"},
    {L"My Pictures", L"%USERPROFILE%\\Pictures"},
    {L"My Video", L"%USERPROFILE%\\Videos"},
    {L"Favorites", L"%USERPROFILE%\\Favorites"},
    {L"{374DE290-123F-4565-9164-39C4925E467B}", L"%USERPROFILE%\\Downloads"},
    {L"AppData", L"%USERPROFILE%\\AppData\\Roaming"},
    {L"Local AppData", L"%USERPROFILE%\\AppData\\Local"},
    {L"Start Menu", L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
    {L"Programs", L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
    {L"Startup", L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {L"Recent", L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {L"SendTo", L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {L"Templates", L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Templates"},
};

std::wstring ProfilesDirectory()
{
    wchar_t folder[MAX_PATH] = L"";
    DWORD length = ARRAYSIZE(folder);
    if (!GetProfilesDirectoryW(folder, &length))
        return L"C:\\users";
    return folder;
}

bool CreateFolderPath(const std::wstring& path)
{
    for (size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
        std::wstring part = path.substr(0, at);
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (at == std::wstring::npos)
            return true;
    }
}

// A hive file made by saving a scratch key: Wine writes a real registry file.
bool SaveHive(const std::wstring& file, bool userHive)
{
    std::wstring scratch = std::wstring(kStateKey) + L"\\Hive";
    Key key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    if (userHive) {
        Key folders;
        if (RegCreateKeyExW(key.Get(), L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, folders.Put(), nullptr) == ERROR_SUCCESS) {
            for (const ShellFolder& folder : kUserShellFolders)
                WriteString(folders.Get(), folder.value, folder.path, REG_EXPAND_SZ);
        }
        Key environment;
        if (RegCreateKeyExW(key.Get(), L"Environment", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, environment.Put(),
                            nullptr) == ERROR_SUCCESS)
            WriteString(environment.Get(), L"TEMP", L"%USERPROFILE%\\AppData\\Local\\Temp", REG_EXPAND_SZ);
    } else {
        Key classes;
        RegCreateKeyExW(key.Get(), L"Local Settings", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, classes.Put(), nullptr);
    }
    DeleteFileW(file.c_str());
    EnableHivePrivileges();
    bool saved = RegSaveKeyW(key.Get(), file.c_str(), nullptr) == ERROR_SUCCESS;
    key.Reset();
    DeleteTree(HKEY_LOCAL_MACHINE, scratch);
    return saved;
}

// The profile service keeps each load and unload of a profile in its entry,
// as two DWORD halves of a FILETIME.
void WriteProfileTime(HKEY entry, const wchar_t* which, ULONGLONG ticks)
{
    WriteDword(entry, (std::wstring(L"LocalProfile") + which + L"TimeHigh").c_str(), static_cast<DWORD>(ticks >> 32));
    WriteDword(entry, (std::wstring(L"LocalProfile") + which + L"TimeLow").c_str(), static_cast<DWORD>(ticks));
}

ULONGLONG NowTicks()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void Remember(const wchar_t* list, const std::wstring& item)
{
    StateLock lock;
    Key key = OpenState(std::wstring(L"Profiles\\") + list, true);
    WriteString(key.Get(), item.c_str(), L"");
}

bool ExtendsNoCase(const std::wstring& text, const std::wstring& prefix)
{
    return text.size() > prefix.size() && _wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// The full name the system gives an opened entry, its volume's device
// first ("\??\C:\users\..." under Wine, "\Device\HarddiskVolume3\..."
// elsewhere), links and Wine's mapped unix links resolved; empty when it
// cannot be read. It tells the volume apart as the serial number does, at
// a tenth of the cost under Wine (the serial is a round trip to its drive
// service), and unlike the final path it has no 260-character limit there.
constexpr ULONG kObjectNameInformation = 1;   // not every toolchain's headers name it

std::wstring ResolvedPathOf(HANDLE entry)
{
    std::vector<uint64_t> buffer((sizeof(UNICODE_STRING) + 32768 * sizeof(wchar_t)) / sizeof(uint64_t));
    auto* name = reinterpret_cast<UNICODE_STRING*>(buffer.data());
    ULONG length = 0;
    if (!NT_SUCCESS(NtQueryObject(entry, static_cast<OBJECT_INFORMATION_CLASS>(kObjectNameInformation), name,
                                  static_cast<ULONG>(buffer.size() * sizeof(uint64_t)), &length)) ||
        name->Buffer == nullptr)
        return L"";
    return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
}

UniqueFileHandle OpenEntry(const std::wstring& path, DWORD access)
{
    return UniqueFileHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::wstring ResolvedPath(const std::wstring& path)
{
    UniqueFileHandle entry = OpenEntry(path, FILE_READ_ATTRIBUTES);
    return entry ? ResolvedPathOf(entry.Get()) : L"";
}

bool LiesBelow(const std::wstring& resolved, const std::wstring& resolvedRoot)
{
    return resolved.size() > resolvedRoot.size() + 1 &&
           _wcsnicmp(resolved.c_str(), resolvedRoot.c_str(), resolvedRoot.size()) == 0 &&
           resolved[resolvedRoot.size()] == L'\\';
}

// Deletes a tree in the long form, so that paths beyond 260 characters go
// too. Links are never entered, and nothing that resolves to a place
// outside the tree is touched: Wine lists a unix link to a file as a plain
// file, and deleting it by name deletes the file it points at. A file is
// checked and deleted through one handle, a folder checked before it is
// entered.
void RemoveTree(const std::wstring& longPath, const std::wstring& resolvedRoot)
{
    constexpr DWORD kPlain = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileExW((longPath + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (search) {
        do {
            if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0)
                continue;
            std::wstring path = longPath + L"\\" + found.cFileName;
            bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                // The link itself goes, never what it points at.
                if (!RemoveDirectoryW(path.c_str()))
                    DeleteFileW(path.c_str());
                continue;
            }
            UniqueFileHandle entry = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
            if (!entry || !LiesBelow(ResolvedPathOf(entry.Get()), resolvedRoot))
                continue;
            if ((found.dwFileAttributes & kPlain) != 0) {
                FILE_BASIC_INFO basic{};
                basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
                SetFileInformationByHandle(entry.Get(), FileBasicInfo, &basic, sizeof basic);
            }
            if (folder) {
                entry.Reset();
                RemoveTree(path, resolvedRoot);
            } else {
                FILE_DISPOSITION_INFO dispose{TRUE};
                SetFileInformationByHandle(entry.Get(), FileDispositionInfo, &dispose, sizeof dispose);
            }
        } while (FindNextFileW(search.Get(), &found));
    }
    search.Reset();
    RemoveDirectoryW(longPath.c_str());
}

// The places the sandbox deletes in, resolved once for a whole reset.
struct SandboxRoots {
    std::wstring profiles = ProfilesDirectory();
    std::wstring pictures = PictureFolder();
    std::wstring resolvedProfiles = ResolvedPath(L"\\\\?\\" + profiles);
    std::wstring resolvedPictures = ResolvedPath(L"\\\\?\\" + pictures);
};

void DeleteFolderTree(const std::wstring& folder, const SandboxRoots& roots)
{
    // Only what lies below the profiles directory or our own data folder.
    if (!ExtendsNoCase(folder, roots.profiles + L"\\") && !ExtendsNoCase(folder, roots.pictures))
        return;
    if (folder.find(L"\\..") != std::wstring::npos)
        return;
    std::wstring longPath = L"\\\\?\\" + folder;
    DWORD attributes = GetFileAttributesW(longPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetFileAttributesW(longPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(longPath.c_str());
        return;
    }
    std::wstring resolvedRoot = ResolvedPath(longPath);
    const std::wstring& expected = roots.resolvedProfiles;
    const std::wstring& pictures = roots.resolvedPictures;
    bool inside = (!expected.empty() && _wcsnicmp(resolvedRoot.c_str(), (expected + L"\\").c_str(), expected.size() + 1) == 0) ||
                  (!pictures.empty() && _wcsnicmp(resolvedRoot.c_str(), (pictures + L"\\").c_str(), pictures.size() + 1) == 0);
    if (resolvedRoot.empty() || !inside)
        return;
    RemoveTree(longPath, resolvedRoot);
}

// A machine just reset holds the profiles of its scenario and the Wine
// prefix's own: folders that a run left in the profiles directory (a
// repair's renamed profiles, an account deleted without its folder) go, or
// the next scenario would inherit them.
void RemoveStrayProfileFolders(const SandboxRoots& roots)
{
    static const wchar_t* const kKept[] = {L"Public", L"Default", L"Default User", L"All Users"};
    const std::wstring profiles = ProfilesDirectory();
    const std::wstring own = ProcessUserName();
    std::vector<std::wstring> stray;
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileW((profiles + L"\\*").c_str(), &found));
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            bool kept = name == L"." || name == L".." || _wcsicmp(name.c_str(), own.c_str()) == 0 ||
                        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            for (const wchar_t* system : kKept)
                kept = kept || _wcsicmp(name.c_str(), system) == 0;
            if (!kept)
                stray.push_back(profiles + L"\\" + name);
        } while (FindNextFileW(search.Get(), &found));
    }
    search.Reset();
    for (const std::wstring& folder : stray)
        DeleteFolderTree(folder, roots);
}

// The picture sets the shell keeps for the machine's accounts (a folder of
// sizes under the public profile and a key that names them) are the
// machine's: kept over a reset, an earlier run's picture would show on an
// account of the next scenario that reuses the RID. Only sets of this
// machine's domain go.
void RemovePictureSets(const SandboxRoots& roots)
{
    const std::wstring keyPath = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AccountPicture\\Users";
    const std::wstring folderPath = ProfilesDirectory() + L"\\Public\\AccountPictures";
    std::vector<std::wstring> sids;
    Key sets;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, sets.Put()) == ERROR_SUCCESS)
        sids = SubkeyNames(sets.Get());
    sets.Reset();
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileW((folderPath + L"\\*").c_str(), &found));
    if (search) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                sids.push_back(found.cFileName);
        } while (FindNextFileW(search.Get(), &found));
    }
    search.Reset();
    for (const std::wstring& sid : sids) {
        if (RidOfSid(sid) == 0)
            continue;
        DeleteTree(HKEY_LOCAL_MACHINE, keyPath + L"\\" + sid);
        DeleteFolderTree(folderPath + L"\\" + sid, roots);
    }
}

// Nothing starts at sign-in on a machine just reset: shortcuts that a run
// left in the start-up folders (the running account's and everyone's) go.
void RemoveStartupShortcuts()
{
    for (int folderId : {CSIDL_STARTUP, CSIDL_COMMON_STARTUP}) {
        wchar_t folder[MAX_PATH] = L"";
        if (FAILED(SHGetFolderPathW(nullptr, folderId, nullptr, SHGFP_TYPE_CURRENT, folder)))
            continue;
        WIN32_FIND_DATAW found;
        UniqueFind search(FindFirstFileW((std::wstring(folder) + L"\\*.lnk").c_str(), &found));
        if (!search)
            continue;
        do {
            if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
                DeleteFileW((std::wstring(folder) + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search.Get(), &found));
    }
}

}  // namespace

void EnableHivePrivileges()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put()))
        return;
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
}

std::wstring ProfileFolderOf(const std::wstring& sid)
{
    Key entry;
    std::wstring path = std::wstring(kProfileListKey) + L"\\" + sid;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, entry.Put()) != ERROR_SUCCESS)
        return L"";
    std::wstring stored = ReadString(entry.Get(), L"ProfileImagePath", L"");
    wchar_t expanded[MAX_PATH * 4] = L"";
    if (ExpandEnvironmentStringsW(stored.c_str(), expanded, ARRAYSIZE(expanded)) == 0)
        return stored;
    return expanded;
}

namespace {

// The first free folder for `name`: name, else name.COMPUTER,
// name.COMPUTER.000 and on, as the system picks one; empty when none is.
std::wstring FreeProfileFolder(const std::wstring& name)
{
    // A folder of that name may be left from an earlier account.
    std::wstring base = ProfilesDirectory() + L"\\" + name;
    std::wstring chosen = base;
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD computerLength = ARRAYSIZE(computer);
    GetComputerNameW(computer, &computerLength);
    for (int attempt = 0; PathFileExistsW(chosen.c_str()); ++attempt) {
        wchar_t suffix[32] = L"";
        if (attempt > 0)
            swprintf(suffix, ARRAYSIZE(suffix), L".%03d", attempt - 1);
        chosen = base + L"." + computer + suffix;
        if (attempt > 999)
            return L"";
    }
    return chosen;
}

// The profile-list entry of `sid` for `folder`, as the profile service writes it.
DWORD WriteProfileEntry(const std::wstring& sid, PSID binarySid, const std::wstring& folder)
{
    Key entry;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kProfileListKey) + L"\\" + sid).c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, entry.Put(), nullptr) != ERROR_SUCCESS)
        return ERROR_CANTWRITE;
    Remember(L"Keys", sid);
    WriteString(entry.Get(), L"ProfileImagePath", folder, REG_EXPAND_SZ);
    WriteDword(entry.Get(), L"Flags", 0);
    WriteDword(entry.Get(), L"State", 0);
    WriteDword(entry.Get(), L"RefCount", 0);
    RegSetValueExW(entry.Get(), L"Sid", 0, REG_BINARY, static_cast<const BYTE*>(binarySid), GetLengthSid(binarySid));
    return ERROR_SUCCESS;
}

// The binary form of `sid` (which has no entry yet) and its new folder,
// made and remembered.
DWORD NewProfileFolder(const std::wstring& sid, const std::wstring& name, UniqueLocalMemory& binary,
                       std::wstring& chosen)
{
    PSID binarySid = nullptr;
    if (!ConvertStringSidToSidW(sid.c_str(), &binarySid))
        return ERROR_INVALID_SID;
    binary.Reset(binarySid);
    Key entry;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kProfileListKey) + L"\\" + sid).c_str(), 0, KEY_READ,
                      entry.Put()) == ERROR_SUCCESS)
        return ERROR_ALREADY_EXISTS;
    chosen = FreeProfileFolder(name);
    if (chosen.empty())
        return ERROR_FILE_EXISTS;
    if (!CreateFolderPath(chosen))
        return GetLastError();
    Remember(L"Folders", chosen);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD MakeProfile(const std::wstring& sid, const std::wstring& name, std::wstring* folder)
{
    UniqueLocalMemory binarySid;
    std::wstring chosen;
    if (DWORD status = NewProfileFolder(sid, name, binarySid, chosen); status != ERROR_SUCCESS)
        return status;
    for (const wchar_t* subfolder : kProfileSubfolders)
        CreateFolderPath(chosen + L"\\" + subfolder);
    // The profile service gives the hives' roots to their account, as it
    // gives it the folder.
    const std::wstring rootSecurity = L"O:" + sid + L"D:P(A;CI;KA;;;" + sid + L")(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;RC)";
    const std::wstring userHive = chosen + L"\\NTUSER.DAT";
    const std::wstring classesHive = chosen + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";
    if (!SaveHive(userHive, true) || !SaveHive(classesHive, false) || !AppendRootSecurity(userHive, rootSecurity) ||
        !AppendRootSecurity(classesHive, rootSecurity))
        return ERROR_CANTWRITE;
    if (DWORD status = WriteProfileEntry(sid, binarySid.Get(), chosen); status != ERROR_SUCCESS)
        return status;
    if (folder != nullptr)
        *folder = chosen;
    return ERROR_SUCCESS;
}

bool AssignTemporaryProfile(const std::wstring& sid)
{
    const std::wstring list = kProfileListKey;
    Key entry;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (list + L"\\" + sid).c_str(), 0, KEY_ALL_ACCESS, entry.Put()) !=
        ERROR_SUCCESS)
        return false;
    const std::wstring temp = ProfilesDirectory() + L"\\TEMP";
    Key backup;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (list + L"\\" + sid + L".bak").c_str(), 0, KEY_READ, backup.Put()) !=
        ERROR_SUCCESS) {
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (list + L"\\" + sid + L".bak").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, backup.Put(), nullptr) != ERROR_SUCCESS)
            return false;
        Remember(L"Keys", sid + L".bak");
        RegCopyTreeW(entry.Get(), nullptr, backup.Get());
        WriteDword(backup.Get(), L"State", ReadDword(backup.Get(), L"State", 0) | 0x8000);
    }
    CreateFolderPath(temp);
    Remember(L"Folders", temp);
    if (GetFileAttributesW((temp + L"\\NTUSER.DAT").c_str()) == INVALID_FILE_ATTRIBUTES &&
        !SaveHive(temp + L"\\NTUSER.DAT", true))
        return false;
    WriteString(entry.Get(), L"ProfileImagePath", temp, REG_EXPAND_SZ);
    WriteDword(entry.Get(), L"State", 0x804);
    return true;
}

DWORD MakeBareProfile(const std::wstring& sid, const std::wstring& name, DWORD daysAgo)
{
    // One hive saved, then copied: saving one for each of a thousand
    // profiles would take the scenario minutes.
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(ARRAYSIZE(temp), temp);
    const std::wstring hive = std::wstring(temp) + L"vantrell-sandbox-NTUSER.DAT";
    if (GetFileAttributesW(hive.c_str()) == INVALID_FILE_ATTRIBUTES && !SaveHive(hive, true))
        return ERROR_CANTWRITE;
    UniqueLocalMemory binarySid;
    std::wstring chosen;
    if (DWORD status = NewProfileFolder(sid, name, binarySid, chosen); status != ERROR_SUCCESS)
        return status;
    if (!CopyFileW(hive.c_str(), (chosen + L"\\NTUSER.DAT").c_str(), FALSE))
        return ERROR_CANTWRITE;
    if (DWORD status = WriteProfileEntry(sid, binarySid.Get(), chosen); status != ERROR_SUCCESS)
        return status;
    SetProfileLastUse(sid, daysAgo);
    return ERROR_SUCCESS;
}

DWORD LoadProfile(const std::wstring& sid, HKEY* root)
{
    std::wstring folder = ProfileFolderOf(sid);
    if (folder.empty())
        return ERROR_FILE_NOT_FOUND;
    EnableHivePrivileges();
    Key hive;
    if (RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_ALL_ACCESS, hive.Put()) != ERROR_SUCCESS) {
        std::wstring file = folder + L"\\NTUSER.DAT";
        LSTATUS status = static_cast<LSTATUS>(LoadHive(sid, file));
        if (status != ERROR_SUCCESS)
            return static_cast<DWORD>(status);
        status = RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_ALL_ACCESS, hive.Put());
        if (status != ERROR_SUCCESS)
            return static_cast<DWORD>(status);
    }
    Key entry;
    std::wstring entryPath = std::wstring(kProfileListKey) + L"\\" + sid;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, entryPath.c_str(), 0, KEY_ALL_ACCESS, entry.Put()) == ERROR_SUCCESS) {
        WriteDword(entry.Get(), L"RefCount", ReadDword(entry.Get(), L"RefCount", 0) + 1);
        WriteProfileTime(entry.Get(), L"Load", NowTicks());
    }
    *root = hive.Release();
    return ERROR_SUCCESS;
}

DWORD UnloadProfile(const std::wstring& sid, HKEY root)
{
    if (root == nullptr)
        return ERROR_INVALID_PARAMETER;
    RegCloseKey(root);
    Key entry;
    std::wstring entryPath = std::wstring(kProfileListKey) + L"\\" + sid;
    DWORD count = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, entryPath.c_str(), 0, KEY_ALL_ACCESS, entry.Put()) == ERROR_SUCCESS) {
        count = ReadDword(entry.Get(), L"RefCount", 1);
        count = count > 0 ? count - 1 : 0;
        WriteDword(entry.Get(), L"RefCount", count);
        WriteProfileTime(entry.Get(), L"Unload", NowTicks());
    }
    // The running account's own hive is the session's; never unload it.
    // and the signed-in account's stays loaded for its session.
    Account session;
    bool sessionHive = SessionAccount(&session) && AccountSid(session.rid) == sid;
    if (count == 0 && sid != ProcessUserSid() && !sessionHive)
        UnloadHive(sid);
    return ERROR_SUCCESS;
}

void SetProfileLastUse(const std::wstring& sid, DWORD daysAgo)
{
    Key entry;
    std::wstring entryPath = std::wstring(kProfileListKey) + L"\\" + sid;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, entryPath.c_str(), 0, KEY_ALL_ACCESS, entry.Put()) != ERROR_SUCCESS)
        return;
    const ULONGLONG then = NowTicks() - static_cast<ULONGLONG>(daysAgo) * 864000000000ull;
    WriteProfileTime(entry.Get(), L"Load", then - 36000000000ull);   // an hour's session
    WriteProfileTime(entry.Get(), L"Unload", then);
}

void RememberProfileKey(const std::wstring& keyName) { Remember(L"Keys", keyName); }
void RememberProfileFolder(const std::wstring& folder) { Remember(L"Folders", folder); }

void RemoveSandboxProfiles()
{
    StateLock lock;
    const SandboxRoots roots;
    DiscardAllHives();
    EnableHivePrivileges();
    Key keys = OpenState(L"Profiles\\Keys", false);
    for (const std::wstring& name : ValueNames(keys.Get())) {
        if (name != ProcessUserSid())
            RegUnLoadKeyW(HKEY_USERS, name.c_str());
        DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kProfileListKey) + L"\\" + name);
    }
    Key folders = OpenState(L"Profiles\\Folders", false);
    for (const std::wstring& folder : ValueNames(folders.Get()))
        DeleteFolderTree(folder, roots);
    keys.Reset();
    folders.Reset();
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kStateKey) + L"\\Profiles");
    RemoveStrayProfileFolders(roots);
    RemoveStartupShortcuts();
    RemovePictureSets(roots);
}

std::wstring PictureFolder()
{
    wchar_t data[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"ProgramData", data, ARRAYSIZE(data)) == 0)
        wcscpy_s(data, L"C:\\ProgramData");
    return std::wstring(data) + L"\\Vantrell Sandbox\\Pictures";
}

bool DrawPicture(const std::wstring& path, DWORD colour)
{
    const int size = 96;
    const int stride = size * 3;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * size);
    BYTE r = static_cast<BYTE>(colour >> 16), g = static_cast<BYTE>(colour >> 8), b = static_cast<BYTE>(colour);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            // A pale head and shoulders on the account's colour.
            int dx = x - size / 2, headY = y - 36, shoulderY = y - 100;
            bool head = dx * dx + headY * headY < 18 * 18;
            bool shoulders = dx * dx + shoulderY * shoulderY < 40 * 40;
            BYTE* p = &pixels[static_cast<size_t>(size - 1 - y) * stride + x * 3];
            bool figure = head || shoulders;
            p[0] = figure ? static_cast<BYTE>(255 - (255 - b) / 4) : b;
            p[1] = figure ? static_cast<BYTE>(255 - (255 - g) / 4) : g;
            p[2] = figure ? static_cast<BYTE>(255 - (255 - r) / 4) : r;
        }
    }
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = size;
    info.biHeight = size;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(pixels.size());
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(header) + sizeof(info);
    header.bfSize = header.bfOffBits + info.biSizeImage;

    size_t cut = path.rfind(L'\\');
    if (cut != std::wstring::npos)
        CreateFolderPath(path.substr(0, cut));
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return WriteFile(file.Get(), &header, sizeof(header), &written, nullptr) &&
           WriteFile(file.Get(), &info, sizeof(info), &written, nullptr) &&
           WriteFile(file.Get(), pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
}

}  // namespace sandbox
