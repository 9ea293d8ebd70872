// The dialog through which the operator sets automatic sign-in or changes a
// password, built like the program's message boxes, and the worker that
// changes a password while the window lives on.
#include "app/dialogs/account_dialogs.h"

#include "accounts/passwords.h"
#include "ui/dialog.h"
#include "ui/drawing.h"
#include "ui/message_box.h"
#include "ui/secret_text.h"
#include "ui/window.h"
#include "ui/worker.h"

namespace {

DWORD WINAPI PasswordWorker(void* parameter)
{
    return ApplyPasswordChange(*static_cast<const PasswordChangeRequest*>(parameter));
}

NET_API_STATUS RunPasswordRequest(UiWindow& pumpWindow, const PasswordChangeRequest& request)
{
    WorkerWatch watch;
    watch.window = &pumpWindow;
    DWORD code = 0;
    if (!RunWorker(PasswordWorker, const_cast<PasswordChangeRequest*>(&request), watch, &code))
        return ERROR_NOT_ENOUGH_MEMORY;   // nothing was changed; never report success
    return static_cast<NET_API_STATUS>(code);
}

}  // namespace

NET_API_STATUS RunPasswordChange(UiWindow& pumpWindow, const wchar_t* accountName, const wchar_t* currentPassword,
                                 const wchar_t* newPassword)
{
    return RunPasswordRequest(pumpWindow, {accountName, currentPassword, newPassword});
}

NET_API_STATUS RunPasswordReset(UiWindow& pumpWindow, const wchar_t* accountName, const wchar_t* newPassword)
{
    return RunPasswordRequest(pumpWindow, {accountName, nullptr, newPassword, true});
}

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace password {

constexpr int kWidth = 400;
constexpr int kHeight = 355;
constexpr LONG kPasswordStyle = WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD;
constexpr int32_t kGreen = RGB(0, 153, 0);
constexpr int32_t kRed = RGB(255, 0, 0);

}  // namespace password

const wchar_t* const kModeTexts[] = {L"set auto-logon", L"change the password", L"create a password"};

struct PasswordFields {
    int32_t currentLabel = 0;
    int32_t current = 0;
    int32_t forgotten = 0;   // "I don't know the current password": the change becomes a reset
    bool reset = false;
    int32_t first = 0;
    int32_t second = 0;
    int32_t status = 0;
    int32_t apply = 0;
    int32_t cancel = 0;
};

void ReportPassword(UiWindow& dialog, const PasswordFields& fields, const wchar_t* text, int32_t colour)
{
    dialog.SetColour(fields.status, colour, -1);
    dialog.SetText(fields.status, text);
    UpdateWindow(dialog.Handle());
}

// A red message leaves the dialog open with its fields as typed.
void RefusePassword(UiWindow& dialog, const PasswordFields& fields, const wchar_t* text, int32_t focus)
{
    ReportPassword(dialog, fields, text, password::kRed);
    dialog.SetState(fields.apply, StateFlags::Enable);
    dialog.SetState(fields.cancel, StateFlags::Enable);
    if (focus != 0)
        dialog.SetState(focus, StateFlags::Focus);
}

// One press of "Apply": true when the dialog is done.
bool ApplyPassword(UiDialog& dialog, const PasswordFields& fields, const wchar_t* accountName,
           PasswordDialogMode mode)
{
    dialog.SetState(fields.apply, StateFlags::Disable);
    dialog.SetState(fields.cancel, StateFlags::Disable);
    SecretText first, second;
    ReadSecretField(dialog, fields.first, first);
    ReadSecretField(dialog, fields.second, second);
    bool equal = CompareText(first.Text(), second.Text(), true) == 0;

    if (mode == PasswordDialogMode::AutoLogon) {
        ReportPassword(dialog, fields, L"Configuring autologon, please wait...", password::kGreen);
        if (!equal) {
            RefusePassword(dialog, fields, L"The passwords you entered are not equal.", fields.first);
            return false;
        }
        if (SetAutoLogon(accountName, first.Text()) != AutoLogonResult::Failed)
            return true;
        RefusePassword(dialog, fields, L"Un unexpected error occurred while setting the auto-logon.", 0);
        return false;
    }

    ReportPassword(dialog, fields, L"Setting password, please wait...", password::kGreen);
    SecretText current;
    if (mode == PasswordDialogMode::ChangePassword)
        ReadSecretField(dialog, fields.current, current);
    if (!equal) {
        RefusePassword(dialog, fields, L"The new passwords you entered are not equal.", fields.first);
        return false;
    }
    NET_API_STATUS status =
        fields.reset ? RunPasswordReset(dialog.Owner().OwnerWindow(), accountName, first.Text())
                     : RunPasswordChange(dialog.Owner().OwnerWindow(), accountName, current.Text(), first.Text());
    if (status == NERR_Success) {
        if (IsAutoLogonAccount(accountName))
            SetAutoLogon(accountName, first.Text());
        return true;
    }
    RefusePassword(dialog, fields,
           status == ERROR_INVALID_PASSWORD ? L"The current password you entered is not correct."
                                            : L"Un unexpected error occurred while changing the password.",
           0);
    return false;
}

// Without the current password the change becomes a reset, whose cost is
// said before anything else can be pressed.
void SwitchToReset(UiWindow& dialog, PasswordFields& fields)
{
    fields.reset = true;
    for (int32_t control : {fields.currentLabel, fields.current, fields.forgotten})
        dialog.SetState(control, StateFlags::Hide);
    ReportPassword(dialog, fields, kPasswordResetWarning, password::kRed);
    dialog.SetState(fields.first, StateFlags::Focus);
}

}  // namespace

bool PasswordDialog(DialogOwner& owner, HICON accountIcon, const wchar_t* accountName, const wchar_t* fullName,
                    PasswordDialogMode mode)
{
    UiDialog dialog(owner);
    if (!dialog.Create(OutlinedLook(password::kWidth, password::kHeight, 391, 347)))
        return false;

    const bool change = mode == PasswordDialogMode::ChangePassword;
    const int d = change ? 20 : 0;
    if (accountIcon != nullptr)
        dialog.AddIcon(CopyIcon(accountIcon), 10, 10, 48, 48);   // the control owns its copy
    int32_t heading = dialog.AddLabel(fullName != nullptr ? fullName : L"", 68, 20, 312, 25, WS_VISIBLE | SS_CENTER);
    dialog.SetFont(heading, 16.0, 800, 0, L"Arial");
    WString sentence(L"You are about to ");
    sentence.Append(kModeTexts[static_cast<int>(mode)], L" for this user account.");
    dialog.AddLabel(sentence.Text(), 20, 70, 360, 20, kDefaultStyle);

    PasswordFields fields;
    if (change) {
        fields.currentLabel = dialog.AddFieldLabel(L"&Current password (if any):", 20, 112, 160, 18);
        fields.current = dialog.AddEdit(L"", 185, 110, 195, password::kPasswordStyle);
        dialog.SetTip(fields.current, L"Enter the current password for this user in this field.");
    }
    fields.status = dialog.AddLabel(
        change ? L"Note: You can set an empty password for this account, by leaving both \"New password\" fields above empty"
               : L"",
        20, 250, 360, 62, -1);
    bool autoLogon = mode == PasswordDialogMode::AutoLogon;
    dialog.AddFieldLabel(autoLogon ? L"Enter &password:" : L"Enter &new password:", 20, 142 + d, 160, 18);
    fields.first = dialog.AddEdit(L"", 185, 140 + d, 195, password::kPasswordStyle);
    dialog.SetTip(fields.first, L"Enter the new password for this user in this field.");
    dialog.AddFieldLabel(autoLogon ? L"Password (a&gain):" : L"New password (a&gain):", 20, 182 + d, 160, 18);
    fields.second = dialog.AddEdit(L"", 185, 180 + d, 195, password::kPasswordStyle);
    dialog.SetTip(fields.second, L"Re-enter the new password for this user in this field.");
    if (change) {
        fields.forgotten = dialog.AddButton(L"I &don't know the current password", 20, 222, 250, 24,
                                            WS_VISIBLE | WS_TABSTOP);
        dialog.SetTip(fields.forgotten, L"Reset the password without the current one.");
    }
    fields.apply = dialog.AddButton(L"&Apply", 55, 318, 80, 25, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    dialog.SetTip(fields.apply, L"Apply the selected changes now.");
    fields.cancel = dialog.AddButton(L"Cancel", 255, 318, 80, 25, kDefaultStyle);
    dialog.SetCancel(fields.cancel);
    dialog.SetTip(fields.cancel, L"Cancel this operation.");

    dialog.Show(change ? fields.current : fields.first);

    const bool result = dialog.RunModal([&](int32_t event) {
        if (event <= 0)
            return DialogStep::Stay;
        if (event == fields.cancel)
            return DialogStep::Done;
        if (event == fields.forgotten && fields.forgotten != 0) {
            SwitchToReset(dialog, fields);
            return DialogStep::Stay;
        }
        if (event == fields.apply && ApplyPassword(dialog, fields, accountName, mode))
            return DialogStep::Done;
        return DialogStep::Stay;
    });
    // The edit controls' own copies of what was typed go with a blank.
    for (int32_t field : {fields.current, fields.first, fields.second}) {
        if (field != 0)
            dialog.SetText(field, L"");
    }
    return result;
}
