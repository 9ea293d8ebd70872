// The real main window on the simulated machine, driven from a second
// thread with the messages an operator's clicks and keys produce.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <lm.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "accounts/groups.h"
#include "accounts/profile_keys.h"
#include "app/main_window.h"
#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "tests/win/screen_capture.h"
#include "ui/window.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring ProcessUser()
{
    wchar_t name[256] = L"";
    DWORD length = ARRAYSIZE(name);
    GetUserNameW(name, &length);
    return name;
}

// Polls until `done` holds, up to the window tests' wait limit; the
// assertion around the call names the condition.
bool WaitFor(const std::function<bool()>& done, const char* what = "the condition asserted below")
{
    return WaitUntil(what, done);
}

HWND VisibleWindow(const wchar_t* className)
{
    HWND found = FindWindowW(className, nullptr);
    return found != nullptr && IsWindowVisible(found) ? found : nullptr;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

// What the operator's thread sees of the main window.
class Screen {
public:
    explicit Screen(MainWindow& window) : window_(window) {}

    HWND Handle(int32_t id) const
    {
        const ControlEntry* control = window_.Control(id);
        return control != nullptr ? control->handle : nullptr;
    }
    bool Checked(int32_t id) const { return SendMessageW(Handle(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int32_t id) const { return IsWindowEnabled(Handle(id)) != FALSE; }
    std::wstring Text(int32_t id) const { return TextOf(Handle(id)); }
    int Selection(int32_t id) const { return static_cast<int>(SendMessageW(Handle(id), CB_GETCURSEL, 0, 0)); }
    const MainWindowControls& Ids() const { return window_.ids; }

    int RowOf(const std::wstring& accountName) const
    {
        HWND list = Handle(Ids().accountList);
        int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row) {
            if (Cell(row, 1) == accountName)
                return row;
        }
        return -1;
    }
    std::wstring Cell(int row, int column) const
    {
        wchar_t text[512] = L"";
        LVITEMW cell{};
        cell.iSubItem = column;
        cell.pszText = text;
        cell.cchTextMax = ARRAYSIZE(text);
        SendMessageW(Handle(Ids().accountList), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
        return text;
    }

    // Selects the account's row as a click would, and waits for the panel.
    bool Select(const std::wstring& accountName) const
    {
        int row = RowOf(accountName);
        if (row < 0)
            return false;
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(Handle(Ids().accountList), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        return WaitFor([&] { return Text(Ids().accountNameField) == accountName; },
                       "the panel to show the selected account");
    }
    void Press(int32_t id) const { PostMessageW(Handle(id), BM_CLICK, 0, 0); }
    void Choose(int32_t list, int item) const { SendMessageW(Handle(list), CB_SETCURSEL, item, 0); }

    // Waits for a themed box, gives back its text and presses one of its buttons.
    std::wstring Answer(const wchar_t* button) const
    {
        HWND box = nullptr;
        if (!WaitFor([&] { return (box = VisibleWindow(L"Vantrell_MsgBox")) != nullptr; }, "a themed box"))
            return L"(no box)";
        WaitForPainted(box);
        std::wstring text = TextOf(FindWindowExW(box, nullptr, L"Static", nullptr));
        PostMessageW(FindWindowExW(box, nullptr, L"Button", button), BM_CLICK, 0, 0);
        WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, "the answered box to close");
        return text;
    }

private:
    MainWindow& window_;
};

USER_INFO_3 Stored(const wchar_t* name, std::wstring* fullName = nullptr, bool* found = nullptr)
{
    LPBYTE buffer = nullptr;
    USER_INFO_3 copy{};
    bool ok = machine::NetUserGetInfo(nullptr, name, 3, &buffer) == NERR_Success && buffer != nullptr;
    if (ok) {
        copy = *reinterpret_cast<USER_INFO_3*>(buffer);
        if (fullName != nullptr)
            *fullName = copy.usri3_full_name != nullptr ? copy.usri3_full_name : L"";
        copy.usri3_name = copy.usri3_full_name = nullptr;   // not valid past the buffer
        copy.usri3_comment = copy.usri3_usr_comment = copy.usri3_home_dir = copy.usri3_profile = nullptr;
    }
    if (buffer != nullptr)
        machine::NetApiBufferFree(buffer);
    if (found != nullptr)
        *found = ok;
    return copy;
}

class MainWindowRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void SetUp() override { Reset(L"default"); }
    void Reset(const wchar_t* scenario)
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) << Narrow(error);
        sandbox::ClearRecord();
    }

    // Runs the window on this thread while `script` plays the operator; the
    // window is closed afterwards through its close button's event.
    void Run(const std::function<void(Screen&, HWND)>& script)
    {
        MainWindow window;
        std::atomic<bool> ran{false};
        std::thread operatorThread([&] {
            HWND main = nullptr;
            if (WaitFor([&] { return (main = VisibleWindow(L"Vantrell_WNDCLASS")) != nullptr; },
                        "the main window to show")) {
                WaitForPainted(main);
                Screen screen(window);
                script(screen, main);
                ran = true;
                PostMessageW(main, kCloseRequestMessage, 0, 0);
            }
        });
        int result = RunMainWindow(window, GetModuleHandleW(nullptr), L"", SW_SHOW);
        operatorThread.join();
        EXPECT_TRUE(ran) << "the main window never showed";
        EXPECT_EQ(0, result);
    }
};

// Expected panel: every control's check and enabled state for one account.
struct PanelCase {
    const wchar_t* scenario;
    const wchar_t* account;   // "*" is the console user, the account running the tests
    const wchar_t* display;
    int privilege;
    bool displayEnabled, privilegeEnabled;
    bool disabled, disabledEnabled;
    bool lockedOut, lockedOutEnabled;
    bool cannotChange, notRequired, neverExpires;
    bool expired, expiredEnabled;
    bool autoLogon, autoLogonEnabled;
    bool hidden, hiddenEnabled;
    bool foldersEnabled, deleteEnabled;
    const wchar_t* screenshot;
};

}  // namespace

TEST_F(MainWindowRun, PanelShowsEveryKindOfAccount)
{
    // clang-format off
    const PanelCase cases[] = {
        // scenario, account, display, priv, dispE, privE, dis, disE, lock, lockE, cant, notReq, never, exp, expE, auto, autoE, hid, hidE, fold, del
        {L"default", L"Administrator", L"Administrator", 2, false, false, true, true, false, false, false, false, false, false, false, false, false, false, true, false, false, L"main_window_builtin"},
        {L"default", L"*", L"Office Manager", 2, true, false, false, false, false, false, false, false, true, false, false, false, true, false, false, true, false, L"main_window_console_user"},
        {L"default", L"mhartley", L"Maria Hartley", 2, true, true, false, true, false, false, false, false, false, false, false, false, true, false, true, false, true, nullptr},
        {L"default", L"lchen", L"lchen", 1, true, true, false, true, false, false, false, false, false, false, false, false, true, false, true, false, true, nullptr},
        {L"default", L"tpatel", L"Tara Patel", 1, true, true, true, true, false, false, false, false, false, false, false, false, false, false, true, false, true, L"main_window_disabled"},
        {L"default", L"dnovak", L"Daniel Novak", 1, true, true, false, true, true, true, false, false, false, false, false, false, false, false, true, false, true, L"main_window_locked_out"},
        {L"default", L"skowalski", L"Sofia Kowalski", 1, true, true, false, true, false, false, false, false, false, true, true, false, true, false, true, false, true, L"main_window_expired"},
        {L"default", L"reception", L"Front Desk", 1, true, true, false, true, false, false, true, false, false, false, false, false, false, true, true, false, true, L"main_window_hidden"},
        {L"default", L"visitor", L"Visitor", 0, true, true, false, true, false, false, false, true, false, false, false, false, true, false, true, false, true, nullptr},
        {L"auto-logon", L"jokafor", L"James Okafor", 1, true, true, false, true, false, false, false, false, true, false, false, true, true, false, true, false, true, L"main_window_auto_logon"},
    };
    // clang-format on
    for (const wchar_t* scenario : {L"default", L"auto-logon"}) {
        Reset(scenario);
        Run([&](Screen& screen, HWND main) {
            const MainWindowControls& ids = screen.Ids();
            for (const PanelCase& c : cases) {
                if (std::wstring(c.scenario) != scenario)
                    continue;
                std::wstring account = std::wstring(c.account) == L"*" ? ProcessUser() : c.account;
                std::string what = Narrow(account);
                ASSERT_TRUE(screen.Select(account)) << what << ": no panel for the row";
                EXPECT_EQ(c.display, screen.Text(ids.displayNameField)) << what;
                EXPECT_FALSE(screen.Enabled(ids.accountNameField)) << what;
                EXPECT_EQ(c.privilege, screen.Selection(ids.privilegeList)) << what;
                struct Expect {
                    const char* control;
                    int32_t id;
                    bool checked, enabled;
                    bool checkable;
                } const expects[] = {
                    {"display name", ids.displayNameField, false, c.displayEnabled, false},
                    {"privilege", ids.privilegeList, false, c.privilegeEnabled, false},
                    {"disabled", ids.disabledBox, c.disabled, c.disabledEnabled, true},
                    {"locked out", ids.lockedOutBox, c.lockedOut, c.lockedOutEnabled, true},
                    {"can not change", ids.cannotChangeBox, c.cannotChange, true, true},
                    {"not required", ids.notRequiredBox, c.notRequired, true, true},
                    {"never expires", ids.neverExpiresBox, c.neverExpires, true, true},
                    {"expired", ids.expiredBox, c.expired, c.expiredEnabled, true},
                    {"auto-logon", ids.autoLogonBox, c.autoLogon, c.autoLogonEnabled, true},
                    {"hidden", ids.hiddenBox, c.hidden, c.hiddenEnabled, true},
                    {"folders", ids.foldersButton, false, c.foldersEnabled, false},
                    {"delete", ids.deleteButton, false, c.deleteEnabled, false},
                    {"save", ids.saveButton, false, true, false},
                    {"set password", ids.setPasswordButton, false, true, false},
                    {"create", ids.createButton, false, true, false},
                };
                for (const Expect& e : expects) {
                    EXPECT_EQ(e.enabled, screen.Enabled(e.id)) << what << ": " << e.control << " enabled";
                    if (e.checkable) {
                        EXPECT_EQ(e.checked, screen.Checked(e.id)) << what << ": " << e.control << " checked";
                    }
                }
                int row = screen.RowOf(account);
                EXPECT_NE(std::wstring::npos, screen.Cell(row, 2).find(L"User Account")) << what;
                if (c.screenshot != nullptr) {
                    WaitForPainted(main);
                    EXPECT_FALSE(SaveScreenshot(main, c.screenshot).empty()) << what;
                }
            }
        });
    }
}

TEST_F(MainWindowRun, SaveChangesAnsweredYesAppliesExactlyThePanel)
{
    USER_INFO_3 before = Stored(L"jokafor");
    std::wstring summary;
    Run([&](Screen& screen, HWND) {
        const MainWindowControls& ids = screen.Ids();
        ASSERT_TRUE(screen.Select(L"jokafor"));
        screen.Choose(ids.privilegeList, 2);
        screen.Press(ids.disabledBox);
        // Disabling rules out automatic sign-in at once, before saving.
        EXPECT_TRUE(WaitFor([&] { return !screen.Enabled(ids.autoLogonBox); }));
        EXPECT_FALSE(screen.Checked(ids.autoLogonBox));
        screen.Press(ids.saveButton);
        EXPECT_EQ(L"Are you sure you want to apply the seleted settings to this user account?", screen.Answer(L"Yes"));
        summary = screen.Answer(L"OK");
        // The panel is read again from the machine.
        EXPECT_TRUE(WaitFor([&] { return screen.Checked(ids.disabledBox) && !screen.Enabled(ids.autoLogonBox); }));
        EXPECT_EQ(2, screen.Selection(ids.privilegeList));
    });
    EXPECT_EQ(L"The selected settings were successfully applied.", summary);
    std::wstring full;
    USER_INFO_3 after = Stored(L"jokafor", &full);
    EXPECT_EQ(2u, after.usri3_priv) << "the type goes through the groups";
    EXPECT_EQ(before.usri3_flags | UF_ACCOUNTDISABLE, after.usri3_flags) << "only the disabled flag is new";
    EXPECT_EQ(L"James Okafor", full);
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Query));
}

TEST_F(MainWindowRun, SaveChangesAnsweredNoChangesNothing)
{
    USER_INFO_3 before = Stored(L"jokafor");
    bool secondBox = false;
    Run([&](Screen& screen, HWND) {
        const MainWindowControls& ids = screen.Ids();
        ASSERT_TRUE(screen.Select(L"jokafor"));
        screen.Choose(ids.privilegeList, 0);
        screen.Press(ids.disabledBox);
        screen.Press(ids.hiddenBox);
        screen.Press(ids.saveButton);
        screen.Answer(L"No");
        // A second question would come before the lock is undone.
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(ids.saveButton); }, "the lock to be undone"));
        secondBox = VisibleWindow(L"Vantrell_MsgBox") != nullptr;
        EXPECT_TRUE(screen.Enabled(ids.saveButton)) << "the lock is undone";
    });
    EXPECT_FALSE(secondBox);
    USER_INFO_3 after = Stored(L"jokafor");
    EXPECT_EQ(before.usri3_priv, after.usri3_priv);
    EXPECT_EQ(before.usri3_flags, after.usri3_flags);
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Query));
}

TEST_F(MainWindowRun, UncheckingExpiredClearsTheExpiry)
{
    ASSERT_NE(0u, Stored(L"skowalski").usri3_password_expired);
    Run([&](Screen& screen, HWND) {
        ASSERT_TRUE(screen.Select(L"skowalski"));
        screen.Press(screen.Ids().expiredBox);
        screen.Press(screen.Ids().saveButton);
        screen.Answer(L"Yes");
        EXPECT_EQ(L"The selected settings were successfully applied.", screen.Answer(L"OK"));
        EXPECT_TRUE(WaitFor([&] { return !screen.Enabled(screen.Ids().expiredBox); }))
            << "an expiry once cleared cannot be set here";
    });
    USER_INFO_3 after = Stored(L"skowalski");
    EXPECT_EQ(0u, after.usri3_password_expired);
    EXPECT_EQ(0u, after.usri3_flags & UF_PASSWORD_EXPIRED);
}

TEST_F(MainWindowRun, HidingAndShowingOnTheWelcomeScreen)
{
    struct Case {
        const wchar_t* account;
        bool visibleAfter;
    } const cases[] = {{L"reception", true}, {L"mhartley", false}};
    for (const Case& c : cases) {
        Reset(L"default");
        Run([&](Screen& screen, HWND) {
            ASSERT_TRUE(screen.Select(c.account));
            screen.Press(screen.Ids().hiddenBox);
            screen.Press(screen.Ids().saveButton);
            screen.Answer(L"Yes");
            EXPECT_EQ(L"The selected settings were successfully applied.", screen.Answer(L"OK"));
        });
        EXPECT_EQ(c.visibleAfter, SetSignInVisibility(c.account, SignInVisibilityMode::Query)) << Narrow(c.account);
    }
}

TEST_F(MainWindowRun, AnAccountGoneBeforeSavingIsReportedAsNotApplied)
{
    Run([&](Screen& screen, HWND) {
        ASSERT_TRUE(screen.Select(L"lchen"));
        ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserDel(nullptr, L"lchen"));
        screen.Press(screen.Ids().saveButton);
        screen.Answer(L"Yes");
        EXPECT_EQ(L"Some of the selected settings could not be applied.\r\n"
                  L"The fields will be updated to reflect the successfull changes.",
                  screen.Answer(L"OK"));
        EXPECT_TRUE(WaitFor([&] { return screen.RowOf(L"lchen") < 0; })) << "the gone account leaves the list";
    });
}

TEST_F(MainWindowRun, ClickIntoTheEmptyListEmptiesThePanel)
{
    Run([&](Screen& screen, HWND main) {
        const MainWindowControls& ids = screen.Ids();
        ASSERT_TRUE(screen.Select(L"mhartley"));
        SetForegroundWindow(main);
        POINT empty{12 + 300, 95 + 420};
        ClientToScreen(main, &empty);
        ClickAt(empty);
        EXPECT_TRUE(WaitFor([&] { return screen.Text(ids.accountNameField).empty(); }));
        EXPECT_EQ(L"", screen.Text(ids.displayNameField));
        for (int32_t id = ids.displayNameField; id <= ids.deleteButton; ++id) {
            EXPECT_FALSE(screen.Enabled(id)) << "panel control " << id;
            EXPECT_FALSE(screen.Checked(id)) << "panel control " << id;
        }
        EXPECT_TRUE(screen.Enabled(ids.createButton));
        EXPECT_TRUE(screen.Enabled(ids.accountList));
    });
}

TEST_F(MainWindowRun, KeysOpenTheHelpAndRebuildTheList)
{
    Run([&](Screen& screen, HWND main) {
        const MainWindowControls& ids = screen.Ids();
        ASSERT_TRUE(screen.Select(L"visitor"));
        USER_INFO_1011 renamed{const_cast<wchar_t*>(L"Guest Desk")};
        ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
                  machine::NetUserSetInfo(nullptr, L"visitor", 1011, reinterpret_cast<LPBYTE>(&renamed), nullptr));
        SetForegroundWindow(main);
        SetFocus(screen.Handle(ids.displayNameField));
        PressKey(VK_F5);
        EXPECT_TRUE(WaitFor([&] { return screen.Cell(screen.RowOf(L"visitor"), 0) == L"Guest Desk"; }))
            << "F5 fills the list afresh";
        EXPECT_TRUE(WaitFor([&] { return screen.Text(ids.accountNameField).empty(); }))
            << "nothing is selected in the new list";
        EXPECT_FALSE(screen.Enabled(ids.saveButton));
        PressKey(VK_F1);
        EXPECT_TRUE(WaitFor([] { return !sandbox::RecordedActions().empty(); }));
    });
    std::vector<sandbox::RecordedAction> actions = sandbox::RecordedActions();
    ASSERT_EQ(1u, actions.size());
    EXPECT_EQ(L"ShellExecuteExW", actions[0].call);
    EXPECT_EQ(L"https://vantrell.invalid/vantrell/", actions[0].details[L"file"]);
}

namespace {

constexpr wchar_t kQuestion[] =
    L"Vantrell found one or more corrupted profile registry keys.\r\n\r\nDo you want to fix them?";

std::wstring ProfileListValue(const std::wstring& entry, const wchar_t* value)
{
    wchar_t data[1024] = L"";
    DWORD size = sizeof(data) - sizeof(wchar_t);
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + entry;
    DWORD number = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_ANY | RRF_NOEXPAND, nullptr, data, &size) !=
        ERROR_SUCCESS)
        return L"(absent)";
    if (size == sizeof(DWORD)) {
        memcpy(&number, data, sizeof(number));
        return std::to_wstring(number);
    }
    return data;
}

// The one backed-up entry of the corrupted-profile scenario.
std::wstring BackedUpEntry()
{
    std::vector<WString> names;
    return FindCorruptedProfileKeys(names) == 1 ? names[0].Text() : L"";
}

// The main window on the machine whose profile failed to load: `backup` is
// the backed-up entry's name, `current` the entry beside it.
class CorruptedProfileRun : public MainWindowRun {
protected:
    void SetUp() override
    {
        Reset(L"corrupted-profile");
        backup = BackedUpEntry();
        ASSERT_FALSE(backup.empty());
        current = backup.substr(0, backup.size() - 4);
    }
    std::wstring backup;
    std::wstring current;
};

}  // namespace

TEST_F(CorruptedProfileRun, KeysAreOfferedOnceAtStart)
{
    const std::wstring backedUpPath = ProfileListValue(backup, L"ProfileImagePath");

    Run([&](Screen& screen, HWND) {
        HWND box = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (box = VisibleWindow(L"Vantrell_MsgBox")) != nullptr; }));
        WaitForPainted(box);
        EXPECT_FALSE(SaveScreenshot(box, L"main_window_profile_question").empty());
        EXPECT_FALSE(screen.Enabled(screen.Ids().createButton)) << "the window is locked while it asks";
        EXPECT_EQ(kQuestion, screen.Answer(L"Yes"));
        EXPECT_EQ(L"The corrupted profile registry keys were successfully fixed", screen.Answer(L"OK"));
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(screen.Ids().createButton); }));
    });
    EXPECT_EQ(L"(absent)", ProfileListValue(backup, L"State"));
    EXPECT_EQ(backedUpPath, ProfileListValue(current, L"ProfileImagePath"));
    EXPECT_EQ(L"0", ProfileListValue(current, L"State"));
    EXPECT_EQ(L"0", ProfileListValue(current, L"RefCount"));

    // The next start has nothing to ask.
    Run([&](Screen&, HWND) {
        // The question comes right after the first paint, which Run waited
        // for; give it the moment it would need to appear.
        Sleep(700);
        EXPECT_EQ(nullptr, VisibleWindow(L"Vantrell_MsgBox"));
    });
}

TEST_F(CorruptedProfileRun, KeysAnsweredNoAreLeftAsTheyWere)
{
    const std::wstring currentPath = ProfileListValue(current, L"ProfileImagePath");

    Run([&](Screen& screen, HWND) {
        EXPECT_EQ(kQuestion, screen.Answer(L"No"));
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(screen.Ids().createButton); }, "the lock to be undone"));
        // Nothing may follow: give a box the moment it would need to appear.
        Sleep(700);
        EXPECT_EQ(nullptr, VisibleWindow(L"Vantrell_MsgBox")) << "\"No\" is answered with silence";
    });
    EXPECT_EQ(backup, BackedUpEntry());
    EXPECT_EQ(L"32768", ProfileListValue(backup, L"State"));
    EXPECT_EQ(currentPath, ProfileListValue(current, L"ProfileImagePath"));
    EXPECT_EQ(L"2052", ProfileListValue(current, L"State"));
}

TEST_F(CorruptedProfileRun, ABackupThatLosesIsReportedAsNotFixed)
{
    // The temporary profile has grown beyond the backed-up one, so the
    // backup is the one given up.
    const std::wstring temporary = ProfileListValue(current, L"ProfileImagePath");
    {
        UniqueFileHandle file(CreateFileW((temporary + L"\\grown.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        std::string bytes(4 << 20, 'x');
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }

    Run([&](Screen& screen, HWND) {
        EXPECT_EQ(kQuestion, screen.Answer(L"Yes"));
        EXPECT_EQ(L"Sorry, some of the corrupted profile registry keys could not be fixed", screen.Answer(L"OK"));
    });
    EXPECT_TRUE(BackedUpEntry().empty());
    EXPECT_EQ(temporary, ProfileListValue(current, L"ProfileImagePath"));
    DeleteFileW((temporary + L"\\grown.bin").c_str());
}

TEST_F(MainWindowRun, TheAboutLinkOpensTheAboutBoxUnderTheLock)
{
    Run([&](Screen& screen, HWND main) {
        const MainWindowControls& ids = screen.Ids();
        SetForegroundWindow(main);
        ClickAt(CentreOf(screen.Handle(ids.aboutLink)));
        HWND box = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (box = VisibleWindow(L"Vantrell_MsgBox")) != nullptr; }))
            << "no about box";
        WaitForPainted(box);
        EXPECT_NE(nullptr, ChildWithText(box, L"Static", L"Version 1.9.0.0"));
        EXPECT_FALSE(screen.Enabled(ids.createButton));
        EXPECT_FALSE(SaveScreenshot(main, L"main_window_about_box").empty());
        SetForegroundWindow(box);
        PressKey(VK_ESCAPE);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); })) << "Esc did not close it";
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(ids.createButton); }));
    });
    EXPECT_TRUE(sandbox::RecordedActions().empty()) << "opening the box opens no page";
}
