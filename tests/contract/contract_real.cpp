// The contract tests on the real machine. They create and delete accounts,
// so they run only on a disposable Windows machine, and only when
// VANTRELL_REAL_MACHINE_CONTRACT is set to "yes-change-this-machine".
#include "contract_machine.h"

#include <windows.h>
#include <winsafer.h>

#include <cstdlib>
#include <cstring>

#include "platform/handles.h"

bool PrepareContractMachine(std::string* why)
{
    const char* consent = std::getenv("VANTRELL_REAL_MACHINE_CONTRACT");
    if (consent != nullptr && std::strcmp(consent, "yes-change-this-machine") == 0)
        return true;
    *why = "the real machine is changed only with VANTRELL_REAL_MACHINE_CONTRACT=yes-change-this-machine";
    return false;
}

std::wstring ScratchAccountName(const wchar_t* base)
{
    // Short enough for the 20-character limit, and plainly a test's own.
    return std::wstring(L"vtc") + base;
}

// The token the system gives a standard user's program: the process's own
// with the Administrators group for denying only and its privileges gone.
bool AsStandardUser()
{
    SAFER_LEVEL_HANDLE level = nullptr;
    UniqueHandle token;
    const bool made = SaferCreateLevel(SAFER_SCOPEID_USER, SAFER_LEVELID_NORMALUSER, SAFER_LEVEL_OPEN, &level, nullptr) &&
                      SaferComputeTokenFromLevel(level, nullptr, token.Put(), 0, nullptr);
    if (level != nullptr)
        SaferCloseLevel(level);
    return made && ImpersonateLoggedOnUser(token.Get());
}

void AsAdministrator()
{
    RevertToSelf();
}
