#include "accounts/profile_key_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Line feeds shown as "|".
std::string Lines(const wchar_t* text)
{
    std::string lines = Narrow(text);
    for (char& c : lines)
        c = c == '\n' ? '|' : c;
    return lines;
}

}  // namespace

TEST(ProfileKeyRules, BackupNamesNeedTenCharactersAndTheSuffix)
{
    struct { const wchar_t* name; bool backup; const wchar_t* current; } const cases[] = {
        {L"S-1-5-21-1-2-3-1001.bak", true, L"S-1-5-21-1-2-3-1001"}, {L"S-1-5-21.BAK", true, L"S-1-5-21"},
        {L"123456.bak", true, L"123456"},   // exactly ten characters
        {L"12345.bak", false, nullptr},     // nine
        {L"S-1-5-21-1-2-3.bak2", false, nullptr}, {L"", false, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.backup, IsBackupKeyName(c.name)) << Narrow(c.name);
        WString current(L"unchanged");
        EXPECT_EQ(c.backup, CurrentKeyName(c.name, current)) << Narrow(c.name);
        EXPECT_STREQ(c.current != nullptr ? c.current : L"unchanged", current.Text()) << Narrow(c.name);
    }
    EXPECT_FALSE(IsBackupKeyName(nullptr));
}

TEST(ProfileKeyRules, AnEntryPathNamesOneEntryOrNothing)
{
    const std::string list = Narrow(kProfileListKeyPath);
    const std::pair<const wchar_t*, std::string> names[] = {
        {L"S-1-5-21-1-2-3-1001", list + "\\S-1-5-21-1-2-3-1001"}, {L"S-1-5-21-1-2-3-1001.bak", list + "\\S-1-5-21-1-2-3-1001.bak"},
        {L"", ""}, {nullptr, ""}, {L"S-1-5-18\\Sub", ""}, {L"\\", ""}};
    for (const auto& [name, path] : names)
        EXPECT_EQ(path, Narrow(ProfileEntryKeyPath(name).Text())) << (name != nullptr ? Narrow(name) : "(null)");
}

TEST(ProfileKeyRules, TemporaryProfileMarkers)
{
    struct { const wchar_t* path; bool endsInTemp; bool computerMarker; } const cases[] = {
        {L"C:\\Users\\TEMP", true, false}, {L"C:\\Users\\Temp", true, false},
        {L"C:\\Users\\TEMP.OFFICE-PC", false, true}, {L"C:\\Users\\temp.office-pc.001", false, true},
        {L"C:\\Users\\TEMP.OTHER-PC", false, false}, {L"C:\\Users\\template", false, false},
        {L"C:\\temp\\profiles\\temp", false, false},   // the first "\temp" is not at the end
        {L"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.endsInTemp, EndsWithFolder(c.path, L"\\temp")) << Narrow(c.path);
        EXPECT_EQ(c.endsInTemp, EndsWithFolder(c.path, L"\\TEMP")) << Narrow(c.path);
        EXPECT_EQ(c.computerMarker, HasComputerTempMarker(c.path, L"OFFICE-PC")) << Narrow(c.path);
    }
}

TEST(ProfileKeyRules, MultiStringsBecomeLines)
{
    wchar_t two[] = {L'C', L':', L'\\', L'a', 0, L'D', L':', L'\\', L'b', 0, 0};
    MultiStringToLines(two, 11);
    EXPECT_EQ("C:\\a|D:\\b", Lines(two));

    wchar_t shortOne[] = {L'a', 0, L'b', 0};
    MultiStringToLines(shortOne, 3);
    EXPECT_EQ("a", Lines(shortOne)) << "three units or fewer are left alone";
    MultiStringToLines(shortOne, 4);
    EXPECT_EQ("a|b", Lines(shortOne)) << "four are not";
}

// The stored profile path is the account user's to influence: only a local
// folder strictly below the profiles folder is worked on.
TEST(IsProfileFolderAcceptable, LocalAndBelowTheProfilesFolderOnly)
{
    const wchar_t* profiles = L"C:\\Users";
    struct { const wchar_t* folder; bool accepted; } const cases[] = {
        {L"c:\\users\\SKOWALSKI\\", true}, {L"\\\\?\\C:\\Users\\skowalski", true}, {L"C:\\Users\\", false},
        {L"C:\\UsersX\\a", false}, {L"C:\\Users\\..\\Windows", false}, {L"C:\\Users\\a\\.\\b", false},
        {L"D:\\Users\\a", false}, {L"\\\\server\\share\\Users\\a", false},
        {L"\\\\?\\UNC\\server\\C$\\Users\\a", false}, {L"C:Users\\a", false}, {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.accepted, IsProfileFolderAcceptable(c.folder, profiles)) << "case " << (&c - cases);
    EXPECT_FALSE(IsProfileFolderAcceptable(L"C:\\Users\\a", L"Users"));
    EXPECT_FALSE(IsProfileFolderAcceptable(L"\\\\srv\\s\\Users\\a", L"\\\\srv\\s\\Users"));
}
