// The end of the repair: the machine put back as the state file says it was
// found, the temporary account removed by the finish at the start, and the
// clean-up in the repaired account's session, which only tidies its own.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "accounts/passwords.h"
#include "repair/cleanup.h"
#include "repair/logon_backup.h"
#include "repair/repair_journal.h"
#include "repair/repair_log.h"
#include "repair/repair_settings.h"
#include "repair/state_file.h"
#include "tests/win/repair_test_support.h"

using namespace repair_test;

namespace {

struct CleanupCase {
    const char* what;
    const wchar_t* uacUserState;   // null: the key is missing
    const wchar_t* uacState;
    const wchar_t* luaState;
    const wchar_t* aadState;
    const wchar_t* consentUser;
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
        SetMachineDword(kUacKey, L"ConsentPromptBehaviorUser", 3);
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
    CleanupInput Input() const
    {
        CleanupInput input;
        input.consoleUserName = L"mhartley";
        input.osVersion = 10.0;
        input.toolFolder = folder_.c_str();
        input.logPath = log_.c_str();
        return input;
    }
    // The finish's journal: the fix run handed mhartley over (or has not yet).
    void HandedOver(RepairOutcome outcome = RepairOutcome::Repaired)
    {
        RepairJournal journal;
        journal.account = L"mhartley";
        journal.outcome = outcome;
        journal.hiveCount = 2;
        WString path = JournalPath(folder_.c_str());
        ASSERT_TRUE(WriteJournal(path.Text(), journal));
    }
    std::wstring folder_, log_, state_;
};

TEST_F(Cleanup, RestoresOnlyValidSavedValues)
{
    const CleanupCase cases[] = {
        {"every value saved", L"1", L"5", L"1", L"4321", L"1", L"5", L"1", L"(missing)", 2, {}},
        {"a store value of 0", L"0", L"2", L"0", L"0", L"0", L"2", L"0", L"0", 2, {}},
        {"equal values write nothing", L"3", L"0", L"1", L"2", L"3", L"0", L"1", L"2", 0, {}},
        // Absent before the repair: absent again, never the repair's "no prompt".
        {"absent before", L"4294967295", L"4294967295", L"4294967295", L"4321", L"(missing)", L"(missing)",
         L"(missing)", L"(missing)", 2, {}},
        {"out of range", L"4", L"6", L"7", L"4294967296", L"3", L"0", L"1", L"2", 0,
         {"\"UACUserState\" is not valid", "\"UACState\" is not valid", "\"LUAState\" is not valid",
          "\"AADState\" is not valid"}},
        {"garbage", L"x", L"-1", L"1x", L"", L"3", L"0", L"1", L"2", 0,
         {"\"UACUserState\" is not valid", "\"UACState\" is not valid", "\"LUAState\" is not valid"}},
        {"missing", nullptr, nullptr, nullptr, nullptr, L"3", L"0", L"1", L"2", 0,
         {"No elevation prompt settings were saved"}},
    };
    for (const CleanupCase& c : cases) {
        Prepare();
        CreateStateFile(state_.c_str());
        WriteStateText(state_.c_str(), L"mhartley", L"FullName", L"Maria Hartley");
        const std::pair<const wchar_t*, const wchar_t*> keys[] = {{L"UACUserState", c.uacUserState},
                                                                  {L"UACState", c.uacState},
                                                                  {L"LUAState", c.luaState},
                                                                  {L"AADState", c.aadState}};
        for (const auto& key : keys)
            if (key.second != nullptr)
                WriteStateText(state_.c_str(), L"mhartley", key.first, key.second);

        RestoreSavedPolicies(state_.c_str(), L"mhartley", 10.0, log_.c_str());
        EXPECT_EQ(c.consentUser, MachineValue(kUacKey, L"ConsentPromptBehaviorUser")) << c.what;
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

        // Before the hand-over the fix run resumes in the temporary account.
        HandedOver(RepairOutcome::Running);
        EXPECT_EQ(FinishResult::Waiting, FinishRepair(Input()));
        ASSERT_TRUE(cutAfterTheAccountWent || AccountExists(L"brenwick_temp_admin"));
        HandedOver();
        EXPECT_EQ(FinishResult::Done, FinishRepair(Input()));
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
        EXPECT_TRUE(Recorded(L"ShellExecuteExW").empty()) << "nobody is signed in to read it";

        // The account's own clean-up opens it, and does nothing else.
        sandbox::SetElevated(false);
        EXPECT_EQ(-13, RunCleanup(Input()));
        EXPECT_EQ(log, ReadBytes(log_));
        auto opened = Recorded(L"ShellExecuteExW");
        ASSERT_EQ(1u, opened.size());
        EXPECT_EQ(log_, opened[0].details[L"file"]);
        EXPECT_EQ(folder_, opened[0].details[L"directory"]);
        EXPECT_EQ(L"5", opened[0].details[L"show"]);

        // Started again, the finish finds nothing left and writes nothing.
        EXPECT_EQ(FinishResult::Done, FinishRepair(Input()));
        EXPECT_EQ(log, ReadBytes(log_));
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
    SetAutoLogon(L"brenwick_temp_admin", L"Temp-Pass-123456");   // what the set-up leaves

    // A second run (the finish after a hand-over cut short) leaves the
    // sign-in it put back as it is.
    for (int run = 1; run <= 2; ++run) {
        RestoreSignInOnce(log_.c_str(), state_.c_str(), L"mhartley", nullptr, nullptr);
        EXPECT_EQ(L"jokafor", MachineValue(kWinlogonKey, L"DefaultUserName")) << "run " << run;
        EXPECT_EQ(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon")) << "run " << run;
        bool found = false;
        EXPECT_EQ(L"Okafor-Spring", Secret(L"DefaultPassword", &found)) << "run " << run;
        Secret(kSavedLogonSecret, &found);
        EXPECT_FALSE(found) << "the copy is deleted";
        EXPECT_TRUE(IsAutoLogonAccount(L"jokafor"));
    }
    EXPECT_EQ(1u, Occurrences(ReadBytes(log_), "Restored the earlier automatic sign-in."));

    // Nor does it clear a sign-in the repair did not set.
    NewState();
    RestoreSignInOnce(log_.c_str(), state_.c_str(), L"mhartley", nullptr, nullptr);
    EXPECT_EQ(L"jokafor", MachineValue(kWinlogonKey, L"DefaultUserName"));
    EXPECT_EQ(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
    bool found = false;
    EXPECT_EQ(L"Okafor-Spring", Secret(L"DefaultPassword", &found));
}

}  // namespace
