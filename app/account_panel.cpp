#include "app/account_panel.h"

#include <commctrl.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/password_policy.h"

namespace {

HWND ListHandle(const AccountPanel& panel)
{
    const ControlEntry* list = panel.window.Control(panel.ids.accountList);
    return list != nullptr ? list->handle : nullptr;
}

// The background shows through around the drop-down list; without this its
// old frame stays behind when its state changes.
// The panel's labels stand among its fields, each before its own; they
// keep their look whatever the fields do.
bool IsLabel(const AccountPanel& panel, int32_t id)
{
    const ControlEntry* control = panel.window.Control(id);
    return control != nullptr && control->kind == ControlKind::Label;
}

void RedrawAround(HWND control)
{
    RECT area{};
    HWND parent = GetParent(control);
    if (!GetClientRect(control, &area) || parent == nullptr)
        return;
    MapWindowPoints(control, parent, reinterpret_cast<POINT*>(&area), 2);
    InvalidateRect(parent, &area, TRUE);
}

// The row that shows the account now: `row` itself unless rows were
// removed since the run started; -1 when the account has no row any more.
int CurrentRowOf(HWND list, int row, const std::wstring& name)
{
    if (EqualsNoCase(ListCellText(list, row, 1).Text(), name.c_str()))
        return row;
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int other = 0; other < rows; ++other) {
        if (EqualsNoCase(ListCellText(list, other, 1).Text(), name.c_str()))
            return other;
    }
    return -1;
}

// Image 0 is the default icon; the picture of the account that was row r
// when the list was filled goes to image 1 + r.
void PlaceLoadedPicture(const AccountPanel& panel, int row, const std::wstring& name, UniqueBitmap picture)
{
    HWND list = ListHandle(panel);
    const int current = list != nullptr ? CurrentRowOf(list, row, name) : -1;
    if (current < 0 || !picture)
        return;
    const int32_t listId = panel.ids.accountList;
    int slot = row + 1;
    if (slot >= panel.window.ListImageCount(listId) || !panel.window.ReplaceListImage(listId, slot, picture.Get()))
        slot = panel.window.AddListImage(listId, picture.Get(), panel.window.Scale(kRowPictureSize));
    if (slot > 0)
        panel.window.SetItemImage(listId, current, slot);
}

void StartRowPictures(const AccountPanel& panel, std::vector<std::wstring> names)
{
    if (!panel.rowPictures) {
        panel.rowPictures = std::make_unique<RowPictureLoader>(
            [panel](int row, const std::wstring& name, UniqueBitmap picture) {
                PlaceLoadedPicture(panel, row, name, std::move(picture));
            },
            panel.osVersion,
            // The batch's rows are drawn at once, before the next messages.
            [panel] {
                if (HWND list = ListHandle(panel))
                    UpdateWindow(list);
            },
            panel.window.Scale(kRowPictureSize));
    }
    // One blank image per row, filled as the pictures arrive: no growing
    // and copying of the list one image at a time.
    panel.window.SetListImageCount(panel.ids.accountList, static_cast<int>(names.size()) + 1);
    panel.rowPictures->Start(std::move(names));
}

// "Member of:" and the account's groups, as the system names them.
void ShowMemberOf(const AccountPanel& panel, const wchar_t* name)
{
    WString sid;
    std::vector<LocalGroup> groups;
    std::wstring line = L"Member of: ";
    if (!GetAccountSidAndProfile(name, sid, nullptr) || !ReadAccountGroups(sid.Text(), groups)) {
        line += L"(unknown)";
    } else {
        for (size_t i = 0; i < groups.size(); ++i)
            line += (i > 0 ? L", " : L"") + std::wstring(groups[i].name.Text());
        if (groups.empty())
            line += L"no group";
    }
    panel.window.SetText(panel.ids.memberOfLabel, line.c_str());
    panel.window.SetState(panel.ids.groupsButton, StateFlags::Enable);
}

// "2026-12-09T07:13:05Z" as its day, or its day and minute, for the panel's
// short lines; words ("never", "now") as they are.
std::wstring Shortened(const std::wstring& time, bool withMinute)
{
    if (time.size() != 20 || time[10] != L'T')
        return time.empty() ? L"unknown" : time;
    return withMinute ? time.substr(0, 10) + L" " + time.substr(11, 5) + L" UTC" : time.substr(0, 10);
}

// The computer's policy, the same for every account.
std::wstring PolicyLine()
{
    PasswordPolicy policy;
    return L"Policy: " + (ReadPasswordPolicy(policy) ? PolicySummary(policy) : std::wstring(L"unknown"));
}

// The details people look up, in the order of the detail lines.
void ShowDetailLines(const AccountPanel& panel, const AccountDetails& account)
{
    if (panel.ids.detailLabel <= 0)
        return;
    const DetailTexts t = DescribeDetails(account, static_cast<uint32_t>(time(nullptr)));
    const std::wstring lines[kDetailLines] = {
        t.description.empty() ? L"No description" : L"Description: " + t.description,
        L"Account expires: " + Shortened(t.accountExpires, false),
        L"Last sign-in: " + Shortened(t.lastSignIn, true),
        L"Bad passwords: " + t.badPasswords,
        L"Password set: " + Shortened(t.passwordLastSet, false),
        L"Password expires: " + Shortened(t.passwordExpires, false),
        PolicyLine(),
    };
    for (int line = 0; line < kDetailLines; ++line)
        panel.window.SetText(panel.ids.detailLabel + line, lines[line].c_str());
}

}  // namespace

bool SetRowPicture(const AccountPanel& panel, int row, HBITMAP picture)
{
    HWND list = ListHandle(panel);
    if (list == nullptr || row < 0 || picture == nullptr)
        return false;
    if (panel.rowPictures)
        panel.rowPictures->Skip(ListCellText(list, row, 1).Text());
    const int slot = panel.window.AddListImage(panel.ids.accountList, picture, panel.window.Scale(kRowPictureSize));
    return slot > 0 && panel.window.SetItemImage(panel.ids.accountList, row, slot);
}

int AddAccountRow(const AccountPanel& panel, HWND list, const wchar_t* title, const wchar_t* name, const wchar_t* type)
{
    // No separator: a full name may hold any character.
    int row = panel.window.AddListItem(panel.ids.accountList, title, L"");
    if (row < 0)
        return -1;
    SetListCellText(list, row, 1, name);
    SetListCellText(list, row, 2, type);
    // The default account icon until the account's own picture arrives.
    panel.window.SetItemImage(panel.ids.accountList, row, 0);
    SetListTileColumn(list, row, 2, panel.osVersion);   // the type text under the title
    return row;
}

int FillAccountList(const AccountPanel& panel)
{
    HWND list = ListHandle(panel);
    if (list == nullptr)
        return 0;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    if (panel.rowPictures)
        panel.rowPictures->Stop();
    panel.window.DeleteAllItems(panel.ids.accountList);
    // The old rows' pictures go; the default icon stays.
    panel.window.SetListImageCount(panel.ids.accountList, 1);

    std::vector<AccountRow> rows;
    const bool read = ReadAccountRows(rows);
    int count = read ? 0 : -1;
    std::vector<std::wstring> names;
    for (const AccountRow& row : rows) {
        if (AddAccountRow(panel, list, row.title.Text(), row.name.Text(), row.type.Text()) >= 0) {
            names.emplace_back(row.name.Text());
            ++count;
        }
    }

    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    StartRowPictures(panel, std::move(names));
    return count;
}

bool ShowAccountDetails(const AccountPanel& panel, int row)
{
    HWND list = ListHandle(panel);
    if (row < 0 || list == nullptr)
        return false;
    WString name = ListCellText(list, row, 1);
    AccountDetails account;
    if (!ReadAccountDetails(name.Text(), panel.consoleUserName.Text(), account)) {
        SendMessageW(list, LVM_DELETEITEM, row, 0);
        SendMessageW(list, LVM_ARRANGE, LVA_DEFAULT, 0);
        return false;
    }
    const MainWindowControls& ids = panel.ids;
    panel.window.SetText(ids.accountNameField, name.Text());

    // Another tool may have renamed the account since the list was filled.
    const wchar_t* full = account.fullName.Text();
    WString title = ListCellText(list, row, 0);
    if (!EqualsNoCase(title.Text(), full)) {
        title.Assign(*full != L'\0' ? full : name.Text());
        SetListCellText(list, row, 0, title.Text());
    }
    panel.window.SetText(ids.displayNameField, title.Text());
    if (const ControlEntry* privilege = panel.window.Control(ids.privilegeList))
        SendMessageW(privilege->handle, CB_SETCURSEL, account.privilege, 0);

    const bool builtin = account.builtin;
    if (CompareText(account.typeText.Text(), ListCellText(list, row, 2).Text(), true) != 0)
        SetListCellText(list, row, 2, account.typeText.Text());

    const DWORD flags = account.flags;
    const bool console = account.console;
    const bool disabled = (flags & kFlagAccountDisabled) != 0;
    const bool lockedOut = (flags & kFlagLockedOut) != 0;
    const bool hidden = account.hidden;
    auto checked = [](bool on) { return on ? StateFlags::Check : StateFlags::Uncheck; };
    auto enabled = [](bool on) { return on ? StateFlags::Enable : StateFlags::Disable; };

    struct ControlState {
        int32_t id;
        uint32_t state;
    } const states[] = {
        {ids.displayNameField, enabled(!builtin) | StateFlags::Uncheck},
        {ids.privilegeList, enabled(!builtin && !console) | StateFlags::Uncheck},
        {ids.disabledBox, checked(disabled) | enabled(!console)},
        // A lock-out can be cleared here, never set.
        {ids.lockedOutBox, checked(lockedOut) | enabled(lockedOut)},
        {ids.cannotChangeBox, checked(flags & kFlagPasswordCannotChange) | StateFlags::Enable},
        {ids.notRequiredBox, checked(flags & kFlagPasswordNotRequired) | StateFlags::Enable},
        {ids.neverExpiresBox, checked(flags & kFlagPasswordNeverExpires) | StateFlags::Enable},
        // Enabled only while expired: unchecking it is how the expiry is cleared.
        {ids.expiredBox, checked(flags & kFlagPasswordExpired) | enabled(flags & kFlagPasswordExpired)},
        {ids.autoLogonBox,
         checked(account.autoLogon) | enabled(console || !(hidden || disabled || lockedOut))},
        {ids.hiddenBox, checked(hidden) | enabled(!console)},
        {ids.foldersButton, enabled(!builtin) | StateFlags::Uncheck},
        {ids.deleteButton, enabled(!builtin && !console) | StateFlags::Uncheck},
    };
    for (int32_t id = ids.accountNameField + 1; id > 0 && id <= ids.deleteButton; ++id) {
        if (IsLabel(panel, id))
            continue;
        uint32_t state = StateFlags::Enable | StateFlags::Uncheck;
        for (const ControlState& entry : states) {
            if (entry.id == id)
                state = entry.state;
        }
        panel.window.SetState(id, state);
        if (id == ids.privilegeList) {
            if (const ControlEntry* privilege = panel.window.Control(id))
                RedrawAround(privilege->handle);
        }
    }
    panel.window.SetState(ids.createButton, StateFlags::Enable);
    panel.window.SetState(ids.accountNameField, StateFlags::Enable);
    ShowMemberOf(panel, name.Text());
    ShowDetailLines(panel, account);
    return true;
}

void ClearAccountDetails(const AccountPanel& panel)
{
    const MainWindowControls& ids = panel.ids;
    panel.window.SetText(ids.accountNameField, L"");
    panel.window.SetState(ids.accountNameField, StateFlags::Disable);
    panel.window.SetText(ids.displayNameField, L"");
    panel.window.SetText(ids.memberOfLabel, L"");
    panel.window.SetState(ids.groupsButton, StateFlags::Disable);
    for (int line = 0; ids.detailLabel > 0 && line < kDetailLines; ++line)
        panel.window.SetText(ids.detailLabel + line, L"");
    for (int32_t id = ids.accountNameField + 1; id > 0 && id <= ids.deleteButton; ++id) {
        if (!IsLabel(panel, id))
            panel.window.SetState(id, StateFlags::Uncheck | StateFlags::Disable);
    }
    if (const ControlEntry* privilege = panel.window.Control(ids.privilegeList))
        RedrawAround(privilege->handle);
}

AccountSettingsChoice ReadSettingsChoice(const AccountPanel& panel, int row, WString& name, WString& display,
                                         WString& newName)
{
    const MainWindowControls& ids = panel.ids;
    auto isChecked = [&panel](int32_t id) { return (panel.window.GetState(id) & StateFlags::Check) != 0; };
    name = RowAccountName(panel, row);
    newName = panel.window.GetText(ids.accountNameField);
    display = panel.window.GetText(ids.displayNameField);
    AccountSettingsChoice choice;
    choice.accountName = name.Text();
    choice.displayName = display.Text();
    const ControlEntry* privilege = panel.window.Control(ids.privilegeList);
    choice.privilege = static_cast<uint32_t>(
        privilege != nullptr ? SendMessageW(privilege->handle, CB_GETCURSEL, 0, 0) : CB_ERR);
    choice.flags.disabled = isChecked(ids.disabledBox);
    choice.flags.lockedOut = isChecked(ids.lockedOutBox);
    choice.flags.cannotChange = isChecked(ids.cannotChangeBox);
    choice.flags.notRequired = isChecked(ids.notRequiredBox);
    choice.flags.neverExpires = isChecked(ids.neverExpiresBox);
    choice.expired = isChecked(ids.expiredBox);
    choice.autoLogon = isChecked(ids.autoLogonBox);
    choice.hidden = isChecked(ids.hiddenBox);
    choice.newName = newName.Text();
    return choice;
}

WString RowAccountName(const AccountPanel& panel, int row)
{
    const ControlEntry* list = panel.window.Control(panel.ids.accountList);
    return row >= 0 && list != nullptr ? ListCellText(list->handle, row, 1) : WString(L"");
}
