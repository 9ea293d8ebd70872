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

// The profile list's own cost: every entry of the list opened and its
// folder's value read, as any reader of the profiles pays it. The number of
// entries.
inline DWORD WalkProfileList()
{
    HKEY list = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                      KEY_READ | KEY_WOW64_64KEY, &list) != ERROR_SUCCESS)
        return 0;
    DWORD entries = 0;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(list, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY entry = nullptr;
        if (RegOpenKeyExW(list, name, 0, KEY_READ, &entry) != ERROR_SUCCESS)
            continue;
        wchar_t path[MAX_PATH];
        DWORD bytes = sizeof(path);
        RegQueryValueExW(entry, L"ProfileImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &bytes);
        RegCloseKey(entry);
        ++entries;
    }
    RegCloseKey(list);
    return entries;
}
