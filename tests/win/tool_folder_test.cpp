// The tool's own folder: made or taken over only when nobody else could
// have put anything in it, secured, and the program copied into it.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

#include "repair/tool_folder.h"
#include "tests/win/repair_test_support.h"

using namespace repair_test;

namespace {

// SYSTEM and the administrators own the folder; the users may read and run.
const std::vector<Ace> kToolFolderAces = {
    {L"S-1-5-18", GENERIC_ALL, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
    {L"S-1-5-32-544", GENERIC_ALL, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
    {L"S-1-5-32-545", GENERIC_READ | GENERIC_EXECUTE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
};

TEST(ToolFolder, DaclGivesOnlySystemAndAdministratorsWriteAccess)
{
    LocalAcl dacl;
    ASSERT_TRUE(BuildToolFolderDacl(dacl));
    EXPECT_EQ(kToolFolderAces, Aces(dacl.Get()));
    ACL_SIZE_INFORMATION size{};
    ASSERT_TRUE(GetAclInformation(dacl.Get(), &size, sizeof size, AclSizeInformation));
    EXPECT_EQ(kToolFolderAces.size(), size.AceCount) << "no entry of another kind";
}

// Wine reads back every file's owner as the signed-in user, never SYSTEM or
// the Administrators: a folder found in place is never reused here (that
// decision is MayReuseToolFolder's, tested in the core), and what shows is
// that a planted folder goes aside whole and a new one takes its place.
TEST(ToolFolder, APlantedFolderGoesAsideWholeAndANewOneIsMade_WineShowsNoTrustedOwner)
{
    const std::wstring root = TestFolder(L"tool-folder");
    const std::wstring folder = root + L"\\Brenwick";
    std::filesystem::create_directories(folder + L"\\planted\\deeper");
    for (const wchar_t* file : {L"\\Brenwick.exe", L"\\Brenwick.ini", L"\\x.dll", L"\\planted\\deeper\\y.dll"})
        std::ofstream(std::filesystem::path(folder + file)) << "planted";
    EXPECT_EQ(ToolFolderResult::Ready, PrepareToolFolder(folder.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(folder)));
    EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::path(folder))) << "nothing planted is taken over";
    const std::wstring aside = root + L"\\Brenwick.old-1";
    for (const wchar_t* file : {L"\\Brenwick.exe", L"\\x.dll", L"\\planted\\deeper\\y.dll"})
        EXPECT_EQ("planted", ReadBytes(aside + file)) << "moved aside as it was: " << Narrow(file);

    const std::wstring fresh = root + L"\\made\\Brenwick";
    EXPECT_EQ(ToolFolderResult::Ready, PrepareToolFolder(fresh.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(fresh)));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(fresh + L".old-1"))) << "a new folder is not moved";

    const std::wstring file = root + L"\\AFile";
    std::ofstream(std::filesystem::path(file)) << "in the way";
    EXPECT_EQ(ToolFolderResult::NotAFolder, PrepareToolFolder(file.c_str()));
    EXPECT_EQ("in the way", ReadBytes(file));
    EXPECT_FALSE(SecureToolPath((root + L"\\missing").c_str()));
    EXPECT_FALSE(SecureToolPath(L""));

    // Every refusal tells the operator its own story.
    std::set<std::wstring> messages;
    for (ToolFolderResult result : {ToolFolderResult::NotAFolder, ToolFolderResult::IsLink, ToolFolderResult::Failed,
                                    ToolFolderResult::NotOurs, ToolFolderResult::CopyFailed,
                                    ToolFolderResult::CopyDiffers}) {
        std::wstring message = ToolFolderMessage(result);
        EXPECT_FALSE(message.empty());
        EXPECT_TRUE(messages.insert(message).second) << Narrow(message);
    }
}

TEST(ToolFolder, TheProgramIsCopiedAsANewFileAndComparedWithTheRunningOne)
{
    const std::wstring root = TestFolder(L"tool-copy");
    const std::wstring folder = root + L"\\Brenwick";
    ASSERT_EQ(ToolFolderResult::Ready, PrepareToolFolder(folder.c_str()));
    wchar_t module[2048] = L"";
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, module, 2048));
    const std::wstring copy = folder + L"\\Brenwick.exe";
    std::ofstream(std::filesystem::path(copy)) << "an earlier copy";
    UniqueFileHandle image = OpenRunningImage();
    ASSERT_TRUE(image) << "the running program's file is the image it runs";
    EXPECT_EQ(ToolFolderResult::Ready, CopyToolExecutable(image.Get(), copy.c_str()));
    EXPECT_TRUE(SameFileContents(module, copy.c_str()));
    {
        UniqueFileHandle itself(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(ToolFolderResult::Ready, CopyToolExecutable(itself.Get(), copy.c_str())) << "started from the copy";
    }
    EXPECT_TRUE(SameFileContents(module, copy.c_str()));
    EXPECT_EQ(ToolFolderResult::CopyFailed, CopyToolExecutable(INVALID_HANDLE_VALUE, copy.c_str()));
    EXPECT_EQ(ToolFolderResult::CopyFailed, CopyToolExecutable(image.Get(), L""));

    // What is copied is what was opened at the start, not what lies at the
    // name now: a program swapped in after the start is not taken.
    const std::wstring started = root + L"\\started.exe";
    std::ofstream(std::filesystem::path(started), std::ios::binary) << "MZ the program that runs";
    UniqueFileHandle opened(CreateFileW(started.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(MoveFileW(started.c_str(), (started + L".away").c_str()));
    std::ofstream(std::filesystem::path(started), std::ios::binary) << "MZ a planted program";
    EXPECT_EQ(ToolFolderResult::Ready, CopyToolExecutable(opened.Get(), copy.c_str()));
    EXPECT_EQ("MZ the program that runs", ReadBytes(copy).substr(0, 64)) << "not the file opened at the start";

    struct Case {
        const char* what;
        std::string original;
        std::string copy;
        bool same;
    } const cases[] = {
        {"equal", "MZ program", "MZ program", true},
        {"both empty", "", "", true},
        {"one byte differs", "MZ program", "MZ progrAm", false},
        {"shorter", "MZ program", "MZ progra", false},
        {"longer", "MZ program", "MZ program+dll", false},
    };
    const std::wstring a = root + L"\\a.bin", b = root + L"\\b.bin";
    for (const Case& c : cases) {
        std::ofstream(std::filesystem::path(a), std::ios::binary | std::ios::trunc) << c.original;
        std::ofstream(std::filesystem::path(b), std::ios::binary | std::ios::trunc) << c.copy;
        EXPECT_EQ(c.same, SameFileContents(a.c_str(), b.c_str())) << c.what;
    }
    EXPECT_FALSE(SameFileContents(a.c_str(), (root + L"\\missing.bin").c_str()));
    EXPECT_FALSE(SameFileContents(static_cast<const wchar_t*>(nullptr), a.c_str()));
}

// The links are made by the test fixture: Wine presents a Unix symbolic link
// to a folder as a directory reparse point.
TEST(ToolFolder, ALinkInItsPlaceIsRefusedAndLeftAlone)
{
    const std::wstring links = L"C:\\vantrell-links";
    const std::wstring link = links + L"\\tool-link";
    DWORD attributes = GetFileAttributesW(link.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << "the fixture's link is missing";
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_FALSE(SecureToolPath(link.c_str())) << "a link is never re-permissioned";
    EXPECT_EQ(ToolFolderResult::IsLink, PrepareToolFolder(link.c_str()));
    EXPECT_EQ(attributes, GetFileAttributesW(link.c_str())) << "the link stays as it was";
    EXPECT_EQ("keep", ReadBytes(links + L"\\target\\keep.txt")) << "the link's target is untouched";
    EXPECT_EQ("keep", ReadBytes(link + L"\\keep.txt"));
}

// A folder found in place with a link inside is nobody's to take over: it
// goes aside whole, its link neither entered nor removed, and the folder is
// made afresh.
TEST(ToolFolder, AFolderHoldingALinkGoesAsideWithTheLinkNeverEntered)
{
    const std::wstring links = L"C:\\vantrell-links";
    const std::wstring inner = links + L"\\tool-tree";
    const DWORD linkAttributes = GetFileAttributesW((inner + L"\\link").c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, linkAttributes) << "the fixture's link is missing";
    EXPECT_EQ(ToolFolderResult::Ready, PrepareToolFolder(inner.c_str()));
    EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::path(inner)));
    const std::wstring aside = inner + L".old-1";
    EXPECT_EQ(linkAttributes, GetFileAttributesW((aside + L"\\link").c_str())) << "the link went along as it was";
    EXPECT_EQ("stays", ReadBytes(aside + L"\\sub\\file.txt"));
    EXPECT_EQ("keep", ReadBytes(links + L"\\target\\keep.txt"));
}

}  // namespace
