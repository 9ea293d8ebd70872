// Machine settings the repair tool changes for the duration of a repair and
// puts back afterwards: the elevation prompt's policy values and the store's
// automatic download policy; and the shell links that start its later runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/tree_walk.h"

inline constexpr wchar_t kUacPolicyKey[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
inline constexpr wchar_t kStorePolicyKey[] = L"HKLM64\\SOFTWARE\\Policies\\Microsoft\\WindowsStore";

// "ConsentPromptBehaviorAdmin" when it is a REG_DWORD, else -1. With `luaOut`
// "EnableLUA" is read into it (0 when absent); left unchanged when the key
// cannot be opened.
int32_t GetUacState(DWORD* luaOut);

// Writes "ConsentPromptBehaviorAdmin", "ConsentPromptBehaviorUser" 3 and
// "EnableLUA" (creating the key when needed) and refreshes the policies.
// True when the first value was written.
bool SetUacState(DWORD consentAdmin, DWORD luaValue);

// The bytes of a shell link to `targetPath` with the arguments and
// description, the target's icon and its folder as the working folder.
bool ShortcutBytes(const wchar_t* targetPath, const wchar_t* arguments, const wchar_t* description,
                   std::string& bytes);

// That shell link written as `name` into the open, checked `folder` by
// WriteFileInFolder.
PlacedFile PlaceShortcut(HANDLE folder, const wchar_t* name, const wchar_t* targetPath, const wchar_t* arguments,
                         const wchar_t* description);

// The same at `shortcutPath`, its folder opened as itself (WriteFileAtPath).
// True when the link file was written.
bool CreateShortcut(const wchar_t* shortcutPath, const wchar_t* targetPath, const wchar_t* arguments,
                    const wchar_t* description);
