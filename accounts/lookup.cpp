#include "accounts/lookup.h"

#include <lm.h>
#include <psapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <utility>

#include "accounts/profile_key_rules.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text_win.h"

namespace {

// A SID string from a binary SID; the system's copy is released here.
bool SidText(PSID sid, WString& text)
{
    LPWSTR converted = nullptr;
    if (!ConvertSidToStringSidW(sid, &converted))
        return false;
    UniqueLocalMemory holder(converted);
    return text.Assign(converted);
}

bool LookupSid(const wchar_t* accountName, BYTE* sid, DWORD sidBytes)
{
    wchar_t domain[260];
    DWORD domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    return accountName != nullptr &&
           machine::LookupAccountNameW(nullptr, accountName, sid, &sidBytes, domain, &domainLength, &use) != FALSE;
}

// The user SID of a token, in a 1024-byte buffer.
bool TokenUserIs(HANDLE token, PSID sid)
{
    BYTE buffer[1024];
    DWORD size = sizeof(buffer);
    return GetTokenInformation(token, TokenUser, buffer, size, &size) &&
           EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid);
}

// The first process of the session that runs as `sid`; its token and handle.
HANDLE FindTokenInSession(DWORD session, PSID sid, UniqueHandle& process)
{
    DWORD ids[1024];
    DWORD bytes = 0;
    if (!EnumProcesses(ids, sizeof(ids), &bytes))
        return nullptr;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        DWORD processSession = 0;
        if (!ProcessIdToSessionId(ids[i], &processSession) || processSession != session)
            continue;
        UniqueHandle candidate(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ids[i]));
        if (!candidate)
            continue;
        UniqueHandle token;
        if (!OpenProcessToken(candidate.Get(), TOKEN_QUERY, token.Put()))
            continue;
        if (TokenUserIs(token.Get(), sid)) {
            process = std::move(candidate);
            return token.Release();
        }
    }
    return nullptr;
}

}  // namespace

bool GetAccountSidAndProfile(const wchar_t* accountName, WString& sidString, WString* profilePath)
{
    BYTE sid[260];
    if (!LookupSid(accountName, sid, sizeof(sid)) || !SidText(sid, sidString))
        return false;
    if (profilePath == nullptr)
        return true;

    LPBYTE buffer = nullptr;
    if (machine::NetUserGetInfo(nullptr, accountName, 3, &buffer) == NERR_Success && buffer != nullptr) {
        profilePath->Assign(reinterpret_cast<USER_INFO_3*>(buffer)->usri3_profile);
        machine::NetApiBufferFree(buffer);
        if (!profilePath->IsEmpty() && PathFileExistsW(profilePath->Text()))
            return true;
    }
    if (ReadProfileImagePath(sidString.Text(), *profilePath))
        return true;

    wchar_t profiles[260] = L"";
    DWORD length = ARRAYSIZE(profiles);
    if (GetProfilesDirectoryW(profiles, &length)) {
        profilePath->Assign(profiles);
        profilePath->Append(L"\\", accountName);
        if (PathFileExistsW(profilePath->Text()))
            return true;
    }
    profilePath->Assign(L"");
    return false;
}

bool GetAccountSidString(WString& buffer)
{
    BYTE sid[260];
    WString text;
    if (!LookupSid(buffer.Text(), sid, sizeof(sid)) || !SidText(sid, text))
        return false;
    return buffer.Assign(text.Text());
}

HANDLE FindConsoleUser(WString& userName, WString* profilePath, WString* sidString)
{
    DWORD session = machine::WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFF)
        return nullptr;
    LPWSTR name = nullptr;
    DWORD bytes = 0;
    if (!machine::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &name, &bytes))
        return nullptr;
    bool named = name != nullptr && *name != L'\0';
    if (named)
        userName.Assign(name);
    machine::WTSFreeMemory(name);
    if (!named)
        return nullptr;

    BYTE sid[256];
    if (!LookupSid(userName.Text(), sid, sizeof(sid)))
        return nullptr;

    UniqueHandle process;
    HANDLE token = nullptr;
    DWORD ownSession = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &ownSession) && ownSession == session) {
        UniqueHandle own;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Put()) && TokenUserIs(own.Get(), sid))
            token = own.Release();
    }
    if (token == nullptr)
        token = FindTokenInSession(session, sid, process);
    if (token == nullptr)
        return nullptr;

    if (sidString != nullptr) {
        BYTE buffer[1024];
        DWORD size = sizeof(buffer);
        if (GetTokenInformation(token, TokenUser, buffer, size, &size))
            SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, *sidString);
    }
    if (profilePath != nullptr)
        FromFolderPath(*profilePath, CSIDL_PROFILE, token, 0);
    return token;
}

bool ReadProfileImagePath(const wchar_t* sidString, WString& path)
{
    WString key(kProfileListKeyPath);
    key.Append(L"\\", sidString);
    RegKey entry(OpenKey(key.Text(), KEY_READ));
    WString stored;
    if (!entry.QueryString(L"ProfileImagePath", stored))
        return false;
    return path.Assign(ExpandEnvironmentText(stored.Text()).Text());
}
