#include "ui/secret_text.h"

#include <windows.h>

#include "ui/window.h"

bool ReadSecretField(UiWindow& window, int32_t id, SecretText& secret)
{
    secret.Wipe();
    const ControlEntry* control = window.Control(id);
    if (control == nullptr || control->handle == nullptr)
        return false;
    const auto length = static_cast<size_t>(SendMessageW(control->handle, WM_GETTEXTLENGTH, 0, 0));
    wchar_t* buffer = secret.Prepare(length);
    if (buffer == nullptr)
        return false;
    SendMessageW(control->handle, WM_GETTEXT, static_cast<WPARAM>(secret.Capacity()), reinterpret_cast<LPARAM>(buffer));
    secret.Measure();
    return true;
}
