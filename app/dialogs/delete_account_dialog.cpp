// The dialog through which the operator deletes an account, built like the
// program's message boxes. The deletion runs on a worker thread while the
// dialog keeps painting and its spinner turns.
#include "app/dialogs/account_dialogs.h"

#include "accounts/account_lifecycle.h"
#include "accounts/groups.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "ui/dialog.h"
#include "ui/drawing.h"
#include "ui/message_box.h"
#include "ui/window.h"
#include "ui/worker.h"

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace delete_account {

constexpr int kWidth = 400;
constexpr int kHeight = 255;
constexpr int32_t kRed = RGB(255, 0, 0);

}  // namespace delete_account

// The worker's block: it lives on the dialog's stack until the worker ended.
struct DeletionJob {
    AccountDeletion deletion;
    AccountDeletionReport report;
};

DWORD WINAPI AccountDeletionWorker(void* parameter)
{
    auto* job = static_cast<DeletionJob*>(parameter);
    RemoveAccount(job->deletion, job->report);
    return 0;
}

// What the operator is told after the deletion, when anything is worth
// telling; null when the account simply went.
const wchar_t* FolderSentence(const AccountDeletionReport& report, bool filesAsked)
{
    if (!filesAsked)
        return nullptr;
    switch (report.folderVerdict) {
    case ProfileFolderVerdict::Inside:
        return report.folderResult == kDeleteFailed
                   ? L"The user account was successfully deleted, but some of the files in its profile folder "
                     L"could not be deleted:"
                   : nullptr;
    case ProfileFolderVerdict::Shared:
        return L"The user account was successfully deleted. Its profile folder was kept because another profile "
               L"uses it:";
    case ProfileFolderVerdict::ReparsePoint:
        return L"The user account was successfully deleted. Its profile folder was kept because it is a link to "
               L"another place:";
    case ProfileFolderVerdict::IsRoot:
    case ProfileFolderVerdict::OutsideRoot:
    case ProfileFolderVerdict::NotLocalAbsolute:
    case ProfileFolderVerdict::UnsafeComponent:
    case ProfileFolderVerdict::RootUnusable:
        return L"The user account was successfully deleted. Its profile folder was kept because it does not lie "
               L"inside the profiles folder:";
    case ProfileFolderVerdict::ProfileListUnreadable:
        return L"The user account was successfully deleted. Its profile folder was kept because the list of the "
               L"computer's profiles could not be read:";
    case ProfileFolderVerdict::Empty:
    case ProfileFolderVerdict::Missing:
        break;
    }
    return nullptr;
}

}  // namespace

bool DeleteAccountDialog(DialogOwner& owner, HICON accountIcon, const wchar_t* accountName,
                         const wchar_t* fullName)
{
    UiDialog dialog(owner);
    if (!dialog.Create(OutlinedLook(delete_account::kWidth, delete_account::kHeight, 391, 247)))
        return false;

    if (accountIcon != nullptr)
        dialog.AddIcon(CopyIcon(accountIcon), 10, 10, 48, 48);   // the control owns its copy
    int32_t heading = dialog.AddLabel(fullName != nullptr ? fullName : L"", 68, 20, 312, 25, WS_VISIBLE | SS_CENTER);
    dialog.SetFont(heading, 16.0, 800, 0, L"Arial");
    int32_t note = dialog.AddLabel(L"Note: You are about to delete this user account.", 20, 80, 360, 20, kDefaultStyle);
    dialog.SetColour(note, delete_account::kRed, -1);
    int32_t files = dialog.AddCheckBox(L"&Also delete user files and folders", 20, 110, 250, 18);
    dialog.SetTip(files, L"If you check this option Vantrell will delete all\r\nthe files and folders in the user's "
                         L"profile directory.");
    int32_t remove = dialog.AddButton(L"&Delete account", 55, 218, 120, 25, kDefaultStyle);
    dialog.SetTip(remove, L"Remove the user account now.");
    int32_t cancel = dialog.AddButton(L"Cancel", 255, 218, 80, 25, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    dialog.SetCancel(cancel);
    dialog.SetTip(cancel, L"Cancel deleting the user account.");

    dialog.Show(cancel);

    bool removing = false;
    dialog.RunModal([&](int32_t event) {
        if (event == remove && IsLastAdministrator(accountName)) {
            ThemedMessageBox(L"This is the last administrator account of this computer that can sign in.\r\n"
                             L"It is not deleted.",
                             BoxKind::Ok, 220, owner);
            return DialogStep::Stay;
        }
        removing = event == remove;
        return event == cancel || removing ? DialogStep::Done : DialogStep::Stay;
    });
    if (!removing)
        return false;

    // Without a bitmap a control sized to its picture would have no size at all.
    int32_t spinner = dialog.AddPicture(nullptr, 20, 150, 28, 28, WS_VISIBLE);
    if (const ControlEntry* control = dialog.Control(spinner))
        StartSpinner(control->handle, dialog.Scale(28), kOpaqueBlack, 80, -1);   // ends with its control
    dialog.AddLabel(L"Deleting the user account, please wait...", 55, 156, 300, 18, kDefaultStyle);
    dialog.SetState(remove, StateFlags::Disable);
    dialog.SetState(cancel, StateFlags::Disable);
    UpdateWindow(dialog.Handle());

    const bool filesAsked = (dialog.GetState(files) & StateFlags::Check) != 0;
    DeletionJob job;
    job.deletion.accountName = accountName;
    job.deletion.folderFlags = filesAsked ? kDeleteTakeOver | kDeleteScheduleAtRestart : kKeepProfileFolder;
    job.deletion.clearAutoLogon = true;
    job.deletion.alwaysRemoveProfileEntry = false;
    // The end of the session is refused while files go (the worker holds
    // the owner busy); a close waits for it, it cannot stop halfway.
    WorkerWatch watch;
    watch.owner = &owner;
    watch.window = &dialog;
    DWORD unused = 0;
    if (!RunWorker(AccountDeletionWorker, &job, watch, &unused))
        AccountDeletionWorker(&job);   // no thread to be had: the work is done here
    dialog.Close();

    const AccountDeletionReport& report = job.report;
    if (!report.accountDeleted) {
        ThemedMessageBox(L"Sorry, this user account could not be deleted.", BoxKind::Ok, 220, owner);
        return false;
    }
    if (report.result == kDeleteScheduled) {
        ThemedMessageBox(L"The user account was successfully deleted,but a system reboot is required in order to "
                         L"remove all the files belonging to the user profile.\r\n\r\nYou should reboot the "
                         L"computer as soon as possible to complete the removal.",
                         BoxKind::Ok, 250, owner);
    } else if (const wchar_t* sentence = FolderSentence(report, filesAsked)) {
        WString text(sentence);
        text.Append(L"\r\n\r\n", report.profileFolder.Text());
        ThemedMessageBox(text.Text(), BoxKind::Ok, 250, owner);
    }
    return true;
}
