#include "accounts/health_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace {

constexpr wchar_t kMachine[] = L"S-1-5-21-1111-2222-3333";

std::string Ids(const std::vector<FindingKind>& kinds)
{
    std::string ids;
    for (FindingKind kind : kinds)
        ids += (ids.empty() ? "" : " ") + Narrow(RuleOf(kind).id);
    return ids;
}

}  // namespace

TEST(HealthRules, EveryKindHasOneRuleWithAnIdOfItsOwn)
{
    std::set<std::wstring> ids;
    for (int k = 0; k <= static_cast<int>(FindingKind::CheckIncomplete); ++k) {
        const FindingRule& rule = RuleOf(static_cast<FindingKind>(k));
        EXPECT_EQ(k, static_cast<int>(rule.kind)) << Narrow(rule.id);
        EXPECT_TRUE(ids.insert(rule.id).second) << Narrow(rule.id);
        FindingKind back;
        ASSERT_TRUE(KindOfId(rule.id, back)) << Narrow(rule.id);
        EXPECT_EQ(rule.kind, back);
        // Only what can be mended can be safe to mend.
        EXPECT_TRUE(rule.mendable || !rule.safeToMend) << Narrow(rule.id);
    }
    FindingKind unused;
    EXPECT_FALSE(KindOfId(L"Orphan-Profile", unused));
    EXPECT_FALSE(KindOfId(nullptr, unused));
}

// What "mend every safe finding" may do without asking, and what may be
// mended at all: a finding moved into either list is a decision, never a
// slip of the table.
TEST(HealthRules, OnlyTheseFindingsAreMendedAndOnlyTheseWithoutAsking)
{
    std::string mendable, safe;
    for (int k = 0; k <= static_cast<int>(FindingKind::CheckIncomplete); ++k) {
        const FindingRule& rule = RuleOf(static_cast<FindingKind>(k));
        if (rule.mendable)
            mendable += (mendable.empty() ? "" : " ") + Narrow(rule.id);
        if (rule.safeToMend)
            safe += (safe.empty() ? "" : " ") + Narrow(rule.id);
    }
    EXPECT_EQ("profile-key-corrupt orphan-profile orphan-right orphan-group-member auto-logon-broken "
              "auto-logon-plain-password auto-logon-leftover repair-temp-admin repair-stale-state "
              "repair-stale-journal repair-stale-shortcut",
              mendable);
    EXPECT_EQ("orphan-right orphan-group-member auto-logon-plain-password auto-logon-leftover repair-stale-state "
              "repair-stale-shortcut",
              safe);
}

// Only this computer's own account SIDs can ever be reported as orphaned.
TEST(HealthRules, OnlyTheMachinesAccountSidsAreLocal)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"s-1-5-21-1111-2222-3333-1099", true}, {L"S-1-5-21-1111-2222-3333-4294967295", true},
        {L"S-1-5-21-1111-2222-3333-4294967296", false},   // no 32-bit number
        {L"S-1-5-21-9999-2222-3333-1001", false},        // a domain's account
        {L"S-1-5-21-1111-2222-33334-1001", false},       // a longer domain part
        {L"S-1-5-21-1111-2222-3333", false},             // the domain itself
        {L"S-1-5-21-1111-2222-3333-1001-7", false}, {L"S-1-5-21-1111-2222-3333-", false},
        {L"S-1-5-32-544", false},                        // Administrators
        {L"S-1-5-18", false},                            // SYSTEM
        {L"*S-1-5-21-1111-2222-3333-1001", false},
    };
    for (auto [sid, local] : cases)
        EXPECT_EQ(local, IsLocalAccountSid(sid, kMachine)) << Narrow(sid);
    // With no machine domain known nothing is local.
    for (const wchar_t* domain : {L"", L"S-1-5-32", L"S-1-5-21-1-2", L"S-1-5-21-1-2-3-4", L"S-1-5-21-1-2-4294967296"})
        EXPECT_FALSE(IsLocalAccountSid(std::wstring(domain) + L"-1001", domain)) << Narrow(domain);

    EXPECT_EQ(std::wstring(kMachine), DomainOfAccountSid(L"S-1-5-21-1111-2222-3333-1001"));
    EXPECT_EQ(L"", DomainOfAccountSid(L"S-1-5-32-544"));
    EXPECT_EQ(L"", DomainOfAccountSid(L"S-1-5-21-1111-2222-3333"));
    EXPECT_EQ(L"", DomainOfAccountSid(L"S-1-5-21-1111-2222-3333-12a"));
}

TEST(HealthRules, SystemProfileFoldersAndPathsInsideAFolder)
{
    const std::pair<const wchar_t*, bool> names[] = {
        {L"default user", true}, {L"PUBLIC", true},      {L"temp.office-pc.000", true}, {L"defaultuser100000", true},
        {L"mhartley", false},    {L"Defaults", false},   {L"Temporary", false},         {L"", false},
    };
    for (auto [name, system] : names)
        EXPECT_EQ(system, IsSystemProfileFolderName(name)) << Narrow(name);

    struct { const wchar_t* path; const wchar_t* folder; bool inside; } const paths[] = {
        {L"C:\\Users\\ann", L"C:\\Users\\ann\\", true}, {L"c:\\users\\ANN\\x", L"C:\\Users\\ann", true},
        {L"C:\\Users\\anna\\Documents", L"C:\\Users\\ann", false}, {L"C:\\Users", L"C:\\Users\\ann", false},
        {L"D:\\ann", L"", false}, {L"C:\\anything", L"C:\\", true},
    };
    for (const auto& c : paths)
        EXPECT_EQ(c.inside, PathIsInside(c.path, c.folder)) << Narrow(c.path) << " in " << Narrow(c.folder);
}

TEST(HealthRules, AutomaticSignIn)
{
    auto on = [](const wchar_t* user) {
        AutoLogonFacts f;
        f.switchedOn = true;
        f.userName = user;
        f.accountFound = true;
        f.secretStored = true;
        return f;
    };
    struct { const char* what; AutoLogonFacts facts; const char* ids; } const cases[] = {
        {"working", on(L"ann"), ""}, {"switched off", AutoLogonFacts{}, ""},
        {"missing account", [&] { auto f = on(L"ann"); f.accountFound = false; return f; }(), "auto-logon-broken"},
        {"disabled", [&] { auto f = on(L"ann"); f.accountFlags = kFlagDisabled; return f; }(), "auto-logon-broken"},
        {"expired", [&] { auto f = on(L"ann"); f.passwordExpired = true; return f; }(), "auto-logon-broken"},
        {"domain account not judged", [&] { auto f = on(L"ann"); f.localDomain = false; f.accountFound = false;
                                             f.secretStored = false; return f; }(), ""},
        {"no password", [&] { auto f = on(L"ann"); f.secretStored = false; return f; }(), "auto-logon-no-password"},
        {"no password needed", [&] { auto f = on(L"ann"); f.secretStored = false;
                                     f.accountFlags = kFlagPasswordNotRequired; return f; }(), ""},
        {"plain text", [&] { auto f = on(L"ann"); f.secretStored = false; f.plainTextStored = true; return f; }(),
         "auto-logon-plain-password"},
        {"plain text while off", [&] { AutoLogonFacts f; f.plainTextStored = true; return f; }(),
         "auto-logon-plain-password"},
        {"leftovers while off", [&] { AutoLogonFacts f; f.autoLogonCountPresent = true; return f; }(),
         "auto-logon-leftover"},
        {"count while on is a choice", [&] { auto f = on(L"ann"); f.autoLogonCountPresent = true;
                                             f.forceAutoLogonPresent = true; return f; }(), ""},
        {"on without a name", [&] { auto f = on(L""); f.accountFound = false; f.secretStored = false; return f; }(),
         ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.ids, Ids(JudgeAutoLogon(c.facts))) << c.what;
    AutoLogonFacts locked = on(L"ann");
    locked.accountFlags = kFlagLockedOut;
    EXPECT_EQ(L"the account is locked out", AutoLogonFailure(locked));
}

TEST(HealthRules, RepairLeftoversOnlyWhenNoRepairIsUnderWay)
{
    struct { RepairFacts facts; const char* ids; } const cases[] = {
        {{false, false, false, 0}, ""},
        {{true, true, false, 1}, ""},                  // waiting for its next run
        {{true, false, false, 0}, "repair-temp-admin"},
        {{true, false, false, 1}, "repair-temp-admin repair-stale-shortcut"},
        {{false, true, false, 0}, "repair-stale-state"}, {{false, false, true, 0}, "repair-stale-journal"},
        {{true, true, true, 0}, "repair-temp-admin repair-stale-state repair-stale-journal"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.ids, Ids(JudgeRepairLeftovers(c.facts)))
            << c.facts.tempAdminExists << c.facts.stateFilePresent << c.facts.journalPresent << c.facts.shortcuts;
}

TEST(HealthRules, Administrators)
{
    constexpr uint32_t kAdmin = 2, kUser = 1, kGuest = 0;
    struct { const char* what; std::vector<AccountFacts> accounts; const char* found; } const cases[] = {
        {"two administrators", {{L"a", 1000, kAdmin, 0}, {L"b", 1001, kAdmin, 0}}, ""},
        {"one enabled", {{L"a", 1000, kAdmin, 0}, {L"b", 1001, kAdmin, kFlagDisabled}},
         "single-administrator:a"},
        {"no password needed", {{L"a", 1000, kAdmin, kFlagPasswordNotRequired}, {L"b", 1001, kAdmin, 0}},
         "admin-password-not-required:a"},
        {"disabled one needs none", {{L"a", 1000, kAdmin, kFlagDisabled | kFlagPasswordNotRequired},
                                     {L"b", 1001, kAdmin, 0}, {L"c", 1002, kAdmin, 0}}, ""},
        {"a standard user needs none", {{L"a", 1000, kUser, kFlagPasswordNotRequired}, {L"b", 1001, kAdmin, 0},
                                        {L"c", 1002, kAdmin, 0}}, ""},
        {"guest enabled", {{L"Guest", 501, kGuest, kFlagPasswordNotRequired}, {L"b", 1001, kAdmin, 0},
                           {L"c", 1002, kAdmin, 0}}, "guest-enabled:Guest"},
        {"guest-type account is not the guest", {{L"visitor", 1005, kGuest, kFlagPasswordNotRequired},
                                                 {L"b", 1001, kAdmin, 0}, {L"c", 1002, kAdmin, 0}}, ""},
        {"none enabled", {{L"a", 1000, kAdmin, kFlagDisabled}}, ""},
    };
    for (const auto& c : cases) {
        std::string found;
        for (const AccountFinding& f : JudgeAccounts(c.accounts))
            found += (found.empty() ? "" : " ") + Narrow(RuleOf(f.kind).id) + ":" + Narrow(f.account.c_str());
        EXPECT_EQ(c.found, found) << c.what;
    }
}

TEST(HealthRules, PersonalFolderPlaces)
{
    const std::vector<std::wstring> others = {L"C:\\Users\\bob", L"C:\\Users\\ann\\nested"};
    struct { const wchar_t* path; bool exists; FolderPlace place; } const cases[] = {
        {L"C:\\Users\\ann\\Documents", true, FolderPlace::Fine},
        {L"D:\\Data\\Documents", false, FolderPlace::Missing},
        {L"C:\\Users\\bob\\Documents", true, FolderPlace::InOtherProfile},
        {L"c:\\users\\BOB", true, FolderPlace::InOtherProfile},
        {L"C:\\Users\\bobby\\Documents", true, FolderPlace::Fine},
        {L"C:\\Users\\ann\\nested\\Music", true, FolderPlace::Fine},     // inside its own profile
        {L"\\\\server\\share\\ann", false, FolderPlace::NotJudged},      // an offline server is not missing
        {L"%USERPROFILE%\\Documents", false, FolderPlace::NotJudged}, {L"Documents", false, FolderPlace::NotJudged},
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<int>(c.place),
                  static_cast<int>(JudgeFolderPlace(c.path, c.exists, L"C:\\Users\\ann", others)))
            << Narrow(c.path);
}
