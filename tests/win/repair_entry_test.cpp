// The repair tool's entry: the runs it refuses before any window shows.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "repair/repair_tool.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"

using namespace repair_test;

namespace {

class RepairEntry : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void Use(const std::string& machine, const std::string& extra = "")
    {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-entry.ini", Scenario(machine, extra), &error)) << Narrow(error);
    }
};

// The process entry relaunches the tool elevated, once (its own marker);
// the tool started without elevation all the same starts nothing itself.
TEST_F(RepairEntry, RefusedRunsEndAtOnceWithoutAWindow)
{
    struct { const char* what; std::string machine; std::string extra; const wchar_t* line; int result; } const cases[] = {
        {"without elevation", "Elevated=no\n", "", L"/brenwick /fixuser \"m hartley\"", -4},
        {"fix from an ordinary administrator", "", "", L"/brenwick /fixuser mhartley", -1},
        {"unknown console user", "ConsoleUser=none\n", "", L"/brenwick", -2},
        {"the console user itself", "ConsoleUser=brenwick_temp_admin\n", kTempAccount,
         L"/brenwick /fixuser BRENWICK_TEMP_ADMIN", -2},
        {"fix from a temporary account that is no administrator", "ConsoleUser=brenwick_temp_admin\n",
         "\n[Account brenwick_temp_admin]\nType=standard\nProfile=yes\n", L"/brenwick /fixuser mhartley", -1},
    };
    for (const auto& c : cases) {
        Use(c.machine, c.extra);
        RepairTool tool;
        EXPECT_EQ(c.result, RunRepairTool(tool, GetModuleHandleW(nullptr), c.line, SW_SHOW)) << c.what;
        EXPECT_EQ(nullptr, tool.Handle()) << c.what;
        EXPECT_TRUE(Recorded(L"ShellExecuteExW").empty()) << c.what;
    }
}

}  // namespace
