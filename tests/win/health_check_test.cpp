// The health check on the simulated machine: each finding on the scenario
// that holds it, with its evidence; each mend leaving a second check without
// that finding and with every other finding as it was; and the machines on
// which nothing may be reported.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/health_check.h"
#include "app/health_check_dialog.h"
#include "sandbox/sandbox.h"
#include "tests/narrow.h"
#include "tests/win/test_support.h"

namespace {

void Load(const wchar_t* scenario)
{
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) << Narrow(error.c_str());
}

std::string Describe(const std::vector<Finding>& findings)
{
    std::string text;
    for (const Finding& f : findings)
        text += Narrow(f.id.c_str()) + " [" + Narrow(f.target.c_str()) + "] " + Narrow(f.summary.c_str()) + "\n";
    return text;
}

std::set<std::wstring> Keys(const std::vector<Finding>& findings)
{
    std::set<std::wstring> keys;
    for (const Finding& f : findings)
        keys.insert(f.id + L"|" + f.target + L"|" + f.detail);
    return keys;
}

const Finding* Find(const std::vector<Finding>& findings, const wchar_t* id)
{
    for (const Finding& f : findings) {
        if (f.id == id)
            return &f;
    }
    return nullptr;
}

std::wstring EvidenceOf(const Finding& finding, const wchar_t* name)
{
    for (const Evidence& e : finding.evidence) {
        if (e.name == name)
            return e.value;
    }
    return L"";
}

}  // namespace

// Nothing the office PCs hold by design is reported: the built-in and
// system accounts' SIDs in groups and rights, Wine's and the system's own
// profiles and folders, a guest-type account that needs no password, a
// working automatic sign-in, and one to an account that needs no password
// with none stored (the kiosk).
TEST(HealthCheck, TheScenariosWithoutFaultsReportNoProblemOrRisk)
{
    for (const wchar_t* scenario : {L"default", L"auto-logon", L"many-accounts", L"kiosk"}) {
        Load(scenario);
        std::vector<Finding> findings = RunHealthCheck(HealthCheckOptions{});
        // The lab machine has one administrator: a note, nothing worse.
        if (std::wstring(scenario) == L"many-accounts" && findings.size() == 1 &&
            findings[0].kind == FindingKind::SingleAdministrator)
            findings.clear();
        EXPECT_EQ("", Describe(findings)) << Narrow(scenario);
    }
}

TEST(HealthCheck, EachFindingOnItsScenarioWithItsEvidence)
{
    Load(L"health");
    uint32_t calls = 0, lastTotal = 0;
    std::vector<Finding> findings = RunHealthCheck(HealthCheckOptions{}, [&](uint32_t done, uint32_t total, const wchar_t*) {
        EXPECT_LE(done, total);
        ++calls;
        lastTotal = total;
    });
    EXPECT_EQ(lastTotal + 1, calls);
    struct Expected {
        const wchar_t* scenario;
        const wchar_t* id;
        const wchar_t* evidence;
        const wchar_t* contains;
    } expected[] = {
        {L"health", L"profile-key-corrupt", L"Entry", L".bak"},
        {L"health", L"orphan-profile", L"Folder", L"intern"},
        {L"health", L"orphan-profile-folder", L"Folder", L"former-staff"},
        {L"health", L"orphan-right", L"Rights", L"SeDenyInteractiveLogonRight"},
        {L"health", L"orphan-group-member", L"SID", L"-1090"},
        {L"health", L"auto-logon-broken", L"Reason", L"locked out"},
        {L"health", L"auto-logon-plain-password", L"Account", L"dnovak"},
        {L"health", L"passwordless-sign-in-setting", L"Data", L"2"},
        {L"health", L"repair-temp-admin", L"Account", L"brenwick_temp_admin"},
        {L"health", L"repair-stale-state", L"File", L"Brenwick.ini"},
        {L"health", L"admin-password-not-required", L"Account", L"mhartley"},
        {L"health", L"guest-enabled", L"Account", L"Guest"},
        {L"health-leftovers", L"auto-logon-no-password", L"Account", L"ana"},
        {L"health-leftovers", L"repair-stale-journal", L"File", L"\\BrenwickJournal.txt"},
        {L"health-leftovers", L"repair-stale-shortcut", L"Shortcut", L"\\BrenwickTask.lnk"},
        {L"health-leftovers", L"personal-folder-missing", L"Place", L"\\Archive drive\\Documents"},
        {L"health-leftovers", L"personal-folder-in-other-profile", L"Place", L"\\tomas\\Pictures"},
    };
    std::map<std::wstring, std::vector<Finding>> on{{L"health", findings}};
    for (const Expected& e : expected) {
        if (on.count(e.scenario) == 0) {
            Load(e.scenario);
            on[e.scenario] = RunHealthCheck(HealthCheckOptions{});
        }
        const std::string all = Describe(on[e.scenario]);
        const Finding* f = Find(on[e.scenario], e.id);
        ASSERT_NE(nullptr, f) << Narrow(e.id) << " missing from:\n" << all;
        EXPECT_NE(std::wstring::npos, EvidenceOf(*f, e.evidence).find(e.contains))
            << Narrow(e.id) << ": " << Narrow(EvidenceOf(*f, e.evidence).c_str());
    }
    // The rest reads the office PC again.
    Load(L"health");
    // The plain-text password itself is never evidence.
    for (const Finding& f : findings) {
        for (const Evidence& e : f.evidence)
            EXPECT_EQ(std::wstring::npos, e.value.find(L"Novak-Locked")) << Narrow(f.id.c_str());
    }
    // Problems first, then risks, then notes.
    EXPECT_TRUE(std::is_sorted(findings.begin(), findings.end(),
                               [](const Finding& a, const Finding& b) { return a.severity < b.severity; }));
    // Only the deleted account's SID (RID 1090): never the living accounts' nor a built-in one.
    const std::wstring deleted = Find(findings, L"orphan-group-member")->target;
    for (const Finding& f : findings) {
        if (f.kind == FindingKind::OrphanRight || f.kind == FindingKind::OrphanGroupMember) {
            EXPECT_EQ(deleted, f.target) << Narrow(f.id.c_str());
        }
    }

    HealthCheckOptions measured;
    measured.measureProfiles = true;
    std::vector<Finding> sized = RunHealthCheck(measured);
    const Finding* orphan = Find(sized, L"orphan-profile");
    ASSERT_NE(nullptr, orphan);
    EXPECT_NE(L"", EvidenceOf(*orphan, L"Size"));
    EXPECT_EQ(L"", EvidenceOf(*Find(findings, L"orphan-profile"), L"Size")) << "sizes only on request";
}

TEST(HealthCheck, SignInLeftoversAndASingleAdministrator)
{
    Load(L"health-sign-in-off");
    std::vector<Finding> findings = RunHealthCheck(HealthCheckOptions{});
    std::set<std::wstring> targets;
    for (const Finding& f : findings) {
        if (f.kind == FindingKind::AutoLogonLeftover)
            targets.insert(f.target);
    }
    EXPECT_EQ((std::set<std::wstring>{L"AutoLogonCount", L"ForceAutoLogon"}), targets) << Describe(findings);
    EXPECT_NE(nullptr, Find(findings, L"single-administrator")) << Describe(findings);
}

// Only the profiles nobody has used for half a year, of accounts that still
// exist, and neither loaded nor the console user's.
TEST(HealthCheck, ProfilesUnusedForALongTimeAreANote)
{
    Load(L"old-profiles");
    std::set<std::wstring> accounts;
    for (const Finding& f : RunHealthCheck(HealthCheckOptions{})) {
        if (f.kind == FindingKind::ProfileUnused) {
            EXPECT_EQ(Severity::Note, f.severity);
            accounts.insert(EvidenceOf(f, L"Account"));
        }
    }
    EXPECT_EQ((std::set<std::wstring>{L"anna", L"bwalker"}), accounts);
}

// Each mendable finding, mended alone on a fresh machine: a second check
// no longer has it, and every other finding is still there. A finding that
// is not mendable is never mended.
TEST(HealthCheck, EachMendRemovesItsFindingAndNothingElse)
{
    for (const wchar_t* scenario : {L"health", L"health-sign-in-off", L"health-leftovers"}) {
        Load(scenario);
        std::vector<std::wstring> ids;
        for (const Finding& f : RunHealthCheck(HealthCheckOptions{})) {
            if (f.mendable)
                ids.push_back(f.id + L"|" + f.target + L"|" + f.detail);
            else
                EXPECT_FALSE(MendFinding(f).mended) << Narrow(f.id.c_str());
        }
        for (const std::wstring& key : ids) {
            Load(scenario);
            std::vector<Finding> fresh = RunHealthCheck(HealthCheckOptions{});
            auto it = std::find_if(fresh.begin(), fresh.end(),
                                   [&](const Finding& f) { return f.id + L"|" + f.target + L"|" + f.detail == key; });
            ASSERT_NE(fresh.end(), it) << Narrow(key.c_str());
            MendOutcome outcome = MendFinding(*it);
            EXPECT_TRUE(outcome.mended) << Narrow(key.c_str()) << ": " << Narrow(outcome.text.c_str());
            std::set<std::wstring> expected = Keys(fresh);
            expected.erase(key);
            // Switching sign-in off removes its stored password, wherever it was kept.
            if (it->kind == FindingKind::AutoLogonBroken)
                expected.erase(L"auto-logon-plain-password|" + it->target + L"|");
            EXPECT_EQ(expected, Keys(RunHealthCheck(HealthCheckOptions{}))) << Narrow(key.c_str());
            // Nothing is mended twice.
            EXPECT_FALSE(MendFinding(*it).mended) << Narrow(key.c_str());
        }
    }
}

// The user owns every folder on the way to their Startup folder: one of
// them swapped for a link after the check leads the mend elsewhere, where
// nothing may be deleted.
TEST(HealthCheck, TheShortcutMendDeletesNothingThroughALink)
{
    Load(L"health-leftovers");
    std::vector<Finding> findings = RunHealthCheck(HealthCheckOptions{});
    const Finding* shortcut = Find(findings, L"repair-stale-shortcut");
    ASSERT_NE(nullptr, shortcut) << Describe(findings);
    const std::wstring startup = shortcut->target.substr(0, shortcut->target.rfind(L'\\'));
    const std::wstring elsewhere = L"C:\\vantrell-elsewhere";
    const std::wstring victim = elsewhere + shortcut->target.substr(startup.size());
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(shortcut->target.c_str(), victim.c_str(), FALSE));
    ASSERT_TRUE(MoveFileW(startup.c_str(), (startup + L".real").c_str()));
    ASSERT_TRUE(PlantUnixLink(startup, elsewhere));

    EXPECT_FALSE(MendFinding(*shortcut).mended);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(victim.c_str())) << "deleted through the link";
    RemoveUnixLinksTo(startup.substr(0, startup.rfind(L'\\')), elsewhere);
    MoveFileW((startup + L".real").c_str(), startup.c_str());
    DeleteFileW(victim.c_str());
    RemoveDirectoryW(elsewhere.c_str());
}

// The saved list keeps whatever the machine's texts hold as data: a CSV cell
// never starts as a formula, a JSON string escapes what it must.
TEST(HealthCheck, TheExportKeepsTheMachinesTextsAsData)
{
    struct { const wchar_t* value; const char* csv; const char* json; } const cases[] = {
        {L"say \"hi\", then", "\"say \"\"hi\"\", then\"", "\"say \\\"hi\\\", then\""},
        {L"two\nlines\x01", "\"two\nlines\x01\"", "\"two\\nlines\\u0001\""},
    };
    for (const auto& c : cases) {
        Finding finding;
        finding.id = L"orphan-profile-folder";
        finding.summary = c.value;
        std::string csv = ExportFindings({finding}, {}, ExportFormat::Csv);
        std::string json = ExportFindings({finding}, {}, ExportFormat::Json);
        EXPECT_NE(std::string::npos, csv.find("\r\nnote,orphan-profile-folder," + std::string(c.csv) + ",")) << csv;
        EXPECT_NE(std::string::npos, json.find("\"summary\":" + std::string(c.json) + ",")) << json;
    }
    // The mend's result goes beside its finding.
    Finding mended;
    std::string csv = ExportFindings({mended, mended}, {L"The value was removed."}, ExportFormat::Csv);
    EXPECT_NE(std::string::npos, csv.find(",The value was removed.\r\n")) << csv;
    EXPECT_EQ(3, std::count(csv.begin(), csv.end(), '\n')) << csv;
}

// The account database failing after its first page: the check says it
// could not read the accounts, and judges nothing on the part it got, where
// every account it did not see would look deleted.
TEST(HealthCheck, AnAccountDatabaseThatFailsMidWalkIsReportedNotTakenAsNoAccounts)
{
    Load(L"health");
    const std::set<std::wstring> whole = Keys(RunHealthCheck(HealthCheckOptions{}));
    sandbox::SetNetUserEnumPageSize(2);
    sandbox::SetCallFailure(L"NetUserEnum", NERR_InternalError);
    const std::vector<Finding> findings = RunHealthCheck(HealthCheckOptions{});
    const Finding* unread = Find(findings, L"check-incomplete");
    ASSERT_NE(nullptr, unread) << Describe(findings);
    EXPECT_EQ(L"the account database", EvidenceOf(*unread, L"Not read"));
    EXPECT_EQ(Severity::Problem, unread->severity);
    for (const Finding& f : findings) {
        EXPECT_TRUE(f.kind == FindingKind::CheckIncomplete || whole.count(f.id + L"|" + f.target + L"|" + f.detail))
            << "judged on a part of the accounts: " << Narrow(f.id.c_str()) << " " << Narrow(f.target.c_str());
    }
}
