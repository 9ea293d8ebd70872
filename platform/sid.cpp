#include "platform/sid.h"

#include <sddl.h>

#include <cstring>
#include <utility>

#include "platform/machine.h"

bool SidToText(PSID sid, WString& text)
{
    UniqueResource<LocalMemoryTraits<LPWSTR>> converted;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, converted.Put())) {
        text.Assign(L"");
        return false;
    }
    return text.Assign(converted.Get());
}

std::wstring SidString(PSID sid)
{
    WString text;
    return SidToText(sid, text) ? std::wstring(text.Text()) : std::wstring();
}

bool SidFromText(const wchar_t* text, LocalSid& sid)
{
    sid.Reset();
    PSID converted = nullptr;
    if (text == nullptr || !ConvertStringSidToSidW(text, &converted))
        return false;
    sid.Reset(converted);
    return true;
}

bool SidFromName(LocalSid& sid, const wchar_t* nameOrSid)
{
    sid.Reset();
    if (nameOrSid == nullptr)
        return false;
    if (wcsncmp(nameOrSid, L"S-1-", 4) == 0)
        return SidFromText(nameOrSid, sid);

    return AccountNameToSid(nameOrSid, sid, nullptr);
}

bool WellKnownSid(LocalSid& sid, WELL_KNOWN_SID_TYPE type)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    sid.Reset(LocalAlloc(LPTR, size));
    if (!sid || !CreateWellKnownSid(type, nullptr, sid.Get(), &size)) {
        sid.Reset();
        return false;
    }
    return true;
}

bool AccountNameToSid(const wchar_t* accountName, LocalSid& sid, WString* domain)
{
    if (accountName == nullptr)
        return false;
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    machine::LookupAccountNameW(nullptr, accountName, nullptr, &sidSize, nullptr, &domainSize, &use);
    if (sidSize == 0)
        return false;
    LocalSid found(LocalAlloc(LPTR, sidSize));
    WString foundDomain;
    wchar_t* domainBuffer = foundDomain.GetBuffer(domainSize + 1, nullptr, true);
    if (!found || domainBuffer == nullptr)
        return false;
    domainSize += 1;
    if (!machine::LookupAccountNameW(nullptr, accountName, found.Get(), &sidSize, domainBuffer, &domainSize, &use))
        return false;
    sid = std::move(found);
    if (domain != nullptr) {
        foundDomain.Length();   // written by the call
        *domain = std::move(foundDomain);
    }
    return true;
}

bool SidToAccountName(PSID sid, WString& name, WString* domain)
{
    if (sid == nullptr)
        return false;
    DWORD nameSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    machine::LookupAccountSidW(nullptr, sid, nullptr, &nameSize, nullptr, &domainSize, &use);
    if (nameSize == 0)
        return false;
    WString foundName, foundDomain;
    wchar_t* nameBuffer = foundName.GetBuffer(nameSize + 1, nullptr, true);
    wchar_t* domainBuffer = foundDomain.GetBuffer(domainSize + 1, nullptr, true);
    if (nameBuffer == nullptr || domainBuffer == nullptr)
        return false;
    nameSize += 1;
    domainSize += 1;
    if (!machine::LookupAccountSidW(nullptr, sid, nameBuffer, &nameSize, domainBuffer, &domainSize, &use))
        return false;
    foundName.Length();
    name = std::move(foundName);
    if (domain != nullptr) {
        foundDomain.Length();
        *domain = std::move(foundDomain);
    }
    return true;
}
