#include "accounts/picture_set.h"

#include <objbase.h>

#include "accounts/picture_rules.h"
#include "accounts/pictures.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text_win.h"

namespace {

constexpr wchar_t kPictureSetKey[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AccountPicture\\Users\\";

// True when the folder is a real folder, not a link that would carry the
// files written into it somewhere else.
bool IsPlainFolder(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

WString NewPictureSetName(const wchar_t* folder, const wchar_t* valueName)
{
    WString path;
    GUID id{};
    wchar_t text[40] = L"";
    WString name;
    if (FAILED(CoCreateGuid(&id)) || StringFromGUID2(id, text, ARRAYSIZE(text)) == 0 ||
        !PictureSetFileName(text, valueName, name))
        return path;
    path.Assign(folder);
    path.Append(L"\\", name.Text());
    return path;
}

}  // namespace

WString PictureSetFolder(const wchar_t* sidString)
{
    WString folder = ExpandEnvironmentText(L"%Public%");
    TrimTrailingBackslashes(folder);
    folder.Append(L"\\AccountPictures\\", sidString);
    return folder;
}

WString PictureSetKeyPath(const wchar_t* sidString)
{
    WString path(kPictureSetKey);
    path.Append(sidString);
    return path;
}

void WritePictureSet(const wchar_t* sidString, Gdiplus::GpBitmap* image, Gdiplus::GpBitmap* square, PictureFit fit,
                     double osVersion)
{
    CLSID encoder{};
    if (!FindImageEncoder(L".jpg", encoder))
        return;
    size_t count = 0;
    const PictureSetEntry* table = PictureSetTable(osVersion, count);
    if (table == nullptr || count == 0)
        return;
    WString folder = PictureSetFolder(sidString);
    RegKey key(OpenKey(PictureSetKeyPath(sidString).Text(), kCreateKeyAccess));
    // Files written through a link would land wherever it points.
    WString parent(folder.Text());
    parent.RemoveLastComponent();
    if (!CreateDirectoryPath(folder.Text()) || !IsPlainFolder(parent.Text()) || !IsPlainFolder(folder.Text()))
        return;
    for (size_t i = 0; i < count; ++i) {
        const PictureSetEntry& entry = table[i];
        UniqueImage fitted;
        Gdiplus::GpBitmap* picture = square;
        if (i > 0) {
            fitted = FitPicture(image, entry.size, entry.size, fit);
            picture = fitted.Get();
        }
        if (picture == nullptr)
            continue;
        WString file;
        WString stored;
        if (key && key.QueryString(entry.valueName, stored) && IsReusablePictureFile(stored.Text(), folder.Text())) {
            file.Assign(stored.Text());
        } else {
            file = NewPictureSetName(folder.Text(), entry.valueName);
            if (file.IsEmpty())
                continue;
            if (key)
                key.SetValue(entry.valueName, REG_SZ, file.Text(), 0);
        }
        if (!ClearForWriting(file.Text()) || !SaveImage(picture, file.Text(), encoder))
            continue;
        SetFileAttributesW(file.Text(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }
}
