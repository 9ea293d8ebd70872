// The simulated service control manager: services registered to start
// with the machine, kept in the machine's state under "Services\<name>".
// The restart starts those set to start automatically (see Reboot); the
// program it starts connects through the dispatcher as a real service does.
#include "platform/machine.h"

#include <memory>
#include <mutex>
#include <string>

#include "sandbox/sandbox.h"
#include "sandbox/state.h"

namespace {

constexpr wchar_t kServices[] = L"Services";

// What a handle of the simulated manager stands for.
struct ServiceObject {
    bool manager = false;
    std::wstring name;   // the service's, as registered
};

SC_HANDLE AsHandle(ServiceObject* object)
{
    return reinterpret_cast<SC_HANDLE>(object);
}

ServiceObject* AsObject(SC_HANDLE handle)
{
    return reinterpret_cast<ServiceObject*>(handle);
}

std::wstring ServiceKey(const std::wstring& name)
{
    return std::wstring(kServices) + L"\\" + name;
}

// The registered name of a service, found without regard to case; empty
// when there is none.
std::wstring RegisteredName(const wchar_t* name)
{
    sandbox::Key services = sandbox::OpenState(kServices, false);
    for (const std::wstring& found : sandbox::SubkeyNames(services.Get()))
        if (_wcsicmp(found.c_str(), name) == 0)
            return found;
    return std::wstring();
}

// The service this process was started for by the simulated restart.
std::wstring ServiceOfThisProcess()
{
    sandbox::StateLock lock;
    sandbox::Key services = sandbox::OpenState(kServices, false);
    for (const std::wstring& name : sandbox::SubkeyNames(services.Get())) {
        sandbox::Key service = sandbox::OpenState(ServiceKey(name), false);
        if (sandbox::ReadDword(service.Get(), L"ProcessId", 0) == GetCurrentProcessId())
            return name;
    }
    return std::wstring();
}

int gStatusHandle = 0;   // the one status handle a process's service gets

}  // namespace

namespace machine {

SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR, DWORD dwDesiredAccess)
{
    if (lpMachineName != nullptr && *lpMachineName != L'\0') {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    // Only administrators may register services.
    if ((dwDesiredAccess & SC_MANAGER_CREATE_SERVICE) != 0 && sandbox::MachineDword(sandbox::kElevated, 1) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto* object = new ServiceObject;
    object->manager = true;
    return AsHandle(object);
}

SC_HANDLE CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName, DWORD,
                         DWORD dwServiceType, DWORD dwStartType, DWORD, LPCWSTR lpBinaryPathName, LPCWSTR,
                         LPDWORD, LPCWSTR, LPCWSTR lpServiceStartName, LPCWSTR)
{
    ServiceObject* manager = AsObject(hSCManager);
    if (manager == nullptr || !manager->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (lpServiceName == nullptr || *lpServiceName == L'\0' || wcschr(lpServiceName, L'\\') != nullptr ||
        wcschr(lpServiceName, L'/') != nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    if (lpBinaryPathName == nullptr || *lpBinaryPathName == L'\0' || dwStartType > SERVICE_DISABLED) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    {
        sandbox::StateLock lock;
        std::wstring existing = RegisteredName(lpServiceName);
        if (!existing.empty()) {
            sandbox::Key service = sandbox::OpenState(ServiceKey(existing), false);
            SetLastError(sandbox::ReadDword(service.Get(), L"Deleted", 0) != 0 ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                                                : ERROR_SERVICE_EXISTS);
            return nullptr;
        }
        sandbox::Key service = sandbox::OpenState(ServiceKey(lpServiceName), true);
        sandbox::WriteString(service.Get(), L"BinaryPath", lpBinaryPathName);
        sandbox::WriteString(service.Get(), L"DisplayName", lpDisplayName != nullptr ? lpDisplayName : lpServiceName);
        sandbox::WriteString(service.Get(), L"StartName",
                             lpServiceStartName != nullptr ? lpServiceStartName : L"LocalSystem");
        sandbox::WriteDword(service.Get(), L"Type", dwServiceType);
        sandbox::WriteDword(service.Get(), L"StartType", dwStartType);
    }
    sandbox::Record(L"CreateServiceW", {{L"name", lpServiceName}, {L"binary", lpBinaryPathName}});
    sandbox::PassMachineCall(L"CreateServiceW");
    auto* object = new ServiceObject;
    object->name = lpServiceName;
    return AsHandle(object);
}

SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD)
{
    ServiceObject* manager = AsObject(hSCManager);
    if (manager == nullptr || !manager->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    sandbox::StateLock lock;
    std::wstring name = lpServiceName != nullptr ? RegisteredName(lpServiceName) : std::wstring();
    if (name.empty()) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    auto* object = new ServiceObject;
    object->name = name;
    return AsHandle(object);
}

BOOL DeleteService(SC_HANDLE hService)
{
    ServiceObject* object = AsObject(hService);
    if (object == nullptr || object->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        sandbox::StateLock lock;
        sandbox::Key service = sandbox::OpenState(ServiceKey(object->name), false);
        if (!service || sandbox::ReadDword(service.Get(), L"Deleted", 0) != 0) {
            SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
            return FALSE;
        }
        // A running service goes once it has stopped.
        if (sandbox::ReadDword(service.Get(), L"State", SERVICE_STOPPED) != SERVICE_STOPPED)
            sandbox::WriteDword(service.Get(), L"Deleted", 1);
        else
            sandbox::DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(sandbox::kStateKey) + L"\\" + ServiceKey(object->name));
    }
    sandbox::Record(L"DeleteService", {{L"name", object->name}});
    sandbox::PassMachineCall(L"DeleteService");
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject)
{
    if (hSCObject == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete AsObject(hSCObject);
    return TRUE;
}

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable)
{
    std::wstring name = ServiceOfThisProcess();
    if (name.empty()) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    if (lpServiceStartTable == nullptr || lpServiceStartTable->lpServiceProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A service of its own process: the manager starts the table's first
    // entry on a thread of the dispatcher and returns once it has ended.
    std::wstring argument = name;
    LPWSTR arguments[] = {&argument[0]};
    LPSERVICE_MAIN_FUNCTIONW main = lpServiceStartTable->lpServiceProc;
    struct Start {
        LPSERVICE_MAIN_FUNCTIONW main;
        LPWSTR* arguments;
    } start{main, arguments};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID parameter) -> DWORD {
            auto* s = static_cast<Start*>(parameter);
            s->main(1, s->arguments);
            return 0;
        },
        &start, 0, nullptr);
    if (thread == nullptr)
        return FALSE;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR lpServiceName, LPHANDLER_FUNCTION_EX lpHandlerProc, LPVOID)
{
    std::wstring name = ServiceOfThisProcess();
    if (name.empty() || lpServiceName == nullptr || _wcsicmp(name.c_str(), lpServiceName) != 0 ||
        lpHandlerProc == nullptr) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(&gStatusHandle);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus)
{
    std::wstring name = ServiceOfThisProcess();
    if (hServiceStatus != reinterpret_cast<SERVICE_STATUS_HANDLE>(&gStatusHandle) || name.empty() ||
        lpServiceStatus == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sandbox::StateLock lock;
    sandbox::Key service = sandbox::OpenState(ServiceKey(name), false);
    sandbox::WriteDword(service.Get(), L"State", lpServiceStatus->dwCurrentState);
    sandbox::WriteDword(service.Get(), L"ExitCode", lpServiceStatus->dwWin32ExitCode);
    if (lpServiceStatus->dwCurrentState == SERVICE_STOPPED && sandbox::ReadDword(service.Get(), L"Deleted", 0) != 0) {
        service.Reset();
        sandbox::DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(sandbox::kStateKey) + L"\\" + ServiceKey(name));
    }
    return TRUE;
}

}  // namespace machine
