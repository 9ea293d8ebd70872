#include "platform/key_handover.h"

#include <string>
#include <vector>

namespace {

constexpr DWORD kKeyAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// Deeper than any hive the system writes; a walk that goes further is cut.
constexpr size_t kMaxDepth = 512;

// A link key, opened as itself, holds its target in this REG_LINK value.
bool IsLinkKey(HKEY key)
{
    DWORD type = REG_NONE, size = 0;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
           type == REG_LINK;
}

// The key's owner and DACL in a self-relative descriptor; false when unreadable.
bool ReadKeySecurity(HKEY key, std::vector<BYTE>& descriptor)
{
    DWORD size = 0;
    LSTATUS status = RegGetKeySecurity(key, kOwnerAndDacl, nullptr, &size);
    if (status != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return false;
    descriptor.assign(size, 0);
    return RegGetKeySecurity(key, kOwnerAndDacl, descriptor.data(), &size) == ERROR_SUCCESS;
}

enum class Handed { Unchanged, Changed, Refused };

Handed HandOne(HKEY key, PSID oldSid, PSID newSid)
{
    std::vector<BYTE> bytes;
    if (!ReadKeySecurity(key, bytes))
        return Handed::Refused;
    auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(bytes.data());
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE, present = FALSE, daclDefaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted) ||
        !GetSecurityDescriptorControl(descriptor, &control, &revision))
        return Handed::Refused;
    const bool newOwner = owner != nullptr && EqualSid(owner, oldSid);
    LocalAcl replaced;
    const bool newDacl = present && dacl != nullptr && ReplaceSidInAcl(dacl, oldSid, newSid, replaced);
    if (!newOwner && !newDacl)
        return Handed::Unchanged;
    SECURITY_DESCRIPTOR changed;
    SECURITY_INFORMATION what = 0;
    if (!InitializeSecurityDescriptor(&changed, SECURITY_DESCRIPTOR_REVISION))
        return Handed::Refused;
    if (newOwner) {
        SetSecurityDescriptorOwner(&changed, newSid, FALSE);
        what |= OWNER_SECURITY_INFORMATION;
    }
    if (newDacl) {
        SetSecurityDescriptorDacl(&changed, TRUE, replaced.Get(), FALSE);
        // A DACL that was shielded from its parent's entries stays shielded:
        // the registry takes that from the descriptor's own control bits.
        if ((control & SE_DACL_PROTECTED) != 0)
            SetSecurityDescriptorControl(&changed, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        what |= DACL_SECURITY_INFORMATION;
    }
    return RegSetKeySecurity(key, what, &changed) == ERROR_SUCCESS ? Handed::Changed : Handed::Refused;
}

struct HandoverLevel {
    UniqueRegKey key;
    DWORD next = 0;   // the index of the next subkey to open
};

}  // namespace

bool ReplaceSidInAcl(PACL acl, PSID from, PSID to, LocalAcl& out, uint32_t* replaced)
{
    out.Reset();
    if (acl == nullptr || !IsValidSid(from) || !IsValidSid(to))
        return false;
    ACL_SIZE_INFORMATION info{};
    if (!GetAclInformation(acl, &info, sizeof(info), AclSizeInformation))
        return false;
    uint32_t count = 0;
    const DWORD grow = GetLengthSid(to) > GetLengthSid(from) ? GetLengthSid(to) - GetLengthSid(from) : 0;
    DWORD size = info.AclBytesInUse;
    for (DWORD i = 0; i < info.AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&header)))
            return false;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE)
            continue;
        // Both types put the SID at the same place.
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if (EqualSid(&ace->SidStart, from)) {
            ++count;
            size += grow;
        }
    }
    if (replaced != nullptr)
        *replaced = count;
    if (count == 0)
        return false;
    size = (size + 3) & ~3u;
    LocalAcl made(static_cast<PACL>(LocalAlloc(LPTR, size)));
    if (!made || !InitializeAcl(made.Get(), size, acl->AclRevision))
        return false;
    for (DWORD i = 0; i < info.AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        GetAce(acl, i, reinterpret_cast<void**>(&header));
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        const bool named = (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) &&
                           EqualSid(&ace->SidStart, from);
        if (!named) {
            if (!AddAce(made.Get(), acl->AclRevision, MAXDWORD, header, header->AceSize))
                return false;
            continue;
        }
        const DWORD aceSize = static_cast<DWORD>(offsetof(ACCESS_ALLOWED_ACE, SidStart)) + GetLengthSid(to);
        std::vector<BYTE> entry(aceSize, 0);
        auto* copy = reinterpret_cast<ACCESS_ALLOWED_ACE*>(entry.data());
        copy->Header = *header;
        copy->Header.AceSize = static_cast<WORD>(aceSize);
        copy->Mask = ace->Mask;
        if (!CopySid(GetLengthSid(to), &copy->SidStart, to) ||
            !AddAce(made.Get(), acl->AclRevision, MAXDWORD, entry.data(), aceSize))
            return false;
    }
    out = std::move(made);
    return true;
}

bool HandKeysOver(HKEY root, PSID oldSid, PSID newSid, KeyHandover& counts)
{
    counts = KeyHandover();
    if (root == nullptr || !IsValidSid(oldSid) || !IsValidSid(newSid))
        return false;
    ++counts.keys;
    switch (HandOne(root, oldSid, newSid)) {
    case Handed::Refused: ++counts.refused; return false;
    case Handed::Changed: ++counts.changed; break;
    case Handed::Unchanged: break;
    }
    std::vector<HandoverLevel> stack;
    stack.emplace_back();
    // The root stays the caller's: the first level only borrows it.
    HKEY top = root;
    bool whole = true;
    while (!stack.empty()) {
        HandoverLevel& level = stack.back();
        HKEY parent = stack.size() == 1 ? top : level.key.Get();
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        const LSTATUS listed = RegEnumKeyExW(parent, level.next, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS) {
            stack.pop_back();
            continue;
        }
        ++level.next;
        if (listed != ERROR_SUCCESS) {
            ++counts.refused;
            whole = false;
            stack.pop_back();
            continue;
        }
        ++counts.keys;
        UniqueRegKey child;
        if (RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, kKeyAccess, child.Put()) != ERROR_SUCCESS) {
            ++counts.refused;
            whole = false;
            continue;
        }
        if (IsLinkKey(child.Get())) {
            ++counts.links;
            continue;
        }
        switch (HandOne(child.Get(), oldSid, newSid)) {
        case Handed::Changed: ++counts.changed; break;
        case Handed::Refused:
            ++counts.refused;
            whole = false;
            break;
        case Handed::Unchanged: break;
        }
        if (stack.size() >= kMaxDepth) {
            ++counts.refused;
            whole = false;
            continue;
        }
        HandoverLevel below;
        below.key = std::move(child);
        stack.push_back(std::move(below));
    }
    return whole;
}
