// The simulated local security authority: account rights per SID and
// private data, with the statuses the system reports.
#include "platform/machine.h"

#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sandbox/sandbox.h"
#include "sandbox/state.h"

namespace {

constexpr NTSTATUS kSuccess = 0;
constexpr NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kInvalidHandle = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kNoSuchPrivilege = static_cast<NTSTATUS>(0xC0000060);
constexpr NTSTATUS kNoMemory = static_cast<NTSTATUS>(0xC0000017);
constexpr NTSTATUS kNoMoreEntries = static_cast<NTSTATUS>(0x8000001A);

constexpr DWORD kPolicyMagic = 0x4C534150;   // "LSAP"

struct Policy {
    DWORD magic;
    ACCESS_MASK access;
};

Policy* PolicyOf(LSA_HANDLE handle)
{
    Policy* policy = static_cast<Policy*>(handle);
    return policy != nullptr && policy->magic == kPolicyMagic ? policy : nullptr;
}

// A standard user is granted what the policy's DACL gives everyone (its
// execute rights: looking names up and viewing the local information); the
// account objects behind the rights, and the secrets, are the
// administrators'.
constexpr ACCESS_MASK kEveryonesPolicyAccess = POLICY_EXECUTE | GENERIC_EXECUTE | MAXIMUM_ALLOWED;

bool StandardUser()
{
    return sandbox::MachineDword(sandbox::kElevated, 1) == 0;
}

bool Allows(const Policy* policy, ACCESS_MASK needed)
{
    return (policy->access & (needed | GENERIC_ALL)) != 0 || (policy->access & POLICY_ALL_ACCESS) == POLICY_ALL_ACCESS;
}

std::wstring Text(const LSA_UNICODE_STRING& s)
{
    return s.Buffer != nullptr ? std::wstring(s.Buffer, s.Length / sizeof(wchar_t)) : std::wstring();
}

// The logon rights; privileges are any name the system knows.
bool IsKnownRight(const std::wstring& name)
{
    static const wchar_t* const kLogonRights[] = {
        L"SeInteractiveLogonRight", L"SeDenyInteractiveLogonRight", L"SeNetworkLogonRight",
        L"SeDenyNetworkLogonRight", L"SeBatchLogonRight", L"SeDenyBatchLogonRight", L"SeServiceLogonRight",
        L"SeDenyServiceLogonRight", L"SeRemoteInteractiveLogonRight", L"SeDenyRemoteInteractiveLogonRight",
    };
    for (const wchar_t* right : kLogonRights) {
        if (_wcsicmp(right, name.c_str()) == 0)
            return true;
    }
    LUID luid;
    return LookupPrivilegeValueW(nullptr, name.c_str(), &luid) != FALSE;
}

bool SameRight(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

namespace machine {

NTSTATUS LsaOpenPolicy(PLSA_UNICODE_STRING SystemName, PLSA_OBJECT_ATTRIBUTES ObjectAttributes,
                       ACCESS_MASK DesiredAccess, PLSA_HANDLE PolicyHandle)
{
    if (ObjectAttributes == nullptr || PolicyHandle == nullptr)
        return kInvalidParameter;
    if (SystemName != nullptr && SystemName->Length != 0)
        return kAccessDenied;
    if (sandbox::MachineDword(sandbox::kSecurityPolicy, 1) == 0)
        return kAccessDenied;
    if (StandardUser() && (DesiredAccess & ~kEveryonesPolicyAccess) != 0)
        return kAccessDenied;
    Policy* policy = static_cast<Policy*>(LocalAlloc(LPTR, sizeof(Policy)));
    if (policy == nullptr)
        return kNoMemory;
    policy->magic = kPolicyMagic;
    policy->access = DesiredAccess;
    *PolicyHandle = policy;
    return kSuccess;
}

NTSTATUS LsaClose(LSA_HANDLE ObjectHandle)
{
    Policy* policy = PolicyOf(ObjectHandle);
    if (policy == nullptr)
        return kInvalidHandle;
    policy->magic = 0;
    LocalFree(policy);
    return kSuccess;
}

NTSTATUS LsaEnumerateAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, PLSA_UNICODE_STRING* UserRights,
                                   PULONG CountOfRights)
{
    Policy* policy = PolicyOf(PolicyHandle);
    if (policy == nullptr)
        return kInvalidHandle;
    if (AccountSid == nullptr || !IsValidSid(AccountSid) || UserRights == nullptr || CountOfRights == nullptr)
        return kInvalidParameter;
    if (!Allows(policy, POLICY_LOOKUP_NAMES) || StandardUser())
        return kAccessDenied;
    if (DWORD failure = sandbox::ForcedFailure(L"LsaEnumerateAccountRights"))
        return static_cast<NTSTATUS>(failure);
    *UserRights = nullptr;
    *CountOfRights = 0;
    std::vector<std::wstring> rights = sandbox::RightsOf(sandbox::SidToString(AccountSid));
    if (rights.empty())
        return kObjectNameNotFound;   // no account object: the system's answer for "no rights at all"

    size_t bytes = rights.size() * sizeof(LSA_UNICODE_STRING);
    for (const std::wstring& right : rights)
        bytes += (right.size() + 1) * sizeof(wchar_t);
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, bytes));
    if (block == nullptr)
        return kNoMemory;
    LSA_UNICODE_STRING* array = reinterpret_cast<LSA_UNICODE_STRING*>(block);
    wchar_t* text = reinterpret_cast<wchar_t*>(block + rights.size() * sizeof(LSA_UNICODE_STRING));
    for (size_t i = 0; i < rights.size(); ++i) {
        memcpy(text, rights[i].c_str(), (rights[i].size() + 1) * sizeof(wchar_t));
        array[i].Buffer = text;
        array[i].Length = static_cast<USHORT>(rights[i].size() * sizeof(wchar_t));
        array[i].MaximumLength = static_cast<USHORT>(array[i].Length + sizeof(wchar_t));
        text += rights[i].size() + 1;
    }
    *UserRights = array;
    *CountOfRights = static_cast<ULONG>(rights.size());
    return kSuccess;
}

NTSTATUS LsaEnumerateAccountsWithUserRight(LSA_HANDLE PolicyHandle, PLSA_UNICODE_STRING UserRight, PVOID* Buffer,
                                           PULONG CountReturned)
{
    Policy* policy = PolicyOf(PolicyHandle);
    if (policy == nullptr)
        return kInvalidHandle;
    if (Buffer == nullptr || CountReturned == nullptr)
        return kInvalidParameter;
    if (!Allows(policy, POLICY_LOOKUP_NAMES) || !Allows(policy, POLICY_VIEW_LOCAL_INFORMATION) || StandardUser())
        return kAccessDenied;
    *Buffer = nullptr;
    *CountReturned = 0;
    std::wstring wanted = UserRight != nullptr ? Text(*UserRight) : L"";
    if (!wanted.empty() && !IsKnownRight(wanted))
        return kNoSuchPrivilege;
    std::vector<std::vector<BYTE>> sids;
    for (const std::wstring& text : sandbox::SidsWithRights()) {
        bool holds = wanted.empty();
        for (const std::wstring& right : sandbox::RightsOf(text))
            holds = holds || SameRight(right, wanted);
        PSID sid = nullptr;
        if (!holds || !ConvertStringSidToSidW(text.c_str(), &sid))
            continue;
        BYTE* bytes = static_cast<BYTE*>(sid);
        sids.emplace_back(bytes, bytes + GetLengthSid(sid));
        LocalFree(sid);
    }
    if (sids.empty())
        return kNoMoreEntries;
    size_t bytes = sids.size() * sizeof(LSA_ENUMERATION_INFORMATION);
    for (const std::vector<BYTE>& sid : sids)
        bytes += (sid.size() + 7) & ~size_t(7);
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, bytes));
    if (block == nullptr)
        return kNoMemory;
    BYTE* next = block + sids.size() * sizeof(LSA_ENUMERATION_INFORMATION);
    for (size_t i = 0; i < sids.size(); ++i) {
        memcpy(next, sids[i].data(), sids[i].size());
        reinterpret_cast<LSA_ENUMERATION_INFORMATION*>(block)[i].Sid = next;
        next += (sids[i].size() + 7) & ~size_t(7);
    }
    *Buffer = block;
    *CountReturned = static_cast<ULONG>(sids.size());
    return kSuccess;
}

NTSTATUS LsaAddAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, PLSA_UNICODE_STRING UserRights,
                             ULONG CountOfRights)
{
    Policy* policy = PolicyOf(PolicyHandle);
    if (policy == nullptr)
        return kInvalidHandle;
    if (AccountSid == nullptr || !IsValidSid(AccountSid) || (UserRights == nullptr && CountOfRights > 0))
        return kInvalidParameter;
    if (!Allows(policy, POLICY_CREATE_ACCOUNT) || !Allows(policy, POLICY_LOOKUP_NAMES))
        return kAccessDenied;
    sandbox::StateLock lock;
    std::wstring sid = sandbox::SidToString(AccountSid);
    std::vector<std::wstring> rights = sandbox::RightsOf(sid);
    for (ULONG i = 0; i < CountOfRights; ++i) {
        std::wstring right = Text(UserRights[i]);
        if (!IsKnownRight(right))
            return kNoSuchPrivilege;
        if (std::none_of(rights.begin(), rights.end(), [&](const std::wstring& held) { return SameRight(held, right); }))
            rights.push_back(right);
    }
    sandbox::SetRights(sid, rights);
    return kSuccess;
}

NTSTATUS LsaRemoveAccountRights(LSA_HANDLE PolicyHandle, PSID AccountSid, BOOLEAN AllRights,
                                PLSA_UNICODE_STRING UserRights, ULONG CountOfRights)
{
    Policy* policy = PolicyOf(PolicyHandle);
    if (policy == nullptr)
        return kInvalidHandle;
    if (AccountSid == nullptr || !IsValidSid(AccountSid) || (!AllRights && UserRights == nullptr && CountOfRights > 0))
        return kInvalidParameter;
    if (!Allows(policy, POLICY_LOOKUP_NAMES))
        return kAccessDenied;
    sandbox::StateLock lock;
    std::wstring sid = sandbox::SidToString(AccountSid);
    std::vector<std::wstring> rights = sandbox::RightsOf(sid);
    if (rights.empty())
        return kObjectNameNotFound;
    if (AllRights) {
        rights.clear();
    } else {
        for (ULONG i = 0; i < CountOfRights; ++i) {
            std::wstring right = Text(UserRights[i]);
            if (!IsKnownRight(right))
                return kNoSuchPrivilege;
            rights.erase(std::remove_if(rights.begin(), rights.end(),
                                        [&](const std::wstring& held) { return SameRight(held, right); }),
                         rights.end());
        }
    }
    sandbox::SetRights(sid, rights);
    return kSuccess;
}

NTSTATUS LsaStorePrivateData(LSA_HANDLE PolicyHandle, PLSA_UNICODE_STRING KeyName, PLSA_UNICODE_STRING PrivateData)
{
    Policy* policy = PolicyOf(PolicyHandle);
    if (policy == nullptr)
        return kInvalidHandle;
    if (KeyName == nullptr || KeyName->Length == 0)
        return kInvalidParameter;
    if (!Allows(policy, POLICY_CREATE_SECRET))
        return kAccessDenied;
    if (DWORD failure = sandbox::ForcedFailure(L"LsaStorePrivateData"))
        return static_cast<NTSTATUS>(failure);
    std::wstring name = Text(*KeyName);
    NTSTATUS status;
    if (PrivateData == nullptr) {   // no data: the secret is deleted
        status = sandbox::DeleteSecret(name) ? kSuccess : kObjectNameNotFound;
    } else {
        if (PrivateData->Buffer == nullptr && PrivateData->Length > 0)
            return kInvalidParameter;
        static const BYTE kNothing = 0;
        const BYTE* data =
            PrivateData->Buffer != nullptr ? reinterpret_cast<const BYTE*>(PrivateData->Buffer) : &kNothing;
        status = sandbox::WriteSecret(name, data, PrivateData->Length) ? kSuccess : kAccessDenied;
    }
    if (status == kSuccess)
        sandbox::PassMachineCall(L"LsaStorePrivateData");
    return status;
}

NTSTATUS LsaRetrievePrivateData(LSA_HANDLE PolicyHandle, PLSA_UNICODE_STRING KeyName,
                                PLSA_UNICODE_STRING* PrivateData)
{
    Policy* policy = PolicyOf(PolicyHandle);
    if (policy == nullptr)
        return kInvalidHandle;
    if (KeyName == nullptr || KeyName->Length == 0 || PrivateData == nullptr)
        return kInvalidParameter;
    if (!Allows(policy, POLICY_CREATE_SECRET) && !Allows(policy, POLICY_GET_PRIVATE_INFORMATION))
        return kAccessDenied;
    *PrivateData = nullptr;
    std::vector<BYTE> data;
    if (!sandbox::ReadSecret(Text(*KeyName), &data))
        return kObjectNameNotFound;
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, sizeof(LSA_UNICODE_STRING) + data.size() + sizeof(wchar_t)));
    if (block == nullptr) {
        SecureZeroMemory(data.data(), data.size());
        return kNoMemory;
    }
    LSA_UNICODE_STRING* result = reinterpret_cast<LSA_UNICODE_STRING*>(block);
    result->Buffer = reinterpret_cast<PWSTR>(block + sizeof(LSA_UNICODE_STRING));
    memcpy(result->Buffer, data.data(), data.size());
    result->Length = static_cast<USHORT>(data.size());
    result->MaximumLength = static_cast<USHORT>(data.size());
    SecureZeroMemory(data.data(), data.size());
    *PrivateData = result;
    return kSuccess;
}

NTSTATUS LsaFreeMemory(PVOID Buffer)
{
    if (Buffer != nullptr)
        LocalFree(Buffer);
    return kSuccess;
}

ULONG LsaNtStatusToWinError(NTSTATUS Status)
{
    return ::LsaNtStatusToWinError(Status);   // a pure translation; Wine has it
}

}  // namespace machine
