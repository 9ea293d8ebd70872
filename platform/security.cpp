#include "platform/security.h"

#include <sddl.h>
#include <shlwapi.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/tree_walk.h"

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

bool ApplyTwice(PACL* dacl, const wchar_t* name, SE_OBJECT_TYPE type, DWORD flags, PSID owner)
{
    return ApplySecurity(dacl, name, type, flags, owner) || ApplySecurity(dacl, name, type, flags, owner);
}

}  // namespace

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

SecurityCall PlanSecurityCall(DWORD flags, bool hasOwner, bool canBeTree)
{
    SecurityCall call;
    if ((flags & kApplyOwnerOnly) == 0)
        call.information |= DACL_SECURITY_INFORMATION;
    if (hasOwner)
        call.information |= OWNER_SECURITY_INFORMATION;
    if ((flags & kApplyProtected) != 0)
        call.information |= PROTECTED_DACL_SECURITY_INFORMATION;
    else if ((flags & kApplyUnprotected) != 0)
        call.information |= UNPROTECTED_DACL_SECURITY_INFORMATION;
    call.tree = (flags & kApplyTree) != 0 && canBeTree;
    call.keepExplicit = (flags & kApplyKeepExplicit) != 0;
    call.ownerRetry = hasOwner && (flags & kApplyOwnerOnly) == 0;
    return call;
}

namespace {

bool AddAceToAcl(LocalAcl& acl, const void* ace, WORD size)
{
    return AddAce(acl.Get(), ACL_REVISION, MAXDWORD, const_cast<void*>(ace), size) != FALSE;
}

// The entries of `parent` that a child inherits, marked inherited: an
// entry for containers goes to a subfolder (still inheritable), an entry for
// objects to a file; inherit-only and no-propagate are honoured.
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

// Re-permissions everything below a folder through the walker: each object
// opened as itself, links left alone. Every object gets the owner (when
// given) and the inherited entries; with `keepExplicit` its own explicit
// entries stay in front of them.
class TreeSecurityVisitor : public TreeVisitor {
public:
    TreeSecurityVisitor(PACL rootDacl, PSID owner, bool keepExplicit, TreeSecuritySkips* skips)
        : owner_(owner), keepExplicit_(keepExplicit), skips_(skips)
    {
        ready_ = InheritedAcl(rootDacl, true, folders_[0]) && InheritedAcl(rootDacl, false, files_[0]) &&
                 InheritedAcl(folders_[0].Get(), true, folders_[1]) &&
                 InheritedAcl(folders_[0].Get(), false, files_[1]);
    }
    bool Ready() const { return ready_; }
    bool AllDone() const { return ready_ && allDone_; }

    DWORD FolderAccess() const override { return AccessWanted(); }
    DWORD FileAccess() const override { return AccessWanted(); }

    bool OnEnter(const TreeFolder& folder) override
    {
        if (folder.parent != nullptr && !Apply(folder.handle, folders_[folder.depth > 1 ? 1 : 0].Get()))
            Refused(folder.DisplayPath());
        return true;
    }
    void OnFile(const TreeFolder& folder, const TreeEntry& entry, HANDLE file) override
    {
        // Another name of the file lies elsewhere, maybe where this tree's
        // owner may not write: its security stays as it is.
        if (HasOtherNames(file)) {
            if (skips_ != nullptr)
                skips_->hardLinked.push_back(folder.DisplayPathOf(entry));
            return;
        }
        if (!Apply(file, files_[folder.depth > 0 ? 1 : 0].Get()))
            Refused(folder.DisplayPathOf(entry));
    }
    void OnFailure(const TreeFolder& folder, const TreeEntry* entry, WalkFailure why) override
    {
        if (why != WalkFailure::Gone)
            Refused(entry != nullptr ? folder.DisplayPathOf(*entry) : folder.DisplayPath());
    }

private:
    PSID owner_;   // not owned
    bool keepExplicit_;
    TreeSecuritySkips* skips_;   // not owned; may be null
    bool ready_ = false;
    bool allDone_ = true;
    LocalAcl folders_[2];   // for the root's own subfolders, and below
    LocalAcl files_[2];     // for the root's own files, and below

    DWORD AccessWanted() const
    {
        return READ_CONTROL | WRITE_DAC | (owner_ != nullptr ? WRITE_OWNER : 0);
    }

    void Refused(WString path)
    {
        allDone_ = false;
        if (skips_ != nullptr)
            skips_->refused.push_back(std::move(path));
    }

    bool Apply(HANDLE object, PACL inherited)
    {
        LocalAcl combined;
        PACL dacl = inherited;
        if (keepExplicit_ && NewAcl(combined)) {
            // Its own entries first, then the inherited ones, as the
            // platform orders them.
            PACL current = nullptr;
            LocalSecurityDescriptor descriptor;
            ACL_SIZE_INFORMATION size{};
            if (GetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                                nullptr, descriptor.Put()) == ERROR_SUCCESS &&
                current != nullptr && GetAclInformation(current, &size, sizeof(size), AclSizeInformation)) {
                for (DWORD i = 0; i < size.AceCount; ++i) {
                    ACE_HEADER* ace = nullptr;
                    if (GetAce(current, i, reinterpret_cast<void**>(&ace)) && (ace->AceFlags & INHERITED_ACE) == 0)
                        AddAceToAcl(combined, ace, ace->AceSize);
                }
            }
            if (GetAclInformation(inherited, &size, sizeof(size), AclSizeInformation)) {
                for (DWORD i = 0; i < size.AceCount; ++i) {
                    ACE_HEADER* ace = nullptr;
                    if (GetAce(inherited, i, reinterpret_cast<void**>(&ace)))
                        AddAceToAcl(combined, ace, ace->AceSize);
                }
            }
            dacl = combined.Get();
        }
        return SetHandleSecurity(object, dacl, owner_, false);
    }
};

// The walker's counterpart of the platform's tree reset: the root gets the
// DACL (and owner) as asked, everything below it the inherited form.
bool ApplyTreeSecurity(HANDLE root, const wchar_t* shown, PACL dacl, PSID owner, bool protect, bool keepExplicit,
                       TreeSecuritySkips* skips)
{
    if (!SetHandleSecurity(root, dacl, owner, protect))
        return false;
    TreeSecurityVisitor visitor(dacl, owner, keepExplicit, skips);
    return visitor.Ready() && WalkOpenedTree(root, shown, visitor) == WalkRoot::Walked && visitor.AllDone();
}

}  // namespace

bool ApplyOpenedTreeSecurity(HANDLE folder, PACL dacl, PSID owner, bool protect, TreeSecuritySkips* skips)
{
    return dacl != nullptr && ApplyTreeSecurity(folder, nullptr, dacl, owner, protect, false, skips);
}

bool ApplySecurity(PACL* dacl, const wchar_t* objectName, SE_OBJECT_TYPE type, DWORD flags, PSID owner,
                   TreeSecuritySkips* skips)
{
    if (objectName == nullptr)
        return false;
    WString name(objectName);
    bool canBeTree = true;
    if (type == SE_REGISTRY_KEY) {
        if (!ToSecurityObjectName(name))
            return false;
    } else {
        canBeTree = PathIsDirectoryW(name.Text()) != FALSE;
    }
    const SecurityCall call = PlanSecurityCall(flags, owner != nullptr, canBeTree);
    PACL acl = dacl != nullptr ? *dacl : nullptr;
    // Without a DACL the platform would set a null one, which lets everyone in.
    if ((call.information & DACL_SECURITY_INFORMATION) != 0 && acl == nullptr)
        return false;

    // A folder tree is walked by handle: the platform's own tree call would
    // re-open every object by its path and follow the links inside.
    if (call.tree && type == SE_FILE_OBJECT && (call.information & DACL_SECURITY_INFORMATION) != 0) {
        WalkRoot why = WalkRoot::Walked;
        UniqueFileHandle root =
            OpenFolderItself(name.Text(), READ_CONTROL | WRITE_DAC | (owner != nullptr ? WRITE_OWNER : 0), why);
        return root && ApplyTreeSecurity(root.Get(), name.Text(), acl, owner,
                                         (call.information & PROTECTED_DACL_SECURITY_INFORMATION) != 0,
                                         call.keepExplicit, skips);
    }
    auto apply = [&] {
        DWORD status = call.tree ? TreeResetNamedSecurityInfoW(name.Data(), type, call.information, owner, nullptr,
                                                               acl, nullptr, call.keepExplicit, nullptr,
                                                               ProgressInvokeNever, nullptr)
                                 : SetNamedSecurityInfoW(name.Data(), type, call.information, owner, nullptr, acl,
                                                         nullptr);
        return status == ERROR_SUCCESS;
    };
    if (apply())
        return true;
    if (!call.ownerRetry)
        return false;
    if (SetNamedSecurityInfoW(name.Data(), type, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return false;
    return apply();
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

bool ResetFolderSecurity(const wchar_t* path, PSID account)
{
    LocalAcl dacl;
    if (!BuildRecipeDacl(SecurityRecipe::Folder, GetOsVersionNumber(), account, dacl))
        return false;
    PACL acl = dacl.Get();
    return ApplyTwice(&acl, path, SE_FILE_OBJECT, 0, account);
}

bool ResetTreeSecurity(const wchar_t* path)
{
    LocalAcl dacl;
    if (!BuildRecipeDacl(SecurityRecipe::Tree, GetOsVersionNumber(), nullptr, dacl))
        return false;
    PACL acl = dacl.Get();
    return ApplyTwice(&acl, path, SE_FILE_OBJECT, kApplyTree, nullptr);
}

bool SetHandleSecurity(HANDLE object, PACL dacl, PSID owner, bool protectDacl)
{
    if (object == nullptr || object == INVALID_HANDLE_VALUE || (dacl == nullptr && owner == nullptr))
        return false;
    SECURITY_DESCRIPTOR ownerOnly;
    if (owner != nullptr && (!InitializeSecurityDescriptor(&ownerOnly, SECURITY_DESCRIPTOR_REVISION) ||
                             !SetSecurityDescriptorOwner(&ownerOnly, owner, FALSE)))
        return false;
    if (dacl == nullptr)
        return SetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, &ownerOnly) != FALSE;

    // The object's own call: unlike the named calls it neither resolves a
    // path again nor walks into what lies below the object.
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) ||
        (owner != nullptr && !SetSecurityDescriptorOwner(&descriptor, owner, FALSE)))
        return false;
    if (protectDacl)
        SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    const SECURITY_INFORMATION information =
        DACL_SECURITY_INFORMATION | (owner != nullptr ? OWNER_SECURITY_INFORMATION : 0);
    if (SetKernelObjectSecurity(object, information, &descriptor))
        return true;
    if (owner == nullptr || !SetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, &ownerOnly))
        return false;
    return SetKernelObjectSecurity(object, information, &descriptor) != FALSE;
}

bool ResetObjectSecurity(HANDLE object, PSID account)
{
    LocalAcl dacl;
    if (!BuildRecipeDacl(SecurityRecipe::Folder, GetOsVersionNumber(), account, dacl))
        return false;
    return SetHandleSecurity(object, dacl.Get(), account, true);
}

namespace {

// The DACL a key holds now, merged into `dacl` (allowed entries only).
// Read through the open key, so the path's view is honoured.
void MergeKeyDacl(HKEY key, LocalAcl& dacl)
{
    DWORD size = 0;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return;
    UniqueLocalMemory buffer(LocalAlloc(LPTR, size));
    if (!buffer || RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.Get(), &size) != ERROR_SUCCESS)
        return;
    BOOL present = FALSE, defaulted = FALSE;
    PACL current = nullptr;
    if (GetSecurityDescriptorDacl(buffer.Get(), &present, &current, &defaulted) && present && current != nullptr) {
        PACL acl = dacl.Get();
        MergeAcl(&acl, current, kMergeOnlyAllowed);
    }
}

}  // namespace

bool ResetKeySecurity(const wchar_t* keyPath)
{
    // Only a key of a known local root: "\\computer\HKLM" would otherwise
    // name the whole local tree to the security calls.
    WString subkey(keyPath != nullptr ? keyPath : L"");
    DWORD view = 0;
    if (keyPath == nullptr || keyPath[0] == L'\\' || ParseKeyPath(subkey, &view) == nullptr ||
        NamesRegistryRoot(keyPath))
        return false;
    LocalAcl dacl;
    LocalSid administrators;
    if (!BuildRecipeDacl(SecurityRecipe::Key, GetOsVersionNumber(), nullptr, dacl) ||
        !WellKnownSid(administrators, WinBuiltinAdministratorsSid))
        return false;

    // What the key allows now is read before anything is written, or the
    // reset would keep nothing of it. A key that refuses even that is taken
    // over first: its owner may always read and write its DACL.
    RegKey key;
    constexpr DWORD kSecurityAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER;
    if (!key.Open(keyPath, kSecurityAccess) && key.Open(keyPath, WRITE_OWNER)) {
        SECURITY_DESCRIPTOR owner;
        if (InitializeSecurityDescriptor(&owner, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorOwner(&owner, administrators.Get(), FALSE))
            RegSetKeySecurity(key.Get(), OWNER_SECURITY_INFORMATION, &owner);
        key.Open(keyPath, kSecurityAccess);
    }
    if (key) {
        MergeKeyDacl(key.Get(), dacl);
        // Through the handle first: it honours the path's view, which the
        // object name of a WOW64 process cannot express.
        SECURITY_DESCRIPTOR descriptor;
        if (InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, dacl.Get(), FALSE) &&
            SetSecurityDescriptorOwner(&descriptor, administrators.Get(), FALSE))
            RegSetKeySecurity(key.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &descriptor);
        key.Close();
    } else {
        WString name(keyPath);
        PACL current = nullptr;
        LocalSecurityDescriptor descriptor;
        if (ToSecurityObjectName(name) &&
            GetNamedSecurityInfoW(name.Text(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                                  nullptr, descriptor.Put()) == ERROR_SUCCESS &&
            current != nullptr) {
            PACL acl = dacl.Get();
            MergeAcl(&acl, current, kMergeOnlyAllowed);
        }
    }
    PACL acl = dacl.Get();
    return ApplyTwice(&acl, keyPath, SE_REGISTRY_KEY, kApplyTree | kApplyProtected, administrators.Get());
}

bool CopySecurity(const wchar_t* source, const wchar_t* destination, DWORD flags, TreeSecuritySkips* skips)
{
    if ((flags & (kCopyDacl | kCopyOwner)) == 0 || source == nullptr || destination == nullptr ||
        !PathFileExistsW(source) || !PathFileExistsW(destination))
        return false;
    DWORD applyFlags = flags & ~(kCopyDacl | kCopyOwner);

    LocalSid owner;
    if ((flags & kCopyOwner) != 0) {
        PSID sourceOwner = nullptr;
        LocalSecurityDescriptor descriptor;
        if (GetNamedSecurityInfoW(source, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sourceOwner, nullptr, nullptr,
                                  nullptr, descriptor.Put()) == ERROR_SUCCESS &&
            sourceOwner != nullptr && IsValidSid(sourceOwner)) {
            DWORD length = GetLengthSid(sourceOwner);
            owner.Reset(LocalAlloc(LPTR, length));
            if (owner && !CopySid(length, owner.Get(), sourceOwner))
                owner.Reset();
        }
    }

    LocalAcl dacl;
    if (!NewAcl(dacl))
        return false;
    PACL sourceDacl = nullptr;
    LocalSecurityDescriptor descriptor;
    DWORD status = GetNamedSecurityInfoW(source, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         &sourceDacl, nullptr, descriptor.Put());
    if (status == ERROR_SUCCESS && sourceDacl != nullptr) {
        PACL acl = dacl.Get();
        MergeAcl(&acl, sourceDacl, 0);
    } else {
        // No DACL to copy (unreadable, or a null DACL): an empty one would lock
        // everybody out, so only the owner is copied.
        if (!owner)
            return false;
        applyFlags |= kApplyOwnerOnly;
    }
    PACL acl = dacl.Get();
    return ApplySecurity(&acl, destination, SE_FILE_OBJECT, applyFlags, owner.Get(), skips);
}
