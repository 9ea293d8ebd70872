// Owned GDI+ objects, and the COM stream and global memory that images are
// decoded from.
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
