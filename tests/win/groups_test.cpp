// Account type and sign-in visibility on the simulated machine, read back
// through the account database and the security authority.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>

#include <string>
#include <vector>

#include "accounts/groups.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"
#include "tests/narrow.h"

namespace {

DWORD Privilege(const wchar_t* name)
{
    sandbox::Account account;
    return sandbox::FindAccount(name, &account) ? sandbox::PrivilegeOf(account) : 0xFFFFFFFF;
}

// The rights the simulated security authority holds for the account.
std::vector<std::wstring> Rights(const wchar_t* name) { return sandbox::RightsOf(AccountSidOf(name)); }

class AccountGroups : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Narrow(error);
        GetGroupNames(names_);
    }
    GroupNames names_;
};

}  // namespace

TEST_F(AccountGroups, TypeChangesMoveTheAccountBetweenGroups)
{
    struct Step {
        uint32_t type;
        DWORD expected;
    } steps[] = {
        {2, USER_PRIV_ADMIN}, {2, USER_PRIV_ADMIN},   // already a member counts as success
        {1, USER_PRIV_USER}, {0, USER_PRIV_GUEST}, {1, USER_PRIV_USER},
    };
    for (const Step& step : steps) {
        EXPECT_TRUE(SetAccountType(L"jokafor", step.type, &names_)) << "type " << step.type;
        EXPECT_EQ(step.expected, Privilege(L"jokafor")) << "type " << step.type;
    }
    EXPECT_TRUE(SetAccountType(L"jokafor", 2, nullptr)) << "the names are looked up when none are given";
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_ADMIN), Privilege(L"jokafor"));
}

TEST_F(AccountGroups, RefusedTypesAndAccounts)
{
    EXPECT_FALSE(SetAccountType(L"jokafor", 3, &names_));
    EXPECT_FALSE(SetAccountType(L"jokafor", static_cast<uint32_t>(-1), &names_));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), Privilege(L"jokafor")) << "nothing changed";
    EXPECT_FALSE(SetAccountType(L"nobody", 1, &names_));
}

TEST_F(AccountGroups, VisibilityFollowsTheInteractiveRights)
{
    // No rights of its own: visible. Hiding adds the deny right.
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Query));
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Show)) << "already visible";
    EXPECT_TRUE(Rights(L"jokafor").empty()) << "nothing is changed when nothing needs to be";
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Hide));
    EXPECT_EQ(std::vector<std::wstring>{L"SeDenyInteractiveLogonRight"}, Rights(L"jokafor"));
    EXPECT_FALSE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Query));

    // Showing again removes the deny right and grants the interactive one.
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Show));
    EXPECT_EQ(std::vector<std::wstring>{L"SeInteractiveLogonRight"}, Rights(L"jokafor"));
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Query));

    // Hiding an account that holds the interactive right takes it away too.
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Hide));
    EXPECT_EQ(std::vector<std::wstring>{L"SeDenyInteractiveLogonRight"}, Rights(L"jokafor"));

    EXPECT_FALSE(SetSignInVisibility(L"reception", SignInVisibilityMode::Query)) << "hidden in the scenario";
    EXPECT_FALSE(SetSignInVisibility(L"nobody", SignInVisibilityMode::Query));
    EXPECT_FALSE(SetSignInVisibility(L"nobody", SignInVisibilityMode::Show));
}

TEST_F(AccountGroups, VisibilityWithoutTheSecurityAuthority)
{
    const std::wstring path = WriteScenario(
        L"vantrell-no-policy.ini", "[Machine]\r\nSecurityPolicy=no\r\n[Account jokafor]\r\nType=standard\r\n");
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(path, &error)) << Narrow(error);
    EXPECT_FALSE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Query));
    EXPECT_FALSE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Hide));
}

// The new group is joined first: a failed join must leave the account in
// the groups it had, never in none.
TEST_F(AccountGroups, AFailedJoinLeavesTheGroupsAsTheyWere)
{
    struct { const wchar_t* account; uint32_t type; DWORD privilege; } const cases[] = {
        {L"mhartley", 1, USER_PRIV_ADMIN}, {L"jokafor", 0, USER_PRIV_USER}, {L"jokafor", 2, USER_PRIV_USER},
    };
    for (const auto& c : cases) {
        GroupNames wrong;   // only the group to join is missing
        for (uint32_t type = 0; type < 3; ++type)
            wrong.names[type].Assign(type == c.type ? L"No such group" : names_.names[type].Text());
        EXPECT_FALSE(SetAccountType(c.account, c.type, &wrong)) << Narrow(c.account) << " type " << c.type;
        EXPECT_EQ(c.privilege, Privilege(c.account)) << Narrow(c.account) << " lost its group";
    }
}

TEST_F(AccountGroups, TheLastAdministratorStaysOne)
{
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(WriteScenario(L"vantrell-last-admin.ini",
                                                    "[Account boss]\r\nType=administrator\r\n"
                                                    "[Account deputy]\r\nType=administrator\r\n"
                                                    "[Account retired]\r\nType=administrator\r\nDisabled=yes\r\n"
                                                    "[Account worker]\r\nType=standard\r\n"),
                                      &error))
        << Narrow(error);
    EXPECT_FALSE(IsLastAdministrator(L"boss"));
    EXPECT_FALSE(IsLastAdministrator(L"worker"));
    EXPECT_TRUE(SetAccountType(L"deputy", 1, nullptr)) << "another enabled administrator is left";
    EXPECT_TRUE(IsLastAdministrator(L"BOSS")) << "a disabled administrator administers nothing";
    for (uint32_t type : {1u, 0u}) {
        EXPECT_FALSE(SetAccountType(L"boss", type, nullptr)) << "type " << type;
        EXPECT_EQ(static_cast<DWORD>(USER_PRIV_ADMIN), Privilege(L"boss")) << "type " << type;
    }
    EXPECT_TRUE(SetAccountType(L"boss", 2, nullptr)) << "staying an administrator is no demotion";
    EXPECT_TRUE(SetAccountType(L"deputy", 2, nullptr));
    EXPECT_TRUE(SetAccountType(L"boss", 1, nullptr));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), Privilege(L"boss"));
}

// Rights that cannot be read give no answer: hiding must not report
// success for a change it never made.
TEST_F(AccountGroups, VisibilityFailsWhenTheRightsCannotBeRead)
{
    const std::vector<std::wstring> before = Rights(L"jokafor");
    sandbox::SetCallFailure(L"LsaEnumerateAccountRights", 0xC000009A);   // insufficient resources
    EXPECT_FALSE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Hide));
    EXPECT_FALSE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Show));
    sandbox::SetCallFailure(L"LsaEnumerateAccountRights", 0);
    EXPECT_EQ(before, Rights(L"jokafor"));
    EXPECT_TRUE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Hide));
    EXPECT_FALSE(SetSignInVisibility(L"jokafor", SignInVisibilityMode::Query));
}
