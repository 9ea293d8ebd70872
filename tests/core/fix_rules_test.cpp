#include "repair/fix_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

TEST(FixSteps, EveryPhaseAndEvent)
{
    struct { FixPhase phase; bool close; FixStep expected; } const cases[] = {
        {FixPhase::Repairing, false, FixStep::CheckWorker}, {FixPhase::Repairing, true, FixStep::RefuseThenCheck},
        {FixPhase::Failed, true, FixStep::RebootNow}, {FixPhase::Succeeded, false, FixStep::Countdown},
        // A phase that is none of the three never ends the repair early.
        {static_cast<FixPhase>(3), true, FixStep::RefuseThenCheck},
        {static_cast<FixPhase>(-1), false, FixStep::CheckWorker},
    };
    for (const auto& c : cases)
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
    const int64_t big = std::numeric_limits<int64_t>::max();
    struct { int64_t counts, frequency, expected; } const cases[] = {
        {10000000, 10000000, 1000},             // a 10 MHz counter: one second
        {15000, 10000000, 1},                   // 1.5 ms of it, whole milliseconds
        {3579545 * 20, 3579545, 20000},         // a frequency that 1000 does not divide
        {999, 999, 1000},                       // a counter slower than a millisecond
        {500, 999, 500},
        {big, 10000000, big / 10000000 * 1000 + big % 10000000 * 1000 / 10000000},   // no overflow
        {12345, 0, 0},                          // no counter
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CounterMilliseconds(c.counts, c.frequency)) << c.counts << " / " << c.frequency;
}

TEST(RebootCountdown, RemainingSecondsFromStartToEnd)
{
    struct { int64_t elapsedMs; int32_t seconds, expected; } const cases[] = {
        {999, 20, 20}, {1000, 20, 19}, {19999, 20, 1}, {20000, 20, 0}, {0, 20, 20}, {-1, 20, 20},
        {-1, 2, 2},    {1999, 2, 1},   {2000, 2, 0},   // a countdown of another length
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CountdownRemaining(c.elapsedMs, c.seconds)) << c.elapsedMs << " ms of " << c.seconds;
}

TEST(RebootCountdown, TextsWithTheirPlural)
{
    struct { int32_t remaining; const char* expected; } const cases[] = {
        {2, "Reboot in 2 seconds"}, {1, "Reboot in 1 second"}, {0, "Reboot in 0 seconds"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Narrow(CountdownText(c.remaining).Text())) << c.remaining;
}

// Only a repair that succeeded reboots into the repaired account, and says so.
TEST(FixTexts, TheAccountAndTheErrorAreNamed)
{
    EXPECT_NE(Narrow(FixOutcomeText(FixPhase::Succeeded)), Narrow(FixOutcomeText(FixPhase::Failed)));
    EXPECT_NE(std::string::npos, Narrow(RebootLogText(FixPhase::Succeeded, L"mhartley").Text()).find("\"mhartley\""));
    for (FixPhase phase : {FixPhase::Failed, FixPhase::Repairing})
        EXPECT_EQ("Rebooting the computer...", Narrow(RebootLogText(phase, L"mhartley").Text()));
    EXPECT_NE(std::string::npos, Narrow(RebootRefusedText(0xFFFFFFFFu).Text()).find("(error 4294967295)"));
    EXPECT_EQ("Fixing account profile data for:    ...", Narrow(FixingStatusText(nullptr).Text()));
}

}  // namespace
