// The per-SID picture set from Windows 8 on: the JPEG files of every size in
// the public account pictures folder and the machine key that names them.
#pragma once

#include <windows.h>

#include "accounts/picture_rules.h"
#include "platform/text.h"
#include "ui/image.h"

// Where the set of one account lives (for the tests and the repair tool).
WString PictureSetFolder(const wchar_t* sidString);
WString PictureSetKeyPath(const wchar_t* sidString);

// Writes the set's files and the key that names them: `square` as the
// first, `image` fitted as `fit` says for the others. Runs with whatever
// impersonation the caller set up; every failure only leaves that part
// undone.
void WritePictureSet(const wchar_t* sidString, Gdiplus::GpBitmap* image, Gdiplus::GpBitmap* square, PictureFit fit,
                     double osVersion);
