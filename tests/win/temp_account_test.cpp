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
        bool newPasswordWorks;
    };
    const std::string unrecorded =
        "\n[Account brenwick_temp_admin]\nType=administrator\nPassword=Old-Temp-Pass-1\nProfile=yes\n";
    const std::string existing = unrecorded + "RepairMade=yes\n";
    const Case cases[] = {
        {"none yet: created", "", false, TempAdminResult::Ready, true},
        {"an enabled administrator: reused", existing, false, TempAdminResult::Ready, true},
        {"disabled: deleted and made again", existing + "Disabled=yes\n", false, TempAdminResult::Ready, true},
        {"a standard account: deleted and made again",
         "\n[Account brenwick_temp_admin]\nType=standard\nPassword=Old-Temp-Pass-1\nProfile=yes\nRepairMade=yes\n",
         false, TempAdminResult::Ready, true},
        {"inside the temporary account: used as it is", existing, true, TempAdminResult::Ready, true},
        {"not the recorded one: left", unrecorded, false, TempAdminResult::NotOurs, false},
        {"not the recorded one, disabled: left", unrecorded + "Disabled=yes\n", false, TempAdminResult::NotOurs,
         false},
    };
    for (const Case& c : cases) {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-temp.ini", Scenario("", c.account), &error)) << Narrow(error);
        TemporaryPassword password;
        ASSERT_NE(L'\0', *password.Text());
        EXPECT_EQ(c.result, EnsureTempAdmin(c.inTemp, password.Text())) << c.what;
        ASSERT_TRUE(AccountExists(L"brenwick_temp_admin")) << c.what;
        EXPECT_EQ(c.newPasswordWorks, PasswordWorks(L"brenwick_temp_admin", password.Text())) << c.what;
        if (c.result == TempAdminResult::NotOurs) {
            EXPECT_EQ(0, DeleteTempAdmin()) << c.what;
            EXPECT_TRUE(AccountExists(L"brenwick_temp_admin")) << c.what;
        } else {
            EXPECT_FALSE(PasswordWorks(L"brenwick_temp_admin", L"Old-Temp-Pass-1")) << c.what;
            EXPECT_NE(0, DeleteTempAdmin()) << c.what << ": the account made is the one recorded";
        }
    }
    // Never without a password behind an automatic sign-in.
    EXPECT_EQ(TempAdminResult::Failed, EnsureTempAdmin(false, L""));
    EXPECT_EQ(TempAdminResult::Failed, EnsureTempAdmin(false, nullptr));
}

}  // namespace
