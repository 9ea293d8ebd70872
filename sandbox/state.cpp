#include "sandbox/state.h"

#include <sddl.h>

#include <algorithm>
#include <ctime>
#include <mutex>

#include "sandbox/sandbox.h"

namespace sandbox {

namespace {

std::recursive_mutex& Mutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

std::wstring StatePath(const std::wstring& subkey)
{
    std::wstring path = kStateKey;
    if (!subkey.empty())
        path += L"\\" + subkey;
    return path;
}

}  // namespace

StateLock::StateLock() { Mutex().lock(); }
StateLock::~StateLock() { Mutex().unlock(); }

Key OpenState(const std::wstring& subkey, bool create)
{
    Key key;
    std::wstring path = StatePath(subkey);
    if (create)
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    else
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key.Put());
    return key;
}

DWORD ReadDword(HKEY key, const wchar_t* name, DWORD fallback)
{
    DWORD value = 0, size = sizeof(value), type = 0;
    if (key == nullptr || RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                              ERROR_SUCCESS || type != REG_DWORD)
        return fallback;
    return value;
}

std::wstring ReadString(HKEY key, const wchar_t* name, const std::wstring& fallback, bool* present)
{
    if (present != nullptr)
        *present = false;
    DWORD size = 0, type = 0;
    if (key == nullptr || RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return fallback;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &size) != ERROR_SUCCESS)
        return fallback;
    text.resize(wcsnlen(text.c_str(), text.size()));
    if (present != nullptr)
        *present = true;
    return text;
}

bool WriteDword(HKEY key, const wchar_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

bool WriteString(HKEY key, const wchar_t* name, const std::wstring& value, DWORD type)
{
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0; key != nullptr; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<std::wstring> ValueNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[16384];
    for (DWORD index = 0; key != nullptr; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

bool DeleteTree(HKEY root, const std::wstring& path)
{
    LSTATUS status = RegDeleteTreeW(root, path.c_str());
    if (status == ERROR_SUCCESS)
        status = RegDeleteKeyW(root, path.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

DWORD MachineDword(const wchar_t* name, DWORD fallback)
{
    StateLock lock;
    return ReadDword(OpenState(L"", false).Get(), name, fallback);
}

std::wstring MachineString(const wchar_t* name, const std::wstring& fallback, bool* present)
{
    StateLock lock;
    return ReadString(OpenState(L"", false).Get(), name, fallback, present);
}

void SetMachineDword(const wchar_t* name, DWORD value)
{
    StateLock lock;
    WriteDword(OpenState(L"", true).Get(), name, value);
}

void SetMachineString(const wchar_t* name, const std::wstring& value)
{
    StateLock lock;
    WriteString(OpenState(L"", true).Get(), name, value);
}

namespace {

uint64_t ReadQword(HKEY key, const wchar_t* name)
{
    uint64_t value = 0;
    DWORD size = sizeof(value), type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_QWORD)
        return 0;
    return value;
}

bool LoadAccount(HKEY users, const std::wstring& keyName, Account* account)
{
    Key key;
    if (RegOpenKeyExW(users, keyName.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;
    Account a;
    a.name = ReadString(key.Get(), L"Name", keyName);
    a.rid = ReadDword(key.Get(), L"Rid", 0);
    a.fullName = ReadString(key.Get(), L"FullName", L"");
    a.comment = ReadString(key.Get(), L"Comment", L"");
    a.userComment = ReadString(key.Get(), L"UserComment", L"");
    a.homeDir = ReadString(key.Get(), L"HomeDir", L"");
    a.scriptPath = ReadString(key.Get(), L"ScriptPath", L"");
    a.profile = ReadString(key.Get(), L"Profile", L"");
    a.picture = ReadString(key.Get(), L"Picture", L"");
    a.flags = ReadDword(key.Get(), L"Flags", UF_SCRIPT | UF_NORMAL_ACCOUNT);
    a.hasPassword = ReadDword(key.Get(), L"HasPassword", 0) != 0;
    a.passwordHash = ReadQword(key.Get(), L"PasswordHash");
    a.passwordExpired = ReadDword(key.Get(), L"PasswordExpired", 0) != 0;
    a.passwordSetTime = ReadDword(key.Get(), L"PasswordSetTime", 0);
    a.lastLogon = ReadDword(key.Get(), L"LastLogon", 0);
    a.logonCount = ReadDword(key.Get(), L"LogonCount", 0);
    a.badPasswordCount = ReadDword(key.Get(), L"BadPasswordCount", 0);
    a.accountExpires = ReadDword(key.Get(), L"AccountExpires", TIMEQ_FOREVER);
    a.unreadable = ReadDword(key.Get(), L"Unreadable", 0) != 0;
    *account = std::move(a);
    return true;
}

}  // namespace

bool FindAccount(const wchar_t* name, Account* account)
{
    if (name == nullptr || *name == L'\0' || wcschr(name, L'\\') != nullptr)
        return false;
    StateLock lock;
    Key users = OpenState(L"Users", false);
    return users && LoadAccount(users.Get(), name, account);
}

bool FindAccountPicture(const wchar_t* name, std::wstring* picture)
{
    if (name == nullptr || *name == L'\0' || wcschr(name, L'\\') != nullptr)
        return false;
    StateLock lock;
    Key users = OpenState(L"Users", false);
    Key key;
    if (!users || RegOpenKeyExW(users.Get(), name, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
        return false;
    *picture = ReadString(key.Get(), L"Picture", L"");
    return true;
}

std::vector<Account> Accounts()
{
    StateLock lock;
    std::vector<Account> accounts;
    Key users = OpenState(L"Users", false);
    for (const std::wstring& name : SubkeyNames(users.Get())) {
        Account account;
        if (LoadAccount(users.Get(), name, &account))
            accounts.push_back(std::move(account));
    }
    std::sort(accounts.begin(), accounts.end(), [](const Account& a, const Account& b) { return a.rid < b.rid; });
    return accounts;
}

bool FindAccountByRid(DWORD rid, Account* account)
{
    for (Account& a : Accounts()) {
        if (a.rid == rid) {
            *account = std::move(a);
            return true;
        }
    }
    return false;
}

bool SaveAccount(const Account& a)
{
    StateLock lock;
    Key users = OpenState(L"Users", true);
    Key key;
    if (RegCreateKeyExW(users.Get(), a.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = WriteString(key.Get(), L"Name", a.name) && WriteDword(key.Get(), L"Rid", a.rid) &&
              WriteString(key.Get(), L"FullName", a.fullName) && WriteString(key.Get(), L"Comment", a.comment) &&
              WriteString(key.Get(), L"UserComment", a.userComment) &&
              WriteString(key.Get(), L"HomeDir", a.homeDir) && WriteString(key.Get(), L"ScriptPath", a.scriptPath) &&
              WriteString(key.Get(), L"Profile", a.profile) && WriteString(key.Get(), L"Picture", a.picture) &&
              WriteDword(key.Get(), L"Flags", a.flags) && WriteDword(key.Get(), L"HasPassword", a.hasPassword) &&
              WriteDword(key.Get(), L"PasswordExpired", a.passwordExpired) &&
              WriteDword(key.Get(), L"PasswordSetTime", a.passwordSetTime) &&
              WriteDword(key.Get(), L"LastLogon", a.lastLogon) && WriteDword(key.Get(), L"LogonCount", a.logonCount) &&
              WriteDword(key.Get(), L"BadPasswordCount", a.badPasswordCount) &&
              WriteDword(key.Get(), L"AccountExpires", a.accountExpires) &&
              WriteDword(key.Get(), L"Unreadable", a.unreadable);
    uint64_t hash = a.passwordHash;
    ok = ok && RegSetValueExW(key.Get(), L"PasswordHash", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&hash),
                              sizeof(hash)) == ERROR_SUCCESS;
    return ok;
}

void RemoveAccount(const std::wstring& name)
{
    StateLock lock;
    DeleteTree(HKEY_LOCAL_MACHINE, StatePath(L"Users\\" + name));
}

DWORD AllocateRid()
{
    StateLock lock;
    Key state = OpenState(L"", true);
    DWORD rid = ReadDword(state.Get(), kNextRid, 1001);
    for (const Account& a : Accounts())
        rid = std::max(rid, a.rid + 1);
    for (const DomainAlias& alias : DomainAliases())
        rid = std::max(rid, alias.rid + 1);
    WriteDword(state.Get(), kNextRid, rid + 1);
    return rid;
}

uint64_t HashPassword(DWORD rid, const wchar_t* password)
{
    // FNV-1a over the RID and the password: enough to compare passwords
    // without ever keeping one.
    uint64_t hash = 1469598103934665603ull;
    auto mix = [&hash](wchar_t c) {
        hash ^= static_cast<uint16_t>(c);
        hash *= 1099511628211ull;
    };
    mix(static_cast<wchar_t>(rid & 0xFFFF));
    mix(static_cast<wchar_t>(rid >> 16));
    mix(L':');
    for (const wchar_t* p = password != nullptr ? password : L""; *p != L'\0'; ++p)
        mix(*p);
    return hash;
}

DWORD Now()
{
    return static_cast<DWORD>(time(nullptr));
}

std::wstring DomainSid()
{
    std::wstring sid = MachineString(kDomainSid, L"");
    if (sid.empty()) {
        // Before any scenario: the domain of the account running us.
        sid = ProcessUserSid();
        size_t cut = sid.rfind(L'-');
        sid = cut == std::wstring::npos ? L"S-1-5-21-0-0-0" : sid.substr(0, cut);
    }
    return sid;
}

std::wstring AccountSid(DWORD rid)
{
    return DomainSid() + L"-" + std::to_wstring(rid);
}

DWORD RidOfSid(const std::wstring& sid)
{
    std::wstring prefix = DomainSid() + L"-";
    if (sid.size() <= prefix.size() || _wcsnicmp(sid.c_str(), prefix.c_str(), prefix.size()) != 0)
        return 0;
    const wchar_t* digits = sid.c_str() + prefix.size();
    wchar_t* end = nullptr;
    unsigned long rid = wcstoul(digits, &end, 10);
    return end != digits && *end == L'\0' ? static_cast<DWORD>(rid) : 0;
}

std::wstring SidToString(PSID sid)
{
    std::wstring text;
    LPWSTR converted = nullptr;
    if (sid != nullptr && IsValidSid(sid) && ConvertSidToStringSidW(sid, &converted)) {
        text = converted;
        LocalFree(converted);
    }
    return text;
}

DWORD PrivilegeOf(const Account& account)
{
    std::wstring sid = AccountSid(account.rid);
    if (IsMember(kAdministratorsRid, sid))
        return USER_PRIV_ADMIN;
    if (IsMember(kUsersRid, sid))
        return USER_PRIV_USER;
    return USER_PRIV_GUEST;
}

bool IsMember(DWORD aliasRid, const std::wstring& sid)
{
    StateLock lock;
    Key alias = OpenState(L"Groups\\" + std::to_wstring(aliasRid), false);
    return alias && RegQueryValueExW(alias.Get(), sid.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool AddMember(DWORD aliasRid, const std::wstring& sid)
{
    StateLock lock;
    Key alias = OpenState(L"Groups\\" + std::to_wstring(aliasRid), true);
    return alias && WriteString(alias.Get(), sid.c_str(), L"");
}

bool RemoveMember(DWORD aliasRid, const std::wstring& sid)
{
    StateLock lock;
    Key alias = OpenState(L"Groups\\" + std::to_wstring(aliasRid), false);
    return alias && RegDeleteValueW(alias.Get(), sid.c_str()) == ERROR_SUCCESS;
}

void RemoveFromAllAliases(const std::wstring& sid)
{
    for (DWORD rid : kAliasRids)
        RemoveMember(rid, sid);
    for (const DomainAlias& alias : DomainAliases())
        RemoveMember(alias.rid, sid);
}

std::vector<DomainAlias> DomainAliases()
{
    StateLock lock;
    std::vector<DomainAlias> aliases;
    Key all = OpenState(L"Aliases", false);
    for (const std::wstring& rid : SubkeyNames(all.Get())) {
        Key one = OpenState(L"Aliases\\" + rid, false);
        bool named = false;
        DomainAlias alias;
        alias.rid = wcstoul(rid.c_str(), nullptr, 10);
        alias.name = ReadString(one.Get(), L"Name", L"", &named);
        alias.comment = ReadString(one.Get(), L"Comment", L"");
        if (named)
            aliases.push_back(std::move(alias));
    }
    std::sort(aliases.begin(), aliases.end(), [](const DomainAlias& a, const DomainAlias& b) { return a.rid < b.rid; });
    return aliases;
}

bool FindDomainAlias(const wchar_t* name, DomainAlias* alias)
{
    for (DomainAlias& one : DomainAliases()) {
        if (name != nullptr && _wcsicmp(one.name.c_str(), name) == 0) {
            *alias = std::move(one);
            return true;
        }
    }
    return false;
}

bool FindDomainAliasByRid(DWORD rid, DomainAlias* alias)
{
    for (DomainAlias& one : DomainAliases()) {
        if (one.rid == rid) {
            *alias = std::move(one);
            return true;
        }
    }
    return false;
}

bool SaveDomainAlias(const DomainAlias& alias)
{
    StateLock lock;
    Key key = OpenState(L"Aliases\\" + std::to_wstring(alias.rid), true);
    return key && WriteString(key.Get(), L"Name", alias.name) && WriteString(key.Get(), L"Comment", alias.comment);
}

void RemoveDomainAlias(DWORD rid)
{
    StateLock lock;
    Key state = OpenState(L"", false);
    if (!state)
        return;
    DeleteTree(state.Get(), L"Aliases\\" + std::to_wstring(rid));
    DeleteTree(state.Get(), L"Groups\\" + std::to_wstring(rid));
}

std::wstring AliasComment(DWORD rid)
{
    StateLock lock;
    Key key = OpenState(L"Aliases\\" + std::to_wstring(rid), false);
    return key ? ReadString(key.Get(), L"Comment", L"") : L"";
}

bool SetAliasComment(DWORD rid, const std::wstring& comment)
{
    StateLock lock;
    Key key = OpenState(L"Aliases\\" + std::to_wstring(rid), true);
    return key && WriteString(key.Get(), L"Comment", comment);
}

std::vector<std::wstring> MembersOf(DWORD aliasRid)
{
    StateLock lock;
    Key alias = OpenState(L"Groups\\" + std::to_wstring(aliasRid), false);
    return alias ? ValueNames(alias.Get()) : std::vector<std::wstring>();
}

std::vector<std::wstring> SidsWithRights()
{
    StateLock lock;
    Key rights = OpenState(L"Rights", false);
    std::vector<std::wstring> sids;
    for (const std::wstring& sid : rights ? SubkeyNames(rights.Get()) : std::vector<std::wstring>()) {
        if (!RightsOf(sid).empty())
            sids.push_back(sid);
    }
    return sids;
}

std::vector<std::wstring> RightsOf(const std::wstring& sid)
{
    StateLock lock;
    Key rights = OpenState(L"Rights\\" + sid, false);
    return ValueNames(rights.Get());
}

void SetRights(const std::wstring& sid, const std::vector<std::wstring>& rights)
{
    StateLock lock;
    DeleteTree(HKEY_LOCAL_MACHINE, StatePath(L"Rights\\" + sid));
    if (rights.empty())
        return;
    Key key = OpenState(L"Rights\\" + sid, true);
    for (const std::wstring& right : rights)
        WriteString(key.Get(), right.c_str(), L"");
}

namespace {

// Secrets are kept scrambled so that no registry listing shows a password.
void Scramble(std::vector<BYTE>& data)
{
    BYTE mask = 0x5A;
    for (BYTE& b : data) {
        b ^= mask;
        mask = static_cast<BYTE>(mask * 13 + 7);
    }
}

}  // namespace

bool ReadSecret(const std::wstring& name, std::vector<BYTE>* data)
{
    StateLock lock;
    Key secrets = OpenState(L"Secrets", false);
    DWORD size = 0, type = 0;
    if (!secrets || RegQueryValueExW(secrets.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::vector<BYTE> bytes(size);
    if (RegQueryValueExW(secrets.Get(), name.c_str(), nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS)
        return false;
    bytes.resize(size);
    Scramble(bytes);
    *data = std::move(bytes);
    return true;
}

bool WriteSecret(const std::wstring& name, const BYTE* data, DWORD size)
{
    StateLock lock;
    std::vector<BYTE> bytes(data, data + size);
    Scramble(bytes);
    Key secrets = OpenState(L"Secrets", true);
    bool ok = secrets && RegSetValueExW(secrets.Get(), name.c_str(), 0, REG_BINARY, bytes.data(), size) ==
                             ERROR_SUCCESS;
    SecureZeroMemory(bytes.data(), bytes.size());
    return ok;
}

bool DeleteSecret(const std::wstring& name)
{
    StateLock lock;
    Key secrets = OpenState(L"Secrets", false);
    return secrets && RegDeleteValueW(secrets.Get(), name.c_str()) == ERROR_SUCCESS;
}

void Record(const wchar_t* call, std::initializer_list<Detail> details)
{
    StateLock lock;
    Key record = OpenState(L"Record", true);
    DWORD next = ReadDword(record.Get(), L"Next", 1);
    wchar_t name[16];
    swprintf(name, ARRAYSIZE(name), L"%06lu", static_cast<unsigned long>(next));
    Key entry;
    if (RegCreateKeyExW(record.Get(), name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, entry.Put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    WriteString(entry.Get(), L"Call", call);
    for (const Detail& detail : details)
        WriteString(entry.Get(), detail.name, detail.value);
    WriteDword(record.Get(), L"Next", next + 1);
}

std::vector<RecordedAction> RecordedActions()
{
    StateLock lock;
    std::vector<RecordedAction> actions;
    Key record = OpenState(L"Record", false);
    std::vector<std::wstring> names = SubkeyNames(record.Get());
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
        Key entry;
        if (RegOpenKeyExW(record.Get(), name.c_str(), 0, KEY_READ, entry.Put()) != ERROR_SUCCESS)
            continue;
        RecordedAction action;
        for (const std::wstring& value : ValueNames(entry.Get())) {
            if (value == L"Call")
                action.call = ReadString(entry.Get(), L"Call", L"");
            else
                action.details[value] = ReadString(entry.Get(), value.c_str(), L"");
        }
        actions.push_back(std::move(action));
    }
    return actions;
}

void ClearRecord()
{
    StateLock lock;
    DeleteTree(HKEY_LOCAL_MACHINE, StatePath(L"Record"));
}

bool IsElevated()
{
    return MachineDword(kElevated, 1) != 0;
}

void SetElevated(bool elevated)
{
    SetMachineDword(kElevated, elevated ? 1 : 0);
}

void SetWebBrowser(bool installed)
{
    SetMachineDword(kWebBrowser, installed ? 1 : 0);
}

void SetFolderSetters(bool redirect, bool knownFolderPath, bool folderPathOrdinal)
{
    SetMachineDword(kFolderRedirect, redirect ? 1 : 0);
    SetMachineDword(kKnownFolderSetter, knownFolderPath ? 1 : 0);
    SetMachineDword(kFolderPathSetter, folderPathOrdinal ? 1 : 0);
}

DWORD ForcedFailure(const wchar_t* call)
{
    return MachineDword((std::wstring(L"Fail ") + call).c_str(), 0);
}

void SetCallFailure(const wchar_t* call, unsigned long status)
{
    SetMachineDword((std::wstring(L"Fail ") + call).c_str(), static_cast<DWORD>(status));
}

void SetNetUserEnumPageSize(unsigned accountsPerPage)
{
    SetMachineDword(kPageSize, accountsPerPage);
}

std::wstring ProcessUserName()
{
    wchar_t name[UNLEN + 1] = L"";
    DWORD length = ARRAYSIZE(name);
    if (!GetUserNameW(name, &length))
        return L"user";
    return name;
}

std::wstring ProcessUserSid()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return L"";
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    if (!GetTokenInformation(token.Get(), TokenUser, buffer, size, &size))
        return L"";
    return SidToString(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

}  // namespace sandbox
