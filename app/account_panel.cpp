#include "app/account_panel.h"

#include <commctrl.h>

#include <vector>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "app/main_window.h"

namespace {

HWND ListHandle(MainWindow& window)
{
    const ControlEntry* list = window.Control(window.ids.accountList);
    return list != nullptr ? list->handle : nullptr;
}

void SetCell(HWND list, int row, int column, const wchar_t* text)
{
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = const_cast<wchar_t*>(text);
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
}

// Each tile shows the type text (column 2) under its title.
void SetTileColumns(HWND list, int row, double osVersion)
{
    UINT columns[] = {2};
    int formats[] = {LVCFMT_LEFT};
    LVTILEINFO tile{};
    // Before 6.0 the record ends before the column formats.
    tile.cbSize = osVersion < 6.0 ? static_cast<UINT>(offsetof(LVTILEINFO, piColFmt)) : sizeof(tile);
    tile.iItem = row;
    tile.cColumns = 1;
    tile.puColumns = columns;
    tile.piColFmt = formats;
    SendMessageW(list, LVM_SETTILEINFO, 0, reinterpret_cast<LPARAM>(&tile));
}

// The background shows through around the drop-down list; without this its
// old frame stays behind when its state changes.
void RedrawAround(HWND control)
{
    RECT area{};
    HWND parent = GetParent(control);
    if (!GetClientRect(control, &area) || parent == nullptr)
        return;
    MapWindowPoints(control, parent, reinterpret_cast<POINT*>(&area), 2);
    InvalidateRect(parent, &area, TRUE);
}

}  // namespace

int AddAccountRow(MainWindow& window, HWND list, const wchar_t* title, const wchar_t* name, const wchar_t* type)
{
    // No separator: a full name may hold any character.
    int row = window.AddListItem(window.ids.accountList, title, L"");
    if (row < 0)
        return -1;
    SetCell(list, row, 1, name);
    SetCell(list, row, 2, type);
    // Every row shows the default account icon until account pictures exist.
    window.SetItemImage(window.ids.accountList, row, 0);
    SetTileColumns(list, row, window.osVersion);
    return row;
}

WString ListCellText(HWND list, int row, int column)
{
    WString text;
    wchar_t* buffer = text.GetBuffer(512, nullptr, true);
    if (buffer == nullptr || list == nullptr || row < 0)
        return WString(L"");
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = buffer;
    cell.cchTextMax = 513;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
    text.Length();
    return text;
}

int FillAccountList(MainWindow& window)
{
    HWND list = ListHandle(window);
    if (list == nullptr)
        return 0;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    window.DeleteAllItems(window.ids.accountList);

    std::vector<AccountRow> rows;
    ReadAccountRows(rows);
    int count = 0;
    for (const AccountRow& row : rows) {
        if (AddAccountRow(window, list, row.title.Text(), row.name.Text(), row.type.Text()) >= 0)
            ++count;
    }

    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return count;
}

bool ShowAccountDetails(MainWindow& window, int row)
{
    HWND list = ListHandle(window);
    if (row < 0 || list == nullptr)
        return false;
    WString name = ListCellText(list, row, 1);
    AccountDetails account;
    if (!ReadAccountDetails(name.Text(), window.consoleUserName.Text(), account)) {
        SendMessageW(list, LVM_DELETEITEM, row, 0);
        SendMessageW(list, LVM_ARRANGE, LVA_DEFAULT, 0);
        return false;
    }
    const MainWindowControls& ids = window.ids;
    window.SetText(ids.accountNameField, name.Text());

    // Another tool may have renamed the account since the list was filled.
    const wchar_t* full = account.fullName.Text();
    WString title = ListCellText(list, row, 0);
    if (!EqualsNoCase(title.Text(), full)) {
        title.Assign(*full != L'\0' ? full : name.Text());
        SetCell(list, row, 0, title.Text());
    }
    window.SetText(ids.displayNameField, title.Text());
    if (const ControlEntry* privilege = window.Control(ids.privilegeList))
        SendMessageW(privilege->handle, CB_SETCURSEL, account.privilege, 0);

    const bool builtin = account.builtin;
    if (CompareText(account.typeText.Text(), ListCellText(list, row, 2).Text(), true) != 0)
        SetCell(list, row, 2, account.typeText.Text());

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
        {ids.foldersButton, enabled(console && !builtin) | StateFlags::Uncheck},
        {ids.deleteButton, enabled(!builtin && !console) | StateFlags::Uncheck},
    };
    for (int32_t id = ids.accountNameField + 1; id > 0 && id <= ids.deleteButton; ++id) {
        uint32_t state = StateFlags::Enable | StateFlags::Uncheck;
        for (const ControlState& entry : states) {
            if (entry.id == id)
                state = entry.state;
        }
        window.SetState(id, state);
        if (id == ids.privilegeList) {
            if (const ControlEntry* privilege = window.Control(id))
                RedrawAround(privilege->handle);
        }
    }
    window.SetState(ids.createButton, StateFlags::Enable);
    return true;
}

void ClearAccountDetails(MainWindow& window)
{
    const MainWindowControls& ids = window.ids;
    window.SetText(ids.accountNameField, L"");
    window.SetText(ids.displayNameField, L"");
    for (int32_t id = ids.accountNameField + 1; id > 0 && id <= ids.deleteButton; ++id)
        window.SetState(id, StateFlags::Uncheck | StateFlags::Disable);
    if (const ControlEntry* privilege = window.Control(ids.privilegeList))
        RedrawAround(privilege->handle);
}

AccountSettingsChoice ReadSettingsChoice(MainWindow& window, WString& name, WString& display)
{
    const MainWindowControls& ids = window.ids;
    auto isChecked = [&window](int32_t id) { return (window.GetState(id) & StateFlags::Check) != 0; };
    name = window.GetText(ids.accountNameField);
    display = window.GetText(ids.displayNameField);
    AccountSettingsChoice choice;
    choice.accountName = name.Text();
    choice.displayName = display.Text();
    const ControlEntry* privilege = window.Control(ids.privilegeList);
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
    return choice;
}
