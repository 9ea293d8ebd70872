// The account manager's window object.
#pragma once

#include "platform/handles.h"
#include "platform/text.h"
#include "ui/image.h"
#include "ui/window.h"

class MainWindow : public UiWindow {
public:
    MainWindow();
    ~MainWindow() override = default;   // members go in reverse order, then the window

    double osVersion = 0.0;
    uint32_t busy = 0;                   // 1 while personal folders are being moved
    UniqueImage appImage;
    UniqueImage buttonImage;
    UniqueFileHandle consoleUserToken;   // INVALID_HANDLE_VALUE until the console user is known
    WString consoleUserName;
    WString consoleUserSid;
    WString helpUrl;
    WString aboutUrl;
};

// Opens the main window and runs its loop until it is closed; the exit code.
int RunMainWindow(MainWindow& window, HINSTANCE instance, const wchar_t* commandLine, int showCommand);
