// The computer's password and lock-out policy as values, with the rules that
// need no system call: each setting's option, document member, unit and
// range, how it is read from and written as text, and the settings that
// bind each other.
#pragma once

#include <cstdint>
#include <string>

// A time of the policy that never runs out: passwords that never expire, a
// lock-out that lasts until an administrator ends it.
inline constexpr uint32_t kPolicyForever = 0xFFFFFFFFu;

// The policy as the account database keeps it: times in seconds.
struct PasswordPolicy {
    uint32_t minLength = 0;
    uint32_t maxAge = kPolicyForever;
    uint32_t minAge = 0;
    uint32_t history = 0;               // passwords remembered
    uint32_t lockoutThreshold = 0;      // wrong passwords before a lock-out; 0: never locked out
    uint32_t lockoutDuration = 1800;
    uint32_t lockoutWindow = 1800;      // over which wrong passwords are counted

    bool operator==(const PasswordPolicy& other) const;
};

// One setting: the option that sets it, its document member, its line's
// label, its unit in seconds (1 for a count), its range in that unit, and
// the word that stands for kPolicyForever where it may be that.
struct PolicySetting {
    uint32_t PasswordPolicy::*value;
    const wchar_t* option;
    const char* member;
    const wchar_t* label;
    uint32_t unit;
    uint32_t lowest;
    uint32_t highest;
    const wchar_t* forever;
};
extern const PolicySetting kPolicySettings[7];

// The text as the setting takes it (digits within the range, or its word
// for forever) into the value kept. False for anything else.
bool ParsePolicyValue(const PolicySetting& setting, const wchar_t* text, uint32_t& value);

// A kept value as the option spells it ("42", "unlimited"); a time that is
// not a whole number of units counts the whole ones.
std::wstring PolicyValueText(const PolicySetting& setting, uint32_t value);

// The values the setting takes, for a refusal: "from 1 to 49710, or unlimited".
std::wstring PolicyRangeText(const PolicySetting& setting);

// Why the settings together cannot stand (a minimum age not below the
// maximum, a lock-out window longer than the lock-out); null when they can.
const wchar_t* PolicyConflict(const PasswordPolicy& policy);

// The policy in one short line for the window: "8+ characters, 42-day
// expiry, history 5, lock-out after 10 for 30 min".
std::wstring PolicySummary(const PasswordPolicy& policy);
