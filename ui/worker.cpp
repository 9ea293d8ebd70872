// The waiting loop behind a dialog whose work runs on another thread.
#include "ui/worker.h"

#include "platform/handles.h"
#include "platform/machine.h"
#include "ui/dialog.h"
#include "ui/dialog_owner.h"
#include "ui/window.h"

namespace {

// The session end that reached a window's record is answered with a refusal
// and consumed: nobody may take it for a close while the work goes on.
void RefuseEndOfSession(UiWindow* window)
{
    if (window == nullptr)
        return;
    UiEvent& event = window->Event();
    if (event.pending && event.code == EventCode::EndSession) {
        event.pending = false;
        machine::AbortSystemShutdownW(nullptr);
    }
}

// One message (or a pending event) through the filter the dialogs use; the
// end of the session arrives here already refused, the owner being busy.
int32_t NextWorkerEvent(const WorkerWatch& watch)
{
    UiWindow& window = *watch.window;
    if (watch.owner != nullptr)
        return FilterDialogEvent(*watch.owner, window, PumpMode::IfAny);
    int32_t event = PumpEvents(window, PumpMode::IfAny);
    if (event == EventCode::EndSession) {
        machine::AbortSystemShutdownW(nullptr);
        return EventCode::None;
    }
    return event;
}

// With a text: ShutdownBlockReasonCreate(window, text); with null:
// ShutdownBlockReasonDestroy(window). Both are looked up in User32.dll at
// each call (older systems lack them); false when missing or refused.
bool SetShutdownBlockReason(HWND window, const wchar_t* text)
{
    UniqueLibrary user(LoadLibraryW(L"User32.dll"));
    if (!user)
        return false;
    if (text != nullptr) {
        auto create = machine::AsFunction<machine::ShutdownBlockReasonCreateFunction>(
            machine::GetProcAddress(user.Get(), "ShutdownBlockReasonCreate"));
        return create != nullptr && create(window, text) != FALSE;
    }
    auto destroy = machine::AsFunction<machine::ShutdownBlockReasonDestroyFunction>(
        machine::GetProcAddress(user.Get(), "ShutdownBlockReasonDestroy"));
    return destroy != nullptr && destroy(window) != FALSE;
}

}  // namespace

DialogOwner::BusyScope::BusyScope(DialogOwner* owner, const wchar_t* blockReason) : owner_(owner)
{
    if (owner_ == nullptr)
        return;
    ++owner_->busy_;
    HWND window = owner_->OwnerWindow().Handle();
    if (blockReason != nullptr && owner_->blocked_ == nullptr && window != nullptr &&
        SetShutdownBlockReason(window, blockReason))
        owner_->blocked_ = window;
}

DialogOwner::BusyScope::~BusyScope()
{
    if (owner_ == nullptr || --owner_->busy_ != 0 || owner_->blocked_ == nullptr)
        return;
    SetShutdownBlockReason(owner_->blocked_, nullptr);
    owner_->blocked_ = nullptr;
}

bool RunWorker(LPTHREAD_START_ROUTINE routine, void* parameter, const WorkerWatch& watch, DWORD* result)
{
    UniqueHandle thread(CreateThread(nullptr, 0, routine, parameter, 0, nullptr));
    if (!thread)
        return false;
    HANDLE worker = thread.Get();

    UiWindow* main = watch.owner != nullptr ? &watch.owner->OwnerWindow() : watch.window;
    DialogOwner::BusyScope busy(watch.owner);

    if (watch.window == nullptr || watch.window->Handle() == nullptr) {
        WaitForSingleObject(worker, INFINITE);
    } else {
        for (;;) {
            // Input already seen but not yet handled counts too, or the wait
            // would sleep over the second of two waiting messages.
            DWORD woken = MsgWaitForMultipleObjectsEx(1, &worker, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (woken == WAIT_OBJECT_0)
                break;
            if (woken != WAIT_OBJECT_0 + 1) {
                WaitForSingleObject(worker, INFINITE);   // never leave before the worker has
                break;
            }
            int32_t event = NextWorkerEvent(watch);
            if (main != watch.window)
                RefuseEndOfSession(main);   // the system asks every window
            if (watch.onEvent)
                watch.onEvent(event);
        }
    }

    DWORD code = 0;
    GetExitCodeThread(worker, &code);
    *result = code;
    return true;
}
