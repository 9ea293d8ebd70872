// The folder-content move between C: and drive T:, which the test set-up
// maps to a folder on another Linux file system (tmpfs), so that every file
// has to be copied, checked and only then removed.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/narrow.h"
#include "platform/file_move.h"
#include "platform/handles.h"
#include "tests/win/personal_folders_support.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/test_support.h"

using repair_test::FileDifferences;
using repair_test::FileRule;
using repair_test::FileTree;
using repair_test::SumFiles;

namespace {

// Fills in the block as the dialog does and runs the move in this thread.
DWORD RunMove(FolderMove& move, const std::wstring& from, const std::wstring& to, DWORD flags = MOVEFILE_COPY_ALLOWED)
{
    move.owner = &move;
    move.source.Assign(from.c_str());
    move.destination.Assign(to.c_str());
    move.flags = flags;
    return MoveFolderThread(&move);
}

// A scratch folder on drive T:, emptied first.
std::wstring SecondDriveFolder(const wchar_t* group)
{
    return CleanFolder(std::wstring(L"T:\\vantrell-tests\\") + group);
}

// Builds the test tree under `root` and gives back its files as made.
FileTree MakeTree(const std::wstring& root)
{
    CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
    CreateDirectoryW((root + L"\\sub\\deeper").c_str(), nullptr);
    CreateDirectoryW((root + L"\\empty").c_str(), nullptr);
    CreateDirectoryW((root + L"\\hidden folder").c_str(), nullptr);
    SetFileAttributesW((root + L"\\hidden folder").c_str(), FILE_ATTRIBUTE_HIDDEN);
    WriteTextFile(root + L"\\top.txt", "top");
    WriteTextFile(root + L"\\readonly.txt", "read only", FILE_ATTRIBUTE_READONLY);
    WriteTextFile(root + L"\\hidden folder\\secret.txt", "secret", FILE_ATTRIBUTE_HIDDEN);
    WriteTextFile(root + L"\\sub\\a.bin", std::string(70000, 'a'));
    WriteTextFile(root + L"\\sub\\deeper\\big.bin", std::string(3 * 1024 * 1024 + 17, 'b'));
    WriteTextFile(root + L"\\sub\\deeper\\zero.bin", "");
    return SumFiles(root);
}

std::string LeftList(const FolderMove& move)
{
    std::string shown;
    for (const LeftEntry& entry : move.left)
        shown += Narrow(entry.path.Text()) + " (" + std::to_string(static_cast<int>(entry.reason)) + ") ";
    return shown;
}

class FolderMoveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"T:\\")) << "drive T: is not mapped: run make-second-drive.sh";
    }
};

}  // namespace

TEST_F(FolderMoveTest, AcrossDrivesEveryFileIsCopiedCheckedAndRemoved)
{
    struct Case {
        const wchar_t* name;
        bool fromC, toC;
        DWORD flags;   // on one drive the folders are renamed whole
    } const cases[] = {{L"to-t", true, false, MOVEFILE_COPY_ALLOWED}, {L"to-c", false, true, MOVEFILE_COPY_ALLOWED},
                       {L"same-drive", true, true, 0}};
    for (const Case& c : cases) {
        std::wstring from = (c.fromC ? TestFolder(c.name) : SecondDriveFolder(c.name)) + L"\\Documents";
        std::wstring to = (c.toC ? TestFolder((std::wstring(c.name) + L"-to").c_str()) : SecondDriveFolder(c.name)) +
                          L"\\New place\\Documents";
        CreateDirectoryW(from.c_str(), nullptr);
        const FileTree made = MakeTree(from);
        ASSERT_EQ(6u, made.size());
        uint64_t bytes = 0;
        for (const auto& file : made)
            bytes += file.second.size;

        FolderMove move;
        EXPECT_EQ(1u, RunMove(move, from, to, c.flags)) << Narrow(c.name);
        EXPECT_EQ(0u, move.notMoved) << Narrow(c.name) << ": " << LeftList(move);
        EXPECT_TRUE(move.progress.measured.load()) << Narrow(c.name);
        EXPECT_EQ(made.size(), move.progress.filesTotal.load()) << Narrow(c.name);
        EXPECT_EQ(bytes, move.progress.bytesTotal.load()) << Narrow(c.name);
        EXPECT_EQ(made.size(), move.progress.filesDone.load()) << Narrow(c.name);
        EXPECT_EQ(bytes, move.progress.bytesDone.load()) << Narrow(c.name);
        EXPECT_EQ("", FileDifferences(made, SumFiles(to), [](const std::wstring&) { return FileRule::Compare; }, true))
            << Narrow(c.name);
        EXPECT_TRUE(PathExists(to + L"\\empty"));
        EXPECT_NE(0u, GetFileAttributesW((to + L"\\readonly.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
        EXPECT_NE(0u, GetFileAttributesW((to + L"\\hidden folder").c_str()) & FILE_ATTRIBUTE_HIDDEN);
        // Everything below the source went; the folder itself is the caller's.
        TreeMeasure rest = MeasureTree(from.c_str());
        EXPECT_EQ(0u, rest.files + rest.folders) << Narrow(from);
        EXPECT_TRUE(PathExists(from)) << Narrow(from);
    }
}

TEST_F(FolderMoveTest, SameNamedFilesAreSkippedOrOverwrittenAsAsked)
{
    struct Case {
        DWORD flags;
        const char* atDestination;
        const char* atSource;
        uint64_t notMoved;
    } const cases[] = {
        {MOVEFILE_COPY_ALLOWED, "old", "new", 1},
        {MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING, "new", "(missing)", 0},
    };
    for (const Case& c : cases) {
        std::wstring from = TestFolder(L"overwrite") + L"\\from";
        std::wstring to = SecondDriveFolder(L"overwrite") + L"\\to";
        CreateDirectoryW(from.c_str(), nullptr);
        CreateDirectoryW(to.c_str(), nullptr);
        WriteTextFile(from + L"\\same.txt", "new");
        WriteTextFile(from + L"\\other.txt", "other");
        WriteTextFile(to + L"\\same.txt", "old", FILE_ATTRIBUTE_READONLY);
        FolderMove move;
        EXPECT_EQ(1u, RunMove(move, from, to, c.flags));
        EXPECT_EQ(c.notMoved, move.notMoved) << "flags " << c.flags << ": " << LeftList(move);
        EXPECT_EQ(c.atDestination, ReadTextFile(to + L"\\same.txt")) << "flags " << c.flags;
        EXPECT_EQ(c.atSource, ReadTextFile(from + L"\\same.txt")) << "flags " << c.flags;
        EXPECT_EQ("other", ReadTextFile(to + L"\\other.txt"));
        EXPECT_FALSE(PathExists(from + L"\\other.txt"));
        if (c.notMoved == 1) {
            ASSERT_EQ(1u, move.left.size());
            EXPECT_EQ(static_cast<int>(LeftReason::Exists), static_cast<int>(move.left[0].reason));
        }
    }
}

TEST_F(FolderMoveTest, FilesHeldOpenByAnotherProgramStayWholeAtTheSource)
{
    std::wstring from = TestFolder(L"locked") + L"\\from";
    std::wstring to = SecondDriveFolder(L"locked") + L"\\to";
    CreateDirectoryW(from.c_str(), nullptr);
    CreateDirectoryW((from + L"\\sub").c_str(), nullptr);
    WriteTextFile(from + L"\\open one.docx", "first document");
    WriteTextFile(from + L"\\sub\\open two.xlsx", "second sheet");
    WriteTextFile(from + L"\\free.txt", "free");
    SetFileAttributesW((from + L"\\sub").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    // What the file system kept of them (Wine keeps no read-only on folders).
    const DWORD kept = GetFileAttributesW((from + L"\\sub").c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    ASSERT_NE(0u, kept & FILE_ATTRIBUTE_HIDDEN);
    // Held the way an editor holds its document: no sharing at all.
    UniqueFileHandle one(CreateFileW((from + L"\\open one.docx").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    UniqueFileHandle two(CreateFileW((from + L"\\sub\\open two.xlsx").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(one && two);

    FolderMove move;
    EXPECT_EQ(1u, RunMove(move, from, to));
    EXPECT_EQ(2u, move.notMoved) << LeftList(move);
    EXPECT_EQ(3u, move.progress.filesDone.load());
    one.Reset();
    two.Reset();
    EXPECT_EQ("first document", ReadTextFile(from + L"\\open one.docx"));
    EXPECT_EQ("second sheet", ReadTextFile(from + L"\\sub\\open two.xlsx"));
    EXPECT_FALSE(PathExists(to + L"\\open one.docx"));
    EXPECT_FALSE(PathExists(to + L"\\sub\\open two.xlsx"));
    EXPECT_EQ("free", ReadTextFile(to + L"\\free.txt"));
    EXPECT_TRUE(PathExists(from + L"\\sub"));   // it still holds a file, and keeps its attributes
    EXPECT_EQ(kept, GetFileAttributesW((from + L"\\sub").c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(2u, move.left.size());
    for (const LeftEntry& entry : move.left)
        EXPECT_EQ(static_cast<int>(LeftReason::InUse), static_cast<int>(entry.reason)) << Narrow(entry.path.Text());

    // The list the operator can open names both, without the long-path prefix.
    std::wstring list = TempFile(L"vantrell-left-behind-test.txt");
    ASSERT_TRUE(WriteLeftBehindList(list.c_str(), from.c_str(), move.left));
    std::string bytes = ReadTextFile(list);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()) + 1, bytes.size() / 2 - 1);
    EXPECT_NE(std::wstring::npos, text.find(from + L"\\open one.docx\t")) << Narrow(text);
    EXPECT_NE(std::wstring::npos, text.find(from + L"\\sub\\open two.xlsx\t")) << Narrow(text);
    EXPECT_EQ(std::wstring::npos, text.find(L"\\\\?\\")) << Narrow(text);
    // Written again over its own earlier list; a hard link planted at the
    // name is refused and the file it names stays as it was.
    EXPECT_TRUE(WriteLeftBehindList(list.c_str(), from.c_str(), move.left));
    const std::wstring elsewhere = TempFile(L"vantrell-left-behind-elsewhere.txt");
    WriteTextFile(elsewhere, "someone else's");
    DeleteFileW(list.c_str());
    ASSERT_TRUE(CreateHardLinkW(list.c_str(), elsewhere.c_str(), nullptr)) << GetLastError();
    EXPECT_FALSE(WriteLeftBehindList(list.c_str(), from.c_str(), move.left));
    EXPECT_EQ("someone else's", ReadTextFile(elsewhere));
    DeleteFileW(list.c_str());
    DeleteFileW(elsewhere.c_str());
}

TEST_F(FolderMoveTest, LinksAreNeitherFollowedNorMovedButListed)
{
    // The set-up made C:\vantrell-folder-links\link pointing at "target".
    std::wstring to = SecondDriveFolder(L"links") + L"\\to";
    FolderMove move;
    EXPECT_EQ(1u, RunMove(move, L"C:\\vantrell-folder-links", to));
    EXPECT_EQ(1u, move.notMoved) << LeftList(move);
    EXPECT_EQ(1u, move.progress.filesTotal.load()) << "the file behind the link was counted";
    ASSERT_EQ(1u, move.left.size());
    EXPECT_EQ(static_cast<int>(LeftReason::Link), static_cast<int>(move.left[0].reason));
    EXPECT_EQ("keep", ReadTextFile(to + L"\\target\\keep.txt"));   // the real folder moved
    EXPECT_FALSE(PathExists(to + L"\\link"));
    // Put the target back, for the link to lead somewhere again.
    CreateDirectoryW(L"C:\\vantrell-folder-links\\target", nullptr);
    WriteTextFile(L"C:\\vantrell-folder-links\\target\\keep.txt", "keep");
    EXPECT_EQ("keep", ReadTextFile(L"C:\\vantrell-folder-links\\link\\keep.txt"));
}

TEST_F(FolderMoveTest, IntoItselfOrOutOfItsOwnChildNothingIsTouched)
{
    std::wstring root = TestFolder(L"into-itself");
    std::wstring from = root + L"\\from";
    CreateDirectoryW(from.c_str(), nullptr);
    WriteTextFile(from + L"\\a.txt", "a");
    CreateDirectoryW((from + L"\\child").c_str(), nullptr);
    struct Case {
        std::wstring source, destination;
    } const cases[] = {
        {from, from + L"\\child\\deeper"},
        {from, from},
        {from, root + L"\\FROM\\.\\child"},
        {from + L"\\child", from},
        {L"relative\\path", from},
    };
    for (const Case& c : cases) {
        FolderMove move;
        EXPECT_EQ(0u, RunMove(move, c.source, c.destination)) << Narrow(c.source) << " -> " << Narrow(c.destination);
        EXPECT_TRUE(move.refused) << Narrow(c.source) << " -> " << Narrow(c.destination);
        EXPECT_EQ("a", ReadTextFile(from + L"\\a.txt"));
        EXPECT_FALSE(PathExists(from + L"\\child\\deeper\\a.txt"));
    }
}

TEST(MoveFolderThread, AnIncompleteBlockDoesNothing)
{
    FolderMove move;
    move.source.Assign(L"C:\\x");
    move.destination.Assign(L"C:\\y");
    EXPECT_EQ(0u, MoveFolderThread(&move));   // no owner
    EXPECT_EQ(0u, MoveFolderThread(nullptr));
}

// Wine names an opened folder by the path it was opened with, so a link in
// the path is not resolved there; the normalisation and the handling of the
// part that does not exist yet are what can be seen.
TEST(FinalFolderPath, NormalisesAndKeepsTheMissingRest_WineDoesNotResolveLinks)
{
    struct Case {
        const wchar_t* path;
        const char* final;
    } const cases[] = {
        {L"C:\\vantrell-folder-links\\target\\not yet\\there", "C:\\vantrell-folder-links\\target\\not yet\\there"},
        {L"c:\\VANTRELL-FOLDER-LINKS\\.\\target\\", "C:\\vantrell-folder-links\\target"},
        {L"C:\\vantrell-folder-links\\x\\..\\target", "C:\\vantrell-folder-links\\target"},
        {L"C:\\", "C:"},
        {L"relative", ""},
    };
    for (const Case& c : cases) {
        WString final = FinalFolderPath(c.path);
        EXPECT_EQ(c.final, Narrow(final.Text())) << Narrow(c.path);
    }
}
