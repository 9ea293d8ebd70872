#include "accounts/row_pictures.h"

#include <objbase.h>

#include <memory>
#include <new>

#include "accounts/pictures.h"
#include "platform/text.h"

namespace {

constexpr wchar_t kReceiverClass[] = L"Vantrell_RowPictures";
constexpr UINT kPictureArrived = WM_APP + 17;
constexpr DWORD kAllowedPoll = 20;   // how soon a stop is seen while waiting
// Pictures travel in batches, at most this far apart: fewer messages and one
// repaint of the list for many rows instead of one per row.
constexpr DWORD kBatchInterval = 40;

// One picture on its way from the worker to the window's thread.
struct Arrival {
    int row = 0;
    std::wstring name;
    UniqueBitmap picture;
};
using ArrivalBatch = std::vector<Arrival>;

bool RegisterReceiverClass(HINSTANCE module, WNDPROC procedure)
{
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(module, kReceiverClass, &existing))
        return true;
    WNDCLASSEXW type{};
    type.cbSize = sizeof(type);
    type.lpfnWndProc = procedure;
    type.hInstance = module;
    type.lpszClassName = kReceiverClass;
    return RegisterClassExW(&type) != 0;
}

}  // namespace

RowPictureLoader::RowPictureLoader(Deliver deliver, double osVersion, BatchDone batchDone, int pictureSize)
    : deliver_(std::move(deliver)),
      batchDone_(std::move(batchDone)),
      osVersion_(osVersion),
      pictureSize_(pictureSize),
      allowed_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    HINSTANCE module = GetModuleHandleW(nullptr);
    if (!RegisterReceiverClass(module, Procedure))
        return;
    receiver_.Reset(CreateWindowExW(0, kReceiverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr));
    if (receiver_)
        SetWindowLongPtrW(receiver_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

RowPictureLoader::~RowPictureLoader()
{
    Stop();
    if (receiver_)
        SetWindowLongPtrW(receiver_.Get(), GWLP_USERDATA, 0);
}

bool RowPictureLoader::Start(std::vector<std::wstring> names)
{
    Stop();
    if (!receiver_)
        return false;
    names_ = std::move(names);
    skipped_.clear();
    ++generation_;
    pending_ = names_.size();
    if (names_.empty())
        return true;
    stop_ = false;
    thread_.Reset(CreateThread(nullptr, 0, Worker, this, 0, nullptr));
    if (!thread_) {
        pending_ = 0;
        return false;
    }
    return true;
}

void RowPictureLoader::Stop()
{
    if (thread_) {
        stop_ = true;
        // The worker checks between two accounts; one account takes milliseconds.
        WaitForSingleObject(thread_.Get(), INFINITE);
        thread_.Reset();
    }
    Drain();
    pending_ = 0;
    // Whatever a stopped run still sends carries an old generation.
    ++generation_;
}

void RowPictureLoader::AllowReading()
{
    if (allowed_)
        SetEvent(allowed_.Get());
}

void RowPictureLoader::Skip(const std::wstring& accountName) { skipped_.insert(accountName); }

void RowPictureLoader::Drain()
{
    if (!receiver_)
        return;
    MSG message;
    while (PeekMessageW(&message, receiver_.Get(), kPictureArrived, kPictureArrived, PM_REMOVE))
        std::unique_ptr<ArrivalBatch> dropped(reinterpret_cast<ArrivalBatch*>(message.lParam));
}

DWORD WINAPI RowPictureLoader::Worker(void* self)
{
    auto* loader = static_cast<RowPictureLoader*>(self);
    // The decoders may create COM objects of their own.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        loader->Run(loader->generation_);
    } catch (...) {
        // Out of memory: the rows keep the default icon.
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}

void RowPictureLoader::Run(uint32_t generation)
{
    while (!stop_ && allowed_ && WaitForSingleObject(allowed_.Get(), kAllowedPoll) == WAIT_TIMEOUT) {
    }
    std::unique_ptr<ArrivalBatch> batch;
    DWORD sent = GetTickCount();
    for (size_t row = 0; row < names_.size() && !stop_; ++row) {
        if (!batch)
            batch.reset(new (std::nothrow) ArrivalBatch);
        if (!batch)
            return;
        Arrival arrival;
        arrival.row = static_cast<int>(row);
        arrival.name = names_[row];
        arrival.picture = LoadAccountPictureBitmap(arrival.name.c_str(), osVersion_, pictureSize_);
        batch->push_back(std::move(arrival));
        const bool last = row + 1 == names_.size();
        if (!last && GetTickCount() - sent < kBatchInterval)
            continue;
        // Failing to post means the receiver is gone: the batch is released here.
        if (PostMessageW(receiver_.Get(), kPictureArrived, generation, reinterpret_cast<LPARAM>(batch.get())))
            batch.release();
        batch.reset();
        sent = GetTickCount();
    }
}

LRESULT CALLBACK RowPictureLoader::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kPictureArrived) {
        auto* loader = reinterpret_cast<RowPictureLoader*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (loader != nullptr) {
            try {
                loader->Arrived(wParam, lParam);
            } catch (...) {
                // Out of memory: the rows of this batch keep what they show.
            }
        } else
            std::unique_ptr<ArrivalBatch> dropped(reinterpret_cast<ArrivalBatch*>(lParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RowPictureLoader::Arrived(WPARAM generation, LPARAM lParam)
{
    std::unique_ptr<ArrivalBatch> batch(reinterpret_cast<ArrivalBatch*>(lParam));
    if (!batch || static_cast<uint32_t>(generation) != generation_)
        return;
    for (Arrival& arrival : *batch) {
        if (pending_ > 0)
            --pending_;
        bool skipped = false;
        for (const std::wstring& name : skipped_)
            skipped = skipped || EqualsNoCase(name.c_str(), arrival.name.c_str());
        if (!skipped && arrival.picture && deliver_)
            deliver_(arrival.row, arrival.name, std::move(arrival.picture));
    }
    if (batchDone_)
        batchDone_();
}
