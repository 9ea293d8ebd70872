#include "accounts/account_settings.h"

#include <windows.h>
#include <commctrl.h>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/groups.h"
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
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = machine::NetUserGetInfo(nullptr, name, 3, &buffer);
    UniqueNetBuffer held(buffer);
    if (status != NERR_Success || !held)
        return SettingsFailure::Record;   // nothing of the record was applied
    const auto& stored = *static_cast<const USER_INFO_3*>(held.Get());

    uint32_t failures = 0;
    USER_INFO_3 copy = stored;
    const uint32_t selection = choice.privilege;
    if (selection != stored.usri3_priv && selection != kPrivilegeAdministrator &&
        stored.usri3_priv == kPrivilegeAdministrator && IsLastAdministrator(name)) {
        // Nobody could administer the machine afterwards.
        failures |= SettingsFailure::Type | SettingsFailure::LastAdministrator;
    } else if (selection != stored.usri3_priv) {
        if (SetAccountType(name, selection, &groupNames))
            copy.usri3_priv = selection;   // the database takes only the privilege it now derives
        else
            failures |= SettingsFailure::Type;
    }

    const wchar_t* display = choice.displayName != nullptr ? choice.displayName : L"";
    const wchar_t* storedFull = stored.usri3_full_name != nullptr ? stored.usri3_full_name : L"";
    // The field shows the account name in place of an empty full name.
    bool nameChanged = FullNameChanged(display, storedFull, name);
    if (nameChanged)
        copy.usri3_full_name = const_cast<wchar_t*>(display);   // only read by the database

    copy.usri3_flags = ComposeAccountFlags(stored.usri3_flags, choice.flags);
    // An expired password stays expired unless its box was unchecked.
    bool clearExpiry = (stored.usri3_flags & kFlagPasswordExpired) != 0 && !choice.expired;
    if (clearExpiry) {
        copy.usri3_flags &= ~kFlagPasswordExpired;
        copy.usri3_password_expired = 0;
    }

    // Checked where it was not: the password must change at the next sign-in.
    const bool setExpiry = choice.expired && (stored.usri3_flags & kFlagPasswordExpired) == 0;
    if (setExpiry)
        copy.usri3_password_expired = 1;
    const wchar_t* storedComment = stored.usri3_comment != nullptr ? stored.usri3_comment : L"";
    const bool described = choice.description != nullptr && CompareText(choice.description, storedComment, true) != 0;
    if (described)
        copy.usri3_comment = const_cast<wchar_t*>(choice.description);   // only read by the database
    const bool expires = choice.setAccountExpires && choice.accountExpires != stored.usri3_acct_expires;
    if (expires)
        copy.usri3_acct_expires = choice.accountExpires;

    if (nameChanged || clearExpiry || setExpiry || described || expires || copy.usri3_flags != stored.usri3_flags) {
        DWORD parameterError = 0;
        if (machine::NetUserSetInfo(nullptr, name, 3, reinterpret_cast<LPBYTE>(&copy), &parameterError) !=
            NERR_Success)
            failures |= SettingsFailure::Record;
    }
    return failures;
}
