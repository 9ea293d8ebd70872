#include "tests/narrow.h"
#include "accounts/personal_folder_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

}  // namespace

TEST(PersonalFolderTable, DownloadsOnlyAboveVersion59)
{
    struct Case {
        double version;
        const char* rows;
    } const cases[] = {
        {5.1, "Desktop,Documents,Music,Pictures,Video,"},
        {5.9, "Desktop,Documents,Music,Pictures,Video,"},
        {6.0, "Desktop,Documents,Downloads,Music,Pictures,Video,"},
        {10.0, "Desktop,Documents,Downloads,Music,Pictures,Video,"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (int row : VisibleFolderRows(c.version))
            shown += Narrow(kPersonalFolders[row].name) + ",";
        EXPECT_EQ(c.rows, shown) << "version " << c.version;
    }
}

TEST(PersonalFolderTable, FoundByNameWithoutRegardToCase)
{
    struct Case {
        const wchar_t* name;
        int index;
    } const cases[] = {
        {L"Desktop", 0}, {L"documents", 1}, {L"DOWNLOADS", 2}, {L"Video", 5}, {L"Videos", -1}, {L"", -1}, {nullptr, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.index, FindPersonalFolder(c.name)) << Narrow(c.name);
    EXPECT_EQ(kNoCsidl, kPersonalFolders[2].csidl);
    EXPECT_EQ(std::string("Personal"), Narrow(kPersonalFolders[1].valueName));
}

TEST(NormalizeFolderPath, OneSpellingPerPlace)
{
    struct Case {
        const wchar_t* path;
        const char* normalized;   // null: refused
    } const cases[] = {
        {L"C:\\Data\\Docs", "C:\\Data\\Docs"},
        {L"c:\\Data\\Docs\\", "C:\\Data\\Docs"},
        {L"C:/Data//Docs/", "C:\\Data\\Docs"},
        {L"\\\\?\\C:\\Data\\Docs", "C:\\Data\\Docs"},
        {L"C:\\Data\\.\\x\\..\\Docs", "C:\\Data\\Docs"},
        {L"C:\\Data\\Docs.", "C:\\Data\\Docs"},
        {L"C:\\Data\\Docs. . ", "C:\\Data\\Docs"},
        {L"C:\\", "C:"},
        {L"C:", "C:"},
        {L"D:\\..", nullptr},
        {L"C:\\a\\..\\..\\b", nullptr},
        {L"C:folder", nullptr},
        {L"folder\\sub", nullptr},
        {L"\\folder", nullptr},
        {L"", nullptr},
        {L"\\\\server\\share\\docs\\", "\\\\server\\share\\docs"},
        {L"\\\\?\\UNC\\server\\share\\docs", "\\\\server\\share\\docs"},
        {L"\\\\server\\share", "\\\\server\\share"},
        {L"\\\\server", nullptr},
        {L"\\\\server\\..\\x", nullptr},
        {L"C:\\...", nullptr},
    };
    for (const Case& c : cases) {
        WString path(c.path);
        bool ok = NormalizeFolderPath(path);
        EXPECT_EQ(c.normalized != nullptr, ok) << Narrow(c.path) << " gave " << Narrow(path.Text());
        if (c.normalized != nullptr)
            EXPECT_EQ(c.normalized, Narrow(path.Text())) << Narrow(c.path);
        else
            EXPECT_EQ("", Narrow(path.Text())) << Narrow(c.path);
    }
}

TEST(IsVolumeRoot, DrivesAndShares)
{
    struct Case {
        const wchar_t* path;
        bool root;
    } const cases[] = {
        {L"C:", true},          {L"d:\\", true},          {L"C:\\Data", false},
        {L"\\\\srv\\share", true}, {L"\\\\srv\\share\\", true}, {L"\\\\srv\\share\\d", false},
        {L"", false},           {nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.root, IsVolumeRoot(c.path)) << Narrow(c.path);
}

namespace {

// A machine with one account "me" whose Documents are being moved.
DestinationFacts Machine(const wchar_t* destination)
{
    DestinationFacts facts;
    facts.destination = destination;
    facts.source = L"C:\\Users\\me\\Documents";
    facts.ownProfile = L"C:\\Users\\me";
    facts.profilesDirectory = L"C:\\Users";
    facts.systemFolders = {L"C:\\Windows", L"C:\\Program Files", L"C:\\Program Files (x86)", L"C:\\ProgramData"};
    // A profile entry without a path rules out nothing.
    facts.otherProfiles = {L"C:\\Users\\ann", nullptr, L"C:\\Users\\Public", L"C:\\Users\\Default", L"D:\\Profiles\\bob"};
    facts.otherFolders = {L"C:\\Users\\me\\Desktop", L"D:\\Media\\Music", L"C:\\Users\\me\\Downloads"};
    return facts;
}

}  // namespace

TEST(CheckDestination, RefusesWhatWouldDamageTheSystemOrAnotherAccount)
{
    using R = DestinationRefusal;
    struct Case {
        const wchar_t* destination;
        bool link;
        R refusal;
    } const cases[] = {
        {L"D:\\Data\\Documents", false, R::None},
        {L"C:\\Users\\me\\OneDrive\\Documents", false, R::None},   // below the own profile is fine
        {L"C:\\Users\\Shared Stuff", false, R::None},
        {L"D:\\Media", false, R::None},                             // holds Music, but is not Music's place
        {L"C:\\Windowsold", false, R::None},                        // only whole components count
        {L"", false, R::NotAPath},
        {L"D:", false, R::DriveRoot},
        {L"\\\\nas\\home", false, R::DriveRoot},
        {L"C:\\Windows", false, R::SystemFolder},
        {L"C:\\WINDOWS\\System32\\x", false, R::SystemFolder},
        {L"C:\\Program Files\\App", false, R::SystemFolder},
        {L"C:\\Program Files (x86)", false, R::SystemFolder},
        {L"C:\\ProgramData\\Docs", false, R::SystemFolder},
        {L"C:\\Users", false, R::ProfilesDirectory},
        {L"C:\\Users\\me", false, R::ProfilesDirectory},
        {L"C:\\Users\\ann", false, R::OtherProfile},
        {L"C:\\Users\\ann\\Documents", false, R::OtherProfile},
        {L"C:\\Users\\public\\Documents", false, R::OtherProfile},
        {L"D:\\Profiles\\bob\\x", false, R::OtherProfile},
        {L"C:\\Users\\me\\Documents", false, R::InsideSource},
        {L"C:\\Users\\me\\Documents\\New", false, R::InsideSource},
        {L"C:\\Users\\me\\Desktop", false, R::OtherFolder},
        {L"D:\\media\\music", false, R::OtherFolder},
        {L"D:\\Data\\Link", true, R::Link},
    };
    for (const Case& c : cases) {
        DestinationFacts facts = Machine(c.destination);
        facts.destinationIsLink = c.link;
        EXPECT_EQ(static_cast<int>(c.refusal), static_cast<int>(CheckDestination(facts))) << Narrow(c.destination);
    }
}

TEST(CheckDestination, AFolderThatContainsTheSourceIsRefused)
{
    // A folder moved out of a data disk: its parent is no place for it.
    DestinationFacts facts = Machine(L"D:\\Data");
    facts.source = L"D:\\Data\\Documents";
    EXPECT_EQ(static_cast<int>(DestinationRefusal::ContainsSource), static_cast<int>(CheckDestination(facts)));
    facts.destination = L"D:\\Data2";
    EXPECT_EQ(static_cast<int>(DestinationRefusal::None), static_cast<int>(CheckDestination(facts)));
}

TEST(CheckDestination, EveryRefusalHasItsOwnText)
{
    for (int r = 1; r <= static_cast<int>(DestinationRefusal::Link); ++r) {
        const wchar_t* text = RefusalText(static_cast<DestinationRefusal>(r));
        ASSERT_NE(nullptr, text) << "refusal " << r;
        for (int other = 1; other < r; ++other)
            EXPECT_NE(Narrow(text), Narrow(RefusalText(static_cast<DestinationRefusal>(other)))) << r << " " << other;
    }
    EXPECT_EQ(nullptr, RefusalText(DestinationRefusal::None));
}

// The current place is read from the account's own registry: whatever it
// names, its contents move only out of a place of the account's own.
TEST(CheckSource, RefusesToEmptyThePlacesOfTheSystemOrAnotherAccount)
{
    using R = SourceRefusal;
    struct Case {
        const wchar_t* source;
        bool link;
        bool contents;
        R refusal;
    } const cases[] = {
        {L"C:\\Users\\me\\Documents", false, true, R::None},
        {L"D:\\Data\\Documents", false, true, R::None},
        {L"C:\\Users\\Shared Stuff", false, true, R::None},
        {L"C:\\Windowsold\\Docs", false, true, R::None},
        {L"", false, true, R::NotAPath},
        {L"D:", false, true, R::DriveRoot},
        {L"\\\\nas\\home", false, true, R::DriveRoot},
        {L"C:\\Windows", false, true, R::SystemFolder},
        {L"C:\\WINDOWS\\Temp\\Docs", false, true, R::SystemFolder},
        {L"C:\\Program Files (x86)\\App", false, true, R::SystemFolder},
        {L"C:\\ProgramData", false, true, R::SystemFolder},
        {L"C:\\Users", false, true, R::ProfilesDirectory},
        {L"c:\\users\\ME", false, true, R::ProfilesDirectory},
        {L"C:\\Users\\ann", false, true, R::OtherProfile},
        {L"C:\\Users\\ann\\Documents", false, true, R::OtherProfile},
        {L"C:\\Users\\Default\\Documents", false, true, R::OtherProfile},
        {L"D:\\Profiles\\bob\\Music", false, true, R::OtherProfile},
        {L"C:\\Users\\me\\Documents", true, true, R::Link},
        {L"C:\\Users\\ann\\Documents", true, true, R::OtherProfile},   // the place itself says more
        // Without its contents nothing is taken from the place.
        {L"C:\\Users\\ann\\Documents", false, false, R::None},
        {L"C:\\Windows", true, false, R::None},
    };
    for (const Case& c : cases) {
        DestinationFacts facts = Machine(L"D:\\Data\\New");
        facts.source = c.source;
        facts.sourceHasLink = c.link;
        EXPECT_EQ(static_cast<int>(c.refusal), static_cast<int>(CheckSource(facts, c.contents)))
            << Narrow(c.source) << " link " << c.link << " contents " << c.contents;
    }
}

TEST(CheckSource, EveryRefusalNamesThePlaceAndHasItsOwnText)
{
    const wchar_t* place = L"C:\\Users\\ann\\Documents";
    for (int r = 1; r <= static_cast<int>(SourceRefusal::Link); ++r) {
        WString text = SourceRefusalText(static_cast<SourceRefusal>(r), place);
        EXPECT_NE(std::string::npos, Narrow(text.Text()).find(Narrow(place))) << "refusal " << r;
        for (int other = 1; other < r; ++other)
            EXPECT_NE(Narrow(text.Text()),
                      Narrow(SourceRefusalText(static_cast<SourceRefusal>(other), place).Text()))
                << r << " " << other;
    }
    EXPECT_EQ("", Narrow(SourceRefusalText(SourceRefusal::None, place).Text()));
}

TEST(FoldersOnTheWay, EveryFolderBelowTheRoot)
{
    struct Case {
        const wchar_t* path;
        const char* folders;
    } const cases[] = {
        {L"C:\\Users\\me\\Documents", "C:\\Users|C:\\Users\\me|C:\\Users\\me\\Documents|"},
        {L"\\\\?\\c:\\Data\\", "C:\\Data|"},
        {L"C:\\Data\\..\\Other\\.\\x", "C:\\Other|C:\\Other\\x|"},
        {L"\\\\srv\\share\\home\\me", "\\\\srv\\share\\home|\\\\srv\\share\\home\\me|"},
        {L"\\\\srv\\share", ""},
        {L"D:\\", ""},
        {L"Documents", ""},
        {L"", ""},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const WString& folder : FoldersOnTheWay(c.path))
            shown += Narrow(folder.Text()) + "|";
        EXPECT_EQ(c.folders, shown) << Narrow(c.path);
    }
}

TEST(ProfileRelativeForm, OnlyALeadingWholeProfileIsReplaced)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* profile;
        const char* expected;
    } const cases[] = {
        {L"C:\\Users\\me\\Documents", L"C:\\Users\\me", "%USERPROFILE%\\Documents"},
        {L"c:\\users\\ME\\Docs", L"C:\\Users\\me\\", "%USERPROFILE%\\Docs"},
        {L"C:\\Users\\me", L"C:\\Users\\me", "%USERPROFILE%"},
        {L"C:\\Users\\me2\\Documents", L"C:\\Users\\me", "C:\\Users\\me2\\Documents"},
        {L"D:\\Backup\\C:\\Users\\me\\x", L"C:\\Users\\me", "D:\\Backup\\C:\\Users\\me\\x"},
        {L"D:\\Data", L"C:\\Users\\me", "D:\\Data"},
        {L"D:\\Data", L"", "D:\\Data"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Narrow(ProfileRelativeForm(c.path, c.profile).Text())) << Narrow(c.path);
}

TEST(MoveProgressText, FilesAndBytesOfTheTotal)
{
    struct Case {
        uint64_t filesDone, filesTotal, bytesDone, bytesTotal;
        const char* text;
    } const cases[] = {
        {0, 0, 0, 0, "Moving files: 0 of 0 (0 bytes of 0 bytes)"},
        {1, 10, 1, 1000, "Moving files: 1 of 10 (1 byte of 1,000 bytes)"},
        {1234, 10000, 1536, 10485760, "Moving files: 1,234 of 10,000 (1.5 KB of 10.0 MB)"},
        {10000, 10000, 1288490189, 1288490189, "Moving files: 10,000 of 10,000 (1.20 GB of 1.20 GB)"},
        {11, 10, 5, 3, "Moving files: 11 of 11 (5 bytes of 5 bytes)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, Narrow(MoveProgressText(c.filesDone, c.filesTotal, c.bytesDone, c.bytesTotal).Text()));
}

TEST(ByteSizeText, UnitsAndRounding)
{
    struct Case {
        uint64_t bytes;
        const char* text;
    } const cases[] = {
        {0, "0 bytes"}, {1023, "1,023 bytes"}, {1024, "1.0 KB"}, {1047552, "1,023.0 KB"},
        {1048576, "1.0 MB"}, {104857600, "100.0 MB"}, {1073741824, "1.00 GB"}, {1099511627776ULL, "1.00 TB"},
        {1125899906842624ULL, "1,024.00 TB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, Narrow(ByteSizeText(c.bytes).Text())) << c.bytes;
}

TEST(ParseChildPattern, EveryForm)
{
    struct Case {
        const wchar_t* pattern;
        bool valid;
        const char* className;
        const char* text;
        const char* classNN;
        bool hasId;
        int id, instance;
        bool either;
    } const cases[] = {
        {L"[CLASS:DirectUIHWND; INSTANCE:3]", true, "DirectUIHWND", "", "", false, 0, 3, false},
        {L"  [class:SysListView32;instance:1]  ", true, "SysListView32", "", "", false, 0, 1, false},
        {L"[INSTANCE:2; CLASS:Button]", true, "Button", "", "", false, 0, 2, false},   // any order
        {L"[TEXT:&Open]", true, "", "Open", "", false, 0, 1, false},
        {L"[TEXT:'Save && Close']", true, "", "Save  Close", "", false, 0, 1, false},
        {L"[TEXT:\"a;;b\"]", true, "", "a;b", "", false, 0, 1, false},
        {L"[ID:1001]", true, "", "", "", true, 1001, 1, false},
        {L"[ID:x1]", false, "", "", "", false, 0, 1, false},
        {L"[CLASSNN:Edit2]", true, "", "", "Edit2", false, 0, 1, false},
        {L"[CLASSNN:Edit]", false, "", "", "", false, 0, 1, false},
        {L"[INSTANCE:3]", false, "", "", "", false, 0, 3, false},
        {L"[X; CLASS:Edit; FOO:bar]", true, "Edit", "", "", false, 0, 1, false},
        {L"[]", false, "", "", "", false, 0, 1, false},
        {L"1001", true, "", "", "", true, 1001, 1, false},
        {L"&OK", true, "", "OK", "&OK", false, 0, 1, true},
        {L"Edit2", true, "", "Edit2", "Edit2", false, 0, 1, true},
        {L"", false, "", "", "", false, 0, 1, false},
        {nullptr, false, "", "", "", false, 0, 1, false},
    };
    for (const Case& c : cases) {
        ChildPattern pattern = ParseChildPattern(c.pattern);
        const std::string shown = Narrow(c.pattern);
        EXPECT_EQ(c.valid, pattern.valid) << shown;
        if (!c.valid)
            continue;
        EXPECT_EQ(c.className, Narrow(pattern.className.Text())) << shown;
        EXPECT_EQ(c.text, Narrow(pattern.text.Text())) << shown;
        EXPECT_EQ(c.classNN, Narrow(pattern.classNN.Text())) << shown;
        EXPECT_EQ(c.hasId, pattern.hasId) << shown;
        EXPECT_EQ(c.id, pattern.id) << shown;
        EXPECT_EQ(c.instance, pattern.instance) << shown;
        EXPECT_EQ(c.either, pattern.textOrClassNN) << shown;
    }
}

TEST(ChildMatches, EveryGivenPropertyMustMatch)
{
    struct Case {
        const wchar_t* pattern;
        const wchar_t* className;
        const wchar_t* text;
        int id, ordinal;
        bool matches;
    } const cases[] = {
        {L"[CLASS:Button]", L"button", L"OK", 1, 1, true},
        {L"[CLASS:Button]", L"Edit", L"OK", 1, 1, false},
        {L"[CLASS:Button; TEXT:OK]", L"Button", L"&OK", 1, 1, true},
        {L"[CLASS:Button; TEXT:OK]", L"Button", L"Cancel", 1, 1, false},
        {L"[ID:7]", L"Edit", L"", 7, 3, true},
        {L"[ID:7]", L"Edit", L"", 8, 3, false},
        {L"[CLASSNN:Edit2]", L"Edit", L"", 1, 2, true},
        {L"[CLASSNN:Edit2]", L"Edit", L"", 1, 1, false},
        {L"[CLASSNN:Edit2]", L"Static", L"", 1, 2, false},
        {L"Edit2", L"Edit", L"whatever", 1, 2, true},      // a bare CLASSNN
        {L"Cancel", L"Button", L"&Cancel", 2, 1, true},     // a bare text
        {L"Cancel", L"Button", L"OK", 2, 1, false},
        {L"2", L"Button", L"OK", 2, 1, true},
        {L"[INSTANCE:3]", L"Button", L"OK", 2, 1, false},
    };
    for (const Case& c : cases) {
        ChildPattern pattern = ParseChildPattern(c.pattern);
        ChildFacts facts{c.className, c.text, c.id, c.ordinal};
        EXPECT_EQ(c.matches, ChildMatches(pattern, facts)) << Narrow(c.pattern) << " on " << Narrow(c.className) << " "
                                                         << Narrow(c.text);
    }
}
