// A profile that no longer loads, one cause per machine: the plan names the
// cause and the least invasive mend, the sign-in before the mend gets a
// temporary profile, and after `repair mend` the account signs in with its
// own profile and reads back the value written in its hive before. Then the
// mend's power cuts: cut at each of its steps, the machine is put back as it
// was found.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <map>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/machine.h"
#include "repair/profile_mend.h"
#include "repair/repair_site.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"
#include "tests/narrow.h"
#include "tests/win/test_support.h"

namespace {

constexpr wchar_t kAccount[] = L"ajansen";
constexpr wchar_t kPassword[] = L"Jansen-Desk-4";
constexpr wchar_t kList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

using Outcome = ProgramOutcome;

// The sandbox program with the arguments, its standard output (and error)
// read to the end; its standard input has ended at once.
Outcome RunProgram(const std::wstring& arguments)
{
    return RunProgramCapturing(VANTRELL_SANDBOX_PROGRAM, arguments, "", true, true);
}

std::wstring SidOf(const wchar_t* account)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid), domainLength = 64;
    wchar_t domain[64];
    SID_NAME_USE use;
    if (!machine::LookupAccountNameW(nullptr, account, sid, &size, domain, &domainLength, &use))
        return L"";
    LPWSTR text = nullptr;
    ConvertSidToStringSidW(sid, &text);
    std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    return result;
}

// Every value of a profile-list entry, as text.
std::wstring EntryText(const std::wstring& name)
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kList + name).c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return L"(none)";
    std::map<std::wstring, std::wstring> values;
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[256];
        BYTE data[2048];
        DWORD nameLength = ARRAYSIZE(valueName), size = sizeof(data), type = 0;
        if (RegEnumValueW(key.Get(), i, valueName, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::wstring shown = std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b)
            shown += std::to_wstring(data[b]) + L",";
        values[valueName] = shown;
    }
    std::wstring text;
    for (const auto& value : values)
        text += value.first + L"=" + value.second + L";";
    return text;
}

// Owner and DACL of a file or folder as the machine gives them.
std::wstring SecurityText(const std::wstring& path)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!file || machine::GetSecurityInfo(file.Get(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return L"(unreadable)";
    LPWSTR sddl = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl,
                                                         nullptr);
    std::wstring text = sddl != nullptr ? sddl : L"";
    LocalFree(sddl);
    LocalFree(descriptor);
    return text;
}

// What a mend may change, for comparing the machine before and after.
std::map<std::wstring, std::wstring> Facts(const std::wstring& sid, const std::wstring& folder)
{
    return {{L"entry", EntryText(sid)},
            {L"backup", EntryText(sid + L".bak")},
            {L"folder", SecurityText(folder)},
            {L"hive", SecurityText(folder + L"\\NTUSER.DAT")},
            {L"appdata", GetFileAttributesW((folder + L"\\AppData\\Local").c_str()) != INVALID_FILE_ATTRIBUTES
                             ? L"there"
                             : L"missing"}};
}

std::string Different(const std::map<std::wstring, std::wstring>& before,
                      const std::map<std::wstring, std::wstring>& after)
{
    std::string text;
    for (const auto& fact : before) {
        auto found = after.find(fact.first);
        if (found == after.end() || found->second != fact.second)
            text += Narrow(fact.first.c_str()) + ": " + Narrow(fact.second.c_str()) + " -> " +
                    (found == after.end() ? std::string("(none)") : Narrow(found->second.c_str())) + "\n";
    }
    return text;
}

std::wstring Marker(const std::wstring& sid)
{
    return RegText(HKEY_USERS, sid + L"\\" + sandbox::kMarkerKey, sandbox::kMarkerValue);
}

// The scenario loaded, the account signed in once (getting a temporary
// profile, as its owner did) and the machine restarted to the sign-in
// screen, where the administrator finds it.
void FaultedAndSignedInOnce(const wchar_t* scenario, sandbox::RebootOutcome* first)
{
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) << Narrow(error.c_str());
    sandbox::Reboot();
    *first = sandbox::SignInAtTheScreen(kAccount, kPassword);
    sandbox::Reboot();
    sandbox::SetElevated(true);   // the administrator, at work
}

class ProfileMend : public ::testing::Test {
protected:
    void TearDown() override { sandbox::ResetMachine(sandbox::ScenarioPath(L"default")); }
};

TEST_F(ProfileMend, EachCauseIsNamedAndTheLeastInvasiveMendBringsTheAccountBack)
{
    struct Case {
        const wchar_t* scenario;
        const char* cause;
        const char* mend;
    };
    const Case cases[] = {
        {L"profile-backup-entry", "backup-entry", "mend-in-place"},
        {L"profile-wrong-path", "wrong-path", "mend-in-place"},
        {L"profile-state", "state-left-set", "mend-in-place"},
        {L"profile-folder-rights", "folder-rights", "mend-in-place"},
        {L"profile-hive-rights", "hive-rights", "mend-in-place"},
        // Nothing in place brings a damaged hive back: the rebuild, which
        // the end-to-end repair carries out on the broken-profile machine.
        {L"profile-hive-damaged", "hive-damaged", "rebuild-fresh"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.scenario));
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(c.scenario), &error)) << Narrow(error.c_str());
        const std::wstring sid = SidOf(kAccount);
        const Outcome plan = RunProgram(std::wstring(L"repair plan ") + kAccount + L" --json");
        EXPECT_EQ(0u, plan.exitCode) << plan.out;
        EXPECT_NE(std::string::npos, plan.out.find(std::string("\"cause\":\"") + c.cause + "\"")) << plan.out;
        EXPECT_NE(std::string::npos, plan.out.find(std::string("\"recommended\":\"") + c.mend + "\"")) << plan.out;

        // Its owner cannot have her own profile.
        sandbox::Reboot();
        const sandbox::RebootOutcome before = sandbox::SignInAtTheScreen(kAccount, kPassword);
        sandbox::Reboot();
        sandbox::SetElevated(true);   // the administrator, at work
        const bool inPlace = std::string(c.mend) == "mend-in-place";
        EXPECT_TRUE(!before.signedIn || before.temporaryProfile) << "the fault keeps her from her own profile";

        const Outcome mend = RunProgram(std::wstring(L"repair mend ") + kAccount);
        if (!inPlace) {
            EXPECT_EQ(3u, mend.exitCode) << "a rebuild is refused by the mend in place: " << mend.out;
            continue;
        }
        EXPECT_TRUE(before.signedIn && before.temporaryProfile);
        EXPECT_EQ(0u, mend.exitCode) << mend.out;
        const sandbox::RebootOutcome after = sandbox::SignInAtTheScreen(kAccount, kPassword);
        EXPECT_TRUE(after.signedIn) << Narrow(after.signInScreen.c_str());
        EXPECT_FALSE(after.temporaryProfile) << "her own profile, not a temporary one";
        EXPECT_EQ(kAccount, sandbox::SessionUserName());
        EXPECT_EQ(sid, SidOf(kAccount)) << "the same account, not a new one";
        EXPECT_EQ(std::wstring(sandbox::kMarkerText), Marker(sid)) << "her settings, read back as her";
    }
}

// The mend's own power-cut points, in the order an uninterrupted mend of
// the account passes them (the one whose rights were taken, signed in once
// to a temporary profile: the backup put back, State and RefCount cleared,
// the folder's rights given back).
std::vector<std::wstring> MendPoints()
{
    sandbox::RebootOutcome first;
    FaultedAndSignedInOnce(L"profile-folder-rights", &first);
    sandbox::ClearPowerCutPoints();
    RunProgram(std::wstring(L"repair mend ") + kAccount);
    std::vector<std::wstring> points;
    for (const std::wstring& point : sandbox::PowerCutPointsPassed())
        if (point.rfind(L"mend: ", 0) == 0)
            points.push_back(point);
    return points;
}

class RepairKillPointsOfTheMend : public ::testing::TestWithParam<int> {
protected:
    void TearDown() override { sandbox::ResetMachine(sandbox::ScenarioPath(L"default")); }
};

TEST_P(RepairKillPointsOfTheMend, ACutMendIsUndoneAndTheNextOneBringsTheAccountBack)
{
    const std::vector<std::wstring> points = MendPoints();
    ASSERT_EQ(5u, points.size()) << "the record, the backup, State, RefCount and the folder's rights";
    if (static_cast<size_t>(GetParam()) >= points.size())
        GTEST_SKIP();
    const std::wstring point = points[static_cast<size_t>(GetParam())];
    SCOPED_TRACE(Narrow(point.c_str()));

    sandbox::RebootOutcome first;
    FaultedAndSignedInOnce(L"profile-folder-rights", &first);
    const std::wstring sid = SidOf(kAccount);
    const std::wstring folder = sandbox::ProfileFolderOf(sid + L".bak");
    ASSERT_FALSE(folder.empty());
    const auto before = Facts(sid, folder);
    sandbox::ArmPowerCut(point.c_str());
    const Outcome cut = RunProgram(std::wstring(L"repair mend ") + kAccount);
    EXPECT_EQ(sandbox::kPowerCutExitCode, cut.exitCode) << cut.out;
    sandbox::Reboot();

    // What the cut mend had changed is put back from its record.
    RepairSite site = LocateRepairSite();
    std::wstring said;
    EXPECT_TRUE(RestoreUnfinishedMend(site, said)) << Narrow(said.c_str());
    EXPECT_EQ("", Different(before, Facts(sid, folder)));

    const Outcome again = RunProgram(std::wstring(L"repair mend ") + kAccount);
    EXPECT_EQ(0u, again.exitCode) << again.out;
    const sandbox::RebootOutcome after = sandbox::SignInAtTheScreen(kAccount, kPassword);
    EXPECT_TRUE(after.signedIn && !after.temporaryProfile);
    EXPECT_EQ(std::wstring(sandbox::kMarkerText), Marker(sid));
}

INSTANTIATE_TEST_SUITE_P(Step, RepairKillPointsOfTheMend, ::testing::Range(0, 5));

}  // namespace
