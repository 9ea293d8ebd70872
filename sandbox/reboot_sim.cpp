// The simulated restart: the session ends, the session manager completes the
// file operations registered for the restart, Winlogon signs in the account
// of the automatic sign-in, and that account's Startup folder is run.
#include "sandbox/sandbox.h"

#include <windows.h>
#include <lm.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/machine.h"
#include "sandbox/profiles.h"
#include "sandbox/key_security.h"
#include "sandbox/session_user.h"
#include "sandbox/state.h"

namespace sandbox {

namespace {

constexpr wchar_t kSessionProcesses[] = L"Session\\Processes";
constexpr DWORD kEndSessionWait = 5000;   // what a program gets to close before it is ended
constexpr DWORD kServiceWait = 60000;     // what a service at the start gets before the sign-in goes on

// Handles of the programs this process started at a sign-in, so that a test
// can still read their exit codes after they ended.
std::map<DWORD, UniqueHandle>& StartedHere()
{
    static std::map<DWORD, UniqueHandle> started;
    return started;
}
std::mutex& StartedMutex()
{
    static std::mutex mutex;
    return mutex;
}

uint64_t CreationTime(HANDLE process)
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// A session program by its id, only while it is still the process the
// machine started (ids are reused).
UniqueHandle OpenSessionProcess(const std::wstring& id, DWORD access, HKEY processes)
{
    UniqueHandle process(OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, wcstoul(id.c_str(), nullptr, 10)));
    if (!process)
        return process;
    DWORD size = sizeof(uint64_t), type = 0;
    uint64_t expected = 0;
    if (RegQueryValueExW(processes, id.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&expected), &size) !=
            ERROR_SUCCESS ||
        CreationTime(process.Get()) != expected)
        process.Reset();
    return process;
}

BOOL CALLBACK AskWindowToEnd(HWND window, LPARAM processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId)) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer);
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 2000, &answer);
    }
    return TRUE;
}

// The programs of the session get the end-of-session messages, a moment to
// close, and are ended after that; the hives are written back and unloaded.
// After a power cut nothing of that happens: whatever still ran stops at
// once, and a loaded hive keeps only what was written into its file before.
bool EndSession()
{
    const bool powerCut = TakePendingPowerCut();
    std::vector<UniqueHandle> running;
    {
        StateLock lock;
        Key processes = OpenState(kSessionProcesses, false);
        for (const std::wstring& id : ValueNames(processes.Get())) {
            UniqueHandle process = OpenSessionProcess(id, SYNCHRONIZE | PROCESS_TERMINATE, processes.Get());
            if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
                if (!powerCut)
                    EnumWindows(AskWindowToEnd, static_cast<LPARAM>(GetProcessId(process.Get())));
                running.push_back(std::move(process));
            }
        }
    }
    DWORD started = GetTickCount();
    int forced = 0;
    for (UniqueHandle& process : running) {
        DWORD spent = GetTickCount() - started;
        DWORD grace = powerCut ? 0 : (spent < kEndSessionWait ? kEndSessionWait - spent : 0);
        if (WaitForSingleObject(process.Get(), grace) == WAIT_TIMEOUT) {
            TerminateProcess(process.Get(), powerCut ? kPowerCutExitCode : ERROR_SHUTDOWN_IN_PROGRESS);
            WaitForSingleObject(process.Get(), 2000);
            ++forced;
        }
    }
    Account session;
    if (SessionAccount(&session))
        Record(L"SessionEnded", {{L"account", session.name},
                                 {L"programs", std::to_wstring(running.size())},
                                 {L"forced", std::to_wstring(forced)},
                                 {L"powerCut", powerCut ? L"yes" : L"no"}});
    if (powerCut)
        DiscardLoadedHives();
    else
        UnloadAllHives();
    StateLock lock;
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kStateKey) + L"\\Session");
    return powerCut;
}

std::wstring WithoutNtPrefix(const std::wstring& path)
{
    return path.compare(0, 4, L"\\??\\") == 0 ? path.substr(4) : path;
}

// What the session manager does at start with one registered operation: an
// empty destination deletes the source, a "!" in front of the destination
// lets the move replace an existing file.
void CompleteRenames(const wchar_t* valueName, RebootOutcome* outcome)
{
    constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
    Key manager;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, manager.Put()) !=
        ERROR_SUCCESS)
        return;
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(manager.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(manager.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS)
        return;
    // Pairs of strings; an empty destination is an empty string, so the list
    // is walked by count rather than up to the first empty string.
    std::vector<std::wstring> items;
    size_t count = size / sizeof(wchar_t);
    for (size_t at = 0; at < count;) {
        size_t length = wcsnlen(text.data() + at, count - at);
        items.emplace_back(text.data() + at, length);
        at += length + 1;
    }
    if (!items.empty() && items.back().empty() && items.size() % 2 == 1)
        items.pop_back();   // the list's closing terminator
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        std::wstring source = WithoutNtPrefix(items[i]);
        std::wstring destination = items[i + 1];
        bool replace = !destination.empty() && destination[0] == L'!';
        destination = WithoutNtPrefix(replace ? destination.substr(1) : destination);
        BOOL done;
        if (destination.empty()) {
            DWORD attributes = GetFileAttributesW(source.c_str());
            done = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                       ? RemoveDirectoryW(source.c_str())
                       : DeleteFileW(source.c_str());
        } else {
            done = MoveFileExW(source.c_str(), destination.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0);
        }
        DWORD error = done ? ERROR_SUCCESS : GetLastError();
        Record(L"PendingFileRename", {{L"source", source},
                                      {L"destination", destination},
                                      {L"replace", replace ? L"1" : L"0"},
                                      {L"result", std::to_wstring(error)}});
        if (done)
            ++outcome->renamesDone;
        else
            ++outcome->renamesFailed;
    }
    RegDeleteValueW(manager.Get(), valueName);
}

// Winlogon's messages for the sign-ins it refuses.
std::wstring RefusalText(DWORD error)
{
    switch (error) {
    case ERROR_ACCOUNT_DISABLED: return L"Your account has been disabled. Please see your system administrator.";
    case ERROR_ACCOUNT_LOCKED_OUT: return L"The referenced account is currently locked out and may not be logged on to.";
    case ERROR_PASSWORD_EXPIRED: return L"The user's password must be changed before signing in.";
    case ERROR_LOGON_TYPE_NOT_GRANTED: return L"The sign-in method you're trying to use isn't allowed.";
    default: return L"The user name or password is incorrect. Try again.";
    }
}

struct AutoSignIn {
    bool configured = false;
    std::wstring user, domain;
    std::vector<wchar_t> password;   // wiped when done
    ~AutoSignIn() { SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t)); }
};

// The automatic sign-in as Winlogon reads it: "AutoAdminLogon" "1", the user
// and domain values, and the password from the security authority's secret,
// or from the registry value where no secret is stored.
void ReadAutoSignIn(AutoSignIn* signIn)
{
    Key winlogon;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, KEY_READ, winlogon.Put()) != ERROR_SUCCESS)
        return;
    signIn->configured = ReadString(winlogon.Get(), L"AutoAdminLogon", L"0") == L"1";
    signIn->user = ReadString(winlogon.Get(), L"DefaultUserName", L"");
    signIn->domain = ReadString(winlogon.Get(), L"DefaultDomainName", L"");
    std::vector<BYTE> secret;
    if (ReadSecret(L"DefaultPassword", &secret)) {
        // A counted string; zero characters that pad it end the password.
        signIn->password.assign(secret.size() / sizeof(wchar_t) + 1, L'\0');
        memcpy(signIn->password.data(), secret.data(), secret.size() / sizeof(wchar_t) * sizeof(wchar_t));
        SecureZeroMemory(secret.data(), secret.size());
        return;
    }
    bool present = false;
    std::wstring value = ReadString(winlogon.Get(), L"DefaultPassword", L"", &present);
    if (present)
        signIn->password.assign(value.c_str(), value.c_str() + value.size() + 1);
    SecureZeroMemory(&value[0], value.size() * sizeof(wchar_t));
    if (!present)
        signIn->configured = false;   // Winlogon needs a password to sign in with, the empty one included
}

bool IsThisComputer(const std::wstring& domain)
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD length = ARRAYSIZE(computer);
    GetComputerNameW(computer, &length);
    return domain.empty() || domain == L"." || _wcsicmp(domain.c_str(), computer) == 0;
}

// What the profile service needs of a hive to load a profile from it.
bool ProfileLoads(const std::wstring& sid)
{
    Key root = OpenUserHive(sid);
    Key folders;
    return root && RegOpenKeyExW(root.Get(), L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                 0, KEY_READ, folders.Put()) == ERROR_SUCCESS;
}

// Whether the profile service can use the account's own profile: an entry
// not marked as failed or temporary, naming an existing folder other than
// TEMP, and the folder and its hive files open to the account.
bool OwnProfileUsable(const std::wstring& sid)
{
    Key entry;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kProfileListKey) + L"\\" + sid).c_str(), 0, KEY_READ,
                      entry.Put()) != ERROR_SUCCESS)
        return false;
    if ((ReadDword(entry.Get(), L"State", 0) & (0x0800 | 0x8000 | 0x0020)) != 0)
        return false;
    const std::wstring folder = ProfileFolderOf(sid);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    const size_t cut = folder.rfind(L'\\');
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (cut != std::wstring::npos && _wcsicmp(folder.c_str() + cut, L"\\TEMP") == 0))
        return false;
    if (!AccountMayUse(folder, sid))
        return false;
    for (const wchar_t* hive : {L"\\NTUSER.DAT", L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"}) {
        const std::wstring file = folder + hive;
        if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES && !AccountMayUse(file, sid))
            return false;
    }
    return true;
}

// The environment a sign-in gives the account's programs.
std::vector<wchar_t> SessionEnvironment(const Account& account, const std::wstring& profile)
{
    std::map<std::wstring, std::wstring, bool (*)(const std::wstring&, const std::wstring&)> variables(
        [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    LPWCH block = GetEnvironmentStringsW();
    for (LPWCH p = block; p != nullptr && *p != L'\0'; p += wcslen(p) + 1) {
        const wchar_t* equals = wcschr(p + 1, L'=');   // names of drive folders begin with '='
        if (equals != nullptr)
            variables[std::wstring(p, static_cast<size_t>(equals - p))] = equals + 1;
    }
    FreeEnvironmentStringsW(block);
    variables[L"USERNAME"] = account.name;
    variables[L"USERPROFILE"] = profile;
    variables[L"APPDATA"] = profile + L"\\AppData\\Roaming";
    variables[L"LOCALAPPDATA"] = profile + L"\\AppData\\Local";
    variables[L"TEMP"] = profile + L"\\AppData\\Local\\Temp";
    variables[L"TMP"] = profile + L"\\AppData\\Local\\Temp";
    if (profile.size() > 2 && profile[1] == L':') {
        variables[L"HOMEDRIVE"] = profile.substr(0, 2);
        variables[L"HOMEPATH"] = profile.substr(2);
    }
    std::vector<wchar_t> environment;
    for (const auto& variable : variables) {
        std::wstring line = variable.first + L"=" + variable.second;
        environment.insert(environment.end(), line.begin(), line.end());
        environment.push_back(L'\0');
    }
    environment.push_back(L'\0');
    return environment;
}

// A shell link as the shell reads it.
struct Shortcut {
    std::wstring target, arguments, directory;
    int show = SW_SHOWNORMAL;
};

HRESULT ResolveShortcut(const std::wstring& path, Shortcut* shortcut)
{
    HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT result;
    {
        IShellLinkW* link = nullptr;
        result = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&link));
        IPersistFile* file = nullptr;
        if (SUCCEEDED(result))
            result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
        if (SUCCEEDED(result))
            result = file->Load(path.c_str(), STGM_READ);
        std::vector<wchar_t> text(32768);
        if (SUCCEEDED(result))
            result = link->GetPath(text.data(), static_cast<int>(text.size()), nullptr, SLGP_RAWPATH);
        if (SUCCEEDED(result)) {
            std::vector<wchar_t> expanded(32768);
            DWORD length = ExpandEnvironmentStringsW(text.data(), expanded.data(), static_cast<DWORD>(expanded.size()));
            shortcut->target = length != 0 && length <= expanded.size() ? expanded.data() : text.data();
            text[0] = L'\0';
            if (SUCCEEDED(link->GetArguments(text.data(), static_cast<int>(text.size()))))
                shortcut->arguments = text.data();
            text[0] = L'\0';
            if (SUCCEEDED(link->GetWorkingDirectory(text.data(), static_cast<int>(text.size()))))
                shortcut->directory = text.data();
            int show = SW_SHOWNORMAL;
            if (SUCCEEDED(link->GetShowCmd(&show)))
                shortcut->show = show;
            if (shortcut->target.empty())
                result = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        }
        if (file != nullptr)
            file->Release();
        if (link != nullptr)
            link->Release();
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return result;
}

bool IsProgram(const std::wstring& path)
{
    const wchar_t* extension = PathFindExtensionW(path.c_str());
    return _wcsicmp(extension, L".exe") == 0 || _wcsicmp(extension, L".com") == 0;
}

// Starts a program of the session and keeps its handle, so that the end of
// the session (or a power cut) reaches it and a test can read its exit code.
void Launch(const wchar_t* file, const std::wstring& commandLine, void* environment, const wchar_t* directory,
            int show, StartedProgram* program, const std::function<void(DWORD)>& beforeItRuns = nullptr)
{
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION process{};
    // Wine now and then loses a new process before its own start-up
    // has run (it reports ERROR_INTERNAL_ERROR); the shell's start
    // of a program does not fail that way, so it is tried again.
    bool launched = false;
    for (int attempt = 0; attempt < 3 && !launched; ++attempt) {
        std::vector<wchar_t> line = mutableLine;
        const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (beforeItRuns ? CREATE_SUSPENDED : 0);
        launched = CreateProcessW(file, line.data(), nullptr, nullptr, FALSE, flags, environment, directory, &startup,
                                  &process) != FALSE;
        if (!launched && GetLastError() != ERROR_INTERNAL_ERROR)
            break;
    }
    if (!launched) {
        program->error = L"the program could not be started (error " + std::to_wstring(GetLastError()) + L")";
        return;
    }
    if (beforeItRuns) {
        beforeItRuns(process.dwProcessId);
        ResumeThread(process.hThread);
    }
    CloseHandle(process.hThread);
    program->processId = process.dwProcessId;
    program->started = true;
    uint64_t created = CreationTime(process.hProcess);
    {
        StateLock lock;
        Key processes = OpenState(kSessionProcesses, true);
        RegSetValueExW(processes.Get(), std::to_wstring(process.dwProcessId).c_str(), 0, REG_QWORD,
                       reinterpret_cast<const BYTE*>(&created), sizeof(created));
    }
    std::lock_guard<std::mutex> guard(StartedMutex());
    StartedHere()[process.dwProcessId] = UniqueHandle(process.hProcess);
}

// Every shell link in the Startup folder, in the order of their names, as
// the user's shell starts them at sign-in.
void RunStartupFolder(const Account& account, const std::wstring& sid, const std::wstring& profile,
                      RebootOutcome* outcome)
{
    std::wstring folder;
    if (!UserFolder(sid, profile, CSIDL_STARTUP, false, &folder))
        return;
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileW((folder + L"\\*.lnk").c_str(), &found));
    if (search) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                names.emplace_back(found.cFileName);
        } while (FindNextFileW(search.Get(), &found));
    }
    std::sort(names.begin(), names.end(),
              [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    std::vector<wchar_t> environment = SessionEnvironment(account, profile);
    wchar_t system[MAX_PATH] = L"C:\\windows\\system32";
    GetSystemDirectoryW(system, ARRAYSIZE(system));

    for (const std::wstring& name : names) {
        StartedProgram program;
        program.shortcut = folder + L"\\" + name;
        Shortcut link;
        HRESULT resolved = ResolveShortcut(program.shortcut, &link);
        program.file = link.target;
        program.arguments = link.arguments;
        program.directory = link.directory;
        if (FAILED(resolved)) {
            program.error = L"the shortcut cannot be read";
        } else if (!IsProgram(link.target) || GetFileAttributesW(link.target.c_str()) == INVALID_FILE_ATTRIBUTES) {
            program.error = L"the target is not a program that exists";
        } else {
            // Without a working folder of its own a program starts where the shell runs.
            std::wstring directory = link.directory.empty() ? std::wstring(system) : link.directory;
            std::wstring commandLine = L"\"" + link.target + L"\"";
            if (!link.arguments.empty())
                commandLine += L" " + link.arguments;
            Launch(link.target.c_str(), commandLine, environment.data(), directory.c_str(), link.show, &program);
        }
        Record(L"StartupProgram", {{L"account", account.name},
                                   {L"shortcut", program.shortcut},
                                   {L"file", program.file},
                                   {L"arguments", program.arguments},
                                   {L"directory", program.directory},
                                   {L"process", std::to_wstring(program.processId)},
                                   {L"error", program.error}});
        outcome->programs.push_back(std::move(program));
    }
}

// The service control manager's part of a start, before any sign-in: a
// service marked for deletion goes, and every service set to start
// automatically is started as SYSTEM, with its own command line. The real
// manager starts them side by side with the sign-in; the simulation lets
// them end first (at most kServiceWait), so that what they do comes in a
// fixed order. False when the power failed while one ran.
bool StartServices(RebootOutcome* outcome)
{
    std::vector<std::wstring> names;
    {
        StateLock lock;
        Key services = OpenState(L"Services", false);
        for (const std::wstring& name : SubkeyNames(services.Get())) {
            Key service = OpenState(L"Services\\" + name, false);
            if (ReadDword(service.Get(), L"Deleted", 0) != 0) {
                service.Reset();
                DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kStateKey) + L"\\Services\\" + name);
            } else if (ReadDword(service.Get(), L"StartType", SERVICE_DEMAND_START) == SERVICE_AUTO_START) {
                WriteDword(service.Get(), L"State", SERVICE_STOPPED);
                names.push_back(name);
            }
        }
    }
    SetMachineString(kConsoleUser, L"");
    SetMachineString(kSessionUser, L"");
    wchar_t system[MAX_PATH] = L"C:\\windows\\system32";
    GetSystemDirectoryW(system, ARRAYSIZE(system));
    for (const std::wstring& name : names) {
        std::wstring commandLine;
        {
            StateLock lock;
            Key service = OpenState(L"Services\\" + name, false);
            commandLine = ReadString(service.Get(), L"BinaryPath", L"");
        }
        StartedProgram program;
        program.shortcut = L"service " + name;
        program.file = commandLine;
        size_t split = commandLine.size() > 1 && commandLine[0] == L'"' ? commandLine.find(L'"', 1) : std::wstring::npos;
        if (split != std::wstring::npos) {
            program.file = commandLine.substr(1, split - 1);
            program.arguments = commandLine.substr(split + 1);
        }
        program.directory = system;
        // SYSTEM is an administrator.
        SetMachineDword(kElevated, 1);
        Launch(nullptr, commandLine, nullptr, system, SW_HIDE, &program, [&](DWORD processId) {
            StateLock lock;
            Key service = OpenState(L"Services\\" + name, false);
            WriteDword(service.Get(), L"ProcessId", processId);
            WriteDword(service.Get(), L"State", SERVICE_START_PENDING);
        });
        Record(L"ServiceStarted", {{L"name", name}, {L"command", commandLine}, {L"process", std::to_wstring(program.processId)},
                                   {L"error", program.error}});
        if (program.started) {
            UniqueHandle process;
            {
                std::lock_guard<std::mutex> guard(StartedMutex());
                process.Reset(OpenProcess(SYNCHRONIZE, FALSE, program.processId));
            }
            if (process)
                WaitForSingleObject(process.Get(), kServiceWait);
        }
        outcome->programs.push_back(std::move(program));
        PowerCut cut;
        if (LastPowerCut(&cut) && cut.pending)
            return false;
    }
    return true;
}

void StopAtSignInScreen(const std::wstring& reason, const std::wstring& account, RebootOutcome* outcome)
{
    outcome->signInScreen = reason;
    SetMachineString(kConsoleUser, L"");
    SetMachineString(kSessionUser, L"");
    Record(L"SignInScreen", {{L"account", account}, {L"reason", reason}});
}

// Winlogon's part: the automatic sign-in checked as any sign-in is, the
// profile loaded (made at the first sign-in), the account made the session's.
// The sign-in itself, automatic or typed: checked as any sign-in, the
// profile loaded (made at the first sign-in), the account made the session's
// and its Startup folder run.
void SignInAs(const std::wstring& user, const std::wstring& domain, const wchar_t* password, RebootOutcome* outcome)
{
    Account account;
    HANDLE token = nullptr;
    DWORD refused = ERROR_LOGON_FAILURE;
    if (IsThisComputer(domain) && FindAccount(user.c_str(), &account)) {
        if (machine::LogonUserW(account.name.c_str(), nullptr, password, LOGON32_LOGON_INTERACTIVE,
                                LOGON32_PROVIDER_DEFAULT, &token))
            refused = ERROR_SUCCESS;
        else
            refused = GetLastError();
    }
    if (token != nullptr)
        CloseHandle(token);
    if (refused != ERROR_SUCCESS) {
        StopAtSignInScreen(RefusalText(refused), user, outcome);
        return;
    }
    std::wstring sid = AccountSid(account.rid);
    if (ProfileFolderOf(sid).empty() && MakeProfile(sid, account.name, nullptr) != ERROR_SUCCESS) {
        StopAtSignInScreen(L"The User Profile Service failed the sign-in. User profile cannot be loaded.",
                           account.name, outcome);
        return;
    }
    // An entry, folder or hive file the profile service cannot use gives
    // the sign-in a temporary profile, as the system does; a hive that does
    // not load stops it.
    bool temporary = false;
    if (!OwnProfileUsable(sid)) {
        DiscardHive(sid);
        if (!AssignTemporaryProfile(sid)) {
            StopAtSignInScreen(L"The User Profile Service failed the sign-in. User profile cannot be loaded.",
                               account.name, outcome);
            return;
        }
        temporary = true;
    }
    if (!ProfileLoads(sid)) {
        DiscardHive(sid);
        StopAtSignInScreen(L"The User Profile Service failed the sign-in. User profile cannot be loaded.",
                           account.name, outcome);
        return;
    }
    // The account must be able to read its own registry: a hive whose keys
    // are another SID's (another account's settings) is refused, and the
    // sign-in gets a temporary profile instead.
    if (!temporary && !AccountMayReadKey(sid, L"", sid)) {
        DiscardHive(sid);
        if (!AssignTemporaryProfile(sid) || !ProfileLoads(sid)) {
            StopAtSignInScreen(L"The User Profile Service failed the sign-in. User profile cannot be loaded.",
                               account.name, outcome);
            return;
        }
        temporary = true;
    }
    std::wstring profile = ProfileFolderOf(sid);
    SetMachineString(kConsoleUser, account.name);
    SetMachineString(kSessionUser, account.name);
    // The session's programs run with the account's rights; the split token
    // of an administrator under the elevation prompt is not simulated.
    SetMachineDword(kElevated, PrivilegeOf(account) == USER_PRIV_ADMIN ? 1 : 0);
    outcome->signedIn = true;
    outcome->account = account.name;
    outcome->temporaryProfile = temporary;
    Record(L"SignIn", {{L"account", account.name}, {L"profile", profile}, {L"temporary", temporary ? L"yes" : L"no"}});
    RunStartupFolder(account, sid, profile, outcome);
}

// Winlogon's part at a restart: the automatic sign-in, when there is one.
void SignIn(RebootOutcome* outcome)
{
    AutoSignIn signIn;
    ReadAutoSignIn(&signIn);
    if (!signIn.configured || signIn.user.empty()) {
        StopAtSignInScreen(L"No account signs in automatically.", L"", outcome);
        return;
    }
    SignInAs(signIn.user, signIn.domain, signIn.password.data(), outcome);
}

// The reboot requests (ExitWindowsEx with the reboot bit) recorded and not
// yet acted on, oldest first, by their record entry.
std::vector<std::wstring> OpenRebootRequests()
{
    StateLock lock;
    std::vector<std::wstring> open;
    Key record = OpenState(L"Record", false);
    std::vector<std::wstring> names = SubkeyNames(record.Get());
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
        Key entry;
        if (RegOpenKeyExW(record.Get(), name.c_str(), 0, KEY_READ, entry.Put()) != ERROR_SUCCESS)
            continue;
        DWORD flags = wcstoul(ReadString(entry.Get(), L"flags", L"0").c_str(), nullptr, 10);
        if (ReadString(entry.Get(), L"Call", L"") == L"ExitWindowsEx" && (flags & EWX_REBOOT) != 0 &&
            ReadString(entry.Get(), L"performed", L"").empty())
            open.push_back(name);
    }
    return open;
}

bool RebootRequested()
{
    return !OpenRebootRequests().empty();
}

// A restart, whatever brought it (the request itself, the sandbox tool, a
// power cut), answers every request made before it: after it none is left
// waiting.
void AnswerRebootRequests()
{
    std::vector<std::wstring> open = OpenRebootRequests();
    StateLock lock;
    Key record = OpenState(L"Record", false);
    for (const std::wstring& name : open) {
        Key entry;
        if (RegOpenKeyExW(record.Get(), name.c_str(), 0, KEY_ALL_ACCESS, entry.Put()) == ERROR_SUCCESS)
            WriteString(entry.Get(), L"performed", L"yes");
    }
}

}  // namespace

RebootOutcome Reboot(const wchar_t* requestedBy)
{
    AnswerRebootRequests();
    RebootOutcome outcome;
    outcome.afterPowerCut = EndSession();
    Record(L"Reboot", {{L"by", requestedBy != nullptr ? requestedBy : L"sandbox"}});
    CompleteRenames(L"PendingFileRenameOperations", &outcome);
    CompleteRenames(L"PendingFileRenameOperations2", &outcome);
    if (StartServices(&outcome))
        SignIn(&outcome);
    return outcome;
}

RebootOutcome SignInAtTheScreen(const wchar_t* user, const wchar_t* password)
{
    RebootOutcome outcome;
    if (!SessionUserName().empty()) {
        outcome.signInScreen = L"An account is signed in already.";
        return outcome;
    }
    SignInAs(user != nullptr ? user : L"", L"", password != nullptr ? password : L"", &outcome);
    return outcome;
}

bool RebootIfRequested(RebootOutcome* outcome)
{
    if (!RebootRequested())
        return false;
    RebootOutcome done = Reboot(L"ExitWindowsEx");
    if (outcome != nullptr)
        *outcome = std::move(done);
    return true;
}

void CutPowerNow(const wchar_t* when)
{
    MarkPowerCut(when != nullptr ? when : L"");
    StateLock lock;
    Key processes = OpenState(kSessionProcesses, false);
    for (const std::wstring& id : ValueNames(processes.Get())) {
        UniqueHandle process = OpenSessionProcess(id, SYNCHRONIZE | PROCESS_TERMINATE, processes.Get());
        if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.Get(), kPowerCutExitCode);
            WaitForSingleObject(process.Get(), 2000);
        }
    }
}

bool WaitForSessionPrograms(unsigned long timeoutMilliseconds)
{
    std::vector<UniqueHandle> running;
    {
        StateLock lock;
        Key processes = OpenState(kSessionProcesses, false);
        for (const std::wstring& id : ValueNames(processes.Get())) {
            UniqueHandle process = OpenSessionProcess(id, SYNCHRONIZE, processes.Get());
            if (process)
                running.push_back(std::move(process));
        }
    }
    DWORD started = GetTickCount();
    for (UniqueHandle& process : running) {
        DWORD spent = GetTickCount() - started;
        DWORD left = spent < timeoutMilliseconds ? timeoutMilliseconds - spent : 0;
        if (WaitForSingleObject(process.Get(), left) != WAIT_OBJECT_0)
            return false;
    }
    return true;
}

bool SessionProgramExitCode(unsigned long processId, unsigned long* exitCode)
{
    std::lock_guard<std::mutex> guard(StartedMutex());
    auto found = StartedHere().find(processId);
    return found != StartedHere().end() && GetExitCodeProcess(found->second.Get(), reinterpret_cast<DWORD*>(exitCode)) &&
           *exitCode != STILL_ACTIVE;
}

bool WaitForAnySessionProgram(const std::vector<unsigned long>& processIds, unsigned long timeoutMilliseconds)
{
    // Each handle duplicated under the lock, so that the wait holds none.
    std::vector<UniqueHandle> held;
    std::vector<HANDLE> waited;
    {
        std::lock_guard<std::mutex> guard(StartedMutex());
        for (unsigned long id : processIds) {
            auto found = StartedHere().find(id);
            HANDLE copy = nullptr;
            if (found == StartedHere().end() || waited.size() == MAXIMUM_WAIT_OBJECTS ||
                !DuplicateHandle(GetCurrentProcess(), found->second.Get(), GetCurrentProcess(), &copy, SYNCHRONIZE,
                                 FALSE, 0))
                continue;
            held.emplace_back(copy);
            waited.push_back(copy);
        }
    }
    if (waited.empty()) {
        Sleep(timeoutMilliseconds);
        return false;
    }
    const DWORD result =
        WaitForMultipleObjects(static_cast<DWORD>(waited.size()), waited.data(), FALSE, timeoutMilliseconds);
    return result < WAIT_OBJECT_0 + waited.size();
}

std::wstring SessionUserName()
{
    bool named = false;
    std::wstring name = MachineString(kSessionUser, L"", &named);
    return named ? name : ProcessUserName();
}

void EndSessionForReset()
{
    EndSession();
    constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
    Key manager;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, manager.Put()) == ERROR_SUCCESS) {
        RegDeleteValueW(manager.Get(), L"PendingFileRenameOperations");
        RegDeleteValueW(manager.Get(), L"PendingFileRenameOperations2");
    }
}

}  // namespace sandbox
