// TEMPORARY: see machine_record.h.
#include "tests/win/machine_record.h"

#include "platform/machine.h"

std::vector<MachineCall>& MachineCalls()
{
    static std::vector<MachineCall> calls;
    return calls;
}

namespace machine {

BOOL AbortSystemShutdownW(LPWSTR)
{
    MachineCalls().push_back(MachineCall{L"AbortSystemShutdownW", L"", 0, 0});
    return TRUE;
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo)
{
    if (pExecInfo == nullptr)
        return FALSE;
    MachineCalls().push_back(MachineCall{L"ShellExecuteExW", pExecInfo->lpFile != nullptr ? pExecInfo->lpFile : L"",
                                         pExecInfo->nShow, pExecInfo->fMask});
    pExecInfo->hProcess = nullptr;
    return TRUE;
}

}  // namespace machine
