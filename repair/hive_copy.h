// A profile's hive file is loaded only through a copy. The registry writes
// into a hive as it loads and unloads it, so trying the account's own file
// would change it; and the file lies where its user may have put a link or
// a second name, which the elevated program must never hand to the registry.
// The original is opened through the profile's folder without following a
// link on the way, refused when it is not a plain file with one name, and
// read whole; the copy is a new file that only SYSTEM and the
// administrators may open.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles.h"

// The hive `relative` ("NTUSER.DAT") below the profile folder `profile`,
// opened with `access`; null with `why` when it cannot be opened, a link
// stands on its way, or it is not a plain file with one name.
UniqueFileHandle OpenHiveFile(const wchar_t* profile, const wchar_t* relative, DWORD access, std::wstring& why);

// The whole content of a file, from its start; false when it cannot be read.
bool ReadWholeFile(HANDLE file, std::vector<char>& bytes);

// Replaces the whole content of a file, flushed; false when it cannot be written.
bool WriteWholeFile(HANDLE file, const std::vector<char>& bytes);

// Copies the hive `relative` of `profile` to `copy`, a new file (it must not
// exist) open to SYSTEM and the administrators only. False with `why`.
bool CopyHiveFile(const wchar_t* profile, const wchar_t* relative, const std::wstring& copy, std::wstring& why);

// Removes a copy and the logs the registry writes beside a hive it loads.
void RemoveHiveCopy(const std::wstring& copy);

// A new folder of its own in the program's temporary folder, open to SYSTEM
// and the administrators only, to try a hive in; removed, with what the
// registry left in it, when the holder goes.
class HiveTrialFolder {
public:
    HiveTrialFolder() = default;
    HiveTrialFolder(const HiveTrialFolder&) = delete;
    HiveTrialFolder& operator=(const HiveTrialFolder&) = delete;
    ~HiveTrialFolder();

    bool Make(std::wstring& why);
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};
