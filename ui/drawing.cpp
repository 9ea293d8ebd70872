// GDI+ drawing of frames, outlines, pictures, drawn buttons and the spinner.
#include "ui/drawing.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <memory>
#include <new>

#include "platform/text_win.h"
#include "ui/drawing_rules.h"

namespace gp = Gdiplus::DllExports;
using Gdiplus::ARGB;
using Gdiplus::Ok;

namespace {

constexpr int kPanelTop = 87;
constexpr int kPanelBottom = 543;
constexpr int kPanelArc = 8;
constexpr float kPanelPen = 4.0f;
constexpr int kGradientWidth = 700;
constexpr int kGradientHeight = 500;
constexpr float kButtonPen = 40.0f;

// A drawn button: a square drawing of `side` pixels with straight strokes.
struct Stroke {
    float x1, y1, x2, y2;
};
constexpr Stroke kCrossStrokes[] = {{30, 30, 240, 240}, {240, 30, 30, 240}};
constexpr Stroke kBarStrokes[] = {{30, 240, 240, 240}};

Gdiplus::ARGB ArgbOf(COLORREF colour)
{
    return 0xFF000000 | (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

// Smooth edges that fall on whole pixels.
void SetSmoothDrawing(Gdiplus::GpGraphics* graphics)
{
    gp::GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeHighQuality);
    gp::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf);
}

// Four straight edges joined by 90-degree arcs whose squares are `arc` across.
UniquePath RoundRectPath(float x, float y, float width, float height, float arc)
{
    UniquePath path;
    if (gp::GdipCreatePath(Gdiplus::FillModeAlternate, path.Put()) != Ok)
        return UniquePath();
    float right = x + width;
    float bottom = y + height;
    float half = arc / 2;
    bool built = true;
    auto line = [&](float x1, float y1, float x2, float y2) {
        built = built && gp::GdipAddPathLine(path.Get(), x1, y1, x2, y2) == Ok;
    };
    auto corner = [&](float left, float top, float start) {
        if (arc > 0)
            built = built && gp::GdipAddPathArc(path.Get(), left, top, arc, arc, start, 90) == Ok;
    };
    corner(x, y, 180);
    line(x + half, y, right - half, y);
    corner(right - arc, y, 270);
    line(right, y + half, right, bottom - half);
    corner(right - arc, bottom - arc, 0);
    line(right - half, bottom, x + half, bottom);
    corner(x, bottom - arc, 90);
    line(x, bottom - half, x, y + half);
    built = built && gp::GdipClosePathFigure(path.Get()) == Ok;
    return built ? std::move(path) : UniquePath();
}

bool FillAndOutline(Gdiplus::GpBitmap* bitmap, Gdiplus::GpPath* path, ARGB fill, ARGB outline, float penWidth)
{
    UniqueGraphics graphics = GraphicsFor(bitmap);
    if (!graphics || path == nullptr)
        return false;
    SetSmoothDrawing(graphics.Get());
    Gdiplus::GpSolidFill* solid = nullptr;
    if (gp::GdipCreateSolidFill(fill, &solid) != Ok)
        return false;
    UniqueFill brush(solid);
    UniquePen pen;
    if (gp::GdipCreatePen1(outline, penWidth * CanvasScale(bitmap), Gdiplus::UnitPixel, pen.Put()) != Ok)
        return false;
    return gp::GdipFillPath(graphics.Get(), brush.Get(), path) == Ok &&
           gp::GdipDrawPath(graphics.Get(), pen.Get(), path) == Ok;
}

template <size_t N>
UniqueImage DrawStrokes(const Stroke (&strokes)[N], int side, ARGB colour)
{
    UniqueImage drawing = NewBitmap(side, side);
    UniqueGraphics graphics = GraphicsFor(drawing.Get());
    UniquePen pen;
    if (!graphics || gp::GdipCreatePen1(colour, kButtonPen, Gdiplus::UnitPixel, pen.Put()) != Ok)
        return UniqueImage();
    SetSmoothDrawing(graphics.Get());
    for (const Stroke& stroke : strokes) {
        if (gp::GdipDrawLine(graphics.Get(), pen.Get(), stroke.x1, stroke.y1, stroke.x2, stroke.y2) != Ok)
            return UniqueImage();
    }
    return drawing;
}

LRESULT CALLBACK HandCursorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR)
{
    if (message == WM_SETCURSOR) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(window, HandCursorProcedure, id);
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

void SetHandCursor(HWND control)
{
    if (control != nullptr)
        SetWindowSubclass(control, HandCursorProcedure, 1, 0);
}

namespace {

template <size_t N>
int32_t AddDrawnButton(UiWindow& window, const Stroke (&strokes)[N], int side, int x, int y, int width,
                       int height, ARGB colour, const wchar_t* name, const wchar_t* tip, Gdiplus::GpBitmap* backdrop)
{
    if (width <= 0 || height <= 0)
        return 0;
    if (window.HighContrast()) {
        // The theme's text colour on its window colour: no picture behind.
        colour = ArgbOf(GetSysColor(COLOR_WINDOWTEXT));
        backdrop = nullptr;
    }
    UniqueImage drawing = DrawStrokes(strokes, side, colour);
    if (!drawing)
        return 0;
    UniqueImage scaled = backdrop != nullptr ? ComposeOver(backdrop, x, y, drawing.Get(), width, height)
                                             : ScaledCopy(drawing.Get(), window.Scale(width), window.Scale(height));
    UniqueBitmap picture = ToGdiBitmap(scaled.Get(), BackgroundArgb(window));
    if (!picture)
        return 0;
    int32_t id = window.AddPicture(picture.Release(), x, y, width, height, kDefaultStyle);
    const ControlEntry* control = window.Control(id);
    if (control == nullptr)
        return 0;
    SetHandCursor(control->handle);
    window.SetTip(id, tip);
    window.MakePressable(id, name, DrawnRole::PushButton);
    return id;
}

// The busy spinner's thread and what it is given.
struct SpinnerParameters {
    HWND control;   // not owned
    int size;
    ARGB colour;
    int speed;
    int32_t background;
};

// Waits, polling, until the control shows; false when it is gone first.
bool WaitUntilShown(HWND control)
{
    constexpr DWORD kPoll = 10;
    for (;;) {
        if (!IsWindow(control))
            return false;
        if (IsWindowVisible(control))
            return true;
        Sleep(kPoll);
    }
}

UniqueBrush SpinnerBackground(HDC controlDc, int size, int32_t background, UniqueBitmap& snapshot)
{
    if (background != -1)
        return UniqueBrush(CreateSolidBrush(static_cast<COLORREF>(background)));
    snapshot.Reset(CreateCompatibleBitmap(controlDc, size, size));
    UniqueMemoryDc copyDc(CreateCompatibleDC(controlDc));
    if (!snapshot || !copyDc)
        return UniqueBrush();
    {
        SelectedObject selected(copyDc.Get(), snapshot.Get());
        BitBlt(copyDc.Get(), 0, 0, size, size, controlDc, 0, 0, SRCCOPY);
    }
    return UniqueBrush(CreatePatternBrush(snapshot.Get()));
}

void RunSpinner(const SpinnerParameters& spinner)
{
    constexpr DWORD kPoll = 10;
    if (!WaitUntilShown(spinner.control) || spinner.size <= 0)
        return;
    WindowDc controlDc(spinner.control);
    if (!controlDc)
        return;
    UniqueBitmap snapshot;
    UniqueBrush background = SpinnerBackground(controlDc.Get(), spinner.size, spinner.background, snapshot);
    UniqueMemoryDc frameDc(CreateCompatibleDC(controlDc.Get()));
    UniqueBitmap frame(CreateCompatibleBitmap(controlDc.Get(), spinner.size, spinner.size));
    if (!background || !frameDc || !frame)
        return;
    SelectedObject selected(frameDc.Get(), frame.Get());

    SpinnerGeometry ring = SpinnerRing(spinner.size);
    UniqueGraphics graphics;
    UniquePen pen;
    if (gp::GdipCreateFromHDC(frameDc.Get(), graphics.Put()) != Ok ||
        gp::GdipCreatePen1(spinner.colour, ring.penWidth, Gdiplus::UnitPixel, pen.Put()) != Ok)
        return;
    SetSmoothDrawing(graphics.Get());
    gp::GdipSetPenStartCap(pen.Get(), Gdiplus::LineCapTriangle);
    gp::GdipSetPenEndCap(pen.Get(), Gdiplus::LineCapTriangle);

    const RECT whole{0, 0, spinner.size, spinner.size};
    const auto delay = static_cast<DWORD>(SpinnerFrameDelay(spinner.speed));
    int angle = kSpinnerFirstAngle;
    while (IsWindow(spinner.control)) {
        if (!IsWindowVisible(spinner.control)) {
            Sleep(kPoll);
            continue;
        }
        FillRect(frameDc.Get(), &whole, background.Get());
        gp::GdipDrawArc(graphics.Get(), pen.Get(), ring.arcOrigin, ring.arcOrigin, ring.arcExtent, ring.arcExtent,
                        static_cast<float>(angle), kSpinnerSweep);
        gp::GdipFlush(graphics.Get(), Gdiplus::FlushIntentionSync);
        if (!BitBlt(controlDc.Get(), 0, 0, spinner.size, spinner.size, frameDc.Get(), 0, 0, SRCCOPY))
            break;
        angle = NextSpinnerAngle(angle);
        Sleep(delay);
    }
}

DWORD WINAPI SpinnerThread(LPVOID parameter)
{
    std::unique_ptr<SpinnerParameters> spinner(static_cast<SpinnerParameters*>(parameter));
    RunSpinner(*spinner);
    return 0;
}

}  // namespace

bool FillRoundRect(Gdiplus::GpBitmap* bitmap, int x, int y, int width, int height, ARGB colour, int arcSize)
{
    UniquePath path = RoundRectPath(static_cast<float>(x), static_cast<float>(y), static_cast<float>(width),
                                    static_cast<float>(height), static_cast<float>(arcSize > 0 ? arcSize : 0));
    return path && FillAndOutline(bitmap, path.Get(), colour, colour, 1.0f);
}

bool FillCornerTriangle(Gdiplus::GpBitmap* bitmap, int legs, ARGB colour)
{
    UniquePath path;
    if (legs <= 0 || gp::GdipCreatePath(Gdiplus::FillModeAlternate, path.Put()) != Ok)
        return false;
    const Gdiplus::GpPointF corners[] = {{0, 0}, {static_cast<float>(legs), 0}, {0, static_cast<float>(legs)}};
    if (gp::GdipAddPathPolygon(path.Get(), corners, 3) != Ok)
        return false;
    return FillAndOutline(bitmap, path.Get(), colour, colour, 1.0f);
}

bool DrawPanel(Gdiplus::GpBitmap* bitmap, int left, int width)
{
    UniquePath path = RoundRectPath(static_cast<float>(left), kPanelTop, static_cast<float>(width),
                                    kPanelBottom - kPanelTop, kPanelArc);
    return path && FillAndOutline(bitmap, path.Get(), kOpaqueWhite, kOpaqueBlack, kPanelPen);
}

bool OutlineRoundRect(Gdiplus::GpBitmap* bitmap, int x, int y, int width, int height, ARGB colour, int arcSize,
                      float penWidth)
{
    UniquePath path = RoundRectPath(static_cast<float>(x), static_cast<float>(y), static_cast<float>(width),
                                    static_cast<float>(height), static_cast<float>(arcSize > 0 ? arcSize : 0));
    UniqueGraphics graphics = GraphicsFor(bitmap);
    UniquePen pen;
    if (!path || !graphics ||
        gp::GdipCreatePen1(colour, penWidth * CanvasScale(bitmap), Gdiplus::UnitPixel, pen.Put()) != Ok)
        return false;
    SetSmoothDrawing(graphics.Get());
    return gp::GdipDrawPath(graphics.Get(), pen.Get(), path.Get()) == Ok;
}

bool FillVerticalGradient(Gdiplus::GpBitmap* bitmap, int x, int y, int width, int height, ARGB top, ARGB bottom)
{
    UniqueGraphics graphics = GraphicsFor(bitmap);
    if (!graphics || width <= 0 || height <= 0)
        return false;
    SetSmoothDrawing(graphics.Get());
    Gdiplus::GpRectF area{static_cast<float>(x), static_cast<float>(y), static_cast<float>(width),
                          static_cast<float>(height)};
    Gdiplus::GpLineGradient* gradient = nullptr;
    if (gp::GdipCreateLineBrushFromRect(&area, top, bottom, Gdiplus::LinearGradientModeVertical,
                                        Gdiplus::WrapModeTileFlipXY, &gradient) != Ok)
        return false;
    UniqueFill brush(gradient);
    return gp::GdipFillRectangleI(graphics.Get(), brush.Get(), x, y, width, height) == Ok;
}

UniqueImage ComposeOver(Gdiplus::GpBitmap* backdrop, int x, int y, Gdiplus::GpBitmap* image, int width, int height)
{
    // In the backdrop's pixels: the picture lands on whole pixels of it.
    auto dpi = static_cast<int>(CanvasScale(backdrop) * kDesignDpi + 0.5f);
    UniqueImage composed = NewCanvas(width, height, dpi);
    UniqueGraphics graphics;
    if (!composed || backdrop == nullptr || image == nullptr ||
        gp::GdipGetImageGraphicsContext(composed.Get(), graphics.Put()) != Ok)
        return UniqueImage();
    x = MulDiv(x, dpi, kDesignDpi);
    y = MulDiv(y, dpi, kDesignDpi);
    width = MulDiv(width, dpi, kDesignDpi);
    height = MulDiv(height, dpi, kDesignDpi);
    gp::GdipSetInterpolationMode(graphics.Get(), Gdiplus::InterpolationModeHighQualityBicubic);
    gp::GdipSetPixelOffsetMode(graphics.Get(), Gdiplus::PixelOffsetModeHalf);
    UINT imageWidth = 0, imageHeight = 0;
    if (gp::GdipDrawImageRectRectI(graphics.Get(), backdrop, 0, 0, width, height, x, y, width, height,
                                   Gdiplus::UnitPixel, nullptr, nullptr, nullptr) != Ok ||
        gp::GdipGetImageWidth(image, &imageWidth) != Ok || gp::GdipGetImageHeight(image, &imageHeight) != Ok ||
        gp::GdipDrawImageRectRectI(graphics.Get(), image, 0, 0, width, height, 0, 0, static_cast<INT>(imageWidth),
                                   static_cast<INT>(imageHeight), Gdiplus::UnitPixel, nullptr, nullptr,
                                   nullptr) != Ok)
        return UniqueImage();
    return composed;
}

bool SetRoundedOutline(HWND window, int width, int height, int arcSize)
{
    UniquePath path = RoundRectPath(0, 0, static_cast<float>(width), static_cast<float>(height),
                                    static_cast<float>(arcSize > 0 ? arcSize : 0));
    UniqueRegion region;
    UniqueGraphics graphics;
    if (!path || !IsWindow(window) || gp::GdipCreateRegionPath(path.Get(), region.Put()) != Ok ||
        gp::GdipCreateFromHWND(window, graphics.Put()) != Ok)
        return false;
    UniqueRegionHandle outline;
    if (gp::GdipGetRegionHRgn(region.Get(), graphics.Get(), outline.Put()) != Ok || !outline)
        return false;
    if (!SetWindowRgn(window, outline.Get(), TRUE))
        return false;
    outline.Release();   // the system owns the region now
    return true;
}

bool CentreWindow(HWND window, HWND parent)
{
    RECT area{};
    if (parent != nullptr) {
        if (!GetWindowRect(parent, &area))
            return false;
    } else if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        return false;
    }
    RECT frame{};
    if (!GetWindowRect(window, &frame))
        return false;
    int left = area.left + (area.right - area.left) / 2 - (frame.right - frame.left) / 2;
    int top = area.top + (area.bottom - area.top) / 2 - (frame.bottom - frame.top) / 2;
    return SetWindowPos(window, nullptr, left, top, 0, 0,
                        SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER) != FALSE;
}

bool SetWindowBackgroundImage(UiWindow& window, Gdiplus::GpBitmap* bitmap)
{
    return window.SetBackgroundPicture(ToGdiBitmap(bitmap, kWindowBackgroundArgb));
}

Gdiplus::ARGB BackgroundArgb(const UiWindow& window)
{
    return ArgbOf(window.BackgroundColour());
}

UniqueImage MakeGradientBitmap()
{
    UniqueImage bitmap = NewBitmap(kGradientWidth, kGradientHeight);
    UniqueGraphics graphics = GraphicsFor(bitmap.Get());
    if (!graphics)
        return UniqueImage();
    Gdiplus::GpRectF area{0, 0, kGradientWidth, kGradientHeight};
    Gdiplus::GpLineGradient* gradient = nullptr;
    if (gp::GdipCreateLineBrushFromRect(&area, kOpaqueBlack, 0xFF303030, Gdiplus::LinearGradientModeForwardDiagonal,
                                        Gdiplus::WrapModeTileFlipXY, &gradient) != Ok)
        return UniqueImage();
    UniqueFill brush(gradient);
    if (gp::GdipFillRectangleI(graphics.Get(), brush.Get(), 0, 0, kGradientWidth, kGradientHeight) != Ok)
        return UniqueImage();
    return bitmap;
}

int32_t AddCloseButton(UiWindow& window, int x, int y, int width, int height, ARGB colour,
                       Gdiplus::GpBitmap* backdrop)
{
    return AddDrawnButton(window, kCrossStrokes, 270, x, y, width, height, colour, L"Close", L"Close this dialog box",
                          backdrop);
}

int32_t AddMinimiseButton(UiWindow& window, int x, int y, int width, int height, ARGB colour,
                          Gdiplus::GpBitmap* backdrop)
{
    return AddDrawnButton(window, kBarStrokes, 300, x, y, width, height, colour, L"Minimize", L"Minimize this dialog box",
                          backdrop);
}

UniqueHandle StartSpinner(HWND pictureControl, int size, ARGB colour, int speed, int32_t background)
{
    auto* spinner = new (std::nothrow) SpinnerParameters{pictureControl, size, colour, speed, background};
    if (spinner == nullptr)
        return UniqueHandle();
    UniqueHandle thread(CreateThread(nullptr, 0, SpinnerThread, spinner, 0, nullptr));
    if (!thread)
        delete spinner;   // the thread never ran to free it
    return thread;
}

UniqueBitmap DrawCheckImage(bool ticked, int size)
{
    if (size < 8)
        return UniqueBitmap();
    // The box and tick are drawn for 18 pixels and scaled to the size asked.
    const float scale = static_cast<float>(size) / 18;
    UniqueImage image = NewBitmap(size, size);
    int inset = static_cast<int>(scale + 0.5f);
    if (!image || !FillRoundRect(image.Get(), 0, 0, size, size, kOpaqueWhite, 0) ||
        !OutlineRoundRect(image.Get(), inset, inset, size - 2 * inset, size - 2 * inset, kOpaqueBlack, 0,
                          2.0f * scale))
        return UniqueBitmap();
    if (ticked) {
        UniqueGraphics graphics;
        UniquePen pen;
        if (Gdiplus::DllExports::GdipGetImageGraphicsContext(image.Get(), graphics.Put()) == Gdiplus::Ok &&
            Gdiplus::DllExports::GdipCreatePen1(0xFF008000, 2.5f * scale, Gdiplus::UnitPixel, pen.Put()) ==
                Gdiplus::Ok) {
            Gdiplus::DllExports::GdipSetSmoothingMode(graphics.Get(), Gdiplus::SmoothingModeAntiAlias);
            Gdiplus::GpPointF points[3] = {
                {4.0f * scale, 9.0f * scale}, {7.5f * scale, 13.0f * scale}, {14.0f * scale, 4.5f * scale}};
            Gdiplus::DllExports::GdipDrawLines(graphics.Get(), pen.Get(), points, 3);
        }
    }
    return ToGdiBitmap(image.Get(), kOpaqueWhite);
}
