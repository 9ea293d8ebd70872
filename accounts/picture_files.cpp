#include "accounts/picture_files.h"

#include <objbase.h>

#include <cstdlib>
#include <utility>

#include "accounts/picture_rules.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text_win.h"

namespace gp = Gdiplus::DllExports;
using Gdiplus::Ok;

namespace {

constexpr wchar_t kPictureSetKey[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AccountPicture\\Users\\";

// True when the folder is a real folder, not a link that would carry the
// files written into it somewhere else.
bool IsPlainFolder(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

WString NewPictureSetName(const wchar_t* folder, const wchar_t* valueName)
{
    WString path;
    GUID id{};
    wchar_t text[40] = L"";
    WString name;
    if (FAILED(CoCreateGuid(&id)) || StringFromGUID2(id, text, ARRAYSIZE(text)) == 0 ||
        !PictureSetFileName(text, valueName, name))
        return path;
    path.Assign(folder);
    path.Append(L"\\", name.Text());
    return path;
}

}  // namespace

WString PictureSetFolder(const wchar_t* sidString)
{
    WString folder = ExpandEnvironmentText(L"%Public%");
    TrimTrailingBackslashes(folder);
    folder.Append(L"\\AccountPictures\\", sidString);
    return folder;
}

WString PictureSetKeyPath(const wchar_t* sidString)
{
    WString path(kPictureSetKey);
    path.Append(sidString);
    return path;
}

void WritePictureSet(const wchar_t* sidString, Gdiplus::GpBitmap* image, Gdiplus::GpBitmap* square, PictureFit fit,
                     double osVersion)
{
    CLSID encoder{};
    if (!FindImageEncoder(L".jpg", encoder))
        return;
    size_t count = 0;
    const PictureSetEntry* table = PictureSetTable(osVersion, count);
    if (table == nullptr || count == 0)
        return;
    WString folder = PictureSetFolder(sidString);
    RegKey key(OpenKey(PictureSetKeyPath(sidString).Text(), kCreateKeyAccess));
    // Files written through a link would land wherever it points.
    WString parent(folder.Text());
    parent.RemoveLastComponent();
    if (!CreateDirectoryPath(folder.Text()) || !IsPlainFolder(parent.Text()) || !IsPlainFolder(folder.Text()))
        return;
    for (size_t i = 0; i < count; ++i) {
        const PictureSetEntry& entry = table[i];
        UniqueImage fitted;
        Gdiplus::GpBitmap* picture = square;
        if (i > 0) {
            fitted = FitPicture(image, entry.size, entry.size, fit);
            picture = fitted.Get();
        }
        if (picture == nullptr)
            continue;
        WString file;
        WString stored;
        if (key && key.QueryString(entry.valueName, stored) && IsReusablePictureFile(stored.Text(), folder.Text())) {
            file.Assign(stored.Text());
        } else {
            file = NewPictureSetName(folder.Text(), entry.valueName);
            if (file.IsEmpty())
                continue;
            if (key)
                key.SetValue(entry.valueName, REG_SZ, file.Text(), 0);
        }
        if (!ClearForWriting(file.Text()) || !SaveImage(picture, file.Text(), encoder))
            continue;
        SetFileAttributesW(file.Text(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }
}

UniqueImage FitPicture(Gdiplus::GpBitmap* source, int width, int height, PictureFit fit)
{
    UINT w = 0, h = 0;
    PictureFitGeometry g;
    if (source == nullptr || width + height == 0 || gp::GdipGetImageWidth(source, &w) != Ok ||
        gp::GdipGetImageHeight(source, &h) != Ok || !FitGeometry(w, h, width, height, fit, g))
        return UniqueImage();
    UniqueImage target = NewBitmap(width, height);
    UniqueGraphics graphics;
    if (!target || gp::GdipGetImageGraphicsContext(target.Get(), graphics.Put()) != Ok)
        return UniqueImage();
    gp::GdipSetInterpolationMode(graphics.Get(), Gdiplus::InterpolationModeHighQualityBicubic);
    gp::GdipSetCompositingQuality(graphics.Get(), Gdiplus::CompositingQualityGammaCorrected);
    gp::GdipSetPixelOffsetMode(graphics.Get(), Gdiplus::PixelOffsetModeHalf);
    // Mirrored edges: the filter never blends the picture's rim with the
    // transparent outside of the source (a grey halo on the white).
    Gdiplus::GpImageAttributes* attributes = nullptr;
    if (gp::GdipCreateImageAttributes(&attributes) == Ok)
        gp::GdipSetImageAttributesWrapMode(attributes, Gdiplus::WrapModeTileFlipXY, 0, FALSE);
    const bool drawn =
        gp::GdipGraphicsClear(graphics.Get(), kOpaqueWhite) == Ok &&
        gp::GdipDrawImageRectRectI(graphics.Get(), source, g.targetX, g.targetY, g.targetWidth, g.targetHeight,
                                   g.sourceX, g.sourceY, g.sourceWidth, g.sourceHeight, Gdiplus::UnitPixel,
                                   attributes, nullptr, nullptr) == Ok;
    if (attributes != nullptr)
        gp::GdipDisposeImageAttributes(attributes);
    return drawn ? std::move(target) : UniqueImage();
}

bool ClearForWriting(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    return DeletePath(path, kDeleteTakeOver) != kDeleteFailed;
}
