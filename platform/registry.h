// Registry access by textual key path ("HKLM64\SOFTWARE\...", "HKU\<sid>\...").
// Roots, view suffixes and the multi-string text form follow
// platform/registry_rules.h. Nothing here reports an error code: callers get
// null, false or 0.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <utility>

#include "platform/handles.h"
#include "platform/registry_rules.h"
#include "platform/text.h"

// The access word that makes OpenKey create the key when it is missing.
inline constexpr DWORD kCreateKeyAccess = 0xFFFFFFFF;

// The predefined root of `path`, or null. On success `path` becomes the
// subkey and the suffix's KEY_WOW64_* bit is OR-ed into *viewFlags; without
// viewFlags a suffixed root is unknown.
HKEY ParseKeyPath(WString& path, DWORD* viewFlags = nullptr);

// The open key, or an empty holder. kCreateKeyAccess opens or creates with
// read and write access.
UniqueRegKey OpenKey(const wchar_t* keyPath, DWORD access);

// True for a path that names a root itself ("HKLM", "HKU\"), which the
// deletions and security resets never touch as a whole.
bool NamesRegistryRoot(const wchar_t* keyPath);

// The path without trailing backslashes, so its last component is a key.
WString TrimmedKeyPath(const wchar_t* keyPath);
// The number of the key's subkeys; 0 when it cannot be read.
DWORD SubkeyCount(HKEY key);
// The registry hands back a key's name into `name`; false at the end or on failure.
bool EnumSubkey(HKEY key, DWORD index, WString& name);

// Hands the name of every subkey of `key` to `visit`, in the registry's
// order, until `visit` returns false. True when every name was handed out
// (or `visit` stopped); false when the enumeration failed before its end.
bool ForEachSubkey(HKEY key, const std::function<bool(const wchar_t* name)>& visit);

// True when the key opens, and also when opening is refused for any reason
// but absence; false for an unknown root.
bool KeyExists(const wchar_t* keyPath);

// A value of any type as the registry stores it. `data` holds `size` bytes
// followed by four zero bytes, so text values always read as terminated; it
// only ever grows.
struct RegValue {
    UniqueBytes data;
    uint32_t size = 0;
    uint32_t type = REG_NONE;   // 0xFFFFFFFF after a failed read
    uint32_t capacity = 0;

    const wchar_t* Text() const;   // L"" when nothing was read
    DWORD Dword() const;           // 0 when shorter than four bytes
};

// One open key, used by one thread at a time. Every operation that opens a
// key into it closes the one it held first.
class RegKey {
public:
    RegKey() = default;
    explicit RegKey(HKEY key) : key_(key) {}
    explicit RegKey(UniqueRegKey key) : key_(std::move(key)) {}

    HKEY Get() const { return key_.Get(); }
    explicit operator bool() const { return static_cast<bool>(key_); }
    bool Open(const wchar_t* keyPath, DWORD access);
    void Close() { key_.Reset(); }

    // Multi-strings come back in their text form.
    bool QueryValue(const wchar_t* name, RegValue& value);
    // REG_SZ, REG_EXPAND_SZ (not expanded) or REG_MULTI_SZ (text form); any
    // other type or a missing value empties `text`. A null name reads the
    // default value. `type`, when given, gets the value's type.
    bool QueryString(const wchar_t* name, WString& text, DWORD* type = nullptr);
    // Whether the value exists, asked by its size alone (a password is never
    // read just to learn that it is there); its type too when asked.
    bool HasValue(const wchar_t* name, DWORD* type = nullptr) const;
    // A size of 0 with data is derived from the type; REG_MULTI_SZ data is
    // taken in its text form.
    bool SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size);

    // Creates the key (keeping it open here) and, given a name, writes the value.
    bool WriteDword(const wchar_t* keyPath, const wchar_t* name, const DWORD* value);
    // The same, resetting the key's (or its parent's) security when refused
    // (in registry_force.cpp, with the other forcing operations).
    bool ForceWriteDword(const wchar_t* keyPath, const wchar_t* name, const DWORD* value);

    // Deletes the key and everything below it; true when the key itself went.
    // A root is never deleted.
    bool DeleteTree(const wchar_t* keyPath);
    // With a name deletes that value, without one the whole key.
    bool DeleteValueOrTree(const wchar_t* keyPath, const wchar_t* name);
    // The same, resetting security wherever access is refused. The changed
    // owners and DACLs stay even when the deletion still fails.
    bool ForceDelete(const wchar_t* keyPath, const wchar_t* name);

private:
    UniqueRegKey key_;

    // Open; reset the key's security and open; `rounds` times.
    bool OpenResettingSecurity(const wchar_t* keyPath, DWORD access, int rounds);
};

// Copies values and subkeys of `source` below `destination` (created as
// needed), values as the bytes are stored. Returns keys created or reused
// plus values written when everything was copied; 0 when anything was not
// (a value or subkey that could not be read or written, an enumeration cut
// short) or nothing was done (a key onto itself included). What was copied
// before a failure stays: a caller that removes the source must have a
// non-zero answer first. Pumps the thread's messages every few milliseconds.
uint32_t CopyKeyTree(const wchar_t* source, const wchar_t* destination);

// The SE_REGISTRY_KEY object name of a key path for this process.
bool ToSecurityObjectName(WString& keyPath);

// IsWow64Process, looked up for each call; false when the system lacks it.
bool IsWow64(HANDLE process);
