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

#include "accounts/lookup.h"
#include "accounts/personal_folders.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "platform/text_win.h"
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
    void TearDown() override { saved_.Restore(); }

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
}

// The current place comes from the account's own registry and may name any
// folder: it is judged where it really is, however it is spelled.
TEST_F(FolderLocationTest, SourcesOfTheSystemOrAnotherAccountAreRefused)
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
    };
    for (const Case& c : cases) {
        WString resolved;
        SourceRefusal refusal = CheckFolderSource(sid_.Text(), profile_.Text(), c.source.c_str(), c.contents, resolved);
        EXPECT_EQ(static_cast<int>(c.refusal), static_cast<int>(refusal)) << Show(c.source);
        EXPECT_EQ(c.resolved, std::wstring(resolved.Text())) << Show(c.source);
    }
    RemoveDirectoryW(system.c_str());
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
    CreateDirectoryW(folder.c_str(), nullptr);
    EXPECT_TRUE(ApplyMovedFolderSecurity(folder.c_str(), user));
}

TEST(MovedFolderSecurity, OnlyAnAbsentOrEmptyFolderIsFresh)
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
        {L"C:\\vantrell-folder-links\\link", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.fresh, IsAbsentOrEmptyFolder(c.path.c_str())) << Show(c.path);
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

void RegisterClasses()
{
    WNDCLASSW cabinet{};
    cabinet.lpfnWndProc = DefWindowProcW;
    cabinet.lpszClassName = L"CabinetWClass";
    RegisterClassW(&cabinet);
    WNDCLASSW view{};
    view.lpfnWndProc = ViewProcedure;
    view.lpszClassName = L"DirectUIHWND";
    RegisterClassW(&view);
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
    RegisterClasses();
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
