// The machine a contract test runs on. The contract tests only call the
// machine boundary, so the same tests run on the simulated machine (always)
// and on a real, disposable Windows machine (only when asked for).
#pragma once

#include <string>

// Brings the machine to a known state; false when the suite must not run here
// (the reason is in `why`).
bool PrepareContractMachine(std::string* why);

// A name for an account the test makes and removes again.
std::wstring ScratchAccountName(const wchar_t* base);

// From here on this thread calls the machine as a standard user (on the real
// machine through a standard user's token made from the process's own, on
// the simulated machine through its elevation switch), until
// AsAdministrator; false when that cannot be arranged.
bool AsStandardUser();
void AsAdministrator();
