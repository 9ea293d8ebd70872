// The personal-folders dialog in the real main window on the simulated
// machine, driven from a second thread as an operator drives it: the folder
// picker answered by typing a path, moves between C: and drive T: (tmpfs),
// restores, refusals, locked files and the end of the session.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "accounts/lookup.h"
#include "accounts/personal_folders.h"
#include "app/dialogs/account_dialogs.h"
#include "app/main_window.h"
#include "platform/file_move.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/text_win.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"
#include "tests/win/main_window_screen.h"
#include "tests/win/personal_folders_support.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_owner.h"
#include "tests/win/test_support.h"
#include "ui/window.h"

using namespace harness;

namespace {

// The dialog: the popup of the message-box class that holds a list view.
bool HoldsAList(HWND window) { return FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr) != nullptr; }
HWND FoldersDialog() { return VisibleWindow(L"Vantrell_MsgBox", HoldsAList); }

// What the operator's thread sees of the dialog.
class FoldersScreen {
public:
    explicit FoldersScreen(HWND dialog) : dialog_(dialog), list_(FindWindowExW(dialog, nullptr, WC_LISTVIEWW, nullptr)) {}

    HWND Dialog() const { return dialog_; }
    HWND Button(const wchar_t* text) const { return ChildWithText(dialog_, L"Button", text); }
    bool Enabled(const wchar_t* text) const { return IsWindowEnabled(Button(text)) != FALSE; }
    bool Checked(const wchar_t* text) const { return SendMessageW(Button(text), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Press(const wchar_t* text) const { PostMessageW(Button(text), BM_CLICK, 0, 0); }

    int Rows() const { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }
    std::wstring Cell(int row, int column) const
    {
        return ListCellText(list_, row, column).Text();
    }
    int RowOf(const wchar_t* folder) const { return RowWith(list_, 0, folder); }
    bool Select(const wchar_t* folder) const
    {
        int row = RowOf(folder);
        if (row < 0)
            return false;
        SelectRow(list_, row);
        return WaitFor([&] { return Enabled(L"Move selected"); });
    }
    // The progress line, when it is shown.
    std::wstring Progress() const
    {
        for (HWND child : Children(dialog_, L"Static")) {
            std::wstring text = TextOf(child);
            if (IsWindowVisible(child) &&
                (text.rfind(L"Moving files: ", 0) == 0 || text == L"Counting the files to move..."))
                return text;
        }
        return L"";
    }
    HWND LeftLink() const
    {
        HWND button = Button(L"Show the items not moved");
        return button != nullptr && IsWindowVisible(button) ? button : nullptr;
    }

    // Waits for a themed box over the dialog, gives back its text and presses a button.
    std::wstring Answer(const wchar_t* button) const { return AnswerBox(button, dialog_); }

private:
    HWND dialog_;
    HWND list_;
};

// Answers the folder picker as an operator would: types the path into its
// name field and presses the default button.
bool ChooseInPicker(const std::wstring& path)
{
    HWND picker = WaitForPopup(L"#32770", [](HWND found) { return TextOf(found) == L"Select new folder location"; });
    HWND edit = nullptr;
    if (picker == nullptr)
        return false;
    EnumChildWindows(
        picker,
        [](HWND child, LPARAM found) -> BOOL {
            wchar_t className[64] = L"";
            GetClassNameW(child, className, ARRAYSIZE(className));
            if (lstrcmpiW(className, L"Edit") != 0 || !IsWindowVisible(child))
                return TRUE;
            *reinterpret_cast<HWND*>(found) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&edit));
    if (edit == nullptr)
        return false;
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(picker, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(picker, IDOK)));
    return WaitGone(picker);
}

// What the operator is told of the files a move had to leave.
std::wstring Expected(const wchar_t* count)
{
    return std::wstring(count) + L" file objects could not be moved because they are neing used by another "
                                 L"application.\r\n\r\nYou can manually move them later.";
}

std::wstring StoredPlace(const wchar_t* valueName)
{
    return RegText(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                   valueName);
}

using repair_test::Recorded;

class FoldersDialogRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        StartGdiplusForTests();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    void SetUp() override
    {
        ASSERT_TRUE(GetDriveTypeW(L"T:\\") != DRIVE_NO_ROOT_DIR) << "drive T: is not mapped: run make-second-drive.sh";
        ASSERT_TRUE(ResetScenario(L"default"));
        saved_.Save();
        // Every folder starts at its default place, which the set-up made a
        // real folder of the prefix, holding nothing.
        WString sid, profile;
        ASSERT_TRUE(GetAccountSidAndProfile(ProcessUserName().c_str(), sid, &profile));
        // Wine reports no place at all for a folder that is missing, and an
        // earlier move removes the emptied default folder.
        for (const wchar_t* name : {L"Desktop", L"Documents", L"Downloads", L"Music", L"Pictures", L"Videos"})
            CreateDirectoryW((std::wstring(profile.Text()) + L"\\" + name).c_str(), nullptr);
        for (int index = 0; index < 6; ++index) {
            WString current, original;
            ReadFolderLocations(index, nullptr, current, original);
            ASSERT_FALSE(original.IsEmpty()) << "folder " << index << " current " << Narrow(current.Text());
            CleanFolder(original.Text());
            ASSERT_TRUE(SetFolderLocation(sid.Text(), profile.Text(), kPersonalFolders[index].name, original.Text()));
            defaults_[index] = original.Text();
        }
        secondDrive_ = CleanFolder(L"T:\\vantrell-tests\\dialog");
        sandbox::ClearRecord();
    }
    void TearDown() override
    {
        saved_.Restore();
        // Moves remove emptied folders; the places the lists name stay real.
        for (const std::wstring& folder : defaults_) {
            if (!folder.empty())
                CreateDirectoryW(folder.c_str(), nullptr);
        }
    }

    // Runs the main window on this thread; the script opens the dialog on
    // the account's row (the console user's unless named) and plays the
    // operator in it.
    void Run(const std::function<void(FoldersScreen&)>& script, double osVersion = 0.0,
             const wchar_t* account = nullptr)
    {
        RunWithOperator(
            [&](Screen& main, HWND) {
                ASSERT_TRUE(main.Select(account != nullptr ? account : ProcessUserName()));
                main.Press(main.Ids().foldersButton);
                HWND dialog = WaitForPopup(L"Vantrell_MsgBox", HoldsAList);
                ASSERT_NE(nullptr, dialog) << "the dialog did not show";
                FoldersScreen screen(dialog);
                script(screen);
                PostMessageW(dialog, kCloseRequestMessage, 0, 0);
                WaitFor([&] { return FoldersDialog() == nullptr; }, "the dialog to close");
            },
            [&](MainWindow& window) {
                if (osVersion != 0.0)
                    window.osVersion = osVersion;
            });
    }

    SavedShellFolders saved_;
    std::wstring defaults_[6];
    std::wstring secondDrive_;
};

// Documents full enough for the move to be seen going.
uint64_t FillDocuments(const std::wstring& folder)
{
    uint64_t files = 0;
    for (int d = 0; d < 20; ++d) {
        std::wstring sub = folder + L"\\project " + std::to_wstring(d);
        CreateDirectoryW(sub.c_str(), nullptr);
        for (int f = 0; f < 40; ++f, ++files)
            WriteTextFile(sub + L"\\note " + std::to_wstring(f) + L".txt", "note " + std::to_string(f));
    }
    for (int b = 0; b < 3; ++b, ++files)
        WriteTextFile(folder + L"\\film " + std::to_wstring(b) + L".mkv", std::string(48 * 1024 * 1024, 'f'));
    WriteTextFile(folder + L"\\letter.txt", "Dear Sir");
    return files + 1;
}

}  // namespace

TEST_F(FoldersDialogRun, MovesDocumentsToTheOtherDriveWithProgressAndRestoresThem)
{
    const std::wstring documents = defaults_[1];
    const uint64_t files = FillDocuments(documents);
    const std::wstring target = secondDrive_ + L"\\Documents";
    Run([&](FoldersScreen& screen) {
        EXPECT_EQ(6, screen.Rows());
        EXPECT_FALSE(screen.Enabled(L"Move selected"));
        EXPECT_FALSE(screen.Enabled(L"Restore default"));
        EXPECT_TRUE(screen.Checked(L"Also move folder contents"));
        EXPECT_FALSE(screen.Checked(L"Overwrite existing files"));
        ASSERT_TRUE(screen.Select(L"Documents"));
        EXPECT_FALSE(screen.Enabled(L"Restore default"));   // it is at its default place
        EXPECT_EQ(documents, screen.Cell(screen.RowOf(L"Documents"), 1));

        screen.Press(L"Move selected");
        ASSERT_TRUE(ChooseInPicker(target)) << "the folder picker did not take the path";
        // The line counts against the total measured first.
        std::wstring progress;
        const std::wstring total = L" of " + std::to_wstring(files) + L" (";
        EXPECT_TRUE(WaitFor([&] { return (progress = screen.Progress()).find(total) != std::wstring::npos; }, "the progress line"))
            << "no progress against the total: " << Narrow(progress);
        SaveScreenshot(screen.Dialog(), L"personal_folders_during", 40);
        // While contents move, the session may not end.
        SendMessageTimeoutW(FindWindowW(L"Vantrell_WNDCLASS", nullptr), WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 2000,
                            nullptr);
        EXPECT_EQ(L"The selected folder was successfully moved.", screen.Answer(L"OK"));
        EXPECT_EQ(L"", screen.Progress()) << "the progress line goes with the move";
        const int row = screen.RowOf(L"Documents");
        EXPECT_EQ(target, screen.Cell(row, 1));
        screen.Select(L"Documents");
        // "Move selected" was enabled before: wait for the row's own state.
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(L"Restore default"); }));

        EXPECT_EQ("Dear Sir", ReadTextFile(target + L"\\letter.txt"));
        EXPECT_EQ(files, MeasureTree(target.c_str()).files);
        EXPECT_FALSE(PathExists(documents)) << "the emptied old folder is removed";
        EXPECT_EQ(target, StoredPlace(L"Personal"));
        EXPECT_EQ(1u, Recorded(L"ShutdownBlockReasonCreate").size());
        EXPECT_EQ(1u, Recorded(L"ShutdownBlockReasonDestroy").size());
        EXPECT_EQ(1u, Recorded(L"AbortSystemShutdownW").size());

        // Back to the default place, after the question.
        screen.Press(L"Restore default");
        EXPECT_EQ(L"Are you sure you want to restore the selected folder to its original location?",
                  screen.Answer(L"Yes"));
        EXPECT_EQ(L"The selected folder was successfully restored.", screen.Answer(L"OK"));
        EXPECT_EQ(documents, screen.Cell(screen.RowOf(L"Documents"), 1));
        EXPECT_EQ(files, MeasureTree(documents.c_str()).files);
        EXPECT_FALSE(PathExists(target));
    });
    for (const sandbox::RecordedAction& block : Recorded(L"ShutdownBlockReasonCreate"))
        EXPECT_EQ(L"Moving user files, please cancel shutdown", block.details.at(L"reason"));
}

// Another account's folders, in its own hive: loaded only while they are
// read or moved; an account whose session holds its hive gets a message.
TEST_F(FoldersDialogRun, AnotherAccountsFoldersMoveInItsHiveLoadedOnlyMeanwhile)
{
    WString sid, profile;
    ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", sid, &profile));
    const std::wstring documents = std::wstring(profile.Text()) + L"\\Documents", target = secondDrive_ + L"\\hers";
    WriteTextFile(documents + L"\\notes.txt", "hers");
    const std::wstring borrowed = L"HKU\\Vantrell folders " + std::wstring(sid.Text());
    Run([&](FoldersScreen& screen) {
        EXPECT_EQ(documents, screen.Cell(screen.RowOf(L"Documents"), 1));
        EXPECT_FALSE(KeyExists(borrowed.c_str())) << "the hive goes once the list is read";
        ASSERT_TRUE(screen.Select(L"Documents"));
        screen.Press(L"Move selected");
        ASSERT_TRUE(ChooseInPicker(target));
        EXPECT_EQ(L"The selected folder was successfully moved.", screen.Answer(L"OK"));
        EXPECT_EQ(target, screen.Cell(screen.RowOf(L"Documents"), 1));
        EXPECT_FALSE(KeyExists(borrowed.c_str()) || KeyExists((L"HKU\\" + std::wstring(sid.Text())).c_str()));
    }, 0.0, L"mhartley");
    EXPECT_EQ("hers", ReadTextFile(target + L"\\notes.txt"));
    EXPECT_EQ(defaults_[1], StoredPlace(L"Personal")) << "the console user's own folder stays";
    HKEY session = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sandbox::LoadProfile(sid.Text(), &session));
    EXPECT_EQ(target, RegText(session, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                              L"Personal"));
    RunWithOperator([&](Screen& main, HWND) {
        ASSERT_TRUE(main.Select(L"mhartley"));
        main.Press(main.Ids().foldersButton);
        EXPECT_NE(std::wstring::npos, main.Answer(L"OK").find(L"is signed in elsewhere")) << "told, not shown";
        EXPECT_EQ(nullptr, FoldersDialog());
    });
    sandbox::UnloadProfile(sid.Text(), session);
}

TEST_F(FoldersDialogRun, SameNamedFilesAreSkippedUnlessOverwritingIsChosen)
{
    struct Case {
        bool overwrite;
        const char* atTarget;
    } const cases[] = {{false, "old"}, {true, "new"}};
    for (const Case& c : cases) {
        SetUp();
        const std::wstring pictures = defaults_[4];
        const std::wstring target = secondDrive_ + L"\\Pictures";
        CreateDirectoryW(target.c_str(), nullptr);
        WriteTextFile(pictures + L"\\photo.jpg", "new");
        WriteTextFile(target + L"\\photo.jpg", "old");
        Run([&](FoldersScreen& screen) {
            ASSERT_TRUE(screen.Select(L"Pictures"));
            if (c.overwrite) {
                screen.Press(L"Overwrite existing files");
                WaitFor([&] { return screen.Checked(L"Overwrite existing files"); });
            }
            screen.Press(L"Move selected");
            ASSERT_TRUE(ChooseInPicker(target));
            std::wstring text = screen.Answer(L"OK");
            if (c.overwrite)
                EXPECT_EQ(L"The selected folder was successfully moved.", text);
            else
                EXPECT_EQ(Expected(L"1"), text) << Narrow(text);
        });
        EXPECT_EQ(c.atTarget, ReadTextFile(target + L"\\photo.jpg")) << "overwrite " << c.overwrite;
        EXPECT_EQ(c.overwrite ? "(missing)" : "new", ReadTextFile(pictures + L"\\photo.jpg")) << "overwrite " << c.overwrite;
        TearDown();
    }
}

TEST_F(FoldersDialogRun, TwoFilesInUseAreCountedKeptAndListed)
{
    const std::wstring documents = defaults_[1];
    WriteTextFile(documents + L"\\report.docx", "report");
    CreateDirectoryW((documents + L"\\budget").c_str(), nullptr);
    WriteTextFile(documents + L"\\budget\\2026.xlsx", "figures");
    WriteTextFile(documents + L"\\free.txt", "free");
    // Held as an editor holds its documents: nobody else may even read them.
    UniqueFileHandle one(CreateFileW((documents + L"\\report.docx").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    UniqueFileHandle two(CreateFileW((documents + L"\\budget\\2026.xlsx").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(one && two);
    const std::wstring target = secondDrive_ + L"\\Documents";
    Run([&](FoldersScreen& screen) {
        ASSERT_TRUE(screen.Select(L"Documents"));
        screen.Press(L"Move selected");
        ASSERT_TRUE(ChooseInPicker(target));
        std::wstring text = screen.Answer(L"OK");
        EXPECT_EQ(Expected(L"2"), text) << Narrow(text);
        // The operator can see which files stayed.
        HWND link = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (link = screen.LeftLink()) != nullptr; }));
        sandbox::ClearRecord();
        PostMessageW(link, BM_CLICK, 0, 0);
        EXPECT_TRUE(WaitFor([] { return Recorded(L"ShellExecuteExW").size() == 1; }));
    });
    one.Reset();
    two.Reset();
    EXPECT_EQ("report", ReadTextFile(documents + L"\\report.docx"));
    EXPECT_EQ("figures", ReadTextFile(documents + L"\\budget\\2026.xlsx"));
    EXPECT_EQ("free", ReadTextFile(target + L"\\free.txt"));
    EXPECT_TRUE(PathExists(documents)) << "the old folder stays while it holds files";
    const std::vector<sandbox::RecordedAction> opened = Recorded(L"ShellExecuteExW");
    ASSERT_EQ(1u, opened.size());
    const std::wstring listed = opened[0].details.at(L"file");
    std::string bytes = ReadTextFile(listed);
    ASSERT_GE(bytes.size(), 2u) << Narrow(listed);
    std::wstring list(reinterpret_cast<const wchar_t*>(bytes.data()) + 1, bytes.size() / 2 - 1);
    EXPECT_NE(std::wstring::npos, list.find(documents + L"\\report.docx")) << Narrow(list);
    EXPECT_NE(std::wstring::npos, list.find(documents + L"\\budget\\2026.xlsx")) << Narrow(list);
}

TEST_F(FoldersDialogRun, HarmfulDestinationsAreRefusedAndNothingChanges)
{
    const std::wstring documents = defaults_[1];
    WriteTextFile(documents + L"\\letter.txt", "Dear Sir");
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    struct Case {
        std::wstring destination;
        DestinationRefusal refusal;
    } const cases[] = {
        {L"T:\\", DestinationRefusal::DriveRoot},
        {std::wstring(windows) + L"\\My Documents", DestinationRefusal::SystemFolder},
        {documents + L"\\Inside", DestinationRefusal::InsideSource},
        {defaults_[4], DestinationRefusal::OtherFolder},
    };
    Run([&](FoldersScreen& screen) {
        for (const Case& c : cases) {
            ASSERT_TRUE(screen.Select(L"Documents"));
            screen.Press(L"Move selected");
            ASSERT_TRUE(ChooseInPicker(c.destination)) << Narrow(c.destination);
            EXPECT_EQ(RefusalText(c.refusal), screen.Answer(L"OK")) << Narrow(c.destination);
            EXPECT_EQ(documents, screen.Cell(screen.RowOf(L"Documents"), 1));
        }
    });
    EXPECT_EQ("Dear Sir", ReadTextFile(documents + L"\\letter.txt"));
    EXPECT_FALSE(PathExists(std::wstring(windows) + L"\\My Documents"));
    EXPECT_FALSE(PathExists(documents + L"\\Inside"));
    EXPECT_EQ(documents, ExpandEnvironmentText(StoredPlace(L"Personal").c_str()).Text());
    EXPECT_TRUE(Recorded(L"ShutdownBlockReasonCreate").empty());
}

TEST_F(FoldersDialogRun, DownloadsIsAbsentBelowVersion6)
{
    Run([&](FoldersScreen& screen) {
        EXPECT_EQ(5, screen.Rows());
        EXPECT_EQ(-1, screen.RowOf(L"Downloads"));
        EXPECT_EQ(0, screen.RowOf(L"Desktop"));
        EXPECT_EQ(2, screen.RowOf(L"Music"));
    }, 5.1);
}

TEST_F(FoldersDialogRun, DeselectingDisablesBothAndADoubleClickOpensTheFolder)
{
    // Music elsewhere, so that "Restore default" has something to do.
    WString sid, profile;
    ASSERT_TRUE(GetAccountSidAndProfile(ProcessUserName().c_str(), sid, &profile));
    const std::wstring elsewhere = secondDrive_ + L"\\Music";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    ASSERT_TRUE(SetFolderLocation(sid.Text(), profile.Text(), L"Music", elsewhere.c_str()));
    Run([&](FoldersScreen& screen) {
        ASSERT_TRUE(screen.Select(L"Music"));
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(L"Restore default"); }));
        HWND list = FindWindowExW(screen.Dialog(), nullptr, WC_LISTVIEWW, nullptr);
        RECT item{};
        item.left = LVIR_LABEL;
        SendMessageW(list, LVM_GETITEMRECT, screen.RowOf(L"Music"), reinterpret_cast<LPARAM>(&item));
        sandbox::ClearRecord();
        PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(item.left + 5, (item.top + item.bottom) / 2));
        PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(item.left + 5, (item.top + item.bottom) / 2));
        std::vector<sandbox::RecordedAction> opened;
        EXPECT_TRUE(WaitFor([&] { return (opened = Recorded(L"ShellExecuteExW")).size() == 1; }));
        if (!opened.empty()) {
            EXPECT_EQ(elsewhere, opened.back().details[L"file"]);
        }

        SelectRow(list, -1, false);
        EXPECT_TRUE(WaitFor([&] { return !screen.Enabled(L"Move selected") && !screen.Enabled(L"Restore default"); }));
    });
}

// The current places come from the account's own registry, which its user
// can write. Pointed at another account's folder or through a link, a move
// or restore shows where the folder really is and changes nothing. Which
// places are refused is the folder checks' (personal folders' tests); this
// is the dialog acting on their answer. (A folder at its own place moves in
// the tests above.)
TEST_F(FoldersDialogRun, ContentsAreNeverTakenFromAnotherAccountsPlaceOrThroughALink)
{
    WString sid, profile, otherSid, other;
    ASSERT_TRUE(GetAccountSidAndProfile(ProcessUserName().c_str(), sid, &profile));
    ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", otherSid, &other));
    const std::wstring theirs = std::wstring(other.Text()) + L"\\Documents";
    const std::wstring theirDownloads = std::wstring(other.Text()) + L"\\Downloads";
    const std::wstring link = L"C:\\vantrell-folder-links\\link";
    // A deleted account's folder, left under the profiles folder.
    const std::wstring gone = std::filesystem::path(profile.Text()).parent_path().wstring() + L"\\vantrell-gone\\Music";
    for (const std::wstring& folder : {theirs, theirDownloads})
        CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteTextFile(theirs + L"\\private.txt", "hers") &&
                WriteTextFile(theirDownloads + L"\\private.txt", "hers") && WriteTextFile(gone + L"\\old.txt", "gone"));

    struct Case {
        const wchar_t* folder;
        const wchar_t* valueName;
        std::wstring source;
        std::wstring file;       // inside it, and staying there
        const char* content;
        bool restore;
        SourceRefusal refusal;
        std::wstring resolved;   // where the folder really is, as shown
    } const cases[] = {
        {L"Documents", L"Personal", theirs, theirs + L"\\private.txt", "hers", false, SourceRefusal::OtherProfile,
         theirs},
        {L"Pictures", L"My Pictures", link, link + L"\\keep.txt", "keep", false, SourceRefusal::Link,
         L"C:\\vantrell-folder-links\\target"},
        {L"Downloads", L"{374DE290-123F-4565-9164-39C4925E467B}", theirDownloads, theirDownloads + L"\\private.txt",
         "hers", true, SourceRefusal::OtherProfile, theirDownloads},
        {L"Music", L"My Music", gone, gone + L"\\old.txt", "gone", true, SourceRefusal::NotOwnPlace, gone},
    };
    std::wstring stored[ARRAYSIZE(cases)];
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        const Case& c = cases[i];
        ASSERT_TRUE(SetFolderLocation(sid.Text(), profile.Text(), c.folder, c.source.c_str())) << Narrow(c.source);
        stored[i] = StoredPlace(c.valueName);
    }
    sandbox::ClearRecord();
    Run([&](FoldersScreen& screen) {
        for (const Case& c : cases) {
            ASSERT_TRUE(screen.Select(c.folder)) << Narrow(c.folder);
            if (c.restore) {
                ASSERT_TRUE(WaitFor([&] { return screen.Enabled(L"Restore default"); }));
                screen.Press(L"Restore default");
                EXPECT_EQ(L"Are you sure you want to restore the selected folder to its original location?",
                          screen.Answer(L"Yes"));
            } else {
                screen.Press(L"Move selected");
                ASSERT_TRUE(ChooseInPicker(secondDrive_ + L"\\" + c.folder)) << Narrow(c.folder);
            }
            std::wstring text = screen.Answer(L"OK");
            EXPECT_EQ(SourceRefusalText(c.refusal, c.resolved.c_str()).Text(), text) << Narrow(text);
            EXPECT_EQ(c.source, screen.Cell(screen.RowOf(c.folder), 1));
        }
    });
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(stored[i], StoredPlace(c.valueName)) << Narrow(c.folder);
        EXPECT_EQ(c.content, ReadTextFile(c.file)) << Narrow(c.file);
        EXPECT_FALSE(PathExists(secondDrive_ + L"\\" + c.folder)) << Narrow(c.folder);
    }
    EXPECT_EQ("(missing)", ReadTextFile(defaults_[2] + L"\\private.txt")) << "nothing was restored into the default";
    EXPECT_TRUE(Recorded(L"ShutdownBlockReasonCreate").empty());
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(gone).parent_path(), ignored);
}

TEST_F(FoldersDialogRun, TheDesktopMoveRefreshesExplorerAndAMoveWithoutContentsOnlyChangesThePlace)
{
    // An Explorer window of the test's own, on the window's thread.
    static LONG refreshes = 0;
    RegisterFakeExplorer(DefWindowProcW);
    WNDPROC counting = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_KEYDOWN && wParam == VK_F5)
            InterlockedIncrement(&refreshes);
        return DefWindowProcW(window, message, wParam, lParam);
    };
    UniqueWindow explorer(CreateWindowExW(0, L"CabinetWClass", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
    for (int v = 0; v < 3; ++v) {
        HWND child = CreateWindowExW(0, L"DirectUIHWND", L"", WS_CHILD, 0, 0, 5, 5, explorer.Get(), nullptr, nullptr, nullptr);
        SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(counting));
    }
    refreshes = 0;
    // Music moves without its contents: only its place changes.
    const std::wstring music = defaults_[3];
    WriteTextFile(music + L"\\song.mp3", "la la");
    struct Case {
        const wchar_t* folder;
        LONG refreshes;
        bool contents;
    } const cases[] = {{L"Music", 0, false}, {L"Desktop", 1, true}};
    Run([&](FoldersScreen& screen) {
        for (const Case& c : cases) {
            refreshes = 0;
            ASSERT_TRUE(screen.Select(c.folder));
            if (screen.Checked(L"Also move folder contents") != c.contents) {
                screen.Press(L"Also move folder contents");
                WaitFor([&] { return screen.Checked(L"Also move folder contents") == c.contents; });
            }
            screen.Press(L"Move selected");
            ASSERT_TRUE(ChooseInPicker(secondDrive_ + L"\\" + c.folder));
            EXPECT_EQ(L"The selected folder was successfully moved.", screen.Answer(L"OK")) << Narrow(c.folder);
            // The refresh is posted to the window's thread before the box shows.
            WaitForIdle(screen.Dialog());
            EXPECT_TRUE(WaitFor([&] { return refreshes >= c.refreshes; }));
            EXPECT_EQ(c.refreshes, refreshes) << Narrow(c.folder);
        }
    });
    EXPECT_EQ("la la", ReadTextFile(music + L"\\song.mp3"));
    EXPECT_TRUE(PathExists(secondDrive_ + L"\\Music"));
    EXPECT_FALSE(PathExists(secondDrive_ + L"\\Music\\song.mp3"));
    EXPECT_EQ(secondDrive_ + L"\\Music", StoredPlace(L"My Music"));
}

// Without an account there is nothing to show: the call returns at once (a
// dialog, being modal, would hold it until closed) and leaves the owner free.
TEST(PersonalFoldersDialog, NoAccountGetsNoDialog)
{
    UiWindow window;
    ASSERT_NE(nullptr, window.CreateUiWindow(L"Vantrell_TestOwner", L"", 100, 100, 0, 0, WS_POPUP, 0, nullptr));
    TestOwner owner(window);
    PersonalFoldersOwner data;
    data.window = &owner;
    data.consoleUserName = L"";
    data.osVersion = 10.0;
    PersonalFoldersDialog(data, nullptr, L"", L"");
    EXPECT_EQ(nullptr, FoldersDialog());
    EXPECT_FALSE(owner.Busy());
}
