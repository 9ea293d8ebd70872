// "Save changes": the panel's settings applied to the selected account,
// asked first, with the automatic sign-in's password asked in its dialog
// and one summary at the end.
#include "app/dialogs/account_dialogs.h"

#include <cwchar>

#include "accounts/account_lifecycle.h"
#include "accounts/account_settings.h"
#include "accounts/groups.h"
#include "accounts/passwords.h"
#include "ui/dialog_owner.h"
#include "ui/message_box.h"

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace save_settings {

constexpr int kBoxHeight = 200;
constexpr wchar_t kLastAdministratorText[] =
    L"This is the last administrator account of this computer that can sign in.\r\n"
    L"It stays an administrator that can sign in: nothing was changed.";

}  // namespace save_settings

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

SettingsOutcome ApplyAccountSettings(DialogOwner& owner, const AccountSettingsChoice& choice,
                                     const GroupNames& groupNames, HICON accountIcon)
{
    SettingsOutcome outcome;
    if (choice.accountName == nullptr || *choice.accountName == L'\0')
        return outcome;
    owner.Lock();
    if (const wchar_t* refusal = RenameRefusalText(choice); *refusal != L'\0') {
        ThemedMessageBox(refusal, BoxKind::Ok, save_settings::kBoxHeight, owner);
        owner.Unlock();
        return outcome;
    }
    if (ThemedMessageBox(L"Are you sure you want to apply the seleted settings to this user account?",
                         BoxKind::YesNo, save_settings::kBoxHeight, owner) != 1) {
        owner.Unlock();
        return outcome;
    }
    outcome.confirmed = true;
    if (TakesLastAdministrator(choice)) {
        ThemedMessageBox(save_settings::kLastAdministratorText, BoxKind::Ok, save_settings::kBoxHeight, owner);
        owner.Unlock();
        return outcome;
    }

    uint32_t failures = ApplyAccountRecord(choice, groupNames);
    if ((failures & SettingsFailure::LastAdministrator) != 0) {
        ThemedMessageBox(L"This is the last administrator account of this computer that can sign in.\r\n"
                         L"Its account type stays Administrator.",
                         BoxKind::Ok, save_settings::kBoxHeight, owner);
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
    ThemedMessageBox(summary, BoxKind::Ok, save_settings::kBoxHeight, owner);
    owner.Unlock();
    outcome.failures = failures;
    return outcome;
}
