#include "accounts/account_settings.h"

#include <windows.h>
#include <commctrl.h>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/groups.h"
#include "accounts/passwords.h"
#include "ui/dialog_owner.h"
#include "ui/message_box.h"

namespace {

constexpr int kBoxHeight = 200;
constexpr wchar_t kLastAdministratorText[] =
    L"This is the last administrator account of this computer that can sign in.\r\n"
    L"It stays an administrator that can sign in: nothing was changed.";

uint32_t ApplyAutoLogon(DialogOwner& owner, const AccountSettingsChoice& choice, HICON accountIcon)
{
    const wchar_t* name = choice.accountName;
    bool current = IsAutoLogonAccount(name);
    if (!choice.autoLogon && current)
        return SetAutoLogon(L"", nullptr) == AutoLogonResult::Failed ? SettingsFailure::AutoLogon : 0;
    if (choice.autoLogon && !current) {
        return PasswordDialog(owner, accountIcon, name, choice.displayName, PasswordDialogMode::AutoLogon)
                   ? 0
                   : SettingsFailure::AutoLogon;
    }
    return 0;
}

// Why the new name cannot be taken, for the operator; empty when it can
// (or when there is none).
const wchar_t* RenameRefusalText(const AccountSettingsChoice& choice)
{
    if (choice.newName == nullptr || wcscmp(choice.newName, choice.accountName) == 0)
        return L"";
    NewAccountNameProblem problem = NewAccountNameProblem::None;
    switch (CheckAccountRename(choice.accountName, choice.newName, problem)) {
    case RenameRefusal::None: return L"";
    case RenameRefusal::NoSuchAccount: return L"The user account no longer exists.";
    case RenameRefusal::Taken: return L"A user account or group with this name already exists.\r\nThe name was not changed.";
    case RenameRefusal::BadName:
        if (problem == NewAccountNameProblem::Reserved)
            return L"This name is kept for the profile repair's temporary account.\r\nThe name was not changed.";
        break;
    }
    return L"This name cannot be used: a user name has 1 to 20 characters, not only dots and blanks, and none of "
           L"\" / \\ [ ] : ; | = , + * ? < > @.\r\nThe name was not changed.";
}

}  // namespace

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

SettingsOutcome ApplyAccountSettings(DialogOwner& owner, const AccountSettingsChoice& choice,
                                     const GroupNames& groupNames, HICON accountIcon)
{
    SettingsOutcome outcome;
    if (choice.accountName == nullptr || *choice.accountName == L'\0')
        return outcome;
    owner.Lock();
    if (const wchar_t* refusal = RenameRefusalText(choice); *refusal != L'\0') {
        ThemedMessageBox(refusal, BoxKind::Ok, kBoxHeight, owner);
        owner.Unlock();
        return outcome;
    }
    if (ThemedMessageBox(L"Are you sure you want to apply the seleted settings to this user account?",
                         BoxKind::YesNo, kBoxHeight, owner) != 1) {
        owner.Unlock();
        return outcome;
    }
    outcome.confirmed = true;
    if (TakesLastAdministrator(choice)) {
        ThemedMessageBox(kLastAdministratorText, BoxKind::Ok, kBoxHeight, owner);
        owner.Unlock();
        return outcome;
    }

    uint32_t failures = ApplyAccountRecord(choice, groupNames);
    if ((failures & SettingsFailure::LastAdministrator) != 0) {
        ThemedMessageBox(L"This is the last administrator account of this computer that can sign in.\r\n"
                         L"Its account type stays Administrator.",
                         BoxKind::Ok, kBoxHeight, owner);
        failures &= ~SettingsFailure::LastAdministrator;
    }
    failures |= ApplyAutoLogon(owner, choice, accountIcon);
    SignInVisibilityMode visibility = choice.hidden ? SignInVisibilityMode::Hide : SignInVisibilityMode::Show;
    // Hiding clears the automatic sign-in first (the boxes see to it); the
    // account that still signs in automatically could not, hidden.
    if ((choice.hidden && IsAutoLogonAccount(choice.accountName)) ||
        !SetSignInVisibility(choice.accountName, visibility))
        failures |= SettingsFailure::Visibility;
    // Last: every step before names the account by its old name.
    if (choice.newName != nullptr && wcscmp(choice.newName, choice.accountName) != 0) {
        const RenameResult renamed = RenameAccount(choice.accountName, choice.newName);
        outcome.renamed = renamed != RenameResult::Failed;
        failures |= renamed == RenameResult::Failed ? SettingsFailure::Name
                    : renamed == RenameResult::SignInNotFollowed ? SettingsFailure::AutoLogon : 0;
    }

    const wchar_t* summary = failures != 0 ? L"Some of the selected settings could not be applied.\r\n"
                                             L"The fields will be updated to reflect the successfull changes."
                             : outcome.renamed ? L"The selected settings were successfully applied.\r\n"
                                                 L"The user's profile folder keeps its old name."
                                               : L"The selected settings were successfully applied.";
    ThemedMessageBox(summary, BoxKind::Ok, kBoxHeight, owner);
    owner.Unlock();
    outcome.failures = failures;
    return outcome;
}
