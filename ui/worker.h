// Long work on a thread of its own while the window's thread keeps the
// program's windows alive: one waiting loop for every such job.
//
//     WorkerWatch watch;
//     watch.owner = &owner;                 // the header and the session end behave as in any dialog
//     watch.window = &dialog;               // its events are read; any window of the thread repaints
//     watch.onEvent = [&](int32_t event) { ShowProgress(...); };   // optional
//     DWORD result = 0;
//     if (!RunWorker(MoveThread, &job, watch, &result))
//         ...                               // no thread: nothing ran
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

class DialogOwner;
class UiWindow;

struct WorkerWatch {
    // The owner whose common event filter reads the events (its header
    // stays usable); null reads `window` alone.
    DialogOwner* owner = nullptr;                  // not owned
    // The window whose events are read; null only waits, handling nothing.
    UiWindow* window = nullptr;                    // not owned
    // Called on the window's thread after each message handled, with the
    // event it raised (0 for none, the end of the session never): progress
    // posted by the worker, timers, the operator's clicks.
    std::function<void(int32_t event)> onEvent;
};

// Runs `routine(parameter)` on a thread of its own and returns once that
// thread has ended, never before: `parameter` may live in the caller's
// frame. Meanwhile the thread's messages are handled and the end of the
// session is refused. True with the routine's result in `result`; false
// when no thread could be started (nothing ran, `result` untouched).
bool RunWorker(LPTHREAD_START_ROUTINE routine, void* parameter, const WorkerWatch& watch, DWORD* result);
