#include "platform/file_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

std::string ShowPath(const wchar_t* text) { return text == nullptr ? "(null)" : "\"" + Narrow(text) + "\""; }

}  // namespace

TEST(PassesDirectoryFilter, SkipBitsAndDotEntries)
{
    constexpr uint32_t file = 0x20, dir = kAttributeDirectory, link = kAttributeDirectory | kAttributeReparsePoint;
    constexpr uint32_t fileLink = 0x20 | kAttributeReparsePoint;
    struct { const wchar_t* name; uint32_t attributes, filter; bool passes; } const cases[] = {
        {L"link", link, 0, true},        {L".", dir, 0, false},           {L"..", dir, 0, false},
        {L"...", dir, 0, true},          {L".profile", file, 0, true},    {L"", file, 0, false},
        {L"flink", fileLink, kSkipReparsePoints, false}, {L"sub", dir, kSkipReparsePoints, true},
        {L"sub", dir, kOnlyFiles, false},    {L"flink", fileLink, kOnlyFiles, true},
        {L"a.txt", file, kOnlyDirectories, false}, {L"link", link, kOnlyDirectories, true},
        {L"link", link, kOnlyDirectories | kSkipReparsePoints, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.passes, PassesDirectoryFilter(c.name, c.attributes, c.filter))
            << "attributes 0x" << std::hex << c.attributes << " filter " << c.filter;
}

// The attribute sets a directory link (junction or symbolic link) carries on
// Windows; the decision must not depend on anything else of the entry.
TEST(ClassifyForDeletion, LinksAreNeverEntered)
{
    struct { uint32_t attributes; EntryKind kind; } const cases[] = {
        {kAttributeDirectory | kAttributeHidden | kAttributeSystem, EntryKind::Directory},
        {kAttributeDirectory | kAttributeReparsePoint | kAttributeHidden | kAttributeSystem, EntryKind::Link},
        {kInvalidAttributes, EntryKind::Link}, {kAttributeNormal, EntryKind::File},
        {0x20 | kAttributeReparsePoint, EntryKind::File},   // a file link is deleted like a file
        {kAttributeReadOnly, EntryKind::File},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.kind, ClassifyForDeletion(c.attributes)) << "attributes 0x" << std::hex << c.attributes;
}

TEST(AttributesAfterClearing, TakesOffOnlyWhatBlocksDeletion)
{
    struct { uint32_t attributes, after; } const cases[] = {
        {kAttributeReadOnly, kAttributeNormal}, {kAttributeSystem | kAttributeHidden | 0x20, 0x20},
        {kAttributeReadOnly | kAttributeReparsePoint | kAttributeDirectory, kAttributeReparsePoint | kAttributeDirectory},
        {0x20, kInvalidAttributes},
        {kInvalidAttributes, kInvalidAttributes},   // unreadable attributes are not "all set"
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.after, AttributesAfterClearing(c.attributes)) << "attributes 0x" << std::hex << c.attributes;
}

TEST(IsWildcardMask, StarOrQuestionMark)
{
    struct { const wchar_t* component; bool wildcard; } const cases[] = {
        {L"*.tmp", true}, {L"file?.txt", true}, {L"file.txt", false}, {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.wildcard, IsWildcardMask(c.component));
}

TEST(IsSameOrBelow, WholeComponentsWithoutRegardToCase)
{
    struct { const wchar_t* inner; const wchar_t* outer; bool below; } const cases[] = {
        {L"C:\\Users\\Ann\\Documents", L"c:\\users\\ann", true},
        {L"C:\\Users\\Anna", L"C:\\Users\\Ann", false},   // a longer name is not below
        {L"C:\\Users", L"C:\\Users\\Ann", false}, {L"", L"", true}, {nullptr, L"C:\\", false},
        {L"C:\\", nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.below, IsSameOrBelow(c.inner, c.outer))
            << ShowPath(c.inner) << " / " << ShowPath(c.outer);
}

// Absolute: needs no current folder. Local: a drive of this computer, never
// another host nor a device.
TEST(IsAbsolutePathText, OnlyPathsThatNeedNoCurrentFolderAndLocalOnlyOnADrive)
{
    struct { const wchar_t* path; bool absolute, local; } const cases[] = {
        {L"c:\\Users\\x", true, true},   {L"\\\\server\\share", true, false}, {L"\\\\?\\A:\\x", true, true},
        {L"\\\\?\\unc\\srv\\share\\x", true, false}, {L"Z:/x", true, true}, {L"C:", false, false},
        {L"C:x", false, false}, {L"\\x", false, false}, {L"\\\\server\\", false, false},
        {L"\\\\.\\C:\\x", false, false}, {L"\\\\?\\C:", false, false}, {L"\\\\?\\UNC\\srv", false, false},
        {L"\\\\?\\x", false, false}, {nullptr, false, false}, {L"@:\\x", false, false}, {L"[:\\x", false, false},
        {L"//host/share/a", false, false}, {L"\\\\?\\GLOBALROOT\\Device\\Mup\\host\\a", false, false},
        {L"\\??\\C:\\a", false, false}, {L"`:\\x", false, false}, {L"{:\\x", false, false}, {L"a.png", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.absolute, IsAbsolutePathText(c.path)) << ShowPath(c.path);
        EXPECT_EQ(c.local, IsLocalDrivePath(c.path)) << ShowPath(c.path);
    }
}

TEST(HasDotComponents, DotAndDotDotAnywhere)
{
    struct { const wchar_t* path; bool dots; } const cases[] = {
        {L"C:\\a\\.", true},  {L"..", true},          {L"a/../b", true},    {L"C:\\a\\...", false},
        {L"C:\\.x\\y.", false}, {L"C:\\a..b", false},   {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.dots, HasDotComponents(c.path)) << ShowPath(c.path);
}

TEST(IsVolumeRoot, DrivesAndSharesButNothingBelow)
{
    struct { const wchar_t* path; bool root; } const cases[] = {
        {L"\\\\?\\C:\\", true},  {L"C:", true},              {L"\\\\?\\UNC\\srv\\share", true}, {L"\\\\?\\UNC\\srv", true},
        {L"\\\\?\\C:\\x", false}, {L"\\\\?\\UNC\\srv\\share\\x", false}, {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.root, IsVolumeRoot(c.path)) << ShowPath(c.path);
}
