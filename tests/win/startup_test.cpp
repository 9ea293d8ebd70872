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
    std::wstring parameters;
    HRESULT comInsideRun = E_FAIL;
};
Seen seen;

bool FakeIsElevated() { return seen.elevated; }

bool FakeLaunch(const wchar_t*, const wchar_t* parameters, const wchar_t*, int)
{
    seen.calls.push_back(L"relaunch");
    seen.parameters = parameters;
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

int FakeCommand(int count, const wchar_t* const* arguments, bool (*)())
{
    seen.calls.push_back(L"command");
    seen.parameters = count > 0 ? arguments[0] : L"";
    return 2;
}

const StartupActions kFakes{FakeIsElevated, FakeLaunch, FakeManager, FakeRepair, FakeCommand};

class Startup : public ::testing::Test {
protected:
    void SetUp() override { seen = Seen{}; }
};

}  // namespace

// Which tool starts, with what: the words come from the system's splitting
// of the command line (a quoted switch is the switch), and each tool sees
// the command line as the operator gave it. Without elevation after the
// relaunch (UAC off, or no administrator), a second relaunch would start a
// third, without end: the marked process ends, whichever tool it was
// started for; the repair tool's relaunch is marked as the manager's.
TEST_F(Startup, EachCommandLineStartsItsToolOrOneRelaunch)
{
    struct Case {
        const wchar_t* commandLine;
        bool elevated;
        const wchar_t* started;      // null: nothing
        const wchar_t* parameters;   // what the started tool (or the relaunch) was given
        int exitCode;
    } const cases[] = {
        {L"/one /BRENWICK three", true, L"repair", L"/one /BRENWICK three", 7},
        {L"\"/brenwick\"", true, L"repair", L"\"/brenwick\"", 7},
        {L"/brenwickx", true, L"manager", L"/brenwickx", 3},
        {L"", true, L"manager", L"", 3},
        {L"/a /vantrell-relaunched", false, nullptr, L"", 0},
        {L"/brenwick /fixuser \"m hartley\" /vantrell-relaunched", false, nullptr, L"", 0},
        {L"/a \"b c\" /vantrell-relaunched", true, L"manager", L"/a \"b c\"", 3},
        {L"/brenwick /fixuser \"m hartley\" /vantrell-relaunched", true, L"repair", L"/brenwick /fixuser \"m hartley\"", 7},
        {L"/brenwick /fixuser \"m hartley\"", false, L"relaunch",
         L"/brenwick /fixuser \"m hartley\" /vantrell-relaunched", -4},
        // A command in any case, and a mistyped one (Wine always hands over
        // standard handles to answer on), never open the window nor relaunch.
        {L"List --json", false, L"command", L"List", 2},
        {L"--help", false, L"command", L"--help", 2},
        {L"frobnicate", true, L"command", L"frobnicate", 2},
    };
    for (const Case& c : cases) {
        seen = Seen{};
        seen.elevated = c.elevated;
        EXPECT_EQ(c.exitCode, RunProcess(GetModuleHandleW(nullptr), c.commandLine, SW_SHOW, kFakes)) << Narrow(c.commandLine);
        ASSERT_EQ(c.started != nullptr ? 1u : 0u, seen.calls.size())
            << Narrow(c.commandLine) << ": " << (seen.calls.empty() ? "" : Narrow(seen.calls[0]));
        if (c.started != nullptr) {
            EXPECT_EQ(c.started, seen.calls[0]) << Narrow(c.commandLine);
            EXPECT_EQ(c.parameters, seen.parameters) << Narrow(c.commandLine);
        }
    }
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

namespace {

// Runs inside the main window's loop: closes the window the way the system menu does.
void CALLBACK CloseMainWindow(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND window = FindWindowW(L"Vantrell_WNDCLASS", nullptr);
    if (window == nullptr)
        return;
    KillTimer(nullptr, timer);
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
    EXPECT_EQ(nullptr, window.Handle());
    EXPECT_EQ(nullptr, FindWindowW(L"Vantrell_WNDCLASS", nullptr));
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), L"Vantrell_WNDCLASS", &info))
        << "the class outlived its window";
}
