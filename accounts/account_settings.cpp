#include "accounts/account_settings.h"

#include <windows.h>
#include <commctrl.h>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/groups.h"
#include "accounts/passwords.h"
#include "app/main_window.h"
#include "ui/message_box.h"

namespace {

constexpr int kBoxHeight = 200;

bool IsChecked(MainWindow& window, int32_t id) { return (window.GetState(id) & StateFlags::Check) != 0; }

// Steps that need the stored record: the type, then the name and flags.
// The failure bits they set.
uint32_t ApplyRecord(MainWindow& window, const wchar_t* name)
{
    const MainWindowControls& ids = window.ids;
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = machine::NetUserGetInfo(nullptr, name, 3, &buffer);
    UniqueNetBuffer held(buffer);
    if (status != NERR_Success || !held)
        return SettingsFailure::Record;   // nothing of the record was applied
    const auto& stored = *static_cast<const USER_INFO_3*>(held.Get());

    uint32_t failures = 0;
    USER_INFO_3 copy = stored;
    const ControlEntry* privilege = window.Control(ids.privilegeList);
    auto selection = static_cast<uint32_t>(
        privilege != nullptr ? SendMessageW(privilege->handle, CB_GETCURSEL, 0, 0) : CB_ERR);
    if (selection != stored.usri3_priv && selection != kPrivilegeAdministrator &&
        stored.usri3_priv == kPrivilegeAdministrator && IsLastEnabledAdministrator(name)) {
        // Nobody could administer the machine afterwards.
        ThemedMessageBox(L"This is the last enabled administrator account of this computer.\r\n"
                         L"Its account type stays Administrator.",
                         0, kBoxHeight, &window);
        failures |= SettingsFailure::Type;
    } else if (selection != stored.usri3_priv) {
        if (SetAccountType(name, selection, &window.groupNames))
            copy.usri3_priv = selection;   // the database takes only the privilege it now derives
        else
            failures |= SettingsFailure::Type;
    }

    WString display = window.GetText(ids.displayNameField);
    const wchar_t* storedFull = stored.usri3_full_name != nullptr ? stored.usri3_full_name : L"";
    // The field shows the account name in place of an empty full name.
    bool nameChanged = FullNameChanged(display.Text(), storedFull, name);
    if (nameChanged)
        copy.usri3_full_name = display.Data() != nullptr ? display.Data() : const_cast<wchar_t*>(L"");

    AccountFlagChoice choice;
    choice.disabled = IsChecked(window, ids.disabledBox);
    choice.lockedOut = IsChecked(window, ids.lockedOutBox);
    choice.cannotChange = IsChecked(window, ids.cannotChangeBox);
    choice.notRequired = IsChecked(window, ids.notRequiredBox);
    choice.neverExpires = IsChecked(window, ids.neverExpiresBox);
    copy.usri3_flags = ComposeAccountFlags(stored.usri3_flags, choice);
    // An expired password stays expired unless its box was unchecked.
    bool clearExpiry = (stored.usri3_flags & kFlagPasswordExpired) != 0 && !IsChecked(window, ids.expiredBox);
    if (clearExpiry) {
        copy.usri3_flags &= ~kFlagPasswordExpired;
        copy.usri3_password_expired = 0;
    }

    if (nameChanged || clearExpiry || copy.usri3_flags != stored.usri3_flags) {
        DWORD parameterError = 0;
        if (machine::NetUserSetInfo(nullptr, name, 3, reinterpret_cast<LPBYTE>(&copy), &parameterError) !=
            NERR_Success)
            failures |= SettingsFailure::Record;
    }
    return failures;
}

uint32_t ApplyAutoLogon(MainWindow& window, int row, const wchar_t* name)
{
    bool wanted = IsChecked(window, window.ids.autoLogonBox);
    bool current = IsAutoLogonAccount(name);
    if (!wanted && current)
        return SetAutoLogon(L"", nullptr) == AutoLogonResult::Failed ? SettingsFailure::AutoLogon : 0;
    if (wanted && !current) {
        UniqueIcon icon = window.RowIcon(row);
        WString display = window.GetText(window.ids.displayNameField);
        return PasswordDialog(window, icon.Get(), name, display.Text(), PasswordDialogMode::AutoLogon)
                   ? 0
                   : SettingsFailure::AutoLogon;
    }
    return 0;
}

}  // namespace

uint32_t ApplyAccountSettings(MainWindow& window, int row)
{
    WString name = window.GetText(window.ids.accountNameField);
    if (name.IsEmpty())
        return 0;
    window.Lock();
    if (ThemedMessageBox(L"Are you sure you want to apply the seleted settings to this user account?", 1,
                         kBoxHeight, &window) != 1) {
        window.Unlock();
        return 0;
    }

    uint32_t failures = ApplyRecord(window, name.Text());
    failures |= ApplyAutoLogon(window, row, name.Text());
    SignInVisibilityMode visibility =
        IsChecked(window, window.ids.hiddenBox) ? SignInVisibilityMode::Hide : SignInVisibilityMode::Show;
    if (!SetSignInVisibility(name.Text(), visibility))
        failures |= SettingsFailure::Visibility;

    ThemedMessageBox(failures == 0 ? L"The selected settings were successfully applied."
                                   : L"Some of the selected settings could not be applied.\r\n"
                                     L"The fields will be updated to reflect the successfull changes.",
                     0, kBoxHeight, &window);
    window.Unlock();
    ShowAccountDetails(window, row);
    return failures;
}
