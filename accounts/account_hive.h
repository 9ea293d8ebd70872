// Another account's registry hive, for the settings kept in it while its
// user is not signed in: loaded under a key of this program's own below
// HKEY_USERS for as long as it is needed and always unloaded afterwards.
// A hive its own session loaded (the account signed in elsewhere) is left
// to that session.
#pragma once

#include <windows.h>

#include "platform/handles.h"
#include "platform/text.h"

enum class HiveRefusal {
    None = 0,
    NoAccount,     // no local account of that name
    NoProfile,     // no profile folder, or no hive file in it
    SignedIn,      // its hive is loaded by a session of its own
    Busy,          // this program's key for it is taken (another run holds it)
    Unusable,      // the hive file is a link or has other names
    NotLoaded,     // the system refused to load it
};

// The operator's explanation of a refusal for the account `name`; empty for None.
WString HiveRefusalText(HiveRefusal refusal, const wchar_t* name);

class BorrowedHive {
public:
    BorrowedHive() = default;
    ~BorrowedHive() { Unload(); }
    BorrowedHive(const BorrowedHive&) = delete;
    BorrowedHive& operator=(const BorrowedHive&) = delete;

    // Loads "NTUSER.DAT" of `profile`, the account `sid`'s own folder.
    HiveRefusal Load(const wchar_t* sid, const wchar_t* profile);
    // Writes the hive back and unloads it; true when nothing stays loaded.
    bool Unload();
    // "HKU\<key>" while loaded, else null.
    const wchar_t* Root() const { return loaded_ ? root_.Text() : nullptr; }

private:
    WString key_;
    WString root_;
    bool loaded_ = false;
};

// Opens `subkey` ("Software\...\Shell Folders") of the hive root `root`
// ("HKU\<key>") one component at a time, each opened as itself: a
// component that is a registry link is refused, never followed. With
// `create` missing components are made. Empty on any refusal.
UniqueRegKey OpenHiveKeyItself(const wchar_t* root, const wchar_t* subkey, DWORD access, bool create);
