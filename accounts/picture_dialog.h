// The main window's change-picture dialog.
#pragma once

#include "ui/window.h"

// Modal over `mainWindow`: the account's current picture, a preview of a
// chosen file in the chosen fit, and "Change picture". Its outcome is not
// reported: the caller reads the account's picture afresh afterwards.
void ChangePictureDialog(UiWindow& mainWindow, const wchar_t* accountName, const wchar_t* fullName,
                         double osVersion);
