#include <gtest/gtest.h>

#include <windows.h>
#include <gdiplus.h>
#include <objidl.h>

#include <string>

#include "platform/handles.h"
#include "ui/image.h"

namespace {

// The product's path as the build gives it; under Wine a Linux path is
// reached through drive Z:.
std::wstring ProductPath()
{
    std::string path = VANTRELL_PRODUCT_PATH;
    std::wstring wide(path.begin(), path.end());
    return !wide.empty() && wide[0] == L'/' ? L"Z:" + wide : wide;
}

class ProductResources : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token_); }
    void SetUp() override
    {
        product_.Reset(LoadLibraryExW(ProductPath().c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(product_) << "cannot open " << std::string(VANTRELL_PRODUCT_PATH) << ", error " << GetLastError();
    }

    // Decodes an embedded PNG; its width and height, or 0 x 0.
    SIZE ImageSize(int id)
    {
        HRSRC found = FindResourceW(product_.Get(), MAKEINTRESOURCEW(id), L"IMAGE");
        if (found == nullptr)
            return SIZE{};
        DWORD size = SizeofResource(product_.Get(), found);
        const void* bytes = LockResource(LoadResource(product_.Get(), found));
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
        memcpy(GlobalLock(copy), bytes, size);
        GlobalUnlock(copy);
        IStream* stream = nullptr;
        SIZE result{};
        if (SUCCEEDED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
            UniqueImage image;
            if (Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, image.Put()) == Gdiplus::Ok) {
                UINT width = 0, height = 0;
                Gdiplus::DllExports::GdipGetImageWidth(image.Get(), &width);
                Gdiplus::DllExports::GdipGetImageHeight(image.Get(), &height);
                result = SIZE{static_cast<LONG>(width), static_cast<LONG>(height)};
            }
            stream->Release();
        }
        return result;
    }

    static ULONG_PTR token_;
    UniqueLibrary product_;
};
ULONG_PTR ProductResources::token_ = 0;

}  // namespace

TEST_F(ProductResources, EmbeddedPicturesHaveTheSizesTheWindowsAskFor)
{
    struct Expected {
        int id;
        LONG width, height;
    } pictures[] = {
        {200, 64, 64}, {201, 20, 20}, {202, 20, 20}, {203, 20, 20},
        {204, 147, 47}, {205, 20, 20}, {206, 24, 24}, {207, 24, 24},
    };
    for (const Expected& picture : pictures) {
        SIZE size = ImageSize(picture.id);
        EXPECT_EQ(picture.width, size.cx) << "image " << picture.id;
        EXPECT_EQ(picture.height, size.cy) << "image " << picture.id;
    }
}

TEST_F(ProductResources, IconsVersionAndManifest)
{
    for (int icon : {1, 105})
        EXPECT_NE(nullptr, FindResourceW(product_.Get(), MAKEINTRESOURCEW(icon), RT_GROUP_ICON)) << "icon " << icon;

    HRSRC manifest = FindResourceW(product_.Get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, manifest);
    std::string text(static_cast<const char*>(LockResource(LoadResource(product_.Get(), manifest))),
                     SizeofResource(product_.Get(), manifest));
    EXPECT_NE(std::string::npos, text.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, text.find("Microsoft.Windows.Common-Controls"));
    EXPECT_NE(std::string::npos, text.find("8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")) << "Windows 10 is not declared";

    DWORD size = GetFileVersionInfoSizeW(ProductPath().c_str(), nullptr);
    ASSERT_NE(0u, size) << "no version resource";
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(ProductPath().c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length));
    EXPECT_EQ(MAKELONG(9, 1), static_cast<LONG>(info->dwFileVersionMS)) << std::hex << info->dwFileVersionMS;
    EXPECT_EQ(0u, info->dwFileVersionLS) << std::hex << info->dwFileVersionLS;
}
