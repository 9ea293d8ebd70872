// The simulated console session, sign-in and profiles, the shell's account
// and folder setters, and the actions that are recorded instead of done.
#include "platform/machine.h"

#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <map>
#include <new>
#include <string>

#include "sandbox/profiles.h"
#include "sandbox/session_user.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"

namespace {

using sandbox::Account;

// The console session is the one this process runs in, as on a desktop where
// the administrator starts the program.
DWORD ConsoleSession()
{
    DWORD session = 1;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

// The hive roots handed out by LoadUserProfileW in this process, by SID.
std::map<HKEY, std::wstring>& LoadedProfiles()
{
    static std::map<HKEY, std::wstring> loaded;
    return loaded;
}

std::wstring ConsoleUserName(bool* present)
{
    bool named = false;
    std::wstring name = sandbox::MachineString(sandbox::kConsoleUser, L"", &named);
    if (!named)
        name = sandbox::ProcessUserName();
    *present = !name.empty();
    return name;
}

std::wstring TextOrEmpty(LPCWSTR text)
{
    return text != nullptr ? text : L"";
}

bool IsAdministratorsSid(PSID sid)
{
    return sid != nullptr && IsValidSid(sid) && IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// The SID string of an account given by name; empty when there is none.
std::wstring SidOfAccount(LPCWSTR name)
{
    Account account;
    if (name == nullptr || !sandbox::FindAccount(name, &account))
        return L"";
    return sandbox::AccountSid(account.rid);
}

// The shell folders of the current user, by known-folder id or CSIDL, and the
// value that names each in the user's "User Shell Folders" key.
struct FolderName {
    const KNOWNFOLDERID* id;
    int csidl;
    const wchar_t* value;
};
const FolderName kFolders[] = {
    {&FOLDERID_Desktop, CSIDL_DESKTOPDIRECTORY, L"Desktop"},
    {&FOLDERID_Documents, CSIDL_PERSONAL, L"Personal"},
    {&FOLDERID_Music, CSIDL_MYMUSIC, L"My Music"},
    {&FOLDERID_Pictures, CSIDL_MYPICTURES, L"My Pictures"},
    {&FOLDERID_Videos, CSIDL_MYVIDEO, L"My Video"},
    {&FOLDERID_Favorites, CSIDL_FAVORITES, L"Favorites"},
    {&FOLDERID_Downloads, -1, L"{374DE290-123F-4565-9164-39C4925E467B}"},
};

const wchar_t* FolderValue(const KNOWNFOLDERID* id, int csidl)
{
    for (const FolderName& folder : kFolders) {
        if ((id != nullptr && IsEqualGUID(*id, *folder.id)) ||
            (id == nullptr && (csidl & ~CSIDL_FLAG_MASK) == folder.csidl))
            return folder.value;
    }
    if (id == nullptr && (csidl & ~CSIDL_FLAG_MASK) == CSIDL_DESKTOP)
        return L"Desktop";
    return nullptr;
}

// What the shell's setters do for the current user: both registry lists name
// the new place, and the folder exists.
HRESULT SetUserFolder(const wchar_t* value, HANDLE token, LPCWSTR path, const wchar_t* how)
{
    if (value == nullptr || path == nullptr || *path == L'\0')
        return E_INVALIDARG;
    if (token != nullptr)
        return E_ACCESSDENIED;   // only the running account's folders are simulated
    if (PathIsRelativeW(path))
        return E_INVALIDARG;
    SHCreateDirectoryExW(nullptr, path, nullptr);
    const wchar_t* lists[] = {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                              L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"};
    // After a simulated sign-in the current user is the session's account,
    // whose settings live in its own hive.
    sandbox::Account session;
    sandbox::Key sessionHive;
    std::wstring sessionSid;
    if (sandbox::SessionAccount(&session)) {
        sessionSid = sandbox::AccountSid(session.rid);
        sessionHive = sandbox::OpenUserHive(sessionSid);
        if (!sessionHive)
            return E_FAIL;
    }
    HKEY root = sessionHive ? sessionHive.Get() : HKEY_CURRENT_USER;
    for (int i = 0; i < 2; ++i) {
        sandbox::Key key;
        if (RegCreateKeyExW(root, lists[i], 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr) !=
                ERROR_SUCCESS ||
            !sandbox::WriteString(key.Get(), value, path, i == 0 ? REG_EXPAND_SZ : REG_SZ))
            return E_FAIL;
    }
    if (sessionHive)
        sandbox::FlushHive(sessionSid);
    sandbox::Record(L"SetFolderPath", {{L"folder", value}, {L"path", path}, {L"by", how}});
    return S_OK;
}

HRESULT WINAPI SimulatedCreateProfile(LPCWSTR pszUserSid, LPCWSTR pszUserName, LPWSTR pszProfilePath,
                                      DWORD cchProfilePath)
{
    if (pszUserSid == nullptr || pszUserName == nullptr)
        return E_INVALIDARG;
    Account account;
    if (!sandbox::FindAccount(pszUserName, &account) || sandbox::AccountSid(account.rid) != pszUserSid)
        return HRESULT_FROM_WIN32(ERROR_NONE_MAPPED);
    std::wstring folder;
    DWORD status = sandbox::MakeProfile(pszUserSid, account.name, &folder);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    if (pszProfilePath != nullptr && cchProfilePath > 0)
        lstrcpynW(pszProfilePath, folder.c_str(), static_cast<int>(cchProfilePath));
    return S_OK;
}

// Ordinal 233: the picture's path in a buffer of MAX_PATH characters.
HRESULT WINAPI SimulatedGetPicture(LPCWSTR userName, DWORD, LPWSTR path)
{
    std::wstring picture;
    if (userName == nullptr || path == nullptr || !sandbox::FindAccountPicture(userName, &picture))
        return E_INVALIDARG;
    if (picture.empty() || picture.size() >= MAX_PATH)
        return E_FAIL;
    wcscpy_s(path, MAX_PATH, picture.c_str());
    return S_OK;
}

// Ordinal 810: the same with the buffer's length.
HRESULT WINAPI SimulatedGetPictureEx(LPCWSTR userName, DWORD, LPCWSTR, LPWSTR path, UINT pathLength, LPCWSTR, DWORD)
{
    std::wstring picture;
    if (userName == nullptr || path == nullptr || !sandbox::FindAccountPicture(userName, &picture))
        return E_INVALIDARG;
    if (picture.empty())
        return E_FAIL;
    if (picture.size() >= pathLength)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    wcscpy_s(path, pathLength, picture.c_str());
    return S_OK;
}

// Ordinal 262: the file becomes the account's picture (the shell keeps a copy).
HRESULT WINAPI SimulatedSetPicture(LPCWSTR userName, DWORD, LPCWSTR file)
{
    sandbox::StateLock lock;
    Account account;
    if (userName == nullptr || file == nullptr || !sandbox::FindAccount(userName, &account))
        return E_INVALIDARG;
    std::wstring copy = sandbox::PictureFolder() + L"\\" + account.name + L".bmp";
    SHCreateDirectoryExW(nullptr, sandbox::PictureFolder().c_str(), nullptr);
    if (!CopyFileW(file, copy.c_str(), FALSE))
        return HRESULT_FROM_WIN32(GetLastError());
    account.picture = copy;
    sandbox::SaveAccount(account);
    sandbox::Record(L"SetAccountPicture", {{L"account", account.name}, {L"file", file}});
    return S_OK;
}

HRESULT WINAPI SimulatedSetFolderPath(int csidl, HANDLE token, DWORD, LPCWSTR path)
{
    return SetUserFolder(FolderValue(nullptr, csidl), token, path, L"232");
}

HRESULT WINAPI SimulatedSetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD, HANDLE hToken, PCWSTR pszPath)
{
    return SetUserFolder(FolderValue(&rfid, 0), hToken, pszPath, L"SHSetKnownFolderPath");
}

BOOL WINAPI SimulatedBlockReasonCreate(HWND hWnd, LPCWSTR pwszReason)
{
    if (!IsWindow(hWnd) || pwszReason == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sandbox::Record(L"ShutdownBlockReasonCreate",
                    {{L"window", std::to_wstring(reinterpret_cast<ULONG_PTR>(hWnd))}, {L"reason", pwszReason}});
    return TRUE;
}

BOOL WINAPI SimulatedBlockReasonDestroy(HWND hWnd)
{
    if (!IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sandbox::Record(L"ShutdownBlockReasonDestroy", {{L"window", std::to_wstring(reinterpret_cast<ULONG_PTR>(hWnd))}});
    return TRUE;
}

template <typename Function>
FARPROC ToFarProc(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

bool ModuleIs(HMODULE module, const wchar_t* name)
{
    HMODULE loaded = GetModuleHandleW(name);
    return loaded != nullptr && loaded == module;
}

// The system's known-folder manager with the one call that would change the
// machine answered by the simulation.
class SimulatedFolderManager : public IKnownFolderManager {
public:
    explicit SimulatedFolderManager(IKnownFolderManager* system) : system_(system) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKnownFolderManager)) {
            *object = static_cast<IKnownFolderManager*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            system_->Release();
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE FolderIdFromCsidl(int csidl, KNOWNFOLDERID* id) override
    {
        return system_->FolderIdFromCsidl(csidl, id);
    }
    HRESULT STDMETHODCALLTYPE FolderIdToCsidl(REFKNOWNFOLDERID id, int* csidl) override
    {
        return system_->FolderIdToCsidl(id, csidl);
    }
    HRESULT STDMETHODCALLTYPE GetFolderIds(KNOWNFOLDERID** ids, UINT* count) override
    {
        return system_->GetFolderIds(ids, count);
    }
    HRESULT STDMETHODCALLTYPE GetFolder(REFKNOWNFOLDERID id, IKnownFolder** folder) override
    {
        return system_->GetFolder(id, folder);
    }
    HRESULT STDMETHODCALLTYPE GetFolderByName(LPCWSTR name, IKnownFolder** folder) override
    {
        return system_->GetFolderByName(name, folder);
    }
    HRESULT STDMETHODCALLTYPE RegisterFolder(REFKNOWNFOLDERID, const KNOWNFOLDER_DEFINITION*) override
    {
        return E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE UnregisterFolder(REFKNOWNFOLDERID) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE FindFolderFromPath(LPCWSTR path, FFFP_MODE mode, IKnownFolder** folder) override
    {
        return system_->FindFolderFromPath(path, mode, folder);
    }
    HRESULT STDMETHODCALLTYPE FindFolderFromIDList(PCIDLIST_ABSOLUTE list, IKnownFolder** folder) override
    {
        return system_->FindFolderFromIDList(list, folder);
    }
    HRESULT STDMETHODCALLTYPE Redirect(REFKNOWNFOLDERID id, HWND, KF_REDIRECT_FLAGS, LPCWSTR path, UINT,
                                       const KNOWNFOLDERID*, LPWSTR* error) override
    {
        if (error != nullptr)
            *error = nullptr;
        if (sandbox::MachineDword(sandbox::kFolderRedirect, 1) == 0)
            return E_NOTIMPL;
        return SetUserFolder(FolderValue(&id, 0), nullptr, path, L"Redirect");
    }

private:
    virtual ~SimulatedFolderManager() = default;
    IKnownFolderManager* system_;   // owned: released with the last reference
    LONG references_ = 1;
};

bool IsWebAddress(const wchar_t* file)
{
    return _wcsnicmp(file, L"http://", 7) == 0 || _wcsnicmp(file, L"https://", 8) == 0;
}

}  // namespace

namespace machine {

DWORD WTSGetActiveConsoleSessionId()
{
    bool present = false;
    ConsoleUserName(&present);
    return present ? ConsoleSession() : 0xFFFFFFFF;
}

BOOL WTSQuerySessionInformationW(HANDLE hServer, DWORD SessionId, WTS_INFO_CLASS WTSInfoClass, LPWSTR* ppBuffer,
                                 DWORD* pBytesReturned)
{
    if (ppBuffer == nullptr || pBytesReturned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool present = false;
    std::wstring user = ConsoleUserName(&present);
    if (hServer != WTS_CURRENT_SERVER_HANDLE || !present ||
        (SessionId != ConsoleSession() && SessionId != WTS_CURRENT_SESSION)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::wstring answer;
    if (WTSInfoClass == WTSUserName) {
        answer = user;
    } else if (WTSInfoClass == WTSDomainName) {
        wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
        DWORD length = ARRAYSIZE(computer);
        GetComputerNameW(computer, &length);
        answer = computer;
    } else {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    DWORD bytes = static_cast<DWORD>((answer.size() + 1) * sizeof(wchar_t));
    LPWSTR buffer = static_cast<LPWSTR>(LocalAlloc(LPTR, bytes));
    if (buffer == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    memcpy(buffer, answer.c_str(), bytes);
    *ppBuffer = buffer;
    *pBytesReturned = bytes;
    return TRUE;
}

void WTSFreeMemory(PVOID pMemory)
{
    if (pMemory != nullptr)
        LocalFree(pMemory);
}

BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember)
{
    // The elevation test: whether this process runs elevated is the machine's setting.
    if (TokenHandle == nullptr && IsAdministratorsSid(SidToCheck) && IsMember != nullptr) {
        *IsMember = sandbox::MachineDword(sandbox::kElevated, 1) != 0;
        return TRUE;
    }
    return ::CheckTokenMembership(TokenHandle, SidToCheck, IsMember);
}

BOOL LogonUserW(LPCWSTR lpszUsername, LPCWSTR lpszDomain, LPCWSTR lpszPassword, DWORD dwLogonType,
                DWORD dwLogonProvider, PHANDLE phToken)
{
    if (phToken == nullptr || lpszUsername == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phToken = nullptr;
    if (dwLogonProvider != LOGON32_PROVIDER_DEFAULT && dwLogonProvider != LOGON32_PROVIDER_WINNT50) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sandbox::StateLock lock;
    Account account;
    bool localDomain = lpszDomain == nullptr || wcscmp(lpszDomain, L".") == 0;
    bool found = localDomain && sandbox::FindAccount(lpszUsername, &account);
    bool matches = found && (lpszPassword == nullptr || *lpszPassword == L'\0'
                                 ? !account.hasPassword
                                 : account.hasPassword &&
                                       sandbox::HashPassword(account.rid, lpszPassword) == account.passwordHash);
    if (!matches) {
        // Counted against the account until its next sign-in.
        if (found) {
            account.badPasswordCount += 1;
            sandbox::SaveAccount(account);
        }
        SetLastError(ERROR_LOGON_FAILURE);
        return FALSE;
    }
    if ((account.flags & UF_ACCOUNTDISABLE) != 0) {
        SetLastError(ERROR_ACCOUNT_DISABLED);
        return FALSE;
    }
    if ((account.flags & UF_LOCKOUT) != 0) {
        SetLastError(ERROR_ACCOUNT_LOCKED_OUT);
        return FALSE;
    }
    if (account.passwordExpired) {
        SetLastError(ERROR_PASSWORD_EXPIRED);
        return FALSE;
    }
    if (dwLogonType == LOGON32_LOGON_INTERACTIVE) {
        for (const std::wstring& right : sandbox::RightsOf(sandbox::AccountSid(account.rid))) {
            if (_wcsicmp(right.c_str(), L"SeDenyInteractiveLogonRight") == 0) {
                SetLastError(ERROR_LOGON_TYPE_NOT_GRANTED);
                return FALSE;
            }
        }
    }
    // A real token to hand out and close; the account is told apart by name later.
    UniqueHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, own.Put()) ||
        !DuplicateTokenEx(own.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, phToken))
        return FALSE;
    account.lastLogon = sandbox::Now();
    account.logonCount += 1;
    account.badPasswordCount = 0;
    sandbox::SaveAccount(account);
    return TRUE;
}

BOOL LoadUserProfileW(HANDLE hToken, LPPROFILEINFOW lpProfileInfo)
{
    if (hToken == nullptr || lpProfileInfo == nullptr || lpProfileInfo->dwSize != sizeof(PROFILEINFOW) ||
        lpProfileInfo->lpUserName == nullptr || *lpProfileInfo->lpUserName == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sandbox::StateLock lock;
    std::wstring sid = SidOfAccount(lpProfileInfo->lpUserName);
    if (sid.empty()) {
        SetLastError(ERROR_NO_SUCH_USER);
        return FALSE;
    }
    if (sandbox::ProfileFolderOf(sid).empty()) {
        Account account;
        sandbox::FindAccount(lpProfileInfo->lpUserName, &account);
        DWORD made = sandbox::MakeProfile(sid, account.name, nullptr);
        if (made != ERROR_SUCCESS) {
            SetLastError(made);
            return FALSE;
        }
    }
    HKEY root = nullptr;
    DWORD status = sandbox::LoadProfile(sid, &root);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return FALSE;
    }
    LoadedProfiles()[root] = sid;
    lpProfileInfo->hProfile = root;
    return TRUE;
}

BOOL UnloadUserProfile(HANDLE hToken, HANDLE hProfile)
{
    if (hToken == nullptr || hProfile == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sandbox::StateLock lock;
    auto loaded = LoadedProfiles().find(static_cast<HKEY>(hProfile));
    if (loaded == LoadedProfiles().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::wstring sid = loaded->second;
    LoadedProfiles().erase(loaded);
    sandbox::UnloadProfile(sid, static_cast<HKEY>(hProfile));
    return TRUE;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (hModule == nullptr || lpProcName == nullptr)
        return ::GetProcAddress(hModule, lpProcName);
    if (IS_INTRESOURCE(lpProcName)) {
        if (ModuleIs(hModule, L"shell32.dll")) {
            switch (LOWORD(reinterpret_cast<ULONG_PTR>(lpProcName))) {
            case kGetPictureOrdinal: return ToFarProc(SimulatedGetPicture);
            case kGetPictureExOrdinal: return ToFarProc(SimulatedGetPictureEx);
            case kSetPictureOrdinal: return ToFarProc(SimulatedSetPicture);
            case kSetFolderPathOrdinal:
                if (sandbox::MachineDword(sandbox::kFolderPathSetter, 1) == 0) {
                    SetLastError(ERROR_PROC_NOT_FOUND);
                    return nullptr;
                }
                return ToFarProc(SimulatedSetFolderPath);
            }
        }
        return ::GetProcAddress(hModule, lpProcName);
    }
    if (strcmp(lpProcName, "CreateProfile") == 0 && ModuleIs(hModule, L"userenv.dll")) {
        if (sandbox::MachineDword(sandbox::kProfileService, 1) == 0) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return ToFarProc(SimulatedCreateProfile);
    }
    if (strcmp(lpProcName, "SHSetKnownFolderPath") == 0 && ModuleIs(hModule, L"shell32.dll")) {
        if (sandbox::MachineDword(sandbox::kKnownFolderSetter, 1) == 0) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return ToFarProc(SimulatedSetKnownFolderPath);
    }
    if (ModuleIs(hModule, L"user32.dll")) {
        if (strcmp(lpProcName, "ShutdownBlockReasonCreate") == 0)
            return ToFarProc(SimulatedBlockReasonCreate);
        if (strcmp(lpProcName, "ShutdownBlockReasonDestroy") == 0)
            return ToFarProc(SimulatedBlockReasonDestroy);
    }
    return ::GetProcAddress(hModule, lpProcName);
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv)
{
    if (!IsEqualCLSID(rclsid, CLSID_KnownFolderManager))
        return ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, riid, ppv);
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    IKnownFolderManager* system = nullptr;
    HRESULT created = ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, IID_IKnownFolderManager,
                                         reinterpret_cast<void**>(&system));
    if (FAILED(created))
        return created;
    SimulatedFolderManager* manager = new (std::nothrow) SimulatedFolderManager(system);
    if (manager == nullptr) {
        system->Release();
        return E_OUTOFMEMORY;
    }
    HRESULT answered = manager->QueryInterface(riid, ppv);
    manager->Release();
    return answered;
}

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason)
{
    // Refused as the system refuses a caller without the shutdown
    // privilege: nothing is recorded, so no reboot follows.
    if (DWORD failure = sandbox::ForcedFailure(L"ExitWindowsEx")) {
        SetLastError(failure);
        return FALSE;
    }
    sandbox::Record(L"ExitWindowsEx", {{L"flags", std::to_wstring(uFlags)}, {L"reason", std::to_wstring(dwReason)}});
    sandbox::PassMachineCall(L"ExitWindowsEx");
    return TRUE;
}

BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni)
{
    if (uiAction != SPI_GETHIGHCONTRAST)
        return ::SystemParametersInfoW(uiAction, uiParam, pvParam, fWinIni);
    // As the system answers: the structure's own size is checked, and the
    // scheme's name is the system's to keep.
    auto* contrast = static_cast<HIGHCONTRASTW*>(pvParam);
    if (contrast == nullptr || contrast->cbSize != sizeof(HIGHCONTRASTW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    static wchar_t scheme[] = L"High Contrast Black";
    bool on = sandbox::MachineDword(sandbox::kHighContrast, 0) != 0;
    contrast->dwFlags = HCF_AVAILABLE | HCF_HOTKEYAVAILABLE | (on ? HCF_HIGHCONTRASTON : 0);
    contrast->lpszDefaultScheme = on ? scheme : nullptr;
    return TRUE;
}

BOOL AbortSystemShutdownW(LPWSTR lpMachineName)
{
    sandbox::Record(L"AbortSystemShutdownW", {{L"machine", TextOrEmpty(lpMachineName)}});
    return TRUE;
}

BOOL RefreshPolicyEx(BOOL bMachine, DWORD dwOptions)
{
    sandbox::Record(L"RefreshPolicyEx", {{L"machine", std::to_wstring(bMachine ? 1 : 0)}, {L"options", std::to_wstring(dwOptions)}});
    sandbox::PassMachineCall(L"RefreshPolicyEx");
    return TRUE;
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo)
{
    if (pExecInfo == nullptr || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pExecInfo->hProcess = nullptr;
    if (pExecInfo->lpFile == nullptr || *pExecInfo->lpFile == L'\0') {
        pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(SE_ERR_FNF);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // Without a browser a web address has no program to open it: the
    // attempt is recorded as refused.
    if (sandbox::MachineDword(sandbox::kWebBrowser, 1) == 0 && IsWebAddress(pExecInfo->lpFile)) {
        sandbox::Record(L"ShellExecuteExW", {{L"file", TextOrEmpty(pExecInfo->lpFile)},
                                             {L"refused", std::to_wstring(static_cast<unsigned>(ERROR_NO_ASSOCIATION))}});
        pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC);
        SetLastError(ERROR_NO_ASSOCIATION);
        return FALSE;
    }
    sandbox::Record(L"ShellExecuteExW", {{L"verb", TextOrEmpty(pExecInfo->lpVerb)},
                                         {L"file", TextOrEmpty(pExecInfo->lpFile)},
                                         {L"parameters", TextOrEmpty(pExecInfo->lpParameters)},
                                         {L"directory", TextOrEmpty(pExecInfo->lpDirectory)},
                                         {L"show", std::to_wstring(static_cast<unsigned>(pExecInfo->nShow))},
                                         {L"mask", std::to_wstring(pExecInfo->fMask)}});
    pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(33));   // above 32: started
    sandbox::PassMachineCall(L"ShellExecuteExW");
    return TRUE;
}

}  // namespace machine
