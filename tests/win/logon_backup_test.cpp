// The earlier automatic sign-in: kept aside for the repair and put back.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "accounts/passwords.h"
#include "repair/logon_backup.h"
#include "repair/state_file.h"
#include "tests/win/repair_test_support.h"

using namespace repair_test;

namespace {

class LogonBackup : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-autologon.ini", Scenario("AutoLogon=jokafor\n"), &error)) << Narrow(error);
        state_ = TestFolder(L"logon-backup") + L"\\Brenwick.ini";
        CreateStateFile(state_.c_str());
    }
    std::wstring state_;
};

TEST_F(LogonBackup, NothingSavedLeavesItOffAndTheTemporaryAccountIsNeverSaved)
{
    SetAutoLogon(nullptr, nullptr);
    EXPECT_FALSE(SaveAutoLogon(state_.c_str(), L"mhartley"));
    SetAutoLogon(L"brenwick_temp_admin", L"Temp-Pass-123");
    EXPECT_FALSE(SaveAutoLogon(state_.c_str(), L"mhartley")) << "an unfinished repair's own sign-in";
    EXPECT_TRUE(ReadStateText(state_.c_str(), L"mhartley", kPrevLogonUserKey).IsEmpty());
    SetAutoLogon(nullptr, nullptr);
    EXPECT_EQ(LogonRestore::NoneSaved, RestoreAutoLogon(state_.c_str(), L"mhartley"));
    EXPECT_EQ(L"0", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
}

TEST_F(LogonBackup, ImplausibleSavedValuesAreRefusedAndTheCopyStillGoes)
{
    struct { const wchar_t* user; const wchar_t* on; const wchar_t* domain; } const cases[] = {
        {L"a\\b", L"1", nullptr},   {L"jokafor", L"2", nullptr}, {L"brenwick_temp_admin", L"1", nullptr},
        {L"jokafor", L"1", L"X=Y"}, {nullptr, L"1", nullptr},
    };
    for (const auto& c : cases) {
        SetUp();
        ASSERT_TRUE(SaveAutoLogon(state_.c_str(), L"mhartley"));
        SetAutoLogon(nullptr, nullptr);
        WriteStateText(state_.c_str(), L"mhartley", kPrevLogonUserKey, c.user);
        WriteStateText(state_.c_str(), L"mhartley", kPrevAutoLogonKey, c.on);
        if (c.domain != nullptr)
            WriteStateText(state_.c_str(), L"mhartley", kPrevLogonDomainKey, c.domain);
        EXPECT_EQ(LogonRestore::Refused, RestoreAutoLogon(state_.c_str(), L"mhartley")) << Narrow(c.user ? c.user : L"");
        EXPECT_EQ(L"", MachineValue(kWinlogonKey, L"DefaultUserName"));
        EXPECT_EQ(L"0", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
        bool found = true;
        Secret(kSavedLogonSecret, &found);
        EXPECT_FALSE(found);
    }
}

}  // namespace
