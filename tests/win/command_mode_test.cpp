// The command mode through the sandbox program: what a script sees (exit
// codes, standard output and error, standard input closed), and that a dry
// run leaves the whole simulated machine, the registry keys the program
// writes and the profile folders exactly as they were.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "platform/handles.h"
#include "platform/text_win.h"
#include "sandbox/sandbox.h"
#include "tests/narrow.h"

namespace {

struct Outcome {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out, err;
};

std::string ReadAll(HANDLE pipe)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

// Starts the program with the arguments; `input` is written to its
// standard input, which is the NUL device when `closedInput` (Wine hands a
// child without a standard input the Linux process's own, so "none" is
// presented as an input that has ended).
Outcome RunProgram(const std::wstring& arguments, const std::string& input = "", bool closedInput = false)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite, inRead = nullptr, inWrite = nullptr;
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    if (!closedInput)
        CreatePipe(&inRead, &inWrite, &inherit, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    if (inWrite != nullptr)
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    HANDLE nul = closedInput ? CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                           OPEN_EXISTING, 0, nullptr)
                             : nullptr;
    startup.hStdInput = closedInput ? nul : inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::wstring line = L"\"" + std::wstring(VANTRELL_SANDBOX_PROGRAM) + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    Outcome outcome;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return outcome;
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (nul != nullptr)
        CloseHandle(nul);
    if (!closedInput) {
        CloseHandle(inRead);
        DWORD written = 0;
        if (!input.empty())
            WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
        CloseHandle(inWrite);
    }
    // Standard error is small; standard output is read to its end first.
    outcome.out = ReadAll(outRead);
    outcome.err = ReadAll(errRead);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &outcome.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(outRead);
    CloseHandle(errRead);
    return outcome;
}

void Reset(const wchar_t* scenario = L"default")
{
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) << Narrow(error);
}

// A registry tree as text: every key, value name, type and data.
void DumpKey(HKEY root, const std::wstring& path, std::wstring& text)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    text += L"[" + path + L"]\n";
    wchar_t name[16384];
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = ARRAYSIZE(name), type = 0, size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        text += std::wstring(name) + L"=" + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b)
            text += L"0123456789abcdef"[data[b] >> 4], text += L"0123456789abcdef"[data[b] & 15];
        text += L"\n";
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const std::wstring& child : children)
        DumpKey(root, path + L"\\" + child, text);
}

// The simulated machine, the keys the program writes and the profile folders.
std::wstring MachineSnapshot()
{
    std::wstring text;
    DumpKey(HKEY_LOCAL_MACHINE, sandbox::kStateKey, text);
    DumpKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", text);
    DumpKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", text);
    DumpKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AccountPicture", text);
    // The simulated accounts' profiles; the running user's own is Wine's
    // link into the Linux home, which other programs change meanwhile.
    wchar_t self[256] = L"";
    DWORD selfLength = ARRAYSIZE(self);
    GetUserNameW(self, &selfLength);
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(ProfilesDirectory().Text(), ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it.depth() == 0 && _wcsicmp(it->path().filename().c_str(), self) == 0) {
            it.disable_recursion_pending();
            continue;
        }
        text += it->path().wstring();
        if (it->is_regular_file(ignored))
            text += L" " + std::to_wstring(it->file_size(ignored));
        text += L"\n";
    }
    return text;
}

// The first line where two snapshots part, for the failure message.
std::string FirstDifference(const std::wstring& a, const std::wstring& b)
{
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    const size_t start = a.rfind(L'\n', at) == std::wstring::npos ? 0 : a.rfind(L'\n', at) + 1;
    return "before: " + Narrow(a.substr(start, a.find(L'\n', at) - start)) +
           "\nafter:  " + Narrow(b.substr(start, b.find(L'\n', at) - start));
}

std::string Show(const Outcome& outcome)
{
    return "exit " + std::to_string(outcome.exitCode) + "\nout: " + outcome.out.substr(0, 600) +
           "\nerr: " + outcome.err;
}

}  // namespace

TEST(CommandMode, ExitCodesAndMessages)
{
    Reset();
    struct Case {
        const wchar_t* arguments;
        const char* input;
        DWORD exitCode;
        const char* errPart;
    } cases[] = {
        {L"help", "", 0, ""},
        {L"list --csv", "", 0, ""},
        {L"list --bogus", "", 2, "takes no option --bogus"},
        {L"password set lchen --password=Secret1", "", 2, "never taken from the command line"},
        {L"show nobody", "", 3, "no local account"},
        {L"set root --type standard", "", 3, "signed in at the console keeps its type"},
        {L"set Administrator --full-name Boss", "", 3, "built-in account keeps its name"},
        {L"create bad,name", "", 3, "cannot be used"},
        {L"create lchen", "", 3, "already exists"},
        // No console and no --yes: refused at once, never waiting for an answer.
        {L"delete jokafor", "", 3, "needs --yes"},
        {L"password set lchen", "", 2, "no password"},
    };
    for (const Case& c : cases) {
        Outcome outcome = RunProgram(c.arguments, c.input);
        EXPECT_EQ(c.exitCode, outcome.exitCode) << Narrow(c.arguments) << "\n" << Show(outcome);
        EXPECT_NE(std::string::npos, outcome.err.find(c.errPart)) << Narrow(c.arguments) << "\n" << Show(outcome);
    }
}

TEST(CommandMode, NeedsElevationAndNeverRelaunches)
{
    Reset();
    sandbox::SetElevated(false);
    sandbox::ClearRecord();
    Outcome outcome = RunProgram(L"list");
    EXPECT_EQ(5u, outcome.exitCode) << Show(outcome);
    EXPECT_NE(std::string::npos, outcome.err.find("elevated")) << Show(outcome);
    EXPECT_TRUE(sandbox::RecordedActions().empty()) << "no runas start was made";
    EXPECT_EQ(0u, RunProgram(L"help").exitCode) << "help needs no elevation";
    sandbox::SetElevated(true);
}

TEST(CommandMode, StandardInputClosedRefusesWithoutWaiting)
{
    Reset();
    const std::wstring before = MachineSnapshot();
    struct Case {
        const wchar_t* arguments;
        DWORD exitCode;
    } cases[] = {{L"delete jokafor", 3}, {L"password set lchen", 2}, {L"autologon set lchen", 2}};
    for (const Case& c : cases) {
        Outcome outcome = RunProgram(c.arguments, "", true);
        EXPECT_EQ(c.exitCode, outcome.exitCode) << Narrow(c.arguments) << "\n" << Show(outcome);
    }
    const std::wstring after = MachineSnapshot();
    EXPECT_TRUE(before == after) << "a refused command changed the machine\n" << FirstDifference(before, after);
}

TEST(CommandMode, DryRunChangesNothing)
{
    struct Case {
        const wchar_t* arguments;
        const char* input;
    } cases[] = {
        {L"set lchen --full-name \"Li Chen\" --type administrator --disabled yes --hidden yes --dry-run", ""},
        {L"password set lchen --dry-run", "NewSecret1\n"},
        {L"password remove skowalski --dry-run", ""},
        {L"autologon set lchen --dry-run", "pw\n"},
        {L"autologon clear --dry-run", ""},
        {L"picture set lchen \"" VANTRELL_PICTURE_FILE L"\" --fit stretch --dry-run", ""},
        {L"create newbie --type administrator --dry-run", ""},
        {L"delete jokafor --yes --dry-run", ""},
        {L"profile-keys --repair --dry-run", ""},
    };
    for (const wchar_t* scenario : {L"default", L"auto-logon", L"corrupted-profile"}) {
        for (const Case& c : cases) {
            Reset(scenario);
            const std::wstring before = MachineSnapshot();
            Outcome outcome = RunProgram(c.arguments, c.input);
            EXPECT_EQ(0u, outcome.exitCode) << Narrow(scenario) << ": " << Narrow(c.arguments) << "\n" << Show(outcome);
            const std::wstring after = MachineSnapshot();
            EXPECT_TRUE(before == after) << Narrow(scenario) << ": " << Narrow(c.arguments)
                                         << " changed the machine\n" << FirstDifference(before, after);
        }
    }
}

TEST(CommandMode, ChangesWhatTheDryRunSaid)
{
    Reset();
    const std::wstring before = MachineSnapshot();
    Outcome dry = RunProgram(L"set lchen --full-name \"Li Chen\" --hidden yes --dry-run");
    Outcome real = RunProgram(L"set lchen --full-name \"Li Chen\" --hidden yes");
    EXPECT_EQ(0u, real.exitCode) << Show(real);
    EXPECT_FALSE(before == MachineSnapshot());
    EXPECT_NE(std::string::npos, dry.out.find("would: full name")) << Show(dry);
    EXPECT_NE(std::string::npos, real.out.find("done: full name")) << Show(real);
    Outcome shown = RunProgram(L"show lchen --json");
    EXPECT_NE(std::string::npos, shown.out.find("\"fullName\":\"Li Chen\"")) << Show(shown);
    EXPECT_NE(std::string::npos, shown.out.find("\"hidden\":true")) << Show(shown);

    Outcome deleted = RunProgram(L"delete jokafor --yes");
    EXPECT_EQ(0u, deleted.exitCode) << Show(deleted);
    EXPECT_EQ(3u, RunProgram(L"show jokafor").exitCode);
}

// The list a script reads names the accounts the main window lists, with the same types.
TEST(CommandMode, ListMatchesTheWindowsRows)
{
    Reset();
    std::vector<AccountRow> rows;
    ReadAccountRows(rows);
    Outcome outcome = RunProgram(L"list --json");
    ASSERT_EQ(0u, outcome.exitCode) << Show(outcome);
    for (const AccountRow& row : rows) {
        const std::string name = "{\"name\":\"" + Narrow(row.name.Text()) + "\"";
        const size_t at = outcome.out.find(name);
        ASSERT_NE(std::string::npos, at) << name;
        const std::string typeText = "\"typeText\":\"" + Narrow(row.type.Text()) + "\"";
        EXPECT_EQ(outcome.out.find(typeText, at), outcome.out.find("\"typeText\"", at)) << name << " " << typeText;
    }
    size_t count = 0;
    for (size_t at = outcome.out.find("{\"name\":"); at != std::string::npos; at = outcome.out.find("{\"name\":", at + 1))
        ++count;
    EXPECT_EQ(rows.size(), count);
}
