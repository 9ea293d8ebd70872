// The desired-state document as `apply` reads it, checked before anything
// is looked up on the machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/account_setting_rules.h"
#include "app/json_reader.h"

// The state of the machine a desired-state document asks for
// (resources/desired-state.schema.json): what it leaves out stays as it is.
struct DesiredAccount {
    std::wstring name;
    bool present = true;
    bool keepFiles = false;   // absent: the profile folder stays
    // The settings asked for, each a row of the table of account settings
    // with its value as the option spells it: {hidden, "yes"}.
    std::vector<SettingValue> settings;
    std::wstring picture;     // a picture file, as `picture set` takes it; empty: left as it is
};
// A local group's members as a document asks for them: those to be in it
// and those to be out of it; a member named in neither stays as it is.
struct DesiredGroup {
    std::wstring group;                  // its name or SID
    bool present = true;                 // false: a group made on this computer is deleted
    bool descriptionGiven = false;
    std::wstring description;
    // "exactMembers": `members` is the whole membership, every other
    // member is taken out (never the last administrator that can sign in).
    bool exact = false;
    std::vector<std::wstring> members;   // each a name, a SID or a RID ("#1001")
    std::vector<std::wstring> absent;
};
// The password and lock-out policy: the settings a document gives, each
// with its value as the policy keeps it (accounts/password_policy_rules.h).
struct DesiredPolicy {
    bool given = false;
    std::vector<std::pair<size_t, uint32_t>> values;   // index into kPolicySettings, value
};
// The profiles' clean-up, as `profiles clean` takes it, run on each apply.
struct DesiredProfiles {
    bool given = false;
    uint32_t unusedForDays = 0;          // 1 to 36500
    std::vector<std::wstring> exclude;   // names, SIDs or folder names of profiles kept
    bool keepAccounts = false;
};
struct DesiredState {
    std::vector<DesiredAccount> accounts;
    std::vector<DesiredGroup> groups;
    DesiredProfiles profiles;
    DesiredPolicy policy;
    bool autoLogonGiven = false;
    std::wstring autoLogon;          // empty: no automatic sign-in
    std::vector<std::wstring> mend;  // finding ids, as `doctor --fix` takes them
};

// Reads a desired-state document. False with `error` naming the first fault:
// another schemaVersion, a member it does not know, a value of the wrong
// kind or outside its choices, an account named twice.
bool ReadDesiredState(const JsonValue& document, DesiredState& state, std::wstring& error);
