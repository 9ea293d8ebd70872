#include "platform/token.h"

#include <cstdlib>
#include <iterator>
#include <utility>

#include "platform/sid.h"

bool EnablePrivileges()
{
    static const wchar_t* const kPrivileges[] = {
        L"SeRestorePrivilege",        L"SeTakeOwnershipPrivilege",        L"SeDebugPrivilege",
        L"SeSecurityPrivilege",       L"SeBackupPrivilege",               L"SeImpersonatePrivilege",
        L"SeSystemProfilePrivilege",  L"SeAssignPrimaryTokenPrivilege",   L"SeTrustedCredManAccessPrivilege",
        L"SeTcbPrivilege",            L"SeIncreaseQuotaPrivilege",        L"SeShutdownPrivilege",
    };
    struct PrivilegeList {
        DWORD count;
        LUID_AND_ATTRIBUTES privileges[std::size(kPrivileges)];
    };

    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, token.Put()))
        return false;
    PrivilegeList list{};
    list.count = static_cast<DWORD>(std::size(kPrivileges));
    for (size_t i = 0; i < std::size(kPrivileges); ++i) {
        // A name this system does not know keeps a zero LUID, which the adjustment ignores.
        LookupPrivilegeValueW(nullptr, kPrivileges[i], &list.privileges[i].Luid);
        list.privileges[i].Attributes = SE_PRIVILEGE_ENABLED;
    }
    PrivilegeList previous{};
    DWORD previousSize = sizeof(previous);
    return AdjustTokenPrivileges(token.Get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&list), previousSize,
                                 reinterpret_cast<TOKEN_PRIVILEGES*>(&previous), &previousSize) != FALSE;
}

bool QueryTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type, UniqueBytes& information)
{
    DWORD size = 0;
    GetTokenInformation(token, type, nullptr, 0, &size);
    if (size == 0)
        return false;
    UniqueBytes block(static_cast<BYTE*>(std::calloc(size, 1)));
    if (!block || !GetTokenInformation(token, type, block.Get(), size, &size))
        return false;
    information = std::move(block);
    return true;
}

PSID QueryTokenUser(HANDLE token, UniqueBytes& block)
{
    if (!QueryTokenInformation(token, TokenUser, block))
        return nullptr;
    return reinterpret_cast<TOKEN_USER*>(block.Get())->User.Sid;
}

bool TokenUserIs(HANDLE token, PSID sid)
{
    UniqueBytes block;
    PSID user = QueryTokenUser(token, block);
    return user != nullptr && sid != nullptr && EqualSid(user, sid) != FALSE;
}

bool ProcessUserSidText(WString& text)
{
    UniqueToken own;
    UniqueBytes block;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Put()))
        return SidToText(nullptr, text);
    return SidToText(QueryTokenUser(own.Get(), block), text);
}
