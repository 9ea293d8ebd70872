#include "ui/secret_text.h"

#include <windows.h>

#include <cstdlib>

#include "ui/window.h"

SecretText::~SecretText()
{
    Wipe();
    std::free(buffer_);
}

void SecretText::Wipe()
{
    if (buffer_ != nullptr)
        SecureZeroMemory(buffer_, capacity_ * sizeof(wchar_t));
}

const wchar_t* SecretText::Text() const
{
    return buffer_ != nullptr ? buffer_ : L"";
}

bool SecretText::Read(UiWindow& window, int32_t id)
{
    Wipe();
    const ControlEntry* control = window.Control(id);
    if (control == nullptr || control->handle == nullptr)
        return false;
    const auto length = static_cast<size_t>(SendMessageW(control->handle, WM_GETTEXTLENGTH, 0, 0));
    // A larger allocation only when the text does not fit: the old one is
    // already wiped, and no copy of it is left behind by a reallocation.
    if (length + 1 > capacity_) {
        auto* larger = static_cast<wchar_t*>(std::calloc(length + 1, sizeof(wchar_t)));
        if (larger == nullptr)
            return false;
        std::free(buffer_);
        buffer_ = larger;
        capacity_ = length + 1;
    }
    SendMessageW(control->handle, WM_GETTEXT, static_cast<WPARAM>(capacity_), reinterpret_cast<LPARAM>(buffer_));
    return true;
}
