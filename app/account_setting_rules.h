// The settings of an account that `set` changes, `show` and `export` write
// and `apply` converges, in one table: each row is a setting's option, its
// member in a desired-state document, and how it is read, written, compared
// and told as a change. Kept apart from the system calls so that every case
// can be tested on any host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "accounts/detail_rules.h"
#include "app/command_rules.h"

// The account types as the command line spells them, by privilege; a
// privilege of 3 or more is "unknown".
const wchar_t* TypeName(uint32_t privilege);
// The privilege a type's name stands for; an unknown name is a standard user.
uint32_t TypeOf(const wchar_t* name);

// An account's settings, typed: what the table reads and writes.
struct AccountSettingValues {
    std::wstring fullName;
    uint32_t privilege = 1;
    uint32_t flags = 0;                    // kFlag* bits of accounts/account_rules.h
    bool hidden = false;
    std::wstring description;
    uint32_t accountExpires = kNeverTime;
};

// Which part of the write carries a setting, so that only those that took
// are reported done.
enum class SettingPart { Record, Type, Visibility };

struct AccountSetting {
    CommandOption option;        // as `set` takes it
    const char* member;          // as a document names it; null: an action only `set` takes
    bool isBool;                 // a document's true/false, the option's yes/no, a list's true/false
    const wchar_t* field;        // as a change names it
    SettingPart part;
    // The value as the option spells it ("yes", "administrator", "never").
    std::wstring (*read)(const AccountSettingValues& values);
    // Takes an option's value; false for one the setting cannot take.
    bool (*write)(AccountSettingValues& values, const wchar_t* value);
    // The change as the output tells it, from the account's name (quoted)
    // and the values it will have.
    std::wstring (*describe)(const std::wstring& quotedName, const AccountSettingValues& will);
    // Why a value is refused and the exit code of that refusal.
    const wchar_t* refusal;
    int refusalExit;
};
inline constexpr size_t kAccountSettingCount = 11;
extern const AccountSetting kAccountSettings[kAccountSettingCount];

// The rows by what they set, in the table's order.
enum class SettingId : size_t {
    FullName, Type, Disabled, Unlock, PasswordCannotChange, PasswordNotRequired, PasswordNeverExpires, Hidden,
    Description, Expires, MustChangePassword,
};
static_assert(static_cast<size_t>(SettingId::MustChangePassword) + 1 == kAccountSettingCount);
const AccountSetting& SettingRow(SettingId id);

// Where a column of an account's record takes its value from: a setting of
// the table, or one of the facts read beside the settings.
enum class AccountFact { Setting, Name, TypeText, Sid, AutoLogon, Builtin, Console, Picture, Profile, SizeBytes };

// The columns of an account as `list` and `show` write it, in order. A
// setting's value is the option's spelling, true/false in a document when
// the setting is one; a value not known is null in a document and empty in
// a table or a line.
struct AccountColumn {
    const char* name;
    AccountFact fact;
    const AccountSetting* setting;   // with AccountFact::Setting
    bool documentOnly;               // in a document only: no column of the CSV table, no line of `show`
};
inline constexpr size_t kAccountColumnCount = 18;
extern const AccountColumn kAccountColumns[kAccountColumnCount];

// A value asked for one account setting, as its option spells it.
struct SettingValue {
    const AccountSetting* setting;
    std::wstring value;
    bool operator==(const SettingValue& other) const { return setting == other.setting && value == other.value; }
};

// The row of an option ("--hidden") or of a document's member ("hidden"); null when none.
const AccountSetting* FindSettingOption(const wchar_t* option);
const AccountSetting* FindSettingMember(const std::wstring& member);

// Whether the setting differs between two states of the account `name`:
// a full name as the panel compares it (an empty one shows the name
// itself), everything else as the option spells it.
bool SettingDiffers(const AccountSetting& setting, const AccountSettingValues& is, const AccountSettingValues& will,
                    const wchar_t* name);

// One change a plan of settings makes.
struct SettingChange {
    const AccountSetting* setting;
    std::wstring text;
    std::wstring before, after;
};

// The settings `values` ask for, written over `is` into `will`, and each
// change in the table's order. False with `refused` naming the first value
// the table does not take, or a password that would have to change at the
// next sign-in although it never expires or cannot change (`refused` null).
bool PlanSettingValues(const wchar_t* name, const AccountSettingValues& is, const std::vector<SettingValue>& values,
                       AccountSettingValues& will, std::vector<SettingChange>& changes,
                       const AccountSetting*& refused);
