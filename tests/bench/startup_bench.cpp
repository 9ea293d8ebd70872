// Times the account manager's start: from the creation of its process to the
// first complete paint of its main window, and on to the moment every row
// shows its picture, on a scenario of the simulated machine. Two floors:
// the same window showing the same rows without asking the account database
// for them, and the same after one bare NetUserEnum walk at level 3 over
// every page, which any lister must pay. Run by
// scripts/bench-startup.sh as
//
//   vantrell_startup_bench <scenario> [runs]
//
// The timed program is vantrell_startup_window, next to this one.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "platform/handles.h"
#include "sandbox/sandbox.h"
#include "tests/bench/startup_rows.h"
#include "tests/narrow.h"

namespace {

constexpr DWORD kWindowTimeoutMs = 30000;   // from process creation to a painted window
constexpr DWORD kExitTimeoutMs = 10000;

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct WindowSearch {
    DWORD processId;
    HWND found;   // not owned
};

HWND FindMainWindow(DWORD processId)
{
    WindowSearch search{processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto& search = *reinterpret_cast<WindowSearch*>(parameter);
            DWORD owner = 0;
            wchar_t className[64] = L"";
            GetWindowThreadProcessId(window, &owner);
            if (owner != search.processId || GetClassNameW(window, className, ARRAYSIZE(className)) == 0 ||
                lstrcmpW(className, L"Vantrell_WNDCLASS") != 0)
                return TRUE;
            search.found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct PaintCheck {
    bool pending;   // a visible window still has something to paint
    HWND list;      // not owned
};

// Painted: the window and every visible control on it have nothing left to
// paint, and its account list holds the expected rows.
bool IsPainted(HWND window, int expectedRows)
{
    if (!IsWindowVisible(window) || GetUpdateRect(window, nullptr, FALSE))
        return false;
    PaintCheck check{false, nullptr};
    EnumChildWindows(
        window,
        [](HWND child, LPARAM parameter) -> BOOL {
            auto& check = *reinterpret_cast<PaintCheck*>(parameter);
            if (!IsWindowVisible(child))
                return TRUE;
            if (GetUpdateRect(child, nullptr, FALSE)) {
                check.pending = true;
                return FALSE;
            }
            wchar_t className[64] = L"";
            if (check.list == nullptr && GetClassNameW(child, className, ARRAYSIZE(className)) != 0 &&
                lstrcmpiW(className, WC_LISTVIEWW) == 0)
                check.list = child;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&check));
    if (check.pending || check.list == nullptr)
        return false;
    DWORD_PTR rows = 0;
    if (!SendMessageTimeoutW(check.list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 1000, &rows))
        return false;
    return static_cast<int>(rows) == expectedRows;
}

// Starts `program` with `arguments` as a desktop starts it: shown normally.
bool Start(const std::wstring& program, const std::wstring& arguments, UniqueHandle& process, DWORD& processId)
{
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &created))
        return false;
    process.Reset(created.hProcess);
    UniqueHandle thread(created.hThread);
    processId = created.dwProcessId;
    return true;
}

// Waits for the process to end, ending it when it does not; its exit code.
DWORD Finish(HANDLE process, const char* what)
{
    if (WaitForSingleObject(process, kExitTimeoutMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "%s: the window did not close; ending its process\n", what);
        TerminateProcess(process, 1);
        WaitForSingleObject(process, kExitTimeoutMs);
    }
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    return code;
}

constexpr DWORD kPicturesTimeoutMs = 120000;

struct StartTimes {
    double painted = -1.0;    // negative when the window never was painted
    double pictures = -1.0;   // negative when not asked for or never complete
};

// The moment, stamped by the window's own watcher, at which the last row
// showed its picture; negative when it never came.
double WaitForPictures(HWND window, HANDLE process, const LARGE_INTEGER& start, const char* what)
{
    LARGE_INTEGER now{};
    for (;;) {
        auto stamp = reinterpret_cast<ULONG_PTR>(GetPropW(window, L"VantrellAllPictures"));
        if (stamp != 0) {
            LARGE_INTEGER at{};
            at.QuadPart = static_cast<LONGLONG>(stamp);
            return Milliseconds(start, at);
        }
        QueryPerformanceCounter(&now);
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 || Milliseconds(start, now) > kPicturesTimeoutMs) {
            std::fprintf(stderr, "%s: the pictures never were all shown\n", what);
            return -1.0;
        }
        Sleep(5);
    }
}

// One start, in milliseconds until the window is painted and, when asked,
// until every row shows its picture.
StartTimes TimeStart(const std::wstring& program, const std::wstring& arguments, int expectedRows, const char* what,
                     bool pictures = false)
{
    StartTimes times;
    LARGE_INTEGER start{}, now{};
    QueryPerformanceCounter(&start);
    UniqueHandle process;
    DWORD processId = 0;
    if (!Start(program, arguments, process, processId)) {
        std::fprintf(stderr, "%s: cannot start (%lu)\n", what, GetLastError());
        return times;
    }
    // The window is filled, shown and painted before its loop first waits
    // for input. Polling every window from the start would compete with the
    // start itself for the single-threaded Wine server, which also serves
    // the simulated account database's registry reads.
    WaitForInputIdle(process.Get(), kWindowTimeoutMs);
    HWND window = nullptr;   // not owned
    double elapsed = -1.0;
    for (;;) {
        if (window == nullptr)
            window = FindMainWindow(processId);
        if (window != nullptr && IsPainted(window, expectedRows)) {
            QueryPerformanceCounter(&now);
            elapsed = Milliseconds(start, now);
            break;
        }
        QueryPerformanceCounter(&now);
        if (WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) {
            std::fprintf(stderr, "%s: the process ended before its window was painted\n", what);
            return times;
        }
        if (Milliseconds(start, now) > kWindowTimeoutMs) {
            std::fprintf(stderr, "%s: no painted window after %lu ms\n", what, kWindowTimeoutMs);
            break;
        }
        Sleep(1);
    }
    times.painted = elapsed;
    if (pictures && window != nullptr && elapsed >= 0)
        times.pictures = WaitForPictures(window, process.Get(), start, what);
    if (window != nullptr)
        PostMessageW(window, WM_CLOSE, 0, 0);
    Finish(process.Get(), what);
    return times;
}

void PrintTimes(const char* label, const std::vector<double>& times)
{
    std::printf("  %-6s", label);
    for (double ms : times)
        std::printf(" %7.1f", ms);
    std::printf("\n");
}

int Drive(const std::wstring& scenario, int runs)
{
    std::wstring error;
    if (!sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) {
        std::fprintf(stderr, "cannot load scenario %s: %s\n", Narrow(scenario).c_str(), Narrow(error).c_str());
        return 1;
    }
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    wchar_t folder[MAX_PATH] = L"";
    if (length == 0 || length >= ARRAYSIZE(path) || GetTempPathW(ARRAYSIZE(folder), folder) == 0)
        return 1;
    std::wstring program(path);
    program.resize(program.find_last_of(L'\\') + 1);
    program += L"vantrell_startup_window.exe";
    const std::wstring rowsFile =
        std::wstring(folder) + L"vantrell-startup-rows-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    const std::wstring floorArguments = L"floor \"" + rowsFile + L"\"";

    // The rows as the shipped filler shows them; this start also warms the
    // caches, so it is not timed.
    {
        UniqueHandle process;
        DWORD processId = 0;
        if (!Start(program, L"capture \"" + rowsFile + L"\"", process, processId)) {
            std::fprintf(stderr, "cannot start %s (%lu)\n", Narrow(program).c_str(), GetLastError());
            return 1;
        }
        Finish(process.Get(), "capture");
    }
    const int rows = static_cast<int>(ReadRowLines(rowsFile).size() / 3);
    if (rows == 0) {
        std::fprintf(stderr, "the capture wrote no rows\n");
        DeleteFileW(rowsFile.c_str());
        return 1;
    }

    // The first starts after a reset are slower for all, while the Wine
    // server settles the new registry; one untimed round takes that.
    const std::wstring walkArguments = L"walk \"" + rowsFile + L"\"";
    bool failed = TimeStart(program, L"full", rows, "full", true).pictures < 0 ||
                  TimeStart(program, floorArguments, rows, "floor").painted < 0 ||
                  TimeStart(program, walkArguments, rows, "walk").painted < 0;

    std::vector<double> full, pictures, floor, walk;
    for (int run = 0; run < runs && !failed; ++run) {
        // Rotating which goes first spreads any drift over all three.
        for (int turn = 0; turn < 3 && !failed; ++turn) {
            switch ((turn + run) % 3) {
            case 0: {
                StartTimes times = TimeStart(program, L"full", rows, "full", true);
                failed = times.painted < 0 || times.pictures < 0;
                full.push_back(times.painted);
                pictures.push_back(times.pictures);
                break;
            }
            case 1: {
                double ms = TimeStart(program, floorArguments, rows, "floor").painted;
                failed = ms < 0;
                floor.push_back(ms);
                break;
            }
            default: {
                double ms = TimeStart(program, walkArguments, rows, "walk").painted;
                failed = ms < 0;
                walk.push_back(ms);
                break;
            }
            }
        }
    }
    DeleteFileW(rowsFile.c_str());
    if (failed)
        return 1;

    // The medians answer; the minimums are what a loaded machine disturbs least.
    auto minimum = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    const double a = Median(full), b = Median(floor), c = Median(walk), p = Median(pictures);
    std::printf("%-18s %4d rows  first paint: full %7.1f ms  floor %7.1f ms  walk floor %7.1f ms  "
                "full/walk %.2f  full/floor %.2f  (medians of %d)\n",
                Narrow(scenario).c_str(), rows, a, b, c, c > 0 ? a / c : 0.0, b > 0 ? a / b : 0.0, runs);
    std::printf("%-18s %4s       minimums:    full %7.1f ms  floor %7.1f ms  walk floor %7.1f ms  "
                "full/walk %.2f\n",
                "", "", minimum(full), minimum(floor), minimum(walk),
                minimum(walk) > 0 ? minimum(full) / minimum(walk) : 0.0);
    std::printf("%-18s %4s       every picture shown: median %7.1f ms, minimum %7.1f ms\n", "", "", p,
                minimum(pictures));
    PrintTimes("full", full);
    PrintTimes("pics", pictures);
    PrintTimes("floor", floor);
    PrintTimes("walk", walk);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: vantrell_startup_bench <scenario> [runs]\n");
        return 2;
    }
    const int runs = argc > 2 ? _wtoi(argv[2]) : 5;
    return Drive(argv[1], runs > 0 ? runs : 5);
}
