#include "accounts/pictures.h"

#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cstdio>

#include "accounts/lookup.h"
#include "accounts/picture_files.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/text_win.h"

namespace gp = Gdiplus::DllExports;
using Gdiplus::Ok;

namespace {

constexpr DWORD kShellPathCapacity = 1024;

// The shell library, loaded for one call and freed after it.
UniqueLibrary LoadShell()
{
    return UniqueLibrary(LoadLibraryW(L"shell32.dll"));
}

WString TempFolder()
{
    WString path = TempDirectory();
    TrimTrailingBackslashes(path);
    return path;
}

bool PictureFileExists(const wchar_t* path) { return path != nullptr && *path != L'\0' && PathFileExistsW(path) != FALSE; }

// The first stock bitmap of the folder's "Default Pictures"; false when none.
bool FirstStockPicture(const wchar_t* picturesFolder, WString& path)
{
    WString pattern(picturesFolder);
    pattern.Append(L"Default Pictures\\*.bmp");
    WIN32_FIND_DATAW found{};
    UniqueFind search(FindFirstFileW(pattern.Text(), &found));
    while (search) {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            path.Assign(picturesFolder);
            return path.Append(L"Default Pictures\\", found.cFileName);
        }
        if (!FindNextFileW(search.Get(), &found))
            break;
    }
    return false;
}

// The shell library's account icon on white: the picture of an account that
// has none. Made in memory whenever it is shown, never kept in a file that
// a lookup would have to write.
UniqueImage MakeGenericPicture(double osVersion)
{
    const int size = GenericPictureIconSize(osVersion);
    UniqueIcon icon = LoadAccountIcon(size);
    if (!icon)
        return UniqueImage();
    UniqueBitmap drawn = IconToBitmap(icon.Get(), size);
    DIBSECTION section{};
    if (!drawn || GetObjectW(drawn.Get(), sizeof(section), &section) != sizeof(section) ||
        section.dsBm.bmBits == nullptr)
        return UniqueImage();
    UniqueImage alpha;
    if (gp::GdipCreateBitmapFromScan0(size, size, section.dsBm.bmWidthBytes, PixelFormat32bppARGB,
                                      static_cast<BYTE*>(section.dsBm.bmBits), alpha.Put()) != Ok)
        return UniqueImage();
    // Laid on white, as the bitmap file it once was kept no transparency.
    return FitPicture(alpha.Get(), size, size, PictureFit::Stretch);
}

// A folder of this process's own below the temporary folder, for the one
// file the shell's picture call takes by name. Made new under a name not
// used before, with only SYSTEM and the administrators let in, so nothing in
// it was planted and no link there leads elsewhere (run as SYSTEM, the
// temporary folder is one every user can write to). It goes with its file.
class ScratchFolder {
public:
    ScratchFolder() = default;
    ~ScratchFolder()
    {
        if (!file_.IsEmpty())
            DeleteFileW(file_.Text());
        if (!folder_.IsEmpty())
            RemoveDirectoryW(folder_.Text());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The path of a file `name` in a new folder; empty when none could be made.
    const wchar_t* FileNamed(const wchar_t* name)
    {
        WString temp = TempFolder();
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (temp.IsEmpty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                  L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr))
            return nullptr;
        UniqueLocalMemory held(descriptor);
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
        static LONG counter = 0;
        for (int attempt = 0; attempt < 16 && folder_.IsEmpty(); ++attempt) {
            wchar_t unique[64];
            swprintf(unique, ARRAYSIZE(unique), L"\\Vantrell-%lu-%llx-%ld", GetCurrentProcessId(),
                     static_cast<unsigned long long>(GetTickCount64()), InterlockedIncrement(&counter));
            WString candidate(temp.Text());
            candidate.Append(unique);
            // Fails when the name is taken: only a folder made here is used.
            if (CreateDirectoryW(candidate.Text(), &attributes))
                folder_.Assign(candidate.Text());
        }
        if (folder_.IsEmpty())
            return nullptr;
        file_ = JoinPath(folder_.Text(), name);
        return file_.Text();
    }

private:
    WString folder_;
    WString file_;
};

// What every picture lookup needs, found once for any number of accounts.
struct PictureSources {
    UniqueLibrary shell;
    FARPROC address = nullptr;       // the shell's picture-path export, or null
    uint16_t ordinal = 0;
    WString folder;                  // the user pictures folder
};


bool PrepareSources(PictureSources& sources, double osVersion)
{
    if (!GetUserPicturesFolder(sources.folder))
        return false;
    sources.shell = LoadShell();
    sources.ordinal = PicturePathOrdinal(osVersion);
    if (sources.shell)
        sources.address = machine::GetProcAddress(sources.shell.Get(), MAKEINTRESOURCEA(sources.ordinal));
    return true;
}

// The shell's picture of the account, when it names an existing file.
bool AskShellForPicture(const PictureSources& sources, const wchar_t* accountName, WString& path)
{
    if (sources.address == nullptr)
        return false;
    wchar_t buffer[kShellPathCapacity + 1] = {};
    if (sources.ordinal == machine::kGetPictureOrdinal)
        machine::AsFunction<machine::GetPictureFunction>(sources.address)(accountName, 0, buffer);
    else
        machine::AsFunction<machine::GetPictureExFunction>(sources.address)(accountName, 0, nullptr, buffer,
                                                                           kShellPathCapacity, nullptr, 0);
    buffer[kShellPathCapacity] = L'\0';
    if (!PictureFileExists(buffer))
        return false;
    return path.Assign(buffer);
}

bool FindPicture(PictureSources& sources, const wchar_t* accountName, WString& path, double osVersion)
{
    if (accountName == nullptr || *accountName == L'\0')
        return false;
    if (AskShellForPicture(sources, accountName, path))
        return true;
    WString legacy = LegacyPictureFile(sources.folder.Text(), accountName);
    if (PictureFileExists(legacy.Text()))
        return path.Assign(legacy.Text());
    if (!ShellKeepsPictures(osVersion) && !legacy.IsEmpty()) {
        WString stock;
        if (FirstStockPicture(sources.folder.Text(), stock) && CopyFileW(stock.Text(), legacy.Text(), TRUE))
            return path.Assign(legacy.Text());
    }
    return false;
}

}  // namespace

WString LegacyPictureFile(const wchar_t* picturesFolder, const wchar_t* accountName)
{
    WString path;
    if (!IsPlainFileName(accountName) || picturesFolder == nullptr || *picturesFolder == L'\0')
        return path;
    path.Assign(picturesFolder);
    path.Append(accountName, L".bmp");
    return path;
}

UniqueImage GenericAccountPicture(double osVersion)
{
    return MakeGenericPicture(osVersion);
}

bool GetUserPicturesFolder(WString& path)
{
    WString folder;
    if (!FromFolderPath(folder, CSIDL_COMMON_APPDATA, nullptr, 0) || folder.IsEmpty())
        return false;
    TrimTrailingBackslashes(folder);
    folder.Append(L"\\Microsoft\\User Account Pictures\\");
    return path.Assign(folder.Text());
}

UniqueImage LoadPictureFile(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return UniqueImage();
    UniqueFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    // Only files on disk: a device or pipe has no size to check.
    if (!file || GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.Get(), &size) ||
        size.QuadPart <= 0 || static_cast<uint64_t>(size.QuadPart) > kMaxPictureFileBytes)
        return UniqueImage();
    const auto bytes = static_cast<DWORD>(size.QuadPart);
    UniqueGlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
    auto* data = memory ? static_cast<uint8_t*>(GlobalLock(memory.Get())) : nullptr;
    if (data == nullptr)
        return UniqueImage();
    DWORD read = 0;
    ImageHeader header;
    // The header checked is the one decoded: both come from these bytes.
    const bool safe = ReadFile(file.Get(), data, bytes, &read, nullptr) && read == bytes &&
                      ReadImageHeader(data, bytes, header) && IsSafePictureSize(bytes, header);
    GlobalUnlock(memory.Get());
    if (!safe)
        return UniqueImage();
    UniqueStream stream;
    if (FAILED(CreateStreamOnHGlobal(memory.Get(), TRUE, stream.Put())))
        return UniqueImage();
    memory.Release();   // the stream frees it
    UniqueImage decoded;
    UINT width = 0, height = 0;
    if (gp::GdipCreateBitmapFromStream(stream.Get(), decoded.Put()) != Ok ||
        gp::GdipGetImageWidth(decoded.Get(), &width) != Ok || gp::GdipGetImageHeight(decoded.Get(), &height) != Ok)
        return UniqueImage();
    ImageHeader decodedHeader = header;
    decodedHeader.width = width;
    decodedHeader.height = height;
    if (!IsSafePictureSize(bytes, decodedHeader))
        return UniqueImage();
    // Drawn once at its own size: a damaged file fails here, not later.
    UniqueImage copy = NewBitmap(static_cast<int>(width), static_cast<int>(height));
    UniqueGraphics graphics;
    if (!copy || gp::GdipGetImageGraphicsContext(copy.Get(), graphics.Put()) != Ok ||
        gp::GdipDrawImageRectI(graphics.Get(), decoded.Get(), 0, 0, static_cast<INT>(width),
                               static_cast<INT>(height)) != Ok)
        return UniqueImage();
    return copy;
}

bool FindAccountPicture(const wchar_t* accountName, WString& path, double osVersion)
{
    PictureSources sources;
    return PrepareSources(sources, osVersion) && FindPicture(sources, accountName, path, osVersion);
}

void FindAccountPictures(const std::vector<const wchar_t*>& accountNames, std::vector<WString>& paths,
                         double osVersion)
{
    paths.resize(accountNames.size());
    PictureSources sources;
    const bool prepared = PrepareSources(sources, osVersion);
    for (size_t i = 0; i < accountNames.size(); ++i) {
        if (!prepared || !FindPicture(sources, accountNames[i], paths[i], osVersion))
            paths[i].Clear();
    }
}

UniqueBitmap LoadAccountPictureBitmap(const wchar_t* accountName, double osVersion, int size, uint32_t background)
{
    if (accountName == nullptr || *accountName == L'\0')
        return UniqueBitmap();
    WString path;
    UniqueImage picture = FindAccountPicture(accountName, path, osVersion) ? LoadPictureFile(path.Text())
                                                                           : MakeGenericPicture(osVersion);
    if (!picture)
        return UniqueBitmap();
    UniqueImage row = ScaledCopy(picture.Get(), size, size);
    return row ? ToGdiBitmap(row.Get(), background) : UniqueBitmap();
}

bool SetAccountPicture(const wchar_t* accountName, Gdiplus::GpBitmap* image, PictureFit fit, double osVersion)
{
    UINT width = 0;
    if (image == nullptr || accountName == nullptr || *accountName == L'\0' ||
        gp::GdipGetImageWidth(image, &width) != Ok)
        return false;
    const int size = AccountPictureSize(osVersion);
    CLSID bitmapEncoder{};
    if (!FindImageEncoder(L".bmp", bitmapEncoder))
        return false;
    UniqueImage square = FitPicture(image, size, size, fit);
    if (!square)
        return false;

    if (!ShellKeepsPictures(osVersion)) {
        WString folder;
        if (!GetUserPicturesFolder(folder) || !CreateDirectoryPath(folder.Text()))
            return false;
        WString legacy = LegacyPictureFile(folder.Text(), accountName);
        return !legacy.IsEmpty() && ClearForWriting(legacy.Text()) &&
               SaveImage(square.Get(), legacy.Text(), bitmapEncoder);
    }

    ScratchFolder scratch;
    WString handOver(scratch.FileNamed(L"picture.bmp"));
    if (handOver.IsEmpty() || !SaveImage(square.Get(), handOver.Text(), bitmapEncoder))
        return false;
    bool result = false;
    {
        UniqueLibrary shell = LoadShell();
        FARPROC address = shell ? machine::GetProcAddress(shell.Get(), MAKEINTRESOURCEA(machine::kSetPictureOrdinal))
                                : nullptr;
        if (address != nullptr)
            result = machine::AsFunction<machine::SetPictureFunction>(address)(accountName, 0, handOver.Text()) == 0;
    }

    size_t count = 0;
    if (PictureSetTable(osVersion, count) != nullptr && count > 0) {
        WString sid(accountName);
        if (GetAccountSidString(sid)) {
            // The set belongs to the system: written as the account that runs sign-in.
            UniqueHandle token = ImpersonateProcessUser(L"Winlogon.exe");
            if (!token)
                token = ImpersonateProcessUser(L"Wininit.exe");
            if (!token)
                token = ImpersonateProcessUser(L"Services.exe");
            WritePictureSet(sid.Text(), image, square.Get(), fit, osVersion);
            if (token)
                RevertToSelf();
        }
    }
    return result;
}

namespace {

// The bitmap's pixels as 32-bit ARGB, row by row; empty when unreadable.
std::vector<uint32_t> PixelsOf(Gdiplus::GpBitmap* bitmap, UINT& width, UINT& height)
{
    std::vector<uint32_t> pixels;
    if (gp::GdipGetImageWidth(bitmap, &width) != Ok || gp::GdipGetImageHeight(bitmap, &height) != Ok ||
        width == 0 || height == 0 || width > 4096 || height > 4096)
        return pixels;
    Gdiplus::Rect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData data{};
    if (gp::GdipBitmapLockBits(bitmap, &whole, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok)
        return pixels;
    pixels.resize(static_cast<size_t>(width) * height);
    // A bottom-up bitmap has a negative stride.
    for (UINT y = 0; y < height; ++y)
        memcpy(&pixels[static_cast<size_t>(y) * width],
               static_cast<const BYTE*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride, width * 4);
    gp::GdipBitmapUnlockBits(bitmap, &data);
    return pixels;
}

}  // namespace

bool AccountPictureMatches(const wchar_t* accountName, const wchar_t* file, Gdiplus::GpBitmap* image, PictureFit fit,
                           double osVersion)
{
    WString path;
    if (image == nullptr || file == nullptr || !FindAccountPicture(accountName, path, osVersion))
        return false;
    WString full = FullPathName(file), storedFull = FullPathName(path.Text());
    if (full.Valid() && storedFull.Valid() && EqualsNoCase(full.Text(), storedFull.Text()))
        return true;
    UniqueImage stored = LoadPictureFile(path.Text());
    if (!stored)
        return false;
    UINT storedWidth = 0, storedHeight = 0, width = 0, height = 0;
    const std::vector<uint32_t> was = PixelsOf(stored.Get(), storedWidth, storedHeight);
    if (was.empty())
        return false;
    if (was == PixelsOf(image, width, height) && width == storedWidth)
        return true;
    const int size = AccountPictureSize(osVersion);
    UniqueImage square = FitPicture(image, size, size, fit);
    return square && was == PixelsOf(square.Get(), width, height) && width == storedWidth;
}

bool FindDefaultPictureFile(WString& path)
{
    WString folder;
    if (!GetUserPicturesFolder(folder))
        return false;
    WString user(folder.Text());
    user.Append(L"user.bmp");
    if (PictureFileExists(user.Text()))
        return path.Assign(user.Text());
    if (FirstStockPicture(folder.Text(), path))
        return true;
    path.Assign(user.Text());
    return false;
}

UniqueHandle ImpersonateProcessUser(const wchar_t* processName)
{
    if (processName == nullptr || *processName == L'\0')
        return UniqueHandle();
    DWORD processId = 0;
    {
        UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
             more = Process32NextW(snapshot.Get(), &entry)) {
            if (lstrcmpiW(entry.szExeFile, processName) == 0) {
                processId = entry.th32ProcessID;
                break;
            }
        }
    }
    if (processId == 0)
        return UniqueHandle();
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    UniqueHandle token;
    UniqueHandle duplicate;
    if (!process || !OpenProcessToken(process.Get(), TOKEN_DUPLICATE | TOKEN_QUERY, token.Put()) ||
        !DuplicateToken(token.Get(), SecurityImpersonation, duplicate.Put()) ||
        !ImpersonateLoggedOnUser(duplicate.Get()))
        return UniqueHandle();
    return duplicate;
}
