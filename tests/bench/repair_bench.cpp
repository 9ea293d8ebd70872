// Times the whole repair of the broken-profile account, with its profile
// grown by thousands of files, against the bare account work inside it (the
// old account deleted and created again), so the figure is what the
// journal, the hives, the data folders, the permissions and the hand-over
// add; and the journal's safe write (new copy, flush, rename) against
// writing the same text in place. Run by scripts/bench-repair.sh.
#include <windows.h>
#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "accounts/account_lifecycle.h"
#include "accounts/lookup.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/key_handover.h"
#include "platform/machine.h"
#include "platform/sid.h"
#include "repair/repair_rules.h"
#include "repair/journal_rules.h"
#include "repair/repair_input.h"
#include "repair/repair_journal.h"
#include "repair/repair_run.h"
#include "repair/state_file.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"

namespace {

constexpr int kDefaultRuns = 3;
constexpr int kFilesPerFolder = 50;
constexpr int kDefaultFiles = 5000;
constexpr int kJournalWrites = 200;
constexpr wchar_t kToolFolder[] = L"C:\\Brenwick";

void Fill(const std::wstring& root, int folders)
{
    std::string content(512, 'x');
    for (int d = 0; d < folders; ++d) {
        std::wstring folder = root + L"\\Documents\\Bench\\folder " + std::to_wstring(d);
        CreateDirectoryPath(folder.c_str());
        for (int f = 0; f < kFilesPerFolder; ++f) {
            std::wstring file = folder + L"\\file " + std::to_wstring(f) + L".dat";
            UniqueFileHandle handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD written = 0;
            WriteFile(handle.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        }
    }
}

// The broken-profile machine (or another) as the set-up leaves it, the
// owner's folder grown; its profile folder.
std::wstring Prepare(int folders, const wchar_t* scenario = L"broken-profile")
{
    std::error_code ignored;
    std::filesystem::remove_all(kToolFolder, ignored);
    std::wstring error;
    if (!sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error))
        return L"";
    std::filesystem::create_directories(kToolFolder, ignored);
    std::wstring state = std::wstring(kToolFolder) + L"\\Brenwick.ini";
    CreateStateFile(state.c_str());
    WriteStateText(state.c_str(), L"pweber", L"FullName", L"Paula Weber");
    WString sid, profile;
    if (!GetAccountSidAndProfile(L"pweber", sid, &profile))
        return L"";
    Fill(profile.Text(), folders);
    return profile.Text();
}

// The least and the middle of a variant's runs, one line.
void ReportSpread(const char* what, const std::vector<double>& times)
{
    const double least = times.empty() ? 0.0 : *std::min_element(times.begin(), times.end());
    std::printf("  %-40s min %8.3f s   median %8.3f s   (%zu runs)\n", what, least, Median(times), times.size());
    std::fflush(stdout);
}

// The time each step of a repair took, told through its progress.
class StepClock : public RepairProgress {
public:
    StepClock() : last_(std::chrono::steady_clock::now()) {}
    void ShowRow(int, const wchar_t*, const wchar_t*) override {}
    void WantsAttention() override {}
    void StepCompleted(RepairStep step) override
    {
        const auto now = std::chrono::steady_clock::now();
        seconds[static_cast<size_t>(step)] = std::chrono::duration<double>(now - last_).count();
        last_ = now;
    }
    double seconds[kRepairStepCount] = {};

private:
    std::chrono::steady_clock::time_point last_;
};

RepairInput BenchInput(int32_t flags)
{
    RepairInput input;
    input.account = L"pweber";
    input.osVersion = 10.0;
    input.toolFolder = kToolFolder;
    input.programPath = L"C:\\Brenwick\\Brenwick.exe";
    input.logPath = L"C:\\Brenwick\\BrenwickLog.txt";
    input.fixFlags = flags;
    return input;
}

// What keeping the settings adds, taken apart on the prepared machine: the
// old NTUSER.DAT read whole, and its keys walked and given to another SID
// once loaded.
void TimeHandover(const std::wstring& profile)
{
    const std::wstring file = profile + L"\\NTUSER.DAT";
    std::vector<char> bytes;
    const double read = Milliseconds([&] {
        UniqueFileHandle handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                            nullptr));
        LARGE_INTEGER size{};
        GetFileSizeEx(handle.Get(), &size);
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ReadFile(handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    });
    const std::wstring work = std::wstring(kToolFolder) + L"\\bench-hive.dat";
    CopyFileW(file.c_str(), work.c_str(), FALSE);
    WString oldText;
    LocalSid oldSid, newSid;
    if (!GetAccountSidAndProfile(L"pweber", oldText, nullptr) || !SidFromText(oldText.Text(), oldSid) ||
        !SidFromText(L"S-1-5-21-1-2-3-4242", newSid))
        return;
    sandbox::EnableHivePrivileges();
    KeyHandover counts;
    double load = 0, walk = 0, unload = 0;
    load = Milliseconds([&] { machine::RegLoadKeyW(HKEY_USERS, L"BenchHandover", work.c_str()); });
    {
        UniqueRegKey root;
        RegOpenKeyExW(HKEY_USERS, L"BenchHandover", 0,
                      READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, root.Put());
        walk = Milliseconds([&] { HandKeysOver(root.Get(), oldSid.Get(), newSid.Get(), counts); });
    }
    unload = Milliseconds([&] { machine::RegUnLoadKeyW(HKEY_USERS, L"BenchHandover"); });
    DeleteFileW(work.c_str());
    std::printf("  NTUSER.DAT, %zu bytes: read %.1f ms, load %.1f ms, hand-over walk %.1f ms (%u keys, %u changed), "
                "unload %.1f ms\n",
                bytes.size(), read, load, walk, counts.keys, counts.changed, unload);
    std::fflush(stdout);
}

// The rebuild that keeps the settings of a sound hive against today's
// rebuild with fresh ones, of the same machine grown alike; the two take
// turns to go first so neither always meets a warmer machine.
int CompareKeeping(int folders, int runs)
{
    std::vector<double> keptTimes, freshTimes;
    std::vector<double> keptSteps[kRepairStepCount], freshSteps[kRepairStepCount];
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            const int32_t flags = (turn + run) % 2 == 0 ? FixFlags::KeepSettings : 0;
            const std::wstring profile = Prepare(folders, L"keep-settings");
            if (profile.empty()) {
                std::printf("the simulated machine could not be prepared\n");
                return 1;
            }
            if (run == 0 && turn == 0)
                TimeHandover(profile);
            DWORD result = 0;
            StepClock clock;
            (flags != 0 ? keptTimes : freshTimes).push_back(Seconds([&] { result = RunRepair(BenchInput(flags), &clock); }));
            for (uint32_t step = 0; step < kRepairStepCount; ++step)
                (flags != 0 ? keptSteps : freshSteps)[step].push_back(clock.seconds[step]);
            if (result != 1)
                std::printf("  run %d: the repair (flags %d) did not end repaired\n", run, flags);
        }
    }
    std::printf("  %-28s %12s %12s   (median seconds)\n", "step", "kept", "fresh");
    for (uint32_t step = 0; step < kRepairStepCount; ++step)
        std::printf("  %-28ls %12.3f %12.3f\n", RepairStepName(static_cast<RepairStep>(step)), Median(keptSteps[step]),
                    Median(freshSteps[step]));
    ReportSpread("RunRepair keeping the settings", keptTimes);
    ReportSpread("RunRepair with fresh settings", freshTimes);
    Report("RunRepair keeping the settings", keptTimes, "RunRepair with fresh settings", freshTimes);
    return 0;
}

}  // namespace

// The number of extra files (rounded to whole folders of 50) and of runs
// may be given, and "settings" for the comparison of keeping the settings
// alone.
int wmain(int argc, wchar_t** argv)
{
    const int files = argc > 1 ? _wtoi(argv[1]) : kDefaultFiles;
    const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : kDefaultRuns;
    const bool settingsOnly = argc > 3 && std::wstring(argv[3]) == L"settings";
    const int folders = std::max(1, files / kFilesPerFolder);
    Gdiplus::GdiplusStartupInput startup;
    ULONG_PTR gdiplus = 0;
    Gdiplus::GdiplusStartup(&gdiplus, &startup, nullptr);
    std::printf("the broken profile grown by %d files in %d folders, %d runs each\n", folders * kFilesPerFolder,
                folders, runs);
    int failed = CompareKeeping(folders, runs);
    if (settingsOnly || failed != 0) {
        std::wstring error;
        sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error);
        std::error_code ignored;
        std::filesystem::remove_all(kToolFolder, ignored);
        Gdiplus::GdiplusShutdown(gdiplus);
        return failed;
    }

    // Ours: the whole repair. Peer: the account deleted and made again on
    // the same machine, nothing else.
    std::vector<double> oursTimes, peerTimes;
    for (int run = 0; run < runs; ++run) {
        if (Prepare(folders).empty()) {
            std::printf("the simulated machine could not be prepared\n");
            return 1;
        }
        DWORD result = 0;
        oursTimes.push_back(Seconds([&] { result = RunRepair(BenchInput(0), nullptr); }));
        if (result != 1)
            std::printf("  run %d: the repair did not end repaired\n", run);

        Prepare(folders);
        bool remade = false;
        peerTimes.push_back(Seconds([&] {
            remade = DeleteAccount(L"pweber", kKeepProfileFolder) != 0 &&
                     CreateAccount(L"pweber", L"Paula Weber", 2, nullptr);
        }));
        if (!remade)
            std::printf("  run %d: the account was not made again\n", run);
    }
    Report("RunRepair, whole repair", oursTimes, "DeleteAccount + CreateAccount", peerTimes);

    // The journal: each write a new copy flushed and renamed over the old,
    // against the same text written over the file in place.
    RepairJournal journal;
    journal.account = L"pweber";
    std::wstring path = std::wstring(kToolFolder) + L"\\BrenwickJournal.txt";
    std::wstring plain = std::wstring(kToolFolder) + L"\\plain-journal.txt";
    std::wstring text;
    FormatJournal(journal, text);
    std::vector<double> safe, inPlace;
    for (int run = 0; run < runs; ++run) {
        safe.push_back(Seconds([&] {
            for (int i = 0; i < kJournalWrites; ++i) {
                journal.tries = static_cast<uint32_t>(i % 3);
                WriteJournal(path.c_str(), journal);
            }
        }));
        inPlace.push_back(Seconds([&] {
            for (int i = 0; i < kJournalWrites; ++i) {
                UniqueFileHandle file(
                    CreateFileW(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
                DWORD written = 0;
                WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
            }
        }));
    }
    Report("WriteJournal x200 (copy, flush, rename)", safe, "the same text written in place", inPlace);

    std::wstring error;
    sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error);
    std::error_code ignored;
    std::filesystem::remove_all(kToolFolder, ignored);
    Gdiplus::GdiplusShutdown(gdiplus);
    return 0;
}
