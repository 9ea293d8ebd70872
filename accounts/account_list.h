// The account list of the main window and the settings panel of the
// selected account. Nothing is cached: every call reads the accounts afresh.
#pragma once

#include <windows.h>
#include <lm.h>

#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/text.h"

class MainWindow;

// A buffer handed out by the account database.
struct NetBufferTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { machine::NetApiBufferFree(h); }
};
using UniqueNetBuffer = UniqueResource<NetBufferTraits>;

// Empties the list and fills it with every account of every page of the
// enumeration; the number of rows added. The rows show the default icon;
// their pictures follow from the window's picture loader, row by row.
int FillAccountList(MainWindow& window);

// Appends one row to the list `list` (the window's account list): the title
// shown, the account name and the type text in columns 1 and 2, the
// default picture and the tile's second line. The new row, or -1.
int AddAccountRow(MainWindow& window, HWND list, const wchar_t* title, const wchar_t* name, const wchar_t* type);

// The row shows `picture` from now on (the list keeps its own copy); a
// picture of the account still on its way from the loader is dropped.
bool SetRowPicture(MainWindow& window, int row, HBITMAP picture);

// Reads the row's account afresh and sets every panel control from it. False
// for row -1, and when the account can no longer be read: its row is then
// removed and the panel keeps what it showed.
bool ShowAccountDetails(MainWindow& window, int row);

// Nothing selected: both fields emptied, the rest of the panel unchecked
// and disabled ("Create user account" is not part of the panel).
void ClearAccountDetails(MainWindow& window);

// A cell of a row of the list; empty when there is no such row.
WString ListCellText(HWND list, int row, int column);
