// Elevation: the membership test and the "runas" start of a program.
#pragma once

// Starts `file` with the verb "runas" (the system asks for consent) and does
// not wait for it; the new process's handle is closed at once.
// True when the system started the program.
bool LaunchElevated(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory, int showCommand);
