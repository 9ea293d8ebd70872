// The temporary administrator the repair signs in as.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "repair/temp_account.h"
#include "tests/win/repair_test_support.h"

using namespace repair_test;

namespace {

TEST(EnsureTempAdmin, CreatesReusesOrRemakesTheAccountWithTheNewPassword)
{
    struct Case {
        const char* what;
        std::string account;   // the temporary account as the scenario has it, or none
        bool inTemp;
        bool ensured;
        bool oldPasswordWorks;
    };
    const std::string existing =
        "\n[Account brenwick_temp_admin]\nType=administrator\nPassword=Old-Temp-Pass-1\nProfile=yes\n";
    const Case cases[] = {
        {"none yet: created", "", false, true, false},
        {"an enabled administrator: reused", existing, false, true, false},
        {"disabled: deleted and made again", existing + "Disabled=yes\n", false, true, false},
        {"a standard account: deleted and made again",
         "\n[Account brenwick_temp_admin]\nType=standard\nPassword=Old-Temp-Pass-1\nProfile=yes\n", false, true, false},
        {"inside the temporary account: used as it is", existing, true, true, false},
    };
    for (const Case& c : cases) {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-temp.ini", Scenario("", c.account), &error)) << Narrow(error);
        TemporaryPassword password;
        ASSERT_NE(L'\0', *password.Text());
        EXPECT_EQ(c.ensured, EnsureTempAdmin(c.inTemp, password.Text())) << c.what;
        DWORD privilege = 0;
        ASSERT_TRUE(AccountExists(L"brenwick_temp_admin", &privilege)) << c.what;
        EXPECT_EQ(static_cast<DWORD>(USER_PRIV_ADMIN), privilege) << c.what;
        EXPECT_TRUE(PasswordWorks(L"brenwick_temp_admin", password.Text())) << c.what;
        EXPECT_EQ(c.oldPasswordWorks, PasswordWorks(L"brenwick_temp_admin", L"Old-Temp-Pass-1")) << c.what;
    }
    // Never without a password behind an automatic sign-in.
    EXPECT_FALSE(EnsureTempAdmin(false, L""));
    EXPECT_FALSE(EnsureTempAdmin(false, nullptr));
}

}  // namespace
