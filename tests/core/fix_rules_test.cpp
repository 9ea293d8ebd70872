#include "repair/fix_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

std::string Narrow(const wchar_t* text)
{
    std::string out;
    for (; text != nullptr && *text != L'\0'; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

TEST(FixSteps, EveryPhaseAndEvent)
{
    struct Case {
        FixPhase phase;
        bool close;
        FixStep expected;
    };
    const Case cases[] = {
        {FixPhase::Repairing, false, FixStep::CheckWorker},
        {FixPhase::Repairing, true, FixStep::RefuseThenCheck},
        {FixPhase::Failed, false, FixStep::Countdown},
        {FixPhase::Failed, true, FixStep::RebootNow},
        {FixPhase::Succeeded, false, FixStep::Countdown},
        {FixPhase::Succeeded, true, FixStep::RebootNow},
        // A phase that is none of the three never ends the repair early.
        {static_cast<FixPhase>(7), true, FixStep::RefuseThenCheck},
        {static_cast<FixPhase>(-1), false, FixStep::CheckWorker},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int>(c.expected), static_cast<int>(NextFixStep(c.phase, c.close)))
            << "phase " << static_cast<int>(c.phase) << " close " << c.close;
}

TEST(FixSteps, WorkerExitCodeGivesThePhase)
{
    EXPECT_EQ(FixPhase::Failed, PhaseAfterWorker(0));
    EXPECT_EQ(FixPhase::Succeeded, PhaseAfterWorker(1));
    // Any code but 0 is a success, as the worker's routine reports it.
    EXPECT_EQ(FixPhase::Succeeded, PhaseAfterWorker(0xFFFFFFFFu));
}

TEST(RebootCountdown, CounterMillisecondsForEveryKindOfClock)
{
    struct Case {
        int64_t counts;
        int64_t frequency;
        int64_t expected;
    };
    const int64_t big = std::numeric_limits<int64_t>::max();
    const Case cases[] = {
        {10000000, 10000000, 1000},             // a 10 MHz counter: one second
        {15000, 10000000, 1},                   // 1.5 ms of it, whole milliseconds
        {3579545 * 20, 3579545, 20000},         // a frequency that 1000 does not divide
        {3579545 / 2, 3579545, 499},
        {999, 999, 1000},                       // a counter slower than a millisecond
        {500, 999, 500},
        {big, 10000000, big / 10000000 * 1000 + big % 10000000 * 1000 / 10000000},   // no overflow
        {12345, 0, 0},                          // no counter
        {12345, -5, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CounterMilliseconds(c.counts, c.frequency)) << c.counts << " / " << c.frequency;
}

TEST(RebootCountdown, RemainingSecondsFromStartToEnd)
{
    struct Case {
        int64_t elapsedMs;
        int32_t expected;
    };
    const Case cases[] = {
        {0, 20},     {999, 20},   {1000, 19},  {1999, 19},  {18999, 2}, {19000, 1},
        {19999, 1},  {20000, 0},  {20001, 0},  {3600000, 0}, {-1, 20},  {-500000, 20},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CountdownRemaining(c.elapsedMs)) << c.elapsedMs << " ms";
}

TEST(RebootCountdown, TextsWithTheirPlural)
{
    struct Case {
        int32_t remaining;
        const char* expected;
    };
    const Case cases[] = {
        {20, "Reboot in 20 seconds"}, {10, "Reboot in 10 seconds"}, {2, "Reboot in 2 seconds"},
        {1, "Reboot in 1 second"},    {0, "Reboot in 0 seconds"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Narrow(CountdownText(c.remaining).Text())) << c.remaining;
}

TEST(FixTexts, StatusAndLogLines)
{
    EXPECT_EQ("The repair operation succeeded. Close this app to reboot.",
              Narrow(FixOutcomeText(FixPhase::Succeeded)));
    EXPECT_EQ("The repair operation failed. Close this app to reboot.", Narrow(FixOutcomeText(FixPhase::Failed)));
    EXPECT_EQ("Rebooting to the \"mhartley\" user account...",
              Narrow(RebootLogText(FixPhase::Succeeded, L"mhartley").Text()));
    EXPECT_EQ("Rebooting the computer...", Narrow(RebootLogText(FixPhase::Failed, L"mhartley").Text()));
    EXPECT_EQ("Rebooting the computer...", Narrow(RebootLogText(FixPhase::Repairing, L"mhartley").Text()));
    EXPECT_EQ("The computer could not be rebooted (error 1314). Please reboot it to finish the repair.",
              Narrow(RebootRefusedText(1314).Text()));
    EXPECT_EQ("The computer could not be rebooted (error 4294967295). Please reboot it to finish the repair.",
              Narrow(RebootRefusedText(0xFFFFFFFFu).Text()));
    EXPECT_EQ("Fixing account profile data for:  pweber  ...", Narrow(FixingStatusText(L"pweber").Text()));
    EXPECT_EQ("Fixing account profile data for:    ...", Narrow(FixingStatusText(nullptr).Text()));
}

}  // namespace
