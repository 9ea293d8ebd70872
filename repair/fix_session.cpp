#include "repair/fix_session.h"

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/handles.h"
#include "platform/file_handles.h"
#include "platform/machine.h"
#include "platform/security.h"
#include "repair/fix_rules.h"
#include "repair/repair_log.h"
#include "repair/repair_run.h"
#include "repair/repair_tool.h"
#include "ui/drawing.h"
#include "ui/message_box.h"
#include "ui/worker.h"

namespace {

constexpr int kPictureX = 20;
constexpr int kPictureY = 90;
constexpr int kPictureSize = 48;
constexpr int kOperationWidth = 440;
constexpr int kResultWidth = 200;
// The ring is drawn in the header's black: a white one would vanish on the
// window's white body. It turns on that body's colour, given rather than
// read from the screen: the spinner starts before the window is first
// painted, and would keep what the screen showed there before.
constexpr Gdiplus::ARGB kSpinnerColour = 0xFF000000;
constexpr int32_t kSpinnerBackground = RGB(kWindowBackgroundArgb >> 16 & 0xFF, kWindowBackgroundArgb >> 8 & 0xFF,
                                           kWindowBackgroundArgb & 0xFF);
constexpr wchar_t kCannotStop[] =
    L"We can not stop the repair operation at this point, or you may loose important data.\r\n\r\nPlease be "
    L"patient.";

// The fix run's lock: a file in the tool folder held open without sharing,
// which only SYSTEM and the Administrators may open at all. A name in the
// global namespace anyone can create first; this file nobody else can.
// It goes with the handle, however the run ends.
class FixRunLock {
public:
    explicit FixRunLock(const wchar_t* toolFolder)
    {
        WString path(toolFolder);
        path.Append(kFixRunLockName);
        LocalAcl dacl;
        LocalSid administrators, system;
        PACL acl = nullptr;
        SECURITY_DESCRIPTOR descriptor{};
        if (!NewAcl(dacl) || !WellKnownSid(administrators, WinBuiltinAdministratorsSid) ||
            !WellKnownSid(system, WinLocalSystemSid) || (acl = dacl.Get()) == nullptr ||
            !AddAllowedAce(&acl, system.Get(), GENERIC_ALL, 0) || !AddAllowedAce(&acl, administrators.Get(), GENERIC_ALL, 0) ||
            !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
            !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return;
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
        file_.Reset(CreateFileW(path.Text(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, &attributes, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
        // One a power cut left behind keeps the DACL it was made with; a
        // link in its place is not a lock.
        BY_HANDLE_FILE_INFORMATION info{};
        if (file_ && (!GetFileInformationByHandle(file_.Get(), &info) ||
                      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
            file_.Reset();
    }
    FixRunLock(const FixRunLock&) = delete;
    FixRunLock& operator=(const FixRunLock&) = delete;
    bool Held() const { return static_cast<bool>(file_); }

private:
    UniqueFileHandle file_;
};

// More rows than a repair could ever report: a number past it is a fault.
constexpr size_t kMostReportRows = 1000;

// Wakes the fix run's loop: a report of the repair is waiting.
constexpr UINT kRepairReportMessage = WM_APP + 21;

// One thing the repair reported: a row's texts, or a wish for attention
// (a row of -1).
struct FixReport {
    int row = -1;
    std::wstring operation;
    std::wstring result;
};

// The repair's reports, kept for the window's thread. The repair's thread
// only queues them and posts a wake-up: it never touches the window.
class PostedProgress : public RepairProgress {
public:
    explicit PostedProgress(HWND window) : window_(window) {}
    PostedProgress(const PostedProgress&) = delete;
    PostedProgress& operator=(const PostedProgress&) = delete;

    void ShowRow(int row, const wchar_t* operation, const wchar_t* result) override
    {
        Queue(FixReport{row < 0 ? 0 : row, operation != nullptr ? operation : L"", result != nullptr ? result : L""});
    }
    void StepCompleted(RepairStep) override {}
    void WantsAttention() override { Queue(FixReport{}); }

    // Everything queued so far, oldest first; called on the window's thread.
    std::vector<FixReport> Take()
    {
        std::vector<FixReport> taken;
        AcquireSRWLockExclusive(&lock_);
        taken.swap(waiting_);
        ReleaseSRWLockExclusive(&lock_);
        return taken;
    }

private:
    void Queue(FixReport report)
    {
        AcquireSRWLockExclusive(&lock_);
        waiting_.push_back(std::move(report));
        ReleaseSRWLockExclusive(&lock_);
        PostMessageW(window_, kRepairReportMessage, 0, 0);
    }

    HWND window_;   // not owned
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<FixReport> waiting_;
};

// What the worker thread starts from; lives until the worker has ended.
struct WorkerStart {
    RepairWorker worker = nullptr;
    RepairInput input;
    RepairProgress* progress = nullptr;   // not owned
};

DWORD WINAPI RepairThread(void* parameter)
{
    const auto* start = static_cast<const WorkerStart*>(parameter);
    return start->worker(start->input, start->progress);
}

struct FixSession {
    explicit FixSession(RepairTool& owner) : tool(owner), progress(owner.Handle()) {}

    RepairTool& tool;
    PostedProgress progress;
    WorkerStart start;
    std::vector<int> listRows;         // the list's row of each reported row, -1 until shown
    int32_t picture = 0;
    int32_t status = 0;
    FixPhase phase = FixPhase::Repairing;
    int64_t frequency = 0;             // counts a second; 0 when there is no performance counter
    int64_t startMs = 0;
    int32_t countdownSeconds = kRebootCountdownSeconds;
    int32_t shownSeconds = kRebootCountdownSeconds;
    int rebootRow = -1;
};

// Milliseconds on the performance counter, or on the tick count where a
// machine has no such counter.
int64_t NowMs(const FixSession& session)
{
    LARGE_INTEGER counter{};
    if (session.frequency > 0 && QueryPerformanceCounter(&counter))
        return CounterMilliseconds(counter.QuadPart, session.frequency);
    return static_cast<int64_t>(GetTickCount64());
}

void BuildWindow(FixSession& session)
{
    RepairTool& tool = session.tool;
    WString caption(tool.title);
    caption.Append(L" - Fix User Profile");
    tool.SetText(tool.headerLabel, caption.Text());
    SetWindowTextW(tool.Handle(), caption.Text());

    UniqueImage blank = NewCanvas(kPictureSize, kPictureSize, tool.Dpi());
    UniqueBitmap backdrop = blank ? ToGdiBitmap(blank.Get(), kWindowBackgroundArgb) : UniqueBitmap();
    session.picture = tool.AddPicture(backdrop.Release(), kPictureX, kPictureY, kPictureSize, kPictureSize, -1);
    if (HWND picture = tool.ControlHandle(session.picture))
        StartSpinner(picture, tool.Scale(kPictureSize), kSpinnerColour, 70, kSpinnerBackground);
    tool.WriteLogEntry(L"Successfully logged in to the temporary account.", 0);

    WString fixing = FixingStatusText(tool.fixAccount.Text());
    session.status = tool.AddLabel(fixing.Text(), 85, 105, 605, 20, -1);
    tool.SetFont(session.status, 12.0, 800, 0, L"Arial");

    tool.SetFont(0, 9.0, 800, 0, L"Arial");
    tool.progressList = tool.AddListView(L" Operation| Result", 20, 150, 660, 340,
                                         WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER,
                                         LVS_EX_DOUBLEBUFFER | LVS_EX_FULLROWSELECT);
    tool.SetColumnWidth(tool.progressList, 0, kOperationWidth);
    tool.SetColumnWidth(tool.progressList, 1, kResultWidth);
    tool.NameList(tool.progressList, L"Operations");
}

void SetResultCell(FixSession& session, int row, const wchar_t* text)
{
    SetListCellText(session.tool.ControlHandle(session.tool.progressList), row, 1, text);
}

// The repair's reports become rows of the list, here on the window's thread.
void ShowReports(FixSession& session)
{
    RepairTool& tool = session.tool;
    for (const FixReport& report : session.progress.Take()) {
        if (report.row < 0) {
            if (tool.Handle() != nullptr)
                BringWindowToTop(tool.Handle());
            continue;
        }
        const auto row = static_cast<size_t>(report.row);
        if (row >= kMostReportRows)
            continue;
        if (row >= session.listRows.size())
            session.listRows.resize(row + 1, -1);
        if (session.listRows[row] >= 0) {
            SetResultCell(session, session.listRows[row], report.result.c_str());
            continue;
        }
        std::wstring text = report.operation + L"\n" + report.result;
        session.listRows[row] = tool.AddListItem(tool.progressList, text.c_str(), L"\n");
    }
}

// The worker has ended (or never started): the outcome, the tick and the
// start of the countdown.
void BeginCountdown(FixSession& session, DWORD exitCode)
{
    RepairTool& tool = session.tool;
    WString first = CountdownText(session.countdownSeconds);
    WString row(L"Reboot the computer\n");
    row.Append(first.Text());
    session.rebootRow = tool.AddListItem(tool.progressList, row.Text(), L"\n");
    // After a long repair the row may lie below the list's end.
    if (HWND list = tool.ControlHandle(tool.progressList); list != nullptr && session.rebootRow >= 0)
        SendMessageW(list, LVM_ENSUREVISIBLE, session.rebootRow, FALSE);

    session.phase = PhaseAfterWorker(exitCode);
    DrainWaitingEvents(tool);
    tool.SetText(session.status, FixOutcomeText(session.phase));

    // Deleting the picture ends its spinner's thread.
    tool.DeleteControl(session.picture);
    UniqueBitmap tick = DrawCheckImage(true, tool.Scale(kPictureSize));
    session.picture = tool.AddPicture(tick.Release(), kPictureX, kPictureY, kPictureSize, kPictureSize, -1);
    // The window does not clip its children: its repaint of the place the
    // ring left would cover the new picture, so both are painted now, in order.
    RECT place{tool.Scale(kPictureX), tool.Scale(kPictureY), tool.Scale(kPictureX + kPictureSize),
               tool.Scale(kPictureY + kPictureSize)};
    RedrawWindow(tool.Handle(), &place, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);

    session.startMs = NowMs(session);
    session.shownSeconds = session.countdownSeconds;
    // A hidden window stays hidden: a silent run shows nothing.
    if (IsWindowVisible(tool.Handle()))
        BringWindowToTop(tool.Handle());
}

// False once the countdown has run out.
bool CountDown(FixSession& session)
{
    int32_t remaining = CountdownRemaining(NowMs(session) - session.startMs, session.countdownSeconds);
    if (remaining != session.shownSeconds) {
        session.shownSeconds = remaining;
        WString text = CountdownText(remaining);
        SetResultCell(session, session.rebootRow, text.Text());
    }
    return remaining >= 1;
}

// The reports become rows as soon as their wake-up arrives, also while a
// box runs its own loop over the window.
constexpr UINT_PTR kReportSubclass = 21;

LRESULT CALLBACK ReportProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR session)
{
    if (message == kRepairReportMessage) {
        ShowReports(*reinterpret_cast<FixSession*>(session));
        return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// The repair on its own thread behind the window: its reports become rows
// and a close is answered with the box that says it cannot be stopped. The
// worker's result, 0 when it could not start.
DWORD RunRepairBehindWindow(FixSession& session, RepairWorker worker)
{
    RepairTool& tool = session.tool;
    if (worker == nullptr)
        return 0;
    session.start.worker = worker;
    session.start.input = RepairInputOf(tool);
    session.start.progress = &session.progress;
    WorkerWatch watch;
    watch.owner = &tool;
    watch.window = &tool;
    // The tool holds its block reason for the whole run (RunFixSession).
    watch.onEvent = [&session, &tool](int32_t event) {
        ShowReports(session);
        // A silent run has no window to explain itself over; the repair
        // goes on either way.
        if (NextFixStep(FixPhase::Repairing, event == EventCode::Close) == FixStep::RefuseThenCheck &&
            IsWindowVisible(tool.Handle()))
            PlainMessageBox(tool, kCannotStop, 0, 200, 450);
    };
    DWORD result = 0;
    if (!RunWorker(RepairThread, &session.start, watch, &result))
        return 0;
    ShowReports(session);
    return result;
}

// Until the next whole second of the countdown.
DWORD UntilNextSecond(const FixSession& session)
{
    int64_t elapsed = NowMs(session) - session.startMs;
    int64_t toNextSecond = 1000 - (elapsed < 0 ? 0 : elapsed % 1000);
    return static_cast<DWORD>(toNextSecond < 1 ? 1 : toNextSecond);
}

// The countdown: each second shown, a close reboots at once.
void CountDownToReboot(FixSession& session)
{
    RepairTool& tool = session.tool;
    for (;;) {
        tool.WaitRepairEvent(UntilNextSecond(session));
        switch (NextFixStep(session.phase, tool.LastEvent() == EventCode::Close)) {
        case FixStep::Countdown:
            if (!CountDown(session))
                return;
            break;
        case FixStep::RebootNow:
        case FixStep::RefuseThenCheck:
        case FixStep::CheckWorker:
            return;
        }
    }
}

}  // namespace

RepairInput RepairInputOf(const RepairTool& tool)
{
    RepairInput input;
    static_cast<RepairSite&>(input) = tool.site;
    input.account = tool.fixAccount.Text();
    // The switch is read from a shortcut's command line: a bit this program
    // does not know is not acted on.
    input.fixFlags = tool.fixFlags & FixFlags::All;
    return input;
}

int RunFixSessionWith(RepairTool& tool, int showCommand, RepairWorker worker, int32_t countdownSeconds)
{
    if (!tool.inTempAccount)
        return 0;
    FixRunLock lock(tool.site.toolFolder.c_str());
    if (!lock.Held()) {
        tool.WriteLogEntry(L"Another fix run is already under way; this start ended without doing anything.", 0);
        return 0;
    }
    // The computer must not sleep in the middle of the repair.
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);

    FixSession session{tool};
    session.countdownSeconds = countdownSeconds;
    // Every event step of this window refuses the end of the session.
    DialogOwner::BusyScope busy(&tool, kBrenwickBlockReason);
    BuildWindow(session);
    SetWindowSubclass(tool.Handle(), ReportProcedure, kReportSubclass, reinterpret_cast<DWORD_PTR>(&session));
    ShowWindow(tool.Handle(), showCommand);
    UpdateWindow(tool.Handle());
    DrainWaitingEvents(tool);

    LARGE_INTEGER frequency{};
    if (QueryPerformanceFrequency(&frequency))
        session.frequency = frequency.QuadPart;

    BeginCountdown(session, RunRepairBehindWindow(session, worker));
    CountDownToReboot(session);

    ShowWindow(tool.Handle(), SW_HIDE);
    UpdateWindow(tool.Handle());
    DrainWaitingEvents(tool);
    WString reboot = RebootLogText(session.phase, tool.fixAccount.Text());
    tool.WriteLogEntry(reboot.Text(), 0);
    if (!machine::ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, 0)) {
        // The log said the computer reboots: it must not be left believing so.
        WString refused = RebootRefusedText(GetLastError());
        tool.WriteLogEntry(refused.Text(), 0);
        if (showCommand != 0)
            PlainMessageBox(tool, refused.Text(), 0, 200, 450);
    }
    RemoveWindowSubclass(tool.Handle(), ReportProcedure, kReportSubclass);
    SetThreadExecutionState(ES_CONTINUOUS);
    return 0;
}

int RunFixSession(RepairTool& tool, int showCommand)
{
    return RunFixSessionWith(tool, showCommand, RunRepair);
}
