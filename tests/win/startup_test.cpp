#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/startup.h"
#include "platform/system.h"
#include "sandbox/sandbox.h"
#include "tests/narrow.h"

namespace {

// What the fake actions saw; reset by each test.
struct Seen {
    bool elevated = false;
    std::vector<std::wstring> calls;
    std::wstring file, parameters, directory;
    int show = -1;
    HRESULT comInsideRun = E_FAIL;
};
Seen seen;

bool FakeIsElevated() { return seen.elevated; }

bool FakeLaunch(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory, int show)
{
    seen.calls.push_back(L"relaunch");
    seen.file = file;
    seen.parameters = parameters;
    seen.directory = directory;
    seen.show = show;
    return false;   // as if the operator refused the prompt
}

int FakeManager(HINSTANCE, const wchar_t* commandLine, int)
{
    seen.calls.push_back(L"manager");
    seen.parameters = commandLine;
    // COM is already started on this thread: a second start only counts up.
    seen.comInsideRun = CoInitialize(nullptr);
    CoUninitialize();
    return 3;
}

int FakeRepair(HINSTANCE, const wchar_t* commandLine, int)
{
    seen.calls.push_back(L"repair");
    seen.parameters = commandLine;
    return 7;
}

const StartupActions kFakes{FakeIsElevated, FakeLaunch, FakeManager, FakeRepair};

class Startup : public ::testing::Test {
protected:
    void SetUp() override { seen = Seen{}; }
};

}  // namespace

TEST_F(Startup, RepairSwitchIsMatchedWholeInAnyCase)
{
    struct Case {
        const wchar_t* commandLine;
        bool elevated;
        const wchar_t* expected;
    } cases[] = {
        {L"/one /BRENWICK three", true, L"repair"},
        {L"/Brenwick", false, L"relaunch"},   // the repair tool runs elevated too
        {L"/brenwickx", true, L"manager"},
        {L"-brenwick", true, L"manager"},
        {L"\"/brenwick\"", true, L"repair"},
        {L"", true, L"manager"},
        {L"/brenwic", false, L"relaunch"},
    };
    for (const Case& c : cases) {
        seen = Seen{};
        seen.elevated = c.elevated;
        int exitCode = RunProcess(GetModuleHandleW(nullptr), c.commandLine, SW_SHOW, kFakes);
        ASSERT_EQ(1u, seen.calls.size()) << "command line: " << c.commandLine;
        EXPECT_EQ(c.expected, seen.calls[0]) << "command line: " << c.commandLine;
        int expectedCode = seen.calls[0] == L"repair" ? 7 : seen.calls[0] == L"manager" ? 3 : 0;
        if (seen.calls[0] == L"relaunch" && seen.parameters.find(L"/Brenwick") == 0)
            expectedCode = -4;   // the repair tool's relaunch
        EXPECT_EQ(expectedCode, exitCode) << "command line: " << c.commandLine;
    }
}

TEST_F(Startup, NotElevatedStartsItselfAgainWithRunasAndTheSameArguments)
{
    seen.elevated = false;
    const wchar_t* commandLine = L"/some \"quoted argument\"  /x";
    EXPECT_EQ(0, RunProcess(GetModuleHandleW(nullptr), commandLine, SW_SHOWMAXIMIZED, kFakes));

    wchar_t path[2048];
    GetModuleFileNameW(nullptr, path, 2048);
    std::wstring folder(path);
    folder.erase(folder.rfind(L'\\'));
    EXPECT_EQ(path, seen.file);
    EXPECT_EQ(std::wstring(commandLine) + L" /vantrell-relaunched", seen.parameters)
        << "the arguments go on exactly as received, marked as relaunched";
    EXPECT_EQ(folder, seen.directory);
    EXPECT_EQ(SW_SHOWMAXIMIZED, seen.show);
}

// The real elevation check and relaunch, on the simulated machine: the
// relaunch is one "runas" request, recorded instead of started.
TEST_F(Startup, RelaunchOnTheMachineIsOneRunasRequest)
{
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error));
    sandbox::SetElevated(false);
    sandbox::ClearRecord();
    const wchar_t* commandLine = L"/a \"b c\"";
    int exitCode = RunProcess(GetModuleHandleW(nullptr), commandLine, SW_SHOWNORMAL, DefaultStartupActions());
    sandbox::SetElevated(true);
    EXPECT_EQ(0, exitCode);

    std::vector<sandbox::RecordedAction> actions = sandbox::RecordedActions();
    ASSERT_EQ(1u, actions.size());
    sandbox::RecordedAction& runas = actions[0];
    EXPECT_EQ(L"ShellExecuteExW", runas.call);
    wchar_t path[2048];
    GetModuleFileNameW(nullptr, path, 2048);
    std::wstring folder(path);
    folder.erase(folder.rfind(L'\\'));
    EXPECT_EQ(L"runas", runas.details[L"verb"]);
    EXPECT_EQ(path, runas.details[L"file"]);
    EXPECT_EQ(std::wstring(commandLine) + L" /vantrell-relaunched", runas.details[L"parameters"]);
    EXPECT_EQ(folder, runas.details[L"directory"]);
    EXPECT_EQ(std::to_wstring(SW_SHOWNORMAL), runas.details[L"show"]);
    EXPECT_EQ(std::to_wstring(SEE_MASK_NOCLOSEPROCESS), runas.details[L"mask"]);
}

// Without elevation after the relaunch (UAC off, or no administrator), a
// second relaunch would start a third, without end: the marked process ends,
// whichever tool it was started for.
TEST_F(Startup, ARelaunchedProcessNeverRelaunchesAgain)
{
    struct Case {
        const wchar_t* commandLine;
        bool elevated;
        const wchar_t* started;      // null: nothing
        const wchar_t* parameters;   // what the started tool was given
        int exitCode;
    } const cases[] = {
        {L"/a /vantrell-relaunched", false, nullptr, L"", 0},
        {L"/brenwick /fixuser \"m hartley\" /vantrell-relaunched", false, nullptr, L"", 0},
        {L"/a \"b c\" /vantrell-relaunched", true, L"manager", L"/a \"b c\"", 3},
        {L"/brenwick /fixuser \"m hartley\" /vantrell-relaunched", true, L"repair", L"/brenwick /fixuser \"m hartley\"", 7},
    };
    for (const Case& c : cases) {
        seen = Seen{};
        seen.elevated = c.elevated;
        EXPECT_EQ(c.exitCode, RunProcess(GetModuleHandleW(nullptr), c.commandLine, SW_SHOW, kFakes)) << Narrow(c.commandLine);
        ASSERT_EQ(c.started != nullptr ? 1u : 0u, seen.calls.size())
            << Narrow(c.commandLine) << ": " << (seen.calls.empty() ? "" : Narrow(seen.calls[0]));
        if (c.started != nullptr) {
            EXPECT_EQ(c.started, seen.calls[0]);
            EXPECT_EQ(c.parameters, seen.parameters) << "the tool sees the command line as the operator gave it";
        }
    }
}

// The repair tool's relaunch is the account manager's: marked the same way.
TEST_F(Startup, TheRepairToolRelaunchesOnceWithTheSameMark)
{
    seen.elevated = false;
    const wchar_t* commandLine = L"/brenwick /fixuser \"m hartley\"";
    EXPECT_EQ(-4, RunProcess(GetModuleHandleW(nullptr), commandLine, SW_SHOWNORMAL, kFakes));
    ASSERT_EQ(1u, seen.calls.size());
    EXPECT_EQ(L"relaunch", seen.calls[0]);
    EXPECT_EQ(std::wstring(commandLine) + L" /vantrell-relaunched", seen.parameters);
}

TEST_F(Startup, ComRunsForTheWholeRunAndStopsAfterIt)
{
    seen.elevated = true;
    RunProcess(GetModuleHandleW(nullptr), L"", SW_SHOW, kFakes);
    EXPECT_EQ(S_FALSE, seen.comInsideRun) << "COM was not started before the tool ran";

    HRESULT after = CoInitialize(nullptr);
    EXPECT_EQ(S_OK, after) << "COM was left running";
    if (SUCCEEDED(after))
        CoUninitialize();
}

TEST(MainWindowObject, StartsWithItsDefaults)
{
    MainWindow window;
    EXPECT_DOUBLE_EQ(GetOsVersionNumber(), window.osVersion);
    EXPECT_EQ(0u, window.busy);
    EXPECT_FALSE(window.appImage);
    EXPECT_FALSE(window.buttonImage);
    EXPECT_FALSE(window.consoleUserToken);
    for (WString* text : {&window.consoleUserName, &window.consoleUserSid, &window.helpUrl, &window.aboutUrl}) {
        EXPECT_STREQ(L"", text->Text());
        EXPECT_TRUE(text->Valid());
    }
    EXPECT_EQ(nullptr, window.Handle());
}

namespace {

SIZE closedClientSize{};

// Runs inside the main window's loop: measures the window, then closes it
// the way the system menu does.
void CALLBACK CloseMainWindow(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND window = FindWindowW(L"Vantrell_WNDCLASS", nullptr);
    if (window == nullptr)
        return;
    KillTimer(nullptr, timer);
    RECT client;
    GetClientRect(window, &client);
    closedClientSize = SIZE{client.right, client.bottom};
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

}  // namespace

TEST(MainWindowObject, RunsItsWindowUntilClosed)
{
    // A machine with nothing to ask about at start, whatever ran before.
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Narrow(error.c_str());
    MainWindow window;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseMainWindow);
    ASSERT_NE(0u, timer);
    EXPECT_EQ(0, RunMainWindow(window, GetModuleHandleW(nullptr), L"", SW_SHOW));
    EXPECT_EQ(750, closedClientSize.cx);
    EXPECT_EQ(550, closedClientSize.cy);
    EXPECT_EQ(nullptr, window.Handle());
    EXPECT_EQ(nullptr, FindWindowW(L"Vantrell_WNDCLASS", nullptr));
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), L"Vantrell_WNDCLASS", &info))
        << "the class outlived its window";
}
