#include "tests/narrow.h"
#include "accounts/personal_folder_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

TEST(PersonalFolderTable, DownloadsOnlyFromVersion6AndFoundByNameInAnyCase)
{
    for (auto [version, rows] : {std::pair{5.9, "Desktop,Documents,Music,Pictures,Video,"},
                                 std::pair{6.0, "Desktop,Documents,Downloads,Music,Pictures,Video,"}}) {
        std::string shown;
        for (int row : VisibleFolderRows(version))
            shown += Narrow(kPersonalFolders[row].name) + ",";
        EXPECT_EQ(rows, shown) << "version " << version;
    }
    struct { const wchar_t* name; int index; } const cases[] = {
        {L"Desktop", 0}, {L"DOWNLOADS", 2}, {L"Video", 5}, {L"Videos", -1}, {nullptr, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.index, FindPersonalFolder(c.name)) << Narrow(c.name);
}

TEST(NormalizeFolderPath, OneSpellingPerPlace)
{
    struct { const wchar_t* path; const char* normalized; } const cases[] = {   // null: refused
        {L"z:\\Data\\Docs\\", "Z:\\Data\\Docs"},
        {L"a:/Data//Docs/", "A:\\Data\\Docs"},
        {L"\\\\?\\Z:\\Data\\Docs", "Z:\\Data\\Docs"}, {L"C:\\Data\\.\\x\\..\\Docs", "C:\\Data\\Docs"},
        {L"C:\\Data\\Docs. . ", "C:\\Data\\Docs"}, {L"A:\\", "A:"}, {L"D:\\..", nullptr}, {L"C:folder", nullptr},
        {L"\\folder", nullptr}, {L"", nullptr}, {L"\\\\?\\UNC\\server\\share\\docs", "\\\\server\\share\\docs"},
        {L"\\\\server\\share", "\\\\server\\share"}, {L"\\\\server", nullptr}, {L"\\\\server\\..\\x", nullptr},
        {L"C:\\...", nullptr}, {L"@:\\x", nullptr}, {L"[:\\x", nullptr}, {L"`:\\x", nullptr}, {L"{:\\x", nullptr},
    };
    for (const auto& c : cases) {
        WString path(c.path);
        bool ok = NormalizeFolderPath(path);
        EXPECT_EQ(c.normalized != nullptr, ok) << Narrow(c.path) << " gave " << Narrow(path.Text());
        EXPECT_EQ(c.normalized != nullptr ? c.normalized : "", Narrow(path.Text())) << Narrow(c.path);
    }
    const std::pair<const wchar_t*, bool> roots[] = {{L"C:", true}, {L"d:\\", true}, {L"C:\\Data", false},
                                                     {L"\\\\srv\\share\\", true}, {L"\\\\srv\\share\\d", false}, {L"", false}};
    for (auto [path, root] : roots)
        EXPECT_EQ(root, IsVolumeRoot(path)) << Narrow(path);
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
    facts.systemFolders = {L"C:\\Windows", L"C:\\Program Files", L"C:\\ProgramData"};
    // A profile entry without a path rules out nothing.
    facts.otherProfiles = {L"C:\\Users\\ann", nullptr, L"C:\\Users\\Public", L"D:\\Profiles\\bob"};
    facts.otherFolders = {L"C:\\Users\\me\\Desktop", L"D:\\Media\\Music"};
    return facts;
}

}  // namespace

TEST(CheckDestination, RefusesWhatWouldDamageTheSystemOrAnotherAccount)
{
    using R = DestinationRefusal;
    struct { const wchar_t* destination; bool link; R refusal; bool profilesUnknown = false; } const cases[] = {
        {L"D:\\Data\\Documents", false, R::None},
        {L"C:\\Users\\me\\OneDrive\\Documents", false, R::None},   // below the own profile is fine
        {L"D:\\Media", false, R::None},                             // holds Music, but is not Music's place
        {L"C:\\Windowsold", false, R::None},                        // only whole components count
        {L"", false, R::NotAPath}, {L"\\\\nas\\home", false, R::DriveRoot},
        {L"C:\\WINDOWS\\System32\\x", false, R::SystemFolder}, {L"C:\\ProgramData\\Docs", false, R::SystemFolder},
        {L"C:\\Users", false, R::ProfilesDirectory}, {L"C:\\Users\\me", false, R::ProfilesDirectory},
        {L"C:\\Users\\public\\Documents", false, R::OtherProfile}, {L"D:\\Profiles\\bob\\x", false, R::OtherProfile},
        {L"C:\\Users\\me\\Documents\\New", false, R::InsideSource},
        {L"C:\\Users\\me\\Desktop", false, R::OtherFolder}, {L"D:\\media\\music", false, R::OtherFolder},
        {L"D:\\Data\\Link", true, R::Link},
        // Without every profile no place can be told apart from another's;
        // the places known to be wrong are still named as such.
        {L"D:\\Data\\Documents", false, R::ProfilesUnknown, true},
        {L"C:\\WINDOWS\\System32\\x", false, R::SystemFolder, true},
    };
    for (const auto& c : cases) {
        DestinationFacts facts = Machine(c.destination);
        facts.destinationIsLink = c.link;
        facts.otherProfilesKnown = !c.profilesUnknown;
        EXPECT_EQ(static_cast<int>(c.refusal), static_cast<int>(CheckDestination(facts))) << Narrow(c.destination);
    }
    // A folder moved out of a data disk: its parent is no place for it.
    DestinationFacts facts = Machine(L"D:\\Data");
    facts.source = L"D:\\Data\\Documents";
    EXPECT_EQ(static_cast<int>(DestinationRefusal::ContainsSource), static_cast<int>(CheckDestination(facts)));
    // The own profile listed among the others is still the own.
    facts = Machine(L"C:\\Users\\me\\Data");
    facts.otherProfiles.push_back(L"c:\\users\\ME");
    EXPECT_EQ(static_cast<int>(DestinationRefusal::None), static_cast<int>(CheckDestination(facts)));

    for (int r = 1; r <= static_cast<int>(DestinationRefusal::ProfilesUnknown); ++r) {
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
    struct {
        const wchar_t* source;
        bool link, contents;
        R refusal;
        bool recorded = false, owned = false, profilesUnknown = false;
    } const cases[] = {
        {L"D:\\Data\\Documents", false, true, R::NotOwnPlace}, {L"", false, true, R::NotAPath},
        {L"C:\\Users\\me\\Documents", false, true, R::None},   // inside the own profile
        {L"D:\\Data\\Documents", false, true, R::None, true},    // where this program put it
        {L"D:\\Data\\Documents", false, true, R::None, false, true},   // the account's own folder
        // Places the account's own registry may name but that are not its own.
        {L"C:\\Users\\deleted\\Documents", false, true, R::NotOwnPlace},
        {L"C:\\$Recycle.Bin\\S-1-5-21-1-2-3-1002", false, true, R::NotOwnPlace},
        {L"C:\\Windows.old\\Users\\ann\\Documents", false, true, R::NotOwnPlace},
        {L"C:\\Users\\ann\\Documents", false, true, R::OtherProfile, true, true},   // never another's
        {L"D:", false, true, R::DriveRoot}, {L"C:\\Program Files\\App", false, true, R::SystemFolder},
        {L"c:\\users\\ME", false, true, R::ProfilesDirectory},
        {L"C:\\Users\\ann\\Documents", false, true, R::OtherProfile},
        {L"C:\\Users\\me\\Documents", true, true, R::Link},
        {L"C:\\Users\\ann\\Documents", true, true, R::OtherProfile},   // the place itself says more
        // Without its contents nothing is taken from the place.
        {L"C:\\Windows", true, false, R::None},
        {L"C:\\Users\\me\\Documents", false, true, R::ProfilesUnknown, false, false, true},
        {L"C:\\Users\\me\\Documents", false, false, R::None, false, false, true},
    };
    for (const auto& c : cases) {
        DestinationFacts facts = Machine(L"D:\\Data\\New");
        facts.source = c.source;
        facts.sourceHasLink = c.link;
        facts.sourceRecorded = c.recorded;
        facts.sourceOwned = c.owned;
        facts.otherProfilesKnown = !c.profilesUnknown;
        EXPECT_EQ(static_cast<int>(c.refusal), static_cast<int>(CheckSource(facts, c.contents)))
            << Narrow(c.source) << " link " << c.link << " contents " << c.contents;
    }

    const wchar_t* place = L"C:\\Users\\ann\\Documents";
    for (int r = 1; r <= static_cast<int>(SourceRefusal::ProfilesUnknown); ++r) {
        WString text = SourceRefusalText(static_cast<SourceRefusal>(r), place);
        EXPECT_NE(std::string::npos, Narrow(text.Text()).find(Narrow(place))) << "refusal " << r;
        // The command line has no check box to uncheck.
        const std::string typed =
            Narrow(SourceRefusalText(static_cast<SourceRefusal>(r), place, PlaceOnlyHint::CommandLine).Text());
        EXPECT_EQ(std::string::npos, typed.find("Uncheck")) << typed;
        EXPECT_NE(std::string::npos, typed.find("--place-only")) << typed;
        for (int other = 1; other < r; ++other)
            EXPECT_NE(Narrow(text.Text()), Narrow(SourceRefusalText(static_cast<SourceRefusal>(other), place).Text()))
                << r << " " << other;
    }
    EXPECT_EQ("", Narrow(SourceRefusalText(SourceRefusal::None, place).Text()));
}

TEST(FolderPaths, FoldersOnTheWayAndProfileRelativeForm)
{
    struct { const wchar_t* path; const char* folders; } const ways[] = {
        {L"C:\\Users\\me\\Documents", "C:\\Users|C:\\Users\\me|C:\\Users\\me\\Documents|"},
        {L"\\\\?\\c:\\Data\\", "C:\\Data|"},
        {L"\\\\srv\\share\\home\\me", "\\\\srv\\share\\home|\\\\srv\\share\\home\\me|"}, {L"\\\\srv\\share", ""},
        {L"D:\\", ""}, {L"Documents", ""},
    };
    for (const auto& c : ways) {
        std::string shown;
        for (const WString& folder : FoldersOnTheWay(c.path))
            shown += Narrow(folder.Text()) + "|";
        EXPECT_EQ(c.folders, shown) << Narrow(c.path);
    }

    struct { const wchar_t* path; const wchar_t* profile; const char* expected; } const forms[] = {
        {L"c:\\users\\ME\\Docs", L"C:\\Users\\me\\", "%USERPROFILE%\\Docs"},
        {L"C:\\Users\\me", L"C:\\Users\\me", "%USERPROFILE%"},
        {L"C:\\Users\\me2\\Documents", L"C:\\Users\\me", "C:\\Users\\me2\\Documents"},
        {L"D:\\Backup\\C:\\Users\\me\\x", L"C:\\Users\\me", "D:\\Backup\\C:\\Users\\me\\x"},
        {L"D:\\Data", L"", "D:\\Data"},
    };
    for (const auto& c : forms)
        EXPECT_EQ(c.expected, Narrow(ProfileRelativeForm(c.path, c.profile).Text())) << Narrow(c.path);

    // Another account's stored places, read against its own profile.
    struct { const wchar_t* stored; const char* expected; } const stored[] = {
        {L"%userprofile%\\Docs", "C:\\Users\\her\\Docs"}, {L"%USERPROFILE%", "C:\\Users\\her"},
        {L"%USERPROFILE%2\\Docs", "%USERPROFILE%2\\Docs"}, {L"D:\\%USERPROFILE%\\x", "D:\\%USERPROFILE%\\x"},
    };
    for (const auto& c : stored)
        EXPECT_EQ(c.expected, Narrow(ProfileAbsoluteForm(c.stored, L"C:\\Users\\her\\").Text())) << Narrow(c.stored);
}

TEST(MoveProgressText, FilesAndBytesOfTheTotal)
{
    struct { uint64_t filesDone, filesTotal, bytesDone, bytesTotal; const char* text; } const cases[] = {
        {1, 10, 1, 1000, "Moving files: 1 of 10 (1 byte of 1,000 bytes)"},
        {1234, 10000, 1536, 10485760, "Moving files: 1,234 of 10,000 (1.5 KB of 10.0 MB)"},
        {11, 10, 5, 3, "Moving files: 11 of 11 (5 bytes of 5 bytes)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, Narrow(MoveProgressText(c.filesDone, c.filesTotal, c.bytesDone, c.bytesTotal).Text()));

    struct { uint64_t bytes; const char* text; } const sizes[] = {
        {1023, "1,023 bytes"}, {1024, "1.0 KB"}, {1047552, "1,023.0 KB"}, {1048576, "1.0 MB"},
        {1073741824, "1.00 GB"}, {1288490189, "1.20 GB"}, {1125899906842624ULL, "1,024.00 TB"},
    };
    for (const auto& c : sizes)
        EXPECT_EQ(c.text, Narrow(ByteSizeText(c.bytes).Text())) << c.bytes;
}

TEST(ChildPattern, ParsedInEveryFormAndMatched)
{
    struct {
        const wchar_t* pattern; bool valid; const char* className; const char* text; const char* classNN;
        int id, instance; bool either;
    } const forms[] = {
        {L"  [class:SysListView32;instance:1]  ", true, "SysListView32", "", "", -1, 1, false},
        {L"[INSTANCE:2; CLASS:Button]", true, "Button", "", "", -1, 2, false},   // any order
        {L"[TEXT:'Save && Close']", true, "", "Save  Close", "", -1, 1, false},
        {L"[TEXT:\"a;;b\"]", true, "", "a;b", "", -1, 1, false}, {L"[ID:1001]", true, "", "", "", 1001, 1, false},
        {L"[ID:x1]", false, "", "", "", -1, 1, false}, {L"[CLASSNN:Edit10]", true, "", "", "Edit10", -1, 1, false},
        {L"[CLASSNN:Edit]", false, "", "", "", -1, 1, false}, {L"[INSTANCE:3]", false, "", "", "", -1, 3, false},
        {L"[X; CLASS:Edit; FOO:bar]", true, "Edit", "", "", -1, 1, false},
        {L"1009", true, "", "", "", 1009, 1, false}, {L"&OK", true, "", "OK", "&OK", -1, 1, true},
        {nullptr, false, "", "", "", -1, 1, false},
    };
    for (const auto& c : forms) {
        ChildPattern p = ParseChildPattern(c.pattern);
        EXPECT_EQ(c.valid, p.valid) << Narrow(c.pattern);
        if (c.valid) {
            EXPECT_EQ(std::string(c.className) + "|" + c.text + "|" + c.classNN + "|" + std::to_string(c.id) + "|" +
                          std::to_string(c.instance) + "|" + std::to_string(c.either),
                      Narrow(p.className.Text()) + "|" + Narrow(p.text.Text()) + "|" + Narrow(p.classNN.Text()) + "|" +
                          std::to_string(p.hasId ? p.id : -1) + "|" + std::to_string(p.instance) + "|" +
                          std::to_string(p.textOrClassNN))
                << Narrow(c.pattern);
        }
    }

    struct { const wchar_t* pattern; const wchar_t* className; const wchar_t* text; int id, ordinal; bool matches; }
    const matches[] = {
        {L"[CLASS:Button]", L"button", L"OK", 1, 1, true}, {L"[CLASS:Button]", L"Edit", L"OK", 1, 1, false},
        {L"[CLASS:Button; TEXT:OK]", L"Button", L"&OK", 1, 1, true},
        {L"[CLASS:Button; TEXT:OK]", L"Button", L"Cancel", 1, 1, false}, {L"[ID:7]", L"Edit", L"", 8, 3, false},
        {L"[CLASSNN:Edit2]", L"Edit", L"", 1, 2, true}, {L"[CLASSNN:Edit2]", L"Edit", L"", 1, 1, false},
        {L"[CLASSNN:Edit2]", L"Static", L"", 1, 2, false},
        {L"Edit2", L"Edit", L"whatever", 1, 2, true},      // a bare CLASSNN
        {L"Cancel", L"Button", L"&Cancel", 2, 1, true},     // a bare text
        {L"Cancel", L"Button", L"OK", 2, 1, false}, {L"2", L"Button", L"OK", 2, 1, true},
        {L"[INSTANCE:3]", L"Button", L"OK", 2, 1, false},
    };
    for (const auto& c : matches) {
        ChildFacts facts{c.className, c.text, c.id, c.ordinal};
        EXPECT_EQ(c.matches, ChildMatches(ParseChildPattern(c.pattern), facts))
            << Narrow(c.pattern) << " on " << Narrow(c.className) << " " << Narrow(c.text);
    }
}
