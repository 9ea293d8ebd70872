// Giving the keys of a loaded registry hive from one SID to another: the
// owner and every entry of each key's DACL that names the old SID are made
// to name the new one. The walk goes key by key through open handles, each
// child opened relative to its parent as the link itself, never through it:
// a link key (one that redirects elsewhere in the registry) is counted and
// left alone, and nothing below it is touched.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/handles.h"

struct KeyHandover {
    uint32_t keys = 0;      // keys looked at
    uint32_t changed = 0;   // keys whose owner or DACL named the old SID and now name the new one
    uint32_t links = 0;     // link keys left alone
    uint32_t refused = 0;   // keys that could not be opened, read or changed
};

// An ACL like `acl` with every allowed or denied entry that names `from`
// naming `to` instead, in the same order with the same masks and flags.
// False when nothing names `from` (`out` stays empty) or the copy fails.
bool ReplaceSidInAcl(PACL acl, PSID from, PSID to, LocalAcl& out, uint32_t* replaced = nullptr);

// The walk from `root` (open with READ_CONTROL, WRITE_DAC, WRITE_OWNER and
// KEY_ENUMERATE_SUB_KEYS, itself included). True when every key was looked
// at and none refused; `counts` says what was done either way. The caller
// holds the restore privilege, which setting another SID as owner needs.
bool HandKeysOver(HKEY root, PSID oldSid, PSID newSid, KeyHandover& counts);
