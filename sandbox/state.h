// The simulated machine's state, kept in the Wine registry under
// HKLM\<kStateKey> so that it survives from one process to the next:
//   values        machine settings (see the names below)
//   Users\<name>  one key per account
//   Groups\<rid>  one key per built-in alias; value names are member SIDs
//   Rights\<sid>  value names are the account rights held
//   Secrets       private data of the security authority, scrambled
//   Profiles      profile folders and profile-list keys that the sandbox made
//   Record\<n>    actions recorded instead of performed
#pragma once

#include <windows.h>
#include <lm.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace sandbox {

struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};
using Key = UniqueResource<RegistryKeyTraits>;

// Where the system keeps the automatic sign-in, under HKLM.
inline constexpr wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// Machine settings.
inline constexpr wchar_t kDomainSid[] = L"DomainSid";            // "S-1-5-21-a-b-c"
inline constexpr wchar_t kNextRid[] = L"NextRid";
inline constexpr wchar_t kPageSize[] = L"AccountsPerPage";       // 0: every account in one page
inline constexpr wchar_t kMinimumPasswordLength[] = L"MinimumPasswordLength";
// The rest of the password and lock-out policy, in seconds where a time
// (TIMEQ_FOREVER: no limit); absent, a fresh installation's values.
inline constexpr wchar_t kMaximumPasswordAge[] = L"MaximumPasswordAge";
inline constexpr wchar_t kMinimumPasswordAge[] = L"MinimumPasswordAge";
inline constexpr wchar_t kPasswordHistory[] = L"PasswordHistory";
inline constexpr wchar_t kForceLogoff[] = L"ForceLogoff";
inline constexpr wchar_t kLockoutThreshold[] = L"LockoutThreshold";
inline constexpr wchar_t kLockoutDuration[] = L"LockoutDuration";
inline constexpr wchar_t kLockoutWindow[] = L"LockoutWindow";
inline constexpr wchar_t kProfileService[] = L"ProfileService";  // 0: CreateProfile is missing
inline constexpr wchar_t kSecurityPolicy[] = L"SecurityPolicy";  // 0: LsaOpenPolicy is refused
inline constexpr wchar_t kElevated[] = L"Elevated";
inline constexpr wchar_t kWebBrowser[] = L"WebBrowser";          // 0: web pages cannot be opened
inline constexpr wchar_t kHighContrast[] = L"HighContrast";      // 1: the operator chose a high-contrast theme
inline constexpr wchar_t kConsoleUser[] = L"ConsoleUser";        // absent: the account running us; "": none
inline constexpr wchar_t kScenario[] = L"Scenario";
inline constexpr wchar_t kFolderRedirect[] = L"FolderRedirect";        // 0: Redirect fails
inline constexpr wchar_t kKnownFolderSetter[] = L"KnownFolderSetter";  // 0: SHSetKnownFolderPath is missing
inline constexpr wchar_t kFolderPathSetter[] = L"FolderPathSetter";    // 0: ordinal 232 is missing

// Built-in aliases the account types come from.
inline constexpr DWORD kAdministratorsRid = DOMAIN_ALIAS_RID_ADMINS;   // 544
inline constexpr DWORD kUsersRid = DOMAIN_ALIAS_RID_USERS;             // 545
inline constexpr DWORD kGuestsRid = DOMAIN_ALIAS_RID_GUESTS;           // 546
// Every built-in alias of the simulated machine: the three above and the
// ones an administrator adds people to besides, as a fresh system has them.
inline constexpr DWORD kAliasRids[] = {kAdministratorsRid, kUsersRid, kGuestsRid, DOMAIN_ALIAS_RID_POWER_USERS,
                                       DOMAIN_ALIAS_RID_BACKUP_OPS, DOMAIN_ALIAS_RID_REMOTE_DESKTOP_USERS};

struct Account {
    std::wstring name;
    DWORD rid = 0;
    std::wstring fullName, comment, userComment, homeDir, scriptPath, profile, picture;
    DWORD flags = UF_SCRIPT | UF_NORMAL_ACCOUNT;
    bool hasPassword = false;
    uint64_t passwordHash = 0;
    bool passwordExpired = false;
    DWORD passwordSetTime = 0;   // seconds since 1970
    DWORD lastLogon = 0;
    DWORD logonCount = 0;
    DWORD badPasswordCount = 0;  // wrong passwords since the last sign-in
    DWORD accountExpires = TIMEQ_FOREVER;   // seconds since 1970
    bool unreadable = false;     // NetUserGetInfo is refused
};

// A local group made on this computer (Aliases\<rid>: Name, Comment); a
// built-in alias keeps only its comment there.
struct DomainAlias {
    DWORD rid = 0;
    std::wstring name, comment;
};

// Serialises access to the state between this process's threads.
class StateLock {
public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
};

Key OpenState(const std::wstring& subkey, bool create);
DWORD ReadDword(HKEY key, const wchar_t* name, DWORD fallback);
std::wstring ReadString(HKEY key, const wchar_t* name, const std::wstring& fallback, bool* present = nullptr);
bool WriteDword(HKEY key, const wchar_t* name, DWORD value);
bool WriteString(HKEY key, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ);
std::vector<std::wstring> SubkeyNames(HKEY key);
std::vector<std::wstring> ValueNames(HKEY key);
bool DeleteTree(HKEY root, const std::wstring& path);

DWORD MachineDword(const wchar_t* name, DWORD fallback);
// The status a test asked `call` to fail with (SetCallFailure), 0 for none.
DWORD ForcedFailure(const wchar_t* call);
std::wstring MachineString(const wchar_t* name, const std::wstring& fallback, bool* present = nullptr);
void SetMachineDword(const wchar_t* name, DWORD value);
void SetMachineString(const wchar_t* name, const std::wstring& value);

// Accounts, found without regard to case.
bool FindAccount(const wchar_t* name, Account* account);
// The account's picture alone, as the shell keeps one file per account
// and finds it without reading the rest of the account: false when there
// is no such account.
bool FindAccountPicture(const wchar_t* name, std::wstring* picture);
bool FindAccountByRid(DWORD rid, Account* account);
std::vector<Account> Accounts();   // in order of RID
bool SaveAccount(const Account& account);
void RemoveAccount(const std::wstring& name);
DWORD AllocateRid();
// The stored form of a password, salted with the account's RID: it
// outlives a rename, as the system keeps a password with the account, not
// with its name.
uint64_t HashPassword(DWORD rid, const wchar_t* password);
DWORD Now();

std::wstring DomainSid();
std::wstring AccountSid(DWORD rid);
// The RID of a SID string of this machine's domain; 0 for any other SID.
DWORD RidOfSid(const std::wstring& sid);
std::wstring SidToString(PSID sid);

// The user privilege an account's memberships give it.
DWORD PrivilegeOf(const Account& account);

bool IsMember(DWORD aliasRid, const std::wstring& sid);
bool AddMember(DWORD aliasRid, const std::wstring& sid);
bool RemoveMember(DWORD aliasRid, const std::wstring& sid);
void RemoveFromAllAliases(const std::wstring& sid);
// The alias's member SIDs, whether or not their accounts still exist.
std::vector<std::wstring> MembersOf(DWORD aliasRid);

// The local groups made on this computer, in order of RID; found by name
// without regard to case.
std::vector<DomainAlias> DomainAliases();
bool FindDomainAlias(const wchar_t* name, DomainAlias* alias);
bool FindDomainAliasByRid(DWORD rid, DomainAlias* alias);
bool SaveDomainAlias(const DomainAlias& alias);
// The group and its memberships.
void RemoveDomainAlias(DWORD rid);
// The comment of an alias, built-in or made here.
std::wstring AliasComment(DWORD rid);
bool SetAliasComment(DWORD rid, const std::wstring& comment);

std::vector<std::wstring> RightsOf(const std::wstring& sid);
void SetRights(const std::wstring& sid, const std::vector<std::wstring>& rights);
// Every SID that holds at least one right.
std::vector<std::wstring> SidsWithRights();

bool ReadSecret(const std::wstring& name, std::vector<BYTE>* data);
bool WriteSecret(const std::wstring& name, const BYTE* data, DWORD size);
bool DeleteSecret(const std::wstring& name);

struct Detail {
    const wchar_t* name;
    std::wstring value;
};
void Record(const wchar_t* call, std::initializer_list<Detail> details);

// The account this process runs as under Wine, and its SID.
std::wstring ProcessUserName();
std::wstring ProcessUserSid();

}  // namespace sandbox
