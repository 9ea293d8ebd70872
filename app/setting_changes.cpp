#include "app/setting_changes.h"

#include "accounts/account_list.h"
#include "accounts/account_settings.h"
#include "accounts/groups.h"
#include "accounts/passwords.h"
#include "app/command_mode.h"

AccountSettingValues SettingValuesOf(const AccountDetails& details)
{
    AccountSettingValues values;
    values.fullName = details.fullName.Text();
    values.privilege = details.privilege;
    values.flags = details.flags;
    values.hidden = details.hidden;
    values.description = details.description.Text();
    values.accountExpires = details.accountExpires;
    return values;
}

SettingsPlan PlanAccountSettings(const wchar_t* name, const AccountSettingValues& is, bool builtin, bool console,
                                 const std::vector<SettingValue>& values, bool onlyDiffering)
{
    SettingsPlan plan;
    plan.name = name;
    plan.is = is;
    const AccountSetting* refused = nullptr;
    const bool taken = PlanSettingValues(name, is, values, plan.will, plan.changes, refused);
    const auto refuse = [&](int code, const std::wstring& why) {
        plan.refusal = code;
        plan.why = why;
        plan.changes.clear();
        plan.will = is;
        return plan;
    };
    if (refused != nullptr && refused->refusalExit == kExitRefused)
        return refuse(kExitRefused, refused->refusal);
    const auto asked = [&](SettingId id) {
        for (const SettingValue& value : values)
            if (value.setting == &SettingRow(id))
                return !onlyDiffering || SettingDiffers(*value.setting, is, plan.will, name);
        return false;
    };
    struct Guard {
        SettingId setting;
        bool refused;
        const wchar_t* why;
    } const guards[] = {
        {SettingId::FullName, builtin, L"a built-in account keeps its name"},
        {SettingId::Type, builtin, L"a built-in account keeps its type"},
        {SettingId::Type, console, L"the account signed in at the console keeps its type"},
        {SettingId::Disabled, console, L"the account signed in at the console cannot be disabled here"},
        {SettingId::Hidden, console, L"the account signed in at the console stays on the welcome screen"},
        {SettingId::Expires, console, L"the account signed in at the console keeps its expiry"},
    };
    for (const Guard& guard : guards)
        if (guard.refused && asked(guard.setting))
            return refuse(kExitRefused, std::wstring(guard.why) + L"; nothing was changed");
    if (asked(SettingId::Hidden) && plan.will.hidden && !is.hidden && IsAutoLogonAccount(name))
        return refuse(kExitRefused, L"the account signs in automatically, and hidden it could not sign in; clear the "
                                    L"automatic sign-in first (autologon clear); nothing was changed");
    const AccountSettingValues& will = plan.will;
    if (!plan.changes.empty() && ChangeLeavesNoAdministrator([&](const wchar_t* account, SignInState& state) {
            if (!EqualsNoCase(account, name))
                return;
            state.privilege = will.privilege;
            state.flags = will.flags;
            state.accountExpires = will.accountExpires;
            state.deniedInteractive = will.hidden;
        }))
        return refuse(kExitRefused, L"this is the last administrator account of this computer that can sign in, and "
                                    L"it would no longer be one that can; nothing was changed");
    if (refused != nullptr)
        return refuse(refused->refusalExit, refused->refusal);
    if (!taken)
        return refuse(kExitUsage, L"a password that never expires or cannot change cannot be one that must change at "
                                  L"the next sign-in; nothing was changed");
    return plan;
}

int CarryOutSettings(CommandRun& run, const SettingsPlan& plan)
{
    const wchar_t* name = plan.name.c_str();
    if (run.DryRun()) {
        for (const SettingChange& change : plan.changes)
            run.Change(change.text, name, change.setting->field, change.before, change.after);
        return kExitDone;
    }
    const AccountSettingValues& will = plan.will;
    AccountSettingsChoice choice;
    choice.accountName = name;
    choice.displayName = will.fullName.c_str();
    choice.privilege = will.privilege;
    choice.flags.disabled = (will.flags & kFlagAccountDisabled) != 0;
    choice.flags.lockedOut = (will.flags & kFlagLockedOut) != 0;
    choice.flags.cannotChange = (will.flags & kFlagPasswordCannotChange) != 0;
    choice.flags.notRequired = (will.flags & kFlagPasswordNotRequired) != 0;
    choice.flags.neverExpires = (will.flags & kFlagPasswordNeverExpires) != 0;
    choice.expired = (will.flags & kFlagPasswordExpired) != 0;
    choice.description = will.description.c_str();
    choice.setAccountExpires = true;
    choice.accountExpires = will.accountExpires;
    GroupNames groups;
    GetGroupNames(groups);
    uint32_t failures = ApplyAccountRecord(choice, groups);
    if (will.hidden != plan.is.hidden &&
        !SetSignInVisibility(name, will.hidden ? SignInVisibilityMode::Hide : SignInVisibilityMode::Show))
        failures |= SettingsFailure::Visibility;
    const uint32_t partBits[] = {SettingsFailure::Record, SettingsFailure::Type, SettingsFailure::Visibility};
    for (const SettingChange& change : plan.changes)
        (failures & partBits[static_cast<int>(change.setting->part)])
            ? run.NotDone(change.text)
            : run.Change(change.text, name, change.setting->field, change.before, change.after);
    if (failures == 0)
        return kExitDone;
    struct FailureText {
        uint32_t bit;
        const wchar_t* text;
    } const failureTexts[] = {
        {SettingsFailure::Type, L"the type could not be changed"},
        {SettingsFailure::Record, L"the full name and flags could not be written"},
        {SettingsFailure::Visibility, L"the welcome-screen visibility could not be changed"},
    };
    for (const FailureText& failure : failureTexts)
        if (failures & failure.bit)
            run.Say(failure.text);
    return kExitFailed;
}
