// The accounts as the list and the settings panel read them, as plain data,
// on the simulated machine's scenarios.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "accounts/account_list.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"
#include "tests/win/test_support.h"

namespace {

class AccountData : public ::testing::Test {
protected:
    void Reset(const wchar_t* scenario)
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) << Show(error);
    }
};

}  // namespace

// (The rows' titles and types, and a list read over many pages, are the main
// window's tests: its panel table and its 323 accounts.)
TEST_F(AccountData, ConsoleUserUnknownOrAccountGone)
{
    Reset(L"default");
    AccountDetails details;
    ASSERT_TRUE(ReadAccountDetails(sandbox::ProcessUserName().c_str(), L"", details));
    EXPECT_FALSE(details.console) << "an unknown console user is nobody";
    ASSERT_TRUE(ReadAccountDetails(L"JOKAFOR", L"jokafor", details));
    EXPECT_TRUE(details.console) << "names compare without regard to case";
    EXPECT_EQ(std::wstring(L"Standard User Account"), details.typeText.Text());
    EXPECT_FALSE(ReadAccountDetails(L"nobody-here", L"", details)) << "an account that is gone";
}

// The list's one read per kind says of every account what the readers of
// one account say: on paged accounts, hidden ones, rights held, automatic
// sign-in, profiles in the list, outside it and missing.
TEST_F(AccountData, SummariesMatchTheReadersOfOneAccount)
{
    for (const wchar_t* scenario : {L"default", L"auto-logon", L"health", L"many-accounts"}) {
        Reset(scenario);
        if (std::wstring(scenario) == L"default") {
            // A hidden account and one whose rights let it sign in.
            ASSERT_TRUE(SetSignInVisibility(L"lchen", SignInVisibilityMode::Hide));
            ASSERT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Show));
        }
        std::vector<AccountSummary> summaries;
        ASSERT_TRUE(ReadAccountSummaries(L"mhartley", summaries));
        std::vector<AccountRow> rows;
        ASSERT_TRUE(ReadAccountRows(rows));
        ASSERT_EQ(rows.size(), summaries.size()) << Show(scenario);
        for (AccountSummary& summary : summaries) {
            const std::wstring name = summary.name.Text();
            AccountDetails details;
            ASSERT_TRUE(ReadAccountDetails(name.c_str(), L"mhartley", details)) << Show(name);
            WString sid, profile;
            GetAccountSidAndProfile(name.c_str(), sid, &profile);
            const std::wstring where = std::wstring(scenario) + L": " + name;
            EXPECT_EQ(std::wstring(details.fullName.Text()), summary.details.fullName.Text()) << Show(where);
            EXPECT_EQ(std::wstring(details.typeText.Text()), summary.details.typeText.Text()) << Show(where);
            EXPECT_EQ(details.privilege, summary.details.privilege) << Show(where);
            EXPECT_EQ(details.flags, summary.details.flags) << Show(where);
            EXPECT_EQ(details.builtin, summary.details.builtin) << Show(where);
            EXPECT_EQ(details.console, summary.details.console) << Show(where);
            EXPECT_EQ(details.hidden, summary.details.hidden) << Show(where);
            EXPECT_EQ(details.autoLogon, summary.details.autoLogon) << Show(where);
            EXPECT_EQ(std::wstring(sid.Text()), summary.sid.Text()) << Show(where);
            EXPECT_EQ(std::wstring(profile.Text()), summary.profile.Text()) << Show(where);
        }
    }
}

// A database that fails in the middle of the walk is a failure of both
// readers, never a shorter list.
TEST_F(AccountData, AFailingAccountWalkIsAFailureNotFewerAccounts)
{
    Reset(L"default");
    sandbox::SetNetUserEnumPageSize(2);
    sandbox::SetCallFailure(L"NetUserEnum", NERR_InternalError);
    std::vector<AccountRow> rows;
    EXPECT_FALSE(ReadAccountRows(rows));
    EXPECT_TRUE(rows.empty()) << rows.size() << " rows";
    std::vector<AccountSummary> summaries;
    EXPECT_FALSE(ReadAccountSummaries(L"", summaries));
    EXPECT_TRUE(summaries.empty()) << summaries.size() << " accounts";
}
