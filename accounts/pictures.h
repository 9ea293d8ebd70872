// Account pictures: where each Windows version keeps them, the 48 x 48
// bitmap of an account's picture for the lists and headings, fitting any
// source into the squares Windows wants, and setting a new picture on every
// version. Every rule that depends on the version takes it as an input;
// callers pass GetOsVersionNumber().
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "accounts/picture_rules.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "accounts/picture_files.h"

// The common "User Account Pictures" folder, ending in a backslash; false
// when the shell folder cannot be read.
bool GetUserPicturesFolder(WString& path);

// Loads a picture file the operator or the system named, refusing anything
// that is not one of the offered formats, is empty, or is too large to
// decode safely (over 50 MB, over 16,000 pixels a side or 100 million
// pixels). The whole picture is decoded here, so a damaged file fails now.
// Null on any refusal or failure.
UniqueImage LoadPictureFile(const wchar_t* path);

// The file that holds the account's current picture: the shell's answer,
// the legacy bitmap, below 6.0 the first stock picture copied as the legacy
// bitmap; false when the account has none (GenericAccountPicture then).
bool FindAccountPicture(const wchar_t* accountName, WString& path, double osVersion);
// The same for many accounts, the shell and the folders looked up once; an
// empty path where there is none.
void FindAccountPictures(const std::vector<const wchar_t*>& accountNames, std::vector<WString>& paths,
                         double osVersion);

// The picture of an account without one, made in memory from the shell
// library's icon; null when it cannot be drawn.
UniqueImage GenericAccountPicture(double osVersion);

// A GDI bitmap of the account's picture (the generic one when it has none),
// `size` pixels square (48 at 100 % scale), drawn from the picture's source
// over `background` (ARGB); owned by the caller, or null.
UniqueBitmap LoadAccountPictureBitmap(const wchar_t* accountName, double osVersion, int size = 48,
                                      uint32_t background = 0);

// Gives the account `image` fitted as `fit` says: the legacy bitmap below
// 6.0; from 6.0 the shell's picture call; from 6.2 also the per-SID JPEG set
// and its registry key (which never turns a success into a failure). True
// when the picture the version relies on was set.
bool SetAccountPicture(const wchar_t* accountName, Gdiplus::GpBitmap* image, PictureFit fit, double osVersion);

// Whether the account's stored picture already is `image` (loaded from
// `file`): the stored file itself, or its pixels those of the image or of
// the square SetAccountPicture would store. False when either cannot be
// read; a stored copy the system made lossy never matches, so the picture
// is then set again.
bool AccountPictureMatches(const wchar_t* accountName, const wchar_t* file, Gdiplus::GpBitmap* image, PictureFit fit,
                           double osVersion);

// The picture a new account gets when none was chosen: "user.bmp" in the
// pictures folder, else the first stock bitmap of its "Default Pictures";
// false (with the missing "user.bmp" in `path`) when neither exists.
bool FindDefaultPictureFile(WString& path);

// On success the calling thread impersonates the user running the first
// process named `processName` (any case); the caller ends it with
// RevertToSelf. The duplicated token, or null.
UniqueHandle ImpersonateProcessUser(const wchar_t* processName);

// Where the pictures of one account live (for the tests and the repair tool).
WString LegacyPictureFile(const wchar_t* picturesFolder, const wchar_t* accountName);
