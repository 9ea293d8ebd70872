#include <gtest/gtest.h>

#include "app/run_mode.h"
#include "platform/command_line.h"
#include "tests/narrow.h"

namespace {
const char* Name(RunMode mode)
{
    switch (mode) {
    case RunMode::RepairTool: return "repair tool";
    case RunMode::AccountManager: return "account manager";
    case RunMode::Relaunch: return "relaunch";
    case RunMode::GiveUp: return "give up";
    }
    return "?";
}
}  // namespace

// The relaunch marks the process it starts; a marked process that is still
// not elevated must end instead of starting the next one.
TEST(ChooseRunMode, TheSwitchMustStandWholeInAnyCaseAndOneRelaunchAtMost)
{
    struct { std::vector<const wchar_t*> arguments; bool elevated; RunMode expected; } const cases[] = {
        {{L"/a", L"/BRENWICK", L"/c"}, true, RunMode::RepairTool}, {{L"/brenwick"}, false, RunMode::Relaunch},
        {{L"/brenwick1"}, true, RunMode::AccountManager}, {{L"brenwick"}, true, RunMode::AccountManager},
        {{}, false, RunMode::Relaunch}, {{L"/a", L"/VANTRELL-RELAUNCHED"}, false, RunMode::GiveUp},
        {{L"/vantrell-relaunched"}, true, RunMode::AccountManager},
        {{L"/brenwick", L"/vantrell-relaunched"}, false, RunMode::GiveUp},
        {{L"/brenwick", L"/vantrell-relaunched"}, true, RunMode::RepairTool},
        {{L"/vantrell-relaunchedx"}, false, RunMode::Relaunch},
        // Only as the last argument, where the relaunch puts it.
        {{L"/vantrell-relaunched", L"/brenwick"}, false, RunMode::Relaunch},
        {{L"/brenwick", L" /vantrell-relaunched"}, false, RunMode::Relaunch},
        {{L"/brenwick", L"/CLEANUP"}, false, RunMode::RepairTool}, {{L"/cleanup"}, false, RunMode::Relaunch},
        {{L"/brenwick", L"/cleanupfailed"}, false, RunMode::Relaunch},
    };
    for (const auto& c : cases) {
        RunMode mode = ChooseRunMode(static_cast<int>(c.arguments.size()), c.arguments.data(), c.elevated);
        EXPECT_EQ(c.expected, mode) << "got " << Name(mode) << " for " << c.arguments.size() << " arguments";
    }
    EXPECT_EQ(RunMode::AccountManager, ChooseRunMode(3, nullptr, true)) << "no argument array";
}

// However the operator's line was quoted, the relaunched process reads the
// switch as its own last argument, and the tools get the operator's
// arguments back exactly.
TEST(RelaunchSwitch, AddedAsTheLastArgumentAndTakenOffAgain)
{
    const wchar_t* const lines[] = {
        L"", L"/a \"b c\"", L"/x  ", L"/brenwick \"", L"/brenwick \"open", L"a\\\" b", L"\"C:\\Temp\\\\\"",
        L"\"\"", L"tab\there", L"x\\\\\"y z\"", L"\"a\"\"b\"", L"/brenwick \\\"",
    };
    for (const wchar_t* given : lines) {
        const ArgumentList before(given);
        const WString parameters = RelaunchParameters(given);
        const ArgumentList relaunched(parameters.Text());
        ASSERT_EQ(before.Count() + 1, relaunched.Count()) << Narrow(given) << " -> " << Narrow(parameters.Text());
        for (int i = 0; i < before.Count(); ++i)
            EXPECT_STREQ(before.Data()[i], relaunched.Data()[i]) << Narrow(given) << " -> " << Narrow(parameters.Text());
        EXPECT_EQ(RunMode::GiveUp, ChooseRunMode(relaunched.Count(), relaunched.Data(), false)) << Narrow(given);
        const WString back = WithoutRelaunchSwitch(parameters.Text());
        const ArgumentList after(back.Text());
        ASSERT_EQ(before.Count(), after.Count()) << Narrow(given) << " -> " << Narrow(back.Text());
        for (int i = 0; i < before.Count(); ++i)
            EXPECT_STREQ(before.Data()[i], after.Data()[i]) << Narrow(given);
    }
    // A line the relaunch did not end is given to the tools as it came.
    for (const wchar_t* kept : {L"/a", L"/a x/vantrell-relaunched", L"/vantrell-relaunched /a", L"", L"/x  \"q"}) {
        WString line = WithoutRelaunchSwitch(kept);
        EXPECT_STREQ(kept, line.Text());
    }
    WString upper = WithoutRelaunchSwitch(L"/a /VANTRELL-RELAUNCHED");
    EXPECT_STREQ(L"/a", upper.Text());
}
