// Text helpers that need the platform: conversions, INI files, shell folders
// and the message pump used between the items of long loops.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <cstdint>
#include <string>

#include "platform/text.h"

// Converts through the ANSI code page; valid when at least one character came out.
bool AssignNarrow(WString& target, const char* text);

// GetPrivateProfileStringW into a buffer of `capacity` + 1; an empty value counts as failure.
bool ReadIniString(WString& target, const wchar_t* iniPath, const wchar_t* section, const wchar_t* key,
                   const wchar_t* defaultValue, uint32_t capacity);

// SHGetFolderPathW; on failure the text is empty and invalid.
bool FromFolderPath(WString& target, int csidl, HANDLE token, DWORD flags);

// SHGetKnownFolderPath, looked up at run time so that older systems without it
// simply get an empty, invalid text.
bool FromKnownFolder(WString& target, REFKNOWNFOLDERID folderId, HANDLE token, DWORD flags);

// The text with its environment variables expanded, however long; an empty,
// invalid text when expanding failed: a half-expanded path must never pass
// for one.
WString ExpandEnvironmentText(const wchar_t* text);

// `path` made absolute against the current folder, however long; empty and
// invalid when the system cannot.
WString FullPathName(const wchar_t* path);

// The full path of this process's executable, however long; empty and
// invalid when unknown.
WString ModulePath();

// The profiles directory (GetProfilesDirectoryW); empty and invalid when
// unknown.
WString ProfilesDirectory();
// The Windows folder, the system folder and the temporary folder (this one
// with the trailing backslash the system gives it), however long; empty and
// invalid when unknown.
WString WindowsDirectory();
WString SystemDirectory();
WString TempDirectory();

// The text in lower case as the system folds it (CharLowerBuffW), for
// comparing names; empty for null.
std::wstring LowerText(const wchar_t* text);

// Dispatches every message waiting in the calling thread's queue; always true.
bool PumpPendingMessages();

// Dispatches the waiting messages but the operator's keys and clicks, which
// stay queued for the window's own loop: a Tab or an access key typed as a
// dialog closes is handled as the window handles it, not dropped.
void PumpPendingExceptInput();

// For loops over many small items (tree walks, registry copies): dispatches
// the thread's pending messages when `intervalMs` have passed since the last
// time, so windows keep painting without a queue check per item, which
// costs more than the item itself.
class MessagePacer {
public:
    explicit MessagePacer(DWORD intervalMs = 10);
    void Pump();

private:
    DWORD last_;
    DWORD interval_;
};
