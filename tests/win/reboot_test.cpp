// The simulated restart: the session ends, registered renames are carried
// out, the automatic sign-in is checked and signs its account in, and the
// shell links of its Startup folder are started for real.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"

namespace {

constexpr wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";


std::wstring ProfileOf(const wchar_t* account)
{
    BYTE sid[260];
    DWORD sidSize = sizeof(sid);
    wchar_t domain[260];
    DWORD domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    if (!machine::LookupAccountNameW(nullptr, account, sid, &sidSize, domain, &domainLength, &use))
        return L"";
    LPWSTR text = nullptr;
    ConvertSidToStringSidW(sid, &text);
    std::wstring key = std::wstring(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") + text;
    LocalFree(text);
    wchar_t path[MAX_PATH] = L"";
    DWORD size = sizeof(path);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", RRF_RT_REG_SZ, nullptr, path,
                     &size) != ERROR_SUCCESS)
        return L"";
    return path;
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

std::wstring ConsoleUser()
{
    DWORD session = machine::WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFF)
        return L"";
    LPWSTR name = nullptr;
    DWORD bytes = 0;
    if (!machine::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &name, &bytes))
        return L"";
    std::wstring user = name;
    machine::WTSFreeMemory(name);
    return user;
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

// Calls of the record, oldest first, from the first "Reboot" on.
std::vector<sandbox::RecordedAction> SinceReboot()
{
    std::vector<sandbox::RecordedAction> actions = sandbox::RecordedActions(), since;
    bool seen = false;
    for (sandbox::RecordedAction& action : actions) {
        seen = seen || action.call == L"Reboot";
        if (seen)
            since.push_back(std::move(action));
    }
    return since;
}

std::string Calls(const std::vector<sandbox::RecordedAction>& actions)
{
    std::string calls;
    for (const sandbox::RecordedAction& action : actions)
        calls += std::string(action.call.begin(), action.call.end()) + " ";
    return calls;
}

// Sets the automatic sign-in as the account code does: Winlogon values and
// the security authority's secret, a short password padded to 10 characters.
void SetAutoSignIn(const wchar_t* user, const wchar_t* password, const wchar_t* enabled = L"1")
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kWinlogon, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    auto write = [&](const wchar_t* name, const wchar_t* value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    };
    write(L"DefaultUserName", user);
    write(L"AutoAdminLogon", enabled);
    RegDeleteValueW(key, L"DefaultPassword");
    RegCloseKey(key);
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
                  const std::wstring& directory)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    bool saved = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                            reinterpret_cast<void**>(&link))) &&
                 SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link->SetArguments(arguments.c_str())) &&
                 SUCCEEDED(link->SetWorkingDirectory(directory.c_str())) &&
                 SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                 SUCCEEDED(file->Save(path.c_str(), TRUE));
    if (file != nullptr)
        file->Release();
    if (link != nullptr)
        link->Release();
    CoUninitialize();
    return saved;
}

std::string ReadText(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool CreateDirectoryPathForTest(const std::wstring& path)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path), ignored);
    return std::filesystem::is_directory(std::filesystem::path(path), ignored);
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

TEST_F(Reboot, AutomaticSignInMakesItsAccountTheCurrentUserWithItsOwnFolders)
{
    ASSERT_NE(L"jokafor", sandbox::SessionUserName());
    sandbox::RebootOutcome outcome = sandbox::Reboot();
    ASSERT_TRUE(outcome.signedIn) << Show(outcome.signInScreen);
    EXPECT_EQ(L"jokafor", outcome.account);
    EXPECT_EQ(L"jokafor", sandbox::SessionUserName());
    EXPECT_EQ(L"jokafor", ConsoleUser());
    EXPECT_FALSE(Elevated()) << "a standard user's programs are not elevated";

    std::wstring profile = ProfileOf(L"jokafor");
    ASSERT_FALSE(profile.empty());
    EXPECT_EQ(profile, CurrentFolder(CSIDL_PROFILE));
    EXPECT_EQ(profile + L"\\Desktop", CurrentFolder(CSIDL_DESKTOPDIRECTORY));
    EXPECT_EQ(StartupFolderOf(L"jokafor"), CurrentFolder(CSIDL_STARTUP));
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, ARRAYSIZE(windows));
    EXPECT_EQ(std::wstring(windows), CurrentFolder(CSIDL_WINDOWS)) << "machine folders stay the machine's";

    EXPECT_EQ("Reboot SignIn ", Calls(SinceReboot()));
    EXPECT_EQ(L"jokafor", SinceReboot().back().details[L"account"]);
}

TEST_F(Reboot, WithoutAutomaticSignInTheMachineStopsAtTheSignInScreen)
{
    Reset(L"default");
    sandbox::RebootOutcome outcome = sandbox::Reboot();
    EXPECT_FALSE(outcome.signedIn);
    EXPECT_EQ(L"No account signs in automatically.", outcome.signInScreen);
    EXPECT_EQ(L"", sandbox::SessionUserName());
    EXPECT_EQ(0xFFFFFFFFu, machine::WTSGetActiveConsoleSessionId()) << "nobody is at the console";
    std::vector<sandbox::RecordedAction> actions = SinceReboot();
    ASSERT_EQ("Reboot SignInScreen ", Calls(actions));
    EXPECT_EQ(L"No account signs in automatically.", actions.back().details[L"reason"]);
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
            EXPECT_EQ(L"", ConsoleUser()) << Show(c.user);
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
    int recorded = 0;
    for (const sandbox::RecordedAction& action : SinceReboot()) {
        if (action.call != L"PendingFileRename")
            continue;
        ++recorded;
        bool shouldFail = action.details.at(L"source") == kept;
        EXPECT_EQ(shouldFail, action.details.at(L"result") != L"0") << Show(action.details.at(L"source"));
    }
    EXPECT_EQ(4, recorded);
    EXPECT_EQ(0u, sandbox::Reboot().renamesDone) << "a second restart has nothing left to do";
}

TEST_F(Reboot, StartupShortcutsStartTheirProgramsWithArgumentsAndWorkingFolder)
{
    std::wstring folder = TestFolder(L"reboot-startup");
    std::wstring workHere = folder + L"\\work here";
    CreateDirectoryW(workHere.c_str(), nullptr);
    std::wstring where = folder + L"\\where.txt", said = folder + L"\\said.txt";
    std::wstring startup = StartupFolderOf(L"jokafor");
    ASSERT_TRUE(CreateDirectoryPathForTest(startup));
    ASSERT_TRUE(MakeShortcut(startup + L"\\1 where.lnk", CommandInterpreter(), L"/c cd > \"" + where + L"\"",
                             workHere));
    ASSERT_TRUE(MakeShortcut(startup + L"\\2 said.lnk", CommandInterpreter(),
                             L"/c echo %USERNAME% /fixuser \"Sofia K\" /fixflag=3> \"" + said + L"\"", folder));
    ASSERT_TRUE(MakeShortcut(startup + L"\\3 missing.lnk", folder + L"\\missing.exe", L"", folder));
    // Another account's Startup folder is not this sign-in's.
    std::wstring other = StartupFolderOf(L"mhartley");
    ASSERT_TRUE(CreateDirectoryPathForTest(other));
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

    int recorded = 0;
    for (const sandbox::RecordedAction& action : SinceReboot())
        recorded += action.call == L"StartupProgram" ? 1 : 0;
    EXPECT_EQ(3, recorded);
}

TEST_F(Reboot, TheProgramsRebootRequestIsActedOnOnlyWhenAsked)
{
    EXPECT_FALSE(sandbox::RebootIfRequested()) << "nothing asked for yet";
    EXPECT_TRUE(machine::ExitWindowsEx(EWX_LOGOFF, 0));
    EXPECT_FALSE(sandbox::RebootIfRequested()) << "signing out is not a restart";
    EXPECT_TRUE(machine::ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, 0));
    EXPECT_NE(L"jokafor", sandbox::SessionUserName()) << "recorded, not performed";

    sandbox::RebootOutcome outcome;
    ASSERT_TRUE(sandbox::RebootIfRequested(&outcome));
    EXPECT_TRUE(outcome.signedIn);
    EXPECT_EQ(L"jokafor", sandbox::SessionUserName());
    EXPECT_FALSE(sandbox::RebootIfRequested()) << "one request, one restart";
    std::vector<sandbox::RecordedAction> actions = sandbox::RecordedActions();
    ASSERT_GE(actions.size(), 3u);
    EXPECT_EQ(L"ExitWindowsEx", actions[1].call);
    EXPECT_EQ(L"18", actions[1].details[L"flags"]);
    EXPECT_EQ(L"yes", actions[1].details[L"performed"]);
    EXPECT_EQ(L"Reboot", actions[2].call);
    EXPECT_EQ(L"ExitWindowsEx", actions[2].details[L"by"]);
}

TEST_F(Reboot, TheNextRestartEndsTheProgramsOfTheSession)
{
    std::wstring startup = StartupFolderOf(L"jokafor");
    ASSERT_TRUE(CreateDirectoryPathForTest(startup));
    // A program that runs until it is closed.
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, ARRAYSIZE(windows));
    ASSERT_TRUE(MakeShortcut(startup + L"\\long.lnk", std::wstring(windows) + L"\\notepad.exe", L"",
                             TestFolder(L"reboot-long")));
    sandbox::RebootOutcome first = sandbox::Reboot();
    ASSERT_EQ(1u, first.programs.size());
    ASSERT_TRUE(first.programs[0].started) << Show(first.programs[0].error);
    EXPECT_FALSE(sandbox::WaitForSessionPrograms(500)) << "it still runs";

    DeleteFileW((startup + L"\\long.lnk").c_str());
    sandbox::Reboot();
    unsigned long exitCode = 0;
    EXPECT_TRUE(sandbox::SessionProgramExitCode(first.programs[0].processId, &exitCode)) << "ended by the restart";
    bool recorded = false;
    for (const sandbox::RecordedAction& action : sandbox::RecordedActions()) {
        if (action.call == L"SessionEnded") {
            recorded = true;
            EXPECT_EQ(L"jokafor", action.details.at(L"account"));
            EXPECT_EQ(L"1", action.details.at(L"programs"));
            EXPECT_EQ(1u, action.details.count(L"forced"));
        }
    }
    EXPECT_TRUE(recorded);
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

TEST_F(Reboot, TheSandboxToolRestartsTheMachine)
{
    std::wstring output = TempFile(L"vantrell-reboot.txt");
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" VANTRELL_SANDBOX_TOOL L"\" reboot";
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &process)) << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(file);
    EXPECT_EQ(0u, exitCode);
    std::string text = ReadText(output);
    EXPECT_NE(std::string::npos, text.find("signed in: jokafor")) << text;
    EXPECT_EQ(L"jokafor", sandbox::SessionUserName()) << "the restart is the machine's, seen by every process";
}

namespace {

struct Tree {
    unsigned files = 0;
    size_t longestPath = 0;
    bool beyondAscii = false;
    uint64_t checksum = 1469598103934665603ull;   // over names and contents, in walking order
};

void Walk(const std::wstring& folder, Tree* tree)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::wstring> names;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            names.emplace_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    auto mix = [tree](const BYTE* bytes, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            tree->checksum ^= bytes[i];
            tree->checksum *= 1099511628211ull;
        }
    };
    for (const std::wstring& name : names) {
        std::wstring path = folder + L"\\" + name;
        for (wchar_t c : name)
            tree->beyondAscii |= c > 0x7F;
        mix(reinterpret_cast<const BYTE*>(name.c_str()), name.size() * sizeof(wchar_t));
        DWORD attributes = GetFileAttributesW((L"\\\\?\\" + path).c_str());
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            Walk(path, tree);
            continue;
        }
        ++tree->files;
        // Hives carry the times their keys were written; the owner's files are what must stay.
        if (_wcsnicmp(name.c_str(), L"NTUSER.", 7) == 0 || _wcsnicmp(name.c_str(), L"UsrClass.", 9) == 0)
            continue;
        tree->longestPath = std::max(tree->longestPath, path.size());
        HANDLE file = CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        BYTE buffer[4096];
        DWORD read = 0;
        while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
            mix(buffer, read);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
}

}  // namespace

TEST_F(Reboot, BrokenProfileScenarioHoldsTheOwnersFilesAndAHiveThatNoLongerLoads)
{
    Reset(L"broken-profile");
    std::wstring profile = ProfileOf(L"pweber");
    ASSERT_FALSE(profile.empty());
    Tree first;
    Walk(profile, &first);
    EXPECT_GE(first.files, 300u);
    EXPECT_GT(first.longestPath, 260u);
    EXPECT_TRUE(first.beyondAscii);
    for (const wchar_t* part : {L"\\Documents", L"\\Desktop", L"\\Pictures", L"\\AppData\\Local\\Packages"}) {
        Tree below;
        Walk(profile + part, &below);
        EXPECT_GE(below.files, 3u) << Show(part);
    }
    EXPECT_NE(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesW((profile + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat").c_str()));

    // Its owner cannot sign in: the profile service refuses the profile.
    SetAutoSignIn(L"pweber", L"Weber-Office-7");
    sandbox::RebootOutcome outcome = sandbox::Reboot();
    EXPECT_FALSE(outcome.signedIn);
    EXPECT_EQ(L"The User Profile Service failed the sign-in. User profile cannot be loaded.", outcome.signInScreen);

    // The registry still reads the damaged hive up to the damage: the pins are there.
    const wchar_t* name = L"VantrellBrokenHive";
    ASSERT_EQ(ERROR_SUCCESS, machine::RegLoadKeyW(HKEY_USERS, name, (profile + L"\\NTUSER.DAT").c_str()));
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_USERS,
                                          L"VantrellBrokenHive\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Taskband",
                                          L"Favorites", RRF_RT_REG_BINARY, nullptr, nullptr, &size));
    EXPECT_GT(size, 16u);
    HKEY folders = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(HKEY_USERS,
                            L"VantrellBrokenHive\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                            0, KEY_READ, &folders));
    EXPECT_EQ(ERROR_SUCCESS, machine::RegUnLoadKeyW(HKEY_USERS, name));

    // Built again, the scenario holds the same bytes.
    Reset(L"broken-profile");
    Tree second;
    Walk(ProfileOf(L"pweber"), &second);
    EXPECT_EQ(first.files, second.files);
    EXPECT_EQ(first.checksum, second.checksum);
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

DWORD HiveValue(const std::wstring& file, const wchar_t* valueName)
{
    DWORD value = 0, size = sizeof(value);
    if (machine::RegLoadKeyW(HKEY_USERS, L"VantrellReadBack", file.c_str()) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
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

    // A hive whose file stayed is written back as before.
    ASSERT_EQ(ERROR_SUCCESS, machine::RegLoadKeyW(HKEY_USERS, L"VantrellLoaded", loaded.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_USERS, L"VantrellLoaded", L"Later", REG_DWORD, &changed,
                                             sizeof(changed)));
    EXPECT_EQ(ERROR_SUCCESS, machine::RegUnLoadKeyW(HKEY_USERS, L"VantrellLoaded"));
    EXPECT_EQ(3u, HiveValue(loaded, L"Later"));
    EXPECT_EQ(2u, HiveValue(loaded, L"Fresh"));
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
    ASSERT_FALSE(profile.empty());
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
    ASSERT_TRUE(CreateDirectoryPathForTest(L"C:\\Brenwick\\sub"));
    std::ofstream(L"C:\\Brenwick\\BrenwickJournal.txt") << "Account=pweber\n";
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
    ASSERT_TRUE(CreateDirectoryPathForTest(startup));
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
