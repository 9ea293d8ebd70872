#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/narrow.h"
#include "accounts/picture_rules.h"

namespace {

std::string ShowFit(const PictureFitGeometry& g)
{
    return "source " + std::to_string(g.sourceX) + "," + std::to_string(g.sourceY) + " " +
           std::to_string(g.sourceWidth) + "x" + std::to_string(g.sourceHeight) + " -> target " +
           std::to_string(g.targetX) + "," + std::to_string(g.targetY) + " " + std::to_string(g.targetWidth) + "x" +
           std::to_string(g.targetHeight);
}

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v, bool big = false)
{
    b[at + (big ? 1 : 0)] = static_cast<uint8_t>(v);
    b[at + (big ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v, bool big = false)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(big ? 3 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> Bmp(int32_t width, int32_t height)
{
    std::vector<uint8_t> b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<uint32_t>(width));
    Put32(b, 22, static_cast<uint32_t>(height));
    return b;
}

std::vector<uint8_t> Png(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    b.resize(33, 0);
    Put32(b, 16, width, true);
    Put32(b, 20, height, true);
    return b;
}

std::vector<uint8_t> Gif(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0};
    Put16(b, 6, width);
    Put16(b, 8, height);
    return b;
}

// A JPEG whose frame header follows an application segment of `padding` bytes.
std::vector<uint8_t> Jpeg(uint32_t width, uint32_t height, size_t padding, uint8_t frameMarker = 0xC0)
{
    std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xE1};
    b.resize(b.size() + 2 + padding, 0);
    Put16(b, 4, static_cast<uint32_t>(padding + 2), true);
    std::vector<uint8_t> frame = {0xFF, frameMarker, 0, 17, 8, 0, 0, 0, 0, 3};
    Put16(frame, 5, height, true);
    Put16(frame, 7, width, true);
    b.insert(b.end(), frame.begin(), frame.end());
    b.resize(b.size() + 16, 0);
    return b;
}

std::vector<uint8_t> Tiff(uint32_t width, uint32_t height, bool bigEndian, uint16_t widthType)
{
    std::vector<uint8_t> b(8 + 2 + 2 * 12 + 4, 0);
    b[0] = b[1] = bigEndian ? 'M' : 'I';
    Put16(b, 2, 42, bigEndian);
    Put32(b, 4, 8, bigEndian);
    Put16(b, 8, 2, bigEndian);
    Put16(b, 10, 256, bigEndian);
    Put16(b, 12, widthType, bigEndian);
    Put32(b, 14, 1, bigEndian);
    if (widthType == 3)
        Put16(b, 18, width, bigEndian);
    else
        Put32(b, 18, width, bigEndian);
    Put16(b, 22, 257, bigEndian);
    Put16(b, 24, 4, bigEndian);
    Put32(b, 26, 1, bigEndian);
    Put32(b, 30, height, bigEndian);
    return b;
}

// A TIFF whose directory offset points back into its own header, where the
// rest of the bytes would read as a valid directory.
std::vector<uint8_t> TiffOverlappingItsHeader()
{
    std::vector<uint8_t> b(56, 0);
    b[0] = b[1] = 'I';
    Put16(b, 2, 42, false);
    Put32(b, 4, 4, false);   // four entries from byte 6 on
    Put16(b, 18, 256, false);
    Put16(b, 20, 3, false);
    Put16(b, 26, 48, false);
    Put16(b, 30, 257, false);
    Put16(b, 32, 3, false);
    Put16(b, 38, 48, false);
    return b;
}

}  // namespace

TEST(FitGeometry, PlacesTheSourceInEachFitOrRefuses)
{
    struct { uint32_t w, h; int size; PictureFit fit; bool ok; PictureFitGeometry expected; } const cases[] = {
        // Center: 48 wide, 24 high at y = 12, white above and below.
        {200, 100, 48, PictureFit::Center, true, {0, 0, 200, 100, 0, 12, 48, 24}},
        // Crop: the middle 100 x 100 part from x = 50, over the whole target.
        {200, 100, 48, PictureFit::Crop, true, {50, 0, 100, 100, 0, 0, 48, 48}},
        {200, 100, 48, PictureFit::Stretch, true, {0, 0, 200, 100, 0, 0, 48, 48}},
        {100, 300, 448, PictureFit::Center, true, {0, 0, 100, 300, 149, 0, 149, 448}},
        {100, 200, 48, PictureFit::Crop, true, {0, 50, 100, 100, 0, 0, 48, 48}},
        {80, 80, 48, PictureFit::Crop, true, {0, 0, 80, 80, 0, 0, 48, 48}}, {0, 100, 48, PictureFit::Crop, false, {}},
        {100, 0, 48, PictureFit::Crop, false, {}}, {100, 100, 0, PictureFit::Stretch, false, {}},
        // A sliver so thin that the centred picture would be no pixel high.
        {1000, 1, 48, PictureFit::Center, false, {}},
    };
    for (const auto& c : cases) {
        PictureFitGeometry g;
        const bool ok = FitGeometry(c.w, c.h, c.size, c.size, c.fit, g);
        EXPECT_EQ(c.ok, ok) << c.w << "x" << c.h << " " << ShowFit(g);
        if (c.ok) {
            EXPECT_EQ(ShowFit(c.expected), ShowFit(g)) << c.w << "x" << c.h << " into " << c.size << ", fit "
                                                 << static_cast<int>(c.fit);
        }
    }
    for (auto [value, fit] : {std::pair{4, PictureFit::Center}, std::pair{8, PictureFit::Crop},
                              std::pair{12, PictureFit::Stretch}, std::pair{-4, PictureFit::Stretch}})
        EXPECT_EQ(static_cast<int>(fit), static_cast<int>(ToPictureFit(value))) << value;
}

TEST(PictureVersions, SizesOrdinalsAndStoresFollowTheVersion)
{
    struct { double version; int size; bool shell; uint16_t ordinal; int iconSize; size_t setCount; } const cases[] = {
        {5.2, 48, false, 233, 48, 0},  {6.0, 126, true, 810, 256, 0}, {6.1, 126, true, 810, 256, 0},
        {6.2, 448, true, 810, 256, 5}, {9.0, 448, true, 810, 256, 5}, {10.0, 448, true, 810, 256, 7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.size, AccountPictureSize(c.version)) << c.version;
        EXPECT_EQ(c.shell, ShellKeepsPictures(c.version)) << c.version;
        EXPECT_EQ(c.ordinal, PicturePathOrdinal(c.version)) << c.version;
        EXPECT_EQ(c.iconSize, GenericPictureIconSize(c.version)) << c.version;
        size_t count = 99;
        const PictureSetEntry* table = PictureSetTable(c.version, count);
        EXPECT_EQ(c.setCount, count) << c.version;
        EXPECT_EQ(c.setCount == 0, table == nullptr) << c.version;
        // Each value is named after its size, largest first, the account picture's own size leading.
        for (size_t i = 0; table != nullptr && i < count; ++i) {
            EXPECT_EQ("Image" + std::to_string(table[i].size), Narrow(table[i].valueName)) << c.version;
            EXPECT_TRUE(i == 0 ? table[i].size == c.size : table[i].size < table[i - 1].size) << c.version << " " << i;
        }
    }
}

TEST(PictureSetFileName, BracesAnUpperCaseUuid)
{
    struct { const wchar_t* uuid; const wchar_t* value; const char* expected; } const cases[] = {   // "": refused
        {L"{0f8fad5b-d9cb-469f-a165-70867728950e}", L"Image448", "{0F8FAD5B-D9CB-469F-A165-70867728950E}-Image448.jpg"},
        {L"0F8FAD5B-D9CB-469F-A165-70867728950E", L"Image40", "{0F8FAD5B-D9CB-469F-A165-70867728950E}-Image40.jpg"},
        {L"0F8FAD5B-D9CB-469F-A165-70867728950", L"Image40", ""},
        {L"0F8FAD5B+D9CB-469F-A165-70867728950E", L"Image40", ""},
        {L"..\\..\\..\\..\\..\\..\\..\\..\\..\\..x.", L"Image40", ""},
        {L"0F8FAD5B-D9CB-469F-A165-70867728950E", L"", ""},
    };
    for (const auto& c : cases) {
        WString name;
        EXPECT_EQ(*c.expected != '\0', PictureSetFileName(c.uuid, c.value, name)) << Narrow(c.uuid);
        if (*c.expected != '\0') {
            EXPECT_EQ(c.expected, Narrow(name.Text()));
        }
    }
}

TEST(IsReusablePictureFile, ReusesOnlyFilesDirectlyInTheSidFolder)
{
    const wchar_t* folder = L"C:\\P\\S-1-5-21-1-2-3-1001";
    struct { const wchar_t* value; bool reusable; } const cases[] = {
        {L"c:\\p\\s-1-5-21-1-2-3-1001\\{A}-Image448.JPG", true},
        {L"C:\\P\\S-1-5-21-1-2-3-1001\\ old.jpg.bak", true},   // ".jpg" anywhere
        {L"C:\\P\\S-1-5-21-1-2-3-1001\\picture.png", false},
        {L"C:\\P\\S-1-5-21-1-2-3-1001\\..\\..\\Windows\\win.jpg", false},
        {L"C:\\P\\S-1-5-21-1-2-3-1001\\sub\\x.jpg", false}, {L"C:\\P\\S-1-5-21-1-2-3-1001\\x.jpg:stream", false},
        {L"C:\\P\\S-1-5-21-1-2-3-1001\\x.jpg.", false}, {L"C:\\P\\S-1-5-21-1-2-3-1001\\x\x1f.jpg", false},
        {L"C:\\P\\S-1-5-21-1-2-3-10011\\x.jpg", false},   // another SID
        {L"C:\\P\\S-1-5-21-1-2-3-1001/x.jpg", false}, {L"D:\\P\\S-1-5-21-1-2-3-1001\\x.jpg", false},
        {L"{A}-Image448.jpg", false},   // a bare name: relative to whatever the current folder is
        {L"C:\\P\\S-1-5-21-1-2-3-1001\\", false}, {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reusable, IsReusablePictureFile(c.value, folder)) << Narrow(c.value);
    // The folder may come with its trailing backslash.
    EXPECT_TRUE(IsReusablePictureFile(L"C:\\P\\S-1\\a.jpg", L"C:\\P\\S-1\\"));
    EXPECT_FALSE(IsReusablePictureFile(L"C:\\P\\S-1\\a.jpg", L""));
    EXPECT_FALSE(IsReusablePictureFile(L"\\a.jpg", L"\\"));
}

TEST(ReadImageHeader, ReadsTheSizeOfEveryOfferedFormat)
{
    struct { const char* what; std::vector<uint8_t> bytes; size_t keep; ImageFormat format; uint32_t width, height; }
    const cases[] = {   // keep: bytes given, 0 for all; format Unknown: refused
        {"top-down bmp, its least", Bmp(64, -32), 26, ImageFormat::Bmp, 64, 32},
        {"bmp of negative width", Bmp(-64, 32), 0, ImageFormat::Unknown, 0, 0},
        {"huge png, its least", Png(100000, 100000), 24, ImageFormat::Png, 100000, 100000},
        {"gif, its least", Gif(17, 33), 10, ImageFormat::Gif, 17, 33},
        {"jpeg", Jpeg(640, 480, 10), 0, ImageFormat::Jpeg, 640, 480},
        {"progressive jpeg after a long segment", Jpeg(1024, 768, 4000, 0xC2), 0, ImageFormat::Jpeg, 1024, 768},
        {"little-endian tiff", Tiff(300, 200, false, 3), 0, ImageFormat::Tiff, 300, 200},
        {"big-endian tiff", Tiff(70000, 20, true, 4), 0, ImageFormat::Tiff, 70000, 20},
        {"big-endian tiff not marked MM", [] { auto b = Tiff(70000, 20, true, 4); b[0] = b[1] = 'X'; return b; }(), 0,
         ImageFormat::Unknown, 0, 0},
        {"tiff whose directory overlaps its header", TiffOverlappingItsHeader(), 0, ImageFormat::Unknown, 0, 0},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, 0, ImageFormat::Unknown, 0, 0},
        {"empty", {}, 0, ImageFormat::Unknown, 0, 0},
        // Headers cut short.
        {"bmp", Bmp(10, 10), 25, ImageFormat::Unknown, 0, 0}, {"png", Png(10, 10), 23, ImageFormat::Unknown, 0, 0},
        {"jpeg before its frame", Jpeg(10, 10, 100), 60, ImageFormat::Unknown, 0, 0},
        {"jpeg inside its frame", Jpeg(10, 10, 0), 9, ImageFormat::Unknown, 0, 0},
        {"jpeg ending right after its size", Jpeg(640, 480, 0), 15, ImageFormat::Jpeg, 640, 480},
        {"tiff", Tiff(10, 10, false, 3), 20, ImageFormat::Unknown, 0, 0}, {"gif", Gif(1, 1), 9, ImageFormat::Unknown, 0, 0},
    };
    for (const auto& c : cases) {
        ImageHeader header;
        header.width = 12345;
        EXPECT_EQ(c.format != ImageFormat::Unknown,
                  ReadImageHeader(c.bytes.data(), c.keep != 0 ? c.keep : c.bytes.size(), header)) << c.what;
        EXPECT_EQ(static_cast<int>(c.format), static_cast<int>(header.format)) << c.what;
        EXPECT_EQ(c.width, header.width) << c.what;
        EXPECT_EQ(c.height, header.height) << c.what;
    }
}

TEST(IsSafePictureSize, RefusesWhatWouldTakeGigabytesToDecode)
{
    auto header = [](uint32_t w, uint32_t h) {
        ImageHeader result;
        result.format = ImageFormat::Png;
        result.width = w;
        result.height = h;
        return result;
    };
    struct { uint64_t bytes; ImageHeader header; bool safe; } const cases[] = {
        {kMaxPictureFileBytes, header(8000, 6000), true}, {kMaxPictureFileBytes + 1, header(10, 10), false},
        {0, header(10, 10), false}, {1000, header(16000, 10), true}, {1000, header(16001, 10), false},
        {1000, header(10, 16000), true}, {1000, header(10, 16001), false},
        {1, header(10000, 10000), true}, {1000, header(7122, 14041), false},   // 100,000,000 and 100,000,002 pixels
        {1000, header(0, 10), false}, {1000, ImageHeader{}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.safe, IsSafePictureSize(c.bytes, c.header))
            << c.bytes << " bytes, " << c.header.width << "x" << c.header.height;
}

TEST(IsPlainFileName, RefusesNamesThatWouldLeaveThePicturesFolder)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"pupil 001", true}, {L"a.b", true}, {L"..\\..\\Windows\\win", false}, {L"..", false}, {L" . ", false},
        {L"c:evil", false},   {L"a/b", false}, {L"a*", false}, {L"a\x1f", false}, {L"", false}, {nullptr, false},
    };
    for (auto [name, plain] : cases)
        EXPECT_EQ(plain, IsPlainFileName(name)) << Narrow(name);
}
