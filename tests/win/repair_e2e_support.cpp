#include "tests/win/repair_e2e_support.h"

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <lm.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/pictures.h"
#include "repair/logon_backup.h"
#include "repair/repair_hive.h"
#include "repair/repair_tool.h"
#include "sandbox/key_security.h"
#include "sandbox/profiles.h"
#include "ui/window.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"

namespace e2e {

using namespace repair_test;

namespace {

constexpr wchar_t kToolClass[] = L"Brenwick_GUI_CLASS";
constexpr wchar_t kBoxClass[] = L"_WINDOW_MsgBoxClass";
constexpr wchar_t kFixTitle[] = L"Brenwick - Fix User Profile";
// The fix window's status once its countdown begins.
constexpr const wchar_t* kOutcomes[] = {L"The repair operation succeeded. Close this app to reboot.",
                                        L"The repair operation failed. Close this app to reboot."};
constexpr wchar_t kFixUser[] = L"  Fix selected user (next step)";
constexpr wchar_t kFixNow[] = L"  Fix selected account now";
constexpr wchar_t kAppDataOption[] = L" Keep Windows system appdata from the old account";
constexpr wchar_t kStoreOption[] = L" Keep Windows store apps' package data from the old account";
constexpr wchar_t kSettingsOption[] = L" Keep the account's settings from the old account";
constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kTaskband[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Taskband";
constexpr wchar_t kBackupKey[] = L"Software\\TaskbandBrenwickKey";
// One program of a sign-in, at most; well inside a kill point's own limit,
// so that a program that hangs is named rather than the test cut off.
constexpr DWORD kProgramLimitMs = 30000;
constexpr int kMaxRestarts = 6;

// Where the drive is, on the error output at once: a case that hangs and is
// ended by its time limit still tells how far it got.
void Trace(const std::string& what)
{
    fprintf(stderr, "[drive %.1f s] %s\n", GetTickCount64() / 1000.0, what.c_str());
    fflush(stderr);
}

HWND VisibleWindow(const wchar_t* className, DWORD processId)
{
    return harness::VisibleWindow(className, [processId](HWND found) {
        DWORD owner = 0;
        GetWindowThreadProcessId(found, &owner);
        return owner == processId;
    });
}

std::wstring ProfileEntry(const std::wstring& sid)
{
    std::wstring value = MachineValue((std::wstring(kProfileList) + L"\\" + sid).c_str(), L"ProfileImagePath");
    if (value == L"(missing)")
        return value;
    wchar_t expanded[1024] = L"";
    ExpandEnvironmentStringsW(value.c_str(), expanded, ARRAYSIZE(expanded));
    return expanded;
}

// A copy of a hive file loaded under a scratch name through the machine,
// so that the file the account uses is not touched; `read` sees its root.
constexpr wchar_t kScratchHive[] = L"vantrell-e2e-hive";

bool WithHiveCopy(const std::wstring& file, const std::function<void(HKEY)>& read)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(ARRAYSIZE(temp), temp);
    std::wstring copy = std::wstring(temp) + L"vantrell-e2e-hive.dat";
    DeleteFileW(copy.c_str());
    if (!CopyFileW((L"\\\\?\\" + file).c_str(), copy.c_str(), FALSE))
        return false;
    if (machine::RegLoadKeyW(HKEY_USERS, kScratchHive, copy.c_str()) != ERROR_SUCCESS) {
        DeleteFileW(copy.c_str());
        return false;
    }
    UniqueRegKey root;
    bool opened = RegOpenKeyExW(HKEY_USERS, kScratchHive, 0, KEY_READ, root.Put()) == ERROR_SUCCESS;
    if (opened)
        read(root.Get());
    root.Reset();
    machine::RegUnLoadKeyW(HKEY_USERS, kScratchHive);
    DeleteFileW(copy.c_str());
    return opened;
}

// The taskbar pins' value names and data.
std::vector<std::wstring> TaskbandOf(const std::wstring& hiveFile)
{
    std::vector<std::wstring> values;
    WithHiveCopy(hiveFile, [&](HKEY root) {
        UniqueRegKey key;
        if (RegOpenKeyExW(root, kTaskband + 1, 0, KEY_READ, key.Put()) == ERROR_SUCCESS)
            CollectRegistryStrings(key.Get(), values);
    });
    return values;
}

// The centre of the account's picture as the account list shows it.
DWORD PictureCentre(const wchar_t* account)
{
    UniqueBitmap bitmap = LoadAccountPictureBitmap(account, 10.0);
    return bitmap ? harness::BitmapPixel(bitmap.Get(), 24, 24) : 0xFFFFFFFF;
}

// Whether the account's picture was set through the shell (ordinal 233).
bool HasOwnPicture(const wchar_t* account)
{
    HMODULE shell = LoadLibraryW(L"Shell32.dll");
    auto get = machine::AsFunction<machine::GetPictureFunction>(
        machine::GetProcAddress(shell, MAKEINTRESOURCEA(machine::kGetPictureOrdinal)));
    wchar_t path[MAX_PATH] = L"";
    bool found = get != nullptr && SUCCEEDED(get(account, 0, path)) &&
                 GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    if (shell != nullptr)
        FreeLibrary(shell);
    return found;
}

// What the operator's thread does with the wizard in this process.
struct WizardOperator {
    HWND window = nullptr;
    HWND Child(const wchar_t* className, const wchar_t* text) const { return ChildWithText(window, className, text); }
    bool Select(const wchar_t* name) const
    {
        HWND list = FindWindowExW(window, nullptr, L"SysListView32", nullptr);
        int row = harness::RowWith(list, 1, name);
        if (row >= 0)
            harness::SelectRow(list, row);
        return row >= 0;
    }
    void Toggle(const wchar_t* option) const
    {
        HWND label = Child(L"Static", option);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(label), STN_CLICKED), reinterpret_cast<LPARAM>(label));
    }
};

// Closes the fix window as the drive says; true when it went.
bool CloseFixWindow(HWND window, CloseBy how)
{
    if (how == CloseBy::Button) {
        // The frame's close button: 20 x 20 at (670, 5) of the client area.
        POINT button{680, 15};
        ClientToScreen(window, &button);
        BringWindowToTop(window);
        ClickAt(button);
    } else {
        PostMessageW(window, kCloseRequestMessage, 0, 0);
    }
    return WaitUntil("the fix window to close", [&] { return !IsWindow(window) || !IsWindowVisible(window); }, 10000);
}

}  // namespace

std::string Listed(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "  " + line + "\n";
    return text;
}

// Loads a scenario and clears the record; the UAC values set to known ones.
bool LoadScenario(const wchar_t* name, std::string* why)
{
    std::error_code ignored;
    std::filesystem::remove_all(L"C:\\Brenwick", ignored);
    std::wstring error;
    if (!sandbox::ResetMachine(sandbox::ScenarioPath(name), &error)) {
        *why = "the scenario did not load: " + Narrow(error);
        return false;
    }
    sandbox::ClearRecord();
    // Values the repair itself never writes, so that one it leaves as it
    // set them shows: it sets 0, 3 and 1.
    SetMachineDword(kUacKey, L"ConsentPromptBehaviorAdmin", 2);
    SetMachineDword(kUacKey, L"ConsentPromptBehaviorUser", 1);
    DeleteMachineValue(kUacKey, L"EnableLUA");
    DeleteMachineValue(kStoreKey, L"AutoDownload");
    return true;
}

// The settings a repair changes on its way and must leave as found: the
// UAC and store policy values and the automatic sign-in as it works
// (on or off; when on, the account and whether its password is the one
// stored), the tool's own secret, the backup key, pending restart work.
std::map<std::wstring, std::wstring> PromptFacts()
{
    std::map<std::wstring, std::wstring> facts;
    facts[L"uac.consentAdmin"] = MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin");
    facts[L"uac.consentUser"] = MachineValue(kUacKey, L"ConsentPromptBehaviorUser");
    facts[L"uac.enableLua"] = MachineValue(kUacKey, L"EnableLUA");
    return facts;
}

std::map<std::wstring, std::wstring> SettingsFacts()
{
    std::map<std::wstring, std::wstring> facts = PromptFacts();
    facts[L"store.autoDownload"] = MachineValue(kStoreKey, L"AutoDownload");
    std::wstring signIn = L"off";
    if (MachineValue(kWinlogonKey, L"AutoAdminLogon") == L"1") {
        bool found = false;
        std::wstring password = Secret(L"DefaultPassword", &found);
        std::wstring user = MachineValue(kWinlogonKey, L"DefaultUserName");
        bool accepted = found && PasswordWorks(user.c_str(), password.c_str());
        SecureZeroMemory(&password[0], password.size() * sizeof(wchar_t));
        signIn = L"on for " + user + (accepted ? L", its password stored" : L", without a password that works");
    }
    facts[L"autoSignIn"] = signIn;
    facts[L"autoSignIn.plainPassword"] = MachineValue(kWinlogonKey, L"DefaultPassword");
    bool saved = false;
    Secret(kSavedLogonSecret, &saved);
    facts[L"secret.toolsCopy"] = saved ? L"present" : L"absent";
    facts[L"backupKey"] = KeyOpens(HKEY_LOCAL_MACHINE, kBackupKey) ? L"present" : L"absent";
    bool renames = false;
    for (const std::wstring& entry : PendingRenames())
        renames |= !entry.empty();
    facts[L"pendingRenames"] = renames ? L"some left" : L"(none)";
    return facts;
}

// The account to repair: whether it is there, its full name, type and
// whether it is disabled.
std::map<std::wstring, std::wstring> AccountFacts()
{
    std::map<std::wstring, std::wstring> facts{{L"account", L"absent"}};
    LPBYTE buffer = nullptr;
    if (machine::NetUserGetInfo(nullptr, kAccount, 3, &buffer) == NERR_Success && buffer != nullptr) {
        auto* info = reinterpret_cast<USER_INFO_3*>(buffer);
        facts[L"account"] = L"present";
        facts[L"account.fullName"] = info->usri3_full_name != nullptr ? info->usri3_full_name : L"";
        facts[L"account.type"] = std::to_wstring(info->usri3_priv);
        facts[L"account.disabled"] = (info->usri3_flags & UF_ACCOUNTDISABLE) ? L"yes" : L"no";
        machine::NetApiBufferFree(buffer);
    }
    return facts;
}

bool TakeBefore(Before* before, std::string* why)
{
    WString sid, profile;
    if (!GetAccountSidAndProfile(kAccount, sid, &profile)) {
        *why = "the account to repair has no profile record";
        return false;
    }
    before->sid = sid.Text();
    before->profile = profile.Text();
    before->account = AccountFacts();
    // A mark of the old system app data, so that its replacement shows.
    std::wstring marker = before->profile + L"\\" + kSystemAppData + L"Caches\\old-cache.bin";
    WriteTextFile(marker, "the old account's cache, kept only when the system app data is kept");
    before->files = SumFiles(before->profile);
    before->taskband = TaskbandOf(before->profile + L"\\NTUSER.DAT");
    before->pictureCentre = PictureCentre(kAccount);
    before->settings = SettingsFacts();
    if (before->account[L"account"] != L"present" || before->files.size() < 300 || before->taskband.empty()) {
        *why = "the scenario lacks the account, the files or the taskbar pins (" + std::to_string(before->files.size()) +
               " files, " + std::to_string(before->taskband.size()) + " taskbar values)";
        return false;
    }
    return true;
}

std::map<std::wstring, std::wstring> FinalFacts(const Before& before)
{
    std::map<std::wstring, std::wstring> facts = SettingsFacts(), account = AccountFacts();
    facts.insert(account.begin(), account.end());
    WString sid, profile;
    std::wstring newSid;
    if (GetAccountSidAndProfile(kAccount, sid, &profile)) {
        newSid = sid.Text();
        facts[L"account.sid"] = newSid == before.sid ? L"the old one" : L"a new one";
        facts[L"profile.entry"] = ProfileEntry(newSid);
    } else {
        facts[L"account.sid"] = L"none";
    }
    facts[L"profile.oldEntry"] = ProfileEntry(before.sid);
    int naming = 0, temporary = 0;
    UniqueRegKey list;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, list.Put());
    for (const std::wstring& entry : SubkeyNames(list.Get())) {
        std::wstring path = ProfileEntry(entry);
        naming += _wcsicmp(path.c_str(), before.profile.c_str()) == 0 ? 1 : 0;
        std::wstring lower = path;
        CharLowerW(&lower[0]);
        temporary += lower.find(kTempAccount) != std::wstring::npos ? 1 : 0;
    }
    facts[L"profile.entriesNamingTheFolder"] = std::to_wstring(naming);
    facts[L"temp.profileEntries"] = std::to_wstring(temporary);
    facts[L"temp.account"] = AccountExists(kTempAccount) ? L"present" : L"absent";
    int tempFolders = 0;
    wchar_t profiles[MAX_PATH] = L"";
    DWORD length = ARRAYSIZE(profiles);
    GetProfilesDirectoryW(profiles, &length);
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(profiles))) {
        std::wstring name = entry.path().filename().wstring();
        CharLowerW(&name[0]);
        tempFolders += name.find(kTempAccount) != std::wstring::npos ? 1 : 0;
    }
    facts[L"temp.profileFolders"] = std::to_wstring(tempFolders);

    // The hives in place: each loads, the user hive with its folder list.
    std::wstring userHive = L"does not load";
    WithHiveCopy(before.profile + L"\\NTUSER.DAT", [&](HKEY root) {
        userHive = KeyOpens(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders")
                       ? L"loads, lists the shell folders"
                       : L"loads, without the shell folders";
    });
    facts[L"hive.user"] = userHive;
    // The value written in her hive before the fault, and whether her new
    // SID may read it: the settings kept and given to her, or fresh ones.
    std::wstring settings = L"fresh";
    WithHiveCopy(before.profile + L"\\NTUSER.DAT", [&](HKEY root) {
        if (RegText(root, sandbox::kMarkerKey, sandbox::kMarkerValue) == sandbox::kMarkerText)
            settings = sandbox::AccountMayReadKey(kScratchHive, sandbox::kMarkerKey, newSid) ? L"kept, hers to read"
                                                                                               : L"kept, closed to her";
    });
    facts[L"hive.settings"] = settings;
    std::wstring classesHive = L"does not load";
    WithHiveCopy(before.profile + L"\\" + kSystemAppData + L"UsrClass.dat",
                 [&](HKEY) { classesHive = L"loads"; });
    facts[L"hive.classes"] = classesHive;
    facts[L"taskband"] = TaskbandOf(before.profile + L"\\NTUSER.DAT") == before.taskband ? L"carried over"
                                                                                          : L"not as before";
    facts[L"picture.own"] = HasOwnPicture(kAccount) ? L"set" : L"none";
    facts[L"picture.centre"] = PictureCentre(kAccount) == before.pictureCentre ? L"as before" : L"different";

    for (const wchar_t* folder : {L"\\Desktop\\BrenwickCleanup.lnk",
                                  L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\BrenwickCleanup.lnk"})
        facts[std::wstring(L"shortcut") + folder] =
            GetFileAttributesW((before.profile + folder).c_str()) != INVALID_FILE_ATTRIBUTES ? L"present" : L"absent";

    std::string log = ReadBytes(kLogPath);
    facts[L"log.endLines"] = std::to_wstring(Occurrences(log, "*** End of repair operation"));
    facts[L"log.completeLines"] = std::to_wstring(Occurrences(log, ": Repair operation complete."));

    for (const auto& file : SumFiles(before.profile)) {
        if (IsHiveFile(file.first))
            continue;
        facts[L"file " + file.first] =
            std::to_wstring(file.second.size) + L" bytes, checksum " + std::to_wstring(file.second.checksum);
    }
    return facts;
}

std::vector<std::string> Differences(const std::map<std::wstring, std::wstring>& expected,
                                     const std::map<std::wstring, std::wstring>& got)
{
    std::vector<std::string> lines;
    std::set<std::wstring> names;
    for (const auto& fact : expected)
        names.insert(fact.first);
    for (const auto& fact : got)
        names.insert(fact.first);
    for (const std::wstring& name : names) {
        auto want = expected.find(name);
        auto have = got.find(name);
        std::wstring a = want == expected.end() ? L"(no such fact)" : want->second;
        std::wstring b = have == got.end() ? L"(no such fact)" : have->second;
        if (a != b)
            lines.push_back(Narrow(name) + ": " + Narrow(a) + " -> " + Narrow(b));
    }
    return lines;
}

namespace {

// Presses a button until `done` holds: a click that lands while the window
// is still setting itself up can be lost, and on a busy machine it is.
bool PressUntil(HWND button, const std::function<bool()>& done, DWORD limitMs = 20000)
{
    ULONGLONG until = GetTickCount64() + limitMs;
    while (GetTickCount64() < until) {
        PostMessageW(button, BM_CLICK, 0, 0);
        if (WaitUntil("the press to take", done, 3000))
            return true;
    }
    return false;
}

// Ends whatever the wizard still shows (its boxes answered "No", then the
// window asked to close) until the tool's run has returned, or a box has
// come up since to be answered in turn.
void EndWizard(HWND window, const std::atomic<bool>& returned)
{
    for (int round = 0; round < 20 && !returned; ++round) {
        HWND box = VisibleWindow(kBoxClass, GetCurrentProcessId());
        if (box != nullptr) {
            HWND no = ChildWithText(box, L"Button", L"No");
            PostMessageW(no != nullptr ? no : ChildWithText(box, L"Button", L"OK"), BM_CLICK, 0, 0);
        }
        PostMessageW(window, kCloseRequestMessage, 0, 0);
        WaitUntil("the wizard to end", [&] {
            HWND next = VisibleWindow(kBoxClass, GetCurrentProcessId());
            return returned || (next != nullptr && next != box);
        }, 10000);
    }
}

}  // namespace

// Shows the wizard in this process, chooses the account and the options,
// confirms, then puts the product's sandbox build where the set-up copied
// this test program. False, with the reason, when any of it did not happen.
bool ScheduleRepair(const Drive& drive, Run* run)
{
    ULONGLONG started = GetTickCount64();
    RepairTool tool;
    std::string failure;
    std::atomic<bool> done{false}, returned{false};
    std::thread operatorThread([&] {
        WizardOperator w;
        auto fail = [&](const char* why) {
            failure = why;
            Trace(std::string("set-up stopped: ") + why);
            EndWizard(w.window, returned);
        };
        if (!WaitUntil("the wizard", [&] { return (w.window = VisibleWindow(kToolClass, GetCurrentProcessId())) != nullptr; }, 30000)) {
            w.window = FindWindowW(kToolClass, nullptr);
            return fail("the wizard never showed");
        }
        WaitForReady(w.window);
        Trace("the wizard shows");
        if (!WaitUntil("the account in the list", [&] { return w.Select(kAccount); }, 10000))
            return fail("the account is not in the wizard's list");
        HWND fixUser = w.Child(L"Button", kFixUser);
        if (!WaitUntil("the next step enabled", [&] { return IsWindowEnabled(fixUser) != FALSE; }, 10000))
            return fail("selecting the account did not enable the next step");
        if (!PressUntil(fixUser, [&] { return IsWindowVisible(w.Child(L"Button", kFixNow)) != FALSE; }))
            return fail("the second page never showed");
        if (drive.flags & 1)
            w.Toggle(kStoreOption);
        if (drive.flags & 2)
            w.Toggle(kAppDataOption);
        if (drive.flags & 4)
            w.Toggle(kSettingsOption);
        // The toggles wait in the same queue as the press, ahead of it.
        HWND box = nullptr;
        if (!PressUntil(w.Child(L"Button", kFixNow),
                        [&] { return (box = VisibleWindow(kBoxClass, GetCurrentProcessId())) != nullptr; }))
            return fail("no confirmation was asked");
        WaitForReady(box);
        Trace("the confirmation shows");
        if (!PressUntil(ChildWithText(box, L"Button", L"Yes"), [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
            return fail("the confirmation did not take the answer");
        if (!WaitUntil("the wizard to finish", [&] { return !IsWindowVisible(w.window); }, 60000))
            return fail("the wizard did not finish the scheduling");
        done = true;
    });
    int result = RunRepairTool(tool, GetModuleHandleW(nullptr), L"/brenwick", SW_SHOWNORMAL);
    returned = true;
    operatorThread.join();
    tool.DestroyUiWindow();
    run->setupMs = GetTickCount64() - started;
    if (!failure.empty() || !done || result != 0) {
        run->failure = "set-up: " + (failure.empty() ? "the tool returned " + std::to_string(result) : failure);
        return false;
    }
    // The set-up copied this test program; the product takes its place.
    if (!CopyFileW(VANTRELL_SANDBOX_PRODUCT, L"C:\\Brenwick\\Brenwick.exe", FALSE)) {
        run->failure = "set-up: the product could not be put in the tool folder";
        return false;
    }
    run->setUpPoints = sandbox::PowerCutPointsPassed().size();
    return true;
}

namespace {

// Waits for the programs a sign-in started, closing the fix window at its
// countdown and cutting the power when the drive says so.
void WatchSession(const Drive& drive, const sandbox::RebootOutcome& outcome, Run* run, Boot* boot)
{
    std::vector<unsigned long> ids;
    for (const sandbox::StartedProgram& program : outcome.programs) {
        boot->arguments.push_back(program.arguments);
        if (program.started)
            ids.push_back(program.processId);
        else
            run->failure = "a program of the sign-in did not start: " + Narrow(program.error);
    }
    std::set<HWND> closed;
    ULONGLONG until = GetTickCount64() + kProgramLimitMs;
    const bool repairedSession = _wcsicmp(boot->account.c_str(), kAccount) == 0;
    if (repairedSession)
        boot->promptAtSignIn = PromptFacts();
    for (;;) {
        boot->accountTypes.insert(AccountFacts()[L"account.type"]);
        boot->elevated |= repairedSession && sandbox::IsElevated();
        std::vector<std::wstring> running;
        std::vector<unsigned long> runningIds;
        for (size_t i = 0; i < outcome.programs.size(); ++i) {
            unsigned long code = 0;
            if (outcome.programs[i].started && !sandbox::SessionProgramExitCode(outcome.programs[i].processId, &code)) {
                running.push_back(outcome.programs[i].arguments);
                runningIds.push_back(outcome.programs[i].processId);
            }
        }
        if (running.empty())
            break;
        if (GetTickCount64() > until) {
            run->failure = "a program of " + Narrow(boot->account) + "'s sign-in still ran after " +
                           std::to_string(kProgramLimitMs / 1000) + " s: " + Narrow(running[0]);
            sandbox::CutPowerNow(L"the test gave up waiting");
            break;
        }
        if (drive.cutPowerWhen && drive.cutPowerWhen(running)) {
            sandbox::CutPowerNow(L"while a program ran");
            break;
        }
        for (unsigned long id : ids) {
            HWND window = VisibleWindow(kToolClass, id);
            if (window == nullptr || closed.count(window) != 0 || harness::TextOf(window) != kFixTitle)
                continue;
            if (ChildWithText(window, L"Static", kOutcomes[0]) == nullptr &&
                ChildWithText(window, L"Static", kOutcomes[1]) == nullptr)
                continue;
            ++run->countdowns;
            closed.insert(window);
            Trace("the fix window counts down; closing it");
            if (!CloseFixWindow(window, drive.closeBy))
                run->failure = "the fix window did not close at its countdown";
        }
        // Back at once when a program ends; the fix window, which signals
        // nothing, is looked for again within a tenth of a second.
        sandbox::WaitForAnySessionProgram(runningIds, 100);
    }
    for (const sandbox::StartedProgram& program : outcome.programs) {
        unsigned long code = STILL_ACTIVE;
        if (program.started)
            sandbox::SessionProgramExitCode(program.processId, &code);
        boot->exitCodes.push_back(code);
    }
}

}  // namespace

// Restarts the machine as asked (and after each power cut) until nothing
// asks for a restart any more, waiting for each sign-in's programs and
// closing the fix window at its countdown; more than kMaxRestarts restarts
// is a failure (the machine loops).
void RestartUntilDone(const Drive& drive, Run* run)
{
    ULONGLONG started = GetTickCount64();
    sandbox::RebootOutcome outcome;
    if (!sandbox::RebootIfRequested(&outcome)) {
        run->failure = "the set-up asked for no restart";
        return;
    }
    bool signedInByHand = false, byHand = false;
    for (int restarts = 1;; ++restarts) {
        Trace("restart " + std::to_string(restarts) + (outcome.afterPowerCut ? " after a power cut" : "") + ": " +
              (outcome.signedIn ? Narrow(outcome.account) + " signed in, " + std::to_string(outcome.programs.size()) +
                                      " program(s) started"
                                : "at the sign-in screen"));
        Boot boot;
        boot.byHand = byHand;
        boot.account = outcome.account;
        boot.signInScreen = outcome.signInScreen;
        boot.afterPowerCut = outcome.afterPowerCut;
        WatchSession(drive, outcome, run, &boot);
        boot.pointsPassed = sandbox::PowerCutPointsPassed().size();
        run->boots.push_back(boot);
        if (!run->failure.empty())
            break;
        sandbox::PowerCut cut;
        bool powerCut = sandbox::LastPowerCut(&cut) && cut.pending;
        byHand = false;
        if (!powerCut && !sandbox::RebootIfRequested(&outcome)) {
            // Nothing asks for a restart. At the sign-in screen the operator
            // may sign in once; otherwise the machine has settled.
            if (outcome.signedIn || drive.signInAtScreen == nullptr || signedInByHand)
                break;
            signedInByHand = byHand = true;
            Trace("at the sign-in screen: " + Narrow(drive.signInAtScreen) + " signs in by hand");
            outcome = sandbox::SignInAtTheScreen(drive.signInAtScreen, L"");
            continue;
        }
        if (restarts >= kMaxRestarts) {
            run->failure = "more than " + std::to_string(kMaxRestarts) + " restarts: the machine loops";
            break;
        }
        signedInByHand = false;   // after a restart the operator may sign in again
        if (powerCut)
            outcome = sandbox::Reboot(L"power cut");
    }
    run->restartsMs = GetTickCount64() - started;
}

bool DriveRepair(const Drive& drive, Before* before, Run* run, const KillPoint* cutAt)
{
    if (!LoadScenario(drive.scenario, &run->failure))
        return false;
    if (drive.earlierSignIn && SetAutoLogon(L"jokafor", L"Okafor-Spring") != AutoLogonResult::Done) {
        run->failure = "set-up: the earlier automatic sign-in could not be set";
        return false;
    }
    if (!TakeBefore(before, &run->failure) || !ScheduleRepair(drive, run))
        return false;
    // Passages count from here: the set-up's points are not the repair's.
    if (cutAt != nullptr)
        sandbox::ArmPowerCut(cutAt->point.c_str(), cutAt->passage);
    RestartUntilDone(drive, run);
    return true;
}

std::vector<KillPoint> ChooseKillPoints(const std::vector<std::wstring>& passed)
{
    std::map<std::wstring, unsigned> total;
    for (const std::wstring& point : passed)
        ++total[point];
    std::map<std::wstring, unsigned> seen;
    std::vector<KillPoint> chosen;
    for (const std::wstring& point : passed) {
        unsigned passage = ++seen[point];
        unsigned all = total[point];
        bool pick = passage == 1 || passage == all || (all > 2 && passage == (all + 1) / 2);
        if (pick)
            chosen.push_back(KillPoint{point, passage});
    }
    return chosen;
}

std::string Describe(const Run& run)
{
    std::string text;
    for (size_t i = 0; i < run.boots.size(); ++i) {
        const Boot& boot = run.boots[i];
        text += "  " + std::string(boot.byHand ? "signed in by hand" : "restart") + " " + std::to_string(i + 1) +
                (boot.afterPowerCut ? " (after a power cut)" : "") + ": " +
                (boot.account.empty() ? "sign-in screen: " + Narrow(boot.signInScreen) : Narrow(boot.account));
        for (size_t p = 0; p < boot.arguments.size(); ++p) {
            char code[16];
            snprintf(code, sizeof(code), "%lx", p < boot.exitCodes.size() ? boot.exitCodes[p] : 0ul);
            text += "; ran" + Narrow(boot.arguments[p]) + " -> exit 0x" + code;
        }
        text += "\n";
    }
    if (!run.failure.empty())
        text += "  stopped: " + run.failure + "\n";
    return text;
}

}  // namespace e2e
