// The command mode through the sandbox program: what a script sees (exit
// codes, standard output and error, standard input closed), and that a dry
// run leaves the whole simulated machine, the registry keys the program
// writes and the profile folders exactly as they were.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/personal_folders.h"
#include "app/command_mode.h"
#include "app/command_rules.h"
#include "app/json_reader.h"
#include "app/health_check.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text_win.h"
#include "repair/repair_rules.h"
#include "repair/state_file.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"
#include "tests/narrow.h"
#include "ui/secret_text.h"
#include "tests/win/personal_folders_support.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/test_support.h"

namespace {

using Outcome = ProgramOutcome;

// The sandbox program with the arguments; `input` on its standard input,
// which has ended at once when `closedInput`.
Outcome RunProgram(const std::wstring& arguments, const std::string& input = "", bool closedInput = false)
{
    return RunProgramCapturing(VANTRELL_SANDBOX_PROGRAM, arguments, input, closedInput, false);
}

// A registry tree as text: every key, value name, type and data.
void DumpKey(HKEY root, const std::wstring& path, std::wstring& text, std::vector<BYTE>& data)
{
    UniqueRegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.Put()) != ERROR_SUCCESS)
        return;
    text += L"[" + path + L"]\n";
    wchar_t name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = ARRAYSIZE(name), type = 0, size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        text += std::wstring(name) + L"=" + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b)
            text += L"0123456789abcdef"[data[b] >> 4], text += L"0123456789abcdef"[data[b] & 15];
        text += L"\n";
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = ARRAYSIZE(name);
        if (RegEnumKeyExW(key.Get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        DumpKey(root, path + L"\\" + name, text, data);
    }
}

// A folder tree as text, a line for each entry with a file's size; links
// are listed, never entered. The folder listing already carries what a
// line needs, so nothing is opened one by one.
void DumpFolder(const std::wstring& folder, const std::wstring& skipped, std::wstring& text)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return;
    UniqueFind owned(search);
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0 ||
            _wcsicmp(found.cFileName, skipped.c_str()) == 0)
            continue;
        const std::wstring path = folder + L"\\" + found.cFileName;
        text += path;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            text += L" " + std::to_wstring((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
        text += L"\n";
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY)
            DumpFolder(path, L"", text);
    } while (FindNextFileW(owned.Get(), &found));
}

// The simulated machine, the keys the program writes and the profile folders.
std::wstring MachineSnapshot()
{
    std::wstring text;
    std::vector<BYTE> data(1 << 16);
    DumpKey(HKEY_LOCAL_MACHINE, sandbox::kStateKey, text, data);
    DumpKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", text, data);
    DumpKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", text, data);
    DumpKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AccountPicture", text, data);
    // The simulated accounts' profiles; the running user's own is Wine's
    // link into the Linux home, which other programs change meanwhile.
    DumpFolder(ProfilesDirectory().Text(), ProcessUserName(), text);
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
           "\nerr: " + outcome.err + (outcome.notStarted.empty() ? "" : "\n" + outcome.notStarted);
}

// Runs the command on the machine as it is and expects its exit code and a
// part of its message (in the JSON document too, when one is asked for);
// nothing may be said to be done, nor change. `known`, when given, is the
// machine's snapshot now, or empty when unknown; it is left as the snapshot
// after the run, or empty when the run changed the machine.
void ExpectNoChange(const std::string& label, const std::wstring& arguments, const std::string& input,
                    bool closedInput, DWORD exitCode, const char* errPart, std::wstring* known = nullptr)
{
    const std::wstring before = known != nullptr && !known->empty() ? *known : MachineSnapshot();
    Outcome outcome = RunProgram(arguments, input, closedInput);
    EXPECT_EQ(exitCode, outcome.exitCode) << label << "\n" << Show(outcome);
    const bool json = arguments.find(L"--json") != std::wstring::npos;
    // Standard error is silent on success: there the document carries it.
    EXPECT_NE(std::string::npos, (exitCode == 0 && json ? outcome.out : outcome.err).find(errPart))
        << label << "\n" << Show(outcome);
    EXPECT_TRUE(!json || outcome.out.find(errPart) != std::string::npos) << label << ": the message is not in the "
                                                                         << "document\n" << Show(outcome);
    EXPECT_TRUE(!json || outcome.out.rfind("{\"schemaVersion\":1,", 0) == 0) << label << "\n" << Show(outcome);
    // A script's engine may take any word on standard error for a failure.
    EXPECT_TRUE(exitCode != 0 || arguments.find(L"--verbose") != std::wstring::npos || outcome.err.empty())
        << label << ": standard error spoke on success\n" << Show(outcome);
    EXPECT_EQ(std::string::npos, outcome.out.find("done:")) << label << " said it was done\n" << Show(outcome);
    const std::wstring after = MachineSnapshot();
    EXPECT_TRUE(before == after) << label << " changed the machine\n" << FirstDifference(before, after);
    if (known != nullptr)
        *known = before == after ? after : std::wstring();
}

constexpr wchar_t kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

std::wstring ProfileOf(const wchar_t* name)
{
    WString sid, profile;
    GetAccountSidAndProfile(name, sid, &profile);
    return profile.Text();
}

void PointProfileAt(const wchar_t* name, const std::wstring& folder)
{
    WString sid;
    GetAccountSidAndProfile(name, sid, nullptr);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kProfileListKey + std::wstring(sid.Text())).c_str(), L"ProfileImagePath",
                    REG_EXPAND_SZ, folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

// A service's profile in the profiles folder, unused for a year.
void OldServiceProfile()
{
    const std::wstring sid = L"S-1-5-80-1111-2222", folder = std::wstring(ProfilesDirectory().Text()) + L"\\oldservice";
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteTextFile(folder + L"\\NTUSER.DAT", "hive");
    sandbox::RememberProfileFolder(folder);
    sandbox::RememberProfileKey(sid);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kProfileListKey + sid).c_str(), L"ProfileImagePath", REG_EXPAND_SZ,
                    folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    sandbox::SetProfileLastUse(sid, 365);
}

}  // namespace

std::wstring DesiredStateFile();

// Each refusal (a guard, a missing answer, no elevation) comes before
// anything is asked or changed, nothing is recorded as done instead, and a
// command that only reads changes nothing either.
TEST(CommandMode, RefusalsAndReadsChangeNothing)
{
    const std::wstring user = ProcessUserName();
    wchar_t windows[MAX_PATH] = L"";
    GetWindowsDirectoryW(windows, MAX_PATH);
    // The console user is a standard user here: Maria is the last administrator.
    const auto lastAdministrator = [&] { SetAccountType(user.c_str(), kPrivilegeUser, nullptr); };
    const auto notElevated = [] { sandbox::SetElevated(false); };
    const char* const kLastAdministrator = "last administrator account of this computer that can sign in";
    WString otherSid, other;
    struct Case {
        const wchar_t* scenario;
        std::function<void()> setup;   // on a fresh machine; none: the machine as the last case left it
        std::wstring arguments;
        bool closedInput;
        DWORD exitCode;
        const char* errPart;
        std::string input = "";
    } const cases[] = {
        {L"default", nullptr, L"list --csv", false, 0, ""},
        {L"default", nullptr, L"LIST", false, 0, ""},
        {L"default", nullptr, L"list --bogus", false, 2, "takes no option --bogus"},
        // A mistyped line answers with the usage, in the form asked for, and never opens the window.
        {L"default", nullptr, L"frobnicate", true, 2, "usage: vantrell COMMAND"},
        {L"default", nullptr, L"lsit --json", true, 2, "unknown command"},
        {L"default", nullptr, L"--json list --bogus", false, 2, "takes no option --bogus"},
        {L"default", nullptr, L"set lchen --password=x --json", false, 2, "never taken from the command line"},
        {L"default", nullptr, L"show nobody", false, 6, "no local account"},
        {L"default", nullptr, L"show nobody --json", false, 6, "no local account"},
        {L"default", nullptr, L"set nobody --full-name Boss --dry-run", false, 6, "no local account"},
        {L"default", nullptr, L"password set nobody", false, 6, "no local account"},
        {L"default", nullptr, L"repair plan nobody --json", false, 6, "no local account"},
        // The plan tries each hive through a copy: the account's own file is never written.
        {L"default", nullptr, L"repair plan jokafor --json", false, 0, "\"keepSettingsRecommended\":true"},
        {L"broken-profile", nullptr, L"repair plan pweber --json", false, 0, "\"keepSettingsRecommended\":false"},
        {L"default",
         [] {
             WString sid, profile;
             GetAccountSidAndProfile(L"jokafor", sid, &profile);
             const std::wstring hive = std::wstring(profile.Text()) + L"\\NTUSER.DAT";
             CreateHardLinkW((std::wstring(profile.Text()) + L"\\Documents\\second-name.dat").c_str(), hive.c_str(),
                             nullptr);
         },
         L"repair plan jokafor --json", false, 0, "could not be tried: its file cannot be copied"},
        {L"default", nullptr, L"set root --type standard", false, 3, "signed in at the console keeps its type"},
        {L"default", nullptr, L"set Administrator --full-name Boss", false, 3, "built-in account keeps its name"},
        {L"default", nullptr, L"create bad,name", false, 3, "cannot be used"},
        {L"default", nullptr, L"create lchen --verbose", false, 0, "already exists with these settings"},
        {L"default", nullptr, L"create lchen --type administrator --full-name Boss --json", false, 3,
         "its type is standard, not administrator; its full name is"},
        {L"default", nullptr, L"delete nobody --json --verbose", false, 0, "nothing to delete"},
        {L"default", nullptr, L"set lchen --full-name \"ok\troot\"", false, 3, "control character"},
        {L"default", nullptr, L"set lchen --expires 2030-02-30", false, 2, "YYYY-MM-DD"},
        {L"default", nullptr, L"set jokafor --must-change-password yes", false, 2, "never expires"},
        {L"default", nullptr, L"show lchen --json", false, 0, "\"lastSignIn\":null,\"badPasswordCount\":0"},
        {L"default", nullptr, L"create newbie --full-name \"\x1b[2Jhi\"", false, 3, "control character"},
        {L"default", nullptr, L"set lchen --full-name \"x\u202Etxt.exe\"", false, 3, "direction mark"},
        // No console and no --yes: refused at once, never waiting for an answer.
        {L"default", nullptr, L"delete jokafor", false, 2, "needs --yes"},
        {L"default", nullptr, L"delete jokafor", true, 2, "needs --yes"},
        {L"default", nullptr, L"repair schedule jokafor", false, 2, "needs --yes"},
        {L"default", nullptr, L"password set lchen", false, 2, "no password"},
        {L"default", nullptr, L"password set lchen", true, 2, "no password"},
        {L"default", nullptr, L"password reset lchen", false, 2, "encrypted files", "Reset-1\n"},
        {L"default", nullptr, L"autologon set lchen", true, 2, "no password"},
        // Never cut short, nor set as nothing: refused whole, with the limit.
        {L"default", nullptr, L"password set lchen", false, 2, "longer than 256", std::string(1100, 'x') + "\n\n"},
        {L"default", nullptr, L"autologon set lchen", false, 2, "longer than 256", std::string(257, 'x') + "\n"},
        {L"default", nullptr, L"password set lchen", false, 2, "not UTF-8", "\xFF\xFEpass\n\n"},
        {L"default", nullptr, L"password set lchen", false, 2, "\"password remove\"", "\nold\n"},
        {L"default", nullptr, L"create newbie --password-stdin", false, 2, "\"password remove\"", "\r\n"},
        {L"default", nullptr, L"doctor", false, 0, ""},
        {L"health", nullptr, L"doctor", false, 1, ""},
        {L"health", nullptr, L"doctor --fix orphan-group-member", true, 2, "needs --yes"},
        // Refused without a start through "runas"; the help needs no elevation.
        // Reads run without elevation and name what they could not read; changes do not.
        {L"default", notElevated, L"list --verbose", false, 0, "left out without elevation"},
        {L"default", notElevated, L"show lchen --json", false, 0, "\"hidden\":null,\"autoLogon\":null"},
        {L"default", notElevated, L"list --sizes --json", false, 0, "\"leftOut\":[\"autoLogon\",\"hidden\",\"sizeBytes\"]"},
        {L"health", notElevated, L"doctor --json", false, 1, "left out without elevation: the rights"},
        // The automatic sign-in's secret is unread, not missing.
        {L"auto-logon", notElevated, L"doctor --json", false, 0, "left out without elevation: whether the automatic"},
        {L"health", notElevated, L"doctor --fix orphan-group-member --yes --json", false, 5, "elevated"},
        {L"default", notElevated, L"autologon status --json", false, 0, "\"leftOut\":[\"autoLogon\"]"},
        {L"default", nullptr, L"folders move " + user + L" Documents " + windows + L"\\Docs --yes", true, 3,
         "into the Windows"},
        {L"default",
         [&] {
             GetAccountSidAndProfile(L"mhartley", otherSid, &other);
             WriteTextFile(std::wstring(other.Text()) + L"\\Documents\\private.txt", "hers");
             WString sid, profile;
             GetAccountSidAndProfile(user.c_str(), sid, &profile);
             SetFolderLocation(sid.Text(), profile.Text(), L"Documents",
                               (std::wstring(other.Text()) + L"\\Documents").c_str());
         },
         L"folders move " + user + L" Documents T:\\theirs --yes", true, 3, "another"},
        {L"default",
         [] {
             WString sid, profile;
             GetAccountSidAndProfile(L"jokafor", sid, &profile);
             const std::wstring key =
                 L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + std::wstring(sid.Text());
             const wchar_t outside[] = L"C:\\jokafor-elsewhere";
             RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", REG_EXPAND_SZ, outside,
                             sizeof(outside));
         },
         L"repair plan jokafor", true, 3, "does not lie inside the profiles folder"},
        // A profile loaded, special, shared with another or reached through a link is never deleted.
        {L"old-profiles", nullptr, L"profiles clean --unused-for 90 --yes --json --exclude anna bwalker olduser", true,
         0, "\"decision\":\"loaded\""},
        {L"old-profiles", [] { OldServiceProfile(); }, L"profiles clean --unused-for 90 --yes --json --exclude anna bwalker "
         L"olduser", true, 0, "\"decision\":\"special\""},
        {L"old-profiles", [] { PointProfileAt(L"anna", ProfileOf(L"cruz")); },
         L"profiles clean --unused-for 90 --yes --json --exclude bwalker olduser", true, 0,
         "\"reason\":\"not inside the profiles folder, shared or a link\"}"},
        {L"old-profiles", [] { PointProfileAt(L"anna", L"C:\\users\\vantrell-linked-profile"); },
         L"profiles clean --unused-for 90 --yes --json --exclude bwalker olduser", true, 0,
         "\"reason\":\"not inside the profiles folder, shared or a link\"}"},
        {L"old-profiles", nullptr, L"profiles clean --unused-for 90", true, 2, "needs --yes"},
        {L"old-profiles", nullptr, L"profiles clean --unused-for 0 --yes", true, 2, "from 1 to 36500"},
        {L"old-profiles", nullptr, L"profiles clean --unused-for 9 anna --yes", true, 2, "only after --exclude"},
        {L"old-profiles", nullptr, L"profiles --json", true, 0, "\"lastUseFrom\":\"profile list\""},
        {L"default", lastAdministrator, L"set mhartley --type standard", true, 3, kLastAdministrator},
        {L"default", lastAdministrator, L"delete mhartley --yes", true, 3, kLastAdministrator},
        {L"default", lastAdministrator, L"group remove S-1-5-32-544 mhartley", true, 3, kLastAdministrator},
        {L"default", nullptr, L"group remove Administrators " + user + L" #1001 lchen", true, 3, kLastAdministrator},
        // Hidden or expired, the last administrator could not sign in; one that cannot counts for none.
        {L"default", lastAdministrator, L"set mhartley --hidden yes", true, 3, kLastAdministrator},
        {L"default", lastAdministrator, L"set mhartley --expires 2001-01-01", true, 3, kLastAdministrator},
        {L"default", [&] { lastAdministrator(); SetAccountType(L"reception", kPrivilegeAdministrator, nullptr); },
         L"set mhartley --disabled yes", true, 3, kLastAdministrator},
        {L"default", nullptr, L"set " + user + L" --expires 2001-01-01", true, 3, "console keeps its expiry"},
        {L"auto-logon", nullptr, L"set jokafor --hidden yes", true, 3, "signs in automatically"},
        {L"default", nullptr, L"show #999", false, 6, "no such account"},
        {L"default", nullptr, L"set #5x --disabled yes", false, 6, "no such account"},
        {L"default", nullptr, L"set S-1-5-32-544 --disabled yes", false, 6, "no such account"},
        {L"default", nullptr, L"delete S-1-5-21-1-2-3-1001 --yes --json", false, 6, "no such account"},
        {L"default", nullptr, L"groups --json", false, 0, "{\"name\":\"Administrators\",\"sid\":\"S-1-5-32-544\","
                                                          "\"memberCount\":3,\"description\":\"\"}"},
        {L"default", nullptr, L"group show Nobodies", false, 6, "no local group"},
        {L"default", nullptr, L"group add Administrators lchen nobody", false, 6, "no account or group \"nobody\""},
        {L"default", nullptr, L"group add Guests S-1-5-32-545", false, 4, "cannot be a member"},
        {L"health", nullptr, L"group show S-1-5-32-545 --json", false, 0, "{\"name\":null,\"sid\":\"S-1-5-21-"},
        {L"default", nullptr, L"rename lchen JOKAFOR", false, 3, "already exists"},
        {L"default", nullptr, L"rename #1003 Users", false, 3, "already exists"},
        {L"default", nullptr, L"rename lchen bad,name", false, 3, "cannot be used"},
        {L"default", nullptr, L"rename jokafor Brenwick_Temp_Admin", false, 3, "kept for the profile repair"},
        // A file an elevated run reads is never fetched from another host nor opened as a device.
        {L"default", nullptr, L"picture set lchen \\\\host\\share\\a.png", false, 3, "not on a drive of this computer"},
        {L"default", nullptr, L"create newbie --picture //host/share/a.png", false, 3, "not on a drive of this computer"},
        {L"default", nullptr, L"apply \\\\?\\GLOBALROOT\\Device\\Mup\\host\\share\\state.json", false, 2,
         "not on a drive of this computer"},
        {L"default", nullptr, L"apply \\\\.\\C:\\state.json", false, 2, "not on a drive of this computer"},
        {L"default", nullptr, L"create brenwick_temp_admin", false, 3, "kept for the profile repair"},
        {L"default", nullptr, L"rename nobody somebody", false, 6, "no local account"},
        {L"auto-logon", nullptr, L"autologon set jokafor --count -1", false, 2, "--count takes"},
    };
    SavedShellFolders saved;
    saved.Save();
    CleanFolder(L"T:\\theirs");
    RemoveDirectoryW(L"T:\\theirs");
    std::wstring loaded, snapshot;
    for (const Case& c : cases) {
        const std::string label = Narrow(c.scenario) + ": " + Narrow(c.arguments);
        if (c.setup || loaded != c.scenario) {
            ASSERT_TRUE(ResetScenario(c.scenario)) << label;
            snapshot.clear();
        }
        loaded = c.setup ? L"" : c.scenario;
        if (c.setup)
            c.setup();
        ExpectNoChange(label, c.arguments, c.input, c.closedInput, c.exitCode, c.errPart, &snapshot);
        EXPECT_FALSE(std::filesystem::exists(L"T:\\theirs")) << label;
        EXPECT_FALSE(std::filesystem::exists(std::wstring(windows) + L"\\Docs")) << label;
        saved.Restore();
    }
}

// What an engine meets when it runs a command again, or in check mode: a
// delete by the RID or SID of an account already gone, a sign-in already
// off, a dry run without the password, a restart only said to follow, and
// one profile's deletion through the clean-up's checks. Nothing changes.
TEST(CommandMode, RerunsAndCheckModesChangeNothing)
{
    const std::wstring user = ProcessUserName();
    const auto signInOff = [] {
        const wchar_t winlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, winlogon, L"DefaultUserName", REG_SZ, L"root", 10);
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, winlogon, L"AutoAdminLogon", REG_SZ, L"0", 4);
    };
    wchar_t temporary[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temporary);
    const std::wstring noSignIn = std::wstring(temporary) + L"no-sign-in.json";
    WriteTextFile(noSignIn, "{\"schemaVersion\": 1, \"autoLogon\": null}");
    struct Case {
        const wchar_t* scenario;
        std::function<void()> setup;
        std::wstring arguments;
        bool closedInput;
        DWORD exitCode;
        const char* errPart;
    } const cases[] = {
        // This computer's RID or SID of an account gone: already deleted, as by a name nobody has.
        {L"default", nullptr, L"delete #1099 --yes --json", false, 0, "nothing to delete"},
        {L"default", nullptr, L"delete " + sandbox::AccountSid(1099) + L" --yes --json", false, 0, "nothing to delete"},
        {L"default", nullptr, L"delete #10x --yes", false, 6, "no such account"},
        // A name left behind with the sign-in off: nothing signs in, so nothing to clear, by either verb.
        {L"default", signInOff, L"autologon clear --json", false, 0, "no automatic sign-in is set"},
        // A check mode needs no password and never sets an engine's restart off.
        {L"default", nullptr, L"autologon set lchen --dry-run --json", true, 0,
         "\"field\":\"account\",\"old\":\"\",\"new\":\"lchen\""},
        {L"default", nullptr, L"apply \"" + DesiredStateFile() + L"\" --dry-run --json", true, 0,
         "{\"kind\":\"autoLogon\",\"target\":\"lchen\",\"changed\":true,\"exitCode\":0}"},
        {L"default", nullptr, L"repair schedule jokafor --no-restart --dry-run --json", true, 0,
         "\"restartWouldFollow\":true"},
        {L"default", signInOff, L"apply \"" + noSignIn + L"\" --json", false, 0, "\"changed\":false"},
        // One profile by name goes through the same checks; its age does not count.
        {L"old-profiles", [] { PointProfileAt(L"anna", ProfileOf(L"cruz")); }, L"profiles delete cruz --yes --json",
         true, 3, "stays: it is not inside the profiles folder, shared or a link"},
        {L"old-profiles", nullptr, L"profiles delete " + user + L" --yes", true, 3, "stays: it is"},
        {L"old-profiles", nullptr, L"profiles delete nobody --yes --json", true, 0, "nothing to delete"},
        {L"old-profiles", nullptr, L"profiles delete anna", true, 2, "needs --yes"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ResetScenario(c.scenario));
        if (c.setup)
            c.setup();
        ExpectNoChange(Narrow(c.scenario) + ": " + Narrow(c.arguments), c.arguments, "", c.closedInput, c.exitCode,
                       c.errPart);
    }
    DeleteFileW(noSignIn.c_str());
}

// The local groups' and the policy's refusals, reruns and reads on the
// default machine: nothing changes, and each says why.
TEST(CommandMode, GroupAndPolicyRefusalsAndRerunsChangeNothing)
{
    struct Case {
        std::wstring arguments;
        bool closedInput;
        DWORD exitCode;
        const char* errPart;
    } const cases[] = {
        // The system's own groups are never deleted or renamed, by name or SID; a group's name is an account's.
        {L"group delete Administrators --yes", false, 3, "one of the system's own groups"},
        {L"group delete S-1-5-32-545 --yes --json", false, 3, "never deleted"},
        {L"group rename Users Folks", false, 3, "never renamed"},
        {L"group create bad,name", false, 3, "cannot be used"},
        {L"group create #1001", false, 3, "read as a SID or a RID"},
        {L"group create LCHEN", false, 3, "already exists"},
        {L"group create lab --description Other", false, 3, "exists with the description"},
        {L"group create Staff --description \"a\tb\"", false, 2, "control character"},
        {L"group rename Lab users", false, 3, "already exists"},
        {L"group rename Nobodies Somebodies", false, 6, "no local group"},
        {L"group set Lab", false, 2, "needs --description"},
        {L"group delete Lab", true, 2, "needs --yes"},
        {L"groups --json", false, 0, "{\"name\":\"Lab\",\"sid\":\"S-1-5-21-"},
        {L"policy --json", false, 0, "\"policy\":{\"minLength\":0,\"maxAgeDays\":42,\"minAgeDays\":0,\"history\":0,"
                                     "\"lockoutThreshold\":0,\"lockoutDurationMinutes\":30,\"lockoutWindowMinutes\":30}"},
        {L"policy set --min-length 15", false, 2, "from 0 to 14"},
        {L"policy set --max-age 0", false, 2, "from 1 to 49710, or unlimited"},
        {L"policy set --min-age 42", false, 2, "shorter than the maximum"},
        {L"policy set --lockout-window 31 --json", false, 2, "longer than a lock-out lasts"},
        {L"policy set", false, 2, "needs at least one"},
        // A group already gone, by name or by this computer's SID, is what was asked.
        {L"group delete Nobodies --yes --json", false, 0, "nothing to delete"},
        {L"group delete " + sandbox::AccountSid(1099) + L" --yes --json", false, 0, "nothing to delete"},
        {L"group delete S-1-5-21-x --yes", false, 6, "is no SID"},
        {L"group set Lab --description \"Lab computers\" --json", false, 0, "nothing to change"},
    };
    ASSERT_TRUE(ResetScenario(L"default"));
    std::wstring snapshot;
    for (const Case& c : cases)
        ExpectNoChange(Narrow(c.arguments), c.arguments, "", c.closedInput, c.exitCode, c.errPart, &snapshot);
    // Held exactly to the disabled built-in administrator, Administrators would leave nobody to sign in.
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    const std::wstring file = std::wstring(folder) + L"exact-administrators.json";
    WriteTextFile(file, "{\"schemaVersion\": 1, \"groups\": [{\"group\": \"S-1-5-32-544\", \"exactMembers\": [\"#500\"]}]}");
    ExpectNoChange("exact administrators", L"apply \"" + file + L"\" --json", "", true, 3, "last administrator");
    DeleteFileW(file.c_str());
    sandbox::SetElevated(false);
    ExpectNoChange("not elevated", L"policy set --history 3", "", false, 5, "elevated");
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
        {L"password reset lchen --yes --dry-run", "NewSecret1\n"},
        {L"autologon set lchen --dry-run", "pw\n"},
        {L"autologon clear --dry-run", ""},
        {L"picture set lchen \"" VANTRELL_PICTURE_FILE L"\" --fit stretch --dry-run", ""},
        {L"create newbie --type administrator --dry-run", ""},
        {L"delete jokafor --yes --dry-run", ""},
        {L"profile-keys --repair --dry-run", ""},
        {L"repair schedule jokafor --keep-store-apps --yes --dry-run", ""},
    };
    for (const wchar_t* scenario : {L"default", L"auto-logon", L"corrupted-profile"}) {
        ASSERT_TRUE(ResetScenario(scenario));
        std::wstring snapshot;
        for (const Case& c : cases)
            ExpectNoChange(Narrow(scenario) + ": " + Narrow(c.arguments), c.arguments, c.input, false, 0, "",
                           &snapshot);
    }
}

TEST(CommandMode, ChangesWhatTheDryRunSaid)
{
    ASSERT_TRUE(ResetScenario(L"default"));
    // The longest password whole, from a file saved with a byte-order mark.
    std::string typed = "\xEF\xBB\xBF" + std::string(200, 'a');
    for (int i = 0; i < 56; ++i)
        typed += "\xC3\xA9";
    Outcome password = RunProgram(L"password set lchen", typed + "\r\n\n");
    EXPECT_EQ(0u, password.exitCode) << Show(password);
    EXPECT_TRUE(repair_test::PasswordWorks(L"lchen", (std::wstring(200, L'a') + std::wstring(56, L'\u00e9')).c_str()));

    const std::wstring before = MachineSnapshot();
    Outcome dry = RunProgram(L"set lchen --full-name \"Li Chen\" --hidden yes --dry-run");
    // Addressed by its SID, the account is still named by its name.
    WString lchenSid;
    GetAccountSidAndProfile(L"lchen", lchenSid, nullptr);
    Outcome real = RunProgram(L"set " + std::wstring(lchenSid.Text()) + L" --full-name \"Li Chen\" --hidden yes");
    EXPECT_EQ(0u, real.exitCode) << Show(real);
    EXPECT_NE(std::string::npos, real.out.find("of \"lchen\" to")) << Show(real);
    EXPECT_FALSE(before == MachineSnapshot());
    EXPECT_NE(std::string::npos, dry.out.find("would: full name")) << Show(dry);
    EXPECT_NE(std::string::npos, real.out.find("done: full name")) << Show(real);
    Outcome shown = RunProgram(L"show lchen --json");
    EXPECT_NE(std::string::npos, shown.out.find("\"fullName\":\"Li Chen\"")) << Show(shown);
    EXPECT_NE(std::string::npos, shown.out.find("\"hidden\":true")) << Show(shown);

    // A reset needs no current password.
    Outcome reset = RunProgram(L"password reset skowalski --yes", "Reset-Pass-9\n");
    EXPECT_EQ(0u, reset.exitCode) << Show(reset);
    EXPECT_TRUE(repair_test::PasswordWorks(L"skowalski", L"Reset-Pass-9"));

    Outcome deleted = RunProgram(L"delete jokafor --yes");
    EXPECT_EQ(0u, deleted.exitCode) << Show(deleted);
    EXPECT_EQ(6u, RunProgram(L"show jokafor").exitCode);

    // A folder kept is reported as not done, and only the account as done.
    WString sid, profile;
    GetAccountSidAndProfile(L"skowalski", sid, &profile);
    const std::wstring outside = CleanFolder(L"C:\\skowalski-elsewhere");
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + std::wstring(sid.Text());
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath", REG_EXPAND_SZ, outside.c_str(),
                    static_cast<DWORD>((outside.size() + 1) * sizeof(wchar_t)));
    Outcome kept = RunProgram(L"delete skowalski --yes --json");
    EXPECT_EQ(4u, kept.exitCode) << Show(kept);
    EXPECT_NE(std::string::npos, kept.out.find("\"changes\":[{\"text\":\"account \\\"skowalski\\\" deleted\",\"target\":"
                                               "\"skowalski\",\"field\":\"account\",\"old\":\"standard\",\"new\":\"absent\"}],"
                                               "\"notDone\":[\"profile folder")) << Show(kept);
    EXPECT_TRUE(std::filesystem::exists(outside));
    RemoveDirectoryW(outside.c_str());
}

// A file held open keeps its folders until the restart, which then takes
// them all: the file first, each folder after what it holds.
TEST(CommandMode, DeleteLeavesWhatIsInUseToTheRestartWhichTakesTheWholeFolder)
{
    ASSERT_TRUE(ResetScenario(L"default"));
    WString sid, profile;
    GetAccountSidAndProfile(L"jokafor", sid, &profile);
    const std::wstring open = std::wstring(profile.Text()) + L"\\Documents\\deep\\open.txt";
    WriteTextFile(open, "in use");
    UniqueFileHandle held(CreateFileW(open.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    Outcome deleted = RunProgram(L"delete jokafor --yes");
    EXPECT_EQ(3010u, deleted.exitCode) << Show(deleted);
    // open.txt, deep, Documents and the profile folder itself.
    EXPECT_NE(std::string::npos, deleted.out.find("at the next restart: 4 of its entries")) << Show(deleted);
    held.Reset();
    sandbox::Reboot();
    EXPECT_FALSE(std::filesystem::exists(profile.Text())) << Narrow(profile.Text());
}

// The "changes" member of a JSON document.
std::string ChangesOf(const std::string& document)
{
    const size_t start = document.find("\"changes\":[");
    const size_t end = document.find("],\"notDone\"");
    return start == std::string::npos || end == std::string::npos ? "(none)" : document.substr(start, end - start);
}

// A desired state touching every kind of resource: an account made, one
// changed, one deleted, the automatic sign-in and a finding to mend.
std::wstring DesiredStateFile()
{
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"desired-state.json";
    const std::string picture = ", \"picture\": \"" + Narrow(VANTRELL_PICTURE_FILE) + "\"";
    WriteTextFile(path, "\xEF\xBB\xBF{\"schemaVersion\": 1, \"accounts\": ["
                        "{\"name\": \"kiosk\", \"type\": \"standard\", \"fullName\": \"Kiosk \\u00e9\", \"hidden\": true,"
                        " \"passwordNeverExpires\": false, \"disabled\": false, \"description\": \"Front desk\","
                        " \"expires\": \"2031-01-25T01:01:01Z\", \"mustChangePassword\": true" + picture + "},"
                        "{\"name\": \"lchen\", \"present\": true, \"fullName\": \"Li Chen\", \"passwordNeverExpires\": true,"
                        " \"description\": \"Lab\", \"expires\": \"2030-01-31\"" + picture + "},"
                        "{\"name\": \"jokafor\", \"present\": false, \"keepFiles\": true},"
                        "{\"name\": \"gone-long-ago\", \"present\": false}],"
                        "\"groups\": [{\"group\": \"S-1-5-32-555\", \"members\": [\"lchen\", \"kiosk\", \"#1005\"]},"
                        " {\"group\": \"Users\", \"absent\": [\"skowalski\"]}],"
                        "\"autoLogon\": \"lchen\", \"mend\": [\"orphan-group-member\"]}");
    return path;
}

// The profiles' clean-up as a document asks for it, with a disabled account
// the document keeps although its profile goes.
std::wstring ProfileRuleFile()
{
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"profile-rule.json";
    WriteTextFile(path, "{\"schemaVersion\": 1, \"accounts\": [{\"name\": \"bwalker\"}],"
                        " \"profiles\": {\"cleanUnusedForDays\": 90, \"exclude\": [\"dlee\"]}}");
    return path;
}

// Every verb that changes something, as an engine runs it again and again:
// the dry run predicts exactly what the first run does, and the second run
// finds nothing to change. (A password cannot be compared without a sign-in:
// it is always set.)
TEST(CommandMode, EachVerbTwiceChangesOnlyOnce)
{
    struct Case {
        const wchar_t* scenario;
        std::wstring arguments;
        std::string input;
    } const cases[] = {
        {L"default", L"apply \"" + DesiredStateFile() + L"\"", "Kiosk-Pass\n"},
        {L"default", L"set lchen --full-name \"Li Ch\u00e9n\" --type administrator --disabled yes --hidden yes", ""},
        {L"default", L"set dnovak --unlock --password-never-expires no", ""},
        {L"default", L"create newbie --full-name \"New Bie\" --type administrator", ""},
        {L"default", L"delete jokafor --yes", ""},
        {L"default", L"delete skowalski --keep-files --yes", ""},
        {L"default", L"delete #1002 --yes", ""},
        {L"default", L"delete " + sandbox::AccountSid(1004) + L" --keep-files --yes", ""},
        {L"default", L"autologon set lchen", "Chen-Pass\n"},
        {L"default", L"picture set lchen \"" VANTRELL_PICTURE_FILE L"\" --fit stretch", ""},
        {L"auto-logon", L"autologon set jokafor", "Another-Pass\n"},
        {L"auto-logon", L"autologon clear", ""},
        {L"corrupted-profile", L"profile-keys --repair", ""},
        {L"old-profiles", L"profiles clean --unused-for 90 --yes", ""},
        {L"old-profiles", L"apply \"" + ProfileRuleFile() + L"\"", ""},
        {L"old-profiles", L"profiles delete cruz --yes", ""},
        {L"old-profiles", L"profiles delete olduser --yes", ""},
        {L"default", L"set lchen --description \"Lab PC\" --expires 2030-01-31 --must-change-password yes", ""},
        {L"health", L"doctor --fix orphan-group-member orphan-right --yes", ""},
        {L"default", L"rename #1003 lin", ""},
        {L"auto-logon", L"rename jokafor jo", ""},
        {L"default", L"group add S-1-5-32-555 lchen #1002 S-1-5-4 lchen", ""},
        {L"default", L"group remove Administrators mhartley", ""},
        {L"auto-logon", L"autologon set jokafor --count 3", "Another-Pass\n"},
        {L"default", L"group create Staff --description \"All staff\"", ""},
        {L"default", L"group delete Lab --yes", ""},
        {L"default", L"group rename lab Labs", ""},
        {L"default", L"group set Lab --description \"\"", ""},
        {L"default", L"group set S-1-5-32-544 --description \"The lab's administrators\"", ""},
        {L"default", L"policy set --min-length 8 --max-age unlimited --min-age 1 --history 5 --lockout-threshold 10 "
                     L"--lockout-duration 15 --lockout-window 15", ""},
    };
    for (const Case& c : cases) {
        const std::string label = Narrow(c.scenario) + ": " + Narrow(c.arguments);
        ASSERT_TRUE(ResetScenario(c.scenario)) << label;
        Outcome dry = RunProgram(c.arguments + L" --dry-run --json", c.input);
        Outcome first = RunProgram(c.arguments + L" --json", c.input);
        Outcome second = RunProgram(c.arguments + L" --json", c.input);
        EXPECT_EQ(0u, first.exitCode) << label << "\n" << Show(first);
        EXPECT_NE(std::string::npos, first.out.find("\"changed\":true")) << label << "\n" << Show(first);
        EXPECT_EQ(ChangesOf(dry.out), ChangesOf(first.out)) << label << ": the dry run did not predict the run\n"
                                                            << Show(dry);
        EXPECT_EQ(0u, second.exitCode) << label << "\n" << Show(second);
        EXPECT_NE(std::string::npos, second.out.find("\"changed\":false,\"changes\":[]")) << label << "\n"
                                                                                            << Show(second);
    }
}

// A document that changes what `apply` must foresee, on the accounts of an
// export: accounts made and standard ones made administrators, which
// their types' groups gain and lose on their own, named in those groups
// too; one made disabled and taken out of Users; a group made or described
// and held to exactly one new member; the policy; the profiles' clean-up.
std::string ChangingDocument(const std::string& exported)
{
    JsonValue document;
    std::wstring error;
    const JsonValue* accounts = ParseJson(exported, document, error) ? document.Member(L"accounts") : nullptr;
    std::string promoted, made;   // as members and as accounts
    int count = 0;
    for (size_t i = 0; accounts != nullptr && i < accounts->items.size() && count < 3; ++i) {
        const JsonValue& account = accounts->items[i];
        // A built-in account (by its RID) keeps its type.
        if (account.Member(L"type")->text != L"standard" || account.Member(L"disabled")->boolean ||
            account.Member(L"name")->text[0] == L'#')
            continue;
        std::string name;
        AppendJsonString(name, account.Member(L"name")->text.c_str());
        promoted += "," + name;
        made += ",{\"name\":" + name + ",\"type\":\"administrator\"}";
        ++count;
    }
    return "{\"schemaVersion\":1,\"accounts\":[{\"name\":\"plan-admin\",\"type\":\"administrator\",\"hidden\":true},"
           "{\"name\":\"plan-user\",\"disabled\":true,\"description\":\"Lab\"}" + made + "],"
           "\"groups\":[{\"group\":\"S-1-5-32-544\",\"members\":[\"plan-admin\",\"plan-user\"" + promoted + "]},"
           "{\"group\":\"Users\",\"members\":[\"plan-admin\"" + promoted + "],\"absent\":[\"plan-user\"]},"
           "{\"group\":\"Lab\",\"description\":\"Lab PCs\",\"exactMembers\":[\"plan-user\"]}],"
           "\"policy\":{\"minLength\":8,\"maxAgeDays\":\"unlimited\",\"lockoutThreshold\":5},"
           "\"profiles\":{\"cleanUnusedForDays\":3650}}";
}

// Every scenario of the simulated machine by its name, each a test of its
// own: they run side by side, each within its time.
std::vector<std::string> ScenarioNames()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(sandbox::ScenarioFolder()))
        names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

class EveryScenario : public ::testing::TestWithParam<std::string> {};

// What export writes, apply takes back without a change. Then, for a
// document that changes accounts and the groups their types move them
// through: the changes a dry run of apply lists are those the run makes,
// each resource is listed once, and a second run changes nothing.
TEST_P(EveryScenario, ExportChangesNothingAndTheDryRunPredictsApply)
{
    const std::wstring scenario(GetParam().begin(), GetParam().end());
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    const std::wstring file = std::wstring(folder) + L"every-scenario.json";
    ASSERT_TRUE(ResetScenario(scenario.c_str()));
    Outcome exported = RunProgram(L"export");
    ASSERT_EQ(0u, exported.exitCode) << Show(exported);
    WriteTextFile(file, exported.out);
    const std::wstring before = MachineSnapshot();
    Outcome same = RunProgram(L"apply \"" + file + L"\" --json", "", true);
    EXPECT_EQ(0u, same.exitCode) << Show(same);
    EXPECT_NE(std::string::npos, same.out.find("\"changed\":false")) << Show(same);
    const std::wstring after = MachineSnapshot();
    EXPECT_TRUE(before == after) << FirstDifference(before, after);

    WriteTextFile(file, ChangingDocument(exported.out));
    Outcome dry = RunProgram(L"apply \"" + file + L"\" --dry-run --json", "", true);
    Outcome run = RunProgram(L"apply \"" + file + L"\" --json", "", true);
    Outcome again = RunProgram(L"apply \"" + file + L"\" --json", "", true);
    EXPECT_EQ(0u, run.exitCode) << Show(run);
    EXPECT_EQ(ChangesOf(dry.out), ChangesOf(run.out)) << Show(run) << "\nthe dry run:\n" << Show(dry);
    EXPECT_EQ(1u, repair_test::Occurrences(run.out, "\"kind\":\"account\",\"target\":\"plan-admin\"")) << Show(run);
    EXPECT_NE(std::string::npos, again.out.find("\"changed\":false,\"changes\":[]")) << Show(again);
    DeleteFileW(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(CommandMode, EveryScenario, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// A document exported on one computer means the same there as on another
// whose built-in accounts the system's language names otherwise: by RID,
// never by a name that would make a look-alike. A member that names
// nothing (a deleted account's SID) is left out: it would fail elsewhere.
TEST(CommandMode, ExportedStateMeansTheSameWhereBuiltInsAreRenamed)
{
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    const std::wstring file = std::wstring(folder) + L"portable-state.json";
    ASSERT_TRUE(ResetScenario(L"health"));
    Outcome orphaned = RunProgram(L"export");
    ASSERT_EQ(0u, orphaned.exitCode) << Show(orphaned);
    EXPECT_EQ(std::string::npos, orphaned.out.find(Narrow(sandbox::AccountSid(1090)))) << orphaned.out;

    ASSERT_TRUE(ResetScenario(L"default"));
    Outcome exported = RunProgram(L"export");
    ASSERT_EQ(0u, exported.exitCode) << Show(exported);
    WriteTextFile(file, exported.out);
    ASSERT_EQ(0u, RunProgram(L"rename #500 Administrateur").exitCode);
    ASSERT_EQ(0u, RunProgram(L"rename #501 Invit\u00e9").exitCode);
    for (int run = 0; run < 2; ++run) {
        Outcome applied = RunProgram(L"apply \"" + file + L"\" --json", "", true);
        EXPECT_EQ(0u, applied.exitCode) << Show(applied);
        EXPECT_NE(std::string::npos, applied.out.find("\"changed\":false")) << Show(applied);
    }
    for (const wchar_t* lookAlike : {L"Guest", L"Administrator", L"#501", L"#500"})
        EXPECT_FALSE(AccountExists(lookAlike)) << Narrow(lookAlike);
    // A RID or SID is never a new account's name.
    WriteTextFile(file, "{\"schemaVersion\": 1, \"accounts\": [{\"name\": \"#599\"}, {\"name\": \"#598\", "
                        "\"present\": false}]}");
    Outcome missing = RunProgram(L"apply \"" + file + L"\" --json", "", true);
    EXPECT_EQ(6u, missing.exitCode) << Show(missing);
    EXPECT_NE(std::string::npos, missing.out.find("{\"kind\":\"account\",\"target\":\"#598\",\"changed\":false,"
                                                  "\"exitCode\":0}")) << Show(missing);
    EXPECT_EQ(3u, RunProgram(L"create #599").exitCode);
    EXPECT_FALSE(AccountExists(L"#599"));
    DeleteFileW(file.c_str());
}

// The wizard's "Yes" from the command line: the temporary account is made
// and the restart asked for; a second schedule meets the repair under way.
TEST(CommandMode, RepairScheduleSetsUpAsTheWizardDoesAndOnlyOnce)
{
    ASSERT_TRUE(ResetScenario(L"default"));
    ASSERT_FALSE(AccountExists(kTempAccountName));
    Outcome scheduled = RunProgram(L"repair schedule jokafor --yes");
    EXPECT_EQ(0u, scheduled.exitCode) << Show(scheduled);
    EXPECT_TRUE(AccountExists(kTempAccountName));
    EXPECT_NE(std::string::npos, scheduled.out.find("done: repair of \"jokafor\" scheduled")) << Show(scheduled);

    Outcome again = RunProgram(L"repair schedule lchen --yes");
    EXPECT_EQ(3u, again.exitCode) << "a repair is under way\n" << Show(again);

    // Set up for an engine that restarts on its own schedule: 3010, and no restart asked for.
    ASSERT_TRUE(ResetScenario(L"default"));
    sandbox::ClearRecord();
    Outcome later = RunProgram(L"repair schedule jokafor --no-restart --yes");
    EXPECT_EQ(3010u, later.exitCode) << Show(later);
    EXPECT_TRUE(AccountExists(kTempAccountName));
    for (const sandbox::RecordedAction& action : sandbox::RecordedActions())
        EXPECT_NE(L"ExitWindowsEx", action.call) << "a restart was asked for";
}

// The list a script reads names the accounts the main window lists, with the same types.
TEST(CommandMode, ListMatchesTheWindowsRows)
{
    ASSERT_TRUE(ResetScenario(L"default"));
    std::vector<AccountRow> rows;
    ASSERT_TRUE(ReadAccountRows(rows));
    Outcome outcome = RunProgram(L"list --json");
    ASSERT_EQ(0u, outcome.exitCode) << Show(outcome);
    for (const AccountRow& row : rows) {
        const std::string name = "{\"name\":\"" + Narrow(row.name.Text()) + "\"";
        const size_t at = outcome.out.find(name);
        ASSERT_NE(std::string::npos, at) << name;
        const std::string typeText = "\"typeText\":\"" + Narrow(row.type.Text()) + "\"";
        EXPECT_EQ(outcome.out.find(typeText, at), outcome.out.find("\"typeText\"", at)) << name << " " << typeText;
    }
    EXPECT_EQ(rows.size(), repair_test::Occurrences(outcome.out, "{\"name\":"));
    // A spreadsheet reads the CSV's UTF-8 as such only behind a byte-order mark.
    Outcome csv = RunProgram(L"list --csv");
    EXPECT_EQ(0u, csv.out.rfind("\xEF\xBB\xBFname,fullName,", 0)) << Show(csv);
    // The other tables: their header, then a line for each item the document lists.
    struct Table {
        const wchar_t* command;
        const char* header;
        const char* item;   // what begins each item in the document
    } const tables[] = {
        {L"groups", "name,sid,memberCount\r\n", "{\"name\":"},
        {L"group show S-1-5-32-544", "group,member,sid\r\n", "\"sid\":\"S-1-5-21-"},
        {L"profiles", "sid,account,folder,lastUse,lastUseFrom,loaded,special,temporary,backup,corrupt\r\n",
         "{\"sid\":"},
    };
    for (const Table& table : tables) {
        Outcome lines = RunProgram(std::wstring(table.command) + L" --csv");
        Outcome document = RunProgram(std::wstring(table.command) + L" --json");
        EXPECT_EQ(0u, lines.out.rfind("\xEF\xBB\xBF" + std::string(table.header), 0)) << Show(lines);
        EXPECT_EQ(repair_test::Occurrences(document.out, table.item) + 1, repair_test::Occurrences(lines.out, "\n"))
            << Show(lines) << "\n" << Show(document);
        EXPECT_EQ(2u, RunProgram(std::wstring(table.command) + L" --csv --json").exitCode);
    }
    // An account's own groups, by name and SID.
    Outcome shown = RunProgram(L"show mhartley --json");
    EXPECT_NE(std::string::npos, shown.out.find("{\"name\":\"Administrators\",\"sid\":\"S-1-5-32-544\"}")) << Show(shown);
    const std::string text = RunProgram(L"show mhartley").out;
    EXPECT_NE(std::string::npos, text.find("Administrators", text.find("\ngroups: "))) << text;

    // A forged line in a full name is shown as characters, in the list and in show.
    USER_INFO_1011 forged{const_cast<wchar_t*>(L"Li\r\njokafor\tadministrator\x1b[2J")};
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserSetInfo(nullptr, L"lchen", 1011, reinterpret_cast<BYTE*>(&forged), nullptr));
    for (const wchar_t* command : {L"list", L"show lchen"}) {
        Outcome shown = RunProgram(command);
        EXPECT_NE(std::string::npos, shown.out.find("Li\\x0D\\x0Ajokafor\\x09administrator\\x1B[2J")) << Show(shown);
        EXPECT_EQ(std::string::npos, shown.out.find('\x1b')) << Show(shown);
    }
    // A database failing mid-walk is a failure, never fewer accounts.
    sandbox::SetNetUserEnumPageSize(2);
    sandbox::SetCallFailure(L"NetUserEnum", NERR_InternalError);
    outcome = RunProgram(L"list --json");
    EXPECT_EQ(4u, outcome.exitCode) << Show(outcome);
    EXPECT_NE(std::string::npos, outcome.err.find("accounts could not be read")) << Show(outcome);
    EXPECT_EQ(std::string::npos, outcome.out.find("{\"name\":")) << Show(outcome);
}

// A move to the second drive and back, each in a process of its own: the
// restore finds the default place although the move removed that folder.
TEST(CommandMode, FoldersMoveToTheOtherDriveAndRestore)
{
    ASSERT_TRUE(ResetScenario(L"default"));
    SavedShellFolders saved;
    saved.Save();
    const std::wstring user = ProcessUserName();
    WString sid, profile;
    GetAccountSidAndProfile(user.c_str(), sid, &profile);
    const std::wstring documents = std::wstring(profile.Text()) + L"\\Documents";
    const std::wstring target = CleanFolder(L"T:\\command-docs");
    RemoveDirectoryW(target.c_str());
    CleanFolder(documents);
    WriteTextFile(documents + L"\\plans\\letter.txt", "Dear Sir");
    // A name that turns its text around ("open.exe" shows as "opentxt.exe"),
    // and a second name of a file elsewhere: both stay, listed, the name
    // shown escaped.
    const std::wstring open = documents + L"\\open\u202Etxt.exe", elsewhere = L"C:\\vantrell-move-elsewhere.txt";
    WriteTextFile(open, "in use");
    WriteTextFile(elsewhere, "elsewhere");
    ASSERT_TRUE(CreateHardLinkW((documents + L"\\linked.txt").c_str(), elsewhere.c_str(), nullptr)) << GetLastError();
    UniqueFileHandle held(CreateFileW(open.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));

    // The place changes and the files left stay: only the place is done.
    Outcome moved = RunProgram(L"folders move " + user + L" Documents " + target + L" --yes --verbose");
    EXPECT_EQ(4u, moved.exitCode) << Show(moved);
    EXPECT_NE(std::string::npos, moved.out.find("done: Documents moved from ")) << Show(moved);
    EXPECT_EQ(std::string::npos, moved.out.find("with its contents")) << Show(moved);
    EXPECT_NE(std::string::npos, moved.err.find("not done: contents of Documents moved: 2 entries stayed"))
        << Show(moved);
    EXPECT_NE(std::string::npos, moved.out.find("open\\u202Etxt.exe\tin use")) << Show(moved);
    EXPECT_EQ(std::string::npos, moved.out.find("\xE2\x80\xAE")) << Show(moved);
    EXPECT_NE(std::string::npos, moved.out.find("linked.txt\ta hard link")) << Show(moved);
    EXPECT_NE(std::string::npos, moved.err.find("Moving files: 3 of 3")) << "progress on standard error\n" << Show(moved);
    EXPECT_EQ("Dear Sir", ReadTextFile(target + L"\\plans\\letter.txt"));
    EXPECT_FALSE(std::filesystem::exists(target + L"\\linked.txt"));
    held.Reset();
    for (const std::wstring& file : {open, documents + L"\\linked.txt", elsewhere})
        DeleteFileW(file.c_str());
    Outcome listed = RunProgram(L"folders " + user + L" --json");
    EXPECT_NE(std::string::npos, listed.out.find("\"location\":\"" + Narrow(target).replace(2, 1, "\\\\")))
        << Show(listed);

    Outcome restored = RunProgram(L"folders restore " + user + L" documents --yes");
    EXPECT_EQ(0u, restored.exitCode) << Show(restored);
    EXPECT_EQ("Dear Sir", ReadTextFile(documents + L"\\plans\\letter.txt"));
    EXPECT_FALSE(std::filesystem::exists(target));
    saved.Restore();
}

// Another account's folders go through its own hive, loaded for each
// command under a key of the program's own and unloaded after it however
// the command ended; the places stored there are its claims, judged against
// its own profile. A hive its own session holds is left to that session.
TEST(CommandMode, AnotherAccountsFoldersGoThroughItsHiveLoadedOnlyMeanwhile)
{
    ASSERT_TRUE(ResetScenario(L"default"));
    WString sid, profile, other, otherSid;
    ASSERT_TRUE(GetAccountSidAndProfile(L"mhartley", sid, &profile));
    ASSERT_TRUE(GetAccountSidAndProfile(L"lchen", otherSid, &other));
    const std::wstring her = profile.Text(), sidText = sid.Text(), documents = her + L"\\Documents";
    const std::wstring rid = L"#" + sidText.substr(sidText.rfind(L'-') + 1), borrowed = L"Vantrell folders " + sidText;
    const std::wstring target = CleanFolder(L"T:\\her-docs");
    RemoveDirectoryW(target.c_str());
    ASSERT_TRUE(WriteTextFile(documents + L"\\notes.txt", "hers"));
    const std::wstring userShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    HKEY session = nullptr;
    const auto signIn = [&] { ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sandbox::LoadProfile(sidText, &session)); };
    const auto claimTheirs = [&] {
        HKEY root = nullptr;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sandbox::LoadProfile(sidText, &root));
        ASSERT_EQ(ERROR_SUCCESS, RegWrite(root, userShellFolders, L"Personal", std::wstring(other.Text()) + L"\\Documents"));
        sandbox::UnloadProfile(sidText, root);
    };
    struct Step {
        std::function<void()> before;
        std::wstring command;
        DWORD exitCode;
        std::string said;
        bool sessionHive = false;   // the account's session holds its hive meanwhile
    } const steps[] = {
        {nullptr, L"folders mhartley", 0, "Documents\t" + Narrow(documents)},
        {nullptr, L"folders move mhartley Documents " + target + L" --yes", 0, "done: Documents moved"},
        {nullptr, L"folders " + rid, 0, "Documents\t" + Narrow(target)},   // read back from the hive's file
        {nullptr, L"folders move " + sidText + L" Music C:\\windows\\Music --yes", 3, "into the Windows"},
        {signIn, L"folders restore mhartley Documents --yes", 3, "\"mhartley\" is signed in elsewhere", true},
        {[&] { sandbox::UnloadProfile(sidText, session); }, L"folders restore mhartley Documents --yes", 0,
         "done: Documents restored"},
        {claimTheirs, L"folders move mhartley Documents T:\\theirs --yes", 3, "another"},
        {[&] { ASSERT_TRUE(CreateHardLinkW(L"C:\\her-hive.dat", (her + L"\\NTUSER.DAT").c_str(), nullptr)); },
         L"folders mhartley", 3, "more than one name"},
    };
    for (const Step& step : steps) {
        if (step.before)
            step.before();
        Outcome run = RunProgram(step.command);
        EXPECT_EQ(step.exitCode, run.exitCode) << Show(run);
        EXPECT_NE(std::string::npos, (run.out + run.err).find(step.said)) << Show(run);
        EXPECT_FALSE(KeyExists((L"HKU\\" + borrowed).c_str())) << Show(run);
        EXPECT_EQ(step.sessionHive, KeyExists((L"HKU\\" + sidText).c_str())) << "a session's hive stays, and only that";
    }
    EXPECT_EQ("hers", ReadTextFile(documents + L"\\notes.txt"));
    EXPECT_FALSE(std::filesystem::exists(target));
    DeleteFileW(L"C:\\her-hive.dat");
}

// The exit codes of the check itself and a refused mend are among the
// refusals and reads above.
TEST(CommandMode, DoctorFixMendsTheNamedFindingOnly)
{
    ASSERT_TRUE(ResetScenario(L"health"));
    Outcome listed = RunProgram(L"doctor --json");
    EXPECT_NE(std::string::npos, listed.out.find("\"id\":\"orphan-group-member\"")) << Show(listed);
    Outcome fixed = RunProgram(L"doctor --fix orphan-group-member --yes --json");
    EXPECT_EQ(0u, fixed.exitCode) << "the finding asked for is mended; others do not count\n" << Show(fixed);
    const size_t mended = fixed.out.find("\"mended\":[{\"id\":\"orphan-group-member\"");
    ASSERT_NE(std::string::npos, mended) << Show(fixed);
    EXPECT_NE(std::string::npos, fixed.out.find("\"mended\":true,", mended)) << Show(fixed);
    EXPECT_EQ("}]}\n", fixed.out.substr(fixed.out.size() - 4)) << "the list of mends and the document close\n"
                                                              << Show(fixed);
    Outcome again = RunProgram(L"doctor --json");
    EXPECT_EQ(std::string::npos, again.out.find("\"id\":\"orphan-group-member\"")) << Show(again);
    EXPECT_NE(std::string::npos, again.out.find("\"id\":\"orphan-right\"")) << "only the named finding was mended\n"
                                                                           << Show(again);
    // A detection limited to some findings sees only those.
    struct { const wchar_t* arguments; DWORD exitCode; const char* seen; const char* unseen; } const limited[] = {
        {L"doctor --only orphan-group-member --json", 0, "\"findings\":[]", "orphan-right"},
        {L"doctor --only orphan-right --json", 1, "\"id\":\"orphan-right\"", "orphan-group-member"},
    };
    for (const auto& c : limited) {
        Outcome outcome = RunProgram(c.arguments);
        EXPECT_EQ(c.exitCode, outcome.exitCode) << Narrow(c.arguments) << "\n" << Show(outcome);
        EXPECT_NE(std::string::npos, outcome.out.find(c.seen)) << Show(outcome);
        EXPECT_EQ(std::string::npos, outcome.out.find(c.unseen)) << Show(outcome);
    }

    // The plain password becomes the secret; the domain stays as it was.
    const wchar_t winlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    const wchar_t domain[] = L"OFFICE-OLD";
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, winlogon, L"DefaultDomainName", REG_SZ, domain, sizeof(domain));
    Outcome moved = RunProgram(L"doctor --fix auto-logon-plain-password --yes");
    EXPECT_NE(std::string::npos, moved.out.find("done: auto-logon-plain-password")) << Show(moved);
    wchar_t kept[64] = L"";
    DWORD size = sizeof(kept);
    RegGetValueW(HKEY_LOCAL_MACHINE, winlogon, L"DefaultDomainName", RRF_RT_REG_SZ, nullptr, kept, &size);
    EXPECT_STREQ(domain, kept);

    // A state file whose clean-up has not put everything back is no safe mend.
    std::wstring state;
    for (const Finding& finding : RunHealthCheck(HealthCheckOptions{}))
        if (finding.kind == FindingKind::RepairStaleState)
            state = finding.target;
    ASSERT_FALSE(state.empty());
    WriteStateText(state.c_str(), L"jokafor", L"FullName", L"Joseph Okafor");
    Outcome safe = RunProgram(L"doctor --fix-safe --yes");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(state.c_str())) << Show(safe);
}

// As a standard user every command runs or is refused whole (the table
// above names what reads leave out): changes end with 5 before anything is
// read or asked.
TEST(CommandMode, AsAStandardUserReadsRunAndChangesNeedElevation)
{
    ASSERT_TRUE(ResetScenario(L"default"));
    sandbox::SetElevated(false);
    std::wstring snapshot;
    for (size_t i = 0; i < kCommandVerbCount; ++i) {
        std::wstring line = kCommandVerbs[i].syntax.words;
        // A group verb's first argument names a group, every other one an account.
        const bool group = line.rfind(L"group ", 0) == 0;
        for (int a = 0; a < kCommandVerbs[i].syntax.minArguments; ++a)
            line += group && a == 0 ? L" Users" : L" lchen";
        ExpectNoChange(Narrow(line), line + L" --json", "", true, kCommandVerbs[i].syntax.Has(kNeedsElevation) ? 5 : 0,
                       kCommandVerbs[i].syntax.Has(kNeedsElevation) ? "elevated" : "", &snapshot);
    }
    sandbox::SetElevated(true);
}

// Every verb that asks first, run by a script (no console, no --yes) on a
// machine where its own checks pass: refused at the question, exit 2,
// nothing changed. A verb flagged so without a case here fails.
TEST(CommandMode, EveryVerbThatAsksFirstRefusesWithoutAnAnswer)
{
    const std::wstring user = ProcessUserName();
    const std::wstring target = L"T:\\asks-first";
    struct Case {
        const wchar_t* words;
        const wchar_t* scenario;
        std::wstring setup;       // a command run first; empty: none
        std::wstring arguments;
        const char* input;
    } const cases[] = {
        {L"delete", L"default", L"", L"jokafor", ""},
        {L"password reset", L"default", L"", L"lchen", "Reset-1\n"},
        {L"group delete", L"default", L"group create Testers", L"Testers", ""},
        {L"folders move", L"default", L"", user + L" Documents " + target, ""},
        {L"folders restore", L"default", L"folders move " + user + L" Documents " + target + L" --place-only --yes",
         user + L" Documents", ""},
        {L"profiles clean", L"old-profiles", L"", L"--unused-for 90", ""},
        {L"profiles delete", L"old-profiles", L"", L"anna", ""},
        {L"repair schedule", L"default", L"", L"jokafor", ""},
        {L"doctor", L"health", L"", L"--fix orphan-group-member", ""},
    };
    for (size_t v = 0; v < kCommandVerbCount; ++v) {
        const CommandSyntax& syntax = kCommandVerbs[v].syntax;
        if (!syntax.Has(kAsksFirst))
            continue;
        const Case* found = nullptr;
        for (const Case& c : cases)
            found = std::wstring(c.words) == syntax.words ? &c : found;
        if (found == nullptr) {
            ADD_FAILURE() << Narrow(syntax.words) << " asks first and has no case here";
            continue;
        }
        ASSERT_TRUE(ResetScenario(found->scenario));
        CleanFolder(target);
        RemoveDirectoryW(target.c_str());
        if (!found->setup.empty()) {
            const Outcome setup = RunProgram(found->setup);
            ASSERT_EQ(0u, setup.exitCode) << Show(setup);
        }
        const std::wstring line = std::wstring(found->words) + L" " + found->arguments;
        ExpectNoChange(Narrow(line), line, found->input, true, 2, "needs --yes");
    }
    // The test's own account keeps its folders across scenarios: its Documents
    // goes back, or a later doctor finds it pointing at the place asked for here.
    const Outcome back = RunProgram(L"folders restore " + user + L" Documents --place-only --yes");
    EXPECT_EQ(0u, back.exitCode) << Show(back);
}

// A fault never reads as a success or as a guard's refusal: an exception
// out of a verb, an abort, a terminate and a crash each end with 4.
TEST(CommandModeDeathTest, AFaultEndsWithTheFailureCode)
{
    CommandConsole console;
    ParsedCommand parsed;
    CommandRun run(console, parsed);
    EXPECT_EQ(kExitFailed, RunVerbGuarded(run, [](CommandRun&) -> int { throw std::bad_alloc(); }));
    EXPECT_EQ(kExitFailed, RunVerbGuarded(run, [](CommandRun&) -> int { throw 3; }));
    ASSERT_EQ(2u, run.Messages().size());
    EXPECT_NE(std::wstring::npos, run.Messages()[0].find(L"partly done")) << Narrow(run.Messages()[0]);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT((EndFaultsWithFailure(nullptr), std::abort()), ::testing::ExitedWithCode(kExitFailed), "");
    EXPECT_EXIT((EndFaultsWithFailure(nullptr), std::terminate()), ::testing::ExitedWithCode(kExitFailed), "");
    EXPECT_EXIT((EndFaultsWithFailure(nullptr), *static_cast<volatile int*>(nullptr) = 1),
                ::testing::ExitedWithCode(kExitFailed), "");
}

// Wine hands every child standard handles of its own, so a start that
// attaches to the parent's console cannot be presented here: the run's
// answers are tested on a console marked as borrowed.
TEST(CommandMode, ABorrowedConsoleIsNeverAskedWineCannotPresentOne)
{
    CommandConsole console;
    console.borrowed = true;
    console.inIsConsole = true;
    ParsedCommand parsed;
    CommandRun run(console, parsed);
    SecretText secret;
    EXPECT_FALSE(run.ReadSecret(secret, L"Password: ", true));
    EXPECT_FALSE(run.HasConsoleInput());
    EXPECT_FALSE(run.Ask(L"Delete?"));
    EXPECT_TRUE(run.NeededTheCompanion());
    ASSERT_EQ(1u, run.Messages().size()) << "said once";
    EXPECT_NE(std::wstring::npos, run.Messages()[0].find(L"(vantrell.com)")) << Narrow(run.Messages()[0]);
}
