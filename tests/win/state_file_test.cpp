// The repair tool's state file on real files: written afresh, read back checked.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "repair/state_file.h"
#include "tests/win/repair_test_support.h"

using namespace repair_test;

namespace {

TEST(StateFile, CreatedAfreshWithTheMarkAndReadBackChecked)
{
    const std::wstring path = TestFolder(L"state-file") + L"\\Brenwick.ini";
    std::ofstream(std::filesystem::path(path), std::ios::binary) << "[old]\r\nUserPriv=1\r\n";
    ASSERT_TRUE(CreateStateFile(path.c_str()));
    EXPECT_EQ("\xEF\xBB\xBF", ReadBytes(path)) << "an older file is truncated";

    EXPECT_TRUE(WriteStateNumber(path.c_str(), L"mhartley", L"UserPriv", 2));
    EXPECT_TRUE(WriteStateNumber(path.c_str(), L"mhartley", L"UACState", 0xFFFFFFFF));
    EXPECT_TRUE(WriteStateText(path.c_str(), L"mhartley", L"FullName", L"Maria Hartley"));
    EXPECT_TRUE(WriteStateNumber(path.c_str(), L"mhartley", L"AADState", 4321));

    EXPECT_EQ(std::wstring(L"Maria Hartley"), std::wstring(ReadStateText(path.c_str(), L"mhartley", L"FullName").Text()));
    EXPECT_EQ(std::wstring(L"4294967295"), std::wstring(ReadStateText(path.c_str(), L"mhartley", L"UACState").Text()));
    struct { SavedValueKind kind; bool present; bool valid; uint32_t value; } const cases[] = {
        {SavedValueKind::UserPriv, true, true, 2},
        {SavedValueKind::UacState, true, true, 0xFFFFFFFF},   // none at set-up: deleted again
        {SavedValueKind::AadState, true, true, 4321},
        {SavedValueKind::LuaState, false, false, 0},
    };
    for (const auto& c : cases) {
        SavedValue saved = ReadStateValue(path.c_str(), L"mhartley", c.kind);
        EXPECT_EQ(c.present, saved.present) << Narrow(SavedValueKey(c.kind));
        EXPECT_EQ(c.valid, saved.valid) << Narrow(SavedValueKey(c.kind));
        EXPECT_EQ(c.value, saved.value) << Narrow(SavedValueKey(c.kind));
    }
    EXPECT_FALSE(ReadStateValue(path.c_str(), L"other", SavedValueKind::UserPriv).present);
}

}  // namespace
