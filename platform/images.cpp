// Bitmaps, their scaled copies and GDI forms, icons as bitmaps, and the encoders.
#include "platform/images.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "platform/registry.h"
#include "platform/text_win.h"

namespace gp = Gdiplus::DllExports;
using Gdiplus::ARGB;
using Gdiplus::Ok;

float CanvasScale(Gdiplus::GpBitmap* bitmap)
{
    float dpi = kDesignDpi;
    if (bitmap == nullptr || gp::GdipGetImageHorizontalResolution(bitmap, &dpi) != Ok || dpi <= 0)
        return 1.0f;
    return dpi / kDesignDpi;
}

UniqueGraphics GraphicsFor(Gdiplus::GpBitmap* bitmap)
{
    UniqueGraphics graphics;
    if (bitmap == nullptr || gp::GdipGetImageGraphicsContext(bitmap, graphics.Put()) != Ok)
        return UniqueGraphics();
    float scale = CanvasScale(bitmap);
    if (scale != 1.0f && gp::GdipScaleWorldTransform(graphics.Get(), scale, scale, Gdiplus::MatrixOrderPrepend) != Ok)
        return UniqueGraphics();
    return graphics;
}

UniqueImage NewBitmap(int width, int height) { return NewCanvas(width, height, kDesignDpi); }

UniqueImage NewCanvas(int width, int height, int dpi)
{
    UniqueImage bitmap;
    width = MulDiv(width, dpi, kDesignDpi);
    height = MulDiv(height, dpi, kDesignDpi);
    // The resolution is set even at 96: the system's default follows the screen's.
    if (width <= 0 || height <= 0 ||
        gp::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, bitmap.Put()) != Ok ||
        gp::GdipBitmapSetResolution(bitmap.Get(), static_cast<float>(dpi), static_cast<float>(dpi)) != Ok)
        return UniqueImage();
    return bitmap;
}

bool DrawImageScaled(Gdiplus::GpBitmap* source, Gdiplus::GpBitmap* target, int width, int height)
{
    UniqueGraphics graphics = GraphicsFor(target);
    if (!graphics || source == nullptr)
        return false;
    gp::GdipSetInterpolationMode(graphics.Get(), Gdiplus::InterpolationModeHighQualityBicubic);
    gp::GdipSetPixelOffsetMode(graphics.Get(), Gdiplus::PixelOffsetModeHalf);
    return gp::GdipDrawImageRectI(graphics.Get(), source, 0, 0, width, height) == Ok;
}

UniqueImage ScaledCopy(Gdiplus::GpBitmap* source, int width, int height)
{
    UniqueImage copy = NewBitmap(width, height);
    if (!copy || !DrawImageScaled(source, copy.Get(), width, height))
        return UniqueImage();
    return copy;
}

UniqueImage LoadResourceImage(HMODULE module, int resourceId, int width, int height)
{
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"IMAGE");
    DWORD size = resource != nullptr ? SizeofResource(module, resource) : 0;
    HGLOBAL loaded = size != 0 ? LoadResource(module, resource) : nullptr;   // not owned
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return UniqueImage();

    UniqueGlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, size));
    void* copy = memory ? GlobalLock(memory.Get()) : nullptr;
    if (copy == nullptr)
        return UniqueImage();
    std::memcpy(copy, bytes, size);
    GlobalUnlock(memory.Get());

    UniqueStream stream;
    if (FAILED(CreateStreamOnHGlobal(memory.Get(), TRUE, stream.Put())))
        return UniqueImage();
    memory.Release();   // the stream frees it

    // The bitmap keeps its own reference to the stream for as long as it needs it.
    UniqueImage decoded;
    if (gp::GdipCreateBitmapFromStream(stream.Get(), decoded.Put()) != Ok)
        return UniqueImage();
    UINT decodedWidth = 0;
    UINT decodedHeight = 0;
    if (gp::GdipGetImageWidth(decoded.Get(), &decodedWidth) != Ok ||
        gp::GdipGetImageHeight(decoded.Get(), &decodedHeight) != Ok)
        return UniqueImage();
    if (static_cast<int>(decodedWidth) == width && static_cast<int>(decodedHeight) == height)
        return decoded;
    return ScaledCopy(decoded.Get(), width, height);
}

UniqueBitmap ToGdiBitmap(Gdiplus::GpBitmap* bitmap, ARGB background)
{
    UniqueBitmap converted;
    if (bitmap == nullptr || gp::GdipCreateHBITMAPFromBitmap(bitmap, converted.Put(), background) != Ok)
        return UniqueBitmap();
    return converted;
}

UniqueBitmap IconToBitmap(HICON icon, int size)
{
    ICONINFO info{};
    if (icon == nullptr || size <= 0 || !GetIconInfo(icon, &info))
        return UniqueBitmap();
    // GetIconInfo hands out copies of the icon's bitmaps.
    UniqueBitmap colourPart(info.hbmColor);
    UniqueBitmap maskPart(info.hbmMask);

    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = size;
    format.bmiHeader.biHeight = -size;   // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap section(CreateDIBSection(nullptr, &format, DIB_RGB_COLORS, &bits, nullptr, 0));
    UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!section || !dc || bits == nullptr)
        return UniqueBitmap();
    std::memset(bits, 0, static_cast<size_t>(size) * static_cast<size_t>(size) * 4);
    {
        SelectedObject selected(dc.Get(), section.Get());
        if (!DrawIconEx(dc.Get(), 0, 0, icon, size, size, 0, nullptr, DI_NORMAL))
            return UniqueBitmap();
    }
    GdiFlush();
    return section;
}

UniqueIcon LoadAccountIcon(int size)
{
    constexpr int kAccountIconIndex = 160;   // among shell32.dll's icons
    WString library = SystemDirectory();
    if (library.IsEmpty() || !library.Append(L"\\shell32.dll"))
        return UniqueIcon();
    HICON extracted = nullptr;
    if (SHDefExtractIconW(library.Text(), kAccountIconIndex, 0, &extracted, nullptr, static_cast<UINT>(size)) != S_OK)
        return UniqueIcon();
    return UniqueIcon(extracted);
}

bool SaveImage(Gdiplus::GpBitmap* image, const wchar_t* path, const CLSID& encoder)
{
    return image != nullptr && gp::GdipSaveImageToFile(image, path, &encoder, nullptr) == Ok;
}

bool FindImageEncoder(const wchar_t* extension, CLSID& encoder)
{
    if (extension == nullptr || *extension == L'\0')
        return false;
    WString keyPath(L"HKCR\\");
    keyPath.Append(extension);
    RegKey key;
    WString contentType;
    if (!key.Open(keyPath.Text(), KEY_READ) || !key.QueryString(L"Content Type", contentType) ||
        contentType.IsEmpty())
        return false;
    UINT count = 0, bytes = 0;
    if (gp::GdipGetImageEncodersSize(&count, &bytes) != Ok || count == 0 || bytes == 0)
        return false;
    UniqueBytes buffer(static_cast<BYTE*>(std::malloc(bytes)));
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.Get());
    if (encoders == nullptr)
        return false;
    if (gp::GdipGetImageEncoders(count, bytes, encoders) != Ok)
        return false;
    for (UINT i = 0; i < count; ++i) {
        if (encoders[i].MimeType != nullptr && EqualsNoCase(encoders[i].MimeType, contentType.Text())) {
            encoder = encoders[i].Clsid;
            return true;
        }
    }
    return false;
}
