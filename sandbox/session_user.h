// The user the program's processes run as after a simulated sign-in, that
// user's shell folders, and the registry hives the simulated machine loads.
//
// Under Wine every process runs as one account. A simulated sign-in names
// another account as the session's user; the machine then answers the
// current user's questions (its folders, its hive) for that account.
#pragma once

#include <windows.h>

#include <string>

#include "sandbox/state.h"

namespace sandbox {

// Machine setting: the account whose session the program runs in; absent
// means the account running us, as before any simulated sign-in.
inline constexpr wchar_t kSessionUser[] = L"SessionUser";

// The session's account when a simulated sign-in made an account other than
// the running one current; false otherwise.
bool SessionAccount(Account* account);

// Whether a token is one of this process's own user (every token under
// Wine is): the program asks for its own user's folders with it.
bool IsOwnUserToken(HANDLE token);

// Hives the machine loaded, under HKEY_USERS\<name>, remembered with their
// file so that what changed in them can be written back as the system does.
DWORD LoadHive(const std::wstring& name, const std::wstring& file);
// Writes the loaded hive back into its file; the hive stays loaded.
DWORD FlushHive(const std::wstring& name);
// Writes the hive back and unloads it. A hive the machine did not load is
// simply unloaded.
DWORD UnloadHive(const std::wstring& name);
// Unloads a hive without writing it back (one the profile service refused).
void DiscardHive(const std::wstring& name);
// At the end of a session: every remembered hive written back and unloaded.
void UnloadAllHives();
// After a power cut: every remembered hive unloaded without being written
// back, so that its file holds what it held before.
void DiscardLoadedHives();
// At a reset: every remembered hive unloaded without writing anything back.
void DiscardAllHives();

// The root of an account's hive, loaded from its profile when it is not.
Key OpenUserHive(const std::wstring& sid);

// Whether a CSIDL (flags masked off) names a folder of each user's own.
bool IsUserFolder(int csidl);

// An account's shell folder by CSIDL (flags masked off), read from its own
// hive as the shell reads it ("User Shell Folders", then "Shell Folders",
// then the system's default place). `defaultOnly` skips the hive. False for
// a CSIDL that is not a per-user folder.
bool UserFolder(const std::wstring& sid, const std::wstring& profile, int csidl, bool defaultOnly,
                std::wstring* folder);

// Before a reset: the session's programs ended, its hives written back, and
// no file operation left registered for a restart.
void EndSessionForReset();

}  // namespace sandbox
