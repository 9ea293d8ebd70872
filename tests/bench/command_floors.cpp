// The two floors of the command-mode benchmark (scripts/bench-cli.sh), as
// console programs started the way the command is started:
//   command_floors enum   one bare NetUserEnum walk at level 3 over every
//                         page of the simulated machine, each name written
//   command_floors hello  a minimal console program: one line written
#include <windows.h>
#include <lm.h>

#include <cstdio>
#include <cwchar>

#include "platform/machine.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || std::wcscmp(argv[1], L"enum") != 0) {
        std::fputs("hello\n", stdout);
        return 0;
    }
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
