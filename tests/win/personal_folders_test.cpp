// The personal-folder operations on the simulated machine: the four ways of
// changing a folder's place, the refused destinations, the moved folder's
// permissions, the child window finder and the Explorer refresh.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "accounts/explorer_refresh.h"
#include "accounts/lookup.h"
#include "accounts/personal_folders.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "platform/tree_walk.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"
#include "tests/win/personal_folders_support.h"
#include "tests/win/test_support.h"

namespace {

const wchar_t kExplorer[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";

std::wstring ReadValue(const wchar_t* list, const wchar_t* name, DWORD* type = nullptr)
{
    return RegText(HKEY_CURRENT_USER, kExplorer + std::wstring(list), name, type);
}

class FolderLocationTest : public ::testing::Test {
protected:
    // The known-folder manager is a COM object, as in the program.
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void SetUp() override
    {
        ASSERT_TRUE(ResetScenario(L"default"));
        saved_.Save();
        ASSERT_TRUE(GetAccountSidAndProfile(ProcessUserName().c_str(), sid_, &profile_));
    }
    void TearDown() override
    {
        saved_.Restore();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMovedPlaces);
    }

    // Where the program records the places it moved the folders to.
    static constexpr wchar_t kMovedPlaces[] = L"SOFTWARE\\Vantrell\\Moved folders";

    SavedShellFolders saved_;
    WString sid_, profile_;
};

}  // namespace

TEST_F(FolderLocationTest, EachWayIsTakenWhenTheOnesBeforeItFail)
{
    struct Case {
        bool redirect, knownFolderPath, ordinal;
        const wchar_t* folder;
        FolderSetter expected;
        const wchar_t* recordedBy;   // null: nothing recorded (the registry was written directly)
    } const cases[] = {
        {true, true, true, L"Music", FolderSetter::Redirect, L"Redirect"},
        {false, true, true, L"Music", FolderSetter::KnownFolderPath, L"SHSetKnownFolderPath"},
        {false, false, true, L"Music", FolderSetter::FolderPathOrdinal, L"232"},
        {false, false, false, L"Music", FolderSetter::Registry, nullptr},
        {false, false, true, L"Downloads", FolderSetter::Registry, nullptr},   // no CSIDL, so no ordinal 232
        {true, false, false, L"downloads", FolderSetter::Redirect, L"Redirect"},
    };
    int n = 0;
    for (const Case& c : cases) {
        sandbox::SetFolderSetters(c.redirect, c.knownFolderPath, c.ordinal);
        sandbox::ClearRecord();
        std::wstring target = TestFolder(L"folder-location") + L"\\place " + std::to_wstring(++n);
        CreateDirectoryW(target.c_str(), nullptr);   // made first, as the dialog does
        FolderSetter used = FolderSetter::None;
        EXPECT_TRUE(SetFolderLocation(sid_.Text(), profile_.Text(), c.folder, target.c_str(), &used))
            << Show(c.folder) << " case " << n;
        EXPECT_EQ(static_cast<int>(c.expected), static_cast<int>(used)) << "case " << n;
        std::vector<sandbox::RecordedAction> record = sandbox::RecordedActions();
        if (c.recordedBy == nullptr) {
            EXPECT_TRUE(record.empty()) << "case " << n;
        } else {
            ASSERT_EQ(1u, record.size()) << "case " << n;
            EXPECT_EQ(c.recordedBy, record[0].details[L"by"]) << "case " << n;
            EXPECT_EQ(target, record[0].details[L"path"]);
        }
        int index = FindPersonalFolder(c.folder);
        std::wstring stored = ReadValue(L"User Shell Folders", kPersonalFolders[index].valueName);
        EXPECT_EQ(target, ExpandEnvironmentText(stored.c_str()).Text()) << "case " << n << ": " << Show(stored);
        WString current, unused;
        EXPECT_TRUE(ReadFolderLocations(index, nullptr, current, unused));
        EXPECT_EQ(target, current.Text()) << "case " << n;
    }
}

TEST_F(FolderLocationTest, TheRegistryWayWritesBothListsWithTheProfileVariable)
{
    sandbox::SetFolderSetters(false, false, false);
    struct Case {
        std::wstring path;
        std::wstring expandable;
    } const cases[] = {
        {std::wstring(profile_.Text()) + L"\\My Pictures 2", L"%USERPROFILE%\\My Pictures 2"},
        {L"T:\\Pictures", L"T:\\Pictures"},
    };
    for (const Case& c : cases) {
        CreateDirectoryW(c.path.c_str(), nullptr);
        FolderSetter used = FolderSetter::None;
        EXPECT_TRUE(SetFolderLocation(sid_.Text(), profile_.Text(), L"Pictures", c.path.c_str(), &used))
            << Show(c.path);
        EXPECT_EQ(static_cast<int>(FolderSetter::Registry), static_cast<int>(used));
        DWORD plainType = 0, expandType = 0;
        EXPECT_EQ(c.path, ReadValue(L"Shell Folders", L"My Pictures", &plainType));
        EXPECT_EQ(c.expandable, ReadValue(L"User Shell Folders", L"My Pictures", &expandType));
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), plainType);
        EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), expandType);
    }
}

// An administrator elevated over another account's session: the shell's
// setters would act for the administrator, so only the account's own hive
// is written, and the running account's folders stay where they are.
TEST_F(FolderLocationTest, AnotherAccountsFolderChangesOnlyInItsOwnHive)
{
    WString sid, profile;
    ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", sid, &profile));
    HKEY root = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sandbox::LoadProfile(sid.Text(), &root));
    const std::wstring explorer = kExplorer;
    for (const wchar_t* list : {L"Shell Folders", L"User Shell Folders"})
        ASSERT_EQ(ERROR_SUCCESS, RegWrite(root, explorer + list, L"Other", L"x"));
    sandbox::SetFolderSetters(true, true, true);   // all there, and none may be used
    const std::wstring ownBefore = ReadValue(L"User Shell Folders", L"My Music");
    const std::wstring target = std::wstring(profile.Text()) + L"\\Music 2";
    CreateDirectoryW(target.c_str(), nullptr);

    FolderSetter used = FolderSetter::None;
    EXPECT_TRUE(SetFolderLocation(sid.Text(), profile.Text(), L"Music", target.c_str(), &used));
    EXPECT_EQ(static_cast<int>(FolderSetter::Registry), static_cast<int>(used));
    EXPECT_TRUE(sandbox::RecordedActions().empty());
    EXPECT_EQ(ownBefore, ReadValue(L"User Shell Folders", L"My Music"));
    DWORD plainType = 0, expandType = 0;
    EXPECT_EQ(L"%USERPROFILE%\\Music 2", RegText(root, explorer + L"User Shell Folders", L"My Music", &expandType));
    EXPECT_EQ(target, RegText(root, explorer + L"Shell Folders", L"My Music", &plainType));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), expandType);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), plainType);
    sandbox::UnloadProfile(sid.Text(), root);
}

TEST_F(FolderLocationTest, AnUnknownFolderOrAccountChangesNothing)
{
    sandbox::SetFolderSetters(false, false, false);
    std::wstring before = ReadValue(L"User Shell Folders", L"Personal");
    EXPECT_FALSE(SetFolderLocation(sid_.Text(), profile_.Text(), L"Favorites", L"C:\\x"));
    EXPECT_FALSE(SetFolderLocation(L"S-1-5-21-1-2-3-4242", profile_.Text(), L"Documents", L"C:\\x"));
    EXPECT_FALSE(SetFolderLocation(sid_.Text(), profile_.Text(), L"Documents", L""));
    EXPECT_EQ(before, ReadValue(L"User Shell Folders", L"Personal"));
}

TEST_F(FolderLocationTest, DestinationsThatWouldDoHarmAreRefused)
{
    // Documents lives in a folder of the test's own; Music somewhere else.
    std::wstring root = TestFolder(L"refusals");
    std::wstring documents = root + L"\\Documents";
    std::wstring music = root + L"\\Music";
    CreateDirectoryW(documents.c_str(), nullptr);
    ASSERT_TRUE(SetFolderLocation(sid_.Text(), profile_.Text(), L"Documents", documents.c_str()));
    ASSERT_TRUE(SetFolderLocation(sid_.Text(), profile_.Text(), L"Music", music.c_str()));
    WString other;
    ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", sid_, &other));   // a profile of another account
    ASSERT_TRUE(GetAccountSidAndProfile(ProcessUserName().c_str(), sid_, &profile_));
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    WString programFiles, programData;
    FromKnownFolder(programFiles, FOLDERID_ProgramFiles, nullptr, 0);
    FromKnownFolder(programData, FOLDERID_ProgramData, nullptr, 0);
    std::wstring profiles = std::filesystem::path(profile_.Text()).parent_path().wstring();

    using R = DestinationRefusal;
    struct { std::wstring destination; R refusal; } const cases[] = {
        {L"T:\\Documents", R::None},
        {std::wstring(profile_.Text()) + L"\\Documents 2", R::None},
        {L"T:\\", R::DriveRoot},
        {std::wstring(windows) + L"\\Docs", R::SystemFolder},
        {std::wstring(programFiles.Text()) + L"\\Docs", R::SystemFolder},
        {std::wstring(programData.Text()), R::SystemFolder},
        {profiles, R::ProfilesDirectory},
        {profile_.Text(), R::ProfilesDirectory},
        {std::wstring(other.Text()) + L"\\Documents", R::OtherProfile},
        {documents, R::InsideSource},
        {root, R::ContainsSource},
        {music, R::OtherFolder},
        {L"C:\\vantrell-folder-links\\link", R::Link},
        {L"Documents", R::NotAPath},
    };
    for (const auto& c : cases) {
        DestinationRefusal refusal = CheckFolderDestination(1, sid_.Text(), profile_.Text(), nullptr,
                                                            documents.c_str(), c.destination.c_str());
        EXPECT_EQ(static_cast<int>(c.refusal), static_cast<int>(refusal)) << Show(c.destination);
    }
    // Another account's entry nobody may read: no place can be told apart
    // from its folder, so even a harmless one is refused.
    WString otherSid(L"mhartley");
    ASSERT_TRUE(GetAccountSidString(otherSid));
    const std::wstring entry =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + std::wstring(otherSid.Text());
    ASSERT_EQ(ERROR_SUCCESS, SetKeySddl(HKEY_LOCAL_MACHINE, entry, L"D:P(D;;KR;;;WD)(A;;KA;;;WD)"));
    const DestinationRefusal locked =
        CheckFolderDestination(1, sid_.Text(), profile_.Text(), nullptr, documents.c_str(), L"T:\\Documents");
    EXPECT_EQ(ERROR_SUCCESS, SetKeySddl(HKEY_LOCAL_MACHINE, entry, L"D:(A;CI;KA;;;BA)(A;CI;KA;;;SY)"));
    EXPECT_EQ(static_cast<int>(R::ProfilesUnknown), static_cast<int>(locked));
}

// The current place comes from the account's own registry and may name any
// folder: it is judged where it really is, however it is spelled, and gives
// up its contents only when it is known to be the account's own.
TEST_F(FolderLocationTest, SourcesNotKnownToBeTheAccountsOwnAreRefused)
{
    WString otherSid, other;
    ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", otherSid, &other));
    std::wstring shouted = other.Text();
    CharUpperW(shouted.data());
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    WString programFiles;
    ASSERT_TRUE(FromKnownFolder(programFiles, FOLDERID_ProgramFiles, nullptr, 0));
    wchar_t shortened[MAX_PATH] = L"";
    ASSERT_NE(0u, GetShortPathNameW(programFiles.Text(), shortened, MAX_PATH));
    const std::wstring links = L"C:\\vantrell-folder-links";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((links + L"\\link").c_str())) << "the link is made by make-second-drive.sh";
    CreateDirectoryW((links + L"\\target\\inner").c_str(), nullptr);
    const std::wstring system = std::wstring(windows) + L"\\vantrell-Source";
    CreateDirectoryW(system.c_str(), nullptr);
    const std::wstring own = TestFolder(L"sources") + L"\\Documents";
    CreateDirectoryW(own.c_str(), nullptr);
    ASSERT_TRUE(IsSameOrBelow(own.c_str(), profile_.Text())) << "the temporary folder lies in the profile";
    // What a user's own registry was pointed at: a deleted account's folder
    // under the profiles folder, another user's recycle bin, the folder of
    // an earlier system; and a place this program moved the folder to.
    const std::wstring profiles = std::filesystem::path(profile_.Text()).parent_path().wstring();
    const std::wstring strange[] = {profiles + L"\\vantrell-deleted\\Documents",
                                    std::wstring(L"C:\\$Recycle.Bin\\") + otherSid.Text(),
                                    L"C:\\Windows.old\\Users\\mhartley\\Documents"};
    for (const std::wstring& path : strange)
        std::filesystem::create_directories(path);
    const std::wstring recorded = CleanFolder(L"T:\\vantrell-tests\\recorded");
    const std::wstring unrecorded = CleanFolder(L"T:\\vantrell-tests\\unrecorded");
    const std::wstring records = std::wstring(kMovedPlaces) + L"\\" + sid_.Text();
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, records.c_str(), L"Personal", REG_SZ, recorded.c_str(),
                                             static_cast<DWORD>((recorded.size() + 1) * sizeof(wchar_t))));

    using R = SourceRefusal;
    struct Case {
        std::wstring source;
        bool contents;
        R refusal;
        std::wstring resolved;   // where it really is
    } const cases[] = {
        {own, true, R::None, own},
        {std::wstring(other.Text()) + L"\\Documents", true, R::OtherProfile, std::wstring(other.Text()) + L"\\Documents"},
        {shouted + L"\\..\\" + std::filesystem::path(other.Text()).filename().wstring() + L"\\Music", true,
         R::OtherProfile, std::wstring(other.Text()) + L"\\Music"},
        {std::wstring(windows) + L"\\VANTRELL-source", true, R::SystemFolder, system},
        {std::wstring(shortened) + L"\\Common Files", true, R::SystemFolder,
         std::wstring(programFiles.Text()) + L"\\Common Files"},
        {L"T:\\", true, R::DriveRoot, L"T:"},
        {links + L"\\link", true, R::Link, links + L"\\target"},
        {links + L"\\link\\inner", true, R::Link, links + L"\\target\\inner"},
        {L"Documents", true, R::NotAPath, L""},
        {std::wstring(other.Text()) + L"\\Documents", false, R::None, std::wstring(other.Text()) + L"\\Documents"},
        {strange[0], true, R::NotOwnPlace, strange[0]},
        {strange[1], true, R::NotOwnPlace, strange[1]},
        {strange[2], true, R::NotOwnPlace, strange[2]},
        {strange[2], false, R::None, strange[2]},   // pointing at it alone takes nothing
        {recorded, true, R::None, recorded},
        {unrecorded, true, R::NotOwnPlace, unrecorded},
    };
    for (const Case& c : cases) {
        WString resolved;
        SourceRefusal refusal = CheckFolderSource(sid_.Text(), profile_.Text(), c.source.c_str(), c.contents, resolved);
        EXPECT_EQ(static_cast<int>(c.refusal), static_cast<int>(refusal)) << Show(c.source);
        EXPECT_EQ(c.resolved, std::wstring(resolved.Text())) << Show(c.source);
    }
    RemoveDirectoryW(system.c_str());
    std::error_code ignored;
    for (const wchar_t* made : {L"\\vantrell-deleted", L"C:\\$Recycle.Bin", L"C:\\Windows.old"})
        std::filesystem::remove_all(made[0] == L'\\' ? profiles + made : std::wstring(made), ignored);
}

// The two folders are opened and checked once. Swapped for links between
// the checks and the move, the destination for one into the Windows
// folder and the source's parent for one to another account's profile,
// they lead nowhere: the checked folders are what is moved from and to.
TEST_F(FolderLocationTest, FoldersSwappedForLinksAfterTheChecksAreNotFollowed)
{
    WString otherSid, other;
    ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", otherSid, &other));
    const std::wstring hers = std::wstring(other.Text()) + L"\\Documents\\hers.txt";
    ASSERT_TRUE(WriteTextFile(hers, "hers"));
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring planted = CleanFolder(std::wstring(windows) + L"\\vantrell-planted");
    const std::wstring root = TestFolder(L"swapped"), parent = root + L"\\parent";
    const std::wstring source = parent + L"\\Documents";
    ASSERT_TRUE(WriteTextFile(source + L"\\version.dll", "mine"));
    const std::wstring destinations = CleanFolder(L"T:\\vantrell-tests\\swapped");
    const std::wstring destination = destinations + L"\\Documents";
    ASSERT_TRUE(CreateDirectoryW(destination.c_str(), nullptr));

    FolderRelocation request;
    request.index = 1;
    request.sid = sid_.Text();
    request.profile = profile_.Text();
    request.current = source.c_str();
    request.target = destination.c_str();
    bool swapped = false;
    request.busy = [&](bool busy) {
        swapped = swapped || (busy && MoveFileW(parent.c_str(), (root + L"\\away").c_str()) &&
                              PlantUnixLink(parent, other.Text()) &&
                              MoveFileW(destination.c_str(), (destinations + L"\\away").c_str()) &&
                              PlantUnixLink(destination, planted));
    };
    RelocationResult result = RelocateFolder(request);
    EXPECT_TRUE(swapped) << "the folders were not swapped for links";
    EXPECT_TRUE(result.placeChanged);
    EXPECT_FALSE(PathExists(planted + L"\\version.dll")) << "the file landed in the Windows folder";
    EXPECT_TRUE(std::filesystem::is_empty(planted)) << "something landed in the Windows folder";
    EXPECT_EQ("hers", ReadTextFile(hers)) << "another account's file was taken";
    EXPECT_FALSE(PathExists(destinations + L"\\away\\hers.txt")) << "another account's file was taken";
    // The file went to the checked destination, or (Wine removes an opened
    // file by the name it was opened with, gone with its folder's rename)
    // stayed whole in the checked source, its copy taken back.
    const std::string moved = ReadTextFile(destinations + L"\\away\\version.dll");
    const std::string stayed = ReadTextFile(root + L"\\away\\Documents\\version.dll");
    EXPECT_TRUE((moved == "mine") != (stayed == "mine")) << moved << " / " << stayed;
    EXPECT_EQ(moved == "mine" ? RelocationOutcome::Done : RelocationOutcome::PartlyMoved, result.outcome);
    RemoveUnixLinksTo(root, other.Text());
    RemoveUnixLinksTo(destinations, planted);
    std::error_code ignored;
    std::filesystem::remove_all(planted, ignored);
    DeleteFileW(hers.c_str());
}

// Wine keeps no DACL on files: the DACL is checked as built, and its
// application only for succeeding.
TEST(MovedFolderSecurity, OnlyTheUserSystemAndAdministrators_WineKeepsNoFileDacls)
{
    const wchar_t* user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    LocalAcl dacl;
    LocalSid owner;
    ASSERT_TRUE(BuildMovedFolderDacl(user, dacl, owner));
    // Everyone (S-1-1-0) and Users (S-1-5-32-545) have no place in it.
    const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    EXPECT_EQ((std::vector<Ace>{{user, GENERIC_ALL, inherit}, {L"S-1-5-18", GENERIC_ALL, inherit},
                                {L"S-1-5-32-544", GENERIC_ALL, inherit}}),
              Aces(dacl.Get()));
    EXPECT_EQ(user, SidString(owner.Get()));

    LocalAcl none;
    LocalSid noOwner;
    EXPECT_FALSE(BuildMovedFolderDacl(L"not-an-account-anywhere", none, noOwner));

    std::wstring folder = TestFolder(L"moved-security") + L"\\Documents";
    WalkRoot why = WalkRoot::Walked;
    UniqueFileHandle opened = OpenFolderPath(folder.c_str(), kMoveDestinationAccess, true, why);
    ASSERT_TRUE(opened) << static_cast<int>(why);
    EXPECT_TRUE(ApplyMovedFolderSecurity(opened.Get(), user));
}

TEST(MovedFolderSecurity, OnlyAFolderMadeForTheMoveOrFoundEmptyIsFresh)
{
    std::wstring root = TestFolder(L"fresh");
    CreateDirectoryW((root + L"\\empty").c_str(), nullptr);
    CreateDirectoryW((root + L"\\full").c_str(), nullptr);
    CreateDirectoryW((root + L"\\full\\x").c_str(), nullptr);
    std::ofstream(std::filesystem::path(root + L"\\file.txt")) << "x";
    struct Case {
        std::wstring path;
        bool fresh;
    } const cases[] = {
        {root + L"\\absent", true}, {root + L"\\absent\\deeper", true}, {root + L"\\empty", true},
        {root + L"\\empty\\", true}, {root + L"\\full", false},           {root + L"\\file.txt", false},
        {L"C:\\vantrell-folder-links\\link", false}, {root, false},
    };
    // As the move judges its destination: made by it, or opened and empty.
    for (const Case& c : cases) {
        WalkRoot why = WalkRoot::Walked;
        bool made = false;
        UniqueFileHandle opened = OpenFolderPath(c.path.c_str(), kMoveDestinationAccess, true, why, &made);
        EXPECT_EQ(c.fresh, opened && (made || FolderIsEmpty(opened.Get()))) << Show(c.path);
    }
    EXPECT_FALSE(PathExists(L"C:\\vantrell-folder-links\\target\\link")) << "nothing was made through the link";
}

namespace {

// A parent window with children in a known enumeration order.
class ChildWindows {
public:
    ChildWindows()
    {
        parent = CreateWindowExW(0, L"Static", L"parent", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
        Add(L"Button", L"&OK", 1);
        Add(L"Button", L"Cancel", 2);
        Add(L"Edit", L"first", 1001);
        Add(L"Edit", L"second", 1002);
        Add(L"Static", L"Save; Close", 3);
        // A nested frame like an Explorer window's: views inside views.
        HWND frame = Add(L"Static", L"frame", 10);
        for (int i = 1; i <= 4; ++i)
            Add(L"Static", (L"view " + std::to_wstring(i)).c_str(), 100 + i, frame);
    }
    ~ChildWindows() { DestroyWindow(parent); }

    HWND Add(const wchar_t* className, const wchar_t* text, int id, HWND owner = nullptr)
    {
        HWND child = CreateWindowExW(0, className, text, WS_CHILD, 0, 0, 10, 10, owner != nullptr ? owner : parent,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
        if (child != nullptr)
            byId[id] = child;
        return child;
    }

    HWND parent = nullptr;
    std::map<int, HWND> byId;   // every child made
};

}  // namespace

TEST(FindChildControl, EverySpecificationForm)
{
    ChildWindows windows;
    ASSERT_EQ(10u, windows.byId.size());
    struct { const wchar_t* pattern; int id; } const cases[] = {   // id 0: nothing found
        {L"[CLASS:Button]", 1},           {L"[CLASS:Button; INSTANCE:2]", 2}, {L"[CLASS:button; INSTANCE:3]", 0},
        {L"[INSTANCE:2; CLASS:Edit]", 1002}, {L"[TEXT:'&Cancel']", 2},       {L"[ID:1002]", 1002},
        {L"[ID:1002; CLASS:Button]", 0},  {L"[CLASSNN:Edit2]", 1002},
        {L"[CLASSNN:Static3]", 101},      // the frame's children come right after it
        {L"[CLASS:Static; TEXT:view 3]", 103}, {L"1001", 1001}, {L"Cancel", 2}, {L"Edit1", 1001},
        {L"nothing like this", 0},
    };
    for (const auto& c : cases) {
        HWND found = FindChildControl(windows.parent, c.pattern);
        HWND expected = c.id != 0 ? windows.byId[c.id] : nullptr;
        EXPECT_EQ(expected, found) << Show(c.pattern) << " found id " << (found != nullptr ? GetDlgCtrlID(found) : 0);
    }
    EXPECT_EQ(nullptr, FindChildControl(nullptr, L"[CLASS:Button]"));
}

namespace {

// Explorer windows of the test's own: the class name the refresh looks for,
// with the view nested where Explorer has it, counting the F5 presses.
LONG g_keyDowns = 0;
LONG g_keyUps = 0;
LRESULT CALLBACK ViewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN && wParam == VK_F5 && lParam == 0)
        ++g_keyDowns;
    if (message == WM_KEYUP && wParam == VK_F5 && lParam == 0x20000000)
        ++g_keyUps;
    return DefWindowProcW(window, message, wParam, lParam);
}

void Drain()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

}  // namespace

TEST(RefreshExplorerWindows, EveryExplorerViewAndTheDesktop)
{
    RegisterFakeExplorer(ViewProcedure);
    std::vector<UniqueWindow> windows;
    for (int i = 0; i < 2; ++i) {
        HWND cabinet = CreateWindowExW(0, L"CabinetWClass", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        for (int v = 0; v < 3; ++v) {
            HWND view = CreateWindowExW(0, L"DirectUIHWND", L"", WS_CHILD, 0, 0, 5, 5, cabinet, nullptr, nullptr, nullptr);
            // The class may have been registered by another test with its own procedure.
            SetWindowLongPtrW(view, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ViewProcedure));
        }
        windows.emplace_back(cabinet);
    }
    // One with only two views is no Explorer window with a view to refresh.
    HWND small = CreateWindowExW(0, L"CabinetWClass", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    for (int v = 0; v < 2; ++v)
        CreateWindowExW(0, L"DirectUIHWND", L"", WS_CHILD, 0, 0, 5, 5, small, nullptr, nullptr, nullptr);
    windows.emplace_back(small);

    g_keyDowns = g_keyUps = 0;
    const int desktop = GetShellWindow() != nullptr ? 1 : 0;
    EXPECT_EQ(2 + desktop, RefreshExplorerWindows(10.0));
    Drain();
    EXPECT_EQ(2, g_keyDowns);
    EXPECT_EQ(2, g_keyUps);

    // Below version 6.0 the view is a list view, which these windows lack.
    g_keyDowns = 0;
    EXPECT_EQ(desktop, RefreshExplorerWindows(5.1));
    Drain();
    EXPECT_EQ(0, g_keyDowns);
}
