// The machine's services that must never act for real in a test: the account
// database, account names and SIDs, the local security authority, the console
// session, profiles and sign-in, the shell's account and folder setters,
// session end, policy refresh and the shell's execution of files and pages.
//
// Each function has the platform's own name and signature, so that a call
// reads like the platform call it stands for: `machine::NetUserEnum(...)`.
// Two implementations exist and the link chooses one: platform/machine_win.cpp
// forwards to the system (the product), sandbox/ simulates a whole machine
// (the sandbox executable and the tests). Everything else is called directly.
#pragma once

#include <windows.h>
#include <lm.h>
#include <ntsecapi.h>
#include <shellapi.h>
#include <shobjidl.h>
#include <userenv.h>
#include <wtsapi32.h>
#include <aclapi.h>

#include "platform/handles.h"

namespace machine {

// Account database (netapi32). Buffers handed out are freed with
// NetApiBufferFree.
NET_API_STATUS NetUserEnum(LPCWSTR servername, DWORD level, DWORD filter, LPBYTE* bufptr, DWORD prefmaxlen,
                           LPDWORD entriesread, LPDWORD totalentries, PDWORD resume_handle);
NET_API_STATUS NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE* bufptr);
NET_API_STATUS NetUserSetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE buf, LPDWORD parm_err);
NET_API_STATUS NetUserAdd(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err);
NET_API_STATUS NetUserDel(LPCWSTR servername, LPCWSTR username);
NET_API_STATUS NetUserChangePassword(LPCWSTR domainname, LPCWSTR username, LPCWSTR oldpassword, LPCWSTR newpassword);
NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level, LPBYTE buf,
                                       DWORD totalentries);
NET_API_STATUS NetLocalGroupDelMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level, LPBYTE buf,
                                       DWORD totalentries);
// The machine's local groups (level 0 names, level 1 with comments) and a
// group's members (level 0: SIDs only, so that members whose account is
// gone are listed too); paged as NetUserEnum pages.
NET_API_STATUS NetLocalGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                 LPDWORD entriesread, LPDWORD totalentries, PDWORD_PTR resumehandle);
NET_API_STATUS NetLocalGroupGetMembers(LPCWSTR servername, LPCWSTR localgroupname, DWORD level, LPBYTE* bufptr,
                                       DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                                       PDWORD_PTR resumehandle);
// Local groups made, deleted, renamed (level 0) and described (level 1002).
// Groups and accounts share one set of names; the system's own groups
// (S-1-5-32-*) are neither deleted nor renamed.
NET_API_STATUS NetLocalGroupAdd(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err);
NET_API_STATUS NetLocalGroupDel(LPCWSTR servername, LPCWSTR groupname);
NET_API_STATUS NetLocalGroupSetInfo(LPCWSTR servername, LPCWSTR groupname, DWORD level, LPBYTE buf,
                                    LPDWORD parm_err);
// The machine's password policy (level 0, USER_MODALS_INFO_0) and lock-out
// policy (level 3, USER_MODALS_INFO_3). A minimum age above the maximum, or
// a lock-out window longer than the lock-out, is refused with
// ERROR_INVALID_PARAMETER.
NET_API_STATUS NetUserModalsGet(LPCWSTR servername, DWORD level, LPBYTE* bufptr);
NET_API_STATUS NetUserModalsSet(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err);
NET_API_STATUS NetApiBufferFree(LPVOID Buffer);

// Names and SIDs of accounts; well-known SIDs resolve as the system resolves them.
BOOL LookupAccountNameW(LPCWSTR lpSystemName, LPCWSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse);
BOOL LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name, LPDWORD cchName, LPWSTR ReferencedDomainName,
                       LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse);

// Local security authority: account rights and private data ("secrets").
// Rights arrays are freed with LsaFreeMemory.
NTSTATUS LsaOpenPolicy(PLSA_UNICODE_STRING SystemName, PLSA_OBJECT_ATTRIBUTES ObjectAttributes,
                       ACCESS_MASK DesiredAccess, PLSA_HANDLE PolicyHandle);
NTSTATUS LsaClose(LSA_HANDLE ObjectHandle);
NTSTATUS LsaEnumerateAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, PLSA_UNICODE_STRING* UserRights,
                                   PULONG CountOfRights);
NTSTATUS LsaAddAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, PLSA_UNICODE_STRING UserRights,
                             ULONG CountOfRights);
NTSTATUS LsaRemoveAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, BOOLEAN AllRights,
                                PLSA_UNICODE_STRING UserRights, ULONG CountOfRights);
// Every SID the policy holds an account object for when `UserRight` is null
// (an array of LSA_ENUMERATION_INFORMATION); STATUS_NO_MORE_ENTRIES when none.
NTSTATUS LsaEnumerateAccountsWithUserRight(LSA_HANDLE PolicyHandle, PLSA_UNICODE_STRING UserRight, PVOID* Buffer,
                                           PULONG CountReturned);
NTSTATUS LsaStorePrivateData(LSA_HANDLE PolicyHandle, PLSA_UNICODE_STRING KeyName, PLSA_UNICODE_STRING PrivateData);
NTSTATUS LsaRetrievePrivateData(LSA_HANDLE PolicyHandle, PLSA_UNICODE_STRING KeyName,
                                PLSA_UNICODE_STRING* PrivateData);
NTSTATUS LsaFreeMemory(PVOID Buffer);
ULONG LsaNtStatusToWinError(NTSTATUS Status);

// A counted string over a terminated text, as the LSA calls take names:
// length without the terminator, maximum length with it, both in bytes.
inline LSA_UNICODE_STRING CountedText(const wchar_t* text)
{
    LSA_UNICODE_STRING counted;
    counted.Buffer = const_cast<PWSTR>(text);
    counted.Length = static_cast<USHORT>(wcslen(text) * sizeof(wchar_t));
    counted.MaximumLength = static_cast<USHORT>(counted.Length + sizeof(wchar_t));
    return counted;
}

// Console session and the elevation test's membership check.
DWORD WTSGetActiveConsoleSessionId();
BOOL WTSQuerySessionInformationW(HANDLE hServer, DWORD SessionId, WTS_INFO_CLASS WTSInfoClass, LPWSTR* ppBuffer,
                                 DWORD* pBytesReturned);
void WTSFreeMemory(PVOID pMemory);
BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember);

// Sign-in and profiles.
BOOL LogonUserW(LPCWSTR lpszUsername, LPCWSTR lpszDomain, LPCWSTR lpszPassword, DWORD dwLogonType,
                DWORD dwLogonProvider, PHANDLE phToken);
BOOL LoadUserProfileW(HANDLE hToken, LPPROFILEINFOW lpProfileInfo);
BOOL UnloadUserProfile(HANDLE hToken, HANDLE hProfile);

// The shell's folders. A null token means the user the program runs as, so
// that a simulated sign-in can make another account the current user with its
// own folders.
HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);

// Loading another account's registry hive. The system writes what changed in
// a loaded hive back into its file; Wine keeps such changes only in memory,
// so the simulation writes them back when the hive is unloaded.
LSTATUS RegLoadKeyW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpFile);
LSTATUS RegUnLoadKeyW(HKEY hKey, LPCWSTR lpSubKey);

// Entry points that the program looks up at run time in a library it loaded:
// "CreateProfile" of Userenv.dll, the Shell32.dll exports taken by ordinal
// (233, 810, 262, 232), "SHSetKnownFolderPath" of Shell32.dll, and
// "ShutdownBlockReasonCreate" / "ShutdownBlockReasonDestroy" of User32.dll.
// Any other name is looked up as the system looks it up. Null when missing.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// Signatures of those entry points. The ordinal exports are not published;
// these are the arguments the program passes and the answers it expects.
using CreateProfileFunction = HRESULT(WINAPI*)(LPCWSTR pszUserSid, LPCWSTR pszUserName, LPWSTR pszProfilePath,
                                               DWORD cchProfilePath);
using GetPictureFunction = HRESULT(WINAPI*)(LPCWSTR userName, DWORD flags, LPWSTR path);      // 233
using GetPictureExFunction = HRESULT(WINAPI*)(LPCWSTR userName, DWORD flags, LPCWSTR reserved, LPWSTR path,
                                              UINT pathLength, LPCWSTR reserved2, DWORD reserved3);  // 810
using SetPictureFunction = HRESULT(WINAPI*)(LPCWSTR userName, DWORD flags, LPCWSTR file);      // 262
using SetFolderPathFunction = HRESULT(WINAPI*)(int csidl, HANDLE token, DWORD flags, LPCWSTR path);  // 232
using SetKnownFolderPathFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken,
                                                    PCWSTR pszPath);
using ShutdownBlockReasonCreateFunction = BOOL(WINAPI*)(HWND hWnd, LPCWSTR pwszReason);
using ShutdownBlockReasonDestroyFunction = BOOL(WINAPI*)(HWND hWnd);

// The typed entry point behind a looked-up address (null stays null).
template <typename Function>
Function AsFunction(FARPROC address)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

inline constexpr WORD kGetPictureOrdinal = 233;
inline constexpr WORD kGetPictureExOrdinal = 810;
inline constexpr WORD kSetPictureOrdinal = 262;
inline constexpr WORD kSetFolderPathOrdinal = 232;

// COM creation; the known-folder manager (CLSID_KnownFolderManager) is the
// machine's, so that its Redirect can be simulated. Other classes are created
// by the system.
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

// Session end and policy.
BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason);
BOOL AbortSystemShutdownW(LPWSTR lpMachineName);
BOOL RefreshPolicyEx(BOOL bMachine, DWORD dwOptions);

// The operator's display settings. Only SPI_GETHIGHCONTRAST is the machine's
// (Wine always reports high contrast off); every other action goes to the system.
BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni);

// The service control manager: a program registered to start with the
// machine as SYSTEM, before and apart from any sign-in. Handles are closed
// with CloseServiceHandle. The program started so connects through
// StartServiceCtrlDispatcherW, which fails with
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT in a process the manager did not
// start; a service deleted while it runs goes once it has stopped.
SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess);
SC_HANDLE CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName, DWORD dwDesiredAccess,
                         DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
                         LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCWSTR lpDependencies,
                         LPCWSTR lpServiceStartName, LPCWSTR lpPassword);
SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess);
BOOL DeleteService(SC_HANDLE hService);
BOOL CloseServiceHandle(SC_HANDLE hSCObject);
BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR lpServiceName, LPHANDLER_FUNCTION_EX lpHandlerProc,
                                                    LPVOID lpContext);
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus);

// Opening files and pages and starting programs (web pages, the log, the
// "runas" relaunch).
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo);

// The owner and DACL of a file or folder through a handle on it
// (SE_FILE_OBJECT; other kinds go to the system as they are). The simulated
// machine keeps what is set per file, and gives a profile folder and what
// lies in it that nothing was set on the profile service's security: its
// account, SYSTEM and the Administrators in full, the account the owner.
DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                      PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl, PSECURITY_DESCRIPTOR* ppSecurityDescriptor);
DWORD SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo, PSID psidOwner,
                      PSID psidGroup, PACL pDacl, PACL pSacl);

// Marks a point of a long multi-step operation (a repair step finished, a
// hive moved) at which the machine could lose its power. The real machine
// does nothing here; the simulated one can be told to stop the process
// there, so that tests can cut the power at every such point.
void PowerCutPoint(const wchar_t* point);

}  // namespace machine

// STATUS_SUCCESS, which the headers of the security authority leave out.
inline constexpr NTSTATUS kStatusSuccess = 0;

// A policy handle of the local security authority, closed with LsaClose.
struct LsaPolicyTraits {
    using Type = LSA_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { machine::LsaClose(h); }
};
using UniqueLsaPolicy = UniqueResource<LsaPolicyTraits>;

// A handle of the service control manager or of one service.
struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { machine::CloseServiceHandle(h); }
};
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;

// Memory the local security authority hands out, freed with LsaFreeMemory.
template <typename T>
struct LsaMemoryTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { machine::LsaFreeMemory(h); }
};
using UniqueLsaText = UniqueResource<LsaMemoryTraits<PLSA_UNICODE_STRING>>;

// A buffer handed out by the account database, freed with NetApiBufferFree.
template <typename T = void*>
struct NetBufferTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { machine::NetApiBufferFree(h); }
};
using UniqueNetBuffer = UniqueResource<NetBufferTraits<>>;

// The local machine's policy opened for `access`; empty when it was refused.
inline UniqueLsaPolicy OpenLocalPolicy(ACCESS_MASK access)
{
    LSA_OBJECT_ATTRIBUTES attributes{};
    UniqueLsaPolicy policy;
    if (machine::LsaOpenPolicy(nullptr, &attributes, access, policy.Put()) != kStatusSuccess)
        policy.Reset();
    return policy;
}
