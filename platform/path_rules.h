// Folder paths reduced to one spelling, so that two spellings of one place
// compare equal. No system call: the resolution of links is the caller's.
#pragma once

#include "platform/text.h"

// A path reduced to one spelling for comparisons: "\\?\" and "\\?\UNC\"
// prefixes taken off, "/" read as "\", doubled separators and "." dropped,
// ".." applied, trailing separators removed (a drive root keeps none: "C:").
// False, with `path` emptied, for anything that is not an absolute drive or
// network path, and for ".." above the root.
bool NormalizeFolderPath(WString& path);

// True for "C:" and for a share's root "\\server\share" (normalised form).
bool IsNormalizedVolumeRoot(const wchar_t* normalizedPath);
