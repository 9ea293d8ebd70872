#include "app/main_window.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/account_settings.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/personal_folders.h"
#include "accounts/pictures.h"
#include "accounts/profile_keys.h"
#include "app/about_box.h"
#include "app/account_panel.h"
#include "app/health_check_dialog.h"
#include "app/dialogs/account_dialogs.h"
#include "app/dialogs/picture_dialog.h"
#include "platform/security.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "repair/repair_tool.h"
#include "resources/resource_ids.h"
#include "ui/drawing.h"
#include "ui/message_box.h"
#include "vantrell_version.h"

namespace {

constexpr int kClientWidth = 750;
constexpr int kClientHeight = 550;
constexpr LONG kWindowStyle = static_cast<LONG>(0x80C20000);   // popup, caption, minimise box
constexpr int kWindowOutlineArc = 12;
constexpr int kWindowHeaderHeight = 85;
constexpr wchar_t kVersion[] = VANTRELL_VERSION_WIDE;
constexpr wchar_t kAboutPage[] = L"https://vantrell.invalid/vantrell/about.php?ver=";
// The white body under a grey header, two outlined panels, a black rim.
UniqueImage PaintBackground(int dpi)
{
    UniqueImage background = NewCanvas(kClientWidth, kClientHeight, dpi);
    bool painted = background && FillRoundRect(background.Get(), 0, 83, kClientWidth, 468, kOpaqueWhite, 0) &&
                   FillVerticalGradient(background.Get(), 0, 0, kClientWidth, kWindowHeaderHeight, 0xFF404040,
                                        kOpaqueWhite) &&
                   DrawPanel(background.Get(), 7, 368 - 7) && DrawPanel(background.Get(), 377, 743 - 377) &&
                   OutlineRoundRect(background.Get(), 0, 0, kClientWidth, kClientHeight, kOpaqueBlack, kWindowOutlineArc,
                                    3.0f);
    return painted ? std::move(background) : UniqueImage();
}

// A header picture laid over the header's own pixels, so that its
// transparent parts show the gradient.
int32_t AddHeaderPicture(MainWindow& window, Gdiplus::GpBitmap* background, Gdiplus::GpBitmap* image, int x, int y,
                         int width, int height)
{
    if (image == nullptr)
        return 0;
    UniqueImage composed = background != nullptr ? ComposeOver(background, x, y, image, width, height)
                                                 : ScaledCopy(image, window.Scale(width), window.Scale(height));
    UniqueBitmap picture = ToGdiBitmap(composed.Get(), BackgroundArgb(window));
    return picture ? window.AddPicture(picture.Release(), x, y, width, height, -1) : 0;
}

void AddHeader(MainWindow& window, Gdiplus::GpBitmap* background)
{
    HMODULE module = window.Module();
    // The window has no caption: the header is where it is dragged. Disabled,
    // it lets clicks through to the controls that lie on it.
    window.SetNextBehaviour(Behaviour::DragHandle);
    window.AddLabel(L"", 0, 0, kClientWidth, kWindowHeaderHeight, -1);
    window.SetNextBehaviour(0);
    window.SetState(ControlId::Last, StateFlags::Disable);

    window.appImage = LoadResourceImage(module, IMG_APP, window.Scale(64), window.Scale(64));
    AddHeaderPicture(window, background, window.appImage.Get(), 8, 8, 64, 64);
    struct Icon {
        int resource, x, y;
    } const icons[] = {{IMG_REPAIR, 90, 60}, {IMG_HELP, 470, 30}, {IMG_REFRESH, 470, 60},
                       {IMG_INFO, 610, 30},  {IMG_INFO, 610, 60}, {IMG_REPAIR, 470, 5},
                       {IMG_INFO, 330, 60}};
    for (const Icon& icon : icons) {
        UniqueImage image = LoadResourceImage(module, icon.resource, window.Scale(20), window.Scale(20));
        AddHeaderPicture(window, background, image.Get(), icon.x, icon.y, 20, 20);
    }

    int32_t title = window.AddLabel(L"Vantrell", 90, 10, 270, 30, -1);
    window.SetFont(title, 18.0, 800, 0, L"Arial");
    window.SetColour(title, RGB(255, 255, 255), -1);
    int32_t subtitle = window.AddLabel(L"All the user account setup options in one place.", 90, 40, 340, 20, -1);
    window.SetFont(subtitle, 10.0, 800, 0, L"Arial");
    window.SetColour(subtitle, RGB(255, 255, 255), -1);

    MainWindowControls& ids = window.ids;
    ids.launchLabel = window.AddLabel(L"Launch Brenwick", 120, 62, 200, 18, -1);
    window.SetFont(ids.launchLabel, 10.0, 800, FontAttributes::Underline, L"Arial");
    window.SetTip(ids.launchLabel, L"Repair severe issues without reinstalling Windows");
    if (const ControlEntry* launch = window.Control(ids.launchLabel))
        SetHandCursor(launch->handle);
    window.MakePressable(ids.launchLabel, L"Launch &Brenwick", DrawnRole::Link);

    ids.minimiseButton = AddMinimiseButton(window, 690, 4, 20, 20, kOpaqueBlack, background);
    ids.closeButton = AddCloseButton(window, 720, 4, 20, 20, kOpaqueBlack, background);

    window.SetFont(0, 9.0, 800, 0, L"Arial");
    WString version(L"<a>v");
    version.Append(kVersion, L"</a>");
    WString versionName(L"v&");
    versionName.Append(kVersion);
    // Each link's access key: unused by the panel's controls and the launch label.
    struct Link {
        int32_t* id;
        const wchar_t* text;
        const wchar_t* name;
        int x, y, width;
        const wchar_t* tip;
    } const links[] = {
        {&ids.helpLink, L"<a>Online help (F1)</a>", L"Online &help (F1)", 495, 31, 100,
         L"Learn how to use this application (online)"},
        {&ids.refreshLink, L"<a>Refresh list (F5)</a>", L"Re&fresh list (F5)", 495, 61, 100,
         L"Rebuild the user account list"},
        {&ids.versionLink, version.Text(), versionName.Text(), 635, 31, 100, L"Check if an update is available"},
        {&ids.aboutLink, L"<a>About this app</a>", L"Ab&out this app", 635, 61, 100, L"View information about this app"},
        {&ids.checkLink, L"<a>Check this computer (F6)</a>", L"Chec&k this computer (F6)", 495, 6, 175,
         L"Find what is quietly wrong with the accounts, profiles, rights and sign-in of this computer"},
        // Every letter of its name is taken: its key is its function key's digit, as the version's is.
        {&ids.profilesLink, L"<a>Profiles... (F7)</a>", L"Profiles... (F&7)", 355, 61, 105,
         L"List the profiles of this computer by their last use and delete the old ones"},
    };
    for (const Link& link : links) {
        *link.id = window.AddLink(link.text, link.x, link.y, link.width, 18);
        window.SetTip(*link.id, link.tip);
        window.MakePressable(*link.id, link.name, DrawnRole::Link);
        // Over the gradient: the header's own pixels show behind the text.
        if (const ControlEntry* control = window.Control(*link.id))
            SetWindowLongW(control->handle, GWL_STYLE, GetWindowLongW(control->handle, GWL_STYLE) | LWS_TRANSPARENT);
    }
    window.SetFont(0, 10.0, 800, 0, L"Arial");
}

void AddAccountList(MainWindow& window)
{
    MainWindowControls& ids = window.ids;
    ids.accountList = window.AddListView(L"Account name|User name|Account type", 12, 95, 353, 445,
                                         WS_VISIBLE | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                         LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    const ControlEntry* list = window.Control(ids.accountList);
    if (list == nullptr)
        return;
    // A row reads as its tile shows it: the account's name and its type.
    window.NameList(ids.accountList, L"User accounts", {0, 2});
    SendMessageW(list->handle, LVM_SETVIEW, LV_VIEW_TILE, 0);
    LVTILEVIEWINFO tiles{};
    tiles.cbSize = sizeof(tiles);
    tiles.dwMask = LVTVIM_TILESIZE | LVTVIM_COLUMNS;
    tiles.dwFlags = LVTVIF_FIXEDSIZE;
    tiles.sizeTile = SIZE{window.Scale(330), window.Scale(56)};
    tiles.cLines = 2;
    SendMessageW(list->handle, LVM_SETTILEVIEWINFO, 0, reinterpret_cast<LPARAM>(&tiles));

    // The toolkit gives the list one image list for both of its views.
    if (UniqueIcon icon = LoadAccountIcon(window.Scale(kRowPictureSize)))
        window.SetListIcon(ids.accountList, -1, icon.Get(), window.Scale(kRowPictureSize));
}

void AddPanel(MainWindow& window)
{
    // Each label just before its field: a screen reader names the field by
    // it, and its access key moves the keyboard there.
    MainWindowControls& ids = window.ids;
    const LONG fieldStyle = WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL;
    window.AddLabel(L"User account name:", 395, 105, 145, 18, -1);
    ids.accountNameField = window.AddEdit(L"", 540, 103, 190, fieldStyle);
    window.SetState(ids.accountNameField, StateFlags::Disable);
    window.AddFieldLabel(L"User &display name:", 395, 131, 145, 18);
    ids.displayNameField = window.AddEdit(L"", 540, 129, 190, fieldStyle);
    window.AddFieldLabel(L"User p&rivilege:", 395, 158, 145, 18);
    ids.privilegeList = window.AddCombo(L"Guest\nStandard user\nAdministrator", 540, 155, 190, -1);

    struct Box {
        int32_t* id;
        const wchar_t* text;
        int width;
    } const boxes[] = {
        {&ids.disabledBox, L"The account is d&isabled", 250},
        {&ids.lockedOutBox, L"The account is &locked out", 250},
        {&ids.cannotChangeBox, L"Password can &not be changed", 250},
        {&ids.notRequiredBox, L"Password is not re&quired", 250},
        {&ids.neverExpiresBox, L"Password never e&xpires", 250},
        {&ids.expiredBox, L"Password is &expired", 250},
        {&ids.autoLogonBox, L"A&uto-logon this user", 250},
        {&ids.hiddenBox, L"Remove user from the &welcome screen", 300},
    };
    int y = 207;
    for (const Box& box : boxes) {
        *box.id = window.AddCheckBox(box.text, 395, y, box.width, 20);
        y += 20;
        if (box.id == &ids.disabledBox) {
            // The class cursor: every button and check box of the process shows the hand.
            if (const ControlEntry* control = window.Control(ids.disabledBox))
                SetClassLongPtrW(control->handle, GCLP_HCURSOR,
                                 reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, IDC_HAND)));
        }
    }

    struct Button {
        int32_t* id;
        const wchar_t* text;
        int x, y, width;
    } const buttons[] = {
        {&ids.foldersButton, L"&Move/Restore user personal folders", 395, 427, 335},
        {&ids.saveButton, L"&Save changes", 395, 455, 160},
        {&ids.pictureButton, L"&Change picture", 570, 455, 160},
        {&ids.setPasswordButton, L"Set &password", 395, 483, 160},
        {&ids.removePasswordButton, L"Remo&ve password", 570, 483, 160},
        {&ids.deleteButton, L"Dele&te user account", 395, 511, 160},
        {&ids.createButton, L"Create user &account", 570, 511, 160},
    };
    for (const Button& button : buttons)
        *button.id = window.AddButton(button.text, button.x, button.y, button.width, 25, -1);
    // Between the type and the boxes: the type follows from the groups.
    ids.memberOfLabel = window.AddLabel(L"", 395, 183, 255, 18, WS_VISIBLE | SS_ENDELLIPSIS | SS_NOPREFIX);
    ids.groupsButton = window.AddButton(L"&Groups...", 655, 180, 75, 22, -1);
    // Under the boxes, two to a line in a smaller type: what people look up;
    // the computer's password policy last, across both.
    window.SetFont(0, 8.0, 400, 0, L"Arial");
    for (int line = 0; line < kDetailLines; ++line) {
        const bool whole = line == kDetailLines - 1;
        const int32_t id = window.AddLabel(L"", 395 + (line % 2) * 170, 369 + (line / 2) * 14, whole ? 335 : 165, 14,
                                           WS_VISIBLE | SS_ENDELLIPSIS | SS_NOPREFIX);
        if (line == 0)
            ids.detailLabel = id;
    }
    window.SetFont(0, 10.0, 800, 0, L"Arial");
}

void SetAccelerators(MainWindow& window)
{
    ACCEL keys[] = {
        {FVIRTKEY, VK_F1, static_cast<WORD>(window.ids.helpLink)},
        {FVIRTKEY, VK_F5, static_cast<WORD>(window.ids.refreshLink)},
        {FVIRTKEY, VK_F6, static_cast<WORD>(window.ids.checkLink)},
        {FVIRTKEY, VK_F7, static_cast<WORD>(window.ids.profilesLink)},
    };
    window.SetAccelerators(UniqueAccelerators(CreateAcceleratorTableW(keys, ARRAYSIZE(keys))));
}

bool IsChecked(MainWindow& window, int32_t id) { return (window.GetState(id) & StateFlags::Check) != 0; }

// "Auto-logon this user" follows the boxes that rule it out.
void FollowStatusBoxes(MainWindow& window, int32_t changed)
{
    const MainWindowControls& ids = window.ids;
    bool disabledOrLocked = IsChecked(window, ids.disabledBox) || IsChecked(window, ids.lockedOutBox);
    bool hidden = IsChecked(window, ids.hiddenBox);
    if (changed == ids.hiddenBox) {
        if (hidden)
            window.SetState(ids.autoLogonBox, StateFlags::Uncheck | StateFlags::Disable);
        else if (!disabledOrLocked)
            window.SetState(ids.autoLogonBox, StateFlags::Enable);
        return;
    }
    if (disabledOrLocked) {
        window.SetState(ids.autoLogonBox, StateFlags::Uncheck | StateFlags::Disable);
        return;
    }
    HWND list = window.Control(ids.accountList) != nullptr ? window.Control(ids.accountList)->handle : nullptr;
    WString name = ListCellText(list, window.selectedRow, 1);
    uint32_t state = hidden ? 0 : StateFlags::Enable;
    if (!name.IsEmpty() && IsAutoLogonAccount(name.Text()))
        state |= StateFlags::Check;
    if (state != 0)
        window.SetState(ids.autoLogonBox, state);
}

void RemovePassword(MainWindow& window, const wchar_t* name)
{
    WString display = window.GetText(window.ids.displayNameField);
    WString question(L"If you remove the password for this account, all ");
    question.Append(L"EFS encrypted files, personal certificates and stored passwords ",
                    L"in this account will be lost.\r\n\r\nTo prevent this situation, ",
                    L"use the \"Set password\" feature instead.\r\n\r\nAre you sure you ",
                    L"want to remove the password for the ", display.Text(), L" account?");
    window.Lock();
    if (ThemedMessageBox(question.Text(), BoxKind::YesNo, 240, window) == 1) {
        NET_API_STATUS status = RunPasswordChange(window, name, nullptr, nullptr);
        ThemedMessageBox(status == NERR_Success ? L"The password for the selected account was successfully removed."
                                                : L"An error occurred while removing the password for this account.",
                         BoxKind::Ok, 200, window);
    }
    window.Unlock();
}

// False when the program is to close.
bool SetPassword(MainWindow& window, const wchar_t* name)
{
    int row = window.selectedRow;
    WString display = window.GetText(window.ids.displayNameField);
    window.Lock();
    bool result;
    {
        UniqueIcon icon = window.RowIcon(row);
        result = PasswordDialog(window, icon.Get(), name, display.Text(), PasswordDialogMode::ChangePassword);
    }
    window.Unlock();
    if (result)
        ShowAccountDetails(window.Panel(), row);
    return result;
}

// The dialog, then the row shows the account's picture as it now is.
void ChangePicture(MainWindow& window, const wchar_t* name)
{
    const int row = window.selectedRow;
    WString display = window.GetText(window.ids.displayNameField);
    window.Lock();
    ChangePictureDialog(window, name, display.Text(), window.osVersion);
    UniqueBitmap picture = LoadAccountPictureBitmap(name, window.osVersion, window.Scale(kRowPictureSize));
    if (picture)
        SetRowPicture(window.Panel(), row, picture.Get());
    window.Unlock();
}

// The dialog works on the selected account's folders; it holds the window
// busy while contents move, which the end-of-session refusal reads.
void OpenPersonalFolders(MainWindow& window, const wchar_t* name)
{
    WString display = window.GetText(window.ids.displayNameField);
    PersonalFoldersOwner owner;
    owner.window = &window;
    owner.consoleUserName = window.consoleUserName.Text();
    owner.consoleUserSid = window.consoleUserSid.Text();
    // No console user: the dialog is handed INVALID_HANDLE_VALUE as before,
    // never null, which the folder queries read as this process's own user.
    owner.consoleUserToken = window.consoleUserToken ? window.consoleUserToken.Get() : INVALID_HANDLE_VALUE;
    owner.osVersion = window.osVersion;
    window.Lock();
    {
        UniqueIcon icon = window.RowIcon(window.selectedRow);
        PersonalFoldersDialog(owner, icon.Get(), name, display.Text());
    }
    window.Unlock();
}

// "Groups...": the account's memberships; its type may have changed with them.
void OpenGroups(MainWindow& window, const wchar_t* name)
{
    window.Lock();
    bool changed;
    {
        UniqueIcon icon = window.RowIcon(window.selectedRow);
        changed = GroupsDialog(window, icon.Get(), name);
    }
    window.Unlock();
    if (changed)
        ShowAccountDetails(window.Panel(), window.selectedRow);
}

// "Save changes": the panel's choices applied, then the account shown afresh.
void SaveChanges(MainWindow& window)
{
    int row = window.selectedRow;
    WString name, display, newName;
    AccountSettingsChoice choice = ReadSettingsChoice(window.Panel(), row, name, display, newName);
    UniqueIcon icon = window.RowIcon(row);
    const SettingsOutcome outcome = ApplyAccountSettings(window, choice, window.groupNames, icon.Get());
    const ControlEntry* list = window.Control(window.ids.accountList);
    if (outcome.renamed && list != nullptr)
        SetListCellText(list->handle, row, 1, newName.Text());
    if (outcome.confirmed)
        ShowAccountDetails(window.Panel(), row);
}

// Backed-up profile-list entries left by profiles that failed to load are
// offered for repair once, before the operator can use the window.
void OfferProfileKeyRepair(MainWindow& window)
{
    std::vector<WString> names;
    const uint32_t found = FindCorruptedProfileKeys(names);
    if (found == 0)
        return;
    window.Lock();
    if (ThemedMessageBox(L"Vantrell found one or more corrupted profile registry keys.\r\n\r\nDo you want to fix them?",
                         BoxKind::YesNo, 160, window) == 1) {
        uint32_t repaired = 0;
        for (const WString& name : names)
            repaired += RepairProfileKey(name.Text()) ? 1 : 0;
        ThemedMessageBox(repaired == found ? L"The corrupted profile registry keys were successfully fixed"
                                           : L"Sorry, some of the corrupted profile registry keys could not be fixed",
                         BoxKind::Ok, 140, window);
    }
    window.Unlock();
}

// The row of the list that holds the account; -1 when none does.
int RowOfAccount(MainWindow& window, const wchar_t* name)
{
    const ControlEntry* list = window.Control(window.ids.accountList);
    if (list == nullptr)
        return -1;
    int rows = static_cast<int>(SendMessageW(list->handle, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        if (EqualsNoCase(ListCellText(list->handle, row, 1).Text(), name))
            return row;
    }
    return -1;
}

void DeleteSelectedAccount(MainWindow& window, const wchar_t* name)
{
    WString display = window.GetText(window.ids.displayNameField);
    window.Lock();
    bool deleted;
    {
        UniqueIcon icon = window.RowIcon(window.selectedRow);
        deleted = DeleteAccountDialog(window, icon.Get(), name, display.Text());
    }
    window.Unlock();
    if (!deleted)
        return;
    const ControlEntry* list = window.Control(window.ids.accountList);
    int row = RowOfAccount(window, name);
    if (list != nullptr && row >= 0) {
        SendMessageW(list->handle, LVM_DELETEITEM, row, 0);
        SendMessageW(list->handle, LVM_ARRANGE, LVA_DEFAULT, 0);
    }
    int next = window.GetSelectedItem(window.ids.accountList);
    window.selectedRow = next;
    if (next >= 0)
        ShowAccountDetails(window.Panel(), next);
    else
        ClearAccountDetails(window.Panel());
}

void CreateAccountFromWindow(MainWindow& window)
{
    window.Lock();
    WString name;
    int type = CreateAccountDialog(window, name, window.osVersion);
    window.Unlock();
    const ControlEntry* list = window.Control(window.ids.accountList);
    if (type >= kNoAccountCreated || list == nullptr || name.IsEmpty())
        return;
    // The new row goes at the end, titled with the account name, not selected.
    WString typeText;
    BuildAccountTypeText(typeText, static_cast<uint32_t>(type), false);
    const int row = AddAccountRow(window.Panel(), list->handle, name.Text(), name.Text(), typeText.Text());
    // The row shows the picture the account was just given, as every other
    // row shows its account's: the default icon only when none can be read.
    if (row >= 0) {
        UniqueBitmap picture = LoadAccountPictureBitmap(name.Text(), window.osVersion, window.Scale(kRowPictureSize));
        if (picture)
            SetRowPicture(window.Panel(), row, picture.Get());
    }
}

// An empty list is no computer without accounts: says why it is empty.
void SayAccountsUnread(MainWindow& window)
{
    window.Lock();
    ThemedMessageBox(L"The local accounts could not be read, so none is listed.\r\n\r\nChoose \"Refresh list\" to "
                     L"read them again.",
                     BoxKind::Ok, 160, window);
    window.Unlock();
}

void Refresh(MainWindow& window)
{
    const bool listed = window.fillList(window.Panel()) >= 0;
    // The rows are new: nothing is selected, so nothing may be changed.
    window.selectedRow = -1;
    ClearAccountDetails(window.Panel());
    if (!listed)
        SayAccountsUnread(window);
}

// False when the loop is to end.
bool DispatchEvent(MainWindow& window, int32_t event)
{
    const MainWindowControls& ids = window.ids;
    if (event == EventCode::ItemSelected || event == EventCode::ItemDeselected) {
        // The notification's record is gone by now; the list knows the selection.
        int row = window.GetSelectedItem(ids.accountList);
        if (row < 0) {
            window.selectedRow = -1;
            ClearAccountDetails(window.Panel());
        } else if (event == EventCode::ItemSelected || row != window.selectedRow) {
            window.selectedRow = row;
            ShowAccountDetails(window.Panel(), row);
        }
        return true;
    }
    if (event <= 0)
        return true;
    if (event == ids.refreshLink) {
        Refresh(window);
        return true;
    }
    if (event == ids.aboutLink) {
        window.Lock();
        ShowAboutBox(window);
        window.Unlock();
        return true;
    }
    if (event == ids.checkLink) {
        window.Lock();
        HealthCheckDialog(window);
        window.Unlock();
        return true;
    }
    if (event == ids.profilesLink) {
        window.Lock();
        const bool deleted = ProfilesDialog(window, window.consoleUserSid.Text());
        window.Unlock();
        // Disabled accounts may have gone with their profiles.
        if (deleted)
            Refresh(window);
        return true;
    }
    if (event == ids.disabledBox || event == ids.lockedOutBox || event == ids.hiddenBox) {
        FollowStatusBoxes(window, event);
        return true;
    }
    if (event == ids.createButton) {
        CreateAccountFromWindow(window);
        return true;
    }

    WString name = RowAccountName(window.Panel(), window.selectedRow);
    if (name.IsEmpty())
        return true;
    if (event == ids.foldersButton)
        OpenPersonalFolders(window, name.Text());
    else if (event == ids.saveButton)
        SaveChanges(window);
    else if (event == ids.setPasswordButton)
        return SetPassword(window, name.Text());
    else if (event == ids.removePasswordButton)
        RemovePassword(window, name.Text());
    else if (event == ids.deleteButton)
        DeleteSelectedAccount(window, name.Text());
    else if (event == ids.pictureButton)
        ChangePicture(window, name.Text());
    else if (event == ids.groupsButton)
        OpenGroups(window, name.Text());
    return true;
}

}  // namespace

MainWindow::MainWindow() : osVersion(GetOsVersionNumber())
{
    consoleUserName.Assign(L"");
    consoleUserSid.Assign(L"");
    helpUrl.Assign(L"");
    aboutUrl.Assign(L"");
    fillList = FillAccountList;
}

MainWindow::~MainWindow() = default;

DialogHeader MainWindow::Header() const
{
    DialogHeader header;
    header.closeButton = ids.closeButton;
    header.minimiseButton = ids.minimiseButton;
    header.helpLink = ids.helpLink;
    header.versionLink = ids.versionLink;
    header.helpPage = helpUrl.Text();
    header.aboutPage = aboutUrl.Text();
    return header;
}

void MainWindow::Lock()
{
    if (!lock_.wasEnabled.empty())
        Unlock();
    // "Groups..." comes after "Create user account": locked with the rest,
    // or a second dialog could open over the first.
    lock_ = LockControls(ids.refreshLink, std::max(ids.createButton, ids.groupsButton), ids.versionLink);
}

void MainWindow::Unlock()
{
    UnlockControls(lock_, ids.versionLink, ControlKind::Label);
    lock_ = LockRecord{};
    PumpPendingExceptInput();
}

UniqueIcon MainWindow::RowIcon(int row)
{
    const ControlEntry* list = Control(ids.accountList);
    if (list == nullptr || row < 0)
        return UniqueIcon();
    auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list->handle, LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
    if (images == nullptr)
        images = reinterpret_cast<HIMAGELIST>(SendMessageW(list->handle, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    if (images == nullptr || !SendMessageW(list->handle, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return UniqueIcon();
    return UniqueIcon(ImageList_GetIcon(images, item.iImage, ILD_TRANSPARENT));
}

int RunMainWindow(MainWindow& window, HINSTANCE instance, const wchar_t*, int showCommand)
{
    EnablePrivileges();
    {
        WString profile;
        window.consoleUserToken = FindConsoleUser(window.consoleUserName, &profile, &window.consoleUserSid);
    }

    HWND handle = window.CreateUiWindow(L"Vantrell_WNDCLASS", L"Vantrell", kClientWidth, kClientHeight, -1, -1,
                                        kWindowStyle, -1, nullptr);
    if (handle == nullptr)
        return 0;
    // The caption keeps the window's taskbar button and minimising; the
    // window draws its own header, so the frame gives its room to the client.
    SetWindowLongW(handle, GWL_STYLE, GetWindowLongW(handle, GWL_STYLE) & ~WS_CAPTION);
    SetWindowPos(handle, nullptr, 0, 0, window.Scale(kClientWidth), window.Scale(kClientHeight),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    CentreWindow(handle, nullptr);
    window.SetFont(0, 10.0, 800, 0, L"Arial");

    // In high contrast the drawn look gives way to the theme's colours.
    UniqueImage background = window.HighContrast() ? UniqueImage() : PaintBackground(window.Dpi());
    if (background)
        SetWindowBackgroundImage(window, background.Get());

    // The online help lives on the product's home page.
    window.helpUrl.Assign(kProductHomePage);
    window.aboutUrl.Assign(kAboutPage);
    window.aboutUrl.Append(kVersion);

    SetRoundedOutline(handle, window.Scale(kClientWidth), window.Scale(kClientHeight), window.Scale(kWindowOutlineArc));
    AddHeader(window, background.Get());
    AddAccountList(window);
    GetGroupNames(window.groupNames);
    const bool listed = window.fillList(window.Panel()) >= 0;
    AddPanel(window);
    ClearAccountDetails(window.Panel());
    window.SetState(window.ids.accountNameField, StateFlags::Disable);
    window.buttonImage = LoadResourceImage(window.Module(), IMG_BUTTON, window.Scale(147), window.Scale(47));
    SetAccelerators(window);

    ShowWindow(handle, showCommand);
    UpdateWindow(handle);
    window.Event() = UiEvent{};
    // A close asked for while the window was still being shown is kept.
    bool closing = DrainWaitingEvents(window);

    // Painted once: the rows' pictures may be read now.
    if (window.rowPictures)
        window.rowPictures->AllowReading();
    if (!listed && !closing)
        SayAccountsUnread(window);
    OfferProfileKeyRepair(window);

    bool launchRepairTool = false;
    while (!closing) {
        int32_t event = FilterDialogEvent(window, window);
        if (event == EventCode::Close || event == EventCode::QueueFailed)
            break;
        if (window.Event().window != &window)
            continue;
        if (event > 0 && event == window.ids.launchLabel) {
            launchRepairTool = true;
            break;
        }
        if (!DispatchEvent(window, event))
            break;
    }
    ShowWindow(handle, SW_HIDE);
    UpdateWindow(handle);
    // Pictures still on their way are dropped before the list goes.
    window.rowPictures.reset();
    window.DestroyUiWindow();
    if (!launchRepairTool)
        return 0;

    // The two tools never run at the same time: the main window is gone
    // before the repair tool opens, and the process ends with its result.
    PumpPendingMessages();
    RepairTool tool;
    int result = RunRepairTool(tool, instance, L"", SW_SHOW);
    if (tool.Handle() != nullptr)
        ShowWindow(tool.Handle(), SW_HIDE);
    return result;
}
