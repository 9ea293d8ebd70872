// Access tokens: their variable-size information, the user they stand for
// and the process's privileges.
#pragma once

#include <windows.h>

#include "platform/handles.h"
#include "platform/text.h"

// A token's information of one class, in a block of the size the token asks
// for (the caller's; freed with the holder).
bool QueryTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type, UniqueBytes& information);

// The token's user SID, pointing into `block` (which keeps it alive); null
// when the token cannot be read.
PSID QueryTokenUser(HANDLE token, UniqueBytes& block);
// True when the token's user is `sid`.
bool TokenUserIs(HANDLE token, PSID sid);
// The SID string of the account this process runs as; false, with `text`
// empty, when unknown.
bool ProcessUserSidText(WString& text);

// Enables the backup, restore, ownership and other privileges the program
// needs, where the token holds them. True when the adjustment was made.
bool EnablePrivileges();
