// The account list's pictures, read, decoded and scaled on a worker thread so
// that the list shows at once with the default icon and each row's picture
// arrives soon after it is ready (in batches at most 40 ms apart, so that
// the list repaints once for many rows). Pictures reach the window's thread through
// a message-only window of the loader's own; only that thread touches the
// list. A new run (a refresh) or the loader's end stops the old worker first,
// and anything it still had on its way is released unseen, so no picture of
// an old run lands on a row of a new one.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/handles.h"

class RowPictureLoader {
public:
    // Runs on the window's thread for every picture that arrives: the row
    // the account had when the run started, its name, and the picture,
    // `pictureSize` pixels square (the callee keeps or releases it).
    using Deliver = std::function<void(int row, const std::wstring& accountName, UniqueBitmap picture)>;

    // Runs on the window's thread after the pictures of one batch were delivered.
    using BatchDone = std::function<void()>;

    // Created on the window's thread. The worker reads nothing before
    // AllowReading(), so that reading pictures never competes with filling
    // and drawing the window for the first time.
    RowPictureLoader(Deliver deliver, double osVersion, BatchDone batchDone = nullptr, int pictureSize = 48);
    ~RowPictureLoader();
    RowPictureLoader(const RowPictureLoader&) = delete;
    RowPictureLoader& operator=(const RowPictureLoader&) = delete;

    // Stops a run in progress and starts one over `names`, one per row in
    // row order. False when the worker could not start.
    bool Start(std::vector<std::wstring> names);
    // Stops the worker and drops everything it has not yet delivered.
    void Stop();
    // From now on (and for every later run) the worker reads at once.
    void AllowReading();
    // The account's picture was set by other means meanwhile: a picture
    // read before that must not replace it.
    void Skip(const std::wstring& accountName);

    // Pictures of the current run not yet delivered; 0 when it is done.
    size_t Pending() const { return pending_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI Worker(void* self);
    void Run(uint32_t generation);
    void Arrived(WPARAM generation, LPARAM arrival);
    void Drain();

    Deliver deliver_;
    BatchDone batchDone_;
    double osVersion_;
    int pictureSize_;
    UniqueHandle allowed_;              // manual-reset event
    UniqueWindow receiver_;             // message-only, on the window's thread
    UniqueHandle thread_;
    std::atomic<bool> stop_{false};
    uint32_t generation_ = 0;           // written only while no worker runs
    std::vector<std::wstring> names_;   // read by the worker, written only while none runs
    std::set<std::wstring> skipped_;    // window's thread only
    size_t pending_ = 0;                // window's thread only
};
