// The simulated power cut: the points a program passes are listed across
// processes, an armed point ends the process that reaches it as a power cut
// would, and the restart after it closes nothing and writes nothing back.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>
#include <sddl.h>
#include <shlobj.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"

namespace {

std::string Joined(const std::vector<std::wstring>& points)
{
    std::string text;
    for (const std::wstring& point : points)
        text += (text.empty() ? "" : " | ") + Narrow(point);
    return text;
}

// Runs the sandbox tool with `arguments` and gives back its exit code (or
// STILL_ACTIVE when it did not end within a minute) and its process id.
DWORD RunTool(const std::wstring& arguments, DWORD* processId = nullptr)
{
    std::wstring commandLine = L"\"" VANTRELL_SANDBOX_TOOL L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return GetLastError();
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &exitCode);
    if (processId != nullptr)
        *processId = process.dwProcessId;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

std::vector<sandbox::RecordedAction> Recorded(const wchar_t* call)
{
    std::vector<sandbox::RecordedAction> found;
    for (sandbox::RecordedAction& action : sandbox::RecordedActions())
        if (action.call == call)
            found.push_back(std::move(action));
    return found;
}

class PowerCut : public ::testing::Test {
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

TEST_F(PowerCut, PointsPassedAreListedInOrderAcrossProcesses)
{
    EXPECT_EQ("", Joined(sandbox::PowerCutPointsPassed())) << "a reset starts an empty list";
    machine::PowerCutPoint(L"here: first");
    machine::PowerCutPoint(nullptr);
    machine::PowerCutPoint(L"");
    EXPECT_EQ(0u, RunTool(L"powercut pass \"there: second\" \"there: third\""));
    machine::PowerCutPoint(L"here: fourth");
    EXPECT_EQ("here: first | there: second | there: third | here: fourth", Joined(sandbox::PowerCutPointsPassed()));
    EXPECT_FALSE(sandbox::LastPowerCut(nullptr)) << "nothing was armed";
    EXPECT_TRUE(Recorded(L"PowerCut").empty());

    sandbox::ClearPowerCutPoints();
    EXPECT_EQ("", Joined(sandbox::PowerCutPointsPassed()));
}

// Each case starts from a fresh machine: the armed point and passage, the
// points the process passes, and where it must stop.
TEST_F(PowerCut, AnArmedPointEndsTheProcessThereAtItsPassage)
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
        DWORD processId = 0;
        DWORD exitCode = RunTool(std::wstring(L"powercut pass ") + c.passes, &processId);
        EXPECT_EQ(c.cut ? sandbox::kPowerCutExitCode : 0u, exitCode);
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
        EXPECT_EQ(processId, cut.processId);
        EXPECT_TRUE(cut.pending);
        EXPECT_EQ(std::to_wstring(processId), recorded[0].details[L"process"]);
        EXPECT_EQ(std::to_wstring(c.cutPassage), recorded[0].details[L"passage"]);
    }
}

TEST_F(PowerCut, AfterTheCutTheMachineRunsOnAndCanBeArmedAgain)
{
    sandbox::ArmPowerCut(L"B", 1);
    EXPECT_EQ(sandbox::kPowerCutExitCode, RunTool(L"powercut pass A B C"));
    EXPECT_EQ(0u, RunTool(L"powercut pass B C")) << "one cut per arming";
    sandbox::ArmPowerCut(L"C", 2);
    EXPECT_EQ(sandbox::kPowerCutExitCode, RunTool(L"powercut pass C C D"));
    EXPECT_EQ("A | B | B | C | C | C", Joined(sandbox::PowerCutPointsPassed()));
    sandbox::ArmPowerCut(L"D", 1);
    sandbox::DisarmPowerCut();
    EXPECT_EQ(0u, RunTool(L"powercut pass D"));
    EXPECT_EQ(2u, Recorded(L"PowerCut").size());
}

namespace {

std::wstring SidOf(const wchar_t* account)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sid);
    wchar_t domain[260];
    DWORD domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    if (!machine::LookupAccountNameW(nullptr, account, sid, &sidSize, domain, &domainLength, &use))
        return L"";
    LPWSTR text = nullptr;
    ConvertSidToStringSidW(sid, &text);
    std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    return result;
}

std::wstring ProfileOf(const std::wstring& sid)
{
    std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid;
    wchar_t path[MAX_PATH] = L"";
    DWORD size = sizeof(path);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", RRF_RT_REG_SZ, nullptr, path, &size) !=
        ERROR_SUCCESS)
        return L"";
    return path;
}

// A value written into another account's hive, loaded as the program loads
// one, and left loaded.
bool WriteIntoLoadedHive(const std::wstring& sid, const std::wstring& file, const wchar_t* value)
{
    if (machine::RegLoadKeyW(HKEY_USERS, sid.c_str(), file.c_str()) != ERROR_SUCCESS)
        return false;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_USERS, (sid + L"\\Software\\Vantrell power cut").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    DWORD one = 1;
    bool written = RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof(one)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

// Whether the hive file holds the value, read from the file itself.
bool HiveFileHolds(const std::wstring& sid, const std::wstring& file, const wchar_t* value)
{
    if (machine::RegLoadKeyW(HKEY_USERS, sid.c_str(), file.c_str()) != ERROR_SUCCESS)
        return false;
    DWORD data = 0, size = sizeof(data);
    bool found = RegGetValueW(HKEY_USERS, (sid + L"\\Software\\Vantrell power cut").c_str(), value, RRF_RT_REG_DWORD,
                              nullptr, &data, &size) == ERROR_SUCCESS;
    machine::RegUnLoadKeyW(HKEY_USERS, sid.c_str());
    return found;
}

bool MakeShortcut(const std::wstring& path, const std::wstring& target, const std::wstring& arguments)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    bool saved = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                            reinterpret_cast<void**>(&link))) &&
                 SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link->SetArguments(arguments.c_str())) &&
                 SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                 SUCCEEDED(file->Save(path.c_str(), TRUE));
    if (file != nullptr)
        file->Release();
    if (link != nullptr)
        link->Release();
    CoUninitialize();
    return saved;
}

}  // namespace

// The same session ended twice, once by an orderly restart and once by a
// power cut in one of its programs: a program that still runs gets the
// end-of-session messages only in the first, a loaded hive is written back
// only in the first, and what was registered for the restart is carried out
// in both.
TEST_F(PowerCut, TheRestartAfterACutClosesNothingAndWritesNothingBack)
{
    for (bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "after a power cut" : "orderly restart");
        Reset(L"auto-logon");
        // jokafor signs in; notepad runs in the session and keeps running.
        std::wstring startup = ProfileOf(SidOf(L"jokafor")) +
                               L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
        std::filesystem::create_directories(std::filesystem::path(startup));
        wchar_t windows[MAX_PATH];
        GetWindowsDirectoryW(windows, ARRAYSIZE(windows));
        ASSERT_TRUE(MakeShortcut(startup + L"\\long.lnk", std::wstring(windows) + L"\\notepad.exe", L""));
        sandbox::RebootOutcome first = sandbox::Reboot();
        ASSERT_EQ(1u, first.programs.size());
        ASSERT_TRUE(first.programs[0].started) << Show(first.programs[0].error);
        DeleteFileW((startup + L"\\long.lnk").c_str());

        // Another account's hive changed and left loaded; a file deletion
        // registered for the restart.
        const std::wstring sid = SidOf(L"mhartley");
        const std::wstring hive = ProfileOf(sid) + L"\\NTUSER.DAT";
        ASSERT_TRUE(WriteIntoLoadedHive(sid, hive, L"changed before the end"));
        std::wstring doomed = TestFolder(L"power-cut") + L"\\doomed.txt";
        CloseHandle(CreateFileW(doomed.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(MoveFileExW(doomed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();

        if (cut) {
            sandbox::ArmPowerCut(L"mid-write", 1);
            ASSERT_EQ(sandbox::kPowerCutExitCode, RunTool(L"powercut pass before mid-write after"));
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
        EXPECT_EQ(!cut, HiveFileHolds(sid, hive, L"changed before the end"));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(doomed.c_str())) << "registered, so carried out";
        EXPECT_EQ(1u, outcome.renamesDone);
        EXPECT_TRUE(outcome.signedIn) << Show(outcome.signInScreen);

        std::vector<sandbox::RecordedAction> ended = Recorded(L"SessionEnded");
        ASSERT_EQ(1u, ended.size()) << "jokafor's session; before it no account had signed in";
        EXPECT_EQ(L"jokafor", ended[0].details[L"account"]);
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
TEST_F(PowerCut, TheMachinesLastingCallsMarkAPointOnceDone)
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
TEST_F(PowerCut, TheRestartAfterACutAnswersTheRequestsMadeBeforeIt)
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
