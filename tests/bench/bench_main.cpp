// Times the foundation's tree operations against the tools Wine ships for
// the same job, on data generated here, and prints the medians and ratios.
// Run by scripts/bench.sh; S: must be a drive on another file system than C:.
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "repair/tool_folder.h"

namespace {

constexpr int kRuns = 3;
constexpr wchar_t kBenchKey[] = L"Software\\Vantrell Bench";

double Seconds(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

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
    std::printf("%-34s ours %8.3f s   %-24s %8.3f s   ratio %.2f\n", what, a, peerName, b, b > 0 ? a / b : 0.0);
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

}  // namespace

int wmain()
{
    const std::wstring source = std::wstring(kBenchKey) + L"\\source";
    const std::wstring copy = std::wstring(kBenchKey) + L"\\copy";
    RegDeleteTreeW(HKEY_CURRENT_USER, kBenchKey);
    MakeRegistryTree(source, 2000, 10);
    std::printf("registry tree: 2,000 keys, 20,000 values; files: 10,000 in 500 folders; move: 2,000 in 100 folders\n");
    Compare("CopyKeyTree", [&] { RegDeleteTreeW(HKEY_CURRENT_USER, copy.c_str()); },
            [&] { CopyKeyTree((L"HKCU\\" + source).c_str(), (L"HKCU\\" + copy).c_str()); },
            [&] { Run(L"reg copy \"HKCU\\" + source + L"\" \"HKCU\\" + copy + L"\" /s /f"); }, "reg copy /s /f");
    RegDeleteTreeW(HKEY_CURRENT_USER, kBenchKey);

    const std::wstring tree = L"C:\\vantrell-bench\\tree";
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

    // The repair tool takes over a folder someone else filled, entry by
    // entry through handles opened on the entries themselves; the peer sets
    // the same owner and DACL by name on every entry of the same walk.
    Compare("PrepareToolFolder", [] {}, [&] { PrepareToolFolder(tree.c_str()); },
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
    Remove(L"C:\\vantrell-bench");
    return 0;
}
