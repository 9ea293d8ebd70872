#include "accounts/password_policy_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/narrow.h"

// Each setting's edges as typed: the last value below and above its range
// refused, the first and last within taken, kept in its unit of seconds.
TEST(PasswordPolicyRules, EachSettingTakesItsRangeAndNothingBeyond)
{
    struct Case {
        const wchar_t* option;
        const wchar_t* text;
        bool taken;
        uint32_t value;
    } const cases[] = {
        {L"--min-length", L"0", true, 0},           {L"--min-length", L"14", true, 14},
        {L"--min-length", L"15", false, 0},         {L"--max-age", L"0", false, 0},
        {L"--max-age", L"1", true, 86400},          {L"--max-age", L"49710", true, 4294944000u},
        {L"--max-age", L"49711", false, 0},         {L"--max-age", L"Unlimited", true, kPolicyForever},
        {L"--min-age", L"0", true, 0},              {L"--min-age", L"49709", true, 49709u * 86400u},
        {L"--min-age", L"49710", false, 0},         {L"--min-age", L"unlimited", false, 0},
        {L"--history", L"24", true, 24},            {L"--history", L"25", false, 0},
        {L"--lockout-threshold", L"0", true, 0},    {L"--lockout-threshold", L"999", true, 999},
        {L"--lockout-threshold", L"1000", false, 0}, {L"--lockout-duration", L"0", false, 0},
        {L"--lockout-duration", L"99999", true, 5999940}, {L"--lockout-duration", L"100000", false, 0},
        {L"--lockout-duration", L"forever", true, kPolicyForever}, {L"--lockout-window", L"1", true, 60},
        {L"--lockout-window", L"forever", false, 0}, {L"--lockout-window", L"100000", false, 0},
        {L"--history", L"-1", false, 0},            {L"--history", L"", false, 0},
        {L"--history", L"5 ", false, 0},            {L"--min-length", L"0000000014", false, 0},
    };
    for (const Case& c : cases) {
        const PolicySetting* setting = nullptr;
        for (const PolicySetting& s : kPolicySettings)
            if (std::wstring(s.option) == c.option)
                setting = &s;
        ASSERT_NE(nullptr, setting) << Narrow(c.option);
        uint32_t value = 7;
        EXPECT_EQ(c.taken, ParsePolicyValue(*setting, c.text, value)) << Narrow(c.option) << " " << Narrow(c.text);
        if (c.taken) {
            EXPECT_EQ(c.value, value) << Narrow(c.option) << " " << Narrow(c.text);
            EXPECT_EQ(c.value == kPolicyForever ? std::wstring(setting->forever) : std::wstring(c.text),
                      PolicyValueText(*setting, value)) << Narrow(c.text);
        }
    }
}

TEST(PasswordPolicyRules, TimesThatBindEachOtherAreRefusedTogether)
{
    PasswordPolicy policy;
    policy.maxAge = 42 * 86400;
    policy.minAge = 41 * 86400;
    EXPECT_EQ(nullptr, PolicyConflict(policy));
    policy.minAge = policy.maxAge;
    EXPECT_NE(nullptr, PolicyConflict(policy));
    policy.maxAge = kPolicyForever;
    EXPECT_EQ(nullptr, PolicyConflict(policy));
    policy.lockoutWindow = policy.lockoutDuration + 60;
    EXPECT_NE(nullptr, PolicyConflict(policy));
    policy.lockoutDuration = kPolicyForever;
    EXPECT_EQ(nullptr, PolicyConflict(policy));
}
