#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/tree_walk.h"
#include "tests/win/repair_test_support.h"
#include "test_support.h"

using repair_test::Joined;
using repair_test::PendingRenames;

namespace {

// Made by make-wine-links.sh before the tests: Unix links, which Wine
// presents as directory reparse points.
constexpr wchar_t kLinks[] = L"C:\\vantrell-links";

void Write(const std::wstring& path, const char* text)
{
    ASSERT_TRUE(WriteTextFile(path, text)) << Show(path) << " error " << GetLastError();
}

void MakeDirectory(const std::wstring& path)
{
    ASSERT_TRUE(CreateDirectoryW(LongForm(path).c_str(), nullptr)) << Show(path) << " error " << GetLastError();
}

// A path on another file system than C: (Z: is the Unix root, /dev/shm a
// tmpfs), nothing there yet.
std::wstring OtherVolume(const wchar_t* name)
{
    const std::wstring path = L"Z:\\dev\\shm\\" + std::wstring(name) + std::to_wstring(GetCurrentProcessId());
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    return path;
}

std::set<std::wstring> Names(const std::wstring& pattern, uint32_t filter)
{
    std::set<std::wstring> names;
    DirectoryIterator entries(pattern.c_str(), filter);
    while (entries.Next())
        names.insert(entries.Name());
    return names;
}

}  // namespace

TEST(DirectoryIterator, FiltersAWineLinkByItsAttributes)
{
    const std::wstring pattern = std::wstring(kLinks) + L"\\loop\\sub\\*";
    ASSERT_TRUE(PathExists(std::wstring(kLinks) + L"\\loop\\sub\\up")) << "make-wine-links.sh has not run";
    struct { uint32_t filter; std::set<std::wstring> names; } const cases[] = {
        {0, {L"b.bin", L"up"}}, {kSkipReparsePoints, {L"b.bin"}}, {kOnlyDirectories, {L"up"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.names, Names(pattern, c.filter)) << "filter " << c.filter;

    DirectoryIterator missing(L"C:\\vantrell-links\\absent\\*", 0);
    EXPECT_FALSE(missing.Started());
    EXPECT_FALSE(missing.Next());
}

TEST(DirectorySize, ALinkToItsOwnParentIsNotFollowed)
{
    ASSERT_TRUE(PathExists(std::wstring(kLinks) + L"\\loop\\sub\\up")) << "make-wine-links.sh has not run";
    EXPECT_EQ(10u, DirectorySize(L"C:\\vantrell-links\\loop"));
    EXPECT_EQ(10u, DirectorySize(L"C:\\vantrell-links\\loop\\"));
    EXPECT_EQ(0u, DirectorySize(L"C:\\vantrell-links\\absent"));
    // Two files, one folder and the link, counted and never entered.
    const TreeMeasure loop = MeasureTree(L"C:\\vantrell-links\\loop");
    EXPECT_EQ((std::vector<uint64_t>{2, 10, 1, 1}),
              (std::vector<uint64_t>{loop.files, loop.bytes, loop.folders, loop.links}));
}

// Wine will not remove a link whose target holds entries (it reports the
// folder as not empty), so the link stays; what must hold is that deletion
// never reaches through it.
TEST(DeletePath, NeverEntersADirectoryLink_WineCannotRemoveTheLink)
{
    const std::wstring tree = std::wstring(kLinks) + L"\\tree";
    ASSERT_TRUE(PathExists(tree + L"\\link")) << "make-wine-links.sh has not run";
    EXPECT_EQ(kDeleteFailed, DeletePath(tree.c_str(), kDeleteTakeOver));
    EXPECT_TRUE(PathExists(std::wstring(kLinks) + L"\\target\\keep.txt"));
    EXPECT_FALSE(PathExists(tree + L"\\sub"));
    EXPECT_TRUE(PathExists(tree + L"\\link"));
}

TEST(DeletePath, ClearsAttributesAndReachesLongAndNonAsciiPaths)
{
    const std::wstring root = TestFolder(L"delete-attributes");
    const std::wstring top = root + L"\\profil \u00e9t\u00e9 \u65e5\u672c";
    Write(top + L"\\read-only.txt", "r");
    ASSERT_TRUE(SetFileAttributesW((top + L"\\read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY));
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
    EXPECT_FALSE(PathExists(top));
    EXPECT_TRUE(PathExists(root));

    EXPECT_EQ(kDeleteDone, DeletePath((root + L"\\absent.txt").c_str(), 0));
    EXPECT_EQ(kDeleteDone, DeletePath((root + L"\\absent\\deeper\\x.txt").c_str(), 3));
}

TEST(DeletePath, MasksGoThroughTheContentsCallAndKeepTheFolder)
{
    const std::wstring root = TestFolder(L"delete-wildcard");
    for (const wchar_t* name : {L"\\a.tmp", L"\\b.tmp", L"\\keep.txt"})
        Write(root + name, "x");
    Write(root + L"\\sub.tmp\\inside.txt", "x");
    // A mask is no single object: DeletePath refuses it, the contents call takes it.
    EXPECT_EQ(kDeleteFailed, DeletePath((root + L"\\*.tmp").c_str(), 0));
    EXPECT_EQ(4u, Names(root + L"\\*", 0).size());
    EXPECT_EQ(kDeleteDone, DeleteDirectoryContents(root.c_str(), L"*.tmp", kDeleteKeepTop, nullptr, nullptr));
    EXPECT_EQ(std::set<std::wstring>({L"keep.txt"}), Names(root + L"\\*", 0));

    Write(root + L"\\file.txt", "x");
    EXPECT_EQ(kDeleteDone, DeletePath((root + L"\\file.txt").c_str(), 0));
    EXPECT_FALSE(PathExists(root + L"\\file.txt"));

    Write(root + L"\\kept\\one.txt", "x");
    MakeDirectory(root + L"\\kept\\two");
    EXPECT_EQ(kDeleteDone, DeletePath((root + L"\\kept").c_str(), 6));
    EXPECT_TRUE(PathExists(root + L"\\kept"));
    EXPECT_TRUE(Names(root + L"\\kept\\*", 0).empty());
}

// Wine enforces share modes, so a file held open without sharing cannot be deleted.
TEST(DeletePath, ALockedFileIsScheduledOrFails)
{
    constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    struct Case {
        uint32_t flags;
        int result;
        bool scheduled;
    } const cases[] = {
        {kDeleteTakeOver | kDeleteScheduleAtRestart, kDeleteScheduled, true},
        {kDeleteTakeOver, kDeleteFailed, false},
    };
    for (const Case& c : cases) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
        const std::wstring root = TestFolder(L"delete-locked");
        Write(root + L"\\locked.dat", "l");
        Write(root + L"\\free.dat", "f");
        MakeDirectory(root + L"\\sub");
        UniqueFileHandle held(CreateFileW((root + L"\\locked.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          0, nullptr));
        ASSERT_TRUE(held);

        EXPECT_EQ(c.result, DeletePath(root.c_str(), c.flags)) << "flags " << c.flags;
        EXPECT_FALSE(PathExists(root + L"\\free.dat")) << "flags " << c.flags;
        EXPECT_FALSE(PathExists(root + L"\\sub")) << "flags " << c.flags;
        EXPECT_TRUE(PathExists(root + L"\\locked.dat")) << "flags " << c.flags;
        const std::string pending = Joined(PendingRenames());
        EXPECT_EQ(c.scheduled, pending.find("locked.dat") != std::string::npos)
            << "flags " << c.flags << ": " << pending;
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
}

TEST(CreateDirectoryPath, CreatesEveryLevelAndRefusesBelowAFile)
{
    const std::wstring root = TestFolder(L"create");
    Write(root + L"\\file", "x");
    std::wstring deep = root + L"\\\u00e9\u00e8";
    while (deep.size() < 300)
        deep += L"\\" + std::wstring(50, L'n');
    struct { std::wstring path; bool created; } const cases[] = {
        {root + L"\\one\\two\\three", true},
        {root + L"\\one\\two\\three\\", true},   // now existing
        {root + L"\\file\\below", false},
        {root + L"\\file", false},               // a file is no folder
        {deep, true}, {L"C:", true}, {L"Q:\\vantrell\\x", false}, {L"ab", false},
    };
    for (const auto& c : cases) {
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
    EXPECT_FALSE(PathExists(root + L"\\source"));
    EXPECT_EQ(6u, DirectorySize((root + L"\\moved").c_str()));
    // A destination that cannot be made (below a file) takes nothing: the
    // caller must not count the tree as moved.
    Write(root + L"\\file", "x");
    EXPECT_EQ(1u, MoveTree((root + L"\\moved").c_str(), (root + L"\\file\\below").c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(6u, DirectorySize((root + L"\\moved").c_str()));

    const std::wstring other = OtherVolume(L"vantrell-tests-move-");
    EXPECT_EQ(3u, MoveTree((root + L"\\moved").c_str(), other.c_str(), 0));
    EXPECT_EQ(6u, DirectorySize((root + L"\\moved").c_str()));
    EXPECT_EQ(0u, MoveTree((root + L"\\moved").c_str(), other.c_str(),
                           MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(PathExists(root + L"\\moved"));
    EXPECT_EQ(6u, DirectorySize(other.c_str()));
    std::filesystem::remove_all(other);
}

TEST(MoveTree, ASingleFileThatCannotMoveStaysAndIsCounted)
{
    const std::wstring root = TestFolder(L"move-file");
    Write(root + L"\\single.txt", "abc");
    const std::wstring other = OtherVolume(L"vantrell-tests-file-");

    // Across volumes without the copy flag the rename fails; no folder may
    // appear in the file's place and the file must stay.
    EXPECT_EQ(1u, MoveTree((root + L"\\single.txt").c_str(), other.c_str(), 0));
    EXPECT_FALSE(PathExists(other));
    EXPECT_EQ(3u, DirectorySize(root.c_str()));

    EXPECT_EQ(0u, MoveTree((root + L"\\single.txt").c_str(), other.c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_FALSE(PathExists(root + L"\\single.txt"));
    EXPECT_TRUE(PathExists(other));
    std::filesystem::remove_all(other);
}

namespace {

// A chain of `levels` single-letter folders below `root` with a file of
// three bytes at the bottom; the deepest folder's path.
std::wstring MakeDeepTree(const std::wstring& root, int levels)
{
    std::wstring path = L"\\\\?\\" + root;
    for (int level = 0; level < levels; ++level) {
        path += L"\\d";
        if (!CreateDirectoryW(path.c_str(), nullptr))
            return L"";
    }
    UniqueFileHandle file(CreateFileW((path + L"\\f.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.Get(), "abc", 3, &written, nullptr))
        return L"";
    return path;
}

// Runs `work` on a thread whose stack a walk recursing once per level would
// overflow long before the bottom (the process would die, failing the test).
void OnSmallStack(const std::function<void()>& work)
{
    auto run = [](void* parameter) -> DWORD {
        (*static_cast<const std::function<void()>*>(parameter))();
        return 0;
    };
    UniqueHandle thread(CreateThread(nullptr, 128 * 1024, run, const_cast<std::function<void()>*>(&work),
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    ASSERT_TRUE(thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.Get(), 110000));
}

}  // namespace

// A tree far deeper than a walk recursing once per level could take on a
// 128 KB stack (Wine builds deeper trees too slowly for a test): measured,
// moved across volumes and deleted with the walks' own stacks, not the
// thread's.
TEST(DeepTrees, AreWalkedWithoutTheThreadStack)
{
    const std::wstring root = L"C:\\vd";
    DeletePath(root.c_str(), 0);   // a failed run's leftovers are too deep for the standard library
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr)) << "error " << GetLastError();
    const std::wstring source = root + L"\\s";
    ASSERT_TRUE(CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_FALSE(MakeDeepTree(source, 500).empty()) << "error " << GetLastError();
    const std::wstring other = L"Z:\\dev\\shm\\vd" + std::to_wstring(GetCurrentProcessId());
    DeletePath(other.c_str(), 0);

    uint64_t bytes = 0;
    bool complete = false;
    OnSmallStack([&] { complete = MeasureDirectory(root.c_str(), bytes); });
    EXPECT_TRUE(complete);
    EXPECT_EQ(3u, bytes);

    uint64_t notMoved = 99;
    OnSmallStack([&] { notMoved = MoveTree(source.c_str(), other.c_str(), MOVEFILE_COPY_ALLOWED); });
    EXPECT_EQ(0u, notMoved);
    EXPECT_FALSE(PathExists(source));
    EXPECT_EQ(3u, DirectorySize(other.c_str()));

    int deleted = -1;
    OnSmallStack([&] { deleted = DeletePath(other.c_str(), 0); });
    EXPECT_EQ(kDeleteDone, deleted);
    EXPECT_FALSE(PathExists(other));
    EXPECT_EQ(kDeleteDone, DeletePath(root.c_str(), 0));
}

// Beyond the limit a walk stops with a clear answer and leaves what it did
// not reach.
TEST(DeepTrees, TheDepthLimitIsAClearFailure)
{
    const std::wstring root = TestFolder(L"depth-limit");
    const std::wstring deepest = MakeDeepTree(root, 12);
    ASSERT_FALSE(deepest.empty());
    Write(root + L"\\top.bin", "12345");

    uint64_t bytes = 0;
    EXPECT_FALSE(MeasureDirectory(root.c_str(), bytes, 5));
    EXPECT_EQ(5u, bytes) << "only what lies within the limit is counted";
    EXPECT_TRUE(MeasureDirectory(root.c_str(), bytes, 12));
    EXPECT_EQ(8u, bytes);

    const std::wstring other = OtherVolume(L"vantrell-depth-");
    EXPECT_EQ(1u, MoveTree(root.c_str(), other.c_str(), MOVEFILE_COPY_ALLOWED, 5));
    EXPECT_TRUE(PathExists(deepest + L"\\f.bin")) << "the part beyond the limit stays where it was";
    std::filesystem::remove_all(other);

    EXPECT_EQ(kDeleteFailed, DeletePath(root.c_str(), 0, 5));
    EXPECT_TRUE(PathExists(deepest + L"\\f.bin"));
    EXPECT_FALSE(PathExists(root + L"\\top.bin")) << "what lies within the limit is deleted";
    EXPECT_EQ(kDeleteDone, DeletePath(root.c_str(), 0));
    EXPECT_FALSE(PathExists(root));
}

// "C:\*" would empty the drive, a relative path would depend on the current
// folder: DeletePath names one object, absolutely, or does nothing.
TEST(DeletePath, RefusesRelativePathsWildcardsAndRoots)
{
    const std::wstring root = TestFolder(L"delete-refusals");
    Write(root + L"\\victim\\sub\\file.txt", "x");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
    for (const std::wstring& path : {std::wstring(L".\\victim\\sub"), std::wstring(L"C:victim\\sub"), std::wstring(L"\\victim"),
                                     std::wstring(L"victim\\s?b"), root + L"\\victim\\*", std::wstring(L"C:"),
                                     std::wstring(L"\\\\?\\C:\\"), std::wstring(L"C:\\"), std::wstring()}) {
        EXPECT_EQ(kDeleteFailed, DeletePath(path.c_str(), kDeleteKeepTop)) << Show(path);
        EXPECT_TRUE(PathExists(root + L"\\victim\\sub\\file.txt")) << Show(path);
    }
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(kDeleteFailed, DeleteDirectoryContents(L"C:\\", L"*", kDeleteKeepTop, nullptr, nullptr));
    EXPECT_EQ(kDeleteFailed, DeleteDirectoryContents(L"victim", L"*", kDeleteKeepTop, nullptr, nullptr));
}

TEST(AbsoluteLongPath, NormalisesFirstAndRefusesRelativeForms)
{
    struct { const wchar_t* path; const wchar_t* longPath; } const cases[] = {   // null: refused
        {L"C:\\a\\.\\b\\", L"\\\\?\\C:\\a\\b"},  {L"C:\\a\\..\\b.", L"\\\\?\\C:\\b"}, {L"c:/a/b", L"\\\\?\\c:\\a\\b"},
        {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"}, {L"\\\\?\\C:\\x\\", L"\\\\?\\C:\\x"},
        {L"\\\\?\\C:\\a\\..\\b", nullptr}, {L"..\\x", nullptr}, {L"C:x", nullptr}, {L"\\x", nullptr},
        {L"\\\\.\\C:", nullptr},     {L"", nullptr},
    };
    for (const auto& c : cases) {
        WString result;
        EXPECT_EQ(c.longPath != nullptr, AbsoluteLongPath(c.path, result)) << Show(c.path);
        EXPECT_EQ(std::wstring(c.longPath != nullptr ? c.longPath : L""), std::wstring(result.Text())) << Show(c.path);
    }
}

// Wine opens a link's target even when asked for the link itself, which is
// exactly what must never reach a security change: the entry is handed out
// only when the handle provably is the entry. (Wine keeps no file DACLs, so
// the take-over itself cannot be watched here.)
TEST(OpenEntryItself, NeverHandsOutALinksTarget_WineKeepsNoFileSecurity)
{
    const std::wstring link = std::wstring(kLinks) + L"\\tree\\link";
    ASSERT_TRUE(PathExists(link)) << "make-wine-links.sh has not run";
    UniqueFileHandle entry = OpenEntryItself(link.c_str(), READ_CONTROL);
    if (entry) {
        WString finalPath;
        ASSERT_TRUE(FinalPathOf(entry.Get(), finalPath));
        EXPECT_EQ(L"\\\\?\\" + link, std::wstring(finalPath.Text())) << "a handle on the target was handed out";
    }
    const std::wstring file = std::wstring(kLinks) + L"\\loop\\a.bin";
    UniqueFileHandle plain = OpenEntryItself(file.c_str(), READ_CONTROL);
    EXPECT_TRUE(plain) << "an ordinary entry opens";
    EXPECT_FALSE(OpenEntryItself(L"relative.txt", READ_CONTROL));

    // The take-over goes through the same door: an ordinary entry is taken
    // over, a link only where it opens as itself.
    LocalAcl dacl;
    LocalSid administrators;
    ASSERT_TRUE(BuildRecipeDacl(SecurityRecipe::TakeOverFile, 10.0, nullptr, dacl));
    ASSERT_TRUE(WellKnownSid(administrators, WinBuiltinAdministratorsSid));
    const std::wstring own = TestFolder(L"take-over") + L"\\own.txt";
    Write(own, "x");
    EXPECT_TRUE(TakeOverEntryItself(own.c_str(), dacl.Get(), administrators.Get()));
    EXPECT_EQ(static_cast<bool>(entry), TakeOverEntryItself(link.c_str(), dacl.Get(), administrators.Get()));
    EXPECT_FALSE(TakeOverEntryItself(own.c_str(), nullptr, administrators.Get())) << "never a null DACL";
}

// The profile repair's way into a user's folder: every component below the
// root opened without following, nothing handed out that lies elsewhere.
TEST(OpenBelowRoot, RefusesLinksAndEscapesBelowTheRoot)
{
    const std::wstring tree = std::wstring(kLinks) + L"\\tree";
    ASSERT_TRUE(PathExists(tree + L"\\link")) << "make-wine-links.sh has not run";
    Write(tree + L"\\inside.txt", "in");
    struct Case {
        std::wstring root;
        const wchar_t* relative;
        bool opens;
    } const cases[] = {
        {tree, L"inside.txt", true},
        {tree, L"link\\keep.txt", false},
        {tree, L"link", false},
        {tree, L"..\\target\\keep.txt", false},
        {tree, L"\\inside.txt", false},
        {tree, L"inside.txt:stream", false},
        {tree, L"", false},
        {tree, L"missing.txt", false},
        {tree + L"\\link", L"keep.txt", true},   // the root itself may be reached through a link
        {L"tree", L"inside.txt", false},
    };
    for (const Case& c : cases) {
        UniqueFileHandle file = OpenBelowRoot(c.root.c_str(), c.relative, READ_CONTROL);
        EXPECT_EQ(c.opens, static_cast<bool>(file)) << Show(c.root) << " + " << Show(c.relative);
    }
    DeleteFileW((tree + L"\\inside.txt").c_str());
}

// The destination is compared with the source as the platform resolves both,
// and a link is never followed out of the source.
TEST(MoveTree, NeverMovesThroughALinkOrIntoItself)
{
    const std::wstring target = std::wstring(kLinks) + L"\\movetarget";
    const std::wstring link = std::wstring(kLinks) + L"\\moveroom\\link";
    ASSERT_TRUE(PathExists(link)) << "make-wine-links.sh has not run";

    // Into itself, reached through a link: refused before anything moves.
    EXPECT_EQ(1u, MoveTree(target.c_str(), (link + L"\\inner").c_str(), 0));
    EXPECT_TRUE(PathExists(target + L"\\keep.txt"));
    EXPECT_FALSE(PathExists(target + L"\\inner"));

    // A link across volumes: never copied through, its target stays whole.
    const std::wstring other = OtherVolume(L"vantrell-link-move-");
    EXPECT_EQ(1u, MoveTree(link.c_str(), other.c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_TRUE(PathExists(target + L"\\keep.txt"));
    EXPECT_FALSE(PathExists(other + L"\\keep.txt"));
    std::filesystem::remove_all(other);

    // On one volume the link itself may be renamed, where the platform opens
    // links themselves; Wine would rename the target, so there it stays.
    const std::wstring renamed = std::wstring(kLinks) + L"\\moveroom\\renamed";
    const uint64_t notMoved = MoveTree(link.c_str(), renamed.c_str(), 0);
    EXPECT_TRUE(PathExists(target + L"\\keep.txt")) << "the link's target was moved";
    if (notMoved == 0)
        EXPECT_EQ(0u, MoveTree(renamed.c_str(), link.c_str(), 0));
    else
        EXPECT_TRUE(PathExists(link + L"\\keep.txt"));

    EXPECT_EQ(1u, MoveTree(L"moveroom", L"C:\\elsewhere", 0)) << "relative source";

    // A destination right below a drive root resolves through the root.
    const std::wstring top = L"C:\\vantrell-move-top-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring from = TestFolder(L"move-to-top");
    Write(from + L"\\a.txt", "abc");
    EXPECT_EQ(0u, MoveTree(from.c_str(), top.c_str(), 0));
    EXPECT_EQ(3u, DirectorySize(top.c_str()));
    std::error_code ignored;
    std::filesystem::remove_all(top, ignored);
}

// What the walker hands a visitor, by kind.
struct RecordingVisitor : TreeVisitor {
    std::vector<std::wstring> files, links, entered;
    std::vector<std::pair<std::wstring, WalkFailure>> failures;
    std::function<void(const TreeEntry&)> onFile;

    void OnFile(const TreeFolder&, const TreeEntry& entry, HANDLE) override
    {
        files.emplace_back(entry.name.Text());
        if (onFile)
            onFile(entry);
    }
    void OnLink(const TreeFolder&, const TreeEntry& entry) override { links.emplace_back(entry.name.Text()); }
    bool OnEnter(const TreeFolder& folder) override
    {
        if (folder.entry != nullptr)
            entered.emplace_back(folder.entry->name.Text());
        return true;
    }
    void OnFailure(const TreeFolder&, const TreeEntry* entry, WalkFailure why) override
    {
        failures.emplace_back(entry != nullptr ? entry->name.Text() : L"", why);
    }
};

// A folder its owner swaps for another after the listing (here while the
// walk handles a file beside it) is not entered: the object the open finds
// has another file id than the one listed. Under Wine a swap for a link
// looks the same to the walk, since Wine opens a link's target.
TEST(WalkTree, AFolderSwappedAfterTheListingIsNeverEntered_FileIdGuard)
{
    const std::wstring root = TestFolder(L"walk-swap");
    Write(root + L"\\a.txt", "a");
    MakeDirectory(root + L"\\victim");
    Write(root + L"\\victim\\inside.txt", "inside");

    RecordingVisitor visitor;
    visitor.onFile = [&](const TreeEntry&) {
        ASSERT_TRUE(MoveFileW((root + L"\\victim").c_str(), (root + L"\\victim-old").c_str()));
        MakeDirectory(root + L"\\victim");
        Write(root + L"\\victim\\bait.txt", "bait");
    };
    ASSERT_EQ(WalkRoot::Walked, WalkTree(root.c_str(), visitor));
    EXPECT_EQ(std::vector<std::wstring>{L"a.txt"}, visitor.files) << "entered the swapped-in folder";
    EXPECT_TRUE(visitor.entered.empty());
    ASSERT_EQ(1u, visitor.failures.size());
    EXPECT_EQ(L"victim", visitor.failures[0].first);
    EXPECT_EQ(WalkFailure::Changed, visitor.failures[0].second);
}

// A link inside is handed over as a link and never entered; a link as the
// root is refused outright.
TEST(WalkTree, LinksAreHandedOverNeverEntered_ListingGuard)
{
    const std::wstring tree = std::wstring(kLinks) + L"\\tree";
    ASSERT_TRUE(PathExists(tree + L"\\link")) << "make-wine-links.sh has not run";
    RecordingVisitor visitor;
    ASSERT_EQ(WalkRoot::Walked, WalkTree(tree.c_str(), visitor));
    EXPECT_EQ(std::vector<std::wstring>{L"link"}, visitor.links);
    for (const std::wstring& file : visitor.files)
        EXPECT_NE(L"keep.txt", file) << "a file behind the link was handed over";

    RecordingVisitor throughLink;
    EXPECT_EQ(WalkRoot::IsLink, WalkTree((tree + L"\\link").c_str(), throughLink));
    EXPECT_TRUE(throughLink.files.empty());
    EXPECT_EQ(WalkRoot::Missing, WalkTree((tree + L"\\absent").c_str(), throughLink));
    EXPECT_EQ(WalkRoot::BadPath, WalkTree(L"relative\\folder", throughLink));
    EXPECT_EQ(WalkRoot::BadPath, WalkTree(L"C:\\", throughLink));
}
