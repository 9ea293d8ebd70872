// The repair's finish as a service of the machine: registered by the fix
// run's hand-over to start once with the machine, as SYSTEM, so that what
// still needs an administrator after the hand-over never runs in the
// repaired account's session.
#pragma once

#include "repair/cleanup.h"

inline constexpr wchar_t kFinishServiceName[] = L"BrenwickFinish";

// Registers the finish to start automatically as SYSTEM with the program at
// `programPath` ("/brenwick /finish"), which is the tool folder's protected
// copy; true when it is registered. A service of the name that is already
// there (an earlier pass's, or anyone's) is replaced; false when it cannot be.
bool RegisterFinishService(const wchar_t* programPath);

// The run the service manager starts: connects as the service, finishes the
// repair (FinishRepair) and, once nothing is left, deletes the service so
// that no later start runs it. 0; -5 when this process was not started by
// the service manager (nothing is done then).
int RunFinishService(const CleanupInput& input);
