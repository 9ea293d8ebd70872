// The set-up wizard end to end on the simulated machine: the real tool
// window on this thread, the operator's clicks from a second one, and what
// the scheduling leaves on the machine.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <lm.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "accounts/lookup.h"
#include "app/main_window.h"
#include "accounts/groups.h"
#include "accounts/passwords.h"
#include "repair/cleanup.h"
#include "repair/logon_backup.h"
#include "repair/repair_hive.h"
#include "repair/repair_journal.h"
#include "repair/repair_tool.h"
#include "sandbox/state.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"
#include "ui/window.h"

using namespace harness;
using namespace repair_test;

namespace {

constexpr wchar_t kToolClass[] = L"Brenwick_GUI_CLASS";
constexpr wchar_t kBoxClass[] = L"_WINDOW_MsgBoxClass";
constexpr wchar_t kFixUser[] = L"  Fix selected user (next step)";
constexpr wchar_t kFixNow[] = L"  Fix selected account now";
constexpr wchar_t kBack[] = L"  Back to the users list";
constexpr wchar_t kRefresh[] = L"  Refresh the user list";
constexpr wchar_t kAppDataOption[] = L" Keep Windows system appdata from the old account";
constexpr wchar_t kStoreOption[] = L" Keep Windows store apps' package data from the old account";
constexpr wchar_t kSettingsOption[] = L" Keep the account's settings from the old account";

// What the operator's thread sees of the wizard.
class Wizard {
public:
    explicit Wizard(HWND window) : window_(window) {}
    HWND Window() const { return window_; }
    HWND Child(const wchar_t* className, const wchar_t* text) const { return ChildWithText(window_, className, text); }
    HWND List() const { return FindWindowExW(window_, nullptr, L"SysListView32", nullptr); }
    bool Visible(HWND control) const { return control != nullptr && IsWindowVisible(control); }
    bool Enabled(HWND control) const { return control != nullptr && IsWindowEnabled(control); }

    std::vector<std::wstring> Column(int column) const
    {
        std::vector<std::wstring> cells;
        int rows = static_cast<int>(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row)
            cells.push_back(ListCellText(List(), row, column).Text());
        return cells;
    }
    void SetSelected(const std::wstring& name, bool selected) const
    {
        SelectRow(List(), RowWith(List(), 1, name), selected);
    }
    void Press(const wchar_t* button) const { harness::Press(window_, button); }

    // Selects the account's tile and goes on to the options page.
    bool ChooseAccount(const wchar_t* account) const
    {
        SetSelected(account, true);
        if (!WaitFor([&] { return Enabled(Child(L"Button", kFixUser)); }))
            return false;
        Press(kFixUser);
        return WaitFor([&] { return Visible(Child(L"Button", kFixNow)); });
    }
    // A click on a check control's label, as the label reports it.
    void Toggle(const wchar_t* option) const
    {
        HWND label = Child(L"Static", option);
        PostMessageW(window_, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(label), STN_CLICKED), reinterpret_cast<LPARAM>(label));
    }
    // Waits for the tool's message box, gives back its text and presses a button.
    std::wstring Answer(const wchar_t* button) const { return AnswerBox(button, nullptr, kBoxClass); }

private:
    HWND window_;
};

const char kExtraAccounts[] =
    "\n[Account pictured]\nFullName=Pat Pictured\nType=standard\nProfile=yes\nPicture=C0392B\n"
    "\n[Account tpatel]\nFullName=Tara Patel\nType=standard\nDisabled=yes\nProfile=yes\n"
    "\n[Account lowrid]\nRid=999\nType=standard\nProfile=yes\n"
    "\n[Account defaultuser0]\nType=standard\nProfile=yes\n"
    "\n[Account noprofile]\nType=standard\n"
    "\n[Account dnovak]\nFullName=Daniel Novak\nType=guest\nPassword=Novak-Locked\nLockedOut=yes\nProfile=yes\n";
const char kTempAccount[] =
    "\n[Account brenwick_temp_admin]\nFullName=Brenwick temp account\nType=administrator\n"
    "Password=Old-Temp-Pass-1\nProfile=yes\nRepairMade=yes\n";

class RepairWizard : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void SetUp() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(L"C:\\Brenwick", ignored);
        SetMachineDword(kUacKey, L"ConsentPromptBehaviorAdmin", 5);
        SetMachineDword(kUacKey, L"EnableLUA", 1);
        DeleteMachineValue(kStoreKey, L"AutoDownload");
    }
    void Use(const std::string& machine, const std::string& extra)
    {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-wizard.ini", Scenario(machine, extra), &error)) << Narrow(error);
    }

    // Runs the tool on this thread while `script` plays the operator; the
    // window is asked to close afterwards unless the script ended it.
    int Run(const std::function<void(Wizard&)>& script)
    {
        RepairTool tool;
        int result = -1;
        EXPECT_TRUE(RunWithOperatorOn(
            kToolClass, [&] { result = RunRepairTool(tool, GetModuleHandleW(nullptr), L"/brenwick", SW_SHOWMINIMIZED); },
            [&](HWND window) {
                Wizard wizard(window);
                script(wizard);
            }))
            << "the wizard never showed";
        tool.DestroyUiWindow();
        return result;
    }

    // Asks for the account's repair (answering "Yes" when `asked`) and gives
    // back what the operator is told instead: the wizard stays on its second
    // page, and nothing restarts the machine. `also` looks on before it ends.
    std::wstring RefusedRepair(const wchar_t* account, bool asked = true, const std::function<void(Wizard&)>& also = nullptr)
    {
        std::wstring message;
        EXPECT_EQ(0, Run([&](Wizard& w) {
            ASSERT_TRUE(w.ChooseAccount(account));
            w.Press(kFixNow);
            if (asked)
                w.Answer(L"Yes");
            message = w.Answer(L"OK");
            EXPECT_TRUE(WaitFor([&] { return w.Visible(w.Child(L"Button", kFixNow)) && w.Visible(w.Child(L"Button", kBack)); }))
                << "the wizard stays on its second page";
            if (also)
                also(w);
        }));
        EXPECT_TRUE(Recorded(L"ExitWindowsEx").empty());
        return message;
    }
};

TEST_F(RepairWizard, ListsOnlyRepairableAccountsAndMovesBetweenPages)
{
    Use("", kExtraAccounts + std::string(kTempAccount));
    const std::wstring console = sandbox::ProcessUserName();
    int result = Run([&](Wizard& w) {
        EXPECT_EQ(L"Brenwick - Setup", TextOf(w.Window()));
        // The drawn header is the only title bar: no caption, no frame around the client.
        EXPECT_EQ(0, GetWindowLongW(w.Window(), GWL_STYLE) & WS_CAPTION);
        std::vector<std::wstring> names = w.Column(1);
        std::set<std::wstring> listed(names.begin(), names.end());
        EXPECT_EQ((std::set<std::wstring>{console, L"mhartley", L"jokafor", L"dnovak", L"pictured"}), listed);
        EXPECT_EQ(names.size(), listed.size());
        std::vector<std::wstring> titles = w.Column(0), types = w.Column(2), sids = w.Column(3), profiles = w.Column(4);
        for (size_t row = 0; row < names.size(); ++row) {
            if (names[row] == L"mhartley") {
                EXPECT_EQ(L"Maria Hartley", titles[row]);
                EXPECT_EQ(L"Administrator User Account", types[row]);
                WString sid, profile;
                ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", sid, &profile));
                EXPECT_EQ(std::wstring(sid.Text()), sids[row]);
                EXPECT_EQ(std::wstring(profile.Text()), profiles[row]);
            }
            // Images 0 and 1 are the default picture; an account's own comes
            // after them. The account-picture lookup gives every account one:
            // its own, its legacy bitmap, or the generic picture.
            EXPECT_GE(ListImage(w.List(), static_cast<int>(row)), 2) << Narrow(names[row]);
            if (names[row] == L"dnovak" || names[row] == L"jokafor") {
                EXPECT_EQ(names[row] == L"dnovak" ? L"Guest User Account" : L"Standard User Account", types[row]);
            }
        }
        EXPECT_FALSE(IsIconic(w.Window())) << "the wizard shows normally whatever the show command";

        HWND fixUser = w.Child(L"Button", kFixUser);
        EXPECT_FALSE(w.Enabled(fixUser)) << "nothing selected yet";
        w.SetSelected(L"mhartley", true);
        EXPECT_TRUE(WaitFor([&] { return w.Enabled(fixUser); }));
        w.SetSelected(L"mhartley", false);
        EXPECT_TRUE(WaitFor([&] { return !w.Enabled(fixUser); })) << "deselecting the last tile";
        w.SetSelected(L"jokafor", true);
        EXPECT_TRUE(WaitFor([&] { return w.Enabled(fixUser); }));
        WaitForPainted(w.Window());
        SaveScreenshot(w.Window(), L"repair_wizard_page1");

        w.Press(kFixUser);
        HWND fixNow = w.Child(L"Button", kFixNow);
        EXPECT_TRUE(WaitFor([&] { return w.Visible(fixNow); }));
        EXPECT_FALSE(w.Visible(w.List()));
        EXPECT_FALSE(w.Visible(fixUser));
        EXPECT_TRUE(w.Visible(w.Child(L"Static", L"James Okafor (Standard User Account)")));
        EXPECT_TRUE(w.Enabled(w.Child(L"Static", kStoreOption))) << "version 10 lets the store option be chosen";
        WaitForPainted(w.Window());
        SaveScreenshot(w.Window(), L"repair_wizard_page2");

        w.Press(kBack);
        EXPECT_TRUE(WaitFor([&] { return w.Visible(w.List()) && !w.Visible(fixNow); }));
        EXPECT_TRUE(w.Enabled(fixUser)) << "the chosen tile is still selected";
        EXPECT_TRUE(w.Visible(w.Child(L"Button", kRefresh)));

        w.Press(kRefresh);
        EXPECT_TRUE(WaitFor([&] { return !w.Enabled(fixUser); })) << "a refreshed list has no selection";
        EXPECT_EQ(5u, w.Column(1).size());
    });
    EXPECT_EQ(0, result);
    EXPECT_TRUE(Recorded(L"ExitWindowsEx").empty());
}

// The second page says what the repair cannot carry, counted in the chosen
// account's profile, and the options make room for a longer text.
TEST_F(RepairWizard, TheSecondPageWarnsOfWhatTheRepairCannotCarry)
{
    struct Case {
        const char* name;
        int masterKeys;                  // GUID-named files in Protect\<SID>, beside "Preferred"
        const wchar_t* expectedPart;     // in the warnings' text
        size_t lines;
        int fontHeight;                  // the warnings' font made this tall, in pixels, standing for more lines; 0: as it is
    };
    static const Case kCases[] = {
        {"plain profile", 0, L"Windows will ask again which program opens each type of file.", 1, 0},
        {"two master keys", 2, L"2 data-protection key(s) of the old account will be lost", 2, 0},
        {"five master keys, in more lines", 5, L"5 data-protection key(s) of the old account will be lost", 2, 22},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Use("", "");
        WString sid, profile;
        ASSERT_TRUE(GetAccountSidAndProfile(L"jokafor", sid, &profile));
        const std::filesystem::path protect =
            std::filesystem::path(profile.Text()) / L"AppData\\Roaming\\Microsoft\\Protect" / sid.Text();
        std::filesystem::create_directories(protect);
        std::ofstream(protect / L"Preferred") << "pointer";
        for (int i = 0; i < c.masterKeys; ++i)
            std::ofstream(protect / (L"1b2c3d4e-0000-4000-8000-00000000000" + std::to_wstring(i))) << "key";

        std::wstring text;
        RECT warnings{}, option{}, lastOption{}, back{}, fixNow{};
        int textHeight = 0;
        UniqueFont font(c.fontHeight == 0 ? nullptr : CreateFontW(c.fontHeight, 0, 0, 0, FW_NORMAL, 0, 0, 0,
                                                                   DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
        Run([&](Wizard& w) {
            ASSERT_TRUE(w.ChooseAccount(L"jokafor"));
            HWND label = nullptr;
            for (HWND child = nullptr; (child = FindWindowExW(w.Window(), child, L"Static", nullptr)) != nullptr;)
                if (TextOf(child).find(L"type of file") != std::wstring::npos)
                    label = child;
            ASSERT_TRUE(w.Visible(label));
            if (font) {
                // The page laid out again for the taller text.
                SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
                w.Press(kBack);
                ASSERT_TRUE(WaitFor([&] { return w.Visible(w.List()); }));
                ASSERT_TRUE(w.ChooseAccount(L"jokafor"));
            }
            text = TextOf(label);
            GetWindowRect(label, &warnings);
            RECT needed{0, 0, warnings.right - warnings.left, 0};
            HDC dc = GetDC(label);
            HGDIOBJ before = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
            DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            SelectObject(dc, before);
            ReleaseDC(label, dc);
            textHeight = needed.bottom;
            GetWindowRect(w.Child(L"Static", kStoreOption), &option);
            GetWindowRect(w.Child(L"Static", kSettingsOption), &lastOption);
            GetWindowRect(w.Child(L"Button", kBack), &back);
            GetWindowRect(w.Child(L"Button", kFixNow), &fixNow);
        });
        std::filesystem::remove_all(protect);
        EXPECT_NE(std::wstring::npos, text.find(c.expectedPart)) << Narrow(text);
        EXPECT_EQ(c.lines, static_cast<size_t>(std::count(text.begin(), text.end(), L'\n')) + 1) << Narrow(text);
        EXPECT_LE(warnings.bottom, option.top) << "the options lie below the warnings";
        EXPECT_LT(lastOption.bottom, std::min(back.top, fixNow.top)) << "the options clear the buttons";
        EXPECT_GE(warnings.bottom - warnings.top, textHeight) << "the whole text is shown";
    }
}

TEST_F(RepairWizard, NoChangesNothingAndYesSchedulesTheRepairEvenAsTheSessionEnds)
{
    Use("", "");
    const std::wstring consentBefore = MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin");
    const std::wstring userConsentBefore = MachineValue(kUacKey, L"ConsentPromptBehaviorUser");
    std::wstring noText, yesText;
    int result = Run([&](Wizard& w) {
        ASSERT_TRUE(w.ChooseAccount(L"mhartley"));
        w.Toggle(kAppDataOption);

        w.Press(kFixNow);
        noText = w.Answer(L"No");
        // The answer is handled once the wizard takes messages again; then a
        // wrong scheduling would have begun.
        WaitForIdle(w.Window());
        EXPECT_FALSE(AccountExists(L"brenwick_temp_admin"));
        EXPECT_FALSE(std::filesystem::exists(L"C:\\Brenwick"));

        w.Press(kFixNow);
        yesText = w.Answer(L"Yes");
        // While it schedules, the end of the session is told why it must wait.
        PostMessageW(w.Window(), WM_QUERYENDSESSION, 0, 0);
        WaitGone(w.Window());
    });
    EXPECT_EQ(0, result);
    auto blocks = Recorded(L"ShutdownBlockReasonCreate");
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(L"Brenwick is working. Please cancel shutdown.", blocks[0].details[L"reason"]);
    EXPECT_EQ(L"Brenwick will now reboot your computer to fix the selected user account.\r\n\r\nAre you sure you "
              L"want to proceed with the repair operation?",
              noText);
    EXPECT_EQ(noText, yesText);

    // The temporary administrator, its password only in the secret.
    DWORD privilege = 0;
    ASSERT_TRUE(AccountExists(L"brenwick_temp_admin", &privilege));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_ADMIN), privilege);
    bool found = false;
    const std::wstring password = Secret(L"DefaultPassword", &found);
    ASSERT_TRUE(found);
    EXPECT_EQ(24u, password.size());
    HANDLE token = nullptr;
    EXPECT_TRUE(machine::LogonUserW(L"brenwick_temp_admin", L".", password.c_str(), LOGON32_LOGON_INTERACTIVE,
                                    LOGON32_PROVIDER_DEFAULT, &token))
        << "the secret is the account's password";
    if (token != nullptr)
        CloseHandle(token);
    EXPECT_EQ(L"brenwick_temp_admin", MachineValue(kWinlogonKey, L"DefaultUserName"));
    EXPECT_EQ(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
    EXPECT_EQ(L"(missing)", MachineValue(kWinlogonKey, L"DefaultPassword"));

    // The folder, the copied executable, the state file and the log.
    wchar_t module[2048] = L"";
    GetModuleFileNameW(nullptr, module, 2048);
    EXPECT_EQ(std::filesystem::file_size(module), std::filesystem::file_size(L"C:\\Brenwick\\Brenwick.exe"));
    const std::wstring state = L"C:\\Brenwick\\Brenwick.ini";
    std::string stateBytes = ReadBytes(state);
    EXPECT_EQ(0u, stateBytes.find("\xEF\xBB\xBF")) << stateBytes;
    wchar_t sections[512] = {};
    DWORD length = GetPrivateProfileSectionNamesW(sections, ARRAYSIZE(sections), state.c_str());
    EXPECT_EQ(std::wstring(L"mhartley"), std::wstring(sections, wcslen(sections)));
    EXPECT_EQ(wcslen(sections) + 1, length) << "exactly one section";
    wchar_t lines[2048] = {};
    GetPrivateProfileSectionW(L"mhartley", lines, ARRAYSIZE(lines), state.c_str());
    std::set<std::wstring> keys;
    for (const wchar_t* line = lines; *line != L'\0'; line += wcslen(line) + 1)
        keys.insert(line);
    EXPECT_EQ((std::set<std::wstring>{L"LUAState=1", L"UACState=" + consentBefore, L"UACUserState=" + (userConsentBefore == L"(missing)" ? std::wstring(L"4294967295") : userConsentBefore), L"FullName=Maria Hartley",
                                      L"UserPriv=2", L"AADState=4321"}),
              keys);
    std::string log = ReadBytes(L"C:\\Brenwick\\BrenwickLog.txt");
    EXPECT_EQ(0u, log.find("\xEF\xBB\xBF\r\n\t************ Brenwick log ************\r\n\r\n")) << log;
    EXPECT_EQ(log.size() - strlen(": Repair operation sheduled. The computer will reboot now."),
              log.find(": Repair operation sheduled. The computer will reboot now."))
        << log;
    const std::string narrowPassword(password.begin(), password.end());
    EXPECT_EQ(std::string::npos, stateBytes.find(narrowPassword));
    EXPECT_EQ(std::string::npos, log.find(narrowPassword));

    // Both shortcuts, resolvable, with the copied executable as their target.
    WString sid, profile;
    ASSERT_TRUE(GetAccountSidAndProfile(L"brenwick_temp_admin", sid, &profile));
    WString desktop, startup;
    ASSERT_TRUE(ProfileFolderPath(CSIDL_DESKTOPDIRECTORY, profile.Text(), desktop));
    ASSERT_TRUE(ProfileFolderPath(CSIDL_STARTUP, profile.Text(), startup));
    const std::wstring links[] = {std::wstring(desktop.Text()) + L"\\Fix mhartley account profile.lnk",
                                  std::wstring(startup.Text()) + L"\\BrenwickTask.lnk"};
    for (const std::wstring& file : links)
        EXPECT_EQ(Show(L"C:\\Brenwick\\Brenwick.exe |  /brenwick /fixuser \"mhartley\" /fixflag=2 | C:\\Brenwick | "
                       L"This action repairs the account profile for the \"mhartley\" user."),
                  Show(ReadLink(file)));

    // The policies, and the reboot asked for once.
    EXPECT_EQ(L"0", MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin"));
    EXPECT_EQ(L"3", MachineValue(kUacKey, L"ConsentPromptBehaviorUser"));
    EXPECT_EQ(L"1", MachineValue(kUacKey, L"EnableLUA"));
    EXPECT_EQ(L"2", MachineValue(kStoreKey, L"AutoDownload"));
    auto reboots = Recorded(L"ExitWindowsEx");
    ASSERT_EQ(1u, reboots.size());
    EXPECT_EQ(std::to_wstring(EWX_REBOOT | EWX_FORCEIFHUNG), reboots[0].details[L"flags"]);
}

TEST_F(RepairWizard, ATemporaryAccountThatCannotBeMadeIsReported)
{
    Use("MinimumPasswordLength=30\n", "");
    EXPECT_EQ(L"Sorry, the temporary user account could not be created.\r\n\r\nPlease try again later.",
              RefusedRepair(L"jokafor", true, [](Wizard& w) {
                  EXPECT_EQ(nullptr, w.Child(L"Static", L"Preparing to reboot to the temporary account..."));
              }));
    EXPECT_FALSE(AccountExists(L"brenwick_temp_admin"));
    EXPECT_FALSE(std::filesystem::exists(L"C:\\Brenwick\\Brenwick.ini"));
}

TEST_F(RepairWizard, NoStartupFolderIsReportedAndTheAccountRemoved)
{
    // An existing temporary administrator without a profile is reused; the
    // profile service is missing, so no Startup folder can be found.
    Use("ProfileService=no\nAutoLogon=jokafor\n",
        "\n[Account brenwick_temp_admin]\nType=administrator\nPassword=Old-Temp-Pass-1\nRepairMade=yes\n");
    EXPECT_EQ(L"Sorry, the associated autorun entry could not be created.\r\n\r\nPlease try again later.",
              RefusedRepair(L"jokafor"));
    EXPECT_FALSE(AccountExists(L"brenwick_temp_admin"));
    // The earlier automatic sign-in was recorded, then left as it was, and
    // the copy of its password discarded.
    EXPECT_EQ(L"jokafor", MachineValue(kWinlogonKey, L"DefaultUserName"));
    EXPECT_EQ(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
    bool found = false;
    EXPECT_EQ(L"Okafor-Spring", Secret(L"DefaultPassword", &found));
    Secret(kSavedLogonSecret, &found);
    EXPECT_FALSE(found);
    wchar_t saved[64] = L"";
    GetPrivateProfileStringW(L"jokafor", L"PrevLogonUser", L"", saved, 64, L"C:\\Brenwick\\Brenwick.ini");
    EXPECT_EQ(std::wstring(L"jokafor"), std::wstring(saved));
    // What the steps before changed stays: the state file and the store value.
    EXPECT_TRUE(std::filesystem::exists(L"C:\\Brenwick\\Brenwick.ini"));
    EXPECT_EQ(L"2", MachineValue(kStoreKey, L"AutoDownload"));
}

// A repair not yet ended (here one whose old account is already deleted)
// resumes only from its journal, its state file and its start-up shortcut:
// a new set-up must leave them, and the temporary account's password, alone.
TEST_F(RepairWizard, AnUnfinishedRepairIsNeverReplacedByANewOne)
{
    Use("", kTempAccount);
    WString sid, profile;
    ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", sid, &profile));
    std::filesystem::create_directories(L"C:\\Brenwick");
    RepairJournal journal;
    journal.account = L"mhartley";
    journal.oldSid = sid.Text();
    journal.oldProfile = profile.Text();
    journal.stepsDone = 2;
    ASSERT_TRUE(WriteJournal(L"C:\\Brenwick\\BrenwickJournal.txt", journal));
    const std::string before = ReadBytes(L"C:\\Brenwick\\BrenwickJournal.txt");
    EXPECT_EQ(L"Brenwick has not finished repairing the \"mhartley\" account.\r\n\r\nRestart the computer: the "
              L"repair goes on in the temporary account. A new repair can be started once that one is complete.",
              RefusedRepair(L"jokafor", false));
    EXPECT_EQ(before, ReadBytes(L"C:\\Brenwick\\BrenwickJournal.txt"));
    EXPECT_FALSE(std::filesystem::exists(L"C:\\Brenwick\\Brenwick.ini"));
    HANDLE token = nullptr;
    EXPECT_TRUE(machine::LogonUserW(L"brenwick_temp_admin", L".", L"Old-Temp-Pass-1", LOGON32_LOGON_INTERACTIVE,
                                    LOGON32_PROVIDER_DEFAULT, &token))
        << "the temporary account keeps the password its sign-in knows";
    if (token != nullptr)
        CloseHandle(token);
}

// A set-up that cannot make the temporary account sign in automatically must
// not restart to a sign-in screen nobody can pass: it puts everything back
// and says why. (A state file in the way can no longer be planted: the set-up
// moves a folder it did not make aside and makes its own.)
TEST_F(RepairWizard, ASchedulingThatCannotFinishIsUndoneAndSaysWhy)
{
    Use("", "");
    sandbox::SetCallFailure(L"LsaStorePrivateData", 0xC0000022);
    const std::wstring message = RefusedRepair(L"mhartley");
    sandbox::SetCallFailure(L"LsaStorePrivateData", 0);
    EXPECT_EQ(L"Sorry, the temporary user account could not be set to sign in automatically.\r\n\r\nThe repair was "
              L"not scheduled and the changes were undone. Please try again later.",
              message);
    EXPECT_FALSE(AccountExists(L"brenwick_temp_admin"));
    EXPECT_FALSE(std::filesystem::is_regular_file(L"C:\\Brenwick\\Brenwick.ini"));
    EXPECT_EQ(L"5", MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin"));
    EXPECT_EQ(L"1", MachineValue(kUacKey, L"EnableLUA"));
    EXPECT_EQ(L"(missing)", MachineValue(kStoreKey, L"AutoDownload"));
    EXPECT_EQ(L"0", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
    EXPECT_NE(L"brenwick_temp_admin", MachineValue(kWinlogonKey, L"DefaultUserName"));
}

TEST_F(RepairWizard, ASecondStartBringsTheOpenWizardForward)
{
    Use("", "");
    int second = 99;
    int result = Run([&](Wizard& w) {
        ShowWindow(w.Window(), SW_MINIMIZE);
        ASSERT_TRUE(WaitFor([&] { return IsIconic(w.Window()) != FALSE; }));
        RepairTool again;
        second = RunRepairTool(again, GetModuleHandleW(nullptr), L"/brenwick", SW_SHOW);
        EXPECT_EQ(nullptr, again.Handle()) << "no second window";
        EXPECT_TRUE(WaitFor([&] { return !IsIconic(w.Window()); })) << "the open wizard is restored";
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, second);
}

TEST_F(RepairWizard, HeaderLinksMinimiseAndTheEndOfTheSession)
{
    Use("", "");
    int result = Run([&](Wizard& w) {
        HWND home = w.Child(L"SysLink", L"<a>By the Vantrell team</a>");
        HWND help = w.Child(L"SysLink", L"<a>Online help</a>");
        ASSERT_NE(nullptr, home);
        ASSERT_NE(nullptr, help);
        size_t expected = 0;
        for (HWND link : {home, help}) {
            NMLINK click{};
            click.hdr.hwndFrom = link;
            click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(link));
            click.hdr.code = NM_CLICK;
            SendMessageW(w.Window(), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
            // A click's notification comes while the wizard handles the
            // click's own input; sent from this thread it is handled inside
            // the wizard's wait without ending it, so wake the wait as that
            // input would.
            PostMessageW(w.Window(), WM_NULL, 0, 0);
            ++expected;
            EXPECT_TRUE(WaitFor([&] { return Recorded(L"ShellExecuteExW").size() == expected; }));
        }
        // The frame's own minimise button, drawn at (640, 5) in the header.
        HWND minimise = ChildWindowFromPointEx(w.Window(), POINT{650, 15}, CWP_SKIPINVISIBLE | CWP_SKIPDISABLED);
        ASSERT_NE(nullptr, minimise);
        PostMessageW(w.Window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(minimise), STN_CLICKED),
                     reinterpret_cast<LPARAM>(minimise));
        EXPECT_TRUE(WaitFor([&] { return IsIconic(w.Window()) != FALSE; }));
        ShowWindow(w.Window(), SW_RESTORE);
        // While nothing is under way the end of the session closes the wizard.
        PostMessageW(w.Window(), WM_QUERYENDSESSION, 0, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(w.Window()); }));
    });
    EXPECT_EQ(0, result);
    auto opened = Recorded(L"ShellExecuteExW");
    ASSERT_EQ(2u, opened.size());
    EXPECT_EQ(kBrenwickHomePage, opened[0].details[L"file"]);
    EXPECT_EQ(kBrenwickHelpPage, opened[1].details[L"file"]);
    EXPECT_EQ(L"5", opened[1].details[L"show"]);
    EXPECT_EQ(L"", opened[1].details[L"verb"]);
    EXPECT_EQ(std::to_wstring(SEE_MASK_NOCLOSEPROCESS), opened[1].details[L"mask"]);
    EXPECT_TRUE(Recorded(L"ShutdownBlockReasonCreate").empty());
    EXPECT_FALSE(AccountExists(L"brenwick_temp_admin"));
}

// The main window's launch label: the main window goes first, the tool
// opens in the same process, and the process ends with the tool's result.
TEST_F(RepairWizard, LaunchedFromTheMainWindowAfterItIsGone)
{
    Use("", "");
    MainWindow window;
    std::atomic<bool> mainGoneFirst{false}, toolShown{false};
    std::thread operatorThread([&] {
        HWND main = WaitForPopup(L"Vantrell_WNDCLASS");
        if (main == nullptr)
            return;
        HWND label = ChildWithText(main, L"Static", L"Launch Brenwick");
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(label), STN_CLICKED), reinterpret_cast<LPARAM>(label));
        HWND tool = nullptr;
        if (WaitFor([&] { return (tool = VisibleWindow(kToolClass)) != nullptr; })) {
            toolShown = true;
            mainGoneFirst = !IsWindow(main);
            WaitForIdle(tool);
            PostMessageW(tool, kCloseRequestMessage, 0, 0);
        }
    });
    int result = RunMainWindow(window, GetModuleHandleW(nullptr), L"", SW_SHOW);
    operatorThread.join();
    EXPECT_TRUE(toolShown);
    EXPECT_TRUE(mainGoneFirst);
    EXPECT_EQ(0, result);
    EXPECT_EQ(nullptr, window.Handle());
}


TEST_F(RepairWizard, ASecondStartBesideASilentFixRunOpensItsOwnWindowAndLeavesThatOneHidden)
{
    Use("", "");
    UiWindow silent;
    ASSERT_NE(nullptr, silent.CreateUiWindow(kToolClass, L"Brenwick - Fix User Profile", 300, 200, -1, -1, -1, -1,
                                             nullptr));
    ASSERT_FALSE(IsWindowVisible(silent.Handle()));
    bool shownMeanwhile = true;
    int result = Run([&](Wizard& w) {
        EXPECT_NE(silent.Handle(), w.Window());
        shownMeanwhile = IsWindowVisible(silent.Handle()) != FALSE;
    });
    EXPECT_EQ(0, result);
    EXPECT_FALSE(shownMeanwhile) << "the silent run's window must stay hidden";
    silent.DestroyUiWindow();
}


// The set-up, then the clean-up as the repaired account's shortcut runs it:
// the machine is left as it was found.
TEST_F(RepairWizard, SetUpThenCleanUpLeavesTheMachineAsFound)
{
    Use("AutoLogon=jokafor\n", "");
    SetMachineDword(kStoreKey, L"AutoDownload", 4);
    SetMachineDword(kUacKey, L"ConsentPromptBehaviorAdmin", 2);
    SetMachineDword(kUacKey, L"EnableLUA", 1);
    int result = Run([&](Wizard& w) {
        ASSERT_TRUE(w.ChooseAccount(L"jokafor"));
        w.Press(kFixNow);
        w.Answer(L"Yes");
        WaitGone(w.Window());
    });
    EXPECT_EQ(0, result);
    ASSERT_EQ(1u, Recorded(L"ExitWindowsEx").size());
    ASSERT_EQ(L"brenwick_temp_admin", MachineValue(kWinlogonKey, L"DefaultUserName"));
    ASSERT_EQ(L"0", MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin"));
    ASSERT_EQ(L"2", MachineValue(kStoreKey, L"AutoDownload"));
    bool found = false;
    Secret(kSavedLogonSecret, &found);
    ASSERT_TRUE(found) << "the earlier sign-in's password is kept in the tool's secret";

    // The fix run's hand-over puts the prompt back; the finish at the next
    // start the sign-in and removes the temporary account; the account's own
    // clean-up opens the log.
    sandbox::ClearRecord();
    CleanupInput input;
    input.consoleUserName = L"jokafor";
    input.osVersion = 10.0;
    input.toolFolder = L"C:\\Brenwick";
    input.logPath = L"C:\\Brenwick\\BrenwickLog.txt";
    RestoreSavedPolicies(L"C:\\Brenwick\\Brenwick.ini", L"jokafor", 10.0, input.logPath);
    RepairJournal journal;
    journal.account = L"jokafor";
    journal.outcome = RepairOutcome::NotRepaired;
    ASSERT_TRUE(WriteJournal(JournalPath(input.toolFolder).Text(), journal));
    EXPECT_EQ(FinishResult::Done, FinishRepair(input));
    EXPECT_EQ(-13, RunCleanup(input));

    EXPECT_FALSE(AccountExists(L"brenwick_temp_admin"));
    DWORD privilege = 99;
    EXPECT_TRUE(AccountExists(L"jokafor", &privilege));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), privilege);
    EXPECT_EQ(L"2", MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin"));
    EXPECT_EQ(L"1", MachineValue(kUacKey, L"EnableLUA"));
    EXPECT_EQ(L"4", MachineValue(kStoreKey, L"AutoDownload"));
    EXPECT_EQ(L"jokafor", MachineValue(kWinlogonKey, L"DefaultUserName"));
    EXPECT_EQ(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
    EXPECT_EQ(L"Okafor-Spring", Secret(L"DefaultPassword", &found));
    Secret(kSavedLogonSecret, &found);
    EXPECT_FALSE(found);
    std::string log = ReadBytes(L"C:\\Brenwick\\BrenwickLog.txt");
    EXPECT_EQ(1u, Occurrences(log, "Repair operation sheduled."));
    EXPECT_EQ(1u, Occurrences(log, "Successfully deleted Brenwick's temp account."));
    EXPECT_EQ(1u, Occurrences(log, "*** End of repair operation")) << log;
    EXPECT_EQ(0u, Occurrences(log, "is not valid")) << log;
    auto opened = Recorded(L"ShellExecuteExW");
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(L"C:\\Brenwick\\BrenwickLog.txt", opened[0].details[L"file"]);
}

}  // namespace
