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
#include "ui/window.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"

namespace e2e {

namespace {

constexpr wchar_t kToolClass[] = L"Brenwick_GUI_CLASS";
constexpr wchar_t kBoxClass[] = L"_WINDOW_MsgBoxClass";
constexpr wchar_t kFixTitle[] = L"Brenwick - Fix User Profile";
constexpr wchar_t kFixUser[] = L"  Fix selected user (next step)";
constexpr wchar_t kFixNow[] = L"  Fix selected account now";
constexpr wchar_t kAppDataOption[] = L" Keep Windows system appdata from the old account";
constexpr wchar_t kStoreOption[] = L" Keep Windows store apps' package data from the old account";
constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kTaskband[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Taskband";
constexpr wchar_t kBackupKey[] = L"Software\\TaskbandBrenwickKey";
constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
// One program of a sign-in, at most; well inside a kill point's own limit,
// so that a program that hangs is named rather than the test cut off.
constexpr DWORD kProgramLimitMs = 30000;

// Where the drive is, on the error output at once: a case that hangs and is
// ended by its time limit still tells how far it got.
void Trace(const std::string& what)
{
    fprintf(stderr, "[drive %.1f s] %s\n", GetTickCount64() / 1000.0, what.c_str());
    fflush(stderr);
}

HWND VisibleWindow(const wchar_t* className, DWORD processId = 0)
{
    for (HWND found = FindWindowExW(nullptr, nullptr, className, nullptr); found != nullptr;
         found = FindWindowExW(nullptr, found, className, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(found, &owner);
        if (IsWindowVisible(found) && (processId == 0 || owner == processId))
            return found;
    }
    return nullptr;
}

std::wstring Hex(const BYTE* bytes, size_t size)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::wstring Decimal(unsigned long long value)
{
    return std::to_wstring(value);
}

// A value of HKLM as text: "(missing)", a number in decimal, or the text.
std::wstring Value(const wchar_t* key, const wchar_t* name)
{
    return repair_test::MachineValue(key, name);
}

std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

std::map<std::wstring, std::string> KeyValues(HKEY root, const std::wstring& path)
{
    std::map<std::wstring, std::string> values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name), type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::string data(size, '\0');
        length = ARRAYSIZE(name);
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
            ERROR_SUCCESS)
            break;
        data.resize(size);
        values[std::wstring(name, length)] = std::to_string(type) + ":" + data;
    }
    RegCloseKey(key);
    return values;
}

std::wstring ProfileEntry(const std::wstring& sid)
{
    std::wstring value = Value((std::wstring(kProfileList) + L"\\" + sid).c_str(), L"ProfileImagePath");
    if (value == L"(missing)")
        return value;
    wchar_t expanded[1024] = L"";
    ExpandEnvironmentStringsW(value.c_str(), expanded, ARRAYSIZE(expanded));
    return expanded;
}

// A copy of a hive file loaded under a scratch name through the machine,
// so that the file the account uses is not touched; `read` sees its root.
bool WithHiveCopy(const std::wstring& file, const std::function<void(HKEY)>& read)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(ARRAYSIZE(temp), temp);
    std::wstring copy = std::wstring(temp) + L"vantrell-e2e-hive.dat";
    DeleteFileW(copy.c_str());
    if (!CopyFileW((L"\\\\?\\" + file).c_str(), copy.c_str(), FALSE))
        return false;
    constexpr wchar_t kScratch[] = L"vantrell-e2e-hive";
    if (machine::RegLoadKeyW(HKEY_USERS, kScratch, copy.c_str()) != ERROR_SUCCESS) {
        DeleteFileW(copy.c_str());
        return false;
    }
    HKEY root = nullptr;
    bool opened = RegOpenKeyExW(HKEY_USERS, kScratch, 0, KEY_READ, &root) == ERROR_SUCCESS;
    if (opened) {
        read(root);
        RegCloseKey(root);
    }
    machine::RegUnLoadKeyW(HKEY_USERS, kScratch);
    DeleteFileW(copy.c_str());
    return opened;
}

std::map<std::wstring, std::string> TaskbandOf(const std::wstring& hiveFile)
{
    std::map<std::wstring, std::string> values;
    WithHiveCopy(hiveFile, [&](HKEY root) { values = KeyValues(root, kTaskband + 1); });
    return values;
}

// The centre of the account's picture as the account list shows it.
DWORD PictureCentre(const wchar_t* account)
{
    UniqueBitmap bitmap = LoadAccountPictureBitmap(account, 10.0);
    if (!bitmap)
        return 0xFFFFFFFF;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, bitmap.Get());
    COLORREF colour = GetPixel(memory, 24, 24);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
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

std::wstring PendingRenames()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"(none)";
    DWORD size = 0, type = 0;
    LSTATUS status = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && size > 2 * sizeof(wchar_t) ? L"some left" : L"(none)";
}

// The list view's rows of another process: the text goes through memory
// in that process, since the list writes into the caller's buffer.
std::vector<std::wstring> RemoteRows(HWND list)
{
    std::vector<std::wstring> rows;
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr)
        return rows;
    constexpr SIZE_T kTextUnits = 512;
    BYTE* remote = static_cast<BYTE*>(
        VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kTextUnits * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
    if (remote != nullptr) {
        DWORD_PTR count = 0;
        SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
        for (int row = 0; row < static_cast<int>(count); ++row) {
            std::wstring line;
            for (int column = 0; column < 2; ++column) {
                LVITEMW item{};
                item.iSubItem = column;
                item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
                item.cchTextMax = kTextUnits;
                wchar_t text[kTextUnits] = L"";
                DWORD_PTR length = 0;
                if (WriteProcessMemory(process, remote, &item, sizeof(item), nullptr) &&
                    SendMessageTimeoutW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote),
                                        SMTO_ABORTIFHUNG, 2000, &length) != 0)
                    ReadProcessMemory(process, remote + sizeof(LVITEMW), text, sizeof(text) - sizeof(wchar_t),
                                      nullptr);
                line += (column == 0 ? L"" : L" | ") + std::wstring(text);
            }
            rows.push_back(line);
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return rows;
}

bool HasRebootRow(const std::vector<std::wstring>& rows)
{
    for (const std::wstring& row : rows)
        if (row.compare(0, 19, L"Reboot the computer") == 0)
            return true;
    return false;
}

// What the operator's thread does with the wizard in this process.
struct WizardOperator {
    HWND window = nullptr;
    HWND Child(const wchar_t* className, const wchar_t* text) const { return ChildWithText(window, className, text); }
    HWND List() const { return FindWindowExW(window, nullptr, L"SysListView32", nullptr); }
    bool Select(const wchar_t* name) const
    {
        int rows = static_cast<int>(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row) {
            if (_wcsicmp(ListCellText(List(), row, 1).Text(), name) != 0)
                continue;
            LVITEMW state{};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(List(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
            return true;
        }
        return false;
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

std::string Narrowed(const std::wstring& text)
{
    return Narrow(text);
}

std::string Listed(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "  " + line + "\n";
    return text;
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    size_t length = wcslen(prefix);
    return text.size() >= length && _wcsnicmp(text.c_str(), prefix, length) == 0;
}

bool IsHiveFile(const std::wstring& relative)
{
    if (relative.find(L'\\') == std::wstring::npos && StartsWithNoCase(relative, L"NTUSER."))
        return true;
    return StartsWithNoCase(relative, (std::wstring(kSystemAppData) + L"UsrClass.").c_str());
}

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
    repair_test::SetMachineDword(repair_test::kUacKey, L"ConsentPromptBehaviorAdmin", 5);
    repair_test::SetMachineDword(repair_test::kUacKey, L"ConsentPromptBehaviorUser", 3);
    repair_test::SetMachineDword(repair_test::kUacKey, L"EnableLUA", 1);
    repair_test::DeleteMachineValue(repair_test::kStoreKey, L"AutoDownload");
    return true;
}

std::map<std::wstring, std::wstring> SettingsFacts()
{
    std::map<std::wstring, std::wstring> facts;
    facts[L"uac.consentAdmin"] = Value(repair_test::kUacKey, L"ConsentPromptBehaviorAdmin");
    facts[L"uac.consentUser"] = Value(repair_test::kUacKey, L"ConsentPromptBehaviorUser");
    facts[L"uac.enableLua"] = Value(repair_test::kUacKey, L"EnableLUA");
    facts[L"store.autoDownload"] = Value(repair_test::kStoreKey, L"AutoDownload");
    bool on = Value(repair_test::kWinlogonKey, L"AutoAdminLogon") == L"1";
    std::wstring signIn = L"off";
    if (on) {
        bool found = false;
        std::wstring password = repair_test::Secret(L"DefaultPassword", &found);
        std::wstring user = Value(repair_test::kWinlogonKey, L"DefaultUserName");
        HANDLE token = nullptr;
        bool accepted = found && machine::LogonUserW(user.c_str(), L".", password.c_str(), LOGON32_LOGON_INTERACTIVE,
                                                     LOGON32_PROVIDER_DEFAULT, &token);
        if (token != nullptr)
            CloseHandle(token);
        SecureZeroMemory(&password[0], password.size() * sizeof(wchar_t));
        signIn = L"on for " + user + (accepted ? L", its password stored" : L", without a password that works");
    }
    facts[L"autoSignIn"] = signIn;
    facts[L"autoSignIn.plainPassword"] = Value(repair_test::kWinlogonKey, L"DefaultPassword");
    bool saved = false;
    repair_test::Secret(kSavedLogonSecret, &saved);
    facts[L"secret.toolsCopy"] = saved ? L"present" : L"absent";
    facts[L"backupKey"] = KeyOpens(HKEY_LOCAL_MACHINE, kBackupKey) ? L"present" : L"absent";
    facts[L"pendingRenames"] = PendingRenames();
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
    LPBYTE buffer = nullptr;
    if (machine::NetUserGetInfo(nullptr, kAccount, 3, &buffer) != NERR_Success || buffer == nullptr) {
        *why = "the account cannot be read";
        return false;
    }
    auto* info = reinterpret_cast<USER_INFO_3*>(buffer);
    before->fullName = info->usri3_full_name != nullptr ? info->usri3_full_name : L"";
    before->privilege = info->usri3_priv;
    machine::NetApiBufferFree(buffer);
    // A mark of the old system app data, so that its replacement shows.
    std::wstring marker = before->profile + L"\\" + kSystemAppData + L"Caches\\old-cache.bin";
    std::filesystem::create_directories(std::filesystem::path(marker).parent_path());
    {
        HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        const char text[] = "the old account's cache, kept only when the system app data is kept";
        WriteFile(file, text, sizeof(text) - 1, &written, nullptr);
        CloseHandle(file);
    }
    before->files = SumFiles(before->profile);
    before->taskband = TaskbandOf(before->profile + L"\\NTUSER.DAT");
    before->pictureCentre = PictureCentre(kAccount);
    before->settings = SettingsFacts();
    if (before->files.size() < 300 || before->taskband.empty()) {
        *why = "the scenario lacks the files or the taskbar pins (" + std::to_string(before->files.size()) +
               " files, " + std::to_string(before->taskband.size()) + " taskbar values)";
        return false;
    }
    return true;
}

std::map<std::wstring, std::wstring> FinalFacts(const Before& before)
{
    std::map<std::wstring, std::wstring> facts = SettingsFacts();
    LPBYTE buffer = nullptr;
    if (machine::NetUserGetInfo(nullptr, kAccount, 3, &buffer) == NERR_Success && buffer != nullptr) {
        auto* info = reinterpret_cast<USER_INFO_3*>(buffer);
        facts[L"account"] = L"present";
        facts[L"account.fullName"] = info->usri3_full_name != nullptr ? info->usri3_full_name : L"";
        facts[L"account.type"] = Decimal(info->usri3_priv);
        facts[L"account.disabled"] = (info->usri3_flags & UF_ACCOUNTDISABLE) ? L"yes" : L"no";
        machine::NetApiBufferFree(buffer);
    } else {
        facts[L"account"] = L"absent";
    }
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
    for (const std::wstring& entry : Subkeys(HKEY_LOCAL_MACHINE, kProfileList)) {
        std::wstring path = ProfileEntry(entry);
        naming += _wcsicmp(path.c_str(), before.profile.c_str()) == 0 ? 1 : 0;
        std::wstring lower = path;
        CharLowerW(&lower[0]);
        temporary += lower.find(kTempAccount) != std::wstring::npos ? 1 : 0;
    }
    facts[L"profile.entriesNamingTheFolder"] = Decimal(naming);
    facts[L"temp.profileEntries"] = Decimal(temporary);
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
    facts[L"temp.profileFolders"] = Decimal(tempFolders);

    // The hives in place: each loads, the user hive with its folder list.
    std::wstring userHive = L"does not load";
    WithHiveCopy(before.profile + L"\\NTUSER.DAT", [&](HKEY root) {
        userHive = KeyOpens(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders")
                       ? L"loads, lists the shell folders"
                       : L"loads, without the shell folders";
    });
    facts[L"hive.user"] = userHive;
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

    std::string log = LogText();
    facts[L"log.endLines"] = Decimal(repair_test::Occurrences(log, "*** End of repair operation"));
    facts[L"log.completeLines"] = Decimal(repair_test::Occurrences(log, ": Repair operation complete."));

    for (const auto& file : SumFiles(before.profile)) {
        if (IsHiveFile(file.first))
            continue;
        facts[L"file " + file.first] = Decimal(file.second.size) + L" bytes, " + Hex(
            reinterpret_cast<const BYTE*>(&file.second.checksum), sizeof(file.second.checksum));
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
// window asked to close) until the tool's run has returned.
void EndWizard(HWND window, const std::atomic<bool>& returned)
{
    while (!returned) {
        HWND box = VisibleWindow(kBoxClass, GetCurrentProcessId());
        if (box != nullptr) {
            HWND no = ChildWithText(box, L"Button", L"No");
            PostMessageW(no != nullptr ? no : ChildWithText(box, L"Button", L"OK"), BM_CLICK, 0, 0);
        }
        PostMessageW(window, kCloseRequestMessage, 0, 0);
        Sleep(500);
    }
}

}  // namespace

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
        Sleep(200);
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

bool DriveRepair(const Drive& drive, Before* before, Run* run, const KillPoint* cutAt)
{
    if (!LoadScenario(L"broken-profile", &run->failure))
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
    bool workingShot = false;
    ULONGLONG until = GetTickCount64() + kProgramLimitMs;
    for (;;) {
        std::vector<std::wstring> running;
        for (size_t i = 0; i < outcome.programs.size(); ++i) {
            unsigned long code = 0;
            if (outcome.programs[i].started && !sandbox::SessionProgramExitCode(outcome.programs[i].processId, &code))
                running.push_back(outcome.programs[i].arguments);
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
            HWND list = FindWindowExW(window, nullptr, L"SysListView32", nullptr);
            std::vector<std::wstring> rows = list != nullptr ? RemoteRows(list) : std::vector<std::wstring>();
            if (!workingShot && drive.screenshotPrefix != nullptr && !rows.empty() && !HasRebootRow(rows)) {
                workingShot = true;
                std::wstring shot = SaveScreenshot(window, (std::wstring(drive.screenshotPrefix) + L"_working").c_str());
                if (!shot.empty())
                    run->screenshots.push_back(shot);
            }
            if (!HasRebootRow(rows))
                continue;
            Sleep(300);   // the countdown has begun; let it show
            rows = RemoteRows(list);
            run->progressRows.push_back(rows);
            if (drive.screenshotPrefix != nullptr) {
                std::wstring shot =
                    SaveScreenshot(window, (std::wstring(drive.screenshotPrefix) + L"_countdown").c_str());
                if (!shot.empty())
                    run->screenshots.push_back(shot);
            }
            closed.insert(window);
            Trace("the fix window counts down; closing it");
            if (!CloseFixWindow(window, drive.closeBy))
                run->failure = "the fix window did not close at its countdown";
        }
        Sleep(100);
    }
    for (const sandbox::StartedProgram& program : outcome.programs) {
        unsigned long code = STILL_ACTIVE;
        if (program.started)
            sandbox::SessionProgramExitCode(program.processId, &code);
        boot->exitCodes.push_back(code);
    }
}

}  // namespace

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
        if (restarts >= drive.maxRestarts) {
            run->failure = "more than " + std::to_string(drive.maxRestarts) + " restarts: the machine loops";
            break;
        }
        if (powerCut)
            outcome = sandbox::Reboot(L"power cut");
    }
    run->restartsMs = GetTickCount64() - started;
}

std::string LogText()
{
    return repair_test::ReadBytes(kLogPath);
}

std::vector<std::wstring> LogEntries()
{
    std::string bytes = LogText();
    int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    std::vector<std::wstring> entries;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(L"\r\n", at);
        std::wstring line = text.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
        // "YYYY/MM/DD hh:mm:ss:mmm: text"
        if (line.size() > 25 && line[4] == L'/' && line[23] == L':')
            entries.push_back(line.substr(25));
        else if (line.find(L"*** End of repair operation") != std::wstring::npos)
            entries.push_back(L"*** End of repair operation ***");
        if (end == std::wstring::npos)
            break;
        at = end + 2;
    }
    return entries;
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
    for (const auto& rows : run.progressRows) {
        text += "  progress list:\n";
        for (const std::wstring& row : rows)
            text += "    " + Narrow(row) + "\n";
    }
    if (!run.failure.empty())
        text += "  stopped: " + run.failure + "\n";
    return text;
}

}  // namespace e2e
