#include "platform/security.h"

#include <sddl.h>
#include <shlwapi.h>

#include <utility>
#include <vector>

#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/tree_walk.h"

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

bool ApplyTwice(PACL* dacl, const wchar_t* name, SE_OBJECT_TYPE type, DWORD flags, PSID owner)
{
    return ApplySecurity(dacl, name, type, flags, owner) || ApplySecurity(dacl, name, type, flags, owner);
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

bool SetFileSecurityOf(HANDLE object, PACL dacl, PSID owner, bool protect)
{
    SECURITY_INFORMATION information = DACL_SECURITY_INFORMATION |
                                       (protect ? PROTECTED_DACL_SECURITY_INFORMATION
                                                : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (owner != nullptr)
        information |= OWNER_SECURITY_INFORMATION;
    return machine::SetSecurityInfo(object, SE_FILE_OBJECT, information, owner, nullptr, dacl, nullptr) ==
           ERROR_SUCCESS;
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
