#include "accounts/detail_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

TEST(DetailRules, ExpiryDatesAreRealDaysOrNever)
{
    struct { const wchar_t* text; bool read; uint32_t seconds; } const cases[] = {
        {L"1970-01-01", true, 0},          {L"2030-03-17", true, 1899936000}, {L"2024-02-29", true, 1709164800},
        {L"never", true, kNeverTime},      {L"2030-02-28", true, 1898467200}, {L"2030-02-29", false, 0},
        {L"2024-02-30", false, 0},         {L"2000-02-29", true, 951782400},  {L"2100-02-29", false, 0},
        {L"2030-13-01", false, 0},         {L"2030-00-10", false, 0},         {L"2030-01-00", false, 0},
        {L"1969-12-31", false, 0},         {L"2105-12-31T23:59:59Z", true, 4291747199u}, {L"2106-01-01", false, 0},
        {L"2030-3-17", false, 0},          {L"Never", false, 0},              {L"2030-03-17x", false, 0},
        {L"", false, 0},                   {L"2030-03-17T01:01:01Z", true, 1899939661},
        {L"2030-03-17T24:00:00Z", false, 0}, {L"2030-03-17T23:60:00Z", false, 0}, {L"2030-03-17T23:59:60Z", false, 0},
        {L"2030-03-17T01:01:01", false, 0}, {L"2030-03-17 01:01:01Z", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t seconds = 12345;
        EXPECT_EQ(c.read, ReadExpiryDate(c.text, seconds)) << Narrow(c.text);
        if (c.read) {
            EXPECT_EQ(c.seconds, seconds) << Narrow(c.text);
            EXPECT_EQ(c.text, ExpiryText(seconds)) << "read back as written";
            if (seconds != kNeverTime && seconds % 86400 == 0) {
                EXPECT_EQ(std::wstring(c.text) + L"T00:00:00Z", DateTimeText(seconds));
            }
        }
    }
}

TEST(DetailRules, PasswordExpiresAfterTheMaximumAgeUnlessItNeverDoes)
{
    constexpr uint32_t kNow = 1800000000, kDay = 86400;
    EXPECT_EQ(kNow - 10 * kDay + 42 * kDay, PasswordExpiresAt(kNow, 10 * kDay, 42 * kDay, false, false));
    EXPECT_EQ(kNeverTime, PasswordExpiresAt(kNow, 10 * kDay, 42 * kDay, true, false));
    EXPECT_EQ(kNeverTime, PasswordExpiresAt(kNow, 10 * kDay, kNeverTime, false, false));
    EXPECT_EQ(0u, PasswordExpiresAt(kNow, 10 * kDay, 42 * kDay, false, true));
    EXPECT_EQ(42 * kDay, PasswordExpiresAt(kNow, kNow + 5, 42 * kDay, false, false)) << "an age past now: set at 1970";
}
