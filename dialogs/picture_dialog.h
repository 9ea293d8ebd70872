// The main window's change-picture dialog.
#pragma once

#include "ui/dialog_owner.h"

// Modal over `owner`: the account's current picture, a preview of a chosen
// file in the chosen fit, and "Change picture". Its outcome is not reported:
// the caller reads the account's picture afresh afterwards. The caller locks
// and unlocks the owner around it.
void ChangePictureDialog(DialogOwner& owner, const wchar_t* accountName, const wchar_t* fullName, double osVersion);
