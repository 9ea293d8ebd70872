// What the program relies on from the machine's services, checked through
// the boundary the way the account code calls it.
#include <gtest/gtest.h>

#include <windows.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "contract_machine.h"
#include "platform/machine.h"
#include "tests/narrow.h"

namespace {

std::wstring ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD length = ARRAYSIZE(name);
    GetComputerNameW(name, &length);
    return name;
}

LSA_UNICODE_STRING Counted(const wchar_t* text)
{
    LSA_UNICODE_STRING counted;
    counted.Buffer = const_cast<PWSTR>(text);
    counted.Length = static_cast<USHORT>(wcslen(text) * sizeof(wchar_t));
    counted.MaximumLength = static_cast<USHORT>(counted.Length + sizeof(wchar_t));
    return counted;
}

// A file or folder of that name in the temporary folder.
std::wstring TempPath(const wchar_t* name)
{
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(ARRAYSIZE(temp), temp);
    return std::wstring(temp) + name;
}

// A DWORD value; 0 when it cannot be read.
DWORD DwordAt(HKEY root, const std::wstring& key, const wchar_t* value)
{
    DWORD data = 0, size = sizeof(data);
    return RegGetValueW(root, key.c_str(), value, RRF_RT_REG_DWORD, nullptr, &data, &size) == ERROR_SUCCESS ? data : 0;
}

ULONGLONG NowTicks()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// A time the profile service keeps in an entry ("Load", "Unload"); 0 when missing.
ULONGLONG ProfileTimeAt(const std::wstring& entry, const std::wstring& which)
{
    const std::wstring name = L"LocalProfile" + which + L"Time";
    return (static_cast<ULONGLONG>(DwordAt(HKEY_LOCAL_MACHINE, entry, (name + L"High").c_str())) << 32) |
           DwordAt(HKEY_LOCAL_MACHINE, entry, (name + L"Low").c_str());
}

// The SID of an account as the account code looks it up: 260-byte buffer,
// 260 characters of domain.
struct LookedUp {
    bool found = false;
    BYTE sid[260] = {};
    std::wstring sidString, domain;
    SID_NAME_USE use = SidTypeUnknown;
};

LookedUp Lookup(const std::wstring& name)
{
    LookedUp result;
    DWORD sidSize = sizeof(result.sid);
    wchar_t domain[260];
    DWORD domainLength = ARRAYSIZE(domain);
    result.found = machine::LookupAccountNameW(nullptr, name.c_str(), result.sid, &sidSize, domain, &domainLength,
                                               &result.use) != FALSE;
    if (result.found) {
        result.domain = domain;
        LPWSTR text = nullptr;
        if (ConvertSidToStringSidW(result.sid, &text)) {
            result.sidString = text;
            LocalFree(text);
        }
    }
    return result;
}

// The built-in group's name as the system gives it.
std::wstring GroupName(WELL_KNOWN_SID_TYPE type)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid);
    if (!CreateWellKnownSid(type, nullptr, sid, &size))
        return L"";
    wchar_t name[260], domain[260];
    DWORD nameLength = ARRAYSIZE(name), domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    if (!machine::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return L"";
    return name;
}

// Whether the policy lists `sid` among the SIDs holding any right.
bool HoldsAnyRight(LSA_HANDLE policy, PSID sid)
{
    PVOID buffer = nullptr;
    ULONG count = 0;
    NTSTATUS status = machine::LsaEnumerateAccountsWithUserRight(policy, nullptr, &buffer, &count);
    bool found = false;
    for (ULONG i = 0; status == 0 && i < count; ++i)
        found = found || EqualSid(static_cast<LSA_ENUMERATION_INFORMATION*>(buffer)[i].Sid, sid);
    machine::LsaFreeMemory(buffer);
    return found;
}

// The rights the policy lists for `sid` itself; the status in `status`.
std::vector<std::wstring> RightsOf(LSA_HANDLE policy, PSID sid, NTSTATUS* status)
{
    PLSA_UNICODE_STRING rights = nullptr;
    ULONG count = 0;
    *status = machine::LsaEnumerateAccountRights(policy, sid, &rights, &count);
    std::vector<std::wstring> names;
    for (ULONG i = 0; *status == 0 && i < count; ++i)
        names.emplace_back(rights[i].Buffer, rights[i].Length / sizeof(wchar_t));
    machine::LsaFreeMemory(rights);
    return names;
}

// The group's member SIDs as strings; the status in `status`.
std::vector<std::wstring> MemberSidsOf(const std::wstring& group, NET_API_STATUS* status)
{
    std::vector<std::wstring> sids;
    DWORD_PTR resume = 0;
    do {
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        *status = machine::NetLocalGroupGetMembers(nullptr, group.c_str(), 0, &buffer, MAX_PREFERRED_LENGTH, &read,
                                                   &total, &resume);
        for (DWORD i = 0; (*status == NERR_Success || *status == ERROR_MORE_DATA) && i < read; ++i) {
            LPWSTR text = nullptr;
            if (ConvertSidToStringSidW(reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(buffer)[i].lgrmi0_sid, &text)) {
                sids.push_back(text);
                LocalFree(text);
            }
        }
        machine::NetApiBufferFree(buffer);
    } while (*status == ERROR_MORE_DATA);
    return sids;
}

// The local groups' names, as one enumeration of the first page lists them;
// none when the enumeration fails.
std::vector<std::wstring> ListedGroups()
{
    std::vector<std::wstring> names;
    DWORD_PTR resume = 0;
    LPBYTE groups = nullptr;
    DWORD read = 0, total = 0;
    if (machine::NetLocalGroupEnum(nullptr, 0, &groups, MAX_PREFERRED_LENGTH, &read, &total, &resume) == NERR_Success)
        for (DWORD i = 0; i < read; ++i)
            names.push_back(reinterpret_cast<LOCALGROUP_INFO_0*>(groups)[i].lgrpi0_name);
    machine::NetApiBufferFree(groups);
    return names;
}

class MachineContract : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!PrepareContractMachine(&why))
            GTEST_SKIP() << why;
    }

    void TearDown() override
    {
        AsAdministrator();
        for (const std::wstring& name : made_)
            machine::NetUserDel(nullptr, name.c_str());
    }

    // Adds an account the way account creation does (level 1, a standard
    // user), and gives the system's answer.
    NET_API_STATUS AddNamed(const std::wstring& name, const wchar_t* password)
    {
        USER_INFO_1 info{};
        info.usri1_name = const_cast<LPWSTR>(name.c_str());
        info.usri1_password = const_cast<LPWSTR>(password);
        info.usri1_priv = USER_PRIV_USER;
        info.usri1_flags = UF_SCRIPT | UF_DONT_EXPIRE_PASSWD;
        DWORD parameter = 0;
        NET_API_STATUS added = machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &parameter);
        if (added == NERR_Success)
            made_.push_back(name);
        return added;
    }

    // A scratch account's name; "" when the system refuses it (reported).
    std::wstring Add(const wchar_t* base, const wchar_t* password)
    {
        std::wstring name = ScratchAccountName(base);
        NET_API_STATUS added = AddNamed(name, password);
        if (added == NERR_Success)
            return name;
        ADD_FAILURE() << "adding " << Narrow(name) << " gave status " << added;
        return L"";
    }

    // The account's level-3 record; false when it cannot be read.
    bool Read(const std::wstring& name, USER_INFO_3* copy, NET_API_STATUS* status = nullptr)
    {
        LPBYTE buffer = nullptr;
        NET_API_STATUS read = machine::NetUserGetInfo(nullptr, name.c_str(), 3, &buffer);
        if (status != nullptr)
            *status = read;
        if (read != NERR_Success || buffer == nullptr)
            return false;
        *copy = *reinterpret_cast<USER_INFO_3*>(buffer);
        fullName_ = copy->usri3_full_name != nullptr ? copy->usri3_full_name : L"";
        copy->usri3_full_name = nullptr;   // the buffer's strings are gone once it is freed
        copy->usri3_name = nullptr;
        machine::NetApiBufferFree(buffer);
        return true;
    }

    NET_API_STATUS Group(bool add, WELL_KNOWN_SID_TYPE group, const LookedUp& member)
    {
        LOCALGROUP_MEMBERS_INFO_0 entry{const_cast<BYTE*>(member.sid)};
        std::wstring name = GroupName(group);
        auto call = add ? machine::NetLocalGroupAddMembers : machine::NetLocalGroupDelMembers;
        return call(nullptr, name.c_str(), 0, reinterpret_cast<LPBYTE>(&entry), 1);
    }

    // Makes a record read back fit for writing: its name, and no pointers
    // into the freed buffer.
    static void PrepareForWrite(USER_INFO_3& info, const std::wstring& name, const wchar_t* fullName)
    {
        info.usri3_name = const_cast<LPWSTR>(name.c_str());
        info.usri3_full_name = const_cast<LPWSTR>(fullName);
        info.usri3_home_dir = info.usri3_comment = info.usri3_script_path = nullptr;
        info.usri3_usr_comment = info.usri3_parms = info.usri3_workstations = nullptr;
        info.usri3_logon_hours = nullptr;
        info.usri3_logon_server = info.usri3_profile = info.usri3_home_dir_drive = nullptr;
    }

    std::vector<std::wstring> made_;
    std::wstring fullName_;
};

}  // namespace

TEST_F(MachineContract, AddedAccountIsAStandardUserWithAMachineSid)
{
    std::wstring name = Add(L"Added", L"");
    ASSERT_FALSE(name.empty());

    USER_INFO_3 info{};
    ASSERT_TRUE(Read(name, &info));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), info.usri3_priv) << "new accounts are members of Users";
    EXPECT_EQ(static_cast<DWORD>(UF_SCRIPT | UF_DONT_EXPIRE_PASSWD),
              info.usri3_flags & (UF_SCRIPT | UF_DONT_EXPIRE_PASSWD | UF_ACCOUNTDISABLE | UF_LOCKOUT));
    EXPECT_GE(info.usri3_user_id, 1000u);
    EXPECT_EQ(0u, info.usri3_password_expired);

    LookedUp account = Lookup(name);
    ASSERT_TRUE(account.found);
    EXPECT_EQ(SidTypeUser, account.use);
    EXPECT_EQ(ComputerName(), account.domain);
    EXPECT_EQ(0u, account.sidString.rfind(L"S-1-5-21-", 0)) << Narrow(account.sidString);
    EXPECT_EQ(L"-" + std::to_wstring(info.usri3_user_id),
              account.sidString.substr(account.sidString.rfind(L'-'))) << "the SID ends in the account's RID";

    // The SID leads back to the same name.
    wchar_t back[260], domain[260];
    DWORD backLength = ARRAYSIZE(back), domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    ASSERT_TRUE(machine::LookupAccountSidW(nullptr, account.sid, back, &backLength, domain, &domainLength, &use));
    EXPECT_EQ(name, back);
    EXPECT_EQ(name.size(), backLength) << "on success the length leaves out the terminator";
}

TEST_F(MachineContract, TakenNamesAndUnknownAccountsAreRefused)
{
    std::wstring name = Add(L"Taken", L"");
    ASSERT_FALSE(name.empty());

    std::wstring upper = name;
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(towupper(c));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_UserExists), AddNamed(upper, L""))
        << "names are compared without regard to case";

    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserDel(nullptr, name.c_str()));
    made_.clear();
    USER_INFO_3 info{};
    NET_API_STATUS read = 0;
    EXPECT_FALSE(Read(name, &info, &read));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_UserNotFound), read);
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_UserNotFound), machine::NetUserDel(nullptr, name.c_str()));
    EXPECT_FALSE(Lookup(name).found) << "a deleted account's name no longer resolves";
}

TEST_F(MachineContract, NamesTheSystemForbidsAreRefused)
{
    const std::wstring forbidden[] = {
        L"ThisNameIsLongerThan20",   // 22 characters
        L"...", L"  ", L". .",
        L"a\"b", L"a/b", L"a\\b", L"a[b", L"a]b", L"a:b", L"a;b", L"a|b", L"a=b", L"a,b",
        L"a+b", L"a*b", L"a?b", L"a<b", L"a>b", L"a@b",
    };
    for (const std::wstring& name : forbidden)
        EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_BadUsername), AddNamed(name, L"")) << "name \"" << Narrow(name) << "\"";
    // Twenty characters is the longest name allowed.
    std::wstring prefix = ScratchAccountName(L"");
    std::wstring base = L"Twenty" + std::wstring(20 - 6 - prefix.size(), L'x');
    EXPECT_EQ(20u, Add(base.c_str(), L"").size());
}

TEST_F(MachineContract, PasswordsChangeOnlyWithTheCurrentOneAndOutliveARename)
{
    std::wstring name = Add(L"Pass", L"First-Pass1");
    ASSERT_FALSE(name.empty());

    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_PASSWORD),
              machine::NetUserChangePassword(nullptr, name.c_str(), L"wrong", L"Second-Pass2"));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserChangePassword(nullptr, name.c_str(), L"First-Pass1", L"Second-Pass2"));

    HANDLE token = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(machine::LogonUserW(name.c_str(), nullptr, L"First-Pass1", LOGON32_LOGON_INTERACTIVE,
                                     LOGON32_PROVIDER_DEFAULT, &token));
    EXPECT_EQ(static_cast<DWORD>(ERROR_LOGON_FAILURE), GetLastError());
    // The password belongs to the account, not to its name: it signs in
    // under the new name, and the old name signs in no more.
    std::wstring renamed = ScratchAccountName(L"Renamed");
    USER_INFO_0 rename{const_cast<LPWSTR>(renamed.c_str())};
    DWORD parameter = 0;
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserSetInfo(nullptr, name.c_str(), 0, reinterpret_cast<LPBYTE>(&rename), &parameter));
    made_.push_back(renamed);
    EXPECT_FALSE(machine::LogonUserW(name.c_str(), nullptr, L"Second-Pass2", LOGON32_LOGON_INTERACTIVE,
                                     LOGON32_PROVIDER_DEFAULT, &token));
    name = renamed;
    ASSERT_TRUE(machine::LogonUserW(name.c_str(), nullptr, L"Second-Pass2", LOGON32_LOGON_INTERACTIVE,
                                    LOGON32_PROVIDER_DEFAULT, &token)) << GetLastError();
    CloseHandle(token);

    // Removing a password needs no current one (level 1003 with "").
    USER_INFO_1003 empty{const_cast<LPWSTR>(L"")};
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserSetInfo(nullptr, name.c_str(), 1003, reinterpret_cast<LPBYTE>(&empty), &parameter));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserChangePassword(nullptr, name.c_str(), L"", L"Third-Pass3"))
        << "an account without a password gets one with the current password \"\"";
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_UserNotFound),
              machine::NetUserChangePassword(nullptr, L"NoSuchAccount", L"", L"x"));
}

// The record counts wrong passwords until the next sign-in, which it keeps.
TEST_F(MachineContract, WrongPasswordsAreCountedUntilASignIn)
{
    std::wstring name = Add(L"Counted", L"Counted-Pass1");
    ASSERT_FALSE(name.empty());
    HANDLE token = nullptr;
    for (int i = 0; i < 2; ++i)
        EXPECT_FALSE(machine::LogonUserW(name.c_str(), nullptr, L"wrong", LOGON32_LOGON_INTERACTIVE,
                                         LOGON32_PROVIDER_DEFAULT, &token));
    USER_INFO_3 info{};
    ASSERT_TRUE(Read(name, &info));
    EXPECT_EQ(2u, info.usri3_bad_pw_count);
    const DWORD before = static_cast<DWORD>(time(nullptr));
    ASSERT_TRUE(machine::LogonUserW(name.c_str(), nullptr, L"Counted-Pass1", LOGON32_LOGON_INTERACTIVE,
                                    LOGON32_PROVIDER_DEFAULT, &token)) << GetLastError();
    CloseHandle(token);
    ASSERT_TRUE(Read(name, &info));
    EXPECT_EQ(0u, info.usri3_bad_pw_count);
    EXPECT_TRUE(info.usri3_last_logon + 2 >= before && info.usri3_last_logon <= time(nullptr) + 2)
        << info.usri3_last_logon << " against " << before;
}

// The password policy gives the age at which passwords expire.
TEST_F(MachineContract, PasswordPolicyNamesTheMaximumAge)
{
    LPBYTE buffer = nullptr;
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserModalsGet(nullptr, 0, &buffer));
    const auto* policy = reinterpret_cast<USER_MODALS_INFO_0*>(buffer);
    EXPECT_TRUE(policy->usrmod0_max_passwd_age == TIMEQ_FOREVER ||
                policy->usrmod0_max_passwd_age >= policy->usrmod0_min_passwd_age)
        << policy->usrmod0_max_passwd_age;
    machine::NetApiBufferFree(buffer);
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_LEVEL), machine::NetUserModalsGet(nullptr, 99, &buffer));
}

TEST_F(MachineContract, SavedRecordKeepsFlagsFullNameAndExpiry)
{
    std::wstring name = Add(L"Saved", L"");
    ASSERT_FALSE(name.empty());

    USER_INFO_3 info{};
    ASSERT_TRUE(Read(name, &info));
    std::wstring fullName = L"Saved Person";
    PrepareForWrite(info, name, fullName.c_str());
    info.usri3_flags |= UF_ACCOUNTDISABLE | UF_PASSWD_CANT_CHANGE;
    info.usri3_flags &= ~UF_DONT_EXPIRE_PASSWD;
    info.usri3_password_expired = 1;
    info.usri3_acct_expires = 1900000000;   // 2030-03-17
    DWORD parameter = 0;
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserSetInfo(nullptr, name.c_str(), 3, reinterpret_cast<LPBYTE>(&info), &parameter))
        << "parameter " << parameter;

    USER_INFO_3 back{};
    ASSERT_TRUE(Read(name, &back));
    EXPECT_EQ(fullName, fullName_);
    EXPECT_TRUE(back.usri3_flags & UF_ACCOUNTDISABLE);
    EXPECT_TRUE(back.usri3_flags & UF_PASSWD_CANT_CHANGE);
    EXPECT_FALSE(back.usri3_flags & UF_DONT_EXPIRE_PASSWD);
    EXPECT_EQ(1u, back.usri3_password_expired);
    EXPECT_EQ(1900000000u, back.usri3_acct_expires);
    USER_INFO_1017 never{TIMEQ_FOREVER};
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserSetInfo(nullptr, name.c_str(), 1017, reinterpret_cast<LPBYTE>(&never), &parameter));
    ASSERT_TRUE(Read(name, &back));
    EXPECT_EQ(static_cast<DWORD>(TIMEQ_FOREVER), back.usri3_acct_expires);

    // Clearing the expiry in the record clears it on the account.
    PrepareForWrite(back, name, fullName.c_str());
    back.usri3_password_expired = 0;
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserSetInfo(nullptr, name.c_str(), 3, reinterpret_cast<LPBYTE>(&back), &parameter));
    USER_INFO_3 cleared{};
    ASSERT_TRUE(Read(name, &cleared));
    EXPECT_EQ(0u, cleared.usri3_password_expired);

    // A lock-out is never set through the record.
    PrepareForWrite(cleared, name, nullptr);
    cleared.usri3_flags |= UF_LOCKOUT;
    machine::NetUserSetInfo(nullptr, name.c_str(), 3, reinterpret_cast<LPBYTE>(&cleared), &parameter);
    USER_INFO_3 unlocked{};
    ASSERT_TRUE(Read(name, &unlocked));
    EXPECT_FALSE(unlocked.usri3_flags & UF_LOCKOUT);
}

TEST_F(MachineContract, EnumerationPagesCoverEveryAccountOnce)
{
    std::wstring added = Add(L"Listed", L"");
    ASSERT_FALSE(added.empty());

    // A small preferred length forces several pages, as a machine with many
    // accounts gives them.
    std::set<std::wstring> names;
    DWORD resume = 0;
    int pages = 0;
    NET_API_STATUS status = 0;
    do {
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        status = machine::NetUserEnum(nullptr, 3, 0, &buffer, 512, &read, &total, &resume);
        ASSERT_TRUE(status == NERR_Success || status == ERROR_MORE_DATA) << "status " << status;
        ++pages;
        USER_INFO_3* records = reinterpret_cast<USER_INFO_3*>(buffer);
        for (DWORD i = 0; i < read; ++i)
            EXPECT_TRUE(names.insert(records[i].usri3_name).second) << "listed twice: " << Narrow(records[i].usri3_name);
        machine::NetApiBufferFree(buffer);
    } while (status == ERROR_MORE_DATA && pages < 1000);
    EXPECT_GT(pages, 1);
    EXPECT_EQ(1u, names.count(added));
}

TEST_F(MachineContract, TypeComesFromGroupMembership)
{
    std::wstring name = Add(L"Typed", L"");
    ASSERT_FALSE(name.empty());
    LookedUp member = Lookup(name);
    ASSERT_TRUE(member.found);
    EXPECT_EQ(L"Administrators", GroupName(WinBuiltinAdministratorsSid));

    // Administrator: out of Guests and Users, into Administrators.
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_MEMBER_NOT_IN_ALIAS), Group(false, WinBuiltinGuestsSid, member));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Group(false, WinBuiltinUsersSid, member));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Group(true, WinBuiltinAdministratorsSid, member));
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_MEMBER_IN_ALIAS), Group(true, WinBuiltinAdministratorsSid, member));
    USER_INFO_3 info{};
    ASSERT_TRUE(Read(name, &info));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_ADMIN), info.usri3_priv);

    // The groups are listed by name, and a group's members by SID.
    const std::vector<std::wstring> listed = ListedGroups();
    EXPECT_EQ(1, std::count(listed.begin(), listed.end(), GroupName(WinBuiltinAdministratorsSid)));
    NET_API_STATUS membersStatus = 0;
    std::vector<std::wstring> members = MemberSidsOf(GroupName(WinBuiltinAdministratorsSid), &membersStatus);
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), membersStatus);
    EXPECT_EQ(1, std::count(members.begin(), members.end(), member.sidString));
    members = MemberSidsOf(GroupName(WinBuiltinUsersSid), &membersStatus);
    EXPECT_EQ(0, std::count(members.begin(), members.end(), member.sidString));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_GroupNotFound), [] {
        NET_API_STATUS status = 0;
        MemberSidsOf(L"No Such Group Here", &status);
        return status;
    }());

    // Guest.
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Group(true, WinBuiltinGuestsSid, member));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Group(false, WinBuiltinAdministratorsSid, member));
    ASSERT_TRUE(Read(name, &info));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_GUEST), info.usri3_priv);
}

// Beyond the three groups of the account types: every built-in group is
// listed, takes the system's well-known principals as members by SID, and
// refuses another local group or a SID that names nothing.
TEST_F(MachineContract, GroupsTakeWellKnownMembersBySidButNoGroup)
{
    auto wellKnown = [](WELL_KNOWN_SID_TYPE type) {
        LookedUp sid;
        DWORD size = sizeof(sid.sid);
        sid.found = CreateWellKnownSid(type, nullptr, sid.sid, &size) != FALSE;
        return sid;
    };
    const std::vector<std::wstring> listed = ListedGroups();
    const WELL_KNOWN_SID_TYPE group = WinBuiltinRemoteDesktopUsersSid;
    ASSERT_EQ(1, std::count(listed.begin(), listed.end(), GroupName(group))) << Narrow(GroupName(group));

    const LookedUp interactive = wellKnown(WinInteractiveSid);
    ASSERT_TRUE(interactive.found);
    struct Step {
        bool add;
        const LookedUp& member;
        NET_API_STATUS status;
    } const steps[] = {
        {true, interactive, NERR_Success},
        {true, interactive, ERROR_MEMBER_IN_ALIAS},
        {false, interactive, NERR_Success},
        {false, interactive, ERROR_MEMBER_NOT_IN_ALIAS},
        {true, wellKnown(WinBuiltinUsersSid), ERROR_INVALID_MEMBER},
    };
    for (const Step& step : steps)
        EXPECT_EQ(step.status, Group(step.add, group, step.member)) << (step.add ? "add" : "remove");

    LookedUp nobody;
    PSID unknown = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-1-2-3-4242", &unknown));
    CopySid(sizeof(nobody.sid), nobody.sid, unknown);
    LocalFree(unknown);
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_NO_SUCH_MEMBER), Group(true, group, nobody));
    NET_API_STATUS status = 0;
    const std::vector<std::wstring> members = MemberSidsOf(GroupName(group), &status);
    EXPECT_EQ(0, std::count(members.begin(), members.end(), L"S-1-5-4"));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), status);
}

// A local group made here shares one set of names with the accounts, is
// listed with its description, takes accounts but no group as members, is
// renamed and described in place and deleted once; the system's own groups
// are neither deleted nor renamed.
TEST_F(MachineContract, LocalGroupsAreMadeRenamedDescribedAndDeleted)
{
    const std::wstring account = Add(L"grpuser", L"Group-Pass-1");
    const std::wstring name = ScratchAccountName(L"grp"), renamed = ScratchAccountName(L"grp2");
    auto add = [](const std::wstring& group, const wchar_t* comment) {
        LOCALGROUP_INFO_1 info{const_cast<LPWSTR>(group.c_str()), const_cast<LPWSTR>(comment)};
        return machine::NetLocalGroupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr);
    };
    auto described = [](const std::wstring& group) {
        std::wstring comment = L"(not listed)";
        DWORD_PTR resume = 0;
        LPBYTE groups = nullptr;
        DWORD read = 0, total = 0;
        if (machine::NetLocalGroupEnum(nullptr, 1, &groups, MAX_PREFERRED_LENGTH, &read, &total, &resume) == NERR_Success)
            for (DWORD i = 0; i < read; ++i)
                if (group == reinterpret_cast<LOCALGROUP_INFO_1*>(groups)[i].lgrpi1_name)
                    comment = reinterpret_cast<LOCALGROUP_INFO_1*>(groups)[i].lgrpi1_comment;
        machine::NetApiBufferFree(groups);
        return comment;
    };
    machine::NetLocalGroupDel(nullptr, name.c_str());
    machine::NetLocalGroupDel(nullptr, renamed.c_str());
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), add(name, L"Scratch"));
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_ALIAS_EXISTS), add(name, L""));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_UserExists), add(account, L""));
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_ALIAS_EXISTS), add(GroupName(WinBuiltinUsersSid), L""));
    EXPECT_EQ(L"Scratch", described(name));
    const LookedUp group = Lookup(name);
    EXPECT_TRUE(group.found && group.use == SidTypeAlias && group.sidString.rfind(L"S-1-5-21-", 0) == 0)
        << Narrow(group.sidString) << " " << group.use;

    LOCALGROUP_MEMBERS_INFO_0 member{const_cast<BYTE*>(Lookup(account).sid)};
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetLocalGroupAddMembers(nullptr, name.c_str(), 0, reinterpret_cast<LPBYTE>(&member), 1));
    LOCALGROUP_MEMBERS_INFO_0 itself{const_cast<BYTE*>(group.sid)};
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_MEMBER),
              machine::NetLocalGroupAddMembers(nullptr, GroupName(WinBuiltinUsersSid).c_str(), 0,
                                               reinterpret_cast<LPBYTE>(&itself), 1));

    LOCALGROUP_INFO_0 newName{const_cast<LPWSTR>(renamed.c_str())};
    LOCALGROUP_INFO_1002 comment{const_cast<LPWSTR>(L"Renamed")};
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetLocalGroupSetInfo(nullptr, name.c_str(), 0, reinterpret_cast<LPBYTE>(&newName), nullptr));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetLocalGroupSetInfo(nullptr, renamed.c_str(), 1002, reinterpret_cast<LPBYTE>(&comment), nullptr));
    EXPECT_EQ(L"Renamed", described(renamed));
    EXPECT_EQ(group.sidString, Lookup(renamed).sidString) << "a renamed group keeps its SID";
    NET_API_STATUS status = 0;
    EXPECT_EQ(std::vector<std::wstring>{Lookup(account).sidString}, MemberSidsOf(renamed, &status));

    const std::wstring administrators = GroupName(WinBuiltinAdministratorsSid);
    EXPECT_NE(static_cast<NET_API_STATUS>(NERR_Success), machine::NetLocalGroupDel(nullptr, administrators.c_str()));
    EXPECT_NE(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetLocalGroupSetInfo(nullptr, administrators.c_str(), 0, reinterpret_cast<LPBYTE>(&newName),
                                            nullptr));
    EXPECT_TRUE(Lookup(administrators).found);
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetLocalGroupDel(nullptr, renamed.c_str()));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_GroupNotFound), machine::NetLocalGroupDel(nullptr, renamed.c_str()));
    EXPECT_FALSE(Lookup(renamed).found);
}

// The password and lock-out policy reads back as written; a minimum age
// above the maximum, or a window longer than the lock-out, is refused.
TEST_F(MachineContract, PasswordAndLockoutPolicyReadBackAsWritten)
{
    LPBYTE buffer = nullptr;
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserModalsGet(nullptr, 0, &buffer));
    const USER_MODALS_INFO_0 saved0 = *reinterpret_cast<USER_MODALS_INFO_0*>(buffer);
    machine::NetApiBufferFree(buffer);
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserModalsGet(nullptr, 3, &buffer));
    const USER_MODALS_INFO_3 saved3 = *reinterpret_cast<USER_MODALS_INFO_3*>(buffer);
    machine::NetApiBufferFree(buffer);

    USER_MODALS_INFO_0 passwords = saved0;
    passwords.usrmod0_max_passwd_age = 30 * 86400;
    passwords.usrmod0_min_passwd_age = 31 * 86400;
    DWORD parameter = 0;
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER),
              machine::NetUserModalsSet(nullptr, 0, reinterpret_cast<LPBYTE>(&passwords), &parameter));
    passwords.usrmod0_min_passwd_age = 86400;
    passwords.usrmod0_password_hist_len = 5;
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserModalsSet(nullptr, 0, reinterpret_cast<LPBYTE>(&passwords), nullptr));
    USER_MODALS_INFO_3 lockout{20 * 60, 21 * 60, 7};
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER),
              machine::NetUserModalsSet(nullptr, 3, reinterpret_cast<LPBYTE>(&lockout), &parameter));
    lockout.usrmod3_lockout_observation_window = 10 * 60;
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserModalsSet(nullptr, 3, reinterpret_cast<LPBYTE>(&lockout), nullptr));

    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserModalsGet(nullptr, 0, &buffer));
    const auto* read0 = reinterpret_cast<USER_MODALS_INFO_0*>(buffer);
    EXPECT_EQ(30u * 86400, read0->usrmod0_max_passwd_age);
    EXPECT_EQ(5u, read0->usrmod0_password_hist_len);
    EXPECT_EQ(saved0.usrmod0_force_logoff, read0->usrmod0_force_logoff);
    machine::NetApiBufferFree(buffer);
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserModalsGet(nullptr, 3, &buffer));
    const auto* read3 = reinterpret_cast<USER_MODALS_INFO_3*>(buffer);
    EXPECT_EQ(7u, read3->usrmod3_lockout_threshold);
    EXPECT_EQ(600u, read3->usrmod3_lockout_observation_window);
    machine::NetApiBufferFree(buffer);

    USER_MODALS_INFO_0 back0 = saved0;
    USER_MODALS_INFO_3 back3 = saved3;
    machine::NetUserModalsSet(nullptr, 0, reinterpret_cast<LPBYTE>(&back0), nullptr);
    machine::NetUserModalsSet(nullptr, 3, reinterpret_cast<LPBYTE>(&back3), nullptr);
}

TEST_F(MachineContract, AccountRightsHideAndShowAnAccount)
{
    std::wstring name = Add(L"Rights", L"");
    ASSERT_FALSE(name.empty());
    LookedUp account = Lookup(name);
    ASSERT_TRUE(account.found);

    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    ASSERT_EQ(0, machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES, &policy));

    const std::vector<std::wstring> denied = {L"SeDenyInteractiveLogonRight"};
    NTSTATUS listed = 0;
    RightsOf(policy, account.sid, &listed);
    EXPECT_EQ(static_cast<ULONG>(ERROR_FILE_NOT_FOUND), machine::LsaNtStatusToWinError(listed))
        << "a new account holds no rights of its own";

    LSA_UNICODE_STRING deny = Counted(L"SeDenyInteractiveLogonRight");
    EXPECT_EQ(0, machine::LsaAddAccountRights(policy, account.sid, &deny, 1));
    EXPECT_EQ(denied, RightsOf(policy, account.sid, &listed));
    EXPECT_EQ(0, listed);

    HANDLE token = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(machine::LogonUserW(name.c_str(), nullptr, L"", LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT,
                                     &token));
    EXPECT_EQ(static_cast<DWORD>(ERROR_LOGON_TYPE_NOT_GRANTED), GetLastError());

    EXPECT_EQ(0, machine::LsaRemoveAccountRights(policy, account.sid, FALSE, &deny, 1));
    for (const std::wstring& right : RightsOf(policy, account.sid, &listed))
        EXPECT_NE(denied.front(), right);

    LSA_UNICODE_STRING unknown = Counted(L"SeNoSuchRight");
    EXPECT_NE(0, machine::LsaAddAccountRights(policy, account.sid, &unknown, 1));
    EXPECT_EQ(0, machine::LsaClose(policy));
}

// Deleting an account leaves its rights in the security policy, held by the
// bare SID, until they are removed with the account object; its group
// memberships go with it.
TEST_F(MachineContract, DeletedAccountLeavesItsRightsInThePolicy)
{
    std::wstring name = Add(L"Orphan", L"");
    ASSERT_FALSE(name.empty());
    LookedUp account = Lookup(name);
    ASSERT_TRUE(account.found);
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success), Group(true, WinBuiltinAdministratorsSid, account));

    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    ASSERT_EQ(0, machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES | POLICY_VIEW_LOCAL_INFORMATION, &policy));
    LSA_UNICODE_STRING deny = Counted(L"SeDenyInteractiveLogonRight");
    ASSERT_EQ(0, machine::LsaAddAccountRights(policy, account.sid, &deny, 1));

    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserDel(nullptr, name.c_str()));
    made_.clear();
    EXPECT_NE(static_cast<NET_API_STATUS>(NERR_Success), Group(false, WinBuiltinAdministratorsSid, account))
        << "the deleted account is no member any more";
    NET_API_STATUS membersStatus = 0;
    std::vector<std::wstring> members = MemberSidsOf(GroupName(WinBuiltinAdministratorsSid), &membersStatus);
    EXPECT_EQ(0, std::count(members.begin(), members.end(), account.sidString));
    EXPECT_TRUE(HoldsAnyRight(policy, account.sid)) << "the policy lists the deleted account's SID";

    NTSTATUS listed = 0;
    EXPECT_EQ(std::vector<std::wstring>{L"SeDenyInteractiveLogonRight"}, RightsOf(policy, account.sid, &listed))
        << "the policy keeps the deleted account's rights";
    EXPECT_EQ(0, listed);

    EXPECT_EQ(0, machine::LsaRemoveAccountRights(policy, account.sid, TRUE, nullptr, 0));
    RightsOf(policy, account.sid, &listed);
    EXPECT_EQ(static_cast<ULONG>(ERROR_FILE_NOT_FOUND), machine::LsaNtStatusToWinError(listed));
    EXPECT_FALSE(HoldsAnyRight(policy, account.sid));
    EXPECT_EQ(0, machine::LsaClose(policy));
}

TEST_F(MachineContract, PrivateDataIsStoredReadAndDeletedByNull)
{
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    ASSERT_EQ(0, machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET, &policy));
    LSA_UNICODE_STRING key = Counted(L"VantrellContractSecret");
    LSA_UNICODE_STRING data = Counted(L"kept-secret");
    ASSERT_EQ(0, machine::LsaStorePrivateData(policy, &key, &data));

    PLSA_UNICODE_STRING back = nullptr;
    ASSERT_EQ(0, machine::LsaRetrievePrivateData(policy, &key, &back));
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(L"kept-secret", std::wstring(back->Buffer, back->Length / sizeof(wchar_t)));
    machine::LsaFreeMemory(back);

    ASSERT_EQ(0, machine::LsaStorePrivateData(policy, &key, nullptr));
    back = nullptr;
    NTSTATUS gone = machine::LsaRetrievePrivateData(policy, &key, &back);
    EXPECT_EQ(static_cast<ULONG>(ERROR_FILE_NOT_FOUND), machine::LsaNtStatusToWinError(gone));
    EXPECT_EQ(nullptr, back);
    machine::LsaClose(policy);
}

// A standard user looks names up in the security policy, but the account
// objects behind the rights and the secrets are the administrators' alone.
TEST_F(MachineContract, AStandardUserIsRefusedTheRightsAndTheSecrets)
{
    const LookedUp administrators = Lookup(GroupName(WinBuiltinAdministratorsSid));
    ASSERT_TRUE(administrators.found && AsStandardUser());
    constexpr NTSTATUS kDenied = static_cast<NTSTATUS>(0xC0000022);
    const ACCESS_MASK granted = POLICY_LOOKUP_NAMES | POLICY_VIEW_LOCAL_INFORMATION;
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    for (ACCESS_MASK refused : {POLICY_CREATE_SECRET, POLICY_GET_PRIVATE_INFORMATION, POLICY_CREATE_ACCOUNT})
        EXPECT_EQ(kDenied, machine::LsaOpenPolicy(nullptr, &attributes, granted | refused, &policy)) << refused;
    ASSERT_EQ(0, machine::LsaOpenPolicy(nullptr, &attributes, granted, &policy));
    PVOID holders = nullptr;
    ULONG count = 0;
    NTSTATUS listed = 0;
    EXPECT_EQ(kDenied, machine::LsaEnumerateAccountsWithUserRight(policy, nullptr, &holders, &count));
    RightsOf(policy, const_cast<BYTE*>(administrators.sid), &listed);
    EXPECT_EQ(kDenied, listed) << "the rights the administrators hold";
    machine::LsaClose(policy);
}

TEST_F(MachineContract, SignInBuildsARealProfile)
{
    std::wstring name = Add(L"Profiled", L"Profile-Pass1");
    ASSERT_FALSE(name.empty());
    LookedUp account = Lookup(name);

    HANDLE token = nullptr;
    ASSERT_TRUE(machine::LogonUserW(name.c_str(), nullptr, L"Profile-Pass1", LOGON32_LOGON_INTERACTIVE,
                                    LOGON32_PROVIDER_DEFAULT, &token)) << GetLastError();

    PROFILEINFOW wrongSize{};
    wrongSize.dwSize = 32;   // the size of the structure on 32-bit Windows
    wrongSize.lpUserName = const_cast<LPWSTR>(name.c_str());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(machine::LoadUserProfileW(token, &wrongSize));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    PROFILEINFOW profile{};
    profile.dwSize = sizeof(profile);
    profile.dwFlags = PI_NOUI;
    profile.lpUserName = const_cast<LPWSTR>(name.c_str());
    const ULONGLONG beforeLoad = NowTicks();
    ASSERT_TRUE(machine::LoadUserProfileW(token, &profile)) << GetLastError();

    std::wstring entry = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + account.sidString;
    wchar_t folder[MAX_PATH] = L"";
    DWORD size = sizeof(folder);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, entry.c_str(), L"ProfileImagePath", RRF_RT_REG_SZ | RRF_NOEXPAND |
                                          RRF_RT_REG_EXPAND_SZ, nullptr, folder, &size));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((std::wstring(folder) + L"\\NTUSER.DAT").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesW((std::wstring(folder) + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat").c_str()));
    DWORD packages = GetFileAttributesW((std::wstring(folder) + L"\\AppData\\Local\\Packages").c_str());
    EXPECT_TRUE(packages != INVALID_FILE_ATTRIBUTES && (packages & FILE_ATTRIBUTE_DIRECTORY) != 0)
        << "a fresh profile has its store apps' data folder";
    EXPECT_EQ(1u, DwordAt(HKEY_LOCAL_MACHINE, entry, L"RefCount")) << "counted while loaded";
    // The service keeps the last load and unload in the entry: a profile's last use.
    const ULONGLONG loadedAt = ProfileTimeAt(entry, L"Load");
    EXPECT_TRUE(loadedAt >= beforeLoad && loadedAt <= NowTicks()) << loadedAt << " not after " << beforeLoad;
    HKEY hive = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_USERS, account.sidString.c_str(), 0, KEY_READ, &hive))
        << "the hive is loaded under HKEY_USERS";
    if (hive != nullptr)
        RegCloseKey(hive);

    EXPECT_TRUE(machine::UnloadUserProfile(token, profile.hProfile));
    EXPECT_EQ(0u, DwordAt(HKEY_LOCAL_MACHINE, entry, L"RefCount"));
    const ULONGLONG unloadedAt = ProfileTimeAt(entry, L"Unload");
    EXPECT_TRUE(unloadedAt >= loadedAt && unloadedAt <= NowTicks()) << unloadedAt << " not after " << loadedAt;
    CloseHandle(token);
}

// The account's full control on an object, SYSTEM's and the
// Administrators' too, as the machine reports its DACL.
std::wstring SddlThrough(HANDLE object)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (machine::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return L"(unreadable)";
    LPWSTR text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                         nullptr);
    std::wstring sddl = text != nullptr ? text : L"";
    LocalFree(text);
    LocalFree(descriptor);
    return sddl;
}

// The profile service gives a new profile's folder and hive to its account;
// a DACL set on a file is the one read back, its protection included.
TEST_F(MachineContract, AProfileIsItsAccountsAndAFilesDaclReadsBackAsSet)
{
    std::wstring name = Add(L"Secured", L"Secured-Pass1");
    ASSERT_FALSE(name.empty());
    LookedUp account = Lookup(name);
    wchar_t folder[MAX_PATH] = L"";
    auto create = machine::AsFunction<machine::CreateProfileFunction>(
        machine::GetProcAddress(LoadLibraryW(L"userenv.dll"), "CreateProfile"));
    ASSERT_NE(nullptr, create);
    ASSERT_EQ(S_OK, create(account.sidString.c_str(), name.c_str(), folder, ARRAYSIZE(folder)));
    for (const std::wstring& path : {std::wstring(folder), std::wstring(folder) + L"\\NTUSER.DAT"}) {
        HANDLE object = CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, object) << Narrow(path.c_str());
        const std::wstring sddl = SddlThrough(object);
        CloseHandle(object);
        EXPECT_NE(std::wstring::npos, sddl.find(L";FA;;;" + account.sidString + L")")) << Narrow(sddl.c_str());
    }

    const std::wstring file = TempPath(L"vantrell-contract-dacl.txt");
    HANDLE handle = CreateFileW(file.c_str(), READ_CONTROL | WRITE_DAC, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    PSECURITY_DESCRIPTOR wanted = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        (L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + account.sidString + L")").c_str(), SDDL_REVISION_1, &wanted,
        nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              machine::SetSecurityInfo(handle, SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, dacl, nullptr));
    const std::wstring read = SddlThrough(handle);
    EXPECT_EQ(0u, read.find(L"D:P")) << Narrow(read.c_str());
    EXPECT_NE(std::wstring::npos, read.find(L"(A;;FA;;;" + account.sidString + L")")) << Narrow(read.c_str());
    EXPECT_NE(std::wstring::npos, read.find(L"(A;;FA;;;SY)")) << Narrow(read.c_str());
    LocalFree(wanted);
    CloseHandle(handle);
    DeleteFileW(file.c_str());
}

TEST_F(MachineContract, CreateProfileBuildsOnceAndRefusesTwice)
{
    std::wstring name = Add(L"Created", L"");
    ASSERT_FALSE(name.empty());
    LookedUp account = Lookup(name);

    HMODULE userenv = LoadLibraryW(L"Userenv.dll");
    ASSERT_NE(nullptr, userenv);
    auto createProfile = machine::AsFunction<machine::CreateProfileFunction>(
        machine::GetProcAddress(userenv, "CreateProfile"));
    ASSERT_NE(nullptr, createProfile);
    wchar_t path[1024] = L"";
    EXPECT_EQ(S_OK, createProfile(account.sidString.c_str(), name.c_str(), path, ARRAYSIZE(path)));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((std::wstring(path) + L"\\NTUSER.DAT").c_str()))
        << Narrow(path);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
              createProfile(account.sidString.c_str(), name.c_str(), path, ARRAYSIZE(path)));
    FreeLibrary(userenv);
}

TEST_F(MachineContract, ConsoleUserIsTheAccountRunningThisProcess)
{
    DWORD session = machine::WTSGetActiveConsoleSessionId();
    ASSERT_NE(0xFFFFFFFFu, session);
    LPWSTR user = nullptr;
    DWORD bytes = 0;
    ASSERT_TRUE(machine::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &user, &bytes));
    std::wstring consoleUser = user;
    machine::WTSFreeMemory(user);
    ASSERT_FALSE(consoleUser.empty());

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, size, &size));
    CloseHandle(token);
    LookedUp console = Lookup(consoleUser);
    ASSERT_TRUE(console.found) << Narrow(consoleUser);
    EXPECT_TRUE(EqualSid(console.sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid))
        << "the console user's SID is this process's own";
}

TEST_F(MachineContract, HighContrastIsAskedWithTheStructuresOwnSize)
{
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast) - 1;
    EXPECT_FALSE(machine::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0));
    contrast.cbSize = sizeof(contrast);
    contrast.dwFlags = HCF_HIGHCONTRASTON;
    ASSERT_TRUE(machine::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0));
    EXPECT_EQ(0u, contrast.dwFlags & HCF_HIGHCONTRASTON) << "the scenario's operator keeps the normal colours";
}

TEST_F(MachineContract, WellKnownSidsResolveAsTheSystemResolvesThem)
{
    struct Case {
        WELL_KNOWN_SID_TYPE type;
        const wchar_t* name;
        const wchar_t* domain;
    } cases[] = {
        {WinBuiltinAdministratorsSid, L"Administrators", L"BUILTIN"},
        {WinBuiltinUsersSid, L"Users", L"BUILTIN"},
        {WinBuiltinGuestsSid, L"Guests", L"BUILTIN"},
        {WinLocalSystemSid, L"SYSTEM", L"NT AUTHORITY"},
    };
    for (const Case& c : cases) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof(sid);
        ASSERT_TRUE(CreateWellKnownSid(c.type, nullptr, sid, &sidSize));
        wchar_t name[260], domain[260];
        DWORD nameLength = ARRAYSIZE(name), domainLength = ARRAYSIZE(domain);
        SID_NAME_USE use;
        ASSERT_TRUE(machine::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use));
        EXPECT_EQ(std::wstring(c.name), name);
        EXPECT_EQ(std::wstring(c.domain), domain);
        LookedUp back = Lookup(c.name);
        ASSERT_TRUE(back.found) << Narrow(c.name);
        EXPECT_TRUE(EqualSid(back.sid, sid));
    }
    // Too small a buffer reports the sizes needed, as callers that ask first expect.
    DWORD sidSize = 0, domainLength = 0;
    SID_NAME_USE use;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(machine::LookupAccountNameW(nullptr, L"Administrators", nullptr, &sidSize, nullptr, &domainLength,
                                             &use));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_GT(sidSize, 0u);
    EXPECT_GT(domainLength, 0u);
}

// The three shell setters the folder relocation tries in turn each point the
// running user's folder at a new place, which the shell then reports; the
// original place is put back by the same setter.
TEST_F(MachineContract, ShellFolderSettersMoveTheCurrentUsersFolder)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t original[MAX_PATH] = L"";
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_MYMUSIC | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, original));
    HMODULE shell = LoadLibraryW(L"Shell32.dll");
    ASSERT_NE(nullptr, shell);
    auto setKnown = machine::AsFunction<machine::SetKnownFolderPathFunction>(
        machine::GetProcAddress(shell, "SHSetKnownFolderPath"));
    auto setPath = machine::AsFunction<machine::SetFolderPathFunction>(
        machine::GetProcAddress(shell, MAKEINTRESOURCEA(machine::kSetFolderPathOrdinal)));
    ASSERT_NE(nullptr, setKnown);
    ASSERT_NE(nullptr, setPath);
    IKnownFolderManager* manager = nullptr;
    ASSERT_EQ(S_OK, machine::CoCreateInstance(CLSID_KnownFolderManager, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IKnownFolderManager, reinterpret_cast<void**>(&manager)));

    struct Setter {
        const char* name;
        std::function<HRESULT(const wchar_t*)> set;
    } const setters[] = {
        {"Redirect", [&](const wchar_t* path) {
             LPWSTR error = nullptr;
             HRESULT result = manager->Redirect(FOLDERID_Music, nullptr, 0, path, 0, nullptr, &error);
             CoTaskMemFree(error);
             return result;
         }},
        {"SHSetKnownFolderPath", [&](const wchar_t* path) { return setKnown(FOLDERID_Music, 0, nullptr, path); }},
        {"ordinal 232", [&](const wchar_t* path) { return setPath(CSIDL_MYMUSIC, nullptr, 0, path); }},
    };
    for (const Setter& setter : setters) {
        std::wstring place = TempPath(L"vantrell-contract-music");
        CreateDirectoryW(place.c_str(), nullptr);
        EXPECT_TRUE(SUCCEEDED(setter.set(place.c_str()))) << setter.name;
        wchar_t now[MAX_PATH] = L"";
        EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_MYMUSIC, nullptr, SHGFP_TYPE_CURRENT, now)) << setter.name;
        EXPECT_EQ(0, lstrcmpiW(place.c_str(), now)) << setter.name << ": " << Narrow(now);
        EXPECT_TRUE(SUCCEEDED(setter.set(original))) << setter.name;
        RemoveDirectoryW(place.c_str());
    }
    manager->Release();
    FreeLibrary(shell);
}

namespace {

std::wstring FolderOf(int csidl, HANDLE token = nullptr, DWORD flags = SHGFP_TYPE_CURRENT, HRESULT* result = nullptr)
{
    wchar_t path[MAX_PATH] = L"";
    HRESULT answered = machine::SHGetFolderPathW(nullptr, csidl, token, flags, path);
    if (result != nullptr)
        *result = answered;
    return SUCCEEDED(answered) ? std::wstring(path) : std::wstring();
}

bool IsFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A scratch hive file made from a scratch key with one value.
std::wstring MakeHiveFile(const wchar_t* name)
{
    std::wstring file = TempPath(name);
    DeleteFileW(file.c_str());
    std::wstring scratch = std::wstring(L"SOFTWARE\\VantrellContract\\") + name;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return L"";
    DWORD one = 1;
    RegSetValueExW(key, L"Made", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    LSTATUS saved = RegSaveKeyW(key, file.c_str(), nullptr);
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VantrellContract");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VantrellContract");
    return saved == ERROR_SUCCESS ? file : L"";
}

void EnableBackupAndRestore()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

// The strings of PendingFileRenameOperations, empty ones included.
std::vector<std::wstring> PendingRenames()
{
    std::vector<std::wstring> items;
    DWORD size = 0, type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, &type,
                     nullptr, &size) != ERROR_SUCCESS)
        return items;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, &type,
                     text.data(), &size) != ERROR_SUCCESS)
        return items;
    size_t count = size / sizeof(wchar_t);
    for (size_t at = 0; at < count;) {
        size_t length = wcsnlen(text.data() + at, count - at);
        items.emplace_back(text.data() + at, length);
        at += length + 1;
    }
    if (items.size() % 2 == 1 && items.back().empty())
        items.pop_back();   // the list's closing terminator
    return items;
}

}  // namespace

TEST_F(MachineContract, CurrentUsersFoldersLieInItsProfileAndMachineFoldersAreShared)
{
    std::wstring profile = FolderOf(CSIDL_PROFILE);
    ASSERT_TRUE(IsFolder(profile)) << Narrow(profile);
    // The places the system gives a fresh account's folders.
    struct Case {
        int csidl;
        const wchar_t* place;
    } cases[] = {
        {CSIDL_DESKTOPDIRECTORY, L"\\Desktop"},
        {CSIDL_PERSONAL, L"\\Documents"},
        {CSIDL_STARTUP, L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
        {CSIDL_LOCAL_APPDATA, L"\\AppData\\Local"},
    };
    for (const Case& c : cases) {
        std::wstring standard = FolderOf(c.csidl, nullptr, SHGFP_TYPE_DEFAULT);
        EXPECT_EQ(0, _wcsicmp((profile + c.place).c_str(), standard.c_str()))
            << "csidl " << c.csidl << ": " << Narrow(standard);
        std::wstring current = FolderOf(c.csidl | CSIDL_FLAG_CREATE);
        EXPECT_TRUE(IsFolder(current)) << "csidl " << c.csidl << ": " << Narrow(current);
    }
    // The program's own token names the same user as no token.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE, &token));
    EXPECT_EQ(profile, FolderOf(CSIDL_PROFILE, token));
    CloseHandle(token);

    wchar_t windows[MAX_PATH] = L"";
    GetWindowsDirectoryW(windows, ARRAYSIZE(windows));
    EXPECT_EQ(0, _wcsicmp(windows, FolderOf(CSIDL_WINDOWS).c_str()));
}

TEST_F(MachineContract, ALoadedHiveKeepsWhatWasWrittenAfterItIsUnloaded)
{
    EnableBackupAndRestore();
    std::wstring file = MakeHiveFile(L"vantrell-contract-hive.dat");
    ASSERT_FALSE(file.empty());
    const wchar_t* name = L"VantrellContractHive";
    ASSERT_EQ(ERROR_SUCCESS, machine::RegLoadKeyW(HKEY_USERS, name, file.c_str()));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_USERS, L"VantrellContractHive\\Software\\Written", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    DWORD seven = 7;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Seven", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven),
                                            sizeof(seven)));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, machine::RegUnLoadKeyW(HKEY_USERS, name));
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_USERS, name, 0, KEY_READ, &key)) << "the hive is unloaded";

    ASSERT_EQ(ERROR_SUCCESS, machine::RegLoadKeyW(HKEY_USERS, name, file.c_str()));
    EXPECT_EQ(7u, DwordAt(HKEY_USERS, L"VantrellContractHive\\Software\\Written", L"Seven"));
    EXPECT_EQ(1u, DwordAt(HKEY_USERS, name, L"Made")) << "what the file held before stays";
    EXPECT_EQ(ERROR_SUCCESS, machine::RegUnLoadKeyW(HKEY_USERS, name));
    DeleteFileW(file.c_str());
}

// A hive file holds each key's own owner and DACL: a key given to another
// SID inside a loaded hive is still that SID's when the hive is loaded again.
TEST_F(MachineContract, AHiveKeepsItsKeysSecurityWhenItIsLoadedAgain)
{
    EnableBackupAndRestore();
    std::wstring file = MakeHiveFile(L"vantrell-contract-security.dat");
    ASSERT_FALSE(file.empty());
    const wchar_t* name = L"VantrellContractSecurity";
    const wchar_t* given = L"O:S-1-5-21-7-8-9-1107D:P(A;CI;KA;;;S-1-5-21-7-8-9-1107)(A;CI;KA;;;SY)(A;CI;KA;;;BA)";
    ASSERT_EQ(ERROR_SUCCESS, machine::RegLoadKeyW(HKEY_USERS, name, file.c_str()));
    {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_USERS, L"VantrellContractSecurity\\Software\\Given", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(given, SDDL_REVISION_1, &descriptor, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                                                  PROTECTED_DACL_SECURITY_INFORMATION,
                                                   descriptor));
        LocalFree(descriptor);
    }
    ASSERT_EQ(ERROR_SUCCESS, machine::RegUnLoadKeyW(HKEY_USERS, name));
    ASSERT_EQ(ERROR_SUCCESS, machine::RegLoadKeyW(HKEY_USERS, name, file.c_str()));
    {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_USERS, L"VantrellContractSecurity\\Software\\Given", 0,
                                               READ_CONTROL, key.Put()));
        BYTE buffer[4096];
        DWORD size = sizeof(buffer);
        ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(key.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                   buffer, &size));
        LPWSTR text = nullptr;
        ConvertSecurityDescriptorToStringSecurityDescriptorW(buffer, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                             &text, nullptr);
        EXPECT_EQ(std::wstring(given), text != nullptr ? std::wstring(text) : L"") << "the key's owner and DACL";
        LocalFree(text);
    }
    EXPECT_EQ(1u, DwordAt(HKEY_USERS, name, L"Made")) << "the values stay";
    EXPECT_EQ(ERROR_SUCCESS, machine::RegUnLoadKeyW(HKEY_USERS, name));
    DeleteFileW(file.c_str());
}

// The program registers renames and deletions for the restart with
// MoveFileExW itself; the system keeps them in the session manager's value,
// which is what a restart (the simulated one included) carries out.
TEST_F(MachineContract, RenamesForTheRestartAreKeptAsTheSessionManagerReadsThem)
{
    std::vector<std::wstring> before = PendingRenames();
    std::wstring source = TempPath(L"vantrell-contract-r\u00e9name.txt");
    std::wstring target = TempPath(L"vantrell-contract-renamed.txt");
    std::wstring doomed = TempPath(L"vantrell-contract-doomed.txt");
    for (const std::wstring& file : {source, doomed})
        CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

    ASSERT_TRUE(MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
        << GetLastError();
    ASSERT_TRUE(MoveFileExW(doomed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();
    std::vector<std::wstring> after = PendingRenames();
    ASSERT_EQ(before.size() + 4, after.size());
    // Each operation is a pair: the source in the native form, then the
    // destination, "!" in front when it may replace a file, empty to delete.
    std::vector<std::wstring> added(after.end() - 4, after.end());
    EXPECT_EQ(L"\\??\\" + source, added[0]) << Narrow(added[0]);
    EXPECT_EQ(L"!\\??\\" + target, added[1]) << Narrow(added[1]);
    EXPECT_EQ(L"\\??\\" + doomed, added[2]) << Narrow(added[2]);
    EXPECT_EQ(L"", added[3]);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(source.c_str())) << "nothing moves before the restart";

    // Put the value back as it was, so that no real restart acts on the test's files.
    HKEY manager = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &manager));
    if (before.empty()) {
        RegDeleteValueW(manager, L"PendingFileRenameOperations");
    } else {
        std::vector<wchar_t> text;
        for (const std::wstring& item : before) {
            text.insert(text.end(), item.begin(), item.end());
            text.push_back(L'\0');
        }
        RegSetValueExW(manager, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    }
    RegCloseKey(manager);
    DeleteFileW(source.c_str());
    DeleteFileW(doomed.c_str());
}

// A point where the power could fail is only a mark: on a machine whose
// power stays on the program passes it and goes on, and the machine's
// accounts are as they were. (The simulated machine can be armed to cut
// the power there; a machine just prepared for the contract never is.)
TEST_F(MachineContract, APowerCutPointIsPassedWithoutEffectWhileThePowerStaysOn)
{
    auto accountNames = [] {
        std::vector<std::wstring> names;
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        if (machine::NetUserEnum(nullptr, 0, FILTER_NORMAL_ACCOUNT, &buffer, MAX_PREFERRED_LENGTH, &read, &total,
                                 nullptr) == NERR_Success &&
            buffer != nullptr) {
            auto* users = reinterpret_cast<USER_INFO_0*>(buffer);
            for (DWORD i = 0; i < read; ++i)
                names.push_back(users[i].usri0_name);
        }
        if (buffer != nullptr)
            machine::NetApiBufferFree(buffer);
        return names;
    };
    const std::vector<std::wstring> before = accountNames();
    ASSERT_FALSE(before.empty());
    const wchar_t* points[] = {L"contract: step done", L"contract: step done", L"", nullptr,
                               L"contract: a point whose name runs on for quite a while, past any short buffer"};
    int passed = 0;
    for (const wchar_t* point : points) {
        machine::PowerCutPoint(point);
        ++passed;
    }
    EXPECT_EQ(static_cast<int>(ARRAYSIZE(points)), passed);
    EXPECT_EQ(before, accountNames());
}

// A service is registered once under its name and gone once deleted; a process the manager did not start cannot
// connect as a service.
TEST_F(MachineContract, ServicesAreRegisteredOnceAndGoWhenDeleted)
{
    UniqueServiceHandle manager(
        machine::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    ASSERT_TRUE(manager) << "error " << GetLastError();
    const std::wstring name = ScratchAccountName(L"Svc");
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_list_tests";
    auto create = [&] {
        return machine::CreateServiceW(manager.Get(), name.c_str(), name.c_str(), SERVICE_QUERY_STATUS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    };
    UniqueServiceHandle made(create());
    ASSERT_TRUE(made) << "error " << GetLastError();
    SetLastError(0xdeadbeef);
    UniqueServiceHandle twice(create());
    EXPECT_FALSE(twice);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), GetLastError());

    UniqueServiceHandle opened(machine::OpenServiceW(manager.Get(), name.c_str(), DELETE));
    ASSERT_TRUE(opened) << "error " << GetLastError();
    EXPECT_TRUE(machine::DeleteService(opened.Get())) << "error " << GetLastError();
    opened.Reset();
    made.Reset();
    SetLastError(0xdeadbeef);
    UniqueServiceHandle gone(machine::OpenServiceW(manager.Get(), name.c_str(), DELETE));
    EXPECT_FALSE(gone);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());

    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(name.c_str()), [](DWORD, LPWSTR*) {}}, {nullptr, nullptr}};
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(machine::StartServiceCtrlDispatcherW(table));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), GetLastError());
}
