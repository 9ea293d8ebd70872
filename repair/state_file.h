// The state file that carries a repair across the reboots: one section named
// after the account, decimal values (the table of keys is in the tool's
// documentation). Every value read back is checked before it is used.
#pragma once

#include <cstdint>

#include "platform/text.h"
#include "repair/repair_rules.h"

// Creates the file afresh and empty, starting with the UTF-8 mark, so that
// it always holds exactly one section once the keys are written.
bool CreateStateFile(const wchar_t* path);

bool WriteStateNumber(const wchar_t* path, const wchar_t* section, const wchar_t* key, uint32_t value);
bool WriteStateText(const wchar_t* path, const wchar_t* section, const wchar_t* key, const wchar_t* value);

// The key's text, or empty when missing.
WString ReadStateText(const wchar_t* path, const wchar_t* section, const wchar_t* key);

// The key of `kind`, checked (repair/repair_rules.h).
SavedValue ReadStateValue(const wchar_t* path, const wchar_t* section, SavedValueKind kind);
