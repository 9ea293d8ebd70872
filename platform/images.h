// Images without a window: owned GDI+ objects, the COM stream and global
// memory that images are decoded from, new and scaled bitmaps, their GDI
// forms, icons drawn as bitmaps and the encoders that write them. The
// account engine uses these; the toolkit's drawing (ui/drawing.h) builds on
// them.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "platform/handles.h"

struct GdiplusBitmapTraits {
    using Type = Gdiplus::GpBitmap*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { Gdiplus::DllExports::GdipDisposeImage(h); }
};
using UniqueImage = UniqueResource<GdiplusBitmapTraits>;

template <typename T, Gdiplus::GpStatus(WINGDIPAPI* Delete)(T*)>
struct GdiplusObjectTraits {
    using Type = T*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { Delete(h); }
};
using UniqueGraphics = UniqueResource<GdiplusObjectTraits<Gdiplus::GpGraphics, Gdiplus::DllExports::GdipDeleteGraphics>>;
using UniquePath = UniqueResource<GdiplusObjectTraits<Gdiplus::GpPath, Gdiplus::DllExports::GdipDeletePath>>;
using UniquePen = UniqueResource<GdiplusObjectTraits<Gdiplus::GpPen, Gdiplus::DllExports::GdipDeletePen>>;
// Solid, texture and gradient brushes alike.
using UniqueFill = UniqueResource<GdiplusObjectTraits<Gdiplus::GpBrush, Gdiplus::DllExports::GdipDeleteBrush>>;
using UniqueRegion = UniqueResource<GdiplusObjectTraits<Gdiplus::GpRegion, Gdiplus::DllExports::GdipDeleteRegion>>;

using UniqueStream = UniqueCom<IStream>;

struct GlobalMemoryTraits {
    using Type = HGLOBAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { GlobalFree(h); }
};
using UniqueGlobalMemory = UniqueResource<GlobalMemoryTraits>;

struct RegionTraits {
    using Type = HRGN;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};
using UniqueRegionHandle = UniqueResource<RegionTraits>;

// A window's device context, released to the window it came from.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc()
    {
        if (dc_ != nullptr)
            ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;   // not owned
    HDC dc_;
};

// An object selected into a device context until the holder goes.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject()
    {
        if (previous_ != nullptr && previous_ != HGDI_ERROR)
            SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Sizes are given in units of a 96-DPI screen: a window's layouts, and the
// pictures drawn for it, are multiplied by its own DPI.
constexpr int kDesignDpi = 96;

constexpr Gdiplus::ARGB kOpaqueBlack = 0xFF000000;
constexpr Gdiplus::ARGB kOpaqueWhite = 0xFFFFFFFF;

// A new 32-bit premultiplied ARGB bitmap, every pixel transparent black; null on failure.
UniqueImage NewBitmap(int width, int height);
// The same for a window at `dpi`: width and height are 96-DPI units, the
// bitmap has as many pixels as they take at that DPI, and what is drawn on
// it through GraphicsFor (positions, sizes, arcs, pen widths) is in 96-DPI
// units as well.
UniqueImage NewCanvas(int width, int height, int dpi);
// How many pixels of the bitmap one 96-DPI unit takes: a canvas made for a
// window of another scale carries that window's DPI as its resolution.
float CanvasScale(Gdiplus::GpBitmap* bitmap);
// Drawing on the bitmap in 96-DPI units, scaled by the canvas's own DPI;
// null on failure.
UniqueGraphics GraphicsFor(Gdiplus::GpBitmap* bitmap);

// Draws the whole source into (0, 0, width, height) of the target.
bool DrawImageScaled(Gdiplus::GpBitmap* source, Gdiplus::GpBitmap* target, int width, int height);
UniqueImage ScaledCopy(Gdiplus::GpBitmap* source, int width, int height);
// Decodes the PNG of the "IMAGE" resource; a scaled copy unless it already
// has the size asked for. Null when any step fails.
UniqueImage LoadResourceImage(HMODULE module, int resourceId, int width, int height);
// The GDI bitmap of a GDI+ bitmap, transparent parts laid over `background` (ARGB).
UniqueBitmap ToGdiBitmap(Gdiplus::GpBitmap* bitmap, Gdiplus::ARGB background);

// A 32-bit top-down DIB section of `size` x `size` with the icon drawn on
// it, alpha kept; null on failure. The icon stays the caller's.
UniqueBitmap IconToBitmap(HICON icon, int size);
// The system's generic account icon (among its shell icons) at `size`
// pixels; empty when the system has none.
UniqueIcon LoadAccountIcon(int size);

// Writes the bitmap to `path` through `encoder` (see FindImageEncoder).
bool SaveImage(Gdiplus::GpBitmap* image, const wchar_t* path, const CLSID& encoder);
// The GDI+ encoder for ".bmp" or ".jpg": the one whose MIME type is the
// "Content Type" of HKCR\<extension>. False when either is missing.
bool FindImageEncoder(const wchar_t* extension, CLSID& encoder);
