// The text rules of the profile-list repair: which entry names are backups,
// and which profile paths are the temporary profiles the system falls back
// to when a profile cannot be loaded.
#pragma once

#include <cstdint>

#include "platform/text.h"

// The system's profile list, one entry per profile named by the account's SID.
inline constexpr wchar_t kProfileListKeyPath[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The key of the list's entry `entryName` (a SID, perhaps with ".bak" or
// another suffix). Empty for an empty name or one with a backslash: no path
// built here names the list itself, or a key below an entry.
WString ProfileEntryKeyPath(const wchar_t* entryName);

// A backed-up entry: at least 10 characters ending in ".bak" (any case).
bool IsBackupKeyName(const wchar_t* name);

// The name of the entry a backup stands beside: the name without ".bak".
bool CurrentKeyName(const wchar_t* backupName, WString& currentName);

// True when the first occurrence of `folder` ("\temp"), without regard to
// case, is the very end of the path.
bool EndsWithFolder(const wchar_t* path, const wchar_t* folder);

// A temporary profile of this computer: the path holds "\TEMP." followed by
// the computer's name, without regard to case.
bool HasComputerTempMarker(const wchar_t* path, const wchar_t* computerName);

// A profile path stored as a multi-string (`units` code units, zeros
// inside) turned into lines by the registry layer's MultiStringToText. Only
// texts longer than 3 units are changed.
void MultiStringToLines(wchar_t* text, uint32_t units);

// Whether a profile folder read from the profile list may be worked on with
// the program's privileges: an absolute local path on a drive letter ("X:\",
// "\\?\X:\"), without "." or ".." components, strictly below the machine's
// profiles folder (compared without regard to case). Network paths, device
// paths, relative paths and the profiles folder itself are refused.
bool IsProfileFolderAcceptable(const wchar_t* folder, const wchar_t* profilesDirectory);
