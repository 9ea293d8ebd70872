#include "repair/finish_service.h"
#include "repair/repair_rules.h"

#include <windows.h>

#include "platform/machine.h"
#include "platform/text.h"

namespace {

constexpr int kNotAService = -5;

// What the service's own thread works with; set before the dispatcher runs.
CleanupInput gInput;
SERVICE_STATUS_HANDLE gStatus = nullptr;

void ReportServiceState(DWORD state)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = 0;   // it cannot be stopped half-way
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = state == SERVICE_RUNNING ? 0 : 30000;
    machine::SetServiceStatus(gStatus, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID)
{
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void DeleteOwnService()
{
    UniqueServiceHandle manager(machine::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service;
    if (manager)
        service.Reset(machine::OpenServiceW(manager.Get(), kFinishServiceName, DELETE));
    if (service)
        machine::DeleteService(service.Get());
}

void WINAPI FinishMain(DWORD, LPWSTR*)
{
    gStatus = machine::RegisterServiceCtrlHandlerExW(kFinishServiceName, Control, nullptr);
    if (gStatus == nullptr)
        return;
    ReportServiceState(SERVICE_RUNNING);
    try {
        // Deleted only once nothing is left: a finish cut by a power failure
        // runs again at the next start.
        if (FinishRepair(gInput) == FinishResult::Done)
            DeleteOwnService();
    } catch (...) {
        // Nothing may leave the service's thread; the next start tries again.
    }
    ReportServiceState(SERVICE_STOPPED);
}

}  // namespace

bool RegisterFinishService(const wchar_t* programPath)
{
    if (programPath == nullptr || *programPath == L'\0')
        return false;
    UniqueServiceHandle manager(machine::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager)
        return false;
    WString command(L"\"");
    command.Append(programPath, L"\" ", RepairArguments(RepairStart::Finish).Text());
    // No account named: the service runs as SYSTEM.
    const auto create = [&] {
        return machine::CreateServiceW(manager.Get(), kFinishServiceName, L"Brenwick: completes a profile repair",
                                       SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_NORMAL, command.Text(), nullptr, nullptr, nullptr, nullptr, nullptr);
    };
    UniqueServiceHandle service(create());
    if (service || GetLastError() != ERROR_SERVICE_EXISTS)
        return static_cast<bool>(service);
    // One of the name is there: an earlier pass's, or anyone's, whose
    // program and account nothing vouches for. It is replaced; one that
    // cannot go (running, or held open) leaves the registration refused.
    UniqueServiceHandle existing(machine::OpenServiceW(manager.Get(), kFinishServiceName, DELETE));
    if (!existing || !machine::DeleteService(existing.Get()))
        return false;
    existing.Reset();   // deleted once its last handle is closed
    service.Reset(create());
    return static_cast<bool>(service);
}

int RunFinishService(const CleanupInput& input)
{
    gInput = input;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kFinishServiceName), FinishMain}, {nullptr, nullptr}};
    return machine::StartServiceCtrlDispatcherW(table) ? 0 : kNotAService;
}
