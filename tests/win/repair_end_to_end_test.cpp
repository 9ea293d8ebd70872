// A whole repair of an account whose profile no longer loads, on the
// simulated office PC: the wizard's "Yes" in the real window, the restart
// into the temporary account, the fix run there as a real process with its
// window, the restart into the repaired account and its clean-up run. Then
// every promise of the repair is checked against the machine as it was
// before, once for each combination of the wizard's two options.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "accounts/lookup.h"
#include "sandbox/key_security.h"
#include "sandbox/profiles.h"
#include "tests/win/repair_e2e_support.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"

namespace {

struct Case {
    const char* name;
    int flags;              // 1 store apps' data kept, 2 system app data kept
    bool earlierSignIn;     // another account signed in automatically before the repair
    e2e::CloseBy closeBy;
};

// The case's name in the test list instead of its bytes.
void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

const Case kCases[] = {
    {"NothingKept", 0, false, e2e::CloseBy::Button},
    {"StoreAppsKept", 1, false, e2e::CloseBy::Request},
    {"SystemAppDataKept", 2, true, e2e::CloseBy::Request},
    {"BothKept", 3, false, e2e::CloseBy::Button},
};

class RepairEndToEnd : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void TearDown() override { sandbox::ResetMachine(sandbox::ScenarioPath(L"default")); }
};

}  // namespace

TEST_P(RepairEndToEnd, TheAccountIsRebuiltWithEveryFileAndTheMachineIsLeftAsFound)
{
    const Case& c = GetParam();
    ULONGLONG started = GetTickCount64();
    e2e::Drive drive;
    drive.flags = c.flags;
    drive.earlierSignIn = c.earlierSignIn;
    drive.closeBy = c.closeBy;
    drive.signInAtScreen = e2e::kAccount;   // as she would, at the sign-in screen
    e2e::Before before;
    e2e::Run run;
    ASSERT_TRUE(e2e::DriveRepair(drive, &before, &run)) << run.failure;
    const ULONGLONG elapsed = GetTickCount64() - started;
    std::string story = e2e::Describe(run);
    ASSERT_EQ("", run.failure) << story;
    printf("end to end (%s): %.1f s in all; set-up %.1f s, restarts and runs %.1f s\n", c.name, elapsed / 1000.0,
           run.setupMs / 1000.0, run.restartsMs / 1000.0);
    fflush(stdout);
    RecordProperty("milliseconds", std::to_string(elapsed));

    // The temporary account's fix run; then the finish, which the service
    // manager starts as SYSTEM before anyone signs in; then the earlier
    // automatic sign-in as it was, or the sign-in screen, where the
    // repaired account signs in itself and its clean-up runs.
    ASSERT_EQ(c.earlierSignIn ? 2u : 3u, run.boots.size()) << story;
    EXPECT_EQ(e2e::kTempAccount, run.boots[0].account) << story;
    ASSERT_EQ(1u, run.boots[0].arguments.size()) << story;
    EXPECT_EQ(L" /brenwick /fixuser \"pweber\" /fixflag=" + std::to_wstring(c.flags), run.boots[0].arguments[0]);
    EXPECT_EQ(0u, run.boots[0].exitCodes[0]) << story;
    ASSERT_EQ(1u, run.boots[1].arguments.size()) << story;
    EXPECT_EQ(L" /brenwick /finish", run.boots[1].arguments[0]);
    EXPECT_EQ(0u, run.boots[1].exitCodes[0]) << story;
    EXPECT_EQ(c.earlierSignIn ? L"jokafor" : L"", run.boots[1].account) << story;
    if (!c.earlierSignIn) {
        EXPECT_EQ(e2e::kAccount, run.boots[2].account) << "the repaired profile signs in\n" << story;
        ASSERT_EQ(1u, run.boots[2].arguments.size()) << story;
        EXPECT_EQ(L"/brenwick /cleanup", run.boots[2].arguments[0]);
        EXPECT_EQ(static_cast<unsigned long>(-13), run.boots[2].exitCodes[0]) << story;
    }
    // Never more than its own type, from the set-up to its own session, and
    // nothing elevated in that session: its prompt as found from the start.
    for (const e2e::Boot& boot : run.boots) {
        for (const std::wstring& type : boot.accountTypes)
            EXPECT_TRUE(type.empty() || type <= before.account[L"account.type"])   // one digit: 0 guest to 2
                << "the account had type " << Narrow(type) << " at the sign-in of " << Narrow(boot.account) << "\n"
                << story;
        EXPECT_FALSE(boot.elevated) << "elevated in " << Narrow(boot.account) << "'s session\n" << story;
        for (const auto& fact : boot.promptAtSignIn)
            EXPECT_EQ(Narrow(before.settings[fact.first]), Narrow(fact.second)) << Narrow(fact.first) << " at sign-in";
    }

    EXPECT_EQ(1, run.countdowns) << "the fix window's countdown was seen once\n" << story;

    // The account, its profile entry, hives, pins, picture; the temporary
    // account gone; the settings as found.
    std::map<std::wstring, std::wstring> facts = e2e::FinalFacts(before);
    std::map<std::wstring, std::wstring> expected = before.settings;
    expected.insert(before.account.begin(), before.account.end());
    expected[L"account.disabled"] = L"no";
    expected[L"account.sid"] = L"a new one";
    expected[L"profile.entry"] = before.profile;
    expected[L"profile.oldEntry"] = L"(missing)";
    expected[L"profile.entriesNamingTheFolder"] = L"1";
    expected[L"temp.account"] = L"absent";
    expected[L"temp.profileEntries"] = L"0";
    expected[L"temp.profileFolders"] = L"0";
    expected[L"hive.user"] = L"loads, lists the shell folders";
    expected[L"hive.classes"] = L"loads";
    expected[L"taskband"] = L"carried over";
    expected[L"picture.own"] = L"set";
    expected[L"picture.centre"] = L"as before";
    // Her own clean-up removes them at her first sign-in.
    const wchar_t* shortcuts = c.earlierSignIn ? L"present" : L"absent";
    expected[L"shortcut\\Desktop\\BrenwickCleanup.lnk"] = shortcuts;
    expected[L"shortcut\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\BrenwickCleanup.lnk"] =
        shortcuts;
    expected[L"log.endLines"] = L"1";
    expected[L"log.completeLines"] = L"1";
    std::map<std::wstring, std::wstring> got;
    for (const auto& fact : expected)
        got[fact.first] = facts.count(fact.first) != 0 ? facts[fact.first] : L"(no such fact)";
    std::vector<std::string> wrong = e2e::Differences(expected, got);
    EXPECT_TRUE(wrong.empty()) << e2e::Listed(wrong) << story;

    // Every file of the owner byte for byte; the store apps' data and the
    // system app data kept or replaced as the options said (the old
    // account's own data there gives way to the fresh one's).
    auto rule = [&](const std::wstring& path) {
        using repair_test::FileRule;
        bool packages = repair_test::StartsWithNoCase(path, repair_test::kPackages);
        bool systemData = repair_test::StartsWithNoCase(path, repair_test::kSystemAppData);
        // The clean-up's shortcuts are facts of their own above.
        bool shortcut = path.find(L"BrenwickCleanup.lnk") != std::wstring::npos;
        if (repair_test::IsHiveFile(path) || shortcut || ((packages || systemData) && before.files.count(path) == 0))
            return FileRule::Skip;
        if ((packages && !(c.flags & 1)) || (systemData && !(c.flags & 2)))
            return packages || path.find(L"old-cache.bin") != std::wstring::npos ? FileRule::Gone : FileRule::Skip;
        return FileRule::Compare;
    };
    std::vector<std::wstring> compared;
    EXPECT_EQ("", repair_test::FileDifferences(before.files, repair_test::SumFiles(before.profile), rule, true, &compared));
    size_t longest = 0;
    bool beyondAscii = false;
    for (const std::wstring& path : compared) {
        longest = std::max(longest, before.profile.size() + 1 + path.size());
        for (wchar_t ch : path)
            beyondAscii |= ch > 0x7F;
    }
    EXPECT_GT(compared.size(), 300u);
    EXPECT_GT(longest, 260u) << "the path beyond the classic limit was compared";
    EXPECT_TRUE(beyondAscii) << "names beyond ASCII were compared";
    printf("compared %zu files byte for byte (longest path %zu characters)\n", compared.size(), longest);
}

INSTANTIATE_TEST_SUITE_P(Options, RepairEndToEnd, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

namespace {

// Keeping the settings: on the machine whose hive is sound the value written
// in her hive before the rebuild is read back after it, in her own session
// under her new SID; without the choice the rebuild is today's, with fresh
// settings; where the old hive does not load the choice falls back to fresh
// settings and the log says why.
struct KeepCase {
    const char* name;
    const wchar_t* scenario;
    int flags;
    const wchar_t* settings;   // the fact "hive.settings"
    bool fallbackLogged;
};

// The case's name in the test list instead of its bytes.
void PrintTo(const KeepCase& c, std::ostream* out)
{
    *out << c.name;
}

const KeepCase kKeepCases[] = {
    {"SoundHiveKept", L"keep-settings", 4, L"kept, hers to read", false},
    {"SoundHiveNotAsked", L"keep-settings", 0, L"fresh", false},
    {"DamagedHiveFallsBack", L"broken-profile", 4, L"fresh", true},
};

class RepairKeepingSettings : public ::testing::TestWithParam<KeepCase> {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void TearDown() override { sandbox::ResetMachine(sandbox::ScenarioPath(L"default")); }
};

}  // namespace

TEST_P(RepairKeepingSettings, TheOldHiveIsHersAgainOnlyWhenAskedForAndSound)
{
    const KeepCase& c = GetParam();
    e2e::Drive drive;
    drive.scenario = c.scenario;
    drive.flags = c.flags;
    drive.signInAtScreen = e2e::kAccount;
    e2e::Before before;
    e2e::Run run;
    ASSERT_TRUE(e2e::DriveRepair(drive, &before, &run)) << run.failure;
    const std::string story = e2e::Describe(run);
    ASSERT_EQ("", run.failure) << story;
    std::map<std::wstring, std::wstring> facts = e2e::FinalFacts(before);
    EXPECT_EQ(L"a new one", facts[L"account.sid"]) << story;
    EXPECT_EQ(L"loads, lists the shell folders", facts[L"hive.user"]) << story;
    EXPECT_EQ(std::wstring(c.settings), facts[L"hive.settings"]) << story;

    // Her own sign-in takes her own profile, and reads the value as her.
    sandbox::Reboot();
    const sandbox::RebootOutcome signIn = sandbox::SignInAtTheScreen(e2e::kAccount, L"");
    EXPECT_TRUE(signIn.signedIn && !signIn.temporaryProfile) << Narrow(signIn.signInScreen) << story;
    WString sid;
    ASSERT_TRUE(GetAccountSidAndProfile(e2e::kAccount, sid, nullptr));
    const bool kept = std::wstring(c.settings) == L"kept, hers to read";
    EXPECT_EQ(kept ? std::wstring(sandbox::kMarkerText) : std::wstring(L"(missing)"),
              RegText(HKEY_USERS, std::wstring(sid.Text()) + L"\\" + sandbox::kMarkerKey, sandbox::kMarkerValue));
    EXPECT_EQ(kept, sandbox::AccountMayReadKey(sid.Text(), sandbox::kMarkerKey, sid.Text()));
    const std::string log = repair_test::ReadBytes(e2e::kLogPath);
    EXPECT_EQ(c.fallbackLogged, log.find("could not be kept from its old NTUSER.DAT") != std::string::npos) << log;
    EXPECT_EQ(kept, log.find("The old NTUSER.DAT was given to the new account") != std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Choice, RepairKeepingSettings, ::testing::ValuesIn(kKeepCases),
                         [](const ::testing::TestParamInfo<KeepCase>& info) { return std::string(info.param.name); });
