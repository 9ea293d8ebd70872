#include "accounts/lookup.h"

#include <lm.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <utility>

#include "accounts/profile_key_rules.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/sid.h"
#include "platform/system.h"
#include "platform/token.h"
#include "platform/text_win.h"

namespace {

// The first process of the session that runs as `sid`; its token and handle.
HANDLE FindTokenInSession(DWORD session, PSID sid, UniqueHandle& process)
{
    for (DWORD id : ProcessIds()) {
        DWORD processSession = 0;
        if (!ProcessIdToSessionId(id, &processSession) || processSession != session)
            continue;
        UniqueHandle candidate(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id));
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
    LocalSid sid;
    if (!AccountNameToSid(accountName, sid, nullptr) || !SidToText(sid.Get(), sidString))
        return false;
    if (profilePath == nullptr)
        return true;

    UniqueNetBuffer buffer;
    if (machine::NetUserGetInfo(nullptr, accountName, 3, reinterpret_cast<LPBYTE*>(buffer.Put())) == NERR_Success &&
        buffer) {
        profilePath->Assign(static_cast<USER_INFO_3*>(buffer.Get())->usri3_profile);
        buffer.Reset();
        if (!profilePath->IsEmpty() && PathFileExistsW(profilePath->Text()))
            return true;
    }
    if (ReadProfileImagePath(sidString.Text(), *profilePath))
        return true;

    WString profiles = ProfilesDirectory();
    if (!profiles.IsEmpty()) {
        profilePath->Assign(profiles.Text());
        profilePath->Append(L"\\", accountName);
        if (PathFileExistsW(profilePath->Text()))
            return true;
    }
    profilePath->Assign(L"");
    return false;
}

bool GetAccountSidString(WString& buffer)
{
    LocalSid sid;
    WString text;
    if (!AccountNameToSid(buffer.Text(), sid, nullptr) || !SidToText(sid.Get(), text))
        return false;
    return buffer.Assign(text.Text());
}

UniqueToken FindConsoleUser(WString& userName, WString* profilePath, WString* sidString)
{
    DWORD session = machine::WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFF)
        return UniqueToken();
    LPWSTR name = nullptr;
    DWORD bytes = 0;
    if (!machine::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &name, &bytes))
        return UniqueToken();
    bool named = name != nullptr && *name != L'\0';
    if (named)
        userName.Assign(name);
    machine::WTSFreeMemory(name);
    if (!named)
        return UniqueToken();

    LocalSid sid;
    if (!AccountNameToSid(userName.Text(), sid, nullptr))
        return UniqueToken();

    UniqueHandle process;
    UniqueToken token;
    DWORD ownSession = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &ownSession) && ownSession == session) {
        UniqueToken own;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Put()) && TokenUserIs(own.Get(), sid.Get()))
            token = std::move(own);
    }
    if (!token)
        token.Reset(FindTokenInSession(session, sid.Get(), process));
    if (!token)
        return UniqueToken();

    UniqueBytes user;
    if (sidString != nullptr)
        SidToText(QueryTokenUser(token.Get(), user), *sidString);
    if (profilePath != nullptr)
        FromFolderPath(*profilePath, CSIDL_PROFILE, token.Get(), 0);
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

bool ForEachAccountPage(DWORD level, const std::function<bool(const void* records, DWORD count)>& page,
                        DWORD filter)
{
    DWORD resume = 0;
    NET_API_STATUS status;
    do {
        UniqueNetBuffer buffer;
        DWORD read = 0, total = 0;
        status = machine::NetUserEnum(nullptr, level, filter, reinterpret_cast<LPBYTE*>(buffer.Put()),
                                      MAX_PREFERRED_LENGTH, &read, &total, &resume);
        if (status != NERR_Success && status != ERROR_MORE_DATA)
            return false;
        if (!buffer)
            return read == 0;   // an empty page is the end, a missing one with entries a failure
        if (!page(buffer.Get(), read))
            return true;
    } while (status == ERROR_MORE_DATA);
    return true;
}

bool AccountExists(const wchar_t* name, DWORD* privilege)
{
    UniqueNetBuffer buffer;
    bool found = machine::NetUserGetInfo(nullptr, name, 1, reinterpret_cast<LPBYTE*>(buffer.Put())) == NERR_Success &&
                 buffer;
    if (found && privilege != nullptr)
        *privilege = static_cast<const USER_INFO_1*>(buffer.Get())->usri1_priv;
    return found;
}
