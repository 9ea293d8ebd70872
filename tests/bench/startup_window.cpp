// The program the start-up benchmark starts and times: the product's own
// entry on the simulated machine, with the main window's filler chosen by
// the command line.
//
//   vantrell_startup_window full              the list as shipped; when the
//                                             last row shows its picture, the
//                                             main window gets the property
//                                             "VantrellAllPictures" with the
//                                             performance counter's value
//   vantrell_startup_window floor <file>      the same rows, read from <file>
//   vantrell_startup_window walk <file>       one bare NetUserEnum walk at
//                                             level 3 over every page, then
//                                             the rows read from <file>
//   vantrell_startup_window capture <file>    the list as shipped, its rows
//                                             written to <file>; then closes
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <thread>
#include <vector>

#include "app/account_panel.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "platform/handles.h"
#include "tests/bench/account_walk.h"
#include "tests/bench/startup_rows.h"

namespace {

// The fillers are plain function pointers, so they find their file here.
std::wstring g_rowsFile;
int (*g_filler)(const AccountPanel&) = FillAccountList;

HWND AccountListHandle(const AccountPanel& panel)
{
    const ControlEntry* list = panel.window.Control(panel.ids.accountList);
    return list != nullptr ? list->handle : nullptr;
}

// The floor: FillAccountList's frame around the same rows, their texts read
// from the file instead of the account database.
int FillFromRowsFile(const AccountPanel& panel)
{
    HWND list = AccountListHandle(panel);
    if (list == nullptr)
        return 0;
    std::vector<std::wstring> lines = ReadRowLines(g_rowsFile);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    panel.window.DeleteAllItems(panel.ids.accountList);
    int count = 0;
    for (size_t i = 0; i + 2 < lines.size(); i += 3) {
        if (AddAccountRow(panel, list, lines[i].c_str(), lines[i + 1].c_str(), lines[i + 2].c_str()) >= 0)
            ++count;
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return count;
}

// The second floor: the account database's own cost, one walk over every
// page at level 3 as any lister pays it, and then the same rows as the floor.
int WalkThenFillFromRowsFile(const AccountPanel& panel)
{
    WalkEveryAccount();
    return FillFromRowsFile(panel);
}

// Watches the shipped list from a thread of its own: the pictures arrive
// in row order, so the last row's picture is the last one. Its arrival is
// stamped on the main window, where the driver reads it.
void WatchForEveryPicture()
{
    HWND main = nullptr;
    for (int i = 0; i < 60000 && main == nullptr; ++i) {
        HWND found = FindWindowW(L"Vantrell_WNDCLASS", nullptr);
        DWORD owner = 0;
        if (found != nullptr && GetWindowThreadProcessId(found, &owner) != 0 && owner == GetCurrentProcessId() &&
            IsWindowVisible(found))
            main = found;
        else
            Sleep(2);
    }
    HWND list = main != nullptr ? FindWindowExW(main, nullptr, WC_LISTVIEWW, nullptr) : nullptr;
    while (list != nullptr && IsWindow(list)) {
        DWORD_PTR rows = 0;
        if (SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 1000, &rows) && rows > 0) {
            LVITEMW item{};
            item.mask = LVIF_IMAGE;
            item.iItem = static_cast<int>(rows) - 1;
            DWORD_PTR got = 0;
            if (SendMessageTimeoutW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item), SMTO_ABORTIFHUNG, 1000,
                                    &got) &&
                got != 0 && item.iImage > 0) {
                LARGE_INTEGER now{};
                QueryPerformanceCounter(&now);
                SetPropW(main, L"VantrellAllPictures", reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(now.QuadPart)));
                return;
            }
        }
        Sleep(5);
    }
}

// The shipped filler, then its rows written out. The close posted here is
// kept while the window is being shown, so the run ends by itself.
int FillAndCapture(const AccountPanel& panel)
{
    int count = FillAccountList(panel);
    HWND list = AccountListHandle(panel);
    const int rows = list != nullptr ? static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    std::wstring text;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < 3; ++column) {
            text += ListCellText(list, row, column).Text();
            text += L'\n';
        }
    }
    if (!WriteRowLines(g_rowsFile, text))
        g_rowsFile.clear();
    PostMessageW(panel.window.Handle(), WM_CLOSE, 0, 0);
    return count;
}

int RunBenchWindow(HINSTANCE instance, const wchar_t* commandLine, int showCommand)
{
    MainWindow window;
    window.fillList = g_filler;
    std::thread watcher;
    if (g_filler == FillAccountList)
        watcher = std::thread(WatchForEveryPicture);
    int result = RunMainWindow(window, instance, commandLine, showCommand);
    if (watcher.joinable())
        watcher.join();
    return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand)
{
    int count = 0;
    UniqueResource<LocalMemoryTraits<LPWSTR*>> arguments(CommandLineToArgvW(commandLine, &count));
    if (!arguments || count < 1)
        return 2;
    const std::wstring mode = arguments.Get()[0];
    if (mode == L"floor" || mode == L"walk" || mode == L"capture") {
        if (count < 2)
            return 2;
        g_rowsFile = arguments.Get()[1];
        g_filler = mode == L"floor" ? FillFromRowsFile : mode == L"walk" ? WalkThenFillFromRowsFile : FillAndCapture;
    } else if (mode != L"full") {
        return 2;
    }
    StartupActions actions = DefaultStartupActions();
    actions.runAccountManager = RunBenchWindow;
    int exitCode = RunProcess(instance, L"", showCommand, actions);
    return mode == L"capture" && g_rowsFile.empty() ? 3 : exitCode;
}
