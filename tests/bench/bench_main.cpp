// Times the foundation's tree operations against the tools Wine ships for
// the same job, on data generated here, and prints the medians and ratios.
// Run by scripts/bench.sh; S: must be a drive on another file system than C:.
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_timing.h"
#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "repair/tool_folder.h"

namespace {

// Odd, so the median is one run; the minimum is printed beside it, being
// the figure least disturbed by other work on a shared machine.
constexpr int kRuns = 5;
constexpr wchar_t kBenchKey[] = L"Software\\Vantrell Bench";

// Runs a command line of Wine's own tools and waits for it.
bool Run(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return false;
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return code == 0;
}

// Prepares untimed, then times ours and the peer in turn, kRuns times each.
void Compare(const char* what, const std::function<void()>& prepare, const std::function<void()>& ours,
             const std::function<void()>& peer, const char* peerName)
{
    std::vector<double> oursTimes, peerTimes;
    for (int run = 0; run < kRuns; ++run) {
        prepare();
        oursTimes.push_back(Seconds(ours));
        prepare();
        peerTimes.push_back(Seconds(peer));
    }
    const double a = Median(oursTimes), b = Median(peerTimes);
    const double aMin = *std::min_element(oursTimes.begin(), oursTimes.end());
    const double bMin = *std::min_element(peerTimes.begin(), peerTimes.end());
    std::printf("%-30s ours %7.3f s (min %7.3f)   %-24s %7.3f s (min %7.3f)   ratio %.2f (of minimums %.2f)\n", what,
                a, aMin, peerName, b, bMin, b > 0 ? a / b : 0.0, bMin > 0 ? aMin / bMin : 0.0);
    std::fflush(stdout);
}

void MakeRegistryTree(const std::wstring& subkey, int keys, int valuesPerKey)
{
    for (int k = 0; k < keys; ++k) {
        std::wstring path = subkey + L"\\group " + std::to_wstring(k / 50) + L"\\key " + std::to_wstring(k);
        UniqueRegKey key;
        RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
        for (int v = 0; v < valuesPerKey; ++v) {
            std::wstring name = L"value " + std::to_wstring(v);
            std::wstring data = L"data of " + name + L" in " + std::to_wstring(k);
            RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        }
    }
}

void MakeFileTree(const std::wstring& root, int folders, int filesPerFolder)
{
    CreateDirectoryW(root.c_str(), nullptr);
    std::string content(512, 'x');
    for (int d = 0; d < folders; ++d) {
        std::wstring folder = root + L"\\folder " + std::to_wstring(d);
        CreateDirectoryW(folder.c_str(), nullptr);
        for (int f = 0; f < filesPerFolder; ++f) {
            std::wstring file = folder + L"\\file " + std::to_wstring(f) + L".dat";
            UniqueFileHandle handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD written = 0;
            WriteFile(handle.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        }
    }
}

uint64_t BareWalk(const std::wstring& folder)
{
    uint64_t total = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (data.cFileName[0] == L'.' && (data.cFileName[1] == 0 || (data.cFileName[1] == L'.' && data.cFileName[2] == 0)))
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            total += BareWalk(folder + L"\\" + data.cFileName);
        else
            total += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return total;
}

void SecureByName(const std::wstring& folder)
{
    static LocalAcl dacl;
    static LocalSid administrators;
    if (!dacl) {
        BuildToolFolderDacl(dacl);
        WellKnownSid(administrators, WinBuiltinAdministratorsSid);
    }
    SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                          administrators.Get(), nullptr, dacl.Get(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (data.cFileName[0] == L'.' && (data.cFileName[1] == 0 || (data.cFileName[1] == L'.' && data.cFileName[2] == 0)))
            continue;
        std::wstring path = folder + L"\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            SecureByName(path);
        else
            SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                      PROTECTED_DACL_SECURITY_INFORMATION,
                                  administrators.Get(), nullptr, dacl.Get(), nullptr);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

// Untimed clean-up between runs.
void Remove(const std::wstring& path) { DeletePath(path.c_str(), 0); }


// The size of the folder-move benchmark, adjustable so that it fits the
// machine: VANTRELL_BENCH_FILES small files in VANTRELL_BENCH_FOLDERS
// folders, plus VANTRELL_BENCH_BIG files of VANTRELL_BENCH_BIG_MB megabytes.
struct MoveSize {
    int files = 10000;
    int folders = 500;
    int bigFiles = 3;
    int bigMegabytes = 100;
    int runs = 3;
    int smallBytes = 4096;
};

int Setting(const wchar_t* name, int fallback)
{
    const wchar_t* text = _wgetenv(name);
    int value = text != nullptr ? _wtoi(text) : 0;
    return value > 0 ? value : fallback;
}

MoveSize MoveSizeFromEnvironment()
{
    MoveSize size;
    size.files = Setting(L"VANTRELL_BENCH_FILES", size.files);
    size.folders = Setting(L"VANTRELL_BENCH_FOLDERS", size.folders);
    size.bigFiles = Setting(L"VANTRELL_BENCH_BIG", size.bigFiles);
    size.bigMegabytes = Setting(L"VANTRELL_BENCH_BIG_MB", size.bigMegabytes);
    size.runs = Setting(L"VANTRELL_BENCH_RUNS", size.runs);
    return size;
}

bool WriteBytes(const std::wstring& path, const std::vector<char>& block, uint64_t total)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        return false;
    for (uint64_t done = 0; done < total;) {
        DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(block.size(), total - done));
        DWORD written = 0;
        if (!WriteFile(file.Get(), block.data(), chunk, &written, nullptr) || written != chunk)
            return false;
        done += chunk;
    }
    return true;
}

// The tree a personal folder might hold: many small files in many folders
// (two levels deep) and a few large ones.
void MakeMoveTree(const std::wstring& root, const MoveSize& size)
{
    CreateDirectoryW(root.c_str(), nullptr);
    std::vector<char> small(size.smallBytes);
    for (size_t i = 0; i < small.size(); ++i)
        small[i] = static_cast<char>('a' + i % 26);
    const int perFolder = std::max(1, size.files / size.folders);
    int made = 0;
    for (int d = 0; d < size.folders && made < size.files; ++d) {
        std::wstring group = root + L"\\group " + std::to_wstring(d / 25);
        CreateDirectoryW(group.c_str(), nullptr);
        std::wstring folder = group + L"\\folder " + std::to_wstring(d);
        CreateDirectoryW(folder.c_str(), nullptr);
        for (int f = 0; f < perFolder && made < size.files; ++f, ++made)
            WriteBytes(folder + L"\\file " + std::to_wstring(f) + L".dat", small, small.size());
    }
    std::vector<char> block(1024 * 1024, 'z');
    for (int b = 0; b < size.bigFiles; ++b)
        WriteBytes(root + L"\\video " + std::to_wstring(b) + L".mp4", block,
                   static_cast<uint64_t>(size.bigMegabytes) * 1024 * 1024);
}

struct Figures {
    double seconds = 0;
    uint64_t filesMoved = 0;
    uint64_t filesLeft = 0;
};

void PrintMoveLine(const char* who, const Figures& figures, const TreeMeasure& tree)
{
    const double megabytes = static_cast<double>(tree.bytes) / (1024.0 * 1024.0);
    const double seconds = figures.seconds > 0 ? figures.seconds : 1e-9;
    std::printf("%-34s %8.2f s %10.0f files/s %8.1f MB/s   moved %llu, left at the source %llu\n", who,
                figures.seconds, static_cast<double>(tree.files) / seconds, megabytes / seconds,
                static_cast<unsigned long long>(figures.filesMoved), static_cast<unsigned long long>(figures.filesLeft));
    std::fflush(stdout);
}

// Median time of `runs` moves of a fresh tree, with what the last run left.
Figures TimeMoves(const MoveSize& size, const std::wstring& from, const std::wstring& to,
                  const std::function<void()>& move)
{
    std::vector<double> times;
    Figures figures;
    for (int run = 0; run < size.runs; ++run) {
        Remove(to);
        Remove(from);
        MakeMoveTree(from, size);
        times.push_back(Seconds(move));
        figures.filesMoved = MeasureTree(to.c_str()).files;
        figures.filesLeft = MeasureTree(from.c_str()).files;
    }
    figures.seconds = Median(times);
    Remove(to);
    Remove(from);
    return figures;
}

// The least any program must do through the system's file calls to move a
// tree across volumes: list it, make its folders, and for each file open
// it, create the copy, copy, mark the original for deletion and close both;
// by full paths, without a check, on four threads (the fastest count on two
// cores). Under Wine every open and close is a round trip to the server,
// so this, not mv, is how fast a move through the system can be here.
void BareMove(const std::wstring& from, const std::wstring& to)
{
    std::vector<std::wstring> files, folders{L""};   // relative to `from`
    for (size_t next = 0; next < folders.size(); ++next) {
        const std::wstring folder = folders[next];
        CreateDirectoryW((to + folder).c_str(), nullptr);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((from + folder + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? folders : files).push_back(folder + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            std::vector<char> buffer(1024 * 1024);
            for (size_t k; (k = next++) < files.size();) {
                UniqueFileHandle source(CreateFileW((from + files[k]).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
                UniqueFileHandle copy(CreateFileW((to + files[k]).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                                                  nullptr));
                DWORD read = 0, written = 0;
                while (ReadFile(source.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) &&
                       read > 0 && WriteFile(copy.Get(), buffer.data(), read, &written, nullptr)) {
                }
                FILE_DISPOSITION_INFO remove{TRUE};
                SetFileInformationByHandle(source.Get(), FileDispositionInfo, &remove, sizeof(remove));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (size_t k = folders.size(); k-- > 1;)
        RemoveDirectoryW((from + folders[k]).c_str());
}

void BenchFolderMove()
{
    const MoveSize size = MoveSizeFromEnvironment();
    const std::wstring from = L"C:\\vantrell-bench\\Documents";
    const std::wstring to = L"S:\\Documents";
    CreateDirectoryW(L"C:\\vantrell-bench", nullptr);
    MakeMoveTree(from, size);
    const TreeMeasure tree = MeasureTree(from.c_str());
    Remove(from);
    std::printf("folder move C: (ext4) to S: (tmpfs): %llu files in %d folders, %d of %d MB, %.1f MB in all; "
                "median of %d runs\n",
                static_cast<unsigned long long>(tree.files), size.folders, size.bigFiles, size.bigMegabytes,
                static_cast<double>(tree.bytes) / (1024.0 * 1024.0), size.runs);

    Figures ours = TimeMoves(size, from, to, [&] {
        FolderMove move;
        move.owner = &move;
        move.source.Assign(from.c_str());
        move.destination.Assign(to.c_str());
        move.flags = MOVEFILE_COPY_ALLOWED;
        MoveFolderThread(&move);
        RemoveDirectoryW(from.c_str());   // the dialog removes the emptied folder
    });
    PrintMoveLine("MoveFolderContents", ours, tree);
    Figures bare = TimeMoves(size, from, to, [&] {
        BareMove(from, to);
        RemoveDirectoryW(from.c_str());
    });
    PrintMoveLine("bare file calls (floor under Wine)", bare, tree);
    std::printf("ratio ours / floor: %.2f\n", bare.seconds > 0 ? ours.seconds / bare.seconds : 0.0);
    if (_wgetenv(L"VANTRELL_BENCH_NO_PEER") != nullptr)
        return;   // while trying changes to the move, the peer's minutes are spared
    Figures peer = TimeMoves(size, from, to, [&] {
        if (Run(L"xcopy \"" + from + L"\" \"" + to + L"\" /E /I /H /K /Q /Y"))
            Run(L"cmd /c rd /s /q \"" + from + L"\"");
    });
    PrintMoveLine("xcopy /E /I /H /K + rd /s /q", peer, tree);
    std::printf("ratio ours / peer: %.2f\n", peer.seconds > 0 ? ours.seconds / peer.seconds : 0.0);
}

}  // namespace

// The two walks that change nothing outside the tree: its deletion, against
// the system's own, and its measure, against the bare listing calls.
void BenchTreeWalks(const std::wstring& tree)
{
    CreateDirectoryW(L"C:\\vantrell-bench", nullptr);
    Compare("DeletePath", [&] { Remove(tree); MakeFileTree(tree, 500, 20); },
            [&] { DeletePath(tree.c_str(), 0); }, [&] { Run(L"cmd /c rd /s /q \"" + tree + L"\""); }, "cmd /c rd /s /q");

    MakeFileTree(tree, 500, 20);
    uint64_t oursSize = 0, walkSize = 0;
    Compare("DirectorySize", [] {}, [&] { oursSize = DirectorySize(tree.c_str()); },
            [&] { walkSize = BareWalk(tree); }, "FindFirst/NextFileW walk");
    if (oursSize != walkSize)
        std::printf("  sizes differ: %llu against %llu\n", static_cast<unsigned long long>(oursSize),
                    static_cast<unsigned long long>(walkSize));
}

int wmain(int argc, wchar_t** argv)
{
    // "folders": only the folder move; "walks": only the deletion and the
    // measure of a tree; "native-tree <path>": only make the
    // tree for the native floor that scripts/bench.sh times with mv.
    if (argc >= 3 && wcscmp(argv[1], L"native-tree") == 0) {
        MakeMoveTree(argv[2], MoveSizeFromEnvironment());
        return 0;
    }
    const std::wstring tree = L"C:\\vantrell-bench\\tree";
    if (argc >= 2 && wcscmp(argv[1], L"walks") == 0) {
        BenchTreeWalks(tree);
        Remove(L"C:\\vantrell-bench");
        return 0;
    }
    if (argc >= 2 && wcscmp(argv[1], L"folders") == 0) {
        BenchFolderMove();
        Remove(L"C:\\vantrell-bench");
        return 0;
    }
    const std::wstring source = std::wstring(kBenchKey) + L"\\source";
    const std::wstring copy = std::wstring(kBenchKey) + L"\\copy";
    RegDeleteTreeW(HKEY_CURRENT_USER, kBenchKey);
    MakeRegistryTree(source, 2000, 10);
    std::printf("registry tree: 2,000 keys, 20,000 values; files: 10,000 in 500 folders; move: 2,000 in 100 folders\n");
    Compare("CopyKeyTree", [&] { RegDeleteTreeW(HKEY_CURRENT_USER, copy.c_str()); },
            [&] { CopyKeyTree((L"HKCU\\" + source).c_str(), (L"HKCU\\" + copy).c_str()); },
            [&] { Run(L"reg copy \"HKCU\\" + source + L"\" \"HKCU\\" + copy + L"\" /s /f"); }, "reg copy /s /f");
    RegDeleteTreeW(HKEY_CURRENT_USER, kBenchKey);

    BenchTreeWalks(tree);

    // The repair tool secures its folder's contents entry by entry through
    // handles the walker opened; the peer sets the same owner and DACL by
    // name on every entry of the same walk.
    Compare("SecureToolFolderContents", [] {}, [&] { SecureToolFolderContents(tree.c_str()); },
            [&] { SecureByName(tree); }, "SetNamedSecurityInfoW walk");
    Remove(tree);

    const std::wstring from = L"C:\\vantrell-bench\\move";
    const std::wstring to = L"S:\\move";
    Compare("MoveTree (C: to S:, copying)", [&] { Remove(to); Remove(from); MakeFileTree(from, 100, 20); },
            [&] { MoveTree(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING); },
            [&] { Run(L"robocopy \"" + from + L"\" \"" + to + L"\" /MOVE /E"); }, "robocopy /MOVE /E");
    // What the peer's last run left, so that a figure for work not done shows.
    std::printf("  after robocopy: %llu bytes on S:, %llu left on C:\n",
                static_cast<unsigned long long>(DirectorySize(to.c_str())),
                static_cast<unsigned long long>(DirectorySize(from.c_str())));
    Remove(to);
    BenchFolderMove();
    Remove(L"C:\\vantrell-bench");
    return 0;
}
