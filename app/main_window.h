// The account manager's window object.
#pragma once

#include <cstdint>
#include <memory>

#include "accounts/groups.h"
#include "app/account_panel.h"
#include "accounts/row_pictures.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "ui/dialog_owner.h"
#include "platform/images.h"
#include "ui/window.h"

// The account manager's window, and the owner of every dialog it opens.
class MainWindow : public UiWindow, public DialogOwner {
public:
    MainWindow();
    ~MainWindow() override;

    double osVersion = 0.0;
    UniqueImage appImage;
    UniqueImage buttonImage;
    UniqueToken consoleUserToken;        // empty until the console user is known
    WString consoleUserName;
    WString consoleUserSid;
    WString helpUrl;
    WString aboutUrl;

    MainWindowControls ids;
    GroupNames groupNames;               // filled once at start
    int selectedRow = -1;                // the last row shown in the panel

    // What fills the account list; the start-up benchmark's floor swaps in
    // a filler that needs no account database.
    int (*fillList)(const AccountPanel& panel) = nullptr;
    // Reads the rows' pictures off the window's thread; made by the first fill.
    std::unique_ptr<RowPictureLoader> rowPictures;

    // Disables the header's refresh link to "Create user account" and
    // "Groups..." (the version link and labels excepted) before a dialog or
    // question; a lock still in force is undone first. Unlocking enables
    // exactly what was enabled and then handles the messages that waited
    // meanwhile.
    void Lock() override;
    void Unlock() override;

    UiWindow& OwnerWindow() override { return *this; }
    // The close and minimise buttons and the help and version links.
    DialogHeader Header() const override;

    // The list and panel, lent to the functions that fill and read them.
    AccountPanel Panel() { return AccountPanel{*this, ids, osVersion, consoleUserName, rowPictures}; }

    // The icon of a row's picture for a dialog's heading, or null.
    UniqueIcon RowIcon(int row);

private:
    LockRecord lock_;
};

// Opens the main window and runs its loop until it is closed; the exit code:
// 0, or the repair tool's result when the operator launched it from here.
int RunMainWindow(MainWindow& window, HINSTANCE instance, const wchar_t* commandLine, int showCommand);
