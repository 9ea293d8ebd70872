// The temporary administrator the repair signs in as.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "repair/temp_account.h"
#include "tests/win/repair_test_support.h"

using namespace repair_test;

namespace {

// Only the account whose SID the set-up recorded is reused or deleted; one
// that merely has the name (renamed or made elsewhere) is left as it is.
TEST(EnsureTempAdmin, CreatesReusesOrRemakesOnlyTheRecordedAccount)
{
    struct Case {
        const char* what;
        std::string account;   // the temporary account as the scenario has it, or none
        bool inTemp;
        TempAdminResult result;
    };
    const std::string existing =
        "\n[Account brenwick_temp_admin]\nType=administrator\nPassword=Old-Temp-Pass-1\nProfile=yes\nRepairMade=yes\n";
    const std::string standard =
        "\n[Account brenwick_temp_admin]\nType=standard\nPassword=Old-Temp-Pass-1\nProfile=yes\n";
    const Case cases[] = {
        {"none yet: created", "", false, TempAdminResult::Ready},
        {"an enabled administrator: reused", existing, false, TempAdminResult::Ready},
        {"disabled: deleted and made again", existing + "Disabled=yes\n", false, TempAdminResult::Ready},
        {"a standard account: deleted and made again", standard + "RepairMade=yes\n", false, TempAdminResult::Ready},
        {"inside the temporary account: used as it is", existing, true, TempAdminResult::Ready},
        // Only the account whose SID the set-up recorded: one renamed to the name is someone's.
        {"a standard account not recorded: left", standard, false, TempAdminResult::NotOurs},
    };
    for (const Case& c : cases) {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-temp.ini", Scenario("", c.account), &error)) << Narrow(error);
        TemporaryPassword password;
        ASSERT_NE(L'\0', *password.Text());
        EXPECT_EQ(c.result, EnsureTempAdmin(c.inTemp, password.Text())) << c.what;
        const bool ours = c.result == TempAdminResult::Ready;
        DWORD privilege = 0;
        ASSERT_TRUE(AccountExists(L"brenwick_temp_admin", &privilege)) << c.what;
        EXPECT_EQ(static_cast<DWORD>(ours ? USER_PRIV_ADMIN : USER_PRIV_USER), privilege) << c.what;
        EXPECT_EQ(ours, PasswordWorks(L"brenwick_temp_admin", password.Text())) << c.what;
        EXPECT_NE(ours, PasswordWorks(L"brenwick_temp_admin", L"Old-Temp-Pass-1")) << c.what;
        EXPECT_EQ(ours, DeleteTempAdmin() != 0) << c.what;
        EXPECT_NE(ours, AccountExists(L"brenwick_temp_admin")) << c.what;
    }
    // Never without a password behind an automatic sign-in.
    EXPECT_EQ(TempAdminResult::Failed, EnsureTempAdmin(false, L""));
    EXPECT_EQ(TempAdminResult::Failed, EnsureTempAdmin(false, nullptr));
}

}  // namespace
