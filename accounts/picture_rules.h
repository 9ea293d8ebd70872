// The account pictures' decisions that need no window and no system: where a
// version keeps pictures and at which sizes, how a source is fitted into a
// square, which stored file names may be reused, and which picture files are
// safe to decode at all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

// How a source that is not square is fitted into a square target.
enum class PictureFit : int32_t {
    Stretch = 0,   // the whole source, proportions ignored
    Center = 4,    // the whole source inside the target, proportions kept, white around it
    Crop = 8,      // the centred largest part with the target's proportions, filling the target
};
// Any value other than Center and Crop acts as Stretch.
PictureFit ToPictureFit(int32_t value);

// Where a fitted source goes: the part of the source taken (source pixels)
// and the rectangle of the target it is drawn into (target pixels).
struct PictureFitGeometry {
    int sourceX = 0, sourceY = 0, sourceWidth = 0, sourceHeight = 0;
    int targetX = 0, targetY = 0, targetWidth = 0, targetHeight = 0;
};
// False for an empty source or target. Every conversion truncates toward zero.
bool FitGeometry(uint32_t sourceWidth, uint32_t sourceHeight, int width, int height, PictureFit fit,
                 PictureFitGeometry& geometry);

// The square size of the picture handed to the system: 48 below 6.0, 126
// from 6.0 to below 6.2, 448 from 6.2 on.
int AccountPictureSize(double osVersion);
// True from 6.0 on: the shell takes the picture; below, a bitmap in the
// common pictures folder is the picture.
bool ShellKeepsPictures(double osVersion);
// The shell export that answers an account's picture path: 233 below 6.0,
// 810 from 6.0 on.
uint16_t PicturePathOrdinal(double osVersion);
// The size at which the shell library's account icon is drawn for the
// generic picture: 48 below 6.0, 256 from 6.0 on.
int GenericPictureIconSize(double osVersion);

// One file of the per-SID JPEG set: the registry value that names it and
// its square size.
struct PictureSetEntry {
    const wchar_t* valueName;
    int size;
};
// The set for the version, in the order written: seven entries above 9.0,
// five from 6.2 to 9.0, none below 6.2. `count` receives the number.
const PictureSetEntry* PictureSetTable(double osVersion, size_t& count);

// "{" + UUID + "}-" + value name + ".jpg"; the UUID is taken in upper case
// whatever case it comes in, braces or not. False when the UUID is not 36
// characters of hex digits and dashes.
bool PictureSetFileName(const wchar_t* uuid, const wchar_t* valueName, WString& name);

// True when a stored value may be reused as a file of the set: it holds
// ".jpg" (searched from the end, any case) and names a file directly inside
// `sidFolder` (no other folder, no "." or "..", no stream, no wildcard, no
// trailing dot or blank). The set deletes the file it reuses, so anything
// else must get a new name instead.
bool IsReusablePictureFile(const wchar_t* value, const wchar_t* sidFolder);

// True when an account name can stand as a file name of its own in the
// pictures folder (the legacy bitmap is named after the account and is
// deleted before it is written): not empty, no path or stream separators,
// wildcards or control characters, and not made of dots and blanks alone.
bool IsPlainFileName(const wchar_t* name);

// Picture files: what may be decoded without the risk of exhausting memory.
inline constexpr uint64_t kMaxPictureFileBytes = 50ull * 1024 * 1024;
inline constexpr uint32_t kMaxPictureSide = 16000;
inline constexpr uint64_t kMaxPicturePixels = 100000000ull;

enum class ImageFormat { Unknown, Bmp, Png, Gif, Jpeg, Tiff };
struct ImageHeader {
    ImageFormat format = ImageFormat::Unknown;
    uint32_t width = 0;
    uint32_t height = 0;
};
// The format and size a picture file's bytes announce, read from the header
// alone; false when the bytes are none of the formats the chooser offers,
// or are cut short before the size.
bool ReadImageHeader(const uint8_t* bytes, size_t size, ImageHeader& header);
// True when a file of `fileBytes` announcing `header` may be decoded.
bool IsSafePictureSize(uint64_t fileBytes, const ImageHeader& header);
