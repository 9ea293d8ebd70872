// The tool's folder on the system drive. The temporary administrator starts
// the copy of the executable kept there, elevated: nobody but SYSTEM and the
// administrators may change anything in it.
#pragma once

#include <windows.h>

#include "platform/handles.h"
#include "platform/text.h"

// SYSTEM and Administrators full control, Users read and execute, each
// inherited by files and folders below; nobody else.
bool BuildToolFolderDacl(LocalAcl& dacl);

// Gives the file or folder itself (never what a link points to) owner
// Administrators and the protected DACL above. False for a reparse point
// (by its name's attributes or by its handle's), a missing path or a
// refused change.
bool SecureToolPath(const wchar_t* path);

enum class ToolFolderResult {
    Ready,        // the folder exists, secured, with every entry in it secured
    NotAFolder,   // a file of that name is in the way
    IsLink,       // the name is a link (junction, symbolic link): never used, never touched
    Failed,       // the folder could not be made or secured
};

// Creates the folder (with its missing parents) or takes over an existing
// one. A folder that is a reparse point is refused as it stands: renaming
// it aside is not safe everywhere (some file systems move the link's target
// instead), and whoever made it must decide what it points to. Links found
// inside a taken-over folder are removed, never entered; every other entry
// is secured.
ToolFolderResult PrepareToolFolder(const wchar_t* folder);

// The message for an operator when the folder could not be prepared.
const wchar_t* ToolFolderMessage(ToolFolderResult result);
