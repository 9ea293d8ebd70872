// The main window's account list and settings panel: what the account
// services read is put into the controls here, and the operator's choices
// are read back out of them.
#pragma once

#include <windows.h>

#include "accounts/account_settings.h"
#include "platform/text.h"

class MainWindow;

// Empties the list and fills it with every account; the number of rows
// added. The rows show the default icon; their pictures follow from the
// window's picture loader, row by row.
int FillAccountList(MainWindow& window);

// The row shows `picture` from now on (the list keeps its own copy); a
// picture of the account still on its way from the loader is dropped.
bool SetRowPicture(MainWindow& window, int row, HBITMAP picture);

// Appends one row to the list `list` (the window's account list): the title
// shown, the account name and the type text in columns 1 and 2, the
// default picture and the tile's second line. The new row, or -1.
int AddAccountRow(MainWindow& window, HWND list, const wchar_t* title, const wchar_t* name, const wchar_t* type);

// Reads the row's account afresh and sets every panel control from it. False
// for row -1, and when the account can no longer be read: its row is then
// removed and the panel keeps what it showed.
bool ShowAccountDetails(MainWindow& window, int row);

// Nothing selected: both fields emptied, the rest of the panel unchecked
// and disabled ("Create user account" is not part of the panel).
void ClearAccountDetails(MainWindow& window);


// The panel's choices for "Save changes". The texts point into `name` and
// `display`, which the caller keeps while the choice is in use.
AccountSettingsChoice ReadSettingsChoice(MainWindow& window, WString& name, WString& display);
