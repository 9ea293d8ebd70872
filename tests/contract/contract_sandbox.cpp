// The contract tests on the simulated machine: a fresh default scenario for
// every test.
#include "contract_machine.h"

#include "sandbox/sandbox.h"

bool PrepareContractMachine(std::string* why)
{
    std::wstring error;
    if (sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error))
        return true;
    *why = "the default scenario cannot be loaded: " + std::string(error.begin(), error.end());
    return false;
}

std::wstring ScratchAccountName(const wchar_t* base)
{
    return base;
}

bool AsStandardUser()
{
    sandbox::SetElevated(false);
    return true;
}

void AsAdministrator()
{
    sandbox::SetElevated(true);
}
