// ACLs in memory: allowed ACEs added in canonical order, ACLs merged and
// inherited, and the fixed permission recipes. Applying them to objects is
// platform/security.h's.
#pragma once

#include <windows.h>

#include "platform/handles.h"

// One ACE as ReadAce finds it inside its ACL (pointers borrow from the ACL).
struct AceInfo {
    bool allowed = false;
    bool inheritanceMarked = false;   // any of NO_PROPAGATE_INHERIT, INHERIT_ONLY, INHERITED
    DWORD size = 0;                   // what AddAce needs to copy it
    void* ace = nullptr;
    PSID sid = nullptr;
    DWORD revision = 0;
};

// Filter bits of MergeAcl.
inline constexpr DWORD kMergeSkipKnownSids = 1;
inline constexpr DWORD kMergeOnlyInherited = 2;
inline constexpr DWORD kMergeOnlyExplicit = 4;
inline constexpr DWORD kMergeOnlyAllowed = 8;
inline constexpr DWORD kMergeOnlyDenied = 16;

// The size of every ACL the recipes build.
inline constexpr DWORD kAclBufferSize = 2048;

// An empty ACL of kAclBufferSize bytes.
bool NewAcl(LocalAcl& acl);

// Adds an allowed ACE in canonical order: explicit ACEs right behind the last
// explicit one, inheritance-marked ones at the end. False for an invalid SID.
bool AddAllowedAce(PACL* acl, PSID sid, DWORD mask, DWORD aceFlags);

// True when the ACE exists and is of an allowed or denied type; an invalid or
// out-of-bounds SID still gives true, with `sid` null and the size at its base.
bool ReadAce(PACL acl, DWORD index, AceInfo& info);

// Adds the source's ACEs that pass the filter, each at its canonical place;
// returns how many were added.
DWORD MergeAcl(PACL* destination, PACL source, DWORD filter);

// Appends a whole ACE at the end of the ACL.
bool AddAceToAcl(LocalAcl& acl, const void* ace, WORD size);

// The entries of `parent` that a child inherits, marked inherited, in a new
// ACL: an entry for containers goes to a subfolder (still inheritable), an
// entry for objects to a file; inherit-only and no-propagate are honoured.
bool InheritedAcl(PACL parent, bool folder, LocalAcl& inherited);

// The fixed DACLs. None of them lets ordinary users change anything.
enum class SecurityRecipe {
    Folder,          // one folder or file: administrators, SYSTEM and the account
    Tree,            // a folder and all below it; users may read and run
    Key,             // a registry key and its subkeys; everyone may read
    TakeOver,        // what deletion needs: SYSTEM and administrators, inheritable
    TakeOverFile,    // the same for a single file, not inheritable
    // The repair tool's folder and its files: SYSTEM and administrators in
    // full, users may read and run; nobody else, not the creator. Every
    // entry is needed.
    ToolFolder,
};
// Builds `recipe` for a system of `version` (GetOsVersionNumber's form);
// `account` is only used by Folder. False when the key recipe misses a SID or
// an ACE could not be added.
bool BuildRecipeDacl(SecurityRecipe recipe, double version, PSID account, LocalAcl& dacl);
