// Account type and sign-in visibility on the simulated machine, read back
// through the account database and the security authority.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>

#include <algorithm>
#include <string>
#include <vector>

#include "accounts/groups.h"
#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"
#include "tests/narrow.h"

namespace {

DWORD Privilege(const wchar_t* name)
{
    LPBYTE buffer = nullptr;
    if (machine::NetUserGetInfo(nullptr, name, 3, &buffer) != NERR_Success)
        return 0xFFFFFFFF;
    DWORD priv = reinterpret_cast<USER_INFO_3*>(buffer)->usri3_priv;
    machine::NetApiBufferFree(buffer);
    return priv;
}

std::vector<std::wstring> Rights(const wchar_t* name)
{
    std::vector<std::wstring> rights;
    BYTE sid[260];
    DWORD sidSize = sizeof(sid);
    wchar_t domain[260];
    DWORD domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    if (!machine::LookupAccountNameW(nullptr, name, sid, &sidSize, domain, &domainLength, &use))
        return rights;
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    machine::LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES, &policy);
    PLSA_UNICODE_STRING list = nullptr;
    ULONG count = 0;
    if (machine::LsaEnumerateAccountRights(policy, sid, &list, &count) == 0) {
        for (ULONG i = 0; i < count; ++i)
            rights.emplace_back(list[i].Buffer, list[i].Length / sizeof(wchar_t));
    }
    machine::LsaFreeMemory(list);
    machine::LsaClose(policy);
    std::sort(rights.begin(), rights.end());
    return rights;
}

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

TEST_F(AccountGroups, NamesComeFromTheSystemInPrivilegeOrder)
{
    EXPECT_STREQ(L"Guests", names_.names[0].Text());
    EXPECT_STREQ(L"Users", names_.names[1].Text());
    EXPECT_STREQ(L"Administrators", names_.names[2].Text());
}

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

    GroupNames wrong;
    wrong.names[0].Assign(L"Guests");
    wrong.names[1].Assign(L"Users");
    wrong.names[2].Assign(L"No such group");
    EXPECT_FALSE(SetAccountType(L"jokafor", 2, &wrong)) << "the add failed, whatever the removals did";
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
    ASSERT_EQ(static_cast<DWORD>(USER_PRIV_ADMIN), Privilege(L"mhartley"));
    GroupNames wrong;
    wrong.names[0].Assign(L"Guests");
    wrong.names[1].Assign(L"No such group");
    wrong.names[2].Assign(L"Administrators");
    EXPECT_FALSE(SetAccountType(L"mhartley", 1, &wrong));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_ADMIN), Privilege(L"mhartley")) << "the account lost its group";
    wrong.names[0].Assign(L"No such group");
    EXPECT_FALSE(SetAccountType(L"jokafor", 0, &wrong));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), Privilege(L"jokafor"));
}

TEST_F(AccountGroups, TheLastEnabledAdministratorStaysOne)
{
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(WriteScenario(L"vantrell-last-admin.ini",
                                                    "[Account boss]\r\nType=administrator\r\n"
                                                    "[Account deputy]\r\nType=administrator\r\n"
                                                    "[Account retired]\r\nType=administrator\r\nDisabled=yes\r\n"
                                                    "[Account worker]\r\nType=standard\r\n"),
                                      &error))
        << Narrow(error);
    EXPECT_FALSE(IsLastEnabledAdministrator(L"boss"));
    EXPECT_FALSE(IsLastEnabledAdministrator(L"worker"));
    EXPECT_TRUE(SetAccountType(L"deputy", 1, nullptr)) << "another enabled administrator is left";
    EXPECT_TRUE(IsLastEnabledAdministrator(L"BOSS")) << "a disabled administrator administers nothing";
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
