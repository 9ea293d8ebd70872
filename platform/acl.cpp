#include "platform/acl.h"

#include <cstring>
#include <iterator>
#include <vector>

#include "platform/sid.h"

namespace {

enum class SidSource { WellKnown, Text, Account };
enum class VersionRule { Any, Above, AtLeast };

struct RecipeRow {
    SidSource source;
    WELL_KNOWN_SID_TYPE wellKnown;
    const wchar_t* text;       // a SID string or an account name
    DWORD access;
    DWORD aceFlags;
    VersionRule rule;
    double version;
};

constexpr DWORD kInheritAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr DWORD kInheritMarks = NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE | INHERITED_ACE;
constexpr wchar_t kTrustedInstaller[] = L"NT SERVICE\\TrustedInstaller";
// A service SID is derived from the service's name alone, so this is the SID
// on every machine; systems whose lookup does not know the service (Wine)
// still get the entry.
constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

const RecipeRow kFolderRows[] = {
    {SidSource::WellKnown, WinBuiltinAdministratorsSid, nullptr, GENERIC_ALL, kInheritAll, VersionRule::Any, 0},
    {SidSource::WellKnown, WinLocalSystemSid, nullptr, GENERIC_ALL, kInheritAll, VersionRule::Any, 0},
    {SidSource::Text, WinNullSid, L"S-1-15-2-1", GENERIC_READ, kInheritAll, VersionRule::Above, 6.1},
    {SidSource::Text, WinNullSid, L"S-1-15-2-2", GENERIC_READ, kInheritAll, VersionRule::Above, 6.1},
    {SidSource::Account, WinNullSid, nullptr, GENERIC_ALL, kInheritAll, VersionRule::Any, 0},
};

const RecipeRow kTreeRows[] = {
    {SidSource::WellKnown, WinBuiltinAdministratorsSid, nullptr, GENERIC_ALL, kInheritAll, VersionRule::Any, 0},
    {SidSource::WellKnown, WinLocalSystemSid, nullptr, GENERIC_ALL, kInheritAll, VersionRule::Any, 0},
    {SidSource::Text, WinNullSid, L"S-1-5-32-545", GENERIC_READ | GENERIC_EXECUTE, kInheritAll, VersionRule::Any, 0},
    {SidSource::Text, WinNullSid, kTrustedInstaller, GENERIC_ALL, kInheritAll, VersionRule::Above, 5.3},
    {SidSource::Text, WinNullSid, L"S-1-15-2-1", GENERIC_READ, kInheritAll, VersionRule::Above, 6.1},
    {SidSource::Text, WinNullSid, L"S-1-15-2-2", GENERIC_READ, kInheritAll, VersionRule::Above, 6.1},
};

const RecipeRow kKeyRows[] = {
    {SidSource::WellKnown, WinBuiltinAdministratorsSid, nullptr, GENERIC_ALL, CONTAINER_INHERIT_ACE, VersionRule::Any, 0},
    {SidSource::WellKnown, WinLocalSystemSid, nullptr, GENERIC_ALL, CONTAINER_INHERIT_ACE, VersionRule::Any, 0},
    {SidSource::WellKnown, WinWorldSid, nullptr, GENERIC_READ, CONTAINER_INHERIT_ACE, VersionRule::Any, 0},
    {SidSource::Text, WinNullSid, L"S-1-5-32-545", GENERIC_READ, CONTAINER_INHERIT_ACE, VersionRule::Any, 0},
    {SidSource::Text, WinNullSid, L"S-1-5-12", GENERIC_READ, CONTAINER_INHERIT_ACE, VersionRule::Any, 0},
    {SidSource::Text, WinNullSid, kTrustedInstaller, GENERIC_ALL, CONTAINER_INHERIT_ACE, VersionRule::AtLeast, 6.0},
};

const RecipeRow kTakeOverRows[] = {
    {SidSource::WellKnown, WinLocalSystemSid, nullptr, GENERIC_ALL, kInheritAll, VersionRule::Any, 0},
    {SidSource::WellKnown, WinBuiltinAdministratorsSid, nullptr, GENERIC_ALL, kInheritAll, VersionRule::Any, 0},
};

const RecipeRow kToolFolderRows[] = {
    {SidSource::WellKnown, WinLocalSystemSid, nullptr, GENERIC_ALL, kInheritAll, VersionRule::Any, 0},
    {SidSource::WellKnown, WinBuiltinAdministratorsSid, nullptr, GENERIC_ALL, kInheritAll, VersionRule::Any, 0},
    {SidSource::WellKnown, WinBuiltinUsersSid, nullptr, GENERIC_READ | GENERIC_EXECUTE, kInheritAll, VersionRule::Any, 0},
};

struct Recipe {
    const RecipeRow* rows;
    size_t count;
    bool everyRowNeeded;   // a missing SID or failed ACE fails the recipe instead of being skipped
    DWORD aceFlagsKept;
};

Recipe RecipeFor(SecurityRecipe recipe)
{
    switch (recipe) {
    case SecurityRecipe::Folder: return {kFolderRows, std::size(kFolderRows), false, ~0u};
    case SecurityRecipe::Tree: return {kTreeRows, std::size(kTreeRows), false, ~0u};
    case SecurityRecipe::Key: return {kKeyRows, std::size(kKeyRows), true, ~0u};
    case SecurityRecipe::TakeOver: return {kTakeOverRows, std::size(kTakeOverRows), false, ~0u};
    case SecurityRecipe::TakeOverFile: return {kTakeOverRows, std::size(kTakeOverRows), false, 0u};
    case SecurityRecipe::ToolFolder: return {kToolFolderRows, std::size(kToolFolderRows), true, ~0u};
    }
    return {nullptr, 0, true, 0};
}

bool RowApplies(const RecipeRow& row, double version, PSID account)
{
    if (row.source == SidSource::Account && account == nullptr)
        return false;
    switch (row.rule) {
    case VersionRule::Any: return true;
    case VersionRule::Above: return version > row.version;
    case VersionRule::AtLeast: return version >= row.version;
    }
    return false;
}

bool SidForRow(const RecipeRow& row, PSID account, LocalSid& sid)
{
    switch (row.source) {
    case SidSource::WellKnown:
        return WellKnownSid(sid, row.wellKnown);
    case SidSource::Account: {
        if (account == nullptr || !IsValidSid(account))
            return false;
        DWORD length = GetLengthSid(account);
        sid.Reset(LocalAlloc(LPTR, length));
        return sid && CopySid(length, sid.Get(), account);
    }
    case SidSource::Text:
        if (SidFromName(sid, row.text) && IsValidSid(sid.Get()))
            return true;
        if (row.text == kTrustedInstaller)
            return SidFromName(sid, kTrustedInstallerSid);
        return false;
    }
    return false;
}

// Where a SID of `length` bytes would start in a plain or object ACE, and the
// base size AddAce counts for it.
struct AceLayout {
    bool known;
    bool allowed;
    bool object;
};
AceLayout LayoutOf(BYTE type)
{
    switch (type) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: return {true, true, false};
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: return {true, true, true};
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE: return {true, false, false};
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE: return {true, false, true};
    default: return {false, false, false};
    }
}

bool SameSid(const std::vector<BYTE>& known, PSID sid)
{
    return known.size() == GetLengthSid(sid) && memcmp(known.data(), sid, known.size()) == 0;
}

// An ACL's own copy, for merging an ACL into itself.
bool CopyAcl(PACL source, LocalAcl& copy)
{
    ACL_SIZE_INFORMATION size{};
    if (!GetAclInformation(source, &size, sizeof(size), AclSizeInformation))
        return false;
    DWORD bytes = size.AclBytesInUse + size.AclBytesFree;
    copy.Reset(static_cast<PACL>(LocalAlloc(LPTR, bytes)));
    if (!copy)
        return false;
    memcpy(copy.Get(), source, bytes);
    return true;
}

// Puts a whole ACE at `index` (MAXDWORD or beyond: at the end). Done by hand
// because Wine's AddAce ignores the index and always appends.
bool InsertAce(PACL acl, DWORD index, DWORD revision, const void* ace, DWORD size)
{
    if (acl == nullptr || ace == nullptr || size < sizeof(ACE_HEADER) || size > 0xFFFF)
        return false;
    auto* base = reinterpret_cast<BYTE*>(acl);
    DWORD end = sizeof(ACL);
    DWORD at = end;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        if (i == index)
            at = end;
        const auto* header = reinterpret_cast<const ACE_HEADER*>(base + end);
        if (header->AceSize < sizeof(ACE_HEADER) || end + header->AceSize > acl->AclSize)
            return false;
        end += header->AceSize;
    }
    if (index >= acl->AceCount)
        at = end;
    if (end + size > acl->AclSize)
        return false;
    memmove(base + at + size, base + at, end - at);
    memcpy(base + at, ace, size);
    reinterpret_cast<ACE_HEADER*>(base + at)->AceSize = static_cast<WORD>(size);
    ++acl->AceCount;
    if (revision > acl->AclRevision)
        acl->AclRevision = static_cast<BYTE>(revision);
    return true;
}

}  // namespace

bool AddAceToAcl(LocalAcl& acl, const void* ace, WORD size)
{
    return AddAce(acl.Get(), ACL_REVISION, MAXDWORD, const_cast<void*>(ace), size) != FALSE;
}

bool NewAcl(LocalAcl& acl)
{
    acl.Reset(static_cast<PACL>(LocalAlloc(LPTR, kAclBufferSize)));
    if (!acl || !InitializeAcl(acl.Get(), kAclBufferSize, ACL_REVISION)) {
        acl.Reset();
        return false;
    }
    return true;
}

bool ReadAce(PACL acl, DWORD index, AceInfo& info)
{
    info = AceInfo{};
    void* ace = nullptr;
    if (acl == nullptr || !GetAce(acl, index, &ace))
        return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    AceLayout layout = LayoutOf(header->AceType);
    if (!layout.known)
        return false;

    const DWORD base = layout.object ? 48 : 12;
    const DWORD sidOffset = base - 4;
    info.allowed = layout.allowed;
    info.inheritanceMarked = (header->AceFlags & kInheritMarks) != 0;
    info.size = base;
    info.ace = ace;
    info.revision = layout.object ? ACL_REVISION_DS : ACL_REVISION;

    // The SID must lie wholly inside the ACE, or it is not read at all.
    if (header->AceSize < sidOffset + 8)
        return true;
    auto* sid = static_cast<BYTE*>(ace) + sidOffset;
    const DWORD length = 8 + 4u * sid[1];
    if (sidOffset + length > header->AceSize || !IsValidSid(sid))
        return true;
    info.sid = sid;
    info.size = base + length - 4;
    return true;
}

bool AddAllowedAce(PACL* acl, PSID sid, DWORD mask, DWORD aceFlags)
{
    if (acl == nullptr || *acl == nullptr || sid == nullptr || !IsValidSid(sid))
        return false;
    const DWORD sidLength = GetLengthSid(sid);
    BYTE buffer[sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE] = {};
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(buffer);
    const DWORD size = 8 + sidLength;
    ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    ace->Header.AceFlags = static_cast<BYTE>(aceFlags);
    ace->Header.AceSize = static_cast<WORD>(size);
    ace->Mask = mask;
    if (!CopySid(sidLength, &ace->SidStart, sid))
        return false;

    DWORD index = MAXDWORD;
    if ((aceFlags & kInheritMarks) == 0) {
        index = 0;
        for (DWORD i = (*acl)->AceCount; i-- > 0;) {
            AceInfo info;
            if (ReadAce(*acl, i, info) && !info.inheritanceMarked) {
                index = i + 1;
                break;
            }
        }
    }
    return InsertAce(*acl, index, ACL_REVISION, buffer, size);
}

DWORD MergeAcl(PACL* destination, PACL source, DWORD filter)
{
    if (destination == nullptr || *destination == nullptr || source == nullptr || !IsValidAcl(source) ||
        source->AceCount == 0)
        return 0;
    LocalAcl ownCopy;
    if (source == *destination) {
        if (!CopyAcl(source, ownCopy))
            return 0;
        source = ownCopy.Get();
    }

    DWORD denied = 0;
    DWORD explicitCount = 0;
    std::vector<std::vector<BYTE>> knownSids;
    for (DWORD i = 0; i < (*destination)->AceCount; ++i) {
        AceInfo info;
        if (!ReadAce(*destination, i, info))
            continue;
        if (!info.allowed)
            ++denied;
        if (!info.inheritanceMarked)
            ++explicitCount;
        if (info.sid != nullptr) {
            const auto* bytes = static_cast<const BYTE*>(info.sid);
            knownSids.emplace_back(bytes, bytes + GetLengthSid(info.sid));
        }
    }

    DWORD added = 0;
    for (DWORD i = 0; i < source->AceCount; ++i) {
        AceInfo info;
        if (!ReadAce(source, i, info) || info.sid == nullptr)
            continue;
        if ((filter & kMergeOnlyInherited) != 0 && !info.inheritanceMarked)
            continue;
        if ((filter & kMergeOnlyExplicit) != 0 && info.inheritanceMarked)
            continue;
        if ((filter & kMergeOnlyAllowed) != 0 && !info.allowed)
            continue;
        if ((filter & kMergeOnlyDenied) != 0 && info.allowed)
            continue;
        if ((filter & kMergeSkipKnownSids) != 0) {
            bool known = false;
            for (const auto& sid : knownSids)
                known = known || SameSid(sid, info.sid);
            if (known)
                continue;
        }

        DWORD index;
        if (!info.inheritanceMarked)
            index = info.allowed ? explicitCount : denied;
        else
            index = info.allowed ? MAXDWORD : explicitCount;
        if (!InsertAce(*destination, index, info.revision, info.ace, info.size))
            continue;
        ++added;
        if (!info.inheritanceMarked) {
            ++explicitCount;
            if (!info.allowed)
                ++denied;
        }
    }
    return added;
}

bool InheritedAcl(PACL parent, bool folder, LocalAcl& inherited)
{
    if (!NewAcl(inherited))
        return false;
    ACL_SIZE_INFORMATION size{};
    if (parent == nullptr || !GetAclInformation(parent, &size, sizeof(size), AclSizeInformation))
        return false;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(parent, i, reinterpret_cast<void**>(&ace)))
            return false;
        const BYTE flags = ace->AceFlags;
        const bool toFolders = (flags & CONTAINER_INHERIT_ACE) != 0;
        const bool toFiles = (flags & OBJECT_INHERIT_ACE) != 0;
        if (folder ? !(toFolders || toFiles) : !toFiles)
            continue;
        BYTE childFlags = INHERITED_ACE;
        if (folder && (flags & NO_PROPAGATE_INHERIT_ACE) == 0) {
            childFlags |= flags & (CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE);
            if (!toFolders)
                childFlags |= INHERIT_ONLY_ACE;   // passed on to files, not the folder's own
        } else if (folder && !toFolders) {
            continue;
        }
        std::vector<BYTE> copy(reinterpret_cast<BYTE*>(ace), reinterpret_cast<BYTE*>(ace) + ace->AceSize);
        reinterpret_cast<ACE_HEADER*>(copy.data())->AceFlags = childFlags;
        if (!AddAceToAcl(inherited, copy.data(), ace->AceSize))
            return false;
    }
    return true;
}

bool BuildRecipeDacl(SecurityRecipe recipe, double version, PSID account, LocalAcl& dacl)
{
    const Recipe plan = RecipeFor(recipe);
    if (plan.rows == nullptr || !NewAcl(dacl))
        return false;
    for (size_t i = 0; i < plan.count; ++i) {
        const RecipeRow& row = plan.rows[i];
        if (!RowApplies(row, version, account))
            continue;
        LocalSid sid;
        PACL acl = dacl.Get();
        bool added = SidForRow(row, account, sid) && AddAllowedAce(&acl, sid.Get(), row.access,
                                                                   row.aceFlags & plan.aceFlagsKept);
        if (!added && plan.everyRowNeeded) {
            dacl.Reset();
            return false;
        }
    }
    return true;
}
