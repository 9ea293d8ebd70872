// The computer's password and lock-out policy, read and written through the
// account database (levels 0 and 3 of its modal settings).
#pragma once

#include <windows.h>
#include <lm.h>

#include "accounts/password_policy_rules.h"

// Both parts of the policy. False when either cannot be read.
bool ReadPasswordPolicy(PasswordPolicy& policy);

// Writes the part (or both) in which `wanted` differs from what the machine
// holds now, keeping every other setting of that part as it is. Values the
// settings' ranges or PolicyConflict refuse are never written
// (ERROR_INVALID_PARAMETER); otherwise the system's status, the first failure
// when a part failed (the password part is written first).
NET_API_STATUS WritePasswordPolicy(const PasswordPolicy& wanted);
