// The command mode's verbs for the computer's password and lock-out policy.
#pragma once

#include "accounts/password_policy_rules.h"

class CommandRun;
class JsonWriter;

// The policy as `policy --json`, `export` and a desired state spell it:
// each setting by its member, times in their units, forever by its word.
void WritePolicyJson(JsonWriter& json, const PasswordPolicy& policy);

int ShowPolicy(CommandRun& run);
int SetPolicy(CommandRun& run);

// Makes the policy `wanted` where it is `current` (checked already: in its
// ranges and without a conflict): each setting that changes recorded as
// made, or with a dry run as to be made; a failure says what was and was
// not made. The exit code.
int CarryOutPolicy(CommandRun& run, const PasswordPolicy& current, const PasswordPolicy& wanted);
