#include "platform/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/system.h"

bool IsElevatedAdministrator()
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    AllocatedSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                  0, 0, 0, 0, 0, 0, administrators.Put()))
        return false;
    BOOL member = FALSE;
    // No token: the caller's effective token, so a UAC-filtered token answers no.
    if (!machine::CheckTokenMembership(nullptr, administrators.Get(), &member))
        member = FALSE;
    return member != FALSE;
}

bool LaunchElevated(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory, int showCommand)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"runas";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = showCommand;
    if (!machine::ShellExecuteExW(&info))
        return false;
    UniqueHandle process(info.hProcess);
    return true;
}
