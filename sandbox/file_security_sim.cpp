// The simulated security of files and folders. The system under the tests
// keeps no DACL it is given for a file, so the machine keeps what was set,
// per file, in its state; a profile folder and everything in it that nothing
// was set on have what the profile service gives them: the profile's
// account, SYSTEM and the Administrators in full, the account the owner.
#include "platform/machine.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "sandbox/profiles.h"
#include "sandbox/state.h"

namespace sandbox {

namespace {

constexpr wchar_t kFileSecurity[] = L"FileSecurity";

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The plain path of a file, lower case, as the state keeps it.
std::wstring PathKey(const std::wstring& path)
{
    std::wstring plain = path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
    while (plain.size() > 3 && plain.back() == L'\\')
        plain.pop_back();
    return Lower(plain);
}

std::wstring HandleKey(HANDLE file)
{
    wchar_t path[32768];
    const DWORD length = GetFinalPathNameByHandleW(file, path, ARRAYSIZE(path), FILE_NAME_NORMALIZED);
    return length == 0 || length >= ARRAYSIZE(path) ? L"" : PathKey(path);
}

// The SIDs of the profiles whose folder holds `key` (the folder itself
// included), the innermost folder's; none when no profile's does. A folder
// that two entries name (an account made anew and given the old one's
// folder) is both accounts'. The TEMP folder is nobody's own.
std::vector<std::wstring> ProfileSidsOf(const std::wstring& key)
{
    std::vector<std::wstring> found;
    Key list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileListKey, 0, KEY_READ, list.Put()) != ERROR_SUCCESS)
        return found;
    size_t longest = 0;
    // A backed-up entry's folder is its account's still: the files keep
    // their security whatever the profile list says of them.
    for (const std::wstring& name : SubkeyNames(list.Get())) {
        const std::wstring sid = name.size() > 4 && Lower(name.substr(name.size() - 4)) == L".bak"
                                     ? name.substr(0, name.size() - 4)
                                     : name;
        if (sid.compare(0, 4, L"S-1-") != 0 || sid.find(L'.') != std::wstring::npos)
            continue;
        const std::wstring folder = PathKey(ProfileFolderOf(name));
        if (folder.size() <= 3 || folder.size() < longest ||
            (folder.size() >= 5 && folder.compare(folder.size() - 5, 5, L"\\temp") == 0))
            continue;
        if (key == folder || (key.compare(0, folder.size(), folder) == 0 && key[folder.size()] == L'\\')) {
            if (folder.size() > longest)
                found.clear();
            longest = folder.size();
            if (std::find(found.begin(), found.end(), sid) == found.end())
                found.push_back(sid);
        }
    }
    return found;
}

std::wstring StoredSddl(const std::wstring& key)
{
    StateLock lock;
    Key store = OpenState(kFileSecurity, false);
    return store ? ReadString(store.Get(), key.c_str(), L"") : L"";
}

// What the file's security is as the machine has it; empty when it is the
// system's own.
std::wstring SddlOf(const std::wstring& key, bool folder)
{
    if (key.empty())
        return L"";
    std::wstring stored = StoredSddl(key);
    if (!stored.empty())
        return stored;
    const std::vector<std::wstring> sids = ProfileSidsOf(key);
    if (sids.empty())
        return L"";
    const std::wstring inherit = folder ? L"OICI" : L"";
    std::wstring sddl = L"O:" + sids.front() + L"D:P(A;" + inherit + L";FA;;;SY)(A;" + inherit + L";FA;;;BA)";
    for (const std::wstring& sid : sids)
        sddl += L"(A;" + inherit + L";FA;;;" + sid + L")";
    return sddl;
}

// From the basic information alone: the whole of it would also ask Wine's
// drive service for the volume's serial number, on every call.
bool IsFolder(HANDLE file)
{
    FILE_BASIC_INFO basic{};
    return GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) &&
           (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

void SetFileSecuritySddl(const std::wstring& path, const std::wstring& sddl)
{
    StateLock lock;
    Key store = OpenState(kFileSecurity, true);
    if (store)
        WriteString(store.Get(), PathKey(path).c_str(), sddl);
}

bool AccountMayUse(const std::wstring& path, const std::wstring& sid)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    const std::wstring sddl = SddlOf(PathKey(path), (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    if (sddl.empty())
        return true;   // the system's own: nothing the machine was told keeps the account out
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID account = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr) ||
        !ConvertStringSidToSidW(sid.c_str(), &account)) {
        LocalFree(descriptor);
        return false;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    bool allowed = !present || dacl == nullptr, denied = false;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) || (header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);   // the denied ACE has the same layout
        if (!EqualSid(&ace->SidStart, account))
            continue;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE && (ace->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS)
            allowed = true;
        else if (header->AceType == ACCESS_DENIED_ACE_TYPE)
            denied = true;
    }
    LocalFree(account);
    LocalFree(descriptor);
    return allowed && !denied;
}

}  // namespace sandbox

namespace machine {

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                      PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl, PSECURITY_DESCRIPTOR* ppSecurityDescriptor)
{
    const std::wstring sddl =
        ObjectType == SE_FILE_OBJECT ? sandbox::SddlOf(sandbox::HandleKey(handle), sandbox::IsFolder(handle)) : L"";
    if (sddl.empty())
        return ::GetSecurityInfo(handle, ObjectType, SecurityInfo, ppsidOwner, ppsidGroup, ppDacl, ppSacl,
                                 ppSecurityDescriptor);
    if (ppSecurityDescriptor == nullptr)
        return ERROR_INVALID_PARAMETER;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return GetLastError();
    BOOL present = FALSE, defaulted = FALSE;
    if (ppsidOwner != nullptr)
        GetSecurityDescriptorOwner(descriptor, ppsidOwner, &defaulted);
    if (ppsidGroup != nullptr)
        *ppsidGroup = nullptr;
    if (ppDacl != nullptr)
        GetSecurityDescriptorDacl(descriptor, &present, ppDacl, &defaulted);
    if (ppSacl != nullptr)
        *ppSacl = nullptr;
    *ppSecurityDescriptor = descriptor;
    return ERROR_SUCCESS;
}

DWORD SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo, PSID psidOwner,
                      PSID psidGroup, PACL pDacl, PACL pSacl)
{
    if (ObjectType != SE_FILE_OBJECT)
        return ::SetSecurityInfo(handle, ObjectType, SecurityInfo, psidOwner, psidGroup, pDacl, pSacl);
    const std::wstring key = sandbox::HandleKey(handle);
    if (key.empty())
        return ERROR_INVALID_HANDLE;
    // What is there now, with what is set taking its place.
    PSECURITY_DESCRIPTOR current = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    DWORD status = machine::GetSecurityInfo(handle, ObjectType, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                   nullptr, &dacl, nullptr, &current);
    if (status != ERROR_SUCCESS)
        return status;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(current, &control, &revision);
    SECURITY_DESCRIPTOR made;
    InitializeSecurityDescriptor(&made, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&made, (SecurityInfo & OWNER_SECURITY_INFORMATION) ? psidOwner : owner, FALSE);
    SetSecurityDescriptorDacl(&made, TRUE, (SecurityInfo & DACL_SECURITY_INFORMATION) ? pDacl : dacl, FALSE);
    bool protect = (control & SE_DACL_PROTECTED) != 0;
    if (SecurityInfo & PROTECTED_DACL_SECURITY_INFORMATION)
        protect = true;
    else if (SecurityInfo & UNPROTECTED_DACL_SECURITY_INFORMATION)
        protect = false;
    SetSecurityDescriptorControl(&made, SE_DACL_PROTECTED, protect ? SE_DACL_PROTECTED : 0);
    LPWSTR sddl = nullptr;
    const BOOL converted = ConvertSecurityDescriptorToStringSecurityDescriptorW(
        &made, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl, nullptr);
    LocalFree(current);
    if (!converted)
        return GetLastError();
    sandbox::SetFileSecuritySddl(key, sddl);
    LocalFree(sddl);
    return ERROR_SUCCESS;
}

}  // namespace machine
