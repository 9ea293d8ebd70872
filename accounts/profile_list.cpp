#include "accounts/profile_list.h"

#include <knownfolders.h>

#include <cwchar>

#include "accounts/profile_key_rules.h"
#include "platform/registry.h"
#include "platform/text_win.h"

namespace {

// A number the profile service keeps, read in one call where it fits four
// bytes (a thousand profiles make the list's reading the check's floor);
// `present` whether the value exists.
DWORD DwordOf(RegKey& key, const wchar_t* name, bool* present = nullptr)
{
    DWORD number = 0, size = sizeof(number);
    const LSTATUS status =
        RegQueryValueExW(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size);
    if (present != nullptr)
        *present = status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
    if (status == ERROR_SUCCESS)
        return size == sizeof(number) ? number : 0;
    RegValue value;
    return status == ERROR_MORE_DATA && key.QueryValue(name, value) ? value.Dword() : 0;
}

// A time the profile service keeps as two DWORD halves; 0 when either is missing.
uint64_t TimeOf(RegKey& key, const wchar_t* high, const wchar_t* low)
{
    bool highPresent = false, lowPresent = false;
    const DWORD highPart = DwordOf(key, high, &highPresent);
    const DWORD lowPart = DwordOf(key, low, &lowPresent);
    if (!highPresent || !lowPresent)
        return 0;
    return (static_cast<uint64_t>(highPart) << 32) | lowPart;
}

void AddExpanded(std::vector<WString>& folders, const wchar_t* stored)
{
    WString expanded = ExpandEnvironmentText(stored);
    if (!expanded.IsEmpty() && expanded.Valid())
        folders.push_back(std::move(expanded));
}

// The entry `name` opened below `parent`, the list's own handle, so that
// the name is one the list gave; false when it cannot be opened.
bool ReadEntryBelow(HKEY parent, const wchar_t* name, ProfileListEntry& entry)
{
    UniqueRegKey opened;
    RegOpenKeyExW(parent, name, 0, KEY_READ, opened.Put());
    RegKey key(std::move(opened));
    if (!key)
        return false;
    entry = ProfileListEntry();
    entry.sid.Assign(name);
    if (key.QueryString(L"ProfileImagePath", entry.storedPath) && !entry.storedPath.IsEmpty())
        entry.path = ExpandEnvironmentText(entry.storedPath.Text());
    entry.state = DwordOf(key, L"State");
    entry.refCount = DwordOf(key, L"RefCount");
    entry.loadTime = TimeOf(key, L"LocalProfileLoadTimeHigh", L"LocalProfileLoadTimeLow");
    entry.unloadTime = TimeOf(key, L"LocalProfileUnloadTimeHigh", L"LocalProfileUnloadTimeLow");
    return true;
}

}  // namespace

bool ReadProfileListEntry(const wchar_t* name, ProfileListEntry& entry)
{
    entry = ProfileListEntry();
    RegKey list(OpenKey(kProfileListKeyPath, KEY_READ));
    return list && name != nullptr && *name != L'\0' && wcschr(name, L'\\') == nullptr &&
           ReadEntryBelow(list.Get(), name, entry);
}

bool ReadProfileList(std::vector<ProfileListEntry>& entries)
{
    entries.clear();
    RegKey list(OpenKey(kProfileListKeyPath, KEY_READ));
    bool unreadEntry = false;
    const bool listed = list && ForEachSubkey(list.Get(), [&](const wchar_t* name) {
        // Opened below the list's own handle: the name is one the list gave.
        ProfileListEntry entry;
        unreadEntry = !ReadEntryBelow(list.Get(), name, entry);
        if (unreadEntry)
            return false;
        entries.push_back(std::move(entry));
        return true;
    });
    if (listed && !unreadEntry)
        return true;
    entries.clear();
    return false;
}

bool KnownProfileFolders(std::vector<KnownProfileFolder>& folders)
{
    folders.clear();
    std::vector<ProfileListEntry> entries;
    if (!ReadProfileList(entries))
        return false;
    for (ProfileListEntry& entry : entries) {
        if (*entry.path.Text() != L'\0')
            folders.push_back(KnownProfileFolder{std::move(entry.sid), std::move(entry.path)});
    }
    // The default profile and the shared one are nobody's own; where the
    // list does not name the shared one, the environment and the shell do.
    std::vector<WString> shared;
    RegKey list(OpenKey(kProfileListKeyPath, KEY_READ));
    for (const wchar_t* value : {L"Public", L"Default"}) {
        WString stored;
        if (list.QueryString(value, stored) && !stored.IsEmpty())
            AddExpanded(shared, stored.Text());
    }
    AddExpanded(shared, L"%Public%");
    WString known;
    if (FromKnownFolder(known, FOLDERID_Public, nullptr, 0))
        shared.push_back(std::move(known));
    for (WString& folder : shared)
        folders.push_back(KnownProfileFolder{WString(L""), std::move(folder)});
    return true;
}

bool IsEntryOf(const wchar_t* entry, const wchar_t* ownSid)
{
    const uint32_t length = TextLength(ownSid);
    if (length == 0 || TextLength(entry) < length)
        return false;
    WString head;
    head.AssignSubstring(entry, 1, static_cast<int>(length));
    return EqualsNoCase(head.Text(), ownSid) && (entry[length] == L'\0' || entry[length] == L'.');
}

bool OtherProfileFolders(const wchar_t* ownSid, std::vector<WString>& folders)
{
    std::vector<KnownProfileFolder> all;
    if (!KnownProfileFolders(all))
        return false;
    for (KnownProfileFolder& folder : all) {
        if (!IsEntryOf(folder.ownerEntry.Text(), ownSid))
            folders.push_back(std::move(folder.path));
    }
    return true;
}
