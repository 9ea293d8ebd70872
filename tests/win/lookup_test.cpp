// The shared account lookups on the simulated machine's default scenario.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "platform/handles.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"
#include "tests/narrow.h"

namespace {

class AccountLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error));
    }
};

}  // namespace

TEST_F(AccountLookup, ConsoleUserIsThisProcessWithItsTokenSidAndProfile)
{
    WString name, profile, sid;
    UniqueHandle token(FindConsoleUser(name, &profile, &sid));
    ASSERT_TRUE(token);
    EXPECT_EQ(ProcessUserName(), name.Text());
    EXPECT_EQ(sandbox::ProcessUserSid(), std::wstring(sid.Text()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(profile.Text())) << Narrow(profile.Text());

    WString onlyName;
    UniqueHandle again(FindConsoleUser(onlyName, nullptr, nullptr));
    EXPECT_TRUE(again) << "the optional outputs may be absent";
}

TEST_F(AccountLookup, NoConsoleSessionOrAnUnknownConsoleUserGivesNoToken)
{
    struct Case {
        const char* scenario;
        const wchar_t* name;   // what the name must hold afterwards
    } cases[] = {
        {"[Machine]\r\nConsoleUser=none\r\n", L"untouched"},
        {"[Machine]\r\nConsoleUser=ghost\r\n", L"ghost"},   // named, but no such account
        {"[Machine]\r\nConsoleUser=dave\r\n[Account dave]\r\nType=standard\r\n", L"dave"},   // no process of his
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(sandbox::ResetMachine(WriteScenario(L"vantrell-console.ini", c.scenario)));
        WString name(L"untouched");
        UniqueToken token = FindConsoleUser(name, nullptr, nullptr);
        EXPECT_EQ(nullptr, token) << c.scenario;
        EXPECT_STREQ(c.name, name.Text()) << c.scenario;
    }
}

TEST_F(AccountLookup, SidAndProfileOfAccounts)
{
    WString sid, profile;
    ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", sid, &profile));
    EXPECT_EQ(0u, std::wstring(sid.Text()).rfind(L"S-1-5-21-", 0)) << Narrow(sid.Text());
    EXPECT_TRUE(EqualsNoCase(L"C:\\users\\mhartley", profile.Text())) << Narrow(profile.Text());

    WString sidOnly;
    EXPECT_TRUE(GetAccountSidAndProfile(L"tpatel", sidOnly, nullptr));
    WString none(L"left over");
    EXPECT_FALSE(GetAccountSidAndProfile(L"tpatel", sidOnly, &none)) << "no profile anywhere";
    EXPECT_STREQ(L"", none.Text());
    EXPECT_FALSE(GetAccountSidAndProfile(L"nobody", sidOnly, nullptr));

    WString buffer(L"mhartley");
    ASSERT_TRUE(GetAccountSidString(buffer));
    EXPECT_STREQ(sid.Text(), buffer.Text());
    WString unknown(L"nobody");
    EXPECT_FALSE(GetAccountSidString(unknown));
    EXPECT_STREQ(L"nobody", unknown.Text()) << "unchanged on failure";
}

TEST_F(AccountLookup, ProfileImagePathIsExpanded)
{
    WString sid(L"mhartley");
    ASSERT_TRUE(GetAccountSidString(sid));
    std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + std::wstring(sid.Text());
    const wchar_t stored[] = L"%SystemDrive%\\users\\mhartley";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", REG_EXPAND_SZ,
                                             stored, sizeof(stored)));
    WString path;
    ASSERT_TRUE(ReadProfileImagePath(sid.Text(), path));
    EXPECT_TRUE(EqualsNoCase(L"C:\\users\\mhartley", path.Text())) << Narrow(path.Text());
    EXPECT_FALSE(ReadProfileImagePath(L"S-1-5-21-1-2-3-4", path));
}

// Every account once, page after page; a database that fails after its
// first page fails the walk, whatever the pages before handed out.
TEST_F(AccountLookup, TheAccountWalkIsWholeOrAFailure)
{
    sandbox::SetNetUserEnumPageSize(2);
    std::vector<std::wstring> names;
    ASSERT_TRUE(ForEachAccount([&](const AccountRecord& account) {
        names.push_back(account.name);
        return true;
    }));
    EXPECT_GT(names.size(), 2u);
    AccountRecord administrator;
    ASSERT_TRUE(ReadAccountRecord(names[0].c_str(), administrator));
    EXPECT_EQ(names[0], administrator.name);

    WString name;
    EXPECT_EQ(AccountReference::Absent, ResolveAccountReference(L"#1099", name));
    // The same answers from the one pass a document's references share.
    EXPECT_EQ(AccountReference::Absent, MemberNames().ResolveRid(L"#1099", name));
    EXPECT_EQ(AccountReference::Found, MemberNames().ResolveRid(L"#500", name));
    EXPECT_STREQ(L"Administrator", name.Text());

    sandbox::SetCallFailure(L"NetUserEnum", NERR_InternalError);
    size_t seen = 0;
    EXPECT_FALSE(ForEachAccount([&](const AccountRecord&) { return ++seen > 0; }));
    EXPECT_EQ(2u, seen);
    // A RID the failed walk never reached is unknown, never taken as gone.
    EXPECT_EQ(AccountReference::NotFound, ResolveAccountReference(L"#1099", name));
    EXPECT_EQ(AccountReference::NotFound, MemberNames().ResolveRid(L"#1099", name));
}
