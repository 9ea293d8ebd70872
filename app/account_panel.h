// The main window's account list and settings panel: what the account
// services read is put into the controls here, and the operator's choices
// are read back out of them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "accounts/account_settings.h"
#include "accounts/row_pictures.h"
#include "platform/text.h"
#include "ui/window.h"

// The ids of the controls the main window keeps, in the order they are
// created; -1 until created, 0 when creating failed. The panel is the run
// from `accountNameField` to `deleteButton`; several operations walk it.
struct MainWindowControls {
    int32_t launchLabel = ControlId::None;
    int32_t minimiseButton = ControlId::None;
    int32_t closeButton = ControlId::None;
    int32_t helpLink = ControlId::None;
    int32_t refreshLink = ControlId::None;
    int32_t versionLink = ControlId::None;
    int32_t aboutLink = ControlId::None;
    int32_t checkLink = ControlId::None;
    int32_t profilesLink = ControlId::None;
    int32_t accountList = ControlId::None;
    int32_t accountNameField = ControlId::None;
    int32_t displayNameField = ControlId::None;
    int32_t privilegeList = ControlId::None;
    int32_t disabledBox = ControlId::None;
    int32_t lockedOutBox = ControlId::None;
    int32_t cannotChangeBox = ControlId::None;
    int32_t notRequiredBox = ControlId::None;
    int32_t neverExpiresBox = ControlId::None;
    int32_t expiredBox = ControlId::None;
    int32_t autoLogonBox = ControlId::None;
    int32_t hiddenBox = ControlId::None;
    int32_t foldersButton = ControlId::None;
    int32_t saveButton = ControlId::None;
    int32_t pictureButton = ControlId::None;
    int32_t setPasswordButton = ControlId::None;
    int32_t removePasswordButton = ControlId::None;
    int32_t deleteButton = ControlId::None;
    int32_t createButton = ControlId::None;
    // The account's groups, outside the panel's run: ShowAccountDetails
    // fills the line and enables the button itself.
    int32_t memberOfLabel = ControlId::None;
    int32_t groupsButton = ControlId::None;
    // The first of the account's detail lines, kDetailLines in a row, also
    // outside the run: description, account expiry, last sign-in, bad
    // passwords, password set, password expiry, and the computer's password
    // and lock-out policy (read-only).
    int32_t detailLabel = ControlId::None;
};

inline constexpr int kDetailLines = 7;

// What the list and panel functions work on, lent by the main window: the
// window that holds the controls, their ids, the system's version, the
// console user's name and the loader of the rows' pictures. Every part
// lives as long as the window.
// The rows' pictures are this many 96-DPI units square.
constexpr int kRowPictureSize = 48;

struct AccountPanel {
    UiWindow& window;
    const MainWindowControls& ids;
    double osVersion;
    const WString& consoleUserName;
    std::unique_ptr<RowPictureLoader>& rowPictures;
};

// Empties the list and fills it with every account; the number of rows
// added, or -1 when the accounts could not be read whole (the list then
// stays empty rather than showing a part). The rows show the default icon;
// their pictures follow from the window's picture loader, row by row.
int FillAccountList(const AccountPanel& panel);

// The row shows `picture` from now on (the list keeps its own copy); a
// picture of the account still on its way from the loader is dropped.
bool SetRowPicture(const AccountPanel& panel, int row, HBITMAP picture);

// Appends one row to the list `list` (the window's account list): the title
// shown, the account name and the type text in columns 1 and 2, the
// default picture and the tile's second line. The new row, or -1.
int AddAccountRow(const AccountPanel& panel, HWND list, const wchar_t* title, const wchar_t* name, const wchar_t* type);

// Reads the row's account afresh and sets every panel control from it. False
// for row -1, and when the account can no longer be read: its row is then
// removed and the panel keeps what it showed.
bool ShowAccountDetails(const AccountPanel& panel, int row);

// Nothing selected: both fields emptied, the rest of the panel unchecked
// and disabled ("Create user account" is not part of the panel).
void ClearAccountDetails(const AccountPanel& panel);


// The account of the row (the one the panel shows). The name field is the
// operator's to edit (a new name is taken on "Save changes"): it never says
// which account an operation is for. Empty for row -1.
WString RowAccountName(const AccountPanel& panel, int row);

// The panel's choices for "Save changes" to the account of `row`. The texts
// point into `name`, `display` and `newName` (the name field), which the
// caller keeps while the choice is in use.
AccountSettingsChoice ReadSettingsChoice(const AccountPanel& panel, int row, WString& name, WString& display,
                                         WString& newName);
