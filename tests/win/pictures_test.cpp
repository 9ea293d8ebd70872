// Account pictures against GDI+, Wine's registry and file system, and the
// simulated machine's shell exports. Every version the program supports is
// given as an input on the one Wine there is.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/narrow.h"
#include "accounts/lookup.h"
#include "accounts/pictures.h"
#include "accounts/row_pictures.h"
#include "platform/registry.h"
#include "sandbox/sandbox.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_support.h"
#include "ui/drawing.h"

namespace gp = Gdiplus::DllExports;

namespace {

// What an opaque pixel of the image shows (see ColourKind); '?' for any other.
char Kind(Gdiplus::GpBitmap* image, int x, int y)
{
    const Gdiplus::ARGB c = harness::ImagePixel(image, x, y);
    return (c >> 24) != 0xFF ? '?' : harness::ColourKind(RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
}

// A file decoded back by GDI+ itself: its size, "none" when it does not decode.
std::string DecodedSize(const std::wstring& path)
{
    UniqueImage image;
    gp::GdipCreateBitmapFromFile(path.c_str(), image.Put());
    return harness::SizeText(image.Get());
}

using repair_test::ReadBytes;

std::wstring PicturesFolder()
{
    WString folder;
    EXPECT_TRUE(GetUserPicturesFolder(folder));
    return folder.Text();
}

std::wstring SidOf(const wchar_t* account)
{
    WString sid(account);
    EXPECT_TRUE(GetAccountSidString(sid)) << Show(account);
    return sid.Text();
}

std::wstring ReadValue(const std::wstring& keyPath, const wchar_t* name)
{
    RegKey key;
    WString text;
    if (!key.Open(keyPath.c_str(), KEY_READ) || !key.QueryString(name, text))
        return L"";
    return text.Text();
}

std::vector<std::wstring> ValueNames(const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    RegKey key;
    if (!key.Open(keyPath.c_str(), KEY_READ))
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        if (RegEnumValueW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    return names;
}

class Pictures : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        StartGdiplusForTests();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Narrow(error);
        sandbox::ClearRecord();
        folder_ = TestFolder(L"pictures");
    }

    std::wstring folder_;
};

}  // namespace

TEST_F(Pictures, FitPictureDrawsA200By100SourceInEachFit)
{
    UniqueImage wide = harness::StripedPicture(200, 100, true);
    struct Case {
        PictureFit fit;
        // What each row band and column band must be: the first and last
        // pixel next to a change of colour may blend, the others may not.
        std::vector<std::pair<int, std::string>> rows;   // {row, 48 kinds}
    } cases[] = {
        // Centre: 48 wide, 24 high at y = 12, white above and below.
        {PictureFit::Center,
         {{0, std::string(48, 'W')},
          {11, std::string(48, 'W')},
          {13, std::string(12, 'R') + std::string(24, 'G') + std::string(12, 'B')},
          {24, std::string(12, 'R') + std::string(24, 'G') + std::string(12, 'B')},
          {34, std::string(12, 'R') + std::string(24, 'G') + std::string(12, 'B')},
          {36, std::string(48, 'W')},
          {47, std::string(48, 'W')}}},
        // Crop: the middle 100 x 100, all green.
        {PictureFit::Crop, {{0, std::string(48, 'G')}, {24, std::string(48, 'G')}, {47, std::string(48, 'G')}}},
        // Stretch: the whole source squeezed, no white anywhere.
        {PictureFit::Stretch,
         {{0, std::string(12, 'R') + std::string(24, 'G') + std::string(12, 'B')},
          {47, std::string(12, 'R') + std::string(24, 'G') + std::string(12, 'B')}}},
    };
    for (const Case& c : cases) {
        UniqueImage fitted = FitPicture(wide.Get(), 48, 48, c.fit);
        ASSERT_TRUE(fitted) << static_cast<int>(c.fit);
        EXPECT_EQ("48x48", harness::SizeText(fitted.Get()));
        for (const auto& [row, expected] : c.rows) {
            std::string seen;
            for (int x = 0; x < 48; ++x)
                seen += Kind(fitted.Get(), x, row);
            // Blending is allowed only right at a change of colour.
            for (size_t x = 0; x < 48; ++x) {
                const bool edge = (x > 0 && expected[x - 1] != expected[x]) ||
                                  (x + 1 < 48 && expected[x + 1] != expected[x]);
                if (!edge) {
                    EXPECT_EQ(expected[x], seen[x]) << "fit " << static_cast<int>(c.fit) << " row " << row
                                                    << " column " << x << "\n  seen     " << seen
                                                    << "\n  expected " << expected;
                }
            }
        }
    }
}

TEST_F(Pictures, FitPictureTurnsTallAndSquareSources)
{
    UniqueImage tall = harness::StripedPicture(100, 200, false);
    UniqueImage centred = FitPicture(tall.Get(), 48, 48, PictureFit::Center);
    UniqueImage cropped = FitPicture(tall.Get(), 48, 48, PictureFit::Crop);
    ASSERT_TRUE(centred && cropped);
    for (int y : {2, 24, 45}) {
        EXPECT_EQ('W', Kind(centred.Get(), 5, y)) << "white band left, row " << y;
        EXPECT_EQ('W', Kind(centred.Get(), 42, y)) << "white band right, row " << y;
        EXPECT_EQ('G', Kind(cropped.Get(), 5, y)) << "crop row " << y;
    }
    EXPECT_EQ('R', Kind(centred.Get(), 24, 3));
    EXPECT_EQ('G', Kind(centred.Get(), 24, 24));
    EXPECT_EQ('B', Kind(centred.Get(), 24, 44));

    UniqueImage square = NewBitmap(60, 60);
    FillRoundRect(square.Get(), 0, 0, 60, 60, 0xFF0000FF, 0);
    for (PictureFit fit : {PictureFit::Center, PictureFit::Crop, PictureFit::Stretch}) {
        UniqueImage fitted = FitPicture(square.Get(), 126, 126, fit);
        ASSERT_TRUE(fitted);
        for (int at : {0, 63, 125})
            EXPECT_EQ('B', Kind(fitted.Get(), at, at)) << "fit " << static_cast<int>(fit) << " at " << at;
    }
    EXPECT_FALSE(FitPicture(nullptr, 48, 48, PictureFit::Crop));
    EXPECT_FALSE(FitPicture(square.Get(), 0, 0, PictureFit::Crop));
}

TEST_F(Pictures, TheWinePrefixNamesTheEncodersOfEveryPictureType)
{
    for (const wchar_t* extension : {L".bmp", L".jpg", L".jpeg", L".png", L".gif", L".tiff"}) {
        CLSID encoder{};
        EXPECT_TRUE(FindImageEncoder(extension, encoder)) << Show(extension);
    }
    CLSID encoder{};
    EXPECT_FALSE(FindImageEncoder(L".vantrell-none", encoder));
    EXPECT_FALSE(FindImageEncoder(L"", encoder));
}

TEST_F(Pictures, LoadPictureFileRefusesWhatIsNoSafeImage)
{
    UniqueImage picture = harness::StripedPicture(64, 32, true);
    const std::wstring bmp = folder_ + L"\\good.bmp", jpg = folder_ + L"\\good.jpg", png = folder_ + L"\\good.png";
    ASSERT_TRUE(harness::SavePicture(picture.Get(), bmp, L".bmp"));
    ASSERT_TRUE(harness::SavePicture(picture.Get(), jpg, L".jpg"));
    ASSERT_TRUE(harness::SavePicture(picture.Get(), png, L".png"));
    for (const std::wstring& path : {bmp, jpg, png}) {
        UniqueImage loaded = LoadPictureFile(path.c_str());
        ASSERT_TRUE(loaded) << Show(path);
        EXPECT_EQ("64x32", harness::SizeText(loaded.Get())) << Show(path);
    }

    // A PNG header announcing 20,000 x 20,000 pixels: over a gigabyte to decode.
    std::string huge = "\x89PNG\r\n\x1a\n" + std::string("\0\0\0\x0dIHDR", 8) + std::string("\0\0\x4e\x20\0\0\x4e\x20", 8) +
                       std::string("\x08\x06\0\0\0", 5) + std::string(64, '\0');
    std::string jpeg = ReadBytes(jpg);
    struct Case {
        const char* what;
        std::wstring path;
        std::string bytes;
    } cases[] = {
        {"text", folder_ + L"\\notes.jpg", "This is not a picture at all.\r\n"},
        {"empty", folder_ + L"\\empty.png", ""},
        {"huge", folder_ + L"\\huge.png", huge},
        {"cut short", folder_ + L"\\cut.jpg", jpeg.substr(0, jpeg.size() / 3)},
    };
    for (const Case& c : cases) {
        WriteTextFile(c.path, c.bytes);
        EXPECT_FALSE(LoadPictureFile(c.path.c_str())) << c.what;
    }
    EXPECT_FALSE(LoadPictureFile(folder_.c_str())) << "a folder";
    EXPECT_FALSE(LoadPictureFile((folder_ + L"\\missing.bmp").c_str()));
    EXPECT_FALSE(LoadPictureFile(L""));
}

TEST_F(Pictures, SetAccountPictureBelowSixWritesTheLegacyBitmap)
{
    harness::ForgetAccountPictures(L"lchen");
    UniqueImage picture = harness::StripedPicture(200, 100, true);
    ASSERT_TRUE(SetAccountPicture(L"lchen", picture.Get(), PictureFit::Crop, 5.1));
    const std::wstring legacy = LegacyPictureFile(PicturesFolder().c_str(), L"lchen").Text();
    EXPECT_EQ("48x48", DecodedSize(legacy)) << Show(legacy);
    EXPECT_TRUE(sandbox::RecordedActions().empty()) << "the shell is not asked below 6.0";
    EXPECT_TRUE(ValueNames(PictureSetKeyPath(SidOf(L"lchen").c_str()).Text()).empty());

    // A name that would leave the pictures folder is refused outright.
    EXPECT_FALSE(SetAccountPicture(L"..\\..\\evil", picture.Get(), PictureFit::Crop, 5.1));
    EXPECT_FALSE(SetAccountPicture(L"lchen", nullptr, PictureFit::Crop, 5.1));
}

TEST_F(Pictures, SetAccountPictureFromSixHandsTheShellAFileOfItsSize)
{
    for (double version : {6.0, 6.1}) {
        harness::ForgetAccountPictures(L"lchen");
        sandbox::ClearRecord();
        UniqueImage picture = harness::StripedPicture(100, 200, false);
        ASSERT_TRUE(SetAccountPicture(L"lchen", picture.Get(), PictureFit::Center, version)) << version;
        auto actions = sandbox::RecordedActions();
        ASSERT_EQ(1u, actions.size()) << version;
        EXPECT_EQ(L"SetAccountPicture", actions[0].call);
        EXPECT_EQ(L"lchen", actions[0].details[L"account"]);
        // A file made new in a folder of the call's own, gone with it: no
        // fixed name in the temporary folder that someone could have planted.
        const std::wstring handOver = actions[0].details[L"file"];
        const std::wstring folder = handOver.substr(0, handOver.rfind(L'\\'));
        EXPECT_NE(std::wstring::npos, folder.find(L"\\Vantrell-")) << Narrow(handOver);
        EXPECT_FALSE(std::filesystem::exists(folder)) << Narrow(handOver);
        // The shell keeps its own copy: the account's picture is now that copy.
        WString found;
        ASSERT_TRUE(FindAccountPicture(L"lchen", found, version));
        EXPECT_NE(handOver, std::wstring(found.Text()));
        EXPECT_EQ("126x126", DecodedSize(found.Text()));
        EXPECT_TRUE(ValueNames(PictureSetKeyPath(SidOf(L"lchen").c_str()).Text()).empty()) << version;
    }
}

// The set's names and sizes per version are the picture rules' (core tests).
TEST_F(Pictures, SetAccountPictureFromSixTwoWritesTheJpegSet)
{
    for (double version : {6.2, 6.3, 10.0}) {
        size_t count = 0;
        const PictureSetEntry* table = PictureSetTable(version, count);
        const std::vector<PictureSetEntry> entries(table, table + count);
        harness::ForgetAccountPictures(L"jokafor");
        const std::wstring sid = SidOf(L"jokafor");
        const std::wstring key = PictureSetKeyPath(sid.c_str()).Text();
        const std::wstring set = PictureSetFolder(sid.c_str()).Text();
        UniqueImage picture = harness::StripedPicture(300, 120, true);
        ASSERT_TRUE(SetAccountPicture(L"jokafor", picture.Get(), PictureFit::Crop, version)) << version;
        ASSERT_GE(entries.size(), 5u) << version;
        EXPECT_EQ(entries.size(), ValueNames(key).size()) << version;
        std::vector<std::wstring> first;
        for (const PictureSetEntry& entry : entries) {
            const std::wstring file = ReadValue(key, entry.valueName);
            first.push_back(file);
            EXPECT_EQ(0u, file.rfind(set + L"\\{", 0)) << Show(file);
            EXPECT_NE(std::wstring::npos, file.find(L"}-" + std::wstring(entry.valueName) + L".jpg")) << Show(file);
            const DWORD attributes = GetFileAttributesW(file.c_str());
            EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
                      attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
                << Show(file);
            EXPECT_EQ(std::to_string(entry.size) + "x" + std::to_string(entry.size), DecodedSize(file))
                << version << " " << Show(entry.valueName);
            // A real JPEG, not a bitmap under that name.
            EXPECT_EQ(0, ReadBytes(file).compare(0, 2, "\xFF\xD8")) << Show(file);
        }
        // A second set reuses every name and leaves no other file behind.
        UniqueImage other = harness::StripedPicture(80, 80, false);
        ASSERT_TRUE(SetAccountPicture(L"jokafor", other.Get(), PictureFit::Stretch, version));
        for (size_t i = 0; i < entries.size(); ++i)
            EXPECT_EQ(first[i], ReadValue(key, entries[i].valueName)) << version << " " << Show(entries[i].valueName);
        size_t files = 0;
        for (auto& entry : std::filesystem::directory_iterator(set)) {
            (void)entry;
            ++files;
        }
        EXPECT_EQ(entries.size(), files) << version;
    }
}

TEST_F(Pictures, ASetNeverTouchesAFileItsKeyNamesOutsideTheSidFolder)
{
    harness::ForgetAccountPictures(L"jokafor");
    const std::wstring sid = SidOf(L"jokafor");
    const std::wstring key = PictureSetKeyPath(sid.c_str()).Text();
    const std::wstring set = PictureSetFolder(sid.c_str()).Text();
    struct Case {
        const wchar_t* value;
        std::wstring target;   // what the value names
    } cases[] = {
        {L"Image448", folder_ + L"\\precious.jpg"},
        {L"Image240", set + L"\\..\\decoy.jpg"},
        {L"Image192", set + L"\\sub\\inner.jpg"},
    };
    std::filesystem::create_directories(set + L"\\sub");
    RegKey writer(OpenKey(key.c_str(), kCreateKeyAccess));
    ASSERT_TRUE(writer);
    for (const Case& c : cases) {
        WriteTextFile(c.target, std::string("keep me: ") + Narrow(c.value));
        ASSERT_TRUE(writer.SetValue(c.value, REG_SZ, c.target.c_str(), 0));
    }
    writer.Close();

    UniqueImage picture = harness::StripedPicture(64, 64, true);
    ASSERT_TRUE(SetAccountPicture(L"jokafor", picture.Get(), PictureFit::Crop, 10.0));
    for (const Case& c : cases) {
        EXPECT_EQ(std::string("keep me: ") + Narrow(c.value), ReadBytes(c.target)) << Show(c.target);
        const std::wstring now = ReadValue(key, c.value);
        EXPECT_NE(c.target, now);
        EXPECT_EQ(0u, now.rfind(set + L"\\{", 0)) << Show(now);
        EXPECT_EQ(std::wstring::npos, now.find(L"\\..")) << Show(now);
        EXPECT_NE("none", DecodedSize(now)) << Show(now);
    }
    std::error_code ignored;
    std::filesystem::remove(set + L"\\..\\decoy.jpg", ignored);
}

TEST_F(Pictures, FindAccountPictureTakesTheShellsAnswerFirst)
{
    for (double version : {5.1, 6.0, 10.0}) {
        WString path;
        ASSERT_TRUE(FindAccountPicture(L"mhartley", path, version)) << version;
        EXPECT_NE(std::wstring::npos, std::wstring(path.Text()).find(L"Vantrell Sandbox\\Pictures\\mhartley.bmp"))
            << version << " " << Show(path.Text());
    }
    EXPECT_FALSE(LoadAccountPictureBitmap(L"", 10.0)) << "no account, no row picture";
}

TEST_F(Pictures, FindAccountPictureFallsBackToLegacyStockAndGenericPictures)
{
    const std::wstring pictures = PicturesFolder();
    const std::wstring legacy = LegacyPictureFile(pictures.c_str(), L"lchen").Text();
    const std::wstring stock = pictures + L"Default Pictures";
    std::error_code ignored;
    std::filesystem::remove(legacy, ignored);
    std::filesystem::remove_all(stock, ignored);

    // Nothing at all: no file is named, and none is written; the generic
    // picture is drawn in memory from the shell library's icon.
    const std::wstring temp = std::filesystem::temp_directory_path().wstring();
    const auto before = std::distance(std::filesystem::directory_iterator(temp), {});
    WString path;
    EXPECT_FALSE(FindAccountPicture(L"lchen", path, 10.0));
    EXPECT_FALSE(FindAccountPicture(L"lchen", path, 6.1));
    EXPECT_EQ(before, std::distance(std::filesystem::directory_iterator(temp), {})) << "a lookup writes no file";
    UniqueImage generic = GenericAccountPicture(10.0);
    UINT width = 0;
    ASSERT_TRUE(generic);
    EXPECT_EQ(Gdiplus::Ok, Gdiplus::DllExports::GdipGetImageWidth(generic.Get(), &width));
    EXPECT_EQ(256u, width);

    // Below 6.0 the first stock picture becomes the account's own bitmap.
    std::filesystem::create_directories(stock);
    UniqueImage picture = harness::StripedPicture(96, 96, true);
    ASSERT_TRUE(harness::SavePicture(picture.Get(), stock + L"\\aa-first.bmp", L".bmp"));
    EXPECT_FALSE(FindAccountPicture(L"lchen", path, 6.1)) << "only below 6.0";
    ASSERT_TRUE(FindAccountPicture(L"lchen", path, 5.1));
    EXPECT_EQ(legacy, std::wstring(path.Text()));
    EXPECT_EQ(ReadBytes(stock + L"\\aa-first.bmp"), ReadBytes(legacy));

    // The legacy bitmap is found on every version once it is there.
    ASSERT_TRUE(FindAccountPicture(L"lchen", path, 10.0));
    EXPECT_EQ(legacy, std::wstring(path.Text()));

    WString defaultPicture;
    EXPECT_TRUE(FindDefaultPictureFile(defaultPicture));
    EXPECT_EQ(stock + L"\\aa-first.bmp", std::wstring(defaultPicture.Text()));
    std::filesystem::remove(legacy, ignored);
    std::filesystem::remove_all(stock, ignored);
    EXPECT_FALSE(FindDefaultPictureFile(defaultPicture));
    EXPECT_EQ(pictures + L"user.bmp", std::wstring(defaultPicture.Text()));
}

// (The row's 48-pixel picture is the loader's test below; that the row shows
// the account's own colours, the creation dialog's.)

TEST_F(Pictures, ImpersonateProcessUserFindsTheProcessByName)
{
    EXPECT_FALSE(ImpersonateProcessUser(L""));
    EXPECT_FALSE(ImpersonateProcessUser(nullptr));
    EXPECT_FALSE(ImpersonateProcessUser(L"no-such-process-vantrell.exe"));
    // Wine runs services.exe but neither Winlogon.exe nor Wininit.exe.
    UniqueHandle token = ImpersonateProcessUser(L"SERVICES.EXE");
    ASSERT_TRUE(token);
    HANDLE threadToken = nullptr;
    EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken)) << "the thread impersonates";
    if (threadToken != nullptr)
        CloseHandle(threadToken);
    EXPECT_TRUE(RevertToSelf());
    threadToken = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken));
}

namespace {

// Handles the thread's messages until `done` holds, up to `seconds`.
bool PumpUntil(const std::function<bool()>& done, int seconds)
{
    return WaitUntil("the loader's pictures (or none, when a timeout is the pass)", [&] {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        return done();
    }, static_cast<DWORD>(seconds) * 1000);
}

// A picture the worker read is posted to this thread: it waits in the queue.
bool PictureOnItsWay()
{
    return WaitUntil("a picture on its way", [] { return (HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) != 0; });
}

struct Delivered {
    int row;
    std::wstring name;
    int width;
};

}  // namespace

TEST_F(Pictures, RowPictureLoaderDeliversEachRowOnTheCallingThreadOnce)
{
    std::vector<Delivered> delivered;
    const DWORD thread = GetCurrentThreadId();
    bool foreignThread = false;
    RowPictureLoader loader(
        [&](int row, const std::wstring& name, UniqueBitmap picture) {
            foreignThread = foreignThread || GetCurrentThreadId() != thread;
            BITMAP info{};
            GetObjectW(picture.Get(), sizeof(info), &info);
            delivered.push_back({row, name, info.bmWidth});
        },
        10.0);
    const std::vector<std::wstring> names = {L"mhartley", L"jokafor", L"lchen", L"skowalski"};
    ASSERT_TRUE(loader.Start(names));
    // Nothing is read before it is allowed.
    PumpUntil([] { return false; }, 1);
    EXPECT_TRUE(delivered.empty()) << delivered.size() << " pictures before reading was allowed";
    EXPECT_EQ(names.size(), loader.Pending());
    loader.AllowReading();
    ASSERT_TRUE(PumpUntil([&] { return loader.Pending() == 0; }, 30));
    ASSERT_EQ(names.size(), delivered.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(static_cast<int>(i), delivered[i].row);
        EXPECT_EQ(names[i], delivered[i].name);
        EXPECT_EQ(48, delivered[i].width);
    }
    EXPECT_FALSE(foreignThread) << "pictures are handed over on the thread that made the loader";
}

TEST_F(Pictures, RowPictureLoaderDropsAStoppedRunAndSkippedAccounts)
{
    std::vector<Delivered> delivered;
    RowPictureLoader loader(
        [&](int row, const std::wstring& name, UniqueBitmap) { delivered.push_back({row, name, 0}); }, 10.0);
    loader.AllowReading();
    std::vector<std::wstring> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(i % 2 == 0 ? L"mhartley" : L"jokafor");
    ASSERT_TRUE(loader.Start(many));
    ASSERT_TRUE(PictureOnItsWay());   // none handled yet
    ASSERT_TRUE(loader.Start({L"lchen", L"skowalski", L"mhartley"}));
    loader.Skip(L"SKOWALSKI");
    ASSERT_TRUE(PumpUntil([&] { return loader.Pending() == 0; }, 30));
    PumpUntil([] { return false; }, 1);
    ASSERT_EQ(2u, delivered.size()) << "only the second run's rows, less the skipped account";
    EXPECT_EQ(L"lchen", delivered[0].name);
    EXPECT_EQ(0, delivered[0].row);
    EXPECT_EQ(L"mhartley", delivered[1].name);
    EXPECT_EQ(2, delivered[1].row);

    delivered.clear();
    ASSERT_TRUE(loader.Start(many));
    ASSERT_TRUE(PictureOnItsWay());
    loader.Stop();
    EXPECT_EQ(0u, loader.Pending());
    PumpUntil([] { return false; }, 1);
    EXPECT_TRUE(delivered.empty()) << delivered.size() << " pictures of a stopped run were delivered";
}
