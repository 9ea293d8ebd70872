// The clean-up after the repair: the machine put back as the state file
// says it was found.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "accounts/passwords.h"
#include "repair/cleanup.h"
#include "repair/logon_backup.h"
#include "repair/repair_log.h"
#include "repair/repair_settings.h"
#include "repair/state_file.h"
#include "tests/win/repair_test_support.h"

using namespace repair_test;

namespace {

struct CleanupCase {
    const char* what;
    const wchar_t* userPriv;   // null: the key is missing
    const wchar_t* uacState;
    const wchar_t* luaState;
    const wchar_t* aadState;
    DWORD privilege;           // mhartley's afterwards
    const wchar_t* consent;
    const wchar_t* lua;
    const wchar_t* autoDownload;
    size_t refreshes;          // SetUacState refreshes twice
    std::vector<const char*> logged;
};

class Cleanup : public ::testing::Test {
protected:
    void Prepare(const std::string& machine = "ConsoleUser=mhartley\n")
    {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-cleanup.ini", Scenario(machine, kTempAccount), &error)) << Narrow(error);
        folder_ = TestFolder(L"cleanup");
        log_ = folder_ + L"\\BrenwickLog.txt";
        state_ = folder_ + L"\\Brenwick.ini";
        SetMachineDword(kUacKey, L"ConsentPromptBehaviorAdmin", 0);
        SetMachineDword(kUacKey, L"EnableLUA", 1);
        SetMachineDword(kStoreKey, L"AutoDownload", 2);
        ASSERT_GT(WriteLogEntry(log_.c_str(), L"Repair operation sheduled. The computer will reboot now.", 3), 0);
        sandbox::ClearRecord();
    }
    // A state file that holds the account's type only.
    void NewState()
    {
        CreateStateFile(state_.c_str());
        WriteStateText(state_.c_str(), L"mhartley", L"UserPriv", L"2");
    }
    int Run()
    {
        CleanupInput input;
        input.consoleUserName = L"mhartley";
        input.osVersion = 10.0;
        input.toolFolder = folder_.c_str();
        input.logPath = log_.c_str();
        return RunCleanup(input);
    }
    std::wstring folder_, log_, state_;
};

TEST_F(Cleanup, RestoresOnlyValidSavedValues)
{
    const CleanupCase cases[] = {
        {"every value saved", L"1", L"5", L"1", L"4321", 1, L"5", L"1", L"(missing)", 2, {}},
        {"guest and a store value of 0", L"0", L"2", L"0", L"0", 0, L"2", L"0", L"0", 2, {}},
        {"equal values write nothing", L"2", L"0", L"1", L"2", 2, L"0", L"1", L"2", 0, {}},
        // Absent before the repair: absent again, never the repair's "no prompt".
        {"absent before", L"2", L"4294967295", L"4294967295", L"4321", 2, L"(missing)", L"(missing)", L"(missing)",
         2, {}},
        {"out of range", L"4294967295", L"6", L"7", L"4294967296", 2, L"0", L"1", L"2", 0,
         {"\"UserPriv\" is not valid", "\"UACState\" is not valid", "\"LUAState\" is not valid",
          "\"AADState\" is not valid"}},
        {"garbage", L"admin", L"-1", L"1x", L"", 2, L"0", L"1", L"2", 0,
         {"\"UserPriv\" is not valid", "\"UACState\" is not valid", "\"LUAState\" is not valid"}},
        {"missing", nullptr, nullptr, nullptr, nullptr, 2, L"0", L"1", L"2", 0,
         {"\"UserPriv\" is not valid", "No elevation prompt settings were saved"}},
    };
    for (const CleanupCase& c : cases) {
        Prepare();
        CreateStateFile(state_.c_str());
        WriteStateText(state_.c_str(), L"mhartley", L"FullName", L"Maria Hartley");
        const std::pair<const wchar_t*, const wchar_t*> keys[] = {
            {L"UserPriv", c.userPriv}, {L"UACState", c.uacState}, {L"LUAState", c.luaState}, {L"AADState", c.aadState}};
        for (const auto& key : keys)
            if (key.second != nullptr)
                WriteStateText(state_.c_str(), L"mhartley", key.first, key.second);

        EXPECT_EQ(-13, Run()) << c.what;
        DWORD privilege = 99;
        EXPECT_TRUE(AccountExists(L"mhartley", &privilege)) << c.what;
        EXPECT_EQ(c.privilege, privilege) << c.what;
        EXPECT_EQ(c.consent, MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin")) << c.what;
        EXPECT_EQ(c.lua, MachineValue(kUacKey, L"EnableLUA")) << c.what;
        EXPECT_EQ(c.autoDownload, MachineValue(kStoreKey, L"AutoDownload")) << c.what;
        EXPECT_EQ(c.refreshes, Recorded(L"RefreshPolicyEx").size()) << c.what;
        std::string log = ReadBytes(log_);
        for (const char* part : c.logged)
            EXPECT_EQ(1u, Occurrences(log, part)) << c.what << ": " << part << " in " << log;
        if (c.logged.empty()) {
            EXPECT_EQ(0u, Occurrences(log, "is not valid")) << c.what << ": " << log;
        }
    }
}

// Also when an earlier clean-up recorded its SID and got as far as removing
// the account itself when the power failed: its folder and entry still go.
TEST_F(Cleanup, RemovesTheTemporaryAccountEndsAndOpensTheLog)
{
    for (bool cutAfterTheAccountWent : {false, true}) {
        SCOPED_TRACE(cutAfterTheAccountWent ? "an earlier clean-up removed the account" : "in one go");
        Prepare();
        NewState();
        WString sid, profile;
        ASSERT_TRUE(GetAccountSidAndProfile(L"brenwick_temp_admin", sid, &profile));
        ASSERT_TRUE(std::filesystem::is_directory(profile.Text()));
        SetAutoLogon(L"brenwick_temp_admin", L"Temp-Pass-123456");
        if (cutAfterTheAccountWent) {
            WriteStateText(state_.c_str(), L"mhartley", L"TempSid", sid.Text());
            ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserDel(nullptr, L"brenwick_temp_admin"));
        }

        EXPECT_EQ(-13, Run());
        EXPECT_FALSE(AccountExists(L"brenwick_temp_admin"));
        EXPECT_FALSE(std::filesystem::exists(profile.Text())) << "its profile folder goes with it";
        WString left;
        EXPECT_FALSE(ReadProfileImagePath(sid.Text(), left)) << "and its profile-list entry";
        EXPECT_EQ(L"0", MachineValue(kWinlogonKey, L"AutoAdminLogon")) << "no earlier sign-in: it stays off";
        EXPECT_EQ(L"", MachineValue(kWinlogonKey, L"DefaultUserName"));
        std::string log = ReadBytes(log_);
        EXPECT_EQ(1u, Occurrences(log, ": Successfully deleted Brenwick's temp account."));
        EXPECT_EQ(1u, Occurrences(log, ": Repair operation complete.\r\n\r\n\t*** End of repair operation "));
        EXPECT_EQ(1u, Occurrences(log, "*** End of repair operation")) << log;
        EXPECT_EQ(log.size() - 4, log.rfind(" ***")) << "the end line closes the log";
        auto opened = Recorded(L"ShellExecuteExW");
        ASSERT_EQ(1u, opened.size());
        EXPECT_EQ(log_, opened[0].details[L"file"]);
        EXPECT_EQ(folder_, opened[0].details[L"directory"]);
        EXPECT_EQ(L"5", opened[0].details[L"show"]);

        // Run by hand a second time: the deletion fails and says so.
        EXPECT_EQ(-13, Run());
        log = ReadBytes(log_);
        EXPECT_EQ(1u, Occurrences(log, ": Failed to delete Brenwick's temp account."));
        EXPECT_EQ(2u, Occurrences(log, "*** End of repair operation"));
    }
}

TEST_F(Cleanup, PutsTheEarlierAutomaticSignInBack)
{
    Prepare("ConsoleUser=mhartley\nAutoLogon=jokafor\n");
    NewState();
    ASSERT_TRUE(SaveAutoLogon(state_.c_str(), L"mhartley"));
    // The password is kept in the tool's secret only.
    EXPECT_EQ(L"jokafor", std::wstring(ReadStateText(state_.c_str(), L"mhartley", kPrevLogonUserKey).Text()));
    EXPECT_EQ(L"1", std::wstring(ReadStateText(state_.c_str(), L"mhartley", kPrevAutoLogonKey).Text()));
    EXPECT_EQ(std::string::npos, ReadBytes(state_).find("Okafor-Spring")) << "no password in the file";
    bool saved = false;
    EXPECT_EQ(L"Okafor-Spring", Secret(kSavedLogonSecret, &saved));
    SetAutoLogon(L"brenwick_temp_admin", L"Temp-Pass-123456");
    SetAutoLogon(L"mhartley", L"");   // what the fix run leaves

    // A second run (a shortcut that could not be removed, a run by hand)
    // leaves the sign-in it put back as it is.
    for (int run = 1; run <= 2; ++run) {
        EXPECT_EQ(-13, Run());
        EXPECT_EQ(L"jokafor", MachineValue(kWinlogonKey, L"DefaultUserName")) << "run " << run;
        EXPECT_EQ(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon")) << "run " << run;
        bool found = false;
        EXPECT_EQ(L"Okafor-Spring", Secret(L"DefaultPassword", &found)) << "run " << run;
        Secret(kSavedLogonSecret, &found);
        EXPECT_FALSE(found) << "the copy is deleted";
        EXPECT_TRUE(IsAutoLogonAccount(L"jokafor"));
    }
    EXPECT_EQ(1u, Occurrences(ReadBytes(log_), "Restored the earlier automatic sign-in."));

    // Nor does a clean-up clear a sign-in the repair did not set.
    NewState();
    EXPECT_EQ(-13, Run());
    EXPECT_EQ(L"jokafor", MachineValue(kWinlogonKey, L"DefaultUserName"));
    EXPECT_EQ(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
    bool found = false;
    EXPECT_EQ(L"Okafor-Spring", Secret(L"DefaultPassword", &found));
}

}  // namespace
