#include "accounts/profile_use_rules.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kDay = 10000000ull * 86400;
constexpr uint64_t kNow = 13400000000ull * 10000000ull;

}  // namespace

TEST(ProfileUseRules, LastUseIsTheListsLaterTimeElseTheHiveFiles)
{
    struct { uint64_t load, unload, hive, lastUse; LastUseSource source; } const cases[] = {
        {5, 9, 100, 9, LastUseSource::ProfileList}, {9, 5, 100, 9, LastUseSource::ProfileList},
        {0, 7, 100, 7, LastUseSource::ProfileList}, {0, 0, 100, 100, LastUseSource::HiveFile},
        {0, 0, 0, 0, LastUseSource::Unknown},
    };
    for (const auto& c : cases) {
        LastUseSource source = LastUseSource::Unknown;
        EXPECT_EQ(c.lastUse, LastUseOf(c.load, c.unload, c.hive, source)) << c.load << " " << c.unload;
        EXPECT_EQ(c.source, source) << c.load << " " << c.unload << " " << c.hive;
    }
    // In words: FILETIME ticks counted from 1601; nothing for 0 nor outside 1970 to 2106.
    constexpr uint64_t kSecond = 10000000ull, k1970 = 11644473600ull * kSecond;
    struct { uint64_t ticks; const wchar_t* text; } const words[] = {
        {0, L""}, {k1970 - 1, L""}, {k1970, L"1970-01-01T00:00:00Z"},
        {k1970 + (1899936000ull + 3661) * kSecond, L"2030-03-17T01:01:01Z"},
        {k1970 + 0x100000000ull * kSecond - 1, L"2106-02-07T06:28:15Z"}, {k1970 + 0x100000000ull * kSecond, L""},
    };
    for (const auto& c : words)
        EXPECT_EQ(c.text, LastUseText(c.ticks)) << c.ticks;
}

// Any fact that speaks for keeping a profile keeps it, however long unused.
TEST(ProfileUseRules, OnlyAPlainProfileUnusedLongerThanTheDaysGoes)
{
    const auto old = [](ProfileUseFacts f) {
        f.lastUse = kNow - 100 * kDay;
        if (f.source == LastUseSource::Unknown)
            f.source = LastUseSource::ProfileList;
        return f;
    };
    ProfileUseFacts f;
    struct Case {
        const char* label;
        ProfileUseFacts facts;
        uint32_t days;
        ProfileKeep keep;
    } const cases[] = {
        {"unused", old(f), 90, ProfileKeep::None},
        {"by hive file", [&] { auto g = old(f); g.source = LastUseSource::HiveFile; return g; }(), 90, ProfileKeep::None},
        {"recent", old(f), 100, ProfileKeep::Recent},
        {"loaded", [&] { auto g = old(f); g.loaded = true; return g; }(), 1, ProfileKeep::Loaded},
        {"special", [&] { auto g = old(f); g.special = true; return g; }(), 1, ProfileKeep::Special},
        {"console", [&] { auto g = old(f); g.console = true; return g; }(), 1, ProfileKeep::Console},
        {"excluded", [&] { auto g = old(f); g.excluded = true; return g; }(), 1, ProfileKeep::Excluded},
        {"backup", [&] { auto g = old(f); g.backup = true; return g; }(), 1, ProfileKeep::NotPlain},
        {"temporary", [&] { auto g = old(f); g.temporary = true; return g; }(), 1, ProfileKeep::NotPlain},
        {"corrupt", [&] { auto g = old(f); g.corrupt = true; return g; }(), 1, ProfileKeep::NotPlain},
        {"unknown", [&] { auto g = old(f); g.source = LastUseSource::Unknown; g.lastUse = 0; return g; }(), 1,
         ProfileKeep::UseUnknown},
        {"future", [&] { auto g = old(f); g.lastUse = kNow + kDay; return g; }(), 1, ProfileKeep::Recent},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.keep, WhyProfileStays(c.facts, kNow, c.days)) << c.label;
}

TEST(ProfileUseRules, DaysAreAWholeNumberFromOneToACentury)
{
    struct Case {
        const wchar_t* text;
        bool read;
        uint32_t days;
    } const cases[] = {
        {L"1", true, 1}, {L"36500", true, 36500}, {L"0", false, 0}, {L"36501", false, 0},
        {L"-5", false, 0}, {L"9x", false, 0},        {L"", false, 0},  {L"99999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        uint32_t days = 0;
        EXPECT_EQ(c.read, ReadDays(c.text, days)) << c.days;
        EXPECT_EQ(c.days, c.read ? days : 0u);
    }
    uint32_t untouched = 7;
    EXPECT_FALSE(ReadDays(nullptr, untouched));
}
