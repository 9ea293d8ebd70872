// The machine settings the repair changes for its run, and the shortcuts it
// leaves for the accounts it signs in.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "repair/repair_settings.h"
#include "tests/win/repair_test_support.h"

using namespace repair_test;

namespace {

TEST(UacState, ReadsAndWritesThePolicyValues)
{
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default")));
    sandbox::ClearRecord();
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUacKey, KEY_WOW64_64KEY, 0);

    DWORD lua = 77;
    EXPECT_EQ(-1, GetUacState(&lua));
    EXPECT_EQ(77u, lua) << "left alone when the key cannot be opened";

    SetMachineDword(kUacKey, L"EnableLUA", 1);
    EXPECT_EQ(-1, GetUacState(&lua)) << "no consent value";
    EXPECT_EQ(1u, lua);
    SetMachineDword(kUacKey, L"ConsentPromptBehaviorAdmin", 5);
    DeleteMachineValue(kUacKey, L"EnableLUA");
    EXPECT_EQ(5, GetUacState(&lua));
    EXPECT_EQ(0u, lua) << "absent EnableLUA reads 0";
    EXPECT_EQ(5, GetUacState(nullptr));

    EXPECT_TRUE(SetUacState(0, 1));
    EXPECT_EQ(L"0", MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin"));
    EXPECT_EQ(L"3", MachineValue(kUacKey, L"ConsentPromptBehaviorUser"));
    EXPECT_EQ(L"1", MachineValue(kUacKey, L"EnableLUA"));
    auto refreshes = Recorded(L"RefreshPolicyEx");
    ASSERT_EQ(2u, refreshes.size());
    EXPECT_EQ(L"1", refreshes[0].details[L"machine"]);
    EXPECT_EQ(L"0", refreshes[1].details[L"machine"]);
    EXPECT_EQ(std::to_wstring(RP_FORCE), refreshes[0].details[L"options"]);

    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUacKey, KEY_WOW64_64KEY, 0);
    EXPECT_TRUE(SetUacState(2, 0)) << "the key is created";
    EXPECT_EQ(L"2", MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin"));
}

TEST(CreateShortcut, WritesAResolvableLinkWithEveryField)
{
    const std::wstring folder = TestFolder(L"shortcut");
    const std::wstring target = folder + L"\\tool\\Brenwick.exe";
    std::filesystem::create_directories(folder + L"\\tool");
    std::ofstream(std::filesystem::path(target)) << "x";
    const std::wstring link = folder + L"\\Fix mhartley account profile.lnk";
    ASSERT_TRUE(CreateShortcut(link.c_str(), target.c_str(), L" /brenwick /fixuser \"mhartley\" /fixflag=3",
                               L"This action repairs the account profile for the \"mhartley\" user."));
    EXPECT_EQ(Show(target + L" |  /brenwick /fixuser \"mhartley\" /fixflag=3 | " + folder +
                   L"\\tool | This action repairs the account profile for the \"mhartley\" user."),
              Show(ReadLink(link)));

    EXPECT_FALSE(CreateShortcut((folder + L"\\missing\\x.lnk").c_str(), target.c_str(), L"", L""));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(folder + L"\\missing")));
    EXPECT_FALSE(CreateShortcut(nullptr, target.c_str(), L"", L""));
}

}  // namespace
