// The product's machine services: each call goes to the system's own.
#include "platform/machine.h"

#include <shlobj.h>

namespace machine {

NET_API_STATUS NetUserEnum(LPCWSTR servername, DWORD level, DWORD filter, LPBYTE* bufptr, DWORD prefmaxlen,
                           LPDWORD entriesread, LPDWORD totalentries, PDWORD resume_handle)
{
    return ::NetUserEnum(servername, level, filter, bufptr, prefmaxlen, entriesread, totalentries, resume_handle);
}

NET_API_STATUS NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE* bufptr)
{
    return ::NetUserGetInfo(servername, username, level, bufptr);
}

NET_API_STATUS NetUserSetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    return ::NetUserSetInfo(servername, username, level, buf, parm_err);
}

NET_API_STATUS NetUserAdd(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    return ::NetUserAdd(servername, level, buf, parm_err);
}

NET_API_STATUS NetUserDel(LPCWSTR servername, LPCWSTR username)
{
    return ::NetUserDel(servername, username);
}

NET_API_STATUS NetUserChangePassword(LPCWSTR domainname, LPCWSTR username, LPCWSTR oldpassword, LPCWSTR newpassword)
{
    return ::NetUserChangePassword(domainname, username, oldpassword, newpassword);
}

NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level, LPBYTE buf,
                                       DWORD totalentries)
{
    return ::NetLocalGroupAddMembers(servername, groupname, level, buf, totalentries);
}

NET_API_STATUS NetLocalGroupDelMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level, LPBYTE buf,
                                       DWORD totalentries)
{
    return ::NetLocalGroupDelMembers(servername, groupname, level, buf, totalentries);
}

NET_API_STATUS NetLocalGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                 LPDWORD entriesread, LPDWORD totalentries, PDWORD_PTR resumehandle)
{
    return ::NetLocalGroupEnum(servername, level, bufptr, prefmaxlen, entriesread, totalentries, resumehandle);
}

NET_API_STATUS NetLocalGroupGetMembers(LPCWSTR servername, LPCWSTR localgroupname, DWORD level, LPBYTE* bufptr,
                                       DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                                       PDWORD_PTR resumehandle)
{
    return ::NetLocalGroupGetMembers(servername, localgroupname, level, bufptr, prefmaxlen, entriesread,
                                     totalentries, resumehandle);
}

NET_API_STATUS NetLocalGroupAdd(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    return ::NetLocalGroupAdd(servername, level, buf, parm_err);
}

NET_API_STATUS NetLocalGroupDel(LPCWSTR servername, LPCWSTR groupname)
{
    return ::NetLocalGroupDel(servername, groupname);
}

NET_API_STATUS NetLocalGroupSetInfo(LPCWSTR servername, LPCWSTR groupname, DWORD level, LPBYTE buf,
                                    LPDWORD parm_err)
{
    return ::NetLocalGroupSetInfo(servername, groupname, level, buf, parm_err);
}

NET_API_STATUS NetUserModalsGet(LPCWSTR servername, DWORD level, LPBYTE* bufptr)
{
    return ::NetUserModalsGet(servername, level, bufptr);
}

NET_API_STATUS NetUserModalsSet(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    return ::NetUserModalsSet(servername, level, buf, parm_err);
}

NET_API_STATUS NetApiBufferFree(LPVOID Buffer)
{
    return ::NetApiBufferFree(Buffer);
}

BOOL LookupAccountNameW(LPCWSTR lpSystemName, LPCWSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse)
{
    return ::LookupAccountNameW(lpSystemName, lpAccountName, Sid, cbSid, ReferencedDomainName,
                                cchReferencedDomainName, peUse);
}

BOOL LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name, LPDWORD cchName, LPWSTR ReferencedDomainName,
                       LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse)
{
    return ::LookupAccountSidW(lpSystemName, Sid, Name, cchName, ReferencedDomainName, cchReferencedDomainName,
                               peUse);
}

NTSTATUS LsaOpenPolicy(PLSA_UNICODE_STRING SystemName, PLSA_OBJECT_ATTRIBUTES ObjectAttributes,
                       ACCESS_MASK DesiredAccess, PLSA_HANDLE PolicyHandle)
{
    return ::LsaOpenPolicy(SystemName, ObjectAttributes, DesiredAccess, PolicyHandle);
}

NTSTATUS LsaClose(LSA_HANDLE ObjectHandle)
{
    return ::LsaClose(ObjectHandle);
}

NTSTATUS LsaEnumerateAccountsWithUserRight(LSA_HANDLE PolicyHandle, PLSA_UNICODE_STRING UserRight, PVOID* Buffer,
                                           PULONG CountReturned)
{
    return ::LsaEnumerateAccountsWithUserRight(PolicyHandle, UserRight, Buffer, CountReturned);
}

NTSTATUS LsaEnumerateAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, PLSA_UNICODE_STRING* UserRights,
                                   PULONG CountOfRights)
{
    return ::LsaEnumerateAccountRights(PolicyHandle, AccountSid, UserRights, CountOfRights);
}

NTSTATUS LsaAddAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, PLSA_UNICODE_STRING UserRights,
                             ULONG CountOfRights)
{
    return ::LsaAddAccountRights(PolicyHandle, AccountSid, UserRights, CountOfRights);
}

NTSTATUS LsaRemoveAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, BOOLEAN AllRights,
                                PLSA_UNICODE_STRING UserRights, ULONG CountOfRights)
{
    return ::LsaRemoveAccountRights(PolicyHandle, AccountSid, AllRights, UserRights, CountOfRights);
}

NTSTATUS LsaStorePrivateData(LSA_HANDLE PolicyHandle, PLSA_UNICODE_STRING KeyName, PLSA_UNICODE_STRING PrivateData)
{
    return ::LsaStorePrivateData(PolicyHandle, KeyName, PrivateData);
}

NTSTATUS LsaRetrievePrivateData(LSA_HANDLE PolicyHandle, PLSA_UNICODE_STRING KeyName,
                                PLSA_UNICODE_STRING* PrivateData)
{
    return ::LsaRetrievePrivateData(PolicyHandle, KeyName, PrivateData);
}

NTSTATUS LsaFreeMemory(PVOID Buffer)
{
    return ::LsaFreeMemory(Buffer);
}

ULONG LsaNtStatusToWinError(NTSTATUS Status)
{
    return ::LsaNtStatusToWinError(Status);
}

DWORD WTSGetActiveConsoleSessionId()
{
    return ::WTSGetActiveConsoleSessionId();
}

BOOL WTSQuerySessionInformationW(HANDLE hServer, DWORD SessionId, WTS_INFO_CLASS WTSInfoClass, LPWSTR* ppBuffer,
                                 DWORD* pBytesReturned)
{
    return ::WTSQuerySessionInformationW(hServer, SessionId, WTSInfoClass, ppBuffer, pBytesReturned);
}

void WTSFreeMemory(PVOID pMemory)
{
    ::WTSFreeMemory(pMemory);
}

BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember)
{
    return ::CheckTokenMembership(TokenHandle, SidToCheck, IsMember);
}

BOOL LogonUserW(LPCWSTR lpszUsername, LPCWSTR lpszDomain, LPCWSTR lpszPassword, DWORD dwLogonType,
                DWORD dwLogonProvider, PHANDLE phToken)
{
    return ::LogonUserW(lpszUsername, lpszDomain, lpszPassword, dwLogonType, dwLogonProvider, phToken);
}

BOOL LoadUserProfileW(HANDLE hToken, LPPROFILEINFOW lpProfileInfo)
{
    return ::LoadUserProfileW(hToken, lpProfileInfo);
}

BOOL UnloadUserProfile(HANDLE hToken, HANDLE hProfile)
{
    return ::UnloadUserProfile(hToken, hProfile);
}

HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath)
{
    return ::SHGetFolderPathW(hwnd, csidl, hToken, dwFlags, pszPath);
}

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                      PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl, PSECURITY_DESCRIPTOR* ppSecurityDescriptor)
{
    return ::GetSecurityInfo(handle, ObjectType, SecurityInfo, ppsidOwner, ppsidGroup, ppDacl, ppSacl,
                             ppSecurityDescriptor);
}

DWORD SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo, PSID psidOwner,
                      PSID psidGroup, PACL pDacl, PACL pSacl)
{
    return ::SetSecurityInfo(handle, ObjectType, SecurityInfo, psidOwner, psidGroup, pDacl, pSacl);
}

LSTATUS RegLoadKeyW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpFile)
{
    return ::RegLoadKeyW(hKey, lpSubKey, lpFile);
}

LSTATUS RegUnLoadKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    return ::RegUnLoadKeyW(hKey, lpSubKey);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    return ::GetProcAddress(hModule, lpProcName);
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv)
{
    return ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, riid, ppv);
}

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason)
{
    return ::ExitWindowsEx(uFlags, dwReason);
}

BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni)
{
    return ::SystemParametersInfoW(uiAction, uiParam, pvParam, fWinIni);
}

BOOL AbortSystemShutdownW(LPWSTR lpMachineName)
{
    return ::AbortSystemShutdownW(lpMachineName);
}

BOOL RefreshPolicyEx(BOOL bMachine, DWORD dwOptions)
{
    return ::RefreshPolicyEx(bMachine, dwOptions);
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo)
{
    return ::ShellExecuteExW(pExecInfo);
}

SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    return ::OpenSCManagerW(lpMachineName, lpDatabaseName, dwDesiredAccess);
}

SC_HANDLE CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName, DWORD dwDesiredAccess,
                         DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
                         LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCWSTR lpDependencies,
                         LPCWSTR lpServiceStartName, LPCWSTR lpPassword)
{
    return ::CreateServiceW(hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType, dwStartType,
                            dwErrorControl, lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies,
                            lpServiceStartName, lpPassword);
}

SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess)
{
    return ::OpenServiceW(hSCManager, lpServiceName, dwDesiredAccess);
}

BOOL DeleteService(SC_HANDLE hService)
{
    return ::DeleteService(hService);
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject)
{
    return ::CloseServiceHandle(hSCObject);
}

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable)
{
    return ::StartServiceCtrlDispatcherW(lpServiceStartTable);
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR lpServiceName, LPHANDLER_FUNCTION_EX lpHandlerProc,
                                                    LPVOID lpContext)
{
    return ::RegisterServiceCtrlHandlerExW(lpServiceName, lpHandlerProc, lpContext);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus)
{
    return ::SetServiceStatus(hServiceStatus, lpServiceStatus);
}

void PowerCutPoint(const wchar_t*) {}

}  // namespace machine
