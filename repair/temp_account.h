// The temporary administrator the repair works from, and its password.
#pragma once

#include <cstdint>
#include <string>

// Its password is a TemporaryPassword, the program's one generator.
#include "accounts/account_lifecycle.h"
#include "repair/repair_rules.h"

// Whether an account named "brenwick_temp_admin" exists, and whether it is
// the one a set-up made: its SID is the one the set-up recorded. Only that
// one is ever reused or deleted; a name alone proves nothing (an account
// renamed elsewhere, or made by hand).
enum class TempAccountClaim { None, Ours, NotOurs };
TempAccountClaim ClaimTempAdmin();

// What the operator is told of an account of the name that is not ours.
std::wstring NotOurTempAdminText();

// Ready when "brenwick_temp_admin" exists afterwards as an enabled, unlocked
// administrator whose password is `password`: created (its SID recorded),
// or the recorded one reused with the password set anew, or a broken
// recorded one deleted and created again. NotOurs, nothing changed, when an
// account of the name is not the recorded one. Inside the temporary account
// the account is used as it is, with the new password.
enum class TempAdminResult { Ready, Failed, NotOurs };
TempAdminResult EnsureTempAdmin(bool inTempAccount, const wchar_t* password);

// The temporary account with its profile folder and profile-list entry, when
// it is the recorded one; DeleteAccount's result (0 not deleted, also when
// the account of the name is not ours).
int DeleteTempAdmin();
