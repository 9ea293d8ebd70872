#include "accounts/profile_key_rules.h"

#include <cwchar>

#include "platform/file_rules.h"
#include "platform/registry_rules.h"

namespace {

constexpr uint32_t kShortestBackupName = 10;

}  // namespace

WString ProfileEntryKeyPath(const wchar_t* entryName)
{
    if (entryName == nullptr || *entryName == L'\0' || wcschr(entryName, L'\\') != nullptr)
        return WString();
    return JoinPath(kProfileListKeyPath, entryName);
}

bool IsBackupKeyName(const wchar_t* name)
{
    uint32_t length = TextLength(name);
    return length >= kShortestBackupName && EqualsNoCase(name + length - 4, L".bak");
}

bool CurrentKeyName(const wchar_t* backupName, WString& currentName)
{
    if (!IsBackupKeyName(backupName))
        return false;
    return currentName.AssignSubstring(backupName, 1, static_cast<int>(TextLength(backupName) - 4));
}

bool EndsWithFolder(const wchar_t* path, const wchar_t* folder)
{
    WString text(path);
    uint32_t length = text.Length();
    uint32_t folderLength = TextLength(folder);
    if (folderLength == 0 || length < folderLength)
        return false;
    uint32_t first = text.Find(folder, false, 1);
    return first != 0 && first == length - folderLength + 1;
}

bool HasComputerTempMarker(const wchar_t* path, const wchar_t* computerName)
{
    WString marker(L"\\TEMP.");
    marker.Append(computerName);
    WString text(path);
    return text.Find(marker.Text(), false, 1) != 0;
}

void MultiStringToLines(wchar_t* text, uint32_t units)
{
    if (text != nullptr && units > 3)
        MultiStringToText(text, units);
}

bool IsProfileFolderAcceptable(const wchar_t* folder, const wchar_t* profilesDirectory)
{
    if (folder == nullptr || profilesDirectory == nullptr || !IsAbsolutePathText(folder) ||
        !IsAbsolutePathText(profilesDirectory) || HasDotComponents(folder) || HasDotComponents(profilesDirectory))
        return false;
    // Local drives only: "X:\..." or its long form, never "\\server" or "\\?\UNC".
    auto local = [](const wchar_t* path) {
        if (path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\')
            path += 4;
        return path[0] != L'\\' && path[1] == L':' ? path : nullptr;
    };
    const wchar_t* inner = local(folder);
    const wchar_t* outer = local(profilesDirectory);
    if (inner == nullptr || outer == nullptr)
        return false;
    WString innerPath(inner), outerPath(outer);
    TrimTrailingBackslashes(innerPath);
    TrimTrailingBackslashes(outerPath);
    return !EqualsNoCase(innerPath.Text(), outerPath.Text()) && IsSameOrBelow(innerPath.Text(), outerPath.Text());
}
