// Real profiles for the simulated accounts: a folder under the profiles
// directory with its usual subfolders and two real registry hives, and the
// profile-list entry the system keeps for it.
#pragma once

#include <windows.h>

#include <string>

namespace sandbox {

inline constexpr wchar_t kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// Turns on the backup and restore privileges that hive files need.
void EnableHivePrivileges();

// The profile folder of `sid` from its profile-list entry; empty when none.
std::wstring ProfileFolderOf(const std::wstring& sid);

// Makes the folder (name, else name.COMPUTER, name.COMPUTER.000, ...), its
// hives and the entry, and remembers them so that a reset removes them.
// ERROR_ALREADY_EXISTS when the SID has an entry already.
DWORD MakeProfile(const std::wstring& sid, const std::wstring& name, std::wstring* folder);

// A profile as a long-unused account leaves it, for scenarios of many: the
// folder with a copy of one saved NTUSER.DAT, and the entry with a session
// that ended `daysAgo` days ago.
DWORD MakeBareProfile(const std::wstring& sid, const std::wstring& name, DWORD daysAgo);

// Loads the profile's NTUSER.DAT under HKEY_USERS\<sid> (unless it is loaded
// already) and counts the load in the entry's RefCount; the returned key is
// the hive's root. UnloadProfile undoes one load.
DWORD LoadProfile(const std::wstring& sid, HKEY* root);
DWORD UnloadProfile(const std::wstring& sid, HKEY root);

// Gives the entry of `sid` the load and unload times of a session that
// ended `daysAgo` days ago.
void SetProfileLastUse(const std::wstring& sid, DWORD daysAgo);

// Fills the profile of `sid` with its owner's files (nested folders, names
// beyond ASCII, a path longer than 260 characters), store-app data and taskbar
// pins, and damages its NTUSER.DAT so that the profile no longer loads while
// the registry still reads most of the hive.
bool BreakProfile(const std::wstring& sid);
// The same files, store-app data and pins, the hive left sound.
bool FillProfile(const std::wstring& sid);

// The causes FaultProfile gives a profile, as a scenario names them.
inline constexpr wchar_t kProfileFaults[] =
    L"backup-entry, wrong-path, state, folder-rights, hive-rights, hive-damaged";
bool IsProfileFault(const std::wstring& fault);
// The value FaultProfile writes in the hive before the fault, under
// HKEY_USERS\<sid>\kMarkerKey, so that a mend can be shown to keep it.
inline constexpr wchar_t kMarkerKey[] = L"Software\\Vantrell Sandbox";
inline constexpr wchar_t kMarkerValue[] = L"Marker";
inline constexpr wchar_t kMarkerText[] = L"written before the fault";
// Writes the marker into the profile's hive, then gives the profile one
// cause that keeps it from loading: its entry backed up beside a temporary
// one, its path pointing at a missing folder, its State marked as failed,
// the account's rights taken off its folder or its NTUSER.DAT, or the hive
// damaged.
bool FaultProfile(const std::wstring& sid, const std::wstring& fault);

// Remembers a profile-list key or folder that a scenario made directly.
void RememberProfileKey(const std::wstring& keyName);
void RememberProfileFolder(const std::wstring& folder);

// Unloads, deletes and forgets everything the sandbox made.
void RemoveSandboxProfiles();

// The security the machine keeps for a file or folder (owner and DACL as
// SDDL), as SetSecurityInfo leaves it.
void SetFileSecuritySddl(const std::wstring& path, const std::wstring& sddl);
// Whether the account's SID may use the file or folder in full, as the
// profile service asks at a sign-in; true where the machine keeps nothing
// and the system's own security applies.
bool AccountMayUse(const std::wstring& path, const std::wstring& sid);

// A temporary profile for `sid`, as the profile service makes one when the
// account's own cannot be used: the entry kept as SID.bak (once), the
// entry itself pointed at the TEMP folder with a fresh hive.
bool AssignTemporaryProfile(const std::wstring& sid);

// The folder that holds the simulated accounts' pictures.
std::wstring PictureFolder();
// Writes a 96 x 96 picture of the given colour (0xRRGGBB) as a .bmp file.
bool DrawPicture(const std::wstring& path, DWORD colour);

}  // namespace sandbox
