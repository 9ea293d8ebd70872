// The automatic sign-in the computer had before a repair. The set-up replaces
// it with the temporary account's; the clean-up puts it back. The names go
// into the state file, the password only into a private-data secret of the
// tool's own, never into a file.
#pragma once

// The secret that holds the earlier sign-in's password during a repair.
inline constexpr wchar_t kSavedLogonSecret[] = L"L$Brenwick_SavedLogon";

// Records the current automatic sign-in under `section` of the state file
// when one is on ("AutoAdminLogon" "1" with a user name that is not the
// temporary account's), and copies its password into the tool's secret. A
// secret left by an earlier repair is removed either way. True when an
// earlier sign-in was recorded.
bool SaveAutoLogon(const wchar_t* statePath, const wchar_t* section);

// Deletes the tool's copy of the password, when a set-up that saved it
// stops before it changed the automatic sign-in.
void DiscardSavedAutoLogon();

enum class LogonRestore {
    NoneSaved,   // nothing was recorded: automatic sign-in stays off
    Restored,
    Refused,     // the recorded values are not plausible: nothing was written
    Failed,      // writing the values or the secret failed
};

// Puts a recorded sign-in back (names, "AutoAdminLogon", the password as
// the automatic sign-in's secret) and deletes the tool's secret in any case.
LogonRestore RestoreAutoLogon(const wchar_t* statePath, const wchar_t* section);
