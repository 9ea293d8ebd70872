// The dialog through which the operator moves an account's personal folders
// and restores them, built like the program's message boxes. The console
// user's places are read through its token; another account's in its own
// hive, loaded for each reading and each move alone, so that the account
// may sign in meanwhile without finding its hive taken.
#include "app/dialogs/account_dialogs.h"

#include "accounts/account_hive.h"
#include "accounts/personal_folders.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>
#include <optional>
#include <string>

#include "accounts/lookup.h"
#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/security.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "ui/dialog.h"
#include "ui/drawing.h"
#include "ui/folder_picker.h"
#include "ui/message_box.h"
#include "ui/window.h"
#include "ui/worker.h"

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace personal_folders {

constexpr int kWidth = 600;
constexpr int kHeight = 355;
constexpr LONG kListStyle = 0x1080000D;   // report, single selection, selection always shown, border, visible
constexpr UINT_PTR kProgressTimer = 1;
constexpr UINT kProgressInterval = 150;   // ms between updates of the progress line
constexpr wchar_t kBlockReason[] = L"Moving user files, please cancel shutdown";

}  // namespace personal_folders

struct FolderControls {
    int32_t list = 0;
    int32_t close = 0;
    int32_t moveContents = 0;
    int32_t overwrite = 0;
    int32_t move = 0;
    int32_t restore = 0;
    int32_t spinner = 0;
    int32_t progress = 0;
    int32_t leftLink = 0;
};

// What the dialog works on, from construction to its end.
struct FolderSession {
    const PersonalFoldersOwner* owner = nullptr;
    UiDialog* dialog = nullptr;
    FolderControls ids;
    WString name;
    WString sid;
    WString profile;
    bool console = false;        // the console user's own folders
    std::vector<int> rows;       // the folder index of each list row
    WString leftList;            // the text file naming what the last move left behind
};

WString FolderCell(UiWindow& dialog, int32_t list, int row, int column)
{
    return ListCellText(dialog.ControlHandle(list), row, column);
}

// The icon the shell associates with the folder, added to the list's images.
int FolderIcon(UiWindow& dialog, int32_t list, const wchar_t* path)
{
    WString buffer;
    wchar_t* text = buffer.GetBuffer(2048, path, false);
    if (text == nullptr)
        return 0;
    WORD index = 0;
    UniqueIcon icon(ExtractAssociatedIconW(dialog.Module(), text, &index));
    if (!icon)
        return 0;
    int image = dialog.SetListIcon(list, -1, icon.Get(), dialog.Scale(16));
    return image < 0 ? 0 : image;
}

// Another account's hive, loaded while `hive` lives; nothing for the console user.
HiveRefusal LoadAccountHive(const FolderSession& session, BorrowedHive& hive)
{
    return session.console ? HiveRefusal::None : hive.Load(session.sid.Text(), session.profile.Text());
}

void FillFolderList(FolderSession& session, const wchar_t* hive)
{
    UiWindow& dialog = *session.dialog;
    const int32_t list = session.ids.list;
    SendMessageW(dialog.ControlHandle(list), LVM_DELETEALLITEMS, 0, 0);
    session.rows = VisibleFolderRows(session.owner->osVersion);
    for (int index : session.rows) {
        WString current, original;
        if (hive != nullptr)
            ReadHiveFolderLocations(index, hive, session.profile.Text(), current, original);
        else
            ReadFolderLocations(index, session.owner->consoleUserToken, current, original);
        WString row(kPersonalFolders[index].name);
        row.Append(L"|", current.Text(), L"|", original.Text());
        int item = dialog.AddListItem(list, row.Text(), L"|");
        if (item >= 0)
            dialog.SetItemImage(list, item, FolderIcon(dialog, list, current.Text()));
    }
}

int SelectedRow(FolderSession& session)
{
    return static_cast<int>(
        SendMessageW(session.dialog->ControlHandle(session.ids.list), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void FollowFolderSelection(FolderSession& session)
{
    UiWindow& dialog = *session.dialog;
    const int row = SelectedRow(session);
    if (row < 0) {
        dialog.SetState(session.ids.move, StateFlags::Disable);
        dialog.SetState(session.ids.restore, StateFlags::Disable);
        return;
    }
    dialog.SetState(session.ids.move, StateFlags::Enable);
    WString current = FolderCell(dialog, session.ids.list, row, 1);
    WString original = FolderCell(dialog, session.ids.list, row, 2);
    dialog.SetState(session.ids.restore,
                    EqualsNoCase(current.Text(), original.Text()) ? StateFlags::Disable : StateFlags::Enable);
}

// Everything the operator could press while an operation runs.
void EnableControls(FolderSession& session, bool enable)
{
    UiWindow& dialog = *session.dialog;
    const uint32_t state = enable ? StateFlags::Enable : StateFlags::Disable;
    for (int32_t id : {session.ids.list, session.ids.moveContents, session.ids.overwrite, session.ids.move,
                       session.ids.restore, session.ids.leftLink})
        dialog.SetState(id, state);
    if (enable)
        FollowFolderSelection(session);
}

// The band shows either the options and buttons or the move's progress.
void ShowMoveProgress(FolderSession& session, bool show)
{
    UiWindow& dialog = *session.dialog;
    const uint32_t options = show ? StateFlags::Hide : StateFlags::Show;
    const uint32_t progress = show ? StateFlags::Show : StateFlags::Hide;
    for (int32_t id : {session.ids.moveContents, session.ids.overwrite, session.ids.move, session.ids.restore})
        dialog.SetState(id, options);
    dialog.SetState(session.ids.spinner, progress);
    dialog.SetState(session.ids.progress, progress);
    UpdateWindow(dialog.Handle());
}

void ShowMoveProgress(FolderSession& session, const MoveProgress& progress)
{
    // Until the totals are known there is nothing to count against.
    WString text(L"Counting the files to move...");
    if (progress.measured.load())
        text = MoveProgressText(progress.filesDone.load(), progress.filesTotal.load(), progress.bytesDone.load(),
                                progress.bytesTotal.load());
    session.dialog->SetText(session.ids.progress, text.Text());
}

// Runs the content move on a worker while this thread keeps both windows
// alive and refuses the end of the session; the worker's exit code.
DWORD RunMove(FolderSession& session, FolderMove& move)
{
    UiWindow& dialog = *session.dialog;
    ShowMoveProgress(session, true);
    SetTimer(dialog.Handle(), personal_folders::kProgressTimer, personal_folders::kProgressInterval, nullptr);
    WorkerWatch watch;
    watch.owner = session.owner->window;
    watch.window = &dialog;
    // Clicks meanwhile go nowhere: the controls are disabled.
    watch.onEvent = [&](int32_t) { ShowMoveProgress(session, move.progress); };
    DWORD code = 0;
    const bool ran = RunWorker(MoveFolderThread, &move, watch, &code);
    KillTimer(dialog.Handle(), personal_folders::kProgressTimer);
    ShowMoveProgress(session, move.progress);
    UpdateWindow(dialog.Handle());
    ShowMoveProgress(session, false);
    return ran ? code : 0;
}

// The items a move left behind, written where the operator can open them.
void OfferLeftBehind(FolderSession& session, const RelocationResult& move)
{
    UiWindow& dialog = *session.dialog;
    dialog.SetState(session.ids.leftLink, StateFlags::Hide);
    if (move.left.empty())
        return;
    WString temp = TempDirectory();
    if (temp.IsEmpty())
        return;
    session.leftList.Assign(temp.Text());
    session.leftList.Append(L"Vantrell - items not moved.txt");
    if (!WriteLeftBehindList(session.leftList.Text(), move.source.Text(), move.left))
        return;
    dialog.SetState(session.ids.leftLink, StateFlags::Show | StateFlags::Enable);
}

// The move and the restore: `restore` takes the default place and asks first.
void Relocate(FolderSession& session, bool restore)
{
    UiDialog& dialog = *session.dialog;
    const int row = SelectedRow(session);
    if (row < 0 || row >= static_cast<int>(session.rows.size()))
        return;
    const int index = session.rows[row];
    WString current = FolderCell(dialog, session.ids.list, row, 1);
    WString target;
    if (restore) {
        EnableControls(session, false);
        if (ThemedMessageBox(L"Are you sure you want to restore the selected folder to its original location?",
                             BoxKind::YesNo, 140, *session.owner->window) != 1) {
            EnableControls(session, true);
            return;
        }
        target = FolderCell(dialog, session.ids.list, row, 2);
    } else {
        const bool picked = PickFolder(target, dialog.Handle(), current.Text());
        // The closing picker may hand the activation to the main window
        // (Wine does); the dialog, with its progress, belongs on top.
        SetForegroundWindow(dialog.Handle());
        BringWindowToTop(dialog.Handle());
        if (!picked || EqualsNoCase(target.Text(), current.Text()))
            return;
        EnableControls(session, false);
    }
    BorrowedHive hive;
    const HiveRefusal refusal = LoadAccountHive(session, hive);
    if (refusal != HiveRefusal::None) {
        WString text = HiveRefusalText(refusal, session.name.Text());
        ThemedMessageBox(text.Text(), BoxKind::Ok, 160, *session.owner->window);
        EnableControls(session, true);
        return;
    }
    FolderRelocation request;
    request.index = index;
    request.sid = session.sid.Text();
    request.profile = session.profile.Text();
    request.token = session.console ? session.owner->consoleUserToken : nullptr;
    request.hive = hive.Root();
    request.current = current.Text();
    request.target = target.Text();
    request.restore = restore;
    request.moveContents = (dialog.GetState(session.ids.moveContents) & StateFlags::Check) != 0;
    request.overwrite = (dialog.GetState(session.ids.overwrite) & StateFlags::Check) != 0;
    request.osVersion = session.owner->osVersion;
    request.runMove = [&](FolderMove& move) {
        move.owner = session.owner->window;
        return RunMove(session, move);
    };
    std::optional<DialogOwner::BusyScope> hold;
    request.busy = [&](bool busy) {
        if (busy)
            hold.emplace(session.owner->window, personal_folders::kBlockReason);
        else
            hold.reset();
    };
    RelocationResult result = RelocateFolder(request);
    if (result.placeChanged && result.outcome != RelocationOutcome::ContentsFailed)
        FillFolderList(session, hive.Root());
    hive.Unload();
    OfferLeftBehind(session, result);

    if (result.outcome == RelocationOutcome::Done) {
        SetListCellText(dialog.ControlHandle(session.ids.list), row, 1, target.Text());
        ThemedMessageBox(restore ? L"The selected folder was successfully restored."
                                 : L"The selected folder was successfully moved.",
                         BoxKind::Ok, 120, *session.owner->window);
    } else {
        // Each answer keeps the height its text has always had.
        const int height = result.outcome == RelocationOutcome::Refused
                               ? (result.sourceRefusal != SourceRefusal::None ? 220 : 160)
                           : result.outcome == RelocationOutcome::PartlyMoved ? (restore ? 200 : 150)
                                                                               : 120;
        WString text = RelocationResultText(result, restore);
        ThemedMessageBox(text.Text(), BoxKind::Ok, height, *session.owner->window);
    }
    EnableControls(session, true);
}

void AddFolderControls(FolderSession& session, HICON accountIcon, const wchar_t* displayName)
{
    UiWindow& dialog = *session.dialog;
    FolderControls& ids = session.ids;
    if (accountIcon != nullptr)
        dialog.AddIcon(CopyIcon(accountIcon), 10, 10, 48, 48);   // the control owns its copy
    int32_t heading = dialog.AddLabel(L"Move account folders", 68, 20, 412, 25, WS_VISIBLE | SS_CENTER);
    dialog.SetFont(heading, 16.0, 800, 0, L"Arial");
    ids.close = AddCloseButton(dialog, 558, 10, 32, 32, kOpaqueBlack);
    dialog.SetCancel(ids.close);

    WString intro(L"This feature lets you change the ");
    intro.Append(L"location of some of ", displayName != nullptr ? displayName : L"",
                 L"'s personal folders. Here you can also restore those folders to their original locations.\r\n"
                 L"Double-click any item in the list to open its current location.");
    int32_t introduction = dialog.AddLabel(intro.Text(), 20, 75, 540, 60, kDefaultStyle);
    dialog.SetFont(introduction, 10.0, 400, 0, L"Arial");

    // Shown after a move that left items behind: the list of them.
    ids.leftLink = dialog.AddButton(L"&Show the items not moved", 410, 46, 170, 24, kDefaultStyle);
    dialog.SetTip(ids.leftLink, L"Open the list of the files and folders that stayed in the old location");
    dialog.SetState(ids.leftLink, StateFlags::Hide);

    ids.list = dialog.AddListView(L" Folder name| Current location| Default location", 10, 140, 580, 160, personal_folders::kListStyle,
                                  LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    dialog.SetColumnWidth(ids.list, 0, 100);
    dialog.SetColumnWidth(ids.list, 1, 240);
    dialog.SetColumnWidth(ids.list, 2, 235);
    dialog.NameList(ids.list, L"Personal folders");
    WString shell = SystemDirectory();
    shell.Append(L"\\Shell32.dll");
    HICON extracted = nullptr;
    // The icons at the dialog's scale, not the small ones stretched.
    if (SHDefExtractIconW(shell.Text(), 3, 0, &extracted, nullptr, static_cast<UINT>(dialog.Scale(16))) == S_OK) {
        UniqueIcon folder(extracted);
        dialog.SetListIcon(ids.list, -1, folder.Get(), dialog.Scale(16));
    }

    ids.moveContents = dialog.AddCheckBox(L"Also move folder &contents", 100, 310, 180, 18);
    dialog.SetState(ids.moveContents, StateFlags::Check);
    dialog.SetTip(ids.moveContents, L"Whether to move files fom the current location into the new one");
    ids.overwrite = dialog.AddCheckBox(L"&Overwrite existing files", 100, 330, 180, 18);
    for (int32_t box : {ids.moveContents, ids.overwrite})
        dialog.SetColour(box, -1, RGB(0xF0, 0xF0, 0xFF));   // the band's colour
    dialog.SetTip(ids.overwrite, L"When moving files, overwrite same named ones in the new location\r\n"
                                 L"If this option is not selected, those files will be skipped");
    ids.move = dialog.AddButton(L"&Move selected", 300, 314, 130, 26, kDefaultStyle);
    dialog.SetState(ids.move, StateFlags::Disable);
    dialog.SetTip(ids.move, L"Move the selected folder to a new location");
    ids.restore = dialog.AddButton(L"&Restore default", 450, 314, 130, 26, kDefaultStyle);
    dialog.SetState(ids.restore, StateFlags::Disable);
    dialog.SetTip(ids.restore, L"Restore the selected folder to its default location");

    // The move's progress takes the band's place while contents move.
    UniqueImage band = NewCanvas(28, 28, dialog.Dpi());
    if (band && FillRoundRect(band.Get(), 0, 0, 28, 28, kBandColour, 0)) {
        UniqueBitmap picture = ToGdiBitmap(band.Get(), kBandColour);
        ids.spinner = dialog.AddPicture(picture.Release(), 16, 314, 28, 28, kDefaultStyle);
        dialog.SetState(ids.spinner, StateFlags::Hide);
        if (HWND spinner = dialog.ControlHandle(ids.spinner))
            StartSpinner(spinner, dialog.Scale(28), kOpaqueBlack, 80, -1);
    }
    ids.progress = dialog.AddLabel(L"", 56, 312, 490, 34, kDefaultStyle);
    dialog.SetColour(ids.progress, RGB(0, 0, 0), RGB(0xF0, 0xF0, 0xFF));
    dialog.SetState(ids.progress, StateFlags::Hide);
}

}  // namespace

void PersonalFoldersDialog(const PersonalFoldersOwner& owner, HICON accountIcon, const wchar_t* accountName,
                           const wchar_t* displayName)
{
    if (owner.window == nullptr || accountName == nullptr || *accountName == L'\0')
        return;
    auto session = std::make_unique<FolderSession>();
    session->owner = &owner;
    session->name.Assign(accountName);
    session->console = owner.consoleUserName != nullptr && EqualsNoCase(accountName, owner.consoleUserName);
    // Without the account's SID and profile there is nothing to show; an
    // account whose hive cannot be had is told about before any dialog.
    const bool known = GetAccountSidAndProfile(accountName, session->sid, &session->profile);
    BorrowedHive hive;
    const HiveRefusal refusal = known ? LoadAccountHive(*session, hive) : HiveRefusal::NoAccount;
    if (refusal != HiveRefusal::None) {
        if (!session->console) {
            WString text = HiveRefusalText(refusal, accountName);
            ThemedMessageBox(text.Text(), BoxKind::Ok, 160, *owner.window);
        }
        return;
    }
    UiDialog dialog(*owner.window);
    DialogLook look = OutlinedLook(personal_folders::kWidth, personal_folders::kHeight, 591, 347);
    look.fills.push_back({4, 305, 591, 45, kBandColour, 0});   // the body's whole width
    if (!dialog.Create(look))
        return;
    session->dialog = &dialog;
    AddFolderControls(*session, accountIcon, displayName != nullptr && *displayName != L'\0' ? displayName : accountName);
    FillFolderList(*session, hive.Root());
    hive.Unload();

    dialog.Show(0);
    dialog.RunModal([&](int32_t event) {
        if (event == session->ids.close)
            return DialogStep::Done;
        if (event == EventCode::ItemSelected || event == EventCode::ItemDeselected) {
            FollowFolderSelection(*session);
        } else if (event == EventCode::DoubleClick) {
            const int row = SelectedRow(*session);
            if (row >= 0) {
                // The place comes from the user's own registry: only a
                // folder is opened, never a program that would start with
                // this program's rights.
                WString current = FolderCell(dialog, session->ids.list, row, 1);
                WString probe(current.Text());
                probe.AddLongPathPrefix();
                const DWORD attributes = current.IsEmpty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(probe.Text());
                if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                    OpenPage(current.Text());
            }
        } else if (event == session->ids.move) {
            Relocate(*session, false);
        } else if (event == session->ids.restore) {
            Relocate(*session, true);
        } else if (event == session->ids.leftLink && !session->leftList.IsEmpty()) {
            OpenPage(session->leftList.Text());
        }
        return DialogStep::Stay;
    });
}
