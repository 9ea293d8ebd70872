#include <gtest/gtest.h>

#include "app/run_mode.h"

namespace {
const char* Name(RunMode mode)
{
    switch (mode) {
    case RunMode::RepairTool: return "repair tool";
    case RunMode::AccountManager: return "account manager";
    case RunMode::Relaunch: return "relaunch";
    }
    return "?";
}
}  // namespace

TEST(ChooseRunMode, TheSwitchMustStandWholeInAnyCase)
{
    struct Case {
        std::vector<const wchar_t*> arguments;
        bool elevated;
        RunMode expected;
    } cases[] = {
        {{L"/a", L"/BRENWICK", L"/c"}, true, RunMode::RepairTool},
        {{L"/brenwick"}, false, RunMode::RepairTool},
        {{L"/brenwick1"}, true, RunMode::AccountManager},
        {{L"-brenwick"}, false, RunMode::Relaunch},
        {{L"brenwick"}, true, RunMode::AccountManager},
        {{}, true, RunMode::AccountManager},
        {{}, false, RunMode::Relaunch},
        {{L"/fixuser", L"/BrenWick"}, false, RunMode::RepairTool},
    };
    for (const Case& c : cases) {
        RunMode mode = ChooseRunMode(static_cast<int>(c.arguments.size()), c.arguments.data(), c.elevated);
        EXPECT_EQ(c.expected, mode) << "got " << Name(mode) << " for " << c.arguments.size() << " arguments";
    }
    EXPECT_EQ(RunMode::AccountManager, ChooseRunMode(3, nullptr, true)) << "no argument array";
}
