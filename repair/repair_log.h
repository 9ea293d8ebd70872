// The repair log: one UTF-8 text file per repair, opened and closed for
// every entry so that it survives an abrupt reboot.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "repair/repair_rules.h"

// Writes one entry (LogFlags: a header before it, a new log, the end line
// after it) stamped with `time`, or with the local time when `time` is null.
// The byte count of the entry's own write, or -1 when the log could not be
// opened (nothing is written then).
int WriteLogEntry(const wchar_t* logPath, const wchar_t* text, uint32_t flags, const SYSTEMTIME* time = nullptr);

// The log's text as written (UTF-8, its byte-order mark dropped), up to its
// first 4 MB: the log of one repair is small. False when there is none (no
// file, an empty one, or a link where the log should be).
bool ReadRepairLog(const wchar_t* logPath, std::wstring& text);
