// The real main window on the simulated machine, driven from a second
// thread with the messages an operator's clicks and keys produce.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <lm.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "accounts/account_settings.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "app/dialogs/account_dialogs.h"
#include "accounts/pictures.h"
#include "accounts/profile_keys.h"
#include "app/main_window.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"
#include "tests/win/main_window_screen.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_owner.h"
#include "tests/win/test_support.h"
#include "ui/drawing.h"
#include "ui/window.h"
#include "tests/narrow.h"

using namespace harness;

namespace {

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

    void Run(const std::function<void(Screen&, HWND)>& script) { RunWithOperator(script); }
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
};

}  // namespace

TEST_F(MainWindowRun, PanelShowsEveryKindOfAccount)
{
    // clang-format off
    const PanelCase cases[] = {
        // scenario, account, display, priv, dispE, privE, dis, disE, lock, lockE, cant, notReq, never, exp, expE, auto, autoE, hid, hidE, fold, del
        {L"default", L"Administrator", L"Administrator", 2, false, false, true, true, false, false, false, false, false, false, false, false, false, false, true, false, false},
        {L"default", L"*", L"Office Manager", 2, true, false, false, false, false, false, false, false, true, false, false, false, true, false, false, true, false},
        {L"default", L"mhartley", L"Maria Hartley", 2, true, true, false, true, false, false, false, false, false, false, false, false, true, false, true, true, true},
        {L"default", L"lchen", L"lchen", 1, true, true, false, true, false, false, false, false, false, false, false, false, true, false, true, true, true},
        {L"default", L"tpatel", L"Tara Patel", 1, true, true, true, true, false, false, false, false, false, false, false, false, false, false, true, true, true},
        {L"default", L"dnovak", L"Daniel Novak", 1, true, true, false, true, true, true, false, false, false, false, false, false, false, false, true, true, true},
        {L"default", L"skowalski", L"Sofia Kowalski", 1, true, true, false, true, false, false, false, false, false, true, true, false, true, false, true, true, true},
        {L"default", L"reception", L"Front Desk", 1, true, true, false, true, false, false, true, false, false, false, false, false, false, true, true, true, true},
        {L"default", L"visitor", L"Visitor", 0, true, true, false, true, false, false, false, true, false, false, false, false, true, false, true, true, true},
        {L"auto-logon", L"jokafor", L"James Okafor", 1, true, true, false, true, false, false, false, false, true, false, false, true, true, false, true, true, true},
    };
    // clang-format on
    // One account with every detail kept: the others show what a fresh record has.
    constexpr DWORD kAt = 1899936000;   // 2030-03-17
    for (const wchar_t* scenario : {L"default", L"auto-logon"}) {
        Reset(scenario);
        sandbox::Account dated;
        ASSERT_TRUE(sandbox::FindAccount(L"mhartley", &dated) || std::wstring(scenario) != L"default");
        dated.lastLogon = kAt + 3661;
        dated.accountExpires = kAt;
        dated.badPasswordCount = 3;
        ASSERT_TRUE(std::wstring(scenario) != L"default" || sandbox::SaveAccount(dated));
        Run([&](Screen& screen, HWND) {
            const MainWindowControls& ids = screen.Ids();
            for (const PanelCase& c : cases) {
                if (std::wstring(c.scenario) != scenario)
                    continue;
                std::wstring account = std::wstring(c.account) == L"*" ? sandbox::ProcessUserName() : c.account;
                std::string what = Narrow(account);
                // The row as the list read it, before the panel shows the account: the title is
                // what the display field shows, the type follows the privilege.
                const wchar_t* const types[] = {L"Guest", L"Standard", L"Administrator"};
                const int row = screen.RowOf(account);
                EXPECT_EQ(c.display, screen.Cell(row, 0)) << what;
                EXPECT_EQ((account == L"Administrator" ? L"Builtin " : L"") + std::wstring(types[c.privilege]) +
                              L" User Account",
                          screen.Cell(row, 2))
                    << what;
                ASSERT_TRUE(screen.Select(account)) << what << ": no panel for the row";
                EXPECT_EQ(c.display, screen.Text(ids.displayNameField)) << what;
                EXPECT_TRUE(screen.Enabled(ids.accountNameField)) << what;
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
                sandbox::Account record;
                ASSERT_TRUE(sandbox::FindAccount(account.c_str(), &record)) << what;
                const bool isDated = account == L"mhartley";
                const std::wstring details[] = {
                    record.comment.empty() ? L"No description" : L"Description: " + record.comment,
                    isDated ? L"Account expires: 2030-03-17" : L"Account expires: never",
                    isDated ? L"Last sign-in: 2030-03-17 01:01 UTC" : L"Last sign-in: never",
                    L"Bad passwords: " + std::to_wstring(record.badPasswordCount),
                };
                for (int line = 0; line < 4; ++line)
                    EXPECT_EQ(details[line], screen.Text(ids.detailLabel + line)) << what;
                EXPECT_EQ(L"Policy: any length, 42-day expiry, history 0, no lock-out",
                          screen.Text(ids.detailLabel + kDetailLines - 1)) << what;
            }
        });
    }
}

// Answered "No" the panel's choices wait, stored nowhere; answered "Yes" the
// account gets exactly them. The window is locked while it asks.
TEST_F(MainWindowRun, SaveChangesAnsweredYesAppliesExactlyThePanel)
{
    StoredAccount before = Stored(L"jokafor");
    std::wstring summary;
    Run([&](Screen& screen, HWND) {
        const MainWindowControls& ids = screen.Ids();
        ASSERT_TRUE(screen.Select(L"jokafor"));
        screen.Choose(ids.privilegeList, 2);
        SetWindowTextW(screen.Handle(ids.displayNameField), L"Jim Okafor");
        screen.Press(ids.disabledBox);
        // Disabling rules out automatic sign-in at once, before saving.
        EXPECT_TRUE(WaitFor([&] { return !screen.Enabled(ids.autoLogonBox); }));
        EXPECT_FALSE(screen.Checked(ids.autoLogonBox));
        for (const wchar_t* answer : {L"No", L"Yes"}) {
            screen.Press(ids.saveButton);
            ASSERT_NE(nullptr, screen.Dialog());
            EXPECT_FALSE(screen.Enabled(ids.createButton)) << "locked while it asks";
            EXPECT_EQ(L"Are you sure you want to apply the seleted settings to this user account?", screen.Answer(answer));
            if (std::wstring(answer) == L"No") {
                EXPECT_TRUE(WaitFor([&] { return screen.Enabled(ids.createButton); })) << "unlocked after \"No\"";
                const StoredAccount unchanged = Stored(L"jokafor");
                EXPECT_EQ(std::make_tuple(before.privilege, before.flags, before.fullName),
                          std::make_tuple(unchanged.privilege, unchanged.flags, unchanged.fullName));
            }
        }
        summary = screen.Answer(L"OK");
        // The panel is read again from the machine.
        EXPECT_TRUE(WaitFor([&] { return screen.Checked(ids.disabledBox) && !screen.Enabled(ids.autoLogonBox); }));
        EXPECT_EQ(2, screen.Selection(ids.privilegeList));
        EXPECT_TRUE(WaitFor([&] { return screen.Cell(screen.RowOf(L"jokafor"), 2) == L"Administrator User Account"; }))
            << "the row follows the type: " << Narrow(screen.Cell(screen.RowOf(L"jokafor"), 2));
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(ids.createButton); })) << "unlocked after saving";
    });
    EXPECT_EQ(L"The selected settings were successfully applied.", summary);
    StoredAccount after = Stored(L"jokafor");
    EXPECT_EQ(2u, after.privilege) << "the type goes through the groups";
    EXPECT_EQ(before.flags | UF_ACCOUNTDISABLE, after.flags) << "only the disabled flag is new";
    EXPECT_EQ(L"Jim Okafor", after.fullName);
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Query));
}

// (The main window never saves without a selected account: the operation's
// own guard, over an owner of the test's own.)
using SaveChanges = OwnerWindowTest;

TEST_F(SaveChanges, AnEmptyNameAsksNothing)
{
    const GroupNames groups{};
    AccountSettingsChoice empty;
    empty.accountName = L"";
    EXPECT_FALSE(ApplyAccountSettings(dialogOwner_, empty, groups, nullptr).confirmed);
    EXPECT_EQ(0, dialogOwner_.locks) << "nothing is asked, nothing locked";
    EXPECT_EQ(nullptr, FindWindowW(L"Vantrell_MsgBox", nullptr));
}

// Nobody could administer the machine after the last administrator that
// can sign in became a standard user: the operator is told, and nothing changes.
TEST_F(MainWindowRun, TheLastAdministratorKeepsItsType)
{
    ASSERT_TRUE(SetAccountType(L"mhartley", 1, nullptr));
    const std::wstring self = sandbox::ProcessUserName();
    std::wstring told;
    Run([&](Screen& screen, HWND) {
        const MainWindowControls& ids = screen.Ids();
        ASSERT_TRUE(screen.Select(self));
        ASSERT_EQ(2, screen.Selection(ids.privilegeList));
        screen.Choose(ids.privilegeList, 1);
        screen.Press(ids.saveButton);
        EXPECT_EQ(L"Are you sure you want to apply the seleted settings to this user account?", screen.Answer(L"Yes"));
        told = screen.Answer(L"OK");
        EXPECT_TRUE(WaitFor([&] { return screen.Selection(ids.privilegeList) == 2; }));
    });
    EXPECT_EQ(L"This is the last administrator account of this computer that can sign in.\r\n"
              L"It stays an administrator that can sign in: nothing was changed.",
              told);
    EXPECT_EQ(2u, Stored(self.c_str()).privilege);
}

// One box ticked or cleared and saved: the account gets that and only that,
// and the panel is read again from the machine.
TEST_F(MainWindowRun, SavingOneBoxChangesOnlyWhatItSays)
{
    struct Case {
        const wchar_t* account;
        int32_t MainWindowControls::*box;
        bool boxEnabledAfter, boxCheckedAfter;
        std::function<void()> stored;
    } const cases[] = {
        // The display field shows the account name for an empty full name; saving must not store it.
        {L"lchen", &MainWindowControls::disabledBox, true, true, [] {
             const StoredAccount lchen = Stored(L"lchen");
             EXPECT_NE(0u, lchen.flags & UF_ACCOUNTDISABLE);
             EXPECT_EQ(L"", lchen.fullName) << "the account name was stored as the full name";
         }},
        // An expiry once cleared cannot be set here.
        {L"skowalski", &MainWindowControls::expiredBox, false, false, [] {
             const StoredAccount after = Stored(L"skowalski");
             EXPECT_EQ(0u, after.passwordExpired);
             EXPECT_EQ(0u, after.flags & UF_PASSWORD_EXPIRED);
         }},
        {L"reception", &MainWindowControls::hiddenBox, true, false,
         [] { EXPECT_TRUE(SetSignInVisibility(L"reception", SignInVisibilityMode::Query)); }},
        {L"mhartley", &MainWindowControls::hiddenBox, true, true,
         [] { EXPECT_FALSE(SetSignInVisibility(L"mhartley", SignInVisibilityMode::Query)); }},
    };
    // Each case is an account of its own: one run saves them in turn.
    Run([&](Screen& screen, HWND) {
        for (const Case& c : cases) {
            const int32_t box = screen.Ids().*c.box;
            ASSERT_TRUE(screen.Select(c.account)) << Narrow(c.account);
            screen.Press(box);
            screen.Press(screen.Ids().saveButton);
            EXPECT_EQ(L"Are you sure you want to apply the seleted settings to this user account?", screen.Answer(L"Yes"));
            EXPECT_EQ(L"The selected settings were successfully applied.", screen.Answer(L"OK"));
            EXPECT_TRUE(WaitFor([&] {
                return screen.Enabled(box) == c.boxEnabledAfter && screen.Checked(box) == c.boxCheckedAfter;
            })) << Narrow(c.account);
        }
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.account));
        c.stored();
    }
}

// A new name in the name field is refused with its reason before anything
// is asked, or taken last on "Yes"; every other button stays with the
// selected account, whatever the field says.
TEST_F(MainWindowRun, SavingANewNameRenamesTheAccountOrSaysWhyNot)
{
    ASSERT_EQ(AutoLogonResult::Done, SetAutoLogon(L"lchen", L"Chen-Pass"));
    struct Case {
        const wchar_t* name;
        const wchar_t* told;   // null: asked, then renamed
    } const cases[] = {
        {L"JOKAFOR", L"A user account or group with this name already exists.\r\nThe name was not changed."},
        {L"bad,name", nullptr},
        {L"lin", nullptr},
    };
    std::vector<std::wstring> answers;
    Run([&](Screen& screen, HWND) {
        const MainWindowControls& ids = screen.Ids();
        // A refused name stays in the field for the operator to mend.
        ASSERT_TRUE(screen.Select(L"lchen"));
        for (const Case& c : cases) {
            SetWindowTextW(screen.Handle(ids.accountNameField), c.name);
            screen.Press(ids.saveButton);
            if (c.told != nullptr) {
                EXPECT_EQ(c.told, screen.Answer(L"OK")) << Narrow(c.name);
            } else if (std::wstring(c.name) == L"bad,name") {
                answers.push_back(screen.Answer(L"OK"));
            } else {
                EXPECT_EQ(L"Are you sure you want to apply the seleted settings to this user account?",
                          screen.Answer(L"Yes"));
                answers.push_back(screen.Answer(L"OK"));
                EXPECT_TRUE(WaitFor([&] { return screen.RowOf(L"lin") >= 0 && screen.RowOf(L"lchen") < 0; }));
                EXPECT_TRUE(WaitFor([&] { return screen.Text(ids.accountNameField) == L"lin"; }));
            }
        }
    });
    ASSERT_EQ(2u, answers.size());
    EXPECT_NE(std::wstring::npos, answers[0].find(L"cannot be used")) << Narrow(answers[0]);
    EXPECT_EQ(L"The selected settings were successfully applied.\r\nThe user's profile folder keeps its old name.",
              answers[1]);
    EXPECT_TRUE(AccountExists(L"lin"));
    EXPECT_FALSE(AccountExists(L"lchen"));
    EXPECT_TRUE(AccountExists(L"jokafor"));
    EXPECT_EQ(std::wstring(L"lin"), GetAutoLogonUserName().Text()) << "the automatic sign-in follows";
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
            if (screen.Window().Control(id)->kind == ControlKind::Label)
                continue;   // a field's label keeps its look
            EXPECT_FALSE(screen.Enabled(id)) << "panel control " << id;
            EXPECT_FALSE(screen.Checked(id)) << "panel control " << id;
        }
        EXPECT_TRUE(screen.Enabled(ids.createButton));
        EXPECT_TRUE(screen.Enabled(ids.accountList));
    });
}

// A database that fails in the middle of the walk lists no account, and the
// window says why, instead of listing the accounts read before the failure.
TEST_F(MainWindowRun, AnAccountWalkThatFailsIsSaidNotShownAsFewerAccounts)
{
    sandbox::SetNetUserEnumPageSize(2);
    sandbox::SetCallFailure(L"NetUserEnum", NERR_InternalError);
    std::wstring said;
    int rows = -1;
    Run([&](Screen& screen, HWND) {
        said = screen.Answer(L"OK");
        rows = screen.Rows();
    });
    EXPECT_NE(std::wstring::npos, said.find(L"could not be read")) << Narrow(said);
    EXPECT_EQ(0, rows);
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
        PressKey('H', VK_MENU);   // the help link's access key
        EXPECT_TRUE(WaitFor([] { return sandbox::RecordedActions().size() == 2; }));
    });
    std::vector<sandbox::RecordedAction> actions = sandbox::RecordedActions();
    ASSERT_EQ(2u, actions.size());
    EXPECT_EQ(L"ShellExecuteExW", actions[0].call);
    EXPECT_EQ(L"https://vantrell.invalid/vantrell/", actions[0].details[L"file"]);
    EXPECT_EQ(actions[0].details[L"file"], actions[1].details[L"file"]) << "Alt+H opens the same page as F1";
}

namespace {

// The one backed-up profile-list entry of the corrupted-profile scenario.
std::wstring BackedUpEntry()
{
    std::vector<WString> names;
    return FindCorruptedProfileKeys(names) == 1 ? names[0].Text() : L"";
}

}  // namespace

// Backed-up profile-list entries are offered once, at the start and under the
// window's lock. What a repair does to an entry is the profile keys' tests.
TEST_F(MainWindowRun, CorruptedProfileKeysAreOfferedOnceAtStart)
{
    struct Case {
        const char* what;
        const wchar_t* answer;
        bool grown;          // the temporary profile outgrew the backed-up one: the backup loses
        const wchar_t* told;
        bool fixed;
    } const cases[] = {
        {"yes", L"Yes", false, L"The corrupted profile registry keys were successfully fixed", true},
        {"no", L"No", false, nullptr, false},
        {"a losing backup", L"Yes", true, L"Sorry, some of the corrupted profile registry keys could not be fixed",
         true},
    };
    for (const Case& c : cases) {
        Reset(L"corrupted-profile");
        const std::wstring backup = BackedUpEntry();
        ASSERT_FALSE(backup.empty());
        const std::wstring entry = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + backup;
        // The entry beside the backup is the temporary profile's.
        const std::wstring grown =
            repair_test::MachineValue(entry.substr(0, entry.size() - 4).c_str(), L"ProfileImagePath") + L"\\grown.bin";
        if (c.grown) {
            ASSERT_TRUE(WriteTextFile(grown, std::string(4 << 20, 'x')));
        }
        Run([&](Screen& screen, HWND) {
            ASSERT_NE(nullptr, screen.Dialog());
            EXPECT_FALSE(screen.Enabled(screen.Ids().createButton)) << "the window is locked while it asks";
            EXPECT_EQ(L"Vantrell found one or more corrupted profile registry keys.\r\n\r\nDo you want to fix them?",
                      screen.Answer(c.answer));
            if (c.told != nullptr) {
                EXPECT_EQ(c.told, screen.Answer(L"OK")) << c.what;
            }
            EXPECT_TRUE(WaitFor([&] { return screen.Enabled(screen.Ids().createButton); }, "the lock to be undone"));
            // Nothing more may follow: a box asked for meanwhile is up once
            // the window's queue has come round.
            EXPECT_TRUE(RoundTrip());
            EXPECT_EQ(nullptr, VisibleWindow(L"Vantrell_MsgBox")) << c.what;
        });
        DeleteFileW(grown.c_str());
        EXPECT_EQ(c.fixed, BackedUpEntry().empty()) << c.what;
        if (c.fixed) {
            // The next start has nothing to ask; the question would come
            // right after the first paint, before the window's queue comes round.
            Run([&](Screen&, HWND) {
                EXPECT_TRUE(RoundTrip());
                EXPECT_EQ(nullptr, VisibleWindow(L"Vantrell_MsgBox")) << c.what;
            });
        }
    }
}

TEST_F(MainWindowRun, TheAboutLinkOpensTheAboutBoxUnderTheLock)
{
    Run([&](Screen& screen, HWND main) {
        const MainWindowControls& ids = screen.Ids();
        SetForegroundWindow(main);
        ClickAt(CentreOf(screen.Handle(ids.aboutLink)));
        HWND box = screen.Dialog();
        ASSERT_NE(nullptr, box) << "no about box";
        EXPECT_NE(nullptr, ChildWithText(box, L"Static", L"Version 1.9.0.0"));
        EXPECT_FALSE(screen.Enabled(ids.createButton));
        SetForegroundWindow(box);
        PressKey(VK_ESCAPE);
        EXPECT_TRUE(WaitGone(box)) << "Esc did not close it";
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(ids.createButton); }));
    });
    EXPECT_TRUE(sandbox::RecordedActions().empty()) << "opening the box opens no page";
}

namespace {

// Waits up to `seconds` for every row of the list to show an image of its own.
int RowsWithAPicture(const Screen& screen)
{
    int shown = 0;
    for (int row = 0; row < screen.Rows(); ++row)
        shown += screen.RowImage(row) > 0 ? 1 : 0;
    return shown;
}

bool WaitForEveryPicture(const Screen& screen, int seconds)
{
    return WaitUntil("every row to show its own picture", [&] {
        return screen.Rows() > 0 && RowsWithAPicture(screen) == screen.Rows();
    }, static_cast<DWORD>(seconds) * 1000);
}

}  // namespace

TEST_F(MainWindowRun, EveryRowGetsItsOwnPictureEvenAcrossRefreshes)
{
    Reset(L"many-accounts");
    Run([&](Screen& screen, HWND main) {
        HWND list = screen.Handle(screen.Ids().accountList);
        const int rows = screen.Rows();
        ASSERT_EQ(323, rows);
        // Refreshed twice while the first pictures are still on their way.
        SetForegroundWindow(main);
        PressKey(VK_F5);
        PressKey(VK_F5);
        ASSERT_TRUE(WaitForEveryPicture(screen, 60)) << "every account has a picture";
        auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
        ASSERT_NE(nullptr, images);
        EXPECT_EQ(rows + 1, ImageList_GetImageCount(images)) << "refreshes do not pile up images";
        // Each row shows the picture of the account it names.
        for (int row = 0; row < rows; row += 7) {
            const std::wstring name = screen.Cell(row, 1);
            UniqueBitmap expected = LoadAccountPictureBitmap(name.c_str(), 10.0);
            ASSERT_TRUE(expected) << Narrow(name);
            const COLORREF want = BitmapPixel(expected.Get(), 3, 3);
            const COLORREF seen = screen.RowPixel(row, 3, 3);
            EXPECT_TRUE(Near(want, seen)) << Narrow(name) << " row " << row << ": expected " << std::hex << want
                                          << ", shown " << seen;
        }
        EXPECT_FALSE(SaveScreenshot(main, L"main_window_pictures").empty());
    });
}

TEST_F(MainWindowRun, ClosingWhilePicturesLoadEndsCleanly)
{
    Reset(L"many-accounts");
    bool closedWhileLoading = false;
    for (int round = 0; round < 3; ++round) {
        Run([&](Screen& screen, HWND) {
            const int rows = screen.Rows(), shown = RowsWithAPicture(screen);
            closedWhileLoading |= shown < rows;
            std::printf("round %d: %d of %d pictures shown at the close\n", round, shown, rows);
        });
    }
    EXPECT_TRUE(closedWhileLoading) << "the pictures were all there before every close: nothing was shown";
}

namespace {

// Chooses a file as a person does: "Browse...", then the open-file dialog.
bool ChooseThroughOpenFileDialog(HWND dialog, const std::wstring& path)
{
    Press(dialog, L"Browse...");
    return ChooseInOpenFileDialog(L"Select user picture file", path);
}

// What the preview shows at (x, y) of its 128 x 128 picture.
char PreviewKind(HWND dialog, int x, int y)
{
    POINT at{20 + x, 120 + y};
    ClientToScreen(dialog, &at);
    return ColourKind(ScreenPixel(at.x, at.y));
}

// The status line is the one label at (20, 270).
std::wstring StatusText(HWND dialog) { return TextOf(ChildAt(dialog, L"Static", 20, 270)); }

}  // namespace

TEST_F(MainWindowRun, ChangePictureDialogBrowsesFitsRefusesAndChanges)
{
    ForgetAccountPictures(L"lchen");
    const std::wstring folder = TestFolder(L"picture-dialog");
    const std::wstring wide = folder + L"\\wide.png", notes = folder + L"\\notes.jpg";
    ASSERT_TRUE(SavePicture(StripedPicture(200, 100, true).Get(), wide, L".png"));
    ASSERT_TRUE(WriteTextFile(notes, "Not a picture: meeting notes."));
    Run([&](Screen& screen, HWND) {
        const MainWindowControls& ids = screen.Ids();
        ASSERT_TRUE(WaitForEveryPicture(screen, 30));
        ASSERT_TRUE(screen.Select(L"lchen"));
        const int row = screen.RowOf(L"lchen");
        const int imageBefore = screen.RowImage(row);

        screen.Press(ids.pictureButton);
        HWND dialog = screen.Dialog();
        ASSERT_NE(nullptr, dialog);
        EXPECT_NE(nullptr, ChildWithText(dialog, L"Static", L"Note: You are about to change this user account's picture."));
        EXPECT_NE(nullptr, ChildWithText(dialog, L"Static", L"lchen")) << "the heading is the display name";
        EXPECT_EQ(BST_CHECKED, SendMessageW(ChildWithText(dialog, L"Button", L"Crop"), BM_GETCHECK, 0, 0));
        EXPECT_FALSE(IsWindowEnabled(screen.Handle(ids.saveButton))) << "the main window is locked";

        // A wide picture, cropped: its green middle fills the preview.
        ASSERT_TRUE(ChooseThroughOpenFileDialog(dialog, wide));
        WaitForReady(dialog);
        EXPECT_EQ(std::string("GGGGG"), (std::string{PreviewKind(dialog, 3, 3), PreviewKind(dialog, 64, 64),
                                                    PreviewKind(dialog, 124, 124), PreviewKind(dialog, 3, 124),
                                                    PreviewKind(dialog, 124, 3)}));
        EXPECT_FALSE(SaveScreenshot(dialog, L"picture_dialog_preview").empty());
        // Centred: white bands above and below, the thirds side by side.
        // The preview is redrawn after the click returns: each fit is waited for.
        Click(dialog, L"Center");
        auto centred = [&] {
            return std::string{PreviewKind(dialog, 64, 8), PreviewKind(dialog, 10, 64), PreviewKind(dialog, 64, 64),
                               PreviewKind(dialog, 118, 64), PreviewKind(dialog, 64, 120)};
        };
        EXPECT_TRUE(WaitFor([&] { return centred() == "WRGBW"; })) << centred();
        // Stretched: no white at all.
        Click(dialog, L"Stretch");
        auto stretched = [&] {
            return std::string{PreviewKind(dialog, 10, 8), PreviewKind(dialog, 10, 120), PreviewKind(dialog, 64, 64),
                               PreviewKind(dialog, 118, 8), PreviewKind(dialog, 118, 120)};
        };
        EXPECT_TRUE(WaitFor([&] { return stretched() == "RRGBB"; })) << stretched();

        // A file that is no picture: the red line, and the choice stays.
        ASSERT_TRUE(ChooseThroughOpenFileDialog(dialog, notes));
        EXPECT_TRUE(WaitFor([&] { return StatusText(dialog) == L"The picture file you selected is not valid."; }))
            << Show(StatusText(dialog));
        EXPECT_EQ('R', PreviewKind(dialog, 10, 64)) << "the stretched picture is still previewed";

        // "Default" goes back to the current picture; then the wide one again, cropped.
        Click(dialog, L"Default");
        EXPECT_TRUE(WaitFor([&] { return PreviewKind(dialog, 10, 64) != 'R' && PreviewKind(dialog, 64, 64) != 'G'; },
                            "the preview to show the current picture again"));
        Click(dialog, L"Crop");
        EXPECT_NE('G', PreviewKind(dialog, 64, 64)) << "a fit changes nothing while the current picture is chosen";
        ASSERT_TRUE(ChooseThroughOpenFileDialog(dialog, wide));
        WaitForReady(dialog);
        EXPECT_EQ('G', PreviewKind(dialog, 3, 3));

        Click(dialog, L"Change picture");
        EXPECT_TRUE(WaitGone(dialog));
        EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(screen.Handle(ids.saveButton)) != FALSE; }))
            << "the main window is unlocked";
        // The row shows the new picture at once: green all over.
        EXPECT_NE(imageBefore, screen.RowImage(row));
        const COLORREF middle = screen.RowPixel(row, 24, 24);
        EXPECT_TRUE(Near(RGB(0, 255, 0), middle)) << std::hex << middle;

        // Opened again and cancelled: nothing more is set.
        screen.Press(ids.pictureButton);
        ASSERT_NE(nullptr, dialog = screen.Dialog());
        Click(dialog, L"Cancel");
        EXPECT_TRUE(WaitGone(dialog));
    });
    std::vector<sandbox::RecordedAction> actions = sandbox::RecordedActions();
    ASSERT_EQ(1u, actions.size()) << "one picture change";
    EXPECT_EQ(L"SetAccountPicture", actions[0].call);
    EXPECT_EQ(L"lchen", actions[0].details[L"account"]);
    WString path;
    ASSERT_TRUE(FindAccountPicture(L"lchen", path, 10.0));
    EXPECT_NE(std::wstring::npos, std::wstring(path.Text()).find(L"Vantrell Sandbox\\Pictures\\lchen.bmp"));
    ForgetAccountPictures(L"lchen");
}

namespace {

// Every row of a report list, its cells in column order.
std::vector<std::vector<std::wstring>> ListRows(HWND list, int columns)
{
    std::vector<std::vector<std::wstring>> rows(static_cast<size_t>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)));
    for (size_t row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < columns; ++column)
            rows[row].push_back(ListCellText(list, static_cast<int>(row), column).Text());
    }
    return rows;
}

int RowContaining(const std::vector<std::vector<std::wstring>>& rows, int column, const wchar_t* text)
{
    for (size_t row = 0; row < rows.size(); ++row) {
        if (rows[row][column].find(text) != std::wstring::npos)
            return static_cast<int>(row);
    }
    return -1;
}

}  // namespace

// The office PC's health, checked from the header's key: the findings by
// severity with their evidence; one ticked and mended shows its result in its
// row, and the second check has every finding but that one.
TEST_F(MainWindowRun, HealthCheckDialogMendsATickedFindingAndChecksAgain)
{
    Reset(L"health");
    Run([&](Screen& screen, HWND main) {
        const MainWindowControls& ids = screen.Ids();
        EXPECT_NE(std::wstring::npos, screen.Answer(L"No").find(L"corrupted profile")) << "the start-up offer";
        ASSERT_TRUE(WaitFor([&] { return screen.Enabled(ids.checkLink); }, "the window to be unlocked"));
        ASSERT_TRUE(screen.Select(L"mhartley"));
        SetForegroundWindow(main);
        SetFocus(screen.Handle(ids.displayNameField));
        PressKey(VK_F6);
        HWND dialog = screen.Dialog();
        HWND list = FindWindowExW(dialog, nullptr, WC_LISTVIEWW, nullptr);
        HWND checkAgain = ChildWithText(dialog, L"Button", L"Check again");
        ASSERT_NE(nullptr, list);
        auto checked = [&] { return IsWindowEnabled(checkAgain) && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) > 0; };
        ASSERT_TRUE(WaitFor(checked, "the first check to end"));
        EXPECT_FALSE(screen.Enabled(ids.createButton)) << "the main window is locked";

        std::vector<std::vector<std::wstring>> before = ListRows(list, 4);
        ASSERT_GE(before.size(), 10u);
        EXPECT_EQ(L"Problem", before.front()[0]);
        EXPECT_EQ(L"Note", before.back()[0]);
        const int member = RowContaining(before, 1, L"member of Users");
        ASSERT_GE(member, 0);
        EXPECT_NE(std::wstring::npos, before[member][2].find(L"-1090")) << "the SID is the evidence";
        EXPECT_EQ(L"Risk", before[member][0]);
        WaitForPainted(dialog);
        EXPECT_FALSE(SaveScreenshot(dialog, L"health_dialog").empty());

        LVITEMW tick{};
        tick.stateMask = LVIS_STATEIMAGEMASK;
        tick.state = INDEXTOSTATEIMAGEMASK(2);
        SendMessageW(list, LVM_SETITEMSTATE, member, reinterpret_cast<LPARAM>(&tick));
        Click(dialog, L"Mend ticked");
        EXPECT_TRUE(WaitFor([&] { return ListRows(list, 4)[member][3] == L"The SID was removed from the group."; },
                            "the row's result"))
            << Narrow(ListRows(list, 4)[member][3]);
        std::vector<std::vector<std::wstring>> mended = ListRows(list, 4);
        for (size_t row = 0; row < mended.size(); ++row) {
            if (static_cast<int>(row) != member) {
                EXPECT_EQ(before[row][3], mended[row][3]) << "only the ticked finding was mended: row " << row;
            }
        }

        Click(dialog, L"Check again");
        ASSERT_TRUE(WaitFor([&] { return checked() && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) + 1 ==
                                                          static_cast<LRESULT>(before.size()); },
                            "the second check to end"));
        std::vector<std::vector<std::wstring>> after = ListRows(list, 4);
        before.erase(before.begin() + member);
        for (size_t row = 0; row < after.size() && row < before.size(); ++row)
            EXPECT_EQ(before[row][1], after[row][1]) << "row " << row;
        Click(dialog, L"Close");
        EXPECT_TRUE(WaitGone(dialog));
        EXPECT_TRUE(WaitFor([&] { return screen.Enabled(ids.createButton); })) << "the main window is unlocked";
    });
}
