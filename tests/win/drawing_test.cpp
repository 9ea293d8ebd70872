#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "tests/win/screen_capture.h"
#include "ui/drawing.h"
#include "ui/drawing_rules.h"

namespace gp = Gdiplus::DllExports;
using harness::ImagePixel;
using harness::SizeText;

namespace {

std::wstring ProductPath()
{
    std::string path = VANTRELL_PRODUCT_PATH;
    std::wstring wide(path.begin(), path.end());
    return !wide.empty() && wide[0] == L'/' ? L"Z:" + wide : wide;
}

int Channel(uint32_t colour, int shift) { return static_cast<int>((colour >> shift) & 0xFF); }

// Which pixels of the square of that side at `origin` (screen) are dark.
std::vector<bool> DarkPixels(POINT origin, int side)
{
    std::vector<bool> dark;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            dark.push_back(GetRValue(ScreenPixel(origin.x + x, origin.y + y)) < 0x80);
    return dark;
}

size_t Darks(const std::vector<bool>& pixels)
{
    return static_cast<size_t>(std::count(pixels.begin(), pixels.end(), true));
}

class Drawing : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
};

class DrawingWindow : public Drawing {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, window_.CreateUiWindow(L"Vantrell_DrawingTest", L"Drawing", 320, 200, 100, 100, -1, -1,
                                                  nullptr));
        window_.ShowUiWindow(SW_SHOW);
        PumpUntil("the window to be painted", [this] { return GetUpdateRect(window_.Handle(), nullptr, FALSE) == FALSE; });
    }
    void TearDown() override { window_.DestroyUiWindow(); }

    // Handles the window's messages until `done` holds; false, said on the
    // error output, when it does not within the wait limit.
    bool PumpUntil(const char* what, const std::function<bool()>& done)
    {
        return WaitUntil(what, [&] {
            while (PumpEvents(window_, PumpMode::Dispatch) != 0) {
            }
            return done();
        });
    }

    UiWindow window_;
};

}  // namespace

TEST_F(Drawing, SquareFillCoversEveryPixelOfTheRectangle)
{
    struct Case {
        int x, y, width, height;
        Gdiplus::ARGB colour;
    } cases[] = {
        {5, 5, 20, 10, 0xFF2040C0},
        {0, 0, 40, 30, 0xFF000000},
        {10, 3, 1, 1, 0xFFFF0000},
        {12, 8, 17, 13, 0xFFF0F0FF},
    };
    for (const Case& c : cases) {
        UniqueImage bitmap = NewBitmap(40, 30);
        ASSERT_TRUE(bitmap);
        ASSERT_TRUE(FillRoundRect(bitmap.Get(), c.x, c.y, c.width, c.height, c.colour, 0));
        int wrong = 0;
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x) {
                bool inside = x >= c.x && x < c.x + c.width && y >= c.y && y < c.y + c.height;
                bool farOutside = x < c.x - 1 || x > c.x + c.width || y < c.y - 1 || y > c.y + c.height;
                Gdiplus::ARGB pixel = ImagePixel(bitmap.Get(), x, y);
                if ((inside && pixel != c.colour) || (farOutside && pixel != 0)) {
                    if (++wrong < 4)
                        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << pixel << " for a fill of "
                                      << c.colour;
                }
            }
        }
        EXPECT_EQ(0, wrong) << "rectangle " << c.x << "," << c.y << " " << c.width << "x" << c.height;
    }
}

// (Without an arc the corners are filled like every other pixel: see above.)
TEST_F(Drawing, RoundedFillLeavesTheOuterCornersUntouched)
{
    for (int arc : {8, 12, 16}) {
        UniqueImage bitmap = NewBitmap(40, 30);
        ASSERT_TRUE(FillRoundRect(bitmap.Get(), 0, 0, 40, 30, 0xFF000000, arc));
        for (POINT corner : {POINT{0, 0}, POINT{39, 0}, POINT{0, 29}, POINT{39, 29}})
            EXPECT_EQ(0u, ImagePixel(bitmap.Get(), corner.x, corner.y)) << "arc " << arc << " corner " << corner.x << ","
                                                                      << corner.y;
        for (POINT filled : {POINT{20, 15}, POINT{20, 0}, POINT{0, 15}, POINT{39, 15}, POINT{20, 29}})
            EXPECT_EQ(0xFF000000u, ImagePixel(bitmap.Get(), filled.x, filled.y))
                << "arc " << arc << " at " << filled.x << "," << filled.y;
    }
}

TEST_F(Drawing, PanelIsWhiteInsideABlackOutline)
{
    UniqueImage bitmap = NewBitmap(750, 550);
    ASSERT_TRUE(DrawPanel(bitmap.Get(), 7, 361));
    EXPECT_EQ(0xFFFFFFFFu, ImagePixel(bitmap.Get(), 187, 300)) << "the body";
    EXPECT_EQ(0xFF000000u, ImagePixel(bitmap.Get(), 7, 300)) << "the left edge";
    EXPECT_EQ(0xFF000000u, ImagePixel(bitmap.Get(), 187, 87)) << "the top edge";
    EXPECT_EQ(0xFF000000u, ImagePixel(bitmap.Get(), 187, 543)) << "the bottom edge";
    EXPECT_EQ(0u, ImagePixel(bitmap.Get(), 187, 80)) << "above the panel";
    EXPECT_EQ(0u, ImagePixel(bitmap.Get(), 400, 300)) << "right of the panel";
}

TEST_F(Drawing, GradientRunsFromBlackToDarkGreyAlongTheDiagonal)
{
    UniqueImage gradient = MakeGradientBitmap();
    ASSERT_TRUE(gradient);
    EXPECT_EQ("700x500", SizeText(gradient.Get()));
    Gdiplus::ARGB start = ImagePixel(gradient.Get(), 0, 0);
    Gdiplus::ARGB end = ImagePixel(gradient.Get(), 699, 499);
    Gdiplus::ARGB middle = ImagePixel(gradient.Get(), 350, 250);
    for (int shift : {0, 8, 16}) {
        EXPECT_LE(Channel(start, shift), 2) << std::hex << start;
        EXPECT_GE(Channel(end, shift), 0x2D) << std::hex << end;
        EXPECT_LE(Channel(end, shift), 0x30) << std::hex << end;
        EXPECT_GT(Channel(middle, shift), 0x10) << std::hex << middle;
        EXPECT_LT(Channel(middle, shift), 0x20) << std::hex << middle;
    }
    EXPECT_EQ(0xFFu, static_cast<unsigned>(Channel(start, 24)));
    EXPECT_EQ(0xFFu, static_cast<unsigned>(Channel(end, 24)));
}

TEST_F(Drawing, ScaledCopyHasTheNewSizeAndTheSourcesColours)
{
    UniqueImage source = NewBitmap(10, 10);
    ASSERT_TRUE(FillRoundRect(source.Get(), 0, 0, 10, 10, 0xFFC00000, 0));
    struct Case {
        int width, height;
    } cases[] = {{30, 20}, {5, 5}, {10, 10}, {147, 47}};
    for (const Case& c : cases) {
        UniqueImage copy = ScaledCopy(source.Get(), c.width, c.height);
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        ASSERT_TRUE(copy) << size;
        EXPECT_EQ(size, SizeText(copy.Get()));
        EXPECT_EQ(0xFFC00000u, ImagePixel(copy.Get(), c.width / 2, c.height / 2)) << size;
    }
    EXPECT_FALSE(ScaledCopy(nullptr, 10, 10));
    EXPECT_FALSE(ScaledCopy(source.Get(), 0, 10));
}

TEST_F(Drawing, ResourceImageAtItsOwnSizeIsTheDecodedBitmap)
{
    UniqueLibrary product(
        LoadLibraryExW(ProductPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(product) << "error " << GetLastError();

    struct Case {
        int id, width, height;
        bool ownSize;
    } cases[] = {
        // Every embedded picture at the size the windows ask for it.
        {200, 64, 64, true}, {201, 20, 20, true}, {202, 20, 20, true}, {203, 20, 20, true}, {204, 147, 47, true},
        {205, 20, 20, true}, {206, 24, 24, true}, {207, 24, 24, true},
        {200, 32, 32, false}, {204, 294, 94, false}, {201, 48, 20, false},
    };
    for (const Case& c : cases) {
        UniqueImage image = LoadResourceImage(product.Get(), c.id, c.width, c.height);
        ASSERT_TRUE(image) << "image " << c.id;
        EXPECT_EQ(std::to_string(c.width) + "x" + std::to_string(c.height), SizeText(image.Get())) << "image " << c.id;
        Gdiplus::PixelFormat format = 0;
        gp::GdipGetImagePixelFormat(image.Get(), &format);
        // A scaled copy is always premultiplied; the decoder's own bitmap is not.
        EXPECT_EQ(!c.ownSize, format == PixelFormat32bppPARGB)
            << "image " << c.id << " at " << c.width << "x" << c.height << " has format " << std::hex << format;
    }

    // The unscaled image holds exactly what the PNG holds, decoded another way.
    HRSRC resource = FindResourceW(product.Get(), MAKEINTRESOURCEW(200), L"IMAGE");
    ASSERT_NE(nullptr, resource);
    auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(product.Get(), resource)));
    IStream* stream = SHCreateMemStream(bytes, SizeofResource(product.Get(), resource));
    ASSERT_NE(nullptr, stream);
    UniqueImage reference;
    ASSERT_EQ(Gdiplus::Ok, gp::GdipCreateBitmapFromStream(stream, reference.Put()));
    stream->Release();
    UniqueImage loaded = LoadResourceImage(product.Get(), 200, 64, 64);
    int differing = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            differing += ImagePixel(loaded.Get(), x, y) != ImagePixel(reference.Get(), x, y);
    EXPECT_EQ(0, differing);

    EXPECT_FALSE(LoadResourceImage(product.Get(), 199, 20, 20)) << "no such resource";
    EXPECT_FALSE(LoadResourceImage(product.Get(), 1, 32, 32)) << "an icon is not an IMAGE resource";
}

TEST_F(DrawingWindow, CloseButtonShowsACrossAndMinimiseButtonABar)
{
    int32_t close = AddCloseButton(window_, 10, 10, 27, 27, 0xFF000000);
    int32_t minimise = AddMinimiseButton(window_, 50, 10, 30, 30, 0xFF000000);
    ASSERT_NE(0, close);
    ASSERT_NE(0, minimise);
    EXPECT_EQ(ControlKind::Picture, window_.Control(close)->kind);

    struct Case {
        int32_t id;
        int x, y;
        bool drawn;
    } cases[] = {
        // the cross: both diagonals, nothing in the middle of the edges
        {close, 13, 13, true}, {close, 5, 5, true}, {close, 21, 21, true}, {close, 21, 5, true}, {close, 5, 21, true},
        {close, 13, 2, false}, {close, 2, 13, false}, {close, 24, 13, false}, {close, 13, 24, false},
        // the bar: along y = 24 from x = 3 to 24, 4 pixels thick
        {minimise, 13, 24, true}, {minimise, 5, 24, true}, {minimise, 22, 23, true}, {minimise, 13, 10, false},
        {minimise, 13, 17, false}, {minimise, 28, 24, false}, {minimise, 0, 24, false}, {minimise, 13, 29, false},
    };
    for (const Case& c : cases) {
        HBITMAP bitmap = window_.Control(c.id)->bitmap.Get();
        BITMAP info{};
        GetObjectW(bitmap, sizeof(info), &info);
        ASSERT_EQ(c.id == close ? 27 : 30, info.bmWidth);
        const COLORREF pixel = harness::BitmapPixel(bitmap, c.x, c.y);
        const int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
        const std::string what = (c.id == close ? "cross at " : "bar at ") + std::to_string(c.x) + "," + std::to_string(c.y);
        if (c.drawn)
            EXPECT_LT(r + g + b, 0x60) << what << " is " << std::hex << pixel;
        else
            EXPECT_GE(std::min({r, g, b}), 0xF0) << what << " is " << std::hex << pixel;
    }

    // The hand over both.
    for (int32_t id : {close, minimise}) {
        HWND control = window_.Control(id)->handle;
        SendMessageW(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(LoadCursorW(nullptr, IDC_HAND), GetCursor()) << "control " << id;
    }
}

TEST_F(DrawingWindow, RoundedOutlineCutsTheCornersAway)
{
    HWND window = window_.Handle();
    RECT frame;
    GetWindowRect(window, &frame);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    ASSERT_TRUE(SetRoundedOutline(window, width, height, 12));
    UniqueRegionHandle region(CreateRectRgn(0, 0, 0, 0));
    ASSERT_NE(ERROR, GetWindowRgn(window, region.Get()));
    struct Case {
        int x, y;
        bool inside;
    } cases[] = {{0, 0, false},          {width - 1, 0, false},      {0, height - 1, false},
                 {width - 1, height - 1, false}, {width / 2, 0, true},   {0, height / 2, true},
                 {width / 2, height / 2, true},  {6, 6, true}};
    for (const Case& c : cases)
        EXPECT_EQ(c.inside, PtInRegion(region.Get(), c.x, c.y) != FALSE) << c.x << "," << c.y;
}

TEST_F(DrawingWindow, CentreWindowCentresOverTheParentOrTheWorkArea)
{
    HWND popup = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 101, 51, window_.Handle(), nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(nullptr, popup);
    RECT parent;
    RECT area;
    RECT placed;
    GetWindowRect(window_.Handle(), &parent);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    struct Case {
        HWND over;
        RECT target;
    } cases[] = {{window_.Handle(), parent}, {nullptr, area}};
    for (const Case& c : cases) {
        ASSERT_TRUE(CentreWindow(popup, c.over));
        GetWindowRect(popup, &placed);
        EXPECT_EQ(c.target.left + (c.target.right - c.target.left) / 2 - 50, placed.left);
        EXPECT_EQ(c.target.top + (c.target.bottom - c.target.top) / 2 - 25, placed.top);
        EXPECT_EQ(101, placed.right - placed.left) << "the size stays";
    }
    DestroyWindow(popup);
}

// (A background image reaching the screen is the dialog frame's test: its band and body are one.)

TEST_F(Drawing, IconBecomesA32BitBitmapOfTheSizeAsked)
{
    HICON icon = LoadIconW(nullptr, IDI_APPLICATION);   // shared: never destroyed
    ASSERT_NE(nullptr, icon);
    for (int size : {16, 32, 48}) {
        UniqueBitmap bitmap = IconToBitmap(icon, size);
        ASSERT_TRUE(bitmap) << "size " << size;
        BITMAP info{};
        GetObjectW(bitmap.Get(), sizeof(info), &info);
        EXPECT_EQ(size, info.bmWidth);
        EXPECT_EQ(size, info.bmHeight);
        EXPECT_EQ(32, info.bmBitsPixel);
        int painted = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                painted += harness::BitmapPixel(bitmap.Get(), x, y) != 0;
        EXPECT_GT(painted, size * size / 8) << "size " << size << ": the icon was drawn";
    }
    EXPECT_FALSE(IconToBitmap(nullptr, 32));
}

TEST_F(DrawingWindow, ImageListsOfListsAndButtonsGrowShrinkAndStay)
{
    int32_t list = window_.AddListView(L"Name", 10, 10, 200, 100, -1, 0);
    int32_t button = window_.AddButton(L"Picture", 10, 120, 120, 30, -1);
    HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
    UniqueBitmap bitmap = IconToBitmap(icon, 32);

    EXPECT_EQ(-1, window_.SetListIcon(list, 0, icon, 32)) << "nothing to replace yet";
    EXPECT_FALSE(window_.SetListImageCount(list, 3)) << "no image list before the first image";
    EXPECT_EQ(0, window_.SetListIcon(list, -1, icon, 32));
    EXPECT_EQ(1, window_.AddListImage(list, bitmap.Get(), 32));
    EXPECT_EQ(2, window_.ListImageCount(list));
    EXPECT_EQ(0, window_.SetListIcon(list, 0, icon, 32)) << "replacing keeps the index";
    EXPECT_TRUE(window_.ReplaceListImage(list, 1, bitmap.Get()));
    EXPECT_EQ(2, window_.ListImageCount(list));
    EXPECT_TRUE(window_.RemoveListImage(list, 0));
    EXPECT_EQ(1, window_.ListImageCount(list));
    EXPECT_TRUE(window_.SetListImageCount(list, 5));
    EXPECT_EQ(5, window_.ListImageCount(list));
    EXPECT_TRUE(window_.ReplaceListImage(list, 4, bitmap.Get()));
    EXPECT_TRUE(window_.SetListImageCount(list, 1));
    EXPECT_EQ(1, window_.ListImageCount(list));
    HWND listHandle = window_.Control(list)->handle;
    EXPECT_EQ(window_.Control(list)->images.Get(),
              reinterpret_cast<HIMAGELIST>(SendMessageW(listHandle, LVM_GETIMAGELIST, LVSIL_SMALL, 0)));

    ASSERT_TRUE(window_.SetButtonImage(button, bitmap.Get(), 32, 32));
    BUTTON_IMAGELIST attached{};
    SendMessageW(window_.Control(button)->handle, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&attached));
    EXPECT_EQ(window_.Control(button)->images.Get(), attached.himl);
    EXPECT_EQ(1, ImageList_GetImageCount(attached.himl));
    EXPECT_FALSE(window_.SetButtonImage(list, bitmap.Get(), 32, 32)) << "only push buttons";
}

TEST_F(DrawingWindow, SpinnerTurnsAndEndsSoonAfterItsControlGoes)
{
    constexpr int kSize = 28;
    constexpr int kSpeed = 80;
    const DWORD delay = static_cast<DWORD>(SpinnerFrameDelay(kSpeed));
    std::vector<double> lags;
    bool onTime = false;
    // The bound is a few milliseconds: on a loaded machine a single late wake-up
    // is noise, so the spinner gets three tries; a spinner that keeps running
    // after its control fails every one of them.
    for (int attempt = 0; attempt < 3 && !onTime; ++attempt) {
        int32_t picture = window_.AddPicture(nullptr, 40, 40, kSize, kSize, -1);
        ASSERT_NE(0, picture);
        HWND control = window_.Control(picture)->handle;
        UniqueHandle thread = StartSpinner(control, kSize, 0xFF000000, kSpeed, -1);
        ASSERT_TRUE(thread);

        POINT origin{40, 40};
        ClientToScreen(window_.Handle(), &origin);
        std::vector<bool> first;
        PumpUntil("the ring to be drawn", [&] { return Darks(first = DarkPixels(origin, kSize)) > 40u; });
        if (attempt == 0) {
            EXPECT_FALSE(SaveScreenshot(window_.Handle(), L"spinner").empty());
        }
        std::vector<bool> second;
        PumpUntil("the ring to turn", [&] { return (second = DarkPixels(origin, kSize)) != first; });
        const size_t darkCount = Darks(first);
        size_t changed = 0;
        for (size_t i = 0; i < first.size(); ++i)
            changed += first[i] != second[i];
        EXPECT_GT(darkCount, 40u) << "the ring is drawn";
        EXPECT_LT(darkCount, first.size() / 2) << "only a ring";
        EXPECT_GT(changed, 4u) << "the ring turns";
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread.Get(), 0)) << "it runs while the control exists";

        FILETIME destroyed;
        GetSystemTimePreciseAsFileTime(&destroyed);
        ASSERT_TRUE(window_.DeleteControl(picture));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.Get(), 2000)) << "the spinner never ended";
        FILETIME created, exited, kernel, user;
        ASSERT_TRUE(GetThreadTimes(thread.Get(), &created, &exited, &kernel, &user));
        ULARGE_INTEGER from{{destroyed.dwLowDateTime, destroyed.dwHighDateTime}};
        ULARGE_INTEGER to{{exited.dwLowDateTime, exited.dwHighDateTime}};
        double lag = (static_cast<double>(to.QuadPart) - static_cast<double>(from.QuadPart)) / 10000.0;
        lags.push_back(lag);
        onTime = lag <= delay + 10.0;
    }
    std::string measured;
    for (double lag : lags)
        measured += std::to_string(lag) + " ms ";
    EXPECT_TRUE(onTime) << "ended after " << measured << "(bound " << delay + 10 << " ms)";
    std::printf("spinner ended %s after its control (bound %lu ms)\n", measured.c_str(),
                static_cast<unsigned long>(delay + 10));
}

TEST_F(DrawingWindow, SpinnerWaitsWhileItsControlIsHidden)
{
    int32_t picture = window_.AddPicture(nullptr, 40, 40, 28, 28, WS_VISIBLE);
    HWND control = window_.Control(picture)->handle;
    window_.SetState(picture, StateFlags::Hide);
    UniqueHandle thread = StartSpinner(control, 28, 0xFF000000, 100, 0xFFFFFF);
    ASSERT_TRUE(thread);
    const DWORD start = GetTickCount();
    PumpUntil("a spinner's frame time to pass", [&] { return GetTickCount() - start >= 100; });
    POINT origin{40, 40};
    ClientToScreen(window_.Handle(), &origin);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread.Get(), 0)) << "it waits for the control";
    window_.SetState(picture, StateFlags::Show);
    size_t dark = 0;
    PumpUntil("the shown ring to be drawn", [&] { return (dark = Darks(DarkPixels(origin, 28))) > 40u; });
    EXPECT_GT(dark, 40u) << "shown again, the ring turns (speed 100: no delay)";
    window_.DeleteControl(picture);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.Get(), 2000));
}
