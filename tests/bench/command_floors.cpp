// The two floors of the command-mode benchmark (scripts/bench-cli.sh), as
// console programs started the way the command is started:
//   command_floors enum   one bare NetUserEnum walk at level 3 over every
//                         page of the simulated machine, each name written
//   command_floors profiles  one bare walk of the profile list (each entry's
//                         folder and its load and unload times) and the
//                         same account walk, each folder written
//   command_floors hello  a minimal console program: one line written
#include <windows.h>
#include <lm.h>

#include <cstdio>
#include <cwchar>

#include "platform/machine.h"

namespace {

unsigned long WalkProfileList()
{
    HKEY list = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                      KEY_READ, &list) != ERROR_SUCCESS)
        return 0;
    unsigned long count = 0;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(list, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY entry = nullptr;
        if (RegOpenKeyExW(list, name, 0, KEY_READ, &entry) != ERROR_SUCCESS)
            continue;
        wchar_t folder[MAX_PATH] = L"";
        DWORD size = sizeof(folder);
        RegQueryValueExW(entry, L"ProfileImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size);
        DWORD times[4] = {};
        const wchar_t* const timeNames[] = {L"LocalProfileLoadTimeHigh", L"LocalProfileLoadTimeLow",
                                            L"LocalProfileUnloadTimeHigh", L"LocalProfileUnloadTimeLow"};
        for (int t = 0; t < 4; ++t) {
            size = sizeof(times[t]);
            RegQueryValueExW(entry, timeNames[t], nullptr, nullptr, reinterpret_cast<BYTE*>(&times[t]), &size);
        }
        RegCloseKey(entry);
        std::fwprintf(stdout, L"%ls\t%ls\t%lu\n", name, folder, times[3]);
        ++count;
    }
    RegCloseKey(list);
    return count;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool profiles = argc >= 2 && std::wcscmp(argv[1], L"profiles") == 0;
    if (!profiles && (argc < 2 || std::wcscmp(argv[1], L"enum") != 0)) {
        std::fputs("hello\n", stdout);
        return 0;
    }
    if (profiles && WalkProfileList() == 0)
        return 1;
    DWORD resume = 0;
    NET_API_STATUS status;
    unsigned long count = 0;
    do {
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        status = machine::NetUserEnum(nullptr, 3, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
        if (buffer == nullptr)
            break;
        const auto* records = reinterpret_cast<const USER_INFO_3*>(buffer);
        for (DWORD i = 0; i < read; ++i, ++count)
            std::fwprintf(stdout, L"%ls\n", records[i].usri3_name);
        machine::NetApiBufferFree(buffer);
    } while (status == ERROR_MORE_DATA);
    return count > 0 ? 0 : 1;
}
