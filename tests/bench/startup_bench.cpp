// Times the account manager's start: from the creation of its process to the
// first complete paint of its main window, on a scenario of the simulated
// machine, against a floor that is the same window showing the same rows
// without asking the account database for them. Run by
// scripts/bench-startup.sh:
//
//   vantrell_startup_bench drive <scenario> <runs>   resets the machine, times
//                                                    both and prints medians
//   vantrell_startup_bench window full               the main window as shipped
//   vantrell_startup_bench window floor <file>       its rows read from <file>
//   vantrell_startup_bench window capture <file>     writes the rows to <file>
//                                                    and closes
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "accounts/account_list.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "platform/handles.h"
#include "sandbox/sandbox.h"

namespace {

constexpr DWORD kWindowTimeoutMs = 30000;   // from process creation to a painted window
constexpr DWORD kExitTimeoutMs = 10000;

// The rows file of the floor and of the capture; the fillers are plain
// function pointers, so they find it here.
std::wstring g_rowsFile;

HWND AccountListHandle(MainWindow& window)
{
    const ControlEntry* list = window.Control(window.ids.accountList);
    return list != nullptr ? list->handle : nullptr;
}

// The rows file holds three lines per row (title, account name, type text),
// UTF-16 without a byte-order mark; account texts hold no line breaks.
std::vector<std::wstring> ReadLines(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > (64 << 20))
        return lines;
    std::wstring text(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    if (!text.empty() && (!ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                                    &read, nullptr) ||
                          read != text.size() * sizeof(wchar_t)))
        return lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

bool WriteText(const std::wstring& path, const std::wstring& text)
{
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    return file && WriteFile(file.Get(), text.data(), bytes, &written, nullptr) && written == bytes;
}

// The floor: FillAccountList's frame around the same rows, with the texts
// read from the rows file instead of the account database.
int FillFromRowsFile(MainWindow& window)
{
    HWND list = AccountListHandle(window);
    if (list == nullptr)
        return 0;
    std::vector<std::wstring> lines = ReadLines(g_rowsFile);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    window.DeleteAllItems(window.ids.accountList);
    int count = 0;
    for (size_t i = 0; i + 2 < lines.size(); i += 3) {
        if (AddAccountRow(window, list, lines[i].c_str(), lines[i + 1].c_str(), lines[i + 2].c_str()) >= 0)
            ++count;
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return count;
}

// The shipped filler, then its rows written out for the floor. The close
// posted here is kept while the window is being shown, so the run ends.
int FillAndCapture(MainWindow& window)
{
    int count = FillAccountList(window);
    HWND list = AccountListHandle(window);
    const int rows = list != nullptr ? static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    std::wstring text;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < 3; ++column) {
            text += ListCellText(list, row, column).Text();
            text += L'\n';
        }
    }
    if (!WriteText(g_rowsFile, text))
        std::fwprintf(stderr, L"cannot write %ls (%lu)\n", g_rowsFile.c_str(), GetLastError());
    PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
    return count;
}

int (*g_filler)(MainWindow&) = FillAccountList;

int RunBenchWindow(HINSTANCE instance, const wchar_t* commandLine, int showCommand)
{
    MainWindow window;
    window.fillList = g_filler;
    return RunMainWindow(window, instance, commandLine, showCommand);
}

// The process entry of the product, with the main window's filler chosen here.
int RunWindowMode(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 2 ? argv[2] : L"";
    if (mode == L"floor" || mode == L"capture") {
        if (argc < 4)
            return 2;
        g_rowsFile = argv[3];
        g_filler = mode == L"floor" ? FillFromRowsFile : FillAndCapture;
    } else if (mode != L"full") {
        return 2;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
    StartupActions actions = DefaultStartupActions();
    actions.runAccountManager = RunBenchWindow;
    return RunProcess(GetModuleHandleW(nullptr), L"", show, actions);
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct WindowSearch {
    DWORD processId;
    HWND found;
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

// Starts this executable with `arguments`, as a desktop starts a program.
bool Start(const std::wstring& self, const std::wstring& arguments, UniqueHandle& process, DWORD& processId)
{
    std::wstring commandLine = L"\"" + self + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &created))
        return false;
    process.Reset(created.hProcess);
    UniqueHandle thread(created.hThread);
    processId = created.dwProcessId;
    return true;
}

// Waits for the process to end, ending it when it does not.
void Finish(HANDLE process, const char* what)
{
    if (WaitForSingleObject(process, kExitTimeoutMs) == WAIT_OBJECT_0)
        return;
    std::fprintf(stderr, "%s: the window did not close; ending its process\n", what);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kExitTimeoutMs);
}

// One start, in milliseconds until the window is painted; negative when it
// never was.
double TimeStart(const std::wstring& self, const std::wstring& arguments, int expectedRows, const char* what)
{
    LARGE_INTEGER start{}, now{};
    QueryPerformanceCounter(&start);
    UniqueHandle process;
    DWORD processId = 0;
    if (!Start(self, arguments, process, processId)) {
        std::fprintf(stderr, "%s: cannot start (%lu)\n", what, GetLastError());
        return -1.0;
    }
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
            return -1.0;
        }
        if (Milliseconds(start, now) > kWindowTimeoutMs) {
            std::fprintf(stderr, "%s: no painted window after %lu ms\n", what, kWindowTimeoutMs);
            break;
        }
        Sleep(1);
    }
    if (window != nullptr)
        PostMessageW(window, WM_CLOSE, 0, 0);
    Finish(process.Get(), what);
    return elapsed;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
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
    const std::wstring self = path;
    const std::wstring rowsFile =
        std::wstring(folder) + L"vantrell-startup-rows-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    const std::wstring quotedRows = L"\"" + rowsFile + L"\"";

    // The rows as the shipped filler shows them; this start also warms the
    // caches, so it is not timed.
    {
        UniqueHandle process;
        DWORD processId = 0;
        if (!Start(self, L"window capture " + quotedRows, process, processId)) {
            std::fprintf(stderr, "cannot start the capture (%lu)\n", GetLastError());
            return 1;
        }
        Finish(process.Get(), "capture");
    }
    const int rows = static_cast<int>(ReadLines(rowsFile).size() / 3);
    if (rows == 0) {
        std::fprintf(stderr, "the capture wrote no rows\n");
        DeleteFileW(rowsFile.c_str());
        return 1;
    }

    std::vector<double> full, floor;
    bool failed = false;
    for (int run = 0; run < runs && !failed; ++run) {
        // Alternating which goes first spreads any drift over both.
        for (int turn = 0; turn < 2 && !failed; ++turn) {
            const bool ours = (turn == 0) == (run % 2 == 0);
            double ms = ours ? TimeStart(self, L"window full", rows, "full")
                             : TimeStart(self, L"window floor " + quotedRows, rows, "floor");
            failed = ms < 0;
            (ours ? full : floor).push_back(ms);
        }
    }
    DeleteFileW(rowsFile.c_str());
    if (failed)
        return 1;

    const double a = Median(full), b = Median(floor);
    std::printf("%-16s %5d rows   full %8.1f ms   floor %8.1f ms   ratio %.2f   (median of %d)\n",
                Narrow(scenario).c_str(), rows, a, b, b > 0 ? a / b : 0.0, runs);
    std::printf("  full :");
    for (double ms : full)
        std::printf(" %.1f", ms);
    std::printf("\n  floor:");
    for (double ms : floor)
        std::printf(" %.1f", ms);
    std::printf("\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"window")
        return RunWindowMode(argc, argv);
    if (command == L"drive" && argc > 2) {
        const int runs = argc > 3 ? _wtoi(argv[3]) : 5;
        return Drive(argv[2], runs > 0 ? runs : 5);
    }
    std::fprintf(stderr,
                 "usage: vantrell_startup_bench drive <scenario> [runs]\n"
                 "       vantrell_startup_bench window full | floor <rows file> | capture <rows file>\n");
    return 2;
}
