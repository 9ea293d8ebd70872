#include "app/main_window.h"

#include "platform/system.h"

namespace {
constexpr int kClientWidth = 750;
constexpr int kClientHeight = 550;
}  // namespace

MainWindow::MainWindow() : osVersion(GetOsVersionNumber())
{
    consoleUserName.Assign(L"");
    consoleUserSid.Assign(L"");
    helpUrl.Assign(L"");
    aboutUrl.Assign(L"");
}

int RunMainWindow(MainWindow& window, HINSTANCE, const wchar_t*, int showCommand)
{
    if (window.CreateUiWindow(L"Vantrell_WNDCLASS", L"Vantrell", kClientWidth, kClientHeight, -1, -1, -1, -1,
                              nullptr) == nullptr)
        return 0;
    window.ShowUiWindow(showCommand);
    for (;;) {
        int32_t event = PumpEvents(window, 0);
        if (event == EventCode::Close || event == EventCode::QueueFailed)
            break;
    }
    window.DestroyUiWindow();
    return 0;
}
