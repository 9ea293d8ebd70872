// The temporary administrator the repair works from, and its password.
#pragma once

#include <cstdint>

// Its password is a TemporaryPassword, the program's one generator.
#include "accounts/account_lifecycle.h"
#include "repair/repair_rules.h"

// True when "brenwick_temp_admin" exists afterwards as an enabled, unlocked
// administrator whose password is `password`: created, or an existing one
// reused with the password set anew, or a broken one deleted and created
// again. Inside the temporary account the account is used as it is, with
// the new password.
bool EnsureTempAdmin(bool inTempAccount, const wchar_t* password);

// The temporary account with its profile folder and profile-list entry;
// DeleteAccount's result (0 not deleted).
int DeleteTempAdmin();
