#include "app/account_setting_rules.h"

#include <cstring>

#include "accounts/account_rules.h"
#include "platform/text.h"

namespace {

const wchar_t* const kTypeNames[] = {L"guest", L"standard", L"administrator"};

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring YesNo(bool value)
{
    return value ? L"yes" : L"no";
}

template <uint32_t Bit>
std::wstring ReadFlag(const AccountSettingValues& values)
{
    return YesNo((values.flags & Bit) != 0);
}

bool TakeYesNo(const wchar_t* value, bool& yes)
{
    yes = EqualsNoCase(value, L"yes");
    return yes || EqualsNoCase(value, L"no");
}

template <uint32_t Bit>
bool WriteFlag(AccountSettingValues& values, const wchar_t* value)
{
    bool yes = false;
    if (!TakeYesNo(value, yes))
        return false;
    values.flags = yes ? (values.flags | Bit) : (values.flags & ~Bit);
    return true;
}

// "<quoted name> <label>: yes"
template <uint32_t Bit>
std::wstring FlagText(const std::wstring& name, const wchar_t* label, const AccountSettingValues& will)
{
    return name + L" " + label + L": " + ReadFlag<Bit>(will);
}

}  // namespace

const wchar_t* TypeName(uint32_t privilege)
{
    return privilege < 3 ? kTypeNames[privilege] : L"unknown";
}

uint32_t TypeOf(const wchar_t* name)
{
    for (uint32_t i = 0; i < 3; ++i)
        if (EqualsNoCase(name, kTypeNames[i]))
            return i;
    return kPrivilegeUser;
}

const AccountSetting kAccountSettings[kAccountSettingCount] = {
    {{L"--full-name", true, nullptr}, "fullName", false, L"fullName", SettingPart::Record,
     [](const AccountSettingValues& v) { return v.fullName; },
     [](AccountSettingValues& v, const wchar_t* value) {
         v.fullName = value;
         return !HasControlCharacter(value);   // it would forge or hide a line in lists and on the welcome screen
     },
     [](const std::wstring& name, const AccountSettingValues& will) {
         return L"full name of " + name + L" to " + Quoted(will.fullName);
     },
     L"the full name holds a control character (a tab, a line break, an escape or a direction mark); "
     L"nothing was changed",
     kExitRefused},
    {{L"--type", true, L"guest|standard|administrator"}, "type", false, L"type", SettingPart::Type,
     [](const AccountSettingValues& v) { return std::wstring(TypeName(v.privilege)); },
     [](AccountSettingValues& v, const wchar_t* value) {
         v.privilege = TypeOf(value);
         return true;
     },
     [](const std::wstring& name, const AccountSettingValues& will) {
         return L"type of " + name + L" to " + TypeName(will.privilege);
     },
     L"", kExitUsage},
    {{L"--disabled", true, L"yes|no"}, "disabled", true, L"disabled", SettingPart::Record,
     ReadFlag<kFlagAccountDisabled>, WriteFlag<kFlagAccountDisabled>,
     [](const std::wstring& name, const AccountSettingValues& will) {
         return FlagText<kFlagAccountDisabled>(name, L"disabled", will);
     },
     L"", kExitUsage},
    // A lock-out is only ever cleared.
    {{L"--unlock", false, nullptr}, nullptr, true, L"lockedOut", SettingPart::Record, ReadFlag<kFlagLockedOut>,
     [](AccountSettingValues& v, const wchar_t*) {
         v.flags &= ~kFlagLockedOut;
         return true;
     },
     [](const std::wstring& name, const AccountSettingValues& will) {
         return FlagText<kFlagLockedOut>(name, L"locked out", will);
     },
     L"", kExitUsage},
    {{L"--password-cannot-change", true, L"yes|no"}, "passwordCannotChange", true, L"passwordCannotChange",
     SettingPart::Record, ReadFlag<kFlagPasswordCannotChange>, WriteFlag<kFlagPasswordCannotChange>,
     [](const std::wstring& name, const AccountSettingValues& will) {
         return FlagText<kFlagPasswordCannotChange>(name, L"password cannot change", will);
     },
     L"", kExitUsage},
    {{L"--password-not-required", true, L"yes|no"}, "passwordNotRequired", true, L"passwordNotRequired",
     SettingPart::Record, ReadFlag<kFlagPasswordNotRequired>, WriteFlag<kFlagPasswordNotRequired>,
     [](const std::wstring& name, const AccountSettingValues& will) {
         return FlagText<kFlagPasswordNotRequired>(name, L"password not required", will);
     },
     L"", kExitUsage},
    {{L"--password-never-expires", true, L"yes|no"}, "passwordNeverExpires", true, L"passwordNeverExpires",
     SettingPart::Record, ReadFlag<kFlagPasswordNeverExpires>, WriteFlag<kFlagPasswordNeverExpires>,
     [](const std::wstring& name, const AccountSettingValues& will) {
         return FlagText<kFlagPasswordNeverExpires>(name, L"password never expires", will);
     },
     L"", kExitUsage},
    {{L"--hidden", true, L"yes|no"}, "hidden", true, L"hidden", SettingPart::Visibility,
     [](const AccountSettingValues& v) { return YesNo(v.hidden); },
     [](AccountSettingValues& v, const wchar_t* value) { return TakeYesNo(value, v.hidden); },
     [](const std::wstring& name, const AccountSettingValues& will) {
         return name + (will.hidden ? L" hidden from" : L" shown on") + L" the welcome screen";
     },
     L"", kExitUsage},
    {{L"--description", true, nullptr}, "description", false, L"description", SettingPart::Record,
     [](const AccountSettingValues& v) { return v.description; },
     [](AccountSettingValues& v, const wchar_t* value) {
         v.description = value;
         return !HasControlCharacter(value);
     },
     [](const std::wstring& name, const AccountSettingValues& will) {
         return L"description of " + name + L" to " + Quoted(will.description);
     },
     L"the description holds a control character; nothing was changed", kExitUsage},
    {{L"--expires", true, nullptr}, "expires", false, L"expires", SettingPart::Record,
     [](const AccountSettingValues& v) { return ExpiryText(v.accountExpires); },
     [](AccountSettingValues& v, const wchar_t* value) { return ReadExpiryDate(value, v.accountExpires); },
     [](const std::wstring& name, const AccountSettingValues& will) {
         return name + L" expires: " + ExpiryText(will.accountExpires);
     },
     L"--expires takes a date as YYYY-MM-DD (the account expires at its start, UTC), a time as "
     L"YYYY-MM-DDTHH:MM:SSZ, or never",
     kExitUsage},
    {{L"--must-change-password", true, L"yes|no"}, "mustChangePassword", true, L"mustChangePassword",
     SettingPart::Record, ReadFlag<kFlagPasswordExpired>, WriteFlag<kFlagPasswordExpired>,
     [](const std::wstring& name, const AccountSettingValues& will) {
         return FlagText<kFlagPasswordExpired>(name, L"must change the password at the next sign-in", will);
     },
     L"", kExitUsage},
};

const AccountSetting& SettingRow(SettingId id)
{
    return kAccountSettings[static_cast<size_t>(id)];
}

namespace {

constexpr const AccountSetting* Row(SettingId id)
{
    return &kAccountSettings[static_cast<size_t>(id)];
}

}  // namespace

const AccountColumn kAccountColumns[kAccountColumnCount] = {
    {"name", AccountFact::Name, nullptr, false},
    {"fullName", AccountFact::Setting, Row(SettingId::FullName), false},
    {"type", AccountFact::Setting, Row(SettingId::Type), false},
    {"typeText", AccountFact::TypeText, nullptr, true},
    {"sid", AccountFact::Sid, nullptr, false},
    {"disabled", AccountFact::Setting, Row(SettingId::Disabled), false},
    {"lockedOut", AccountFact::Setting, Row(SettingId::Unlock), false},
    {"passwordCannotChange", AccountFact::Setting, Row(SettingId::PasswordCannotChange), false},
    {"passwordNotRequired", AccountFact::Setting, Row(SettingId::PasswordNotRequired), false},
    {"passwordNeverExpires", AccountFact::Setting, Row(SettingId::PasswordNeverExpires), false},
    // The record's own name for the flag a document calls mustChangePassword.
    {"passwordExpired", AccountFact::Setting, Row(SettingId::MustChangePassword), false},
    {"hidden", AccountFact::Setting, Row(SettingId::Hidden), false},
    {"autoLogon", AccountFact::AutoLogon, nullptr, false},
    {"builtin", AccountFact::Builtin, nullptr, true},
    {"console", AccountFact::Console, nullptr, true},
    {"picture", AccountFact::Picture, nullptr, false},
    {"profile", AccountFact::Profile, nullptr, false},
    {"sizeBytes", AccountFact::SizeBytes, nullptr, false},   // only when the sizes are asked for
};

const AccountSetting* FindSettingOption(const wchar_t* option)
{
    for (const AccountSetting& setting : kAccountSettings)
        if (wcscmp(setting.option.name, option) == 0)
            return &setting;
    return nullptr;
}

const AccountSetting* FindSettingMember(const std::wstring& member)
{
    for (const AccountSetting& setting : kAccountSettings)
        if (setting.member != nullptr && member == std::wstring(setting.member, setting.member + strlen(setting.member)))
            return &setting;
    return nullptr;
}

bool SettingDiffers(const AccountSetting& setting, const AccountSettingValues& is, const AccountSettingValues& will,
                    const wchar_t* name)
{
    if (&setting == &SettingRow(SettingId::FullName))
        return FullNameChanged(will.fullName.c_str(), is.fullName.c_str(), name);
    return setting.read(is) != setting.read(will);
}

bool PlanSettingValues(const wchar_t* name, const AccountSettingValues& is, const std::vector<SettingValue>& values,
                       AccountSettingValues& will, std::vector<SettingChange>& changes,
                       const AccountSetting*& refused)
{
    will = is;
    refused = nullptr;
    bool taken = true;
    for (const SettingValue& value : values) {
        if (!value.setting->write(will, value.value.c_str()) && taken) {
            refused = value.setting;
            taken = false;
        }
    }
    if (!taken)
        return false;
    const bool expired = (is.flags & kFlagPasswordExpired) != 0;
    if ((will.flags & kFlagPasswordExpired) != 0 && !expired &&
        (will.flags & (kFlagPasswordNeverExpires | kFlagPasswordCannotChange)) != 0)
        return false;
    const std::wstring quoted = Quoted(name);
    changes.clear();
    for (const AccountSetting& setting : kAccountSettings)
        if (SettingDiffers(setting, is, will, name))
            changes.push_back({&setting, setting.describe(quoted, will), setting.read(is), setting.read(will)});
    return true;
}
