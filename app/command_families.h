// The command mode's verb families (one file each): the function of every
// verb the table in app/command_verbs.cpp names, and the helpers more than
// one family uses. Private to the command mode.
#pragma once

#include <string>

#include "platform/text.h"

class CommandRun;
class SecretText;
struct AccountDeletionReport;
struct AccountDetails;

// Accounts read (app/command_accounts_read.cpp).
int ListAccounts(CommandRun& run);
int ShowAccount(CommandRun& run);
// Accounts changed (app/command_accounts_change.cpp).
int SetAccount(CommandRun& run);
int RenameVerb(CommandRun& run);
int CreateNew(CommandRun& run);
int DeleteExisting(CommandRun& run);
// Passwords and the automatic sign-in (app/command_passwords.cpp).
int PasswordSet(CommandRun& run);
int PasswordReset(CommandRun& run);
int PasswordRemove(CommandRun& run);
int AutoLogonSetVerb(CommandRun& run);
int AutoLogonClear(CommandRun& run);
int AutoLogonStatus(CommandRun& run);
// Group memberships and lists (app/command_groups.cpp; app/command_groups.h
// has the groups' own lifecycle).
int ListGroups(CommandRun& run);
int ShowGroup(CommandRun& run);
int GroupAdd(CommandRun& run);
int GroupRemove(CommandRun& run);
// Pictures (app/command_pictures.cpp).
int PictureSet(CommandRun& run);
int PictureDefault(CommandRun& run);
// Personal folders (app/command_folders.cpp).
int ListFolders(CommandRun& run);
int MoveFolder(CommandRun& run);
int RestoreFolder(CommandRun& run);
// The profile-list entries (app/command_profiles.cpp, with the profiles).
int ProfileKeys(CommandRun& run);
// The profile repair (app/command_repair.cpp).
int RepairPlan(CommandRun& run);
int RepairMend(CommandRun& run);
int RepairSchedule(CommandRun& run);
int RepairStatus(CommandRun& run);
// The health check (app/command_doctor.cpp).
int Doctor(CommandRun& run);

// The helpers (app/command_families.cpp).

std::wstring Quoted(const wchar_t* text);
std::wstring Quoted(const std::wstring& text);
// A value for a line of text output. Names, full names, paths and registry
// values come from places users can write: a control character in them is
// shown, never obeyed (JSON escapes its own).
std::wstring Shown(const wchar_t* text);
std::wstring Shown(const std::wstring& text);

// Whether `fact` (a name a read run without elevation leaves out: "hidden",
// "sizeBytes", ...) can be read: true when elevated, else it is left out,
// never answered from the refusal.
bool AdminFactReadable(CommandRun& run, const std::wstring& fact);
bool AutoLogonReadable(CommandRun& run);

// The user signed in at the console; empty when none is.
WString ConsoleUserName();

// The account must exist: the refusal otherwise.
bool RequireAccount(CommandRun& run, const wchar_t* name, AccountDetails& details, const wchar_t* consoleUser);

// An empty first line is a slip, not a wish for no password (that has a
// verb of its own): true, having said so.
bool RefusedEmptyPassword(CommandRun& run, const SecretText& password);

// Whether `path`, named as a command line names files (relative to the
// current folder), lies on a drive of this computer; if not, the run is
// told why the file is not read.
bool IsLocalFile(CommandRun& run, const wchar_t* path);

// Deletes the account as the command mode deletes one: its profile folder
// kept or taken over (what is in use goes at the restart), its automatic
// sign-in cleared. False, having said that nothing changed, when the
// account could not be deleted. What was done is in `report`.
bool DeleteAccountOrSay(CommandRun& run, const wchar_t* name, bool keepFiles, AccountDeletionReport& report);
