// The simulated account database and account lookups, behind the machine
// boundary: documented statuses, paging and buffer rules of the system's own.
#include "platform/machine.h"

#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "sandbox/sandbox.h"
#include "sandbox/state.h"

namespace {

using sandbox::Account;

constexpr DWORD kUnlimited = 0xFFFFFFFF;   // TIMEQ_FOREVER, USER_MAXSTORAGE_UNLIMITED
constexpr DWORD kLogonHoursBytes = 21;     // one bit per hour of the week
constexpr DWORD kFreshLockoutSeconds = 30 * 60;   // a fresh installation's lock-out duration and window

// Lays out the records and their strings in one block, the way the system
// hands them out: measured first, then written.
class Packer {
public:
    explicit Packer(BYTE* block = nullptr, size_t recordBytes = 0) : base_(block), used_(recordBytes) {}

    LPWSTR Text(const std::wstring& text)
    {
        size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        LPWSTR where = base_ != nullptr ? reinterpret_cast<LPWSTR>(base_ + used_) : nullptr;
        if (where != nullptr)
            memcpy(where, text.c_str(), bytes);
        used_ += bytes;
        return where;
    }

    PBYTE AllHours()
    {
        PBYTE where = base_ != nullptr ? base_ + used_ : nullptr;
        if (where != nullptr)
            memset(where, 0xFF, kLogonHoursBytes);
        used_ += kLogonHoursBytes + 1;   // keeps the strings after it aligned
        return where;
    }

    size_t Used() const { return used_; }

private:
    BYTE* base_;
    size_t used_;
};

size_t RecordSize(DWORD level)
{
    switch (level) {
    case 0: return sizeof(USER_INFO_0);
    case 1: return sizeof(USER_INFO_1);
    case 3: return sizeof(USER_INFO_3);
    case 10: return sizeof(USER_INFO_10);
    case 11: return sizeof(USER_INFO_11);
    case 20: return sizeof(USER_INFO_20);
    default: return 0;
    }
}

DWORD ReportedFlags(const Account& a)
{
    DWORD flags = a.flags & ~UF_PASSWORD_EXPIRED;
    if (a.passwordExpired)
        flags |= UF_PASSWORD_EXPIRED;
    return flags;
}

DWORD PasswordAge(const Account& a)
{
    DWORD now = sandbox::Now();
    return a.passwordSetTime != 0 && now > a.passwordSetTime ? now - a.passwordSetTime : 0;
}

// Writes (or, with a measuring packer, only sizes) one record.
void FillRecord(const Account& a, DWORD priv, DWORD level, BYTE* record, Packer& packer)
{
    switch (level) {
    case 0: {
        USER_INFO_0 info{};
        info.usri0_name = packer.Text(a.name);
        if (record != nullptr)
            memcpy(record, &info, sizeof(info));
        break;
    }
    case 1: {
        USER_INFO_1 info{};
        info.usri1_name = packer.Text(a.name);
        info.usri1_password_age = PasswordAge(a);
        info.usri1_priv = priv;
        info.usri1_home_dir = packer.Text(a.homeDir);
        info.usri1_comment = packer.Text(a.comment);
        info.usri1_flags = ReportedFlags(a);
        info.usri1_script_path = packer.Text(a.scriptPath);
        if (record != nullptr)
            memcpy(record, &info, sizeof(info));
        break;
    }
    case 3: {
        USER_INFO_3 info{};
        info.usri3_name = packer.Text(a.name);
        info.usri3_password_age = PasswordAge(a);
        info.usri3_priv = priv;
        info.usri3_home_dir = packer.Text(a.homeDir);
        info.usri3_comment = packer.Text(a.comment);
        info.usri3_flags = ReportedFlags(a);
        info.usri3_script_path = packer.Text(a.scriptPath);
        info.usri3_full_name = packer.Text(a.fullName);
        info.usri3_usr_comment = packer.Text(a.userComment);
        info.usri3_parms = packer.Text(L"");
        info.usri3_workstations = packer.Text(L"");
        info.usri3_last_logon = a.lastLogon;
        info.usri3_acct_expires = a.accountExpires;
        info.usri3_bad_pw_count = a.badPasswordCount;
        info.usri3_max_storage = kUnlimited;
        info.usri3_units_per_week = UNITS_PER_WEEK;
        info.usri3_logon_hours = packer.AllHours();
        info.usri3_num_logons = a.logonCount;
        info.usri3_logon_server = packer.Text(L"\\\\*");
        info.usri3_user_id = a.rid;
        info.usri3_primary_group_id = DOMAIN_GROUP_RID_USERS;
        info.usri3_profile = packer.Text(a.profile);
        info.usri3_home_dir_drive = packer.Text(L"");
        info.usri3_password_expired = a.passwordExpired ? 1 : 0;
        if (record != nullptr)
            memcpy(record, &info, sizeof(info));
        break;
    }
    case 10: {
        USER_INFO_10 info{};
        info.usri10_name = packer.Text(a.name);
        info.usri10_comment = packer.Text(a.comment);
        info.usri10_usr_comment = packer.Text(a.userComment);
        info.usri10_full_name = packer.Text(a.fullName);
        if (record != nullptr)
            memcpy(record, &info, sizeof(info));
        break;
    }
    case 11: {
        USER_INFO_11 info{};
        info.usri11_name = packer.Text(a.name);
        info.usri11_comment = packer.Text(a.comment);
        info.usri11_usr_comment = packer.Text(a.userComment);
        info.usri11_full_name = packer.Text(a.fullName);
        info.usri11_priv = priv;
        info.usri11_password_age = PasswordAge(a);
        info.usri11_home_dir = packer.Text(a.homeDir);
        info.usri11_parms = packer.Text(L"");
        info.usri11_last_logon = a.lastLogon;
        info.usri11_bad_pw_count = 0;
        info.usri11_num_logons = a.logonCount;
        info.usri11_logon_server = packer.Text(L"\\\\*");
        info.usri11_workstations = packer.Text(L"");
        info.usri11_max_storage = kUnlimited;
        info.usri11_units_per_week = UNITS_PER_WEEK;
        info.usri11_logon_hours = packer.AllHours();
        if (record != nullptr)
            memcpy(record, &info, sizeof(info));
        break;
    }
    case 20: {
        USER_INFO_20 info{};
        info.usri20_name = packer.Text(a.name);
        info.usri20_full_name = packer.Text(a.fullName);
        info.usri20_comment = packer.Text(a.comment);
        info.usri20_flags = ReportedFlags(a);
        info.usri20_user_id = a.rid;
        if (record != nullptr)
            memcpy(record, &info, sizeof(info));
        break;
    }
    }
}

// One block holding `accounts` at `level`; the caller frees it with NetApiBufferFree.
BYTE* PackRecords(const std::vector<const Account*>& accounts, DWORD level)
{
    size_t recordSize = RecordSize(level);
    size_t records = recordSize * accounts.size();
    Packer measure(nullptr, records);
    for (const Account* a : accounts)
        FillRecord(*a, 0, level, nullptr, measure);
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, std::max<size_t>(measure.Used(), 1)));
    if (block == nullptr)
        return nullptr;
    Packer packer(block, records);
    for (size_t i = 0; i < accounts.size(); ++i)
        FillRecord(*accounts[i], sandbox::PrivilegeOf(*accounts[i]), level, block + i * recordSize, packer);
    return block;
}

bool IsLocalServer(LPCWSTR server)
{
    return server == nullptr || *server == L'\0';
}

// The names the system refuses: too long, only dots and blanks, or holding
// one of the characters that separate names elsewhere.
bool IsValidAccountName(const wchar_t* name, size_t longest = LM20_UNLEN)
{
    if (name == nullptr)
        return false;
    size_t length = wcslen(name);
    if (length == 0 || length > longest)
        return false;
    bool onlyDotsAndBlanks = true;
    for (const wchar_t* p = name; *p != L'\0'; ++p) {
        if (*p < 32 || wcschr(L"\"/\\[]:;|=,+*?<>@", *p) != nullptr)
            return false;
        if (*p != L'.' && *p != L' ')
            onlyDotsAndBlanks = false;
    }
    return !onlyDotsAndBlanks;
}

NET_API_STATUS CheckPasswordPolicy(DWORD flags, const wchar_t* password)
{
    size_t length = password != nullptr ? wcslen(password) : 0;
    if (length == 0 && (flags & UF_PASSWD_NOTREQD) != 0)
        return NERR_Success;
    DWORD minimum = sandbox::MachineDword(sandbox::kMinimumPasswordLength, 0);
    return length < minimum ? NERR_PasswordTooShort : NERR_Success;
}

void SetPassword(Account& a, const wchar_t* password)
{
    a.hasPassword = password != nullptr && *password != L'\0';
    a.passwordHash = a.hasPassword ? sandbox::HashPassword(a.rid, password) : 0;
    a.passwordSetTime = sandbox::Now();
    a.passwordExpired = false;
}

// A lock-out can be cleared, never set; the expiry bit is not a stored flag.
DWORD MergeFlags(const Account& a, DWORD requested)
{
    DWORD flags = requested & ~(UF_LOCKOUT | UF_PASSWORD_EXPIRED);
    flags |= a.flags & requested & UF_LOCKOUT;
    return flags | UF_NORMAL_ACCOUNT;
}

std::wstring ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD length = ARRAYSIZE(name);
    GetComputerNameW(name, &length);
    return name;
}

// The built-in aliases by their names as the system gives them.
DWORD AliasRidByName(const wchar_t* name)
{
    for (DWORD rid : sandbox::kAliasRids) {
        std::wstring text = L"S-1-5-32-" + std::to_wstring(rid);
        PSID sid = nullptr;
        if (!ConvertStringSidToSidW(text.c_str(), &sid))
            continue;
        UniqueLocalMemory holder(sid);
        wchar_t alias[256], domain[256];
        DWORD aliasLength = ARRAYSIZE(alias), domainLength = ARRAYSIZE(domain);
        SID_NAME_USE use;
        if (::LookupAccountSidW(nullptr, sid, alias, &aliasLength, domain, &domainLength, &use) &&
            _wcsicmp(alias, name) == 0)
            return rid;
    }
    // Then the groups made on this computer, whose RIDs are its accounts'.
    sandbox::DomainAlias made;
    return sandbox::FindDomainAlias(name, &made) ? made.rid : 0;
}

// A local group made on this computer, by the RID of its SID.
bool IsDomainAlias(DWORD rid)
{
    sandbox::DomainAlias alias;
    return rid != 0 && sandbox::FindDomainAliasByRid(rid, &alias);
}

// The alias's name as the system gives it.
std::wstring AliasName(DWORD rid)
{
    std::wstring text = L"S-1-5-32-" + std::to_wstring(rid);
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text.c_str(), &sid))
        return L"";
    UniqueLocalMemory holder(sid);
    wchar_t alias[256], domain[256];
    DWORD aliasLength = ARRAYSIZE(alias), domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    return ::LookupAccountSidW(nullptr, sid, alias, &aliasLength, domain, &domainLength, &use) ? alias : L"";
}

// What the system's own lookup takes a SID outside this computer's domain
// for; SidTypeUnknown when it names nothing.
SID_NAME_USE WellKnownUse(const std::wstring& text)
{
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text.c_str(), &sid))
        return SidTypeUnknown;
    UniqueLocalMemory holder(sid);
    wchar_t name[256], domain[256];
    DWORD nameLength = ARRAYSIZE(name), domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use = SidTypeUnknown;
    return ::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use) ? use : SidTypeUnknown;
}

// The member SIDs of a group call, checked before anything changes.
// Given `memberOf`, a SID given as such (level 0) that is a member of that
// alias is taken even when its account is gone, as the system removes a
// deleted account's SID from a group by the SID alone.
NET_API_STATUS MemberSids(DWORD level, LPBYTE buf, DWORD count, std::vector<std::wstring>* sids, DWORD memberOf = 0)
{
    if (buf == nullptr && count > 0)
        return ERROR_INVALID_PARAMETER;
    for (DWORD i = 0; i < count; ++i) {
        std::wstring sid;
        if (level == 0) {
            sid = sandbox::SidToString(reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(buf)[i].lgrmi0_sid);
        } else if (level == 3) {
            BYTE buffer[SECURITY_MAX_SID_SIZE];
            DWORD size = sizeof(buffer);
            wchar_t domain[256];
            DWORD domainLength = ARRAYSIZE(domain);
            SID_NAME_USE use;
            if (machine::LookupAccountNameW(nullptr, reinterpret_cast<LOCALGROUP_MEMBERS_INFO_3*>(buf)[i]
                                                         .lgrmi3_domainandname,
                                            buffer, &size, domain, &domainLength, &use))
                sid = sandbox::SidToString(buffer);
        } else {
            return ERROR_INVALID_LEVEL;
        }
        Account account;
        DWORD rid = sandbox::RidOfSid(sid);
        bool bareMember = level == 0 && memberOf != 0 && sandbox::IsMember(memberOf, sid);
        if (!bareMember && rid == 0) {
            // Not this computer's: one of the system's well-known principals
            // may be a member; a local group may not, nor what names nothing.
            SID_NAME_USE use = WellKnownUse(sid);
            if (use == SidTypeAlias)
                return ERROR_INVALID_MEMBER;
            if (use != SidTypeWellKnownGroup && use != SidTypeUser)
                return ERROR_NO_SUCH_MEMBER;
        } else if (!bareMember && IsDomainAlias(rid)) {
            return ERROR_INVALID_MEMBER;   // a local group is never a member of one
        } else if (!bareMember && !sandbox::FindAccountByRid(rid, &account)) {
            return ERROR_NO_SUCH_MEMBER;
        }
        sids->push_back(sid);
    }
    return NERR_Success;
}

// Splits "DOMAIN\name"; true when the name may be one of our accounts.
bool LocalAccountPart(const wchar_t* text, std::wstring* name)
{
    const wchar_t* slash = wcschr(text, L'\\');
    if (slash == nullptr) {
        *name = text;
        return true;
    }
    std::wstring domain(text, slash);
    *name = slash + 1;
    return domain == L"." || _wcsicmp(domain.c_str(), ComputerName().c_str()) == 0;
}

// Copies a SID and a domain name out with the system's buffer rules.
BOOL AnswerLookup(PSID sid, PSID out, LPDWORD outSize, const std::wstring& first, LPWSTR firstOut,
                  LPDWORD firstLength, const std::wstring& domain, LPWSTR domainOut, LPDWORD domainLength)
{
    DWORD sidSize = sid != nullptr ? GetLengthSid(sid) : 0;
    bool fits = (outSize == nullptr || (out != nullptr && *outSize >= sidSize)) &&
                (firstLength == nullptr || (firstOut != nullptr && *firstLength > first.size())) &&
                (domainOut != nullptr && *domainLength > domain.size());
    if (!fits) {
        if (outSize != nullptr)
            *outSize = sidSize;
        if (firstLength != nullptr)
            *firstLength = static_cast<DWORD>(first.size() + 1);
        *domainLength = static_cast<DWORD>(domain.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (outSize != nullptr) {
        CopySid(*outSize, out, sid);
        *outSize = sidSize;
    }
    if (firstLength != nullptr) {
        wcscpy_s(firstOut, *firstLength, first.c_str());
        *firstLength = static_cast<DWORD>(first.size());
    }
    wcscpy_s(domainOut, *domainLength, domain.c_str());
    *domainLength = static_cast<DWORD>(domain.size());
    return TRUE;
}

}  // namespace

namespace machine {

NET_API_STATUS NetUserEnum(LPCWSTR servername, DWORD level, DWORD filter, LPBYTE* bufptr, DWORD prefmaxlen,
                           LPDWORD entriesread, LPDWORD totalentries, PDWORD resume_handle)
{
    if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    *entriesread = 0;
    *totalentries = 0;
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (RecordSize(level) == 0)
        return ERROR_INVALID_LEVEL;

    // An enumeration reads the database once, at its first page; the resume
    // handle walks that snapshot.
    static std::vector<Account> snapshot;
    sandbox::StateLock lock;
    DWORD start = resume_handle != nullptr ? *resume_handle : 0;
    // A database that fails in the middle of a walk, as a test asked.
    if (DWORD failure = start != 0 ? sandbox::ForcedFailure(L"NetUserEnum") : 0)
        return failure;
    if (start == 0 || start > snapshot.size())
        snapshot = (filter == 0 || (filter & FILTER_NORMAL_ACCOUNT) != 0) ? sandbox::Accounts() : std::vector<Account>();
    const std::vector<Account>& all = snapshot;
    if (start > all.size())
        start = static_cast<DWORD>(all.size());

    // A page holds what the preferred length allows (at least one record),
    // and never more than the machine's page size when one is set.
    size_t remaining = all.size() - start;
    size_t count = remaining;
    DWORD pageSize = sandbox::MachineDword(sandbox::kPageSize, 0);
    if (pageSize != 0)
        count = std::min<size_t>(count, pageSize);
    if (prefmaxlen != MAX_PREFERRED_LENGTH) {
        size_t fits = 0, bytes = 0;
        while (fits < count) {
            Packer measure(nullptr, RecordSize(level));
            FillRecord(all[start + fits], 0, level, nullptr, measure);
            if (fits > 0 && bytes + measure.Used() > prefmaxlen)
                break;
            bytes += measure.Used();
            ++fits;
        }
        count = fits;
    }

    std::vector<const Account*> page;
    for (size_t i = 0; i < count; ++i)
        page.push_back(&all[start + i]);
    if (!page.empty()) {
        *bufptr = PackRecords(page, level);
        if (*bufptr == nullptr)
            return ERROR_NOT_ENOUGH_MEMORY;
    }
    *entriesread = static_cast<DWORD>(count);
    *totalentries = static_cast<DWORD>(remaining);
    bool more = count < remaining;
    if (resume_handle != nullptr)
        *resume_handle = more ? static_cast<DWORD>(start + count) : 0;
    return more ? ERROR_MORE_DATA : NERR_Success;
}

NET_API_STATUS NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE* bufptr)
{
    if (bufptr == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (RecordSize(level) == 0)
        return ERROR_INVALID_LEVEL;
    Account account;
    if (!sandbox::FindAccount(username, &account))
        return NERR_UserNotFound;
    if (account.unreadable)
        return ERROR_ACCESS_DENIED;
    *bufptr = PackRecords({&account}, level);
    return *bufptr != nullptr ? NERR_Success : ERROR_NOT_ENOUGH_MEMORY;
}

NET_API_STATUS NetUserSetInfo(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (buf == nullptr)
        return ERROR_INVALID_PARAMETER;
    sandbox::StateLock lock;
    Account a;
    if (!sandbox::FindAccount(username, &a))
        return NERR_UserNotFound;
    if (a.unreadable)
        return ERROR_ACCESS_DENIED;
    auto refuse = [parm_err](DWORD parameter, NET_API_STATUS status) {
        if (parm_err != nullptr)
            *parm_err = parameter;
        return status;
    };
    auto text = [](LPCWSTR value) { return std::wstring(value != nullptr ? value : L""); };

    switch (level) {
    case 0: {
        LPCWSTR newName = reinterpret_cast<USER_INFO_0*>(buf)->usri0_name;
        Account other;
        if (!IsValidAccountName(newName))
            return refuse(USER_NAME_PARMNUM, NERR_BadUsername);
        if (sandbox::FindAccount(newName, &other) && other.rid != a.rid)
            return NERR_UserExists;
        if (AliasRidByName(newName) != 0)
            return NERR_GroupExists;
        sandbox::RemoveAccount(a.name);
        a.name = newName;
        break;
    }
    case 1:
    case 3: {
        // USER_INFO_3 begins with the fields of USER_INFO_1.
        const USER_INFO_1* info = reinterpret_cast<USER_INFO_1*>(buf);
        if (info->usri1_priv != sandbox::PrivilegeOf(a))
            return refuse(USER_PRIV_PARMNUM, ERROR_INVALID_PARAMETER);
        DWORD flags = MergeFlags(a, info->usri1_flags);
        if (info->usri1_password != nullptr) {
            NET_API_STATUS policy = CheckPasswordPolicy(flags, info->usri1_password);
            if (policy != NERR_Success)
                return refuse(USER_PASSWORD_PARMNUM, policy);
            SetPassword(a, info->usri1_password);
        }
        a.flags = flags;
        a.homeDir = text(info->usri1_home_dir);
        a.comment = text(info->usri1_comment);
        a.scriptPath = text(info->usri1_script_path);
        if (level == 3) {
            const USER_INFO_3* full = reinterpret_cast<USER_INFO_3*>(buf);
            a.fullName = text(full->usri3_full_name);
            a.userComment = text(full->usri3_usr_comment);
            a.profile = text(full->usri3_profile);
            a.passwordExpired = full->usri3_password_expired != 0;
            a.accountExpires = full->usri3_acct_expires;
        }
        break;
    }
    case 1003: {
        LPCWSTR password = reinterpret_cast<USER_INFO_1003*>(buf)->usri1003_password;
        NET_API_STATUS policy = CheckPasswordPolicy(a.flags, password);
        if (policy != NERR_Success)
            return refuse(USER_PASSWORD_PARMNUM, policy);
        SetPassword(a, password);
        break;
    }
    case 1017:
        a.accountExpires = reinterpret_cast<USER_INFO_1017*>(buf)->usri1017_acct_expires;
        break;
    case 1007:
        a.comment = text(reinterpret_cast<USER_INFO_1007*>(buf)->usri1007_comment);
        break;
    case 1008:
        a.flags = MergeFlags(a, reinterpret_cast<USER_INFO_1008*>(buf)->usri1008_flags);
        break;
    case 1011:
        a.fullName = text(reinterpret_cast<USER_INFO_1011*>(buf)->usri1011_full_name);
        break;
    default:
        return ERROR_INVALID_LEVEL;
    }
    return sandbox::SaveAccount(a) ? NERR_Success : ERROR_ACCESS_DENIED;
}

NET_API_STATUS NetUserAdd(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (level != 1 && level != 3)
        return ERROR_INVALID_LEVEL;
    if (buf == nullptr)
        return ERROR_INVALID_PARAMETER;
    auto refuse = [parm_err](DWORD parameter, NET_API_STATUS status) {
        if (parm_err != nullptr)
            *parm_err = parameter;
        return status;
    };
    const USER_INFO_1* info = reinterpret_cast<USER_INFO_1*>(buf);
    if (!IsValidAccountName(info->usri1_name))
        return refuse(USER_NAME_PARMNUM, NERR_BadUsername);
    if (info->usri1_priv != USER_PRIV_USER)
        return refuse(USER_PRIV_PARMNUM, ERROR_INVALID_PARAMETER);

    sandbox::StateLock lock;
    Account existing;
    if (sandbox::FindAccount(info->usri1_name, &existing))
        return NERR_UserExists;
    if (AliasRidByName(info->usri1_name) != 0)
        return NERR_GroupExists;
    Account a;
    a.name = info->usri1_name;
    a.flags = MergeFlags(a, info->usri1_flags);
    NET_API_STATUS policy = CheckPasswordPolicy(a.flags, info->usri1_password);
    if (policy != NERR_Success)
        return refuse(USER_PASSWORD_PARMNUM, policy);
    a.rid = sandbox::AllocateRid();   // the password is kept with it
    SetPassword(a, info->usri1_password);
    auto text = [](LPCWSTR value) { return std::wstring(value != nullptr ? value : L""); };
    a.homeDir = text(info->usri1_home_dir);
    a.comment = text(info->usri1_comment);
    a.scriptPath = text(info->usri1_script_path);
    if (level == 3) {
        const USER_INFO_3* full = reinterpret_cast<USER_INFO_3*>(buf);
        a.fullName = text(full->usri3_full_name);
        a.userComment = text(full->usri3_usr_comment);
        a.profile = text(full->usri3_profile);
    }
    if (!sandbox::SaveAccount(a))
        return ERROR_ACCESS_DENIED;
    // New local accounts are members of Users.
    sandbox::AddMember(sandbox::kUsersRid, sandbox::AccountSid(a.rid));
    sandbox::PassMachineCall(L"NetUserAdd");
    return NERR_Success;
}

NET_API_STATUS NetUserDel(LPCWSTR servername, LPCWSTR username)
{
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    sandbox::StateLock lock;
    Account a;
    if (!sandbox::FindAccount(username, &a))
        return NERR_UserNotFound;
    std::wstring sid = sandbox::AccountSid(a.rid);
    sandbox::RemoveFromAllAliases(sid);
    sandbox::RemoveAccount(a.name);
    // The system leaves the profile and the account's rights in the security
    // policy behind: the policy keeps an account object for the bare SID.
    sandbox::PassMachineCall(L"NetUserDel");
    return NERR_Success;
}

NET_API_STATUS NetUserChangePassword(LPCWSTR domainname, LPCWSTR username, LPCWSTR oldpassword, LPCWSTR newpassword)
{
    if (!IsLocalServer(domainname) && _wcsicmp(domainname, ComputerName().c_str()) != 0)
        return ERROR_BAD_NETPATH;
    sandbox::StateLock lock;
    Account a;
    if (username == nullptr || !sandbox::FindAccount(username, &a))
        return NERR_UserNotFound;
    bool oldMatches = (oldpassword == nullptr || *oldpassword == L'\0')
                          ? !a.hasPassword
                          : a.hasPassword && sandbox::HashPassword(a.rid, oldpassword) == a.passwordHash;
    if (!oldMatches)
        return ERROR_INVALID_PASSWORD;
    if ((a.flags & UF_PASSWD_CANT_CHANGE) != 0)
        return ERROR_ACCESS_DENIED;
    NET_API_STATUS policy = CheckPasswordPolicy(a.flags, newpassword);
    if (policy != NERR_Success)
        return policy;
    SetPassword(a, newpassword);
    return sandbox::SaveAccount(a) ? NERR_Success : ERROR_ACCESS_DENIED;
}

NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level, LPBYTE buf,
                                       DWORD totalentries)
{
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    DWORD alias = groupname != nullptr ? AliasRidByName(groupname) : 0;
    if (alias == 0)
        return NERR_GroupNotFound;
    sandbox::StateLock lock;
    std::vector<std::wstring> sids;
    NET_API_STATUS status = MemberSids(level, buf, totalentries, &sids);
    if (status != NERR_Success)
        return status;
    for (const std::wstring& sid : sids) {
        if (sandbox::IsMember(alias, sid))
            return ERROR_MEMBER_IN_ALIAS;
    }
    for (const std::wstring& sid : sids)
        sandbox::AddMember(alias, sid);
    return NERR_Success;
}

NET_API_STATUS NetLocalGroupDelMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level, LPBYTE buf,
                                       DWORD totalentries)
{
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    DWORD alias = groupname != nullptr ? AliasRidByName(groupname) : 0;
    if (alias == 0)
        return NERR_GroupNotFound;
    sandbox::StateLock lock;
    std::vector<std::wstring> sids;
    NET_API_STATUS status = MemberSids(level, buf, totalentries, &sids, alias);
    if (status != NERR_Success)
        return status;
    for (const std::wstring& sid : sids) {
        if (!sandbox::IsMember(alias, sid))
            return ERROR_MEMBER_NOT_IN_ALIAS;
    }
    for (const std::wstring& sid : sids)
        sandbox::RemoveMember(alias, sid);
    return NERR_Success;
}

NET_API_STATUS NetLocalGroupAdd(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (level != 0 && level != 1)
        return ERROR_INVALID_LEVEL;
    if (buf == nullptr)
        return ERROR_INVALID_PARAMETER;
    const LPCWSTR name = reinterpret_cast<LOCALGROUP_INFO_0*>(buf)->lgrpi0_name;
    const LPCWSTR comment = level == 1 ? reinterpret_cast<LOCALGROUP_INFO_1*>(buf)->lgrpi1_comment : nullptr;
    if (!IsValidAccountName(name, GNLEN)) {
        if (parm_err != nullptr)
            *parm_err = LOCALGROUP_NAME_PARMNUM;
        return ERROR_INVALID_ACCOUNT_NAME;
    }
    if (comment != nullptr && wcslen(comment) > MAXCOMMENTSZ) {
        if (parm_err != nullptr)
            *parm_err = LOCALGROUP_COMMENT_PARMNUM;
        return ERROR_INVALID_PARAMETER;
    }
    sandbox::StateLock lock;
    // Groups and accounts share one set of names.
    Account account;
    if (sandbox::FindAccount(name, &account))
        return NERR_UserExists;
    if (AliasRidByName(name) != 0)
        return ERROR_ALIAS_EXISTS;
    sandbox::DomainAlias alias;
    alias.rid = sandbox::AllocateRid();
    alias.name = name;
    alias.comment = comment != nullptr ? comment : L"";
    return sandbox::SaveDomainAlias(alias) ? NERR_Success : ERROR_ACCESS_DENIED;
}

NET_API_STATUS NetLocalGroupDel(LPCWSTR servername, LPCWSTR groupname)
{
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    sandbox::StateLock lock;
    const DWORD rid = groupname != nullptr ? AliasRidByName(groupname) : 0;
    if (rid == 0)
        return NERR_GroupNotFound;
    if (!IsDomainAlias(rid))
        return ERROR_SPECIAL_ACCOUNT;   // the system's own groups stay
    // Its members lose the membership; rights granted to its SID stay in the
    // policy, as an account's do.
    sandbox::RemoveDomainAlias(rid);
    return NERR_Success;
}

NET_API_STATUS NetLocalGroupSetInfo(LPCWSTR servername, LPCWSTR groupname, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (buf == nullptr)
        return ERROR_INVALID_PARAMETER;
    sandbox::StateLock lock;
    const DWORD rid = groupname != nullptr ? AliasRidByName(groupname) : 0;
    if (rid == 0)
        return NERR_GroupNotFound;
    sandbox::DomainAlias alias;
    const bool made = sandbox::FindDomainAliasByRid(rid, &alias);
    auto refuse = [parm_err](DWORD parameter, NET_API_STATUS status) {
        if (parm_err != nullptr)
            *parm_err = parameter;
        return status;
    };
    switch (level) {
    case 0: {
        const LPCWSTR newName = reinterpret_cast<LOCALGROUP_INFO_0*>(buf)->lgrpi0_name;
        if (!made)
            return ERROR_SPECIAL_ACCOUNT;
        if (!IsValidAccountName(newName, GNLEN))
            return refuse(LOCALGROUP_NAME_PARMNUM, ERROR_INVALID_ACCOUNT_NAME);
        Account account;
        if (sandbox::FindAccount(newName, &account))
            return NERR_UserExists;
        const DWORD other = AliasRidByName(newName);
        if (other != 0 && other != rid)
            return ERROR_ALIAS_EXISTS;
        alias.name = newName;
        return sandbox::SaveDomainAlias(alias) ? NERR_Success : ERROR_ACCESS_DENIED;
    }
    case 1:      // the name in the record is not looked at
    case 1002: {
        const LPCWSTR comment = level == 1 ? reinterpret_cast<LOCALGROUP_INFO_1*>(buf)->lgrpi1_comment
                                           : reinterpret_cast<LOCALGROUP_INFO_1002*>(buf)->lgrpi1002_comment;
        const std::wstring text = comment != nullptr ? comment : L"";
        if (text.size() > MAXCOMMENTSZ)
            return refuse(LOCALGROUP_COMMENT_PARMNUM, ERROR_INVALID_PARAMETER);
        if (!made)
            return sandbox::SetAliasComment(rid, text) ? NERR_Success : ERROR_ACCESS_DENIED;
        alias.comment = text;
        return sandbox::SaveDomainAlias(alias) ? NERR_Success : ERROR_ACCESS_DENIED;
    }
    default:
        return ERROR_INVALID_LEVEL;
    }
}

NET_API_STATUS NetLocalGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                 LPDWORD entriesread, LPDWORD totalentries, PDWORD_PTR resumehandle)
{
    (void)prefmaxlen;
    if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (level != 0 && level != 1)
        return ERROR_INVALID_LEVEL;
    *bufptr = nullptr;
    std::vector<std::wstring> names, comments;
    for (DWORD rid : sandbox::kAliasRids) {
        names.push_back(AliasName(rid));
        comments.push_back(sandbox::AliasComment(rid));
    }
    for (const sandbox::DomainAlias& alias : sandbox::DomainAliases()) {
        names.push_back(alias.name);
        comments.push_back(alias.comment);
    }
    // One page holds them all: the resume handle comes back as 0.
    size_t record = level == 0 ? sizeof(LOCALGROUP_INFO_0) : sizeof(LOCALGROUP_INFO_1);
    size_t bytes = names.size() * record;
    for (size_t i = 0; i < names.size(); ++i)
        bytes += (names[i].size() + comments[i].size() + 2) * sizeof(wchar_t);
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, bytes));
    if (block == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    Packer packer(block, names.size() * record);
    for (size_t i = 0; i < names.size(); ++i) {
        LPWSTR name = packer.Text(names[i]);
        if (level == 0) {
            reinterpret_cast<LOCALGROUP_INFO_0*>(block)[i].lgrpi0_name = name;
        } else {
            reinterpret_cast<LOCALGROUP_INFO_1*>(block)[i].lgrpi1_name = name;
            reinterpret_cast<LOCALGROUP_INFO_1*>(block)[i].lgrpi1_comment = packer.Text(comments[i]);
        }
    }
    *bufptr = block;
    *entriesread = *totalentries = static_cast<DWORD>(names.size());
    if (resumehandle != nullptr)
        *resumehandle = 0;
    return NERR_Success;
}

NET_API_STATUS NetLocalGroupGetMembers(LPCWSTR servername, LPCWSTR localgroupname, DWORD level, LPBYTE* bufptr,
                                       DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                                       PDWORD_PTR resumehandle)
{
    (void)prefmaxlen;
    if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (level != 0)
        return ERROR_INVALID_LEVEL;   // the program asks for SIDs only
    DWORD alias = localgroupname != nullptr ? AliasRidByName(localgroupname) : 0;
    if (alias == 0)
        return NERR_GroupNotFound;
    *bufptr = nullptr;
    std::vector<std::vector<BYTE>> sids;
    for (const std::wstring& text : sandbox::MembersOf(alias)) {
        PSID sid = nullptr;
        if (!ConvertStringSidToSidW(text.c_str(), &sid))
            continue;
        UniqueLocalMemory holder(sid);
        BYTE* bytes = static_cast<BYTE*>(sid);
        sids.emplace_back(bytes, bytes + GetLengthSid(sid));
    }
    size_t bytes = sids.size() * sizeof(LOCALGROUP_MEMBERS_INFO_0);
    for (const std::vector<BYTE>& sid : sids)
        bytes += (sid.size() + 7) & ~size_t(7);
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, bytes > 0 ? bytes : 1));
    if (block == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    BYTE* next = block + sids.size() * sizeof(LOCALGROUP_MEMBERS_INFO_0);
    for (size_t i = 0; i < sids.size(); ++i) {
        memcpy(next, sids[i].data(), sids[i].size());
        reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(block)[i].lgrmi0_sid = next;
        next += (sids[i].size() + 7) & ~size_t(7);
    }
    *bufptr = block;
    *entriesread = *totalentries = static_cast<DWORD>(sids.size());
    if (resumehandle != nullptr)
        *resumehandle = 0;
    return NERR_Success;
}

NET_API_STATUS NetUserModalsGet(LPCWSTR servername, DWORD level, LPBYTE* bufptr)
{
    if (bufptr == nullptr)
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (level == 3) {
        auto* info = static_cast<USER_MODALS_INFO_3*>(LocalAlloc(LPTR, sizeof(USER_MODALS_INFO_3)));
        if (info == nullptr)
            return ERROR_NOT_ENOUGH_MEMORY;
        info->usrmod3_lockout_duration = sandbox::MachineDword(sandbox::kLockoutDuration, kFreshLockoutSeconds);
        info->usrmod3_lockout_observation_window = sandbox::MachineDword(sandbox::kLockoutWindow, kFreshLockoutSeconds);
        info->usrmod3_lockout_threshold = sandbox::MachineDword(sandbox::kLockoutThreshold, 0);
        *bufptr = reinterpret_cast<LPBYTE>(info);
        return NERR_Success;
    }
    if (level != 0)
        return ERROR_INVALID_LEVEL;
    auto* info = static_cast<USER_MODALS_INFO_0*>(LocalAlloc(LPTR, sizeof(USER_MODALS_INFO_0)));
    if (info == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    // The policy a fresh installation has: passwords expire after 42 days.
    info->usrmod0_min_passwd_len = sandbox::MachineDword(sandbox::kMinimumPasswordLength, 0);
    info->usrmod0_max_passwd_age = sandbox::MachineDword(sandbox::kMaximumPasswordAge, 42 * 86400);
    info->usrmod0_min_passwd_age = sandbox::MachineDword(sandbox::kMinimumPasswordAge, 0);
    info->usrmod0_force_logoff = sandbox::MachineDword(sandbox::kForceLogoff, TIMEQ_FOREVER);
    info->usrmod0_password_hist_len = sandbox::MachineDword(sandbox::kPasswordHistory, 0);
    *bufptr = reinterpret_cast<LPBYTE>(info);
    return NERR_Success;
}

NET_API_STATUS NetUserModalsSet(LPCWSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    if (!IsLocalServer(servername))
        return ERROR_BAD_NETPATH;
    if (buf == nullptr)
        return ERROR_INVALID_PARAMETER;
    auto refuse = [parm_err](DWORD parameter) {
        if (parm_err != nullptr)
            *parm_err = parameter;
        return static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER);
    };
    sandbox::StateLock lock;
    if (level == 0) {
        const auto* info = reinterpret_cast<USER_MODALS_INFO_0*>(buf);
        // The system keeps a password for no longer than its maximum age.
        if (info->usrmod0_max_passwd_age != TIMEQ_FOREVER && info->usrmod0_min_passwd_age > info->usrmod0_max_passwd_age)
            return refuse(MODALS_MIN_PASSWD_AGE_PARMNUM);
        if (info->usrmod0_min_passwd_len > PWLEN)
            return refuse(MODALS_MIN_PASSWD_LEN_PARMNUM);
        sandbox::SetMachineDword(sandbox::kMinimumPasswordLength, info->usrmod0_min_passwd_len);
        sandbox::SetMachineDword(sandbox::kMaximumPasswordAge, info->usrmod0_max_passwd_age);
        sandbox::SetMachineDword(sandbox::kMinimumPasswordAge, info->usrmod0_min_passwd_age);
        sandbox::SetMachineDword(sandbox::kForceLogoff, info->usrmod0_force_logoff);
        sandbox::SetMachineDword(sandbox::kPasswordHistory, info->usrmod0_password_hist_len);
        return NERR_Success;
    }
    if (level == 3) {
        const auto* info = reinterpret_cast<USER_MODALS_INFO_3*>(buf);
        // Bad passwords are counted over a window no longer than a lock-out lasts.
        if (info->usrmod3_lockout_duration != TIMEQ_FOREVER &&
            info->usrmod3_lockout_observation_window > info->usrmod3_lockout_duration)
            return refuse(MODALS_LOCKOUT_OBSERVATION_WINDOW_PARMNUM);
        sandbox::SetMachineDword(sandbox::kLockoutDuration, info->usrmod3_lockout_duration);
        sandbox::SetMachineDword(sandbox::kLockoutWindow, info->usrmod3_lockout_observation_window);
        sandbox::SetMachineDword(sandbox::kLockoutThreshold, info->usrmod3_lockout_threshold);
        return NERR_Success;
    }
    return ERROR_INVALID_LEVEL;
}

NET_API_STATUS NetApiBufferFree(LPVOID Buffer)
{
    if (Buffer != nullptr)
        LocalFree(Buffer);
    return NERR_Success;
}

BOOL LookupAccountNameW(LPCWSTR lpSystemName, LPCWSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse)
{
    if (lpAccountName == nullptr || cbSid == nullptr || cchReferencedDomainName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!IsLocalServer(lpSystemName)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    // A name of this machine's database: its SID, told as a user or an alias.
    const auto answerLocal = [&](uint32_t rid, SID_NAME_USE use) -> BOOL {
        PSID sid = nullptr;
        if (!ConvertStringSidToSidW(sandbox::AccountSid(rid).c_str(), &sid)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        UniqueLocalMemory holder(sid);
        if (!AnswerLookup(sid, Sid, cbSid, L"", nullptr, nullptr, ComputerName(), ReferencedDomainName,
                          cchReferencedDomainName))
            return FALSE;
        if (peUse != nullptr)
            *peUse = use;
        return TRUE;
    };
    std::wstring name;
    Account account;
    if (LocalAccountPart(lpAccountName, &name) && sandbox::FindAccount(name.c_str(), &account))
        return answerLocal(account.rid, SidTypeUser);
    sandbox::DomainAlias alias;
    if (LocalAccountPart(lpAccountName, &name) && sandbox::FindDomainAlias(name.c_str(), &alias))
        return answerLocal(alias.rid, SidTypeAlias);
    // Well-known names are the system's; an account of this machine that the
    // simulated database does not hold is not.
    BYTE found[SECURITY_MAX_SID_SIZE];
    DWORD foundSize = sizeof(found);
    wchar_t domain[256];
    DWORD domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use = SidTypeUnknown;
    if (!::LookupAccountNameW(nullptr, lpAccountName, found, &foundSize, domain, &domainLength, &use) ||
        sandbox::RidOfSid(sandbox::SidToString(found)) != 0) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    if (!AnswerLookup(found, Sid, cbSid, L"", nullptr, nullptr, domain, ReferencedDomainName,
                      cchReferencedDomainName))
        return FALSE;
    if (peUse != nullptr)
        *peUse = use;
    return TRUE;
}

BOOL LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name, LPDWORD cchName, LPWSTR ReferencedDomainName,
                       LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse)
{
    if (Sid == nullptr || !IsValidSid(Sid) || cchName == nullptr || cchReferencedDomainName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!IsLocalServer(lpSystemName)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    DWORD rid = sandbox::RidOfSid(sandbox::SidToString(Sid));
    sandbox::DomainAlias alias;
    if (rid != 0 && sandbox::FindDomainAliasByRid(rid, &alias)) {
        if (!AnswerLookup(nullptr, nullptr, nullptr, alias.name, Name, cchName, ComputerName(), ReferencedDomainName,
                          cchReferencedDomainName))
            return FALSE;
        if (peUse != nullptr)
            *peUse = SidTypeAlias;
        return TRUE;
    }
    if (rid != 0) {
        Account account;
        if (!sandbox::FindAccountByRid(rid, &account)) {
            SetLastError(ERROR_NONE_MAPPED);
            return FALSE;
        }
        if (!AnswerLookup(nullptr, nullptr, nullptr, account.name, Name, cchName, ComputerName(),
                          ReferencedDomainName, cchReferencedDomainName))
            return FALSE;
        if (peUse != nullptr)
            *peUse = SidTypeUser;
        return TRUE;
    }
    return ::LookupAccountSidW(nullptr, Sid, Name, cchName, ReferencedDomainName, cchReferencedDomainName, peUse);
}

}  // namespace machine
