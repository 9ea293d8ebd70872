// The main window's dialogs that create and delete accounts.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/text.h"

class DialogOwner;

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
// last enabled administrator out of Administrators). True when a membership
// changed.
bool GroupsDialog(DialogOwner& owner, HICON accountIcon, const wchar_t* accountName);

// Modal over the main window: every profile of the computer with its last
// use, sortable by any column; the selected ones are deleted after a
// question that counts them and names the accounts that go with them. A
// profile in use, a service's, the console user's or not plainly inside the
// profiles folder is refused. `consoleSid` may be empty. True when a
// deletion ran (accounts may have gone with their profiles).
bool ProfilesDialog(DialogOwner& owner, const wchar_t* consoleSid);
