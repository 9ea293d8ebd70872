#include "accounts/new_account_picture.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "platform/files.h"
#include "platform/machine.h"
#include "platform/text_win.h"
#include "ui/drawing.h"

namespace gp = Gdiplus::DllExports;

namespace {

constexpr int kShellPictureSize = 448;
// Pictures beyond these would take gigabytes to decode.
constexpr ULONGLONG kMaxPictureBytes = 50ull * 1024 * 1024;
constexpr UINT kMaxPictureSide = 16000;

WString PicturesFolder()
{
    WString folder;
    if (!FromFolderPath(folder, CSIDL_COMMON_APPDATA, nullptr, 0))
        return WString(L"");
    folder.Append(L"\\Microsoft\\User Account Pictures\\");
    return folder;
}

}  // namespace

UniqueImage LoadNewAccountPicture(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path == nullptr || !GetFileAttributesExW(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return UniqueImage();
    ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size == 0 || size > kMaxPictureBytes)
        return UniqueImage();
    UniqueImage image;
    if (gp::GdipCreateBitmapFromFile(path, image.Put()) != Gdiplus::Ok)
        return UniqueImage();
    UINT width = 0, height = 0;
    gp::GdipGetImageWidth(image.Get(), &width);
    gp::GdipGetImageHeight(image.Get(), &height);
    if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide)
        return UniqueImage();
    return image;
}

namespace {

bool FindBmpEncoder(CLSID& encoder)
{
    UINT count = 0, bytes = 0;
    if (gp::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0)
        return false;
    std::vector<BYTE> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (gp::GdipGetImageEncoders(count, bytes, codecs) != Gdiplus::Ok)
        return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType != nullptr && EqualsNoCase(codecs[i].MimeType, L"image/bmp")) {
            encoder = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

}  // namespace

WString DefaultPicturesFolder()
{
    WString folder = PicturesFolder();
    folder.Append(L"Default Pictures");
    return folder;
}

UniqueImage LoadDefaultAccountPicture(WString& path)
{
    WString folder = PicturesFolder();
    path.Assign(folder.Text());
    path.Append(L"user.bmp");
    if (!PathFileExistsW(path.Text())) {
        WString pattern = DefaultPicturesFolder();
        pattern.Append(L"\\*.bmp");
        DirectoryIterator stock(pattern.Text(), kOnlyFiles);
        if (stock.Next())
            path = JoinPath(DefaultPicturesFolder().Text(), stock.Name());
    }
    return LoadNewAccountPicture(path.Text());
}

bool ChooseNewAccountPicture(WString& path, const wchar_t* startFolder, HWND owner)
{
    wchar_t file[2048 + 1] = L"";
    OPENFILENAMEW dialog{};
    // The structure's own size: the 64-bit system refuses the 32-bit one.
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Pictures\0*.bmp;*.jpg;*.png;*.tiff;*.jpeg;*.gif\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = 2048;
    dialog.lpstrInitialDir = startFolder;
    dialog.lpstrTitle = L"Select user picture file";
    dialog.lpstrDefExt = L".bmp";
    dialog.Flags = OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_ENABLESIZING;
    if (!GetOpenFileNameW(&dialog))
        return false;
    return path.Assign(file);
}

UniqueImage FitNewAccountPicture(Gdiplus::GpBitmap* source, int size, NewPictureFit fit)
{
    UINT w = 0, h = 0;
    if (source == nullptr || size <= 0 || gp::GdipGetImageWidth(source, &w) != Gdiplus::Ok ||
        gp::GdipGetImageHeight(source, &h) != Gdiplus::Ok || w == 0 || h == 0)
        return UniqueImage();
    UniqueImage square = NewBitmap(size, size);
    UniqueGraphics graphics;
    if (!square || gp::GdipGetImageGraphicsContext(square.Get(), graphics.Put()) != Gdiplus::Ok)
        return UniqueImage();
    gp::GdipSetInterpolationMode(graphics.Get(), Gdiplus::InterpolationModeHighQualityBicubic);
    gp::GdipSetPixelOffsetMode(graphics.Get(), Gdiplus::PixelOffsetModeHalf);
    gp::GdipGraphicsClear(graphics.Get(), kOpaqueWhite);

    int x = 0, y = 0, width = size, height = size;   // where the source lands
    int sx = 0, sy = 0, sw = static_cast<int>(w), sh = static_cast<int>(h);   // the part of it taken
    if (fit == NewPictureFit::Center && w != h) {
        if (w > h) {
            height = static_cast<int>(static_cast<double>(size) * h / w);
            y = (size - height) / 2;
        } else {
            width = static_cast<int>(static_cast<double>(size) * w / h);
            x = (size - width) / 2;
        }
    } else if (fit == NewPictureFit::Crop && w != h) {
        if (w > h) {
            sw = static_cast<int>(h);
            sx = static_cast<int>((w - h) / 2);
        } else {
            sh = static_cast<int>(w);
            sy = static_cast<int>((h - w) / 2);
        }
    }
    if (gp::GdipDrawImageRectRectI(graphics.Get(), source, x, y, width, height, sx, sy, sw, sh, Gdiplus::UnitPixel,
                                   nullptr, nullptr, nullptr) != Gdiplus::Ok)
        return UniqueImage();
    return square;
}

bool GiveNewAccountPicture(const wchar_t* accountName, Gdiplus::GpBitmap* picture, NewPictureFit fit)
{
    CLSID encoder{};
    if (accountName == nullptr || picture == nullptr || !FindBmpEncoder(encoder))
        return false;
    UniqueImage square = FitNewAccountPicture(picture, kShellPictureSize, fit);
    if (!square)
        return false;
    wchar_t temp[MAX_PATH + 1] = L"";
    if (GetTempPathW(MAX_PATH, temp) == 0)
        return false;
    WString handOver(temp);
    handOver.Append(L"Vantrell_new_pic.bmp");
    DeletePath(handOver.Text(), kDeleteTakeOver);
    if (gp::GdipSaveImageToFile(square.Get(), handOver.Text(), &encoder, nullptr) != Gdiplus::Ok)
        return false;
    UniqueLibrary shell(LoadLibraryW(L"Shell32.dll"));
    auto setPicture = machine::AsFunction<machine::SetPictureFunction>(
        machine::GetProcAddress(shell.Get(), MAKEINTRESOURCEA(machine::kSetPictureOrdinal)));
    return setPicture != nullptr && setPicture(accountName, 0, handOver.Text()) == S_OK;
}
