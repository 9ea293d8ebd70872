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

    AccountRecord record;
    if (ReadAccountRecord(accountName, record)) {
        profilePath->Assign(record.profile.c_str());
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
    const WString key = ProfileEntryKeyPath(sidString);
    RegKey entry(OpenKey(key.Text(), KEY_READ));
    WString stored;
    if (!entry.QueryString(L"ProfileImagePath", stored))
        return false;
    return path.Assign(ExpandEnvironmentText(stored.Text()).Text());
}

namespace {

// The one record a NetApi call returns, given to `use` while the call's
// buffer lives (its texts point into it); `call` gets the place for the
// buffer and returns the call's status. False when the call failed or gave
// no buffer.
template <typename Record, typename Call, typename Use>
bool UseNetRecord(Call call, Use use)
{
    UniqueNetBuffer buffer;
    if (call(reinterpret_cast<LPBYTE*>(buffer.Put())) != NERR_Success || !buffer)
        return false;
    use(*static_cast<const Record*>(buffer.Get()));
    return true;
}

template <typename Record>
bool ReadModals(DWORD level, Record& record)
{
    return UseNetRecord<Record>([&](LPBYTE* buffer) { return machine::NetUserModalsGet(nullptr, level, buffer); },
                                [&](const Record& read) { record = read; });
}

const wchar_t* OrEmpty(const wchar_t* text)
{
    return text != nullptr ? text : L"";
}

void Decode(const USER_INFO_3& stored, AccountRecord& record)
{
    record.name = OrEmpty(stored.usri3_name);
    record.fullName = OrEmpty(stored.usri3_full_name);
    record.comment = OrEmpty(stored.usri3_comment);
    record.profile = OrEmpty(stored.usri3_profile);
    record.rid = stored.usri3_user_id;
    record.privilege = stored.usri3_priv;
    record.flags = stored.usri3_flags;
    record.accountExpires = stored.usri3_acct_expires;
    record.passwordAge = stored.usri3_password_age;
    record.lastLogon = stored.usri3_last_logon;
    record.badPasswordCount = stored.usri3_bad_pw_count;
    record.passwordExpired = stored.usri3_password_expired != 0;
}

}  // namespace

bool ForEachAccount(const std::function<bool(const AccountRecord& account)>& visit, DWORD filter)
{
    DWORD resume = 0;
    NET_API_STATUS status;
    AccountRecord record;
    do {
        UniqueNetBuffer buffer;
        DWORD read = 0, total = 0;
        status = machine::NetUserEnum(nullptr, 3, filter, reinterpret_cast<LPBYTE*>(buffer.Put()),
                                      MAX_PREFERRED_LENGTH, &read, &total, &resume);
        if (status != NERR_Success && status != ERROR_MORE_DATA)
            return false;
        if (!buffer)
            return read == 0;   // an empty page is the end, a missing one with entries a failure
        const auto* records = static_cast<const USER_INFO_3*>(buffer.Get());
        for (DWORD i = 0; i < read; ++i) {
            Decode(records[i], record);
            if (!visit(record))
                return true;
        }
    } while (status == ERROR_MORE_DATA);
    return true;
}

bool ReadAccountRecord(const wchar_t* name, AccountRecord& record)
{
    return UseNetRecord<USER_INFO_3>([&](LPBYTE* buffer) { return machine::NetUserGetInfo(nullptr, name, 3, buffer); },
                                     [&](const USER_INFO_3& stored) { Decode(stored, record); });
}

bool WriteAccountRecord(const wchar_t* name, const AccountRecord& record)
{
    UniqueNetBuffer buffer;
    if (machine::NetUserGetInfo(nullptr, name, 3, reinterpret_cast<LPBYTE*>(buffer.Put())) != NERR_Success || !buffer)
        return false;
    USER_INFO_3 copy = *static_cast<const USER_INFO_3*>(buffer.Get());
    // The texts are only read by the database.
    copy.usri3_full_name = const_cast<wchar_t*>(record.fullName.c_str());
    copy.usri3_comment = const_cast<wchar_t*>(record.comment.c_str());
    copy.usri3_priv = record.privilege;
    copy.usri3_flags = record.flags;
    copy.usri3_acct_expires = record.accountExpires;
    if ((copy.usri3_password_expired != 0) != record.passwordExpired)
        copy.usri3_password_expired = record.passwordExpired ? 1 : 0;
    DWORD parameterError = 0;
    return machine::NetUserSetInfo(nullptr, name, 3, reinterpret_cast<LPBYTE>(&copy), &parameterError) ==
           NERR_Success;
}

bool ReadUserModals(USER_MODALS_INFO_0& passwords)
{
    return ReadModals(0, passwords);
}

bool ReadUserModals(USER_MODALS_INFO_3& lockout)
{
    return ReadModals(3, lockout);
}

std::wstring MachineSidOf(const AccountRecord& account)
{
    LocalSid sid;
    WString text;
    if (!AccountNameToSid(account.name.c_str(), sid, nullptr) || !SidToText(sid.Get(), text))
        return L"";
    const std::wstring full = text.Text();
    const std::wstring rid = L"-" + std::to_wstring(account.rid);
    if (full.size() <= rid.size() || full.compare(full.size() - rid.size(), rid.size(), rid) != 0)
        return L"";
    return full.substr(0, full.size() - rid.size());
}

std::wstring ReadMachineSid()
{
    std::wstring machineSid;
    ForEachAccount([&](const AccountRecord& account) {
        machineSid = MachineSidOf(account);
        return machineSid.empty();
    });
    return machineSid;
}

bool AccountExists(const wchar_t* name, DWORD* privilege)
{
    return UseNetRecord<USER_INFO_1>([&](LPBYTE* buffer) { return machine::NetUserGetInfo(nullptr, name, 1, buffer); },
                                     [&](const USER_INFO_1& stored) {
                                         if (privilege != nullptr)
                                             *privilege = stored.usri1_priv;
                                     });
}

namespace {

// Whether the SID lies in this computer's account domain: the computer's
// SID followed by one RID.
bool IsThisComputersAccountSid(const wchar_t* text)
{
    LocalSid sid;
    WString canonical;   // as the machine's SID is written
    if (!SidFromName(sid, text) || !SidToText(sid.Get(), canonical))
        return false;
    const std::wstring full = canonical.Text();
    const size_t dash = full.rfind(L'-');
    const std::wstring machineSid = ReadMachineSid();
    return !machineSid.empty() && dash != std::wstring::npos && full.compare(0, dash, machineSid) == 0;
}

}  // namespace

bool ReadRidReference(const wchar_t* text, DWORD& rid)
{
    rid = 0;
    if (text == nullptr || text[0] != L'#' || text[1] == L'\0')
        return false;
    for (const wchar_t* p = text + 1; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9' || rid > (0xFFFFFFFFu - (*p - L'0')) / 10)
            return false;
        rid = rid * 10 + (*p - L'0');
    }
    return true;
}

AccountReference ResolveAccountReference(const wchar_t* text, WString& name)
{
    if (text == nullptr)
        return AccountReference::Name;
    if (text[0] == L'#') {
        // Digits only: "#5x" or "#" names nothing rather than something.
        DWORD rid = 0;
        const bool valid = ReadRidReference(text, rid);
        bool found = false;
        // A walk that failed before finding it leaves the RID unknown, never absent.
        const bool whole = valid && ForEachAccount([&](const AccountRecord& account) {
            if (account.rid == rid)
                found = name.Assign(account.name.c_str());
            return !found;
        });
        return found ? AccountReference::Found : whole ? AccountReference::Absent : AccountReference::NotFound;
    }
    if (wcsncmp(text, L"S-1-", 4) != 0)
        return AccountReference::Name;
    // The SID must come back from the name it resolves to: a domain
    // account's or a group's SID names no local account.
    LocalSid sid, again;
    WString found;
    if (!SidFromName(sid, text))
        return AccountReference::NotFound;
    if (!SidToAccountName(sid.Get(), found, nullptr))
        return GetLastError() == ERROR_NONE_MAPPED && IsThisComputersAccountSid(text) ? AccountReference::Absent
                                                                                      : AccountReference::NotFound;
    if (!AccountExists(found.Text()) || !AccountNameToSid(found.Text(), again, nullptr) ||
        !EqualSid(sid.Get(), again.Get()))
        return AccountReference::NotFound;
    name = std::move(found);
    return AccountReference::Found;
}
