// Owned GDI+ bitmaps.
#pragma once

#include <windows.h>
#include <gdiplus.h>

#include "platform/handles.h"

struct GdiplusBitmapTraits {
    using Type = Gdiplus::GpBitmap*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { Gdiplus::DllExports::GdipDisposeImage(h); }
};
using UniqueImage = UniqueResource<GdiplusBitmapTraits>;
