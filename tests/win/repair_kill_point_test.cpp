// A repair that loses its power half-way must end, after further restarts,
// where an uninterrupted repair ends. The uninterrupted repair of the
// broken-profile office PC is the reference: its final state and the list
// of power-cut points its runs pass (the repair's own, and the simulated
// machine's after each call that changes what survives a restart, which is
// how the clean-up is reached). Then, for each chosen point (every point
// once, and the last and middle passage of a point passed more often, such
// as one inside a folder's permission copy), a fresh machine is set up, the
// power fails at that point, and the machine is restarted until the repair
// and its clean-up have finished; its state must match the reference fact
// by fact. One more case cuts the power as the clean-up starts. Each case
// is one test, so that none runs long.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/win/repair_e2e_support.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_support.h"

namespace {

// Kill cases the suite holds; a reference with more points fails
// EveryChosenPointHasACase, so that no point goes untried unnoticed.
constexpr int kKillCases = 36;

struct Reference {
    bool ok = false;
    std::string why;
    std::map<std::wstring, std::wstring> facts;
    std::vector<std::wstring> fixPoints, cleanupPoints;
};

// The repairs whose power is cut: today's rebuild of the broken-profile
// machine, and the rebuild that keeps the settings of a sound hive.
enum class Kind { Plain, KeepingSettings };

e2e::Drive DriveOf(Kind kind)
{
    e2e::Drive drive;
    drive.signInAtScreen = e2e::kAccount;   // the operator, when the machine waits at the sign-in screen
    if (kind == Kind::KeepingSettings) {
        drive.scenario = L"keep-settings";
        drive.flags = 4;
    }
    return drive;
}

Kind referenceKind = Kind::Plain;

std::wstring ReferencePath()
{
    return TempFile(referenceKind == Kind::Plain ? L"vantrell-repair-reference.txt"
                                                 : L"vantrell-repair-reference-keeping.txt");
}

// What the reference depends on: the product's build and this test's.
std::wstring BuildKey()
{
    std::wstring key;
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (const wchar_t* file : {static_cast<const wchar_t*>(VANTRELL_SANDBOX_PRODUCT), static_cast<const wchar_t*>(self)}) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(file, GetFileExInfoStandard, &data);
        key += std::to_wstring(data.nFileSizeLow) + L"." + std::to_wstring(data.ftLastWriteTime.dwLowDateTime) + L"." +
               std::to_wstring(data.ftLastWriteTime.dwHighDateTime) + L";";
    }
    return key;
}

// One line per item: "key\t...", "fact\tname\tvalue", "fix\tpoint", "cleanup\tpoint".
void Save(const Reference& reference)
{
    std::wstring text = L"key\t" + BuildKey() + L"\n";
    for (const auto& fact : reference.facts)
        text += L"fact\t" + fact.first + L"\t" + fact.second + L"\n";
    for (const std::wstring& point : reference.fixPoints)
        text += L"fix\t" + point + L"\n";
    for (const std::wstring& point : reference.cleanupPoints)
        text += L"cleanup\t" + point + L"\n";
    std::ofstream(std::filesystem::path(ReferencePath()), std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size() * sizeof(wchar_t)));
}

bool Load(Reference* reference)
{
    std::string bytes = repair_test::ReadBytes(ReferencePath());
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    std::wistringstream lines(text);
    bool keyed = false;
    for (std::wstring line; std::getline(lines, line);) {
        size_t tab = line.find(L'\t');
        if (tab == std::wstring::npos)
            continue;
        std::wstring kind = line.substr(0, tab), rest = line.substr(tab + 1);
        if (kind == L"key")
            keyed = rest == BuildKey();
        else if (kind == L"fix")
            reference->fixPoints.push_back(rest);
        else if (kind == L"cleanup")
            reference->cleanupPoints.push_back(rest);
        else if (kind == L"fact" && rest.find(L'\t') != std::wstring::npos)
            reference->facts[rest.substr(0, rest.find(L'\t'))] = rest.substr(rest.find(L'\t') + 1);
    }
    reference->ok = keyed && !reference->facts.empty();
    return reference->ok;
}

Reference MakeReference(Kind kind)
{
    Reference reference;
    e2e::Before before;
    e2e::Run run;
    e2e::Drive drive = DriveOf(kind);
    // The fix run, the finish at the next start, her own sign-in.
    if (!e2e::DriveRepair(drive, &before, &run) || !run.failure.empty() || run.boots.size() != 3) {
        reference.why = "the uninterrupted repair did not run as it must:\n" + e2e::Describe(run);
        return reference;
    }
    std::vector<std::wstring> points = sandbox::PowerCutPointsPassed();
    size_t fixEnd = std::min(points.size(), run.boots[0].pointsPassed);
    reference.fixPoints.assign(points.begin() + static_cast<std::ptrdiff_t>(std::min(run.setUpPoints, fixEnd)),
                               points.begin() + static_cast<std::ptrdiff_t>(fixEnd));
    reference.cleanupPoints.assign(points.begin() + static_cast<std::ptrdiff_t>(fixEnd), points.end());
    reference.facts = e2e::FinalFacts(before);
    reference.ok = true;
    return reference;
}

// The reference of this build, made once and kept for the other cases.
const Reference& GetReference(Kind kind = Kind::Plain)
{
    static Reference references[2];
    static bool taken[2] = {};
    const int index = static_cast<int>(kind);
    if (!taken[index]) {
        taken[index] = true;
        referenceKind = kind;
        if (!Load(&references[index])) {
            references[index] = MakeReference(kind);
            if (references[index].ok)
                Save(references[index]);
        }
    }
    return references[index];
}

std::vector<e2e::KillPoint> KillPoints(const Reference& reference)
{
    std::vector<std::wstring> all = reference.fixPoints;
    all.insert(all.end(), reference.cleanupPoints.begin(), reference.cleanupPoints.end());
    return e2e::ChooseKillPoints(all);
}

// The repair cut as `drive` says, compared with the reference.
void RunCutAndCompare(e2e::Drive drive, const std::string& label, const e2e::KillPoint* point, Kind kind = Kind::Plain)
{
    drive.signInAtScreen = e2e::kAccount;   // the operator, when the machine waits at the sign-in screen
    const Reference& reference = GetReference(kind);
    ASSERT_TRUE(reference.ok) << reference.why;
    ULONGLONG started = GetTickCount64();
    e2e::Before before;
    e2e::Run run;
    ASSERT_TRUE(e2e::DriveRepair(drive, &before, &run, point)) << run.failure;
    std::string story = e2e::Describe(run);
    sandbox::PowerCut cut;
    bool happened = sandbox::LastPowerCut(&cut);
    std::vector<std::string> differences = e2e::Differences(reference.facts, e2e::FinalFacts(before));
    const double seconds = (GetTickCount64() - started) / 1000.0;
    const bool same = run.failure.empty() && differences.empty();
    printf("kill point %s: %s; %zu restarts, %.1f s: %s\n", label.c_str(),
           happened ? ("cut in process " + std::to_string(cut.processId)).c_str() : "never reached",
           run.boots.size(), seconds, same ? "same final state as the uninterrupted repair" : "DIFFERENT");
    fflush(stdout);
    ::testing::Test::RecordProperty("result", same ? "same" : "different");
    EXPECT_TRUE(happened) << "the power was never cut " << label << "\n" << story;
    EXPECT_EQ("", run.failure) << story;
    EXPECT_TRUE(differences.empty()) << differences.size() << " facts differ from the uninterrupted repair "
                                     << "(expected -> got):\n" << e2e::Listed(differences) << story;
}

class RepairKillPoints : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void TearDown() override { sandbox::ResetMachine(sandbox::ScenarioPath(L"default")); }
};

}  // namespace

TEST(RepairReference, TheUninterruptedRepairPassesItsPointsAndRepairs)
{
    StartGdiplusForTests();
    DeleteFileW(ReferencePath().c_str());
    const Reference& reference = GetReference();
    ASSERT_TRUE(reference.ok) << reference.why;
    auto fact = [&](const wchar_t* name) {
        auto found = reference.facts.find(name);
        return found == reference.facts.end() ? std::string("(no such fact)") : Narrow(found->second);
    };
    EXPECT_EQ("present", fact(L"account"));
    EXPECT_EQ("a new one", fact(L"account.sid"));
    EXPECT_EQ("absent", fact(L"temp.account"));
    EXPECT_EQ("loads, lists the shell folders", fact(L"hive.user"));
    EXPECT_EQ("1", fact(L"log.endLines"));
    printf("the fix run passed %zu points, the clean-up %zu\n", reference.fixPoints.size(),
           reference.cleanupPoints.size());
    EXPECT_FALSE(reference.fixPoints.empty()) << "the fix run marks where its power may fail";
    std::vector<e2e::KillPoint> chosen = KillPoints(reference);
    printf("%zu kill points chosen:\n", chosen.size());
    for (const e2e::KillPoint& point : chosen)
        printf("  %s #%u\n", Narrow(point.point).c_str(), point.passage);
    EXPECT_LE(chosen.size(), static_cast<size_t>(kKillCases)) << "every chosen point needs a case of its own";
}

TEST_P(RepairKillPoints, ThePowerFailsThereAndTheRepairStillEndsAsUninterrupted)
{
    const Reference& reference = GetReference();
    ASSERT_TRUE(reference.ok) << reference.why;
    std::vector<e2e::KillPoint> points = KillPoints(reference);
    if (static_cast<size_t>(GetParam()) >= points.size())
        GTEST_SKIP() << "the repair passes only " << points.size() << " chosen points";
    const e2e::KillPoint& point = points[static_cast<size_t>(GetParam())];
    const std::string label = "at \"" + Narrow(point.point) + "\" #" + std::to_string(point.passage);
    e2e::Drive drive;
    RunCutAndCompare(drive, label, &point);
}

INSTANTIATE_TEST_SUITE_P(Point, RepairKillPoints, ::testing::Range(0, kKillCases));

TEST_F(RepairKillPoints, ThePowerFailsAsTheCleanUpStarts)
{
    e2e::Drive drive;
    // One cut only: the next clean-up runs through.
    drive.cutPowerWhen = [cut = std::make_shared<bool>(false)](const std::vector<std::wstring>& running) {
        for (const std::wstring& arguments : running)
            if (!*cut && arguments.find(L"/cleanup") != std::wstring::npos)
                return *cut = true;
        return false;
    };
    RunCutAndCompare(drive, "as the clean-up starts", nullptr);
}

// The steps that keep the settings: each hive copied, then the fresh hive
// holding the old settings. Cut at each, the repair still ends with her
// settings kept and hers to read, as the uninterrupted one does.
class RepairKillPointsKeepingSettings : public RepairKillPoints {};

TEST_P(RepairKillPointsKeepingSettings, ThePowerFailsThereAndTheSettingsAreStillKept)
{
    const Reference& reference = GetReference(Kind::KeepingSettings);
    ASSERT_TRUE(reference.ok) << reference.why;
    auto kept = reference.facts.find(L"hive.settings");
    ASSERT_TRUE(kept != reference.facts.end() && kept->second == L"kept, hers to read");
    std::vector<e2e::KillPoint> points;
    for (const e2e::KillPoint& point : KillPoints(reference))
        if (point.point.rfind(L"step 9 old ", 0) == 0)
            points.push_back(point);
    ASSERT_EQ(4u, points.size()) << "each hive copied, UsrClass.dat kept, NTUSER.DAT kept";
    const e2e::KillPoint& point = points[static_cast<size_t>(GetParam())];
    RunCutAndCompare(DriveOf(Kind::KeepingSettings),
                     "at \"" + Narrow(point.point) + "\" #" + std::to_string(point.passage), &point,
                     Kind::KeepingSettings);
}

INSTANTIATE_TEST_SUITE_P(Point, RepairKillPointsKeepingSettings, ::testing::Range(0, 4));
