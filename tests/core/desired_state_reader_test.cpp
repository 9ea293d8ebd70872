#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accounts/password_policy_rules.h"
#include "app/desired_state_reader.h"
#include "tests/narrow.h"

TEST(ReadDesiredState, TakesTheSchemaAndRefusesEverythingElse)
{
    struct { std::string text; const wchar_t* errorPart; } const cases[] = {
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"hidden\":true,\"type\":\"guest\",\"description\":\"Lab\","
         "\"expires\":\"2030-01-31\",\"mustChangePassword\":false},"
         "{\"name\":\"b\",\"present\":false,\"keepFiles\":true}],\"autoLogon\":null,\"mend\":[\"x\"],"
         "\"groups\":[{\"group\":\"S-1-5-32-555\",\"members\":[\"a\",\"#1001\"],\"absent\":[\"c\"]},"
         "{\"group\":\"Lab\",\"description\":\"d\",\"exactMembers\":[\"a\"]}],"
         "\"policy\":{\"maxAgeDays\":\"unlimited\",\"minLength\":14},"
         "\"profiles\":{\"cleanUnusedForDays\":36500,\"exclude\":[\"kiosk\"],\"keepAccounts\":true}}", nullptr},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"expires\":\"2030-02-30\"}]}", L"expires is a date"},
        {"{\"schemaVersion\":1,\"profiles\":{\"exclude\":[]}}", L"cleanUnusedForDays is missing"},
        {"{\"schemaVersion\":1,\"profiles\":{\"cleanUnusedForDays\":1.5}}", L"whole number of days"},
        {"{\"schemaVersion\":1,\"profiles\":{\"cleanUnusedForDays\":0}}", L"whole number of days"},
        {"{\"schemaVersion\":1,\"profiles\":{\"cleanUnusedForDays\":36501}}", L"whole number of days"},
        {"{\"schemaVersion\":1,\"profiles\":{\"cleanUnusedForDays\":1,\"keep\":true}}", L"no member \"keep\""},
        {"{\"schemaVersion\":1,\"profiles\":[]}", L"is an object"},
        {"{\"schemaVersion\":1,\"groups\":[{\"members\":[\"a\"]}]}", L"names its \"group\""},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"members\":[\"a\"],\"absent\":[\"A\"]}]}", L"named twice"},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\"},{\"group\":\"G\"}]}", L"named twice"},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"member\":[]}]}", L"no member \"member\""},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"absent\":[\"a\"],\"exactMembers\":[]}]}", L"without members"},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"present\":false,\"description\":\"d\"}]}", L"no members"},
        {"{\"schemaVersion\":1,\"policy\":{\"minLength\":15}}", L"minLength takes from 0 to 14"},
        {"{\"schemaVersion\":1,\"policy\":{\"history\":2.5}}", L"history takes"},
        {"{\"schemaVersion\":1,\"policy\":{\"lockout\":1}}", L"no member \"lockout\""},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"members\":[\"\"]}]}", L"list of members"},
        {"{\"accounts\":[]}", L"schemaVersion is not 1"}, {"{\"schemaVersion\":2}", L"schemaVersion is not 1"},
        {"{\"schemaVersion\":1,\"users\":[]}", L"no member \"users\""},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"hiden\":true}]}", L"no member \"hiden\""},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"hidden\":\"yes\"}]}", L"true or false"},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"type\":\"root\"}]}", L"type is one of"},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\"},{\"name\":\"A\"}]}", L"named twice"},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"present\":false,\"hidden\":true}]}", L"no settings"},
        {"{\"schemaVersion\":1,\"accounts\":[{\"fullName\":\"a\"}]}", L"needs a \"name\""},
        {"{\"schemaVersion\":1,\"autoLogon\":false}", L"name or null"},
    };
    for (const auto& c : cases) {
        JsonValue document;
        DesiredState state;
        std::wstring error;
        ASSERT_TRUE(ParseJson(c.text, document, error)) << c.text;
        EXPECT_EQ(c.errorPart == nullptr, ReadDesiredState(document, state, error)) << c.text;
        if (c.errorPart != nullptr) {
            EXPECT_NE(std::wstring::npos, error.find(c.errorPart)) << c.text << " -> " << Narrow(error);
            continue;
        }
        ASSERT_EQ(2u, state.accounts.size());
        EXPECT_EQ((std::vector<SettingValue>{{FindSettingMember(L"hidden"), L"yes"},
                                             {FindSettingMember(L"type"), L"guest"},
                                             {FindSettingMember(L"description"), L"Lab"},
                                             {FindSettingMember(L"expires"), L"2030-01-31"},
                                             {FindSettingMember(L"mustChangePassword"), L"no"}}),
                  state.accounts[0].settings);
        EXPECT_TRUE(state.profiles.given && state.profiles.unusedForDays == 36500 && state.profiles.keepAccounts);
        EXPECT_EQ(std::vector<std::wstring>{L"kiosk"}, state.profiles.exclude);
        EXPECT_TRUE(!state.accounts[1].present && state.accounts[1].keepFiles);
        EXPECT_TRUE(state.autoLogonGiven && state.autoLogon.empty());
        EXPECT_EQ(std::vector<std::wstring>{L"x"}, state.mend);
        ASSERT_EQ(2u, state.groups.size());
        EXPECT_EQ((std::vector<std::wstring>{L"a", L"#1001"}), state.groups[0].members);
        EXPECT_EQ(std::vector<std::wstring>{L"c"}, state.groups[0].absent);
        EXPECT_TRUE(state.groups[1].exact && state.groups[1].descriptionGiven && state.groups[1].description == L"d");
        EXPECT_EQ((std::vector<std::pair<size_t, uint32_t>>{{1, kPolicyForever}, {0, 14}}), state.policy.values);
    }
}
