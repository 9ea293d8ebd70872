// Passwords and automatic sign-in: changing, creating, resetting and
// removing a local account's password, and the machine's automatic sign-in
// (the Winlogon values and the security authority's "DefaultPassword"
// secret). The dialogs run these on a worker while their window lives on.
#pragma once

#include <windows.h>
#include <lm.h>

#include "platform/secret_text.h"
#include "platform/text.h"

// One change of a password; the texts are the caller's.
struct PasswordChangeRequest {
    const wchar_t* accountName = nullptr;
    const wchar_t* currentPassword = nullptr;   // absent: ""
    const wchar_t* newPassword = nullptr;       // absent: the password is removed
    // Set without the current one, as an administrator resets it.
    bool reset = false;
};

// What a reset costs the account, said before every reset.
inline constexpr wchar_t kPasswordResetWarning[] =
    L"Resetting the password without the current one makes the account lose access to its encrypted files, its "
    L"saved credentials (web and network passwords) and the secrets programs keep with data protection.";

// The worker's body: the status of the account-database call it made.
NET_API_STATUS ApplyPasswordChange(const PasswordChangeRequest& request);

// The change with the current password (absent: ""), or without a new
// password its removal; the status of the account-database call.
NET_API_STATUS ChangePassword(const wchar_t* accountName, const wchar_t* currentPassword, const wchar_t* newPassword);

// The reset: the new password set without the current one.
NET_API_STATUS ResetPassword(const wchar_t* accountName, const wchar_t* newPassword);

// Where the automatic sign-in lives: the Winlogon key, and the name of the
// security authority's secret (and of an older set-up's plain-text value in
// the key) that holds its password.
inline constexpr wchar_t kWinlogonKeyPath[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
inline constexpr wchar_t kAutoLogonSecretName[] = L"DefaultPassword";

// The automatic sign-in's values in the Winlogon key, read in one pass. A
// text is that of a REG_SZ, REG_EXPAND_SZ (not expanded) or REG_MULTI_SZ
// (its text form) value; empty when missing or of another type. The
// password is never read among them.
struct AutoLogonValues {
    bool keyOpened = false;
    WString autoAdminLogon;             // "AutoAdminLogon"
    WString userName;                   // "DefaultUserName"
    bool userNamePlain = false;         // ... and it is a REG_SZ
    WString domain;                     // "DefaultDomainName"
    // "AutoLogonCount" and "ForceAutoLogon": whether they are there at all,
    // and their data as text (a REG_DWORD as its number).
    bool countPresent = false;
    WString count;
    bool forcePresent = false;
    WString force;
    // A "DefaultPassword" value is in the key (asked by its size alone), and
    // it is a text value that sign-in could read.
    bool plainPasswordPresent = false;
    bool plainPasswordText = false;

    // "AutoAdminLogon" says "1".
    bool SwitchedOn() const;
};
AutoLogonValues ReadAutoLogonValues();

// Whether the security authority holds the secret (the copy read is wiped).
bool AutoLogonSecretStored();
// The stored password, into the one wiping holder: the security authority's
// secret, else an older set-up's non-empty plain-text value. False when
// neither can be read.
bool ReadAutoLogonPassword(SecretText& password);
// An older set-up's plain-text "DefaultPassword" value alone; false when
// missing, not text or unreadable.
bool ReadPlainAutoLogonPassword(SecretText& password);
// Deletes that plain-text value; true when none is left.
bool RemovePlainAutoLogonPassword();

// "DefaultUserName" of the Winlogon key when it is a REG_SZ, else empty.
WString GetAutoLogonUserName();

// A password is stored (the secret, or a registry "DefaultPassword") and
// "AutoAdminLogon" is "1".
bool IsAutoLogonConfigured();

// The longest password an account takes: sign-in and the account database
// stop at 256 characters.
inline constexpr uint32_t kLongestPassword = 256;

enum class AutoLogonResult { Failed = 0, Done = 1, NothingToClear = 2 };

// With a password (possibly empty): automatic sign-in for `accountName`.
// Without one: automatic sign-in cleared; the name is not used. A password
// longer than 256 characters fails before anything is written.
// "AutoAdminLogon" becomes "1" only once the secret is stored; a failed
// store leaves it "0".
AutoLogonResult SetAutoLogon(const wchar_t* accountName, const wchar_t* password);

// Whether the stored secret of the automatic sign-in is `password` exactly
// (the copy read is wiped before this returns); false when none is stored.
bool AutoLogonPasswordIs(const wchar_t* password);

// True when automatic sign-in is the account's: its name is the stored one
// (without regard to case) and automatic sign-in is configured.
bool IsAutoLogonAccount(const wchar_t* accountName);

// The automatic sign-in follows a renamed account: "DefaultUserName" gets
// the new name. True when written.
bool SetAutoLogonUserName(const wchar_t* accountName);

// "AutoLogonCount": the number of automatic sign-ins left before the system
// clears the automatic sign-in itself. False from the reader when there is
// no such REG_DWORD value.
bool ReadAutoLogonCount(DWORD& count);
bool SetAutoLogonCount(DWORD count);
