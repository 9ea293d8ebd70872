// The main window's change-picture dialog, and the picture controls and the
// file choice it shares with the create-account dialog.
#pragma once

#include <windows.h>

#include <cstdint>

#include "accounts/picture_rules.h"
#include "platform/images.h"
#include "platform/text.h"
#include "ui/dialog_owner.h"

// The system's open-file dialog for a picture, owned by `owner`, starting in
// `startFolder`; true with the chosen file's path.
bool ChoosePictureFile(WString& path, const wchar_t* startFolder, HWND owner);

// Shows the bitmap in picture control `pictureControl` of the window,
// drawn into width x height (96-DPI units) at the window's scale, and again
// from a copy of the bitmap when the scale changes; the second form fits
// it as `fit` says over white.
bool SetPictureImage(UiWindow& window, int32_t pictureControl, Gdiplus::GpBitmap* bitmap, int width, int height);
bool SetFittedPicture(UiWindow& window, int32_t pictureControl, Gdiplus::GpBitmap* bitmap, int width, int height,
                      PictureFit fit);

// Modal over `owner`: the account's current picture, a preview of a chosen
// file in the chosen fit, and "Change picture". Its outcome is not reported:
// the caller reads the account's picture afresh afterwards. The caller locks
// and unlocks the owner around it.
void ChangePictureDialog(DialogOwner& owner, const wchar_t* accountName, const wchar_t* fullName, double osVersion);
