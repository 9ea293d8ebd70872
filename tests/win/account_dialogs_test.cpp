// The creation and deletion dialogs in the real main window on the simulated
// machine, driven from a second thread as an operator drives them.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <lm.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_rules.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/personal_folder_rules.h"
#include "accounts/pictures.h"
#include "accounts/profile_use.h"
#include "app/main_window.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"
#include "tests/narrow.h"
#include "tests/win/main_window_screen.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_support.h"
#include "ui/control_rules.h"
#include "ui/window.h"

using namespace harness;

namespace {

constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr COLORREF kDarkRed = RGB(160, 0, 0);
constexpr COLORREF kBusyGreen = RGB(0, 144, 0);

// True when some pixel of the control shows exactly that colour: the text's.
bool ShowsColour(HWND control, COLORREF colour)
{
    RECT rect;
    if (control == nullptr || !GetWindowRect(control, &rect))
        return false;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            if (ScreenPixel(x, y) == colour)
                return true;
        }
    }
    return false;
}

std::wstring ProfileFolder(const std::wstring& name)
{
    sandbox::Account account;
    if (!sandbox::FindAccount(name.c_str(), &account))
        return L"";
    return sandbox::ProfileFolderOf(sandbox::AccountSid(account.rid));
}

std::wstring UserPicture()
{
    wchar_t data[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, data);
    return std::wstring(data) + L"\\Microsoft\\User Account Pictures\\user.bmp";
}

class AccountDialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Show(error);
        sandbox::ClearRecord();
        sandbox::EnableHivePrivileges();
        DeleteFileW(UserPicture().c_str());
    }
    void TearDown() override { DeleteFileW(UserPicture().c_str()); }

    void Run(const std::function<void(Screen&, HWND)>& script) { RunWithOperator(script); }
};

// The creation dialog's fields, in the order of creation.
struct CreationFields {
    HWND name = nullptr, password = nullptr, again = nullptr, status = nullptr;
};

CreationFields FieldsOf(HWND dialog)
{
    CreationFields fields;
    std::vector<HWND> edits = Children(dialog, L"Edit");
    if (edits.size() == 3) {
        fields.name = edits[0];
        fields.password = edits[1];
        fields.again = edits[2];
    }
    fields.status = ChildAt(dialog, L"Static", 20, 285);
    return fields;
}

// Opens the dialog of a button of the main window, on the account's row when
// one is named; null when it did not show.
HWND OpenDialog(Screen& screen, int32_t MainWindowControls::*button, const wchar_t* account = nullptr)
{
    if (account != nullptr && !screen.Select(account))
        return nullptr;
    screen.Press(screen.Ids().*button);
    return screen.Dialog();
}

// Deletes the account with its files through its dialog; what the operator
// is told afterwards, once the row is gone.
std::wstring DeleteWithItsFiles(const wchar_t* account)
{
    std::wstring told;
    RunWithOperator([&](Screen& screen, HWND main) {
        HWND dialog = OpenDialog(screen, &MainWindowControls::deleteButton, account);
        ASSERT_NE(nullptr, dialog);
        SendMessageW(ChildWithText(dialog, L"Button", L"Also delete user files and folders"), BM_CLICK, 0, 0);
        Press(dialog, L"Delete account");
        told = screen.Answer(L"OK", dialog);
        // The window finishes its own work (the row goes) before it is closed.
        EXPECT_TRUE(WaitFor([&] { return screen.RowOf(account) < 0; }));
        WaitForReady(main);
    });
    return told;
}

}  // namespace

TEST_F(AccountDialogs, CreationChecksEachFieldWithItsMessageAndColourAndItsLength)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* password;
        const wchar_t* again;
        const wchar_t* message;
    } const cases[] = {
        {L"", L"", L"", L"The \"Account name\" field is empty."},
        {L"a+b", L"", L"", L"The user name can not have these characters: \"/\\[]:|<>+=;?*"},
        {L"twentyone-characters1", L"", L"", L"The user name can not be longer than 20 characters."},
        {L". .", L"", L"", L"The user name can not consist of dots and blanks only."},
        {L"a,b", L"", L"", L"The user name can not have commas, at signs or control characters."},
        {L"a@b", L"", L"", L"The user name can not have commas, at signs or control characters."},
        {L"LCHEN", L"", L"", L"A user account or group with this name already exists."},
        {L"Users", L"", L"", L"A user account or group with this name already exists."},
        {L"new person", L"Pass-One", L"pass-one", L"The passwords you specified are not equal."},
        {L"new person", L"Pass-One", L"", L"The passwords you specified are not equal."},
    };
    size_t before = sandbox::Accounts().size();
    int rowsBefore = -1, rowsAfter = -1;
    Run([&](Screen& screen, HWND) {
        rowsBefore = screen.Rows();
        HWND dialog = OpenDialog(screen, &MainWindowControls::createButton);
        ASSERT_NE(nullptr, dialog);
        EXPECT_FALSE(screen.Enabled(screen.Ids().createButton)) << "the main window is locked";
        CreationFields fields = FieldsOf(dialog);
        ASSERT_NE(nullptr, fields.name);
        ASSERT_NE(nullptr, fields.status);
        EXPECT_NE(nullptr, ChildWithText(dialog, L"Static", L"Create user account"));
        EXPECT_NE(nullptr, ChildWithText(dialog, L"Static", L"Password again (optional):"));
        for (const wchar_t* radio : {L"Center", L"Crop", L"Stretch"}) {
            EXPECT_EQ(std::wstring(radio) == L"Crop" ? BST_CHECKED : BST_UNCHECKED,
                      SendMessageW(ChildWithText(dialog, L"Button", radio), BM_GETCHECK, 0, 0))
                << Show(radio);
        }
        for (const Case& c : cases) {
            SetWindowTextW(fields.name, c.name);
            SetWindowTextW(fields.password, c.password);
            SetWindowTextW(fields.again, c.again);
            Press(dialog, L"Create account");
            EXPECT_TRUE(WaitFor([&] { return TextOf(fields.status) == c.message; }))
                << Show(c.name) << " gave " << Show(TextOf(fields.status));
            EXPECT_TRUE(WaitFor([&] { return ShowsColour(fields.status, kDarkRed); })) << Show(c.name) << ": not in dark red";
            EXPECT_FALSE(ShowsColour(fields.status, kBusyGreen)) << Show(c.name);
        }
        // Each field takes forty characters typed and refuses the next.
        for (HWND field : {fields.name, fields.password, fields.again}) {
            SetWindowTextW(field, L"");
            for (int i = 0; i < 41; ++i)
                SendMessageW(field, WM_CHAR, static_cast<WPARAM>(L'a' + i % 26), 1);
            EXPECT_EQ(40, GetWindowTextLengthW(field));
        }
        Press(dialog, L"Cancel");
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(screen.Ids().createButton); })) << "unlocked again";
        rowsAfter = screen.Rows();
    });
    EXPECT_EQ(before, sandbox::Accounts().size()) << "nothing was created";
    EXPECT_EQ(rowsBefore, rowsAfter) << "cancel before any attempt adds no row";
}

TEST_F(AccountDialogs, CreatedAccountsGoToTheEndOfTheListWithAndWithoutAPicture)
{
    struct Case {
        const wchar_t* name;
        int type;
        bool picture;
        const wchar_t* typeText;
    } const cases[] = {
        {L"pictured", 2, true, L"Administrator User Account"},
        {L"plain", 0, false, L"Guest User Account"},
    };
    for (const Case& c : cases) {
        SetUp();
        if (c.picture) {
            ASSERT_TRUE(sandbox::DrawPicture(UserPicture(), 0x3070C0));
        }
        int rowsBefore = -1;
        Run([&](Screen& screen, HWND main) {
            rowsBefore = screen.Rows();
            HWND dialog = OpenDialog(screen, &MainWindowControls::createButton);
            ASSERT_NE(nullptr, dialog);
            CreationFields fields = FieldsOf(dialog);
            SetWindowTextW(fields.name, c.name);
            SetWindowTextW(fields.password, L"Same-Pass-7");
            SetWindowTextW(fields.again, L"Same-Pass-7");
            HWND type = Children(dialog, L"ComboBox").front();
            EXPECT_EQ(1, SendMessageW(type, CB_GETCURSEL, 0, 0)) << "\"Standard user\" at start";
            SendMessageW(type, CB_SETCURSEL, c.type, 0);
            Press(dialog, L"Create account");
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); })) << "the dialog ends after a creation";
            ASSERT_TRUE(WaitFor([&] { return screen.Rows() == rowsBefore + 1; }));
            int row = screen.Rows() - 1;
            EXPECT_EQ(c.name, screen.Cell(row, 0)) << "the new row comes last";
            EXPECT_EQ(c.name, screen.Cell(row, 1));
            EXPECT_EQ(c.typeText, screen.Cell(row, 2));
            EXPECT_FALSE(screen.Selected(row)) << "the new row is not selected";
            EXPECT_TRUE(screen.Text(screen.Ids().accountNameField).empty());
            // The new row shows the account's own picture, as the list shows
            // every account's, not the default icon.
            EXPECT_TRUE(WaitFor([&] { return screen.RowImage(row) > 0; }))
                << Show(c.name) << ": row image " << screen.RowImage(row);
            UniqueBitmap expected = LoadAccountPictureBitmap(c.name, screen.OsVersion());
            ASSERT_TRUE(expected) << Show(c.name);
            const COLORREF want = BitmapPixel(expected.Get(), 3, 3);
            const COLORREF seen = screen.RowPixel(row, 3, 3);
            EXPECT_TRUE(Near(want, seen)) << Show(c.name) << std::hex << ": expected " << want << ", shown " << seen;
            if (c.picture) {
                EXPECT_TRUE(Near(RGB(0x30, 0x70, 0xC0), seen)) << "the row shows the picture given, shown " << std::hex << seen;
                EXPECT_FALSE(SaveScreenshot(main, L"create_account_new_row", 60).empty());
            }
        });
        sandbox::Account account;
        ASSERT_TRUE(sandbox::FindAccount(c.name, &account)) << Show(c.name);
        EXPECT_TRUE(account.hasPassword);
        EXPECT_FALSE(ProfileFolder(c.name).empty()) << "the profile was built at once";
        bool pictureSet = false;
        for (const sandbox::RecordedAction& action : sandbox::RecordedActions())
            pictureSet |= action.call == L"SetAccountPicture" && action.details.at(L"account") == c.name;
        EXPECT_EQ(c.picture, pictureSet) << Show(c.name);
        EXPECT_EQ(c.picture, !account.picture.empty()) << Show(c.name);
    }
}

TEST_F(AccountDialogs, AnAccountWhoseProfileMustWaitIsCreatedAndListed)
{
    // The SID the next account gets already has a profile-list entry naming
    // a folder that is gone: the profile cannot be built now.
    std::wstring nextSid = sandbox::AccountSid(sandbox::MachineDword(sandbox::kNextRid, 1000));
    sandbox::RememberProfileKey(nextSid);
    ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + nextSid,
                                      L"ProfileImagePath", L"C:\\users\\vantrell-gone-profile", REG_EXPAND_SZ));
    std::wstring told;
    int rowsBefore = -1, rowsAfter = -1;
    Run([&](Screen& screen, HWND) {
        rowsBefore = screen.Rows();
        HWND dialog = OpenDialog(screen, &MainWindowControls::createButton);
        ASSERT_NE(nullptr, dialog);
        SetWindowTextW(FieldsOf(dialog).name, L"later");
        Press(dialog, L"Create account");
        told = screen.Answer(L"OK", dialog);
        ASSERT_TRUE(WaitFor([&] { return screen.Rows() == rowsBefore + 1; }));
        rowsAfter = screen.Rows();
    });
    EXPECT_EQ(L"The user account was created, but its profile could not be made now.\r\n\r\n"
              L"Windows will make it when the account signs in for the first time.",
              told);
    EXPECT_EQ(rowsBefore + 1, rowsAfter);
    sandbox::Account account;
    EXPECT_TRUE(sandbox::FindAccount(L"later", &account));
    EXPECT_FALSE(account.hasPassword) << "the temporary password was taken back";
}

// Enter right after opening cancels; without its files an account goes and
// its profile stays; with them both go.
TEST_F(AccountDialogs, DeletionTakesTheProfileOnlyWithItsFilesAndEnterCancels)
{
    ASSERT_TRUE(CreateAccount(L"staying", nullptr, 1, L"Stay-Here-1"));
    ASSERT_TRUE(CreateAccount(L"keeping", nullptr, 1, L"Bye-Bye-1"));
    ASSERT_TRUE(CreateAccount(L"leaving", L"Leaving Soon", 1, L"Bye-Bye-1"));
    const std::wstring kept = ProfileFolder(L"keeping"), folder = ProfileFolder(L"leaving");
    ASSERT_FALSE(folder.empty());
    sandbox::Account account;
    ASSERT_TRUE(sandbox::FindAccount(L"keeping", &account));
    const std::wstring entry = std::wstring(kProfileList) + L"\\" + sandbox::AccountSid(account.rid);
    int rowsBefore = -1, rowsAfter = -1;
    std::wstring nameField = L"(unread)";
    Run([&](Screen& screen, HWND) {
        HWND dialog = OpenDialog(screen, &MainWindowControls::deleteButton, L"staying");
        ASSERT_NE(nullptr, dialog);
        SetForegroundWindow(dialog);
        PressKey(VK_RETURN);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); })) << "Enter did not end the dialog";
        EXPECT_GE(screen.RowOf(L"staying"), 0);

        ASSERT_NE(nullptr, dialog = OpenDialog(screen, &MainWindowControls::deleteButton, L"keeping"));
        Press(dialog, L"Delete account");
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog) && screen.RowOf(L"keeping") < 0; }));

        rowsBefore = screen.Rows();
        ASSERT_NE(nullptr, dialog = OpenDialog(screen, &MainWindowControls::deleteButton, L"leaving"));
        EXPECT_NE(nullptr, ChildWithText(dialog, L"Static", L"Leaving Soon"));
        EXPECT_NE(nullptr, ChildWithText(dialog, L"Static", L"Note: You are about to delete this user account."));
        HWND files = ChildWithText(dialog, L"Button", L"Also delete user files and folders");
        ASSERT_NE(nullptr, files);
        EXPECT_EQ(BST_UNCHECKED, SendMessageW(files, BM_GETCHECK, 0, 0));
        SendMessageW(files, BM_CLICK, 0, 0);
        Press(dialog, L"Delete account");
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
        EXPECT_TRUE(WaitFor([&] { return screen.Rows() == rowsBefore - 1; }));
        rowsAfter = screen.Rows();
        nameField = screen.Text(screen.Ids().accountNameField);
        EXPECT_FALSE(screen.Enabled(screen.Ids().deleteButton)) << "nothing is selected any more";
        EXPECT_TRUE(screen.Enabled(screen.Ids().createButton));
    });
    EXPECT_TRUE(sandbox::FindAccount(L"staying", &account)) << "Cancel is the default button";
    EXPECT_FALSE(sandbox::FindAccount(L"keeping", &account));
    EXPECT_TRUE(PathExists(kept + L"\\NTUSER.DAT"));
    EXPECT_TRUE(KeyOpens(HKEY_LOCAL_MACHINE, entry));
    EXPECT_EQ(rowsBefore - 1, rowsAfter);
    EXPECT_FALSE(sandbox::FindAccount(L"leaving", &account));
    EXPECT_TRUE(nameField.empty()) << Show(nameField);
    EXPECT_FALSE(PathExists(folder)) << Show(folder);
}

TEST_F(AccountDialogs, HeldFilesAreLeftForTheRestartAndTheOperatorIsTold)
{
    ASSERT_TRUE(CreateAccount(L"holding", nullptr, 1, L"Hold-Fast-1"));
    std::wstring folder = ProfileFolder(L"holding");
    std::wstring held = folder + L"\\Documents\\open.txt";
    std::ofstream(std::filesystem::path(held)) << "open";
    HANDLE file = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const std::wstring told = DeleteWithItsFiles(L"holding");
    CloseHandle(file);
    EXPECT_EQ(L"The user account was successfully deleted,but a system reboot is required in order to remove all "
              L"the files belonging to the user profile.\r\n\r\nYou should reboot the computer as soon as possible "
              L"to complete the removal.",
              told);
    EXPECT_FALSE(PathExists(folder + L"\\NTUSER.DAT"));
}

// A profile of many files: while they go, the dialog answers, its spinner
// turns, and an end of the session is refused.
TEST_F(AccountDialogs, ALargeProfileIsDeletedWhileTheDialogKeepsAnswering)
{
    ASSERT_TRUE(CreateAccount(L"hoarder", nullptr, 1, L"Many-Files-1"));
    std::wstring folder = ProfileFolder(L"hoarder");
    for (int d = 0; d < 40; ++d) {
        std::wstring sub = folder + L"\\Documents\\box" + std::to_wstring(d);
        std::filesystem::create_directories(sub);
        for (int f = 0; f < 100; ++f)
            std::ofstream(std::filesystem::path(sub + L"\\file" + std::to_wstring(f) + L".txt")) << "content";
    }
    int answered = 0, during = 0;
    bool refused = false, stillOpen = false, spun = false;
    Run([&](Screen& screen, HWND main) {
        HWND dialog = OpenDialog(screen, &MainWindowControls::deleteButton, L"hoarder");
        ASSERT_NE(nullptr, dialog);
        SendMessageW(ChildWithText(dialog, L"Button", L"Also delete user files and folders"), BM_CLICK, 0, 0);
        Press(dialog, L"Delete account");
        ASSERT_TRUE(WaitFor([&] { return ChildWithText(dialog, L"Static", L"Deleting the user account, please wait...") != nullptr; }));
        while (IsWindow(dialog) && PathExists(folder)) {
            DWORD_PTR ignored = 0;
            const bool replied = SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 250, &ignored) != 0;
            // The deletion ended meanwhile: the dialog's own work after it
            // (closing, reading the accounts again) is no deletion to answer through.
            if (!replied && (!IsWindow(dialog) || !PathExists(folder)))
                break;
            ++during;
            answered += replied ? 1 : 0;
            spun = spun || ShowsColour(ChildAt(dialog, L"Static", 20, 150), RGB(0, 0, 0));
            if (!refused) {
                // As the system asks: every top-level window.
                for (HWND window : {main, dialog})
                    SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 2000, nullptr);
                refused = true;
            }
        }
        WaitFor([&] { return !IsWindow(dialog); });
        // A refused end of the session that closed the program anyway would
        // have done so by the time the window's queue comes round.
        WaitForIdle(main);
        RoundTrip();
        stillOpen = IsWindow(main) && IsWindowVisible(main);
    });
    EXPECT_TRUE(stillOpen) << "the refused end of the session closed the program afterwards";
    EXPECT_FALSE(PathExists(folder));
    ASSERT_GT(during, 0) << "the deletion ended before it could be watched";
    EXPECT_EQ(during, answered) << "the dialog did not answer while files were deleted";
    EXPECT_TRUE(spun) << "the spinner never turned";
    bool aborted = false;
    for (const sandbox::RecordedAction& action : sandbox::RecordedActions())
        aborted |= action.call == L"AbortSystemShutdownW";
    EXPECT_TRUE(aborted) << "the end of the session was not refused";
}

namespace {

// The pixel at (x, y) inside the picture control's border.
COLORREF PicturePixel(HWND dialog, int x, int y)
{
    POINT point{125 + 1 + x, 210 + 1 + y};
    ClientToScreen(dialog, &point);
    return ScreenPixel(point.x, point.y);
}

}  // namespace

TEST_F(AccountDialogs, BrowseFitsTheChosenPictureAndRefusesAFileThatIsNone)
{
    const std::wstring banded = TestFolder(L"create-dialog-pictures") + L"\\banded.bmp";
    const std::wstring broken = TestFolder(L"create-dialog-broken") + L"\\broken.bmp";
    // Red, green and blue: each fit shows a different part of it in a square.
    ASSERT_TRUE(SavePicture(StripedPicture(200, 100, true).Get(), banded, L".bmp"));
    ASSERT_TRUE(WriteTextFile(broken, "not a picture"));
    ASSERT_TRUE(sandbox::DrawPicture(UserPicture(), 0x3070C0));
    const COLORREF white = RGB(255, 255, 255), green = RGB(0, 255, 0), red = RGB(255, 0, 0);
    const COLORREF stock = RGB(0x30, 0x70, 0xC0);
    struct Seen {
        COLORREF corner, left;
    } initial{}, crop{}, centre{}, stretch{}, afterBroken{}, afterDefault{};
    std::wstring refusal;
    bool refusalRed = false;
    LONG sideAt150 = 0;
    Run([&](Screen& screen, HWND) {
        HWND dialog = OpenDialog(screen, &MainWindowControls::createButton);
        ASSERT_NE(nullptr, dialog);
        auto look = [&] {
            WaitForIdle(dialog);
            return Seen{PicturePixel(dialog, 1, 1), PicturePixel(dialog, 1, 23)};
        };
        initial = look();
        const size_t labels = Children(dialog, L"Static").size();
        Press(dialog, L"Browse...");
        ASSERT_TRUE(ChooseInOpenFileDialog(L"Select user picture file", banded)) << "the open-file dialog did not take the file";
        crop = look();   // "Crop" is checked at start
        Click(dialog, L"Center");
        centre = look();
        Click(dialog, L"Stretch");
        stretch = look();
        Press(dialog, L"Browse...");
        ASSERT_TRUE(ChooseInOpenFileDialog(L"Select user picture file", broken));
        HWND status = ChildAt(dialog, L"Static", 20, 285);
        WaitFor([&] { return !TextOf(status).empty(); });
        refusal = TextOf(status);
        refusalRed = WaitFor([&] { return ShowsColour(status, RGB(255, 0, 0)); });
        afterBroken = look();
        Click(dialog, L"Default");
        afterDefault = look();
        EXPECT_EQ(labels, Children(dialog, L"Static").size()) << "each picture shown replaces the one before";
        // Moved to a screen of 150 %: the picture is drawn again at its new size.
        HWND picture = ChildAt(dialog, L"Static", 125, 210);
        RECT frame{};
        GetWindowRect(dialog, &frame);
        SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&frame));
        BITMAP drawn{};
        GetObjectW(reinterpret_cast<HBITMAP>(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)), sizeof(drawn), &drawn);
        sideAt150 = drawn.bmWidth;
        // The striped picture once more, squeezed in: the account gets exactly that.
        Press(dialog, L"Browse...");
        ASSERT_TRUE(ChooseInOpenFileDialog(L"Select user picture file", banded));
        SetWindowTextW(FieldsOf(dialog).name, L"banded");
        Press(dialog, L"Create account");
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
        WaitFor([&] { return screen.RowOf(L"banded") >= 0; });
    });
    EXPECT_EQ(stock, initial.corner) << "the default picture shows at start";
    EXPECT_EQ(green, crop.corner) << "crop takes the middle of the picture";
    EXPECT_EQ(white, centre.corner) << "centre leaves white bands above and below";
    EXPECT_EQ(red, centre.left);
    EXPECT_EQ(red, stretch.corner) << "stretch squeezes the whole picture in";
    EXPECT_EQ(L"The picture file you selected is not valid.", refusal);
    EXPECT_TRUE(refusalRed);
    EXPECT_EQ(stretch.corner, afterBroken.corner) << "a file that is no picture changes nothing";
    EXPECT_EQ(stock, afterDefault.corner) << "\"Default\" shows the default picture again";
    EXPECT_EQ(72, sideAt150);

    sandbox::Account account;
    ASSERT_TRUE(sandbox::FindAccount(L"banded", &account));
    ASSERT_FALSE(account.picture.empty()) << "the account was given no picture";
    UniqueImage given;
    ASSERT_EQ(Gdiplus::Ok, Gdiplus::DllExports::GdipCreateBitmapFromFile(account.picture.c_str(), given.Put()));
    ASSERT_EQ("448x448", SizeText(given.Get())) << "the picture the shell takes";
    EXPECT_EQ(0xFFFF0000u, ImagePixel(given.Get(), 2, 224)) << "the last fit chosen (stretch) was handed over";
    EXPECT_EQ(0xFF00FF00u, ImagePixel(given.Get(), 168, 224));
}

// The automatic sign-in account: its name goes from "DefaultUserName" even
// while automatic sign-in is off. A damaged profile entry naming a folder
// outside the profiles directory: the folder stays, and the operator is
// told which and why.
TEST_F(AccountDialogs, DeletionClearsTheSignInNameAndNamesAFolderItKept)
{
    const wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    ASSERT_TRUE(CreateAccount(L"damaged", nullptr, 1, L"Damaged-1"));
    sandbox::Account account;
    ASSERT_TRUE(sandbox::FindAccount(L"damaged", &account));
    // Not the temporary folder: that lies inside the running account's own
    // profile, which the deletion keeps for that reason.
    const std::wstring outside = L"C:\\vantrell-outside-dialog";
    std::error_code ignored;
    std::filesystem::remove_all(outside, ignored);
    std::filesystem::create_directories(outside, ignored);
    std::ofstream(std::filesystem::path(outside + L"\\keep.txt")) << "keep";
    const std::wstring entry = std::wstring(kProfileList) + L"\\" + sandbox::AccountSid(account.rid);
    RegWrite(HKEY_LOCAL_MACHINE, entry, L"ProfileImagePath", outside);
    RegWrite(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName", L"Damaged");
    RegWrite(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", L"0");
    const std::wstring told = DeleteWithItsFiles(L"damaged");
    EXPECT_EQ(L"The user account was successfully deleted. Its profile folder was kept because it does not lie "
              L"inside the profiles folder:\r\n\r\n" + outside,
              told);
    EXPECT_TRUE(PathExists(outside + L"\\keep.txt"));
    std::filesystem::remove_all(outside, ignored);
    EXPECT_EQ(L"", RegText(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName"));
    EXPECT_TRUE(KeyOpens(HKEY_LOCAL_MACHINE, entry)) << "the entry of a folder that stays stays too";
}

// The account's groups as the system lists them.
static std::vector<std::wstring> GroupsOf(const wchar_t* account)
{
    WString sid;
    std::vector<LocalGroup> groups;
    std::vector<std::wstring> names;
    if (GetAccountSidAndProfile(account, sid, nullptr) && ReadAccountGroups(sid.Text(), groups))
        for (const LocalGroup& group : groups)
            names.emplace_back(group.name.Text());
    return names;
}

// From the groups dialog the operator reaches every local group: one is
// made with its description, renamed (keeping it), and deleted after a
// question; one of the system's own can be neither renamed nor deleted.
TEST_F(AccountDialogs, LocalGroupsAreMadeRenamedAndDeletedButNeverTheSystems)
{
    sandbox::DomainAlias made;
    Run([&](Screen& screen, HWND) {
        HWND groups = OpenDialog(screen, &MainWindowControls::groupsButton, L"lchen");
        ASSERT_NE(nullptr, groups);
        Press(groups, L"Local groups...");
        HWND dialog = WaitForPopup(L"Vantrell_MsgBox", [&](HWND w) { return w != groups; });
        ASSERT_NE(nullptr, dialog);
        HWND list = Children(dialog, L"SysListView32").at(0);
        const std::vector<HWND> edits = Children(dialog, L"Edit");
        ASSERT_EQ(2u, edits.size());
        // As a click would: the selection, then a message that the dialog's loop takes.
        const auto select = [&](const wchar_t* group) {
            SelectRow(list, RowWith(list, 0, group));
            PostMessageW(dialog, WM_NULL, 0, 0);
        };
        const auto type = [&](const wchar_t* name, const wchar_t* description) {
            SetWindowTextW(edits[0], name);
            SetWindowTextW(edits[1], description);
        };
        type(L"Cashiers", L"Till staff");
        Press(dialog, L"Create group");
        ASSERT_TRUE(WaitFor([&] { return RowWith(list, 0, L"Cashiers") >= 0; }));
        HWND rename = ChildWithText(dialog, L"Button", L"Rename");
        for (const wchar_t* group : {L"Cashiers", L"Administrators", L"Cashiers"}) {
            select(group);
            const bool own = std::wstring(group) == L"Cashiers";
            EXPECT_TRUE(WaitFor([&] { return (IsWindowEnabled(rename) != FALSE) == own; })) << Narrow(group);
        }
        type(L"Tills", L"Till staff");
        Press(dialog, L"Rename");
        ASSERT_TRUE(WaitFor([&] { return RowWith(list, 0, L"Tills") >= 0; }));
        EXPECT_TRUE(sandbox::FindDomainAlias(L"Tills", &made));
        select(L"Lab");
        Press(dialog, L"Delete");
        EXPECT_NE(std::wstring::npos, screen.Answer(L"Yes", dialog).find(L"Delete the group \"Lab\"?"));
        EXPECT_TRUE(WaitFor([&] { return RowWith(list, 0, L"Lab") < 0; }));
        Press(dialog, L"Close");
        Press(groups, L"Close");
    });
    EXPECT_EQ(L"Till staff", made.comment);
    sandbox::DomainAlias gone;
    EXPECT_FALSE(sandbox::FindDomainAlias(L"Lab", &gone));
}

// The groups dialog adds the account to the group chosen and takes it out of
// the one selected, and the panel's "Member of" follows; the last enabled
// administrator stays in Administrators, and the operator is told why.
TEST_F(AccountDialogs, GroupsAreJoinedAndLeftButNeverTheLastAdministrators)
{
    ASSERT_TRUE(SetAccountType(sandbox::ProcessUserName().c_str(), kPrivilegeUser, nullptr));
    std::wstring told;
    Run([&](Screen& screen, HWND) {
        struct Step {
            const wchar_t* account;
            const wchar_t* group;
            const wchar_t* button;
        } const steps[] = {
            {L"lchen", L"Remote Desktop Users", L"Add"},
            {L"lchen", L"Users", L"Remove from group"},
            {L"mhartley", L"Administrators", L"Remove from group"},
        };
        for (const Step& step : steps) {
            HWND dialog = OpenDialog(screen, &MainWindowControls::groupsButton, step.account);
            ASSERT_NE(nullptr, dialog) << Narrow(step.account);
            EXPECT_FALSE(screen.Enabled(screen.Ids().groupsButton)) << "the main window is locked";
            HWND choice = Children(dialog, L"ComboBox").at(0);
            HWND list = Children(dialog, L"SysListView32").at(0);
            if (std::wstring(step.button) == L"Add") {
                SendMessageW(choice, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(step.group));
            } else {
                LVFINDINFOW find{LVFI_STRING, step.group};
                const LRESULT row = SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                                 reinterpret_cast<LPARAM>(&find));
                LVITEMW item{};
                item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
                SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
            }
            Press(dialog, step.button);
            if (std::wstring(step.account) == L"mhartley")
                told = screen.Answer(L"OK", dialog);
            else
                EXPECT_TRUE(WaitFor([&] {
                    return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == static_cast<LRESULT>(GroupsOf(step.account).size());
                }));
            Press(dialog, L"Close");
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
        }
        ASSERT_TRUE(screen.Select(L"lchen"));
        EXPECT_TRUE(WaitFor([&] { return screen.Text(screen.Ids().memberOfLabel) == L"Member of: Remote Desktop Users"; }))
            << Narrow(screen.Text(screen.Ids().memberOfLabel));
    });
    EXPECT_EQ(std::vector<std::wstring>{L"Remote Desktop Users"}, GroupsOf(L"lchen"));
    EXPECT_EQ(std::vector<std::wstring>{L"Administrators"}, GroupsOf(L"mhartley"));
    EXPECT_EQ(L"This is the last administrator account of this computer that can sign in.\r\n"
              L"It stays a member of this group.",
              told);
}

// The profiles dialog lists every profile the system keeps, sorts by the
// column clicked (again: the other way), measures the folders on request,
// refuses a profile in use and deletes the selected unused ones: their
// folders and entries go, and a disabled account with its profile.
TEST_F(AccountDialogs, ProfilesAreListedSortedAndTheUnusedOnesDeleted)
{
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"old-profiles"), &error)) << Show(error);
    std::vector<ProfileUse> uses;
    ASSERT_TRUE(ReadProfileUses(L"", uses));
    WString annaSid, annaFolder, walkerSid, walkerFolder;
    ASSERT_TRUE(GetAccountSidAndProfile(L"anna", annaSid, &annaFolder));
    ASSERT_TRUE(GetAccountSidAndProfile(L"bwalker", walkerSid, &walkerFolder));
    std::wstring refused, asked;
    Run([&](Screen& screen, HWND main) {
        SetForegroundWindow(main);
        SetFocus(screen.Handle(screen.Ids().displayNameField));
        PressKey(VK_F7);
        HWND dialog = screen.Dialog();
        ASSERT_NE(nullptr, dialog);
        HWND list = Children(dialog, L"SysListView32").at(0);
        auto column = [&](int index) {
            std::vector<std::wstring> cells;
            for (int row = 0; row < static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); ++row)
                cells.emplace_back(ListCellText(list, row, index).Text());
            return cells;
        };
        ASSERT_EQ(uses.size(), column(6).size());
        for (const ProfileUse& use : uses)
            EXPECT_GE(RowWith(list, 1, use.folder.Text()), 0) << Narrow(use.folder.Text());
        EXPECT_GE(RowWith(list, 0, L"deleted account"), 0);
        auto header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        WaitForReady(dialog);
        auto arrow = [&] {
            HDITEMW item{};
            item.mask = HDI_FORMAT;
            SendMessageW(header, HDM_GETITEMW, 2, reinterpret_cast<LPARAM>(&item));
            return item.fmt & (HDF_SORTUP | HDF_SORTDOWN);
        };
        // Read before any click: a list being sorted can be read half done.
        const std::vector<std::wstring> lastUses = column(2);
        for (bool descending : {false, true}) {
            // The first click on a window Wine has just shown may only activate it. Each
            // click lands apart from the last, or the two would make a double click.
            const int wanted = descending ? HDF_SORTDOWN : HDF_SORTUP;
            for (int tries = 0; tries < 3 && arrow() != wanted; ++tries) {
                RECT cell{};
                SendMessageW(header, HDM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&cell));
                MapWindowPoints(header, nullptr, reinterpret_cast<POINT*>(&cell), 2);
                const int apart = (descending ? 3 : 0) + tries;
                ClickAt(POINT{(cell.left + cell.right) / 2 + apart * (GetSystemMetrics(SM_CXDOUBLECLK) + 1),
                              (cell.top + cell.bottom) / 2});
                WaitFor([&] { return arrow() == wanted; }, "the sort arrow");
            }
            std::vector<std::wstring> sorted = lastUses;
            std::sort(sorted.begin(), sorted.end(),
                      [](const std::wstring& a, const std::wstring& b) { return CompareCells(a.c_str(), b.c_str()) < 0; });
            if (descending)
                std::reverse(sorted.begin(), sorted.end());
            WaitFor([&] { return column(2) == sorted; }, "the rows in order of last use");
            EXPECT_EQ(sorted, column(2)) << (descending ? "descending" : "ascending");
        }

        Press(dialog, L"Measure sizes");
        EXPECT_TRUE(WaitFor([&] { return ListCellText(list, RowWith(list, 6, annaSid.Text()), 5).Text()[0] != L'\0'; }));
        EXPECT_EQ(ByteSizeText(MeasureTree(annaFolder.Text()).bytes).Text(),
                  std::wstring(ListCellText(list, RowWith(list, 6, annaSid.Text()), 5).Text()));
        const int loaded = RowWith(list, 4, L"loaded");
        ASSERT_GE(loaded, 0);
        SelectRow(list, loaded);
        Press(dialog, L"Delete selected...");
        refused = screen.Answer(L"OK", dialog);
        SelectRow(list, loaded, false);
        for (const WString* sid : {&annaSid, &walkerSid})
            SelectRow(list, RowWith(list, 6, sid->Text()));
        Press(dialog, L"Delete selected...");
        asked = screen.Answer(L"Yes", dialog);
        EXPECT_TRUE(WaitFor([&] { return column(6).size() == uses.size() - 2; }, "the list read again"));
        Press(dialog, L"Close");
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
        EXPECT_TRUE(WaitFor([&] { return screen.RowOf(L"bwalker") < 0 && screen.RowOf(L"anna") >= 0; },
                            "the account list read again"));
    });
    EXPECT_NE(std::wstring::npos, refused.find(L" (loaded).\r\n\r\nNothing was deleted.")) << Narrow(refused);
    EXPECT_EQ(L"Delete 2 profiles with all their files?\r\n\r\nThese disabled accounts go with their profiles: bwalker.",
              asked);
    for (const WString* folder : {&annaFolder, &walkerFolder})
        EXPECT_FALSE(PathExists(folder->Text())) << Narrow(folder->Text());
    for (const WString* sid : {&annaSid, &walkerSid})
        EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + sid->Text()));
    sandbox::Account account;
    EXPECT_TRUE(sandbox::FindAccount(L"anna", &account)) << "an enabled account keeps its account";
    EXPECT_FALSE(sandbox::FindAccount(L"bwalker", &account));
}
