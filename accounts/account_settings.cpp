#include "accounts/account_settings.h"

#include <windows.h>
#include <commctrl.h>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"

bool TakesLastAdministrator(const AccountSettingsChoice& choice)
{
    return ChangeLeavesNoAdministrator([&](const wchar_t* name, SignInState& state) {
        if (!EqualsNoCase(name, choice.accountName))
            return;
        state.privilege = choice.privilege;
        state.flags = ComposeAccountFlags(state.flags, choice.flags);
        if (choice.setAccountExpires)
            state.accountExpires = choice.accountExpires;
        state.deniedInteractive = choice.hidden;
    });
}

uint32_t ApplyAccountRecord(const AccountSettingsChoice& choice, const GroupNames& groupNames)
{
    const wchar_t* name = choice.accountName;
    AccountRecord stored;
    if (!ReadAccountRecord(name, stored))
        return SettingsFailure::Record;   // nothing of the record was applied

    uint32_t failures = 0;
    AccountRecord will = stored;
    const uint32_t selection = choice.privilege;
    if (selection != stored.privilege && selection != kPrivilegeAdministrator &&
        stored.privilege == kPrivilegeAdministrator && IsLastAdministrator(name)) {
        // Nobody could administer the machine afterwards.
        failures |= SettingsFailure::Type | SettingsFailure::LastAdministrator;
    } else if (selection != stored.privilege) {
        if (SetAccountType(name, selection, &groupNames))
            will.privilege = selection;   // the database takes only the privilege it now derives
        else
            failures |= SettingsFailure::Type;
    }

    const wchar_t* display = choice.displayName != nullptr ? choice.displayName : L"";
    // The field shows the account name in place of an empty full name.
    const bool nameChanged = FullNameChanged(display, stored.fullName.c_str(), name);
    if (nameChanged)
        will.fullName = display;

    will.flags = ComposeAccountFlags(stored.flags, choice.flags);
    // An expired password stays expired unless its box was unchecked.
    const bool clearExpiry = (stored.flags & kFlagPasswordExpired) != 0 && !choice.expired;
    if (clearExpiry) {
        will.flags &= ~kFlagPasswordExpired;
        will.passwordExpired = false;
    }

    // Checked where it was not: the password must change at the next sign-in.
    const bool setExpiry = choice.expired && (stored.flags & kFlagPasswordExpired) == 0;
    if (setExpiry)
        will.passwordExpired = true;
    const bool described =
        choice.description != nullptr && CompareText(choice.description, stored.comment.c_str(), true) != 0;
    if (described)
        will.comment = choice.description;
    const bool expires = choice.setAccountExpires && choice.accountExpires != stored.accountExpires;
    if (expires)
        will.accountExpires = choice.accountExpires;

    if ((nameChanged || clearExpiry || setExpiry || described || expires || will.flags != stored.flags) &&
        !WriteAccountRecord(name, will))
        failures |= SettingsFailure::Record;
    return failures;
}
