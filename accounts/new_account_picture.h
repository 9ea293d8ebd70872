// The picture a new account gets from the creation dialog: the stock default
// picture, the picture-file chooser, fitting a picture into a square, and
// handing it to the shell. The dialog reaches pictures only through these,
// so that the account-picture module can take their place in one spot.
#pragma once

#include <windows.h>

#include "platform/text.h"
#include "ui/image.h"

// How a picture that is not square fills a square.
enum class NewPictureFit { Stretch = 0, Center = 4, Crop = 8 };

// The stock picture: "user.bmp" of the account pictures folder, else the
// first bitmap of its "Default Pictures" folder. `path` receives the file
// chosen (which may not exist); the bitmap is null when it does not load.
UniqueImage LoadDefaultAccountPicture(WString& path);

// A picture file decoded; null when it is no picture, empty, or too large
// to decode safely.
UniqueImage LoadNewAccountPicture(const wchar_t* path);

// The "Default Pictures" folder, where browsing starts.
WString DefaultPicturesFolder();

// The system's open-file dialog for a picture; true with the chosen path.
bool ChooseNewAccountPicture(WString& path, const wchar_t* startFolder, HWND owner);

// A size x size copy of the picture in the fit asked for; null on failure.
UniqueImage FitNewAccountPicture(Gdiplus::GpBitmap* source, int size, NewPictureFit fit);

// Gives the account the picture, fitted; true when the shell took it.
bool GiveNewAccountPicture(const wchar_t* accountName, Gdiplus::GpBitmap* picture, NewPictureFit fit);
