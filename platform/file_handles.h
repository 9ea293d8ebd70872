// Opening one file-system object by handle so that a link never hands over
// its target, and telling where a handle really is. The tree walker and the
// file operations stand on these.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/handles.h"
#include "platform/text.h"

// Deepest folder level below its starting folder that a tree walk enters
// (DirectorySize, DeletePath, MoveTree). The walks keep their own stack, so
// depth costs no thread stack; a deeper folder is a clear failure instead.
inline constexpr uint32_t kMaxTreeDepth = 8192;

// The path in its absolute "\\?\" long form ("\\?\UNC\server\share\..."
// for network paths), normalised by the platform, without trailing
// backslashes. False, with `longPath` empty, for anything that is not an
// absolute path: relative ("dir\x", "..\x"), drive-relative ("C:x"), rooted on
// the current drive ("\x") or empty. Every file operation here names its
// objects through this, so no current folder ever decides what is touched.
bool AbsoluteLongPath(const wchar_t* path, WString& longPath);

// Opens the object a path names itself, never what a link there points at
// (FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, sharing all).
// Use FinalPathOf or OpenEntryItself before trusting that the handle is on
// the link: some systems (Wine) still follow it.
UniqueFileHandle OpenWithoutFollowing(const wchar_t* path, DWORD access);

// The handle's final path as the platform resolves it ("\\?\C:\...",
// "\\?\UNC\..."), every link on the way resolved. False when it cannot be had.
bool FinalPathOf(HANDLE object, WString& finalPath);

// The name the system gives an opened file or folder, its volume's device
// first ("\Device\HarddiskVolume3\...", "\??\C:\..." under Wine), every
// link on the way resolved. Where FinalPathOf cannot answer (Wine, beyond
// 260 characters) this still can. False when it cannot be had.
bool ObjectNameOf(HANDLE object, WString& name);

// True when the handle's final path is `rootFinalPath` (a FinalPathOf
// result) or lies below it: the object really is inside that folder, whatever
// links, short names or substituted drives the path that opened it used.
bool HandleLiesInside(HANDLE object, const wchar_t* rootFinalPath);

// Opens the entry `path` names (absolute) itself: not followed when it is a
// link, and only when the handle provably is that entry, that is its final
// path is its parent folder's final path plus its own name. Null otherwise,
// so a link can never hand over its target. For security changes and
// deletions of single entries.
UniqueFileHandle OpenEntryItself(const wchar_t* path, DWORD access);

// Opens `relative` ("AppData\Local\file.dat") below the folder `root`
// (absolute; it may itself be reached through a link). Every component below
// the root is opened without following and refused when it is a reparse
// point or is not the entry its name says (see OpenEntryItself); the result
// is refused unless its final path lies inside the root's. ".", ".." and
// empty components are refused. Null on any refusal.
UniqueFileHandle OpenBelowRoot(const wchar_t* root, const wchar_t* relative, DWORD access);
