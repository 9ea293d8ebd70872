// The command mode through the sandbox program: what a script sees (exit
// codes, standard output and error, standard input closed), and that a dry
// run leaves the whole simulated machine, the registry keys the program
// writes and the profile folders exactly as they were.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/personal_folders.h"
#include "platform/handles.h"
#include "platform/text_win.h"
#include "repair/repair_rules.h"
#include "sandbox/sandbox.h"
#include "tests/narrow.h"
#include "tests/win/personal_folders_support.h"

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
    // Wine starts its desktop process from the first process that needs a
    // window, handing it that process's standard handles: started by a
    // command, it would hold the command's pipes open for good. The test
    // starts it first.
    GetDesktopWindow();
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
    struct { const wchar_t* arguments; const char* input; DWORD exitCode; const char* errPart; } const cases[] = {
        {L"list --csv", "", 0, ""},
        {L"list --bogus", "", 2, "takes no option --bogus"},
        {L"show nobody", "", 3, "no local account"},
        {L"set root --type standard", "", 3, "signed in at the console keeps its type"},
        {L"set Administrator --full-name Boss", "", 3, "built-in account keeps its name"},
        {L"create bad,name", "", 3, "cannot be used"},
        {L"create lchen", "", 3, "already exists"},
        // No console and no --yes: refused at once, never waiting for an answer.
        {L"delete jokafor", "", 3, "needs --yes"},
        {L"password set lchen", "", 2, "no password"},
    };
    for (const auto& c : cases) {
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
        EXPECT_EQ(std::string::npos, outcome.out.find("done:")) << "a refused command said it was done\n"
                                                                << Show(outcome);
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
        {L"repair schedule jokafor --keep-store-apps --yes --dry-run", ""},
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

// The wizard's "Yes" from the command line: the temporary account is made
// and the restart asked for; a second schedule meets the repair under way.
TEST(CommandMode, RepairScheduleSetsUpAsTheWizardDoesAndOnlyOnce)
{
    Reset();
    Outcome closed = RunProgram(L"repair schedule jokafor");
    EXPECT_EQ(3u, closed.exitCode) << "no console and no --yes\n" << Show(closed);
    EXPECT_FALSE(AccountExists(kTempAccountName));

    Outcome scheduled = RunProgram(L"repair schedule jokafor --yes");
    EXPECT_EQ(0u, scheduled.exitCode) << Show(scheduled);
    EXPECT_TRUE(AccountExists(kTempAccountName));
    EXPECT_NE(std::string::npos, scheduled.out.find("done: repair of \"jokafor\" scheduled")) << Show(scheduled);

    Outcome again = RunProgram(L"repair schedule lchen --yes");
    EXPECT_EQ(3u, again.exitCode) << "a repair is under way\n" << Show(again);
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

namespace {

std::string FileText(const std::wstring& path)
{
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "(missing)";
}

void PutFile(const std::wstring& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

// The console user's profile, where its folders are by default.
std::wstring ConsoleProfile()
{
    WString sid, profile;
    GetAccountSidAndProfile(ProcessUserName().c_str(), sid, &profile);
    return profile.Text();
}

}  // namespace

// A move to the second drive and back, each in a process of its own: the
// restore finds the default place although the move removed that folder.
TEST(CommandMode, FoldersMoveToTheOtherDriveAndRestore)
{
    ASSERT_TRUE(ResetScenario(L"default"));
    SavedShellFolders saved;
    saved.Save();
    const std::wstring user = ProcessUserName();
    const std::wstring documents = ConsoleProfile() + L"\\Documents";
    const std::wstring target = CleanFolder(L"T:\\command-docs");
    RemoveDirectoryW(target.c_str());
    CleanFolder(documents);
    PutFile(documents + L"\\plans\\letter.txt", "Dear Sir");

    Outcome moved = RunProgram(L"folders move " + user + L" Documents " + target + L" --yes --json");
    EXPECT_EQ(0u, moved.exitCode) << Show(moved);
    EXPECT_NE(std::string::npos, moved.out.find("\"contentsMoved\":true,\"notMoved\":0")) << Show(moved);
    EXPECT_NE(std::string::npos, moved.err.find("Moving files: 1 of 1")) << "progress on standard error\n" << Show(moved);
    EXPECT_EQ("Dear Sir", FileText(target + L"\\plans\\letter.txt"));
    EXPECT_FALSE(std::filesystem::exists(documents)) << "the emptied old folder is removed";
    Outcome listed = RunProgram(L"folders " + user + L" --json");
    EXPECT_NE(std::string::npos, listed.out.find("\"location\":\"" + Narrow(target).replace(2, 1, "\\\\")))
        << Show(listed);

    Outcome restored = RunProgram(L"folders restore " + user + L" documents --yes");
    EXPECT_EQ(0u, restored.exitCode) << Show(restored);
    EXPECT_EQ("Dear Sir", FileText(documents + L"\\plans\\letter.txt"));
    EXPECT_FALSE(std::filesystem::exists(target));
    saved.Restore();
}

// Each guard refuses with exit 3 before anything is asked or changed.
TEST(CommandMode, GuardsRefuseAndChangeNothing)
{
    const std::wstring user = ProcessUserName();
    wchar_t windows[MAX_PATH] = L"";
    GetWindowsDirectoryW(windows, MAX_PATH);
    WString otherSid, other;
    struct Case {
        const wchar_t* what;
        std::function<void()> setup;
        std::wstring arguments;
        const char* errPart;
    } const cases[] = {
        {L"a destination inside the Windows folder", [] {},
         L"folders move " + user + L" Documents " + windows + L"\\Docs --yes", "into the Windows"},
        {L"contents in another account's profile",
         [&] {
             GetAccountSidAndProfile(L"mhartley", otherSid, &other);
             PutFile(std::wstring(other.Text()) + L"\\Documents\\private.txt", "hers");
             WString sid, profile;
             GetAccountSidAndProfile(user.c_str(), sid, &profile);
             SetFolderLocation(sid.Text(), profile.Text(), L"Documents",
                               (std::wstring(other.Text()) + L"\\Documents").c_str());
         },
         L"folders move " + user + L" Documents T:\\theirs --yes", "another"},
        {L"a profile folder outside the profiles folder",
         [] {
             WString sid, profile;
             GetAccountSidAndProfile(L"jokafor", sid, &profile);
             const std::wstring key =
                 L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + std::wstring(sid.Text());
             const wchar_t outside[] = L"C:\\jokafor-elsewhere";
             RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", REG_EXPAND_SZ, outside,
                             sizeof(outside));
         },
         L"repair plan jokafor", "does not lie inside the profiles folder"},
        // The console user is a standard user here: Maria is the last administrator.
        {L"the last administrator's type",
         [&] { SetAccountType(user.c_str(), kPrivilegeUser, nullptr); },
         L"set mhartley --type standard", "last enabled administrator"},
        {L"the last administrator's deletion",
         [&] { SetAccountType(user.c_str(), kPrivilegeUser, nullptr); },
         L"delete mhartley --yes", "last enabled administrator"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ResetScenario(L"default"));
        SavedShellFolders saved;
        saved.Save();
        CleanFolder(L"T:\\theirs");
        RemoveDirectoryW(L"T:\\theirs");
        c.setup();
        const std::wstring before = MachineSnapshot();
        Outcome outcome = RunProgram(c.arguments, "", true);
        EXPECT_EQ(3u, outcome.exitCode) << Narrow(c.what) << "\n" << Show(outcome);
        EXPECT_NE(std::string::npos, outcome.err.find(c.errPart)) << Narrow(c.what) << "\n" << Show(outcome);
        const std::wstring after = MachineSnapshot();
        EXPECT_TRUE(before == after) << Narrow(c.what) << " changed the machine\n" << FirstDifference(before, after);
        EXPECT_FALSE(std::filesystem::exists(L"T:\\theirs")) << Narrow(c.what);
        EXPECT_FALSE(std::filesystem::exists(std::wstring(windows) + L"\\Docs")) << Narrow(c.what);
        saved.Restore();
    }
}

TEST(CommandMode, DoctorExitCodesAndAFixThatHolds)
{
    struct Case {
        const wchar_t* scenario;
        DWORD exitCode;
    } const cases[] = {{L"default", 0}, {L"health", 1}};
    for (const Case& c : cases) {
        Reset(c.scenario);
        Outcome outcome = RunProgram(L"doctor");
        EXPECT_EQ(c.exitCode, outcome.exitCode) << Narrow(c.scenario) << "\n" << Show(outcome);
    }

    Reset(L"health");
    const std::wstring before = MachineSnapshot();
    Outcome unasked = RunProgram(L"doctor --fix orphan-group-member", "", true);
    EXPECT_EQ(3u, unasked.exitCode) << Show(unasked);
    EXPECT_TRUE(before == MachineSnapshot()) << "a refused mend changed the machine";
    Outcome listed = RunProgram(L"doctor --json");
    EXPECT_NE(std::string::npos, listed.out.find("\"id\":\"orphan-group-member\"")) << Show(listed);
    Outcome fixed = RunProgram(L"doctor --fix orphan-group-member --yes --json");
    EXPECT_EQ(1u, fixed.exitCode) << "the other problems remain\n" << Show(fixed);
    EXPECT_NE(std::string::npos, fixed.out.find("\"mended\":[{\"id\":\"orphan-group-member\"")) << Show(fixed);
    Outcome again = RunProgram(L"doctor --json");
    EXPECT_EQ(std::string::npos, again.out.find("\"id\":\"orphan-group-member\"")) << Show(again);
    EXPECT_NE(std::string::npos, again.out.find("\"id\":\"orphan-right\"")) << "only the named finding was mended\n"
                                                                           << Show(again);
}
