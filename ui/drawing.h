// The program's own look, drawn with GDI+ on the bitmaps of
// platform/images.h: rounded frames and outlines, window backgrounds, the
// drawn close and minimise buttons and the busy spinner. Colours are ARGB
// unless a name says GDI. The calls below take positions and sizes in
// 96-DPI units, as the canvas they draw on.
#pragma once

#include <windows.h>

#include "platform/handles.h"
#include "platform/images.h"
#include "ui/window.h"

// The windows' own background, 0xFEFEFE, as an opaque GDI+ colour.
constexpr Gdiplus::ARGB kWindowBackgroundArgb = 0xFFFEFEFE;


// Fills a rectangle whose corners are arcs `arcSize` pixels across (0 gives
// square corners) and outlines it in the same colour with a 1-pixel pen.
bool FillRoundRect(Gdiplus::GpBitmap* bitmap, int x, int y, int width, int height, Gdiplus::ARGB colour,
                   int arcSize);
// A right triangle in the top-left corner with legs `legs` pixels long.
bool FillCornerTriangle(Gdiplus::GpBitmap* bitmap, int legs, Gdiplus::ARGB colour);
// The main window's white content panel with its 4-pixel black outline,
// from y = 87 to y = 543.
bool DrawPanel(Gdiplus::GpBitmap* bitmap, int left, int width);
// Draws only the outline of such a rectangle, with a pen `penWidth` wide.
bool OutlineRoundRect(Gdiplus::GpBitmap* bitmap, int x, int y, int width, int height, Gdiplus::ARGB colour,
                      int arcSize, float penWidth);
// A vertical linear gradient from `top` to `bottom` over the rectangle.
bool FillVerticalGradient(Gdiplus::GpBitmap* bitmap, int x, int y, int width, int height, Gdiplus::ARGB top,
                          Gdiplus::ARGB bottom);
// A new width x height bitmap: the backdrop's pixels at (x, y), with the
// whole image drawn scaled over them; all four in the backdrop's 96-DPI
// units, the result at its DPI. Null on failure.
UniqueImage ComposeOver(Gdiplus::GpBitmap* backdrop, int x, int y, Gdiplus::GpBitmap* image, int width, int height);
// Cuts the window's corners away outside arcs `arcSize` pixels across.
bool SetRoundedOutline(HWND window, int width, int height, int arcSize);
// Centres the window over the parent's window rectangle, or over the work
// area without a parent.
bool CentreWindow(HWND window, HWND parent);

// The window paints its background with the picture from now on.
bool SetWindowBackgroundImage(UiWindow& window, Gdiplus::GpBitmap* bitmap);
// The window's background colour as an opaque ARGB colour: what transparent
// parts of its pictures are laid over.
Gdiplus::ARGB BackgroundArgb(const UiWindow& window);
// 700 x 500, black to dark grey along the forward diagonal.
UniqueImage MakeGradientBitmap();

// Picture controls (kind 19) showing a drawn cross or bar in `colour`, with
// the hand cursor and a tip; the control id or 0.
// With a backdrop the drawing lies over the backdrop's pixels at (x, y)
// instead of the windows' plain background.
int32_t AddCloseButton(UiWindow& window, int x, int y, int width, int height, Gdiplus::ARGB colour,
                       Gdiplus::GpBitmap* backdrop = nullptr);
int32_t AddMinimiseButton(UiWindow& window, int x, int y, int width, int height, Gdiplus::ARGB colour,
                          Gdiplus::GpBitmap* backdrop = nullptr);

// The control shows the hand cursor from now on.
void SetHandCursor(HWND control);


// Animates a busy ring in the picture control on a thread of its own until
// the control is destroyed. `background` is a GDI colour, or -1 to turn the
// ring over what the control showed when the thread started. The thread's
// handle (the caller may close it at once), or null when it could not start.
UniqueHandle StartSpinner(HWND pictureControl, int size, Gdiplus::ARGB colour, int speed, int32_t background);


// A framed white box of `size` pixels, with a green tick when `ticked`;
// drawn as the 18-pixel check images, scaled. Null below 8 pixels or when
// drawing failed.
UniqueBitmap DrawCheckImage(bool ticked, int size);
