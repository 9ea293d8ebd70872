#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/handles.h"
#include "vantrell_version.h"

namespace {

// The product's path as the build gives it; under Wine a Linux path is
// reached through drive Z:.
std::wstring ProductPath()
{
    std::string path = VANTRELL_PRODUCT_PATH;
    std::wstring wide(path.begin(), path.end());
    return !wide.empty() && wide[0] == L'/' ? L"Z:" + wide : wide;
}

}  // namespace

// (The embedded pictures' sizes are the drawing tests': each loads at its own size.)
TEST(ProductResources, IconsVersionAndManifest)
{
    UniqueLibrary product(LoadLibraryExW(ProductPath().c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(product) << "cannot open " << std::string(VANTRELL_PRODUCT_PATH) << ", error " << GetLastError();
    for (int icon : {1, 105})
        EXPECT_NE(nullptr, FindResourceW(product.Get(), MAKEINTRESOURCEW(icon), RT_GROUP_ICON)) << "icon " << icon;

    HRSRC manifest = FindResourceW(product.Get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, manifest);
    std::string text(static_cast<const char*>(LockResource(LoadResource(product.Get(), manifest))),
                     SizeofResource(product.Get(), manifest));
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
    // One version number everywhere: the version resource, the manifest and "vantrell version".
    const std::string numbers = std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
                                std::to_string(LOWORD(info->dwFileVersionLS));
    EXPECT_EQ(VANTRELL_VERSION_TEXT, numbers);
    EXPECT_NE(std::string::npos, text.find("name=\"Vantrell\" version=\"" VANTRELL_VERSION_TEXT "\""));
}
