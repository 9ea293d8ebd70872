// The shell's folder picker.
#pragma once

#include <windows.h>

#include "platform/text.h"

// The common file dialog in folder mode, or the older folder browser where
// it is missing. True with the chosen file-system path in `path`.
bool PickFolder(WString& path, HWND owner, const wchar_t* initialFolder);
