// Helpers shared by the repair tool's tests: the simulated machine's
// scenarios, the registry values and secrets the tool reads and writes, and
// the record of what the machine was asked to do.
#pragma once

#include <windows.h>
#include <ntsecapi.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "accounts/lookup.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"

namespace repair_test {

// A machine with the person at the console (the account running the tests),
// two staff accounts with profiles and whatever `extra` adds. `machine`
// lines go into the [Machine] section.
inline std::string Scenario(const std::string& machine, const std::string& extra = "")
{
    return "[Machine]\nProfileService=yes\nSecurityPolicy=yes\nElevated=yes\nWebBrowser=yes\n" + machine +
           "\n[Account *]\nFullName=Office Manager\nType=administrator\nPassword=Manager-2026\nProfile=yes\n"
           "\n[Account mhartley]\nFullName=Maria Hartley\nType=administrator\nPassword=Hartley#1\nProfile=yes\n"
           "\n[Account jokafor]\nFullName=James Okafor\nType=standard\nPassword=Okafor-Spring\nProfile=yes\n" +
           extra;
}

inline bool Load(const wchar_t* name, const std::string& text, std::wstring* error)
{
    bool loaded = sandbox::ResetMachine(WriteScenario(name, text), error);
    sandbox::ClearRecord();
    return loaded;
}

inline std::vector<sandbox::RecordedAction> Recorded(const wchar_t* call)
{
    std::vector<sandbox::RecordedAction> found;
    for (const sandbox::RecordedAction& action : sandbox::RecordedActions())
        if (action.call == call)
            found.push_back(action);
    return found;
}

// A value under HKLM as text; "(missing)" when absent, numbers in decimal.
inline std::wstring MachineValue(const wchar_t* key, const wchar_t* name)
{
    DWORD type = REG_NONE;
    std::wstring text = RegText(HKEY_LOCAL_MACHINE, key, name, &type);
    return type == REG_DWORD ? std::to_wstring(RegDword(HKEY_LOCAL_MACHINE, key, name)) : text;
}

// The key is made when it is missing.
inline void SetMachineDword(const wchar_t* key, const wchar_t* name, DWORD value)
{
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value, sizeof value);
}

inline void DeleteMachineValue(const wchar_t* key, const wchar_t* name)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, name);
}

constexpr wchar_t kUacKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kStoreKey[] = L"SOFTWARE\\Policies\\Microsoft\\WindowsStore";
constexpr wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// A secret's text (trailing zeros of the padding dropped); `found` false when absent.
inline std::wstring Secret(const wchar_t* secretName, bool* found)
{
    *found = false;
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    // The test looks as an administrator, whichever account the session signed in.
    const bool elevated = sandbox::IsElevated();
    sandbox::SetElevated(true);
    const NTSTATUS opened = machine::LsaOpenPolicy(nullptr, &attributes, POLICY_GET_PRIVATE_INFORMATION, &policy);
    sandbox::SetElevated(elevated);
    if (opened != 0)
        return L"(no policy)";
    LSA_UNICODE_STRING name = machine::CountedText(secretName);
    PLSA_UNICODE_STRING data = nullptr;
    std::wstring text;
    if (machine::LsaRetrievePrivateData(policy, &name, &data) == 0 && data != nullptr) {
        *found = true;
        text.assign(data->Buffer, data->Length / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        machine::LsaFreeMemory(data);
    }
    machine::LsaClose(policy);
    return text;
}

// Every file below a folder by its path relative to it: size and a 64-bit
// FNV-1a checksum of its bytes. Paths longer than MAX_PATH are read too; a
// link is listed as "<path> (link)" and never entered.
struct FileSum {
    uint64_t size = 0;
    uint64_t checksum = 0;
    bool operator==(const FileSum& other) const { return size == other.size && checksum == other.checksum; }
    bool operator!=(const FileSum& other) const { return !(*this == other); }
};
using FileTree = std::map<std::wstring, FileSum>;

inline void SumFilesBelow(const std::wstring& root, const std::wstring& relative, FileTree* tree)
{
    std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::pair<std::wstring, DWORD>> entries;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            entries.emplace_back(found.cFileName, found.dwFileAttributes);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const auto& entry : entries) {
        std::wstring path = relative.empty() ? entry.first : relative + L"\\" + entry.first;
        if (entry.second & FILE_ATTRIBUTE_REPARSE_POINT) {
            (*tree)[path + L" (link)"] = FileSum{};
            continue;
        }
        if (entry.second & FILE_ATTRIBUTE_DIRECTORY) {
            SumFilesBelow(root, path, tree);
            continue;
        }
        FileSum sum;
        sum.checksum = 1469598103934665603ull;
        HANDLE file = CreateFileW((L"\\\\?\\" + root + L"\\" + path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            sum.size = ~0ull;   // unreadable
        } else {
            BYTE buffer[65536];
            DWORD read = 0;
            while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
                sum.size += read;
                for (DWORD i = 0; i < read; ++i)
                    sum.checksum = (sum.checksum ^ buffer[i]) * 1099511628211ull;
            }
            CloseHandle(file);
        }
        (*tree)[path] = sum;
    }
}

inline FileTree SumFiles(const std::wstring& folder)
{
    FileTree tree;
    SumFilesBelow(folder, L"", &tree);
    return tree;
}

// Below a profile folder: the store apps' data and the system app data.
constexpr wchar_t kPackages[] = L"AppData\\Local\\Packages\\";
constexpr wchar_t kSystemAppData[] = L"AppData\\Local\\Microsoft\\Windows\\";

inline bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    return _wcsnicmp(text.c_str(), prefix, wcslen(prefix)) == 0;
}

// Whether a path relative to a profile is one of its registry hives (or a
// file the registry keeps beside one), which a repair replaces.
inline bool IsHiveFile(const std::wstring& relative)
{
    return (relative.find(L'\\') == std::wstring::npos && StartsWithNoCase(relative, L"NTUSER.")) ||
           StartsWithNoCase(relative, (std::wstring(kSystemAppData) + L"UsrClass.").c_str());
}

// What `rule` says of a file of a profile: compared byte for byte, gone
// after the repair (when `gone` says it must be), or of no concern.
enum class FileRule { Compare, Gone, Skip };

// The files `rule` compares that were lost or changed between the two
// trees, those it says must be gone that are still there, and (with
// `newcomers`) files it would compare that were not there before: one line
// each, empty when all is as it must be. `compared` gets the paths compared.
inline std::string FileDifferences(const FileTree& before, const FileTree& after,
                                   const std::function<FileRule(const std::wstring&)>& rule, bool newcomers,
                                   std::vector<std::wstring>* compared = nullptr)
{
    std::string lines;
    for (const auto& [path, sum] : before) {
        auto now = after.find(path);
        FileRule what = rule(path);
        if (what == FileRule::Gone && now != after.end())
            lines += "left " + Narrow(path) + "\n";
        if (what != FileRule::Compare)
            continue;
        if (compared != nullptr)
            compared->push_back(path);
        if (now == after.end() || now->second != sum)
            lines += (now == after.end() ? "lost " : "changed ") + Narrow(path) + "\n";
    }
    for (const auto& file : after)
        if (newcomers && before.count(file.first) == 0 && rule(file.first) == FileRule::Compare)
            lines += "added " + Narrow(file.first) + "\n";
    return lines;
}

// The entries of the restart's pending renames (source, target, ...).
inline std::vector<std::wstring> PendingRenames()
{
    std::vector<std::wstring> entries;
    std::vector<wchar_t> data(65536, L'\0');
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t) - 4);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &size) == ERROR_SUCCESS)
        for (const wchar_t* at = data.data(); at < data.data() + size / sizeof(wchar_t); at += wcslen(at) + 1)
            entries.push_back(at);
    return entries;
}

// Whether the account signs in with the password.
inline bool PasswordWorks(const wchar_t* account, const wchar_t* password)
{
    UniqueHandle token;
    return machine::LogonUserW(account, L".", password, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT,
                               token.Put()) != FALSE;
}

inline std::string Joined(const std::vector<std::wstring>& texts, const char* between = " | ")
{
    std::string joined;
    for (const std::wstring& text : texts)
        joined += (joined.empty() ? "" : between) + Narrow(text);
    return joined;
}

inline std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The link's target, arguments, working folder and description, " | "
// between them; "(unreadable)" when it does not load.
inline std::wstring ReadLink(const std::wstring& file)
{
    std::wstring read = L"(unreadable)";
    CoInitialize(nullptr);
    {
        UniqueCom<IShellLinkW> link;
        UniqueCom<IPersistFile> persist;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(link.Put()))) &&
            SUCCEEDED(link.Get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(persist.Put()))) &&
            SUCCEEDED(persist.Get()->Load(file.c_str(), STGM_READ))) {
            wchar_t path[1024] = L"", arguments[1024] = L"", folder[1024] = L"", description[1024] = L"";
            link.Get()->GetPath(path, ARRAYSIZE(path), nullptr, SLGP_RAWPATH);
            link.Get()->GetArguments(arguments, ARRAYSIZE(arguments));
            link.Get()->GetWorkingDirectory(folder, ARRAYSIZE(folder));
            link.Get()->GetDescription(description, ARRAYSIZE(description));
            read = std::wstring(path) + L" | " + arguments + L" | " + folder + L" | " + description;
        }
    }
    CoUninitialize();
    return read;
}

// An earlier set-up's temporary administrator, with its profile.
inline const char kTempAccount[] =
    "\n[Account brenwick_temp_admin]\nFullName=Brenwick temp account\nType=administrator\n"
    "Password=Temp-Pass-123456\nProfile=yes\nRepairMade=yes\n";

}  // namespace repair_test
