#include <gtest/gtest.h>

#include "app/run_mode.h"

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
        {{L"/brenwick", L"/CLEANUP"}, false, RunMode::RepairTool}, {{L"/cleanup"}, false, RunMode::Relaunch},
        {{L"/brenwick", L"/cleanupfailed"}, false, RunMode::Relaunch},
    };
    for (const auto& c : cases) {
        RunMode mode = ChooseRunMode(static_cast<int>(c.arguments.size()), c.arguments.data(), c.elevated);
        EXPECT_EQ(c.expected, mode) << "got " << Name(mode) << " for " << c.arguments.size() << " arguments";
    }
    EXPECT_EQ(RunMode::AccountManager, ChooseRunMode(3, nullptr, true)) << "no argument array";
}

TEST(RelaunchSwitch, AddedBehindTheArgumentsAndTakenOffAgain)
{
    struct { const wchar_t* given; const wchar_t* relaunched; } const cases[] = {
        {L"", L"/vantrell-relaunched"}, {L"/a \"b c\"", L"/a \"b c\" /vantrell-relaunched"}, {L"/x  ", L"/x   /vantrell-relaunched"},
    };
    for (const auto& c : cases) {
        WString parameters = RelaunchParameters(c.given);
        EXPECT_STREQ(c.relaunched, parameters.Text());
        WString back = WithoutRelaunchSwitch(parameters.Text());
        EXPECT_STREQ(c.given, back.Text());
    }
    // Only the relaunch's own switch, standing whole at the end, is taken off.
    for (const wchar_t* kept : {L"/a", L"/a x/vantrell-relaunched", L"/vantrell-relaunched /a", L""}) {
        WString line = WithoutRelaunchSwitch(kept);
        EXPECT_STREQ(kept, line.Text());
    }
    WString upper = WithoutRelaunchSwitch(L"/a /VANTRELL-RELAUNCHED");
    EXPECT_STREQ(L"/a", upper.Text());
}
