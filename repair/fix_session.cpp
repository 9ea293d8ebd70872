#include "repair/fix_session.h"

#include <windows.h>
#include <commctrl.h>

#include "platform/handles.h"
#include "platform/machine.h"
#include "repair/fix_rules.h"
#include "repair/repair_log.h"
#include "repair/repair_run.h"
#include "repair/repair_tool.h"
#include "ui/drawing.h"
#include "ui/message_box.h"

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

// The fix run's mutex, owned while this lives.
class FixRunLock {
public:
    FixRunLock() : mutex_(CreateMutexW(nullptr, FALSE, kFixRunMutexName))
    {
        DWORD waited = mutex_ ? WaitForSingleObject(mutex_.Get(), 0) : WAIT_FAILED;
        // Abandoned: a run that ended without letting go (it crashed, or its
        // process was ended); the repair's journal says where it stood.
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~FixRunLock()
    {
        if (held_)
            ReleaseMutex(mutex_.Get());
    }
    FixRunLock(const FixRunLock&) = delete;
    FixRunLock& operator=(const FixRunLock&) = delete;
    bool Held() const { return held_; }

private:
    UniqueHandle mutex_;
    bool held_ = false;
};

struct FixSession {
    explicit FixSession(RepairTool& owner) : tool(owner) {}

    RepairTool& tool;
    int32_t picture = 0;
    int32_t status = 0;
    UniqueHandle worker;               // empty when the worker could not start or has ended
    FixPhase phase = FixPhase::Repairing;
    int64_t frequency = 0;             // counts a second; 0 when there is no performance counter
    int64_t startMs = 0;
    int32_t shownSeconds = kRebootCountdownSeconds;
    int rebootRow = -1;
};

HWND Handle(RepairTool& tool, int32_t id)
{
    const ControlEntry* control = tool.Control(id);
    return control != nullptr ? control->handle : nullptr;
}

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

    UniqueImage blank = NewBitmap(kPictureSize, kPictureSize);
    UniqueBitmap backdrop = blank ? ToGdiBitmap(blank.Get(), kWindowBackgroundArgb) : UniqueBitmap();
    session.picture = tool.AddPicture(backdrop.Release(), kPictureX, kPictureY, kPictureSize, kPictureSize, -1);
    if (HWND picture = Handle(tool, session.picture))
        StartSpinner(picture, kPictureSize, kSpinnerColour, 70, kSpinnerBackground);
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
}

void SetRebootCell(FixSession& session, const wchar_t* text)
{
    SetListCellText(Handle(session.tool, session.tool.progressList), session.rebootRow, 1, text);
}

// The worker has ended (or never started): the outcome, the tick and the
// start of the countdown.
void BeginCountdown(FixSession& session, DWORD exitCode)
{
    RepairTool& tool = session.tool;
    WString first = CountdownText(kRebootCountdownSeconds);
    WString row(L"Reboot the computer\n");
    row.Append(first.Text());
    session.rebootRow = tool.AddListItem(tool.progressList, row.Text(), L"\n");
    // After a long repair the row may lie below the list's end.
    if (HWND list = Handle(tool, tool.progressList); list != nullptr && session.rebootRow >= 0)
        SendMessageW(list, LVM_ENSUREVISIBLE, session.rebootRow, FALSE);

    session.phase = PhaseAfterWorker(exitCode);
    tool.DrainEvents(true);
    tool.SetText(session.status, FixOutcomeText(session.phase));

    // Deleting the picture ends its spinner's thread.
    tool.DeleteControl(session.picture);
    UniqueBitmap tick = DrawCheckImage(true, kPictureSize);
    session.picture = tool.AddPicture(tick.Release(), kPictureX, kPictureY, kPictureSize, kPictureSize, -1);
    // The window does not clip its children: its repaint of the place the
    // ring left would cover the new picture, so both are painted now, in order.
    RECT place{kPictureX, kPictureY, kPictureX + kPictureSize, kPictureY + kPictureSize};
    RedrawWindow(tool.Handle(), &place, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);

    session.startMs = NowMs(session);
    session.shownSeconds = kRebootCountdownSeconds;
    StartWakeUps(tool.Handle());
    session.worker.Reset();
    // A hidden window stays hidden: a silent run shows nothing.
    if (IsWindowVisible(tool.Handle()))
        BringWindowToTop(tool.Handle());
}

// True once the worker has ended; `exitCode` then holds its result, 0 when
// it never started or its result cannot be read.
bool WorkerEnded(const FixSession& session, DWORD* exitCode)
{
    *exitCode = 0;
    if (!session.worker)
        return true;
    // Waiting rather than reading STILL_ACTIVE: a routine may end with 259 too.
    if (WaitForSingleObject(session.worker.Get(), 0) == WAIT_TIMEOUT)
        return false;
    DWORD code = 0;
    if (GetExitCodeThread(session.worker.Get(), &code))
        *exitCode = code;
    return true;
}

void CheckWorker(FixSession& session)
{
    DWORD exitCode = 0;
    if (WorkerEnded(session, &exitCode))
        BeginCountdown(session, exitCode);
}

// False once the countdown has run out.
bool CountDown(FixSession& session)
{
    int32_t remaining = CountdownRemaining(NowMs(session) - session.startMs);
    if (remaining != session.shownSeconds) {
        session.shownSeconds = remaining;
        WString text = CountdownText(remaining);
        SetRebootCell(session, text.Text());
    }
    return remaining >= 1;
}

void RunLoop(FixSession& session)
{
    RepairTool& tool = session.tool;
    for (;;) {
        tool.NextRepairEvent(2);
        bool close = tool.LastEvent() == EventCode::Close;
        switch (NextFixStep(session.phase, close)) {
        case FixStep::RefuseThenCheck:
            // A silent run has no window to explain itself over; the repair
            // goes on either way.
            if (IsWindowVisible(tool.Handle()))
                PlainMessageBox(&tool, kCannotStop, 0, 200, 450);
            CheckWorker(session);
            break;
        case FixStep::CheckWorker:
            CheckWorker(session);
            break;
        case FixStep::Countdown:
            if (!CountDown(session))
                return;
            break;
        case FixStep::RebootNow:
            return;
        }
    }
}

}  // namespace

int RunFixSessionWith(RepairTool& tool, int showCommand, LPTHREAD_START_ROUTINE worker)
{
    if (!tool.inTempAccount)
        return 0;
    FixRunLock lock;
    if (!lock.Held()) {
        tool.WriteLogEntry(L"Another fix run is already under way; this start ended without doing anything.", 0);
        return 0;
    }
    // The computer must not sleep in the middle of the repair.
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);

    FixSession session{tool};
    BuildWindow(session);
    ShowWindow(tool.Handle(), showCommand);
    UpdateWindow(tool.Handle());
    tool.DrainEvents(true);

    if (worker != nullptr)
        session.worker.Reset(CreateThread(nullptr, 0, worker, &tool, 0, nullptr));
    LARGE_INTEGER frequency{};
    if (QueryPerformanceFrequency(&frequency))
        session.frequency = frequency.QuadPart;

    RunLoop(session);

    ShowWindow(tool.Handle(), SW_HIDE);
    UpdateWindow(tool.Handle());
    tool.DrainEvents(false);
    WString reboot = RebootLogText(session.phase, tool.fixAccount.Text());
    tool.WriteLogEntry(reboot.Text(), 0);
    if (!machine::ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, 0)) {
        // The log said the computer reboots: it must not be left believing so.
        WString refused = RebootRefusedText(GetLastError());
        tool.WriteLogEntry(refused.Text(), 0);
        if (showCommand != 0)
            PlainMessageBox(&tool, refused.Text(), 0, 200, 450);
    }
    session.worker.Reset();
    SetThreadExecutionState(ES_CONTINUOUS);
    return 0;
}

int RunFixSession(RepairTool& tool, int showCommand)
{
    return RunFixSessionWith(tool, showCommand, RunRepair);
}
