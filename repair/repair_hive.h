// Reaching another account's registry hive and folders: what the repair's
// set-up and fix run need of the temporary account and of the account under
// repair while neither is signed in.
#pragma once

#include <windows.h>

#include "platform/system.h"
#include "platform/text.h"

// Loads the account's NTUSER.DAT under HKEY_USERS\<sid> when that key does not
// exist yet, from the profile folder its profile-list entry names. True when
// the hive is loaded afterwards (by this call or before it). An empty SID, a
// text that is not a SID, and a profile folder that is not an absolute local
// path are refused. The caller unloads with RegUnLoadKeyW(HKEY_USERS, sid)
// through the machine boundary.
bool LoadUserHive(const wchar_t* sid);

// A folder value of the account's own registry, expanded for that account:
// %USERPROFILE% at the front stands for `profilePath` (looked up from the
// profile list when null), not for ours; other variables are expanded.
// False unless the result is an absolute local path (a drive letter, no
// "." or ".." part): the value is the account's claim, never trusted.
bool ExpandForAccount(const wchar_t* sid, WString& value, const wchar_t* profilePath, WString& out);

// The folder `csidl` names for the Default user, moved from the Default
// user's profile to `profilePath`: CSIDL_DESKTOPDIRECTORY gives
// profilePath + "\Desktop". False when the system does not know the folder
// or it does not lie in the Default user's profile.
bool ProfileFolderPath(int csidl, const wchar_t* profilePath, WString& out);

// The same in two halves, for many profiles: the folder's place below any
// profile ("\AppData\Roaming\...", empty for the profile itself), and that
// place in one profile.
bool ProfileRelativeFolder(int csidl, WString& relative);
bool InProfile(const wchar_t* profilePath, const wchar_t* relative, WString& out);

// A shell folder of another account ("Startup", "Personal", "Temp", ...),
// read from that account's own hive: "Shell Folders" first, then "User Shell
// Folders"; "Temp" from its environment (TMP, then TEMP). %USERPROFILE% at
// the front stands for `profilePath` (looked up from the profile list when
// null); other variables are expanded. Before version 5.9 "Local AppData" and
// the downloads folder are derived without the registry. The hive stays
// loaded for the caller to unload. False when nothing usable was found.
bool UserShellFolder(const wchar_t* sid, const wchar_t* folderName, WString& out, const wchar_t* profilePath = nullptr,
                     double osVersion = GetOsVersionNumber());
