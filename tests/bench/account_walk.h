// The account database's own cost, as any lister of accounts pays it: one
// bare NetUserEnum walk at level 3 over every page. The benchmarks measure
// what the product does against this floor.
#pragma once

#include <windows.h>
#include <lm.h>

#include "platform/machine.h"

// The number of accounts the walk went over.
inline DWORD WalkEveryAccount()
{
    DWORD resume = 0, accounts = 0;
    NET_API_STATUS status;
    do {
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        status = machine::NetUserEnum(nullptr, 3, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
        if (buffer != nullptr)
            machine::NetApiBufferFree(buffer);
        accounts += read;
    } while (status == ERROR_MORE_DATA);
    return accounts;
}
