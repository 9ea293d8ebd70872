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

// Gives every entry below the tool folder the tool's owner and DACL, each
// through a handle the walker opened on it; links inside are removed, never
// entered. True when every entry was secured.
bool SecureToolFolderContents(const wchar_t* folder);

enum class ToolFolderResult {
    Ready,        // the folder exists, secured, with every entry in it secured
    NotAFolder,   // a file of that name is in the way
    IsLink,       // the name is a link (junction, symbolic link): never used, never touched
    Failed,       // the folder could not be made or secured
    NotOurs,      // a folder the set-up did not make is there and could not be moved aside
    CopyFailed,   // the program could not be copied into the folder
    CopyDiffers,  // the copy in the folder is not the running program: removed, not used
};

// Creates the folder with its protected DACL and owner given at creation,
// so that it never stands open to the users, who may create folders on the
// system drive's root. A folder found in place is used only when
// MayReuseToolFolder (repair/repair_rules.h) allows it: owned by SYSTEM or
// the Administrators and holding nothing but the tool's own files. Any other
// folder is renamed aside ("<folder>.old-1", ".old-2", ...) on its own handle,
// with everything in it left as it was, and the folder made afresh; when it
// cannot be moved, NotOurs. A folder that is a reparse point is refused as
// it stands: renaming it aside is not safe everywhere (some file systems
// move the link's target instead), and whoever made it must decide what it
// points to.
ToolFolderResult PrepareToolFolder(const wchar_t* folder);

// The running program's file, opened at the start and held without sharing
// writes or deletion, so that nobody can change it or put another file at
// its name while it is held; empty when it cannot be opened or is not the
// image this process runs (its headers and sections differ from those the
// loader mapped). The caller keeps it for as long as it may copy it.
UniqueFileHandle OpenRunningImage();

// Copies the running program (`image`, from OpenRunningImage) to `copyPath`
// in the prepared folder as a new file, secures it and compares it with the
// image's file, byte for byte; a copy that differs is removed
// (CopyDiffers). Started from that copy itself, the copy is only secured.
// The module's path is never read again: what lies there now may not be
// what runs.
ToolFolderResult CopyToolExecutable(HANDLE image, const wchar_t* copyPath);

// True when both name readable files of the same contents; the copy is
// never followed when it is a link.
bool SameFileContents(const wchar_t* original, const wchar_t* copy);
bool SameFileContents(HANDLE original, const wchar_t* copy);

// The message for an operator when the folder could not be prepared.
const wchar_t* ToolFolderMessage(ToolFolderResult result);
