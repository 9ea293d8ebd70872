// The main window's dialogs over the account engine: creating, deleting,
// passwords and automatic sign-in, groups, personal folders and profiles,
// and "Save changes" with its questions. Each is modal over its owner.
#pragma once

#include <windows.h>
#include <lm.h>

#include <cstdint>

#include "accounts/account_settings.h"
#include "accounts/passwords.h"
#include "platform/text.h"

class DialogOwner;
class UiWindow;
struct GroupNames;

// What CreateAccountDialog returns when no account was made.
inline constexpr int kNoAccountCreated = 3;

// Modal over the owner: name, type, password and picture of a new
// account. `accountNameOut` receives the name field's text at every press
// of "Create account". Returns the type (0 guest, 1 standard user,
// 2 administrator) of the account made, also when its profile could only
// be left for its first sign-in; kNoAccountCreated when none was made.
// The picture is given the way Windows version `osVersion` keeps pictures.
int CreateAccountDialog(DialogOwner& owner, WString& accountNameOut, double osVersion);

// Modal over the main window: deletes the account, with its files when the
// operator asks for them. The owner is busy while the deletion runs, so
// that the end of the session is refused meanwhile. True when the account
// was deleted, whatever happened to its files.
bool DeleteAccountDialog(DialogOwner& owner, HICON accountIcon, const wchar_t* accountName,
                         const wchar_t* fullName);

// Modal over the main window: the local groups the account is a member of,
// a group to add it to and the selected one to take it out of (never the
// last administrator that can sign in out of Administrators). True when a membership
// changed.
bool GroupsDialog(DialogOwner& owner, HICON accountIcon, const wchar_t* accountName);

// Modal over its owner: every local group with its description; a group is
// made, and one made on this computer renamed or deleted (after a question),
// and any group described. True when a group changed.
bool LocalGroupsDialog(DialogOwner& owner);

// Modal over the main window: every profile of the computer with its last
// use, sortable by any column; the selected ones are deleted after a
// question that counts them and names the accounts that go with them. A
// profile in use, a service's, the console user's or not plainly inside the
// profiles folder is refused. `consoleSid` may be empty. True when a
// deletion ran (accounts may have gone with their profiles).
bool ProfilesDialog(DialogOwner& owner, const wchar_t* consoleSid);

enum class PasswordDialogMode { AutoLogon = 0, ChangePassword = 1, CreatePassword = 2 };

// Modal over the owner (whose events keep being pumped while a password
// change runs). True when it ended through Cancel or a successful Apply;
// false when the program is closing.
bool PasswordDialog(DialogOwner& owner, HICON accountIcon, const wchar_t* accountName, const wchar_t* fullName,
                    PasswordDialogMode mode);

// ChangePassword and ResetPassword on a worker thread while `pumpWindow`
// keeps handling its events; the worker's status, or ERROR_NOT_ENOUGH_MEMORY
// when no worker could be started (nothing was changed).
NET_API_STATUS RunPasswordChange(UiWindow& pumpWindow, const wchar_t* accountName, const wchar_t* currentPassword,
                                 const wchar_t* newPassword);
NET_API_STATUS RunPasswordReset(UiWindow& pumpWindow, const wchar_t* accountName, const wchar_t* newPassword);

struct SettingsOutcome {
    bool confirmed = false;   // the operator answered "Yes": the account is to be shown afresh
    bool renamed = false;     // the account now has `newName`
    uint32_t failures = 0;    // SettingsFailure bits
};


// Locks the owner, asks the operator, applies the type, the record (name and
// flags), the automatic sign-in (asking for the password in a dialog with
// `accountIcon`, which stays the caller's), the visibility and last a new
// name, shows one summary and unlocks. A new name that cannot be taken is
// refused with its reason before anything is asked or changed. Nothing is asked for an empty account name.
SettingsOutcome ApplyAccountSettings(DialogOwner& owner, const AccountSettingsChoice& choice,
                                     const GroupNames& groupNames, HICON accountIcon);

// What the dialog needs of the main window, as plain data.
struct PersonalFoldersOwner {
    DialogOwner* window = nullptr;       // the main window; not owned
    const wchar_t* consoleUserName = nullptr;
    const wchar_t* consoleUserSid = nullptr;
    HANDLE consoleUserToken = nullptr;   // not owned; may be null or INVALID_HANDLE_VALUE
    double osVersion = 0.0;
};

// Modal over the main window; returns when closed. Another account than
// the console user's is worked on in its own hive; one signed in elsewhere,
// or whose hive cannot be loaded, gets a message instead of the dialog.
void PersonalFoldersDialog(const PersonalFoldersOwner& owner, HICON accountIcon, const wchar_t* accountName,
                           const wchar_t* displayName);
