#include "accounts/profile_keys.h"

#include <shlwapi.h>
#include <userenv.h>

#include "accounts/profile_key_rules.h"
#include "accounts/profile_list.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/sid.h"
#include "platform/text_win.h"

namespace {

// The registry hives inside a profile folder, relative to it.
constexpr const wchar_t* kHiveFiles[] = {L"NTUSER.DAT", L"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"};

WString EntryPath(const wchar_t* name) { return ProfileEntryKeyPath(name); }

WString ComputerName()
{
    wchar_t name[129] = L"";
    DWORD length = ARRAYSIZE(name);
    GetComputerNameW(name, &length);
    return WString(name);
}

// Whether the backed-up profile is the one to keep; the tests in this order.
bool BackupWins(const wchar_t* backupPath, const wchar_t* currentPath)
{
    WString backupFolder = ExpandEnvironmentText(backupPath);
    WString computer = ComputerName();
    if (!PathIsDirectoryW(backupFolder.Text()))
        return false;
    if (EqualsNoCase(backupPath, currentPath))
        return false;
    if (EndsWithFolder(backupFolder.Text(), L"\\TEMP"))
        return false;
    if (HasComputerTempMarker(backupFolder.Text(), computer.Text()))
        return false;
    WString currentFolder = ExpandEnvironmentText(currentPath);
    return DirectorySize(backupFolder.Text()) >= DirectorySize(currentFolder.Text());
}

// The account's own SID from the entry's name, for its hive files' owner.
LocalSid EntrySid(const wchar_t* currentName)
{
    LocalSid sid;
    SidFromText(currentName, sid);
    return sid;
}

// The hive files: the account itself, SYSTEM and Administrators only. The
// profile folder belongs to the account, whose user may have replaced any
// folder in it by a link to a file of the system: the path must lie below
// the profiles folder, each file is opened without following links through
// every folder below the profile, must really lie inside the profile, and
// is changed through its handle. Anything else is left alone.
void ResetHiveFileSecurity(const wchar_t* entryPath, const wchar_t* sidText)
{
    WString profile;
    RegKey entry(OpenKey(entryPath, KEY_READ));
    if (!entry.QueryString(L"ProfileImagePath", profile))
        return;
    WString folder = ExpandEnvironmentText(profile.Text());
    WString profiles = ProfilesDirectory();
    if (profiles.IsEmpty())
        return;
    WString profilesFolder = ExpandEnvironmentText(profiles.Text());
    if (!IsProfileFolderAcceptable(folder.Text(), profilesFolder.Text()))
        return;
    LocalSid owner = EntrySid(sidText);
    for (const wchar_t* hive : kHiveFiles) {
        UniqueFileHandle file = OpenBelowRoot(folder.Text(), hive, WRITE_DAC | WRITE_OWNER | READ_CONTROL);
        if (file)
            ResetObjectSecurity(file.Get(), owner.Get());
    }
}

}  // namespace

WString ReadRawProfilePath(HKEY entry)
{
    WString path(L"");
    DWORD type = 0, size = 0;
    if (entry == nullptr || RegQueryValueExW(entry, L"ProfileImagePath", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ))
        return path;
    WString stored;
    wchar_t* buffer = stored.GetBuffer((size + 4) / sizeof(wchar_t), nullptr, true);
    if (buffer == nullptr ||
        RegQueryValueExW(entry, L"ProfileImagePath", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS)
        return path;
    uint32_t units = size / sizeof(wchar_t);
    buffer[units] = L'\0';
    if (type == REG_MULTI_SZ)
        MultiStringToLines(buffer, units);
    path.Assign(buffer);
    return path;
}

uint32_t FindCorruptedProfileKeys(std::vector<WString>& names)
{
    std::vector<ProfileListEntry> entries;
    ReadProfileList(entries);
    return FindCorruptedProfileKeys(entries, names);
}

uint32_t FindCorruptedProfileKeys(const std::vector<ProfileListEntry>& entries, std::vector<WString>& names)
{
    names.clear();
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        const wchar_t* name = entry->sid.Text();
        if (!IsBackupKeyName(name))
            continue;
        WString backupPath = EntryPath(name);
        RegKey backup(OpenKey(backupPath.Text(), KEY_READ));
        if (!backup)
            continue;
        WString backedUp = ReadRawProfilePath(backup.Get());
        if (EndsWithFolder(backedUp.Text(), L"\\temp"))
            continue;
        WString currentName;
        CurrentKeyName(name, currentName);
        WString currentPath = EntryPath(currentName.Text());
        RegKey current(OpenKey(currentPath.Text(), KEY_READ));
        if (!current)
            continue;
        WString now = ReadRawProfilePath(current.Get());
        if (EqualsNoCase(backedUp.Text(), now.Text()))
            continue;
        names.emplace_back(name);
    }
    return static_cast<uint32_t>(names.size());
}

bool RepairProfileKey(const wchar_t* name)
{
    WString backupPath = EntryPath(name);
    RegKey backup(OpenKey(backupPath.Text(), KEY_READ));
    if (!backup)
        return false;
    WString currentName;
    if (!CurrentKeyName(name, currentName))
        return false;
    WString currentPath = EntryPath(currentName.Text());
    WString backedUp = ReadRawProfilePath(backup.Get());

    if (KeyExists(currentPath.Text())) {
        WString now;
        RegKey current(OpenKey(currentPath.Text(), KEY_READ));
        current.QueryString(L"ProfileImagePath", now);
        if (!BackupWins(backedUp.Text(), now.Text())) {
            backup.Close();
            RegKey().DeleteTree(backupPath.Text());
            return false;
        }
    }
    backup.Close();

    // The backup may be the only entry that leads to the real profile: it
    // goes only after a complete copy that provably leads there too.
    if (CopyKeyTree(backupPath.Text(), currentPath.Text()) == 0)
        return false;
    {
        RegKey copied(OpenKey(currentPath.Text(), KEY_READ));
        WString copiedPath = ReadRawProfilePath(copied.Get());
        if (copiedPath.IsEmpty() || CompareText(copiedPath.Text(), backedUp.Text(), true) != 0)
            return false;
    }
    RegKey().DeleteTree(backupPath.Text());
    const DWORD zero = 0;
    RegKey entry;
    bool reset = entry.ForceWriteDword(currentPath.Text(), L"RefCount", &zero) &&
                 entry.ForceWriteDword(currentPath.Text(), L"State", &zero);
    ResetHiveFileSecurity(currentPath.Text(), currentName.Text());
    return reset;
}
