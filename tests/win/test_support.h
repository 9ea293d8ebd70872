// Helpers shared by the tests of the platform foundation.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/security.h"
#include "sandbox/state.h"
#include "tests/narrow.h"

// Quoted UTF-8 for failure messages.
inline std::string Show(const wchar_t* text)
{
    if (text == nullptr)
        return "(null)";
    return "\"" + Narrow(text) + "\"";
}
inline std::string Show(const std::wstring& text) { return Show(text.c_str()); }

// A path of that name in the temporary folder.
inline std::wstring TempFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(ARRAYSIZE(folder), folder);
    return std::wstring(folder) + name;
}

// The "\\?\" form of an absolute path, which reaches past MAX_PATH.
inline std::wstring AlwaysLong(const std::wstring& path)
{
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path;
}

// Removes everything below `folder` (in its long form), read-only and
// hidden entries included; a link is removed as itself, never entered.
// False when anything is left.
inline bool RemoveContents(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search) {
        const DWORD error = GetLastError();   // no folder yet is nothing to remove
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    bool removed = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + L"\\" + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            removed = RemoveContents(path) && removed;
        removed = (isFolder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) && removed;
    } while (FindNextFileW(search.Get(), &found));
    return removed;
}

// An empty folder at `path`, emptied here rather than by the code under
// test. What a killed or failed earlier run left goes whole, its folders
// deeper than MAX_PATH too: a scratch folder must never depend on how the
// last run ended.
inline std::wstring CleanFolder(const std::wstring& path)
{
    const std::wstring longPath = AlwaysLong(path);
    const bool emptied = RemoveContents(longPath);
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
    if (!emptied || GetFileAttributesW(longPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        ADD_FAILURE() << "the scratch folder " << Show(path) << " could not be emptied";
    return path;
}

// An empty folder of the test group's own below the temporary folder.
inline std::wstring TestFolder(const wchar_t* group)
{
    return CleanFolder(TempFile(L"vantrell-tests\\") + group);
}

// A scenario of the simulated machine written by the test, as INI text.
inline std::wstring WriteScenario(const wchar_t* name, const std::string& text)
{
    std::wstring path = TempFile(name);
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
    return path;
}

// An absolute path as the calls take it beyond MAX_PATH (a folder's limit
// is 12 characters shorter).
inline std::wstring LongForm(const std::wstring& path)
{
    return path.size() >= MAX_PATH - 12 && path.compare(0, 4, L"\\\\?\\") != 0 ? L"\\\\?\\" + path : path;
}

inline bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(LongForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Writes the whole file, its folders made first, and gives it the attributes.
inline bool WriteTextFile(const std::wstring& path, const std::string& content, DWORD attributes = 0)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    UniqueFileHandle file(CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    const bool ok = file && WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    file.Reset();
    if (attributes != 0)
        SetFileAttributesW(path.c_str(), attributes);
    return ok;
}

// The file's bytes, read beside any other reader, or "(missing)".
inline std::string ReadTextFile(const std::wstring& path)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!file)
        return "(missing)";
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        content.append(buffer, read);
    return content;
}

// The owner and DACL of a named object (a path, or a key as "CURRENT_USER\\...")
// as SDDL, for checks and failure messages.
inline std::wstring SecurityText(const std::wstring& objectName, SE_OBJECT_TYPE type)
{
    constexpr SECURITY_INFORMATION kWanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    LocalSecurityDescriptor descriptor;
    UniqueResource<LocalMemoryTraits<LPWSTR>> text;
    if (GetNamedSecurityInfoW(objectName.c_str(), type, kWanted, nullptr, nullptr, nullptr, nullptr,
                              descriptor.Put()) != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.Get(), SDDL_REVISION_1, kWanted, text.Put(),
                                                              nullptr))
        return L"(unreadable)";
    return text.Get();
}

using sandbox::ProcessUserName;

// The SID of an account of the simulated machine, or "" when it has none.
inline std::wstring AccountSidOf(const wchar_t* name)
{
    sandbox::Account account;
    return sandbox::FindAccount(name, &account) ? sandbox::AccountSid(account.rid) : L"";
}

// The names of the key's subkeys in the registry's order; none when the key is null.
inline std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return names;
        names.emplace_back(name);
    }
}

inline bool KeyOpens(HKEY root, const std::wstring& path)
{
    UniqueRegKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

// A string value as stored (no expansion) and its type, or "(missing)".
inline std::wstring RegText(HKEY root, const std::wstring& path, const wchar_t* value, DWORD* type = nullptr)
{
    wchar_t text[1024] = L"";
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD stored = 0;
    if (RegGetValueW(root, path.c_str(), value, RRF_RT_ANY | RRF_NOEXPAND, &stored, text, &size) != ERROR_SUCCESS)
        return L"(missing)";
    if (type != nullptr)
        *type = stored;
    return text;
}

inline DWORD RegDword(HKEY root, const std::wstring& path, const wchar_t* value)
{
    DWORD data = 0xDEAD, size = sizeof(data);
    RegGetValueW(root, path.c_str(), value, RRF_RT_REG_DWORD, nullptr, &data, &size);
    return data;
}

// Writes the value, making the key first.
inline LONG RegWrite(HKEY root, const std::wstring& path, const wchar_t* value, const std::wstring& text,
                     DWORD type = REG_SZ)
{
    UniqueRegKey key;
    LONG status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    return RegSetValueExW(key.Get(), value, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Replaces the key's DACL with the one the SDDL text gives.
inline LONG SetKeySddl(HKEY root, const std::wstring& path, const wchar_t* sddl)
{
    LocalSecurityDescriptor descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.Put(), nullptr))
        return static_cast<LONG>(GetLastError());
    UniqueRegKey key;
    LONG status = RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, key.Put());
    return status == ERROR_SUCCESS ? RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor.Get()) : status;
}

// Deletes the tree after giving administrators every key of it back: a test
// (or a failed run) may have left keys in it refusing everyone.
inline void WipeKey(HKEY root, const std::wstring& path)
{
    struct Unlock {
        static void Tree(HKEY root, const std::wstring& path)
        {
            SetKeySddl(root, path, L"D:(A;CI;KA;;;BA)");
            UniqueRegKey key;
            if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, key.Put()) != ERROR_SUCCESS)
                return;
            for (const std::wstring& name : SubkeyNames(key.Get()))
                Tree(root, path + L"\\" + name);
        }
    };
    Unlock::Tree(root, path);
    RegDeleteTreeW(root, path.c_str());
}

// Every value name, value and subkey name below the key, depth first.
inline void CollectRegistryStrings(HKEY key, std::vector<std::wstring>& strings)
{
    wchar_t name[512];
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; ++i) {
        DWORD length = ARRAYSIZE(name);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS)
            break;
        strings.emplace_back(name);
        strings.emplace_back(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    }
    for (const std::wstring& subkey : SubkeyNames(key)) {
        strings.push_back(subkey);
        UniqueRegKey sub;
        if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, sub.Put()) == ERROR_SUCCESS)
            CollectRegistryStrings(sub.Get(), strings);
    }
}

// An ACE as the tests compare them: its SID as text, its mask, flags and kind.
struct Ace {
    std::wstring sid;
    DWORD mask;
    DWORD flags;
    bool allowed = true;
    bool operator==(const Ace& o) const
    {
        return sid == o.sid && mask == o.mask && flags == o.flags && allowed == o.allowed;
    }
};
inline std::ostream& operator<<(std::ostream& out, const Ace& ace)
{
    return out << (ace.allowed ? "" : "denied ") << Show(ace.sid) << " mask 0x" << std::hex << ace.mask << " flags "
               << ace.flags << std::dec;
}

// Every ACE of an ACL in order as ReadAce finds them; one it refuses (an
// audit entry) stands as "(unreadable)".
inline std::vector<Ace> Aces(PACL acl)
{
    std::vector<Ace> aces;
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
        AceInfo info;
        if (!ReadAce(acl, i, info)) {
            aces.push_back({L"(unreadable)", 0, 0, false});
            continue;
        }
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(info.ace);
        aces.push_back({SidString(info.sid), ace->Mask, ace->Header.AceFlags, info.allowed});
    }
    return aces;
}

// The Unix name of a Windows path in the prefix; empty when Wine has none.
inline std::wstring UnixName(const std::wstring& path)
{
    using Lookup = char*(CDECL*)(const wchar_t*);
    auto lookup = reinterpret_cast<Lookup>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = lookup != nullptr ? lookup(path.c_str()) : nullptr;
    if (name == nullptr)
        return L"";
    std::wstring text(name, name + strlen(name));
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

// CreateProcessW, which under a loaded Wine now and then fails without the
// program having run a line of its own: such a start is tried again, at
// most twice, and each failure is added to the run's record of programs
// that did not start (VANTRELL_NOT_STARTED names it; the test run's
// summary counts it). A program that started is never started again.
inline bool StartProgram(std::wstring& commandLine, BOOL inheritHandles, DWORD flags, STARTUPINFOW& startup,
                         PROCESS_INFORMATION& process)
{
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, inheritHandles, flags, nullptr, nullptr,
                           &startup, &process))
            return true;
        error = GetLastError();
        wchar_t record[MAX_PATH] = L"";
        if (GetEnvironmentVariableW(L"VANTRELL_NOT_STARTED", record, MAX_PATH) - 1u < MAX_PATH - 1u) {
            UniqueFileHandle log(CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, 0, nullptr));
            const std::string line = "did not start (attempt " + std::to_string(attempt) + "): error " +
                                     std::to_string(error) + ": " + Narrow(commandLine) + "\n";
            if (DWORD written = 0; log)
                WriteFile(log.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        }
    }
    SetLastError(error);
    return false;
}

// Runs a program of the system under Wine with the quoted arguments and
// waits for it.
inline bool RunUnixProgram(const std::wstring& program, std::initializer_list<std::wstring> arguments)
{
    std::wstring command = L"start.exe /wait /unix " + program;
    for (const std::wstring& argument : arguments) {
        if (argument.empty())
            return false;
        command += L" \"" + argument + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!StartProgram(command, FALSE, CREATE_NO_WINDOW, startup, process))
        return false;
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Wine shows a Unix link to a folder as a junction but cannot make one: the
// system's own ln makes it, and removes it.
inline bool PlantUnixLink(const std::wstring& link, const std::wstring& target)
{
    return RunUnixProgram(L"/bin/ln", {L"-s", UnixName(target), UnixName(link)}) &&
           (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Removes every link to `target` below `folder`, wherever the test or the
// program left it: Wine removes a link to a folder only through the system.
inline void RemoveUnixLinksTo(const std::wstring& folder, const std::wstring& target)
{
    RunUnixProgram(L"/usr/bin/find", {UnixName(folder), L"-lname", UnixName(target), L"-delete"});
}

// What a program said and how it ended.
struct ProgramOutcome {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out, err;   // err stays empty when it went to `out`
    std::string notStarted;   // why the program never started, when it did not
};

inline std::string ReadToEnd(HANDLE pipe)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

// Runs `program` with the arguments and waits for its end. `input` is
// written to its standard input, which is the NUL device when `closedInput`
// (Wine hands a child without a standard input the Linux process's own, so
// "none" is presented as an input that has ended); standard error goes to
// `out` with standard output when `errorsToOut`.
inline ProgramOutcome RunProgramCapturing(const wchar_t* program, const std::wstring& arguments,
                                          const std::string& input, bool closedInput, bool errorsToOut)
{
    // Wine starts its desktop process from the first process that needs a
    // window, handing it that process's standard handles: started by a
    // command, it would hold the command's pipes open for good. The test
    // starts it first.
    GetDesktopWindow();
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueHandle outRead, outWrite, errRead, errWrite, inRead, inWrite;
    CreatePipe(outRead.Put(), outWrite.Put(), &inherit, 0);
    if (!errorsToOut)
        CreatePipe(errRead.Put(), errWrite.Put(), &inherit, 0);
    if (closedInput)
        inRead.Reset(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr));
    else
        CreatePipe(inRead.Put(), inWrite.Put(), &inherit, 0);
    for (HANDLE own : {outRead.Get(), errRead.Get(), inWrite.Get()})
        if (own != nullptr)
            SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead.Get();
    startup.hStdOutput = outWrite.Get();
    startup.hStdError = errorsToOut ? outWrite.Get() : errWrite.Get();
    std::wstring line = L"\"" + std::wstring(program) + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    ProgramOutcome outcome;
    if (!StartProgram(line, TRUE, CREATE_NO_WINDOW, startup, process)) {
        outcome.notStarted = "the program did not start: error " + std::to_string(GetLastError());
        return outcome;
    }
    UniqueHandle child(process.hProcess), thread(process.hThread);
    outWrite.Reset();
    errWrite.Reset();
    inRead.Reset();
    DWORD written = 0;
    if (!input.empty())
        WriteFile(inWrite.Get(), input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    inWrite.Reset();
    // Standard error is small; standard output is read to its end first.
    outcome.out = ReadToEnd(outRead.Get());
    if (!errorsToOut)
        outcome.err = ReadToEnd(errRead.Get());
    WaitForSingleObject(child.Get(), INFINITE);
    GetExitCodeProcess(child.Get(), &outcome.exitCode);
    return outcome;
}
