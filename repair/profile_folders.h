// Reaching another account's folders and registry hive: the set-up plants
// its shortcuts in the temporary account's folders, the fix run in the
// repaired account's.
#pragma once

#include "platform/text.h"

// Loads the account's NTUSER.DAT under HKEY_USERS\<sid> when it is not loaded
// yet, from the profile folder its profile-list entry names. True when the
// hive is there afterwards. The caller unloads with RegUnLoadKeyW.
bool LoadUserHive(const wchar_t* sid);

// The folder `csidl` names for the Default user, moved from the Default
// user's profile to `profilePath` (Desktop, Startup, ...). True when found.
bool ProfileFolderPath(int csidl, const wchar_t* profilePath, WString& out);

// A shell folder of another account from its own hive ("Shell Folders", then
// "User Shell Folders"; "Temp" from its environment), with %USERPROFILE%
// replaced by its profile folder (looked up when `profilePath` is null) and
// other variables expanded. The caller unloads the hive.
bool UserShellFolder(const wchar_t* sid, const wchar_t* folderName, WString& out, const wchar_t* profilePath);
