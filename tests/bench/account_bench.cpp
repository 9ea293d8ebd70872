// Times account creation and deletion on the simulated machine against the
// bare work inside them, and prints a table of minimums, medians and ratios. The deletion of
// an account with its files is compared with DeletePath of the same profile
// tree alone, so the figure is what the checks, the rights, the picture set,
// the hives and the profile-list entry add; creation by the profile service
// is compared with creation by one sign-in. "profiles clean" of 100 unused
// profiles of 1,000 files each is compared with DeletePath of the same trees
// alone. Run by scripts/bench-accounts.sh.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "accounts/account_lifecycle.h"
#include "app/command_mode.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"

namespace {

constexpr int kRuns = 5;
constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 50;

// `folders` folders of `files` small files each, below `under` in `root`.
void Fill(const std::wstring& root, const wchar_t* under = L"Documents", int folders = kFolders,
          int files = kFilesPerFolder)
{
    std::string content(512, 'x');
    for (int d = 0; d < folders; ++d) {
        std::wstring folder = root + L"\\" + under + L"\\folder " + std::to_wstring(d);
        CreateDirectoryPath(folder.c_str());
        for (int f = 0; f < files; ++f) {
            std::wstring file = folder + L"\\file " + std::to_wstring(f) + L".dat";
            UniqueFileHandle handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD written = 0;
            WriteFile(handle.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        }
    }
}

constexpr int kCleanRuns = 3;
constexpr int kUnusedProfiles = 100;
constexpr int kProfileFolders = 10;
constexpr int kFilesPerProfileFolder = 100;

bool Elevated() { return true; }

// The clean-up as an operator runs it, in this process (its start-up is
// not what is measured), its output thrown away.
int CleanUnusedProfiles()
{
    const wchar_t* const line[] = {L"profiles", L"clean", L"--unused-for", L"300", L"--yes"};
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    UniqueFileHandle nul(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     0, nullptr));
    SetStdHandle(STD_OUTPUT_HANDLE, nul.Get());
    const int code = RunCommandMode(ARRAYSIZE(line), line, Elevated);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    return code;
}

std::wstring SidOf(const std::wstring& name)
{
    sandbox::Account account;
    return sandbox::FindAccount(name.c_str(), &account) ? sandbox::AccountSid(account.rid) : L"";
}

// A comparison's times, for the table printed at the end.
struct Row {
    const char* what;
    std::vector<double> ours;
    const char* peerName;
    std::vector<double> peer;
};

// Each comparison with its runs.
Row CompareDeletion(int runs)
{
    // Ours: the account and its profile of that size, deleted with everything.
    // Peer: a profile tree of the same size, deleted with DeletePath alone.
    std::vector<double> oursTimes, peerTimes;
    for (int run = 0; run < runs; ++run) {
        std::wstring name = L"bench" + std::to_wstring(run);
        CreateAccount(name.c_str(), nullptr, 1, L"Bench-Pass-1");
        std::wstring folder = sandbox::ProfileFolderOf(SidOf(name));
        Fill(folder);
        AccountDeletion deletion;
        deletion.accountName = name.c_str();
        deletion.folderFlags = kDeleteTakeOver | kDeleteScheduleAtRestart;
        deletion.clearAutoLogon = true;
        deletion.alwaysRemoveProfileEntry = false;
        AccountDeletionReport report;
        oursTimes.push_back(Seconds([&] { RemoveAccount(deletion, report); }));
        if (report.folderResult != kDeleteDone)
            std::printf("  run %d: the profile folder was not deleted (%d)\n", run, report.folderResult);

        CreateDirectoryPath(folder.c_str());
        Fill(folder);
        peerTimes.push_back(Seconds([&] { DeletePath(folder.c_str(), kDeleteTakeOver | kDeleteScheduleAtRestart); }));
    }
    return {"RemoveAccount, 10,000 files", oursTimes, "DeletePath of the same tree", peerTimes};
}

Row CompareCreation(int runs)
{
    // The profile service against one sign-in with the temporary password
    // (the way systems without the service take).
    std::vector<double> oursTimes, peerTimes;
    for (int run = 0; run < runs; ++run) {
        sandbox::SetMachineDword(sandbox::kProfileService, 1);
        oursTimes.push_back(
            Seconds([&] { CreateAccount((L"made" + std::to_wstring(run)).c_str(), nullptr, 1, nullptr); }));
        sandbox::SetMachineDword(sandbox::kProfileService, 0);
        peerTimes.push_back(
            Seconds([&] { CreateAccount((L"signed" + std::to_wstring(run)).c_str(), nullptr, 1, nullptr); }));
    }
    return {"CreateAccount, profile service", oursTimes, "CreateAccount, one sign-in", peerTimes};
}

Row CompareClean(int runs)
{
    // Ours: 100 profiles of accounts deleted long ago, deleted by "profiles
    // clean". Peer: the same trees, deleted with DeletePath alone. Each goes
    // first in every other run: the machine's state after the trees are
    // written (its caches, its write-back) weighs on neither alone.
    std::vector<double> oursTimes, peerTimes;
    for (int run = 0; run < runs; ++run) {
        std::vector<std::wstring> folders;
        for (int i = 0; i < kUnusedProfiles; ++i) {
            const DWORD rid = 5000 + run * kUnusedProfiles + i;
            const std::wstring sid = sandbox::AccountSid(rid);
            sandbox::MakeBareProfile(sid, L"leaver" + std::to_wstring(rid), 400);
            folders.push_back(sandbox::ProfileFolderOf(sid));
            Fill(folders.back(), L"AppData\\Roaming", kProfileFolders, kFilesPerProfileFolder);
        }
        const std::function<void()> ours = [&] {
            int code = -1;
            oursTimes.push_back(Seconds([&] { code = CleanUnusedProfiles(); }));
            size_t left = 0;
            for (const std::wstring& folder : folders)
                left += GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
            if (code != 0 || left != 0)
                std::printf("  run %d: profiles clean exited %d, %zu profile folders left\n", run, code, left);
        };
        const std::function<void()> peer = [&] {
            peerTimes.push_back(Seconds([&] {
                for (const std::wstring& folder : folders)
                    DeletePath(folder.c_str(), kDeleteTakeOver | kDeleteScheduleAtRestart);
            }));
        };
        const auto refill = [&] {
            for (const std::wstring& folder : folders) {
                CreateDirectoryPath(folder.c_str());
                Fill(folder, L"AppData\\Roaming", kProfileFolders, kFilesPerProfileFolder);
            }
        };
        (run % 2 == 0 ? ours : peer)();
        refill();
        (run % 2 == 0 ? peer : ours)();
        std::printf("  clean, run %d (%s first): ours %.2f s, peer %.2f s\n", run + 1, run % 2 == 0 ? "ours" : "peer",
                    oursTimes.back(), peerTimes.back());
        std::fflush(stdout);
    }
    return {"profiles clean, 100 profiles", oursTimes, "DeletePath of the same trees", peerTimes};
}

}  // namespace

// vantrell_account_bench [--runs N] [delete] [create] [clean]: the
// comparisons named (all when none is), each run N times (by default 5 for
// the single account, 3 for the clean-up).
int wmain(int argc, wchar_t** argv)
{
    int runs = 0;
    bool deletion = false, creation = false, clean = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--runs" && i + 1 < argc)
            runs = _wtoi(argv[++i]);
        else if (arg == L"delete" || arg == L"create" || arg == L"clean")
            (arg == L"delete" ? deletion : arg == L"create" ? creation : clean) = true;
        else {
            std::printf("usage: vantrell_account_bench [--runs N] [delete] [create] [clean]\n");
            return 2;
        }
    }
    if (!deletion && !creation && !clean)
        deletion = creation = clean = true;

    std::wstring error;
    if (!sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) {
        std::printf("the simulated machine could not be reset\n");
        return 1;
    }
    sandbox::EnableHivePrivileges();
    std::printf("delete: an account whose profile has %d files in %d folders; clean: %d unused profiles of %d files\n",
                kFolders * kFilesPerFolder, kFolders, kUnusedProfiles, kProfileFolders * kFilesPerProfileFolder);
    std::vector<Row> rows;
    if (deletion)
        rows.push_back(CompareDeletion(runs > 0 ? runs : kRuns));
    if (creation)
        rows.push_back(CompareCreation(runs > 0 ? runs : kRuns));
    if (clean)
        rows.push_back(CompareClean(runs > 0 ? runs : kCleanRuns));
    std::printf("\n");
    TableHead();
    for (const Row& row : rows)
        TableRow(row.what, row.ours, row.peerName, row.peer);

    sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error);
    return 0;
}
