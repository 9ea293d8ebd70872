// The simulated restart: the session ends, registered renames are carried
// out, the automatic sign-in is checked and signs its account in, and the
// shell links of its Startup folder are started for real. And the simulated
// power cut: the points a program passes are listed across processes, an
// armed point ends the process that reaches it as a power cut would, and
// the restart after it closes nothing and writes nothing back.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/sandbox_tool.h"
#include "tests/win/test_support.h"

namespace {

using repair_test::Joined;
using repair_test::Recorded;

constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The account's profile folder as the profile list names it, or "(missing)".
std::wstring ProfileOf(const wchar_t* account)
{
    return RegText(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + AccountSidOf(account), L"ProfileImagePath");
}

std::wstring StartupFolderOf(const wchar_t* account)
{
    return ProfileOf(account) + L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
}

std::wstring CurrentFolder(int csidl)
{
    wchar_t path[MAX_PATH] = L"";
    if (FAILED(machine::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
        return L"";
    return path;
}

bool Elevated()
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size);
    BOOL member = FALSE;
    machine::CheckTokenMembership(nullptr, administrators, &member);
    return member != FALSE;
}

// Sets the automatic sign-in as the account code does: Winlogon values and
// the security authority's secret, a short password padded to 10 characters.
void SetAutoSignIn(const wchar_t* user, const wchar_t* password, const wchar_t* enabled = L"1")
{
    ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_LOCAL_MACHINE, repair_test::kWinlogonKey, L"DefaultUserName", user));
    ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_LOCAL_MACHINE, repair_test::kWinlogonKey, L"AutoAdminLogon", enabled));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, repair_test::kWinlogonKey, L"DefaultPassword");
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    ASSERT_EQ(0, machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET, &policy));
    LSA_UNICODE_STRING name = machine::CountedText(L"DefaultPassword");
    if (password == nullptr) {
        machine::LsaStorePrivateData(policy, &name, nullptr);
    } else {
        wchar_t padded[64] = L"";
        wcscpy_s(padded, password);
        size_t characters = std::max<size_t>(wcslen(password), 10);
        LSA_UNICODE_STRING data{static_cast<USHORT>(characters * 2), static_cast<USHORT>(characters * 2 + 2), padded};
        EXPECT_EQ(0, machine::LsaStorePrivateData(policy, &name, &data));
    }
    machine::LsaClose(policy);
}

// A shell link made as the repair tool makes its start-up shortcut.
bool MakeShortcut(const std::wstring& path, const std::wstring& target, const std::wstring& arguments,
                  const std::wstring& directory = L"C:\\")
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool saved = false;
    {
        UniqueCom<IShellLinkW> link;
        UniqueCom<IPersistFile> file;
        saved = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(link.Put()))) &&
                SUCCEEDED(link.Get()->SetPath(target.c_str())) && SUCCEEDED(link.Get()->SetArguments(arguments.c_str())) &&
                SUCCEEDED(link.Get()->SetWorkingDirectory(directory.c_str())) &&
                SUCCEEDED(link.Get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put()))) &&
                SUCCEEDED(file.Get()->Save(path.c_str(), TRUE));
    }
    CoUninitialize();
    return saved;
}

// The file's text without the line end a command's output closes with.
std::string ReadText(const std::wstring& path)
{
    std::string text = ReadTextFile(path);
    text.erase(text.find_last_not_of("\r\n ") + 1);
    return text;
}

std::wstring CommandInterpreter()
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, ARRAYSIZE(system));
    return std::wstring(system) + L"\\cmd.exe";
}

class Reboot : public ::testing::Test {
protected:
    void SetUp() override { Reset(L"auto-logon"); }
    void TearDown() override { sandbox::ResetMachine(sandbox::ScenarioPath(L"default")); }

    static void Reset(const wchar_t* scenario)
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) << Show(error);
        sandbox::ClearRecord();
    }
};

}  // namespace

// Restarted by the sandbox tool: the restart is the machine's, seen by every process.
TEST_F(Reboot, AutomaticSignInMakesItsAccountTheCurrentUserWithItsOwnFolders)
{
    ASSERT_NE(L"jokafor", sandbox::SessionUserName());
    ToolRun run = RunSandboxTool(L"reboot");
    ASSERT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("signed in: jokafor")) << run.output;
    EXPECT_EQ(L"jokafor", sandbox::SessionUserName());
    EXPECT_FALSE(Elevated()) << "a standard user's programs are not elevated";

    std::wstring profile = ProfileOf(L"jokafor");
    ASSERT_NE(L"(missing)", profile);
    EXPECT_EQ(profile, CurrentFolder(CSIDL_PROFILE));
    EXPECT_EQ(profile + L"\\Desktop", CurrentFolder(CSIDL_DESKTOPDIRECTORY));
    EXPECT_EQ(StartupFolderOf(L"jokafor"), CurrentFolder(CSIDL_STARTUP));
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, ARRAYSIZE(windows));
    EXPECT_EQ(std::wstring(windows), CurrentFolder(CSIDL_WINDOWS)) << "machine folders stay the machine's";
}

TEST_F(Reboot, SignInIsCheckedAsAnySignIn)
{
    const wchar_t* wrong = L"The user name or password is incorrect. Try again.";
    struct Case {
        const wchar_t* user;
        const wchar_t* password;   // null: no secret stored
        const wchar_t* enabled;
        const wchar_t* refusal;    // null: signs in
    } cases[] = {
        {L"jokafor", L"Okafor-Spring", L"1", nullptr},
        {L"JOKAFOR", L"Okafor-Spring", L"1", nullptr},
        {L"jokafor", L"okafor-spring", L"1", wrong},
        {L"jokafor", L"", L"1", wrong},
        {L"lchen", L"", L"1", nullptr},          // no password: the empty one padded to 10 characters
        {L"lchen", L"x", L"1", wrong},
        {L"nobody", L"", L"1", wrong},
        {L"tpatel", L"Patel-Leave", L"1", L"Your account has been disabled. Please see your system administrator."},
        {L"dnovak", L"Novak-Locked", L"1",
         L"The referenced account is currently locked out and may not be logged on to."},
        {L"skowalski", L"Kowalski.2025", L"1", L"The user's password must be changed before signing in."},
        {L"reception", L"Welcome-Desk", L"1", L"The sign-in method you're trying to use isn't allowed."},
        {L"jokafor", L"Okafor-Spring", L"0", L"No account signs in automatically."},
        {L"jokafor", nullptr, L"1", L"No account signs in automatically."},
    };
    for (const Case& c : cases) {
        Reset(L"default");
        SetAutoSignIn(c.user, c.password, c.enabled);
        sandbox::RebootOutcome outcome = sandbox::Reboot();
        if (c.refusal == nullptr) {
            EXPECT_TRUE(outcome.signedIn) << Show(c.user) << ": " << Show(outcome.signInScreen);
            EXPECT_EQ(0, _wcsicmp(c.user, sandbox::SessionUserName().c_str())) << Show(c.user);
        } else {
            EXPECT_FALSE(outcome.signedIn) << Show(c.user);
            EXPECT_EQ(std::wstring(c.refusal), outcome.signInScreen) << Show(c.user);
            EXPECT_EQ(L"", sandbox::SessionUserName()) << Show(c.user);
            EXPECT_EQ(0xFFFFFFFFu, machine::WTSGetActiveConsoleSessionId()) << Show(c.user);
        }
    }
}

TEST_F(Reboot, FileOperationsRegisteredForTheRestartAreCarriedOut)
{
    std::wstring folder = TestFolder(L"reboot-renames");
    std::wstring moved = folder + L"\\caf\u00e9 new.txt", target = folder + L"\\target.txt";
    std::wstring kept = folder + L"\\kept.txt", refused = folder + L"\\refused.txt";
    std::wstring doomed = folder + L"\\doomed.txt", emptyFolder = folder + L"\\empty";
    std::ofstream(std::filesystem::path(moved)) << "fresh";
    std::ofstream(std::filesystem::path(target)) << "stale";
    std::ofstream(std::filesystem::path(kept)) << "kept";
    std::ofstream(std::filesystem::path(refused)) << "in the way";
    std::ofstream(std::filesystem::path(doomed)) << "doomed";
    CreateDirectoryW(emptyFolder.c_str(), nullptr);

    ASSERT_TRUE(MoveFileExW(moved.c_str(), target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(MoveFileExW(kept.c_str(), refused.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));   // may not replace
    ASSERT_TRUE(MoveFileExW(doomed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExW(emptyFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ("stale", ReadText(target)) << "nothing happens before the restart";

    sandbox::RebootOutcome outcome = sandbox::Reboot();
    EXPECT_EQ(3u, outcome.renamesDone);
    EXPECT_EQ(1u, outcome.renamesFailed);
    EXPECT_EQ("fresh", ReadText(target));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(moved.c_str()));
    EXPECT_EQ("in the way", ReadText(refused)) << "a move without replace leaves an existing file";
    EXPECT_EQ("kept", ReadText(kept));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(doomed.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(emptyFolder.c_str()));

    DWORD size = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                           L"PendingFileRenameOperations", RRF_RT_ANY, nullptr, nullptr, &size))
        << "the list is emptied once carried out";
    EXPECT_EQ(0u, sandbox::Reboot().renamesDone) << "a second restart has nothing left to do";
}

TEST_F(Reboot, StartupShortcutsStartTheirProgramsWithArgumentsAndWorkingFolder)
{
    std::wstring folder = TestFolder(L"reboot-startup");
    std::wstring workHere = folder + L"\\work here";
    CreateDirectoryW(workHere.c_str(), nullptr);
    std::wstring where = folder + L"\\where.txt", said = folder + L"\\said.txt";
    std::wstring startup = StartupFolderOf(L"jokafor");
    std::filesystem::create_directories(startup);
    ASSERT_TRUE(MakeShortcut(startup + L"\\1 where.lnk", CommandInterpreter(), L"/c cd > \"" + where + L"\"",
                             workHere));
    ASSERT_TRUE(MakeShortcut(startup + L"\\2 said.lnk", CommandInterpreter(),
                             L"/c echo %USERNAME% /fixuser \"Sofia K\" /fixflag=3> \"" + said + L"\"", folder));
    ASSERT_TRUE(MakeShortcut(startup + L"\\3 missing.lnk", folder + L"\\missing.exe", L"", folder));
    // Another account's Startup folder is not this sign-in's.
    std::wstring other = StartupFolderOf(L"mhartley");
    std::filesystem::create_directories(other);
    ASSERT_TRUE(MakeShortcut(other + L"\\other.lnk", CommandInterpreter(), L"/c exit 9", folder));

    sandbox::RebootOutcome outcome = sandbox::Reboot();
    ASSERT_TRUE(outcome.signedIn);
    ASSERT_EQ(3u, outcome.programs.size());
    EXPECT_TRUE(outcome.programs[0].started) << Show(outcome.programs[0].error);
    EXPECT_TRUE(outcome.programs[1].started) << Show(outcome.programs[1].error);
    EXPECT_FALSE(outcome.programs[2].started);
    EXPECT_EQ(L"the target is not a program that exists", outcome.programs[2].error);
    EXPECT_EQ(0, _wcsicmp(CommandInterpreter().c_str(), outcome.programs[1].file.c_str()))
        << Show(outcome.programs[1].file);
    EXPECT_EQ(workHere, outcome.programs[0].directory);

    ASSERT_TRUE(sandbox::WaitForSessionPrograms(60000));
    for (int i = 0; i < 2; ++i) {
        unsigned long exitCode = 99;
        EXPECT_TRUE(sandbox::SessionProgramExitCode(outcome.programs[i].processId, &exitCode));
        EXPECT_EQ(0u, exitCode) << i;
    }
    EXPECT_EQ(Show(workHere), "\"" + ReadText(where) + "\"");
    EXPECT_EQ("jokafor /fixuser \"Sofia K\" /fixflag=3", ReadText(said));
}

TEST_F(Reboot, TheSignedInAccountsFolderSettingsGoIntoItsOwnHive)
{
    ASSERT_TRUE(sandbox::Reboot().signedIn);
    std::wstring profile = ProfileOf(L"jokafor");
    std::wstring moved = profile + L"\\Elsewhere\\Documents";
    HMODULE shell = LoadLibraryW(L"Shell32.dll");
    auto setFolder = machine::AsFunction<machine::SetFolderPathFunction>(
        machine::GetProcAddress(shell, MAKEINTRESOURCEA(machine::kSetFolderPathOrdinal)));
    ASSERT_NE(nullptr, setFolder);
    EXPECT_EQ(S_OK, setFolder(CSIDL_PERSONAL, nullptr, 0, moved.c_str()));
    FreeLibrary(shell);
    EXPECT_EQ(moved, CurrentFolder(CSIDL_PERSONAL));

    // Still there after the next restart, read back from the hive file.
    ASSERT_TRUE(sandbox::Reboot().signedIn);
    EXPECT_EQ(moved, CurrentFolder(CSIDL_PERSONAL));
}

// The owner's files the scenario holds (over 300, paths beyond the classic
// limit, names beyond ASCII, the same bytes each time) are what the
// end-to-end and kill-point suites compare; here, the hive that breaks it.
TEST_F(Reboot, BrokenProfileScenarioHoldsAHiveThatNoLongerLoads)
{
    Reset(L"broken-profile");
    std::wstring profile = ProfileOf(L"pweber");
    ASSERT_NE(L"(missing)", profile);
    // Its owner cannot sign in: the profile service refuses the profile.
    SetAutoSignIn(L"pweber", L"Weber-Office-7");
    sandbox::RebootOutcome outcome = sandbox::Reboot();
    EXPECT_FALSE(outcome.signedIn);
    EXPECT_EQ(L"The User Profile Service failed the sign-in. User profile cannot be loaded.", outcome.signInScreen);

    // The registry still reads the damaged hive up to the damage (the pins
    // the end-to-end run carries over are there), but not its folder list.
    const wchar_t* name = L"VantrellBrokenHive";
    ASSERT_EQ(ERROR_SUCCESS, machine::RegLoadKeyW(HKEY_USERS, name, (profile + L"\\NTUSER.DAT").c_str()));
    HKEY folders = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(HKEY_USERS,
                            L"VantrellBrokenHive\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                            0, KEY_READ, &folders));
    EXPECT_EQ(ERROR_SUCCESS, machine::RegUnLoadKeyW(HKEY_USERS, name));
}

namespace {

// A hive file of one DWORD value, made from a scratch key.
bool MakeHive(const std::wstring& file, const wchar_t* valueName, DWORD value)
{
    DeleteFileW(file.c_str());
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VantrellRebootTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    bool saved = RegSaveKeyW(key, file.c_str(), nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VantrellRebootTest");
    return saved;
}

// A DWORD of the hive file: 0xFFFFFFFF when the value is absent,
// 0xFFFFFFFE when the file cannot be loaded (so that an unreadable file
// never passes for one without the value).
DWORD HiveValue(const std::wstring& file, const wchar_t* valueName)
{
    DWORD value = 0, size = sizeof(value);
    if (machine::RegLoadKeyW(HKEY_USERS, L"VantrellReadBack", file.c_str()) != ERROR_SUCCESS)
        return 0xFFFFFFFE;
    if (RegGetValueW(HKEY_USERS, L"VantrellReadBack", valueName, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        value = 0xFFFFFFFF;
    machine::RegUnLoadKeyW(HKEY_USERS, L"VantrellReadBack");
    return value;
}

}  // namespace

// The system locks a loaded hive's file, so it can only be replaced at the
// restart. Wine lets the file be replaced while loaded; the machine then
// leaves the replacement alone instead of writing the older hive over it.
TEST_F(Reboot, AReplacedHiveFileIsNotOverwrittenByTheLoadedHive_WineDoesNotLockHiveFiles)
{
    std::wstring folder = TestFolder(L"reboot-hives");
    std::wstring loaded = folder + L"\\NTUSER.DAT", fresh = folder + L"\\fresh.dat";
    ASSERT_TRUE(MakeHive(loaded, L"Old", 1));
    ASSERT_TRUE(MakeHive(fresh, L"Fresh", 2));
    ASSERT_EQ(ERROR_SUCCESS, machine::RegLoadKeyW(HKEY_USERS, L"VantrellLoaded", loaded.c_str()));
    DWORD changed = 3;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_USERS, L"VantrellLoaded", L"Old", REG_DWORD, &changed,
                                             sizeof(changed)));
    ASSERT_TRUE(MoveFileExW(fresh.c_str(), loaded.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ERROR_SUCCESS, machine::RegUnLoadKeyW(HKEY_USERS, L"VantrellLoaded"));
    EXPECT_EQ(2u, HiveValue(loaded, L"Fresh")) << "the replacement stays";
    EXPECT_EQ(0xFFFFFFFFu, HiveValue(loaded, L"Old"));
    bool recorded = false;
    for (const sandbox::RecordedAction& action : sandbox::RecordedActions())
        recorded |= action.call == L"HiveNotWrittenBack" && action.details.at(L"hive") == L"VantrellLoaded";
    EXPECT_TRUE(recorded);
    // A hive whose file stayed is written back as before (the machine contract).
}

// The link comes from tests/win/make-profile-links.sh (run by CTest first):
// holder\escape leads to target, which holds keep.txt. (Wine's MoveFileW
// moves what a link points at, so the folder holding the link is moved.)
TEST_F(Reboot, AResetRemovesProfilesWithoutFollowingLinksOutOfThem)
{
    const wchar_t* links = L"C:\\vantrell-profile-links";
    std::wstring holder = std::wstring(links) + L"\\holder", kept = std::wstring(links) + L"\\target\\keep.txt";
    if (GetFileAttributesW((holder + L"\\escape").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the link is made by CTest's ProfileLinks.Setup";
    Reset(L"broken-profile");
    std::wstring profile = ProfileOf(L"pweber");
    ASSERT_NE(L"(missing)", profile);
    std::wstring moved = profile + L"\\Documents\\Projects\\holder";
    ASSERT_TRUE(MoveFileW(holder.c_str(), moved.c_str())) << GetLastError();
    ASSERT_EQ("keep", ReadText(moved + L"\\escape\\keep.txt")) << "the link leads out of the profile";

    Reset(L"default");
    EXPECT_EQ("keep", ReadText(kept)) << "what the link points at is untouched";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((profile + L"\\Documents\\Projects\\Budget").c_str()))
        << "the profile's own files are gone";
    // What the reset left (the folder with the link) goes back, and the emptied folders go.
    EXPECT_TRUE(MoveFileW(moved.c_str(), holder.c_str()));
    for (const wchar_t* folder : {L"\\Documents\\Projects", L"\\Documents", L""})
        RemoveDirectoryW((profile + folder).c_str());
}

// A repair an earlier test set up is not part of any scenario: the next
// test's machine has no tool folder, whatever the scenario.
TEST_F(Reboot, AResetClearsARepairAnEarlierRunSetUp)
{
    ASSERT_TRUE(WriteTextFile(L"C:\\Brenwick\\sub\\BrenwickJournal.txt", "Account=pweber\n"));
    Reset(L"default");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"C:\\Brenwick"));
}

// Without an automatic sign-in the machine waits at the sign-in screen;
// someone who types an account's name and password there signs in as the
// automatic sign-in would, and that account's Startup folder runs.
TEST_F(Reboot, SomeoneSignsInAtTheSignInScreen)
{
    std::wstring folder = TestFolder(L"reboot-by-hand");
    std::wstring said = folder + L"\\said.txt";
    std::wstring startup = StartupFolderOf(L"mhartley");
    std::filesystem::create_directories(startup);
    ASSERT_TRUE(MakeShortcut(startup + L"\\said.lnk", CommandInterpreter(), L"/c echo %USERNAME%> \"" + said + L"\"",
                             folder));
    SetAutoSignIn(L"jokafor", L"Okafor-Spring", L"0");
    ASSERT_FALSE(sandbox::Reboot().signedIn);
    EXPECT_EQ(L"", sandbox::SessionUserName());

    struct Case {
        const wchar_t* user;
        const wchar_t* password;
        bool signsIn;
    };
    const Case cases[] = {
        {L"mhartley", L"wrong", false},
        {L"nobody", L"", false},
        {L"mhartley", L"Hartley#1", true},
        {L"jokafor", L"Okafor-Spring", false},   // someone is signed in already
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.user));
        sandbox::RebootOutcome outcome = sandbox::SignInAtTheScreen(c.user, c.password);
        EXPECT_EQ(c.signsIn, outcome.signedIn) << Show(outcome.signInScreen);
        EXPECT_EQ(!c.signsIn, !outcome.signInScreen.empty());
    }
    EXPECT_EQ(L"mhartley", sandbox::SessionUserName());
    ASSERT_TRUE(sandbox::WaitForSessionPrograms(60000));
    EXPECT_EQ("mhartley", ReadText(said));
}

TEST_F(Reboot, PowerCutPointsPassedAreListedInOrderAcrossProcesses)
{
    EXPECT_EQ("", Joined(sandbox::PowerCutPointsPassed())) << "a reset starts an empty list";
    machine::PowerCutPoint(L"here: first");
    machine::PowerCutPoint(nullptr);
    machine::PowerCutPoint(L"");
    EXPECT_EQ(0u, RunSandboxTool(L"powercut pass \"there: second\" \"there: third\"").exitCode);
    machine::PowerCutPoint(L"here: fourth");
    EXPECT_EQ("here: first | there: second | there: third | here: fourth", Joined(sandbox::PowerCutPointsPassed()));
    EXPECT_FALSE(sandbox::LastPowerCut(nullptr)) << "nothing was armed";
    EXPECT_TRUE(Recorded(L"PowerCut").empty());

    sandbox::ClearPowerCutPoints();
    EXPECT_EQ("", Joined(sandbox::PowerCutPointsPassed()));
}

// Each case starts from a fresh machine: the armed point and passage, the
// points the process passes, and where it must stop.
TEST_F(Reboot, PowerCutAnArmedPointEndsTheProcessThereAtItsPassage)
{
    struct Case {
        const wchar_t* point;
        unsigned passage;
        const wchar_t* passes;        // the tool's arguments
        bool cut;
        const char* passedBefore;     // the list the machine keeps
        unsigned long cutPassage;
    };
    const Case cases[] = {
        {L"B", 1, L"A B C", true, "A | B", 1},
        {L"B", 2, L"A B C B D", true, "A | B | C | B", 2},
        {L"step 4 done", 1, L"\"step 3 done\" \"STEP 4 DONE\" \"step 5 done\"", true, "step 3 done | STEP 4 DONE", 1},
        {L"B", 3, L"A B C B D", false, "A | B | C | B | D", 0},
        {L"Z", 1, L"A B", false, "A | B", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(std::wstring(c.point) + L" #" + std::to_wstring(c.passage) + L" over " + c.passes));
        Reset(L"auto-logon");
        sandbox::ArmPowerCut(c.point, c.passage);
        ToolRun run = RunSandboxTool(std::wstring(L"powercut pass ") + c.passes);
        EXPECT_EQ(c.cut ? sandbox::kPowerCutExitCode : 0u, run.exitCode);
        EXPECT_EQ(c.passedBefore, Joined(sandbox::PowerCutPointsPassed()));
        sandbox::PowerCut cut;
        EXPECT_EQ(c.cut, sandbox::LastPowerCut(&cut));
        std::wstring armed;
        EXPECT_EQ(!c.cut, sandbox::ArmedPowerCut(&armed, nullptr)) << "a cut disarms; a point never reached stays armed";
        std::vector<sandbox::RecordedAction> recorded = Recorded(L"PowerCut");
        ASSERT_EQ(c.cut ? 1u : 0u, recorded.size());
        if (!c.cut)
            continue;
        EXPECT_EQ(0, _wcsicmp(c.point, cut.point.c_str())) << Narrow(cut.point);
        EXPECT_EQ(c.cutPassage, cut.passage);
        EXPECT_EQ(run.processId, cut.processId);
        EXPECT_TRUE(cut.pending);
        EXPECT_EQ(std::to_wstring(run.processId), recorded[0].details[L"process"]);
        EXPECT_EQ(std::to_wstring(c.cutPassage), recorded[0].details[L"passage"]);
    }
}

namespace {

// A value written into another account's hive, loaded as the program loads
// one, and left loaded.
bool WriteIntoLoadedHive(const std::wstring& sid, const std::wstring& file, const wchar_t* value)
{
    DWORD one = 1;
    return machine::RegLoadKeyW(HKEY_USERS, sid.c_str(), file.c_str()) == ERROR_SUCCESS &&
           RegSetKeyValueW(HKEY_USERS, sid.c_str(), value, REG_DWORD, &one, sizeof(one)) == ERROR_SUCCESS;
}

}  // namespace

// The same session ended twice, once by an orderly restart and once by a
// power cut in one of its programs: a program that still runs gets the
// end-of-session messages only in the first, a loaded hive is written back
// only in the first, and what was registered for the restart is carried out
// in both.
TEST_F(Reboot, PowerCutTheRestartAfterACutClosesNothingAndWritesNothingBack)
{
    for (bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "after a power cut" : "orderly restart");
        Reset(L"auto-logon");
        // jokafor signs in; notepad runs in the session and keeps running.
        std::wstring startup = StartupFolderOf(L"jokafor");
        std::filesystem::create_directories(startup);
        wchar_t windows[MAX_PATH];
        GetWindowsDirectoryW(windows, ARRAYSIZE(windows));
        ASSERT_TRUE(MakeShortcut(startup + L"\\long.lnk", std::wstring(windows) + L"\\notepad.exe", L""));
        sandbox::RebootOutcome first = sandbox::Reboot();
        ASSERT_EQ(1u, first.programs.size());
        ASSERT_TRUE(first.programs[0].started) << Show(first.programs[0].error);
        DeleteFileW((startup + L"\\long.lnk").c_str());

        // Another account's hive changed and left loaded; a file deletion
        // registered for the restart.
        const std::wstring sid = AccountSidOf(L"mhartley");
        const std::wstring hive = ProfileOf(L"mhartley") + L"\\NTUSER.DAT";
        ASSERT_TRUE(WriteIntoLoadedHive(sid, hive, L"changed before the end"));
        std::wstring doomed = TestFolder(L"power-cut") + L"\\doomed.txt";
        CloseHandle(CreateFileW(doomed.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(MoveFileExW(doomed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();

        if (cut) {
            sandbox::ArmPowerCut(L"mid-write", 1);
            ASSERT_EQ(sandbox::kPowerCutExitCode, RunSandboxTool(L"powercut pass before mid-write after").exitCode);
        }
        sandbox::RebootOutcome outcome = sandbox::Reboot(cut ? L"power cut" : nullptr);
        EXPECT_EQ(cut, outcome.afterPowerCut);
        unsigned long exitCode = 0;
        ASSERT_TRUE(sandbox::SessionProgramExitCode(first.programs[0].processId, &exitCode));
        if (cut) {
            EXPECT_EQ(sandbox::kPowerCutExitCode, exitCode) << "stopped at once, not asked to close";
        } else {
            EXPECT_NE(sandbox::kPowerCutExitCode, exitCode);
        }
        EXPECT_EQ(cut ? 0xFFFFFFFFu : 1u, HiveValue(hive, L"changed before the end")) << "read from the file itself";
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(doomed.c_str())) << "registered, so carried out";
        EXPECT_EQ(1u, outcome.renamesDone);
        EXPECT_TRUE(outcome.signedIn) << Show(outcome.signInScreen);

        std::vector<sandbox::RecordedAction> ended = Recorded(L"SessionEnded");
        ASSERT_EQ(1u, ended.size()) << "jokafor's session; before it no account had signed in";
        EXPECT_EQ(L"jokafor", ended[0].details[L"account"]);
        EXPECT_EQ(L"1", ended[0].details[L"programs"]);
        EXPECT_EQ(cut ? L"yes" : L"no", ended[0].details[L"powerCut"]);
        EXPECT_EQ(L"1", ended[0].details[L"forced"]) << (cut ? "ended at once" : "notepad still ran after the messages");
        std::vector<sandbox::RecordedAction> reboots = Recorded(L"Reboot");
        ASSERT_EQ(2u, reboots.size());
        EXPECT_EQ(cut ? L"power cut" : L"sandbox", reboots[1].details[L"by"]);

        sandbox::PowerCut last;
        ASSERT_EQ(cut, sandbox::LastPowerCut(&last));
        if (cut) {
            EXPECT_FALSE(last.pending) << "the restart took it";
        }
        EXPECT_FALSE(sandbox::Reboot().afterPowerCut) << "the restart after that is orderly again";
    }
}

// The machine's own calls that change what survives a restart mark a point
// after they are done, so that the power can fail right after one.
TEST_F(Reboot, PowerCutTheMachinesLastingCallsMarkAPointOnceDone)
{
    USER_INFO_1 info{};
    info.usri1_name = const_cast<LPWSTR>(L"pcscratch");
    info.usri1_password = const_cast<LPWSTR>(L"Scratch-Pass-1");
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT;
    DWORD parameter = 0;
    ASSERT_EQ(static_cast<DWORD>(NERR_Success),
              machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &parameter));
    EXPECT_NE(static_cast<DWORD>(NERR_Success),
              machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &parameter)) << "taken";
    ASSERT_EQ(static_cast<DWORD>(NERR_Success), machine::NetUserDel(nullptr, L"pcscratch"));
    EXPECT_NE(static_cast<DWORD>(NERR_Success), machine::NetUserDel(nullptr, L"pcscratch")) << "gone";
    EXPECT_TRUE(machine::RefreshPolicyEx(TRUE, 0));
    EXPECT_EQ("machine: NetUserAdd | machine: NetUserDel | machine: RefreshPolicyEx",
              Joined(sandbox::PowerCutPointsPassed()))
        << "a refused call changes nothing and marks nothing";
}

// A request to restart that the power cut overtook is not acted on again
// after the power comes back: that restart answered it.
TEST_F(Reboot, PowerCutTheRestartAfterACutAnswersTheRequestsMadeBeforeIt)
{
    ASSERT_TRUE(sandbox::Reboot().signedIn);
    EXPECT_TRUE(machine::ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, 0));
    sandbox::CutPowerNow(L"as the restart began");
    sandbox::RebootOutcome outcome = sandbox::Reboot(L"power cut");
    EXPECT_TRUE(outcome.afterPowerCut);
    EXPECT_FALSE(sandbox::RebootIfRequested()) << "no request is left waiting";
    std::vector<sandbox::RecordedAction> requests = Recorded(L"ExitWindowsEx");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(L"yes", requests[0].details[L"performed"]);
    std::vector<sandbox::RecordedAction> cuts = Recorded(L"PowerCut");
    ASSERT_EQ(1u, cuts.size());
    EXPECT_EQ(L"as the restart began", cuts[0].details[L"point"]);
}
