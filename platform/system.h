// The system checks every part of the program relies on, and the shell's
// opening of a page or file.
#pragma once

#include <windows.h>

#include <vector>

// The running Windows version as major + minor / 10 (5.1 ... 6.3, 10.0); 0.0
// for a system that is none of 5.x, 6.x or 10 and later. The manifest's
// supportedOS entries make the system report its true version.
double GetOsVersionNumber();

// True when the effective token is an enabled member of the built-in
// Administrators group; an administrator filtered by UAC gets false.
bool IsElevatedAdministrator();

// Opens a web page or file with the shell's default action (SW_SHOW), run
// in `folder` when one is given; a process handle that comes back is closed
// at once. A page that cannot be opened is left silently: the operator sees
// that nothing opened.
void OpenPage(const wchar_t* address, const wchar_t* folder = nullptr);

// The ids of every process running now; the list grows until the system's
// answer fits, so none is cut off on a busy machine. Empty on failure.
std::vector<DWORD> ProcessIds();
