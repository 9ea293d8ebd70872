// The simulated machine's own promises that no test of the program meets:
// scenarios that refuse what they do not know, the password policy on a
// changed password, what a reset takes, and no password kept in plain text.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>

#include <string>
#include <vector>

#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/test_support.h"
#include "tests/narrow.h"

namespace {

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override { Reset(sandbox::ScenarioPath(L"default")); }

    static void Reset(const std::wstring& scenario)
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(scenario, &error)) << Narrow(error);
    }
};

}  // namespace

// A new account's short password is refused through the account code
// (AccountLifecycle.RefusalsChangeNothing); a changed one here.
TEST_F(Sandbox, PasswordPolicyRefusesShortPasswords)
{
    Reset(WriteScenario(L"vantrell-policy.ini", "[Machine]\r\nMinimumPasswordLength=8\r\n"
                                                  "[Account alice]\r\nType=standard\r\nPassword=Alice-Long-1\r\n"));
    DWORD parameter = 0;
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_PasswordTooShort),
              machine::NetUserChangePassword(nullptr, L"alice", L"Alice-Long-1", L"tiny"));
    USER_INFO_1003 empty{const_cast<LPWSTR>(L"")};
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_PasswordTooShort),
              machine::NetUserSetInfo(nullptr, L"alice", 1003, reinterpret_cast<LPBYTE>(&empty), &parameter));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserChangePassword(nullptr, L"alice", L"Alice-Long-1", L"Alice-Longer-2"));
}

TEST_F(Sandbox, BrokenScenariosLeaveTheMachineAsItWas)
{
    const size_t before = sandbox::Accounts().size();
    const char* broken[] = {
        "[Machine]\r\nElevated=perhaps\r\n",
        "[Machine]\r\nNoSuchSetting=1\r\n",
        "[Account erin]\r\nType=superuser\r\n",
        "[Account erin]\r\nRid=1500\r\n[Account ERIN]\r\nRid=1501\r\n",
        "[Somewhere]\r\nA=1\r\n",
    };
    for (const char* text : broken) {
        std::wstring error;
        EXPECT_FALSE(sandbox::ResetMachine(WriteScenario(L"vantrell-broken.ini", text), &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(before, sandbox::Accounts().size()) << text;
    }
    std::wstring error;
    EXPECT_FALSE(sandbox::ResetMachine(TempFile(L"vantrell-no-such-scenario.ini"), &error));
}

TEST_F(Sandbox, NoPasswordIsKeptInPlainText)
{
    Reset(sandbox::ScenarioPath(L"auto-logon"));
    // Every name and value under the sandbox's key and the sign-in settings, read raw.
    std::vector<std::wstring> strings;
    for (const wchar_t* path : {sandbox::kStateKey, repair_test::kWinlogonKey}) {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Put())) << Narrow(path);
        CollectRegistryStrings(key.Get(), strings);
    }
    EXPECT_GT(strings.size(), 100u);
    for (const std::wstring& text : strings) {
        for (const wchar_t* password : {L"Okafor-Spring", L"Hartley#1", L"Manager-2026"})
            EXPECT_EQ(std::wstring::npos, text.find(password)) << Narrow(text);
    }

    // Yet the secret reads back through the security authority.
    bool found = false;
    EXPECT_EQ(L"Okafor-Spring", repair_test::Secret(L"DefaultPassword", &found));
    EXPECT_TRUE(found);
}

TEST_F(Sandbox, AResetTakesThePictureSetsOfItsOwnAccountsOnly)
{
    // One set for an account of the machine, one for an account of another
    // machine's domain: a key naming the picture and the folder holding it.
    sandbox::Account lchen;
    ASSERT_TRUE(sandbox::FindAccount(L"lchen", &lchen));
    const std::wstring own = sandbox::AccountSid(lchen.rid), other = L"S-1-5-21-9-9-9-" + std::to_wstring(lchen.rid);
    const std::wstring keys = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AccountPicture\\Users\\";
    wchar_t publicFolder[MAX_PATH] = L"";
    ASSERT_NE(0u, GetEnvironmentVariableW(L"PUBLIC", publicFolder, MAX_PATH));
    const std::wstring folders = std::wstring(publicFolder) + L"\\AccountPictures\\";
    CreateDirectoryW(folders.c_str(), nullptr);
    for (const std::wstring& set : {own, other}) {
        const std::wstring picture = folders + set + L"\\Image96.jpg";
        CreateDirectoryW((folders + set).c_str(), nullptr);
        ASSERT_TRUE(WriteTextFile(picture, "picture")) << Narrow(picture);
        ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_LOCAL_MACHINE, keys + set, L"Image96", picture));
    }

    Reset(sandbox::ScenarioPath(L"default"));
    EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, keys + own));
    EXPECT_FALSE(PathExists(folders + own));
    EXPECT_TRUE(KeyOpens(HKEY_LOCAL_MACHINE, keys + other));
    EXPECT_TRUE(PathExists(folders + other + L"\\Image96.jpg"));
    WipeKey(HKEY_LOCAL_MACHINE, keys + other);
    DeleteFileW((folders + other + L"\\Image96.jpg").c_str());
    RemoveDirectoryW((folders + other).c_str());
}
