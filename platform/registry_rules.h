// The registry's text rules that need no registry: which root and view a key
// path names, the line-feed form of multi-strings, and the object names that
// the named-security calls take for keys.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/text.h"

enum class RegistryRoot { None, LocalMachine, CurrentUser, ClassesRoot, Users, CurrentConfig };

// The access bits that choose a registry view (KEY_WOW64_64KEY, KEY_WOW64_32KEY).
inline constexpr uint32_t kRegistryView64 = 0x0100;
inline constexpr uint32_t kRegistryView32 = 0x0200;

// Splits "ROOT[64|32]\subkey". On success `path` becomes the subkey (empty
// for the root itself) and the suffix's view bit is OR-ed into *viewFlags.
// Suffixes are only recognised when viewFlags is given. On failure
// (RegistryRoot::None) the path is left as it was.
RegistryRoot ParseKeyPathRoot(WString& path, uint32_t* viewFlags);

// Rewrites `unitCount` units read from the registry as REG_MULTI_SZ into the
// text form in place: items separated by single line feeds, terminated at
// the last unit.
void MultiStringToText(wchar_t* units, uint32_t unitCount);

// The registry form of a multi-string's text form: at most `maxUnits` units
// of `text` are read (a terminator ends it earlier); each non-empty line
// becomes an item ended by a terminator and a second terminator ends the
// list. Empty lines are dropped: an empty item would end the list for every
// reader. An empty text gives two terminators. The result's size is what
// gets written.
std::vector<wchar_t> TextToMultiString(const wchar_t* text, uint32_t maxUnits);

// Rewrites a key path into the object name of SE_REGISTRY_KEY ("MACHINE\...",
// "USERS\..."), given whether the process runs under WOW64. False when the
// path cannot be named that way (HKCC, a 64-bit view from a WOW64 process,
// a "\\computer\" prefix); the path is then no usable name.
bool ToSecurityObjectName(WString& path, bool processIsWow64);
