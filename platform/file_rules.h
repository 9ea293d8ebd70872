// Decisions of the file operations that rest on an entry's name and
// attributes alone, kept apart so they can be checked for attribute sets the
// test file system cannot produce.
#pragma once

#include <cstdint>

// The platform's attribute bits, as GetFileAttributesW and the find data carry them.
inline constexpr uint32_t kAttributeReadOnly = 0x1;
inline constexpr uint32_t kAttributeHidden = 0x2;
inline constexpr uint32_t kAttributeSystem = 0x4;
inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeNormal = 0x80;
inline constexpr uint32_t kAttributeReparsePoint = 0x400;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

// Skip bits of a directory iterator.
inline constexpr uint32_t kSkipReparsePoints = 1;
inline constexpr uint32_t kOnlyFiles = 2;
inline constexpr uint32_t kOnlyDirectories = 4;

// True when the entry is to be returned: never "." or "..", and not excluded
// by the skip bits.
bool PassesDirectoryFilter(const wchar_t* name, uint32_t attributes, uint32_t filter);

// How a deletion treats what a path names.
enum class EntryKind {
    Link,        // removed as a link, never entered: a directory reparse point,
                 // or a path whose attributes cannot be read
    Directory,   // emptied, then removed
    File,
};
EntryKind ClassifyForDeletion(uint32_t attributes);

// The attributes to set so that a refused deletion may succeed, or
// kInvalidAttributes when clearing would change nothing: read-only, hidden
// and system are taken off, everything else stays (an entry left with
// nothing is "normal", the platform's word for no attributes).
uint32_t AttributesAfterClearing(uint32_t attributes);

// True for the platform's two "not there" errors (file, and path not found).
inline bool IsNotFoundError(uint32_t error) { return error == 2 || error == 3; }

// True when the last path component selects a set of entries ("*" or "?").
bool IsWildcardMask(const wchar_t* component);

// True when `inner` is `outer` itself or lies below it: `outer` is a prefix
// without regard to case, followed by the end or a backslash. Works for
// folder paths and registry subkeys alike.
bool IsSameOrBelow(const wchar_t* inner, const wchar_t* outer);

// True for the absolute forms a file operation accepts: "X:\...",
// "\\server\share...", "\\?\X:\..." and "\\?\UNC\server\share...". Relative
// ("dir", "..\x"), drive-relative ("C:x"), current-drive ("\x") and device
// ("\\.\...") paths are not.
bool IsAbsolutePathText(const wchar_t* path);

// 'A'..'Z' and 'a'..'z': the letters a drive can have.
bool IsDriveLetter(wchar_t c);

// True for a full path on a drive of this computer: "X:\..." or
// "\\?\X:\...". Network paths ("\\server\share", "\\?\UNC\..."), device and
// object paths ("\\.\...", "\\?\GLOBALROOT\...") and relative paths are not:
// a file an elevated run reads must neither make it sign in to another host
// nor open a device. A relative path is made full before it is judged.
bool IsLocalDrivePath(const wchar_t* path);

// True when a component of the path is "." or "..".
bool HasDotComponents(const wchar_t* path);

// True when the path names a whole drive or share, in the plain or the long
// form, with or without a trailing backslash ("C:", "C:\\", "\\?\C:",
// "\\server\share", "\\?\UNC\server\share"): no deletion or move may take one.
bool IsVolumeRoot(const wchar_t* path);
