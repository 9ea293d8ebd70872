// The fix run's progress window on the simulated machine: the real window on
// this thread around a stand-in repair on the worker thread, the operator on
// a second thread, and what the run leaves in the log and the machine's
// record (the reboot it asked for, the shutdown it held off).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/handles.h"
#include "repair/fix_session.h"
#include "repair/repair_tool.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"
#include "ui/window.h"

using namespace repair_test;

namespace {

constexpr wchar_t kBoxClass[] = L"_WINDOW_MsgBoxClass";
constexpr wchar_t kLogPath[] = L"C:\\Brenwick\\BrenwickLog.txt";
constexpr wchar_t kRepairing[] = L"Fixing account profile data for:  mhartley  ...";
constexpr wchar_t kSucceeded[] = L"The repair operation succeeded. Close this app to reboot.";
constexpr wchar_t kFailed[] = L"The repair operation failed. Close this app to reboot.";

// The repair the window runs in these tests: it adds its rows as the real
// one does, then waits until the test lets it end with its result.
struct StandInRepair {
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    DWORD result = 0;
    UniqueHandle begin;    // the worker adds its rows once this is set
    UniqueHandle finish;
    UniqueHandle thread;   // the worker's thread, once it started
    std::atomic<int> starts{0};
    std::atomic<bool> running{false};
    std::atomic<int> rowsAdded{0};
    std::wstring account;   // the account the repair was given

    void Reset(std::vector<std::pair<std::wstring, std::wstring>> newRows, DWORD newResult)
    {
        rows = std::move(newRows);
        result = newResult;
        begin.Reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
        finish.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread.Reset();
        starts = 0;
        running = false;
        rowsAdded = 0;
    }
    void Finish() { SetEvent(finish.Get()); }
};

StandInRepair g_repair;

DWORD StandInWorker(const RepairInput& input, RepairProgress* progress)
{
    g_repair.thread.Reset(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
    ++g_repair.starts;
    g_repair.running = true;
    g_repair.account = input.account;
    WaitForSingleObject(g_repair.begin.Get(), 90000);
    int row = 0;
    for (const auto& shown : g_repair.rows) {
        progress->ShowRow(row++, shown.first.c_str(), shown.second.c_str());
        ++g_repair.rowsAdded;
    }
    // A test that fails before it lets the repair end must not hang the run.
    WaitForSingleObject(g_repair.finish.Get(), 90000);
    g_repair.running = false;
    return g_repair.result;
}

// What the operator's thread sees of the progress window.
class ProgressWindow {
public:
    explicit ProgressWindow(HWND window) : window_(window) {}
    HWND Window() const { return window_; }
    HWND List() const { return FindWindowExW(window_, nullptr, L"SysListView32", nullptr); }
    int Rows() const { return static_cast<int>(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0)); }
    std::wstring Cell(int row, int column) const
    {
        return ListCellText(List(), row, column).Text();
    }
    // The result cell of the reboot row, or empty while there is none.
    std::wstring RebootCell() const
    {
        for (int row = Rows() - 1; row >= 0; --row) {
            if (Cell(row, 0) == L"Reboot the computer")
                return Cell(row, 1);
        }
        return L"";
    }
    bool Shows(const wchar_t* text) const { return ChildWithText(window_, L"Static", text) != nullptr; }
    void Close() const { PostMessageW(window_, kCloseRequestMessage, 0, 0); }
    // The picture left of the status, or null.
    HWND Picture() const { return harness::ChildAt(window_, L"Static", 20, 90); }
    // How many pixels of the picture are dark on the screen now.
    int DarkPixels() const
    {
        RECT rect{};
        if (Picture() == nullptr || !GetWindowRect(Picture(), &rect))
            return -1;
        int dark = 0;
        for (int y = rect.top; y < rect.bottom; ++y)
            for (int x = rect.left; x < rect.right; ++x) {
                COLORREF pixel = ScreenPixel(x, y);
                dark += GetRValue(pixel) + GetGValue(pixel) + GetBValue(pixel) < 200 ? 1 : 0;
            }
        return dark;
    }
    std::wstring Answer(const wchar_t* button) const { return harness::AnswerBox(button, nullptr, kBoxClass); }

private:
    HWND window_;
};

std::vector<std::wstring> RebootFlags()
{
    std::vector<std::wstring> flags;
    for (const sandbox::RecordedAction& action : Recorded(L"ExitWindowsEx")) {
        auto found = action.details.find(L"flags");
        flags.push_back(found != action.details.end() ? found->second : L"(none)");
    }
    return flags;
}

const std::vector<std::pair<std::wstring, std::wstring>> kThreeRows = {
    {L"Checking the account's profile record", L"Done"},
    {L"Saving the account's registry settings", L"Done"},
    {L"Deleting the account", L"Working..."},
};

class FixSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(Load(L"fix-session.ini", Scenario(""), &error)) << Narrow(error);
        std::error_code ignored;
        std::filesystem::remove_all(L"C:\\Brenwick", ignored);
        std::filesystem::create_directories(L"C:\\Brenwick", ignored);
    }

    // Runs the fix run on this thread while `script` plays the operator
    // with the window (hidden or not), with a countdown of `seconds`. The
    // script's thread is joined before the run's result is given back.
    int Run(int show, RepairWorker worker, const std::function<void(ProgressWindow&)>& script,
            bool inTempAccount = true, int32_t seconds = kRebootCountdownSeconds)
    {
        returned_ = false;
        RepairTool tool;
        tool.instance = GetModuleHandleW(nullptr);
        tool.inTempAccount = inTempAccount;
        tool.fixAccount.Assign(L"mhartley");
        tool.site.toolFolder = L"C:\\Brenwick";
        tool.site.logPath = kLogPath;
        EXPECT_TRUE(BuildRepairFrame(tool));
        HWND window = tool.Handle();
        std::atomic<bool> scriptDone{false};
        std::thread operatorThread([&] {
            ProgressWindow progress(window);
            script(progress);
            // A script that failed early must not leave the repair waiting.
            SetEvent(g_repair.begin.Get());
            g_repair.Finish();
            scriptDone = true;
        });
        int result = RunFixSessionWith(tool, show, worker, seconds);
        returned_ = true;
        // A script still waiting on the window is released by its end, and
        // what it still asks of the window (sent to this thread) is answered.
        g_repair.Finish();
        while (!scriptDone) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        operatorThread.join();
        tool.DestroyUiWindow();
        return result;
    }

    QueueProbe queue_;   // through the window's thread, this one
    std::atomic<bool> returned_{false};   // the run has returned
};

// ---------------------------------------------------------------------------
// The window while the repair runs and while it counts down.

TEST_F(FixSession, WhileRepairingThenCloseDuringTheCountdownRebootsAtOnce)
{
    g_repair.Reset(kThreeRows, 1);
    DWORD closedAt = 0;
    std::wstring cellWhenClosed;
    int result = Run(SW_SHOWNORMAL, StandInWorker, [&](ProgressWindow& w) {
        ASSERT_TRUE(WaitUntil("the window", [&] { return IsWindowVisible(w.Window()) != FALSE; }));
        ASSERT_TRUE(WaitUntil("the repair's rows", [&] { return w.Rows() == 3; })) << "rows: " << w.Rows();
        WaitForPainted(w.Window());

        EXPECT_TRUE(w.Shows(kRepairing)) << "the status names the account";
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(kThreeRows[row].first, w.Cell(row, 0)) << "row " << row;
            EXPECT_EQ(kThreeRows[row].second, w.Cell(row, 1)) << "row " << row;
        }
        // The busy picture: a 48-pixel picture control left of the status,
        // its ring turning on the window's white.
        HWND busy = w.Picture();
        ASSERT_NE(nullptr, busy) << "no busy picture at (20, 90)";
        int dark = 0;
        EXPECT_TRUE(WaitUntil("the ring", [&] { return (dark = w.DarkPixels()) > 50; }, 3000)) << dark;
        // A ring, not a filled square.
        EXPECT_LT(dark, 48 * 48 / 2) << dark;
        SaveScreenshot(w.Window(), L"fix_session_repairing");
        EXPECT_TRUE(g_repair.running);
        EXPECT_EQ(L"mhartley", g_repair.account) << "the repair is given the account to fix";

        g_repair.Finish();
        ASSERT_TRUE(WaitUntil("the countdown", [&] { return w.RebootCell().rfind(L"Reboot in ", 0) == 0; }));
        EXPECT_TRUE(WaitUntil("the success", [&] { return w.Shows(kSucceeded); }));
        EXPECT_FALSE(w.Shows(kRepairing));
        EXPECT_EQ(4, w.Rows()) << "the reboot row follows the repair's rows";
        EXPECT_EQ(L"Reboot the computer", w.Cell(3, 0));
        WaitForPainted(w.Window());
        // The tick replaces the ring.
        HWND tick = w.Picture();
        ASSERT_NE(nullptr, tick) << "no tick picture where the ring was";
        EXPECT_NE(busy, tick);
        SaveScreenshot(w.Window(), L"fix_session_countdown");
        cellWhenClosed = w.RebootCell();
        closedAt = GetTickCount();
        w.Close();
    });
    DWORD tookMs = GetTickCount() - closedAt;
    EXPECT_EQ(0, result);
    EXPECT_LT(tookMs, 5000u) << "closing during the countdown reboots at once";
    EXPECT_NE(L"Reboot in 0 seconds", cellWhenClosed);
    EXPECT_EQ("18", Joined(RebootFlags())) << "one reboot, EWX_REBOOT | EWX_FORCEIFHUNG";
    EXPECT_EQ(1, g_repair.starts.load());
    std::string log = ReadBytes(kLogPath);
    EXPECT_EQ(1u, Occurrences(log, ": Successfully logged in to the temporary account.")) << log;
    EXPECT_EQ(1u, Occurrences(log, ": Rebooting to the \"mhartley\" user account...")) << log;
    EXPECT_EQ(0u, Occurrences(log, "Rebooting the computer")) << log;
    EXPECT_LT(log.find("Successfully logged in"), log.find("Rebooting to the")) << log;
}

// A close and the end of the session during the repair are refused and the
// repair goes on. While the box explains why, the window still takes the
// repair's rows; a repair that ends meanwhile starts the countdown only once
// the box is answered.
TEST_F(FixSession, CloseAndShutdownDuringTheRepairAreRefusedAndTheRepairGoesOn)
{
    g_repair.Reset(kThreeRows, 0);
    ResetEvent(g_repair.begin.Get());
    std::wstring boxText, secondBoxText;
    bool stillRunning = false, stillShown = false, countdownBehindTheBox = true;
    size_t rebootsMeanwhile = 99;
    int rowsBehindTheBox = -1;
    int result = Run(SW_SHOWNORMAL, StandInWorker, [&](ProgressWindow& w) {
        ASSERT_TRUE(WaitUntil("the window", [&] { return IsWindowVisible(w.Window()) != FALSE; }));
        // What arrives while the new window empties its queue is dropped;
        // the worker starts after that.
        ASSERT_TRUE(WaitUntil("the worker", [] { return g_repair.starts > 0; }));
        w.Close();
        ASSERT_TRUE(WaitUntil("the message box", [] { return harness::VisibleWindow(kBoxClass) != nullptr; }));
        SetEvent(g_repair.begin.Get());
        WaitUntil("the repair's reports", [&] { return g_repair.rowsAdded == 3; });
        // Posted by the repair, they become rows on the window's thread.
        WaitUntil("the rows behind the box", [&] { return w.Rows() == 3; });
        rowsBehindTheBox = w.Rows();
        boxText = w.Answer(L"OK");
        // The system asks to end the session: held off with a reason.
        SendMessageTimeoutW(w.Window(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 3000, nullptr);
        WaitUntil("the block reason", [] { return !Recorded(L"ShutdownBlockReasonCreate").empty(); });
        WaitForPainted(w.Window());
        stillRunning = g_repair.running;
        stillShown = IsWindowVisible(w.Window()) != FALSE;
        rebootsMeanwhile = Recorded(L"ExitWindowsEx").size();
        EXPECT_TRUE(w.Shows(kRepairing));
        EXPECT_EQ(L"", w.RebootCell());

        w.Close();
        ASSERT_TRUE(WaitUntil("the message box", [] { return harness::VisibleWindow(kBoxClass) != nullptr; }));
        g_repair.Finish();
        // A wrong window starts its countdown once it sees the worker's end.
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_repair.thread.Get(), kWaitLimitMs)) << "the repair did not end";
        queue_.RoundTrip();
        countdownBehindTheBox = !w.RebootCell().empty();
        secondBoxText = w.Answer(L"OK");
        ASSERT_TRUE(WaitUntil("the failure", [&] { return w.Shows(kFailed); }));
        EXPECT_EQ(L"Reboot the computer", w.Cell(3, 0));
        std::wstring cell = w.RebootCell();
        // A busy machine may already have moved on to 19.
        EXPECT_TRUE(cell == L"Reboot in 20 seconds" || cell == L"Reboot in 19 seconds") << Narrow(cell);
        w.Close();
    });
    EXPECT_EQ(0, result);
    EXPECT_NE(L"(no box)", boxText) << "the close is refused with a word why";
    EXPECT_EQ(boxText, secondBoxText);
    EXPECT_EQ(3, rowsBehindTheBox);
    EXPECT_TRUE(stillRunning) << "the worker is never stopped";
    EXPECT_TRUE(stillShown) << "the window stays open";
    EXPECT_EQ(0u, rebootsMeanwhile);
    EXPECT_FALSE(countdownBehindTheBox) << "the outcome is looked at once the box is answered";
    auto blocks = Recorded(L"ShutdownBlockReasonCreate");
    ASSERT_FALSE(blocks.empty());
    EXPECT_FALSE(blocks[0].details[L"reason"].empty()) << "the shutdown is held off with a reason";
    EXPECT_EQ("18", Joined(RebootFlags()));
    std::string log = ReadBytes(kLogPath);
    EXPECT_EQ(1u, Occurrences(log, ": Rebooting the computer...")) << log;
    EXPECT_EQ(0u, Occurrences(log, "Rebooting to the")) << log;
}

// ---------------------------------------------------------------------------
// The countdown, the silent run and the runs that do nothing.

TEST_F(FixSession, CountdownShowsEverySecondFromTwentyDownToOneThenReboots)
{
    g_repair.Reset({}, 0);
    g_repair.Finish();
    std::vector<std::wstring> seen;
    DWORD started = 0, hiddenAt = 0;
    int result = Run(SW_SHOWNORMAL, StandInWorker, [&](ProgressWindow& w) {
        ASSERT_TRUE(WaitUntil("the countdown", [&] { return !w.RebootCell().empty(); }));
        started = GetTickCount();
        // Every text the cell shows until the window goes, read from here
        // as the operator would see it change.
        while (IsWindowVisible(w.Window()) && GetTickCount() - started < 40000) {
            std::wstring cell = w.RebootCell();
            if (!cell.empty() && (seen.empty() || seen.back() != cell))
                seen.push_back(cell);
            Sleep(20);
        }
        hiddenAt = GetTickCount();
    });
    EXPECT_EQ(0, result);
    std::vector<std::wstring> expected;
    for (int second = 20; second >= 2; --second)
        expected.push_back(L"Reboot in " + std::to_wstring(second) + L" seconds");
    expected.push_back(L"Reboot in 1 second");
    // The 0 is set as the window goes; whether a reader still sees it is chance.
    if (seen.size() == expected.size() + 1 && seen.back() == L"Reboot in 0 seconds")
        seen.pop_back();
    EXPECT_EQ(Joined(expected), Joined(seen));
    DWORD counted = hiddenAt - started;
    EXPECT_GE(counted, 18500u) << "the window went after " << counted << " ms";
    EXPECT_LE(counted, 23000u) << "the window went after " << counted << " ms";
    EXPECT_EQ("18", Joined(RebootFlags()));
    EXPECT_EQ(1u, Occurrences(ReadBytes(kLogPath), ": Rebooting the computer..."));
}

TEST_F(FixSession, SilentRunNeverShowsAWindowNotEvenWhenAskedToCloseAndStillReboots)
{
    g_repair.Reset(kThreeRows, 1);
    std::atomic<bool> watching{true};
    std::atomic<bool> everShown{false}, boxShown{false};
    std::thread watcher([&] {
        while (watching) {
            HWND window = FindWindowW(L"Brenwick_GUI_CLASS", nullptr);
            if (window != nullptr && IsWindowVisible(window))
                everShown = true;
            if (harness::VisibleWindow(kBoxClass) != nullptr)
                boxShown = true;
            Sleep(5);
        }
    });
    int rowsSeen = 0;
    bool runningAfterClose = false;
    int result = Run(0, StandInWorker, [&](ProgressWindow& w) {
        ASSERT_TRUE(WaitUntil("the repair's rows", [&] { return w.Rows() == 3; }));
        rowsSeen = w.Rows();
        // A close asked of the hidden window: no box to show it over, and
        // the repair goes on.
        w.Close();
        queue_.RoundTrip();   // the close has been handled
        runningAfterClose = g_repair.running;
        g_repair.Finish();
        WaitUntil("the countdown", [&] { return !w.RebootCell().empty(); });
        EXPECT_TRUE(w.Shows(kSucceeded));
    }, true, 2);   // the countdown's length is the test above's
    watching = false;
    watcher.join();
    EXPECT_EQ(0, result);
    EXPECT_EQ(3, rowsSeen) << "the hidden list takes the repair's rows all the same";
    EXPECT_TRUE(runningAfterClose);
    EXPECT_FALSE(everShown) << "a silent run showed its window";
    EXPECT_FALSE(boxShown) << "a silent run showed a message box";
    EXPECT_EQ("18", Joined(RebootFlags())) << "the silent run reboots after its countdown";
    EXPECT_EQ(1u, Occurrences(ReadBytes(kLogPath), ": Rebooting to the \"mhartley\" user account..."));
}

// A worker that could not start counts as a failed repair. The system may
// then refuse the reboot (no shutdown privilege): the log and the operator
// are told, instead of the log's last word being "Rebooting".
TEST_F(FixSession, AWorkerThatCouldNotStartFailsAndARefusedRebootIsLoggedAndShown)
{
    sandbox::SetCallFailure(L"ExitWindowsEx", ERROR_PRIVILEGE_NOT_HELD);
    g_repair.Reset({}, 1);
    std::wstring boxText;
    int result = Run(SW_SHOWNORMAL, nullptr, [&](ProgressWindow& w) {
        ASSERT_TRUE(WaitUntil("the failure", [&] { return w.Shows(kFailed); }));
        EXPECT_EQ(1, w.Rows()) << "only the reboot row";
        EXPECT_EQ(L"Reboot the computer", w.Cell(0, 0));
        std::wstring cell = w.Cell(0, 1);
        EXPECT_TRUE(cell == L"Reboot in 20 seconds" || cell == L"Reboot in 19 seconds") << Narrow(cell);
        w.Close();
        boxText = w.Answer(L"OK");
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, g_repair.starts.load());
    const std::string refused = Narrow(boxText);
    EXPECT_NE(std::string::npos, refused.find("1314")) << refused << ": the operator is told the system's error";
    EXPECT_TRUE(Recorded(L"ExitWindowsEx").empty()) << "a refused reboot is no reboot";
    std::string log = ReadBytes(kLogPath);
    EXPECT_EQ(1u, Occurrences(log, ": Rebooting the computer...")) << log;
    EXPECT_EQ(1u, Occurrences(log, std::string(": ") + refused)) << log;
    EXPECT_LT(log.find("Rebooting the computer"), log.find(refused)) << log;
}

// A repair resumed after a power cut, or one that logged many failed files,
// may fill the list beyond its end: the reboot row is scrolled into view.
TEST_F(FixSession, AfterALongListTheRebootRowIsScrolledIntoView)
{
    std::vector<std::pair<std::wstring, std::wstring>> many;
    for (int i = 1; i <= 40; ++i)
        many.push_back({L"Copying folder " + std::to_wstring(i), i % 7 == 0 ? L"Failed" : L"Done"});
    g_repair.Reset(many, 1);
    int top = -1, perPage = -1, rows = -1;
    int result = Run(SW_SHOWNORMAL, StandInWorker, [&](ProgressWindow& w) {
        ASSERT_TRUE(WaitUntil("the repair's rows", [&] { return w.Rows() == 40; })) << w.Rows();
        g_repair.Finish();
        ASSERT_TRUE(WaitUntil("the success", [&] { return w.Shows(kSucceeded); }));
        rows = w.Rows();
        top = static_cast<int>(SendMessageW(w.List(), LVM_GETTOPINDEX, 0, 0));
        perPage = static_cast<int>(SendMessageW(w.List(), LVM_GETCOUNTPERPAGE, 0, 0));
        w.Close();
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(41, rows);
    EXPECT_GT(perPage, 0);
    EXPECT_LT(perPage, 40) << "the list must be too short for every row for this test to mean anything";
    EXPECT_LE(top, 40);
    EXPECT_GT(top + perPage, 40) << "top " << top << ", " << perPage << " rows a page";
}

// The start-up shortcut and a start by hand may both get past the window
// search: the run that finds the other holding the fix run's lock leaves
// the repair, the window and the computer alone, and logs why. A name in
// the global namespace, which any user can take first, blocks nothing.
TEST_F(FixSession, ASecondFixRunEndsWithoutTouchingAnything)
{
    for (bool otherRun : {true, false}) {
        SCOPED_TRACE(otherRun ? "the lock held by another run" : "a global mutex a user made first");
        DeleteFileW(kLogPath);
        UniqueHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::thread first([&] {
            UniqueHandle taken(otherRun ? CreateFileW((std::wstring(L"C:\\Brenwick") + kFixRunLockName).c_str(),
                                                      GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr)
                                        : CreateMutexW(nullptr, TRUE, L"Global\\BrenwickFixRun"));
            SetEvent(held.Get());
            WaitForSingleObject(release.Get(), 90000);
        });
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held.Get(), 10000));
        sandbox::ClearRecord();
        g_repair.Reset(kThreeRows, 1);
        g_repair.Finish();
        int result = Run(SW_SHOWNORMAL, StandInWorker, [&](ProgressWindow& w) {
            if (!otherRun && WaitUntil("the countdown", [&] { return !w.RebootCell().empty(); }))
                w.Close();
        });
        SetEvent(release.Get());
        first.join();
        EXPECT_EQ(0, result);
        EXPECT_EQ(otherRun ? 0 : 1, g_repair.starts.load());
        EXPECT_EQ(otherRun, Recorded(L"ExitWindowsEx").empty());
        std::string log = ReadBytes(kLogPath);
        EXPECT_EQ(otherRun ? 1u : 0u,
                  Occurrences(log, ": Another fix run is already under way; this start ended without doing anything."))
            << log;
    }
}

TEST_F(FixSession, OutsideTheTemporaryAccountNothingIsDone)
{
    g_repair.Reset(kThreeRows, 1);
    g_repair.Finish();
    bool shown = true;
    std::wstring caption;
    int result = Run(
        SW_SHOWNORMAL, StandInWorker,
        [&](ProgressWindow& w) {
            WaitUntil("the run to return", [&] { return returned_.load(); });
            shown = IsWindowVisible(w.Window()) != FALSE;
            caption = harness::TextOf(w.Window());
        },
        false);
    EXPECT_EQ(0, result);
    EXPECT_FALSE(shown);
    EXPECT_EQ(L"Brenwick", caption);
    EXPECT_EQ(0, g_repair.starts.load());
    EXPECT_TRUE(Recorded(L"ExitWindowsEx").empty());
    EXPECT_FALSE(std::filesystem::exists(kLogPath)) << ReadBytes(kLogPath);
}

}  // namespace
