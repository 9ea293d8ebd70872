// Passwords and automatic sign-in on the simulated machine: the statuses of
// the account database, the Winlogon values and the secret's exact bytes,
// and the password dialog driven as the operator would.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>
#include <ntsecapi.h>

#include <string>
#include <vector>

#include "accounts/passwords.h"
#include "app/dialogs/account_dialogs.h"
#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_owner.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/test_support.h"
#include "ui/message_box.h"
#include "tests/narrow.h"

using namespace harness;
using repair_test::PasswordWorks;

namespace {



// A Winlogon value as stored; "(missing)" when there is none.
std::wstring Winlogon(const wchar_t* name) { return RegText(HKEY_LOCAL_MACHINE, repair_test::kWinlogonKey, name); }
void SetWinlogon(const wchar_t* name, DWORD type, const std::wstring& value)
{
    RegWrite(HKEY_LOCAL_MACHINE, repair_test::kWinlogonKey, name, value, type);
}
void DeleteWinlogon(const wchar_t* name) { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, repair_test::kWinlogonKey, name); }

// The secret's bytes as the security authority holds them; empty and
// `found` false when there is none.
std::wstring Secret(bool* found)
{
    *found = false;
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    if (machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET, &policy) != 0)
        return L"";
    LSA_UNICODE_STRING name{30, 32, const_cast<PWSTR>(L"DefaultPassword")};
    PLSA_UNICODE_STRING data = nullptr;
    std::wstring bytes;
    if (machine::LsaRetrievePrivateData(policy, &name, &data) == 0 && data != nullptr) {
        *found = true;
        bytes.assign(data->Buffer, data->Length / sizeof(wchar_t));
        machine::LsaFreeMemory(data);
    }
    machine::LsaClose(policy);
    return bytes;
}

void Reset(const wchar_t* scenario)
{
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) << Narrow(error);
}

class Passwords : public ::testing::Test {
protected:
    void SetUp() override { Reset(L"default"); }
};

}  // namespace

TEST_F(Passwords, TheSecretIsPaddedToTenCharacters)
{
    struct Case {
        std::wstring password;
        std::wstring stored;
    } cases[] = {
        {L"123456789", std::wstring(L"123456789") + L'\0'},
        {L"1234567890", L"1234567890"},
        {L"a much longer password", L"a much longer password"},
        {L"", std::wstring(10, L'\0')},
        {std::wstring(256, L'q'), std::wstring(256, L'q')},   // the longest sign-in takes
    };
    for (const Case& c : cases) {
        SetWinlogon(L"DefaultPassword", REG_SZ, L"plain");
        ASSERT_EQ(AutoLogonResult::Done, SetAutoLogon(L"jokafor", c.password.c_str())) << Narrow(c.password);
        bool found = false;
        EXPECT_EQ(c.stored, Secret(&found)) << Narrow(c.password);
        EXPECT_TRUE(found);
        EXPECT_EQ(L"jokafor", Winlogon(L"DefaultUserName"));
        EXPECT_EQ(L"1", Winlogon(L"AutoAdminLogon"));
        wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
        DWORD length = ARRAYSIZE(computer);
        GetComputerNameW(computer, &length);
        EXPECT_EQ(computer, Winlogon(L"DefaultDomainName"));
        EXPECT_EQ(L"(missing)", Winlogon(L"DefaultPassword")) << "no plain-text password is left in the registry";
        EXPECT_TRUE(IsAutoLogonConfigured());
        EXPECT_TRUE(IsAutoLogonAccount(L"JOKAFOR"));
        EXPECT_FALSE(IsAutoLogonAccount(L"mhartley"));
    }
}

TEST_F(Passwords, ClearingAutomaticSignIn)
{
    // Configured: everything goes but the domain.
    ASSERT_EQ(AutoLogonResult::Done, SetAutoLogon(L"jokafor", L"Okafor-Spring"));
    std::wstring domain = Winlogon(L"DefaultDomainName");
    EXPECT_EQ(AutoLogonResult::Done, SetAutoLogon(L"", nullptr));
    bool found = true;
    Secret(&found);
    EXPECT_FALSE(found);
    EXPECT_EQ(L"", Winlogon(L"DefaultUserName"));
    EXPECT_EQ(L"0", Winlogon(L"AutoAdminLogon"));
    EXPECT_EQ(domain, Winlogon(L"DefaultDomainName"));
    EXPECT_FALSE(IsAutoLogonConfigured());

    // Not configured: the name is emptied, and a switch left on without its
    // password (a clearing cut short after the secret went) is turned off.
    SetWinlogon(L"DefaultUserName", REG_SZ, L"mhartley");
    SetWinlogon(L"AutoAdminLogon", REG_SZ, L"1");
    EXPECT_EQ(AutoLogonResult::NothingToClear, SetAutoLogon(nullptr, nullptr));
    EXPECT_EQ(L"", Winlogon(L"DefaultUserName"));
    EXPECT_EQ(L"0", Winlogon(L"AutoAdminLogon")) << "no sign-in stays switched on without a password";
    EXPECT_EQ(domain, Winlogon(L"DefaultDomainName"));

    // Already off, or never there: left as it is.
    EXPECT_EQ(AutoLogonResult::NothingToClear, SetAutoLogon(nullptr, nullptr));
    EXPECT_EQ(L"0", Winlogon(L"AutoAdminLogon"));
    DeleteWinlogon(L"AutoAdminLogon");
    EXPECT_EQ(AutoLogonResult::NothingToClear, SetAutoLogon(nullptr, nullptr));
    EXPECT_EQ(L"(missing)", Winlogon(L"AutoAdminLogon")) << "clearing adds no value";
}

// Only the existence of a plain-text "DefaultPassword" matters, whatever it
// holds (an embedded terminator included) and as long as it is text.
TEST_F(Passwords, WhatCountsAsConfigured)
{
    struct Case {
        const char* what;
        DWORD nameType;
        const wchar_t* autoAdminLogon;
        DWORD autoType;
        bool secret;
        DWORD passwordType;   // of a plain-text password in the registry; 0: none
        std::wstring password;
        bool configured;
        const wchar_t* userName;
    } const cases[] = {
        {"secret and on", REG_SZ, L"1", REG_SZ, true, 0, L"", true, L"jokafor"},
        {"on without any password", REG_SZ, L"1", REG_SZ, false, 0, L"", false, L"jokafor"},
        {"plain empty password in the registry", REG_SZ, L"1", REG_SZ, false, REG_SZ, L"", true, L"jokafor"},
        {"plain password with a terminator inside", REG_SZ, L"1", REG_SZ, false, REG_SZ,
         std::wstring(L"abc\0tail", 8), true, L"jokafor"},
        {"plain password to expand", REG_SZ, L"1", REG_SZ, false, REG_EXPAND_SZ, L"%x%", true, L"jokafor"},
        {"binary plain password", REG_SZ, L"1", REG_SZ, false, REG_BINARY, L"abc", false, L"jokafor"},
        {"off", REG_SZ, L"0", REG_SZ, true, 0, L"", false, L"jokafor"},
        {"on as an expandable string", REG_SZ, L"1", REG_EXPAND_SZ, true, 0, L"", true, L"jokafor"},
        {"name of the wrong type", REG_EXPAND_SZ, L"1", REG_SZ, true, 0, L"", true, L""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(AutoLogonResult::Done, SetAutoLogon(L"jokafor", L"Okafor-Spring"));
        if (!c.secret) {
            LSA_OBJECT_ATTRIBUTES attributes{};
            LSA_HANDLE policy = nullptr;
            machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET, &policy);
            LSA_UNICODE_STRING name{30, 32, const_cast<PWSTR>(L"DefaultPassword")};
            machine::LsaStorePrivateData(policy, &name, nullptr);
            machine::LsaClose(policy);
        }
        SetWinlogon(L"DefaultUserName", c.nameType, L"jokafor");
        SetWinlogon(L"AutoAdminLogon", c.autoType, c.autoAdminLogon);
        if (c.passwordType != 0)
            SetWinlogon(L"DefaultPassword", c.passwordType, c.password);
        else
            DeleteWinlogon(L"DefaultPassword");
        EXPECT_EQ(c.configured, IsAutoLogonConfigured()) << c.what;
        EXPECT_EQ(std::wstring(c.userName), std::wstring(GetAutoLogonUserName().Text())) << c.what;
    }
    DeleteWinlogon(L"DefaultPassword");
}

TEST_F(Passwords, WithoutTheSecurityAuthority)
{
    ASSERT_EQ(AutoLogonResult::Done, SetAutoLogon(L"jokafor", L"x"));
    ASSERT_TRUE(sandbox::ResetMachine(WriteScenario(
        L"vantrell-no-lsa.ini", "[Machine]\r\nSecurityPolicy=no\r\n[Account jokafor]\r\nType=standard\r\n")));
    EXPECT_FALSE(IsAutoLogonConfigured());
    EXPECT_EQ(AutoLogonResult::Failed, SetAutoLogon(L"jokafor", L"x"));
    EXPECT_EQ(L"jokafor", Winlogon(L"DefaultUserName")) << "the name is written before the secret fails";
}

TEST_F(Passwords, ChangesThroughTheWorkerReportTheDatabasesStatus)
{
    // jokafor has a password; lchen has none.
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_PASSWORD),
              ChangePassword(L"jokafor", L"wrong", L"New-Pass-1"));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              ChangePassword(L"jokafor", L"Okafor-Spring", L"New-Pass-1"));
    EXPECT_TRUE(PasswordWorks(L"jokafor", L"New-Pass-1"));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), ChangePassword(L"lchen", nullptr, L"Chen-1"))
        << "a password is created with the current password \"\"";
    EXPECT_TRUE(PasswordWorks(L"lchen", L"Chen-1"));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), ChangePassword(L"lchen", nullptr, nullptr));
    EXPECT_TRUE(PasswordWorks(L"lchen", L"")) << "removed";
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_UserNotFound), ChangePassword(L"nobody", nullptr, nullptr));

    // With a window to pump, the call still returns once the worker is done.
    UiWindow window;
    ASSERT_NE(nullptr, window.CreateUiWindow(L"Vantrell_PumpTest", L"Pump", 200, 100, -1, -1, -1, -1, nullptr));
    DWORD start = GetTickCount();
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              RunPasswordChange(window, L"jokafor", L"New-Pass-1", L"New-Pass-2"));
    EXPECT_LT(GetTickCount() - start, 5000u) << "the waiting loop must wake when the worker ends";
    window.DestroyUiWindow();
}

TEST_F(Passwords, AutomaticSignInFollowsThePasswordOfItsAccount)
{
    Reset(L"auto-logon");   // jokafor signs in automatically with "Okafor-Spring"
    ASSERT_TRUE(IsAutoLogonAccount(L"jokafor"));
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              ChangePassword(L"jokafor", L"Okafor-Spring", L"Okafor-Summer"));
    bool found = false;
    EXPECT_EQ(L"Okafor-Summer", Secret(&found));
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), ChangePassword(L"jokafor", nullptr, nullptr));
    EXPECT_EQ(std::wstring(10, L'\0'), Secret(&found)) << "removing keeps it configured with an empty password";
    EXPECT_TRUE(IsAutoLogonConfigured());

    // Named, but switched off: the password change leaves it alone.
    SetWinlogon(L"AutoAdminLogon", REG_SZ, L"0");
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), ChangePassword(L"jokafor", L"", L"Okafor-Autumn"));
    EXPECT_EQ(std::wstring(10, L'\0'), Secret(&found));
}

namespace {

// The dialog over a main window of the test's own, played by an operator
// thread that types into the fields and presses the buttons.
class Dialog : public OwnerWindowTest {
protected:
    void SetUp() override
    {
        Reset(L"default");
        OwnerWindowTest::SetUp();
    }

    static std::vector<HWND> Fields(HWND dialog) { return Children(dialog, L"Edit"); }
    // The status line is the label at (20, 250).
    static std::wstring StatusText(HWND dialog) { return TextOf(ChildAt(dialog, L"Static", 20, 250)); }
    static void WaitForStatus(HWND dialog, const wchar_t* text)
    {
        WaitUntil("the dialog's status line", [&] { return StatusText(dialog) == text; });
    }
};

}  // namespace

TEST_F(Dialog, ChangePasswordRefusesMismatchAndWrongCurrentThenChanges)
{
    std::vector<std::wstring> statuses;
    Operator person(L"Vantrell_MsgBox", [&](HWND dialog) {
        std::vector<HWND> fields = Fields(dialog);
        if (fields.size() != 3)
            return;
        statuses.push_back(StatusText(dialog));
        SetWindowTextW(fields[1], L"One-Pass");
        SetWindowTextW(fields[2], L"one-pass");
        Click(dialog, L"Apply");
        WaitForStatus(dialog, L"The new passwords you entered are not equal.");
        statuses.push_back(StatusText(dialog));
        SetWindowTextW(fields[0], L"wrong");
        SetWindowTextW(fields[2], L"One-Pass");
        Click(dialog, L"Apply");
        WaitForStatus(dialog, L"The current password you entered is not correct.");
        statuses.push_back(StatusText(dialog));
        SetWindowTextW(fields[0], L"Okafor-Spring");
        Click(dialog, L"Apply");
    });
    EXPECT_TRUE(PasswordDialog(dialogOwner_, nullptr, L"jokafor", L"James Okafor", PasswordDialogMode::ChangePassword));
    person.Finish();
    EXPECT_FALSE(person.Stuck());
    ASSERT_EQ(3u, statuses.size());
    EXPECT_EQ(L"Note: You can set an empty password for this account, by leaving both \"New password\" fields "
              L"above empty", statuses[0]);
    EXPECT_EQ(L"The new passwords you entered are not equal.", statuses[1]);
    EXPECT_EQ(L"The current password you entered is not correct.", statuses[2]);
    EXPECT_TRUE(PasswordWorks(L"jokafor", L"One-Pass"));
}

// Without the current password the change becomes a reset, its cost said first.
TEST_F(Dialog, ForgottenCurrentPasswordSwitchesToTheResetWithItsWarning)
{
    std::wstring warning;
    size_t fieldsAfter = 0;
    Operator person(L"Vantrell_MsgBox", [&](HWND dialog) {
        std::vector<HWND> fields = Fields(dialog);
        if (fields.size() != 3)
            return;
        Click(dialog, L"I don't know the current password");
        WaitForStatus(dialog, kPasswordResetWarning);
        warning = StatusText(dialog);
        fieldsAfter = 0;
        for (HWND field : fields)
            fieldsAfter += IsWindowVisible(field) ? 1 : 0;
        SetWindowTextW(fields[1], L"Reset-Pass-1");
        SetWindowTextW(fields[2], L"Reset-Pass-1");
        Click(dialog, L"Apply");
    });
    EXPECT_TRUE(PasswordDialog(dialogOwner_, nullptr, L"jokafor", L"James Okafor", PasswordDialogMode::ChangePassword));
    person.Finish();
    EXPECT_FALSE(person.Stuck());
    EXPECT_EQ(kPasswordResetWarning, warning);
    EXPECT_EQ(2u, fieldsAfter) << "the current password's field goes";
    EXPECT_TRUE(PasswordWorks(L"jokafor", L"Reset-Pass-1"));
}

TEST_F(Dialog, AutoLogonStoresWhatWasTypedAndCancelChangesNothing)
{
    Operator person(L"Vantrell_MsgBox", [&](HWND dialog) {
        std::vector<HWND> fields = Fields(dialog);
        if (fields.size() != 2)
            return;
        SetWindowTextW(fields[0], L"Typed-Secret");
        SetWindowTextW(fields[1], L"Typed-Secret");
        Click(dialog, L"Apply");
    });
    EXPECT_TRUE(PasswordDialog(dialogOwner_, nullptr, L"mhartley", L"Maria Hartley", PasswordDialogMode::AutoLogon));
    person.Finish();
    EXPECT_FALSE(person.Stuck());
    bool found = false;
    EXPECT_EQ(L"Typed-Secret", Secret(&found)) << "stored as typed, not checked against the account";
    EXPECT_TRUE(IsAutoLogonAccount(L"mhartley"));

    Operator cancel(L"Vantrell_MsgBox", [&](HWND dialog) {
        SetWindowTextW(Fields(dialog)[0], L"Other");
        SetWindowTextW(Fields(dialog)[1], L"Other");
        SaveScreenshot(dialog, L"password_dialog_auto_logon");
        Click(dialog, L"Cancel");
    });
    EXPECT_TRUE(PasswordDialog(dialogOwner_, nullptr, L"jokafor", L"James Okafor", PasswordDialogMode::AutoLogon));
    cancel.Finish();
    EXPECT_EQ(L"Typed-Secret", Secret(&found));
    EXPECT_TRUE(IsAutoLogonAccount(L"mhartley"));
}

TEST_F(Dialog, ClosingTheProgramEndsTheDialogWithFalse)
{
    Operator person(L"Vantrell_MsgBox", [&](HWND dialog) {
        PostMessageW(owner_.Handle(), WM_CLOSE, 0, 0);
        PostMessageW(dialog, kCloseRequestMessage, 0, 0);
    });
    EXPECT_FALSE(PasswordDialog(dialogOwner_, nullptr, L"jokafor", L"James Okafor", PasswordDialogMode::ChangePassword));
    person.Finish();
}

// The secret's counted length is 16 bits: 32,773 characters once became a
// secret of five. Anything beyond 256 characters changes nothing at all
// (256 itself is stored as any other).
TEST_F(Passwords, AnOverlongPasswordChangesNothing)
{
    ASSERT_EQ(AutoLogonResult::Done, SetAutoLogon(L"mhartley", L"Hartley#1"));
    for (size_t length : {257u, 32773u}) {
        const std::wstring password(length, L'p');
        EXPECT_EQ(AutoLogonResult::Failed, SetAutoLogon(L"jokafor", password.c_str())) << length;
        EXPECT_EQ(L"mhartley", Winlogon(L"DefaultUserName")) << length;
        EXPECT_EQ(L"1", Winlogon(L"AutoAdminLogon")) << length;
        bool found = false;
        EXPECT_EQ(L"Hartley#1" + std::wstring(1, L'\0'), Secret(&found)) << length;
    }
}

// "AutoAdminLogon" says "1" only with the new secret in place; otherwise the
// next start would sign in with the previous one.
TEST_F(Passwords, AFailedSecretLeavesAutomaticSignInOff)
{
    ASSERT_EQ(AutoLogonResult::Done, SetAutoLogon(L"mhartley", L"Hartley#1"));
    sandbox::SetCallFailure(L"LsaStorePrivateData", 0xC0000022);   // access denied
    EXPECT_EQ(AutoLogonResult::Failed, SetAutoLogon(L"jokafor", L"Okafor-Spring"));
    EXPECT_EQ(L"0", Winlogon(L"AutoAdminLogon"));
    EXPECT_FALSE(IsAutoLogonConfigured());
    EXPECT_FALSE(IsAutoLogonAccount(L"jokafor"));
    // The next machine stores it again: a reset ends every forced failure.
    Reset(L"default");
    EXPECT_EQ(AutoLogonResult::Done, SetAutoLogon(L"jokafor", L"Okafor-Spring"));
    EXPECT_EQ(L"1", Winlogon(L"AutoAdminLogon"));
}
