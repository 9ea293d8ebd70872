// Applying a DACL and owner to a file, folder or registry key, by name, by
// handle or over a whole tree. Building the ACLs (and the fixed recipes),
// SIDs and tokens have their own headers, included here.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <cstdint>
#include <vector>

#include "platform/acl.h"
#include "platform/handles.h"
#include "platform/sid.h"
#include "platform/text.h"
#include "platform/token.h"

// Flag bits of ApplySecurity.
inline constexpr DWORD kApplyTree = 1;
inline constexpr DWORD kApplyUnprotected = 2;
inline constexpr DWORD kApplyProtected = 4;
inline constexpr DWORD kApplyOwnerOnly = 8;
inline constexpr DWORD kApplyKeepExplicit = 16;

// Flag bits of CopySecurity; the rest go to ApplySecurity.
inline constexpr DWORD kCopyDacl = 0x400;
inline constexpr DWORD kCopyOwner = 0x800;
// A whole tree takes its source's owner and permissions, keeping the entries
// set on its own items: how a moved profile gets its account's rights.
inline constexpr DWORD kCopyTreeKeepingExplicit = kCopyOwner | kCopyDacl | kApplyKeepExplicit | kApplyTree;

// What ApplySecurity asks of the platform for a set of flags.
struct SecurityCall {
    SECURITY_INFORMATION information = 0;
    bool tree = false;           // TreeResetNamedSecurityInfoW instead of SetNamedSecurityInfoW
    bool keepExplicit = false;
    bool ownerRetry = false;     // take ownership first when refused
};
// `canBeTree`: the object is a registry key or a directory.
SecurityCall PlanSecurityCall(DWORD flags, bool hasOwner, bool canBeTree);

// What a folder tree's re-permission left as it was: entries it could not
// reach or change, and files with another name elsewhere (hard links),
// never re-owned or re-permissioned through this one. Paths for the log.
struct TreeSecuritySkips {
    std::vector<WString> refused;
    std::vector<WString> hardLinked;
};

// Sets the DACL (and owner, when given) of a file object or a registry key
// given by key path. True on success. A folder tree (kApplyTree) is walked
// by handle; what it leaves as it was goes to `skips` when given (a
// hard-linked file alone does not make it fail).
bool ApplySecurity(PACL* dacl, const wchar_t* objectName, SE_OBJECT_TYPE type, DWORD flags, PSID owner,
                   TreeSecuritySkips* skips = nullptr);

// The same for a folder already open (READ_CONTROL, WRITE_DAC, WRITE_OWNER
// when `owner` is given, listing): the folder gets `dacl` (protected when
// asked), everything below it the inherited form, through the walk.
bool ApplyOpenedTreeSecurity(HANDLE folder, PACL dacl, PSID owner, bool protect, TreeSecuritySkips* skips = nullptr);

// Sets owner (when given) and DACL of the one object behind an open handle
// (a file or folder opened with WRITE_DAC and WRITE_OWNER, or a key): no
// path is resolved again and nothing below the object is touched. When the
// DACL is refused, the owner is set first and the DACL tried once more.
// `protectDacl` keeps the parent's inheritable entries out.
bool SetHandleSecurity(HANDLE object, PACL dacl, PSID owner, bool protectDacl);

// The DACL (and owner, when given) of the one file or folder behind the
// handle, through the system's file-object call: unlike SetHandleSecurity,
// an unprotected DACL (`protect` false) gets the parent's inheritable
// entries again, so a DACL of explicit entries only keeps what it inherits.
bool SetFileSecurityOf(HANDLE object, PACL dacl, PSID owner, bool protect);

bool ResetFolderSecurity(const wchar_t* path, PSID account);
// The Folder recipe for `account` on the object behind an open handle
// (opened with WRITE_DAC | WRITE_OWNER, never through a link), protected
// from inheritance. For files inside folders that others control.
bool ResetObjectSecurity(HANDLE object, PSID account);
bool ResetTreeSecurity(const wchar_t* path);
// A key path (not a root, no "\\computer\" prefix, a known root): the
// key's owner becomes Administrators and its DACL the Key recipe merged with
// the allowed entries it held before (read first, so none are lost), applied
// to the key and its subtree. True when the tree application succeeded.
bool ResetKeySecurity(const wchar_t* keyPath);

// Copies owner (kCopyOwner) and DACL of one file object onto another.
bool CopySecurity(const wchar_t* source, const wchar_t* destination, DWORD flags, TreeSecuritySkips* skips = nullptr);
