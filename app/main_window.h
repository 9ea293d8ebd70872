// The account manager's window object.
#pragma once

#include <cstdint>
#include <memory>

#include "accounts/groups.h"
#include "accounts/row_pictures.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "ui/dialog_owner.h"
#include "ui/image.h"
#include "ui/window.h"

// The ids of the controls the main window keeps, in the order they are
// created; -1 until created, 0 when creating failed. The panel is the run
// from `accountNameField` to `deleteButton`; several operations walk it.
struct MainWindowControls {
    int32_t launchLabel = -1;
    int32_t minimiseButton = -1;
    int32_t closeButton = -1;
    int32_t helpLink = -1;
    int32_t refreshLink = -1;
    int32_t versionLink = -1;
    int32_t aboutLink = -1;
    int32_t checkLink = -1;
    int32_t accountList = -1;
    int32_t accountNameField = -1;
    int32_t displayNameField = -1;
    int32_t privilegeList = -1;
    int32_t disabledBox = -1;
    int32_t lockedOutBox = -1;
    int32_t cannotChangeBox = -1;
    int32_t notRequiredBox = -1;
    int32_t neverExpiresBox = -1;
    int32_t expiredBox = -1;
    int32_t autoLogonBox = -1;
    int32_t hiddenBox = -1;
    int32_t foldersButton = -1;
    int32_t saveButton = -1;
    int32_t pictureButton = -1;
    int32_t setPasswordButton = -1;
    int32_t removePasswordButton = -1;
    int32_t deleteButton = -1;
    int32_t createButton = -1;
};

// The account manager's window, and the owner of every dialog it opens.
class MainWindow : public UiWindow, public DialogOwner {
public:
    MainWindow();
    ~MainWindow() override;

    double osVersion = 0.0;
    uint32_t busy = 0;                   // 1 while personal folders are being moved
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
    int (*fillList)(MainWindow& window) = nullptr;
    // Reads the rows' pictures off the window's thread; made by the first fill.
    std::unique_ptr<RowPictureLoader> rowPictures;

    // Disables the header's refresh link to "Create user account" (the
    // version link and labels excepted) before a dialog or question; a lock
    // still in force is undone first. Unlocking enables exactly what was
    // enabled and then handles the messages that waited meanwhile.
    void Lock() override;
    void Unlock() override;

    UiWindow& OwnerWindow() override { return *this; }
    bool Busy() const override { return busy != 0; }
    // The close and minimise buttons and the help and version links.
    DialogHeader Header() const override;

    // The icon of a row's picture for a dialog's heading, or null.
    UniqueIcon RowIcon(int row);

private:
    LockRecord lock_;
};

// Opens the main window and runs its loop until it is closed; the exit code:
// 0, or the repair tool's result when the operator launched it from here.
int RunMainWindow(MainWindow& window, HINSTANCE instance, const wchar_t* commandLine, int showCommand);
