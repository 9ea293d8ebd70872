#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "test_support.h"

namespace {

// Made by make-wine-links.sh before the tests: Unix links, which Wine
// presents as directory reparse points.
constexpr wchar_t kLinks[] = L"C:\\vantrell-links";

void Write(const std::wstring& path, const char* text)
{
    std::wstring full = path;
    if (full.size() >= MAX_PATH && full.compare(0, 4, L"\\\\?\\") != 0)
        full = L"\\\\?\\" + full;
    UniqueFileHandle file(CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file) << Show(full) << " error " << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), text, static_cast<DWORD>(strlen(text)), &written, nullptr));
}

void MakeDirectory(const std::wstring& path)
{
    std::wstring full = path.size() >= 248 ? L"\\\\?\\" + path : path;
    ASSERT_TRUE(CreateDirectoryW(full.c_str(), nullptr)) << Show(full) << " error " << GetLastError();
}

bool Exists(const std::wstring& path)
{
    std::wstring full = path.size() >= MAX_PATH ? L"\\\\?\\" + path : path;
    return GetFileAttributesW(full.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::set<std::wstring> Names(const std::wstring& pattern, uint32_t filter)
{
    std::set<std::wstring> names;
    DirectoryIterator entries(pattern.c_str(), filter);
    while (entries.Next())
        names.insert(entries.Name());
    return names;
}

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::wstring PendingRenames()
{
    RegKey key;
    WString text;
    if (key.Open((std::wstring(L"HKLM\\") + kSessionManager).c_str(), KEY_READ))
        key.QueryString(L"PendingFileRenameOperations", text);
    return text.Text();
}

}  // namespace

TEST(DirectoryIterator, FiltersAWineLinkByItsAttributes)
{
    const std::wstring pattern = std::wstring(kLinks) + L"\\loop\\sub\\*";
    ASSERT_TRUE(Exists(std::wstring(kLinks) + L"\\loop\\sub\\up")) << "make-wine-links.sh has not run";
    struct Case {
        uint32_t filter;
        std::set<std::wstring> names;
    } const cases[] = {
        {0, {L"b.bin", L"up"}},
        {kSkipReparsePoints, {L"b.bin"}},
        {kOnlyFiles, {L"b.bin"}},
        {kOnlyDirectories, {L"up"}},
        {kOnlyDirectories | kSkipReparsePoints, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.names, Names(pattern, c.filter)) << "filter " << c.filter;

    DirectoryIterator missing(L"C:\\vantrell-links\\absent\\*", 0);
    EXPECT_FALSE(missing.Started());
    EXPECT_FALSE(missing.Next());
}

TEST(DirectorySize, ALinkToItsOwnParentIsNotFollowed)
{
    ASSERT_TRUE(Exists(std::wstring(kLinks) + L"\\loop\\sub\\up")) << "make-wine-links.sh has not run";
    EXPECT_EQ(10u, DirectorySize(L"C:\\vantrell-links\\loop"));
    EXPECT_EQ(10u, DirectorySize(L"C:\\vantrell-links\\loop\\"));
    EXPECT_EQ(0u, DirectorySize(L"C:\\vantrell-links\\absent"));
}

// Wine will not remove a link whose target holds entries (it reports the
// folder as not empty), so the link stays; what must hold is that deletion
// never reaches through it.
TEST(DeletePath, NeverEntersADirectoryLink_WineCannotRemoveTheLink)
{
    const std::wstring tree = std::wstring(kLinks) + L"\\tree";
    ASSERT_TRUE(Exists(tree + L"\\link")) << "make-wine-links.sh has not run";
    EXPECT_EQ(kDeleteFailed, DeletePath(tree.c_str(), kDeleteTakeOver));
    EXPECT_TRUE(Exists(std::wstring(kLinks) + L"\\target\\keep.txt"));
    EXPECT_FALSE(Exists(tree + L"\\sub"));
    EXPECT_TRUE(Exists(tree + L"\\link"));
}

TEST(DeletePath, ClearsAttributesAndReachesLongAndNonAsciiPaths)
{
    const std::wstring root = TestFolder(L"delete-attributes");
    const std::wstring top = root + L"\\profil \u00e9t\u00e9 \u65e5\u672c";
    MakeDirectory(top);
    Write(top + L"\\read-only.txt", "r");
    ASSERT_TRUE(SetFileAttributesW((top + L"\\read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    MakeDirectory(top + L"\\hidden");
    Write(top + L"\\hidden\\inner.txt", "h");
    ASSERT_TRUE(SetFileAttributesW((top + L"\\hidden").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    std::wstring deep = top;
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(40, L'd');
        MakeDirectory(deep);
    }
    Write(deep + L"\\deep.txt", "d");
    ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));

    EXPECT_EQ(3u, DirectorySize(top.c_str()));
    // Wine does not pass the shell's change notices on to registered
    // windows, so the SHCNE_RMDIR notice is not checked here.
    EXPECT_EQ(kDeleteDone, DeletePath((top + L"\\").c_str(), 0));
    EXPECT_FALSE(Exists(top));
    EXPECT_TRUE(Exists(root));

    EXPECT_EQ(kDeleteDone, DeletePath((root + L"\\absent.txt").c_str(), 0));
    EXPECT_EQ(kDeleteDone, DeletePath((root + L"\\absent\\deeper\\x.txt").c_str(), 3));
    EXPECT_EQ(kDeleteFailed, DeletePath(L"C:\\", 2));
    EXPECT_EQ(kDeleteFailed, DeletePath(L"nothing", 2));
    EXPECT_TRUE(Exists(L"C:\\windows"));
}

TEST(DeletePath, WildcardsDeleteMatchesAndKeepTheFolder)
{
    const std::wstring root = TestFolder(L"delete-wildcard");
    for (const wchar_t* name : {L"\\a.tmp", L"\\b.tmp", L"\\keep.txt"})
        Write(root + name, "x");
    MakeDirectory(root + L"\\sub.tmp");
    Write(root + L"\\sub.tmp\\inside.txt", "x");
    EXPECT_EQ(kDeleteDone, DeletePath((root + L"\\*.tmp").c_str(), 0));
    EXPECT_EQ(std::set<std::wstring>({L"keep.txt"}), Names(root + L"\\*", 0));

    Write(root + L"\\file.txt", "x");
    EXPECT_EQ(kDeleteDone, DeletePath((root + L"\\file.txt").c_str(), 0));
    EXPECT_FALSE(Exists(root + L"\\file.txt"));

    MakeDirectory(root + L"\\kept");
    Write(root + L"\\kept\\one.txt", "x");
    MakeDirectory(root + L"\\kept\\two");
    EXPECT_EQ(kDeleteDone, DeletePath((root + L"\\kept").c_str(), 6));
    EXPECT_TRUE(Exists(root + L"\\kept"));
    EXPECT_TRUE(Names(root + L"\\kept\\*", 0).empty());
}

// Wine enforces share modes, so a file held open without sharing cannot be deleted.
TEST(DeletePath, ALockedFileIsScheduledOrFails)
{
    RegKey manager;
    ASSERT_TRUE(manager.Open((std::wstring(L"HKLM\\") + kSessionManager).c_str(), KEY_ALL_ACCESS));
    RegDeleteValueW(manager.Get(), L"PendingFileRenameOperations");

    struct Case {
        uint32_t flags;
        int result;
        bool scheduled;
    } const cases[] = {
        {kDeleteTakeOver | kDeleteScheduleAtRestart, kDeleteScheduled, true},
        {kDeleteTakeOver, kDeleteFailed, false},
    };
    for (const Case& c : cases) {
        const std::wstring root = TestFolder(L"delete-locked");
        Write(root + L"\\locked.dat", "l");
        Write(root + L"\\free.dat", "f");
        MakeDirectory(root + L"\\sub");
        UniqueFileHandle held(CreateFileW((root + L"\\locked.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          0, nullptr));
        ASSERT_TRUE(held);

        EXPECT_EQ(c.result, DeletePath(root.c_str(), c.flags)) << "flags " << c.flags;
        EXPECT_FALSE(Exists(root + L"\\free.dat")) << "flags " << c.flags;
        EXPECT_FALSE(Exists(root + L"\\sub")) << "flags " << c.flags;
        EXPECT_TRUE(Exists(root + L"\\locked.dat")) << "flags " << c.flags;
        const std::wstring pending = PendingRenames();
        EXPECT_EQ(c.scheduled, pending.find(L"locked.dat") != std::wstring::npos)
            << "flags " << c.flags << ": " << Show(pending);
        RegDeleteValueW(manager.Get(), L"PendingFileRenameOperations");
    }
}

TEST(CreateDirectoryPath, CreatesEveryLevelAndRefusesBelowAFile)
{
    const std::wstring root = TestFolder(L"create");
    Write(root + L"\\file", "x");
    std::wstring deep = root + L"\\\u00e9\u00e8";
    while (deep.size() < 300)
        deep += L"\\" + std::wstring(50, L'n');
    struct Case {
        std::wstring path;
        bool created;
    } const cases[] = {
        {root + L"\\one\\two\\three", true},
        {root + L"\\one\\two\\three\\", true},   // now existing
        {root + L"\\file\\below", false},
        {root + L"\\file", false},               // a file is no folder
        {deep, true},
        {L"C:", true},
        {L"C:\\", true},
        {L"Q:\\vantrell\\x", false},
        {L"ab", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.created, CreateDirectoryPath(c.path.c_str())) << Show(c.path);
        if (c.created) {
            std::wstring full = c.path.size() == 2 ? c.path + L"\\" : L"\\\\?\\" + c.path;
            DWORD attributes = GetFileAttributesW(full.c_str());
            EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                << Show(c.path);
        }
    }
}

TEST(MoveTree, RenamesOnOneVolumeAndCopiesAcrossVolumesOnlyWhenAllowed)
{
    const std::wstring root = TestFolder(L"move");
    auto fill = [](const std::wstring& folder) {
        MakeDirectory(folder);
        Write(folder + L"\\a.txt", "a");
        MakeDirectory(folder + L"\\sub \u00e9");
        Write(folder + L"\\sub \u00e9\\b.txt", "bb");
        Write(folder + L"\\sub \u00e9\\c.txt", "ccc");
    };

    fill(root + L"\\source");
    EXPECT_EQ(0u, MoveTree((root + L"\\source").c_str(), (root + L"\\moved").c_str(), 0));
    EXPECT_FALSE(Exists(root + L"\\source"));
    EXPECT_EQ(6u, DirectorySize((root + L"\\moved").c_str()));
    // Into itself: refused before anything moves.
    EXPECT_EQ(1u, MoveTree((root + L"\\moved").c_str(), (root + L"\\moved\\inner").c_str(), 3));
    EXPECT_FALSE(Exists(root + L"\\moved\\inner"));

    // Z: is the Unix root, so its /dev/shm is another file system than C:.
    const std::wstring other = L"Z:\\dev\\shm\\vantrell-tests-move-" + std::to_wstring(GetCurrentProcessId());
    std::filesystem::remove_all(other);
    EXPECT_EQ(3u, MoveTree((root + L"\\moved").c_str(), other.c_str(), 0));
    EXPECT_EQ(6u, DirectorySize((root + L"\\moved").c_str()));
    EXPECT_EQ(0u, MoveTree((root + L"\\moved").c_str(), other.c_str(),
                           MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(Exists(root + L"\\moved"));
    EXPECT_EQ(6u, DirectorySize(other.c_str()));
    std::filesystem::remove_all(other);
}

TEST(MoveTree, ASingleFileThatCannotMoveStaysAndIsCounted)
{
    const std::wstring root = TestFolder(L"move-file");
    Write(root + L"\\single.txt", "abc");
    const std::wstring other = L"Z:\\dev\\shm\\vantrell-tests-file-" + std::to_wstring(GetCurrentProcessId());
    std::filesystem::remove_all(other);

    // Across volumes without the copy flag the rename fails; no folder may
    // appear in the file's place and the file must stay.
    EXPECT_EQ(1u, MoveTree((root + L"\\single.txt").c_str(), other.c_str(), 0));
    EXPECT_FALSE(Exists(other));
    EXPECT_EQ(3u, DirectorySize(root.c_str()));

    EXPECT_EQ(0u, MoveTree((root + L"\\single.txt").c_str(), other.c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_FALSE(Exists(root + L"\\single.txt"));
    EXPECT_TRUE(Exists(other));
    std::filesystem::remove_all(other);
}

TEST(MoveTreeThread, StoresTheCountOfACompleteRequest)
{
    const std::wstring root = TestFolder(L"move-thread");
    MakeDirectory(root + L"\\from");
    Write(root + L"\\from\\x.txt", "x");
    int owner = 0;

    MoveRequest request;
    request.owner = &owner;
    request.source.Assign((root + L"\\from").c_str());
    request.destination.Assign((root + L"\\to").c_str());
    request.flags = MOVEFILE_COPY_ALLOWED;
    request.notMoved = 99;
    UniqueHandle thread(CreateThread(nullptr, 0, MoveTreeThread, &request, 0, nullptr));
    ASSERT_TRUE(thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.Get(), 30000));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.Get(), &code));
    EXPECT_EQ(1u, code);
    EXPECT_EQ(0u, request.notMoved);
    EXPECT_TRUE(Exists(root + L"\\to\\x.txt"));
    EXPECT_FALSE(Exists(root + L"\\from"));

    MoveRequest noOwner;
    noOwner.source.Assign((root + L"\\to").c_str());
    noOwner.destination.Assign((root + L"\\elsewhere").c_str());
    EXPECT_EQ(0u, MoveTreeThread(&noOwner));
    EXPECT_EQ(0u, MoveTreeThread(nullptr));
    MoveRequest noSource;
    noSource.owner = &owner;
    noSource.destination.Assign((root + L"\\made").c_str());
    EXPECT_EQ(1u, MoveTreeThread(&noSource));
    EXPECT_TRUE(Exists(root + L"\\made"));
    MoveRequest noDestination;
    noDestination.owner = &owner;
    noDestination.source.Assign((root + L"\\to").c_str());
    EXPECT_EQ(0u, MoveTreeThread(&noDestination));
    EXPECT_FALSE(Exists(root + L"\\elsewhere"));
}
