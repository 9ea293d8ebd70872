#include "accounts/picture_rules.h"

#include <cwchar>

namespace {

// Seven sizes above 9.0, five with "Image200" and "Image40" on 6.2 to 9.0.
constexpr PictureSetEntry kPictureSetTen[] = {
    {L"Image448", 448}, {L"Image240", 240}, {L"Image192", 192}, {L"Image96", 96},
    {L"Image48", 48},   {L"Image40", 40},   {L"Image32", 32},
};
constexpr PictureSetEntry kPictureSetEight[] = {
    {L"Image448", 448}, {L"Image240", 240}, {L"Image200", 200}, {L"Image96", 96}, {L"Image40", 40},
};



wchar_t UpperHex(wchar_t c) { return c >= L'a' && c <= L'f' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

uint32_t Little16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8); }
uint32_t Big16(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 8) | static_cast<uint32_t>(p[1]); }
uint32_t Little32(const uint8_t* p) { return Little16(p) | (Little16(p + 2) << 16); }
uint32_t Big32(const uint8_t* p) { return (Big16(p) << 16) | Big16(p + 2); }

bool ReadBmp(const uint8_t* b, size_t size, ImageHeader& header)
{
    if (size < 26)
        return false;
    const uint32_t infoSize = Little32(b + 14);
    if (infoSize == 12) {   // the old core header: 16-bit sizes
        header.width = Little16(b + 18);
        header.height = Little16(b + 20);
        return true;
    }
    if (infoSize < 40 || size < 26)
        return false;
    // A negative height marks a top-down bitmap; its size is the magnitude.
    const auto width = static_cast<int32_t>(Little32(b + 18));
    const auto height = static_cast<int32_t>(Little32(b + 22));
    if (width <= 0 || height == INT32_MIN)
        return false;
    header.width = static_cast<uint32_t>(width);
    header.height = static_cast<uint32_t>(height < 0 ? -height : height);
    return true;
}

// The frame header (SOF0 to SOF15 but DHT, JPG and DAC) carries the size;
// every marker before it has a length to skip.
bool ReadJpeg(const uint8_t* b, size_t size, ImageHeader& header)
{
    size_t at = 2;
    while (at + 4 <= size) {
        if (b[at] != 0xFF)
            return false;
        const uint8_t marker = b[at + 1];
        if (marker == 0xFF) {   // fill bytes
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)   // end of image or start of scan before any frame
            return false;
        const size_t length = Big16(b + at + 2);
        if (length < 2)
            return false;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (at + 9 > size || length < 7)
                return false;
            header.height = Big16(b + at + 5);
            header.width = Big16(b + at + 7);
            return true;
        }
        at += 2 + length;
    }
    return false;
}

bool ReadTiff(const uint8_t* b, size_t size, ImageHeader& header)
{
    const bool little = b[0] == 'I';
    auto u16 = [&](size_t at) { return little ? Little16(b + at) : Big16(b + at); };
    auto u32 = [&](size_t at) { return little ? Little32(b + at) : Big32(b + at); };
    const size_t directory = u32(4);
    if (directory < 8 || directory + 2 > size)
        return false;
    const size_t entries = u16(directory);
    bool haveWidth = false, haveHeight = false;
    for (size_t i = 0; i < entries; ++i) {
        const size_t entry = directory + 2 + i * 12;
        if (entry + 12 > size)
            return false;
        const uint32_t tag = u16(entry);
        const uint32_t type = u16(entry + 2);
        if (tag != 256 && tag != 257)
            continue;
        // SHORT values sit in the first two bytes of the value field.
        uint32_t value;
        if (type == 3)
            value = u16(entry + 8);
        else if (type == 4)
            value = u32(entry + 8);
        else
            return false;
        (tag == 256 ? header.width : header.height) = value;
        (tag == 256 ? haveWidth : haveHeight) = true;
    }
    return haveWidth && haveHeight;
}

}  // namespace

PictureFit ToPictureFit(int32_t value)
{
    if (value == static_cast<int32_t>(PictureFit::Center))
        return PictureFit::Center;
    if (value == static_cast<int32_t>(PictureFit::Crop))
        return PictureFit::Crop;
    return PictureFit::Stretch;
}

bool FitGeometry(uint32_t sourceWidth, uint32_t sourceHeight, int width, int height, PictureFit fit,
                 PictureFitGeometry& g)
{
    if (sourceWidth == 0 || sourceHeight == 0 || width <= 0 || height <= 0)
        return false;
    const double w = sourceWidth, h = sourceHeight;
    const double ratio = w / h;
    g = PictureFitGeometry{};
    g.sourceWidth = static_cast<int>(sourceWidth);
    g.sourceHeight = static_cast<int>(sourceHeight);
    g.targetWidth = width;
    g.targetHeight = height;
    if (fit == PictureFit::Center) {
        if (sourceWidth > sourceHeight) {
            g.targetHeight = static_cast<int>(height / ratio);
            g.targetY = static_cast<int>((height - g.targetHeight) * 0.5);
        } else if (sourceWidth < sourceHeight) {
            g.targetWidth = static_cast<int>(width * ratio);
            g.targetX = static_cast<int>((width - g.targetWidth) * 0.5);
        }
    } else if (fit == PictureFit::Crop) {
        if (sourceWidth > sourceHeight) {
            g.sourceWidth = static_cast<int>(w / ratio);
            g.sourceX = static_cast<int>((w - h) * 0.5);
        } else if (sourceWidth < sourceHeight) {
            g.sourceHeight = static_cast<int>(h * ratio);
            g.sourceY = static_cast<int>((h - w) * 0.5);
        }
    }
    return g.targetWidth > 0 && g.targetHeight > 0 && g.sourceWidth > 0 && g.sourceHeight > 0;
}

int AccountPictureSize(double osVersion)
{
    if (osVersion < 6.0)
        return 48;
    return osVersion < 6.2 ? 126 : 448;
}

bool ShellKeepsPictures(double osVersion) { return osVersion >= 6.0; }

uint16_t PicturePathOrdinal(double osVersion) { return osVersion < 6.0 ? 233 : 810; }

int GenericPictureIconSize(double osVersion) { return osVersion < 6.0 ? 48 : 256; }

const PictureSetEntry* PictureSetTable(double osVersion, size_t& count)
{
    if (osVersion > 9.0) {
        count = sizeof(kPictureSetTen) / sizeof(kPictureSetTen[0]);
        return kPictureSetTen;
    }
    if (osVersion >= 6.2) {
        count = sizeof(kPictureSetEight) / sizeof(kPictureSetEight[0]);
        return kPictureSetEight;
    }
    count = 0;
    return nullptr;
}

bool PictureSetFileName(const wchar_t* uuid, const wchar_t* valueName, WString& name)
{
    if (uuid == nullptr || valueName == nullptr || *valueName == L'\0')
        return false;
    size_t length = std::wcslen(uuid);
    if (length == 38 && uuid[0] == L'{' && uuid[37] == L'}') {
        ++uuid;
        length = 36;
    }
    if (length != 36)
        return false;
    wchar_t upper[37] = {};
    for (size_t i = 0; i < 36; ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? uuid[i] != L'-' : !IsHexDigit(uuid[i]))
            return false;
        upper[i] = UpperHex(uuid[i]);
    }
    name.Assign(L"{");
    return name.Append(upper, L"}-", valueName, L".jpg");
}

bool IsReusablePictureFile(const wchar_t* value, const wchar_t* sidFolder)
{
    if (value == nullptr || sidFolder == nullptr || *sidFolder == L'\0')
        return false;
    WString text(value);
    if (text.Find(L".jpg", false, -1) == 0)
        return false;
    size_t folderLength = std::wcslen(sidFolder);
    while (folderLength > 0 && sidFolder[folderLength - 1] == L'\\')
        --folderLength;
    if (folderLength == 0 || std::wcslen(value) <= folderLength + 1)
        return false;
    for (size_t i = 0; i < folderLength; ++i) {
        if (FoldCase(value[i]) != FoldCase(sidFolder[i]))
            return false;
    }
    if (value[folderLength] != L'\\')
        return false;
    const wchar_t* name = value + folderLength + 1;
    if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0)
        return false;
    for (const wchar_t* c = name; *c != L'\0'; ++c) {
        if (*c < 0x20 || std::wcschr(L"\\/:*?\"<>|", *c) != nullptr)
            return false;
    }
    const wchar_t last = name[std::wcslen(name) - 1];
    return last != L'.' && last != L' ';
}

bool IsPlainFileName(const wchar_t* name)
{
    if (name == nullptr || *name == L'\0')
        return false;
    bool onlyDotsAndBlanks = true;
    for (const wchar_t* c = name; *c != L'\0'; ++c) {
        if (*c < 0x20 || std::wcschr(L"\\/:*?\"<>|", *c) != nullptr)
            return false;
        onlyDotsAndBlanks = onlyDotsAndBlanks && (*c == L'.' || *c == L' ');
    }
    return !onlyDotsAndBlanks;
}

bool ReadImageHeader(const uint8_t* b, size_t size, ImageHeader& header)
{
    header = ImageHeader{};
    if (b == nullptr || size < 8)
        return false;
    bool read = false;
    if (b[0] == 'B' && b[1] == 'M') {
        header.format = ImageFormat::Bmp;
        read = ReadBmp(b, size, header);
    } else if (size >= 24 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G' && b[12] == 'I' &&
               b[13] == 'H' && b[14] == 'D' && b[15] == 'R') {
        header.format = ImageFormat::Png;
        header.width = Big32(b + 16);
        header.height = Big32(b + 20);
        read = true;
    } else if (size >= 10 && b[0] == 'G' && b[1] == 'I' && b[2] == 'F' && b[3] == '8') {
        header.format = ImageFormat::Gif;
        header.width = Little16(b + 6);
        header.height = Little16(b + 8);
        read = true;
    } else if (b[0] == 0xFF && b[1] == 0xD8) {
        header.format = ImageFormat::Jpeg;
        read = ReadJpeg(b, size, header);
    } else if ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
               (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42)) {
        header.format = ImageFormat::Tiff;
        read = ReadTiff(b, size, header);
    }
    if (!read) {
        header = ImageHeader{};
        return false;
    }
    return true;
}

bool IsSafePictureSize(uint64_t fileBytes, const ImageHeader& header)
{
    if (header.format == ImageFormat::Unknown || fileBytes == 0 || fileBytes > kMaxPictureFileBytes)
        return false;
    if (header.width == 0 || header.height == 0 || header.width > kMaxPictureSide ||
        header.height > kMaxPictureSide)
        return false;
    return static_cast<uint64_t>(header.width) * header.height <= kMaxPicturePixels;
}
