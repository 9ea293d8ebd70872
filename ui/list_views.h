// The list-view helpers that work on any list's handle. UiWindow's own
// list-view calls (ui/window.h) are implemented beside them, in
// ui/list_views.cpp.
#pragma once

#include <windows.h>

#include "platform/text.h"

// The text of a list view's cell, however long; empty when there is no
// such list, row or column.
WString ListCellText(HWND list, int row, int column);
// Sets the text of a list view's cell; false when there is no such list or row.
bool SetListCellText(HWND list, int row, int column, const wchar_t* text);
// Shows `column` under the title of a row of a list view in tile view, left
// aligned; `osVersion` picks the record's size the system knows.
void SetListTileColumn(HWND list, int row, UINT column, double osVersion);
