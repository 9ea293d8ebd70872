// Making a local account with its profile built at once, and deleting one
// together with what the system still holds for it. Both are free functions
// over plain data: the creation and deletion dialogs and the repair tool
// call the same ones.
#pragma once

#include <windows.h>
#include <lm.h>

#include <cstdint>
#include <vector>

#include "accounts/lifecycle_rules.h"
#include "platform/files.h"
#include "platform/text.h"

class ProfileFolderSet;

// How far a creation got.
enum class CreateOutcome {
    NotAdded,              // the account database refused it; nothing changed
    AddedWithProfile,      // the account exists and so does its profile
    AddedWithoutProfile,   // the account exists; its profile is made at its first sign-in
};

struct CreateReport {
    CreateOutcome outcome = CreateOutcome::NotAdded;
    NET_API_STATUS addStatus = NERR_Success;   // NetUserAdd's answer
    bool typeSet = false;
    bool profileByService = false;             // built by the profile service, else by one sign-in
    bool temporaryPasswordUsed = false;
    bool emptyPasswordRestored = true;         // false only when the temporary one could not be taken back
};

// Adds the account (a standard account whose password never expires), sets
// the full name when it differs from the name, makes it a member of the
// group of `type` (0 guest, 1 standard user, 2 administrator) and of neither
// other, and builds its profile. `fullName` and `password` may be null or
// empty. True only when the account was added and its profile built; false
// therefore does not mean that no account exists: `report` tells the cases
// apart.
bool CreateAccount(const wchar_t* accountName, const wchar_t* fullName, uint32_t type, const wchar_t* password,
                   CreateReport* report = nullptr);

// Any account, group or well-known name of that spelling, compared the way
// the account database compares: without regard to case. The creation
// dialog and the command line refuse such a name before adding anything.
bool IsAccountNameTaken(const wchar_t* name);

// Completes an account that exists but whose creation was cut short (by a
// power failure, say): full name and type as CreateAccount sets them, and
// its profile built when it has no profile-list entry yet. True when it has
// a profile afterwards.
bool CompleteAccount(const wchar_t* accountName, const wchar_t* fullName, uint32_t type);

// A fresh temporary password from the system's cryptographic random source,
// wiped when the holder goes. Text() is empty when no random bytes came.
class TemporaryPassword {
public:
    TemporaryPassword();
    ~TemporaryPassword();
    TemporaryPassword(const TemporaryPassword&) = delete;
    TemporaryPassword& operator=(const TemporaryPassword&) = delete;
    const wchar_t* Text() const { return text_; }

private:
    wchar_t text_[kTemporaryPasswordLength + 1] = {};
};

// Flags of the profile folder's deletion, as DeletePath takes them; 0 keeps
// the folder.
inline constexpr uint32_t kKeepProfileFolder = 0;

// What one deletion is to do.
struct AccountDeletion {
    const wchar_t* accountName = nullptr;
    uint32_t folderFlags = kKeepProfileFolder;
    // The creation and deletion dialogs clear automatic sign-in when it names
    // the account; the repair tool keeps its own settings.
    bool clearAutoLogon = false;
    // The repair tool removes the profile-list entry whatever happens to the
    // folder; the dialog only together with the folder.
    bool alwaysRemoveProfileEntry = true;
    // The other profiles' folders as a run over many read them; none: read
    // for this deletion.
    const ProfileFolderSet* profileFolders = nullptr;
};

// What one deletion did. Each step is reported on its own, so that a
// deletion that stopped halfway can say what was and was not done.
struct AccountDeletionReport {
    bool accountDeleted = false;
    NET_API_STATUS deleteStatus = NERR_Success;
    WString sidString;
    WString profileFolder;                      // as found, before any check
    bool autoLogonCleared = false;
    bool rightsRemoved = false;                 // or there were none
    bool pictureRemoved = false;                // key and folder, or there were none
    bool hivesUnloaded = false;
    ProfileFolderVerdict folderVerdict = ProfileFolderVerdict::Empty;
    int folderResult = -1;                      // DeletePath's result; -1 when not attempted
    DeleteTally folderTally;                    // what of the folder waits for the restart, or stays
    bool profileEntryRemoved = false;
    int result = 0;                             // 0 not deleted, 1 done, 2 done with files left for the restart
};

// The whole deletion; the result as AccountDeletionReport::result.
int RemoveAccount(const AccountDeletion& deletion, AccountDeletionReport& report);

// What the system still holds for a SID once its account is gone: the
// profile folder at `storedProfilePath` (deleted with `folderFlags` only when
// CheckProfileFolder finds it Inside; 0 keeps it), the loaded hives and the
// profile-list entry (always with `alwaysRemoveProfileEntry`, else only
// when the folder went). Fills the report's folder and entry fields.
// `folders`, when given, are the other profiles' folders as a run read
// them; else they are read for this one.
void RemoveProfileOf(const wchar_t* sidString, const wchar_t* storedProfilePath, uint32_t folderFlags,
                     bool alwaysRemoveProfileEntry, AccountDeletionReport& report,
                     const ProfileFolderSet* folders = nullptr);

// Every right the security policy holds for the SID, with its account
// object; true when none is left (or there were none).
bool RemoveSidRights(const wchar_t* sidString);

// The SID out of the local group, by the SID alone; true when it is no
// member afterwards.
bool RemoveSidFromGroup(const wchar_t* groupName, const wchar_t* sidString);

// The repair tool's deletion: 0 when the account was not deleted, 1 done,
// 2 done with files left for removal at the next restart. `flags` as
// DeletePath takes them (1 schedule, 2 take over), 0 keeps the folder.
int DeleteAccount(const wchar_t* accountName, uint32_t flags);

// The verdict on a stored profile path: expanded, resolved, strictly inside
// the profiles directory, not the folder of another profile (nor the public
// or default one; compared as stored and by the final paths the system
// resolves, so short names and links do not hide another's folder), existing
// as a folder and no link on the way down from the profiles directory.
// ProfileListUnreadable when the other profiles could not all be read.
// `folder` receives the resolved path when Inside.
ProfileFolderVerdict CheckProfileFolder(const wchar_t* storedPath, const wchar_t* ownSidString, WString& folder);

// Every profile's folder, read once for a run over many profiles: each
// folder resolved and, where it exists, its final path on disk, so that each
// profile's check compares with them instead of reading the list and
// opening every other folder again (which made a clean-up of n profiles
// cost n times the list). The profile itself is still walked and opened at
// its own check. A run reads the set again after the operator's yes: a
// profile made in between gets a folder of its own, never one of these.
class ProfileFolderSet {
public:
    // False (and every check ProfileListUnreadable) when the list could not
    // be read whole.
    bool Read();
    // CheckProfileFolder against the folders as read.
    ProfileFolderVerdict Check(const wchar_t* storedPath, const wchar_t* ownSidString, WString& folder) const;

    struct Other {
        WString ownerEntry;   // the list entry's name; empty for the shared and default profiles
        WString resolved;     // resolved as CheckProfileFolderPath resolves
        WString finalPath;    // empty when the folder could not be opened
    };

private:
    std::vector<Other> others_;
    bool whole_ = false;
};


// Why an account cannot take a new name; None when it can. `problem` names
// what is wrong with an invalid name.
enum class RenameRefusal { None, NoSuchAccount, BadName, Taken };
RenameRefusal CheckAccountRename(const wchar_t* accountName, const wchar_t* newName, NewAccountNameProblem& problem);

// Renames the account after CheckAccountRename passed. The profile folder
// keeps its name, as the system's own rename leaves it; the automatic
// sign-in, which names the account, follows. What is held by SID (groups,
// rights and so the welcome screen, recorded folder moves) follows by
// itself.
enum class RenameResult { Done, Failed, SignInNotFollowed };
RenameResult RenameAccount(const wchar_t* accountName, const wchar_t* newName);
