// The security of the keys of a hive the simulated machine saves and loads,
// and the question the profile service asks of it: may the account read its
// own registry?
#pragma once

#include <windows.h>

#include <string>

namespace sandbox {

// Writes the security of every key below `root` that has its own into
// `file`, a hive just saved from it, where the loader skips it.
bool AppendKeySecurity(HKEY root, const std::wstring& file);
// The root's security (SDDL, owner and DACL) written into a hive file made
// without it, as the profile service gives a new profile's hive.
bool AppendRootSecurity(const std::wstring& file, const std::wstring& sddl);
// Gives the keys of a hive just loaded from `file` the security it holds.
void RestoreKeySecurity(HKEY root, const std::wstring& file);

// Whether `sid` may read HKEY_USERS\<hive>\<subkey> (empty: the root): the
// key's own DACL, or the inheritable entries of its nearest ancestor with
// security of its own; true where no key on the way has any (the system's
// own applies).
bool AccountMayReadKey(const std::wstring& hive, const std::wstring& subkey, const std::wstring& sid);

}  // namespace sandbox
